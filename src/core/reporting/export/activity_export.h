// The binned activity of an acquisition exported for other programs: the report window's
// "1 file/well Report" (`mncircadian`) and `lumivo-cli export --per channel|well`.
//
// The activity is loaded and re-binned as for a report. Every file holds the counts per bin
// (for a well with several beams, the rounded mean of its beams, as in the report's well
// section); a bin the recording does not cover is "NA", never 0. A bin is named by its start:
// minutes from the start of the recording in "time.txt", the start date and time of the
// acquisition plus the bin's start in the per-well files. The start is the recording's own
// (recording_start.h: events.log, a join's first block, or the folder's name).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/ui_port.h"
#include "core/reporting/report/recording_start.h"
#include "core/reporting/report/report_tables.h"
#include "core/storage/storage_context.h"

namespace lumivo::reporting {

inline constexpr const char* kExportFilesQuestion = "Do you like to Export 384 text files?";
inline constexpr const char* kIncludeTimeQuestion = "Include time field?";
inline constexpr const char* kExportTimeFileName = "time.txt";
inline constexpr const char* kExportNotesFileName = "report2.txt";
// A bin the recording does not cover has no value: this is written in its place (R, pandas and
// spreadsheets read it as missing).
inline constexpr const char* kExportMissingValue = "NA";

// What an export needs from the program around it.
struct ExportEnvironment {
    StorageContext& storage;
    // Shows a folder in the file manager, and a text file in the text editor (the desktop:
    // xdg-open); empty when nothing is to be opened (the command line prints the paths).
    std::function<void(const std::filesystem::path&)> open_folder{};
    std::function<void(const std::filesystem::path&)> open_file{};
};

// The start named by an acquisition folder's name "yyyymmdd_hhmm" (seconds 0); nullopt when
// the name is not a valid date and time in that form.
std::optional<LocalDateTime> AcquisitionStart(const std::string& folder_name);

// An acquisition's activity, re-binned.
struct BinnedActivity {
    ReportInputs inputs;
    BinTable bins;  // bins 0..last_bin are exported
    int last_bin = -1;
    std::int32_t bin_size = 0;  // the bin size used
    bool bin_size_corrected = false;
    std::string bin_size_note;          // why it was corrected ("" when it was not)
    std::string backward_step;          // where the minutes went back ("" when they never did)
    double window_minutes = 0.0;        // the recording's window length
    std::int32_t recorded_minutes = 0;  // the minute of the last record (the end of the run)
    RecordingStart recording_start;     // when the recording started, and where that is from
    LocalDateTime start;                // recording_start.local
};

// Loads counts.bin of `folder` and re-bins it with `requested_bin` minutes, at least `min_bin`
// and corrected like a report's bin size when longer than the recording. Shows the reason and
// returns nullopt (the message in `failure` when given) when it cannot: no counts.bin ("Activity
// file not Found"), no plate, too few records, "Resampling ERROR", or a recording whose start
// is not known (which every export names its bins by).
std::optional<BinnedActivity> LoadBinnedActivity(StorageContext& ctx,
                                                 const std::filesystem::path& folder,
                                                 std::int64_t requested_bin, std::int32_t min_bin,
                                                 std::string* failure = nullptr);

// The value of well `well` in bin k: the count of its beam, or the rounded mean of its beams.
std::int32_t ExportWellValue(const BinnedActivity& a, int well, std::size_t k);
// Wells 0..max that have at least one beam on a channel: the wells that are exported.
std::vector<int> ExportedWells(const ReportInputs& inputs);

enum class ExportLayout { PerChannel, PerWell };

struct ActivityExportOutcome {
    bool written = false;
    std::string failure;  // why nothing was written ("" when the user declined nothing)
    ExportLayout layout = ExportLayout::PerChannel;
    bool with_time = false;
    std::int32_t bin_size = 0;
    std::string bin_size_note;  // why the bin size was corrected ("" when it was not)
    std::vector<std::filesystem::path> files;  // every data file, time.txt first
    std::filesystem::path notes_file;          // report2.txt
};

// "time.txt": the bins' start minutes joined by single spaces, CR LF.
std::string ExportTimeLine(const BinnedActivity& a);
// "ch000017.txt" and "005_B3.txt".
std::string ChannelExportFileName(int channel);
std::string WellExportFileName(const ReportInputs& inputs, int well);

// "1 file/well Report" (`mncircadian`): asks "Do you like to Export 384 text files?" (Yes: one
// file per channel, No: one file per well) and "Include time field?", loads and re-bins the
// activity with the bin size text (at least 2), writes the files and "report2.txt" (what was
// exported and how to read it) into the acquisition folder, all or none, then opens the folder
// and report2.txt.
ActivityExportOutcome ExportActivityFiles(ExportEnvironment& env,
                                          const std::filesystem::path& folder,
                                          const std::string& bin_size_text);

}  // namespace lumivo::reporting
