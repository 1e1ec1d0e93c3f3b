// The two-frame combine kernels and the coefficient step against slow per-sample references:
// every operation in every native format, on rectangles inside larger padded frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/base/PXErrors.h"
#include "platform/kernels/Combine.h"

namespace pixora {
namespace {

// A frame of Width x Height pixels with Pad spare bytes at the end of each row, filled with
// samples that favour the interesting values (0 and full scale) besides uniform ones.
struct TTestFrame {
    TPXVideoFormat Format = vfRGB24;
    int Width = 0, Height = 0;
    std::ptrdiff_t Step = 0;
    std::vector<uint8_t> Bytes;

    TTestFrame(TPXVideoFormat format, int width, int height, int pad, uint32_t seed)
        : Format(format), Width(width), Height(height) {
        Step = std::ptrdiff_t(width) * PixelBytes() + pad;
        Bytes.resize(std::size_t(Step) * std::size_t(height));
        std::mt19937 rng(seed);
        if (format == vfGray16) {
            for (std::size_t i = 0; i + 1 < Bytes.size(); i += 2) {
                const uint16_t v = Pick<uint16_t>(rng);
                std::memcpy(&Bytes[i], &v, 2);
            }
        } else {
            for (uint8_t& b : Bytes) b = Pick<uint8_t>(rng);
        }
    }

    template <class T>
    static T Pick(std::mt19937& rng) {
        const uint32_t kind = rng() % 8;
        const uint32_t max = T(~T(0));
        if (kind == 0) return 0;
        if (kind == 1) return T(max);
        if (kind == 2) return T(rng() % 4);  // small divisors and factors
        return T(rng() % (max + 1));
    }

