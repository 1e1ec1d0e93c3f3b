// The Gaussian kernel object and the smoothing filter base.
#include "platform/filters/PXSmoothingFilter.h"

#include <mutex>

namespace pixora {

const TPropertyTable& TPXGaussianKernel::Properties() {
    using T = TPXGaussianKernel;
    static const TPropertyTable table = TPropertyTable::Of<T>("TPXGaussianKernel", {
        Int("Width", &T::FWidth, {.Default = 3, .Min = 1, .Max = KMaxSize, .OutOfRange = TOutOfRange::Refuse})
            .FollowUp(&T::Changed),
        Int("Height", &T::FHeight, {.Default = 3, .Min = 1, .Max = KMaxSize, .OutOfRange = TOutOfRange::Refuse})
            .FollowUp(&T::Changed),
        Float("SigmaX", &T::FSigmaX, {.Default = 0.0f, .Min = 0.0f, .OutOfRange = TOutOfRange::Refuse})
            .FollowUp(&T::Changed),
        Float("SigmaY", &T::FSigmaY, {.Default = 0.0f, .Min = 0.0f, .OutOfRange = TOutOfRange::Refuse})
            .FollowUp(&T::Changed),
    });
    return table;
}

TPXGaussianKernel::TPXGaussianKernel(TChangeNotifyLock& lock) : TLockPersistent(lock) {
    AutoInitProperties(Properties());
    Changed();
}

void TPXGaussianKernel::Changed() {
    std::lock_guard guard(GetLock());
    FKernel = kernels::GaussianCoefficients(FWidth, FHeight, FSigmaX, FSigmaY);
}

kernels::TGaussianCoefficients TPXGaussianKernel::Coefficients() const {
    std::lock_guard guard(GetLock());
    return FKernel;
}

std::vector<float> TPXGaussianKernel::KernelArray() const {
    std::lock_guard guard(GetLock());
    return FKernel.Matrix;
}

void TPXGaussianKernel::Assign(const TPXGaussianKernel& source) {
    if (&source == this) return;
    int32_t w, h;
    float sx, sy;
    {
        std::lock_guard guard(source.GetLock());
        w = source.FWidth;
        h = source.FHeight;
        sx = source.FSigmaX;
        sy = source.FSigmaY;
    }
    std::lock_guard guard(GetLock());
    SetWidth(w);
    SetHeight(h);
    SetSigmaX(sx);
    SetSigmaY(sy);
}

const TPropertyTable& TPXSmoothingKernel::Properties() {
    using T = TPXSmoothingKernel;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXGaussianKernel>("TPXSmoothingKernel", {
        Enum("KernelType", &T::FKernelType, "TPXSmoothingKernelType", {"sktGauss", "sktAverage"}, {.Default = sktGauss}),
    });
    return table;
}

TPXSmoothingKernel::TPXSmoothingKernel(TChangeNotifyLock& lock) : TPXGaussianKernel(lock) {
    AutoInitProperties(Properties());
}

void TPXSmoothingKernel::Assign(const TPXSmoothingKernel& source) {
    TPXGaussianKernel::Assign(source);
    SetKernelType(source.GetKernelType());
}

const TPropertyTable& TPXCommonBasicROISmoothingFilter::Properties() {
    using T = TPXCommonBasicROISmoothingFilter;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXCommonBasicROIProcessingFilter>(
        "TPXCommonBasicROISmoothingFilter", {
            Object("Kernel", &T::FKernel),
        });
    return table;
}

TPXCommonBasicROISmoothingFilter::TPXCommonBasicROISmoothingFilter(TComponent* owner)
    : TPXCommonBasicROIProcessingFilter(owner), FKernel(GetLock()) {
    AutoInitProperties(Properties());
}

void TPXCommonBasicROISmoothingFilter::StreamStart(const TLRStartFrameOperation& start) {
    TPXCommonBasicROIProcessingFilter::StreamStart(start);
    FKernel.Changed();
}

}  // namespace pixora
