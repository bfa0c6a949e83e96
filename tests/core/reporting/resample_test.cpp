// Re-binning: bin times and the partial last bin, the bin-size correction, every record in the
// bin of its minute whatever the first minute and the step (records split exactly at bin edges,
// counts conserved), the number of records per bin, irregular records, and counts beyond 16
// bits.
#include "core/reporting/resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "core/common/rounding.h"
#include "core/reporting/activity_file.h"

namespace lumivo::reporting {
namespace {

// Records at the given minutes; channel c counts `count(record, c)`.
template <typename CountFn>
RecordTable Records(const std::vector<std::int32_t>& minutes, CountFn count) {
    RecordTable t;
    t.minutes = minutes;
    t.temperature.assign(minutes.size(), 0);
    t.counts.assign(minutes.size() * kChannelTableSize, 0);
    for (std::size_t j = 0; j < minutes.size(); ++j)
        for (std::size_t c = 0; c < static_cast<std::size_t>(kChannelCount); ++c)
            t.counts[j * kChannelTableSize + c] = static_cast<std::int16_t>(count(j, c));
    return t;
}

std::vector<std::int32_t> Minutes(std::int32_t first, std::int32_t last) {
    std::vector<std::int32_t> m;
    for (std::int32_t t = first; t <= last; ++t) m.push_back(t);
    return m;
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
    // 115 one-minute records (minutes 1..115), channel 7 counts 6 per record. Bins 30, 60, 90
    // hold 30 records; the fourth holds 25 and is multiplied by 1 + (100 - 83.3) / 100 = 35 / 30.
    const RecordTable r =
        Records(Minutes(1, 115), [](std::size_t, std::size_t c) { return c == 7 ? 6 : 0; });
    std::int32_t length = 115;
    BinTable bins;
    ASSERT_EQ(ResampleActivity(length, 114, 30, r, bins), 3);
    EXPECT_EQ(length, 120);
    for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(bins.count(k, 7), 180) << k;
    EXPECT_EQ(bins.count(3, 7), 175);  // 25 x 6 = 150, x 35 / 30
    EXPECT_EQ(bins.records, (std::vector<std::int32_t>{30, 30, 30, 25}));
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

// Regular records of `step` minutes from minute `first`: channel 5 is 0 except a marker of
// 1000 at each marker minute, channel 9 counts 3 in every record and channel 200 a pseudo-random
// 0..400. Every marker must land whole in the bin that holds its minute (bin k holds the minutes
// after k x bin up to (k + 1) x bin, minute 0 in bin 0), every other bin of channel 5 must stay
// 0, each bin must hold the number of records whose minute it holds, and the whole bins must
// hold exactly the counts of their records.
TEST(Resample, EveryRecordLandsInTheBinOfItsMinute) {
    struct Case {
        const char* name;
        std::int32_t first, step, records, bin;
        std::vector<std::int32_t> markers;
    };
    const Case cases[] = {
        {"from minute 0", 0, 1, 3001, 30, {0, 30, 1000, 2900, 3000}},
        {"from minute 1", 1, 1, 3000, 30, {1, 1000, 2900, 3000}},
        {"from minute 5", 5, 1, 2996, 30, {5, 1000, 2900, 3000}},
        {"2-minute steps", 2, 2, 1500, 30, {2, 1000, 2900, 3000}},
        {"3-minute steps", 3, 3, 1000, 30, {3, 1002, 2901, 3000}},
        {"1-minute bins", 1, 1, 3000, 1, {1, 1000, 2900, 3000}},
        {"a week of 1-minute records", 1, 1, 10080, 30, {1, 1441, 5000, 10079, 10080}},
        {"a week in 1-hour bins from minute 0", 0, 1, 10081, 60, {0, 60, 61, 10080}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::int32_t> minutes;
        for (std::int32_t j = 0; j < c.records; ++j) minutes.push_back(c.first + j * c.step);
        auto marked = [&](std::int32_t m) {
            return std::find(c.markers.begin(), c.markers.end(), m) != c.markers.end();
        };
        const RecordTable r = Records(minutes, [&](std::size_t j, std::size_t ch) {
            if (ch == 5) return marked(minutes[j]) ? 1000 : 0;
            if (ch == 9) return 3;
            return static_cast<int>((j * 7919 + ch) % 401);
        });
        const int last = static_cast<int>(r.size()) - 1;
        std::int32_t length = LargestMinute(r, last);
        ASSERT_EQ(length % c.bin, 0) << "the cases end on a whole bin";
        ASSERT_FALSE(RecordsAreIrregular(r, last));
        BinTable bins;
        ASSERT_EQ(ResampleActivity(length, last, c.bin, r, bins), length / c.bin - 1);
        ASSERT_EQ(bins.size(), static_cast<std::size_t>(length / c.bin));

        auto bin_of = [&](std::int32_t m) {
            return static_cast<std::size_t>(m <= 0 ? 0 : (m - 1) / c.bin);
        };
        std::vector<std::int32_t> marker_sum(bins.size(), 0), records(bins.size(), 0);
        std::vector<std::int64_t> sum9(bins.size(), 0), sum200(bins.size(), 0);
        for (std::size_t j = 0; j < r.size(); ++j) {
            const std::size_t k = bin_of(r.minutes[j]);
            marker_sum[k] += r.count(j, 5);
            ++records[k];
            sum9[k] += r.count(j, 9);
            sum200[k] += r.count(j, 200);
        }
        for (std::size_t k = 0; k < bins.size(); ++k) {
            ASSERT_EQ(bins.minutes[k], static_cast<std::int32_t>(k + 1) * c.bin) << k;
            ASSERT_EQ(bins.count(k, 5), marker_sum[k]) << "bin ending " << bins.minutes[k];
            ASSERT_EQ(bins.records[k], records[k]) << "bin ending " << bins.minutes[k];
            // A record split by a bin edge moves part of a count into the next bin; the bins
            // still end on record minutes, so the counts balance out within one record.
            ASSERT_LE(std::abs(bins.count(k, 9) - sum9[k]), 3) << k;
            ASSERT_LE(std::abs(bins.count(k, 200) - sum200[k]), 400) << k;
        }
        std::int64_t got9 = 0, got200 = 0, want9 = 0, want200 = 0;
        for (std::size_t k = 0; k < bins.size(); ++k) {
            got9 += bins.count(k, 9);
            got200 += bins.count(k, 200);
            want9 += sum9[k];
            want200 += sum200[k];
        }
        EXPECT_EQ(got9, want9);
        EXPECT_EQ(got200, want200);
    }
}

TEST(Resample, ARecordAcrossABinEdgeIsSplitByItsMinutes) {
    // 2-minute records at odd minutes in 5-minute bins: the record of minute 11 spans minutes
    // 9..11 and is halved between the bins ending 10 and 15. Counts are conserved: a half is
    // rounded where the running total is rounded.
    std::vector<std::int32_t> minutes;
    for (std::int32_t m = 1; m <= 21; m += 2) minutes.push_back(m);
    const RecordTable r = Records(minutes, [&](std::size_t j, std::size_t ch) {
        if (ch == 1) return minutes[j] == 11 ? 1000 : 0;
        if (ch == 2) return minutes[j] == 11 ? 3 : 0;
        return ch == 3 ? 1 : 0;
    });
    std::int32_t length = 21;  // 4 whole bins and 1 minute (20 %: dropped)
    BinTable bins;
    ASSERT_EQ(ResampleActivity(length, static_cast<int>(r.size()) - 1, 5, r, bins), 3);
    EXPECT_EQ(length, 20);
    EXPECT_EQ(bins.count(1, 1), 500);
    EXPECT_EQ(bins.count(2, 1), 500);
    EXPECT_EQ(bins.count(1, 2), 2);  // 1.5, rounded to even in the running total
    EXPECT_EQ(bins.count(2, 2), 1);
    // Channel 3 counts 1 per record: running totals 3, 5.5, 8, 10.5 -> 3, 6, 8, 10.
    EXPECT_EQ((std::vector<std::int32_t>{bins.count(0, 3), bins.count(1, 3), bins.count(2, 3),
                                         bins.count(3, 3)}),
              (std::vector<std::int32_t>{3, 3, 2, 2}));
    // Records whose minute each bin holds: 1, 3, 5 | 7, 9 | 11, 13, 15 | 17, 19.
    EXPECT_EQ(bins.records, (std::vector<std::int32_t>{3, 2, 3, 2}));
}

TEST(Resample, BusyChannelsInLongBinsKeepCountsBeyond16Bits) {
    // 720-minute bins over a day; a busy channel counts 1000 per minute.
    const RecordTable r =
        Records(Minutes(0, 1440), [](std::size_t, std::size_t c) { return c == 3 ? 1000 : 0; });
    std::int32_t length = 1440;
    BinTable bins;
    ASSERT_EQ(ResampleActivity(length, 1440, 720, r, bins), 1);
    EXPECT_EQ(bins.count(1, 3), 720000);
    EXPECT_EQ(bins.count(0, 3), 721000);  // minutes 0..720
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
        // Windows shorter than a minute repeat minutes: the first interval that is not 0 is
        // the measure, so a pause still shows.
        {{0, 0, 1, 1, 2, 2, 9, 9}, true},
        {{0, 0, 1, 1, 2, 3, 3}, false},
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
    EXPECT_EQ(bins.records, (std::vector<std::int32_t>{10, 7, 10, 10}));
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
