// The moving-least-squares maps: exact at the grid nodes, bilinear between them.
#include "filters/geometric/PXMovingLeastSquaresWarp.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXRemappingPoint::Properties() {
    using T = TPXRemappingPoint;
    static const TPropertyTable table = TPropertyTable::Of<T>("TPXRemappingPoint", {
        Object("Original", &T::FOriginal),
        Object("Moved", &T::FMoved),
    });
    return table;
}

TPXRemappingPoint::TPXRemappingPoint(TChangeNotifyLock& lock)
    : TLockPersistent(lock), FOriginal(lock), FMoved(lock) {}

const TPropertyTable& TPXMovingLeastSquaresWarp::Properties() {
    using T = TPXMovingLeastSquaresWarp;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXBaseRemapFilter>("TPXMovingLeastSquaresWarp", {
        WithEditor(Collection("Points", &T::FPoints), "Edit P&oints ..."),
        Cardinal("GridStep", &T::FGridStep, {.Default = 20, .Min = 1}).Setter(&T::SetGridStep),
        // Stored data of earlier versions names the grid step "StepSize".
        Data("StepSize", &T::WriteStepSize, &T::ReadStepSize),
    });
    return table;
}

TPXMovingLeastSquaresWarp::TPXMovingLeastSquaresWarp(TComponent* owner)
    : TPXBaseRemapFilter(owner), FPoints(GetLock()) {
    AutoInitProperties(Properties());
}

TPXMovingLeastSquaresWarp::~TPXMovingLeastSquaresWarp() { ShutdownThread(); }

void TPXMovingLeastSquaresWarp::SetGridStep(uint32_t value) {
    GetLock().NotifySetterMin(FGridStep, value, 1u, "GridStep");
}

void TPXMovingLeastSquaresWarp::ReadStepSize(const nlohmann::json& value) {
    if (!value.is_number_integer() && !value.is_number_unsigned())
        throw EPropertyError("TPXMovingLeastSquaresWarp: StepSize must be an integer, got " + value.dump());
    const int64_t step = value.get<int64_t>();
    SetGridStep(step < 1 ? 1u : step > int64_t(UINT32_MAX) ? UINT32_MAX : uint32_t(step));
}

void TPXMovingLeastSquaresWarp::PropertyChanged(std::string_view property) {
    // Point edits (a point's coordinates, adding, deleting) only flag the maps; the next frame
    // rebuilds them. The grid step rebuilds at once.
    if (property == "GridStep") {
        Recalculate();
    } else if (property.empty() || property == "X" || property == "Y") {
        FPointsModified = true;
    }
}

void TPXMovingLeastSquaresWarp::Deform(const std::vector<TControl>& points, double vx, double vy, double& x,
                                       double& y) {
    const std::size_t n = points.size();
    if (n == 0) {
        x = vx, y = vy;
        return;
    }
    constexpr double tiny = std::numeric_limits<double>::denorm_min();
    // A control point on v itself gets a huge but finite weight (the largest single / 100000).
    constexpr double huge = 3.4028235e33;
    std::vector<double> w(n);
    double total = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double dx = points[i].MovedX - vx, dy = points[i].MovedY - vy;
        const double d = dx * dx + dy * dy;
        w[i] = d <= tiny ? huge : 1 / d;
        total += w[i];
    }
    if (total <= tiny) total = tiny;
    double mx = 0, my = 0, ox = 0, oy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        mx += w[i] * points[i].MovedX, my += w[i] * points[i].MovedY;
        ox += w[i] * points[i].OriginalX, oy += w[i] * points[i].OriginalY;
    }
    // Weighted centroids, kept in single precision.
    const float cmx = float(mx / total), cmy = float(my / total), cox = float(ox / total), coy = float(oy / total);
    double a = 0, b = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double hmx = points[i].MovedX - cmx, hmy = points[i].MovedY - cmy;
        const double hox = points[i].OriginalX - cox, hoy = points[i].OriginalY - coy;
        a += w[i] * (hmx * hox + hmy * hoy);
        b += w[i] * (hmx * hoy - hox * hmy);
    }
    const double len = std::sqrt(a * a + b * b);
    if (len > tiny && n != 1) {
        a /= len, b /= len;
    } else {
        a = 1, b = 0;  // a pure translation
    }
    x = a * (vx - cmx) - b * (vy - cmy) + cox;
    y = b * (vx - cmx) + a * (vy - cmy) + coy;
}

