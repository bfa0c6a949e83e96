// The data behind the circadian and sleep views: the light schedule a run had (modelled from the
// acquisition's setup or read from events.log) on the run's clock and in the actogram's rows,
// the wells' status (dead, no beams) and the group means, stretches the recording does not
// cover, and the view files written into an acquisition folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <variant>

#include "core/reporting/rhythm/rhythm_chart.h"
#include "core/reporting/rhythm/rhythm_run.h"
#include "core/reporting/rhythm/rhythm_tables.h"
#include "core/reporting/rhythm/rhythm_views.h"
#include "report_fixture.h"

namespace lumivo::reporting::testing {
namespace {

// The "wtest" plate in memory: A1 (channel 0), B1 (1, 2), A2 (16), B2 (17), A3 (none), B3 (33);
// group 1 "Control" holds A1 and B1, group 2 "Drug" A2 and B2, B3 is free.
ReportInputs TestInputs() {
    ReportInputs in;
    in.plate_format = "wtest";
    in.plate_rows = 2;
    in.plate_columns = 3;
    in.max_well_index = 5;
    in.max_beam_index = 1;
    in.well_channel.assign(12, -1);
    const std::pair<int, std::pair<int, int>> cells[] = {{0, {0, 0}},  {1, {1, 0}},  {2, {1, 1}},
                                                         {16, {2, 0}}, {17, {3, 0}}, {33, {5, 0}}};
    for (const auto& [channel, place] : cells) {
        in.well_channel[static_cast<std::size_t>(place.first * 2 + place.second)] =
            static_cast<std::int16_t>(channel);
        in.channel_well[static_cast<std::size_t>(channel)] = static_cast<std::int16_t>(place.first);
    }
    in.well_names = {"A1", "B1", "A2", "B2", "A3", "B3"};
    in.group_names[1] = "Control";
    in.group_names[2] = "Drug";
    for (int c : {0, 1, 2}) in.channel_group[static_cast<std::size_t>(c)] = 1;
    for (int c : {16, 17}) in.channel_group[static_cast<std::size_t>(c)] = 2;
    in.experiment_name = "Rhythm test";
    return in;
}

// One record a minute, minutes first..last, channel c counting count(minute, c).
RecordTable MinuteRecords(int first, int last, const std::function<int(int, int)>& count) {
    RecordTable t;
    for (int m = first; m <= last; ++m) {
        t.minutes.push_back(m);
        for (std::size_t c = 0; c < kChannelTableSize; ++c)
            t.counts.push_back(c < static_cast<std::size_t>(kChannelCount)
                                   ? static_cast<std::int16_t>(count(m, static_cast<int>(c)))
                                   : std::int16_t{240});
        t.temperature.push_back(240);
    }
    return t;
}

RhythmSource Source(RecordTable records, const std::string& folder = "20260314_1830") {
    RhythmSource s;
    s.inputs = TestInputs();
    s.records = std::move(records);
    s.last = static_cast<int>(s.records.size()) - 1;
    s.folder_name = folder;
    return s;
}

LightProgram Cycle(int on, int off) {
    LightProgram p;
    p.cycle_enabled = true;
    p.on_hour = on;
    p.off_hour = off;
    return p;
}

TEST(LightSchedule, TheProgramIsModelledAsTheInstrumentRanIt) {
    LightProgram pulses = Cycle(9, 21);
    pulses.pulse_on_minutes = 0.5;
    pulses.pulse_off_minutes = 1.5;
    pulses.pulse_count = 3;
    struct Case {
        const char* name;
        LightProgram program;
        double start;  // minute of the day
        double minutes;
        std::vector<LightPhase> phases;
    };
    const Case cases[] = {
        {"night 21:00-09:00 from 18:30",
         Cycle(9, 21),
         18 * 60 + 30,
         2880,
         {{0, 150, true},
          {150, 870, false},
          {870, 1590, true},
          {1590, 2310, false},
          {2310, 2880, true}}},
        {"light at night (on 21, off 9) from noon",
         Cycle(21, 9),
         720,
         1440,
         {{0, 540, false}, {540, 1260, true}, {1260, 1440, false}}},
        {"started in the night before midnight",
         Cycle(9, 21),
         23 * 60 + 30,
         720,
         {{0, 570, false}, {570, 720, true}}},
        {"no light cycle", LightProgram{}, 600, 1440, {{0, 1440, false}}},
        // The series from the start, then the light stays as the last pulse left it (off)
        // until the next on hour.
        {"pulse series",
         pulses,
         600,
         1440,
         {{0, 0.5, true},
          {0.5, 2, false},
          {2, 2.5, true},
          {2.5, 4, false},
          {4, 4.5, true},
          {4.5, 1380, false},
          {1380, 1440, true}}},
        // On and off at the same hour: off at the start, on from that hour for good.
        {"on hour equals off hour", Cycle(9, 9), 600, 2880, {{0, 1380, false}, {1380, 2880, true}}},
    };
    for (const Case& c : cases) {
        const auto phases = ModelLightPhases(c.program, c.start, c.minutes, false);
        ASSERT_EQ(phases.size(), c.phases.size()) << c.name;
        for (std::size_t i = 0; i < phases.size(); ++i) {
            EXPECT_NEAR(phases[i].begin, c.phases[i].begin, 1e-6) << c.name << " " << i;
            EXPECT_NEAR(phases[i].end, c.phases[i].end, 1e-6) << c.name << " " << i;
            EXPECT_EQ(phases[i].light, c.phases[i].light) << c.name << " " << i;
        }
    }
}

TEST(LightSchedule, ANight2100To0900IsShadedAcrossMidnight) {
    RhythmSource src = Source(MinuteRecords(1, 2880, [](int m, int) { return m % 3; }));
    src.light_program = Cycle(9, 21);
    const auto data = BuildRhythmData(src, RhythmOptions{});
    ASSERT_TRUE(data);
    EXPECT_EQ(data->light.source, LightSource::Setup);
    EXPECT_EQ(data->light.description, "dark 21:00-09:00 (light cycle of the acquisition's setup)");
    const std::vector<LightPhase> night = {{0, 540, false}, {540, 1260, true}, {1260, 1440, false}};
    EXPECT_EQ(data->light.daily, night);

    // Rows start at midnight of the first day: row 0 holds the evening of the start, row 1 a
    // whole day; double-plotted, row 0 runs on into the next day.
    ActogramLayout layout = MakeActogramLayout(*data, ActogramOptions{});
    EXPECT_DOUBLE_EQ(layout.origin, -1110.0);
    EXPECT_EQ(layout.rows, 3);
    EXPECT_EQ(ActogramRowPhases(layout, data->light.phases, 0),
              (std::vector<LightPhase>{{1110, 1260, true}, {1260, 1440, false}}));
    EXPECT_EQ(ActogramRowPhases(layout, data->light.phases, 1), night);
    layout.double_plot = true;
    EXPECT_EQ(
        ActogramRowPhases(layout, data->light.phases, 0),
        (std::vector<LightPhase>{
            {1110, 1260, true}, {1260, 1980, false}, {1980, 2700, true}, {2700, 2880, false}}));

    // In the picture: the dark rectangles of the whole day's row cover 0..9 h and 21..24 h.
    layout.double_plot = false;
    const ChartScene scene = ActogramScene(*data, {SeriesRef{false, 0}}, layout);
    std::vector<SceneRect> dark;
    std::vector<double> bases;
    double left = 0, right = 0;
    for (const SceneItem& item : scene.items) {
        if (item.role == "dark-phase") dark.push_back(std::get<SceneRect>(item.shape));
        if (item.role == "row-base") {
            const auto& line = std::get<ScenePath>(item.shape);
            left = line.points[0].x;
            right = line.points[1].x;
            bases.push_back(line.points[0].y);
        }
    }
    ASSERT_EQ(bases.size(), 3u);
    std::vector<SceneRect> row1;
    for (const SceneRect& r : dark)
        if (r.y > bases[0] && r.y < bases[1]) row1.push_back(r);
    ASSERT_EQ(row1.size(), 2u);
    const double width = right - left;
    EXPECT_NEAR(row1[0].x, left, 1e-6);
    EXPECT_NEAR(row1[0].width, width * 9 / 24, 1e-6);
    EXPECT_NEAR(row1[1].x, left + width * 21 / 24, 1e-6);
    EXPECT_NEAR(row1[1].width, width * 3 / 24, 1e-6);
    EXPECT_NE(RenderSceneSvg(scene).find("Light: dark 21:00-09:00"), std::string::npos);
}

TEST(LightSchedule, TheRunsClockAndLoggedSwitchesComeFirst) {
    const std::string log =
        "2026-03-14 18:29:50  Recording \"x\" started: project 1_Rig\r\n"
        "2026-03-14 18:30:00  Sampling started\r\n"
        "2026-03-14 18:30:00  Light on (at the start)\r\n"
        "2026-03-14 19:00:00  Light off (light button)\r\n"
        "2026-03-14 20:00:00  Light on (light button)\r\n";
    struct Case {
        const char* name;
        std::string log, folder, register_name;
        bool known;
        LocalDateTime start;
        const char* source;
    };
    const Case cases[] = {
        {"events.log", log, "20260314_1800", "", true, {2026, 3, 14, 18, 30, 0, 0}, "events.log"},
        {"folder name",
         "",
         "20260314_1830",
         "run",
         true,
         {2026, 3, 14, 18, 30, 0, 0},
         "folder name"},
        {"joined",
         "",
         "20260320_1200",
         "Data Block: 20260310_0800 first + 20260311_0900 second + ",
         true,
         {2026, 3, 10, 8, 0, 0, 0},
         "join register"},
        {"joined from the tree",
         "",
         "20260320_1200",
         "Data Block:   > 2026.0310\t ACQ08:00 \"first\" + ",
         true,
         {2026, 3, 10, 8, 0, 0, 0},
         "join register"},
        {"unknown", "", "renamed", "", false, {}, ""},
        {"join register cut short",
         "",
         "renamed",
         "Data Block:   > 2026.0310\t ACQ08",
         false,
         {},
         ""},
    };
    for (const Case& c : cases) {
        const RunClock clock = MakeRunClock(ParseRunLog(c.log), c.folder, c.register_name);
        EXPECT_EQ(clock.start_known, c.known) << c.name;
        if (!c.known) continue;
        EXPECT_EQ(clock.start.year, c.start.year) << c.name;
        EXPECT_EQ(clock.start.month, c.start.month) << c.name;
        EXPECT_EQ(clock.start.day, c.start.day) << c.name;
        EXPECT_EQ(clock.start.hour, c.start.hour) << c.name;
        EXPECT_EQ(clock.start.minute, c.start.minute) << c.name;
        EXPECT_EQ(clock.start_source, c.source) << c.name;
    }

    // The switches the run logged win over the setup's program; without a start the run has no
    // light phases at all.
    RhythmSource src = Source(MinuteRecords(1, 240, [](int, int) { return 1; }));
    src.light_program = Cycle(9, 21);
    src.log = ParseRunLog(log);
    auto data = BuildRhythmData(src, RhythmOptions{});
    ASSERT_TRUE(data);
    EXPECT_EQ(data->light.source, LightSource::EventLog);
    EXPECT_EQ(data->light.phases,
              (std::vector<LightPhase>{{0, 30, true}, {30, 90, false}, {90, 240, true}}));
    src.log = {};
    src.folder_name = "renamed";
    data = BuildRhythmData(src, RhythmOptions{});
    ASSERT_TRUE(data);
    EXPECT_EQ(data->light.source, LightSource::Unknown);
    EXPECT_TRUE(data->light.phases.empty());
    EXPECT_FALSE(data->notes.empty());
}

TEST(RhythmData, PausesGapsAndSilencesAreLeftUnobservedAndCountsKept) {
    // Counter minutes 1..240 with the counter stopped for 2 h at minute 60: on the run's clock
    // the records after the pause move on by 120 minutes.
    const std::string log =
        "2026-03-14 18:30:00  Sampling started\r\n"
        "2026-03-14 19:30:00  Paused, time counter stopped, at 01:00:00 [0d]\r\n"
        "2026-03-14 21:30:00  Resumed after a pause of 02:00:00 [0d] (not counted in the lapse)\r\n"
        "2026-03-15 00:05:00  ALARM: NO VALID DATA from the instrument for 300 s ... Still "
        "trying...\r\n"
        "2026-03-15 00:20:00  Alarm ended: the instrument answers again after 1200 s\r\n";
    RhythmSource src = Source(MinuteRecords(1, 360, [](int, int c) { return c == 0 ? 2 : 0; }));
    src.log = ParseRunLog(log);
    const auto data = BuildRhythmData(src, RhythmOptions{});
    ASSERT_TRUE(data);
    // Clock minutes 1..60 and 181..480; the silence 00:00..00:20 is clock minutes 330..350.
    const std::vector<std::uint8_t> expected = {1, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 0, 1, 1, 1, 1};
    EXPECT_EQ(data->observed, expected);
    for (std::size_t k = 0; k < data->bins; ++k)
        if (data->Observed(k)) {
            EXPECT_DOUBLE_EQ(data->Well(0)[k], 60.0) << k;
        }

    // A gap in the records (no pause logged) is unobserved too, and the records on each side
    // keep every count.
    RecordTable gap = MinuteRecords(1, 100, [](int, int c) { return c == 16 ? 1 : 0; });
    const RecordTable after = MinuteRecords(301, 390, [](int, int c) { return c == 16 ? 1 : 0; });
    gap.minutes.insert(gap.minutes.end(), after.minutes.begin(), after.minutes.end());
    gap.counts.insert(gap.counts.end(), after.counts.begin(), after.counts.end());
    gap.temperature.insert(gap.temperature.end(), after.temperature.begin(),
                           after.temperature.end());
    const auto gapped = BuildRhythmData(Source(std::move(gap)), RhythmOptions{});
    ASSERT_TRUE(gapped);
    // Minutes 91..100 are a third of a bin and dropped; 301..390 fill bins 10..12.
    EXPECT_EQ(gapped->observed, (std::vector<std::uint8_t>{1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1}));
    double sum = 0;
    for (std::size_t k = 0; k < gapped->bins; ++k)
        if (gapped->Observed(k)) sum += gapped->Well(2)[k];
    EXPECT_DOUBLE_EQ(sum, 90.0 + 90.0);

    // A minute beyond any recording comes from a damaged file and is refused, not allocated.
    RecordTable damaged = MinuteRecords(1, 2, [](int, int) { return 1; });
    damaged.minutes[1] = 200000;
    std::string failure;
    EXPECT_FALSE(BuildRhythmData(Source(std::move(damaged)), RhythmOptions{}, &failure));
    EXPECT_NE(failure.find("beyond any recording"), std::string::npos) << failure;
}

TEST(WellStatus, DeadWellsAndWellsWithoutBeamsAreFlaggedAndLeftOutOfGroupMeans) {
    // 30 hours: A1 counts only in its first 10 hours, B1 counts on its enabled beam (its other
    // beam is disabled), A2 counts throughout, B2's only beam is disabled, A3 has no beam and
    // B3 never counts.
    auto count = [](int m, int c) {
        switch (c) {
            case 0:
                return m <= 600 ? 2 : 0;
            case 1:
                return 1;
            case 2:
                return 5;
            case 16:
                return 3;
            case 17:
                return 4;
            default:
                return 0;
        }
    };
    RhythmSource src = Source(MinuteRecords(1, 1800, count));
    src.channel_enabled[2] = false;
    src.channel_enabled[17] = false;
    using S = WellStatus;
    struct Case {
        double hours;
        bool keep_dead;
        std::vector<WellStatus> status;
        std::vector<std::size_t> control_members;
        double control_first_bin;
        double control_se;
    };
    const Case cases[] = {
        {12, false, {S::Dead, S::Ok, S::Ok, S::NoBeams, S::NoBeams, S::Dead}, {1}, 30, 0},
        {12, true, {S::Dead, S::Ok, S::Ok, S::NoBeams, S::NoBeams, S::Dead}, {0, 1}, 45, 15},
        {24, false, {S::Ok, S::Ok, S::Ok, S::NoBeams, S::NoBeams, S::Dead}, {0, 1}, 45, 15},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyWells(src.inputs, src.channel_enabled, src.records, src.last, c.hours),
                  c.status)
            << c.hours;
        RhythmOptions o;
        o.dead_hours = c.hours;
        o.keep_dead = c.keep_dead;
        const auto data = BuildRhythmData(src, o);
        ASSERT_TRUE(data);
        ASSERT_EQ(data->groups.size(), 2u);
        EXPECT_EQ(data->groups[0].label, "001_Control");
        EXPECT_EQ(data->groups[0].members, c.control_members) << c.hours << c.keep_dead;
        EXPECT_EQ(data->groups[0].wells, 2);
        EXPECT_DOUBLE_EQ(data->GroupMean(0)[0], c.control_first_bin) << c.hours << c.keep_dead;
        EXPECT_NEAR(data->GroupSe(0)[0], c.control_se, 1e-9) << c.hours << c.keep_dead;
        EXPECT_EQ(data->groups[1].members, std::vector<std::size_t>{2});
        EXPECT_EQ(data->groups[1].left_out, 1);
        EXPECT_EQ(data->wells[5].group_label, "999_Free");
    }
    EXPECT_EQ(WellStatusText(S::Ok), "OK");
    EXPECT_EQ(WellStatusText(S::Dead), "dead");
    EXPECT_EQ(WellStatusText(S::NoBeams), "no beams");

