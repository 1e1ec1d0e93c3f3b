// Swirl maps: inside the circle a pixel at distance d samples the source at the same distance,
// turned back by the twist of its band; outside, the background rule of the circle filters.
#include "filters/geometric/PXSwirl.h"

#include <cmath>
#include <cstdint>

#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXSwirl::Properties() {
    using T = TPXSwirl;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXCircleRemapFilter>("TPXSwirl", {
        Double("Coefficient", &T::FCoefficient, {.Default = 0.05}),
        Cardinal("NumReversals", &T::FNumReversals, {.Default = 0}),
    });
    return table;
}

TPXSwirl::TPXSwirl(TComponent* owner) : TPXCircleRemapFilter(owner) {
    AutoInitProperties(Properties());
    // The swirl shows the undistorted picture around its circle unless told otherwise.
    Background().SetPreserve_Default(true);
}

double TPXSwirl::TurnedAngle(double d, double theta, double r, double coefficient, uint32_t reversals) {
    // The radius is cut into NumReversals + 1 bands; the twist runs from 0 at one edge of a band
    // to Coefficient × band at the other and changes direction from band to band, so that the
    // outermost band ends with no twist at the rim.
    const double band = r / (double(reversals) + 1);
    const double n = std::trunc(d / band);
    const bool odd = (uint64_t(n) & 1u) != 0;
    if (odd != ((reversals & 1u) != 0)) return theta - coefficient * (d - n * band);
    return theta - coefficient * ((n + 1) * band - d);
}

void TPXSwirl::Calculate(TRemapMaps& maps) {
    const TCircle c = CircleFor(maps.Input, maps.Output);
    const double coefficient = FCoefficient;
    const uint32_t reversals = FNumReversals;
    const int w = maps.Output.Width, h = maps.Output.Height;
    for (int j = 0; j < h; ++j) {
        float* mx = maps.XRow(j);
        float* my = maps.YRow(j);
        for (int i = 0; i < w; ++i) {
            if (!(c.R > 0)) {  // no circle (radius 0): the picture stays as it is
                mx[i] = float(i), my[i] = float(j);
                continue;
            }
            const double dx = double(i) - c.Hw - c.CX, dy = double(j) - c.Hh - c.CY;
            const double d = std::sqrt(dx * dx + dy * dy);
            if (d <= c.R) {
                const double theta = TurnedAngle(d, std::atan2(double(float(dy)), double(float(dx))), c.R,
                                                 coefficient, reversals);
                Store(c, c.Sx + d * std::cos(theta), c.Sy + d * std::sin(theta), mx[i], my[i]);
            } else {
                StoreOutside(c, dx, dy, mx[i], my[i]);
            }
        }
    }
}

TBoundRect TPXSwirl::BoundingRect(int width, int height) const {
    std::lock_guard guard(GetLock());
    const double r = RadiusFor({width, height}, {width, height});
    const double coefficient = FCoefficient;
    const uint32_t reversals = FNumReversals;
    TBoundRect rect;
    if (r > 0) {
        rect = WalkBounds(width, height, r, [&](double d, double theta, double& px, double& py) {
            const double turned = TurnedAngle(d, theta, r, coefficient, reversals);
            px = d * std::cos(turned);
            py = d * std::sin(turned);
        });
    }
    HoldInput(rect, width, height);
    return rect;
}

TSize TPXSwirl::GetBoundingRect(int width, int height) const {
    return CachedBoundingRect(width, height, [&] { return BoundingRect(width, height); });
}

void PXSwirl::RegisterPkg() {
    RegisterComponents<TPXSwirl>({"TPixoraFiltersToolbarCategory"}, "Swirl Video Frame");
}

}  // namespace pixora
