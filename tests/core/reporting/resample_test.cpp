// Re-binning: bin times and the partial last bin, the bin-size corrections (shorter than the
// recording, fewer windows than a bin can be told apart with), the recording's window length,
// every record whole in the bin of its minute and each bin scaled to its length by the time its
// windows cover (flat activity stays flat whatever the windows and the bins), bins the recording
// does not cover left missing, and counts beyond 16 bits.
#include "core/reporting/report/resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "core/common/rounding.h"
#include "core/reporting/report/activity_file.h"

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

// The minutes a recording of `seconds`-long windows writes: each window's end, in whole minutes
// (rounded down, as the time counter gives them), from `from` seconds to `to` seconds.
std::vector<std::int32_t> WindowMinutes(double seconds, double from, double to) {
    std::vector<std::int32_t> m;
    for (double end = from + seconds; end <= to + 1e-9; end += seconds)
        m.push_back(static_cast<std::int32_t>(std::floor(end / 60.0 + 1e-9)));
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
        {100, 30, {30, 60, 90}, 90, 2},        // 10 minutes (33 %) are not a bin
        {115, 30, {30, 60, 90, 120}, 120, 3},  // 25 of 30 minutes (83.3 %): scaled
        {110, 30, {30, 60, 90, 120}, 90, 2},   // 66.7 %: the fourth bin is missing
        {90, 30, {30, 60, 90}, 90, 2},         // whole bins
        {50, 20, {20, 40}, 40, 1},             // CInt(2.5) = 2
        {70, 20, {20, 40, 60, 80}, 60, 2},     // CInt(3.5) = 4, p = 50
        {105, 40, {40, 80, 120}, 80, 1},       // p = 62.5: missing
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
        for (int k = 0; k <= last; ++k)
            EXPECT_TRUE(bins.Present(static_cast<std::size_t>(k))) << c.length << "/" << c.bin;
    }
}

TEST(Resample, BinsFilledRegularlyKeepTheirSumAndAPartialOneIsScaledByItsCoverage) {
    // 115 one-minute records (minutes 1..115), channel 7 counts 6 per record. Bins 30, 60, 90
    // hold 30 records of one minute: scale exactly 1. The fourth holds 25 minutes of 30 and is
    // scaled to its length: 150 x 30 / 25.
    const RecordTable r =
        Records(Minutes(1, 115), [](std::size_t, std::size_t c) { return c == 7 ? 6 : 0; });
    std::int32_t length = 115;
    BinTable bins;
    ASSERT_EQ(ResampleActivity(length, 114, 30, r, bins), 3);
    EXPECT_EQ(length, 120);
    EXPECT_DOUBLE_EQ(bins.window_minutes, 1.0);
    for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(bins.count(k, 7), 180) << k;
    EXPECT_EQ(bins.count(3, 7), 180);
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
    for (const Case& c : cases) {
        EXPECT_EQ(CorrectBinSize(c.requested, c.length), c.expected)
            << c.requested << " on " << c.length;
        // A corrected size always comes with its reason, an unchanged one with none.
        EXPECT_EQ(BinCorrectionText(c.requested, c.expected, c.length).empty(),
                  c.requested == c.expected)
            << c.requested << " on " << c.length;
    }
    EXPECT_EQ(BinCorrectionText(0, 1, 100),
              "a bin of 0 min holds nothing: bin size corrected to 1 min");
    EXPECT_EQ(BinCorrectionText(60, 20, 20),
              "the recording (20 min) is shorter than the bin of 60 min: bin size corrected to "
              "20 min");
}

