// Hand-made windows with known results for the activity calculation and the body-bends
// histogram. Every case runs through both implementations (production and literal).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <vector>

#include "core/analysis/analysis_literal.h"
#include "core/analysis/analysis_module.h"

namespace lumivo {
namespace {

using Analyzer = std::function<ChannelAnalysis(SampleWindow, std::size_t, double, DspMethod)>;

struct Impl {
    const char* name;
    Analyzer run;
};

const Impl kImpls[] = {
    {"production", [](SampleWindow w, std::size_t c, double f,
                      DspMethod m) { return AnalyzeChannelWindow(w, c, f, m); }},
    {"literal", [](SampleWindow w, std::size_t c, double f,
                   DspMethod m) { return literal::AnalyzeChannelWindowLiteral(w, c, f, m); }},
};

// One channel's window with a row stride of 1.
ChannelAnalysis Analyze(const Impl& impl, std::vector<std::int16_t>& x, double factor,
                        DspMethod method) {
    return impl.run(SampleWindow{x, x.size(), 1}, 0, factor, method);
}

std::vector<std::size_t> EventSamples(const ChannelAnalysis& r) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < kAnalysisWindowLength; ++i) {
        if (r.events.test(i)) at.push_back(i);
    }
    return at;
}

std::vector<std::int16_t> Flat(std::int16_t level) {
    return std::vector<std::int16_t>(kAnalysisWindowLength, level);
}

TEST(ActivityGolden, FlatWindowHasNoNoiseAndNoEvents) {
    for (const auto& impl : kImpls) {
        SCOPED_TRACE(impl.name);
        for (int method = 0; method <= 2; ++method) {
            auto x = Flat(2000);
            const auto r = Analyze(impl, x, 1.3, static_cast<DspMethod>(method));
            EXPECT_EQ(r.count, 0) << "method " << method;
            EXPECT_EQ(r.clip_ripple, 0);
            EXPECT_EQ(r.clip_level, 2000);
            EXPECT_EQ(r.clip_d, 1.0);
            EXPECT_EQ(r.detect_d, 1.0);
            EXPECT_EQ(x, Flat(2000)) << "nothing exceeds the spike limit";
        }
        // Method 1 lower threshold: Q x (100 - 1.75) / 100 for the first four samples, then
        // the 4-sample running average towards 0.99 x 2000. Rounding halves to even stalls it
        // at 1978 (7914 / 4 = 1978.5 rounds down), short of 1980.
        auto x = Flat(2000);
        const auto r = Analyze(impl, x, 1.3, DspMethod::ThresholdAverage);
        EXPECT_EQ(r.threshold_trace[0], 1965);
        EXPECT_EQ(r.threshold_trace[3], 1965);
        EXPECT_EQ(r.threshold_trace[4], 1969);  // (1980 + 3 x 1965) / 4 = 1968.75
        EXPECT_EQ(r.threshold_trace[499], 1978);
        EXPECT_EQ(r.threshold_trace[500], 0);
    }
}

TEST(ActivityGolden, WindowOfZerosUsesTheFactorAsNoise) {
    for (const auto& impl : kImpls) {
        SCOPED_TRACE(impl.name);
        for (double factor : {1.3, 2.0, 7.5}) {
            auto x = Flat(0);
            const auto r = Analyze(impl, x, factor, DspMethod::ThresholdAverage);
            EXPECT_EQ(r.clip_d, factor + 1.0);
            EXPECT_EQ(r.detect_d, factor + 1.0);
            EXPECT_EQ(r.count, 0);
        }
    }
}

TEST(ActivityGolden, NoiseFigureIsRippleOverLevelTimesFactor) {
    // A 2000/2100 alternation: every sample from 2 on is a strict extreme, so P - V = 100
    // throughout; a = 49700 / 497 = 100, m = round(1018800 / 497 = 2049.9) = 2050 and
    // z = (1 - 1950 / 2050) x 100 x 2.
    std::vector<std::int16_t> x(kAnalysisWindowLength);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<std::int16_t>(i % 2 ? 2100 : 2000);
    for (const auto& impl : kImpls) {
        SCOPED_TRACE(impl.name);
        auto w = x;
        const auto r = Analyze(impl, w, 2.0, DspMethod::ThresholdAverage);
        EXPECT_EQ(r.clip_ripple, 100);
        EXPECT_EQ(r.clip_level, 2050);
        EXPECT_EQ(r.clip_d, (1.0 - 1950.0 / 2050.0) * 100.0 * 2.0 + 1.0);
        EXPECT_EQ(w, x) << "the spike limit lies about 10 % above the peaks";
    }
}

