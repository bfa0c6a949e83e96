// The sampling loop against the simulated instrument in virtual time: what a recording leaves
// on disk, how bad blocks, silence and write failures are handled, and where a run ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>

#include "acquisition_rig.h"
#include "core/acquisition/event_log_reader.h"
#include "core/control/light_temperature.h"

namespace lumivo::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::size_t> ChannelsOfWells(const PlateMap& plate, bool odd_wells) {
    std::vector<std::size_t> out;
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        const int w = plate.ChannelWell[c];
        if (w >= 0 && (w % 2 == 1) == odd_wells) out.push_back(c);
    }
    return out;
}

// Crossings the instrument started on each channel up to now.
std::vector<std::uint64_t> CrossingsNow(AcquisitionRig& rig) {
    std::vector<std::uint64_t> out(kBeamChannelCount);
    const auto now = rig.clock.MonotonicMicros();
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        out[c] = rig.instrument.CrossingsStarted(static_cast<int>(c), now);
    }
    return out;
}

TEST(SamplingLoop, ThreeWindowsRecordMinutesTemperaturesAndActivity) {
    AcquisitionRig rig;
    rig.app.project.Setup.RT_Buffer = 600;
    rig.app.project.Setup.Aq_lapse = 2;
    std::vector<std::vector<std::uint64_t>> crossings;
    ASSERT_EQ(rig.Start("three windows"), StartOutcome::Started);
    crossings.push_back(CrossingsNow(rig));
    rig.view.on_window_closed = [&] { crossings.push_back(CrossingsNow(rig)); };
    const std::int64_t start = rig.engine.State().AcquisitionStartTime;

    rig.RunTicks(5000);
    EXPECT_FALSE(rig.engine.Running());
    EXPECT_TRUE(rig.engine.State().finished_at_lapse);
    ASSERT_EQ(rig.view.window_close_us.size(), 3u);

    // 600 rows of four 197-byte exchanges (68.4 ms) close a window about every 41.5 s: the
    // third one closes after minute 2 and ends the run.
    EXPECT_EQ(rig.FileSize(kCountsFileName), 3 * kCountsRecordSize);
    const CountsFileContents counts = ReadCountsFile(rig.Folder() / kCountsFileName);
    ASSERT_EQ(counts.records.size(), 3u);
    const std::int16_t expected_tenths = TemperatureTenths(
        RawTemperatureToCelsius(rig.instrument.RawTemperature(), rig.link.sensor));
    EXPECT_GT(expected_tenths, 150);  // the plate sits near 22 degrees
    for (std::size_t i = 0; i < 3; ++i) {
        const auto minutes = (rig.view.window_close_us[i] - start) / 60'000'000;
        EXPECT_EQ(counts.records[i].elapsed_minutes, minutes) << "window " << i;
        EXPECT_EQ(counts.records[i].elapsed_minutes, static_cast<std::int32_t>(i));
        EXPECT_EQ(counts.records[i].temperature_tenths(), expected_tenths);
    }

    // Activity follows the animals. Empty wells: the beams see noise and ripple only, far
    // inside the threshold (about 98 % of the running peak for this noise), so at most a
    // stray count per beam and window. Busy wells: every crossing dips the beam by 24..56 %
    // for 150..450 ms. At 0.75 crossings a second per beam about a fifth of the crossings
    // start before the previous one has ended and merge with it into one dip, and the dips
    // pull the running peak (hence the threshold) down a little; this model gives about 70 %
    // of the crossings started in the window as counts. The bounds, 55 % and 100 % (plus 2
    // per beam for a dip on the window's edge, which counts in either window), catch a
    // calculation that misses or invents a large share of the events without depending on
    // the exact random draw.
    const auto empty = ChannelsOfWells(rig.app.plate, false);
    const auto busy = ChannelsOfWells(rig.app.plate, true);
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& rec = counts.records[i];
        long long empty_counts = 0;
        for (std::size_t c : empty) {
            EXPECT_LE(rec.values[c], 1) << "empty channel " << c << " window " << i;
            empty_counts += rec.values[c];
        }
        EXPECT_LE(empty_counts, 4) << "window " << i;
        long long busy_counts = 0;
        long long started = 0;
        for (std::size_t c : busy) {
            busy_counts += rec.values[c];
            started += static_cast<long long>(crossings[i + 1][c] - crossings[i][c]);
        }
        EXPECT_GT(started, 1000) << "window " << i;
        EXPECT_GE(busy_counts, started * 55 / 100) << "window " << i;
        EXPECT_LE(busy_counts, started + 2 * static_cast<long long>(busy.size())) << "window " << i;
    }
    // Channels outside the plate map hold 0.
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        if (rig.app.plate.ChannelWell[c] < 0) {
            EXPECT_EQ(counts.records[0].values[c], 0);
        }
    }

    // The raw page holds the three windows; its last row is never filled.
    EXPECT_EQ(rig.FileSize("0.bin"), 3 * RawPageRecordSize(600));
    RawPageReader page(rig.Folder() / "0.bin", 600);
    ASSERT_EQ(page.record_count(), 3u);
    std::vector<std::int16_t> window(601 * kChannelTableSize);
    page.ReadRecord(2, window);
    const std::size_t busy_channel = busy.front();
    EXPECT_GT(window[100 * kChannelTableSize + busy_channel], 200);
    EXPECT_TRUE(std::all_of(window.begin() + 600 * kChannelTableSize, window.end(),
                            [](std::int16_t v) { return v == 0; }));
    EXPECT_FALSE(fs::exists(rig.Folder() / "histo0000.bin"));

    // The running totals are what the records add up to.
    for (std::size_t c : busy) {
        long long sum = 0;
        for (const auto& r : counts.records) sum += r.values[c];
        EXPECT_EQ(rig.engine.Sampling().ChannelTotals[c], sum);
    }
}

