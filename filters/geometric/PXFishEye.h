// Fish-eye: magnifies (positive Curvature) or shrinks (negative) the picture towards the centre
// of a circle, with the rim left in place.
#pragma once

#include "platform/filters/PXRemapFilters.h"

namespace pixora {

class TPXFishEye final : public TPXCircleRemapFilter {
public:
    explicit TPXFishEye(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    // The sign selects bulge (positive) or pinch (negative); NaN and infinities are refused.
    double GetCurvature() const { return ReadLocked(FCurvature); }
    void SetCurvature(double value) { SetPublished(&TPXFishEye::FCurvature, value); }

    // The source distance of a pixel at distance d from the centre, for a radius r; false when
    // the curvature or radius is too small to distort (the map is then the identity).
    static bool SourceDistance(double d, double r, double curvature, double& source);
    // The rectangle (in offsets from the circle's centre) that the asBoundingRect policy asks for.
    TBoundRect BoundingRect(int width, int height) const;

protected:
    TSize GetBoundingRect(int width, int height) const override;
    void Calculate(TRemapMaps& maps) override;

private:
    double FCurvature;
};

namespace PXFishEye {
void RegisterPkg();
}

}  // namespace pixora