TEST(Resample, ABinIsRaisedUntilItHoldsEnoughWindows) {
    struct Case {
        std::int32_t bin;
        double window_seconds;
        std::int32_t expected;
    };
    const Case cases[] = {
        {1, 35, 2},  // one or two windows a minute: two minutes hold three or four
        {2, 35, 2},
        {5, 35, 5},
        {30, 35, 30},
        {1, 60, 1},  // one window of a minute in every minute
        {2, 60, 2},
        {30, 60, 30},
        {1, 61, 4},     // a hair longer: 2 minutes can hold one, 3 minutes two (68 %)
        {3, 65, 4},     // 2 windows (72 %) or 3 in 3 minutes: 4 minutes hold 3 (81 %)
        {5, 105, 6},    // 2 windows cover 70 % of 5 minutes
        {10, 600, 10},  // whole 10-minute windows
        {15, 600, 20},  // one or two of them: 20-minute bins
        {7, 0, 7},      // no window length known: as asked
        // Windows longer than a report can hold twice (a damaged file's minutes): the longest
        // bin, found at once.
        {30, 60.0 * 1e9, kMaxReportMinutes},
        {30, 60.0 * 40000, kMaxReportMinutes},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BinForWindows(c.bin, c.window_seconds / 60.0), c.expected)
            << c.bin << " min with windows of " << c.window_seconds << " s";
}

TEST(Resample, TheWindowLengthIsReadFromTheRecordsMinutes) {
    struct Case {
        const char* name;
        std::vector<std::int32_t> minutes;
        double expected;
        double tolerance;
    };
    std::vector<std::int32_t> lost = Minutes(1, 3000);
    lost.erase(lost.begin() + 1500);  // one window lost
    std::vector<std::int32_t> paused = Minutes(1, 2000);
    for (std::int32_t m = 2400; m <= 4000; ++m) paused.push_back(m);  // a pause of 400 min
    const Case cases[] = {
        {"one-minute windows", Minutes(1, 3000), 1.0, 0.0},
        {"one lost window", lost, 1.0, 0.0},
        {"a pause", paused, 1.0, 0.0},
        {"35-second windows", WindowMinutes(35, 0, 3 * 86400), 35.0 / 60.0, 0.002},
        {"a short run of 35-second windows", WindowMinutes(35, 0, 1800), 35.0 / 60.0, 0.02},
        {"10-minute windows", WindowMinutes(600, 0, 86400), 10.0, 0.0},
        {"60.02-second windows", WindowMinutes(60.02, 0, 7 * 86400), 60.02 / 60.0, 0.0004},
        {"47-second windows", WindowMinutes(47, 0, 7 * 86400), 47.0 / 60.0, 0.001},
    };
    for (const Case& c : cases) {
        const RecordTable r = Records(c.minutes, [](std::size_t, std::size_t) { return 0; });
        EXPECT_NEAR(RecordingWindowMinutes(r, static_cast<int>(r.size()) - 1), c.expected,
                    c.tolerance)
            << c.name;
    }
    const RecordTable one = Records({5}, [](std::size_t, std::size_t) { return 0; });
    EXPECT_EQ(RecordingWindowMinutes(one, 0), 0.0);
}

TEST(Resample, FlatActivityIsFlatWhateverTheWindowsAndTheBins) {
    // A day of 35-second windows, every channel counting 7 a window. Without the scale a
    // minute holds one or two windows and a bin's sum goes up and down with them (one-minute
    // bins read 14, 7, 7, 14 ...); with it every whole bin reads the same activity.
    const std::vector<std::int32_t> minutes = WindowMinutes(35, 0, 86400);
    const RecordTable r =
        Records(minutes, [](std::size_t, std::size_t c) { return c < 3 ? 7 : 0; });
    const int last = static_cast<int>(r.size()) - 1;
    const double w = RecordingWindowMinutes(r, last);
    for (const std::int32_t asked : {1, 2, 5, 30}) {
        SCOPED_TRACE(asked);
        const std::int32_t bin = BinForWindows(asked, w);
        EXPECT_EQ(bin, asked == 1 ? 2 : asked);
        std::int32_t length = LargestMinute(r, last);
        BinTable bins;
        const int last_bin = ResampleActivity(length, last, bin, r, bins, w);
        ASSERT_GT(last_bin, 10);
        const double expected = 7.0 * bin / (35.0 / 60.0);  // 7 per 35 s over the bin
        std::int32_t lowest = INT32_MAX, highest = 0;
        bool sums_differ = false;
        for (int k = 0; k <= last_bin; ++k) {
            const auto uk = static_cast<std::size_t>(k);
            ASSERT_TRUE(bins.Present(uk)) << k;
            lowest = std::min(lowest, bins.count(uk, 1));
            highest = std::max(highest, bins.count(uk, 1));
            sums_differ = sums_differ || bins.records[uk] != bins.records[0];
        }
        EXPECT_TRUE(sums_differ) << "the windows do not fall evenly into these bins";
        EXPECT_LE(highest - lowest, 0.05 * lowest);
        EXPECT_NEAR(lowest, expected, 0.05 * expected);
    }
}

