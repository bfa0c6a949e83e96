// Joining acquisitions: the 10:00 + 12:30 case, the order of the blocks by start time, and the
// faults of a literal join that are mended: a reused folder, a missing copy of the project
// files, partial records, a half-written result.
#include <gtest/gtest.h>

#include <functional>

#include "core/acquisition/acquisition_rig.h"
#include "core/acquisition/recording_mark.h"
#include "core/offline/acquisition_summary.h"
#include "core/offline/join_acquisitions.h"
#include "core/reporting/export/activity_export.h"
#include "core/reporting/export/tidy_export.h"
#include "core/reporting/report/recording_start.h"
#include "core/reporting/report/report_inputs.h"
#include "core/reporting/report/report_run.h"
#include "core/reporting/rhythm/rhythm.h"
#include "offline_fixture.h"

namespace lumivo::offline::testing {
namespace {

using Strings = std::vector<std::string>;

std::vector<CountsRecord> Records(const fs::path& folder) {
    return ReadCountsFile(folder / kCountsFileName).records;
}

std::vector<std::int32_t> MinutesOf(const std::vector<CountsRecord>& records) {
    std::vector<std::int32_t> m;
    for (const auto& r : records) m.push_back(r.elapsed_minutes);
    return m;
}

std::vector<std::int32_t> Range(int a, int b) {
    std::vector<std::int32_t> m;
    for (int i = a; i <= b; ++i) m.push_back(i);
    return m;
}

// Project 1 with a morning run at 10:00 (60 one-minute windows, recorded with its own groups)
// and an afternoon run at 12:30 (30 windows); the clock reads 15:00.
struct Joinable : OfflineInstall {
    Joinable() {
        clock = ::lumivo::testing::FakeClock(LocalDateTime{2026, 3, 14, 15, 0, 0, 0});
        Project(1, "Dose");
        project = install() / "p00001";
        morning = Acquisition(1, "20260314_1000", "Morning", Range(1, 60));
        ProjectState recorded;
        recorded.Setup.Name = "Dose";
        recorded.Setup.Plate_format = "w96f";
        recorded.GroupName[0] = "Morning control";
        WriteProject(morning, 1, recorded);
        afternoon = Acquisition(1, "20260314_1230", "Afternoon", Range(1, 30), 250);
    }
    JoinOutcome Join(const Strings& folders) {
        std::vector<JoinSource> sources;
        for (const std::string& f : folders)
            sources.push_back({DateViewEntry(f, ReadAcquisitionTitle(storage, project / f)), f});
        return JoinAcquisitions(storage, ops, clock, project, sources);
    }
    ::lumivo::testing::FlakyFileOps ops;
    fs::path project, morning, afternoon;
};

TEST(Join, SecondBlockFollowsTheFirstWithItsTimesMovedByTheStartDifference) {
    Joinable j;
    j.dialogs.QueueAnswer(MsgResult::Ok);
    // Chosen afternoon first: the blocks still go in order of start time.
    const JoinOutcome out = j.Join({"20260314_1230", "20260314_1000"});
    ASSERT_TRUE(out.joined);
    EXPECT_EQ(j.dialogs.Messages().front(),
              "Would you like to Join (in order of start time):\r\n20260314_1000 Morning\r\n"
              "20260314_1230 Afternoon\r\n ?");
    const fs::path joined = j.project / "20260314_1500";
    EXPECT_EQ(out.folder, joined);
    EXPECT_EQ(out.records, 90u);

    const auto records = Records(joined);
    std::vector<std::int32_t> want = Range(1, 60);
    for (std::int32_t m : Range(151, 180)) want.push_back(m);
    EXPECT_EQ(MinutesOf(records), want);
    const auto morning = Records(j.morning), afternoon = Records(j.afternoon);
    EXPECT_EQ(records[0].values, morning[0].values);
    EXPECT_EQ(records[60].values, afternoon[0].values);
    EXPECT_EQ(records[89].values, afternoon[29].values);

    EXPECT_EQ(ReadFile(joined / kRegisterFileName),
              "\"Data Block: 20260314_1000 Morning + 20260314_1230 Afternoon + \"\r\n"
              "\"Joint Files\"\r\n");
    // The first block's project files come along, so the joined acquisition reports with the
    // groups it was recorded with.
    for (const char* f : {"setup.dat", "status.dat", "threshld.dat", "groups.dat", "chgroup.dat"})
        EXPECT_EQ(ReadFile(joined / f), ReadFile(j.morning / f)) << f;
    EXPECT_FALSE(fs::exists(joined / kJoinPartFile));
    const auto inputs = reporting::LoadReportInputs(j.storage, joined);
    ASSERT_TRUE(inputs);
    EXPECT_EQ(inputs->group_names[0], "Morning control");
    EXPECT_EQ(inputs->plate_format, "w96f");
    EXPECT_EQ(j.dialogs.Messages().back(), out.Message());
    EXPECT_TRUE(j.dialogs.AllAnswersUsed());
}

TEST(Join, TheFolderOfAnotherAcquisitionIsNeverReused) {
    Joinable j;
    // The present minute already holds a longer acquisition.
    const fs::path taken = j.Acquisition(1, "20260314_1500", "Other", Range(1, 200));
    const std::string before = ReadFile(taken / kCountsFileName);
    j.dialogs.QueueAnswer(MsgResult::Ok);
    const JoinOutcome out = j.Join({"20260314_1000", "20260314_1230"});
    ASSERT_TRUE(out.joined);
    EXPECT_EQ(out.folder, j.project / "20260314_1501");
    EXPECT_EQ(ReadFile(taken / kCountsFileName), before);
    EXPECT_EQ(ReadAcquisitionTitle(j.storage, taken), "Other");
    EXPECT_EQ(Records(out.folder).size(), 90u);

    // An empty folder of the minute holds nothing to mix with: it is used.
    fs::create_directories(j.project / "20260314_1502");
    j.clock.AdvanceMs(2 * 60'000);
    j.dialogs.QueueAnswer(MsgResult::Ok);
    EXPECT_EQ(j.Join({"20260314_1000", "20260314_1230"}).folder, j.project / "20260314_1502");
}

TEST(Join, OnlyWholeRecordsAreCopiedAndWhatIsLeftOutIsReported) {
    Joinable j;
    std::ofstream(j.afternoon / kCountsFileName, std::ios::binary | std::ios::app)
        << std::string(100, '\x7F');
    // A run still recording is joined as far as it got.
    RecordingMark recording;
    ASSERT_TRUE(recording.Take(j.afternoon));
    j.dialogs.QueueAnswer(MsgResult::Ok);
    const JoinOutcome out = j.Join({"20260314_1000", "20260314_1230"});
    ASSERT_TRUE(out.joined);
    EXPECT_EQ(fs::file_size(out.folder / kCountsFileName), 90 * kCountsRecordSize);
    ASSERT_EQ(out.blocks.size(), 2u);
    EXPECT_EQ(out.blocks[1].bytes_left_out, 100u);
    EXPECT_EQ(out.blocks[1].offset_minutes, 150);
    const std::string message = j.dialogs.Messages().back();
    EXPECT_NE(message.find("20260314_1230: its incomplete last record (100 bytes) was left out."),
              std::string::npos);
    EXPECT_NE(message.find("20260314_1230 is being recorded"), std::string::npos);
}

// The afternoon's acquisition as if recorded on `plate` with windows of `rt_buffer` readings.
void RecordAfternoonOn(Joinable& j, const char* plate, int rt_buffer) {
    ProjectState other;
    other.Setup.Name = "Dose";
    other.Setup.Plate_format = plate;
    other.Setup.RT_Buffer = static_cast<decltype(other.Setup.RT_Buffer)>(rt_buffer);
    j.WriteProject(j.afternoon, 1, other);
}

TEST(Join, SourcesThatCannotMakeOneAcquisitionAreRefusedBeforeAnythingIsWritten) {
    struct Case {
        const char* name;
        std::function<void(Joinable&)> damage;
        std::string said;
    };
    const Case cases[] = {
        {"overlap", [](Joinable& j) { j.AppendCounts(j.morning, Range(61, 200)); },
         "20260314_1230 starts at minute 151 of the joined time axis, before 20260314_1000 ends "
         "(minute 200): the acquisitions overlap in time (were they recorded at the same time, "
         "or was a computer's clock wrong?) and cannot be joined."},
        {"another plate", [](Joinable& j) { RecordAfternoonOn(j, "w384", 500); },
         "20260314_1000 was recorded on plate w96f with RT_Buffer 500, 20260314_1230 on plate "
         "w384 with RT_Buffer 500: acquisitions of different plates or window lengths cannot be "
         "joined."},
        {"another window", [](Joinable& j) { RecordAfternoonOn(j, "w96f", 1000); },
         "20260314_1000 was recorded on plate w96f with RT_Buffer 500, 20260314_1230 on plate "
         "w96f with RT_Buffer 1000: acquisitions of different plates or window lengths cannot "
         "be joined."},
        {"61 days apart",
         [](Joinable& j) {
             fs::remove_all(j.afternoon);
             j.afternoon = j.Acquisition(1, "20260514_1000", "Later", Range(1, 30));
         },
         "The joined acquisition would reach minute 87870 (from the start of 20260314_1000 to "
         "the last record of 20260514_1000), more than a report can hold (65534 minutes): join "
         "fewer acquisitions, or acquisitions closer in time."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Joinable j;
        c.damage(j);
        const auto before = j.files.ListSubfolders(j.project);
        j.dialogs.QueueAnswer(MsgResult::Ok);
        const JoinOutcome out = j.Join({"20260314_1000", j.afternoon.filename().string()});
        EXPECT_FALSE(out.joined);
        EXPECT_EQ(j.dialogs.Messages().back(), "Nothing was joined: " + c.said);
        EXPECT_EQ(j.files.ListSubfolders(j.project), before);
    }
}

TEST(Join, TheJoinedAcquisitionIsDatedByItsFirstBlockForEveryReader) {
    // Sampling of the morning run started at 10:02:30 (calibrating since 10:00), in CET, with a
    // daily light from 09:00 to 12:00; the afternoon run sampled from 12:32:30. Joined at 15:00,
    // the joined acquisition is still dated 10:02:30 and the afternoon block sits 150 minutes
    // on, whatever its folder's name and the minute of the join say.
    Joinable j;
    ProjectState recorded;
    recorded.Setup.Name = "Dose";
    recorded.Setup.Plate_format = "w96f";
    recorded.Setup.Aq_lapse = 75;
    recorded.ToolParams[2] = {1, 9, 12, 0, 0, 0};
    j.WriteProject(j.morning, 1, recorded);
    WriteText(j.morning / "events.log",
              "2026-03-14 10:00:00  Recording \"Morning\" started\r\n"
              "2026-03-14 10:02:30  Time zone: UTC+01:00 (CET)\r\n"
              "2026-03-14 10:02:30  Sampling started\r\n"
              "2026-03-14 11:02:30  Acquisition finished (lapse)\r\n");
    WriteText(j.afternoon / "events.log",
              "2026-03-14 12:32:30  Time zone: UTC+01:00 (CET)\r\n"
              "2026-03-14 12:32:30  Sampling started\r\n");
    j.dialogs.QueueAnswer(MsgResult::Ok);
    const JoinOutcome out = j.Join({"20260314_1000", "20260314_1230"});
    ASSERT_TRUE(out.joined);
    ASSERT_EQ(out.folder, j.project / "20260314_1500");
    EXPECT_EQ(out.blocks[1].offset_minutes, 150);

    const reporting::RecordingStart start = reporting::ReadRecordingStart(j.storage, out.folder);
    ASSERT_TRUE(start.known);
    EXPECT_EQ(reporting::RecordingStartText(start),
              "2026-03-14 10:02:30 UTC+01:00 (CET), from events.log");

    // acquisition show: the start and the acquisition's own lapse.
    const auto opened = OpenAcquisition(j.storage, {j.project, "20260314_1500"}, "joined");
    ASSERT_TRUE(opened);
    const std::string summary = opened->SummaryText();
    EXPECT_NE(summary.find("\r\nStart: 2026-03-14 10:02:30 UTC+01:00 (CET) (events.log)\r\n"),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("\r\nAcquisition Lapse = 75min\r\n"), std::string::npos) << summary;

    // Exports: per well (dated lines), per channel (its notes), tidy (start_datetime).
    reporting::ExportEnvironment env{j.storage};
    j.dialogs.QueueAnswer(MsgResult::No);  // one file per well
    j.dialogs.QueueAnswer(MsgResult::No);
    ASSERT_TRUE(reporting::ExportActivityFiles(env, out.folder, "30").written);
    const std::string well = ReadFile(out.folder / "000_A1.txt");
    EXPECT_EQ(well.rfind("14/03/2026 10:02 ", 0), 0u) << well;
    EXPECT_NE(well.find("\r\n14/03/2026 12:32 "), std::string::npos) << well;
    EXPECT_NE(ReadFile(out.folder / "report2.txt")
                  .find("Started: 14/03/2026 10:02 (2026-03-14 10:02:30 UTC+01:00 (CET), from "
                        "events.log)"),
              std::string::npos);
    j.dialogs.QueueAnswer(MsgResult::Yes);  // one file per channel
    j.dialogs.QueueAnswer(MsgResult::No);
    ASSERT_TRUE(reporting::ExportActivityFiles(env, out.folder, "30").written);
    EXPECT_NE(ReadFile(out.folder / "report2.txt").find("Started: 14/03/2026 10:02 "),
              std::string::npos);
    ASSERT_TRUE(reporting::ExportTidyTables(j.storage, {out.folder, 30, false}).written);
    const std::string meta = ReadFile(out.folder / "metadata.csv");
    EXPECT_NE(meta.find(",2026-03-14T10:02:30+01:00,2026-03-14T13:02:30+01:00,"), std::string::npos)
        << meta;

    // The report's header.
    ::lumivo::testing::FakeClock clock(LocalDateTime{2026, 3, 14, 16, 0, 0, 0});
    reporting::ReportEnvironment report_env{j.storage, clock};
    reporting::ReportRequest request;
    request.folder = out.folder;
    const reporting::ReportOutcome report = reporting::GenerateReport(report_env, request);
    ASSERT_TRUE(report.written) << report.failure;
    EXPECT_NE(ReadFile(report.report_file)
                  .find("\"START:\",\"2026-03-14 10:02:30 UTC+01:00 (CET), from events.log\""),
              std::string::npos);

    // The light phases of the rhythm views: light until 12:00, 117.5 minutes after the start (a
    // start taken from the join's minute, 15:00, would begin in the dark).
    const auto source = reporting::ReadRhythmSource(j.storage, out.folder);
    ASSERT_TRUE(source);
    const auto data = reporting::BuildRhythmData(*source, {});
    ASSERT_TRUE(data);
    EXPECT_EQ(data->clock.start_source, "events.log");
    ASSERT_FALSE(data->light.phases.empty());
    EXPECT_TRUE(data->light.phases.front().light);
    EXPECT_DOUBLE_EQ(data->light.phases.front().end, 117.5);
}

TEST(Join, RefusalsCancelAndFailuresLeaveNothingBehind) {
    Joinable j;
    const auto listing = [&] { return j.files.ListSubfolders(j.project); };
    const Strings before = listing();

    EXPECT_FALSE(j.Join({"20260314_1000"}).joined);
    EXPECT_EQ(j.dialogs.Messages().back(), kJoinWrongSelection);
    j.dialogs.QueueAnswer(MsgResult::Cancel);
    EXPECT_FALSE(j.Join({"20260314_1000", "20260314_1230"}).joined);
    // A disk that fills up while counts.bin is written.
    j.ops.fail = true;
    j.dialogs.QueueAnswer(MsgResult::Ok);
    EXPECT_FALSE(j.Join({"20260314_1000", "20260314_1230"}).joined);
    EXPECT_EQ(j.dialogs.Messages().back().rfind("Nothing was joined: ", 0), 0u);
    EXPECT_EQ(listing(), before);
    j.ops.fail = false;

    // From the browser: only from the date view of the chosen acquisition's project.
    BrowserState s;
    LoadBrowser(j.storage, s);
    EXPECT_FALSE(JoinSelected(j.storage, j.ops, j.clock, s, {0, 1}).joined);
    EXPECT_EQ(j.dialogs.Messages().back(), kJoinWrongSelection);
    EXPECT_EQ(listing(), before);

    DoubleClickEntry(j.storage, s, 0);                      // open the project
    ASSERT_TRUE(DoubleClickEntry(j.storage, s, 1).opened);  // choose an acquisition
    ClickDate(j.storage, s);                                // the date view, oldest first
    ASSERT_EQ(s.entries, (Strings{"20260314_1000 Morning", "20260314_1230 Afternoon"}));
    j.dialogs.QueueAnswer(MsgResult::Ok);
    ASSERT_TRUE(JoinSelected(j.storage, j.ops, j.clock, s, {1, 0}).joined);
    EXPECT_EQ(s.entries.back(),
              "20260314_1500 Data Block: 20260314_1000 Morning + 20260314_1230 "
              "Afternoon + ");
}

TEST(Join, StartsComeFromTheFolderNames) {
    const LocalDateTime now{2026, 3, 14, 15, 0, 30, 0};
    EXPECT_EQ(StartMinutes("20260314_1230", now) - StartMinutes("20260314_1000", now), 150.0);
    EXPECT_EQ(StartMinutes("20260301_0000", now) - StartMinutes("20260228_2359", now), 1.0);
    // Any other name counts as the present time.
    EXPECT_EQ(StartMinutes("odd", now) - StartMinutes("20260314_1500", now), 0.5);
    const auto ordered = OrderByStart(
        {{"c", "odd"}, {"b", "20260314_1230"}, {"a", "20260314_1000"}, {"a2", "20260314_1000"}},
        now);
    Strings texts;
    for (const auto& s : ordered) texts.push_back(s.entry_text);
    EXPECT_EQ(texts, (Strings{"a", "a2", "b", "c"}));
}

}  // namespace
}  // namespace lumivo::offline::testing
