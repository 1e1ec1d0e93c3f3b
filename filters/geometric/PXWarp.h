// Moves the four corners of the frame by user offsets and resamples the frame with the bilinear
// or perspective transform that carries the frame's rectangle onto the moved quadrilateral.
#pragma once

#include "platform/filters/PXROIFilters.h"
#include "platform/props/PXCommonObjects.h"

namespace pixora {

enum TPXWarpType : uint8_t { wtBilinear, wtPerspective };

class TPXWarp final : public TPXGeometricTransfromFilter {
public:
    explicit TPXWarp(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TQNOffset& LeftTopOffset() { return FLeftTopOffset; }
    TQNOffset& RightTopOffset() { return FRightTopOffset; }
    TQNOffset& LeftBottomOffset() { return FLeftBottomOffset; }
    TQNOffset& RightBottomOffset() { return FRightBottomOffset; }
    bool GetSmoothEdge() const { return ReadLocked(FSmoothEdge); }
    void SetSmoothEdge(bool value) { SetPublished(&TPXWarp::FSmoothEdge, value); }
    // True: the transform maps output pixels to input points (the quadrilateral of the input is
    // stretched onto the output's rectangle) instead of input to output.
    bool GetInverseTransform() const { return ReadLocked(FInverseTransform); }
    void SetInverseTransform(bool value) { SetPublished(&TPXWarp::FInverseTransform, value); }
    TPXWarpType GetWarpType() const { return ReadLocked(FWarpType); }
    void SetWarpType(TPXWarpType value) { SetPublished(&TPXWarp::FWarpType, value); }

    // The destination quadrilateral for a W × H source and a shift (ox, oy), corners in the order
    // top-left, top-right, bottom-right, bottom-left.
    void GetQuad(int width, int height, double ox, double oy, double quad[4][2]) const;
    // The shift of the current settings: the smallest left and top corner offsets when the
    // output is sized to the warped picture and the transform runs forward, else (0, 0).
    void GetShift(double& ox, double& oy) const;
    TBoundRect BoundingRect(int width, int height) const;

protected:
    TSize GetBoundingRect(int width, int height) const override;
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;
    bool BackgroundByBands() const override { return true; }

private:
    TQNOffset FLeftTopOffset, FRightTopOffset, FLeftBottomOffset, FRightBottomOffset;
    bool FSmoothEdge;
    bool FInverseTransform;
    TPXWarpType FWarpType;
};

namespace PXWarp {
void RegisterPkg();
}

}  // namespace pixora
