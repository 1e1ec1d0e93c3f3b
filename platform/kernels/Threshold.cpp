// Thresholds over rows: the per-channel levels are laid out as one period of the row's channel
// pattern (channels x 32 samples), so the inner loop is a plain vectorizable select.
#include "platform/kernels/Threshold.h"
#include "platform/base/PXTargetClones.h"

#include <cstddef>

#include "platform/kernels/Point.h"

namespace pixora::kernels {

namespace {

// channels x 32 samples: a whole number of pixels and of 32-byte vectors.
constexpr std::size_t KMaxPeriod = 4 * 32;

struct TPattern {
    std::size_t Period;
    uint8_t LowerLevel[KMaxPeriod], LowerValue[KMaxPeriod], UpperLevel[KMaxPeriod], UpperValue[KMaxPeriod];
};

[[gnu::always_inline]] inline uint8_t Select(uint8_t s, uint8_t lowerLevel, uint8_t lowerValue, uint8_t upperLevel,
                                             uint8_t upperValue) noexcept {
    const uint8_t above = s > upperLevel ? upperValue : s;
    return s < lowerLevel ? lowerValue : above;
}

// Samples [i, n) of a run that starts at the first sample of the pattern, one at a time.
[[gnu::always_inline]] inline void Tail(const uint8_t* s, uint8_t* d, std::size_t i, std::size_t n,
                                        const TPattern& p) noexcept {
    for (std::size_t j = i % p.Period; i < n; ++i) {
        d[i] = Select(s[i], p.LowerLevel[j], p.LowerValue[j], p.UpperLevel[j], p.UpperValue[j]);
        if (++j == p.Period) j = 0;
    }
}

template <std::size_t KPeriod>
[[gnu::always_inline]] inline void Periods(const uint8_t* __restrict s, uint8_t* __restrict d, std::size_t n,
                                           const TPattern& p) noexcept {
    std::size_t i = 0;
    for (; i + KPeriod <= n; i += KPeriod)
        for (std::size_t j = 0; j < KPeriod; ++j)
            d[i + j] = Select(s[i + j], p.LowerLevel[j], p.LowerValue[j], p.UpperLevel[j], p.UpperValue[j]);
    Tail(s, d, i, n, p);
}

// Cloned for AVX2 and the x86-64 baseline; the loader picks the clone by the CPU.
PIXORA_TARGET_CLONES("avx2", "default")
void ThresholdRow(const uint8_t* s, uint8_t* d, std::size_t n, const TPattern& p) noexcept {
    if (s == d) {  // in place: the restrict-qualified bodies need distinct rows
        Tail(s, d, 0, n, p);
        return;
    }
    switch (p.Period) {
    case 32: Periods<32>(s, d, n, p); break;
    case 96: Periods<96>(s, d, n, p); break;
    case 128: Periods<128>(s, d, n, p); break;
    default: Periods<64>(s, d, n, p); break;
    }
}

}  // namespace

void Threshold8(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TThresholdLimits& limits) noexcept {
    const int channels = dst.Channels;
    if (channels < 1 || channels > 4) return;
    TPattern pattern;
    pattern.Period = std::size_t(channels) * 32;
    for (std::size_t j = 0; j < pattern.Period; ++j) {
        const std::size_t c = j % std::size_t(channels);
        pattern.LowerLevel[j] = limits.LowerLevel[c];
        pattern.LowerValue[j] = limits.LowerValue[c];
        pattern.UpperLevel[j] = limits.UpperLevel[c];
        pattern.UpperValue[j] = limits.UpperValue[c];
    }
    detail::ForEachRun(src, dst, r, [&](const uint8_t* s, uint8_t* d, std::size_t n) { ThresholdRow(s, d, n, pattern); });
}

}  // namespace pixora::kernels
