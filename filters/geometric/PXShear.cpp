// Shear: x' = x + shx·y + xShift, y' = shy·x + y + yShift with shx = XShear / height and
// shy = YShear / width, so the last row moves XShear pixels against the first; the shifts centre
// the slanted picture in the output.
#include "filters/geometric/PXShear.h"

#include "filters/geometric/PXGeometricBounds.h"
#include "platform/kernels/Warp.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXShear::Properties() {
    using T = TPXShear;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXGeometricTransfromFilter>("TPXShear", {
        Int("XShear", &T::FXShear, {.Default = 0}),
        Int("YShear", &T::FYShear, {.Default = 0}),
        Bool("SmoothEdge", &T::FSmoothEdge, {.Default = true}),
    });
    return table;
}

TPXShear::TPXShear(TComponent* owner) : TPXGeometricTransfromFilter(owner) { AutoInitProperties(Properties()); }

TBoundRect TPXShear::BoundingRect(int width, int height) const {
    int xShear, yShear;
    {
        std::lock_guard guard(GetLock());
        xShear = FXShear;
        yShear = FYShear;
    }
    // Integer halves truncate towards zero: −5 div 2 = −2.
    const double shx = double(xShear) / height, shy = double(yShear) / width;
    const double xShift = double(-(int64_t(xShear) / 2)), yShift = double(-(int64_t(yShear) / 2));
    double bound[2][2];
    kernels::GetShearBound(TRect{0, 0, width, height}, bound, shx, shy, xShift, yShift);
    TBoundRect r = geometric::OuterBounds(bound, "TPXShear");
    ++r.Right;
    ++r.Bottom;
    return r;
}

TSize TPXShear::GetBoundingRect(int width, int height) const { return geometric::BoundSize(BoundingRect(width, height)); }

void TPXShear::SetVideoFormat(const IPXImageBuffer& buffer) {
    const TPXVideoFormat format = buffer->GetFormat();
    if (format == vfRGB24 || format == vfRGBA32 || format == vfGray8 || format == vfGray16) return;
    TPXGeometricTransfromFilter::SetVideoFormat(buffer);
}

void TPXShear::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    int xShear, yShear;
    bool smooth;
    {
        std::lock_guard guard(GetLock());
        xShear = FXShear;
        yShear = FYShear;
        smooth = FSmoothEdge;
    }
    // The region of interest is sheared as a picture of its own: its top-left pixel is the
    // origin of the transform.
    const TRect roi = RegionRect(in->GetWidth(), in->GetHeight());
    if (roi.Empty()) {
        FinishBackground();
        return;
    }
    const int inW = roi.Width, inH = roi.Height;
    const double shx = double(xShear) / inH, shy = double(yShear) / inW;
    const int flag = int(unsigned(InterpolationFlag()) | (smooth ? kernels::kSmoothEdge : 0u));
    ProcessInInputFormat(in, out, [&](const IPXImageBuffer& work) {
        const int outW = work->GetWidth(), outH = work->GetHeight();
        const double xShift = double(outW - inW) / 2 - double(xShear / 2);
        const double yShift = double(outH - inH) / 2 - double(yShear / 2);
        ForSampleType(in->GetFormat(), [&]<class T>() {
            ConstView<T> src = in->ReadView<T>();
            src.Data = src.Row(roi.Y) + std::ptrdiff_t(roi.X) * src.Channels;
            src.Width = roi.Width;
            src.Height = roi.Height;
            const View<T> dst = work->WriteView<T>(true);
            RunRowBands(outH, outW * work->GetBitsPerPixel() / 8, [&](int y, int h) {
                kernels::Shear<T>(src, TRect{0, 0, inW, inH}, dst, TRect{0, y, outW, h}, shx, shy, xShift, yShift, flag);
            });
        });
    });
}

void PXShear::RegisterPkg() {
    RegisterComponents<TPXShear>({"TPixoraTransformsToolbarCategory"}, "Shear Video Frame");
}

}  // namespace pixora
