#include "app/windows/raw_analysis_panel.h"

#include <QApplication>

#include "app/support/qt_dialogs.h"
#include "app/support/widget_helpers.h"
#include "app/windows/frm_report.h"
#include "core/reporting/export/activity_export.h"
#include "core/reporting/export/tidy_export.h"
#include "core/reporting/report/report_writer.h"

namespace lumivo::app {

namespace fs = std::filesystem;
using namespace lumivo::reporting;

namespace {

// The panel while RUN works: the status label redrawn at every block, the bin box corrected,
// and STOP read after the window's events have run (so a click on it is seen).
class PanelRunView final : public RawRunView {
  public:
    PanelRunView(frm_report& window, Dialogs& dialogs) : window_(window), dialogs_(dialogs) {}
    void ShowStatus(const std::string& text) override {
        window_.frmlbl_status->setText(ToQ(text));
        window_.frmlbl_status->repaint();
    }
    void ShowBinSize(const std::string& text) override { window_.report_options->SetBinText(text); }
    bool StopRequested() override {
        dialogs_.ProcessEvents();
        return window_.StopRequested();
    }

  private:
    frm_report& window_;
    Dialogs& dialogs_;
};

// Everything of the window but STOP is locked while RUN works: a second RUN, a report or an
// export of the same folder would read the files the run is about to replace.
class RunLock {
  public:
    explicit RunLock(frm_report& w) : w_(w) { Set(false); }
    ~RunLock() { Set(true); }
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

  private:
    void Set(bool idle) {
        SetAllEnabled(
            {w_.Frame_main, w_.cmd_runframe, w_.frmtxt_threshold, w_.Cmb_organism, w_.Cmb_dspmethod,
             w_.frmtxt_datalapse, w_.Chk_replacedata, w_.Chk_rawexport, w_.chk_autoreport},
            idle);
        if (idle) w_.frmtxt_datalapse->setEnabled(!w_.Chk_replacedata->isChecked());
        w_.mnadvance->setEnabled(idle);
        w_.cmd_stopframe->setEnabled(!idle);
    }
    frm_report& w_;
};

}  // namespace

RawRunOutcome RunRawReanalysis(frm_report& window, AppContext& ctx, ReportEnvironment& env) {
    ReportWindowState state = window.State();
    // A lapse below the shortest one is raised; the box shows what is used.
    std::string shown = state.datalapse_text;
    ReanalysisLimitMinutes(state.replace_data, state.datalapse_text, &shown);
    if (shown != state.datalapse_text) {
        window.frmtxt_datalapse->setText(ToQ(shown));
        state.datalapse_text = shown;
    }
    const RawRunRequest request = RawRunRequestFromWindow(state, QueryDecimalSymbol());
    PanelRunView view(window, ctx.dialogs);
    RawRunOutcome out;
    {
        RunLock lock(window);
        out = ReanalyzeRawData(env, request, view);
    }
    if (out.stopped)
        window.frmlbl_status->setText(QString("Stopped at block %1/%2")
                                          .arg(out.analysed)
                                          .arg(static_cast<qulonglong>(out.blocks)));
    else if (!out.completed)
        window.frmlbl_status->setText("Not done: see the message");
    return out;
}

void ExportPerWellFiles(frm_report& window, AppContext& ctx) {
    ExportEnvironment env{ctx.storage};
    bool opened = false;
    env.open_folder = [&](const fs::path& p) { opened = window.OpenWritten(p) || opened; };
    env.open_file = [&](const fs::path& p) { opened = window.OpenWritten(p) || opened; };
    const ActivityExportOutcome out =
        ExportActivityFiles(env, FromQ(window.Txt_inputfile->text()), window.State().bin_text);
    if (!out.written) {
        window.ShowStatus("No files were exported" +
                          (out.failure.empty() ? std::string(".") : ": " + out.failure));
        return;
    }
    if (out.bin_size > 0) window.report_options->SetBinText(std::to_string(out.bin_size));
    window.ShowStatus(std::to_string(out.files.size()) + " files written into " +
                      out.notes_file.parent_path().string() + ", described in " +
                      out.notes_file.filename().string() + window.OpenedNote(opened));
}

void ExportForRAndPython(frm_report& window, AppContext& ctx) {
    TidyExportRequest request;
    request.folder = FromQ(window.Txt_inputfile->text());
    request.bin_size = LeadingWholeNumber(window.State().bin_text);
    const TidyExportOutcome out = ExportTidyTables(ctx.storage, request);
    if (!out.written) {  // the reason was shown
        window.ShowStatus("The tables for R and Python were not written" +
                          (out.failure.empty() ? std::string(".") : ": " + out.failure));
        return;
    }
    window.report_options->SetBinText(std::to_string(out.bin_size));
    const bool opened = window.OpenWritten(out.activity_file.parent_path());
    window.ShowStatus("Tables for R and Python written: " + out.activity_file.string() + " and " +
                      out.metadata_file.filename().string() + window.OpenedNote(opened));
    ctx.dialogs.MessageBox("The tables for R and Python were written, one row per well and " +
                           std::to_string(out.bin_size) + "-minute bin:\n" +
                           out.activity_file.string() + " (" + std::to_string(out.activity_rows) +
                           " rows)\n" + out.metadata_file.string() + " (" +
                           std::to_string(out.ids) + " wells)");
}

}  // namespace lumivo::app
