// The statistics of the circadian and sleep views on synthetic series with known answers:
// periodograms (a 24.5 h rhythm in noise is found at 24.5 h and above the significance line, a
// flat random series is not), the cosinor of designed cosines, the rest-activity indices of
// designed days against their hand-computed values, the onsets of a free-running rhythm,
// inactivity bouts on a designed pattern of inactive bins and the sleep rules per organism.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <random>
#include <vector>

#include "core/reporting/rhythm/circadian.h"
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
        {PeriodogramMethod::ChiSquare, 6, false},
        {PeriodogramMethod::LombScargle, 6, false},
        {PeriodogramMethod::ChiSquare, 1, false},
        {PeriodogramMethod::LombScargle, 1, false},
        {PeriodogramMethod::ChiSquare, 30, false},
        {PeriodogramMethod::LombScargle, 30, false},
        {PeriodogramMethod::ChiSquare, 6, true},
        {PeriodogramMethod::LombScargle, 6, true},
        // At the periodogram's own 6-minute bins and finer: half-hour bins hold too few pairs a
        // lag for the autocorrelation to place a peak this noisy within a quarter hour.
        {PeriodogramMethod::Autocorrelation, 6, false},
        {PeriodogramMethod::Autocorrelation, 1, false},
        {PeriodogramMethod::Autocorrelation, 6, true},
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
    for (PeriodogramMethod method : {PeriodogramMethod::ChiSquare, PeriodogramMethod::LombScargle,
                                     PeriodogramMethod::Autocorrelation}) {
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
    // A steady rise: its autocorrelation falls with the lag and has no peak, not one at the
    // shortest period tried.
    std::vector<double> ramp(1680);
    for (std::size_t k = 0; k < ramp.size(); ++k) ramp[k] = static_cast<double>(k);
    PeriodogramOptions acf;
    acf.method = PeriodogramMethod::Autocorrelation;
    const PeriodogramSet rising = ComputePeriodograms({ramp.data()}, ramp.size(), all, 6, acf);
    ASSERT_TRUE(rising.series[0].valid);
    EXPECT_GT(rising.series[0].power.front(), rising.series[0].power.back());
    EXPECT_EQ(rising.series[0].peak, -1);
    EXPECT_EQ(ParsePeriodogramMethod("autocorrelation"), PeriodogramMethod::Autocorrelation);
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

// ---- Cosinor --------------------------------------------------------------------------------

// M + A cos(2 pi (t - phi) / P) at the middles of `bins` bins from `start` minutes after the
// reference, with normal noise of SD `sd`.
std::vector<double> Cosine(double mesor, double amplitude, double acrophase_h, double period_h,
                           double bin, std::size_t bins, double start, double sd, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, sd);
    std::vector<double> v(bins);
    for (std::size_t k = 0; k < bins; ++k) {
        const double t = (start + (static_cast<double>(k) + 0.5) * bin) / 60.0;
        v[k] = mesor + amplitude * std::cos(2.0 * std::numbers::pi * (t - acrophase_h) / period_h) +
               (sd > 0.0 ? noise(rng) : 0.0);
    }
    return v;
}

// Whether `x` lies in the interval [lo, hi] of a circle of length `period` (lo above hi when
// the interval goes round).
bool OnArc(double x, double lo, double hi, double period) {
    x = std::fmod(x + period, period);
    return lo <= hi ? x >= lo && x <= hi : x >= lo || x <= hi;
}

