// The group activity view of the offline browser (`Cmd_leegroups`): how active each group of a
// recorded acquisition was over the run, read from its counts.bin and re-binned as a report
// re-bins it (the acquisition's own groups, no basal normalisation). The window draws the same
// chart the report window draws; "Export to ASCII..." writes the table of group means.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/acquisition/signal_source.h"
#include "core/reporting/report/report_chart.h"
#include "core/reporting/report/report_run.h"
#include "core/reporting/report/report_tables.h"
#include "core/storage/plate_format.h"
#include "core/storage/project_setup.h"

namespace lumivo::offline {

struct GroupActivity {
    std::filesystem::path folder;
    std::int32_t bin_size = 0;  // the bin size used (corrected when longer than the recording)
    bool bin_size_corrected = false;
    std::int32_t length = 0;  // minutes covered
    reporting::ReportInputs inputs;
    reporting::GroupStatistics stats;
    reporting::ChartData chart;  // one series per group with wells
};

// The activity per group of the acquisition in `folder`, in bins of `bin_text` minutes. A
// recording that cannot be reported (no counts.bin, too short, no plate) shows the report's
// message and gives nullopt.
std::optional<GroupActivity> LoadGroupActivity(reporting::ReportEnvironment& env,
                                               const std::filesystem::path& folder,
                                               const std::string& bin_text);

// The table of the view, as datafile.txt holds it (TAB-separated, CR LF lines): a title line,
// "Minute" and one column per group with wells ("001_Control"), then one line per bin present
// in the recording with the minute its bin ends at and each group's mean count per well.
std::string GroupActivityTable(const GroupActivity& activity);

// The plate layout of an acquisition as a table (TAB-separated, CR LF): a title line with the
// plate format and its "[RowsxColumn]", then "Channel", "Well", "Group" and one line per
// channel in a well ("17", "B3.0", "002_Dose 1", "-" for a free or disabled channel).
std::string PlateLayoutTable(const ProjectState& project, const PlateMap& plate);

// The caption of a channel's signal page: "Channel 16  well A1.1  group 002_Dose 1", with
// "free" for a channel that is in no group (or disabled) and "(in no well)" for one the plate
// does not use.
std::string ChannelCaption(const ProjectState& project, const PlateMap& plate, int channel);

// The readings of `channel` a signal page shows, as datafile.txt holds them (TAB-separated,
// CR LF): `title`, "Reading", "Window" and "Value", then one line per reading from `first` on
// (`count` of them) that the source holds; readings are numbered from the start of the run.
std::string ChannelReadingsTable(SignalSource& source, const std::string& title,
                                 std::size_t channel, std::int64_t first, std::int64_t count);

}  // namespace lumivo::offline
