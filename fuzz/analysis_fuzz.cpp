// Fuzzes the activity calculation: a window built from the input runs through the literal
// transcription, the single-channel production path and the whole-window kernel (both of its
// instruction-set builds); any difference in counts, events, thresholds or clipped readings
// aborts. The body-bends histogram runs on the same window.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/analysis/analysis_literal.h"
#include "core/analysis/analysis_module.h"

namespace {

using namespace lumivo;

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const auto method = static_cast<DspMethod>(data[0] % 3);
    // The factor: one of the usual values, or one taken from the input within the accepted
    // range.
    static const double kFactors[] = {1.3, 1.5, 2.0, 0.0, 1.0, 10.0, -1.0, kMaxSnrFactor};
    double factor = kFactors[data[1] % 8];
    if (data[1] >= 128 && size >= 12) {
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(data[4 + i]) << (8 * i);
        double v = 0.0;
        std::memcpy(&v, &bits, sizeof v);
        if (std::isfinite(v) && std::fabs(v) <= kMaxSnrFactor) factor = v;
    }
    // Readings: the input as 16-bit values (or, with the scale byte, as small steps around a
    // level), repeated to fill the window.
    const std::uint8_t* payload = data + 2;
    const std::size_t n = size - 2;
    std::vector<std::int16_t> column(kAnalysisWindowLength);
    const bool steps = data[2] % 2 == 0;
    for (std::size_t i = 0; i < column.size(); ++i) {
        if (steps) {
            column[i] =
                static_cast<std::int16_t>(2000 + 8 * static_cast<int>(payload[i % n] % 64) - 256);
        } else {
            const std::uint8_t lo = payload[(2 * i) % n];
            const std::uint8_t hi = payload[(2 * i + 1) % n];
            column[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
        }
    }

    auto slow = column;
    const auto rl =
        literal::AnalyzeChannelWindowLiteral(SampleWindow{slow, slow.size(), 1}, 0, factor, method);
    auto fast = column;
    const auto rf = AnalyzeChannelWindow(SampleWindow{fast, fast.size(), 1}, 0, factor, method);
    Check(rf.count == rl.count && rf.events == rl.events &&
          rf.threshold_trace == rl.threshold_trace);
    Check(fast == slow);

    // The same column in two channels of a window (two blocks of the kernel), through both of
    // its builds.
    constexpr std::size_t kRows = kAnalysisWindowLength;
    for (int baseline = 0; baseline < 2; ++baseline) {
        std::vector<std::int16_t> table(kRows * kChannelTableSize);
        for (std::size_t r = 0; r < kRows; ++r) {
            table[r * kChannelTableSize + 3] = column[r];
            table[r * kChannelTableSize + 370] = column[r];
        }
        ChannelSet channels;
        channels.set(3);
        channels.set(370);
        std::vector<std::int16_t> counts(kBeamChannelCount, -1);
        std::vector<EventMarks> events(kBeamChannelCount);
        std::vector<ThresholdTrace> traces(kBeamChannelCount);
        WindowAnalysisExtras extras{events, traces};
        extras.baseline_instructions_only = baseline == 1;
        AnalyzeWindowChannels(SampleWindow{table, kRows}, channels, factor, method, counts, extras);
        for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
            if (!channels.test(c)) {
                Check(counts[c] == -1);
                continue;
            }
            Check(counts[c] == rl.count && events[c] == rl.events &&
                  traces[c] == rl.threshold_trace);
            for (std::size_t r = 0; r < kRows; ++r)
                Check(table[r * kChannelTableSize + c] == slow[r]);
        }
    }

    const auto h = BendHistogramOfWindow(ConstSampleWindow{column, column.size(), 1}, 0);
    Check(h[0] == 0 && h[1] == 0);
    return 0;
}
