// The instrument's channels, as every layer counts them: 384 infrared beams (channels 0..383)
// in a grid of 24 columns by 16 rows, channel = beam column x 16 + beam row. Per-channel tables
// have one entry more (0..384): entry 384 carries the temperature in the data files.
#pragma once

#include <cstddef>

namespace lumivo {

inline constexpr int kChannelCount = 384;
// The same count as an array size.
inline constexpr std::size_t kBeamChannelCount = kChannelCount;
// Entries of a per-channel table: the channels and the temperature entry 384.
inline constexpr std::size_t kChannelTableSize = kBeamChannelCount + 1;

inline constexpr int kBeamRows = 16;
inline constexpr int kBeamColumns = 24;
static_assert(kBeamRows * kBeamColumns == kChannelCount);

}  // namespace lumivo
