// Forward or inverse BT.709 gamma correction of the colour channels; alpha passes through.
#pragma once

#include "platform/filters/PXCommonFilter.h"

namespace pixora {

enum TPXGammaType : uint8_t { gtForward, gtInverse };

class TPXGammaFilter final : public TPXCommonFilter {
public:
    explicit TPXGammaFilter(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXGammaType GetGammaType() const { return ReadLocked(FGammaType); }
    void SetGammaType(TPXGammaType value) { SetPublished(&TPXGammaFilter::FGammaType, value); }

protected:
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;

private:
    TPXGammaType FGammaType;
};

namespace PXGammaFilter {
void RegisterPkg();
}

}  // namespace pixora
