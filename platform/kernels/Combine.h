// Two-frame combining: the per-pixel operations of the combining components (combine, video
// mixer) by pixel format, and the per-input coefficient step that runs before them.
//
// Frames are addressed by byte pointers and byte strides in every format (a 16-bit grey row is
// read as words). Arithmetic follows the integer image primitives the components are defined
// by, with scale factor 0: results saturate to the sample range.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/image/PXVideoFormat.h"
#include "platform/kernels/View.h"

namespace pixora {

// Ordinals are persisted: append only. A = first input, B = second input.
enum TPXCombineOperation : uint8_t {
    coAdd,       // A + B, saturated at the sample maximum
    coSubtract,  // B - A, saturated at 0
    coMultiply,  // A * B, saturated (integer product, no rescaling)
    coDivide,    // B / A rounded half to even; x / 0 gives the maximum, 0 / 0 gives 0
    coOr,        // A | B
    coAnd,       // A & B
    coXor,       // A ^ B
    coAbsDiff,   // |A - B|
    coCopy,      // B replaces A
};

inline constexpr int KCombineOperationCount = 9;

}  // namespace pixora

namespace pixora::kernels {

// One operation over a rectangle of Size pixels. src1/src2 point at the rectangle's first pixel
// in input 1 and input 2, dst at the output rectangle's first pixel; the steps are row strides
// in bytes.
//
// By format:
// - vfGray16: word samples, saturating 16-bit arithmetic; coCopy copies input 2.
// - vfRGBA32: operations coAdd .. coXor work on the blue, green and red bytes only (the result
//   keeps input 2's alpha); the result is then composited over input 1 into dst with the
//   "over" rule of alpha compositing (fg = the result, bg = input 1, alphas a = fg / 255,
//   b = bg / 255):  colour = a * fg + (1 - a) * b * bg,  alpha = a + (1 - a) * b, each taken as
//   the exact value rounded to the nearest integer (the exact values never lie halfway).
//   coCopy composites input 2 itself over input 1; coAbsDiff works on all four bytes straight
//   into dst, without compositing.
// - every other known format (vfRGB24, vfGray8, vfUYVY): byte samples, a row of
//   Width * bytes-per-pixel bytes; coCopy copies input 2.
//
// src2 is declared writable because the vfRGBA32 operations may use input 2's rectangle as
// their scratch area: a caller must pass a copy it is free to lose for vfRGBA32 (any operation
// but coAbsDiff). It is never written in the other formats.
//
// dst may be src1 or src2 (same pointer and step, in place); no other overlap is allowed.
// A null src1, src2 or dst, an empty size, an unknown format ordinal or an operation ordinal
// above coCopy writes nothing.
void CombineOp(TPXCombineOperation op, TPXVideoFormat format, const uint8_t* src1, std::ptrdiff_t step1,
               uint8_t* src2, std::ptrdiff_t step2, uint8_t* dst, std::ptrdiff_t dstStep, TSize size) noexcept;

// "Over" compositing of a 4-byte fg pixel rectangle over a bg rectangle into dst (rules above);
// dst may be fg or bg.
void AlphaCompositeOver(const uint8_t* fg, std::ptrdiff_t fgStep, const uint8_t* bg, std::ptrdiff_t bgStep,
                        uint8_t* dst, std::ptrdiff_t dstStep, TSize size) noexcept;

// The instruction sets that the division of byte samples and the "over" compositing are written
// for. The widest one the CPU has is used, unless lowered with LimitCombineIsa (tests run every
// level the machine has; every level gives the same bytes).
enum class TCombineIsa : int { Baseline = 0, Avx2 = 1, Avx512 = 2 };
TCombineIsa CombineCpuIsa() noexcept;
// Lowers (or restores, with Avx512) the widest level used; returns the previous limit.
TCombineIsa LimitCombineIsa(TCombineIsa level) noexcept;

// ---- The coefficient step ----------------------------------------------------------------------
//
// A coefficient of exactly 1.0 leaves an input alone, exactly 0.0 replaces it with the
// background colour, and any other value c scales every sample s to round(s * k / max) with
// k = round(c * 255) for 8-bit samples (max 255) and k = round(c * 65280) for 16-bit samples
// (max 65535); rounding of k is half to even.
//
// Background colours hold blue in bits 0..7, green in 8..15, red in 16..23 and alpha in 24..31.

enum class TCoefficientAction : uint8_t { Keep, Fill, Scale };

// What the coefficient does: Keep for exactly 1.0, Fill for exactly 0.0, else Scale.
TCoefficientAction CoefficientAction(double coefficient) noexcept;

// k for a Scale coefficient in this format. Throws ERangeError naming the coefficient when it is
// not a number or k falls outside 0 .. 255 (8-bit formats) or 0 .. 65535 (vfGray16).
int CoefficientScale(TPXVideoFormat format, double coefficient);

// Every sample of the rectangle becomes round(s * k / max) (all four bytes in vfRGBA32). k is
// clamped into the sample range.
void ScaleSamples(TPXVideoFormat format, uint8_t* data, std::ptrdiff_t step, TSize size, int k) noexcept;
// The same from src into dst (same size; src and dst are either the same rectangle or apart).
void ScaleSamples(TPXVideoFormat format, const uint8_t* src, std::ptrdiff_t srcStep, uint8_t* dst,
                  std::ptrdiff_t dstStep, TSize size, int k) noexcept;

// Fills the rectangle with the background colour: vfRGBA32 all four bytes for the first input,
// the three colour bytes only for the second; vfRGB24 the blue, green, red bytes; vfGray8 the
// red byte; vfGray16 the red byte's value 0..255 as the sample (not multiplied by 256). Other
// formats are left alone.
void FillBackground(TPXVideoFormat format, uint8_t* data, std::ptrdiff_t step, TSize size,
                    uint32_t backgroundColor, bool firstInput) noexcept;

// The whole coefficient step in place: Keep, FillBackground or ScaleSamples(CoefficientScale).
// Throws ERangeError as CoefficientScale does; the data is untouched then.
void ApplyCoefficient(TPXVideoFormat format, uint8_t* data, std::ptrdiff_t step, TSize size,
                      double coefficient, uint32_t backgroundColor, bool firstInput);

// ---- Keying steps of the two-input keying components ----------------------------------------

// One key colour range: a pixel matches when its red, green and blue samples each lie within
// [Low, High] (bounds included; a range with Low > High matches nothing).
struct TColorKeyRange {
    int RedLow = 0, RedHigh = 255;
    int GreenLow = 0, GreenHigh = 255;
    int BlueLow = 0, BlueHigh = 255;
};

// Transparent colour over a rectangle: fg is the first input, bg the background input. A pixel
// of fg matches when at least one of the count ranges contains it (its red, green, blue are the
// stored channels 2, 1, 0; a grey sample s counts as red = green = blue = s, for vfGray16 the
// sample's high byte).
// - vfRGBA32, with a = fg's alpha: colour = bg's where fg matches, else round((fg * a +
//   bg * (255 - a)) / 255) per channel (fg at a = 255, bg at a = 0); alpha = min(255, a + bg alpha).
// - vfRGB24, vfGray8, vfGray16: the whole pixel of bg where fg matches, else fg's.
// dst may be fg or bg (in place). Null pointers, an empty size or another format write nothing.
void TransparentColorOp(TPXVideoFormat format, const uint8_t* fg, std::ptrdiff_t fgStep, const uint8_t* bg,
                        std::ptrdiff_t bgStep, uint8_t* dst, std::ptrdiff_t dstStep, TSize size,
                        const TColorKeyRange* ranges, int count) noexcept;

// Apply alpha over a rectangle: dst's blue, green, red come from the vfRGBA32 colour input and
// its alpha from the alpha input: that input's alpha byte when alphaPixelBytes is 4 (vfRGBA32),
// its grey sample when it is 1 (vfGray8). Other pixel sizes or null pointers write nothing.
void ApplyAlphaOp(const uint8_t* colour, std::ptrdiff_t colourStep, const uint8_t* alpha, int alphaPixelBytes,
                  std::ptrdiff_t alphaStep, uint8_t* dst, std::ptrdiff_t dstStep, TSize size) noexcept;

}  // namespace pixora::kernels
