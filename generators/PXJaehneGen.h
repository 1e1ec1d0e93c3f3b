// Generates the Jaehne test pattern: concentric rings whose frequency rises with the distance
// from the centre, the same in all three channels.
#pragma once

#include "platform/filters/PXCommonGen.h"
#include "platform/props/PXCommonObjects.h"

namespace pixora {

class TPXJaehneGen final : public TPXCommonGen {
public:
    explicit TPXJaehneGen(TComponent* owner = nullptr);
    ~TPXJaehneGen() override { Stop(); }
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXImageSize& ImageSize() { return FImageSize; }

protected:
    TSize GetImageSize() const override { return FImageSize.GetSize(); }
    TPXVideoFormat GetVideoFormat() const override { return vfRGB24; }
    bool GenerateFrame(IPXImageBuffer& frame) override;

private:
    TPXImageSize FImageSize;
};

namespace PXJaehneGen {
void RegisterPkg();
}

}  // namespace pixora
