// Moving-least-squares warp: deforms the frame smoothly so that each control point moves from its
// Original to its Moved position (rigid deformation, inverse-square-distance weights). The
// deformation is evaluated exactly on a grid of GridStep pixels and interpolated in between.
#pragma once

#include <vector>

#include "platform/filters/PXRemapFilters.h"
#include "platform/props/PXCommonObjects.h"

namespace pixora {

// One control point: where it is in the input frame and where it shall appear in the output.
class TPXRemappingPoint final : public TLockPersistent {
public:
    explicit TPXRemappingPoint(TChangeNotifyLock& lock);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TKDFloatPointProperty& Original() { return FOriginal; }
    TKDFloatPointProperty& Moved() { return FMoved; }

private:
    TKDFloatPointProperty FOriginal;
    TKDFloatPointProperty FMoved;
};

using TPXRemappingPoints = TCollection<TPXRemappingPoint>;

class TPXMovingLeastSquaresWarp final : public TPXBaseRemapFilter {
public:
    explicit TPXMovingLeastSquaresWarp(TComponent* owner = nullptr);
    ~TPXMovingLeastSquaresWarp() override;
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXRemappingPoints& Points() { return FPoints; }
    // Spacing of the exactly evaluated nodes in pixels; a value below 1 is raised to 1.
    uint32_t GetGridStep() const { return ReadLocked(FGridStep); }
    void SetGridStep(uint32_t value);
    // True until the maps have been rebuilt for the latest point edits.
    bool GetPointsModified() const { return ReadLocked(FPointsModified); }

    // A control point as plain numbers.
    struct TControl {
        float OriginalX, OriginalY, MovedX, MovedY;
    };
    // The source point of output point (vx, vy) under the deformation of these control points.
    static void Deform(const std::vector<TControl>& points, double vx, double vy, double& x, double& y);
    // The columns (or rows) of a dimension of n pixels where the deformation is evaluated exactly.
    static std::vector<bool> NodeFlags(int n, uint32_t step);

protected:
    void Calculate(TRemapMaps& maps) override;
    bool MapsOutdated() const override { return FPointsModified; }
    void PropertyChanged(std::string_view property) override;

private:
    void WriteStepSize(nlohmann::json&) const {}
    void ReadStepSize(const nlohmann::json& value);
    // Evaluates row y at the node columns and interpolates the columns between them.
    void ComputeVAndInterpolateXYRow(const std::vector<TControl>& points, int y, std::vector<double>& rowX,
                                     std::vector<double>& rowY) const;

    TPXRemappingPoints FPoints;
    uint32_t FGridStep;
    bool FPointsModified = true;
    std::vector<bool> FvXCompute, FvYCompute;
};

namespace PXMovingLeastSquaresWarp {
void RegisterPkg();
}

}  // namespace pixora
