// The activity of an acquisition's wells on the run's clock, ready for the circadian and sleep
// views (actograms, periodograms, activity profiles, inactivity bouts): per well and per group,
// bin by bin, with the bins the recording does not cover marked, the wells' status, and the
// light schedule the run had.
//
// A well's activity in a bin is the mean count of its beams (the beams that map to a channel and
// are enabled), as the report's well value before its rounding. counts.bin is re-binned by the
// report's re-binning (each bin scaled to its length by the time its windows cover); a bin its
// windows cover for less than three quarters (a pause, a gap, a lost instrument) is left
// unobserved, and so are the instrument's silences logged in events.log, whose windows hold
// repeated readings and no counts.
//
// A group is every well whose first beam belongs to it, as in the report; its mean leaves out
// the wells that are dead or have no beams, unless the dead ones are kept.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/reporting/report/report_tables.h"
#include "core/reporting/report/resample.h"
#include "core/reporting/rhythm/light_schedule.h"
#include "core/reporting/rhythm/sleep_bouts.h"
#include "core/storage/storage_context.h"

namespace lumivo::reporting {

// ---- Well status -------------------------------------------------------------------------------

enum class WellStatus { Ok, Dead, NoBeams };
// "OK", "dead", "no beams".
std::string_view WellStatusText(WellStatus status);

// A well that counted nothing over the last kDefaultDeadHours hours of the recording is dead.
inline constexpr double kDefaultDeadHours = 12.0;

// The status of wells 0..max_well_index: "no beams" when no enabled channel maps to the well;
// "dead" when its enabled channels counted nothing in the records of the last `dead_hours` hours
// of records 0..last (the whole recording when it is shorter); "OK" otherwise.
// `channel_enabled` holds an entry per channel 0..383.
std::vector<WellStatus> ClassifyWells(const ReportInputs& inputs,
                                      const std::vector<bool>& channel_enabled,
                                      const RecordTable& records, int last, double dead_hours);

// The status of every well of an acquisition folder (its own project files, plate map and
// counts.bin), for tables that carry a status column. nullopt when the folder cannot be read,
// with the reason in `failure`.
struct AcquisitionWellStatus {
    std::vector<std::string> well_names;  // "A1", ... for wells 0..max_well_index
    std::vector<WellStatus> status;
    Organism organism = Organism::CElegans;  // of the acquisition's setup
};
std::optional<AcquisitionWellStatus> ReadAcquisitionWellStatus(
    StorageContext& ctx, const std::filesystem::path& folder, double dead_hours = kDefaultDeadHours,
    std::string* failure = nullptr);

// ---- Activity on the run's clock ---------------------------------------------------------------

// The longest run's clock the views accept, in minutes: the longest recording the report reads
// and as much again in pauses.
inline constexpr std::int64_t kMaxRhythmMinutes = 2 * std::int64_t{kMaxReportMinutes};

struct RhythmOptions {
    std::int32_t bin_minutes = 30;
    double dead_hours = kDefaultDeadHours;
    bool keep_dead = false;  // dead wells stay in the group means
};

struct WellSeries {
    int well = 0;
    std::string name;         // "A1"
    int group = -1;           // the group of its first beam, -1 for none
    std::string group_label;  // "001_Control", "999_Free"
    WellStatus status = WellStatus::Ok;
    int beams = 0;  // enabled beams that map to a channel
};

struct GroupSeries {
    int group = 0;
    std::string label;                 // "001_Control"
    std::vector<std::size_t> members;  // indices into RhythmData::wells that make the mean
    int wells = 0;                     // wells of the group, members or not
    int left_out = 0;                  // dead or without beams, not in the mean
};

struct RhythmData {
    std::string experiment_name;
    Organism organism = Organism::CElegans;  // the acquisition's setup's
    RunClock clock;
    LightSchedule light;
    // The bin used: the one asked for, or raised to hold enough windows (a note says so).
    std::int32_t bin_minutes = 30;
    std::size_t bins = 0;      // bin k covers clock minutes [k x bin, (k + 1) x bin)
    double run_minutes = 0.0;  // the end of the last bin
    // The recording's window length in minutes (RecordingWindowMinutes).
    double window_minutes = 0.0;
    std::vector<std::uint8_t> observed;  // per bin: 1 when the recording covers it
    std::vector<WellSeries> wells;       // wells 0..max_well_index
    std::vector<double> well_values;     // [well index * bins + bin]
    std::vector<GroupSeries> groups;     // groups that have wells
    std::vector<double> group_mean;      // [group index * bins + bin], over the members
    std::vector<double> group_se;        // standard error over the members (0 for one)
    std::vector<std::string> notes;      // what the user should know about the data

    const double* Well(std::size_t w) const { return well_values.data() + w * bins; }
    const double* GroupMean(std::size_t g) const { return group_mean.data() + g * bins; }
    const double* GroupSe(std::size_t g) const { return group_se.data() + g * bins; }
    bool Observed(std::size_t k) const { return observed[k] != 0; }
    double BinStart(std::size_t k) const { return static_cast<double>(k) * bin_minutes; }
};

// Builds the data from an acquisition's pieces: the records 0..last as counts.bin holds them
// (record minutes), its run log and register name (the first field of subproj.dat), its folder
// name and light program.
struct RhythmSource {
    ReportInputs inputs;
    std::vector<bool> channel_enabled = std::vector<bool>(kChannelCount, true);
    RecordTable records;
    int last = -1;
    RunLog log;
    std::string folder_name;    // "yyyymmdd_hhmm"
    std::string register_name;  // the first field of subproj.dat
    LightProgram light_program;
    int organism_setting = 0;        // the setup's Organism (ToolParams row 1)
    std::vector<std::string> notes;  // what reading left out
};
// nullopt when the records cannot be re-binned (fewer than two, no minute), with the reason.
std::optional<RhythmData> BuildRhythmData(const RhythmSource& source, const RhythmOptions& options,
                                          std::string* failure = nullptr);

// Reads an acquisition folder: its project files (through the dialogs of `ctx`), plate map,
// counts.bin, events.log and register. nullopt with the reason when it cannot be read (an empty
// reason when the dialogs have shown it).
std::optional<RhythmSource> ReadRhythmSource(StorageContext& ctx,
                                             const std::filesystem::path& folder,
                                             std::string* failure = nullptr);

// "001_Control" for group 1 named Control, "999_Free" for a negative group.
std::string PlainGroupLabel(const ReportInputs& inputs, int group);

}  // namespace lumivo::reporting
