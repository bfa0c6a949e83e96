// A report run end to end on acquisition folders written by the program's writers: the files it
// leaves (report, copy under the experiment's name, chart), what it refuses, the bin-size
// correction, the automatic report at the end of a run. Also defines the project-side writers
// of the report fixture (report_fixture.h).
#include "core/reporting/report/report_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "core/acquisition/data_files.h"
#include "core/reporting/report/group_statistics.h"
#include "core/reporting/report/report_inputs.h"
#include "core/reporting/report/report_output.h"
#include "core/reporting/report/resample.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/plate_format.h"
#include "core/storage/project_setup.h"
#include "report_fixture.h"

namespace lumivo::reporting::testing {

void WriteTestPlate(const fs::path& install_dir) {
    PlateMap plate;
    plate.PlateRows = 2;
    plate.PlateColumns = 3;
    plate.ChannelWell.fill(kNoWell);
    plate.ChannelBeam.fill(0);
    const std::pair<int, std::pair<int, int>> cells[] = {{0, {0, 0}},  {1, {1, 0}},  {2, {1, 1}},
                                                         {16, {2, 0}}, {17, {3, 0}}, {33, {5, 0}}};
    for (const auto& [channel, place] : cells) {
        plate.ChannelWell[static_cast<std::size_t>(channel)] =
            static_cast<std::int16_t>(place.first);
        plate.ChannelBeam[static_cast<std::size_t>(channel)] =
            static_cast<std::int16_t>(place.second);
    }
    plate.MaxWellIndex = 5;
    plate.MaxBeamIndex = 1;
    LocalFileSystem files;
    files.WriteFile(install_dir / "wtest.dat",
                    FormatPlateFile(plate, "Lumivo plate format wtest", "2 x 3 test plate"));
}

void WriteAcquisitionProject(const fs::path& install_dir, const fs::path& folder,
                             const ProjectPlan& plan) {
    fs::create_directories(folder);
    LocalFileSystem files;
    DefaultAnswerDialogs dialogs;
    StorageContext ctx{install_dir, dialogs, files};
    ProjectState project;
    project.ProjectFolder = folder;
    project.Setup.Name = "Report test";
    project.Setup.Plate_format = plan.plate_format;
    project.Setup.RT_Buffer = static_cast<std::int16_t>(plan.rt_buffer);
    for (int c : plan.disabled_channels) project.ChannelEnabled[static_cast<std::size_t>(c)] = 0;
    for (const auto& [g, name] : plan.group_names)
        project.GroupName[static_cast<std::size_t>(g)] = name;
    project.ChannelGroup.fill(kFreeGroup);
    for (const auto& [c, g] : plan.channel_groups)
        project.ChannelGroup[static_cast<std::size_t>(c)] = static_cast<std::int16_t>(g);
    for (int c : plan.disabled_channels) project.ChannelEnabled[static_cast<std::size_t>(c)] = 0;
    if (plan.light) project.ToolParams[2] = *plan.light;
    SaveProjectFiles(ctx, folder, 1, project);
    WriteAcquisitionRegister(ctx, folder,
                             AcquisitionRegister{plan.experiment_name, plan.description});
}

ProjectPlan GoldenProjectPlan() {
    ProjectPlan plan;
    plan.group_names = {{0, "Control"}, {1, "Drug A"}, {2, "Empty"}, {3, "Spare"}};
    plan.channel_groups = {{0, 0}, {1, 1}, {2, 1}, {16, 0}, {17, 1}, {100, 3}};
    plan.experiment_name = "Dose response run";
    return plan;
}

namespace {

bool AnyReportFile(const fs::path& folder) {
    for (const char* name : {"report.csv", "report.txt", "report.svg"})
        if (fs::exists(folder / name)) return true;
    return false;
}

TEST(ReportRun, WritesTheReportItsCopyAndTheChartAndOpensTheCopy) {
    ReportRig rig;
    const fs::path folder = rig.Acquisition("20260314_0930", GoldenProjectPlan(), GoldenRecords());
    const ReportOutcome out = GenerateReport(rig.env, rig.Request(folder, OutputFormat::Rows, ";"));
    ASSERT_TRUE(out.written) << out.failure;
    EXPECT_EQ(out.report_file, folder / "report.csv");
    EXPECT_EQ(out.copy_file, folder / "Dose_response_run.csv");
    EXPECT_EQ(ReadFile(out.copy_file), ReadFile(out.report_file));
    // UTF-8 with a byte-order mark, so that spreadsheets show "°C" and not "Â°C".
    const std::string text = ReadFile(out.report_file);
    EXPECT_EQ(text.substr(0, 4), "\xEF\xBB\xBF\"");
    EXPECT_NE(text.find("Temp[\xC2\xB0"
                        "C]"),
              std::string::npos);
    EXPECT_EQ(out.chart_file, folder / "report.svg");
    EXPECT_NE(ReadFile(out.chart_file).find("<svg"), std::string::npos);
    EXPECT_EQ(rig.opened, std::vector<fs::path>{out.copy_file});
    EXPECT_EQ(out.bin_size, 30);
    EXPECT_FALSE(out.bin_size_corrected);
    EXPECT_EQ(out.length, 90);
    EXPECT_EQ(out.last_bin, 2);
    // Pending events run between writing, copying and opening.
    EXPECT_EQ(rig.dialogs.events_processed(), 2000);
    EXPECT_TRUE(rig.dialogs.Messages().empty());
}

TEST(ReportRun, RefusesActivityFilesThatCannotMakeAReport) {
    struct Case {
        const char* name;
        std::vector<std::int32_t> minutes;
        std::size_t records;
        std::int32_t length;
    };
    const Case cases[] = {
        {"empty", {}, 0, 0},
        {"one record", {5}, 1, 5},
        {"zero minutes", {0, 0, 0}, 3, 0},
    };
    for (const Case& c : cases) {
        ReportRig rig;
        std::vector<PlannedRecord> records;
        for (std::int32_t m : c.minutes) records.push_back(PlannedRecord{m, {}});
        const fs::path folder = rig.Acquisition("20260314_0930", GoldenProjectPlan(), records);
        if (records.empty()) WriteRawBytes(folder / "counts.bin", "");
        const ReportOutcome out =
            GenerateReport(rig.env, rig.Request(folder, OutputFormat::Rows, ","));
        EXPECT_FALSE(out.written) << c.name;
        EXPECT_EQ(rig.dialogs.Messages(), std::vector<std::string>{TooShortMessage(
                                              folder / "counts.bin", c.records, c.length)})
            << c.name;
        EXPECT_FALSE(AnyReportFile(folder)) << c.name;
        EXPECT_TRUE(rig.opened.empty()) << c.name;
    }
    // Minutes beyond what a report can hold (a damaged or foreign file; the recorder writes
    // none): "Resampling ERROR" and why.
    ReportRig rig;
    const fs::path folder = rig.Acquisition("20260314_0930", GoldenProjectPlan(), {});
    std::string bytes;
    for (const std::int32_t minute : {5, kMaxReportMinutes + 10}) {
        std::string record(kCountsRecordSize, '\0');
        for (int b = 0; b < 4; ++b)
            record[static_cast<std::size_t>(b)] =
                static_cast<char>((static_cast<std::uint32_t>(minute) >> (8 * b)) & 0xFFu);
        bytes += record;
    }
    WriteRawBytes(folder / "counts.bin", bytes);
    EXPECT_FALSE(GenerateReport(rig.env, rig.Request(folder, OutputFormat::Rows, ",")).written);
    EXPECT_EQ(rig.dialogs.Messages(),
              std::vector<std::string>{"Resampling ERROR: " + (folder / "counts.bin").string() +
                                       " reaches minute " + std::to_string(kMaxReportMinutes + 10) +
                                       ", more than a report can hold (" +
                                       std::to_string(kMaxReportMinutes) + " minutes)"});
    EXPECT_FALSE(AnyReportFile(folder));
}

TEST(ReportRun, RecordsWithImpossibleCountsAreLeftOutAndSaid) {
    // Two damaged records: -32768 on channel 0 at minute 45, 501 on channel 200 at minute 70.
    ReportRig rig;
    std::vector<PlannedRecord> records = GoldenRecords();
    records[44].values[0] = -32768;
    records[69].values[200] = 501;
    const fs::path folder = rig.Acquisition("20260314_0930", GoldenProjectPlan(), records);
    const ReportOutcome out = GenerateReport(rig.env, rig.Request(folder, OutputFormat::Rows, ","));
    ASSERT_TRUE(out.written) << out.failure;
    const std::string said =
        "2 of 90 records hold impossible counts (below 0 or above 500) and were left out";
    EXPECT_EQ(out.excluded_records, said);
    EXPECT_EQ(rig.dialogs.Messages(), std::vector<std::string>{(folder / "counts.bin").string() +
                                                               ": " + said + " of the report."});
    const std::string text = ReadFile(out.report_file);
    EXPECT_NE(text.find("\r\n\"EXCLUDED RECORDS:\",\"" + said + "\"\r\n\r\n"), std::string::npos);
    // A damaged record is left out whole: the second and third bins hold 29 records of their 30
    // minutes, which are scaled to the whole bin, so A1 (channel 0) reads 30 x 10 and 30 x 2
    // there (not 29 x 10 and 29 x 2, a minute of no activity) and A2 (channel 16) 30 x 20 and
    // 30 x 3.
    EXPECT_NE(text.find("A1,\"000_Control\",750,300,60\r\n"), std::string::npos);
    EXPECT_NE(text.find("A2,\"000_Control\",300,600,90\r\n"), std::string::npos);
    EXPECT_NE(text.find("#Samples,30,29,29\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"000_Control\",525,450,75\r\n"), std::string::npos);
}

TEST(ReportRun, MinutesGoingBackEndTheRecordsReadAndAreSaid) {
    // A second run written after the first into the same counts.bin: minutes 1..90, then 1..60
    // again. The report reads the first run only and says where it stopped, instead of adding
    // the second run's records into the first run's bins.
    ReportRig rig;
    std::vector<PlannedRecord> records = GoldenRecords();
    std::vector<PlannedRecord> second = GoldenRecords();
    second.resize(60);
    for (auto& r : second) r.values[0] = 400;
    records.insert(records.end(), second.begin(), second.end());
    const fs::path folder = rig.Acquisition("20260314_0930", GoldenProjectPlan(), records);
    const ReportOutcome out = GenerateReport(rig.env, rig.Request(folder, OutputFormat::Rows, ","));
    ASSERT_TRUE(out.written) << out.failure;
    const std::string said = (folder / "counts.bin").string() +
                             " goes back in time at record 90 (from minute 90 to minute 1): "
                             "records 0 to 89 are read, the 60 records from there on are left "
                             "out (a damaged file, or two runs written into one)";
    EXPECT_EQ(out.backward_step, said);
    EXPECT_EQ(rig.dialogs.Messages(), std::vector<std::string>{said + "."});
    const std::string text = ReadFile(out.report_file);
    EXPECT_NE(text.find("\"RECORDS READ:\",\"" + said + "\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("A1,\"000_Control\",750,300,60\r\n"), std::string::npos);
    EXPECT_NE(text.find("#Samples,30,30,30\r\n"), std::string::npos);
}

TEST(ReportRun, MissingInputsStopTheRunWithTheirMessage) {
    ReportRig rig;
    // No counts.bin at all.
    const fs::path empty = rig.project / "20260314_1000";
    WriteAcquisitionProject(rig.install, empty, GoldenProjectPlan());
    EXPECT_FALSE(GenerateReport(rig.env, rig.Request(empty, OutputFormat::Rows, ",")).written);
    EXPECT_EQ(
        rig.dialogs.Messages(),
        std::vector<std::string>{"Activity file not Found: " + (empty / "counts.bin").string() +
                                 " does not exist: give the folder of a recorded "
                                 "acquisition (yyyymmdd_hhmm in a project folder), which "
                                 "holds counts.bin."});

    // No setup.dat: said so, rather than a plate file of the default plate not found.
    const fs::path no_setup =
        rig.Acquisition("20260314_1030", GoldenProjectPlan(), GoldenRecords());
    fs::remove(no_setup / "setup.dat");
    EXPECT_FALSE(GenerateReport(rig.env, rig.Request(no_setup, OutputFormat::Rows, ",")).written);
    ASSERT_EQ(rig.dialogs.Messages().size(), 2u);
    EXPECT_EQ(rig.dialogs.Messages()[1].rfind(
                  "The acquisition's setup.dat is missing: " + (no_setup / "setup.dat").string() +
                      " does not exist",
                  0),
              0u)
        << rig.dialogs.Messages()[1];
    EXPECT_FALSE(AnyReportFile(no_setup));

    // A plate format with neither file.
    ProjectPlan plan = GoldenProjectPlan();
    plan.plate_format = "wnone";
    const fs::path folder = rig.Acquisition("20260314_1100", plan, GoldenRecords());
    const ReportOutcome out = GenerateReport(rig.env, rig.Request(folder, OutputFormat::Rows, ","));
    EXPECT_FALSE(out.written);
    EXPECT_TRUE(rig.dialogs.Showed("Multiwell Configuration File wnone.dat or .bak not found"));
    EXPECT_FALSE(AnyReportFile(folder));

    // The backup plate file serves when the plate file is missing.
    fs::copy_file(rig.install / "wtest.dat", rig.install / "wnone.bak");
    EXPECT_TRUE(GenerateReport(rig.env, rig.Request(folder, OutputFormat::Rows, ",")).written);

    // Body-bends output without histogram files.
    const ReportOutcome histo =
        GenerateReport(rig.env, rig.Request(folder, OutputFormat::Histogram, ","));
    EXPECT_FALSE(histo.written);
    EXPECT_TRUE(
        rig.dialogs.Showed("Error getting Histogram.bin data: there is no histoNNNN.bin "
                           "file in " +
                           folder.string()));
}

TEST(ReportRun, BinSizeIsCorrectedAgainstTheRecording) {
    struct Case {
        const char* text;
        std::int32_t bin;
        bool corrected;
        const char* note;
    };
    // One-minute records fill one-minute bins (the windows of 35 seconds that cannot are in
    // FlatActivityOfShortWindowsReportsFlatBinsAtAnyBinSize).
    const char* raised = "a bin of 0 min holds nothing: bin size corrected to 1 min";
    const Case cases[] = {{"30", 30, false, ""},
                          {"120", 90, true,
                           "the recording (90 min) is shorter than the bin of 120 min: bin size "
                           "corrected to 90 min"},
                          {"0", 1, true, raised},
                          {"1", 1, false, ""},
                          {"45 min", 45, false, ""},
                          {"abc", 1, true, raised}};
    for (const Case& c : cases) {
        ReportRig rig;
        const fs::path folder =
            rig.Acquisition("20260314_0930", GoldenProjectPlan(), GoldenRecords());
        ReportRequest r = rig.Request(folder, OutputFormat::Rows, ",");
        r.bin_size_text = c.text;
        const ReportOutcome out = GenerateReport(rig.env, r);
        EXPECT_TRUE(out.written) << c.text;
        EXPECT_EQ(out.bin_size, c.bin) << c.text;
        EXPECT_EQ(out.bin_size_corrected, c.corrected) << c.text;
        EXPECT_EQ(out.bin_size_note, c.note) << c.text;
        if (*c.note != '\0') {
            EXPECT_NE(ReadFile(out.report_file).find("\"BIN SIZE:\",\"" + std::string(c.note)),
                      std::string::npos)
                << c.text;
        }
    }
}

// Records of `seconds`-long windows ending from `from` to `to` seconds (minutes rounded down,
// as the time counter writes them); the golden plate's channels count `count` a window.
std::vector<PlannedRecord> WindowRecords(double seconds, double from, double to, int count) {
    std::vector<PlannedRecord> records;
    for (double end = from + seconds; end <= to + 1e-9; end += seconds) {
        PlannedRecord r;
        r.minute = static_cast<std::int32_t>(std::floor(end / 60.0 + 1e-9));
        for (int c : {0, 1, 2, 16, 17, 33})
            r.values[static_cast<std::size_t>(c)] = static_cast<std::int16_t>(count);
        r.values[384] = 250;
        records.push_back(r);
    }
    return records;
}

// The values of a Rows line that starts with `label`, and the bin times of its header.
std::vector<long> RowValues(const std::string& text, const std::string& label) {
    const std::size_t at = text.find("\r\n" + label + ",");
    if (at == std::string::npos) return {};
    std::vector<long> values;
    std::istringstream line(
        text.substr(at + 3 + label.size(), text.find("\r\n", at + 2) - at - 3 - label.size()));
    for (std::string field; std::getline(line, field, ',');) values.push_back(std::stol(field));
    return values;
}

TEST(ReportRun, FlatActivityOfShortWindowsReportsFlatBinsAtAnyBinSize) {
    // Six hours of 35-second windows, 7 counts a window on every beam: one or two windows end
    // in a minute, and every whole bin still reports the same activity.
    ReportRig rig;
    const fs::path folder =
        rig.Acquisition("20260314_0930", GoldenProjectPlan(), WindowRecords(35, 0, 6 * 3600, 7));
    for (const int asked : {1, 2, 5, 30}) {
        SCOPED_TRACE(asked);
        ReportRequest r = rig.Request(folder, OutputFormat::Rows, ",");
        r.bin_size_text = std::to_string(asked);
        const ReportOutcome out = GenerateReport(rig.env, r);
        ASSERT_TRUE(out.written) << out.failure;
        EXPECT_EQ(out.bin_size, asked == 1 ? 2 : asked);
        const std::string text = ReadFile(out.report_file);
        const std::vector<long> means = RowValues(text, "\"000_Control\"");
        ASSERT_GE(means.size(), 360u / static_cast<std::size_t>(out.bin_size) - 1);
        const auto [lo, hi] = std::minmax_element(means.begin(), means.end());
        EXPECT_LE(*hi - *lo, 0.05 * static_cast<double>(*lo)) << *lo << " to " << *hi;
        EXPECT_NEAR(static_cast<double>(*lo), 7.0 * out.bin_size * 60 / 35,
                    0.05 * static_cast<double>(*lo));
        EXPECT_NE(text.find("\"BIN VALUE:\",\"activity counts in each bin of " +
                            std::to_string(out.bin_size) +
                            " min: the counts of the windows that "
                            "ended in it (35 s each), scaled to the whole bin"),
                  std::string::npos);
        if (asked == 1) {
            EXPECT_NE(text.find("\"BIN SIZE:\",\"bins of 1 min cannot hold enough of the "
                                "recording's windows (35 s)"),
                      std::string::npos);
        }
    }
}

TEST(ReportRun, ARecordingGapIsLeftOutOfTheReportAndSaid) {
    // A day of 35-second windows without records from hour 10 to hour 14 (the instrument was
    // lost): the eight half-hour bins of the gap are neither columns of zeros nor 0.0 degrees;
    // they are left out and the header names them.
    ReportRig rig;
    std::vector<PlannedRecord> records = WindowRecords(35, 0, 10 * 3600, 5);
    const std::vector<PlannedRecord> after = WindowRecords(35, 14 * 3600, 24 * 3600, 5);
    records.insert(records.end(), after.begin(), after.end());
    const fs::path folder = rig.Acquisition("20260314_0930", GoldenProjectPlan(), records);
    const ReportOutcome out = GenerateReport(rig.env, rig.Request(folder, OutputFormat::Rows, ","));
    ASSERT_TRUE(out.written) << out.failure;
    const std::string text = ReadFile(out.report_file);
    std::string times = "Group/Time[m]";
    for (int k = 1; k <= 48; ++k)
        if (k <= 20 || k > 28) times += "," + std::to_string(30 * k);
    EXPECT_NE(text.find("\r\n" + times + "\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"MISSING BINS:\",\"8 of 48 bins have no value (the recording does not "
                        "cover three quarters of them: a pause, a gap, a lost instrument) and are "
                        "left out: 600-840 min\""),
              std::string::npos);
    const std::vector<long> means = RowValues(text, "\"000_Control\"");
    ASSERT_EQ(means.size(), 40u);
    for (long v : means) EXPECT_NEAR(static_cast<double>(v), 5.0 * 30 * 60 / 35, 3);
    // No made-up temperature either: the temperatures of the bins that were recorded only.
    std::string temperatures = "Temp[°C]";
    for (int k = 0; k < 40; ++k) temperatures += ",25.0";
    EXPECT_NE(text.find("\r\n" + temperatures + "\r\n"), std::string::npos);
}

TEST(ReportRun, TheCopyStaysInsideTheAcquisitionFolder) {
    struct Case {
        std::string name;
        std::string copy;  // "" = no copy
    };
    const Case cases[] = {
        {"three word name", "three_word_name"},
        {"../../x", "___.._x"},
        {"a/b\\c", "a_b_c"},
        {"..", ""},
        {"   ", ""},
        {"", ""},
        {"C:\\Users\\evil", "C__Users_evil"},
        {".hidden", "_hidden"},
        {"tab\there", "tab_here"},
        {"dose <1> \"x\"|y?*", "dose__1___x__y__"},
    };
    for (const Case& c : cases) EXPECT_EQ(ExperimentCopyName(c.name), c.copy) << c.name;
    EXPECT_EQ(ExperimentCopyName(std::string(300, 'a')).size(), 200u);

    ReportRig rig;
    ProjectPlan plan = GoldenProjectPlan();
    plan.experiment_name = "../../x";
    const fs::path folder = rig.Acquisition("20260314_0930", plan, GoldenRecords());
    const ReportOutcome out = GenerateReport(rig.env, rig.Request(folder, OutputFormat::Rows, ","));
    ASSERT_TRUE(out.written);
    EXPECT_EQ(out.copy_file, folder / "___.._x.csv");
    EXPECT_TRUE(fs::exists(out.copy_file));
    EXPECT_FALSE(fs::exists(rig.install / "x.csv"));
    EXPECT_FALSE(fs::exists(rig.project / "x.csv"));

    // An experiment named like the report itself gets no copy; the report is opened.
    ReportRig same;
    plan.experiment_name = "report";
    const fs::path f2 = same.Acquisition("20260314_0930", plan, GoldenRecords());
    const ReportOutcome o2 = GenerateReport(same.env, same.Request(f2, OutputFormat::Rows, ","));
    ASSERT_TRUE(o2.written);
    EXPECT_TRUE(o2.copy_file.empty());
    EXPECT_EQ(same.opened, std::vector<fs::path>{f2 / "report.csv"});
}

TEST(ReportRun, AFailedWriteIsReportedAndNothingIsOpened) {
    ReportRig rig;
    const fs::path folder = rig.Acquisition("20260314_0930", GoldenProjectPlan(), GoldenRecords());
    // A folder where the report file goes: the written text cannot replace it.
    fs::create_directories(folder / "report.csv" / "keep");
    const ReportOutcome out = GenerateReport(rig.env, rig.Request(folder, OutputFormat::Rows, ","));
    EXPECT_FALSE(out.written);
    EXPECT_EQ(rig.dialogs.Messages(),
              std::vector<std::string>{"Error writing the report file: Cannot replace " +
                                       (folder / "report.csv").string() + ": Is a directory"});
    EXPECT_TRUE(rig.opened.empty());
    EXPECT_TRUE(fs::is_directory(folder / "report.csv"));
    EXPECT_FALSE(fs::exists(folder / "Dose_response_run.csv"));
    EXPECT_FALSE(fs::exists(folder / "report.svg"));
    // No temporary file is left behind.
    for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
}

TEST(ReportRun, BasalChoiceThatNamesNoSiblingAcquisitionIsRefused) {
    ReportRig rig;
    const fs::path folder = rig.Acquisition("20260314_0930", GoldenProjectPlan(), GoldenRecords());
    for (const std::string text : {"../../../etc/passwd", "20260310_0900 missing"}) {
        ReportRequest r = rig.Request(folder, OutputFormat::Rows, ",");
        r.basal_text = text;
        EXPECT_FALSE(GenerateReport(rig.env, r).written) << text;
        EXPECT_EQ(rig.dialogs.Messages().back().rfind("Activity file not Found: ", 0), 0u) << text;
        EXPECT_NE(rig.dialogs.Messages().back().find("/counts.bin does not exist"),
                  std::string::npos)
            << text;
    }
    // "-" and short texts ask for no basal.
    for (const std::string text : {"-", "", "20260310"}) {
        ReportRequest r = rig.Request(folder, OutputFormat::Rows, ",");
        r.basal_text = text;
        const ReportOutcome out = GenerateReport(rig.env, r);
        EXPECT_TRUE(out.written) << text;
        EXPECT_FALSE(out.basal_applied) << text;
    }
}

TEST(ReportRun, AutomaticReportAtTheEndOfARun) {
    ReportRig rig;
    const fs::path folder = rig.Acquisition("20260314_0930", GoldenProjectPlan(), GoldenRecords());
    ReportSettings settings;
    settings.config.out_format = 1;
    settings.config.filetype = 1;
    settings.config.spacer = " ";
    settings.config.rawexport = 1;
    int reanalysed = 0;
    std::string export_failure;
    rig.env.raw_reanalysis = [&] {
        ++reanalysed;
        return export_failure;
    };

    // Without the user-defined settings the report window is opened instead.
    int windows = 0;
    ReportOutcome out =
        ReportAfterAcquisition(rig.env, settings, false, folder, "30", [&] { ++windows; });
    EXPECT_EQ(windows, 1);
    EXPECT_FALSE(out.written);
    EXPECT_EQ(rig.dialogs.Messages(), std::vector<std::string>{"Acquisition finished"});
    EXPECT_FALSE(AnyReportFile(folder));

    out = ReportAfterAcquisition(rig.env, settings, true, folder, "30", [&] { ++windows; });
    EXPECT_EQ(windows, 1);
    ASSERT_TRUE(out.written);
    EXPECT_EQ(out.report_file, folder / "report.txt");
    EXPECT_EQ(ReadFile(out.report_file).substr(0, 11), "\xEF\xBB\xBF\"DATE:\" ");
    EXPECT_EQ(reanalysed, 1);
    EXPECT_EQ(rig.dialogs.Messages().back(), "Report File AutoGenerated");
    EXPECT_EQ(rig.clock.total_sleep_ms(), 1500 + 1000 + 500);

    // A report that cannot be written says why and never claims success; the export is not
    // run after it. An export that fails is named in the closing message.
    struct Case {
        const char* what;
        fs::path folder;
        std::string export_failure;
        bool written;
        std::string last_message;
        int reanalysed;
    };
    const fs::path empty = folder.parent_path() / "20260314_1000";
    rig.files.CreateFolders(empty);
    const Case cases[] = {
        {"no counts.bin", empty, "", false,
         "Activity file not Found: " + (empty / "counts.bin").string() +
             " does not exist: give the folder of a recorded acquisition (yyyymmdd_hhmm in a "
             "project folder), which holds counts.bin.",
         0},
        {"export failed", folder, "disk full", true,
         "Report File AutoGenerated, but the raw data were not exported: disk full", 1},
    };
    for (const Case& c : cases) {
        reanalysed = 0;
        export_failure = c.export_failure;
        out = ReportAfterAcquisition(rig.env, settings, true, c.folder, "30", {});
        EXPECT_EQ(out.written, c.written) << c.what;
        EXPECT_EQ(rig.dialogs.Messages().back(), c.last_message) << c.what;
        EXPECT_EQ(reanalysed, c.reanalysed) << c.what;
        EXPECT_EQ(out.failure.empty(), c.written) << c.what;
    }

    // A body-bends recording is reported as histograms.
    rig.files.WriteFile(folder / "histo0000.bin", "");
    const ReportRequest r = RequestFromConfig(rig.files, settings.config, folder, "15");
    EXPECT_EQ(r.options.output, OutputFormat::Histogram);
    EXPECT_EQ(r.bin_size_text, "15");
    EXPECT_EQ(r.options.file_type, ReportFileType::Text);
}

TEST(ReportRun, BinSizeTextIsReadAsItsLeadingWholeNumber) {
    const std::pair<const char*, std::int64_t> cases[] = {
        {"30", 30},   {" 45", 45}, {"45 min", 45},
        {"12.7", 12}, {"-3", -3},  {"", 0},
        {"x5", 0},    {"+8", 8},   {"99999999999999", 1'000'000'000}};
    for (const auto& [text, value] : cases) EXPECT_EQ(LeadingWholeNumber(text), value) << text;
}

// Keeps every piece written, for checking how the text arrives.
class PieceSink final : public TextSink {
  public:
    void Write(std::string_view text) override { pieces.emplace_back(text); }
    std::vector<std::string> pieces;
};

class FailingSink final : public TextSink {
  public:
    void Write(std::string_view) override { throw std::runtime_error("disk full"); }
};

TEST(ReportOutput, ALongReportIsWrittenAsItIsComputed) {
    // The List layout of 20,000 one-minute bins (about 2.6 MB here) arrives in pieces of about a
    // megabyte, never as one text held whole, and the pieces make the same file.
    ReportRig rig;
    ReportInputs inputs = *LoadReportInputs(
        rig.ctx, rig.Acquisition("20260314_0930", GoldenProjectPlan(), GoldenRecords()));
    BinTable bins;
    bins.Resize(20000);
    bins.present.assign(bins.size(), 1);
    for (std::size_t k = 0; k < bins.size(); ++k) {
        bins.minutes[k] = static_cast<std::int32_t>(k + 1);
        for (std::size_t c : {0u, 1u, 2u, 16u, 17u, 33u})
            bins.count(k, c) = static_cast<std::int32_t>(k % 97);
    }
    const GroupStatistics stats = ComputeGroupStatistics(inputs, bins, 20000, 19999, 1);
    ReportDocument doc;
    doc.inputs = &inputs;
    doc.stats = &stats;
    doc.length = 20000;
    doc.bin_size = 1;
    ReportOptions options;
    options.output = OutputFormat::List;
    PieceSink sink;
    WriteReportText(doc, options, sink);
    ASSERT_GE(sink.pieces.size(), 3u);
    EXPECT_EQ(sink.pieces[0], kUtf8Bom);
    std::string joined;
    for (const std::string& piece : sink.pieces) {
        EXPECT_LE(piece.size(), (std::size_t{1} << 20) + 4096);
        joined += piece;
    }
    EXPECT_EQ(joined, std::string(kUtf8Bom) + FormatReportText(doc, options));

    // The copy's failure stops the copy only.
    StringSink report;
    FailingSink copy;
    TeeSink both(report, &copy);
    both.Write("abc");
    both.Write("def");
    EXPECT_EQ(report.text(), "abcdef");
    EXPECT_EQ(both.secondary_error(), "disk full");
}

TEST(ReportOutput, AFileAppearsOnlyWhenCommitted) {
    TempDir dir;
    const fs::path target = dir.path() / "report.csv";
    LocalFileSystem files;
    files.WriteFile(target, "old report");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    {
        AtomicFileSink sink(target);
        sink.Write("half a new ");
        EXPECT_EQ(ReadFile(target), "old report");
    }  // abandoned: the old report stays, nothing else is left
    EXPECT_EQ(ReadFile(target), "old report");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    AtomicFileSink sink(target);
    sink.Write("new ");
    sink.Write("report");
    sink.Commit();
    EXPECT_EQ(ReadFile(target), "new report");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    EXPECT_THROW(AtomicFileSink(dir.path() / "missing" / "report.csv"), std::runtime_error);
}

TEST(ReportInputs, ProjectFilesOfTheFolderAreRead) {
    ReportRig rig;
    const fs::path folder = rig.Acquisition("20260314_0930", GoldenProjectPlan(), GoldenRecords());
    const auto in = LoadReportInputs(rig.ctx, folder);
    ASSERT_TRUE(in);
    EXPECT_EQ(in->plate_format, "wtest");
    EXPECT_EQ(in->plate_rows, 2);
    EXPECT_EQ(in->plate_columns, 3);
    EXPECT_EQ(in->max_well_index, 5);
    EXPECT_EQ(in->max_beam_index, 1);
    EXPECT_EQ(in->WellChannel(1, 0), 1);
    EXPECT_EQ(in->WellChannel(1, 1), 2);
    EXPECT_EQ(in->FirstChannel(4), -1);
    EXPECT_EQ(in->well_names[5], "B3");
    EXPECT_EQ(in->group_names[1], "Drug A");
    EXPECT_EQ(in->channel_group[100], 3);
    EXPECT_FALSE(in->InGroup(33));
    EXPECT_EQ(in->experiment_name, "Dose response run");
    // The acquisition belongs to project 1; the report does not warn about the number.
    EXPECT_TRUE(rig.dialogs.Messages().empty());
}

TEST(ReportInputs, EarlierProgramsAcquisitionsLoadWithoutWarnings) {
    ReportRig rig;
    const fs::path folder = rig.Acquisition("20260314_0930", GoldenProjectPlan(), GoldenRecords());
    // Older versions wrote buffers of 200..499 rows.
    std::string setup = rig.files.ReadFile(folder / "setup.dat");
    setup.replace(setup.find(",500,"), 5, ",200,");
    rig.files.WriteFile(folder / "setup.dat", setup);
    ASSERT_TRUE(LoadReportInputs(rig.ctx, folder));
    EXPECT_TRUE(rig.dialogs.Messages().empty()) << rig.dialogs.Messages().front();

    // A damaged file is named by its real path in the acquisition folder.
    rig.files.WriteFile(folder / "groups.dat", "\"h\"\r\n0,\"open\r\n");
    ASSERT_TRUE(LoadReportInputs(rig.ctx, folder));
    ASSERT_EQ(rig.dialogs.Messages().size(), 1u);
    const std::string msg = rig.dialogs.Messages()[0];
    EXPECT_EQ(msg.rfind("Error [" + (folder / "groups.dat").string() + "] => ", 0), 0u) << msg;
    EXPECT_EQ(msg.find("p00000"), std::string::npos) << msg;
}

}  // namespace
}  // namespace lumivo::reporting::testing
