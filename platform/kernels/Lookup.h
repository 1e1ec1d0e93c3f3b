// Per-sample lookup tables: building a full table from (level, value) pairs with step, linear or
// cubic interpolation, and mapping interleaved 8-bit and 16-bit samples through tables.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/kernels/View.h"

namespace pixora::kernels {

enum class TLevelInterpolation : uint8_t { Step, Linear, Cubic };

// Fills table[0 .. SampleMax<T>] from count (level, value) pairs sorted by ascending level
// (equal levels keep their order), with the semantics of the vendor functions ippiLUT,
// ippiLUT_Linear and ippiLUT_Cubic:
// - a sample v with levels[k] <= v < levels[k + 1] becomes
//     Step:   values[k];
//     Linear: values[k] + (v - levels[k]) * (values[k + 1] - values[k]) / (levels[k + 1] - levels[k]);
//     Cubic:  the cubic through the pairs k - 1, k, k + 1, k + 2;
// - a sample outside [levels[0], levels[count - 1]) keeps its value, so the last level itself
//   is copied (a table that must reach full scale ends one level above it);
// - fewer than two pairs map every sample to itself (the vendor functions refuse such a table).
// Results are rounded to the nearest integer (halves away from zero) and saturated to
// 0 .. SampleMax<T>. Linear interpolation is exact integer arithmetic; cubic runs in double
// precision. Pairs that share a level: step and linear use them as given (the interval between
// equal levels is empty, so a sample at that level takes the last of them); cubic uses the last
// pair of each level, since a cubic through two points of equal level does not exist. Near the
// ends of the table, where k - 1 or k + 2 does not exist, the cubic runs through the four pairs
// nearest to the interval (three or two pairs when the table has no more: a parabola or a line).
// Levels and values may lie outside the sample range: levels only bound the intervals and
// values saturate.
template <class T>
void BuildLevelTable(const int32_t* levels, const int32_t* values, int count, TLevelInterpolation mode, T* table);

// True when table maps every sample of T to itself.
template <class T>
bool IsIdentityTable(const T* table) noexcept;

// Rectangle r of dst becomes tables[c][src] for the samples of stored channel c (c < channels
// of the views, 1 to 4). Tables hold 256 entries; a null table copies its channel. Only samples
// inside r are written; dst may be src itself.
void Lookup8(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const uint8_t* const tables[4]) noexcept;

// Rectangle r of a one-channel 16-bit view becomes table[src]; the table holds 65536 entries.
void Lookup16(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const uint16_t* table) noexcept;

namespace detail {

// The row paths behind Lookup8, open to tests that hold them against each other: n samples of a
// run that starts at channel 0, tables t[0 .. channels - 1] all present.
void LookupRowScalar(const uint8_t* s, uint8_t* d, std::size_t n, int channels, const uint8_t* const t[4]);
// Only where CpuHasVbmi().
void LookupRowVbmi(const uint8_t* s, uint8_t* d, std::size_t n, int channels, const uint8_t* const t[4]);
bool CpuHasVbmi() noexcept;

}  // namespace detail

}  // namespace pixora::kernels
