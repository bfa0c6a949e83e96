// Test acquisitions for the report tests: a temporary installation folder with a small plate
// format, project folders and acquisition folders whose files are written by the program's own
// writers (project files by the storage code, counts.bin and histograms by the data-files code).
//
// The writers are defined beside the tests closest to them: the project side in
// report_run_test.cpp, the data-file side in activity_file_test.cpp.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/reporting/report/report_run.h"
#include "core/storage/file_system.h"
#include "core/storage/storage_context.h"
#include "support/child_process.h"
#include "support/fake_clock.h"
#include "support/scripted_dialogs.h"

namespace lumivo::reporting::testing {

namespace fs = std::filesystem;

// A fresh folder, removed at the end of the test.
using TempDir = lumivo::testing::TempFolder;

using lumivo::testing::ReadFile;

// The bins 1..bin_count a report holds data for.
inline std::vector<int> PresentBins(const GroupStatistics& s) {
    std::vector<int> bins;
    for (int k = 1; k <= s.bin_count; ++k)
        if (s.bin_present[static_cast<std::size_t>(k)]) bins.push_back(k);
    return bins;
}

// ---- Data files (defined in activity_file_test.cpp) ----------------------------------------

// One counts.bin record: minute, channels 0..383 and the temperature in tenths (entry 384).
struct PlannedRecord {
    std::int32_t minute = 0;
    std::array<std::int16_t, 385> values{};
};
// Appends the records to `file` through the acquisition's counts writer.
void WriteCountsFile(const fs::path& file, const std::vector<PlannedRecord>& records);
// Writes raw counts.bin bytes (for damaged files).
void WriteRawBytes(const fs::path& file, const std::string& bytes);

// One histogram record: exact minute and the accumulated histogram, [interval * 385 + channel].
struct PlannedHistogram {
    double minute = 0.0;
    std::vector<std::int32_t> cells;  // 51 x 385
};
void WriteHistogramFile(const fs::path& file, const std::vector<PlannedHistogram>& records);

// ---- Project files (defined in report_run_test.cpp) ----------------------------------------

// The test plate "wtest": 2 rows x 3 columns (wells down the columns: A1, B1, A2, B2, A3, B3).
//   channel 0 -> A1, channels 1 and 2 -> B1 (beams 0 and 1), 16 -> A2, 17 -> B2, 33 -> B3;
//   A3 has no channel; every other channel lies in no well.
void WriteTestPlate(const fs::path& install_dir);

struct ProjectPlan {
    std::string plate_format = "wtest";
    std::map<int, std::string> group_names;  // others keep their defaults
    std::map<int, int> channel_groups;       // every other channel: -1 (free)
    std::string experiment_name;
    std::string description = "test run";
    int rt_buffer = 500;                 // RT_Buffer of setup.dat
    std::vector<int> disabled_channels;  // status.dat: channels not in use
    // ToolParams row 2 (light Enable, on hour, off hour, pulse on x 10, off x 10, count).
    std::optional<std::array<std::int16_t, 6>> light;
};
// Writes the five project files and subproj.dat into `folder` (created when missing).
void WriteAcquisitionProject(const fs::path& install_dir, const fs::path& folder,
                             const ProjectPlan& plan);

// The plan of the golden reports: groups 0 "Control" (A1, A2), 1 "Drug A" (B1, B2), 2 "Empty"
// (no channel), 3 "Spare" (channel 100, in no well); B3 is free.
ProjectPlan GoldenProjectPlan();

// A 90-minute acquisition, one record per minute (minutes 1..90), in thirds: the records of
// minutes 1..30, 31..60 and 61..90 count a, b and d per channel, and carry 25.0, 25.1 and 25.2
// degrees. With 30-minute bins a channel's bins are 30 a, 30 b and 30 d.
//   channel 0 (A1): 25, 10, 2 -> 750, 300, 60
//   channel 1 (B1): 4, 6, 8   -> 120, 180, 240
//   channel 2 (B1): 5, 6, 9   -> 150, 180, 270
//   channel 16 (A2): 10, 20, 3 -> 300, 600, 90
//   channel 17 (B2): 1, 2, 3  -> 30, 60, 90
//   channel 33 (B3): 7, 7, 7  -> 210, 210, 210
//   channel 100 (no well): 1, 1, 1 -> 30, 30, 30
inline std::vector<PlannedRecord> GoldenRecords() {
    const std::map<int, std::array<int, 3>> plan = {
        {0, {25, 10, 2}}, {1, {4, 6, 8}},  {2, {5, 6, 9}},  {16, {10, 20, 3}},
        {17, {1, 2, 3}},  {33, {7, 7, 7}}, {100, {1, 1, 1}}};
    std::vector<PlannedRecord> records;
    for (int m = 1; m <= 90; ++m) {
        PlannedRecord r;
        r.minute = m;
        const std::size_t third = static_cast<std::size_t>((m - 1) / 30);
        for (const auto& [channel, values] : plan)
            r.values[static_cast<std::size_t>(channel)] = static_cast<std::int16_t>(values[third]);
        r.values[384] = static_cast<std::int16_t>(250 + third);
        records.push_back(r);
    }
    return records;
}

// An acquisition of one record per minute (minutes 1..minutes) whose channels count a constant
// a per record: a 30-minute one gives a basal of 30 a per channel with 30-minute bins.
inline std::vector<PlannedRecord> ConstantRecords(std::int32_t minutes,
                                                  const std::map<int, int>& per_channel) {
    std::vector<PlannedRecord> records;
    for (int m = 1; m <= minutes; ++m) {
        PlannedRecord r;
        r.minute = m;
        for (const auto& [channel, value] : per_channel)
            r.values[static_cast<std::size_t>(channel)] = static_cast<std::int16_t>(value);
        r.values[384] = 240;
        records.push_back(r);
    }
    return records;
}

// An installation folder with the test plate, project 1 and its acquisitions, scripted dialogs,
// a virtual clock (2026-03-14 09:30) and an open hook that records what would be opened.
struct ReportRig {
    TempDir dir;
    fs::path install = dir.path() / "install";
    fs::path project = install / "p00001";
    LocalFileSystem files;
    lumivo::testing::ScriptedDialogs dialogs;
    lumivo::testing::FakeClock clock;
    StorageContext ctx{install, dialogs, files, [] { return std::string(","); }};
    ReportEnvironment env{ctx, clock};
    std::vector<fs::path> opened;

    ReportRig() {
        fs::create_directories(project);
        WriteTestPlate(install);
        env.open_file = [this](const fs::path& p) { opened.push_back(p); };
    }
    // An acquisition folder of project 1 with its project files and counts.bin.
    fs::path Acquisition(const std::string& name, const ProjectPlan& plan,
                         const std::vector<PlannedRecord>& records) {
        const fs::path folder = project / name;
        WriteAcquisitionProject(install, folder, plan);
        WriteCountsFile(folder / "counts.bin", records);
        return folder;
    }
    ReportRequest Request(const fs::path& folder, OutputFormat output, const std::string& sep) {
        ReportRequest r;
        r.folder = folder;
        r.bin_size_text = "30";
        r.options.output = output;
        r.options.spacer = sep;
        r.options.decimal_symbol = ".";
        return r;
    }
};

}  // namespace lumivo::reporting::testing
