// Cylinder maps: inside the circle X = InW · d / r and Y = (InH − 2) · θ / 2π + InH / 2, so the
// pixel straight right of the centre (θ = 0) samples the middle row; outside, the background
// rule of the circle filters.
#include "filters/geometric/PXCylinder.h"

#include <algorithm>
#include <cmath>

#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXCylinder::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXCylinder, TPXCircleRemapFilter>("TPXCylinder", {});
    return table;
}

TPXCylinder::TPXCylinder(TComponent* owner) : TPXCircleRemapFilter(owner) {}

void TPXCylinder::Calculate(TRemapMaps& maps) {
    const TCircle c = CircleFor(maps.Input, maps.Output);
    const int w = maps.Output.Width, h = maps.Output.Height;
    if (!(c.R > 0)) {  // no circle (radius 0): the picture stays as it is
        maps.FillIdentity();
        return;
    }
    constexpr long double twoPi = 6.283185307179586476925286766559L;
    const double ox = std::max(0, c.CX), oy = std::max(0, c.CY);
    for (int j = 0; j < h; ++j) {
        float* mx = maps.XRow(j);
        float* my = maps.YRow(j);
        for (int i = 0; i < w; ++i) {
            const double dx = double(i) - c.Hw - ox, dy = double(j) - c.Hh - oy;
            const double d = std::sqrt(dx * dx + dy * dy);
            if (d <= c.R) {
                const double theta = std::atan2(double(float(dy)), double(float(dx)));
                const double y = double((long double)(c.InH - 2) * theta / twoPi) + c.InH / 2;
                Store(c, c.InW * d / c.R, y, mx[i], my[i]);
            } else {
                StoreOutside(c, dx, dy, mx[i], my[i]);
            }
        }
    }
}

void PXCylinder::RegisterPkg() {
    RegisterComponents<TPXCylinder>({"TPixoraFiltersToolbarCategory"}, "Cylinder Video Effect");
}

}  // namespace pixora
