// Water ripple: a wave simulation over the frame (drops placed by the application or by random
// rain) whose surface slope displaces the picture; the fourth channel carries a shade of the
// slope. Without an input it generates the shade alone as a grey frame.
#pragma once

#include <mutex>
#include <random>
#include <vector>

#include "platform/filters/PXROIFilters.h"
#include "platform/filters/PXROIGenFilter.h"

namespace pixora {

// Random drops: each frame, NumDrops tries, each dropping with probability 1 / Probability, of a
// radius in MinRadius .. MaxRadius and a depth in MinDepth .. MaxDepth.
class TPXRain final : public TLockPersistent {
public:
    explicit TPXRain(TChangeNotifyLock& lock) : TLockPersistent(lock) { AutoInitProperties(Properties()); }
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    bool GetEnabled() const { return ReadLocked(FEnabled); }
    void SetEnabled(bool value) { SetPublished(&TPXRain::FEnabled, value); }
    uint32_t GetMinRadius() const { return ReadLocked(FMinRadius); }
    uint32_t GetMaxRadius() const { return ReadLocked(FMaxRadius); }
    float GetMinDepth() const { return ReadLocked(FMinDepth); }
    float GetMaxDepth() const { return ReadLocked(FMaxDepth); }
    uint32_t GetProbability() const { return ReadLocked(FProbability); }
    uint32_t GetNumDrops() const { return ReadLocked(FNumDrops); }
    // Each value is raised to its lower bound (1, or 1.0 for depths). A minimum set above its
    // maximum raises the maximum with it; a maximum set below its minimum lowers the minimum.
    void SetMinRadius(uint32_t value);
    void SetMaxRadius(uint32_t value);
    void SetMinDepth(float value);
    void SetMaxDepth(float value);
    void SetProbability(uint32_t value) { GetLock().NotifySetterMin(FProbability, value, 1u, "Probability"); }
    void SetNumDrops(uint32_t value) { GetLock().NotifySetterMin(FNumDrops, value, 1u, "NumDrops"); }
    void Assign(const TPXRain& other);

private:
    bool FEnabled;
    uint32_t FMinRadius, FMaxRadius;
    float FMinDepth, FMaxDepth;
    uint32_t FProbability, FNumDrops;
};

class TPXRipple final : public TPXCommonROIGenFilter {
public:
    explicit TPXRipple(TComponent* owner = nullptr);
    ~TPXRipple() override;
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXInterpolationType GetInterpolationType() const { return ReadLocked(FInterpolationType); }
    void SetInterpolationType(TPXInterpolationType value) { SetPublished(&TPXRipple::FInterpolationType, value); }
    // Clamped to 0.000001 .. 1.0.
    float GetDampingFactor() const { return ReadLocked(FDampingFactor); }
    void SetDampingFactor(float value);
    // Divisor of the wave slope; raised to at least 1.
    uint32_t GetSmoothing() const { return ReadLocked(FSmoothing); }
    void SetSmoothing(uint32_t value) { GetLock().NotifySetterMin(FSmoothing, value, 1u, "Smoothing"); }
    TPXRain& Rain() { return FRain; }

    // Puts a drop of radius r and depth d centred on (x, y) of the padded wave grid into the
    // current heights; it shows in the next frame's step. Safe while frames run.
    void DropAt(int x, int y, int radius, double depth);
    // (Re)allocates the wave field and maps for a w × h frame, all zero.
    void InitWave(int width, int height);
    // One simulation step: rain, then propagation into the other buffer.
    void ProcessWaves();

    // Inspection of the simulation: the field size, the current and previous heights (padded
    // grid, row stride width + 2), whether any wave is active, drops made so far.
    TSize WaveSize() const;
    std::vector<double> CurrentWaves() const;
    std::vector<double> PreviousWaves() const;
    bool HaveWaves() const;
    long DropsMade() const;

protected:
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void StreamStart(const TLRStartFrameOperation& start) override;
    TLRStartFrameOperation OutputStart(const TLRStartFrameOperation& input) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;
    void IntStart() override;
    TPXVideoFormat GetVideoFormat() const override { return vfGray8; }
    bool GenerateFrame(IPXImageBuffer& frame) override;

private:
    // A frame of another size than the field starts a new, still field.
    void EnsureWave(int width, int height);
    void DropAtLocked(int x, int y, int radius, double depth);
    void ProcessWavesLocked();
    // The clamped displacement of pixel (x, y) by the current slope; false when there is none.
    bool Displacement(int x, int y, float smoothing, double& xo, double& yo) const;

    TPXInterpolationType FInterpolationType;
    float FDampingFactor;
    uint32_t FSmoothing;
    TPXRain FRain;

    // The simulation, guarded by its own lock (frames, DropAt and the generator share it).
    mutable std::mutex FWaveLock;
    bool FHaveWaves = false;
    std::vector<double> FWaves[2];
    int FActiveBuffer = 0;
    int FWidth = 0, FHeight = 0;
    std::vector<float> FXMap, FYMap;
    std::mt19937 FRandom{20240611u};
    long FDrops = 0;
};

namespace PXRipple {
void RegisterPkg();
}

}  // namespace pixora