    int PixelBytes() const { return Format == vfRGBA32 ? 4 : Format == vfRGB24 ? 3 : Format == vfGray16 ? 2 : 1; }
    uint8_t* Px(int x, int y) { return Bytes.data() + std::ptrdiff_t(y) * Step + std::ptrdiff_t(x) * PixelBytes(); }
    const uint8_t* Px(int x, int y) const {
        return Bytes.data() + std::ptrdiff_t(y) * Step + std::ptrdiff_t(x) * PixelBytes();
    }
};

// ---- Slow references ------------------------------------------------------------------------

// b / a rounded to nearest, ties to the even quotient.
int64_t DivideHalfEven(int64_t b, int64_t a) {
    const int64_t q = b / a, r = b % a;
    if (2 * r > a) return q + 1;
    if (2 * r == a) return q + (q % 2);
    return q;
}

int64_t ReferenceSample(TPXCombineOperation op, int64_t a, int64_t b, int64_t max) {
    switch (op) {
    case coAdd: return std::min(a + b, max);
    case coSubtract: return std::max<int64_t>(b - a, 0);
    case coMultiply: return std::min(a * b, max);
    case coDivide: return a == 0 ? (b == 0 ? 0 : max) : std::min(DivideHalfEven(b, a), max);
    case coOr: return a | b;
    case coAnd: return a & b;
    case coXor: return a ^ b;
    case coAbsDiff: return a > b ? a - b : b - a;
    case coCopy: return b;
    }
    return -1;
}

// Foreground (4 bytes) over background (4 bytes) with normalised alphas, in doubles.
void ReferenceOver(const int64_t fg[4], const uint8_t bg[4], uint8_t out[4]) {
    const double fa = double(fg[3]) / 255.0, ba = double(bg[3]) / 255.0;
    for (int c = 0; c < 3; ++c) out[c] = uint8_t(std::lround(fa * double(fg[c]) + (1.0 - fa) * ba * double(bg[c])));
    out[3] = uint8_t(std::lround(255.0 * (fa + (1.0 - fa) * ba)));
}

// The expected output pixel of op for input pixels a and b.
void ReferencePixel(TPXCombineOperation op, TPXVideoFormat format, const uint8_t* a, const uint8_t* b, uint8_t* out) {
    if (format == vfGray16) {
        uint16_t sa, sb;
        std::memcpy(&sa, a, 2);
        std::memcpy(&sb, b, 2);
        const uint16_t r = uint16_t(ReferenceSample(op, sa, sb, 65535));
        std::memcpy(out, &r, 2);
        return;
    }
    if (format != vfRGBA32 || op == coAbsDiff) {
        const int n = format == vfRGBA32 ? 4 : format == vfRGB24 ? 3 : 1;
        for (int c = 0; c < n; ++c) out[c] = uint8_t(ReferenceSample(op, a[c], b[c], 255));
        return;
    }
    int64_t fg[4];
    for (int c = 0; c < 3; ++c) fg[c] = op == coCopy ? b[c] : ReferenceSample(op, a[c], b[c], 255);
    fg[3] = b[3];
    ReferenceOver(fg, a, out);
}

// Every byte of got: inside the rectangle (x0, y0, w, h) the reference of a and b, elsewhere
// the byte of before.
void ExpectCombined(TPXCombineOperation op, const TTestFrame& a, const TTestFrame& b, const TTestFrame& before,
                    const TTestFrame& got, int x0, int y0, int w, int h) {
    const int pb = got.PixelBytes();
    int bad = 0;
    std::string first;
    for (int y = 0; y < got.Height; ++y) {
        for (std::ptrdiff_t i = 0; i < got.Step; ++i) {
            const std::size_t at = std::size_t(y * got.Step + i);
            const int x = int(i / pb);
            const bool inside = i < std::ptrdiff_t(got.Width) * pb && x >= x0 && x < x0 + w && y >= y0 && y < y0 + h;
            uint8_t want = before.Bytes[at];
            if (inside) {
                uint8_t px[4];
                ReferencePixel(op, got.Format, a.Px(x, y), b.Px(x, y), px);
                want = px[i % pb];
            }
            if (got.Bytes[at] != want && bad++ == 0)
                first = "byte " + std::to_string(i) + " of row " + std::to_string(y) + ": got " +
                        std::to_string(got.Bytes[at]) + ", want " + std::to_string(want) +
                        (inside ? " (inside)" : " (outside)");
        }
    }
    EXPECT_EQ(bad, 0) << "op " << int(op) << " format " << int(got.Format) << " " << w << "x" << h << ": " << first;
}

const TPXVideoFormat KFormats[] = {vfGray8, vfGray16, vfRGB24, vfRGBA32};
const TPXCombineOperation KOps[] = {coAdd, coSubtract, coMultiply, coDivide, coOr, coAnd, coXor, coAbsDiff, coCopy};

struct TCase {
    int W, H, Pad;
};
const TCase KSizes[] = {{1, 1, 0}, {2, 1, 2}, {37, 23, 6}, {600, 3, 4}};  // 600 crosses the chunked rows

// Runs the kernels at most at one instruction-set level while it lives.
class TIsaLimit {
public:
    explicit TIsaLimit(kernels::TCombineIsa level) : FPrevious(kernels::LimitCombineIsa(level)) {}
    ~TIsaLimit() { kernels::LimitCombineIsa(FPrevious); }
    TIsaLimit(const TIsaLimit&) = delete;
    TIsaLimit& operator=(const TIsaLimit&) = delete;

private:
    kernels::TCombineIsa FPrevious;
};

// The levels this machine has (the others would only repeat the widest it has).
std::vector<kernels::TCombineIsa> IsaLevels() {
    std::vector<kernels::TCombineIsa> levels;
    for (auto level : {kernels::TCombineIsa::Baseline, kernels::TCombineIsa::Avx2, kernels::TCombineIsa::Avx512})
        if (int(level) <= int(kernels::CombineCpuIsa())) levels.push_back(level);
    return levels;
}

std::string IsaName(kernels::TCombineIsa level) {
    return level == kernels::TCombineIsa::Avx512 ? "AVX-512" : level == kernels::TCombineIsa::Avx2 ? "AVX2" : "baseline";
}

// ---- Operations ---------------------------------------------------------------------------------

TEST(CombineKernels, EveryOperationAndFormatMatchesReferenceInsideARectangle) {
    for (const auto level : IsaLevels()) {
        SCOPED_TRACE(IsaName(level));
        const TIsaLimit limit(level);
        uint32_t seed = 1;
        for (TPXVideoFormat format : KFormats)
            for (const TCase& sz : KSizes)
                for (TPXCombineOperation op : KOps) {
                    // Frames one pixel larger on each side; the rectangle starts at (1, 1).
                    const int fw = sz.W + 2, fh = sz.H + 2;
                    const TTestFrame a(format, fw, fh, sz.Pad, seed++), b(format, fw, fh, sz.Pad, seed++);
                    const TTestFrame before(format, fw, fh, sz.Pad, seed++);
                    TTestFrame a2 = a, b2 = b, dst = before;
                    kernels::CombineOp(op, format, a2.Px(1, 1), a2.Step, b2.Px(1, 1), b2.Step, dst.Px(1, 1), dst.Step,
                                       {sz.W, sz.H});
                    ExpectCombined(op, a, b, before, dst, 1, 1, sz.W, sz.H);
                    EXPECT_EQ(a2.Bytes, a.Bytes) << "input 1 was written";
                    if (format != vfRGBA32) {
                        EXPECT_EQ(b2.Bytes, b.Bytes) << "input 2 was written";
                    }
                }
    }
}

TEST(CombineKernels, ByteDivisionRoundsEveryPairOfSamplesHalfToEven) {
    // Every (a, b) pair of bytes, laid out so that each vector lane position and the scalar
    // tail see divisors and dividends of every kind; rows of 256 + 37 samples.
    constexpr int KRow = 256 + 37;
    std::vector<uint8_t> a(std::size_t(KRow) * 256), b(a.size()), d(a.size());
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < KRow; ++x) {
            a[std::size_t(y * KRow + x)] = uint8_t(x);
            b[std::size_t(y * KRow + x)] = uint8_t(y + 7 * x);
        }
    for (const auto level : IsaLevels()) {
        const TIsaLimit limit(level);
        std::fill(d.begin(), d.end(), uint8_t(0x5A));
        kernels::CombineOp(coDivide, vfGray8, a.data(), KRow, b.data(), KRow, d.data(), KRow, {KRow, 256});
        int bad = 0;
        for (std::size_t i = 0; i < d.size(); ++i) {
            const int64_t want = ReferenceSample(coDivide, a[i], b[i], 255);
            if (d[i] != want && bad++ < 5)
                ADD_FAILURE() << IsaName(level) << ": " << int(b[i]) << " / " << int(a[i]) << " gave " << int(d[i])
                              << ", want " << want;
        }
        EXPECT_EQ(bad, 0) << IsaName(level);
    }
}

TEST(CombineKernels, WordProductsSaturateExactlyWhereTheyPassTheMaximum) {
    // For every first factor a up to 700 (and some large ones), second factors on both sides of
    // 65535 / a, small ones and the extremes; rows of 101 samples, so every vector width ends in a
    // partial vector.
    constexpr int KRow = 101;
    std::vector<uint16_t> a, b;
    for (uint32_t x : {0u, 1u, 2u, 255u, 256u, 257u, 4095u, 65535u}) {
        for (uint32_t y = 0; y < KRow; ++y) {
            a.push_back(uint16_t(x));
            b.push_back(uint16_t(y == 0 ? 65535u : y * 641u));
        }
    }
    for (uint32_t x = 3; x <= 700; ++x) {
        const uint32_t edge = 65535u / x;
        for (int y = 0; y < KRow; ++y) {
            a.push_back(uint16_t(y % 2 ? x : edge + uint32_t(y / 2 % 3) - 1u));
            b.push_back(uint16_t(y % 2 ? edge + uint32_t(y / 2 % 3) - 1u : x));
        }
    }
    const int rows = int(a.size() / KRow);
    std::vector<uint16_t> d(a.size());
    for (const auto level : IsaLevels()) {
        const TIsaLimit limit(level);
        std::fill(d.begin(), d.end(), uint16_t(0x5A5A));
        kernels::CombineOp(coMultiply, vfGray16, reinterpret_cast<const uint8_t*>(a.data()), KRow * 2,
                           reinterpret_cast<uint8_t*>(b.data()), KRow * 2, reinterpret_cast<uint8_t*>(d.data()),
                           KRow * 2, {KRow, rows});
        int bad = 0;
        for (std::size_t i = 0; i < d.size(); ++i) {
            const uint32_t want = std::min<uint32_t>(uint32_t(a[i]) * b[i], 65535u);
            if (d[i] != want && bad++ < 5)
                ADD_FAILURE() << IsaName(level) << ": " << a[i] << " * " << b[i] << " gave " << d[i] << ", want " << want;
        }
        EXPECT_EQ(bad, 0) << IsaName(level);
    }
}

TEST(CombineKernels, OverMatchesTheRuleForEveryPairOfAlphas) {
    // Every foreground and background alpha, with colour samples that sweep the whole range
    // (the exact quotients come closest to a halfway point at the extremes); 16-pixel rows
    // plus a tail of 7 pixels.
    constexpr int KPixels = 256 * 16 + 7;
    std::vector<uint8_t> fg(std::size_t(KPixels) * 4), bg(fg.size()), d(fg.size());
    std::mt19937 rng(77);
    for (int fa = 0; fa < 256; ++fa) {
        for (int p = 0; p < KPixels; ++p) {
            uint8_t* f = &fg[std::size_t(p) * 4];
            uint8_t* g = &bg[std::size_t(p) * 4];
            for (int c = 0; c < 3; ++c) {
                f[c] = uint8_t(p % 3 == 0 ? (p + c) * 37 : rng());
                g[c] = uint8_t(p % 5 == 0 ? 255 - c : rng());
            }
            f[3] = uint8_t(fa);
            g[3] = uint8_t(p % 256);
        }
        for (const auto level : IsaLevels()) {
            const TIsaLimit limit(level);
            kernels::AlphaCompositeOver(fg.data(), 0, bg.data(), 0, d.data(), 0, {KPixels, 1});
            for (int p = 0; p < KPixels; ++p) {
                const uint8_t* f = &fg[std::size_t(p) * 4];
                const int64_t fw[4] = {f[0], f[1], f[2], f[3]};
                uint8_t want[4];
                ReferenceOver(fw, &bg[std::size_t(p) * 4], want);
                for (int c = 0; c < 4; ++c)
                    ASSERT_EQ(d[std::size_t(p) * 4 + std::size_t(c)], want[c])
                        << IsaName(level) << ": pixel " << p << " channel " << c << ", alpha " << fa << " over "
                        << p % 256;
            }
        }
    }
}

TEST(CombineKernels, InPlaceIntoEitherInputGivesTheSameResult) {
    for (const auto level : IsaLevels()) {
        SCOPED_TRACE(IsaName(level));
        const TIsaLimit limit(level);
        uint32_t seed = 100;
        for (TPXVideoFormat format : KFormats)
            for (TPXCombineOperation op : KOps) {
                const TTestFrame a(format, 37, 23, 4, seed++), b(format, 37, 23, 4, seed++);
                TTestFrame into1 = a, b1 = b;
                kernels::CombineOp(op, format, into1.Px(0, 0), into1.Step, b1.Px(0, 0), b1.Step, into1.Px(0, 0),
                                   into1.Step, {37, 23});
                ExpectCombined(op, a, b, a, into1, 0, 0, 37, 23);
                TTestFrame a2 = a, into2 = b;
                kernels::CombineOp(op, format, a2.Px(0, 0), a2.Step, into2.Px(0, 0), into2.Step, into2.Px(0, 0),
                                   into2.Step, {37, 23});
                ExpectCombined(op, a, b, b, into2, 0, 0, 37, 23);
            }
    }
}

TEST(CombineKernels, SubtractionTakesTheSecondInputAsMinuendAndStopsAtZero) {
    for (TPXVideoFormat format : KFormats) {
        TTestFrame a(format, 2, 1, 0, 7), b(format, 2, 1, 0, 8), dst(format, 2, 1, 0, 9);
        // Pixel 0: input 1 brighter than input 2; pixel 1: input 2 brighter.
        const int pb = a.PixelBytes();
        for (int i = 0; i < pb; ++i) {
            a.Px(0, 0)[i] = 200, b.Px(0, 0)[i] = 50;
            a.Px(1, 0)[i] = 50, b.Px(1, 0)[i] = 200;
        }
        if (format == vfRGBA32) a.Px(0, 0)[3] = a.Px(1, 0)[3] = b.Px(0, 0)[3] = b.Px(1, 0)[3] = 255;
        if (format == vfGray16) {
            const uint16_t hi = 60000, lo = 1000;
            std::memcpy(a.Px(0, 0), &hi, 2), std::memcpy(b.Px(0, 0), &lo, 2);
            std::memcpy(a.Px(1, 0), &lo, 2), std::memcpy(b.Px(1, 0), &hi, 2);
        }
        const TTestFrame ca = a, cb = b, before = dst;
        kernels::CombineOp(coSubtract, format, a.Px(0, 0), a.Step, b.Px(0, 0), b.Step, dst.Px(0, 0), dst.Step, {2, 1});
        ExpectCombined(coSubtract, ca, cb, before, dst, 0, 0, 2, 1);
        EXPECT_EQ(dst.Px(0, 0)[0], 0) << "format " << int(format);
        EXPECT_NE(dst.Px(1, 0)[0], 0) << "format " << int(format);
    }
}

TEST(CombineKernels, RgbaCopyShowsInputOneWhereInputTwoIsTransparent) {
    TTestFrame a(vfRGBA32, 5, 2, 0, 11), b(vfRGBA32, 5, 2, 0, 12), dst(vfRGBA32, 5, 2, 0, 13);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) {
            a.Px(x, y)[3] = 255;
            b.Px(x, y)[3] = x == 2 ? 255 : 0;
        }
    kernels::CombineOp(coCopy, vfRGBA32, a.Px(0, 0), a.Step, b.Px(0, 0), b.Step, dst.Px(0, 0), dst.Step, {5, 2});
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) {
            const uint8_t* want = x == 2 ? b.Px(x, y) : a.Px(x, y);
            for (int c = 0; c < 3; ++c) EXPECT_EQ(dst.Px(x, y)[c], want[c]) << x << "," << y << " channel " << c;
            EXPECT_EQ(dst.Px(x, y)[3], 255);
        }
}