TEST(SamplingLoop, SamplePeriodIsTheLineTimeOfFourBlocks) {
    AcquisitionRig rig;
    ASSERT_EQ(rig.Start("period"), StartOutcome::Started);
    rig.RunWindows(2);
    // Four 197-byte exchanges at 115200 baud take 68.4 ms; the instrument thinks 0.1 ms per
    // reply and the first two rows of each window add the warm-up reads and 50 ms.
    const double wire = 4 * 197 * 10.0 / 115200.0;
    EXPECT_GE(rig.engine.Sampling().SamplePeriod, wire);
    EXPECT_LE(rig.engine.Sampling().SamplePeriod, wire * 1.03);
}

TEST(SamplingLoop, BodyBendsAlternateBlockPairsAndFillPagesOfElevenWindows) {
    AcquisitionRig rig(AlternatingWells("w96u", 1.0), "w96u");
    ASSERT_EQ(rig.Start("bends", true), StartOutcome::Started);
    rig.RunWindows(12);
    rig.engine.Stop();

    EXPECT_EQ(rig.FileSize(kCountsFileName), 12 * kCountsRecordSize);
    EXPECT_EQ(rig.FileSize("0.bin"), 11 * RawPageRecordSize(500));
    EXPECT_EQ(rig.FileSize("1.bin"), 1 * RawPageRecordSize(500));
    EXPECT_EQ(rig.FileSize("histo0000.bin"), 11 * kHistogramRecordSize);
    EXPECT_EQ(rig.FileSize("histo0001.bin"), 1 * kHistogramRecordSize);
    EXPECT_FALSE(fs::exists(rig.Folder() / "2.bin"));
    EXPECT_EQ(rig.engine.Sampling().RawFileIndex, 1);
    EXPECT_EQ(rig.engine.Sampling().HistogramRecords, 12);

    // Window 0 reads blocks 0 and 32, window 1 blocks 64 and 96.
    RawPageReader page(rig.Folder() / "0.bin", 500);
    std::vector<std::int16_t> w(501 * kChannelTableSize);
    auto column_sum = [&](std::size_t c) {
        long long s = 0;
        for (std::size_t r = 0; r < 500; ++r) s += w[r * kChannelTableSize + c];
        return s;
    };
    page.ReadRecord(0, w);
    EXPECT_GT(column_sum(0), 0);
    EXPECT_GT(column_sum(32), 0);
    EXPECT_EQ(column_sum(64), 0);
    EXPECT_EQ(column_sum(96), 0);
    page.ReadRecord(1, w);
    EXPECT_GT(column_sum(64), 0);
    EXPECT_GT(column_sum(96), 0);

    // Histograms accumulate from the start; each record carries its sample period (two
    // blocks: about 34 ms).
    const HistogramFileContents h = ReadHistogramFile(rig.Folder() / "histo0000.bin");
    ASSERT_EQ(h.records.size(), 11u);
    long long first = 0;
    long long last = 0;
    for (std::size_t i = 0; i < kHistogramCellCount; ++i) {
        EXPECT_LE(h.records[0].cells[i], h.records[10].cells[i]);
        first += h.records[0].cells[i];
        last += h.records[10].cells[i];
    }
    EXPECT_GT(first, 0);
    EXPECT_GT(last, first);
    EXPECT_NEAR(h.records[3].sample_period, 2 * 197 * 10.0 / 115200.0, 0.002);
    EXPECT_GT(h.records[3].elapsed_minutes_exact, h.records[2].elapsed_minutes_exact);
}

