// Fish-eye maps: with c = |Curvature|, k = ln(c·r + 1) and s = r / k, a pixel at distance d from
// the centre samples distance (e^(d/s) − 1) / c (bulge) or ln(c·d + 1) · s (pinch); both give r
// at d = r, so the rim stays in place.
#include "filters/geometric/PXFishEye.h"

#include <algorithm>
#include <cmath>

#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXFishEye::Properties() {
    using T = TPXFishEye;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXCircleRemapFilter>("TPXFishEye", {
        Double("Curvature", &T::FCurvature, {.Default = 0.03}),
    });
    return table;
}

TPXFishEye::TPXFishEye(TComponent* owner) : TPXCircleRemapFilter(owner) { AutoInitProperties(Properties()); }

bool TPXFishEye::SourceDistance(double d, double r, double curvature, double& source) {
    const double c = std::fabs(curvature);
    const double k = std::log(c * r + 1);
    if (!(k >= 1e-14)) return false;  // zero curvature or radius: no distortion, no division by 0
    const double s = r / k;
    source = curvature >= 0 ? (std::exp(d / s) - 1) / c : std::log(c * d + 1) * s;
    return true;
}

void TPXFishEye::Calculate(TRemapMaps& maps) {
    const TCircle c = CircleFor(maps.Input, maps.Output);
    const double curvature = FCurvature;
    const int w = maps.Output.Width, h = maps.Output.Height;
    double probe;
    if (!SourceDistance(0, c.R, curvature, probe)) {
        maps.FillIdentity();
        return;
    }
    const double ox = std::max(0, c.CX), oy = std::max(0, c.CY);
    for (int j = 0; j < h; ++j) {
        float* mx = maps.XRow(j);
        float* my = maps.YRow(j);
        for (int i = 0; i < w; ++i) {
            const double dx = double(i) - c.Hw - ox, dy = double(j) - c.Hh - oy;
            const double d = std::sqrt(dx * dx + dy * dy);
            if (d <= c.R) {
                double source = 0;
                SourceDistance(d, c.R, curvature, source);
                const double theta = std::atan2(double(float(dy)), double(float(dx)));
                Store(c, c.Sx + source * std::cos(theta), c.Sy + source * std::sin(theta), mx[i], my[i]);
            } else {
                StoreOutside(c, dx, dy, mx[i], my[i]);
            }
        }
    }
}

TBoundRect TPXFishEye::BoundingRect(int width, int height) const {
    std::lock_guard guard(GetLock());
    const double r = RadiusFor({width, height}, {width, height});
    const double curvature = FCurvature;
    double probe;
    if (!SourceDistance(0, r, curvature, probe)) {
        // No distortion: the picture keeps its size.
        const int hw = width / 2, hh = height / 2;
        return {-hw, -hh, width - hw, height - hh};
    }
    TBoundRect rect = WalkBounds(width, height, r, [&](double d, double theta, double& px, double& py) {
        double source = 0;
        SourceDistance(d, r, curvature, source);
        px = source * std::cos(theta);
        py = source * std::sin(theta);
    });
    // The walk gives the distorted circle; with Preserve the input around it is shown as well.
    HoldInput(rect, width, height);
    return rect;
}

TSize TPXFishEye::GetBoundingRect(int width, int height) const {
    return CachedBoundingRect(width, height, [&] { return BoundingRect(width, height); });
}

void PXFishEye::RegisterPkg() {
    RegisterComponents<TPXFishEye>({"TPixoraFiltersToolbarCategory"}, "Fish Eye effect Video Frame");
}

}  // namespace pixora