TEST(Cosinor, ADesignedCosineGivesItsMesorAmplitudeAndAcrophase) {
    struct Case {
        double mesor, amplitude, acrophase, period, bin, start;  // start: from the reference
        bool gaps;
    };
    const Case cases[] = {
        {10.0, 4.0, 14.25, 24.0, 30, 1110, false},  // a run from 18:30, peak 14:15
        {3.0, 0.5, 2.0, 24.0, 6, 0, false},         // a peak just after midnight
        {50.0, 20.0, 23.5, 24.0, 60, 540, true},    // a peak just before it, every 5th hour lost
        {5.0, 2.0, 20.0, 23.5, 10, 0, false},       // another period
    };
    for (const Case& c : cases) {
        const std::size_t bins = static_cast<std::size_t>(5 * 1440 / c.bin);
        // The reference lies `start` minutes before the first bin.
        const std::vector<double> v =
            Cosine(c.mesor, c.amplitude, c.acrophase, c.period, c.bin, bins, c.start, 0.0, 1);
        std::vector<std::uint8_t> observed(bins, 1);
        if (c.gaps)
            for (std::size_t k = 4; k < bins; k += 5) observed[k] = 0;
        const CosinorFit f = FitCosinor(v.data(), bins, observed, c.bin, c.period, -c.start);
        ASSERT_TRUE(f.valid) << f.why;
        EXPECT_NEAR(f.mesor, c.mesor, 1e-6);
        EXPECT_NEAR(f.amplitude, c.amplitude, 1e-6);
        EXPECT_NEAR(f.acrophase_h, c.acrophase, 1e-6);
        EXPECT_NEAR(f.r2, 1.0, 1e-9);
        EXPECT_LT(f.p, 1e-12);
        EXPECT_NEAR(f.At(c.acrophase), c.mesor + c.amplitude, 1e-6);
    }
    // In zeitgeber time: lights on at 09:00 puts a 14:15 peak at ZT 5.25, a 02:00 one at ZT 17.
    EXPECT_DOUBLE_EQ(ZeitgeberHours(14.25, 9.0), 5.25);
    EXPECT_DOUBLE_EQ(ZeitgeberHours(2.0, 9.0), 17.0);

    // Too little to fit: under a period of data, a flat series.
    const std::vector<double> half_day = Cosine(3, 1, 12, 24, 30, 20, 0, 0.0, 1);
    EXPECT_FALSE(
        FitCosinor(half_day.data(), 20, std::vector<std::uint8_t>(20, 1), 30, 24, 0).valid);
    const std::vector<double> flat(240, 2.0);
    const CosinorFit none =
        FitCosinor(flat.data(), 240, std::vector<std::uint8_t>(240, 1), 30, 24, 0);
    EXPECT_FALSE(none.valid);
    EXPECT_EQ(none.why, "no variation to fit");
}

TEST(Cosinor, ItsIntervalsHoldTheTruthUnderNoiseAndNoiseAloneIsNoRhythm) {
    // 400 noisy four-day series: each 95 % interval holds the true value in about 95 % of them;
    // a series of noise alone passes the F test in about 5 %.
    const int runs = 400;
    int mesor = 0, amplitude = 0, acrophase = 0, false_rhythm = 0;
    const std::size_t bins = 4 * 48;
    const std::vector<std::uint8_t> observed(bins, 1);
    for (int seed = 1; seed <= runs; ++seed) {
        const auto u = static_cast<unsigned>(seed);
        const std::vector<double> v = Cosine(6.0, 1.5, 15.0, 24.0, 30, bins, 0, 2.0, u);
        const CosinorFit f = FitCosinor(v.data(), bins, observed, 30, 24, 0);
        ASSERT_TRUE(f.valid);
        mesor += f.mesor_lo <= 6.0 && 6.0 <= f.mesor_hi;
        amplitude += f.amplitude_lo <= 1.5 && 1.5 <= f.amplitude_hi;
        acrophase += std::isfinite(f.acrophase_lo_h) &&
                     OnArc(15.0, f.acrophase_lo_h, f.acrophase_hi_h, 24.0);
        const std::vector<double> noise = Cosine(6.0, 0.0, 0.0, 24.0, 30, bins, 0, 2.0, u + 1000);
        false_rhythm += FitCosinor(noise.data(), bins, observed, 30, 24, 0).p < 0.05;
    }
    for (int held : {mesor, amplitude, acrophase}) {
        EXPECT_GE(held, runs * 0.92) << held;
        EXPECT_LE(held, runs * 0.98) << held;
    }
    EXPECT_LE(false_rhythm, runs * 0.08);
    EXPECT_GE(false_rhythm, runs * 0.02);
}

// ---- Rest-activity indices ---------------------------------------------------------------------