std::vector<bool> TPXMovingLeastSquaresWarp::NodeFlags(int n, uint32_t step) {
    std::vector<bool> flags(std::size_t(std::max(n, 0)), false);
    if (step < 1) step = 1;
    for (int64_t i = 0; i < n; i += step) flags[std::size_t(i)] = true;
    if (n > 0) flags[std::size_t(n - 1)] = true;
    return flags;
}

void TPXMovingLeastSquaresWarp::ComputeVAndInterpolateXYRow(const std::vector<TControl>& points, int y,
                                                             std::vector<double>& rowX,
                                                             std::vector<double>& rowY) const {
    const int w = int(FvXCompute.size());
    int x0 = -1;
    for (int x = 0; x < w; ++x) {
        if (!FvXCompute[std::size_t(x)]) continue;
        Deform(points, x, y, rowX[std::size_t(x)], rowY[std::size_t(x)]);
        if (x0 >= 0)
            for (int k = x0 + 1; k < x; ++k) {
                const double t = double(k - x0) / double(x - x0);
                rowX[std::size_t(k)] = (1 - t) * rowX[std::size_t(x0)] + t * rowX[std::size_t(x)];
                rowY[std::size_t(k)] = (1 - t) * rowY[std::size_t(x0)] + t * rowY[std::size_t(x)];
            }
        x0 = x;
    }
}

void TPXMovingLeastSquaresWarp::Calculate(TRemapMaps& maps) {
    const int w = maps.Output.Width, h = maps.Output.Height;
    // One consistent copy of the points (the lock is held).
    std::vector<TControl> points;
    for (auto& item : FPoints)
        points.push_back({item->Original().GetX(), item->Original().GetY(), item->Moved().GetX(), item->Moved().GetY()});
    // SetXYCompute
    FvXCompute = NodeFlags(w, FGridStep);
    FvYCompute = NodeFlags(h, FGridStep);
    // CalculateMatrix: node rows A (at y0) and B (at y1), rows between them interpolated.
    const std::size_t columns = std::size_t(w);
    std::vector<double> ax(columns), ay(columns), bx(columns), by(columns);
    ComputeVAndInterpolateXYRow(points, 0, bx, by);
    int y0 = 0, y1 = 0;
    for (int y = 0; y < h; ++y) {
        if (FvYCompute[std::size_t(y)]) {
            ax.swap(bx), ay.swap(by);
            y0 = y1;
            y1 = y0 + 1;
            while (y1 < h && !FvYCompute[std::size_t(y1)]) ++y1;
            if (y1 < h) ComputeVAndInterpolateXYRow(points, y1, bx, by);
            else bx = ax, by = ay;
        }
        const double t = y1 > y0 ? double(y - y0) / double(y1 - y0) : 0.0;
        float* mx = maps.XRow(y);
        float* my = maps.YRow(y);
        for (int x = 0; x < w; ++x) {
            mx[x] = float((1 - t) * ax[std::size_t(x)] + t * bx[std::size_t(x)]);
            my[x] = float((1 - t) * ay[std::size_t(x)] + t * by[std::size_t(x)]);
        }
    }
    FPointsModified = false;
}

void PXMovingLeastSquaresWarp::RegisterPkg() {
    RegisterComponents<TPXMovingLeastSquaresWarp>({"TPixoraFiltersToolbarCategory"},
                                                  "Moving Least Squares Warp Video Transformation");
}

}  // namespace pixora
