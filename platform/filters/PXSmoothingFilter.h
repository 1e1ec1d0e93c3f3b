// The Gaussian kernel object (a size, two sigmas and the coefficients computed from them) and the
// base of the filters that smooth with it or with a box average.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/filters/PXROIProcessingFilter.h"
#include "platform/kernels/Gaussian.h"

namespace pixora {

// A Width × Height Gaussian window with standard deviations SigmaX and SigmaY (in pixels; 0 picks
// the size's own sigma, see kernels::GaussianCoefficients for the formula). Width and Height are
// 1 .. KMaxSize (other values are refused); a sigma must be a finite number >= 0. The coefficients
// are recomputed by Changed(), which runs after every stored change of the size or a sigma (and
// which the filters call at every stream start). Every change takes the owner's change-notify lock.
class TPXGaussianKernel : public TLockPersistent {
public:
    static constexpr int32_t KMaxSize = 1023;

    explicit TPXGaussianKernel(TChangeNotifyLock& lock);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    int GetWidth() const { return ReadLocked(FWidth); }
    int GetHeight() const { return ReadLocked(FHeight); }
    float GetSigmaX() const { return ReadLocked(FSigmaX); }
    float GetSigmaY() const { return ReadLocked(FSigmaY); }
    void SetWidth(int32_t value) { SetPublished(&TPXGaussianKernel::FWidth, value); }
    void SetHeight(int32_t value) { SetPublished(&TPXGaussianKernel::FHeight, value); }
    void SetSize(int width, int height) {
        SetWidth(width);
        SetHeight(height);
    }
    void SetSigmaX(float value) { SetPublished(&TPXGaussianKernel::FSigmaX, value); }
    void SetSigmaY(float value) { SetPublished(&TPXGaussianKernel::FSigmaY, value); }

    // Recomputes the coefficients from the size and sigmas.
    void Changed();
    // The coefficients, a consistent copy taken under the lock (Matrix: FKernelArray).
    kernels::TGaussianCoefficients Coefficients() const;
    std::vector<float> KernelArray() const;
    // Takes the other kernel's size and sigmas.
    void Assign(const TPXGaussianKernel& source);

private:
    int32_t FWidth, FHeight;
    float FSigmaX, FSigmaY;
    kernels::TGaussianCoefficients FKernel;  // FKernel.Matrix is the coefficient array
};

enum TPXSmoothingKernelType : uint8_t { sktGauss, sktAverage };

// The smoothing kernel: a Gaussian kernel that may instead stand for a box average of its size.
class TPXSmoothingKernel final : public TPXGaussianKernel {
public:
    explicit TPXSmoothingKernel(TChangeNotifyLock& lock);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXSmoothingKernelType GetKernelType() const { return ReadLocked(FKernelType); }
    void SetKernelType(TPXSmoothingKernelType value) { SetPublished(&TPXSmoothingKernel::FKernelType, value); }
    void Assign(const TPXSmoothingKernel& source);

private:
    TPXSmoothingKernelType FKernelType;
};

// A region-of-interest processing filter that owns a smoothing kernel, published as "Kernel". The
// coefficients are recomputed at every stream start.
class TPXCommonBasicROISmoothingFilter : public TPXCommonBasicROIProcessingFilter {
public:
    explicit TPXCommonBasicROISmoothingFilter(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXSmoothingKernel& Kernel() { return FKernel; }
    void SetKernel(const TPXSmoothingKernel& value) { FKernel.Assign(value); }

protected:
    void StreamStart(const TLRStartFrameOperation& start) override;

    TPXSmoothingKernel FKernel;
};

}  // namespace pixora
