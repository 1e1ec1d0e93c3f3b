// Swirl: twists the picture inside a circle, by an angle that grows with the distance from the
// rim, changing direction NumReversals times across the radius.
#pragma once

#include "platform/filters/PXRemapFilters.h"

namespace pixora {

class TPXSwirl final : public TPXCircleRemapFilter {
public:
    explicit TPXSwirl(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    // Radians of twist per pixel of distance; NaN and infinities are refused.
    double GetCoefficient() const { return ReadLocked(FCoefficient); }
    void SetCoefficient(double value) { SetPublished(&TPXSwirl::FCoefficient, value); }
    uint32_t GetNumReversals() const { return ReadLocked(FNumReversals); }
    void SetNumReversals(uint32_t value) { SetPublished(&TPXSwirl::FNumReversals, value); }

    // The turned angle of a point at distance d and angle theta from the centre, for a radius r.
    static double TurnedAngle(double d, double theta, double r, double coefficient, uint32_t reversals);
    // The rectangle (in offsets from the circle's centre) that the asBoundingRect policy asks for.
    TBoundRect BoundingRect(int width, int height) const;

protected:
    TSize GetBoundingRect(int width, int height) const override;
    void Calculate(TRemapMaps& maps) override;

private:
    double FCoefficient;
    uint32_t FNumReversals;
};

namespace PXSwirl {
void RegisterPkg();
}

}  // namespace pixora
