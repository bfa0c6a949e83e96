// The statistics of the circadian and sleep views on synthetic series with known answers:
// periodograms (a 24.5 h rhythm in noise is found at 24.5 h and above the significance line, a
// flat random series is not) and inactivity bouts on a designed pattern of inactive bins.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "core/reporting/rhythm/periodogram.h"
#include "core/reporting/rhythm/sleep_bouts.h"

namespace lumivo::reporting {
namespace {

// Poisson counts per bin: `active_mean` during the first half of each period, `rest_mean` in
// the second; a constant rate when both are equal.
std::vector<double> Counts(double period_h, double bin_min, double days, double active_mean,
                           double rest_mean, unsigned seed) {
    std::mt19937 rng(seed);
    std::poisson_distribution<int> active(active_mean), rest(rest_mean);
    const auto bins = static_cast<std::size_t>(days * 1440.0 / bin_min);
    std::vector<double> v(bins);
    for (std::size_t k = 0; k < bins; ++k) {
        const double t = (static_cast<double>(k) + 0.5) * bin_min;
        const double into = std::fmod(t, period_h * 60.0);
        v[k] = into < period_h * 30.0 ? active(rng) : rest(rng);
    }
    return v;
}

TEST(Periodogram, ARhythmOf24_5HoursInNoiseIsFoundAboveTheLine) {
    struct Case {
        PeriodogramMethod method;
        double bin_minutes;
        bool gaps;  // every tenth hour left unobserved
    };
    const Case cases[] = {
        {PeriodogramMethod::ChiSquare, 6, false},  {PeriodogramMethod::LombScargle, 6, false},
        {PeriodogramMethod::ChiSquare, 1, false},  {PeriodogramMethod::LombScargle, 1, false},
        {PeriodogramMethod::ChiSquare, 30, false}, {PeriodogramMethod::LombScargle, 30, false},
        {PeriodogramMethod::ChiSquare, 6, true},   {PeriodogramMethod::LombScargle, 6, true},
    };
    for (const Case& c : cases) {
        const std::vector<double> rhythm = Counts(24.5, c.bin_minutes, 7, 3.0, 1.0, 7);
        std::vector<std::uint8_t> observed(rhythm.size(), 1);
        if (c.gaps)
            for (std::size_t k = 0; k < observed.size(); ++k)
                if (static_cast<int>(static_cast<double>(k) * c.bin_minutes / 60.0) % 10 == 9)
                    observed[k] = 0;
        PeriodogramOptions o;
        o.method = c.method;
        const PeriodogramSet set =
            ComputePeriodograms({rhythm.data()}, rhythm.size(), observed, c.bin_minutes, o);
        const std::string what = std::string(PeriodogramMethodName(c.method)) + ", " +
                                 std::to_string(c.bin_minutes) + " min bins" +
                                 (c.gaps ? ", gaps" : "");
        ASSERT_EQ(set.series.size(), 1u);
        const Periodogram& pg = set.series[0];
        ASSERT_TRUE(pg.valid) << what;
        EXPECT_NEAR(pg.peak_period_h, 24.5, 0.25) << what;
        EXPECT_TRUE(pg.significant) << what;
        EXPECT_GT(pg.peak_power, pg.peak_threshold) << what;
        EXPECT_DOUBLE_EQ(set.period_hours.front(), 16.0) << what;
        EXPECT_DOUBLE_EQ(set.period_hours.back(), 32.0) << what;
    }
}

TEST(Periodogram, AFlatRandomSeriesHasNoSignificantPeak) {
    // One flat series must show no peak above the line; over many, the line is passed about as
    // rarely as alpha says (the share is smaller still: the periods tried are correlated).
    for (PeriodogramMethod method :
         {PeriodogramMethod::ChiSquare, PeriodogramMethod::LombScargle}) {
        PeriodogramOptions o;
        o.method = method;
        int significant = 0;
        const int runs = 60;
        for (int seed = 1; seed <= runs; ++seed) {
            const std::vector<double> flat =
                Counts(24.0, 6, 7, 2.0, 2.0, static_cast<unsigned>(seed));
            const std::vector<std::uint8_t> observed(flat.size(), 1);
            const PeriodogramSet set =
                ComputePeriodograms({flat.data()}, flat.size(), observed, 6, o);
            ASSERT_TRUE(set.series[0].valid);
            if (seed == 1) {
                EXPECT_FALSE(set.series[0].significant) << PeriodogramMethodName(method);
            }
            significant += set.series[0].significant;
        }
        EXPECT_LE(significant, runs * 0.05 * 2) << PeriodogramMethodName(method);
    }
}

TEST(Periodogram, ThePeakIsTheLargestPowerOrTheHighestAboveTheLineAsAsked) {
    // Chi-square's line rises with the period (more columns), so a rhythm at a long period
    // and a slightly weaker one at a short period give the two rules different peaks.
    const double bin = 30;
    std::vector<double> v = Counts(28.5, bin, 14, 3.0, 1.0, 11);
    const std::vector<double> short_one = Counts(16.5, bin, 14, 3.0, 1.0, 12);
    for (std::size_t k = 0; k < v.size(); ++k) v[k] += short_one[k];
    const std::vector<std::uint8_t> observed(v.size(), 1);
    for (PeriodogramMethod method :
         {PeriodogramMethod::ChiSquare, PeriodogramMethod::LombScargle}) {
        std::vector<double> peaks;
        for (PeakRule rule : {PeakRule::MaxPower, PeakRule::AboveLine}) {
            PeriodogramOptions o;
            o.method = method;
            o.peak = rule;
            const PeriodogramSet set = ComputePeriodograms({v.data()}, v.size(), observed, bin, o);
            EXPECT_EQ(set.peak, rule);
            const Periodogram& pg = set.series.at(0);
            ASSERT_TRUE(pg.valid);
            std::size_t best = 0;
            for (std::size_t p = 1; p < pg.power.size(); ++p) {
                const double a =
                    rule == PeakRule::MaxPower ? pg.power[p] : pg.power[p] - set.threshold[p];
                const double b = rule == PeakRule::MaxPower ? pg.power[best]
                                                            : pg.power[best] - set.threshold[best];
                if (a > b) best = p;
            }
            EXPECT_EQ(pg.peak, static_cast<int>(best)) << PeakRuleName(rule);
            EXPECT_EQ(pg.significant, pg.power[best] > set.threshold[best]);
            peaks.push_back(pg.peak_period_h);
        }
        if (method == PeriodogramMethod::ChiSquare) {
            EXPECT_NEAR(peaks[0], 28.5, 0.5);  // the largest power
            EXPECT_NEAR(peaks[1], 16.5, 0.5);  // the most above its line
        } else {
            EXPECT_EQ(peaks[0], peaks[1]);  // a flat line: one peak either way
        }
    }
    EXPECT_EQ(ParsePeakRule("max-power"), PeakRule::MaxPower);
    EXPECT_EQ(ParsePeakRule("above-line"), PeakRule::AboveLine);
    EXPECT_FALSE(ParsePeakRule("highest"));
}

TEST(Periodogram, SeriesWithoutVariationOrTooShortHaveNoPeak) {
    const std::vector<double> zeros(1680, 0.0);
    const std::vector<double> short_rhythm = Counts(24.5, 6, 1, 3.0, 1.0, 3);  // one day
    const std::vector<std::uint8_t> all(1680, 1);
    const PeriodogramSet set = ComputePeriodograms({zeros.data()}, zeros.size(), all, 6, {});
    EXPECT_FALSE(set.series[0].valid);
    EXPECT_EQ(set.series[0].peak, -1);
    EXPECT_FALSE(set.series[0].significant);
    // A day of data holds the periods up to 24 h only.
    const std::vector<std::uint8_t> day(short_rhythm.size(), 1);
    const PeriodogramSet one_day =
        ComputePeriodograms({short_rhythm.data()}, short_rhythm.size(), day, 6, {});
    ASSERT_FALSE(one_day.period_hours.empty());
    EXPECT_DOUBLE_EQ(one_day.period_hours.back(), 24.0);
}

TEST(Periodogram, PeriodsAreWholeBinsAtLeastSixMinutesApart) {
    struct Case {
        double bin;
        int first, step, count;
    };
    const Case cases[] = {
        {1, 960, 6, 161},  // every 6 minutes
        {5, 192, 2, 97},   // every 10 minutes
        {6, 160, 1, 161},  // every 0.1 h
        {30, 32, 1, 33},   // every half hour
        {60, 16, 1, 17},
    };
    for (const Case& c : cases) {
        const std::vector<int> grid = PeriodGrid(c.bin, 16.0, 32.0, 100000);
        ASSERT_EQ(static_cast<int>(grid.size()), c.count) << c.bin;
        EXPECT_EQ(grid.front(), c.first) << c.bin;
        EXPECT_EQ(grid[1] - grid[0], c.step) << c.bin;
    }
}

// ---- Inactivity bouts ----------------------------------------------------------------------

struct SleepCase {
    const char* name;
    double bin;
    double bout_minutes;
    std::vector<std::pair<int, int>> zero_runs;  // bins [from, to) that count nothing
    std::vector<int> unobserved;
    std::vector<LightPhase> phases;
    std::vector<std::pair<double, double>> bouts;
    int light_bouts, dark_bouts;  // bouts or their parts in each phase
    double light_sleep, dark_sleep, light_observed, dark_observed;
    int nights;
    double latency;  // NaN: none
};

TEST(SleepBouts, ADesignedPatternGivesItsBoutsLengthsAndLatency) {
    const double nan = std::nan("");
    const std::vector<LightPhase> light_then_dark = {{0, 60, true}, {60, 120, false}};
    const std::vector<LightPhase> dark_then_light = {{0, 60, false}, {60, 120, true}};
    const std::vector<std::pair<int, int>> runs = {{5, 8},   {10, 15}, {55, 65},  {70, 76},
                                                   {80, 84}, {85, 90}, {115, 120}};
    const SleepCase cases[] = {
        // Runs of 3 and 4 minutes are too short; the 4 + 5 around an unobserved bin are two
        // runs; the 10-minute bout across lights-off is split 5 light / 5 dark and counts in
        // each; the latency counts from lights off (60) to the next bout that begins (70).
        {"5-minute bouts",
         1,
         5,
         runs,
         {84},
         light_then_dark,
         {{10, 15}, {55, 65}, {70, 76}, {85, 90}, {115, 120}},
         2,
         4,
         10,
         21,
         60,
         59,
         1,
         10},
        {"3-minute bouts",
         1,
         3,
         runs,
         {84},
         light_then_dark,
         {{5, 8}, {10, 15}, {55, 65}, {70, 76}, {80, 84}, {85, 90}, {115, 120}},
         3,
         5,
         13,
         25,
         60,
         59,
         1,
         10},
        {"no lights-off",
         1,
         5,
         runs,
         {84},
         dark_then_light,
         {{10, 15}, {55, 65}, {70, 76}, {85, 90}, {115, 120}},
         4,
         2,
         21,
         10,
         59,
         60,
         0,
         nan},
        // 2-minute bins: a 5-minute bout needs three inactive bins (6 minutes).
        {"2-minute bins",
         2,
         5,
         {{3, 5}, {10, 13}, {35, 39}},
         {},
         light_then_dark,
         {{20, 26}, {70, 78}},
         1,
         1,
         6,
         8,
         60,
         60,
         1,
         10},
    };
    for (const SleepCase& c : cases) {
        const auto bins = static_cast<std::size_t>(120 / c.bin);
        std::vector<double> values(bins, 2.0);
        for (const auto& [from, to] : c.zero_runs)
            for (int k = from; k < to; ++k) values[static_cast<std::size_t>(k)] = 0.0;
        std::vector<std::uint8_t> observed(bins, 1);
        for (int k : c.unobserved) observed[static_cast<std::size_t>(k)] = 0;
        const SleepSummary s =
            AnalyseSleep(values.data(), bins, observed, c.bin, c.phases, c.bout_minutes);
        ASSERT_EQ(s.bouts.size(), c.bouts.size()) << c.name;
        for (std::size_t i = 0; i < s.bouts.size(); ++i) {
            EXPECT_DOUBLE_EQ(s.bouts[i].begin, c.bouts[i].first) << c.name << " bout " << i;
            EXPECT_DOUBLE_EQ(s.bouts[i].end, c.bouts[i].second) << c.name << " bout " << i;
        }
        EXPECT_EQ(s.light.bouts, c.light_bouts) << c.name;
        EXPECT_EQ(s.dark.bouts, c.dark_bouts) << c.name;
        EXPECT_EQ(s.all.bouts, static_cast<int>(c.bouts.size())) << c.name;
        EXPECT_DOUBLE_EQ(s.light.sleep_minutes, c.light_sleep) << c.name;
        EXPECT_DOUBLE_EQ(s.dark.sleep_minutes, c.dark_sleep) << c.name;
        // A phase's bouts hold no more minutes than the phase's sleep.
        EXPECT_DOUBLE_EQ(s.light.bout_minutes, c.light_sleep) << c.name;
        EXPECT_DOUBLE_EQ(s.dark.bout_minutes, c.dark_sleep) << c.name;
        // Every observed minute without a count: the bouts and the runs too short for one.
        double zero = 0;
        for (const auto& [from, to] : c.zero_runs)
            for (int k = from; k < to; ++k)
                zero += std::find(c.unobserved.begin(), c.unobserved.end(), k) == c.unobserved.end()
                            ? c.bin
                            : 0.0;
        EXPECT_DOUBLE_EQ(s.all.zero_minutes, zero) << c.name;
        EXPECT_DOUBLE_EQ(s.light.zero_minutes + s.dark.zero_minutes, zero) << c.name;
        EXPECT_DOUBLE_EQ(s.light.observed_minutes, c.light_observed) << c.name;
        EXPECT_DOUBLE_EQ(s.dark.observed_minutes, c.dark_observed) << c.name;
        double total = 0;
        for (const Bout& b : s.bouts) total += b.end - b.begin;
        EXPECT_DOUBLE_EQ(s.all.MeanBout(), total / static_cast<double>(s.bouts.size())) << c.name;
        EXPECT_EQ(s.nights, c.nights) << c.name;
        if (std::isnan(c.latency)) {
            EXPECT_TRUE(std::isnan(s.MeanLatency())) << c.name;
        } else {
            EXPECT_DOUBLE_EQ(s.MeanLatency(), c.latency) << c.name;
        }
    }
}

TEST(SleepBouts, ABoutLongerThanAPhaseCountsInEachPhaseOnlyByItsPartThere) {
    // Four days of 1-minute bins, light and dark 1440 minutes each; the well is still for the
    // last 5760 minutes (a dead larva): the dark row may not hold a 5760-minute bout in 2880
    // dark minutes.
    const std::vector<LightPhase> phases = {{0, 1440, true},    {1440, 2880, false},
                                            {2880, 4320, true}, {4320, 5760, false},
                                            {5760, 7200, true}, {7200, 8640, false}};
    const std::size_t bins = 8640;
    std::vector<double> values(bins, 3.0);
    for (std::size_t k = 2880; k < bins; ++k) values[k] = 0.0;
    const std::vector<std::uint8_t> observed(bins, 1);
    const SleepSummary s = AnalyseSleep(values.data(), bins, observed, 1, phases, 5);
    ASSERT_EQ(s.bouts.size(), 1u);
    EXPECT_DOUBLE_EQ(s.dark.sleep_minutes, 2880);
    EXPECT_DOUBLE_EQ(s.light.sleep_minutes, 2880);
    EXPECT_LE(s.dark.MeanBout(), s.dark.observed_minutes);
    EXPECT_DOUBLE_EQ(s.dark.MeanBout(), 1440);
    EXPECT_EQ(s.dark.bouts, 2);
    EXPECT_EQ(s.light.bouts, 2);
    EXPECT_EQ(s.all.bouts, 1);
    EXPECT_DOUBLE_EQ(s.all.MeanBout(), 5760);
}

}  // namespace
}  // namespace lumivo::reporting