TEST(ActivityGolden, BinaryMethodCountsOneEventPerFrameThatSawADip) {
    auto make = [] {
        auto x = Flat(2000);
        for (std::size_t i = 40; i < 140; ++i) x[i] = 1000;
        return x;
    };
    for (const auto& impl : kImpls) {
        SCOPED_TRACE(impl.name);
        auto x = make();
        const auto r = Analyze(impl, x, 1.3, DspMethod::ThresholdBinary);
        EXPECT_EQ(r.count, 4);
        EXPECT_EQ(EventSamples(r), (std::vector<std::size_t>{60, 90, 120, 150}));
        EXPECT_EQ(x, make()) << "a dip is never clipped";
    }
}

TEST(ActivityGolden, BinaryMethodIgnoresDipsAfterTheLastFrame) {
    for (const auto& impl : kImpls) {
        SCOPED_TRACE(impl.name);
        auto x = Flat(2000);
        for (std::size_t i = 485; i < 495; ++i) x[i] = 1000;
        EXPECT_EQ(Analyze(impl, x, 1.3, DspMethod::ThresholdBinary).count, 0);
    }
}

TEST(ActivityGolden, CrossingMethodCountsEachFallBelowTheThreshold) {
    auto x0 = Flat(2000);
    std::vector<std::size_t> starts;
    for (std::size_t j = 0; j < 10; ++j) {
        starts.push_back(25 + 50 * j);
        for (std::size_t i = 25 + 50 * j; i < 45 + 50 * j; ++i) x0[i] = 1000;
    }
    for (const auto& impl : kImpls) {
        SCOPED_TRACE(impl.name);
        auto x = x0;
        const auto r = Analyze(impl, x, 1.3, DspMethod::ThresholdAverage);
        EXPECT_EQ(r.count, 10);
        EXPECT_EQ(EventSamples(r), starts);
        // The binary method sees the same dips frame by frame: each of the 16 frames ending at
        // 30, 60, ..., 480 contains part of a dip (dips fill 20 of every 50 samples).
        x = x0;
        EXPECT_EQ(Analyze(impl, x, 1.3, DspMethod::ThresholdBinary).count, 16);
    }
}

TEST(ActivityGolden, EventAtTheLastSampleIsCountedAndWritten) {
    for (const auto& impl : kImpls) {
        SCOPED_TRACE(impl.name);
        auto x = Flat(2000);
        x[499] = 1000;
        const auto r = Analyze(impl, x, 1.3, DspMethod::ThresholdAverage);
        EXPECT_EQ(r.count, 1);
        EXPECT_EQ(EventSamples(r), std::vector<std::size_t>{499});
        const std::string s = EventString(r.events);
        ASSERT_EQ(s.size(), 500u);
        EXPECT_EQ(s.back(), '1');
        EXPECT_EQ(s.find('1'), 499u);
    }
}

TEST(ActivityGolden, SpikesAboveThePeakLevelAreClippedInTheWindow) {
    // A single-sample spike of 4000 on 2000 is a strict maximum, and the peak envelope holds
    // it for the rest of the window: a = round(249 x 2000 / 497) = 1002, m = 2004, so
    // z = (1 - 1002 / 2004) x 100 x 1.3 = 65 and D = 66. The limit at the spike is built from
    // the 30 peaks behind it (2000): 2000 x 166 / 100 = 3320, and the spike is cut to it.
    for (const auto& impl : kImpls) {
        SCOPED_TRACE(impl.name);
        auto x = Flat(2000);
        x[250] = 4000;
        const auto r = Analyze(impl, x, 1.3, DspMethod::ThresholdAverage);
        EXPECT_EQ(r.clip_d, 66.0);
        auto expected = Flat(2000);
        expected[250] = 3320;
        EXPECT_EQ(x, expected);
        EXPECT_EQ(r.count, 0);
    }
}

