// Exports of the binned activity: "1 file/well Report" (time.txt and ch000000.txt files, or
// per-well 000_A1.txt files), and the tidy tables activity.csv / metadata.csv read back by this
// test and by Python's csv module.
#include "core/reporting/export/activity_export.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "core/reporting/export/tidy_export.h"
#include "report_fixture.h"
#include "support/child_process.h"

namespace lumivo::reporting::testing {
namespace {

ExportEnvironment Environment(ReportRig& rig, std::vector<fs::path>& opened) {
    ExportEnvironment env{rig.ctx};
    env.open_folder = [&opened](const fs::path& p) { opened.push_back(p); };
    env.open_file = [&opened](const fs::path& p) { opened.push_back(p); };
    return env;
}

// The process's time zone for the span of a test: a POSIX rule, so that no zone database is
// needed ("CET-1CEST,M3.5.0,M10.5.0/3": Central European time with its summer time).
class ZoneForTest {
  public:
    explicit ZoneForTest(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ZoneForTest() {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ZoneForTest(const ZoneForTest&) = delete;
    ZoneForTest& operator=(const ZoneForTest&) = delete;

  private:
    std::optional<std::string> old_;
};
constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

// Counts per bin of `bin` minutes of a channel in the golden records (bins by their end).
std::vector<std::int64_t> ChannelBins(int channel, int bin) {
    std::vector<std::int64_t> sums(static_cast<std::size_t>(90 / bin), 0);
    for (const PlannedRecord& r : GoldenRecords())
        sums[static_cast<std::size_t>((r.minute - 1) / bin)] +=
            r.values[static_cast<std::size_t>(channel)];
    return sums;
}

TEST(ActivityExport, StartOfAnAcquisitionFromItsFolderName) {
    struct Case {
        const char* name;
        bool valid;
        LocalDateTime start;
    };
    const Case cases[] = {{"20260314_0930", true, {2026, 3, 14, 9, 30, 0, 0}},
                          {"20240229_2359", true, {2024, 2, 29, 23, 59, 0, 0}},
                          {"20250229_1200", false, {}},
                          {"20261301_0930", false, {}},
                          {"20260314_2460", false, {}},
                          {"14032026_0930", false, {}},
                          {"20260314-0930", false, {}},
                          {"20260314_093", false, {}},
                          {"2026031a_0930", false, {}}};
    for (const Case& c : cases) {
        const auto start = AcquisitionStart(c.name);
        ASSERT_EQ(start.has_value(), c.valid) << c.name;
        if (!start) continue;
        EXPECT_EQ(std::tie(start->year, start->month, start->day, start->hour, start->minute,
                           start->second),
                  std::tie(c.start.year, c.start.month, c.start.day, c.start.hour, c.start.minute,
                           c.start.second))
            << c.name;
    }
}

TEST(ActivityExport, OneFilePerChannelWithAndWithoutTheTimeLine) {
    for (const bool with_time : {true, false}) {
        SCOPED_TRACE(with_time ? "with time" : "without time");
        ReportRig rig;
        const fs::path folder =
            rig.Acquisition("20260314_0930", GoldenProjectPlan(), GoldenRecords());
        rig.dialogs.QueueAnswer(MsgResult::Yes);
        rig.dialogs.QueueAnswer(with_time ? MsgResult::Yes : MsgResult::No);
        std::vector<fs::path> opened;
        ExportEnvironment env = Environment(rig, opened);
        const ActivityExportOutcome out = ExportActivityFiles(env, folder, "30");
        ASSERT_TRUE(out.written) << out.failure;
        EXPECT_EQ(rig.dialogs.shown()[0].text, "Do you like to Export 384 text files?");
        EXPECT_EQ(rig.dialogs.shown()[1].text, "Include time field?");
        EXPECT_EQ(rig.dialogs.shown()[1].buttons, MsgButtons::YesNo);
        ASSERT_EQ(out.files.size(), 385u);
        EXPECT_EQ(out.files.front(), folder / "time.txt");
        EXPECT_EQ(out.files[18], folder / "ch000017.txt");
        EXPECT_EQ(out.files.back(), folder / "ch000383.txt");

        const std::string times = with_time ? "0 30 60\r\n" : "";
        EXPECT_EQ(ReadFile(folder / "time.txt"), "0 30 60\r\n");
        EXPECT_EQ(ReadFile(folder / "ch000000.txt"), times + "750 300 60\r\n");
        EXPECT_EQ(ReadFile(folder / "ch000002.txt"), times + "150 180 270\r\n");
        EXPECT_EQ(ReadFile(folder / "ch000100.txt"), times + "30 30 30\r\n");
        EXPECT_EQ(ReadFile(folder / "ch000383.txt"), times + "0 0 0\r\n");
        EXPECT_FALSE(fs::exists(folder / "ch000384.txt"));
        const std::string notes = ReadFile(folder / "report2.txt");
        EXPECT_NE(notes.find("Bin size: 30 minutes, 3 bins"), std::string::npos) << notes;
        EXPECT_NE(notes.find("Started: 14/03/2026 09:30"), std::string::npos) << notes;
        EXPECT_EQ(opened, (std::vector<fs::path>{folder, folder / "report2.txt"}));
    }
}

TEST(ActivityExport, OneFilePerWellWithDatedLines) {
    struct Case {
        const char* folder;
        const char* bin;
        const char* a1;  // 000_A1.txt
    };
    const Case cases[] = {
        {"20260314_0930", "30",
         "14/03/2026 09:30 750\r\n14/03/2026 10:00 300\r\n14/03/2026 10:30 60\r\n"},
        // The day changes at midnight; the month and the year too.
        {"20261231_2330", "30",
         "31/12/2026 23:30 750\r\n01/01/2027 00:00 300\r\n01/01/2027 00:30 60\r\n"},
        // A bin size below 2 becomes 2.
        {"20260314_0930", "1", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.folder) + " bin " + c.bin);
        ReportRig rig;
        const fs::path folder = rig.Acquisition(c.folder, GoldenProjectPlan(), GoldenRecords());
        rig.dialogs.QueueAnswer(MsgResult::No);
        rig.dialogs.QueueAnswer(MsgResult::Yes);
        std::vector<fs::path> opened;
        ExportEnvironment env = Environment(rig, opened);
        const ActivityExportOutcome out = ExportActivityFiles(env, folder, c.bin);
        ASSERT_TRUE(out.written) << out.failure;
        // Wells with a beam only: A3 (well 4) has none.
        std::vector<std::string> names;
        for (const auto& f : out.files) names.push_back(f.filename().string());
        EXPECT_EQ(names, (std::vector<std::string>{"000_A1.txt", "001_B1.txt", "002_A2.txt",
                                                   "003_B2.txt", "005_B3.txt"}));
        EXPECT_FALSE(fs::exists(folder / "time.txt"));
        if (c.a1 == nullptr) {
            EXPECT_EQ(out.bin_size, 2);
            const std::string b1 = ReadFile(folder / "001_B1.txt");
            EXPECT_EQ(b1.substr(0, 40), "14/03/2026 09:30 9\r\n14/03/2026 09:32 9\r\n");
            continue;
        }
        EXPECT_EQ(ReadFile(folder / "000_A1.txt"), c.a1);
        // B1 has two beams: the rounded mean of channels 1 and 2.
        const std::string b1 = ReadFile(folder / "001_B1.txt");
        EXPECT_EQ(b1.substr(b1.size() - 22), std::string(c.a1).substr(44, 17) + "255\r\n");
    }
}

TEST(ActivityExport, RefusalsWriteNothing) {
    struct Case {
        const char* folder;
        bool counts;
        const char* message;
    };
    const Case cases[] = {
        {"20260314_0930", false, "Activity file not Found"},
        // Neither events.log nor the folder's name says when it started.
        {"renamed_run", true, "The start of the acquisition "},
    };
    for (const Case& c : cases) {
        ReportRig rig;
        const fs::path folder =
            c.counts ? rig.Acquisition(c.folder, GoldenProjectPlan(), GoldenRecords())
                     : rig.project / c.folder;
        if (!c.counts) WriteAcquisitionProject(rig.install, folder, GoldenProjectPlan());
        rig.dialogs.QueueAnswer(MsgResult::No);
        rig.dialogs.QueueAnswer(MsgResult::No);
        std::vector<fs::path> opened;
        ExportEnvironment env = Environment(rig, opened);
        EXPECT_FALSE(ExportActivityFiles(env, folder, "30").written);
        EXPECT_EQ(rig.dialogs.Messages().back().rfind(c.message, 0), 0u)
            << rig.dialogs.Messages().back();
        const TidyExportOutcome tidy = ExportTidyTables(rig.ctx, {folder, 30, false});
        EXPECT_FALSE(tidy.written);
        EXPECT_FALSE(fs::exists(folder / "report2.txt"));
        EXPECT_FALSE(fs::exists(folder / "000_A1.txt"));
        EXPECT_FALSE(fs::exists(folder / "activity.csv"));
        EXPECT_FALSE(fs::exists(folder / "metadata.csv"));
        EXPECT_TRUE(opened.empty());
    }
}

// ---- Tidy tables ---------------------------------------------------------------------------

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The fields of a CSV line as RFC 4180 reads them.
std::vector<std::string> CsvFields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

ProjectPlan TidyPlan() {
    ProjectPlan plan = GoldenProjectPlan();
    plan.group_names[1] = "Drug \"A\", 5 uM";
    plan.disabled_channels = {1, 2};
    return plan;
}

TEST(TidyExport, MetadataAndActivityByteForByte) {
    // An acquisition that logged no zone (older than the recorder's zone line): its offsets are
    // those of the exporting computer's zone, and the table says so.
    ZoneForTest zone(kCentralEurope);
    ReportRig rig;
    const fs::path folder = rig.Acquisition("20260314_0930", TidyPlan(), GoldenRecords());
    const TidyExportOutcome out = ExportTidyTables(rig.ctx, {folder, 30, false});
    ASSERT_TRUE(out.written) << out.failure;
    EXPECT_EQ(out.activity_file, folder / "activity.csv");
    EXPECT_EQ(out.metadata_file, folder / "metadata.csv");
    const std::string id = "2026-03-14T09:30:00+01:00|p00001/20260314_0930|";
    const std::string when =
        ",2026-03-14T09:30:00+01:00,2026-03-14T11:00:00+01:00,Report test,20260314_0930,"
        "wtest,";
    // The project's organism is the worm: its sleep rule goes with every row.
    const std::string zone_note =
        ",UTC+01:00 (CET) of the exporting computer: the recorder logged no zone,"
        "C elegans(>L4),no counts for at least 2 min\n";
    EXPECT_EQ(ReadFile(out.metadata_file),
              "id,region_id,start_datetime,stop_datetime,project,acquisition,plate,well,group,"
              "channels,status,time_zone,organism,sleep_rule\n" +
                  id + "A1,0" + when + "A1,000_Control,0,OK" + zone_note +  //
                  id + "B1,1" + when + "B1,\"001_Drug \"\"A\"\", 5 uM\",1 2,no beams" + zone_note +
                  id + "A2,2" + when + "A2,000_Control,16,OK" + zone_note +  //
                  id + "B2,3" + when + "B2,\"001_Drug \"\"A\"\", 5 uM\",17,OK" + zone_note + id +
                  "B3,5" + when + "B3,999_Free,33,OK" + zone_note);
    std::string activity = "id,t,activity\n";
    const std::map<std::string, std::array<int, 3>> wells = {{"A1", {750, 300, 60}},
                                                             {"B1", {135, 180, 255}},
                                                             {"A2", {300, 600, 90}},
                                                             {"B2", {30, 60, 90}},
                                                             {"B3", {210, 210, 210}}};
    for (const char* w : {"A1", "B1", "A2", "B2", "B3"})
        for (int k = 0; k < 3; ++k)
            activity += id + w + "," + std::to_string(k * 1800) + "," +
                        std::to_string(wells.at(w)[static_cast<std::size_t>(k)]) + "\n";
    EXPECT_EQ(ReadFile(out.activity_file), activity);
    EXPECT_EQ(out.activity_rows, 15u);
}

TEST(TidyExport, PerChannelTablesRoundTrip) {
    ZoneForTest zone(kCentralEurope);
    for (const int bin : {30, 15, 10}) {
        SCOPED_TRACE("bin " + std::to_string(bin));
        ReportRig rig;
        const fs::path folder = rig.Acquisition("20260314_0930", TidyPlan(), GoldenRecords());
        const TidyExportOutcome out = ExportTidyTables(rig.ctx, {folder, bin, true});
        ASSERT_TRUE(out.written) << out.failure;
        EXPECT_EQ(out.bin_size, bin);

        // metadata.csv: channel -> id, as read back.
        std::map<std::string, int> channel_of;
        const auto meta = Lines(ReadFile(out.metadata_file));
        for (std::size_t i = 1; i < meta.size(); ++i) {
            const auto f = CsvFields(meta[i]);
            ASSERT_EQ(f.size(), 14u) << meta[i];
            EXPECT_EQ(f[1], f[9]);  // region_id is the channel
            EXPECT_EQ(f[10], f[9] == "1" || f[9] == "2" ? "no beams" : "OK");
            channel_of[f[0]] = std::stoi(f[9]);
        }
        EXPECT_EQ(channel_of.size(), 6u);
        EXPECT_EQ(channel_of.count("2026-03-14T09:30:00+01:00|p00001/20260314_0930|B1.1"), 1u);

        // activity.csv read back gives every channel's counts per bin.
        std::map<int, std::vector<std::int64_t>> read;
        const auto rows = Lines(ReadFile(out.activity_file));
        ASSERT_EQ(rows.front(), "id,t,activity");
        for (std::size_t i = 1; i < rows.size(); ++i) {
            const auto f = CsvFields(rows[i]);
            ASSERT_EQ(f.size(), 3u);
            ASSERT_EQ(channel_of.count(f[0]), 1u) << f[0];
            auto& values = read[channel_of[f[0]]];
            EXPECT_EQ(std::stoll(f[1]), static_cast<std::int64_t>(values.size()) * bin * 60);
            values.push_back(std::stoll(f[2]));
        }
        for (int c : {0, 1, 2, 16, 17, 33}) EXPECT_EQ(read[c], ChannelBins(c, bin)) << c;
    }
}

// The status column carries the dead-well flag of the rhythm views: B2 stops counting after
// minute 50, so it is dead when the last half hour is looked at, alive over the last 12 hours
// (the whole recording); the per-channel rows follow their well.
TEST(TidyExport, StatusFlagsDeadWellsAsTheRhythmViewsDo) {
    struct Case {
        double dead_hours;
        bool per_channel;
        std::map<std::string, std::string> status;  // by the id's last part
    };
    const Case cases[] = {
        {12.0, false, {{"A1", "OK"}, {"B1", "no beams"}, {"B2", "OK"}, {"B3", "OK"}}},
        {0.5, false, {{"A1", "OK"}, {"B1", "no beams"}, {"B2", "dead"}, {"B3", "OK"}}},
        {0.5, true, {{"A1.0", "OK"}, {"B1.0", "no beams"}, {"B2.0", "dead"}, {"B3.0", "OK"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.dead_hours) + (c.per_channel ? " per channel" : ""));
        ReportRig rig;
        std::vector<PlannedRecord> records = GoldenRecords();
        for (auto& r : records)
            if (r.minute > 50) r.values[17] = 0;
        const fs::path folder = rig.Acquisition("20260314_0930", TidyPlan(), records);
        TidyExportRequest request{folder, 30, c.per_channel};
        request.dead_hours = c.dead_hours;
        ASSERT_TRUE(ExportTidyTables(rig.ctx, request).written);
        std::map<std::string, std::string> status;
        const auto meta = Lines(ReadFile(folder / "metadata.csv"));
        for (std::size_t i = 1; i < meta.size(); ++i) {
            const auto f = CsvFields(meta[i]);
            ASSERT_EQ(f.size(), 14u) << meta[i];
            const std::string id = f[0].substr(f[0].rfind('|') + 1);
            if (c.status.count(id)) status[id] = f[10];
        }
        EXPECT_EQ(status, c.status);
    }
}

// Reads the tables of every folder given with Python's csv module, concatenated, and checks
// that the ids of metadata.csv are unique and that every id of activity.csv is among them.
constexpr const char* kPythonCheck = R"PY(
import csv, datetime, sys
meta, rows = [], []
for folder in sys.argv[1:]:
    with open(folder + "/metadata.csv", newline="", encoding="utf-8") as f:
        reader = csv.DictReader(f)
        assert reader.fieldnames == ["id", "region_id", "start_datetime", "stop_datetime",
            "project", "acquisition", "plate", "well", "group", "channels", "status",
            "time_zone", "organism", "sleep_rule"], reader.fieldnames
        meta += list(reader)
    with open(folder + "/activity.csv", newline="", encoding="utf-8") as f:
        reader = csv.DictReader(f)
        assert reader.fieldnames == ["id", "t", "activity"], reader.fieldnames
        rows += list(reader)
ids = [m["id"] for m in meta]
assert len(set(ids)) == len(ids), "duplicate ids"
missing = sorted({r["id"] for r in rows} - set(ids))
assert not missing, missing[:3]
assert all(int(r["t"]) >= 0 and int(r["activity"]) >= 0 for r in rows)
for m in meta:  # instants a reader can place: ISO 8601 with their offsets
    start = datetime.datetime.fromisoformat(m["start_datetime"])
    stop = datetime.datetime.fromisoformat(m["stop_datetime"])
    assert start.utcoffset() is not None and stop > start, m
print(len(meta), len(rows), meta[1]["group"])
)PY";

// A week recorded across the change to summer time (2026-03-29, 02:00 CET becomes 03:00 CEST),
// with the zone logged by the recorder, and four hours without records (the instrument lost):
// read with Python's standard library, the start and stop are 168 hours apart, the stop carries
// the summer offset, and the gap's bins are missing values, not zeros.
constexpr const char* kPythonWeekCheck = R"PY(
import csv, datetime, sys
folder = sys.argv[1]
with open(folder + "/metadata.csv", newline="", encoding="utf-8") as f:
    meta = list(csv.DictReader(f))
with open(folder + "/activity.csv", newline="", encoding="utf-8") as f:
    rows = list(csv.DictReader(f))
start = datetime.datetime.fromisoformat(meta[0]["start_datetime"])
stop = datetime.datetime.fromisoformat(meta[0]["stop_datetime"])
assert stop - start == datetime.timedelta(hours=168), stop - start
assert start.utcoffset() == datetime.timedelta(hours=1), start
assert stop.utcoffset() == datetime.timedelta(hours=2), stop
a1 = [r for r in rows if r["id"].endswith("|A1")]
missing = [int(r["t"]) // 3600 for r in a1 if r["activity"] == "NA"]
assert missing == [50, 50, 51, 51, 52, 52, 53, 53], missing  # half-hour bins of hours 50..53
values = {int(r["activity"]) for r in a1 if r["activity"] != "NA"}
assert values == {60}, values  # 20 a window, three 10-minute windows a bin
print(meta[0]["start_datetime"], meta[0]["stop_datetime"], len(missing))
)PY";

TEST(TidyExport, PythonReadsBothTablesOfSeveralAcquisitions) {
    ReportRig rig;
    std::vector<std::string> argv = {"/usr/bin/env", "python3",
                                     (rig.dir.path() / "check.py").string()};
    std::ofstream(rig.dir.path() / "check.py") << kPythonCheck;
    for (const char* name : {"20260314_0930", "20260315_0930"}) {
        const fs::path folder = rig.Acquisition(name, TidyPlan(), GoldenRecords());
        ASSERT_TRUE(ExportTidyTables(rig.ctx, {folder, 30, false}).written);
        argv.push_back(folder.string());
    }
    // A second copy of the first acquisition under another project: still other ids.
    const fs::path other = rig.install / "p00002" / "20260314_0930";
    WriteAcquisitionProject(rig.install, other, TidyPlan());
    WriteCountsFile(other / "counts.bin", GoldenRecords());
    ASSERT_TRUE(ExportTidyTables(rig.ctx, {other, 15, true}).written);
    argv.push_back(other.string());

    const lumivo::testing::RunResult r = lumivo::testing::Run(argv, rig.dir.path(), 60000);
    ASSERT_EQ(r.status, 0) << "python3 could not read the tables (is python3 installed?)\n"
                           << r.err;
    EXPECT_EQ(r.out, "16 66 001_Drug \"A\", 5 uM\n");
}

TEST(TidyExport, AWeekAcrossTheChangeToSummerTimeReadsRightInPython) {
    struct Case {
        const char* name;
        const char* exporting_zone;
        bool zone_logged;
        std::string zone_note;
    };
    const Case cases[] = {
        // The exporting computer is in another zone than the recorder was: the logged zone
        // counts.
        {"zone logged", "UTC0", true,
         "UTC+01:00 (CET) to UTC+02:00 (CEST) as logged by the recorder"},
        // An older recording without zone lines: the exporting computer's rules place it, and
        // the stop is still the start plus the recorded duration.
        {"no zone logged", kCentralEurope, false,
         "UTC+01:00 (CET) to UTC+02:00 (CEST) of the exporting computer: the recorder logged "
         "no zone"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZoneForTest zone(c.exporting_zone);
        ReportRig rig;
        std::vector<PlannedRecord> records;
        for (std::int32_t m = 10; m <= 168 * 60; m += 10) {
            if (m > 50 * 60 && m <= 54 * 60) continue;  // the instrument was lost
            PlannedRecord r;
            r.minute = m;
            r.values[0] = 20;
            r.values[384] = 250;
            records.push_back(r);
        }
        const fs::path folder = rig.Acquisition("20260326_0100", TidyPlan(), records);
        std::ofstream log(folder / "events.log", std::ios::binary);
        if (c.zone_logged) log << "2026-03-26 01:00:00  Time zone: UTC+01:00 (CET)\r\n";
        log << "2026-03-26 01:00:00  Sampling started\r\n"
               "2026-03-28 03:00:00  Instrument lost: the port vanished\r\n"
               "2026-03-28 07:00:00  Instrument reconnected on COM3 after 14400 s\r\n";
        if (c.zone_logged) log << "2026-03-29 03:00:00  Time zone: UTC+02:00 (CEST)\r\n";
        log << "2026-04-02 02:00:00  Acquisition finished (the programmed lapse was reached)\r\n";
        log.close();
        const TidyExportOutcome out = ExportTidyTables(rig.ctx, {folder, 30, false});
        ASSERT_TRUE(out.written) << out.failure;
        const auto meta = Lines(ReadFile(out.metadata_file));
        const auto f = CsvFields(meta.at(1));
        ASSERT_EQ(f.size(), 14u);
        EXPECT_EQ(f[2], "2026-03-26T01:00:00+01:00");
        EXPECT_EQ(f[3], "2026-04-02T02:00:00+02:00");  // 168 h later, not 169
        EXPECT_EQ(f[11], c.zone_note);
        const std::string activity = ReadFile(out.activity_file);
        EXPECT_NE(activity.find("|A1,180000,NA\n"), std::string::npos);  // hour 50
        EXPECT_EQ(activity.find("|A1,180000,0\n"), std::string::npos);

        std::ofstream(rig.dir.path() / "week.py") << kPythonWeekCheck;
        const lumivo::testing::RunResult r = lumivo::testing::Run(
            {"/usr/bin/env", "python3", (rig.dir.path() / "week.py").string(), folder.string()},
            rig.dir.path(), 60000);
        ASSERT_EQ(r.status, 0) << "python3 could not read the tables (is python3 installed?)\n"
                               << r.err;
        EXPECT_EQ(r.out, "2026-03-26T01:00:00+01:00 2026-04-02T02:00:00+02:00 8\n");
    }
}

}  // namespace
}  // namespace lumivo::reporting::testing
