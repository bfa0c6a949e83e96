// The report windows without their widgets: what `frm_report` ("Report Output") and
// `Frm_reportset` ("User Defined Report") show in their controls, how the controls react, and
// how "Apply", "Back to Default" and the main window's `mn_userbin` entry load and save the
// report configuration. The Qt windows copy these states into their widgets and back.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "core/reporting/report/report_run.h"
#include "core/storage/report_config.h"
#include "core/storage/storage_context.h"

namespace lumivo::reporting {

// "5", "15", "30", "60", "120", "180", "240", "360", "480", "720", "1440".
const std::vector<std::string>& BinSizeChoices();
// `Option_output` captions of the report window (0..4) and of Frm_reportset (0..3).
const std::array<const char*, 5>& ReportOutputCaptions();
const std::array<const char*, 4>& ReportSetOutputCaptions();
// `Chk_statistic` captions 0..4 ("Average", "Median", "Std Error", "Std Dev", "\"N\"").
const std::array<const char*, 5>& StatisticCaptions();
// Whether `Chk_statistic` member `box` (0..4) is offered with `Option_output` `output` (0..4):
// "Average" and "Median" always; "Std Error", "Std Dev" and "N" where ticking them adds a table
// to the report (StatisticOffered).
bool StatisticBoxEnabled(int output, int box);
// `Cmb_dspmethod` (index = method) and `Cmb_organism` (index = organism).
const std::array<const char*, 3>& ReportMethodNames();
const std::array<const char*, 2>& ReportOrganismNames();

inline constexpr const char* kActivityFileNotFound = "Activity file not Found";
inline constexpr const char* kUserConfigurationApplied = "User Configuration Applied";
inline constexpr const char* kDefaultConfigurationApplied = "Default Report Configuration Applied";
inline constexpr const char* kAcquisitionFinished = "Acquisition finished";
inline constexpr const char* kBinSizeRefused =
    "The bin size must be a whole number of minutes from 2 to 1440.";

// The report options both report windows show (their options panel).
struct ReportOptionsState {
    std::vector<std::string> bin_items;  // Cmb_binsize list
    std::string bin_text;                // Cmb_binsize text
    int output = 0;                      // Option_output (frm_report 0..4, Frm_reportset 0..3)
    int filetype = 0;                    // Option_report (0..1)
    std::string spacer;                  // txt_customspacer
    std::array<bool, 5> statistic{};     // Chk_statistic(0..4)
};

// The controls of `frm_report`.
struct ReportWindowState : ReportOptionsState {
    bool histogram_visible = false;        // Option_output(4) shown
    std::vector<std::string> basal_items;  // cmbbasal list
    std::string basal_text;                // cmbbasal text
    std::string input_folder;              // Txt_inputfile
    // Frame_run ("Raw data processing:").
    int method = 0;              // Cmb_dspmethod
    int organism = 0;            // Cmb_organism
    std::string threshold_text;  // frmtxt_threshold
    std::string datalapse_text;  // frmtxt_datalapse
    bool datalapse_enabled = true;
    bool replace_data = false;  // Chk_replacedata
    bool raw_export = false;    // Chk_rawexport
    bool autoreport = false;    // chk_autoreport
};

// The window's load: the lists, the locale's separator, `LoadReportConfig` with the
// `mn_userbin` flag, and every control from the configuration (the stored bin size appended to
// the list); the histogram option when the folder named in the state holds "histo*.bin".
void LoadReportWindow(StorageContext& ctx, ReportSettings& settings, bool user_defined,
                      ReportWindowState& w);

// Opening the window for an acquisition folder: Cmb_binsize takes the main window's bin text;
// the folder must hold counts.bin (else "Activity file not Found" and false); the histogram
// option is offered and chosen when it holds "histo*.bin", otherwise "Rows" is chosen.
bool OpenReportWindowFor(StorageContext& ctx, const std::filesystem::path& folder,
                         const std::string& main_bin_text, ReportWindowState& w);

// The basal choices for an acquisition: "-", then one line per other acquisition of the same
// project that holds counts.bin ("yyyymmdd_hhmm" + " " + its experiment name), newest first.
std::vector<std::string> BasalChoices(StorageContext& ctx, const std::filesystem::path& folder);

// Control reactions.
void ReportFileTypeChosen(const ReportSettings& settings, int filetype, ReportWindowState& w);
void OrganismChosen(int organism, ReportWindowState& w);  // 1.8 or 2.8
void ThresholdLeft(ReportWindowState& w);                 // outside 1.1..6.0: "1.8"
void RawExportChecked(bool checked, ReportWindowState& w);
void ReplaceDataChecked(bool checked, ReportWindowState& w);

// What "Generate..." reports: the window's controls, not the stored configuration.
ReportRequest RequestFromWindow(const ReportWindowState& w, const std::string& decimal_symbol);

// The controls of `Frm_reportset`.
struct ReportSetState : ReportOptionsState {
    bool raw_export = false;
    bool autofile = false;  // "Auto-Generate after measurement": shown, never read
};

// The window's load: the stored configuration (User_defined 1) into the controls.
void LoadReportSetWindow(StorageContext& ctx, ReportSettings& settings, ReportSetState& w);
// "Apply": the controls into the configuration, saved as user-defined; "User Configuration
// Applied"; `mn_userbin` checked. A bin size that is not a whole number from 2 to 1440 is
// refused with kBinSizeRefused and nothing changes; returns false then.
bool ApplyUserReport(StorageContext& ctx, ReportSettings& settings, const ReportSetState& w,
                     bool& user_defined_report);
// "Back to Default": `mn_userbin` unchecked, the defaults loaded and saved with User_defined 0,
// "Default Report Configuration Applied".
void BackToDefaultReport(StorageContext& ctx, ReportSettings& settings, bool& user_defined_report);
// The main window's `mn_userbin` entry: the configuration loaded and saved with the entry's
// state as User_defined (Frm_reportset is shown afterwards).
void UserBinEntryChosen(StorageContext& ctx, ReportSettings& settings, bool checked);

// "0.0" text of a threshold stored in tenths (18 -> "1.8").
std::string ThresholdText(int tenths);

}  // namespace lumivo::reporting
