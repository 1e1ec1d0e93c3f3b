// The rectangular kernel convolution filter and its coefficient matrix.
#include "filters/neighbourhood/PXRectKernelFilter.h"

#include <cmath>
#include <limits>
#include <optional>
#include <tuple>

#include <nlohmann/json.hpp>

#include "frame/PXKernelTemplates.h"
#include "platform/kernels/Convolution.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

using json = nlohmann::json;

// ---------------------------------------------------------------------------------------------
// TPXRectKernel

const TPropertyTable& TPXRectKernel::Properties() {
    using T = TPXRectKernel;
    // Declaration order is load order: the size is read before the elements.
    static const TPropertyTable table = TPropertyTable::Of<T>("TPXRectKernel", {
        Data("MatrixData", &T::WriteMatrixData, &T::ReadMatrixData),
        Data("_MatrixDataSize", &T::WriteMatrixDataSize, &T::ReadMatrixDataSize),
        Data("_MatrixDat", &T::WriteMatrixDat, &T::ReadMatrixDat),
    });
    return table;
}

TPXRectKernel::TPXRectKernel(TPXRectKernelFilter& filter, TChangeNotifyLock& lock) : TLockPersistent(lock), FFilter(&filter) {
    const TSize mask = filter.MaskSize().GetSize();
    RecalcArray(uint32_t(mask.Width), uint32_t(mask.Height));
}

void TPXRectKernel::Fail(const std::string& block, const std::string& what) const {
    throw EPropertyError("TPXRectKernel." + block + ": " + what);
}

float TPXRectKernel::GetItems(uint32_t x, uint32_t y) const {
    std::lock_guard guard(GetLock());
    const uint64_t index = uint64_t(y) * FCurrentWidth + x;
    if (x >= FCurrentWidth || y >= FCurrentHeight || index >= FSingleArray.size())
        throw ERangeError("TPXRectKernel.Items[" + std::to_string(x) + ", " + std::to_string(y) + "] is out of range: the matrix is " +
                          std::to_string(FCurrentWidth) + " x " + std::to_string(FCurrentHeight));
    return FSingleArray[std::size_t(index)];
}

void TPXRectKernel::SetItems(uint32_t x, uint32_t y, float value) {
    std::lock_guard guard(GetLock());
    const uint64_t index = uint64_t(y) * FCurrentWidth + x;
    if (x >= FCurrentWidth || y >= FCurrentHeight || index >= FSingleArray.size())
        throw ERangeError("TPXRectKernel.Items[" + std::to_string(x) + ", " + std::to_string(y) + "] is out of range: the matrix is " +
                          std::to_string(FCurrentWidth) + " x " + std::to_string(FCurrentHeight));
    if (!std::isfinite(value))
        throw ERangeError("TPXRectKernel.Items[" + std::to_string(x) + ", " + std::to_string(y) +
                          "]: a coefficient must be a finite number, got " + std::to_string(value));
    if (FSingleArray[std::size_t(index)] == value) return;
    FSingleArray[std::size_t(index)] = value;
    FNormalizedArray.resize(FSingleArray.size());
    FNormalizedArray[std::size_t(index)] = float((long double)value / (long double)FSingleArray.size());
    Changed();
}

void TPXRectKernel::SetCurrentWidth(uint32_t width) {
    std::lock_guard guard(GetLock());
    RecalcArray(width, FCurrentHeight);
}

void TPXRectKernel::SetCurrentHeight(uint32_t height) {
    std::lock_guard guard(GetLock());
    RecalcArray(FCurrentWidth, height);
}

void TPXRectKernel::RecalcArray(uint32_t width, uint32_t height) {
    const uint64_t count = uint64_t(width) * uint64_t(height);
    if (count > std::numeric_limits<uint32_t>::max())
        throw EOverflowError("TPXRectKernel: " + std::to_string(width) + " x " + std::to_string(height) +
                             " coefficients overflow a 32-bit count");
    if (width < 1 || height < 1 || width > 1024 || height > 1024)
        throw ERangeError("TPXRectKernel: a matrix of " + std::to_string(width) + " x " + std::to_string(height) +
                          " is out of range 1 .. 1024 per side");
    std::lock_guard guard(GetLock());
    std::vector<float> matrix(std::size_t(count), 1.0f);
    const uint32_t rows = std::min(height, FCurrentHeight), columns = std::min(width, FCurrentWidth);
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < columns; ++x) {
            // A matrix read from a stream may be shorter than its recorded size.
            const std::size_t from = std::size_t(y) * FCurrentWidth + x;
            if (from < FSingleArray.size()) matrix[std::size_t(y) * width + x] = FSingleArray[from];
        }
    FSingleArray = std::move(matrix);
    FCurrentWidth = width;
    FCurrentHeight = height;
    Normalize();
}