TEST(CombineKernels, NothingIsWrittenForMissingInputsEmptySizesOrUnknownOperations) {
    const TTestFrame a(vfRGB24, 4, 4, 0, 21), b(vfRGB24, 4, 4, 0, 22), before(vfRGB24, 4, 4, 0, 23);
    TTestFrame a2 = a, b2 = b, dst = before;
    kernels::CombineOp(coAdd, vfRGB24, a2.Px(0, 0), a2.Step, nullptr, b2.Step, dst.Px(0, 0), dst.Step, {4, 4});
    kernels::CombineOp(coAdd, vfRGB24, nullptr, a2.Step, b2.Px(0, 0), b2.Step, dst.Px(0, 0), dst.Step, {4, 4});
    kernels::CombineOp(coAdd, vfRGB24, a2.Px(0, 0), a2.Step, b2.Px(0, 0), b2.Step, dst.Px(0, 0), dst.Step, {0, 4});
    kernels::CombineOp(coAdd, vfRGB24, a2.Px(0, 0), a2.Step, b2.Px(0, 0), b2.Step, dst.Px(0, 0), dst.Step, {4, -1});
    kernels::CombineOp(TPXCombineOperation(9), vfRGB24, a2.Px(0, 0), a2.Step, b2.Px(0, 0), b2.Step, dst.Px(0, 0),
                       dst.Step, {4, 4});
    kernels::CombineOp(coAdd, TPXVideoFormat(5), a2.Px(0, 0), a2.Step, b2.Px(0, 0), b2.Step, dst.Px(0, 0), dst.Step,
                       {4, 4});
    EXPECT_EQ(dst.Bytes, before.Bytes);
    EXPECT_EQ(a2.Bytes, a.Bytes);
    EXPECT_EQ(b2.Bytes, b.Bytes);
}

