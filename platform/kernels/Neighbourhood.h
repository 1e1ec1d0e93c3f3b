// What the neighbourhood kernels (Convolution, Box) share: the mirrored border rule, the padded
// rows a band works on, the instruction-set levels their hot loops are compiled for, and the
// GCC vector types those loops are written with.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/kernels/View.h"

namespace pixora::kernels {

// The border rule of every neighbourhood kernel, for a window position i in a dimension of n
// samples: before the start the edge sample is not repeated (-1 reads 1, -2 reads 2); past the
// end it is (n reads n - 1, n + 1 reads n - 2). One reflection only, then clamped into 0 .. n - 1,
// so any position gives a sample inside the frame.
inline int MirrorIndex(int i, int n) noexcept {
    if (i < 0) return std::min(-i, n - 1);
    if (i >= n) return std::max(0, (n - 1) - (i - n));
    return i;
}

// Why a window cannot run on a frame, or an empty text when it can: a mask below 1 × 1 or larger
// than the frame, or an anchor outside the mask. Filters raise it as their error.
inline std::string DescribeWindowProblem(TSize mask, int anchorX, int anchorY, TSize frame) {
    const auto size = [](TSize s) { return std::to_string(s.Width) + " x " + std::to_string(s.Height); };
    if (mask.Width < 1 || mask.Height < 1) return "MaskSize " + size(mask) + " is empty";
    if (mask.Width > frame.Width || mask.Height > frame.Height)
        return "MaskSize " + size(mask) + " is larger than the " + size(frame) + " frame";
    if (anchorX < 0 || anchorY < 0 || anchorX >= mask.Width || anchorY >= mask.Height)
        return "Anchor (" + std::to_string(anchorX) + ", " + std::to_string(anchorY) + ") lies outside the " +
               size(mask) + " mask";
    return {};
}

namespace nbh {

// The instruction sets the hot loops are compiled for. The widest one the CPU has is used,
// unless lowered with LimitIsa (tests run every level the machine has; benchmarks compare).
enum class TIsa : int { Baseline = 0, Avx2 = 1, Avx512 = 2 };

inline TIsa CpuIsa() noexcept {
    static const TIsa isa = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq"))
            return TIsa::Avx512;
        if (__builtin_cpu_supports("avx2")) return TIsa::Avx2;
        return TIsa::Baseline;
    }();
    return isa;
}

inline std::atomic<int>& IsaLimit() noexcept {
    static std::atomic<int> limit{int(TIsa::Avx512)};
    return limit;
}

// The level the kernels use now: the CPU's, at most the limit.
inline TIsa ActiveIsa() noexcept { return TIsa(std::min(int(CpuIsa()), IsaLimit().load(std::memory_order_relaxed))); }

// Lowers (or restores, with Avx512) the widest level the kernels may use; returns the previous limit.
inline TIsa LimitIsa(TIsa level) noexcept { return TIsa(IsaLimit().exchange(int(level))); }

}  // namespace nbh

}  // namespace pixora::kernels

// Below: for the kernels' .cpp files only.
#ifdef PIXORA_NEIGHBOURHOOD_IMPLEMENTATION

#define PIXORA_NBH_INLINE [[gnu::always_inline]] inline
// The per-level entry points. The bodies are always_inline templates, so each entry point
// compiles them for its own instruction set. No "fma" here: a product followed by a sum stays two
// roundings on every level (see Mul below).
#define PIXORA_NBH_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,avx2,popcnt")))
#define PIXORA_NBH_AVX2 __attribute__((target("avx2,popcnt")))

// Vectors are passed by value between always_inline helpers; the ABI note GCC gives for that
// does not concern code that is never called across a boundary.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace pixora::kernels::nbh {

// The vector width (bytes) each level works with.
template <TIsa L>
inline constexpr int KVectorBytes = L == TIsa::Avx512 ? 64 : L == TIsa::Avx2 ? 32 : 16;

