// Table building from (level, value) pairs, and the table mapping of 8-bit rows (one byte
// permutation per 64 samples where the CPU has AVX-512 VBMI, a scalar loop elsewhere) and of
// 16-bit rows.
#include "platform/kernels/Lookup.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "platform/kernels/Point.h"

namespace pixora::kernels {

namespace {

// num / den rounded to the nearest integer, halves away from zero; den > 0.
__int128 RoundedQuotient(__int128 num, __int128 den) noexcept {
    return num >= 0 ? (2 * num + den) / (2 * den) : -((-2 * num + den) / (2 * den));
}

template <class T>
T Saturate(__int128 v) noexcept {
    return v < 0 ? T(0) : v > __int128(SampleMax<T>) ? SampleMax<T> : T(v);
}

template <class T>
T SaturateRounded(double v) noexcept {
    if (!(v > 0.0)) return T(0);  // NaN cannot arise (levels differ); negative values saturate
    if (v >= double(SampleMax<T>)) return SampleMax<T>;
    return T(std::round(v));  // halves away from zero
}

// The Lagrange polynomial through n points (distinct xs), evaluated at v.
double Lagrange(const double* xs, const double* ys, int n, double v) noexcept {
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        double term = ys[i];
        for (int j = 0; j < n; ++j)
            if (j != i) term *= (v - xs[j]) / (xs[i] - xs[j]);
        sum += term;
    }
    return sum;
}

// The samples of T inside [from, to), clipped to the sample range: first and one past last.
template <class T>
std::pair<int64_t, int64_t> SamplesIn(int64_t from, int64_t to) noexcept {
    return {std::max<int64_t>(from, 0), std::min<int64_t>(to, int64_t(SampleMax<T>) + 1)};
}

}  // namespace

template <class T>
void BuildLevelTable(const int32_t* levels, const int32_t* values, int count, TLevelInterpolation mode, T* table) {
    for (int64_t v = 0; v <= int64_t(SampleMax<T>); ++v) table[v] = T(v);
    if (count < 2) return;

    if (mode != TLevelInterpolation::Cubic) {
        // Interval k is [levels[k], levels[k + 1]); intervals between equal levels are empty.
        for (int k = 0; k + 1 < count; ++k) {
            const auto [first, end] = SamplesIn<T>(levels[k], levels[k + 1]);
            for (int64_t v = first; v < end; ++v) {
                if (mode == TLevelInterpolation::Step) {
                    table[v] = Saturate<T>(values[k]);
                } else {
                    // The whole value as one fraction, so that its halves round away from zero.
                    const __int128 den = int64_t(levels[k + 1]) - levels[k];
                    const __int128 num = __int128(values[k]) * den +
                                         __int128(v - levels[k]) * (int64_t(values[k + 1]) - values[k]);
                    table[v] = Saturate<T>(RoundedQuotient(num, den));
                }
            }
        }
        return;
    }

    // Cubic: one point per level (the last pair of that level).
    std::vector<double> xs, ys;
    xs.reserve(std::size_t(count));
    ys.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        if (!xs.empty() && xs.back() == double(levels[i])) {
            ys.back() = values[i];
        } else {
            xs.push_back(levels[i]);
            ys.push_back(values[i]);
        }
    }
    const int points = int(xs.size());
    const int window = std::min(points, 4);
    for (int k = 0; k + 1 < points; ++k) {
        // Pairs k - 1 .. k + 2, moved inside the table near its ends.
        const int start = std::clamp(k - 1, 0, points - window);
        const auto [first, end] = SamplesIn<T>(int64_t(xs[std::size_t(k)]), int64_t(xs[std::size_t(k) + 1]));
        for (int64_t v = first; v < end; ++v)
            table[v] = SaturateRounded<T>(Lagrange(&xs[std::size_t(start)], &ys[std::size_t(start)], window, double(v)));
    }
}

template void BuildLevelTable<uint8_t>(const int32_t*, const int32_t*, int, TLevelInterpolation, uint8_t*);
template void BuildLevelTable<uint16_t>(const int32_t*, const int32_t*, int, TLevelInterpolation, uint16_t*);

template <class T>
bool IsIdentityTable(const T* table) noexcept {
    for (int64_t v = 0; v <= int64_t(SampleMax<T>); ++v)
        if (table[v] != T(v)) return false;
    return true;
}

template bool IsIdentityTable<uint8_t>(const uint8_t*) noexcept;
template bool IsIdentityTable<uint16_t>(const uint16_t*) noexcept;

namespace {

using TRowFn = void (*)(const uint8_t* s, uint8_t* d, std::size_t n, int channels, const uint8_t* const t[4]);

// The identity, standing in for a null table.
const uint8_t* IdentityTable() noexcept {
    static const auto table = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i) t[std::size_t(i)] = uint8_t(i);
        return t;
    }();
    return table.data();
}

// Samples [i, n) of a run that starts at channel 0, one at a time.
void LookupTail(const uint8_t* s, uint8_t* d, std::size_t i, std::size_t n, int channels,
                const uint8_t* const t[4]) noexcept {
    for (; i < n; ++i) d[i] = t[i % std::size_t(channels)][s[i]];
}

}  // namespace

