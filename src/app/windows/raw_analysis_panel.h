// The work behind the report window's raw-data panel (`Frame_run`) and its "Advanced" exports:
// - RUN (`cmd_runframe`): the acquisition's raw pages re-analysed by the core
//   (reporting/raw_reanalysis.h) with "Block m/N" in `frmlbl_status`, STOP (`cmd_stopframe`)
//   honoured after the block at hand, the rest of the window locked meanwhile;
// - "1 file/well Report" (`mncircadian`): the per-channel or per-well text files
//   (reporting/activity_export.h), then the folder and report2.txt opened;
// - "Export for R/Python...": activity.csv and metadata.csv (reporting/tidy_export.h).
// Each takes the window's controls as they stand and says what it wrote or why it did not.
#pragma once

#include "app/support/app_context.h"
#include "core/reporting/report/raw_reanalysis.h"
#include "core/reporting/report/report_run.h"

namespace lumivo::app {

class frm_report;

// RUN: re-analyses the raw data of the window's folder with the panel's method, threshold,
// lapse and bin size; `env` is the window's report environment (messages, opening the report).
reporting::RawRunOutcome RunRawReanalysis(frm_report& window, AppContext& ctx,
                                          reporting::ReportEnvironment& env);

// "1 file/well Report": both questions, the files, the folder and report2.txt opened.
void ExportPerWellFiles(frm_report& window, AppContext& ctx);

// "Export for R/Python...": the tidy tables (one row per well and bin) at the window's bin size;
// a message names the files written.
void ExportForRAndPython(frm_report& window, AppContext& ctx);

}  // namespace lumivo::app
