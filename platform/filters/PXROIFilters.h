// Filter bases with a region of interest but without the three-path machinery: the ROI filter
// (fixed filters, mirror), the matrix filter with a mask size and anchor (convolution, box), and
// the geometric transform with its output-size policy (rotate, shear, warp, remap).
#pragma once

#include <functional>
#include <vector>

#include "platform/filters/PXCommonFilter.h"
#include "platform/filters/PXROIProcessingFilter.h"
#include "platform/props/PXCommonObjects.h"

namespace pixora {

struct TPoint {
    int X = 0, Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

class TPXCommonROIFilter : public TPXCommonFilter {
public:
    explicit TPXCommonROIFilter(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXRectRegion& RegionOfInterest() { return FRegionOfInterest; }

protected:
    // True when the output frame has the input's size.
    virtual bool OutputSameAsInputSize() const { return true; }
    // The filter's reach around an output pixel: mask size and anchor (a point filter reaches 1×1).
    virtual void GetMaskAnchor(TSize& size, TPoint& anchor) const {
        size = {1, 1};
        anchor = {0, 0};
    }
    // Narrows size to the region of interest of a frame of that size and advances data to the
    // region's first pixel (stride in bytes); an empty region gives a zero size.
    void ReclaculateRoiAndOffsetI(TSize& size, uint8_t*& data, int stride, TPXVideoFormat format) const;
    void ReclaculateRoiAndOffsetI(TSize& size, const uint8_t*& data, int stride, TPXVideoFormat format) const;
    // The region of interest clamped to a frame of that size.
    TRect RegionRect(int width, int height) const { return FRegionOfInterest.Clamp(width, height); }

private:
    TPXRectRegion FRegionOfInterest;
};

// A mask size whose changes call back its owner. A width or height outside 1..1024 is refused
// (an empty mask has no meaning; a silent 1 would hide the mistake).
class TPXMaskSize final : public TLockPersistent {
public:
    TPXMaskSize(TChangeNotifyLock& lock, std::function<void()> changed);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
    TSize GetSize() const;
    void SetSize(int width, int height);

private:
    void DoChanged() { if (FChanged) FChanged(); }
    int32_t FWidth, FHeight;
    std::function<void()> FChanged;
};

// An anchor point inside a mask whose changes call back its owner.
class TPXMaskAnchor final : public TLockPersistent {
public:
    TPXMaskAnchor(TChangeNotifyLock& lock, std::function<void()> changed);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
    TPoint GetPoint() const;
    void SetPoint(int x, int y);

private:
    void DoChanged() { if (FChanged) FChanged(); }
    int32_t FCX, FCY;
    std::function<void()> FChanged;
};

// Convolution and box filters: a mask size and anchor on top of the three-path region
// processing (single call, bands, OpenCL), since both run on every path.
class TPXCommonROIMatrixSizeAnchorFilter : public TPXCommonBasicROIProcessingFilter {
public:
    explicit TPXCommonROIMatrixSizeAnchorFilter(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXMaskSize& MaskSize() { return FMaskSize; }
    TPXMaskAnchor& Anchor() { return FAnchor; }

protected:
    // Called under the change-notify lock after MaskSize or Anchor changed.
    virtual void Changed() {}
    // The mask's size and anchor as one consistent pair.
    virtual void GetMaskAnchor(TSize& size, TPoint& anchor) const {
        std::lock_guard guard(GetLock());
        size = FMaskSize.GetSize();
        anchor = FAnchor.GetPoint();
    }

private:
    TPXMaskSize FMaskSize;
    TPXMaskAnchor FAnchor;
};

// A rectangle by its edges, as the geometric transforms' bounding rectangles are stated: the
// size is (Right − Left) × (Bottom − Top).
struct TBoundRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const noexcept { return Right - Left; }
    int Height() const noexcept { return Bottom - Top; }
    TSize Size() const noexcept { return {Width(), Height()}; }
    friend bool operator==(const TBoundRect&, const TBoundRect&) = default;
};

// Output-size policy of the geometric transforms.
enum TPXAutoSize : uint8_t { asBoundingRect, asMaxBoundingRect, asInputSize, asCustom };
// Interpolation; passed to the resampling primitives as 1 shifted left by the ordinal.
enum TPXInterpolationType : uint8_t { itNearestNeighbor, itLinear, itCubic, itSuper, itLanczos };
// The format the geometric transforms deliver.
enum TPXOutputFormat : uint8_t { ofSameAsInput, ofRGB24, ofRGBA32, ofGray8, ofGray16 };

class TPXGeometricTransfromFilter : public TPXCommonROIFilter {
public:
    explicit TPXGeometricTransfromFilter(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXAutoSize GetAutoSize() const { return ReadLocked(FAutoSize); }
    void SetAutoSize(TPXAutoSize value) { SetPublished(&TPXGeometricTransfromFilter::FAutoSize, value); }
    TPXImageSize& CustomSize() { return FCustomSize; }
    const TPXImageSize& CustomSize() const { return FCustomSize; }
    TPXInterpolationType GetInterpolationType() const { return ReadLocked(FInterpolationType); }
    virtual void SetInterpolationType(TPXInterpolationType value) {
        SetPublished(&TPXGeometricTransfromFilter::FInterpolationType, value);
    }
    TColor GetBackgroundColor() const { return ReadLocked(FBackgroundColor); }
    void SetBackgroundColor(TColor value) { SetPublished(&TPXGeometricTransfromFilter::FBackgroundColor, value); }
    TPXOutputFormat GetOutputFormat() const { return ReadLocked(FOutputFormat); }
    void SetOutputFormat(TPXOutputFormat value) { SetPublished(&TPXGeometricTransfromFilter::FOutputFormat, value); }

    // 1 shifted left by the interpolation type's ordinal.
    int InterpolationFlag() const { return 1 << int(GetInterpolationType()); }
    // The output size the policy gives for an input size.
    TSize OutputSizeFor(int inputWidth, int inputHeight) const;
    TSize InputSize() const noexcept { return FInputSize; }
    TSize OutputSize() const noexcept { return FOutputSize; }
    // Bands on the process-wide pool for the transforms that resample row by row.
    bool GetMultiCore() const { return ReadLocked(FMultiCore); }
    void SetMultiCore(bool value) { SetPublished(&TPXGeometricTransfromFilter::FMultiCore, value); }
    int GetBlockSize() const { return ReadLocked(FBlockSize); }
    void SetBlockSize(int32_t value) { SetPublished(&TPXGeometricTransfromFilter::FBlockSize, value); }

protected:
    // The rectangle the transformed input occupies (asBoundingRect) and the largest one any
    // setting could need (asMaxBoundingRect); both default to the input size.
    virtual TSize GetBoundingRect(int width, int height) const { return {width, height}; }
    virtual TSize GetMaxBoundingRect(int width, int height) const { return GetBoundingRect(width, height); }
    bool OutputSameAsInputSize() const override { return GetAutoSize() == asInputSize; }

    TLRStartFrameOperation OutputStart(const TLRStartFrameOperation& input) override;
    // A frame of the output size and format with the background colour. For a filter whose
    // BackgroundByBands() is true the background is still to be painted: the bands of
    // RunRowBands paint their own rows first (so that the painting runs on the bands' threads),
    // and whatever is left is painted when ProcessInInputFormat returns; its
    // FilterInternalOperation, where it ends without ProcessInInputFormat, calls FinishBackground.
    IPXImageBuffer PrepareOutput(const IPXImageBuffer& in) override;
    virtual bool BackgroundByBands() const { return false; }
    // Paints the background on the rows of the frame being made that have none yet.
    void FinishBackground();
    // Makes the background of the frame being made transparent (alpha 0) on a four-channel work
    // frame, painted or still to be painted.
    void TransparentBackground(const IPXImageBuffer& work);

    // Runs process(work) on a frame of out's size in the input's format (out itself when the
    // formats agree, else a new frame with the background), then leaves the result in out
    // converted to the format OutputFormat names.
    void ProcessInInputFormat(const IPXImageBuffer& in, IPXImageBuffer& out,
                              const std::function<void(const IPXImageBuffer& work)>& process);
    // Calls band(y, height) over the rows 0 .. rows − 1: in bands on the pool when MultiCore is
    // set (BlockSize bytes per band at rowBytes per row, at least one row), else once. Each band
    // first paints the background on its rows of the frame being made.
    void RunRowBands(int rows, int rowBytes, const std::function<void(int y, int height)>& band);

private:
    TPXVideoFormat DeliveredFormat(TPXVideoFormat processing) const;

    TPXAutoSize FAutoSize;
    TPXImageSize FCustomSize;
    TPXInterpolationType FInterpolationType;
    TColor FBackgroundColor;
    TPXOutputFormat FOutputFormat;
    bool FMultiCore;
    int32_t FBlockSize;
    TSize FInputSize{}, FOutputSize{};
    // The frame whose background is still to be painted (none: nullptr) and one row of it.
    TPXImageBuffer* FUnpainted = nullptr;
    std::vector<uint8_t> FBackgroundRow;

    void StartBackground(TPXImageBuffer& frame);
};

}  // namespace pixora