namespace detail {

// One table lookup per sample. GCC's vectorizer would turn the one-channel loop into gathers,
// which are slower than plain loads here.
__attribute__((optimize("no-tree-vectorize")))
void LookupRowScalar(const uint8_t* s, uint8_t* d, std::size_t n, int channels, const uint8_t* const t[4]) {
    std::size_t i = 0;
    switch (channels) {
    case 1: {
        const uint8_t* t0 = t[0];
        for (; i + 4 <= n; i += 4) {
            d[i] = t0[s[i]];
            d[i + 1] = t0[s[i + 1]];
            d[i + 2] = t0[s[i + 2]];
            d[i + 3] = t0[s[i + 3]];
        }
        break;
    }
    case 3: {
        const uint8_t *t0 = t[0], *t1 = t[1], *t2 = t[2];
        for (; i + 3 <= n; i += 3) {
            d[i] = t0[s[i]];
            d[i + 1] = t1[s[i + 1]];
            d[i + 2] = t2[s[i + 2]];
        }
        break;
    }
    case 4: {
        const uint8_t *t0 = t[0], *t1 = t[1], *t2 = t[2], *t3 = t[3];
        for (; i + 4 <= n; i += 4) {
            d[i] = t0[s[i]];
            d[i + 1] = t1[s[i + 1]];
            d[i + 2] = t2[s[i + 2]];
            d[i + 3] = t3[s[i + 3]];
        }
        break;
    }
    default: break;
    }
    LookupTail(s, d, i, n, channels, t);
}

// 64 samples per step: each 256-entry table sits in four registers; vpermi2b looks up the low
// seven bits in both halves and the sample's top bit picks the half. Channels whose tables
// differ from channel 0's are blended in by position.
struct TTableRegs {
    __m512i A, B, C, D;  // entries 0-63, 64-127, 128-191, 192-255
};

__attribute__((target("avx512f,avx512bw,avx512vbmi")))
inline TTableRegs LoadTable(const uint8_t* table) noexcept {
    return TTableRegs{_mm512_loadu_si512(table), _mm512_loadu_si512(table + 64), _mm512_loadu_si512(table + 128),
                      _mm512_loadu_si512(table + 192)};
}

// x's bytes looked up in the table; high marks the bytes with their top bit set.
__attribute__((target("avx512f,avx512bw,avx512vbmi")))
inline __m512i LookupBytes(const TTableRegs& r, __m512i x, __mmask64 high) noexcept {
    const __m512i low = _mm512_permutex2var_epi8(r.A, x, r.B);
    const __m512i top = _mm512_permutex2var_epi8(r.C, x, r.D);
    return _mm512_mask_blend_epi8(high, low, top);
}

__attribute__((target("avx512f,avx512bw,avx512vbmi")))
void LookupRowVbmi(const uint8_t* s, uint8_t* d, std::size_t n, int channels, const uint8_t* const t[4]) {
    const TTableRegs first = LoadTable(t[0]);
    // Channels 1..3 that need a blend, their tables, and their byte masks per chunk phase (the
    // channel of a chunk's first sample: 64 * k mod channels).
    TTableRegs other[3];
    int others = 0;
    int otherChannel[3] = {0, 0, 0};
    for (int c = 1; c < channels; ++c)
        if (t[c] != t[0]) {
            otherChannel[others] = c;
            other[others++] = LoadTable(t[c]);
        }
    __mmask64 masks[4][3] = {};
    for (int phase = 0; phase < channels; ++phase)
        for (int o = 0; o < others; ++o)
            for (int p = 0; p < 64; ++p)
                if ((phase + p) % channels == otherChannel[o]) masks[phase][o] |= __mmask64(1) << p;

    std::size_t i = 0;
    int phase = 0;
    const int step = 64 % channels;
    for (; i + 64 <= n; i += 64) {
        const __m512i x = _mm512_loadu_si512(s + i);
        const __mmask64 high = _mm512_movepi8_mask(x);
        __m512i r = LookupBytes(first, x, high);
        for (int o = 0; o < others; ++o) r = _mm512_mask_blend_epi8(masks[phase][o], r, LookupBytes(other[o], x, high));
        _mm512_storeu_si512(d + i, r);
        phase += step;
        if (phase >= channels) phase -= channels;
    }
    LookupTail(s, d, i, n, channels, t);
}

bool CpuHasVbmi() noexcept {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
}

}  // namespace detail

namespace {

TRowFn ChooseRow() noexcept { return detail::CpuHasVbmi() ? detail::LookupRowVbmi : detail::LookupRowScalar; }

}  // namespace

void Lookup8(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const uint8_t* const tables[4]) noexcept {
    static const TRowFn row = ChooseRow();
    const int channels = dst.Channels;
    if (channels < 1 || channels > 4) return;
    const uint8_t* t[4] = {};
    bool identity = true;
    for (int c = 0; c < channels; ++c) {
        t[c] = tables[c] ? tables[c] : IdentityTable();
        identity = identity && tables[c] == nullptr;
    }
    if (identity) {
        CopyRect(src, dst, r);
        return;
    }
    detail::ForEachRun(src, dst, r, [&](const uint8_t* s, uint8_t* d, std::size_t n) { row(s, d, n, channels, t); });
}

namespace {

__attribute__((optimize("no-tree-vectorize")))
void Lookup16Row(const uint16_t* s, uint16_t* d, std::size_t n, const uint16_t* table) noexcept {
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        d[i] = table[s[i]];
        d[i + 1] = table[s[i + 1]];
        d[i + 2] = table[s[i + 2]];
        d[i + 3] = table[s[i + 3]];
    }
    for (; i < n; ++i) d[i] = table[s[i]];
}

}  // namespace

void Lookup16(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const uint16_t* table) noexcept {
    detail::ForEachRun(src, dst, r, [table](const uint16_t* s, uint16_t* d, std::size_t n) { Lookup16Row(s, d, n, table); });
}

}  // namespace pixora::kernels