    // The same from an acquisition folder, for tables with a status column.
    ReportRig rig;
    ProjectPlan plan = GoldenProjectPlan();
    plan.disabled_channels = {2, 17};
    std::vector<PlannedRecord> records;
    for (int m = 1; m <= 1800; ++m) {
        PlannedRecord r;
        r.minute = m;
        for (int c : {0, 1, 2, 16, 17, 33})
            r.values[static_cast<std::size_t>(c)] = static_cast<std::int16_t>(count(m, c));
        records.push_back(r);
    }
    const fs::path folder = rig.Acquisition("20260314_1830", plan, records);
    const auto status = ReadAcquisitionWellStatus(rig.ctx, folder);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->well_names, (std::vector<std::string>{"A1", "B1", "A2", "B2", "A3", "B3"}));
    EXPECT_EQ(status->status, cases[0].status);
}

// A three-day acquisition of the test plate with a 21:00-09:00 night: A2 is busy from 21:00 to
// 09:00 (a nocturnal animal) with Poisson noise, the other wells count at random.
fs::path RhythmicAcquisition(ReportRig& rig) {
    ProjectPlan plan = GoldenProjectPlan();
    plan.group_names = {{1, "Control"}, {2, "Drug"}};
    plan.channel_groups = {{0, 1}, {1, 1}, {2, 1}, {16, 2}, {17, 2}};
    plan.light = std::array<std::int16_t, 6>{1, 9, 21, 0, 0, 0};
    std::mt19937 rng(5);
    std::poisson_distribution<int> busy(4.0), calm(0.3), some(1.0);
    std::vector<PlannedRecord> records;
    for (int m = 1; m <= 3 * 1440; ++m) {
        PlannedRecord r;
        r.minute = m;
        const int hour = (18 * 60 + 30 + m) / 60 % 24;
        const bool night = hour >= 21 || hour < 9;
        r.values[16] = static_cast<std::int16_t>(night ? busy(rng) : calm(rng));
        for (int c : {0, 1, 2, 17, 33})
            r.values[static_cast<std::size_t>(c)] =
                static_cast<std::int16_t>(some(rng) * (m % 7 != 0));
        records.push_back(r);
    }
    return rig.Acquisition("20260314_1830", plan, records);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find("\r\n", at);
        EXPECT_NE(end, std::string::npos) << "every line ends in CR LF";
        if (end == std::string::npos) break;
        out.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

TEST(RhythmTables, NumbersRoundHalvesToEvenLikeEveryNumberTheProgramWrites) {
    struct Case {
        double value;
        int decimals;
        const char* text;
    };
    const Case cases[] = {{0.125, 2, "0.12"},     {0.375, 2, "0.38"}, {49.865, 2, "49.86"},
                          {2.5, 0, "2"},          {3.5, 0, "4"},      {-0.125, 2, "-0.12"},
                          {1.0 / 3.0, 2, "0.33"}, {720, 2, "720"},    {std::nan(""), 2, "NA"}};
    for (const Case& c : cases) EXPECT_EQ(CsvNumber(c.value, c.decimals), c.text) << c.value;
}

TEST(RhythmPlot, EachViewWritesItsPictureAndTableIntoTheFolder) {
    ReportRig rig;
    const fs::path folder = RhythmicAcquisition(rig);
    struct Case {
        RhythmView view;
        std::string group, well;
        const char* stem;
        const char* header;
        std::size_t lines;  // without the header
    };
    // 2 groups and 6 wells; 3 days are 144 half-hour bins, 720 six-minute ones.
    const Case cases[] = {
        {RhythmView::Actogram, "", "", "actogram",
         "id,kind,group,status,row,t_h,offset_h,counts,light", 8 * 144},
        {RhythmView::Periodogram, "", "", "periodogram",
         "id,kind,group,status,n_wells,method,peak_rule,period_min_h,period_max_h,alpha,"
         "peak_period_h,power,threshold,significant",
         8},
        {RhythmView::Profile, "", "", "profile", "id,kind,group,n_wells,fold,t_h,mean,se,light",
         8 * (144 + 48)},
        {RhythmView::Sleep, "", "", "sleep",
         "id,kind,group,status,n_wells,phase,observed_min,sleep_min,sleep_pct,zero_min,bouts,"
         "mean_bout_min,latency_min,nights,bout_min,definition,rule",
         8 * 3},
        {RhythmView::Cosinor, "", "", "cosinor",
         "id,kind,group,status,n_wells,period_h,period_source,reference,n_bins,mesor,mesor_lo,"
         "mesor_hi,amplitude,amplitude_lo,amplitude_hi,acrophase_h,acrophase_lo_h,"
         "acrophase_hi_h,acrophase_zt,acrophase_zt_lo,acrophase_zt_hi,f,df1,df2,p,r2,note",
         8},
        {RhythmView::Indices, "", "", "indices",
         "id,kind,group,status,n_wells,bin_min,days,is,iv,ra,m10,m10_onset_h,l5,l5_onset_h,note",
         8},
        // Four rows of a day: from midnight before the 18:30 start to the end three days on.
        {RhythmView::Onsets, "", "", "onsets",
         "id,kind,group,status,n_wells,day,date,day_mean,onset_h,offset_h,onset_t_h,offset_t_h,"
         "smooth_h,period_h,period_lo_h,period_hi_h,onsets",
         8 * 4},
        {RhythmView::Actogram, "Drug", "", "actogram_group2", nullptr, 3 * 144},
        {RhythmView::Periodogram, "", "a2", "periodogram_A2", nullptr, 1},
    };
    for (const Case& c : cases) {
        PlotRequest request;
        request.folder = folder;
        request.view = c.view;
        request.group = c.group;
        request.well = c.well;
        const PlotOutcome out = WritePlot(rig.ctx, request);
        ASSERT_TRUE(out.written) << c.stem << ": " << out.failure;
        EXPECT_EQ(out.svg_file, folder / (std::string(c.stem) + ".svg"));
        EXPECT_EQ(out.csv_file, folder / (std::string(c.stem) + ".csv"));
        const std::string svg = ReadFile(out.svg_file);
        EXPECT_EQ(svg.rfind("<?xml", 0), 0u) << c.stem;
        EXPECT_NE(svg.find("</svg>"), std::string::npos) << c.stem;
        EXPECT_NE(svg.find("Light: dark 21:00-09:00"), std::string::npos) << c.stem;
        if (c.view != RhythmView::Periodogram) {
            EXPECT_NE(svg.find("class=\"dark-phase\""), std::string::npos) << c.stem;
        }
        const std::vector<std::string> lines = Lines(ReadFile(out.csv_file));
        ASSERT_FALSE(lines.empty());
        if (c.header) {
            EXPECT_EQ(lines[0], c.header) << c.stem;
        }
        EXPECT_EQ(lines.size() - 1, c.lines) << c.stem;
        EXPECT_EQ(out.light, "dark 21:00-09:00 (light cycle of the acquisition's setup)");
    }

    // The nocturnal well's periodogram peaks at 24 h, above the line; its actogram lines carry
    // the light of their bins; its sleep falls in the light.
    const std::vector<std::string> pg = Lines(ReadFile(folder / "periodogram_A2.csv"));
    ASSERT_EQ(pg.size(), 2u);
    std::vector<std::string> fields;
    for (std::size_t at = 0; at <= pg[1].size();) {
        const std::size_t comma = std::min(pg[1].find(',', at), pg[1].size());
        fields.push_back(pg[1].substr(at, comma - at));
        at = comma + 1;
    }
    ASSERT_EQ(fields.size(), 14u) << pg[1];
    EXPECT_EQ(pg[1].rfind("A2,well,002_Drug,OK,1,chi-square,max-power,16,32,0.05,", 0), 0u)
        << pg[1];
    EXPECT_NEAR(std::stod(fields[10]), 24.0, 0.25) << pg[1];
    EXPECT_GT(std::stod(fields[11]), std::stod(fields[12])) << pg[1];
    EXPECT_EQ(fields[13], "TRUE");
    const std::vector<std::string> acto = Lines(ReadFile(folder / "actogram_group2.csv"));
    // The first bin starts the run at 18:30 of row 1, in the light; 21:00 is dark.
    EXPECT_EQ(acto[1].rfind("002_Drug,group,002_Drug,NA,1,0,18.5,", 0), 0u) << acto[1];
    EXPECT_EQ(acto[1].substr(acto[1].size() - 6), ",light") << acto[1];
    EXPECT_EQ(std::count_if(acto.begin(), acto.end(),
                            [](const std::string& l) {
                                return l.rfind("B2,well,002_Drug,OK,1,2.5,21,", 0) == 0 &&
                                       l.substr(l.size() - 5) == ",dark";
                            }),
              1);

    // The nocturnal well peaks in the middle of the night, 03:00 or ZT 18 (lights on at 09:00);
    // its ten most active hours begin at night, its five least active in the light; it becomes
    // active at 21:00 each whole day and rests from 09:00.
    auto row_of = [](const std::string& file, const std::string& start) {
        std::vector<std::string> out;
        for (const std::string& line : Lines(ReadFile(file))) {
            if (line.rfind(start, 0) != 0) continue;
            std::stringstream in(line);
            for (std::string f; std::getline(in, f, ',');) out.push_back(f);
            break;
        }
        return out;
    };
    const auto cos = row_of(folder / "cosinor.csv", "A2,well,");
    ASSERT_EQ(cos.size(), 26u);  // the empty note ends the line
    EXPECT_EQ(cos[6], "given");
    EXPECT_NEAR(std::stod(cos[15]), 3.0, 0.5);
    EXPECT_NEAR(std::stod(cos[18]), 18.0, 0.5);
    EXPECT_LT(std::stod(cos[24]), 1e-6);
    const auto idx = row_of(folder / "indices.csv", "A2,well,");
    ASSERT_EQ(idx.size(), 14u);
    EXPECT_GT(std::stod(idx[9]), 0.8);  // RA: nearly all activity at night
    const double m10_onset = std::stod(idx[11]), l5_onset = std::stod(idx[13]);
    EXPECT_TRUE(m10_onset >= 21.0 || m10_onset <= 1.0) << m10_onset;
    EXPECT_TRUE(l5_onset >= 9.0 && l5_onset <= 16.0) << l5_onset;
    for (const std::string& line : Lines(ReadFile(folder / "onsets.csv"))) {
        if (line.rfind("A2,well,", 0) != 0 || line.find(",2026-03-15,") == std::string::npos)
            continue;
        std::vector<std::string> f;
        std::stringstream in(line);
        for (std::string x; std::getline(in, x, ',');) f.push_back(x);
        EXPECT_NEAR(std::stod(f[8]), 21.0, 0.5) << line;
        EXPECT_NEAR(std::stod(f[9]), 33.0, 0.5) << line;  // 09:00 the next day
    }

    // Unknown wells and groups are refused with what exists; nothing is written.
    PlotRequest bad;
    bad.folder = folder;
    bad.well = "H12";
    PlotOutcome out = WritePlot(rig.ctx, bad);
    EXPECT_FALSE(out.written);
    EXPECT_NE(out.failure.find("no well \"H12\""), std::string::npos) << out.failure;
    bad.well.clear();
    bad.group = "7";
    out = WritePlot(rig.ctx, bad);
    EXPECT_NE(out.failure.find("groups: 001_Control, 002_Drug"), std::string::npos) << out.failure;
    EXPECT_FALSE(fs::exists(folder / "actogram_H12.svg"));
}

}  // namespace
}  // namespace lumivo::reporting::testing