// Ticks until the row about to be filled is `row`.
void RunToRow(AcquisitionRig& rig, int row) {
    rig.RunTicks(2000, [&] { return rig.engine.Sampling().SampleRow == row; });
    ASSERT_EQ(rig.engine.Sampling().SampleRow, row);
}

TEST(SamplingLoop, BadBlocksHoldThePreviousRowFromRowTwoOn) {
    struct Case {
        const char* what;
        int row;
        bool short_reply;  // 191 bytes; otherwise a high byte above 15
        bool every_block;  // every reply of the tick is bad, else only the first
        bool held;         // block 0's channels take the previous row's values
    };
    // In rows 0 and 1 the tick first makes its warm-up reads, so there every reply of the
    // tick is made bad; from row 2 on the first reply is the read of block 0.
    const Case cases[] = {
        {"191 bytes in row 5", 5, true, false, true},
        {"high byte in row 7", 7, false, false, true},
        {"191 bytes in row 1", 1, true, true, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        AcquisitionRig rig;
        ASSERT_EQ(rig.Start("bad block"), StartOutcome::Started);
        rig.RunWindows(1);  // rows 0 and 1 now hold the first window's readings
        RunToRow(rig, k.row);
        const auto r = static_cast<std::size_t>(k.row);
        const SampleMatrix& m = rig.engine.Sampling().samples;
        const std::vector<std::int16_t> before(m.Row(r).begin(), m.Row(r).end());
        const int count = k.every_block ? sim::kAlways : 1;
        if (k.short_reply) {
            rig.instrument.Faults().short_blocks = count;
            rig.instrument.Faults().short_block_bytes = 191;
        } else {
            rig.instrument.Faults().high_byte_blocks = count;
        }
        rig.engine.Tick();
        rig.instrument.Faults().short_blocks = 0;
        rig.instrument.Faults().high_byte_blocks = 0;
        for (std::size_t t = 0; t < 32; ++t) {
            for (std::size_t c : {t, t + 128, t + 256}) {
                const std::int16_t now = m.At(r, c);
                if (k.held) {
                    EXPECT_EQ(now, m.At(r - 1, c)) << "channel " << c;
                } else {
                    EXPECT_EQ(now, before[c]) << "channel " << c;
                }
            }
        }
        // Block 32's channels: read afresh, or left as they were with every reply bad.
        int changed = 0;
        for (std::size_t c = 32; c < 64; ++c) changed += m.At(r, c) != before[c] ? 1 : 0;
        if (k.every_block) {
            EXPECT_EQ(changed, 0);
        } else {
            EXPECT_GT(changed, 16);
        }
        // One bad reply is no alarm; a tick of nothing but bad replies (eight of them, each
        // waiting out the read timeouts for its missing byte) is.
        EXPECT_EQ(rig.view.alarm.empty(), !k.every_block) << rig.view.alarm;
    }
}

TEST(SamplingLoop, LapseReachedInsideAWindowEndsOnItsBoundary) {
    AcquisitionRig rig;
    rig.app.project.Setup.Aq_lapse = 2;
    ASSERT_EQ(rig.Start("lapse"), StartOutcome::Started);
    const std::int64_t start = rig.engine.State().AcquisitionStartTime;
    // Windows close about every 34.5 s: minute 2 arrives inside the fourth window.
    bool passed_lapse_mid_window = false;
    rig.RunTicks(3000, [&] {
        const auto elapsed = rig.clock.MonotonicMicros() - start;
        if (elapsed >= 120'000'000 && rig.engine.Sampling().SampleRow > 0 &&
            rig.engine.Sampling().windows_closed == 3) {
            passed_lapse_mid_window = true;
        }
        return false;
    });
    EXPECT_TRUE(passed_lapse_mid_window);
    EXPECT_FALSE(rig.engine.Running());
    EXPECT_EQ(rig.engine.Sampling().windows_closed, 4);
    EXPECT_EQ(rig.engine.Sampling().SampleRow, 0);
    const CountsFileContents counts = ReadCountsFile(rig.Folder() / kCountsFileName);
    ASSERT_EQ(counts.records.size(), 4u);
    EXPECT_EQ(counts.records[3].elapsed_minutes, 2);

    // The end of the run: outputs off, the quick report, the notice, the stop.
    EXPECT_EQ(rig.instrument.OutputMask(), 0);
    const fs::path report = rig.app.project.ProjectFolder / "report.txt";
    EXPECT_TRUE(fs::exists(report));
    ASSERT_EQ(rig.view.opened_files.size(), 1u);
    EXPECT_EQ(rig.view.opened_files[0], report);
    EXPECT_TRUE(rig.dialogs.Showed(kAcquisitionFinishedMessage));
    EXPECT_TRUE(rig.view.controls.start);
    EXPECT_FALSE(rig.view.controls.pause);
}

TEST(SamplingLoop, UserDefinedReportOpensTheReportWindowInsteadOfTheNotice) {
    AcquisitionRig rig;
    rig.app.project.Setup.Aq_lapse = 2;
    rig.view.user_defined_report = true;
    ASSERT_EQ(rig.Start("user bins"), StartOutcome::Started);
    rig.RunTicks(3000);
    EXPECT_EQ(rig.view.report_window_opened, 1);
    EXPECT_FALSE(rig.dialogs.Showed(kAcquisitionFinishedMessage));
}

TEST(SamplingLoop, EveryWindowIsAnalysedAndAutoZeroOnlyRefreshesZeroLevels) {
    for (bool auto_zero : {false, true}) {
        SCOPED_TRACE(auto_zero ? "Auto Zero ticked" : "Auto Zero unticked");
        AcquisitionRig rig;
        rig.controls.AutoZeroOnStart = auto_zero;
        rig.app.project.ChannelThreshold.fill(3.0);
        ASSERT_EQ(rig.Start("zero box"), StartOutcome::Started);
        // The start's auto-zero has set the levels already when the box is ticked.
        const auto levels_at_start = rig.app.project.ChannelThreshold;
        rig.RunWindows(2);
        const CountsFileContents counts = ReadCountsFile(rig.Folder() / kCountsFileName);
        ASSERT_EQ(counts.records.size(), 2u);
        const auto busy = ChannelsOfWells(rig.app.plate, true);
        for (const auto& rec : counts.records) {
            long long sum = 0;
            for (std::size_t c : busy) sum += rec.values[c];
            EXPECT_GT(sum, 500);
        }
        // The zero levels move with the box only: ripple / level x SNR + 1 of each window
        // (here of an empty well, whose ripple is the beam's noise).
        const std::size_t c = ChannelsOfWells(rig.app.plate, false).front();
        if (auto_zero) {
            EXPECT_NE(rig.app.project.ChannelThreshold[c], levels_at_start[c]);
            EXPECT_GT(rig.app.project.ChannelThreshold[c], 1.0);
            EXPECT_LT(rig.app.project.ChannelThreshold[c], 10.0);
        } else {
            EXPECT_EQ(rig.app.project.ChannelThreshold[c], 3.0);
        }
    }
}

TEST(SamplingLoop, AnInstrumentLostAndFoundRecordsOnlyRealReadings) {
    enum class Loss { Silence, Vanish, PowerCycle, OtherInstrument };
    struct Case {
        const char* what;
        Loss loss;
    };
    const Case cases[] = {
        {"silent for 30 s (the cable's signal lines cut)", Loss::Silence},
        {"the port vanishes for 30 s and returns", Loss::Vanish},
        {"the instrument is power-cycled: its registers are reset", Loss::PowerCycle},
        {"another instrument answers first on the port", Loss::OtherInstrument},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        AcquisitionRig rig;
        // Settings the instrument forgets at a power cycle (it starts from PinHole 2, Gain 3).
        for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
            rig.cal.PinHole[c] = 5;
            rig.cal.Gain[c] = 2;
            rig.instrument.SetChannelSetting(static_cast<int>(c), 2 * 32 + 5);
        }
        ASSERT_EQ(rig.Start("lost and found"), StartOutcome::Started);
        rig.RunWindows(2);
        rig.RunTicks(100);  // inside the third window
        ASSERT_EQ(rig.engine.Sampling().windows_recorded, 2);

        const std::int64_t lost_at = rig.clock.MonotonicMicros();
        if (k.loss == Loss::Silence) {
            rig.instrument.Unplug();
        } else {
            rig.socket.Pull();
        }
        rig.RunFor(2.0);
        if (k.loss != Loss::Silence) {
            // The port failed at once: the run says so and keeps looking.
            EXPECT_NE(rig.view.alarm.find("INSTRUMENT LOST on COM1"), std::string::npos)
                << rig.view.alarm;
            EXPECT_TRUE(
                rig.view.Logged("Instrument lost: the port failed (Input/output error) "
                                "on COM1 at "));
        }
        rig.RunFor(8.0);
        EXPECT_FALSE(rig.view.alarm.empty());
        // A look for the lost instrument, or a silent tick, holds the window thread briefly.
        const std::int64_t before = rig.clock.MonotonicMicros();
        rig.engine.Tick();
        EXPECT_LE(rig.clock.MonotonicMicros() - before, 3'000'000);
        rig.RunFor(20.0);
        EXPECT_TRUE(rig.engine.Running());
        // Nothing was recorded from the time without readings.
        EXPECT_EQ(rig.engine.Sampling().windows_recorded, 2);

        sim::SimConfig fresh = AlternatingWells(rig.app.plate, 1.5);
        fresh.seed = 7;
        sim::Instrument other(fresh);  // same serial number, registers at their defaults
        sim::SimConfig stranger_config = fresh;
        stranger_config.serial_number = 124;
        sim::Instrument stranger(stranger_config);
        sim::Instrument* back = &rig.instrument;
        switch (k.loss) {
            case Loss::Silence:
                rig.instrument.Replug();
                break;
            case Loss::Vanish:
                rig.socket.Plug(rig.instrument);
                break;
            case Loss::PowerCycle:
                back = &other;
                rig.socket.Plug(other);
                break;
            case Loss::OtherInstrument:
                rig.socket.Plug(stranger);
                rig.RunFor(5.0);
                EXPECT_TRUE(rig.view.Logged(
                    "Another instrument answers on COM1 (LMVO00124): refused, this run records "
                    "LMVO00123"));
                EXPECT_NE(rig.view.alarm.find("INSTRUMENT LOST"), std::string::npos);
                EXPECT_EQ(rig.engine.Sampling().windows_recorded, 2);
                rig.socket.Pull();
                rig.socket.Plug(rig.instrument);
                break;
        }
        const std::int64_t returned = rig.clock.MonotonicMicros();
        rig.RunFor(10.0, [&] { return rig.view.alarm.empty(); });
        ASSERT_TRUE(rig.view.alarm.empty()) << rig.view.alarm;
        // Back within a look or two of its return.
        EXPECT_LE(rig.clock.MonotonicMicros() - returned, 3'000'000);
        if (k.loss != Loss::Silence) {
            EXPECT_TRUE(rig.view.Logged("Instrument reconnected on COM1 after "));
            // The settings of the run are in the instrument's registers again.
            for (int c = 0; c < kChannelCount; ++c) {
                ASSERT_EQ(back->ChannelSetting(c), 2 * 32 + 5) << "channel " << c;
            }
        }
        rig.RunTicks(4000, [&] { return rig.engine.Sampling().windows_recorded >= 5; });

        // Every record is made of readings taken while the instrument answered: the windows
        // recorded close before the loss, or a whole window after its return.
        const auto& closes = rig.view.window_close_us;
        ASSERT_EQ(closes.size(), static_cast<std::size_t>(rig.engine.Sampling().windows_recorded));
        ASSERT_EQ(closes.size(), 5u);
        for (std::int64_t t : closes) {
            EXPECT_TRUE(t < lost_at || t - returned > 30'000'000) << t;
        }
        const CountsFileContents counts = ReadCountsFile(rig.Folder() / kCountsFileName);
        ASSERT_EQ(counts.records.size(), 5u);
        const auto busy = ChannelsOfWells(rig.app.plate, true);
        for (const CountsRecord& r : counts.records) {
            long long sum = 0;
            for (std::size_t c : busy) sum += r.values[c];
            EXPECT_GT(sum, 500) << "minute " << r.elapsed_minutes;
        }
        // The minutes jump over the time without readings.
        EXPECT_GE(counts.records[2].elapsed_minutes - counts.records[1].elapsed_minutes, 1);
        EXPECT_GE(rig.engine.Sampling().windows_not_recorded, 1);
        const RunLog log = ParseRunLog(ReadFile(rig.Folder() / kEventLogFileName));
        EXPECT_EQ(log.windows_not_recorded, rig.engine.Sampling().windows_not_recorded);
        EXPECT_EQ(log.instrument_lost.size(), k.loss == Loss::Silence ? 0u : 1u);
        ASSERT_FALSE(log.zones.empty());
        EXPECT_EQ(log.zones.front().name, "UTC");
    }
}