void TPXRectKernel::Normalize() {
    const std::size_t n = FSingleArray.size();
    FNormalizedArray.resize(n);
    for (std::size_t i = 0; i < n; ++i) FNormalizedArray[i] = float((long double)FSingleArray[i] / (long double)n);
    Changed();
}

void TPXRectKernel::Changed() { GetLock().Notify("Kernel"); }

void TPXRectKernel::Assign(const TPXRectKernel& source) {
    if (&source == this) return;
    const std::vector<float> values = source.SingleArray();  // under the source's own lock
    std::lock_guard guard(GetLock());
    FSingleArray = values;
    Normalize();
}

std::vector<float> TPXRectKernel::SingleArray() const {
    std::lock_guard guard(GetLock());
    return FSingleArray;
}

std::vector<float> TPXRectKernel::NormalizedArray() const {
    std::lock_guard guard(GetLock());
    return FNormalizedArray;
}

bool TPXRectKernel::HasNonZero() const {
    for (const float v : FSingleArray)
        if (v != 0.0f) return true;
    return false;
}

namespace {

// A persisted coefficient: a JSON number that is finite as a float.
std::optional<float> CoefficientOf(const json& value) {
    if (!value.is_number()) return std::nullopt;
    const double v = value.get<double>();
    if (!std::isfinite(v) || std::fabs(v) > double(std::numeric_limits<float>::max())) return std::nullopt;
    return float(v);
}

// A persisted count: a non-negative integer no larger than the biggest matrix.
std::optional<uint32_t> CountOf(const json& value) {
    if (value.is_number_unsigned()) {
        const uint64_t v = value.get<uint64_t>();
        if (v <= TPXRectKernel::KMaxEntries) return uint32_t(v);
    } else if (value.is_number_integer()) {
        const int64_t v = value.get<int64_t>();
        if (v >= 0 && v <= int64_t(TPXRectKernel::KMaxEntries)) return uint32_t(v);
    }
    return std::nullopt;
}

std::string Shown(const json& value) {
    std::string text = value.dump();
    if (text.size() > 40) text = text.substr(0, 37) + "...";
    return text;
}

}  // namespace

void TPXRectKernel::WriteMatrixData(json&) const {
    // Read-only form: the matrix is written as "_MatrixDataSize" and "_MatrixDat".
}

void TPXRectKernel::ReadMatrixData(const json& value) {
    if (!value.is_array() || value.empty())
        Fail("MatrixData", "expected [count, coefficients...], got " + Shown(value));
    const auto count = CountOf(value[0]);
    if (!count)
        Fail("MatrixData", "the count " + Shown(value[0]) + " is not an integer from 0 to " + std::to_string(KMaxEntries));
    if (value.size() - 1 != *count)
        Fail("MatrixData", "announces " + std::to_string(*count) + " coefficients but holds " + std::to_string(value.size() - 1));
    std::vector<float> values(*count);
    for (uint32_t i = 0; i < *count; ++i) {
        const auto v = CoefficientOf(value[i + 1]);
        if (!v) Fail("MatrixData", "coefficient " + std::to_string(i) + " is not a finite single: " + Shown(value[i + 1]));
        values[i] = *v;
    }
    std::lock_guard guard(GetLock());
    FSingleArray = std::move(values);
    Normalize();
}

void TPXRectKernel::WriteMatrixDataSize(json& properties) const {
    std::lock_guard guard(GetLock());
    if (HasNonZero()) properties["_MatrixDataSize"] = FSingleArray.size();
}

void TPXRectKernel::ReadMatrixDataSize(const json& value) {
    const auto count = CountOf(value);
    if (!count) Fail("_MatrixDataSize", Shown(value) + " is not an integer from 0 to " + std::to_string(KMaxEntries));
    std::lock_guard guard(GetLock());
    FSingleArray.resize(*count, 0.0f);
    Normalize();
}

void TPXRectKernel::WriteMatrixDat(json& properties) const {
    std::lock_guard guard(GetLock());
    if (!HasNonZero()) return;
    json values = json::array();
    for (const float v : FSingleArray) values.push_back(double(v));
    properties["_MatrixDat"] = std::move(values);
}