TEST(Resample, EveryRecordLandsWholeInTheBinOfItsMinute) {
    // Regular records of `step` minutes from minute `first`: channel 5 is 0 except a marker of
    // 1000 at each marker minute, channel 9 counts 3 in every record and channel 200 a
    // pseudo-random 0..400. Bin k holds the minutes after k x bin up to (k + 1) x bin (minute 0
    // in bin 0) and its value is the sum of its records scaled by bin / (records x step):
    // exactly the sum where the records fill the bin.
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
        {"3-minute steps in 7-minute bins", 3, 3, 1000, 7, {3, 1002, 2901}},
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
        BinTable bins;
        const int last_bin = ResampleActivity(length, last, c.bin, r, bins);
        ASSERT_GE(last_bin, 0);
        EXPECT_DOUBLE_EQ(bins.window_minutes, c.step);

        auto bin_of = [&](std::int32_t m) {
            return static_cast<std::size_t>(m <= 0 ? 0 : (m - 1) / c.bin);
        };
        std::vector<std::int64_t> sum5(bins.size(), 0), sum9(bins.size(), 0),
            sum200(bins.size(), 0);
        std::vector<std::int32_t> records(bins.size(), 0);
        for (std::size_t j = 0; j < r.size(); ++j) {
            const std::size_t k = bin_of(r.minutes[j]);
            if (k >= bins.size()) continue;
            sum5[k] += r.count(j, 5);
            ++records[k];
            sum9[k] += r.count(j, 9);
            sum200[k] += r.count(j, 200);
        }
        for (int k = 0; k <= last_bin; ++k) {
            const auto uk = static_cast<std::size_t>(k);
            ASSERT_EQ(bins.minutes[uk], (k + 1) * c.bin) << k;
            ASSERT_EQ(bins.records[uk], records[uk]) << "bin ending " << bins.minutes[uk];
            ASSERT_TRUE(bins.Present(uk)) << k;
            const double scale =
                static_cast<double>(c.bin) / (static_cast<double>(records[uk]) * c.step);
            auto scaled = [&](std::int64_t sum) {
                return records[uk] * c.step == c.bin ? sum
                                                     : static_cast<std::int64_t>(RoundHalfEven(
                                                           static_cast<double>(sum) * scale));
            };
            ASSERT_EQ(bins.count(uk, 5), scaled(sum5[uk])) << "bin ending " << bins.minutes[uk];
            ASSERT_EQ(bins.count(uk, 9), scaled(sum9[uk])) << k;
            ASSERT_EQ(bins.count(uk, 200), scaled(sum200[uk])) << k;
            // Channel 9 counts 3 a step: a bin its records fill reads 3 per step of its length.
            if (records[uk] * c.step == c.bin) {
                ASSERT_EQ(bins.count(uk, 9), 3 * c.bin / c.step) << k;
            }
        }
    }
}

TEST(Resample, BusyChannelsInLongBinsKeepCountsBeyond16Bits) {
    // 720-minute bins over a day; a busy channel counts 1000 per minute.
    const RecordTable r =
        Records(Minutes(0, 1440), [](std::size_t, std::size_t c) { return c == 3 ? 1000 : 0; });
    std::int32_t length = 1440;
    BinTable bins;
    ASSERT_EQ(ResampleActivity(length, 1440, 720, r, bins), 1);
    EXPECT_EQ(bins.count(1, 3), 720000);
    EXPECT_EQ(bins.count(0, 3), 720000);  // minutes 0..720: 721 windows of a minute, scaled
}