TEST(CombineKernels, AlphaCompositeOverMatchesTheOverRule) {
    const TTestFrame fg(vfRGBA32, 41, 7, 8, 31), bg(vfRGBA32, 41, 7, 8, 32), before(vfRGBA32, 41, 7, 8, 33);
    TTestFrame dst = before;
    kernels::AlphaCompositeOver(fg.Px(0, 0), fg.Step, bg.Px(0, 0), bg.Step, dst.Px(0, 0), dst.Step, {41, 7});
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 41; ++x) {
            const uint8_t* f = fg.Px(x, y);
            const int64_t fw[4] = {f[0], f[1], f[2], f[3]};
            uint8_t want[4];
            ReferenceOver(fw, bg.Px(x, y), want);
            for (int c = 0; c < 4; ++c) ASSERT_EQ(dst.Px(x, y)[c], want[c]) << x << "," << y << " channel " << c;
        }
    for (int y = 0; y < 7; ++y)  // row padding untouched
        for (int i = 41 * 4; i < dst.Step; ++i)
            ASSERT_EQ(dst.Bytes[std::size_t(y * dst.Step + i)], before.Bytes[std::size_t(y * dst.Step + i)]);
}

// ---- Coefficient step -----------------------------------------------------------------------

// round(c * factor) with ties to even, computed from the floor.
double ReferenceK(double c, double factor) {
    const double x = c * factor, f = std::floor(x);
    if (x - f > 0.5) return f + 1;
    if (x - f < 0.5) return f;
    return std::fmod(f, 2.0) == 0.0 ? f : f + 1;
}

