// Region handling of the ROI filter, the mask-size/anchor sub-objects, and the geometric
// base's output-size policy.
#include "platform/filters/PXROIFilters.h"

#include <algorithm>
#include <cstring>

#include "platform/threads/PXBandPool.h"

namespace pixora {

const TPropertyTable& TPXCommonROIFilter::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXCommonROIFilter, TPXCommonFilter>("TPXCommonROIFilter", {
        Object("RegionOfInterest", &TPXCommonROIFilter::FRegionOfInterest),
    });
    return table;
}

TPXCommonROIFilter::TPXCommonROIFilter(TComponent* owner) : TPXCommonFilter(owner), FRegionOfInterest(GetLock()) {}

template <class TData>
static void NarrowToRegion(const TRect& rect, TSize& size, TData*& data, int stride, TPXVideoFormat format) {
    size = {rect.Width, rect.Height};
    if (rect.Empty()) {
        size = {0, 0};
        return;
    }
    data += std::ptrdiff_t(rect.Y) * stride + std::ptrdiff_t(rect.X) * BitsPerPixel(format) / 8;
}

void TPXCommonROIFilter::ReclaculateRoiAndOffsetI(TSize& size, uint8_t*& data, int stride, TPXVideoFormat format) const {
    NarrowToRegion(RegionRect(size.Width, size.Height), size, data, stride, format);
}

void TPXCommonROIFilter::ReclaculateRoiAndOffsetI(TSize& size, const uint8_t*& data, int stride,
                                                  TPXVideoFormat format) const {
    NarrowToRegion(RegionRect(size.Width, size.Height), size, data, stride, format);
}

TPXMaskSize::TPXMaskSize(TChangeNotifyLock& lock, std::function<void()> changed)
    : TLockPersistent(lock), FChanged(std::move(changed)) {
    AutoInitProperties(Properties());
}

const TPropertyTable& TPXMaskSize::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXMaskSize>("TPXMaskSize", {
        Int("Width", &TPXMaskSize::FWidth, {.Default = 3, .Min = 1, .Max = 1024, .OutOfRange = TOutOfRange::Refuse}).FollowUp(&TPXMaskSize::DoChanged),
        Int("Height", &TPXMaskSize::FHeight, {.Default = 3, .Min = 1, .Max = 1024, .OutOfRange = TOutOfRange::Refuse}).FollowUp(&TPXMaskSize::DoChanged),
    });
    return table;
}

TSize TPXMaskSize::GetSize() const {
    std::lock_guard guard(GetLock());
    return {FWidth, FHeight};
}

void TPXMaskSize::SetSize(int width, int height) {
    std::lock_guard guard(GetLock());
    SetPublished(&TPXMaskSize::FWidth, int32_t(width));
    SetPublished(&TPXMaskSize::FHeight, int32_t(height));
}

TPXMaskAnchor::TPXMaskAnchor(TChangeNotifyLock& lock, std::function<void()> changed)
    : TLockPersistent(lock), FChanged(std::move(changed)) {
    AutoInitProperties(Properties());
}

const TPropertyTable& TPXMaskAnchor::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXMaskAnchor>("TPXMaskAnchor", {
        Int("CX", &TPXMaskAnchor::FCX, {.Default = 1}).FollowUp(&TPXMaskAnchor::DoChanged),
        Int("CY", &TPXMaskAnchor::FCY, {.Default = 1}).FollowUp(&TPXMaskAnchor::DoChanged),
    });
    return table;
}

TPoint TPXMaskAnchor::GetPoint() const {
    std::lock_guard guard(GetLock());
    return {FCX, FCY};
}

void TPXMaskAnchor::SetPoint(int x, int y) {
    std::lock_guard guard(GetLock());
    SetPublished(&TPXMaskAnchor::FCX, int32_t(x));
    SetPublished(&TPXMaskAnchor::FCY, int32_t(y));
}

const TPropertyTable& TPXCommonROIMatrixSizeAnchorFilter::Properties() {
    using T = TPXCommonROIMatrixSizeAnchorFilter;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXCommonBasicROIProcessingFilter>("TPXCommonROIMatrixSizeAnchorFilter", {
        Object("MaskSize", &T::FMaskSize),
        Object("Anchor", &T::FAnchor),
    });
    return table;
}

TPXCommonROIMatrixSizeAnchorFilter::TPXCommonROIMatrixSizeAnchorFilter(TComponent* owner)
    : TPXCommonBasicROIProcessingFilter(owner), FMaskSize(GetLock(), [this] { Changed(); }),
      FAnchor(GetLock(), [this] { Changed(); }) {}

const TPropertyTable& TPXGeometricTransfromFilter::Properties() {
    using T = TPXGeometricTransfromFilter;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXCommonROIFilter>("TPXGeometricTransfromFilter", {
        Enum("AutoSize", &T::FAutoSize, "TPXAutoSize", {"asBoundingRect", "asMaxBoundingRect", "asInputSize", "asCustom"},
             {.Default = asBoundingRect, .DisplayName = "Output size"}),
        Object("CustomSize", &T::FCustomSize),
        Enum("InterpolationType", &T::FInterpolationType, "TPXInterpolationType",
             {"itNearestNeighbor", "itLinear", "itCubic", "itSuper", "itLanczos"}, {.Default = itLinear})
            .Setter(&T::SetInterpolationType),
        Color("BackgroundColor", &T::FBackgroundColor, {.Default = 0}),
        Enum("OutputFormat", &T::FOutputFormat, "TPXOutputFormat",
             {"ofSameAsInput", "ofRGB24", "ofRGBA32", "ofGray8", "ofGray16"}, {.Default = ofSameAsInput}),
        Bool("MultiCore", &T::FMultiCore, {.Default = false, .Category = "Threading"}),
        Int("BlockSize", &T::FBlockSize, {.Default = 65536, .Min = 1, .Category = "Threading"}),
    });
    return table;
}

