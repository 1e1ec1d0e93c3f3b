// Adds uniformly distributed noise in [Low, High] to every sample of the region (alpha stays),
// or generates frames of uniform noise.
#pragma once

#include "generators/PXBasicNoise.h"

namespace pixora {

class TPXUniformNoise final : public TPXBasicNoise {
public:
    explicit TPXUniformNoise(TComponent* owner = nullptr);
    ~TPXUniformNoise() override { Stop(); }
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    uint8_t GetLow() const { return ReadLocked(FLow); }
    uint8_t GetHigh() const { return ReadLocked(FHigh); }
    uint16_t GetSeed() const { return ReadLocked(FSeed); }
    // Low above High raises High to it; High below Low lowers Low to it.
    void SetLow(uint8_t value);
    void SetHigh(uint8_t value);
    void SetSeed(uint16_t value) { SetPublished(&TPXUniformNoise::FSeed, value); }

protected:
    uint16_t InitialSeed() const override { return GetSeed(); }
    void AddNoise(IPXImageBuffer& frame, const TRect& rect, bool alphaToo, uint16_t seed) override;

private:
    uint8_t FLow, FHigh;
    uint16_t FSeed;
};

namespace PXUniformNoise {
void RegisterPkg();
}

}  // namespace pixora