TEST(CombineCoefficient, ScaleIsTheRoundedProductOrARangeErrorNamingTheCoefficient) {
    const double coefficients[] = {0.5, 0.25, 1.0 / 3.0, 0.999, 0.0001, 1.0039, 1.0041, 1.2, 1.5, -0.3, -0.001, 2.0};
    for (TPXVideoFormat format : KFormats) {
        const bool wide = format == vfGray16;
        const double factor = wide ? 65280.0 : 255.0, limit = wide ? 65535.0 : 255.0;
        for (double c : coefficients) {
            const double k = ReferenceK(c, factor);
            if (k >= 0.0 && k <= limit) {
                EXPECT_EQ(kernels::CoefficientScale(format, c), int(k)) << "c " << c << " format " << int(format);
            } else {
                try {
                    kernels::CoefficientScale(format, c);
                    ADD_FAILURE() << "no error for c " << c << " format " << int(format);
                } catch (const ERangeError& e) {
                    const std::string text = e.what();
                    EXPECT_NE(text.find("Coefficient"), std::string::npos) << text;
                    EXPECT_NE(text.find(wide ? "0..65535" : "0..255"), std::string::npos) << text;
                }
            }
        }
    }
}

TEST(CombineCoefficient, NotANumberOrInfinityIsARangeError) {
    for (TPXVideoFormat format : KFormats) {
        EXPECT_THROW(kernels::CoefficientScale(format, std::nan("")), ERangeError);
        EXPECT_THROW(kernels::CoefficientScale(format, HUGE_VAL), ERangeError);
        TTestFrame f(format, 3, 3, 0, 41);
        const TTestFrame before = f;
        EXPECT_THROW(kernels::ApplyCoefficient(format, f.Px(0, 0), f.Step, {3, 3}, std::nan(""), 0, true),
                     ERangeError);
        EXPECT_THROW(kernels::ApplyCoefficient(format, f.Px(0, 0), f.Step, {3, 3}, 7.0, 0, true), ERangeError);
        EXPECT_EQ(f.Bytes, before.Bytes) << "a refused coefficient changed the data";
    }
}

