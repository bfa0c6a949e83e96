// Re-binning: bin times and the partial last bin with the Part's numbers, the bin-size
// correction, the exact step arithmetic against a step-by-step transcription of the loop,
// irregular records, and counts beyond 16 bits.
#include "core/reporting/resample.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/analysis/rounding.h"
#include "core/reporting/activity_file.h"

namespace lumivo::reporting {
namespace {

// Records at the given minutes; channel c counts `count(record, c)`.
template <typename CountFn>
RecordTable Records(const std::vector<std::int32_t>& minutes, CountFn count) {
    RecordTable t;
    t.minutes = minutes;
    t.temperature.assign(minutes.size(), 0);
    t.counts.assign(minutes.size() * kRowWidth, 0);
    for (std::size_t j = 0; j < minutes.size(); ++j)
        for (std::size_t c = 0; c < static_cast<std::size_t>(kBeams); ++c)
            t.counts[j * kRowWidth + c] = static_cast<std::int16_t>(count(j, c));
    return t;
}

std::vector<std::int32_t> Minutes(std::int32_t first, std::int32_t last) {
    std::vector<std::int32_t> m;
    for (std::int32_t t = first; t <= last; ++t) m.push_back(t);
    return m;
}

// The regular loop as written: one iteration per 0.02 minutes, the accumulators kept as whole
// numbers of steps (step m has reached r when 0.02 m >= length / last). The per-step addition
// count / (r x 50) is summed as the exact fraction count x last / (50 x length).
void LiteralRegular(std::int64_t length, std::int64_t last, std::int64_t bin, const RecordTable& r,
                    std::vector<std::int64_t>& sums, std::vector<std::int16_t>& temps) {
    const std::int64_t n = DivideRoundHalfEven(length, bin);
    sums.assign(static_cast<std::size_t>((n + 1) * kBeams), 0);
    temps.assign(static_cast<std::size_t>(n + 1), 0);
    for (int c = 0; c < kBeams; ++c) {
        std::int64_t k = 0, j = 0, record_steps = 0, bin_steps = 0;
        while (k <= n && j < last) {
            sums[static_cast<std::size_t>(k * kBeams + c)] +=
                r.count(static_cast<std::size_t>(j), static_cast<std::size_t>(c));
            if (r.temperature[static_cast<std::size_t>(j)] > 0)
                temps[static_cast<std::size_t>(k)] = r.temperature[static_cast<std::size_t>(j)];
            if (record_steps * last >= 50 * length) {
                ++j;
                record_steps = 0;
            }
            if (bin_steps >= 50 * bin) {
                ++k;
                bin_steps = 0;
            }
            ++record_steps;
            ++bin_steps;
        }
    }
    for (auto& s : sums) s = DivideRoundHalfEven(s * last, 50 * length);
}

TEST(Resample, BinTimesAndThePartialLastBin) {
    struct Case {
        std::int32_t length;
        std::int32_t bin;
        std::vector<std::int32_t> times;
        std::int32_t covered;
        int last_bin;
    };
    const Case cases[] = {
        {100, 30, {30, 60, 90}, 90, 2},        // 10 minutes (33 %) dropped
        {115, 30, {30, 60, 90, 120}, 120, 3},  // 25 of 30 minutes (83.3 %): scaled
        {110, 30, {30, 60, 90, 120}, 90, 2},   // 66.7 %: the fourth bin is not reported
        {90, 30, {30, 60, 90}, 90, 2},         // whole bins
        {50, 20, {20, 40}, 40, 1},             // CInt(2.5) = 2
        {70, 20, {20, 40, 60, 80}, 60, 2},     // CInt(3.5) = 4, p = 50
        {105, 40, {40, 80, 120}, 80, 1},       // p = 62.5: dropped
    };
    for (const Case& c : cases) {
        const RecordTable r =
            Records(Minutes(0, c.length), [](std::size_t, std::size_t) { return 1; });
        std::int32_t length = c.length;
        BinTable bins;
        const int last = ResampleActivity(length, static_cast<int>(r.size()) - 1, c.bin, r, bins);
        EXPECT_EQ(bins.minutes, c.times) << c.length << "/" << c.bin;
        EXPECT_EQ(length, c.covered) << c.length << "/" << c.bin;
        EXPECT_EQ(last, c.last_bin) << c.length << "/" << c.bin;
    }
}

TEST(Resample, PartialBinIsScaledByOnePlusTheMissingShare) {
    // 115 minutes, one record per minute (minutes 0..115, so each record lasts exactly one
    // minute), channel 7 counts 6 per record. Bins 30, 60, 90 hold 30 records; the fourth holds
    // 25 and is multiplied by 1 + (100 - 83.3) / 100 = 35 / 30.
    const RecordTable r =
        Records(Minutes(0, 115), [](std::size_t, std::size_t c) { return c == 7 ? 6 : 0; });
    std::int32_t length = 115;
    BinTable bins;
    ASSERT_EQ(ResampleActivity(length, 115, 30, r, bins), 3);
    EXPECT_EQ(length, 120);
    EXPECT_EQ(bins.count(1, 7), 180);
    EXPECT_EQ(bins.count(2, 7), 180);
    EXPECT_EQ(bins.count(3, 7), 175);  // 25 x 6 = 150, x 35 / 30
    // Record 0 is counted one step longer than the others: 1501 steps of 6 / 50.
    EXPECT_EQ(bins.count(0, 7), RoundHalfEven(1501 * 6 / 50.0));
}

TEST(Resample, BinSizeCorrection) {
    struct Case {
        std::int64_t requested;
        std::int32_t length;
        std::int32_t expected;
    };
    const Case cases[] = {
        {0, 100, 1},   {-5, 100, 1}, {60, 20, 20}, {120, 50, 45},
        {30, 100, 30}, {31, 30, 30}, {45, 31, 30}, {1440, 1439, 1425},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CorrectBinSize(c.requested, c.length), c.expected)
            << c.requested << " on " << c.length;
}

TEST(Resample, RegularSpreadingEqualsTheStepByStepLoop) {
    struct Case {
        const char* name;
        std::vector<std::int32_t> minutes;
        std::int32_t bin;
    };
    std::vector<std::int32_t> three_per_minute;
    for (std::int32_t m = 0; m < 60; ++m)
        for (int i = 0; i < 3; ++i) three_per_minute.push_back(m);
    const Case cases[] = {
        {"one per minute from 0", Minutes(0, 97), 30},
        {"one per minute from 1", Minutes(1, 97), 30},
        {"odd bin", Minutes(1, 100), 7},
        {"bin longer than half", Minutes(1, 64), 45},
        {"three records per minute", three_per_minute, 15},
        {"short", Minutes(3, 5), 2},
    };
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> count(-40, 400);
    for (const Case& c : cases) {
        RecordTable r = Records(c.minutes, [&](std::size_t, std::size_t) { return count(rng); });
        for (std::size_t j = 0; j < r.size(); ++j)
            r.temperature[j] = static_cast<std::int16_t>(j % 4 == 3 ? 0 : 200 + j);
        const int last = static_cast<int>(r.size()) - 1;
        std::int32_t length = LargestMinute(r, last);
        const std::int32_t original = length;
        ASSERT_FALSE(RecordsAreIrregular(r, last)) << c.name;
        BinTable bins;
        ASSERT_GE(ResampleActivity(length, last, c.bin, r, bins), 0) << c.name;

        std::vector<std::int64_t> sums;
        std::vector<std::int16_t> temps;
        LiteralRegular(original, last, c.bin, r, sums, temps);
        const std::int64_t whole = original / c.bin;
        const bool scaled = 4 * (original - whole * c.bin) >= 3 * c.bin;
        for (std::size_t k = 0; k < bins.size(); ++k) {
            EXPECT_EQ(bins.temperature[k], temps[k]) << c.name << " bin " << k;
            if (scaled && k + 1 == bins.size()) continue;  // compared below
            for (std::size_t ch = 0; ch < static_cast<std::size_t>(kBeams); ch += 37)
                ASSERT_EQ(bins.count(k, ch), sums[k * kBeams + ch]) << c.name << " bin " << k;
        }
    }
}

TEST(Resample, LongRecordingsDoNotDrift) {
    // 32,760 minutes, one record per minute, every record counting 3: every full 30-minute bin
    // after the first holds exactly 90. A 0.02-minute float accumulator would slip a step now
    // and then and move counts between bins.
    const RecordTable r = Records(Minutes(0, 32760), [](std::size_t, std::size_t) { return 3; });
    std::int32_t length = 32760;
    BinTable bins;
    ASSERT_EQ(ResampleActivity(length, 32760, 30, r, bins), 1091);
    EXPECT_EQ(bins.count(0, 0), RoundHalfEven(1501 * 3 / 50.0));
    for (std::size_t k = 1; k < bins.size(); ++k) ASSERT_EQ(bins.count(k, 200), 90) << "bin " << k;
}

TEST(Resample, BusyChannelsInLongBinsKeepCountsBeyond16Bits) {
    // 720-minute bins over a day; a busy channel counts 1000 per minute.
    const RecordTable r =
        Records(Minutes(0, 1440), [](std::size_t, std::size_t c) { return c == 3 ? 1000 : 0; });
    std::int32_t length = 1440;
    BinTable bins;
    ASSERT_EQ(ResampleActivity(length, 1440, 720, r, bins), 1);
    EXPECT_EQ(bins.count(1, 3), 720000);
    EXPECT_EQ(bins.count(0, 3), 720020);  // record 0 is one step longer
}

TEST(Resample, IrregularRecordsAreAddedWhole) {
    struct Case {
        std::vector<std::int32_t> minutes;
        bool irregular;
    };
    const Case detection[] = {
        {{1, 2, 3, 6}, true},   // a gap of 3 > 2 x 1
        {{1, 2, 4, 5}, false},  // a gap of exactly 2 x 1
        {{0, 0, 5, 9}, false},  // no first interval
        {{2, 1, 5}, true},      // a falling first interval: any rise is "more than twice"
        {{1, 2, 2, 2, 3}, false},
    };
    for (const Case& c : detection) {
        const RecordTable r = Records(c.minutes, [](std::size_t, std::size_t) { return 1; });
        EXPECT_EQ(RecordsAreIrregular(r, static_cast<int>(r.size()) - 1), c.irregular)
            << c.minutes.size();
    }

    // Minutes 1..10 and 14..40 in 10-minute bins: each record counts once in its bin.
    std::vector<std::int32_t> minutes = Minutes(1, 10);
    for (std::int32_t m = 14; m <= 40; ++m) minutes.push_back(m);
    RecordTable r = Records(minutes, [](std::size_t, std::size_t) { return 1; });
    r.temperature.back() = 321;
    std::int32_t length = 40;
    BinTable bins;
    ASSERT_EQ(ResampleActivity(length, static_cast<int>(r.size()) - 1, 10, r, bins), 3);
    EXPECT_EQ(bins.count(0, 9), 10);
    EXPECT_EQ(bins.count(1, 9), 7);
    EXPECT_EQ(bins.count(2, 9), 10);
    EXPECT_EQ(bins.count(3, 9), 10);
    EXPECT_EQ(bins.temperature[3], 321);
    EXPECT_EQ(bins.temperature[0], 0);
}

TEST(Resample, RecordsAfterAPauseStayInTheirOwnBins) {
    // Minutes 1..30, a pause, then 100..120, in 30-minute bins: nothing was recorded in bins
    // 31..60 and 61..90, and the records after the pause belong to 91..120.
    std::vector<std::int32_t> minutes = Minutes(1, 30);
    for (std::int32_t m = 100; m <= 120; ++m) minutes.push_back(m);
    const RecordTable r = Records(minutes, [](std::size_t, std::size_t) { return 2; });
    std::int32_t length = 120;
    BinTable bins;
    ASSERT_EQ(ResampleActivity(length, static_cast<int>(r.size()) - 1, 30, r, bins), 3);
    EXPECT_EQ(bins.count(0, 0), 60);
    EXPECT_EQ(bins.count(1, 0), 0);
    EXPECT_EQ(bins.count(2, 0), 0);
    EXPECT_EQ(bins.count(3, 0), 42);
}

TEST(Resample, NothingToRebinGivesMinusOne) {
    const RecordTable two = Records({0, 10}, [](std::size_t, std::size_t) { return 1; });
    struct Case {
        const char* name;
        std::int32_t length;
        int last;
        std::int32_t bin;
    };
    const Case cases[] = {
        {"one record", 10, 0, 5},
        {"no bin size", 10, 1, 0},
        {"no length", 0, 1, 5},
        {"less than half a bin", 10, 1, 30},
        {"beyond the format", kMaxReportMinutes + 1, 1, 30},
        {"last beyond the table", 10, 5, 5},
    };
    for (const Case& c : cases) {
        std::int32_t length = c.length;
        BinTable bins;
        EXPECT_EQ(ResampleActivity(length, c.last, c.bin, two, bins), -1) << c.name;
    }
}

}  // namespace
}  // namespace lumivo::reporting