TEST(SamplingLoop, AWindowThatCannotBeWrittenIsLeftOutEverywhereAndReported) {
    AcquisitionRig rig;
    rig.app.project.Setup.Aq_lapse = 2;
    ASSERT_EQ(rig.Start("disk full"), StartOutcome::Started);
    rig.RunWindows(1);
    EXPECT_GE(rig.file_ops.syncs, 2);  // raw page and counts flushed when written
    rig.file_ops.fail = true;
    rig.RunWindows(1);
    EXPECT_NE(rig.view.alarm.find("RECORDING ERROR"), std::string::npos);
    EXPECT_EQ(rig.engine.Sampling().windows_recorded, 1);
    EXPECT_EQ(rig.FileSize(kCountsFileName), kCountsRecordSize);
    EXPECT_EQ(rig.FileSize("0.bin"), RawPageRecordSize(500));
    rig.file_ops.fail = false;
    rig.RunWindows(1);
    EXPECT_TRUE(rig.view.alarm.empty());
    EXPECT_EQ(rig.engine.Sampling().windows_recorded, 2);
    EXPECT_EQ(rig.engine.Sampling().WindowSubCounter, 2);
    EXPECT_EQ(rig.FileSize(kCountsFileName), 2 * kCountsRecordSize);
    EXPECT_EQ(rig.FileSize("0.bin"), 2 * RawPageRecordSize(500));

    // The end of the run says how many windows were lost: the notice, the status line, the
    // quick report's header and events.log.
    rig.RunTicks(3000);
    ASSERT_FALSE(rig.engine.Running());
    EXPECT_EQ(rig.engine.WindowsLost(), 1);
    const std::string lost = "3 windows recorded, 1 window could not be recorded";
    EXPECT_EQ(rig.dialogs.Messages().back(), std::string(kAcquisitionFinishedMessage) + "\r\n" +
                                                 lost + " (see events.log in " +
                                                 rig.Folder().string() + ")");
    EXPECT_EQ(rig.view.status_line, "Acquisition finished (the programmed lapse was reached): " +
                                        lost + " in 20260314_0930");
    const std::string summary = ReadFile(rig.app.project.ProjectFolder / "report.txt");
    EXPECT_NE(summary.find("\r\n1_Rig\r\nWARNING: 1 window could not be recorded (see "
                           "events.log)\r\n\r\nGroup Activity:"),
              std::string::npos);
    EXPECT_NE(ReadFile(rig.Folder() / kEventLogFileName)
                  .find("Acquisition finished (the "
                        "programmed lapse was reached): " +
                        lost),
              std::string::npos);
}