TEST(CombineCoefficient, ScalingMultipliesEverySampleAndRounds) {
    const double coefficients[] = {0.5, 0.3, 0.77, 1.0038, 0.0042};
    uint32_t seed = 50;
    for (TPXVideoFormat format : KFormats)
        for (double c : coefficients) {
            const bool wide = format == vfGray16;
            const double k = ReferenceK(c, wide ? 65280.0 : 255.0), max = wide ? 65535.0 : 255.0;
            if (k > max) continue;
            const TTestFrame before(format, 39, 5, 6, seed++);
            TTestFrame f = before;
            kernels::ApplyCoefficient(format, f.Px(1, 1), f.Step, {37, 3}, c, 0x12345678u, true);
            const int pb = f.PixelBytes();
            for (int y = 0; y < 5; ++y)
                for (std::ptrdiff_t i = 0; i < f.Step; i += wide ? 2 : 1) {
                    const std::size_t at = std::size_t(y * f.Step + i);
                    const int x = int(i / pb);
                    const bool inside = i < 39 * pb && x >= 1 && x < 38 && y >= 1 && y < 4;
                    int64_t s = before.Bytes[at], got = f.Bytes[at];
                    if (wide) {
                        uint16_t v, g;
                        std::memcpy(&v, &before.Bytes[at], 2);
                        std::memcpy(&g, &f.Bytes[at], 2);
                        s = v, got = g;
                    }
                    const int64_t want = inside ? std::llround(double(s) * k / max) : s;
                    ASSERT_EQ(got, want) << "c " << c << " format " << int(format) << " byte " << i << " row " << y;
                }
        }
}

