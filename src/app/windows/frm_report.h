// The report window `frm_report` ("Report Output"): the report options for one acquisition
// folder, the basal choice, "Generate..." and the chart of the last report (group means with
// standard-error bands over time, the basal line when normalised). The report itself is the
// core's (reporting/report/report_run.h); the window copies its controls into a ReportWindowState
// and back (reporting/report/report_settings.h). With `chk_autoreport` checked, showing the window
// makes the report at once and hides it again.
//
// The raw-data panel (`Frame_run`) and the "Advanced" menu are here with their controls; the
// re-analysis and the exports run in app/panels/raw_analysis_panel.h, which reaches the window
// through RawAnalysisWindow, and the "Rhythm and sleep" tab beside the report chart is
// rhythm_tab.h.
#pragma once

#include <QAction>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QUrl>
#include <QWidget>
#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "app/panels/report_options_panel.h"
#include "app/support/app_context.h"
#include "app/support/window_roles.h"
#include "core/reporting/report/report_run.h"
#include "core/reporting/report/report_settings.h"

namespace lumivo::app {

inline constexpr const char* kRawProcessingUnavailable =
    "Raw data processing is not available in this build.";

class RhythmTab;
class CompareTab;
class DoseTab;

class frm_report : public QWidget {
    Q_OBJECT
  public:
    explicit frm_report(AppContext& ctx, QWidget* parent = nullptr);

    // The window load, with the state of the main window's `mn_userbin` entry.
    void Form_Load(bool user_defined);
    // Opening for an acquisition folder with the main window's bin size; false (after "Activity
    // file not Found") when the folder holds no counts.bin. `basal_items` fills `cmbbasal`.
    bool OpenFor(const std::filesystem::path& folder, const std::string& main_bin_text,
                 const std::vector<std::string>& basal_items);

    // Handlers.
    void Cmd_generate_Click();
    void Cmd_cancel_Click();
    void Option_report_Click(int index);
    void Option_output_Click();  // offers the statistics boxes that change this output
    void Cmb_organism_Click();
    void frmtxt_threshold_LostFocus();
    void Chk_rawexport_Click();
    void Chk_replacedata_Click();
    void mnrecalculate_Click();
    void mncircadian_Click();
    void cmd_runframe_Click();
    void cmd_stopframe_Click();
    void mntidyexport_Click();
    // Whether STOP was pressed since RUN.
    bool StopRequested() const { return stop_requested_; }
    // The automatic report (the window shown with `chk_autoreport` checked).
    void RunAutomaticReport();

    // Hooks.
    std::function<bool(const QUrl&)> OpenDocument;           // the desktop's viewer
    std::function<void(const std::string&)> SetMainBinText;  // on unload
    std::function<void()> RawReanalysis;                     // "RUN"
    std::function<void()> PerWellExport;                     // "1 file/well Report"

    const reporting::ReportOutcome& last_outcome() const { return outcome_; }
    reporting::ReportWindowState State() const;

    // The status line: what the last command wrote and where, or why it wrote nothing, and
    // the bin size it used when that is not the one asked for.
    void ShowStatus(const std::string& text);
    std::string status() const;
    // Opens a file or folder the window wrote with the desktop's application; false when
    // there is none to open it (the status line then still says where it is).
    bool OpenWritten(const std::filesystem::path& path);
    // " (opened)" or " (no application could open it)" for the last OpenWritten.
    std::string OpenedNote(bool opened) const;

    // Controls.
    ReportOptionsPanel* report_options;  // Option_output, Option_report, Cmb_binsize, ...
    QComboBox* cmbbasal;
    QPushButton* Cmd_generate;
    QPushButton* Cmd_cancel;
    QLineEdit* Txt_inputfile;
    QGroupBox* Frame_main;
    QGroupBox* Frame_run;
    QLineEdit* frmtxt_threshold;
    QComboBox* Cmb_organism;
    QComboBox* Cmb_dspmethod;
    QLineEdit* frmtxt_datalapse;
    QCheckBox* Chk_replacedata;
    QCheckBox* Chk_rawexport;
    QCheckBox* chk_autoreport;
    QPushButton* cmd_runframe;
    QPushButton* cmd_stopframe;
    QLabel* frmlbl_status;
    QLabel* lbl_reportstatus;  // the status line
    QMenu* mnadvance;
    QAction* mnrecalculate;
    QAction* mncircadian;
    QAction* mntidyexport;
    QTabWidget* report_tabs;  // the report chart, "Rhythm and sleep", "Compare", "Dose-response"
    QChartView* chart_view;
    RhythmTab* rhythm_tab;
    CompareTab* compare_tab;
    DoseTab* dose_tab;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Show(const reporting::ReportWindowState& w);
    void ShowChart(const reporting::ChartData& plot);
    // The chart, the rhythm tab, the raw panel's counter and the status line of an acquisition
    // the window has not reported yet.
    void ResetViews(const std::filesystem::path& folder);
    reporting::ReportEnvironment Environment();
    // Runs a raw-data hook, or says raw data processing is not available.
    void RunRawProcessing(const std::function<void()>& hook);

    AppContext& ctx_;
    reporting::ReportWindowState state_;
    reporting::ReportOutcome outcome_;
    bool stop_requested_ = false;
    std::optional<bool> opened_;  // whether the report run's file could be opened
};

// "Report Output...": the report window for the current project's latest acquisition ("Activity
// file not Found" when it has none).
void ShowLatestReport(ReportOpener host);

// The `mn_userbin` entry ("User Defined BIN size") chosen with its mark `checked`: the stored
// configuration follows the mark and Frm_reportset is shown.
void ShowUserReportSettings(ReportOpener host, bool checked);

// Opens the report window for an acquisition folder as the main window's report command does.
frm_report* OpenReportWindow(ReportOpener host, const std::filesystem::path& folder);
// The same with `basal_items` in `cmbbasal` (the offline browser lists them in its own order).
frm_report* OpenReportWindow(ReportOpener host, const std::filesystem::path& folder,
                             const std::vector<std::string>& basal_items);

// The end of a recorded acquisition on the report side: with `mn_userbin` checked the report is
// generated from the stored settings at once; otherwise the report window is opened for the
// folder and "Acquisition finished" is shown.
reporting::ReportOutcome ReportAfterRun(ReportOpener host, const std::filesystem::path& folder);

}  // namespace lumivo::app
