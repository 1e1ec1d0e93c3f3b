// Per-channel thresholds of interleaved 8-bit samples: samples below a lower level and above an
// upper level are replaced by fixed values (the vendor functions ippiThreshold_LTVal,
// ippiThreshold_GTVal and ippiThreshold_LTValGTVal).
#pragma once

#include <cstdint>

#include "platform/kernels/View.h"

namespace pixora::kernels {

// Levels and values per stored channel (index = channel, up to 4). A lower level of 0 and an
// upper level of 255 disable that side for the channel.
struct TThresholdLimits {
    uint8_t LowerLevel[4] = {0, 0, 0, 0};
    uint8_t LowerValue[4] = {0, 0, 0, 0};
    uint8_t UpperLevel[4] = {255, 255, 255, 255};
    uint8_t UpperValue[4] = {255, 255, 255, 255};
};

// Rectangle r of dst: a sample s of channel c becomes LowerValue[c] when s < LowerLevel[c],
// else UpperValue[c] when s > UpperLevel[c], else s. The comparisons are strict, so a sample
// equal to a level is kept. Channels 1 to 4; only samples inside r are written; dst may be src.
void Threshold8(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TThresholdLimits& limits) noexcept;

}  // namespace pixora::kernels
