// The production activity calculation must reproduce the literal one bit for bit: counts,
// clipped windows, threshold traces, event strings and noise figures, on many thousands of
// seeded random and adversarial windows, for every method and a spread of factors. Also the
// whole-window call against channel-by-channel analysis.
#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <vector>

#include "core/analysis/analysis_kernel_job.h"
#include "core/analysis/analysis_literal.h"
#include "core/analysis/analysis_module.h"
#include "core/common/rounding.h"
#include "window_generators.h"

namespace lumivo {
namespace {

using testing::WindowGenerator;

// Sanitizer builds run the same cases, fewer of them, to stay within a few seconds.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif
constexpr int kWindowsPerKind = kSanitized ? 60 : 600;
constexpr int kWholeWindowRounds = kSanitized ? 3 : 6;
constexpr int kKernelBuildRounds = kSanitized ? 6 : 24;

// Compares two results field by field; returns a description of the first difference.
std::string Difference(const ChannelAnalysis& a, const ChannelAnalysis& b) {
    if (a.count != b.count)
        return "count " + std::to_string(a.count) + " vs " + std::to_string(b.count);
    if (a.events != b.events) return "event marks";
    if (EventString(a.events) != EventString(b.events)) return "event string";
    for (std::size_t i = 0; i < kThresholdTraceLength; ++i) {
        if (a.threshold_trace[i] != b.threshold_trace[i]) {
            return "trace[" + std::to_string(i) + "] " + std::to_string(a.threshold_trace[i]) +
                   " vs " + std::to_string(b.threshold_trace[i]);
        }
    }
    if (a.clip_ripple != b.clip_ripple || a.clip_level != b.clip_level || a.clip_d != b.clip_d)
        return "first-pass noise";
    if (a.detect_ripple != b.detect_ripple || a.detect_level != b.detect_level ||
        a.detect_d != b.detect_d)
        return "second-pass noise";
    return {};
}

TEST(ActivityEquivalence, ProductionMatchesLiteralOnRandomAndAdversarialWindows) {
    WindowGenerator gen(0x5eed'a11a'0001ULL);
    int compared = 0;
    for (int kind = 0; kind < WindowGenerator::kKinds; ++kind) {
        for (int n = 0; n < kWindowsPerKind; ++n) {
            // Longer windows (a larger RT_Buffer) must give the same results from row 0..499.
            const std::size_t rows =
                n % 5 == 0 ? 500 + static_cast<std::size_t>(gen.Uniform(1, 40)) : 500;
            const auto x = gen.Make(kind, rows);
            const double factor = gen.Factor();
            const auto method = static_cast<DspMethod>(n % 3);

            auto fast = x;
            auto slow = x;
            const auto rf = AnalyzeChannelWindow(SampleWindow{fast, rows, 1}, 0, factor, method);
            const auto rs = literal::AnalyzeChannelWindowLiteral(SampleWindow{slow, rows, 1}, 0,
                                                                 factor, method);
            const std::string diff = Difference(rf, rs);
            ASSERT_TRUE(diff.empty())
                << diff << " (kind " << WindowGenerator::KindName(kind) << ", window " << n
                << ", factor " << factor << ", method " << static_cast<int>(method) << ")";
            ASSERT_EQ(fast, slow) << "clipped windows differ (kind "
                                  << WindowGenerator::KindName(kind) << ", window " << n << ")";
            ++compared;
        }
    }
    EXPECT_EQ(compared, WindowGenerator::kKinds * kWindowsPerKind);
}

// A SampleMatrix-shaped table of `rows` rows whose every column is a window of a random kind.
std::vector<std::int16_t> RandomWindow(WindowGenerator& gen, std::size_t rows) {
    std::vector<std::int16_t> table(rows * kChannelTableSize);
    for (std::size_t c = 0; c < kChannelTableSize; ++c) {
        const auto col = gen.Make(gen.Uniform(0, WindowGenerator::kKinds - 1), rows);
        for (std::size_t r = 0; r < rows; ++r) table[r * kChannelTableSize + c] = col[r];
    }
    return table;
}

TEST(ActivityEquivalence, WholeWindowCallMatchesChannelByChannel) {
    WindowGenerator gen(0x5eed'a11a'0002ULL);
    constexpr std::size_t kRows = 501;  // RT_Buffer 500 plus the unused last row
    for (int round = 0; round < kWholeWindowRounds; ++round) {
        std::vector<std::int16_t> table = RandomWindow(gen, kRows);
        ChannelSet channels;
        for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
            channels.set(c, round % 2 == 0 || gen.Uniform(0, 3) != 0);
        }
        const double factor = gen.Factor();
        const auto method = static_cast<DspMethod>(round % 3);

        auto whole = table;
        std::vector<std::int16_t> counts(kBeamChannelCount, -7);
        std::vector<EventMarks> events(kBeamChannelCount);
        std::vector<ThresholdTrace> traces(kBeamChannelCount);
        AnalyzeWindowChannels(SampleWindow{whole, kRows}, channels, factor, method, counts,
                              {events, traces});

        auto single = table;
        for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
            if (!channels.test(c)) {
                EXPECT_EQ(counts[c], -7) << "channel " << c << " is not in the set";
                continue;
            }
            const auto r = literal::AnalyzeChannelWindowLiteral(SampleWindow{single, kRows}, c,
                                                                factor, method);
            ASSERT_EQ(counts[c], r.count) << "channel " << c;
            ASSERT_EQ(events[c], r.events) << "channel " << c;
            ASSERT_EQ(traces[c], r.threshold_trace) << "channel " << c;
        }
        ASSERT_EQ(whole, single) << "clipping touched other readings (round " << round << ")";
    }
}