TEST(SamplingLoop, AMissingTemperatureRecordsTheLastValidOne) {
    AcquisitionRig rig;
    ASSERT_EQ(rig.Start("temperature"), StartOutcome::Started);
    const std::int16_t valid = TemperatureTenths(rig.climate.CurrentTemperature);
    RunToRow(rig, 499);
    // The last row is read; the temperature request at the window's close goes unanswered.
    rig.sink.on_row = [&](std::span<const std::int16_t>, std::int64_t) {
        rig.instrument.Faults().silent = true;
    };
    rig.engine.Tick();
    rig.sink.on_row = nullptr;
    rig.instrument.Faults().silent = false;
    ASSERT_EQ(rig.engine.Sampling().windows_recorded, 1);
    const CountsFileContents counts = ReadCountsFile(rig.Folder() / kCountsFileName);
    ASSERT_EQ(counts.records.size(), 1u);
    EXPECT_GT(valid, 150);
    EXPECT_EQ(counts.records[0].temperature_tenths(), valid);
}

TEST(SamplingLoop, EveryLightSwitchIsLoggedWithItsCause) {
    // A 09:00-10:00 light cycle started at 09:30: on at the start, off at the first window that
    // closes after 10:00, on again when the light button is pressed during the run.
    AcquisitionRig rig;
    rig.app.project.Setup.Aq_lapse = 120;
    rig.climate.light_cycle_enabled = true;
    rig.climate.light_on_hour = 9;
    rig.climate.light_off_hour = 10;
    ASSERT_EQ(rig.Start("light"), StartOutcome::Started);
    EXPECT_TRUE(rig.instrument.LightOn());
    rig.RunWindows(1);
    rig.clock.AdvanceMs(31 * 60 * 1000);
    rig.RunWindows(1);
    EXPECT_FALSE(rig.instrument.LightOn());
    rig.RunWindows(1);  // the cycle keeps the light off: nothing new is logged
    EXPECT_FALSE(ToggleLight(rig.climate, true));  // left to the sampling loop
    rig.RunTicks(2);
    EXPECT_TRUE(rig.instrument.LightOn());
    rig.engine.Stop();

    const RunLog log = ParseRunLog(ReadFile(rig.Folder() / kEventLogFileName));
    ASSERT_TRUE(log.sampling_started);
    ASSERT_EQ(log.light.size(), 3u);
    EXPECT_TRUE(log.light[0].on);
    EXPECT_EQ(log.light[0].second, log.start);
    EXPECT_FALSE(log.light[1].on);
    EXPECT_GE(log.light[1].second - log.start, 30 * 60);
    EXPECT_TRUE(log.light[2].on);
    EXPECT_TRUE(rig.view.Logged("Light on (at the start)"));
    EXPECT_TRUE(rig.view.Logged("Light off (light cycle)"));
    EXPECT_TRUE(rig.view.Logged("Light on (light button)"));
}

