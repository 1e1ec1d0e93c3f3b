#include "filters/combine/PXTransparentColor.h"

#include <cstdio>

#include "platform/registry/PXRegistry.h"

namespace pixora {

// ---- TPXColorRange ---------------------------------------------------------------------------

TPXColorRange::TPXColorRange(TChangeNotifyLock& lock) : TLockPersistent(lock) {
    AutoInitProperties(Properties());
    CalcRange();
}

const TPropertyTable& TPXColorRange::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXColorRange>("TPXColorRange", {
        Color("Color", &TPXColorRange::FColor, {.Default = 32768}).FollowUp(&TPXColorRange::CalcRange),
        Int("ToleranceRed", &TPXColorRange::FToleranceRed, {.Default = 5}).FollowUp(&TPXColorRange::CalcRange),
        Int("ToleranceGreen", &TPXColorRange::FToleranceGreen, {.Default = 5}).FollowUp(&TPXColorRange::CalcRange),
        Int("ToleranceBlue", &TPXColorRange::FToleranceBlue, {.Default = 5}).FollowUp(&TPXColorRange::CalcRange),
    });
    return table;
}

void TPXColorRange::CalcRange() {
    std::lock_guard guard(GetLock());
    const auto bounds = [](int byte, int tolerance, int& low, int& high) {
        low = tolerance >= byte ? 0 : byte - tolerance;
        high = tolerance >= 255 - byte ? 255 : byte + tolerance;
    };
    bounds(KDGetRValue(FColor), FToleranceBlue, FBounds.RedLow, FBounds.RedHigh);
    bounds(KDGetGValue(FColor), FToleranceGreen, FBounds.GreenLow, FBounds.GreenHigh);
    bounds(KDGetBValue(FColor), FToleranceRed, FBounds.BlueLow, FBounds.BlueHigh);
}

kernels::TColorKeyRange TPXColorRange::GetBounds() const { return ReadLocked(FBounds); }

bool TPXColorRange::InRage(int red, int green, int blue) const {
    const kernels::TColorKeyRange b = GetBounds();
    return red >= b.RedLow && red <= b.RedHigh && green >= b.GreenLow && green <= b.GreenHigh && blue >= b.BlueLow &&
           blue <= b.BlueHigh;
}

std::string TPXColorRange::GetDisplayName() const {
    const TColor c = GetColor();
    char text[32];
    std::snprintf(text, sizeof text, "$%08X", unsigned(c));
    return text;
}

bool ColorRangesInRage(TPXColorRanges& ranges, int red, int green, int blue) {
    for (int i = 0; i < ranges.Count(); ++i)
        if (ranges[i].InRage(red, green, blue)) return true;
    return false;
}

// ---- TPXTransparentColor ---------------------------------------------------------------------

TPXTransparentColor::TPXTransparentColor(TComponent* owner)
    : TPXCommonCombine(owner), FPins(this, "Inputs"), FTransparentRanges(GetLock()) {
    AutoInitProperties(Properties());
    CreateInputPins(FPins, "InputPin", "BackgroundInputPin");
}

TPXTransparentColor::~TPXTransparentColor() { ShutdownMultiInput(); }

const TPropertyTable& TPXTransparentColor::Properties() {
    static const TPropertyTable table =
        TPropertyTable::Of<TPXTransparentColor, TPXCommonCombine>("TPXTransparentColor", {
            StoredWhenNotEmpty(Collection("TransparentColors", &TPXTransparentColor::FTransparentRanges)),
            Bool("Enabled", &TPXTransparentColor::FEnabled, {.Default = true}),
        });
    return table;
}

void TPXTransparentColor::BeginFrame(TPXVideoFormat) {
    FFrameRanges.clear();
    for (int i = 0; i < FTransparentRanges.Count(); ++i) FFrameRanges.push_back(FTransparentRanges[i].GetBounds());
}

void TPXTransparentColor::DoCombineOp(uint8_t* src1, std::ptrdiff_t src1Step, uint8_t* src2, std::ptrdiff_t src2Step,
                                      uint8_t* dst, std::ptrdiff_t dstStep, TSize size, int) {
    if (src1 == nullptr || src2 == nullptr || dst == nullptr) return;
    kernels::TransparentColorOp(FrameFormat(), src1, src1Step, src2, src2Step, dst, dstStep, size, FFrameRanges.data(),
                                int(FFrameRanges.size()));
}

void PXTransparentColor::RegisterPkg() {
    RegisterComponents<TPXTransparentColor>({"TPixoraFiltersToolbarCategory"},
                                            "Combine Videos with Color Transparency(Green Screeen)");
}

}  // namespace pixora