template <class T, int Bytes>
struct TVecOf {
    typedef T Type __attribute__((vector_size(Bytes)));
};
template <class T, int Bytes>
using TVec = typename TVecOf<T, Bytes>::Type;

template <class V, class T>
PIXORA_NBH_INLINE V Load(const T* p) noexcept {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class V, class T>
PIXORA_NBH_INLINE void Store(T* p, const V& v) noexcept {
    std::memcpy(p, &v, sizeof v);
}
// The samples at p widened to the lanes of V (one lane each), written as a lane loop that GCC
// turns into one zero-extending load (its vector conversion from narrow samples goes one lane at
// a time).
template <class V, class T>
PIXORA_NBH_INLINE V WidenLoad(const T* p) noexcept {
    using S = std::remove_cvref_t<decltype(V{}[0])>;
    constexpr int VL = int(sizeof(V) / sizeof(S));
    V v;
#pragma GCC unroll 64
    for (int l = 0; l < VL; ++l) v[l] = S(p[l]);
    return v;
}
template <class V>
PIXORA_NBH_INLINE V VMin(const V& a, const V& b) noexcept { return a < b ? a : b; }
template <class V>
PIXORA_NBH_INLINE V VMax(const V& a, const V& b) noexcept { return a < b ? b : a; }

// a * b rounded to float on its own: the empty asm keeps the compiler from fusing the product
// with a following addition into one fused multiply-add, whose single rounding would differ from
// the OpenCL kernels' (they are built with contraction off).
template <class V>
PIXORA_NBH_INLINE V Mul(const V& a, const V& b) noexcept {
    V p = a * b;
    __asm__("" : "+v"(p));
    return p;
}

// The padded columns of a band: pixel j (0 <= j < Pixels) of a padded row is source pixel
// MirrorIndex(X0 + j, width). Pixels [Begin, End) lie inside the frame and are copied as one run.
struct TPadding {
    int X0 = 0, Pixels = 0, Begin = 0, End = 0;
};

inline TPadding MakePadding(int rectX, int rectWidth, int maskWidth, int anchorX, int frameWidth) noexcept {
    TPadding p;
    p.X0 = rectX - anchorX;
    p.Pixels = rectWidth + maskWidth - 1;
    p.Begin = std::clamp(-p.X0, 0, p.Pixels);
    p.End = std::clamp(frameWidth - p.X0, p.Begin, p.Pixels);
    return p;
}

// out[0 .. Pixels * channels) = the padded row of a source row, converted to U.
template <class T, class U>
PIXORA_NBH_INLINE void PadRow(const T* row, U* out, const TPadding& p, int frameWidth, int channels) noexcept {
    for (int j = 0; j < p.Begin; ++j) {
        const T* s = row + std::ptrdiff_t(MirrorIndex(p.X0 + j, frameWidth)) * channels;
        for (int c = 0; c < channels; ++c) out[std::ptrdiff_t(j) * channels + c] = U(s[c]);
    }
    const T* s = row + std::ptrdiff_t(p.X0 + p.Begin) * channels;
    U* d = out + std::ptrdiff_t(p.Begin) * channels;
    const std::ptrdiff_t n = std::ptrdiff_t(p.End - p.Begin) * channels;
    if constexpr (sizeof(T) == sizeof(U) && T(-1) == U(-1)) {
        std::memcpy(d, s, std::size_t(n) * sizeof(T));
    } else {
        for (std::ptrdiff_t i = 0; i < n; ++i) d[i] = U(s[i]);
    }
    for (int j = p.End; j < p.Pixels; ++j) {
        const T* e = row + std::ptrdiff_t(MirrorIndex(p.X0 + j, frameWidth)) * channels;
        for (int c = 0; c < channels; ++c) out[std::ptrdiff_t(j) * channels + c] = U(e[c]);
    }
}

// A growing per-thread scratch area, its start aligned to 64 bytes; its contents are undefined
// between calls.
template <class U>
PIXORA_NBH_INLINE U* Scratch(std::vector<U>& area, std::size_t count) {
    constexpr std::size_t slack = 64 / sizeof(U);
    if (area.size() < count + slack) area.resize(count + slack);
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(area.data());
    return reinterpret_cast<U*>((at + 63) & ~std::uintptr_t(63));
}

// A row pitch of at least `count` elements that keeps every row 64-byte aligned.
template <class U>
constexpr std::ptrdiff_t AlignedPitch(std::ptrdiff_t count) noexcept {
    constexpr std::ptrdiff_t unit = 64 / std::ptrdiff_t(sizeof(U));
    return (count + unit - 1) / unit * unit;
}

// A ring of padded rows for the window rows of a band: logical row i (window position, before
// mirroring) lives in slot i mod Count. Rows are filled in increasing order, each once.
template <class U>
struct TRowRing {
    U* Base = nullptr;
    std::ptrdiff_t Pitch = 0;
    int Count = 0;
    int Next = 0;  // the next logical row to fill
    U* Slot(int logicalRow) const noexcept {
        const int m = ((logicalRow % Count) + Count) % Count;
        return Base + std::ptrdiff_t(m) * Pitch;
    }
};

// Fills the ring up to and including logical row `last` (rows mirrored into the frame).
template <class T, class U>
PIXORA_NBH_INLINE void FillRing(TRowRing<U>& ring, int last, ConstView<T> src, const TPadding& p) noexcept {
    for (; ring.Next <= last; ++ring.Next)
        PadRow(src.Row(MirrorIndex(ring.Next, src.Height)), ring.Slot(ring.Next), p, src.Width, src.Channels);
}

// The padded samples of a band read straight from source rows: padded sample j in [Begin, End)
// is source sample j + Shift of the row; the mirrored border samples are listed in Border as
// (padded sample, source sample).
struct TColumnMap {
    std::ptrdiff_t Begin = 0, End = 0, Shift = 0;
    std::vector<std::pair<std::ptrdiff_t, std::ptrdiff_t>> Border;

    // The source sample of padded sample j (Border holds the samples before Begin, then those
    // from End on, in order).
    std::ptrdiff_t Source(std::ptrdiff_t j) const noexcept {
        if (j < Begin) return Border[std::size_t(j)].second;
        if (j >= End) return Border[std::size_t(Begin + j - End)].second;
        return Shift + j;
    }
};

// The calling thread's column map, for kernels that keep one between bands. Reached through a
// call, so that a band looks the thread-local variable up once: GCC repeats the lookup (a call
// to __tls_get_addr in a shared library) at every use of a thread_local named in the loops.
[[gnu::noinline]] inline TColumnMap& ThreadColumnMap() noexcept {
    thread_local TColumnMap map;
    return map;
}

inline void MakeColumnMap(TColumnMap& map, const TPadding& p, int frameWidth, int channels) {
    map.Begin = std::ptrdiff_t(p.Begin) * channels;
    map.End = std::ptrdiff_t(p.End) * channels;
    map.Shift = std::ptrdiff_t(p.X0) * channels;
    map.Border.clear();
    for (int j = 0; j < p.Pixels; ++j) {
        if (j == p.Begin) j = p.End;
        if (j >= p.Pixels) break;
        const std::ptrdiff_t source = std::ptrdiff_t(MirrorIndex(p.X0 + j, frameWidth)) * channels;
        for (int c = 0; c < channels; ++c) map.Border.emplace_back(std::ptrdiff_t(j) * channels + c, source + c);
    }
}

// The rows of the window of output row y (top = y - anchorY), mirrored into the frame.
template <class T>
PIXORA_NBH_INLINE void WindowRows(const T** rows, ConstView<T> src, int top, int count) noexcept {
    for (int k = 0; k < count; ++k) rows[k] = src.Row(MirrorIndex(top + k, src.Height));
}

// The low sizeof(T) bytes of every 32-bit lane of v, as samples of T: what a conversion to T
// gives, written as a byte shuffle. GCC turns __builtin_convertvector to a narrower type into a
// single instruction only with AVX-512 (vpmovdb, vpmovdw); on AVX2 it extracted and packed the
// lanes one at a time, which made that level's float kernels two to three times slower. (SSE2
// has no byte shuffle; there both forms cost the same.)
template <class T, class VI, std::size_t... I>
PIXORA_NBH_INLINE TVec<T, int(sizeof...(I) * sizeof(T))> NarrowLanes(const VI& v, std::index_sequence<I...>) noexcept {
    using VT = TVec<T, int(sizeof(VI))>;
    VT parts;
    std::memcpy(&parts, &v, sizeof v);
    return __builtin_shufflevector(parts, parts, (I * (4 / sizeof(T)))...);
}

// Stores the first n (<= the lane count) lanes of a 32-bit vector as samples of T.
template <class T, class VI>
PIXORA_NBH_INLINE void StoreSamples(T* out, const VI& v, std::ptrdiff_t n) noexcept {
    constexpr int Lanes = int(sizeof(VI) / 4);
    using VT = TVec<T, Lanes * int(sizeof(T))>;
    VT narrow;
    if constexpr (sizeof(T) < 4 && sizeof(VI) < 64) narrow = NarrowLanes<T>(v, std::make_index_sequence<Lanes>());
    else narrow = __builtin_convertvector(v, VT);
    if (n >= Lanes) {
        Store(out, narrow);
    } else {
        alignas(64) T staged[Lanes];
        Store(staged, narrow);
        std::memcpy(out, staged, std::size_t(n) * sizeof(T));
    }
}

// How FloatWindowBand turns a window's float sum into a sample.
enum class TFloatFinish {
    HalfUp,  // acc + 0.5f converted toward zero (convolution)
    Round,   // round(acc * scale), halves away from zero (mean)
};

// The float window of every output sample of a band, vectorised across the samples of a row:
// acc = 0, then for KY outer, KX inner acc = acc + w * sample, where w is the next coefficient
// (HalfUp) or the sample is added alone (Round). Window rows are converted to float once into a
// ring of padded rows. Results saturate to 0 .. SampleMax<T>; NaN gives 0.
template <TIsa L, class T, TFloatFinish F>
PIXORA_NBH_INLINE void FloatWindowBand(ConstView<T> src, View<T> dst, TRect r, int maskWidth, int maskHeight,
                                       int anchorX, int anchorY, const float* coefficients, float scale) noexcept {
    constexpr int VB = KVectorBytes<L>;
    constexpr int VL = VB / int(sizeof(float));
    constexpr int NV = 4;  // independent accumulators per block, enough to hide the add latency
    constexpr int Block = VL * NV;
    using VF = TVec<float, VB>;
    using VI = TVec<int32_t, VB>;
    const int channels = src.Channels;
    const TPadding pad = MakePadding(r.X, r.Width, maskWidth, anchorX, src.Width);
    const std::ptrdiff_t samples = std::ptrdiff_t(r.Width) * channels;
    const std::ptrdiff_t used = std::ptrdiff_t(pad.Pixels) * channels;
    // A block past the row's last sample reads up to Block - 1 samples beyond `used`.
    const std::ptrdiff_t pitch = AlignedPitch<float>(used + Block);
    thread_local std::vector<float> area;
    thread_local std::vector<const float*> rowArea;
    float* base = Scratch(area, std::size_t(pitch) * std::size_t(maskHeight));
    const float** rows = Scratch(rowArea, std::size_t(maskHeight));
    for (int s = 0; s < maskHeight; ++s) std::fill_n(base + std::ptrdiff_t(s) * pitch + used, pitch - used, 0.0f);
    TRowRing<float> ring{base, pitch, maskHeight, r.Y - anchorY};
    const VF half = VF{} + 0.5f, zero = VF{}, maximum = VF{} + float(SampleMax<T>), scaleV = VF{} + scale;
    for (int y = r.Y; y < r.Y + r.Height; ++y) {
        const int top = y - anchorY;
        FillRing(ring, top + maskHeight - 1, src, pad);
        for (int ky = 0; ky < maskHeight; ++ky) rows[ky] = ring.Slot(top + ky);
        T* out = dst.Row(y) + std::ptrdiff_t(r.X) * channels;
        for (std::ptrdiff_t i0 = 0; i0 < samples; i0 += Block) {
            VF acc[NV] = {};
            const float* k = coefficients;
            for (int ky = 0; ky < maskHeight; ++ky) {
                const float* p = rows[ky] + i0;
                for (int kx = 0; kx < maskWidth; ++kx, p += channels) {
                    if constexpr (F == TFloatFinish::HalfUp) {
                        const VF kv = VF{} + *k++;
                        for (int v = 0; v < NV; ++v) acc[v] = acc[v] + Mul(kv, Load<VF>(p + v * VL));
                    } else {
                        for (int v = 0; v < NV; ++v) acc[v] = acc[v] + Load<VF>(p + v * VL);
                    }
                }
            }
            for (int v = 0; v < NV; ++v) {
                VI result;
                if constexpr (F == TFloatFinish::HalfUp) {
                    VF t = acc[v] + half;
                    t = t > zero ? t : zero;  // also NaN -> 0
                    t = t < maximum ? t : maximum;
                    result = __builtin_convertvector(t, VI);
                } else {
                    VF t = Mul(acc[v], scaleV);
                    t = t > zero ? t : zero;
                    t = t < maximum ? t : maximum;
                    const VI whole = __builtin_convertvector(t, VI);
                    const VF fraction = t - __builtin_convertvector(whole, VF);  // exact
                    result = whole - VI(fraction >= half);                      // a true lane is -1
                }
                const std::ptrdiff_t n = samples - i0 - std::ptrdiff_t(v) * VL;
                if (n > 0) StoreSamples(out + i0 + v * VL, result, n);
            }
        }
    }
}

// The rectangle cut to both frame sizes; empty when nothing of it lies inside both.
inline TRect ClipToBoth(TRect r, TSize a, TSize b) noexcept {
    const int64_t x0 = std::max<int64_t>(r.X, 0);
    const int64_t y0 = std::max<int64_t>(r.Y, 0);
    const int64_t x1 = std::min<int64_t>({int64_t(r.X) + r.Width, a.Width, b.Width});
    const int64_t y1 = std::min<int64_t>({int64_t(r.Y) + r.Height, a.Height, b.Height});
    if (x1 <= x0 || y1 <= y0) return {};
    return {int(x0), int(y0), int(x1 - x0), int(y1 - y0)};
}

// Builds the views of a framework-shaped call and runs op(src, dst, rect) over the clipped
// rectangle; null pointers, a channel count below 1 or an empty rectangle do nothing.
template <class T, class Op>
void RunFrameworkShaped(const T* src, int srcLineSize, TSize srcSize, T* dst, int dstLineSize, TSize dstSize,
                        int channels, TRect rect, Op op) noexcept {
    if (src == nullptr || dst == nullptr || channels < 1) return;
    const TRect r = ClipToBoth(rect, srcSize, dstSize);
    if (r.Empty()) return;
    op(ConstView<T>{src, srcLineSize, srcSize.Width, srcSize.Height, channels},
       View<T>{dst, dstLineSize, dstSize.Width, dstSize.Height, channels}, r);
}

}  // namespace pixora::kernels::nbh

#endif  // PIXORA_NEIGHBOURHOOD_IMPLEMENTATION
