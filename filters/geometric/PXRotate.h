// Rotates the frame (or its region of interest) by an angle about an anchor point, optionally
// moving the result inside a resized output.
#pragma once

#include "platform/filters/PXROIFilters.h"
#include "platform/props/PXCommonObjects.h"

namespace pixora {

class TPXRotate final : public TPXGeometricTransfromFilter {
public:
    explicit TPXRotate(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    bool GetSmoothEdge() const { return ReadLocked(FSmoothEdge); }
    void SetSmoothEdge(bool value) { SetPublished(&TPXRotate::FSmoothEdge, value); }
    // Degrees; a positive angle turns the picture clockwise on screen. NaN and infinities are
    // refused.
    double GetAngle() const { return ReadLocked(FAngle); }
    void SetAngle(double value) { SetPublished(&TPXRotate::FAngle, value); }
    // The anchor of the rotation: a reference point of the frame plus CX, CY.
    TPXCenterOffset& RotateOffset() { return FRotateOffset; }
    // Shift of the rotated picture inside the output, which also grows the bounding rectangle.
    TQNOffset& OutputOffset() { return FOutputOffset; }

    // The shifts that make the rotation by −Angle turn about the anchor in a W × H frame.
    void GetShifts(int width, int height, double& xShift, double& yShift) const;
    // The rotated W × H frame's bounding rectangle, grown by OutputOffset.
    TBoundRect BoundingRect(int width, int height) const;
    // (0, 0, D, D) with D = round(sqrt(W² + H²)): room for any angle.
    static TBoundRect MaxBoundingRect(int width, int height);

protected:
    TSize GetBoundingRect(int width, int height) const override;
    TSize GetMaxBoundingRect(int width, int height) const override;
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;
    bool BackgroundByBands() const override { return true; }

private:
    bool FSmoothEdge;
    double FAngle = 0;
    TPXCenterOffset FRotateOffset;
    TQNOffset FOutputOffset;
};

namespace PXRotate {
void RegisterPkg();
}

}  // namespace pixora