TEST(RestActivity, DesignedDaysGiveTheirHandComputedIndices) {
    struct Case {
        const char* name;
        std::vector<double> values;  // hourly from midnight
        std::vector<int> lost;       // hours not observed
        double is, iv, ra, m10, m10_onset, l5, l5_onset;
    };
    // Three days of 10 from 08:00 to 18:00 and 0 otherwise. The average day equals every day:
    // IS = 1. N = 72, mean 10/24 x 10 = 25/6, sum (x - m)^2 = 72 x (10/24 x 14/24) x 100 =
    // 1750; six steps of 10 (up and down each day): IV = 72 x 600 / (71 x 1750) = 43200 /
    // 124250. M10 = 10 from 08:00; L5 = 0, first from 00:00 (the earliest of equal windows);
    // RA = 1.
    std::vector<double> square;
    for (int d = 0; d < 3; ++d)
        for (int h = 0; h < 24; ++h) square.push_back(h >= 8 && h < 18 ? 10.0 : 0.0);
    // Two days alternating 0 and 2 every hour, the second day shifted by an hour: the average day
    // is 1 everywhere, so IS = 0. Day 1 ends on 2 and day 2 begins on 2: 46 steps of 2 and one
    // of 0. N = 48, mean 1, sum (x - m)^2 = 48; IV = 48 x (46 x 4) / (47 x 48) = 184 / 47.
    // M10 = L5 = 1: RA = 0.
    std::vector<double> alternating;
    for (int d = 0; d < 2; ++d)
        for (int h = 0; h < 24; ++h) alternating.push_back((h + d) % 2 == 1 ? 2.0 : 0.0);
    // Two days of 4 from 20:00 to 06:00 (10 hours round midnight), 1 otherwise, hour 12 of the
    // second day lost: mean (2 x 10 x 4 + 27 x 1) / 47 = 107/47; the average day is the day.
    // Sum (x - m)^2 = 20 x (4 - 107/47)^2 + 27 x (1 - 107/47)^2 = 20 x (81/47)^2 + 27 x
    // (60/47)^2 = (131220 + 97200) / 2209 = 228420 / 2209. Between: 10 x (81/47)^2 + 14 x
    // (60/47)^2 = (65610 + 50400) / 2209 = 116010 / 2209. IS = 47 x 116010 / (24 x 228420).
    // Steps of 3 at 06:00 and 20:00 of each day (four), the day change is 4 to 4; of the 47
    // pairs of neighbouring hours two touch the lost one: 45 pairs. IV = 47 x (4 x 9) / (45 x
    // 228420 / 2209).
    // M10 = 4 from 20:00, L5 = 1 from 06:00, RA = 3 / 5.
    std::vector<double> night;
    for (int d = 0; d < 2; ++d)
        for (int h = 0; h < 24; ++h) night.push_back(h >= 20 || h < 6 ? 4.0 : 1.0);
    const double sum_sq = 228420.0 / 2209.0;
    const Case cases[] = {
        {"square", square, {}, 1.0, 43200.0 / 124250.0, 1.0, 10.0, 8.0, 0.0, 0.0},
        {"alternating", alternating, {}, 0.0, 184.0 / 47.0, 0.0, 1.0, 0.0, 1.0, 0.0},
        {"night with a lost hour",
         night,
         {36},
         47.0 * (116010.0 / 2209.0) / (24.0 * sum_sq),
         47.0 * 36.0 / (45.0 * sum_sq),
         0.6,
         4.0,
         20.0,
         1.0,
         6.0},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> observed(c.values.size(), 1);
        for (int h : c.lost) observed[static_cast<std::size_t>(h)] = 0;
        const RestActivity r =
            RestActivityIndices(c.values.data(), c.values.size(), observed, 60, 0.0);
        ASSERT_TRUE(r.valid) << c.name << ": " << r.why;
        EXPECT_NEAR(r.is, c.is, 1e-12) << c.name;
        EXPECT_NEAR(r.iv, c.iv, 1e-12) << c.name;
        EXPECT_NEAR(r.ra, c.ra, 1e-12) << c.name;
        EXPECT_NEAR(r.m10, c.m10, 1e-12) << c.name;
        EXPECT_NEAR(r.l5, c.l5, 1e-12) << c.name;
        EXPECT_DOUBLE_EQ(r.m10_onset_h, c.m10_onset) << c.name;
        EXPECT_DOUBLE_EQ(r.l5_onset_h, c.l5_onset) << c.name;
    }
    // Onsets are times of day: the same square from a start at 18:30 in half-hour bins.
    std::vector<double> half_hours;
    for (int k = 0; k < 3 * 48; ++k) {
        const double hour = std::fmod(18.5 + k * 0.5, 24.0);
        half_hours.push_back(hour >= 8 && hour < 18 ? 10.0 : 0.0);
    }
    const RestActivity late =
        RestActivityIndices(half_hours.data(), half_hours.size(),
                            std::vector<std::uint8_t>(half_hours.size(), 1), 30, 18.5 * 60);
    ASSERT_TRUE(late.valid);
    EXPECT_DOUBLE_EQ(late.m10_onset_h, 8.0);
    EXPECT_DOUBLE_EQ(late.ra, 1.0);
    // Refused: under two days recorded, a time of day never observed, bins that do not divide an
    // hour.
    std::vector<std::uint8_t> never(square.size(), 1);
    for (std::size_t d = 0; d < 3; ++d) never[d * 24 + 5] = 0;
    EXPECT_EQ(RestActivityIndices(square.data(), 24, never, 60, 0).why,
              "fewer than two days recorded");
    EXPECT_EQ(RestActivityIndices(square.data(), square.size(), never, 60, 0).why,
              "some time of day is never observed");
    EXPECT_FALSE(RestActivityIndices(square.data(), square.size(),
                                     std::vector<std::uint8_t>(square.size(), 1), 45, 0)
                     .valid);
}

// ---- Phase markers -----------------------------------------------------------------------------

