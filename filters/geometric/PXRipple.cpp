// The water simulation: two height fields with a one-cell border; each step spreads the current
// heights to the eight neighbours (edge neighbours weight 1, corners 0.6), subtracts the heights
// of the step before and damps. The slope of the surface displaces the picture.
#include "filters/geometric/PXRipple.h"

#include <algorithm>
#include <cmath>

#include "platform/kernels/Remap.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

// ---- TPXRain ------------------------------------------------------------------------------------

const TPropertyTable& TPXRain::Properties() {
    using T = TPXRain;
    static const TPropertyTable table = TPropertyTable::Of<T>("TPXRain", {
        Bool("Enabled", &T::FEnabled, {.Default = false}),
        Cardinal("MinRadius", &T::FMinRadius, {.Default = 1, .Min = 1}).Setter(&T::SetMinRadius),
        Cardinal("MaxRadius", &T::FMaxRadius, {.Default = 20, .Min = 1}).Setter(&T::SetMaxRadius),
        Float("MinDepth", &T::FMinDepth, {.Default = 50.0f, .Min = 1.0f}).Setter(&T::SetMinDepth),
        Float("MaxDepth", &T::FMaxDepth, {.Default = 400.0f, .Min = 1.0f}).Setter(&T::SetMaxDepth),
        Cardinal("Probability", &T::FProbability, {.Default = 2, .Min = 1}).Setter(&T::SetProbability),
        Cardinal("NumDrops", &T::FNumDrops, {.Default = 1, .Min = 1}).Setter(&T::SetNumDrops),
    });
    return table;
}

void TPXRain::SetMinRadius(uint32_t value) {
    std::lock_guard guard(GetLock());
    if (GetLock().NotifySetterMin(FMinRadius, value, 1u, "MinRadius") && FMaxRadius < FMinRadius)
        GetLock().NotifySetter(FMaxRadius, FMinRadius, nullptr, "MaxRadius");
}

void TPXRain::SetMaxRadius(uint32_t value) {
    std::lock_guard guard(GetLock());
    if (GetLock().NotifySetterMin(FMaxRadius, value, 1u, "MaxRadius") && FMinRadius > FMaxRadius)
        GetLock().NotifySetter(FMinRadius, FMaxRadius, nullptr, "MinRadius");
}

void TPXRain::SetMinDepth(float value) {
    std::lock_guard guard(GetLock());
    if (GetLock().NotifySetterMin(FMinDepth, value, 1.0f, "MinDepth") && FMaxDepth < FMinDepth)
        GetLock().NotifySetter(FMaxDepth, FMinDepth, nullptr, "MaxDepth");
}

void TPXRain::SetMaxDepth(float value) {
    std::lock_guard guard(GetLock());
    if (GetLock().NotifySetterMin(FMaxDepth, value, 1.0f, "MaxDepth") && FMinDepth > FMaxDepth)
        GetLock().NotifySetter(FMinDepth, FMaxDepth, nullptr, "MinDepth");
}

void TPXRain::Assign(const TPXRain& other) {
    std::scoped_lock guard(GetLock(), other.GetLock());
    SetEnabled(other.FEnabled);
    // Maxima first where they grow, so that the minimum rule does not move them.
    SetMaxRadius(std::max(other.FMaxRadius, FMaxRadius));
    SetMinRadius(other.FMinRadius);
    SetMaxRadius(other.FMaxRadius);
    SetMaxDepth(std::max(other.FMaxDepth, FMaxDepth));
    SetMinDepth(other.FMinDepth);
    SetMaxDepth(other.FMaxDepth);
    SetProbability(other.FProbability);
    SetNumDrops(other.FNumDrops);
}

// ---- TPXRipple ----------------------------------------------------------------------------------

const TPropertyTable& TPXRipple::Properties() {
    using T = TPXRipple;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXCommonROIGenFilter>("TPXRipple", {
        Enum("InterpolationType", &T::FInterpolationType, "TPXInterpolationType",
             {"itNearestNeighbor", "itLinear", "itCubic", "itSuper", "itLanczos"}, {.Default = itCubic}),
        Float("DampingFactor", &T::FDampingFactor, {.Default = 0.07f, .Min = 0.000001f, .Max = 1.0f})
            .Setter(&T::SetDampingFactor),
        Cardinal("Smoothing", &T::FSmoothing, {.Default = 8, .Min = 1}).Setter(&T::SetSmoothing),
        Object("Rain", &T::FRain),
    });
    return table;
}

TPXRipple::TPXRipple(TComponent* owner) : TPXCommonROIGenFilter(owner), FRain(GetLock()) {
    AutoInitProperties(Properties());
}

TPXRipple::~TPXRipple() { Stop(); }

void TPXRipple::SetDampingFactor(float value) {
    GetLock().NotifySetterMinMax(FDampingFactor, value, 0.000001f, 1.0f, "DampingFactor");
}