TEST(ActivityGolden, MotilityCountsALongMonotonicRunOnce) {
    // A fall from 2000 to 1000 at sample 200: the forward baseline minimum drops 50 samples
    // early and its 50-sample mean ramps down over samples 101..151, so the detrended signal
    // ramps up by 20 per sample and its 10-sample mean rises from sample 93 to 160. The run
    // turns at 93 (R = 2) and reaches ten steps at 103 with G = 130: one event. The final fall
    // (191..200) is only ten samples long, so its run counter stops at nine.
    for (const auto& impl : kImpls) {
        SCOPED_TRACE(impl.name);
        auto x = Flat(2000);
        for (std::size_t i = 200; i < x.size(); ++i) x[i] = 1000;
        const auto r = Analyze(impl, x, 1.3, DspMethod::MotilityIndex);
        EXPECT_EQ(r.count, 1);
        EXPECT_EQ(EventSamples(r), std::vector<std::size_t>{103});
        EXPECT_EQ(r.threshold_trace[103], 130 - 5);  // G - L, with L = max(a, 5) = 5
        EXPECT_EQ(r.threshold_trace[0], 0);
    }
}

TEST(ActivityGolden, MotilityDoesNotRecountALevelStretchAfterARun) {
    // With one intermediate sample (2000, 1500, 1000) the final fall of the smoothed signal is
    // eleven samples long and ends on a long level stretch at 0. The run reaches ten steps at
    // sample 201 and is counted there; the level samples after it are not new steps and must
    // not count again (checking them too would add one event per level sample, 300 in all).
    for (const auto& impl : kImpls) {
        SCOPED_TRACE(impl.name);
        auto x = Flat(2000);
        x[200] = 1500;
        for (std::size_t i = 201; i < x.size(); ++i) x[i] = 1000;
        const auto r = Analyze(impl, x, 1.3, DspMethod::MotilityIndex);
        EXPECT_EQ(EventSamples(r), (std::vector<std::size_t>{103, 201}));
        EXPECT_EQ(r.count, 2);
    }
}

TEST(ActivityGolden, OnlyTheFirst500RowsOfALongerWindowAreAnalysed) {
    constexpr std::size_t kRows = 800;
    constexpr std::size_t kStride = 3;
    std::vector<std::int16_t> table(kRows * kStride, 2000);
    for (std::size_t r = 40; r < 140; ++r) table[r * kStride + 1] = 1000;
    for (std::size_t r = 500; r < kRows; ++r)
        table[r * kStride + 1] = static_cast<std::int16_t>(r % 7 ? 30000 : -30000);
    const auto before = table;
    for (const auto& impl : kImpls) {
        SCOPED_TRACE(impl.name);
        auto t = before;
        const auto r =
            impl.run(SampleWindow{t, kRows, kStride}, 1, 1.3, DspMethod::ThresholdBinary);
        EXPECT_EQ(r.count, 4);
        EXPECT_EQ(t, before) << "rows from 500 on and other channels stay as they were";
    }
}

TEST(ActivityGolden, ShortWindowsAndBadArgumentsAreRefused) {
    std::vector<std::int16_t> table(499 * kChannelTableSize, 2000);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& impl : kImpls) {
        SCOPED_TRACE(impl.name);
        EXPECT_THROW(impl.run(SampleWindow{table, 499}, 0, 1.3, DspMethod::ThresholdAverage),
                     std::invalid_argument);
        std::vector<std::int16_t> ok(500 * kChannelTableSize, 2000);
        EXPECT_THROW(
            impl.run(SampleWindow{ok, 500}, kChannelTableSize, 1.3, DspMethod::ThresholdAverage),
            std::invalid_argument);
        // A table shorter than its declared rows.
        EXPECT_THROW(impl.run(SampleWindow{std::span(ok).first(ok.size() - 1), 500}, 0, 1.3,
                              DspMethod::ThresholdAverage),
                     std::invalid_argument);
        for (double f : {nan, inf, -inf, 2.0 * kMaxSnrFactor}) {
            EXPECT_THROW(impl.run(SampleWindow{ok, 500}, 0, f, DspMethod::ThresholdAverage),
                         std::invalid_argument);
        }
        EXPECT_THROW(impl.run(SampleWindow{ok, 500}, 0, 1.3, static_cast<DspMethod>(3)),
                     std::invalid_argument);
        EXPECT_NO_THROW(impl.run(SampleWindow{ok, 500}, 384, 1.3, DspMethod::ThresholdAverage));
    }
    std::vector<std::int16_t> counts(kBeamChannelCount);
    ChannelSet all;
    all.set();
    EXPECT_THROW(AnalyzeWindowChannels(SampleWindow{table, 499}, all, 1.3,
                                       DspMethod::ThresholdAverage, counts),
                 std::invalid_argument);
    EXPECT_THROW(BendHistogramOfWindow(ConstSampleWindow{table, 499}, 0), std::invalid_argument);
    EXPECT_THROW(DspMethodFromNumber(-1), std::invalid_argument);
    EXPECT_EQ(DspMethodFromNumber(2), DspMethod::MotilityIndex);
}

