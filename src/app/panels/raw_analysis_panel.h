// The work behind the report window's raw-data panel (`Frame_run`) and its "Advanced" exports:
// - RUN (`cmd_runframe`): the acquisition's raw pages re-analysed by the core
//   (reporting/report/raw_reanalysis.h) with "Block m/N" in `frmlbl_status`, STOP (`cmd_stopframe`)
//   honoured after the block at hand, the rest of the window locked meanwhile;
// - "1 file/well Report" (`mncircadian`): the per-channel or per-well text files
//   (reporting/export/activity_export.h), then the folder and report2.txt opened;
// - "Export for R/Python...": activity.csv and metadata.csv (reporting/export/tidy_export.h).
// Each takes the window's choices as they stand (through RawAnalysisWindow) and says what it
// wrote or why it did not.
#pragma once

#include <QString>
#include <filesystem>
#include <string>

#include "core/platform/ui_port.h"
#include "core/reporting/report/raw_reanalysis.h"
#include "core/reporting/report/report_run.h"
#include "core/reporting/report/report_settings.h"
#include "core/storage/storage_context.h"

namespace lumivo::app {

// What the raw-data panel needs of the report window it sits in.
class RawAnalysisWindow {
  public:
    virtual ~RawAnalysisWindow() = default;
    // The window's choices as they stand: its folder, method, threshold, lapse and bin text.
    virtual reporting::ReportWindowState Choices() const = 0;
    // The lapse box `frmtxt_datalapse` and the bin box show the values used.
    virtual void ShowLapse(const std::string& text) = 0;
    virtual void ShowBinText(const std::string& text) = 0;
    // The block counter `frmlbl_status`, redrawn at once.
    virtual void ShowBlockStatus(const QString& text) = 0;
    // Whether STOP was pressed since RUN.
    virtual bool StopRequested() const = 0;
    // Everything of the window but STOP locked (`locked`), or given back.
    virtual void LockForRun(bool locked) = 0;
    // The window's status line.
    virtual void ShowStatus(const std::string& text) = 0;
    // A file or folder the panel wrote opened on the desktop; false when nothing opened it.
    virtual bool OpenWritten(const std::filesystem::path& path) = 0;
    // " (opened)" or " (no application could open it)".
    virtual std::string OpenedNote(bool opened) const = 0;
};

// RUN: re-analyses the raw data of the window's folder with the panel's method, threshold,
// lapse and bin size; `env` is the window's report environment (messages, opening the report).
reporting::RawRunOutcome RunRawReanalysis(RawAnalysisWindow& window, Dialogs& dialogs,
                                          reporting::ReportEnvironment& env);

// "1 file/well Report": both questions, the files, the folder and report2.txt opened.
void ExportPerWellFiles(RawAnalysisWindow& window, StorageContext& storage);

// "Export for R/Python...": the tidy tables (one row per well and bin) at the window's bin size;
// a message names the files written.
void ExportForRAndPython(RawAnalysisWindow& window, StorageContext& storage, Dialogs& dialogs);

}  // namespace lumivo::app