TEST(PhaseMarkers, AFreeRunningRhythmGivesItsPeriodFromTheOnsets) {
    // Ten days of a 23.5 h rhythm (active for the first 11 h of each cycle from 10:00 of the
    // first day) in Poisson noise, one-minute records in 10-minute bins from midnight: each
    // day's onset comes half an hour earlier, the offset 11 h after it.
    for (double period : {23.5, 24.0, 24.75}) {
        std::mt19937 rng(3);
        std::poisson_distribution<int> active(6.0), rest(0.5);
        const double bin = 10;
        const auto bins = static_cast<std::size_t>(10 * 1440 / bin);
        std::vector<double> v(bins);
        for (std::size_t k = 0; k < bins; ++k) {
            double sum = 0;
            for (int m = 0; m < 10; ++m) {
                const double minute = static_cast<double>(k) * bin + m - 600.0;
                const double into = std::fmod(minute + 100 * period * 60.0, period * 60.0);
                sum += into < 660.0 ? active(rng) : rest(rng);
            }
            v[k] = sum;
        }
        std::vector<std::uint8_t> observed(bins, 1);
        for (std::size_t k = 300; k < 330; ++k) observed[k] = 0;  // five hours of day 3 lost
        const PhaseMarkers m =
            FindPhaseMarkers(v.data(), bins, observed, bin, 0.0, 1440.0, 10, 2.0);
        ASSERT_EQ(m.days.size(), 10u);
        EXPECT_NEAR(m.period_h, period, 0.1) << period;
        EXPECT_LE(m.period_lo_h, m.period_h);
        EXPECT_GE(m.period_hi_h, m.period_h);
        EXPECT_GE(m.onsets, 9) << period;
        for (const DayMarkers& d : m.days) {
            if (std::isnan(d.onset)) continue;
            const double expected = 600.0 + d.row * period * 60.0;
            EXPECT_NEAR(d.onset, expected, 30.0) << period << " day " << d.row;
            if (!std::isnan(d.offset)) {
                EXPECT_NEAR(d.offset - d.onset, 660.0, 45.0) << period << " day " << d.row;
            }
        }
    }
    // A day observed for less than three quarters has no markers and no mean.
    const std::vector<double> some(288, 1.0);
    std::vector<std::uint8_t> half(288, 1);
    for (std::size_t k = 0; k < 100; ++k) half[k] = 0;
    const PhaseMarkers few = FindPhaseMarkers(some.data(), 288, half, 10, 0, 1440, 2, 2);
    EXPECT_TRUE(std::isnan(few.days[0].mean));
    EXPECT_TRUE(std::isnan(few.days[0].onset));
    EXPECT_TRUE(std::isnan(few.period_h));
}

// ---- Sleep rules -------------------------------------------------------------------------------

TEST(SleepRules, TheOrganismChoosesTheRuleAndAChosenLengthIsCustomised) {
    struct Case {
        Organism project;
        std::optional<Organism> chosen;
        std::optional<double> bout;
        Organism organism;
        double minutes;
        const char* rule;
    };
    const Case cases[] = {
        {Organism::CElegans, {}, {}, Organism::CElegans, 2, "no counts for at least 2 min"},
        {Organism::Zebrafish, {}, {}, Organism::Zebrafish, 1, "no counts for at least 1 min"},
        {Organism::Customized, {}, {}, Organism::Customized, 5, "no counts for at least 5 min"},
        {Organism::CElegans,
         Organism::Zebrafish,
         {},
         Organism::Zebrafish,
         1,
         "no counts for at least 1 min"},
        {Organism::Zebrafish, {}, 1.0, Organism::Zebrafish, 1, "no counts for at least 1 min"},
        {Organism::Zebrafish, {}, 2.5, Organism::Customized, 2.5, "no counts for at least 2.5 min"},
    };
    for (const Case& c : cases) {
        const SleepDefinition d = ResolveSleepDefinition(c.project, c.chosen, c.bout);
        EXPECT_EQ(d.organism, c.organism) << c.rule;
        EXPECT_EQ(d.bout_minutes, c.minutes) << c.rule;
        EXPECT_EQ(d.RuleText(), c.rule);
    }
    EXPECT_EQ(OrganismOfSetting(0), Organism::CElegans);
    EXPECT_EQ(OrganismOfSetting(1), Organism::Zebrafish);
    EXPECT_EQ(OrganismOfSetting(8), Organism::Customized);
    EXPECT_EQ(ParseOrganism("zebrafish(larvae)"), Organism::Zebrafish);
    EXPECT_EQ(ParseOrganism("worm"), Organism::CElegans);
    EXPECT_FALSE(ParseOrganism("fly"));
}

}  // namespace
}  // namespace lumivo::reporting
