// A report run: what "Generate..." in the report window does, what the end of a recorded
// acquisition does with the user-defined settings on, and what `lumivo-cli report` does.
//
// The run reads the acquisition's counts.bin, re-bins it, optionally normalises it to a basal
// acquisition of the same project, computes the group statistics and writes the report file,
// its copy under the experiment's name and the chart image "report.svg" into the acquisition
// folder. Questions and messages go through Dialogs; nothing is written when the run stops.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/platform/ui_port.h"
#include "core/reporting/report/bend_histogram_report.h"
#include "core/reporting/report/group_statistics.h"
#include "core/reporting/report/report_chart.h"
#include "core/reporting/report/report_tables.h"
#include "core/reporting/report/report_writer.h"
#include "core/storage/report_config.h"
#include "core/storage/storage_context.h"

namespace lumivo::reporting {

inline constexpr const char* kChartFileName = "report.svg";
// The events.log line of a re-analysis of the raw data, and the words it carries when the new
// counts replaced those of counts.bin: a report of counts.bin made afterwards says so.
inline constexpr const char* kCountsReanalysedEvent = "Counts re-analysed: ";
inline constexpr const char* kCountsReplacedMark = "counts.bin replaced";

// What a report run needs from the program around it.
struct ReportEnvironment {
    StorageContext& storage;  // installation folder (plate files), dialogs, file system
    Clock& clock;             // the date in the header, the pauses of the automatic report
    // Opens a written report for the user with the desktop's default application; empty when
    // nothing is to be opened (the command line).
    std::function<void(const std::filesystem::path&)> open_file{};
    // The date and time written in the header; empty: "yyyy-mm-dd hh:mm:ss".
    std::function<std::string(const LocalDateTime&)> format_date{};
    // The raw-data re-analysis and export run after an automatic report when `rawexport` is 1;
    // returns "" when it was done, otherwise why not. Empty when the program has none.
    std::function<std::string()> raw_reanalysis{};
};

// The report window's controls at the time "Generate..." is pressed.
struct ReportRequest {
    std::filesystem::path folder;      // Txt_inputfile: the acquisition folder
    std::string bin_size_text = "30";  // Cmb_binsize
    ReportOptions options;             // output, file type, separator, statistics boxes
    std::string basal_text;            // cmbbasal: "-", "" or "yyyymmdd_hhmm <name>"
    // The records to report instead of the folder's counts.bin (minutes as stored), e.g. the
    // counts of a raw-data re-analysis; null: counts.bin is read.
    const RecordTable* activity = nullptr;
    // How the counts were re-analysed ("RE-ANALYSED COUNTS:" of the header); empty: what
    // events.log says of the counts of counts.bin.
    std::string reanalysis_text;
};

// The last re-analysis of events.log that replaced counts.bin: its date and text ("" when the
// counts are the recorded ones).
std::string LastCountsReplacement(const std::string& event_log);

struct ReportOutcome {
    bool written = false;
    std::string failure;             // why nothing was written ("" when the user ended the run)
    std::string raw_export_failure;  // why the automatic raw-data export was not done
    std::filesystem::path report_file;
    std::filesystem::path copy_file;   // empty when no copy was made
    std::filesystem::path chart_file;  // empty when the image could not be written
    std::int32_t bin_size = 0;         // the bin size used (written back into Cmb_binsize)
    bool bin_size_corrected = false;
    std::string bin_size_note;  // why the bin size was corrected ("" when it was not)
    std::string start_text;     // when the recording started ("START:" of the header)
    std::string reanalysis;     // how the counts were re-analysed ("" for recorded counts)
    // Where the minutes of counts.bin (of the basal acquisition's) went back in time, which
    // ends the records read ("" when they never did).
    std::string backward_step;
    std::string basal_backward_step;
    double window_minutes = 0;  // the recording's window length
    std::int32_t length = 0;    // minutes covered by the report
    int last_bin = -1;
    bool basal_applied = false;
    // Records left out for impossible counts, as the header says ("" when none).
    std::string excluded_records;
    std::string excluded_basal_records;
    ReportInputs inputs;
    GroupStatistics stats;
    ChartData chart;
};

// "Activity file not Found: " and what is wrong with `counts_file`: it does not exist (and
// neither does its folder), or it is no regular file (a FIFO, a folder), and what to give.
std::string ActivityFileNotFoundText(FileSystem& files, const std::filesystem::path& counts_file);

// The message of a counts.bin that cannot make a report (no records, one record, no minutes).
std::string TooShortMessage(const std::filesystem::path& counts_file, std::size_t records,
                            std::int64_t minutes);

// Whole-number value of a text the way the bin-size box is read: leading blanks, an optional
// sign and the digits that follow; anything else ends the number ("45 min" is 45, "x" is 0).
std::int64_t LeadingWholeNumber(const std::string& text);

// `Cmd_generate_Click`: one report run, ComputeReport then WriteReportFiles.
ReportOutcome GenerateReport(ReportEnvironment& env, const ReportRequest& request);

// A report computed and not yet written.
struct ComputedReport {
    ReportInputs inputs;  // after the basal normalisation (discarded channels are free)
    GroupStatistics stats;
    std::optional<HistogramTables> histogram;  // the body-bends layout only
    std::int32_t length = 0;                   // minutes covered
    int last_bin = -1;
};

// The computing half of a report run: reads counts.bin (and the basal acquisition's, asking the
// basal questions), re-bins, normalises and computes the group statistics. Fills the bin size,
// the excluded records and whether the basal was applied into `outcome`. nullopt when the run
// stops: `outcome.failure` says why after its message was shown, or is empty when the user
// ended it.
std::optional<ComputedReport> ComputeReport(ReportEnvironment& env, const ReportRequest& request,
                                            ReportOutcome& outcome);

// The writing half: the report file and its copy under the experiment's name, then the chart
// image, then the report opened for the user. A report file that cannot be written is told and
// leaves `outcome.written` false; a copy or chart that cannot be is told and left out.
void WriteReportFiles(ReportEnvironment& env, const ReportRequest& request, ComputedReport& report,
                      ReportOutcome& outcome);

// The request the report window makes from the stored configuration: bin size text, output
// (the body-bends histogram when the folder holds "histo*.bin" files), file type, separator,
// statistics boxes, no basal; the decimal symbol of the user's locale.
ReportRequest RequestFromConfig(FileSystem& files, const ReportConfig& config,
                                const std::filesystem::path& folder,
                                const std::string& bin_size_text);

// The automatic report (the report window shown with `chk_autoreport` checked): generates the
// report, pauses 1500 ms, runs the raw-data re-analysis when `raw_export`, and shows "Report
// File AutoGenerated" only when the report was written (and the export, when asked for, was
// done). A report that was not written has shown its own message and is not followed by the
// export; an export that could not be done is named in the closing message.
ReportOutcome RunAutomaticReport(ReportEnvironment& env, const ReportRequest& request,
                                 bool raw_export);

// The end of a recorded acquisition on the report side. With the user-defined settings on
// (`mn_userbin` checked) the report generates itself from `settings`; otherwise
// `open_report_window` is called for the folder and "Acquisition finished" is shown. Returns
// the outcome of the automatic report (not written when the window was opened instead).
ReportOutcome ReportAfterAcquisition(ReportEnvironment& env, const ReportSettings& settings,
                                     bool user_defined, const std::filesystem::path& folder,
                                     const std::string& bin_size_text,
                                     const std::function<void()>& open_report_window);

}  // namespace lumivo::reporting
