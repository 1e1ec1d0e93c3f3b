// Warp: coefficients from the source rectangle and the moved quadrilateral, then the forward or
// backward perspective or bilinear resampling.
#include "filters/geometric/PXWarp.h"

#include <algorithm>

#include "filters/geometric/PXGeometricBounds.h"
#include "platform/kernels/Warp.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXWarp::Properties() {
    using T = TPXWarp;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXGeometricTransfromFilter>("TPXWarp", {
        Object("LeftTopOffset", &T::FLeftTopOffset),
        Object("RightTopOffset", &T::FRightTopOffset),
        Object("LeftBottomOffset", &T::FLeftBottomOffset),
        Object("RightBottomOffset", &T::FRightBottomOffset),
        Bool("SmoothEdge", &T::FSmoothEdge, {.Default = true}),
        Bool("InverseTransform", &T::FInverseTransform, {.Default = false}),
        Enum("WarpType", &T::FWarpType, "TPXWarpType", {"wtBilinear", "wtPerspective"}, {.Default = wtBilinear}),
    });
    return table;
}

TPXWarp::TPXWarp(TComponent* owner)
    : TPXGeometricTransfromFilter(owner), FLeftTopOffset(GetLock()), FRightTopOffset(GetLock()),
      FLeftBottomOffset(GetLock()), FRightBottomOffset(GetLock()) {
    AutoInitProperties(Properties());
}

void TPXWarp::GetQuad(int width, int height, double ox, double oy, double quad[4][2]) const {
    std::lock_guard guard(GetLock());
    const double w = width, h = height;
    quad[0][0] = FLeftTopOffset.GetCX() - ox, quad[0][1] = FLeftTopOffset.GetCY() - oy;
    quad[1][0] = FRightTopOffset.GetCX() + w - ox, quad[1][1] = FRightTopOffset.GetCY() - oy;
    quad[2][0] = FRightBottomOffset.GetCX() + w - ox, quad[2][1] = FRightBottomOffset.GetCY() + h - oy;
    quad[3][0] = FLeftBottomOffset.GetCX() - ox, quad[3][1] = FLeftBottomOffset.GetCY() + h - oy;
}

void TPXWarp::GetShift(double& ox, double& oy) const {
    std::lock_guard guard(GetLock());
    const TPXAutoSize policy = GetAutoSize();
    if (!FInverseTransform && (policy == asBoundingRect || policy == asMaxBoundingRect)) {
        ox = std::min(FLeftTopOffset.GetCX(), FLeftBottomOffset.GetCX());
        oy = std::min(FLeftTopOffset.GetCY(), FRightTopOffset.GetCY());
    } else {
        ox = oy = 0;
    }
}

TBoundRect TPXWarp::BoundingRect(int width, int height) const {
    std::lock_guard guard(GetLock());
    if (GetAutoSize() == asInputSize) return {0, 0, width, height};
    if (FInverseTransform) {
        const TSize custom = CustomSize().GetSize();
        return {0, 0, custom.Width, custom.Height};
    }
    double quad[4][2], bound[2][2];
    GetQuad(width, height, 0, 0, quad);
    const TRect rect{0, 0, width, height};
    if (FWarpType == wtPerspective) {
        double c[3][3];
        if (!kernels::GetPerspectiveTransform(rect, quad, c))
            throw ERangeError("TPXWarp: the corner offsets give no perspective transform");
        kernels::GetPerspectiveBound(rect, bound, c);
    } else {
        double c[2][4];
        if (!kernels::GetBilinearTransform(rect, quad, c))
            throw ERangeError("TPXWarp: the corner offsets give no bilinear transform");
        kernels::GetBilinearBound(rect, bound, c);
    }
    return geometric::OuterBounds(bound, "TPXWarp");
}

TSize TPXWarp::GetBoundingRect(int width, int height) const { return geometric::BoundSize(BoundingRect(width, height)); }

void TPXWarp::SetVideoFormat(const IPXImageBuffer& buffer) {
    const TPXVideoFormat format = buffer->GetFormat();
    if (format == vfRGB24 || format == vfRGBA32 || format == vfGray8 || format == vfGray16) return;
    TPXGeometricTransfromFilter::SetVideoFormat(buffer);
}

void TPXWarp::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    const TRect srcRoi = RegionRect(in->GetWidth(), in->GetHeight());
    if (srcRoi.Empty()) {
        FinishBackground();
        return;
    }
    // One consistent set of settings for the frame (the lock is recursive).
    double quad[4][2];
    bool smooth, inverse;
    TPXWarpType type;
    {
        std::lock_guard guard(GetLock());
        smooth = FSmoothEdge;
        inverse = FInverseTransform;
        type = FWarpType;
        double ox, oy;
        GetShift(ox, oy);
        GetQuad(srcRoi.Width, srcRoi.Height, ox, oy, quad);
    }
    const int flag = int(unsigned(InterpolationFlag()) | (smooth ? kernels::kSmoothEdge : 0u));
    double perspective[3][3], bilinear[2][4];
    const bool valid = type == wtPerspective ? kernels::GetPerspectiveTransform(srcRoi, quad, perspective)
                                             : kernels::GetBilinearTransform(srcRoi, quad, bilinear);
    if (!valid) throw ERangeError("TPXWarp: the corner offsets give no " +
                                  std::string(type == wtPerspective ? "perspective" : "bilinear") + " transform");
    ProcessInInputFormat(in, out, [&](const IPXImageBuffer& work) {
        const int outW = work->GetWidth(), outH = work->GetHeight();
        ForSampleType(in->GetFormat(), [&]<class T>() {
            const ConstView<T> src = in->ReadView<T>();
            const View<T> dst = work->WriteView<T>(true);
            RunRowBands(outH, outW * work->GetBitsPerPixel() / 8, [&](int y, int h) {
                const TRect band{0, y, outW, h};
                if (type == wtPerspective) {
                    if (inverse)
                        kernels::WarpPerspectiveBack<T>(src, srcRoi, dst, band, perspective, flag);
                    else
                        kernels::WarpPerspective<T>(src, srcRoi, dst, band, perspective, flag);
                } else {
                    if (inverse)
                        kernels::WarpBilinearBack<T>(src, srcRoi, dst, band, bilinear, flag);
                    else
                        kernels::WarpBilinear<T>(src, srcRoi, dst, band, bilinear, flag);
                }
            });
        });
    });
}

void PXWarp::RegisterPkg() {
    RegisterComponents<TPXWarp>({"TPixoraTransformsToolbarCategory"}, "Warp Video Frame (Bilinear, Perspective)");
}

}  // namespace pixora
