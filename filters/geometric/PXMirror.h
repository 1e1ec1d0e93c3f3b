// Flips the frame or its region of interest about the horizontal axis, the vertical axis or both.
#pragma once

#include "platform/filters/PXROIFilters.h"

namespace pixora {

// mtHorizontal flips about the horizontal axis (the rows swap: top becomes bottom), mtVertical
// about the vertical axis (left becomes right), mtBoth does both, a 180° turn.
enum TPXMirrorType : uint8_t { mtHorizontal, mtVertical, mtBoth };

class TPXMirror final : public TPXCommonROIFilter {
public:
    explicit TPXMirror(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXMirrorType GetMirrorType() const { return ReadLocked(FMirrorType); }
    void SetMirrorType(TPXMirrorType value) { SetPublished(&TPXMirror::FMirrorType, value); }

protected:
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;

private:
    TPXMirrorType FMirrorType;
};

namespace PXMirror {
void RegisterPkg();
}

}  // namespace pixora