void TPXRipple::InitWave(int width, int height) {
    std::lock_guard guard(FWaveLock);
    width = std::max(width, 0), height = std::max(height, 0);
    const std::size_t cells = std::size_t(width + 2) * std::size_t(height + 2);
    for (auto& buffer : FWaves) buffer.assign(cells, 0.0);
    FXMap.assign(std::size_t(width) * std::size_t(height), 0.0f);
    FYMap.assign(std::size_t(width) * std::size_t(height), 0.0f);
    FWidth = width, FHeight = height;
    FActiveBuffer = 0;
    FHaveWaves = false;
}

void TPXRipple::EnsureWave(int width, int height) {
    bool same;
    {
        std::lock_guard guard(FWaveLock);
        same = FWidth == width && FHeight == height && !FWaves[0].empty();
    }
    if (!same) InitWave(width, height);
}

void TPXRipple::DropAt(int x, int y, int radius, double depth) {
    std::lock_guard guard(FWaveLock);
    DropAtLocked(x, y, radius, depth);
}

void TPXRipple::DropAtLocked(int x, int y, int radius, double depth) {
    ++FDrops;
    FHaveWaves = true;
    if (FWaves[0].empty() || radius <= 0) return;
    const int stride = FWidth + 2;
    std::vector<double>& c = FWaves[FActiveBuffer];
    constexpr double pi = 3.14159265358979323846;
    for (int oy = -radius; oy <= radius; ++oy)
        for (int ox = -radius; ox <= radius; ++ox) {
            const int64_t px = int64_t(x) + ox, py = int64_t(y) + oy;
            if (px < 0 || px >= FWidth + 1 || py < 0 || py >= FHeight + 1) continue;
            const double distance = std::sqrt(double(ox) * ox + double(oy) * oy);
            if (distance < radius)
                c[std::size_t(py * stride + px)] = -depth * std::cos(pi * distance / radius);
        }
}

void TPXRipple::ProcessWaves() {
    std::lock_guard guard(FWaveLock);
    ProcessWavesLocked();
}

void TPXRipple::ProcessWavesLocked() {
    bool rain;
    uint32_t drops, probability, minRadius, maxRadius;
    float minDepth, maxDepth, damping;
    {
        std::lock_guard guard(GetLock());
        rain = FRain.GetEnabled();
        drops = FRain.GetNumDrops();
        probability = FRain.GetProbability();
        minRadius = FRain.GetMinRadius();
        maxRadius = FRain.GetMaxRadius();
        minDepth = FRain.GetMinDepth();
        maxDepth = FRain.GetMaxDepth();
        damping = FDampingFactor;
    }
    if (FWaves[0].empty() || FWidth <= 0 || FHeight <= 0) return;
    auto below = [this](uint32_t n) { return n == 0 ? 0u : uint32_t(FRandom() % n); };
    if (rain)
        for (uint32_t i = 0; i < drops; ++i) {
            if (below(probability) != 0) continue;
            const double depth = minDepth + (maxDepth - minDepth) * double(below(2147483647u)) / 2147483647.0;
            const int radius = int(minRadius + below(maxRadius > minRadius ? maxRadius - minRadius : 0));
            const int y = int(below(uint32_t(FHeight))), x = int(below(uint32_t(FWidth)));
            DropAtLocked(x, y, radius, depth);
        }
    const std::size_t s = std::size_t(FWidth) + 2;
    const std::vector<double>& c = FWaves[FActiveBuffer];
    std::vector<double>& n = FWaves[(FActiveBuffer + 1) & 1];
    bool waves = false;
    for (int y = 0; y < FHeight; ++y) {
        const double* r0 = c.data() + std::size_t(y) * s;
        const double* r1 = r0 + s;
        const double* r2 = r1 + s;
        double* out = n.data() + (std::size_t(y) + 1) * s + 1;
        for (int x = 0; x < FWidth; ++x) {
            const double sum = 0.6 * r0[x] + r0[x + 1] + 0.6 * r0[x + 2] + r1[x] + r1[x + 2] + 0.6 * r2[x] +
                               r2[x + 1] + 0.6 * r2[x + 2];
            double v = sum / 3.6 - out[x];
            if (v != 0) {
                v = v - v * damping;
                waves = true;
            }
            out[x] = v;
        }
    }
    FHaveWaves = waves;
    FActiveBuffer = (FActiveBuffer + 1) & 1;
}

bool TPXRipple::Displacement(int x, int y, float smoothing, double& xo, double& yo) const {
    const std::size_t s = std::size_t(FWidth) + 2;
    const std::vector<double>& c = FWaves[FActiveBuffer];
    const std::size_t row1 = (std::size_t(y) + 1) * s;
    xo = (c[row1 + std::size_t(x)] - c[row1 + std::size_t(x) + 2]) / smoothing;
    yo = (c[std::size_t(y) * s + std::size_t(x) + 1] - c[(std::size_t(y) + 2) * s + std::size_t(x) + 1]) / smoothing;
    if (xo == 0 && yo == 0) return false;
    // Keep the source inside the frame.
    if (x + xo >= FWidth - 1) xo = FWidth - 1 - x;
    if (y + yo >= FHeight - 1) yo = FHeight - 1 - y;
    if (x + xo < 0) xo = -x;
    if (y + yo < 0) yo = -y;
    return true;
}