TEST(Resample, BinsTheRecordingDoesNotCoverAreMissingNotZero) {
    // Minutes 1..10 and 14..40 in 10-minute bins: the second bin holds 7 minutes of 10 (less
    // than three quarters) and has no value; the others hold their 10 records.
    std::vector<std::int32_t> minutes = Minutes(1, 10);
    for (std::int32_t m = 14; m <= 40; ++m) minutes.push_back(m);
    RecordTable r = Records(minutes, [](std::size_t, std::size_t) { return 1; });
    r.temperature.back() = 321;
    std::int32_t length = 40;
    BinTable bins;
    ASSERT_EQ(ResampleActivity(length, static_cast<int>(r.size()) - 1, 10, r, bins), 3);
    EXPECT_EQ(bins.present, (std::vector<std::uint8_t>{1, 0, 1, 1}));
    EXPECT_EQ(bins.count(0, 9), 10);
    EXPECT_EQ(bins.count(2, 9), 10);
    EXPECT_EQ(bins.count(3, 9), 10);
    EXPECT_EQ(bins.temperature[3], 321);
    EXPECT_EQ(bins.records, (std::vector<std::int32_t>{10, 7, 10, 10}));

    // Minutes 1..30, a pause, then 96..120, in 30-minute bins: nothing was recorded in bins
    // 31..60 and 61..90, and the 25 minutes after the pause are scaled to their bin.
    minutes = Minutes(1, 30);
    for (std::int32_t m = 96; m <= 120; ++m) minutes.push_back(m);
    r = Records(minutes, [](std::size_t, std::size_t) { return 2; });
    length = 120;
    ASSERT_EQ(ResampleActivity(length, static_cast<int>(r.size()) - 1, 30, r, bins), 3);
    EXPECT_EQ(bins.present, (std::vector<std::uint8_t>{1, 0, 0, 1}));
    EXPECT_EQ(bins.count(0, 0), 60);
    EXPECT_EQ(bins.count(3, 0), 60);  // 50 counted in 25 minutes

    // Four hours without records in a day of 35-second windows, in 30-minute bins: the eight
    // bins of the gap are missing, every other bin reads the same.
    std::vector<std::int32_t> day = WindowMinutes(35, 0, 10 * 3600);
    const std::vector<std::int32_t> after = WindowMinutes(35, 14 * 3600, 24 * 3600);
    day.insert(day.end(), after.begin(), after.end());
    r = Records(day, [](std::size_t, std::size_t c) { return c == 4 ? 5 : 0; });
    length = LargestMinute(r, static_cast<int>(r.size()) - 1);
    ASSERT_EQ(ResampleActivity(length, static_cast<int>(r.size()) - 1, 30, r, bins), 47);
    for (std::size_t k = 0; k < 48; ++k) {
        const bool gap = k >= 20 && k < 28;
        EXPECT_EQ(bins.Present(k), !gap) << k;
        if (!gap) {
            EXPECT_NEAR(bins.count(k, 4), 5 * 30 * 60 / 35.0, 3) << k;
        }
    }
}

TEST(Resample, NothingToRebinGivesMinusOneAndSaysWhy) {
    const RecordTable two = Records({0, 10}, [](std::size_t, std::size_t) { return 1; });
    const RecordTable sparse = Records({1, 2}, [](std::size_t, std::size_t) { return 1; });
    struct Case {
        const char* name;
        const RecordTable& records;
        std::int32_t length;
        int last;
        std::int32_t bin;
        const char* why;
    };
    const Case cases[] = {
        {"one record", two, 10, 0, 5, "fewer than two records"},
        {"no bin size", two, 10, 1, 0, "below one minute"},
        {"no length", two, 0, 1, 5, "no minute"},
        {"less than half a bin", two, 10, 1, 30, "shorter than half a bin"},
        {"beyond the format", two, kMaxReportMinutes + 1, 1, 30, "more than a report can hold"},
        {"last beyond the table", two, 10, 5, 5, "fewer than two records"},
        {"no bin covered", sparse, 10, 1, 10, "covered for three quarters"},
    };
    for (const Case& c : cases) {
        std::int32_t length = c.length;
        BinTable bins;
        std::string why;
        EXPECT_EQ(ResampleActivity(length, c.last, c.bin, c.records, bins, 0.0, &why), -1)
            << c.name;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.name << ": " << why;
    }
}

}  // namespace
}  // namespace lumivo::reporting