TEST(ActivityEquivalence, WideAndBaselineKernelBuildsAgree) {
    // The kernel is compiled twice (baseline and AVX2); whichever runs must give the same
    // bits. Without AVX2 on this processor both calls take the baseline build.
    if (!WideKernelAvailable()) std::cout << "[ NOTE     ] no AVX2 here: baseline build only\n";
    WindowGenerator gen(0x5eed'a11a'0004ULL);
    constexpr std::size_t kRows = 501;
    for (int round = 0; round < kKernelBuildRounds; ++round) {
        std::vector<std::int16_t> table = RandomWindow(gen, kRows);
        ChannelSet channels;
        channels.set();
        const double factor = gen.Factor();
        const auto method = static_cast<DspMethod>(round % 3);
        struct Run {
            std::vector<std::int16_t> window, counts;
            std::vector<EventMarks> events;
            std::vector<ThresholdTrace> traces;
        };
        Run runs[2];
        for (int baseline = 0; baseline < 2; ++baseline) {
            Run& r = runs[baseline];
            r.window = table;
            r.counts.assign(kBeamChannelCount, 0);
            r.events.resize(kBeamChannelCount);
            r.traces.resize(kBeamChannelCount);
            WindowAnalysisExtras extras{r.events, r.traces};
            extras.baseline_instructions_only = baseline == 1;
            AnalyzeWindowChannels(SampleWindow{r.window, kRows}, channels, factor, method, r.counts,
                                  extras);
        }
        ASSERT_EQ(runs[0].counts, runs[1].counts) << "round " << round;
        ASSERT_EQ(runs[0].events, runs[1].events) << "round " << round;
        ASSERT_EQ(runs[0].traces, runs[1].traces) << "round " << round;
        ASSERT_EQ(runs[0].window, runs[1].window) << "round " << round;
    }
}

TEST(ActivityEquivalence, WholeWindowCallOnANarrowRowFallsBackToSingleChannels) {
    // A row of 390 readings is wide enough for every block; one of 384 is too, exactly. A
    // stride of 384 with the last block partly outside the set checks the block bounds.
    WindowGenerator gen(0x5eed'a11a'0003ULL);
    for (std::size_t stride : {std::size_t{384}, std::size_t{390}}) {
        std::vector<std::int16_t> table(500 * stride);
        for (auto& v : table) v = static_cast<std::int16_t>(gen.Uniform(0, 4095));
        ChannelSet channels;
        channels.set(0);
        channels.set(383);
        std::vector<std::int16_t> counts(kBeamChannelCount);
        auto whole = table;
        AnalyzeWindowChannels(SampleWindow{whole, 500, stride}, channels, 1.3,
                              DspMethod::ThresholdAverage, counts);
        auto single = table;
        for (std::size_t c : {std::size_t{0}, std::size_t{383}}) {
            EXPECT_EQ(counts[c], AnalyzeChannelWindow(SampleWindow{single, 500, stride}, c, 1.3,
                                                      DspMethod::ThresholdAverage)
                                     .count);
        }
        EXPECT_EQ(whole, single);
    }
}

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
    struct Case {
        double in;
        double out;
    };
    const Case cases[] = {{2.5, 2},
                          {3.5, 4},
                          {-2.5, -2},
                          {-3.5, -4},
                          {0.5, 0},
                          {1.5, 2},
                          {253.6, 254},
                          {252.5, 252},
                          {-0.4, 0},
                          {1e300, 1e300},
                          {4503599627370497.0, 4503599627370497.0},
                          {2251799813685249.5, 2251799813685250.0}};
    for (const auto& c : cases) EXPECT_EQ(RoundHalfEven(c.in), c.out) << c.in;

    // Against the library's round-to-nearest-even over many values, including exact halves.
    WindowGenerator gen(7);
    for (int i = 0; i < 200000; ++i) {
        const double v =
            (i % 2 ? gen.Uniform(-70000, 70000) + 0.5 : gen.Uniform(-70000, 70000) / 7.0);
        ASSERT_EQ(RoundHalfEven(v), std::nearbyint(v)) << v;
        ASSERT_EQ(static_cast<double>(RoundToInt16(v)), RoundToInt16Value(v)) << v;
    }
    EXPECT_EQ(RoundToInt16(40000.0), 32767);
    EXPECT_EQ(RoundToInt16(-40000.0), -32768);
    EXPECT_EQ(RoundToInt16(32767.5), 32767);
    EXPECT_EQ(RoundToInt16(std::nan("")), 0);
    EXPECT_EQ(RoundToInt32(3e9), 2147483647);
}

TEST(Rounding, MeanOf30MatchesRoundedDivisionForEverySum) {
    for (std::int32_t sum = -30 * 32768; sum <= 30 * 32767; ++sum) {
        const auto expected =
            static_cast<std::int32_t>(RoundHalfEven(static_cast<double>(sum) / 30.0));
        if (RoundedMeanOf30(sum) != expected) {
            FAIL() << "sum " << sum << ": " << RoundedMeanOf30(sum) << " instead of " << expected;
        }
    }
}

TEST(Rounding, IntegerQuotientMatchesRoundedDivision) {
    for (std::int64_t den : {5, 30, 497}) {
        for (std::int64_t num = -4000; num <= 4000; ++num) {
            ASSERT_EQ(DivideRoundHalfEven(num, den),
                      static_cast<std::int64_t>(
                          std::nearbyint(static_cast<double>(num) / static_cast<double>(den))))
                << num << "/" << den;
        }
    }
}

}  // namespace
}  // namespace lumivo
