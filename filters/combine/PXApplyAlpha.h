// Gives a video an alpha channel from a second stream: the output (always vfRGBA32) takes its
// colour from the first input and its alpha from the second input's alpha channel (vfRGBA32
// frames) or its grey level (any other format, used as vfGray8).
#pragma once

#include "platform/filters/PXCommonCombine.h"

namespace pixora {

class TPXApplyAlpha final : public TPXCommonCombine {
public:
    explicit TPXApplyAlpha(TComponent* owner = nullptr);
    ~TPXApplyAlpha() override;
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

protected:
    void DoCombineOp(uint8_t* src1, std::ptrdiff_t src1Step, uint8_t* src2, std::ptrdiff_t src2Step, uint8_t* dst,
                     std::ptrdiff_t dstStep, TSize size, int pixelBytes) override;
    TPXVideoFormat GetFormat2(const IPXImageBuffer& frame) const override;
    bool DoCopyStream2() const override { return false; }
    TPXVideoFormat OutputFormat(TPXVideoFormat) const override { return vfRGBA32; }

private:
    TLRPinList FPins;
};

namespace PXApplyAlpha {
void RegisterPkg();
}

}  // namespace pixora
