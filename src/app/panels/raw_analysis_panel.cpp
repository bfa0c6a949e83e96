#include "app/panels/raw_analysis_panel.h"

#include <QApplication>

#include "app/support/qt_dialogs.h"
#include "app/support/widget_helpers.h"
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
    PanelRunView(RawAnalysisWindow& window, Dialogs& dialogs)
        : window_(window), dialogs_(dialogs) {}
    void ShowStatus(const std::string& text) override { window_.ShowBlockStatus(ToQ(text)); }
    void ShowBinSize(const std::string& text) override { window_.ShowBinText(text); }
    bool StopRequested() override {
        dialogs_.ProcessEvents();
        return window_.StopRequested();
    }

  private:
    RawAnalysisWindow& window_;
    Dialogs& dialogs_;
};

// Everything of the window but STOP is locked while RUN works: a second RUN, a report or an
// export of the same folder would read the files the run is about to replace.
class RunLock {
  public:
    explicit RunLock(RawAnalysisWindow& w) : w_(w) { w_.LockForRun(true); }
    ~RunLock() { w_.LockForRun(false); }
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

  private:
    RawAnalysisWindow& w_;
};

}  // namespace

RawRunOutcome RunRawReanalysis(RawAnalysisWindow& window, Dialogs& dialogs,
                               ReportEnvironment& env) {
    ReportWindowState state = window.Choices();
    // A lapse below the shortest one is raised; the box shows what is used.
    std::string shown = state.datalapse_text;
    ReanalysisLimitMinutes(state.replace_data, state.datalapse_text, &shown);
    if (shown != state.datalapse_text) {
        window.ShowLapse(shown);
        state.datalapse_text = shown;
    }
    const RawRunRequest request = RawRunRequestFromWindow(state, QueryDecimalSymbol());
    PanelRunView view(window, dialogs);
    RawRunOutcome out;
    {
        RunLock lock(window);
        out = ReanalyzeRawData(env, request, view);
    }
    if (out.stopped)
        window.ShowBlockStatus(QString("Stopped at block %1/%2")
                                   .arg(out.analysed)
                                   .arg(static_cast<qulonglong>(out.blocks)));
    else if (!out.completed)
        window.ShowBlockStatus("Not done: see the message");
    return out;
}

void ExportPerWellFiles(RawAnalysisWindow& window, StorageContext& storage) {
    ExportEnvironment env{storage};
    bool opened = false;
    env.open_folder = [&](const fs::path& p) { opened = window.OpenWritten(p) || opened; };
    env.open_file = [&](const fs::path& p) { opened = window.OpenWritten(p) || opened; };
    const ReportWindowState choices = window.Choices();
    const ActivityExportOutcome out =
        ExportActivityFiles(env, choices.input_folder, choices.bin_text);
    if (!out.written) {
        window.ShowStatus("No files were exported" +
                          (out.failure.empty() ? std::string(".") : ": " + out.failure));
        return;
    }
    if (out.bin_size > 0) window.ShowBinText(std::to_string(out.bin_size));
    window.ShowStatus(std::to_string(out.files.size()) + " files written into " +
                      out.notes_file.parent_path().string() + ", described in " +
                      out.notes_file.filename().string() + window.OpenedNote(opened));
}

void ExportForRAndPython(RawAnalysisWindow& window, StorageContext& storage, Dialogs& dialogs) {
    TidyExportRequest request;
    const ReportWindowState choices = window.Choices();
    request.folder = choices.input_folder;
    request.bin_size = LeadingWholeNumber(choices.bin_text);
    const TidyExportOutcome out = ExportTidyTables(storage, request);
    if (!out.written) {  // the reason was shown
        window.ShowStatus("The tables for R and Python were not written" +
                          (out.failure.empty() ? std::string(".") : ": " + out.failure));
        return;
    }
    window.ShowBinText(std::to_string(out.bin_size));
    const bool opened = window.OpenWritten(out.activity_file.parent_path());
    window.ShowStatus("Tables for R and Python written: " + out.activity_file.string() + " and " +
                      out.metadata_file.filename().string() + window.OpenedNote(opened));
    dialogs.MessageBox("The tables for R and Python were written, one row per well and " +
                       std::to_string(out.bin_size) + "-minute bin:\n" +
                       out.activity_file.string() + " (" + std::to_string(out.activity_rows) +
                       " rows)\n" + out.metadata_file.string() + " (" + std::to_string(out.ids) +
                       " wells)");
}

}  // namespace lumivo::app
