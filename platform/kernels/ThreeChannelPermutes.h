// Byte-permute tables that deinterleave and reinterleave 64 three-channel 8-bit pixels (192 bytes
// in three 512-bit registers) with AVX-512 VBMI, shared by the kernels that work on planes of
// RGB24 samples (colour twist, image adjust).
#pragma once

#include <immintrin.h>

namespace pixora::kernels::detail {

struct TThreeChannelPermutes {
    // In: dword p of group q (pixels 16q .. 16q + 15) of channel k takes byte 3 (16q + p) + k,
    // found in registers Low[q] and Low[q] + 1.
    __m512i In[3][4];
    int Low[4];
    // Out: after two unsigned-saturating packs of four dword vectors, the byte of pixel p sits at
    // 16 ((p mod 16) / 4) + 4 (p / 16) + p mod 4. Output register j byte t is channel (64 j + t) mod 3
    // of pixel (64 j + t) / 3: channels 0 and 1 through a two-register permute, channel 2 blended in.
    __m512i OutPair[3], OutThird[3];
    __mmask64 ThirdMask[3];
};

// Built once, on first use.
const TThreeChannelPermutes& ThreeChannelPermutes() noexcept;

}  // namespace pixora::kernels::detail
