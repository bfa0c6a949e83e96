// A report on an acquisition recorded from the in-process simulated instrument: the channel
// blocks are read frame by frame and decoded by the device code, every window is analysed by
// the production activity calculation, and the counts are appended to counts.bin by the
// acquisition's writer. The simulator scripts busy wells in one group and idle wells in the
// other; the report's group means must follow that script.
#include <gtest/gtest.h>

#include <vector>

#include "core/acquisition/data_files.h"
#include "core/analysis/analysis_module.h"
#include "core/device/command_set.h"
#include "core/reporting/report/report_run.h"
#include "report_fixture.h"
#include "sim/instrument.h"

namespace lumivo::reporting::testing {
namespace {

constexpr std::size_t kRows = 500;
constexpr std::int64_t kRowPeriodUs = 120'000;  // 500 rows make a one-minute window

// One window of readings, SampleMatrix-shaped (501 rows of 385), read block by block.
std::vector<std::int16_t> ReadWindow(sim::Instrument& instrument, std::int64_t& now_us) {
    std::vector<std::int16_t> window((kRows + 1) * kChannelTableSize, 0);
    std::vector<std::uint16_t> channels(kChannelTableSize, 0);
    for (std::size_t row = 0; row < kRows; ++row) {
        const std::int64_t row_start = now_us;
        for (int start : kBlockStarts) {
            const CommandFrame frame = BuildCommandFrame(ReadChannelBlockCommand(start));
            instrument.HostWrite(frame, now_us);
            now_us += 2'000;
            std::vector<std::uint8_t> reply(kBlockReplyBytes);
            reply.resize(instrument.HostRead(reply.data(), reply.size(), now_us));
            const BlockDecode d = DecodeChannelBlock(reply, start, channels);
            EXPECT_TRUE(d.accepted && !d.bad);
        }
        for (std::size_t c = 0; c < kBeamChannelCount; ++c)
            window[row * kChannelTableSize + c] = static_cast<std::int16_t>(channels[c]);
        now_us = row_start + kRowPeriodUs;
    }
    return window;
}

TEST(SimulatedAcquisitionReport, GroupMeansFollowTheScriptedActivity) {
    // The test plate: A1 (channel 0) and A2 (16) are "Control", busy; B1 (1, 2) and B2 (17) are
    // "Drug A", idle; B3 (33) is free.
    sim::SimConfig config;
    config.paced = false;
    config.seed = 11;
    config.channel_well.assign(kChannelCount, -1);
    const std::pair<int, int> wells[] = {{0, 0}, {1, 1}, {2, 1}, {16, 2}, {17, 3}, {33, 5}};
    for (const auto& [channel, well] : wells)
        config.channel_well[static_cast<std::size_t>(channel)] = well;
    config.well_activity = {1.5, 0.0, 1.5, 0.0, 0.0, 0.5};
    config.default_activity = 0.0;
    sim::Instrument instrument(config);

    ReportRig rig;
    const fs::path folder = rig.project / "20260314_0930";
    WriteAcquisitionProject(rig.install, folder, GoldenProjectPlan());

    ChannelSet in_wells;
    for (const auto& [channel, well] : wells) in_wells.set(static_cast<std::size_t>(channel));
    PosixFileOps ops;
    std::int64_t now_us = 1'000'000;
    for (int minute = 1; minute <= 6; ++minute) {
        std::vector<std::int16_t> window = ReadWindow(instrument, now_us);
        CountsRecord record;
        record.elapsed_minutes = minute;
        AnalyzeWindowChannels(SampleWindow{window, kRows + 1}, in_wells, 1.3,
                              DspMethod::ThresholdAverage, record.values);
        record.values[kBeamChannelCount] = TemperatureTenths(instrument.TemperatureC());
        ASSERT_TRUE(AppendCountsRecord(ops, folder / kCountsFileName, record, AppendOptions{}).ok);
    }

    ReportRequest request = rig.Request(folder, OutputFormat::Rows, ",");
    request.bin_size_text = "2";
    const ReportOutcome out = GenerateReport(rig.env, request);
    ASSERT_TRUE(out.written) << out.failure;
    const GroupStatistics& s = out.stats;
    ASSERT_GE(s.group_count, 2);
    EXPECT_EQ(s.wells[0], 2);
    EXPECT_EQ(s.wells[1], 2);
    EXPECT_EQ(PresentBins(s).size(), 3u);
    for (int k : PresentBins(s)) {
        // Busy wells cross their beams about 90 times a minute; idle wells see only noise.
        EXPECT_GT(s.Mean(0, k), 4 * std::max(s.Mean(1, k), 1)) << "bin " << k;
        EXPECT_GT(s.Mean(0, k), 20) << "bin " << k;
        // The free well (B3, half as busy) lies between the two groups.
        EXPECT_GT(s.WellValue(5, k), s.Mean(1, k)) << "bin " << k;
        EXPECT_LT(s.WellValue(5, k), s.Mean(0, k)) << "bin " << k;
    }
    // The report file orders the groups the same way.
    const std::string text = ReadFile(out.report_file);
    EXPECT_NE(text.find("\"000_Control\","), std::string::npos);
    EXPECT_NE(text.find("Temp[°C],22.0,22.0,22.0"), std::string::npos);
}

}  // namespace
}  // namespace lumivo::reporting::testing
