// The base of the noise components: noise added to incoming frames inside the region of
// interest, or, with nothing connected, frames of the background colour with noise on all four
// channels. The working seed restarts from Seed at every stream start.
#pragma once

#include "platform/filters/PXROIGenFilter.h"

namespace pixora {

class TPXBasicNoise : public TPXCommonROIGenFilter {
public:
    explicit TPXBasicNoise(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TColor GetBackgroundColor() const { return ReadLocked(FBackgroundColor); }
    void SetBackgroundColor(TColor value) { SetPublished(&TPXBasicNoise::FBackgroundColor, value); }
    uint16_t GetWorkingSeed() const { return ReadLocked(FWorkingSeed); }

protected:
    // The seed every stream starts from (the derived component's Seed).
    virtual uint16_t InitialSeed() const = 0;
    // Adds the component's noise in place over rect: the colour channels (alphaToo adds it to
    // the alpha of a vfRGBA32 frame too), one draw per sample from seed.
    virtual void AddNoise(IPXImageBuffer& frame, const TRect& rect, bool alphaToo, uint16_t seed) = 0;

    bool CanInline() const override { return true; }
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void StreamStart(const TLRStartFrameOperation& start) override;
    void IntStart() override { ResetSeed(); }
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;
    bool GenerateFrame(IPXImageBuffer& frame) override;

    // The parameter as the 16-bit functions take it: value × 256, at most 65535.
    static int Scale16(int value) { return std::min(value * 256, 65535); }

private:
    void ResetSeed();
    uint16_t TakeSeed();  // the working seed for this call; advances it

    TColor FBackgroundColor;
    uint16_t FWorkingSeed = 0;
};

}  // namespace pixora