TPXGeometricTransfromFilter::TPXGeometricTransfromFilter(TComponent* owner)
    : TPXCommonROIFilter(owner), FCustomSize(GetLock(), TImageSizeRule::Refuse) {
    AutoInitProperties(Properties());
}

TSize TPXGeometricTransfromFilter::OutputSizeFor(int inputWidth, int inputHeight) const {
    TSize size;
    switch (GetAutoSize()) {
    case asBoundingRect: size = GetBoundingRect(inputWidth, inputHeight); break;
    case asMaxBoundingRect: size = GetMaxBoundingRect(inputWidth, inputHeight); break;
    case asInputSize: size = {inputWidth, inputHeight}; break;
    case asCustom: size = FCustomSize.GetSize(); break;
    }
    return {std::max(size.Width, 1), std::max(size.Height, 1)};
}

TPXVideoFormat TPXGeometricTransfromFilter::DeliveredFormat(TPXVideoFormat processing) const {
    switch (GetOutputFormat()) {
    case ofSameAsInput: return processing;
    case ofRGB24: return vfRGB24;
    case ofRGBA32: return vfRGBA32;
    case ofGray8: return vfGray8;
    case ofGray16: return vfGray16;
    }
    return processing;
}

TLRStartFrameOperation TPXGeometricTransfromFilter::OutputStart(const TLRStartFrameOperation& input) {
    TLRStartFrameOperation output = TPXCommonROIFilter::OutputStart(input);
    const TSize size = OutputSizeFor(input.Width, input.Height);
    output.Width = size.Width;
    output.Height = size.Height;
    output.Format = DeliveredFormat(output.Format);
    return output;
}

IPXImageBuffer TPXGeometricTransfromFilter::PrepareOutput(const IPXImageBuffer& in) {
    FInputSize = in->GetSize();
    FOutputSize = OutputSizeFor(FInputSize.Width, FInputSize.Height);
    IPXImageBuffer out = TPXImageBuffer::CreateSize(FOutputSize.Width, FOutputSize.Height, DeliveredFormat(in->GetFormat()));
    if (BackgroundByBands()) {
        StartBackground(*out);
    } else {
        FUnpainted = nullptr;
        out->FillColor(GetBackgroundColor());
    }
    out->SetTimeStamp(in->GetTimeStamp());
    return out;
}

void TPXGeometricTransfromFilter::StartBackground(TPXImageBuffer& frame) {
    // One row in the frame's format, painted as the whole frame would be.
    IPXImageBuffer row = TPXImageBuffer::CreateSize(frame.GetWidth(), 1, frame.GetFormat());
    row->FillColor(GetBackgroundColor());
    FBackgroundRow.assign(row->GetReadPointer(), row->GetReadPointer() + row->GetLineSize());
    FUnpainted = &frame;
}

void TPXGeometricTransfromFilter::FinishBackground() {
    if (!FUnpainted) return;
    uint8_t* data = FUnpainted->GetWritePointer();
    const std::ptrdiff_t line = FUnpainted->GetLineSize();
    for (int y = 0; y < FUnpainted->GetHeight(); ++y)
        std::memcpy(data + y * line, FBackgroundRow.data(), std::size_t(line));
    FUnpainted = nullptr;
}

void TPXGeometricTransfromFilter::TransparentBackground(const IPXImageBuffer& work) {
    if (work->GetFormat() != vfRGBA32) return;
    if (FUnpainted == work.Get()) {
        for (std::size_t x = 3; x < FBackgroundRow.size(); x += 4) FBackgroundRow[x] = 0;
    } else {
        work->FillChannel4(0);
    }
}

void TPXGeometricTransfromFilter::ProcessInInputFormat(const IPXImageBuffer& in, IPXImageBuffer& out,
                                                       const std::function<void(const IPXImageBuffer&)>& process) {
    if (out->GetFormat() == in->GetFormat()) {
        process(out);
        FinishBackground();
        return;
    }
    // out is replaced by the converted work frame: only work needs a background.
    FUnpainted = nullptr;
    IPXImageBuffer work = TPXImageBuffer::CreateSize(out->GetWidth(), out->GetHeight(), in->GetFormat());
    StartBackground(*work);
    process(work);
    FinishBackground();
    work->ConvertToFormat(out->GetFormat());
    work->SetTimeStamp(out->GetTimeStamp());
    out = work;
}

void TPXGeometricTransfromFilter::RunRowBands(int rows, int rowBytes, const std::function<void(int, int)>& band) {
    bool multiCore;
    int blockSize;
    {
        std::lock_guard guard(GetLock());
        multiCore = FMultiCore;
        blockSize = FBlockSize;
    }
    IBandExecutor* pool = multiCore ? &TBandPool::Instance() : nullptr;
    // Bands that cover the frame being made paint the background on their rows first.
    if (!FUnpainted || FUnpainted->GetHeight() != rows) {
        FinishBackground();
        RunBands(pool, 0, rows, rowBytes, blockSize, band);
        return;
    }
    uint8_t* data = FUnpainted->GetWritePointer();
    const std::ptrdiff_t line = FUnpainted->GetLineSize();
    const uint8_t* background = FBackgroundRow.data();
    RunBands(pool, 0, rows, rowBytes, blockSize, [&](int y, int h) {
        for (int r = y; r < y + h; ++r) std::memcpy(data + r * line, background, std::size_t(line));
        band(y, h);
    });
    FUnpainted = nullptr;
}

}  // namespace pixora
