#include "filters/combine/PXApplyAlpha.h"

#include "platform/kernels/Combine.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

TPXApplyAlpha::TPXApplyAlpha(TComponent* owner) : TPXCommonCombine(owner), FPins(this, "Inputs") {
    AutoInitProperties(Properties());
    CreateInputPins(FPins, "InputPin", "AlphaInputPin");
}

TPXApplyAlpha::~TPXApplyAlpha() { ShutdownMultiInput(); }

const TPropertyTable& TPXApplyAlpha::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXApplyAlpha, TPXCommonCombine>("TPXApplyAlpha", {});
    return table;
}

TPXVideoFormat TPXApplyAlpha::GetFormat2(const IPXImageBuffer& frame) const {
    return frame && frame->GetFormat() == vfRGBA32 ? vfRGBA32 : vfGray8;
}

void TPXApplyAlpha::DoCombineOp(uint8_t* src1, std::ptrdiff_t src1Step, uint8_t* src2, std::ptrdiff_t src2Step,
                                uint8_t* dst, std::ptrdiff_t dstStep, TSize size, int) {
    if (src1 == nullptr || src2 == nullptr || dst == nullptr) return;
    kernels::ApplyAlphaOp(src1, src1Step, src2, Frame2Format() == vfRGBA32 ? 4 : 1, src2Step, dst, dstStep, size);
}

void PXApplyAlpha::RegisterPkg() {
    RegisterComponents<TPXApplyAlpha>({"TPixoraFiltersToolbarCategory"}, "Combine Video with Alpha Transparency");
}

}  // namespace pixora
