// The status strip of a recorded run: where data exists, where windows are missing and where
// the instrument was silent, from the records' minutes and events.log; and a run recorded by
// the acquisition engine against the simulated instrument, unplugged for a while.
#include "core/offline/recording_status.h"

#include <gtest/gtest.h>

#include "core/acquisition/acquisition_rig.h"
#include "core/offline/acquisition_summary.h"

namespace lumivo::offline::testing {
namespace {

namespace fs = std::filesystem;
using Segments = std::vector<StripSegment>;
using K = StripKind;

std::vector<std::int32_t> Minutes(std::initializer_list<std::pair<int, int>> ranges) {
    std::vector<std::int32_t> m;
    for (auto [a, b] : ranges)
        for (int i = a; i <= b; ++i) m.push_back(i);
    return m;
}

std::string Log(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* l : lines) text += std::string(l) + "\r\n";
    return text;
}

void ExpectSegments(const Segments& got, const Segments& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i].begin_minute, want[i].begin_minute, 1e-9) << i;
        EXPECT_NEAR(got[i].end_minute, want[i].end_minute, 1e-9) << i;
        EXPECT_EQ(got[i].kind, want[i].kind) << i;
    }
}

TEST(RecordingStatus, GapsPausesSilencesAndTheEndOfTheLog) {
    struct Case {
        const char* name;
        std::vector<std::int32_t> minutes;
        std::string log;
        std::size_t missing;
        Segments segments;
    };
    const Case cases[] = {
        {"one window a minute", Minutes({{1, 10}}), "", 0, {{0, 10.5, K::Data}}},
        {"six windows lost between minutes 3 and 10",
         Minutes({{1, 3}, {10, 11}}),
         "",
         6,
         {{0, 3.5, K::Data}, {3.5, 9.5, K::Missing}, {9.5, 11.5, K::Data}}},
        {"the same gap was a pause with the counter running: nothing missing",
         Minutes({{1, 3}, {10, 11}}),
         Log({"2026-03-14 10:00:00  Sampling started",
              "2026-03-14 10:03:30  Paused, time counter running, at 00:03:30 [0d]",
              "2026-03-14 10:09:30  Resumed after a pause of 00:06:00 [0d]"}),
         0,
         {{0, 3.5, K::Data}, {3.5, 9.5, K::Paused}, {9.5, 11.5, K::Data}}},
        {"a silence after a frozen pause, in the minutes of the records",
         Minutes({{1, 15}}),
         Log({"2026-03-14 10:00:00  Sampling started",
              "2026-03-14 10:05:00  Paused, time counter stopped, at 00:05:00 [0d]",
              "2026-03-14 10:35:00  Resumed after a pause of 00:30:00 [0d] (not counted in the "
              "lapse)",
              "2026-03-14 10:40:00  ALARM: NO VALID DATA from the instrument for 3 s (40 readings "
              "missed): check the cable and the power. Still trying...",
              "2026-03-14 10:41:00  Alarm ended: the instrument answers again after 63 s without "
              "valid data (900 readings missed)"}),
         0,
         {{0, 9.95, K::Data}, {9.95, 11, K::Silent}, {11, 15.5, K::Data}}},
        {"stopped long after the last record: the windows in between are missing",
         Minutes({{1, 5}}),
         Log({"2026-03-14 10:00:00  Sampling started",
              "2026-03-14 10:20:00  Acquisition stopped (Stop Acquisition was pressed): 5 windows "
              "recorded in 20260314_1000"}),
         14,
         {{0, 5.5, K::Data}, {5.5, 20, K::Missing}}},
        {"still silent when the log ends",
         Minutes({{1, 4}}),
         Log({"2026-03-14 10:00:00  Sampling started",
              "2026-03-14 10:02:00  ALARM: NO VALID DATA from the instrument for 3 s",
              "2026-03-14 10:06:00  Automatic adjustment in window 5: none"}),
         0,
         {{0, 1.95, K::Data}, {1.95, 6, K::Silent}}},
        {"the instrument was lost between minutes 3.5 and 9.5: shown, not missing",
         Minutes({{1, 3}, {10, 11}}),
         Log({"2026-03-14 10:00:00  Sampling started",
              "2026-03-14 10:03:30  Instrument lost: the port failed (Input/output error) on COM3",
              "2026-03-14 10:09:30  Instrument reconnected on COM3 after 360 s: 6 windows lost",
              "2026-03-14 10:09:30  Windows not recorded: 6 (minutes 3 to 9): the instrument was "
              "lost"}),
         0,
         {{0, 3.5, K::Data}, {3.5, 9.5, K::Lost}, {9.5, 11.5, K::Data}}},
        {"the recorder died after minute 3 and was resumed at 9.5",
         Minutes({{1, 3}, {10, 11}}),
         Log({"2026-03-14 10:00:00  Sampling started",
              "2026-03-14 10:03:30  Light off (light cycle)",
              "2026-03-14 10:09:30  Time zone: UTC+00:00 (UTC)",
              "2026-03-14 10:09:30  Recording resumed after an interruption: \"x\" goes on at "
              "minute 9 of 30, instrument LMVO00123 on COM1; 3 windows on disk are kept, the last "
              "at minute 3, so minutes 3 to 9 were not observed"}),
         0,
         {{0, 3.5, K::Data}, {3.5, 9.5, K::Interrupted}, {9.5, 11.5, K::Data}}},
        {"half-minute windows", {0, 1, 1, 2, 2, 3, 3, 4, 4, 5}, "", 0, {{0, 5.5, K::Data}}},
        {"no records", {}, "", 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RecordingStatus st = AnalyseRecording(c.minutes, c.log);
        EXPECT_EQ(st.windows_recorded, c.minutes.size());
        EXPECT_EQ(st.windows_missing, c.missing);
        ExpectSegments(st.segments, c.segments);
    }
    // The frozen pause has no stretch of the elapsed axis: it is a period of its own, a mark
    // at the minute it began.
    const RecordingStatus frozen = AnalyseRecording(cases[3].minutes, cases[3].log);
    ASSERT_EQ(frozen.periods.size(), 1u);
    EXPECT_NEAR(frozen.periods[0].begin_minute, 5.0, 1e-9);
    EXPECT_NEAR(frozen.periods[0].end_minute, 5.0, 1e-9);
    EXPECT_EQ(frozen.periods[0].kind, K::Paused);
    EXPECT_EQ(frozen.periods[0].caption, "paused 30 min 00 s with the time counter held");
    EXPECT_TRUE(AnalyseRecording(cases[2].minutes, cases[2].log).periods.empty());

    const RecordingStatus silent = AnalyseRecording(Minutes({{1, 4}}), cases[5].log);
    ASSERT_EQ(silent.silences.size(), 1u);
    EXPECT_FALSE(silent.silences[0].ended);
    EXPECT_EQ(silent.silences[0].seconds, 243);
    // Whole minutes only bound a window's length: a tenth of a minute is as close as it gets here.
    EXPECT_NEAR(AnalyseRecording(cases[8].minutes, "").window_minutes, 0.5, 0.1);
}

TEST(RecordingStatus, StripCellsShowTheStrongestKindOfTheirStretch) {
    const RecordingStatus st = AnalyseRecording(Minutes({{1, 3}, {10, 11}}), "");
    // One cell per window: 5 recorded and 6 missing over 11.5 minutes.
    const std::size_t cells = st.windows_recorded + st.windows_missing;
    EXPECT_EQ(StripCells(st, cells),
              (std::vector<K>{K::Data, K::Data, K::Data, K::Missing, K::Missing, K::Missing,
                              K::Missing, K::Missing, K::Missing, K::Missing, K::Data}));
    // A short silence still shows in a strip far coarser than it.
    const RecordingStatus week = AnalyseRecording(
        Minutes({{1, 10080}}),
        Log({"2026-03-14 10:00:00  Sampling started",
             "2026-03-16 10:00:05  Alarm ended: the instrument answers again after 5 s"}));
    const auto strip = StripCells(week, 100);
    EXPECT_EQ(std::count(strip.begin(), strip.end(), K::Silent), 1);
    EXPECT_EQ(strip[28], K::Silent);
    EXPECT_EQ(StripCells(AnalyseRecording({}, ""), 3), (std::vector<K>{K::None, K::None, K::None}));
}

TEST(RecordingStatus, ARunRecordedByTheEngineShowsWhereTheInstrumentWasSilentOrLost) {
    ::lumivo::testing::AcquisitionRig rig;
    ASSERT_EQ(rig.Start("unplugged for a while"), StartOutcome::Started);
    rig.RunWindows(2);
    rig.instrument.Unplug();
    rig.RunTicks(400, [&] { return !rig.view.alarm.empty(); });
    rig.RunTicks(100);
    rig.instrument.Replug();
    rig.RunTicks(10, [&] { return rig.view.alarm.empty(); });
    rig.RunWindows(2);
    // Then its port vanishes for 40 s.
    rig.socket.Pull();
    rig.RunFor(40.0);
    rig.socket.Plug(rig.instrument);
    rig.RunFor(10.0, [&] { return rig.view.alarm.empty(); });
    rig.RunWindows(2);
    rig.engine.Stop();

    const fs::path folder = rig.Folder();
    const CountsOverview counts = ScanCountsFile(folder / kCountsFileName);
    const RecordingStatus st = AnalyseRecording(counts.minutes, ReadEventLog(folder));
    EXPECT_TRUE(st.has_event_log);
    EXPECT_TRUE(st.log_ended);
    EXPECT_EQ(st.windows_recorded, counts.minutes.size());
    ASSERT_EQ(st.silences.size(), 1u);
    EXPECT_TRUE(st.silences[0].ended);
    EXPECT_GE(st.silences[0].seconds, 3);
    EXPECT_GT(st.silences[0].end_minute, st.silences[0].begin_minute);
    ASSERT_EQ(st.losses.size(), 1u);
    EXPECT_NEAR(static_cast<double>(st.losses[0].seconds), 40.0, 3.0);
    EXPECT_EQ(st.windows_not_recorded, rig.engine.Sampling().windows_not_recorded);
    EXPECT_GT(st.windows_not_recorded, 0);
    const auto strip = StripCells(st, 200);
    EXPECT_GT(std::count(strip.begin(), strip.end(), K::Silent), 0);
    EXPECT_GT(std::count(strip.begin(), strip.end(), K::Lost), 0);
    EXPECT_GT(std::count(strip.begin(), strip.end(), K::Data), 0);
}

}  // namespace
}  // namespace lumivo::offline::testing