TEST(ActivityGolden, EventStringHolds499Or500Characters) {
    EventMarks m;
    m.set(0);
    m.set(30);
    std::string s = EventString(m);
    ASSERT_EQ(s.size(), 499u);
    EXPECT_EQ(s[0], '1');
    EXPECT_EQ(s[30], '1');
    EXPECT_EQ(std::count(s.begin(), s.end(), '1'), 2);
    EXPECT_EQ(std::count(s.begin(), s.end(), '0'), 497);
    m.set(499);
    EXPECT_EQ(EventString(m).size(), 500u);
}

// A triangular pulse on a flat base, pointed enough to stay a strict peak after smoothing.
void AddPulse(std::vector<std::int16_t>& x, std::size_t at) {
    x[at] = static_cast<std::int16_t>(x[at] + 300);
    x[at - 1] = static_cast<std::int16_t>(x[at - 1] + 200);
    x[at + 1] = static_cast<std::int16_t>(x[at + 1] + 200);
    x[at - 2] = static_cast<std::int16_t>(x[at - 2] + 100);
    x[at + 2] = static_cast<std::int16_t>(x[at + 2] + 100);
}

TEST(BendHistogram, CountsThePeriodOfAPeriodicSignal) {
    // Triangle wave with period 20, peaks at 0, 20, ..., 480: 24 peaks inside 1..498, so 23
    // intervals of 20 samples.
    std::vector<std::int16_t> x(kAnalysisWindowLength);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const int phase = static_cast<int>(i % 20);
        x[i] = static_cast<std::int16_t>(2000 + 40 * (phase <= 10 ? 10 - phase : phase - 10));
    }
    const auto h = BendHistogramOfWindow(ConstSampleWindow{x, x.size(), 1}, 0);
    BendHistogram expected{};
    expected[20] = 23;
    EXPECT_EQ(h, expected);
}

TEST(BendHistogram, IgnoresIntervalsOfFiftySamplesOrMore) {
    struct Case {
        std::vector<std::size_t> pulses;
        std::vector<std::pair<std::size_t, int>> bins;  // expected non-zero bins
    };
    const Case cases[] = {
        {{10, 59, 109, 160, 170}, {{49, 1}, {10, 1}}},  // intervals 49, 50, 51, 10
        {{100}, {}},                                    // one peak: no interval
        {{100, 150, 200}, {}},                          // 50 and 50
        {{5, 14, 23}, {{9, 2}}},
    };
    for (const auto& c : cases) {
        std::vector<std::int16_t> x(kAnalysisWindowLength, 1000);
        for (auto p : c.pulses) AddPulse(x, p);
        BendHistogram expected{};
        for (auto [bin, n] : c.bins) expected[bin] = static_cast<std::int16_t>(n);
        EXPECT_EQ(BendHistogramOfWindow(ConstSampleWindow{x, x.size(), 1}, 0), expected)
            << "first pulse at " << c.pulses.front();
    }
}

TEST(BendHistogram, ShortestIntervalIsTwoSamples) {
    // A fast alternation survives the 5-sample mean as 400/600: a strict peak every second
    // sample. Intervals of 0 or 1 cannot occur between strict peaks.
    std::vector<std::int16_t> x(kAnalysisWindowLength);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<std::int16_t>(i % 2 ? 1000 : 0);
    const auto h = BendHistogramOfWindow(ConstSampleWindow{x, x.size(), 1}, 0);
    EXPECT_EQ(h[0], 0);
    EXPECT_EQ(h[1], 0);
    EXPECT_GT(h[2], 200);
    int others = 0;
    for (std::size_t b = 3; b < kBendHistogramBins; ++b) others += h[b];
    EXPECT_EQ(others, 0);
}

}  // namespace
}  // namespace lumivo
