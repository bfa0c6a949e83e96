// Choosing an acquisition in the browser: what the window shows and enables afterwards. The raw
// signal pages are counted from the folder's listing (none is read: a week of pages is
// gigabytes), the project's setup and groups are loaded, the report button gets its caption,
// and the summary for `Picreal` tells the project, its configuration and groups, and what the
// recording holds: start, duration, windows recorded and missing, temperature range, silences
// of the instrument, and whether the acquisition's own groups (which its report uses) still are
// the project's.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/offline/acquisition_folders.h"
#include "core/offline/recording_status.h"
#include "core/reporting/report/recording_start.h"
#include "core/storage/plate_format.h"
#include "core/storage/project_setup.h"
#include "core/storage/storage_context.h"
#include "core/storage/well_map.h"

namespace lumivo::offline {

inline constexpr const char* kNoReportCaption = "[ REPORT ]";
inline constexpr const char* kReportCaptionSuffix = " => REPORT";
inline constexpr const char* kCutReportCaptionSuffix = ".. => REPORT";
// Characters of the entry the report button shows before it is cut.
inline constexpr std::size_t kReportCaptionLimit = 50;
inline constexpr const char* kGroupsDifferLine =
    "NOTE: this acquisition's own groups (which its report uses) differ from the project's "
    "current groups.";

// `Cmd_report`'s caption for a chosen entry: the entry and " => REPORT"; an entry longer than 50
// characters is cut there and followed by ".. => REPORT". Characters are counted as the user
// sees them (a multi-byte UTF-8 letter is one), and a cut never splits one.
std::string ReportCaption(std::string_view entry_text);

// The raw signal pages of an acquisition folder: its files "N.bin" (histograms and counts.bin
// are not pages).
int CountRawPages(FileSystem& files, const std::filesystem::path& folder);

// What the summary needs of counts.bin: every record's minutes and the temperature range.
struct CountsOverview {
    std::vector<std::int32_t> minutes;     // ElapsedMinutes of each whole record
    std::uint64_t ignored_tail_bytes = 0;  // an incomplete last record
    std::optional<std::int16_t> lowest_tenths, highest_tenths;  // temperature x 10
};
// Reads counts.bin piece by piece. Throws std::runtime_error naming the file when it cannot be
// read or is larger than any recording can be.
CountsOverview ScanCountsFile(const std::filesystem::path& counts_file);

struct OpenedAcquisition {
    AcquisitionRef ref;
    int project_number = 0;
    std::string entry_text;     // the chosen list entry
    std::string project_entry;  // the project's tree entry
    int raw_pages = 0;
    std::string page_text;  // `Txtpage`: "1/" + pages
    std::string report_caption;
    ProjectState project;  // the project's setup and groups
    PlateMap plate;
    CountsOverview counts;
    RecordingStatus status;
    reporting::RecordingStart start;  // when the recording started
    // The acquisition's own copy of the setup (lapse, plate), when it has one.
    std::optional<ProjectSetup> own_setup;
    bool groups_differ = false;
    // The acquisition's own plate map (its copy of wells.csv), when it has one; why it could
    // not be read otherwise.
    std::optional<WellMap> wells;
    std::string wells_failure;
    std::vector<std::string> summary;  // the lines of `Picreal`

    // The summary as the window prints it: lines joined by CR LF.
    std::string SummaryText() const;
};

// Opens an acquisition for the browser. A folder without a readable counts.bin is refused with
// a message naming it (nullopt). The project's files are loaded as the browser loads them (a
// damaged file shows its message and loads its defaults).
std::optional<OpenedAcquisition> OpenAcquisition(StorageContext& ctx, const AcquisitionRef& ref,
                                                 const std::string& entry_text);

// The lines of the summary from what OpenAcquisition gathered.
std::vector<std::string> SummaryLines(const OpenedAcquisition& a);

// True when the acquisition's own groups.dat/chgroup.dat give other groups than `project`'s
// tables: another group for some channel, or another name for a group in use.
bool GroupsDiffer(StorageContext& ctx, const std::filesystem::path& acquisition_folder,
                  const ProjectState& project);

}  // namespace lumivo::offline
