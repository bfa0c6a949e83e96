// Windows for the benchmarks: what a recorded raw page holds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "core/analysis/analysis_module.h"

namespace lumivo::bench {

// A plausible window of `rt_buffer` readings: every channel at its own level with converter
// noise and a few dips of passing animals; the last row is 0 as in a recorded page.
inline std::vector<std::int16_t> PlausibleWindow(std::uint64_t seed, std::size_t rt_buffer = 500) {
    std::mt19937_64 rng(seed);
    std::vector<std::int16_t> m((rt_buffer + 1) * kChannelTableSize, 0);
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        const int level = std::uniform_int_distribution<int>(1500, 3000)(rng);
        std::uniform_int_distribution<int> noise(-25, 25);
        for (std::size_t r = 0; r < rt_buffer; ++r) {
            m[r * kChannelTableSize + c] = static_cast<std::int16_t>(level + noise(rng));
        }
        const int dips = std::uniform_int_distribution<int>(0, 8)(rng);
        for (int d = 0; d < dips; ++d) {
            const auto at = std::uniform_int_distribution<std::size_t>(0, rt_buffer - 1)(rng);
            const auto len = std::uniform_int_distribution<std::size_t>(2, 40)(rng);
            for (std::size_t r = at; r < std::min(rt_buffer, at + len); ++r) {
                m[r * kChannelTableSize + c] = static_cast<std::int16_t>(level / 2);
            }
        }
    }
    return m;
}

}  // namespace lumivo::bench
