// A 3 x 4 colour-twist matrix applied to the first three channels of 8-bit pixels, as the
// vendor function ippiColorTwist32f_8u defines it; a fourth channel is copied.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/kernels/View.h"

namespace pixora::kernels {

struct TTwistMatrix {
    float M[3][4] = {};  // row k gives stored channel k: M[k][0..2] weigh channels 0..2, M[k][3] is added
};

// One pixel's three channels: out[k] = M[k][3] + M[k][2] c2 + M[k][1] c1 + M[k][0] c0 in single
// precision, accumulated in that order with one fused multiply-add per term (a single rounding
// each), saturated to 0..255 and rounded to the nearest integer with halves to even (what a
// float-to-integer conversion does in the default rounding mode). A NaN sum (only reachable
// through infinite products) gives 0.
void TwistPixel(const uint8_t in[3], uint8_t out[3], const TTwistMatrix& m) noexcept;

// Every pixel of r with TwistPixel; on four-channel views the fourth channel is copied from src.
// Three or four channels; only samples inside r are written; dst may be src.
void ColorTwist8(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TTwistMatrix& m) noexcept;

namespace detail {

// The row paths behind ColorTwist8, open to tests that hold them against each other: a run of
// pixels with 3 or 4 channels.
void TwistRowScalar(const uint8_t* s, uint8_t* d, std::size_t pixels, int channels, const TTwistMatrix& m) noexcept;
// Only where CpuHasAvx2() (AVX2 and FMA).
void TwistRowAvx2(const uint8_t* s, uint8_t* d, std::size_t pixels, int channels, const TTwistMatrix& m) noexcept;
bool CpuHasAvx2() noexcept;
// Only where CpuHasAvx512() (AVX-512 F, BW and VBMI, besides AVX2 and FMA).
void TwistRowAvx512(const uint8_t* s, uint8_t* d, std::size_t pixels, int channels, const TTwistMatrix& m) noexcept;
bool CpuHasAvx512() noexcept;

}  // namespace detail

}  // namespace pixora::kernels
