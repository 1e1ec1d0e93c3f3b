// Convolution of the frame (or its region of interest) with a user-defined rectangular matrix of
// single-precision coefficients, on one call, bands or an OpenCL kernel.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/filters/PXROIFilters.h"

namespace pixora {

class TPXRectKernelFilter;

// The coefficient matrix of TPXRectKernelFilter. Its size follows the filter's MaskSize: entry
// (X, Y) is at index Y × width + X. FSingleArray holds the coefficients as set; the convolution
// uses FNormalizedArray, each coefficient divided by the number of entries (not by their sum: a
// matrix of ones is the box mean). A new matrix is all 1.0. Every change runs under the owning
// filter's change-notify lock and notifies it.
//
// Persisted forms (JSON, nested under the filter's "Kernel"):
// - "MatrixData": read only, never written: [count, c0, c1, ...] with exactly count values.
// - "_MatrixDataSize" (the count) and "_MatrixDat" (the coefficients in index order): written only
//   when some coefficient is non-zero. Reading "_MatrixDataSize" sets the array's length; the
//   elements of "_MatrixDat" are then read in order, an element past that length growing the
//   array by one, and fewer elements than announced cutting it to the number read.
// Any read replaces FSingleArray and recomputes FNormalizedArray at once. A read array whose length
// does not match the mask makes frames fail with a clear message until MaskSize changes (which
// rebuilds the matrix, keeping the top-left overlap).
class TPXRectKernel final : public TLockPersistent {
public:
    // The largest number of coefficients: a 1024 × 1024 mask.
    static constexpr uint32_t KMaxEntries = 1024u * 1024u;

    TPXRectKernel(TPXRectKernelFilter& filter, TChangeNotifyLock& lock);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    // Items[X, Y]: raises ERangeError when X or Y lies outside the matrix; a value that is not a
    // finite number raises ERangeError and leaves the matrix unchanged.
    float GetItems(uint32_t x, uint32_t y) const;
    void SetItems(uint32_t x, uint32_t y, float value);

    uint32_t GetCurrentWidth() const { return ReadLocked(FCurrentWidth); }
    uint32_t GetCurrentHeight() const { return ReadLocked(FCurrentHeight); }
    void SetCurrentWidth(uint32_t width);
    void SetCurrentHeight(uint32_t height);
    // A width × height matrix of 1.0 that takes the overlap of the old one (top-left aligned), then
    // normalised. Sizes must be 1 .. 1024 (ERangeError); a product past 32 bits raises EOverflowError.
    void RecalcArray(uint32_t width, uint32_t height);
    // Takes the other matrix's coefficients (length and values).
    void Assign(const TPXRectKernel& source);

    // Copies, taken under the lock.
    std::vector<float> SingleArray() const;
    std::vector<float> NormalizedArray() const;

    // Persistence (see above).
    void WriteMatrixData(nlohmann::json& properties) const;
    void ReadMatrixData(const nlohmann::json& value);
    void WriteMatrixDataSize(nlohmann::json& properties) const;
    void ReadMatrixDataSize(const nlohmann::json& value);
    void WriteMatrixDat(nlohmann::json& properties) const;
    void ReadMatrixDat(const nlohmann::json& value);

private:
    // Under the lock: FNormalizedArray from FSingleArray, then the change notification.
    void Normalize();
    void Changed();
    [[noreturn]] void Fail(const std::string& block, const std::string& what) const;
    bool HasNonZero() const;

    TPXRectKernelFilter* FFilter;
    uint32_t FCurrentWidth = 0;
    uint32_t FCurrentHeight = 0;
    std::vector<float> FSingleArray;
    std::vector<float> FNormalizedArray;
};

class TPXRectKernelFilter final : public TPXCommonROIMatrixSizeAnchorFilter {
public:
    explicit TPXRectKernelFilter(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXRectKernel& Kernel() { return FKernel; }
    // Copies the matrix of another kernel.
    void SetKernel(const TPXRectKernel& value) { FKernel.Assign(value); }

    // The program of a convolution template text (KernelTemplate("Convolution") in use) built into
    // a context: "Convolution2DKernel8Bits" and "Convolution2DKernel16Bits". Raises EOpenCLError
    // carrying the build log when the text does not compile.
    static std::pair<IOCLKernel, IOCLKernel> BuildKernels(TOCLContext& context, const std::string& templateText);

protected:
    void Changed() override;
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;
    void ClearExecutors() override;
    void BuildOpenCL(TOCLContext& context) override;

private:
    TPXRectKernel FKernel;
    IOCLKernel FCLKernel8Bit, FCLKernel16Bit;
};

namespace PXRectKernelFilter {
void RegisterPkg();
}

}  // namespace pixora
