// Slants the frame (or its region of interest) horizontally and vertically by pixel amounts.
#pragma once

#include "platform/filters/PXROIFilters.h"

namespace pixora {

class TPXShear final : public TPXGeometricTransfromFilter {
public:
    explicit TPXShear(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    // Horizontal displacement, in pixels, of the last row against the first.
    int GetXShear() const { return ReadLocked(FXShear); }
    void SetXShear(int32_t value) { SetPublished(&TPXShear::FXShear, value); }
    // Vertical displacement, in pixels, of the last column against the first.
    int GetYShear() const { return ReadLocked(FYShear); }
    void SetYShear(int32_t value) { SetPublished(&TPXShear::FYShear, value); }
    bool GetSmoothEdge() const { return ReadLocked(FSmoothEdge); }
    void SetSmoothEdge(bool value) { SetPublished(&TPXShear::FSmoothEdge, value); }

    // The sheared W × H frame's bounding rectangle (centred by the half shears).
    TBoundRect BoundingRect(int width, int height) const;

protected:
    TSize GetBoundingRect(int width, int height) const override;
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;
    bool BackgroundByBands() const override { return true; }

private:
    int32_t FXShear, FYShear;
    bool FSmoothEdge;
};

namespace PXShear {
void RegisterPkg();
}

}  // namespace pixora
