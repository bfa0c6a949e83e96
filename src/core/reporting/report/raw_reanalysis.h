// Re-analysis of an acquisition's recorded raw signal: the report window's "Analyze Raw Data"
// (`mnrecalculate`) and its "Raw data processing:" panel (`Frame_run`) with RUN
// (`cmd_runframe`) and STOP (`cmd_stopframe`), and `lumivo-cli reanalyze`.
//
// Every block (one recorded window, one record of counts.bin) up to the chosen lapse is read
// from its raw page and every channel that lies in a well is analysed again by the production
// activity calculation with the chosen method and threshold. The result can be exported as
// event strings (chN.raw), can replace the counts of counts.bin, and is reported like a normal
// report (re-binned, group statistics, report file), without basal normalisation.
//
// The disk and the processor work side by side: the blocks are read a few ahead on a thread of
// their own, and the channels of a block are analysed on one thread per processor core (the
// caller's included); progress, STOP and every file stay with the calling thread.
//
// Nothing is left half-done: the new counts.bin and the event files are written to temporary
// files and put in place only when every block was analysed; the recorded counts.bin is kept
// as counts.bak. STOP, a read error or a failed write leaves every file as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/reporting/report/report_run.h"
#include "core/reporting/report/report_settings.h"

namespace lumivo::reporting {

inline constexpr const char* kRealTimeDataNotFound = "Real Time Data Not Found";
// The recorded counts.bin, kept when "Replace old data" rewrites it.
inline constexpr const char* kCountsBackupFileName = "counts.bak";
// The shortest lapse that is re-analysed, in minutes; shorter ones are raised to it.
inline constexpr std::int32_t kMinReanalysisMinutes = 5;
// The smallest bin size of a re-analysis report.
inline constexpr std::int32_t kMinReanalysisBin = 2;
// The largest reading of the instrument's 12-bit channels: a raw page holding anything beyond
// 0..kMaxRawReading is damaged.
inline constexpr std::int16_t kMaxRawReading = 4095;
// The thresholds the panel accepts.
inline constexpr double kMinReanalysisThreshold = 1.1;
inline constexpr double kMaxReanalysisThreshold = 6.0;

// The panel's controls when RUN is pressed.
struct RawRunRequest {
    std::filesystem::path folder;  // Txt_inputfile: the acquisition folder
    // frmtxt_datalapse: the lapse to re-analyse in hours ("," read as "."); blank: the whole
    // recording. Ignored with replace_data, which always covers the whole recording.
    std::string datalapse_text;
    bool replace_data = false;           // Chk_replacedata: "Replace old data"
    bool raw_export = false;             // Chk_rawexport: "Export Raw", the event strings chN.raw
    int method = 1;                      // Cmb_dspmethod: 0, 1 or 2
    std::string threshold_text = "1.8";  // frmtxt_threshold: the signal-to-noise factor
    std::string bin_size_text = "30";    // Cmb_binsize
    ReportOptions options;               // how the report file is written
    // Threads the calculation runs on: 0 for one per processor core, at most 4.
    unsigned threads = 0;
};

// What the panel shows while RUN works; the window implements it with its label and buttons,
// the command line with its progress line and signals, the tests with scripted stops.
class RawRunView {
  public:
    virtual ~RawRunView() = default;
    // frmlbl_status: "Block m/N", "Saving...".
    virtual void ShowStatus(const std::string& text) = 0;
    // Cmb_binsize when the bin size was raised to the smallest one ("2").
    virtual void ShowBinSize(const std::string& text) = 0;
    // Whether STOP was pressed; asked after every block, once window events have run.
    virtual bool StopRequested() = 0;
};

struct RawRunOutcome {
    bool completed = false;  // every block was analysed (and the outputs asked for were written)
    bool stopped = false;    // STOP ended the run: nothing was written
    std::string failure;     // why the run ended without its outputs ("" when completed/stopped)
    std::int32_t limit_minutes = 0;  // records below this minute were re-analysed
    std::int32_t bin_size = 0;       // the bin size asked of the report (at least 2)
    std::string bin_size_note;       // why it is not the one asked for ("" when it is)
    std::size_t blocks = 0;          // N: records of counts.bin within the lapse
    std::size_t analysed = 0;        // blocks re-analysed from their raw data
    std::size_t missing = 0;         // blocks without raw data: their recorded counts were kept
    std::size_t first_missing = 0;   // the first of them (when missing > 0)
    std::size_t damaged = 0;         // blocks whose readings lie outside 0..4095: kept too
    std::size_t first_damaged = 0;   // the first of them (when damaged > 0)
    // Temporary files of an earlier run that was killed, removed before this one started.
    std::size_t leftovers_removed = 0;
    std::uintmax_t leftover_bytes = 0;
    bool replaced = false;                           // counts.bin holds the new counts
    std::filesystem::path backup_file;               // counts.bak (when replaced)
    std::vector<std::filesystem::path> event_files;  // chN.raw written
    // The new counts of the N records (minutes and temperatures as stored).
    RecordTable records;
    ReportOutcome report;
};

// "Real Time Data Not Found: " and the raw page 0 of `folder` that is missing, and why it can
// be so.
std::string RealTimeDataNotFoundText(FileSystem& files, const std::filesystem::path& folder);

// "Analyze Raw Data": whether the panel may open, i.e. the folder holds raw page 0 ("0.bin");
// otherwise shows RealTimeDataNotFoundText.
bool RawDataPanelAvailable(StorageContext& ctx, const std::filesystem::path& folder);

// The limit in minutes of a re-analysis: every record with replace_data or a blank lapse, else
// R(hours x 60) and at least kMinReanalysisMinutes. `shown_text` gets the text the lapse box
// shows when the lapse was raised to the minimum ("0.08", which reads back as 5 minutes), else
// stays as it was.
std::int32_t ReanalysisLimitMinutes(bool replace_data, const std::string& datalapse_text,
                                    std::string* shown_text = nullptr);

// RUN (`cmd_runframe`): re-analyses the acquisition and writes what the request asks for.
// Refused while the folder is in use (being recorded or re-analysed: its RecordingMark); the
// run holds the mark itself. Temporary files left by a run that was killed are removed first.
// A block whose raw readings lie outside 0..4095 (a damaged page) keeps its recorded counts,
// and the message says which. The parameters and what was done are appended to events.log
// ("Counts re-analysed: ..."), and the report says so in its header. Messages and refusals go
// through env.storage.dialogs (the report's too); the written report is opened with
// env.open_file.
RawRunOutcome ReanalyzeRawData(ReportEnvironment& env, const RawRunRequest& request,
                               RawRunView& view);

// "Counts re-analysed: method 1, threshold 1.8, windows 1 to 120 (the whole recording); counts.bin
// replaced, the recorded counts kept in counts.bak": the events.log line of a run.
std::string ReanalysisLogText(const RawRunRequest& request, const RawRunOutcome& outcome);

// The request the report window makes of its controls.
RawRunRequest RawRunRequestFromWindow(const ReportWindowState& w,
                                      const std::string& decimal_symbol);

}  // namespace lumivo::reporting
