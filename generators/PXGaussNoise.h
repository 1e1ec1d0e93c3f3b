// Adds normally distributed noise (Mean, StDev) to every sample of the region (alpha stays), or
// generates frames of Gaussian noise.
#pragma once

#include "generators/PXBasicNoise.h"

namespace pixora {

class TPXGaussNoise final : public TPXBasicNoise {
public:
    explicit TPXGaussNoise(TComponent* owner = nullptr);
    ~TPXGaussNoise() override { Stop(); }
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    uint8_t GetMean() const { return ReadLocked(FMean); }
    uint8_t GetStDev() const { return ReadLocked(FStDev); }
    uint16_t GetSeed() const { return ReadLocked(FSeed); }
    void SetMean(uint8_t value) { SetPublished(&TPXGaussNoise::FMean, value); }
    void SetStDev(uint8_t value) { SetPublished(&TPXGaussNoise::FStDev, value); }
    void SetSeed(uint16_t value) { SetPublished(&TPXGaussNoise::FSeed, value); }

protected:
    uint16_t InitialSeed() const override { return GetSeed(); }
    void AddNoise(IPXImageBuffer& frame, const TRect& rect, bool alphaToo, uint16_t seed) override;

private:
    uint8_t FMean, FStDev;
    uint16_t FSeed;
};

namespace PXGaussNoise {
void RegisterPkg();
}

}  // namespace pixora