TEST(SamplingLoop, TimeDisplayShowsTheElapsedSpan) {
    struct Case {
        std::int64_t us;
        const char* text;
    };
    const Case cases[] = {
        {0, "00:00:00 [0d]"},
        {59'999'999, "00:00:59 [0d]"},
        {3'723'000'000, "01:02:03 [0d]"},
        {86'400'000'000 + 5'000'000, "00:00:05 [1d]"},
        {3 * 86'400'000'000LL + 23 * 3'600'000'000LL, "23:00:00 [3d]"},
        {-5, "00:00:00 [0d]"},
    };
    for (const Case& k : cases) EXPECT_EQ(ElapsedTimeText(k.us), k.text) << k.us;

    AcquisitionRig rig;
    rig.app.project.Setup.Aq_lapse = 10;
    ASSERT_EQ(rig.Start("clock"), StartOutcome::Started);
    rig.RunWindows(2);
    EXPECT_EQ(rig.view.elapsed_text.substr(0, 6), "00:01:");
    EXPECT_DOUBLE_EQ(rig.view.elapsed_percent, 10.0);
}

TEST(SamplingLoop, WallClockStepsAndZoneChangesMoveNoMinute) {
    // The same seeded run twice; in the second the system time is set back three hours and
    // the zone changes twice (summer time begins and another zone is chosen) while it records.
    auto record = [](bool steps) {
        AcquisitionRig rig;
        rig.app.project.Setup.Aq_lapse = 5;
        EXPECT_EQ(rig.Start("clock"), StartOutcome::Started);
        rig.view.on_window_closed = [&rig, steps] {
            if (!steps) return;
            const auto n = rig.engine.Sampling().windows_recorded;
            if (n == 2) rig.clock.StepWallClock(-3 * 3600);
            if (n == 4) rig.clock.SetZone(60, "CET");
            if (n == 6) rig.clock.SetZone(120, "CEST");
        };
        rig.RunTicks(20000);
        EXPECT_FALSE(rig.engine.Running());
        return std::pair{ReadFile(rig.Folder() / kCountsFileName),
                         ReadFile(rig.Folder() / kEventLogFileName)};
    };
    const auto [plain_counts, plain_log] = record(false);
    const auto [stepped_counts, stepped_log] = record(true);
    ASSERT_FALSE(plain_counts.empty());
    // Every record minute and every count is the same: windows and minutes follow the
    // monotonic clock.
    EXPECT_EQ(stepped_counts, plain_counts);
    // The log says in which zone each stamp was written.
    const RunLog log = ParseRunLog(stepped_log);
    ASSERT_EQ(log.zones.size(), 3u);
    EXPECT_EQ(log.zones[1].utc_offset_minutes, 60);
    EXPECT_EQ(log.zones[2].name, "CEST");
    EXPECT_NE(stepped_log.find("Time zone: UTC+02:00 (CEST)"), std::string::npos);
    EXPECT_EQ(ParseRunLog(plain_log).zones.size(), 1u);
}

}  // namespace
}  // namespace lumivo::testing