namespace {
uint8_t Shade(double xo) { return uint8_t(std::clamp(std::nearbyint(127 - xo), 0.0, 255.0)); }
}  // namespace

void TPXRipple::SetVideoFormat(const IPXImageBuffer& buffer) {
    // Every native format is turned into four channels per frame.
    const TPXVideoFormat format = buffer->GetFormat();
    if (format == vfRGB24 || format == vfRGBA32 || format == vfGray8 || format == vfGray16) return;
    TPXCommonROIGenFilter::SetVideoFormat(buffer);
}

void TPXRipple::StreamStart(const TLRStartFrameOperation& start) {
    TPXCommonROIGenFilter::StreamStart(start);
    InitWave(start.Width, start.Height);
}

TLRStartFrameOperation TPXRipple::OutputStart(const TLRStartFrameOperation& input) {
    TLRStartFrameOperation output = TPXCommonROIGenFilter::OutputStart(input);
    output.Format = vfRGBA32;
    return output;
}

void TPXRipple::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    const int w = in->GetWidth(), h = in->GetHeight();
    IPXImageBuffer src = in;
    if (src->GetFormat() != vfRGBA32) {
        src = TPXImageBuffer::CreateCopy(in);
        src->ConvertToFormat(vfRGBA32);
    }
    out = TPXImageBuffer::CreateCopy(src);
    out->SetTimeStamp(in->GetTimeStamp());
    out->FillChannel4(127);
    EnsureWave(w, h);
    const bool roiEnabled = RegionOfInterest().GetEnabled();
    const TRect roi = RegionRect(w, h);
    const float smoothing = float(GetSmoothing());
    // The remap of the ripple always runs with cubic interpolation.
    SetInterpolationType(itCubic);
    const int flag = 1 << int(GetInterpolationType());
    View<uint8_t> dst = out->WriteView<uint8_t>(true);
    {
        std::lock_guard guard(FWaveLock);
        ProcessWavesLocked();
        if (!FHaveWaves) return;  // a still surface: the picture as it is
        for (int y = 0; y < h; ++y) {
            float* mx = FXMap.data() + std::size_t(y) * std::size_t(w);
            float* my = FYMap.data() + std::size_t(y) * std::size_t(w);
            uint8_t* row = dst.Row(y);
            const bool rowInside = y >= roi.Y && y < roi.Y + roi.Height;
            for (int x = 0; x < w; ++x) {
                double xo, yo;
                if (!Displacement(x, y, smoothing, xo, yo)) {
                    mx[x] = float(x), my[x] = float(y);
                    continue;
                }
                mx[x] = float(x + xo), my[x] = float(y + yo);
                if (!roiEnabled || (rowInside && x >= roi.X && x < roi.X + roi.Width)) row[x * 4 + 3] = Shade(xo);
            }
        }
    }
    // The colour channels resampled from the input; the fourth keeps the shade.
    kernels::Remap<uint8_t>(src->ReadView<uint8_t>(), roi, FXMap.data(), w, FYMap.data(), w, dst, flag, 3);
}

void TPXRipple::IntStart() {
    const TSize size = GetImageSize();
    InitWave(size.Width, size.Height);
}

bool TPXRipple::GenerateFrame(IPXImageBuffer& frame) {
    const int w = frame->GetWidth(), h = frame->GetHeight();
    EnsureWave(w, h);
    View<uint8_t> dst = frame->WriteView<uint8_t>(false);
    const float smoothing = float(GetSmoothing());
    std::lock_guard guard(FWaveLock);
    for (int y = 0; y < h; ++y) std::fill_n(dst.Row(y), std::size_t(dst.Width) * std::size_t(dst.Channels), uint8_t(127));
    ProcessWavesLocked();
    if (!FHaveWaves) return true;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = dst.Row(y);
        for (int x = 0; x < w; ++x) {
            double xo, yo;
            if (Displacement(x, y, smoothing, xo, yo)) row[x] = Shade(xo);
        }
    }
    return true;
}

TSize TPXRipple::WaveSize() const {
    std::lock_guard guard(FWaveLock);
    return {FWidth, FHeight};
}

std::vector<double> TPXRipple::CurrentWaves() const {
    std::lock_guard guard(FWaveLock);
    return FWaves[FActiveBuffer];
}

std::vector<double> TPXRipple::PreviousWaves() const {
    std::lock_guard guard(FWaveLock);
    return FWaves[(FActiveBuffer + 1) & 1];
}

bool TPXRipple::HaveWaves() const {
    std::lock_guard guard(FWaveLock);
    return FHaveWaves;
}

long TPXRipple::DropsMade() const {
    std::lock_guard guard(FWaveLock);
    return FDrops;
}

void PXRipple::RegisterPkg() {
    RegisterComponents<TPXRipple>({"TPixoraFiltersToolbarCategory", "TPixoraGeneratorsToolbarCategory"},
                                  "Water Ripple Effect Video Filter");
}

}  // namespace pixora
