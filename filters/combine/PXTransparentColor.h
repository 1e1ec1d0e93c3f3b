// Green-screen keying of two streams: wherever the first input's pixel matches one of the key
// colour ranges, the background input shows through (vfRGBA32 also blends by the first
// input's alpha).
#pragma once

#include <string>
#include <vector>

#include "platform/filters/PXCommonCombine.h"
#include "platform/kernels/Combine.h"

namespace pixora {

// One key colour with a tolerance per channel. The bounds it keys are derived whenever Color or
// a tolerance changes: red within r -+ ToleranceBlue, green within g -+ ToleranceGreen, blue
// within b -+ ToleranceRed (the red and blue tolerances act on the opposite channel), a lower
// bound being 0 once the tolerance reaches the byte and an upper bound 255 once it reaches
// 255 minus the byte.
class TPXColorRange final : public TLockPersistent {
public:
    explicit TPXColorRange(TChangeNotifyLock& lock);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TColor GetColor() const { return ReadLocked(FColor); }
    void SetColor(TColor value) { SetPublished(&TPXColorRange::FColor, value); }
    int32_t GetToleranceRed() const { return ReadLocked(FToleranceRed); }
    void SetToleranceRed(int32_t value) { SetPublished(&TPXColorRange::FToleranceRed, value); }
    int32_t GetToleranceGreen() const { return ReadLocked(FToleranceGreen); }
    void SetToleranceGreen(int32_t value) { SetPublished(&TPXColorRange::FToleranceGreen, value); }
    int32_t GetToleranceBlue() const { return ReadLocked(FToleranceBlue); }
    void SetToleranceBlue(int32_t value) { SetPublished(&TPXColorRange::FToleranceBlue, value); }

    // The text the designer shows for the item: its colour.
    std::string GetDisplayName() const;
    // The derived bounds.
    kernels::TColorKeyRange GetBounds() const;
    // Whether a pixel of these red, green, blue samples lies within the bounds.
    bool InRage(int red, int green, int blue) const;

private:
    void CalcRange();

    TColor FColor;
    int32_t FToleranceRed, FToleranceGreen, FToleranceBlue;
    kernels::TColorKeyRange FBounds;
};

// The key colours, tested in order.
using TPXColorRanges = TCollection<TPXColorRange>;

// True when at least one range contains the pixel; an empty list contains nothing.
bool ColorRangesInRage(TPXColorRanges& ranges, int red, int green, int blue);

class TPXTransparentColor final : public TPXCommonCombine {
public:
    explicit TPXTransparentColor(TComponent* owner = nullptr);
    ~TPXTransparentColor() override;
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXColorRanges& GetTransparentColors() { return FTransparentRanges; }
    // Stored with the component; keying does not depend on it.
    bool GetEnabled() const { return ReadLocked(FEnabled); }
    void SetEnabled(bool value) { SetPublished(&TPXTransparentColor::FEnabled, value); }

protected:
    void DoCombineOp(uint8_t* src1, std::ptrdiff_t src1Step, uint8_t* src2, std::ptrdiff_t src2Step, uint8_t* dst,
                     std::ptrdiff_t dstStep, TSize size, int pixelBytes) override;
    void BeginFrame(TPXVideoFormat format) override;

private:
    TLRPinList FPins;
    TPXColorRanges FTransparentRanges;
    bool FEnabled;
    std::vector<kernels::TColorKeyRange> FFrameRanges;  // the frame's snapshot of the ranges
};

namespace PXTransparentColor {
void RegisterPkg();
}

}  // namespace pixora