// Scaling from one frame into another gives the in-place result, leaves the source alone and
// writes nothing outside the rectangle, with different row strides on the two sides.
TEST(CombineCoefficient, ScalingIntoAnotherFrameEqualsScalingInPlace) {
    uint32_t seed = 90;
    for (TPXVideoFormat format : KFormats)
        for (int k : {0, 1, 77, 128, 254, 255, 4097, 65535}) {
            if (format != vfGray16 && k > 255) continue;
            const TTestFrame src(format, 41, 6, 4, seed++), blank(format, 37, 6, 10, seed++);
            TTestFrame inPlace = src, into = blank, source = src;
            kernels::ScaleSamples(format, inPlace.Px(2, 1), inPlace.Step, {35, 4}, k);
            kernels::ScaleSamples(format, source.Px(2, 1), source.Step, into.Px(1, 2), into.Step, {35, 4}, k);
            EXPECT_EQ(source.Bytes, src.Bytes) << "the source was written";
            const int pb = src.PixelBytes();
            for (int y = 0; y < 6; ++y)
                for (int x = 0; x < 37 * pb; ++x) {
                    const bool inside = y >= 2 && y < 6 && x >= pb && x < 36 * pb;
                    const uint8_t want = inside ? inPlace.Bytes[std::size_t((y - 1) * inPlace.Step + x + pb)]
                                                : blank.Bytes[std::size_t(y * blank.Step + x)];
                    ASSERT_EQ(into.Bytes[std::size_t(y * into.Step + x)], want)
                        << "format " << int(format) << " k " << k << " row " << y << " byte " << x;
                }
        }
}

TEST(CombineCoefficient, OneLeavesTheInputAndZeroFillsWithTheBackgroundByFormat) {
    const uint32_t background = 0x80C0A030u;  // alpha 0x80, red 0xC0, green 0xA0, blue 0x30
    for (TPXVideoFormat format : KFormats)
        for (bool first : {true, false}) {
            const TTestFrame before(format, 6, 4, 2, 60);
            TTestFrame f = before;
            kernels::ApplyCoefficient(format, f.Px(0, 0), f.Step, {6, 4}, 1.0, background, first);
            EXPECT_EQ(f.Bytes, before.Bytes);
            kernels::ApplyCoefficient(format, f.Px(1, 1), f.Step, {4, 2}, 0.0, background, first);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 6; ++x) {
                    const bool inside = x >= 1 && x < 5 && y >= 1 && y < 3;
                    const uint8_t* got = f.Px(x, y);
                    const uint8_t* old = before.Px(x, y);
                    if (!inside) {
                        EXPECT_EQ(std::memcmp(got, old, std::size_t(f.PixelBytes())), 0);
                        continue;
                    }
                    switch (format) {
                    case vfGray8: EXPECT_EQ(got[0], 0xC0); break;
                    case vfGray16: {
                        uint16_t v;
                        std::memcpy(&v, got, 2);
                        EXPECT_EQ(v, 0xC0);
                        break;
                    }
                    case vfRGB24:
                        EXPECT_EQ(got[0], 0x30);
                        EXPECT_EQ(got[1], 0xA0);
                        EXPECT_EQ(got[2], 0xC0);
                        break;
                    default:
                        EXPECT_EQ(got[0], 0x30);
                        EXPECT_EQ(got[1], 0xA0);
                        EXPECT_EQ(got[2], 0xC0);
                        EXPECT_EQ(got[3], first ? 0x80 : old[3]) << "alpha, first input " << first;
                    }
                }
        }
}

TEST(CombineCoefficient, ZeroOnInputOneWithAddGivesBackgroundPlusInputTwo) {
    const uint32_t background = 0x00281E14u;  // red 40, green 30, blue 20
    for (TPXVideoFormat format : {vfGray8, vfRGB24}) {
        TTestFrame a(format, 9, 4, 0, 70), b(format, 9, 4, 0, 71), dst(format, 9, 4, 0, 72);
        const TTestFrame cb = b;
        kernels::ApplyCoefficient(format, a.Px(0, 0), a.Step, {9, 4}, 0.0, background, true);
        kernels::CombineOp(coAdd, format, a.Px(0, 0), a.Step, b.Px(0, 0), b.Step, dst.Px(0, 0), dst.Step, {9, 4});
        const int bgBytes[3] = {20, 30, 40};
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 9; ++x)
                for (int c = 0; c < a.PixelBytes(); ++c) {
                    const int bgc = format == vfGray8 ? 40 : bgBytes[c];
                    ASSERT_EQ(dst.Px(x, y)[c], std::min(255, bgc + cb.Px(x, y)[c])) << x << "," << y;
                }
    }
}

}  // namespace
}  // namespace pixora