void TPXRectKernel::ReadMatrixDat(const json& value) {
    if (!value.is_array()) Fail("_MatrixDat", "expected an array of coefficients, got " + Shown(value));
    if (value.size() > KMaxEntries)
        Fail("_MatrixDat", "holds " + std::to_string(value.size()) + " coefficients, more than " + std::to_string(KMaxEntries));
    std::vector<float> values(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const auto v = CoefficientOf(value[i]);
        if (!v) Fail("_MatrixDat", "coefficient " + std::to_string(i) + " is not a finite single: " + Shown(value[i]));
        values[i] = *v;
    }
    std::lock_guard guard(GetLock());
    // Element by element over the announced length: later elements grow the array, and a shorter
    // block cuts it to what was read.
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i < FSingleArray.size()) FSingleArray[i] = values[i];
        else FSingleArray.push_back(values[i]);
    }
    FSingleArray.resize(values.size());
    Normalize();
}

// ---------------------------------------------------------------------------------------------
// TPXRectKernelFilter

const TPropertyTable& TPXRectKernelFilter::Properties() {
    using T = TPXRectKernelFilter;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXCommonROIMatrixSizeAnchorFilter>("TPXRectKernelFilter", {
        WithEditor(Object("Kernel", &T::FKernel), "Edit &Kernel ..."),
    });
    return table;
}

TPXRectKernelFilter::TPXRectKernelFilter(TComponent* owner)
    : TPXCommonROIMatrixSizeAnchorFilter(owner), FKernel(*this, GetLock()) {
    AutoInitProperties(Properties());
}

void TPXRectKernelFilter::Changed() {
    const TSize mask = MaskSize().GetSize();
    FKernel.RecalcArray(uint32_t(mask.Width), uint32_t(mask.Height));
}

void TPXRectKernelFilter::SetVideoFormat(const IPXImageBuffer& buffer) {
    const TPXVideoFormat format = buffer->GetFormat();
    if (format == vfRGBA32 || format == vfGray8 || format == vfGray16) return;
    TPXCommonROIMatrixSizeAnchorFilter::SetVideoFormat(buffer);
}

void TPXRectKernelFilter::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    // One consistent mask, anchor and matrix for the whole frame.
    TSize mask;
    TPoint anchor;
    std::vector<float> coefficients;
    {
        std::lock_guard guard(GetLock());
        GetMaskAnchor(mask, anchor);
        coefficients = FKernel.NormalizedArray();
    }
    const std::string problem = kernels::DescribeWindowProblem(mask, anchor.X, anchor.Y, in->GetSize());
    if (!problem.empty()) throw EPXError(GetDisplayPath() + ": " + problem);
    if (coefficients.size() != std::size_t(mask.Width) * std::size_t(mask.Height))
        throw EPXError(GetDisplayPath() + ": the kernel holds " + std::to_string(coefficients.size()) +
                       " coefficients but MaskSize " + std::to_string(mask.Width) + " x " + std::to_string(mask.Height) +
                       " needs " + std::to_string(mask.Width * mask.Height));
    const kernels::TConvolutionMatrix matrix{coefficients.data(), mask.Width, mask.Height, anchor.X, anchor.Y};
    ForSampleType(in->GetFormat(), [&]<class T>() {
        RunROI<T>(
            in, out, [&matrix](ConstView<T> src, View<T> dst, TRect r) { kernels::Convolve2D(src, dst, r, matrix); },
            std::is_same_v<T, uint16_t> ? FCLKernel16Bit : FCLKernel8Bit, [&](TOCLArgs& args) {
                // The normalised matrix goes to the device with every frame.
                args.Set("AKernel", OpenCLContext()->CreateBuffer(mfReadOnly | mfCopyHostPtr,
                                                                  coefficients.size() * sizeof(float), coefficients.data()));
                args.Set("AKernelWidth", uint32_t(mask.Width));
                args.Set("AKernelHeight", uint32_t(mask.Height));
                args.Set("AKernelCenterX", uint32_t(anchor.X));
                args.Set("AKernelCenterY", uint32_t(anchor.Y));
            });
    });
}

void TPXRectKernelFilter::ClearExecutors() {
    TPXCommonROIMatrixSizeAnchorFilter::ClearExecutors();
    FCLKernel8Bit.reset();
    FCLKernel16Bit.reset();
}

std::pair<IOCLKernel, IOCLKernel> TPXRectKernelFilter::BuildKernels(TOCLContext& context, const std::string& templateText) {
    return BuildKernelPair(context, templateText, "Convolution2DKernel");
}

void TPXRectKernelFilter::BuildOpenCL(TOCLContext& context) {
    std::tie(FCLKernel8Bit, FCLKernel16Bit) = BuildKernels(context, KernelTemplate("Convolution"));
}

void PXRectKernelFilter::RegisterPkg() {
    RegisterComponents<TPXRectKernelFilter>({"TPixoraFiltersToolbarCategory"}, "Rectangle Kernel Video Filter");
}

}  // namespace pixora
