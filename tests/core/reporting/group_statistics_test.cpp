// Group statistics: means and standard deviations with halves rounded to even, wells with
// several beams, groups without wells, the free group, report bins and BinPresent, the standard
// error.
#include "core/reporting/report/group_statistics.h"

#include <gtest/gtest.h>

#include <cmath>

namespace lumivo::reporting {
namespace {

// `wells` single-beam wells, well w holding channel w, all in group `group`; channel 383 carries
// group `extra_group` without lying in a well.
ReportInputs SingleBeamWells(int wells, int group, int extra_group = -1) {
    ReportInputs in;
    in.plate_rows = 1;
    in.plate_columns = wells;
    in.max_well_index = wells - 1;
    in.max_beam_index = 0;
    in.well_channel.assign(static_cast<std::size_t>(wells), -1);
    for (int w = 0; w < wells; ++w) {
        in.channel_well[static_cast<std::size_t>(w)] = static_cast<std::int16_t>(w);
        in.well_channel[static_cast<std::size_t>(w)] = static_cast<std::int16_t>(w);
        in.channel_group[static_cast<std::size_t>(w)] = static_cast<std::int16_t>(group);
        in.well_names.push_back("A" + std::to_string(w + 1));
    }
    in.channel_group[383] = static_cast<std::int16_t>(extra_group);
    return in;
}

// One 30-minute bin where channel c counts values[c].
BinTable OneBin(const std::vector<std::int32_t>& values) {
    BinTable b;
    b.Resize(1);
    b.minutes[0] = 30;
    b.present[0] = 1;
    for (std::size_t c = 0; c < values.size(); ++c) b.count(0, c) = values[c];
    return b;
}

TEST(GroupStatistics, MeanAndDeviationRoundHalvesToEven) {
    struct Case {
        std::vector<std::int32_t> values;
        std::int32_t mean;
        std::int32_t sd;
    };
    const Case cases[] = {
        {{10, 20, 30}, 20, 10},
        {{1, 2}, 2, 1},                      // mean 1.5 -> 2; deviations -1, 0
        {{2, 3}, 2, 1},                      // mean 2.5 -> 2; deviations 0, 1
        {{5}, 5, 0},                         // one member: no deviation
        {{1, 2, 2, 2}, 2, 1},                // 1.75 -> 2; sqrt(1 / 3) = 0.58 -> 1
        {{0, 0, 1}, 0, 1},                   // sqrt(1 / 2) = 0.71 -> 1
        {{0, 0, 0, 0, 1}, 0, 0},             // sqrt(1 / 4) = 0.5 -> 0
        {{100000, 300000}, 200000, 141421},  // counts far beyond 16 bits
        {{-999, 1}, -499, 707},
    };
    for (const Case& c : cases) {
        const ReportInputs in = SingleBeamWells(static_cast<int>(c.values.size()), 0);
        const GroupStatistics s = ComputeGroupStatistics(in, OneBin(c.values), 30, 0, 30);
        ASSERT_EQ(s.group_count, 1);
        EXPECT_EQ(s.wells[0], static_cast<std::int32_t>(c.values.size()));
        EXPECT_EQ(s.Mean(0, 1), c.mean) << c.values.size();
        EXPECT_EQ(s.Sd(0, 1), c.sd) << c.values.size();
    }
}

TEST(GroupStatistics, WellsWithSeveralBeamsContributeTheirRoundedMean) {
    // One well of three beams (channels 0, 1, 2) and one of two (channels 3, 4, beam 2 empty).
    ReportInputs in;
    in.plate_rows = 1;
    in.plate_columns = 2;
    in.max_well_index = 1;
    in.max_beam_index = 2;
    in.well_channel = {0, 1, 2, 3, 4, -1};
    for (int c = 0; c < 5; ++c) {
        in.channel_well[static_cast<std::size_t>(c)] = static_cast<std::int16_t>(c < 3 ? 0 : 1);
        in.channel_group[static_cast<std::size_t>(c)] = 0;
    }
    in.well_names = {"A1", "A2"};
    const BinTable bins = OneBin({1, 2, 4, 5, 6});
    std::int32_t v = 0;
    ASSERT_TRUE(WellValue(in, bins, 0, 0, v));
    EXPECT_EQ(v, 2);  // 7 / 3 = 2.33
    ASSERT_TRUE(WellValue(in, bins, 1, 0, v));
    EXPECT_EQ(v, 6);  // 11 / 2 = 5.5 -> 6
    const GroupStatistics s = ComputeGroupStatistics(in, bins, 30, 0, 30);
    EXPECT_EQ(s.Mean(0, 1), 4);  // (2 + 6) / 2
    EXPECT_EQ(s.WellValue(0, 1), 2);
    EXPECT_EQ(s.WellValue(1, 1), 6);
}

TEST(GroupStatistics, GroupsRunFromZeroToTheLargestGroupOfAnyChannel) {
    // Wells in group 1 only; channel 383 (in no well) carries group 4; the free group and 999
    // are not groups of the report.
    ReportInputs in = SingleBeamWells(3, 1, 4);
    in.channel_group[2] = 999;
    const GroupStatistics s = ComputeGroupStatistics(in, OneBin({10, 30, 500}), 30, 0, 30);
    ASSERT_EQ(s.group_count, 5);
    EXPECT_EQ(s.wells, (std::vector<std::int32_t>{0, 2, 0, 0, 0}));
    EXPECT_EQ(s.Mean(1, 1), 20);
    for (int g : {0, 2, 3, 4}) {
        EXPECT_EQ(s.Mean(g, 1), 0);
        EXPECT_EQ(s.Sd(g, 1), 0);
        EXPECT_EQ(StandardError(s, g, 1), 0.0);
    }
    // No grouped channel at all: no group lines.
    const GroupStatistics none =
        ComputeGroupStatistics(SingleBeamWells(2, -1), OneBin({1, 2}), 30, 0, 30);
    EXPECT_EQ(none.group_count, 0);
}

TEST(GroupStatistics, ReportBinsPresenceAndStandardError) {
    const ReportInputs in = SingleBeamWells(4, 0);
    BinTable bins;
    bins.Resize(3);
    for (std::size_t k = 0; k < 3; ++k) {
        bins.minutes[k] = static_cast<std::int32_t>(30 * (k + 1));
        bins.temperature[k] = static_cast<std::int16_t>(250 + k);
        bins.records[k] = static_cast<std::int32_t>(29 + k);
        bins.present[k] = 1;
    }
    const std::int32_t values[4] = {10, 20, 30, 40};
    for (std::size_t w = 0; w < 4; ++w) bins.count(0, w) = values[w];
    // Bins 0 and 1 are reported (last = 1); the table's third bin is not.
    const GroupStatistics s = ComputeGroupStatistics(in, bins, 90, 1, 30);
    EXPECT_EQ(s.bin_count, 3);
    EXPECT_EQ(s.bin_present, (std::vector<bool>{false, true, true, false}));
    // A bin the recording does not cover stays absent: its zeros are not activity.
    BinTable gap = bins;
    gap.present[1] = 0;
    const GroupStatistics g = ComputeGroupStatistics(in, gap, 90, 2, 30);
    EXPECT_EQ(g.bin_present, (std::vector<bool>{false, true, false, true}));
    EXPECT_EQ(g.samples[2], 0);
    // "#Samples": the records that fell into each reported bin.
    EXPECT_EQ(s.samples, (std::vector<std::int32_t>{0, 29, 30, 0}));
    EXPECT_EQ(s.temperature[2], 251);
    EXPECT_EQ(s.Sd(0, 1), 13);  // sqrt(500 / 3) = 12.9
    EXPECT_DOUBLE_EQ(StandardError(s, 0, 1), 13 / 2.0);
    EXPECT_EQ(StandardError(s, 0, 2), 0.0);  // no spread: below 1
    EXPECT_EQ(ReportBinCount(100, 30), 3);
    EXPECT_EQ(ReportBinCount(10, 30), 1);
    EXPECT_EQ(ReportBinCount(75, 30), 2);  // 2.5 -> 2
}

}  // namespace
}  // namespace lumivo::reporting
