// Rotate: the output pixel (x, y) samples the input where the rotation by −Angle about the
// anchor, followed by the output shift, came from.
#include "filters/geometric/PXRotate.h"

#include <cmath>
#include <cstdint>

#include "filters/geometric/PXGeometricBounds.h"
#include "platform/kernels/Warp.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXRotate::Properties() {
    using T = TPXRotate;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXGeometricTransfromFilter>("TPXRotate", {
        Bool("SmoothEdge", &T::FSmoothEdge, {.Default = true}),
        Double("Angle", &T::FAngle, {.Default = 0.0}),
        Object("RotateOffset", &T::FRotateOffset),
        Object("OutputOffset", &T::FOutputOffset),
    });
    return table;
}

TPXRotate::TPXRotate(TComponent* owner)
    : TPXGeometricTransfromFilter(owner), FRotateOffset(GetLock()), FOutputOffset(GetLock()) {
    AutoInitProperties(Properties());
}

void TPXRotate::GetShifts(int width, int height, double& xShift, double& yShift) const {
    double angle;
    TQNCoordinateMode mode;
    int cx, cy;
    {
        std::lock_guard guard(GetLock());
        angle = FAngle;
        mode = FRotateOffset.GetMode();
        cx = FRotateOffset.GetCX();
        cy = FRotateOffset.GetCY();
    }
    // The right and bottom anchors lie on W and H, one pixel beyond the last pixel; the centres
    // are halves of W − 1 and H − 1.
    const double w = width, h = height, midX = (w - 1) / 2, midY = (h - 1) / 2;
    double ax = 0, ay = 0;
    switch (mode) {
    case cmLeftTop: ax = 0, ay = 0; break;
    case cmLeftBottom: ax = 0, ay = h; break;
    case cmLeftCenter: ax = 0, ay = midY; break;
    case cmRightTop: ax = w, ay = 0; break;
    case cmRightBottom: ax = w, ay = h; break;
    case cmRightCenter: ax = w, ay = midY; break;
    case cmTopCenter: ax = midX, ay = 0; break;
    case cmBottomCenter: ax = midX, ay = h; break;
    case cmCenter: ax = midX, ay = midY; break;
    }
    kernels::GetRotateShift(ax + cx, ay + cy, -angle, xShift, yShift);
}

TBoundRect TPXRotate::BoundingRect(int width, int height) const {
    std::lock_guard guard(GetLock());
    double xShift, yShift;
    GetShifts(width, height, xShift, yShift);
    double bound[2][2];
    kernels::GetRotateBound(TRect{0, 0, width, height}, bound, -GetAngle(), xShift, yShift);
    TBoundRect r = geometric::OuterBounds(bound, "TPXRotate");
    const int64_t right = int64_t(r.Right) + std::max<int64_t>(1 - int64_t(width), int64_t(FOutputOffset.GetCX()) + 1);
    const int64_t bottom =
        int64_t(r.Bottom) + std::max<int64_t>(1 - int64_t(height), int64_t(FOutputOffset.GetCY()) + 1);
    if (right - r.Left > INT32_MAX || bottom - r.Top > INT32_MAX || right < INT32_MIN || bottom < INT32_MIN)
        throw ERangeError("TPXRotate: OutputOffset makes the output too large");
    r.Right = int(right);
    r.Bottom = int(bottom);
    return r;
}

TBoundRect TPXRotate::MaxBoundingRect(int width, int height) {
    const double diagonal = std::sqrt(double(int64_t(width) * width + int64_t(height) * height));
    return {0, 0, geometric::RoundBound(diagonal, "TPXRotate"), geometric::RoundBound(diagonal, "TPXRotate")};
}

TSize TPXRotate::GetBoundingRect(int width, int height) const { return geometric::BoundSize(BoundingRect(width, height)); }

TSize TPXRotate::GetMaxBoundingRect(int width, int height) const {
    return geometric::BoundSize(MaxBoundingRect(width, height));
}

void TPXRotate::SetVideoFormat(const IPXImageBuffer& buffer) {
    const TPXVideoFormat format = buffer->GetFormat();
    if (format == vfRGB24 || format == vfRGBA32 || format == vfGray8 || format == vfGray16) return;
    TPXGeometricTransfromFilter::SetVideoFormat(buffer);
}

void TPXRotate::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    const int inW = in->GetWidth(), inH = in->GetHeight();
    // One consistent set of settings for the whole frame (the lock is recursive).
    double angle, baseXShift, baseYShift;
    bool smooth;
    int outCX, outCY;
    {
        std::lock_guard guard(GetLock());
        angle = FAngle;
        smooth = FSmoothEdge;
        outCX = FOutputOffset.GetCX();
        outCY = FOutputOffset.GetCY();
        GetShifts(inW, inH, baseXShift, baseYShift);
    }
    const TRect srcRoi = RegionRect(inW, inH);
    if (srcRoi.Empty()) {  // nothing to rotate: the output stays background
        FinishBackground();
        return;
    }
    const int flag = int(unsigned(InterpolationFlag()) | (smooth ? kernels::kSmoothEdge : 0u));
    ProcessInInputFormat(in, out, [&](const IPXImageBuffer& work) {
        const int outW = work->GetWidth(), outH = work->GetHeight();
        const double xShift = baseXShift + (double(outW) + outCX - inW) / 2;
        const double yShift = baseYShift + (double(outH) + outCY - inH) / 2;
        ForSampleType(in->GetFormat(), [&]<class T>() {
            const ConstView<T> src = in->ReadView<T>();
            const View<T> dst = work->WriteView<T>(true);
            RunRowBands(outH, outW * work->GetBitsPerPixel() / 8, [&](int y, int h) {
                kernels::Rotate<T>(src, srcRoi, dst, TRect{0, y, outW, h}, -angle, xShift, yShift, flag);
            });
        });
    });
}

void PXRotate::RegisterPkg() {
    RegisterComponents<TPXRotate>({"TPixoraTransformsToolbarCategory"}, "Rotate Video Frame");
}

}  // namespace pixora
