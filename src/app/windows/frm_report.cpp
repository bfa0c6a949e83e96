#include "app/windows/frm_report.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <QMenuBar>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <cctype>

#include "app/panels/raw_analysis_panel.h"
#include "app/panels/rhythm_tab.h"
#include "app/panels/screen_tabs.h"
#include "app/plots/activity_chart.h"
#include "app/support/qt_dialogs.h"
#include "app/support/widget_helpers.h"
#include "app/support/window_placement.h"
#include "app/windows/frm_reportset.h"
#include "core/reporting/report/report_inputs.h"
#include "core/storage/project_setup.h"

namespace lumivo::app {

namespace fs = std::filesystem;
using namespace lumivo::reporting;

namespace {

// A note of the core's ("the recording ... : bin size corrected to 90 min") as a sentence of
// the status line.
std::string Sentence(std::string note) {
    if (!note.empty())
        note[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(note[0])));
    if (!note.empty() && note.back() != '.') note += '.';
    return note;
}

// Where a report run put its files.
std::string WrittenReportText(const ReportOutcome& o) {
    std::string text = "Report written: " + o.report_file.string();
    if (!o.copy_file.empty()) text += ", its copy " + o.copy_file.filename().string();
    if (!o.chart_file.empty()) text += " and the chart " + o.chart_file.filename().string();
    return text;
}

}  // namespace

namespace {

// The report window as its raw-data panel sees it: the choices, the boxes it corrects, the
// block counter and the lock of everything but STOP while RUN works.
class ReportRawSide final : public RawAnalysisWindow {
  public:
    explicit ReportRawSide(frm_report& w) : w_(w) {}
    ReportWindowState Choices() const override { return w_.State(); }
    void ShowLapse(const std::string& text) override { w_.frmtxt_datalapse->setText(ToQ(text)); }
    void ShowBinText(const std::string& text) override { w_.report_options->SetBinText(text); }
    void ShowBlockStatus(const QString& text) override {
        w_.frmlbl_status->setText(text);
        w_.frmlbl_status->repaint();
    }
    bool StopRequested() const override { return w_.StopRequested(); }
    void LockForRun(bool locked) override {
        const bool idle = !locked;
        SetAllEnabled(
            {w_.Frame_main, w_.cmd_runframe, w_.frmtxt_threshold, w_.Cmb_organism, w_.Cmb_dspmethod,
             w_.frmtxt_datalapse, w_.Chk_replacedata, w_.Chk_rawexport, w_.chk_autoreport},
            idle);
        if (idle) w_.frmtxt_datalapse->setEnabled(!w_.Chk_replacedata->isChecked());
        w_.mnadvance->setEnabled(idle);
        w_.cmd_stopframe->setEnabled(!idle);
    }
    void ShowStatus(const std::string& text) override { w_.ShowStatus(text); }
    bool OpenWritten(const fs::path& path) override { return w_.OpenWritten(path); }
    std::string OpenedNote(bool opened) const override { return w_.OpenedNote(opened); }

  private:
    frm_report& w_;
};

}  // namespace

frm_report::frm_report(AppContext& ctx, QWidget* parent) : QWidget(parent, Qt::Window), ctx_(ctx) {
    setObjectName("frm_report");
    setWindowTitle("Report Output");
    auto* outer = new QVBoxLayout(this);
    auto* menu_bar = new QMenuBar(this);
    mnadvance = Named(menu_bar->addMenu("Advanced"), "mnadvance");
    mnrecalculate = Named(mnadvance->addAction("Analyze Raw Data"), "mnrecalculate");
    mncircadian = Named(mnadvance->addAction("1 file/well Report"), "mncircadian");
    mntidyexport = Named(mnadvance->addAction("Export for R/Python..."), "mntidyexport");
    outer->setMenuBar(menu_bar);

    auto* body = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    Txt_inputfile = Named(new QLineEdit(this), "Txt_inputfile");
    Txt_inputfile->setReadOnly(true);
    left->addWidget(Txt_inputfile);

    Frame_main = Named(new QGroupBox(this), "Frame_main");
    auto* grid = new QGridLayout(Frame_main);
    report_options = new ReportOptionsPanel(
        std::vector<const char*>(ReportOutputCaptions().begin(), ReportOutputCaptions().end()),
        Frame_main);
    report_options->SetOutputOffered(4, false);
    connect(report_options, &ReportOptionsPanel::fileTypeClicked, this,
            &frm_report::Option_report_Click);
    grid->addWidget(report_options, 0, 0, 1, 3);

    auto* basal_row = new QHBoxLayout;
    basal_row->addWidget(new QLabel("Basal Measure:", Frame_main));
    cmbbasal = Named(new QComboBox(Frame_main), "cmbbasal");
    cmbbasal->setMinimumWidth(220);
    basal_row->addWidget(cmbbasal, 1);
    grid->addLayout(basal_row, 1, 0, 1, 3);

    Cmd_generate = Named(new QPushButton("Generate...", Frame_main), "Cmd_generate");
    Cmd_cancel = Named(new QPushButton("Cancel", Frame_main), "Cmd_cancel");
    grid->addLayout(ButtonRow({Cmd_generate, Cmd_cancel}), 2, 0, 1, 3);
    left->addWidget(Frame_main);

    Frame_run = Named(new QGroupBox("Raw data processing:", this), "Frame_run");
    auto* run = new QGridLayout(Frame_run);
    run->addWidget(new QLabel("Threshold:", Frame_run), 0, 0);
    frmtxt_threshold = Named(new QLineEdit(Frame_run), "frmtxt_threshold");
    frmtxt_threshold->installEventFilter(this);
    run->addWidget(frmtxt_threshold, 0, 1);
    run->addWidget(new QLabel("Organism:", Frame_run), 1, 0);
    Cmb_organism = Named(new QComboBox(Frame_run), "Cmb_organism");
    for (const char* o : ReportOrganismNames()) Cmb_organism->addItem(o);
    run->addWidget(Cmb_organism, 1, 1);
    run->addWidget(new QLabel("Method:", Frame_run), 2, 0);
    Cmb_dspmethod = Named(new QComboBox(Frame_run), "Cmb_dspmethod");
    for (const char* m : ReportMethodNames()) Cmb_dspmethod->addItem(m);
    run->addWidget(Cmb_dspmethod, 2, 1);
    frmtxt_datalapse = Named(new QLineEdit(Frame_run), "frmtxt_datalapse");
    frmtxt_datalapse->setToolTip("Hours from the start to analyse again; blank: all");
    run->addWidget(new QLabel("Lapse (hours):", Frame_run), 3, 0);
    run->addWidget(frmtxt_datalapse, 3, 1);
    Chk_replacedata = Named(new QCheckBox("Replace old data", Frame_run), "Chk_replacedata");
    Chk_rawexport = Named(new QCheckBox("Export Raw", Frame_run), "Chk_rawexport");
    chk_autoreport = Named(new QCheckBox("Autoreport", Frame_run), "chk_autoreport");
    run->addWidget(Chk_replacedata, 4, 0);
    run->addWidget(Chk_rawexport, 4, 1);
    run->addWidget(chk_autoreport, 5, 0);
    cmd_runframe = Named(new QPushButton("RUN", Frame_run), "cmd_runframe");
    cmd_stopframe = Named(new QPushButton("STOP", Frame_run), "cmd_stopframe");
    run->addWidget(cmd_runframe, 6, 0);
    run->addWidget(cmd_stopframe, 6, 1);
    frmlbl_status = Named(new QLabel("Block xx/xx", Frame_run), "frmlbl_status");
    run->addWidget(frmlbl_status, 7, 0, 1, 2);
    cmd_stopframe->setEnabled(false);  // while RUN works
    Frame_run->hide();
    left->addWidget(Frame_run);
    left->addStretch();
    body->addLayout(left);

    report_tabs = Named(new QTabWidget(this), "report_tabs");
    chart_view = Named(new QChartView(report_tabs), "chart_view");
    chart_view->setRenderHint(QPainter::Antialiasing);
    chart_view->setMinimumSize(520, 360);
    chart_view->chart()->setTitle("No report yet");
    report_tabs->addTab(chart_view, "Report");
    rhythm_tab = new RhythmTab(
        ctx_.storage, [this] { return fs::path(FromQ(Txt_inputfile->text())); }, report_tabs);
    report_tabs->addTab(rhythm_tab, "Rhythm and sleep");
    rhythm_tab->open_file = [this](const fs::path& path) { return OpenWritten(path); };
    compare_tab = new CompareTab(
        ctx_.storage, [this] { return fs::path(FromQ(Txt_inputfile->text())); }, report_tabs);
    report_tabs->addTab(compare_tab, "Compare");
    dose_tab = new DoseTab(
        ctx_.storage, [this] { return fs::path(FromQ(Txt_inputfile->text())); }, report_tabs);
    report_tabs->addTab(dose_tab, "Dose-response");
    for (ScreenTab* tab :
         {static_cast<ScreenTab*>(compare_tab), static_cast<ScreenTab*>(dose_tab)}) {
        tab->open_file = [this](const fs::path& path) { return OpenWritten(path); };
        // A replicate plate: another acquisition folder, one at a time.
        tab->choose_plates = [this]() -> std::vector<fs::path> {
            const fs::path here(FromQ(Txt_inputfile->text()));
            const QString chosen = QFileDialog::getExistingDirectory(
                this, "Replicate plate (acquisition folder)", ToQ(here.parent_path().string()));
            if (chosen.isEmpty()) return {};
            return {fs::path(FromQ(chosen))};
        };
    }
    body->addWidget(report_tabs, 1);
    outer->addLayout(body);
    lbl_reportstatus = Named(new QLabel(this), "lbl_reportstatus");
    lbl_reportstatus->setWordWrap(true);
    lbl_reportstatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    outer->addWidget(lbl_reportstatus);

    ConnectClicks(this, {{Cmd_generate, &frm_report::Cmd_generate_Click},
                         {Cmd_cancel, &frm_report::Cmd_cancel_Click},
                         {Chk_rawexport, &frm_report::Chk_rawexport_Click},
                         {Chk_replacedata, &frm_report::Chk_replacedata_Click},
                         {cmd_runframe, &frm_report::cmd_runframe_Click},
                         {cmd_stopframe, &frm_report::cmd_stopframe_Click}});
    connect(Cmb_organism, &QComboBox::activated, this, [this](int) { Cmb_organism_Click(); });
    connect(mnrecalculate, &QAction::triggered, this, &frm_report::mnrecalculate_Click);
    connect(mncircadian, &QAction::triggered, this, &frm_report::mncircadian_Click);
    connect(mntidyexport, &QAction::triggered, this, &frm_report::mntidyexport_Click);
    RawReanalysis = [this] {
        ReportEnvironment env = Environment();
        opened_.reset();
        ReportRawSide side(*this);
        const RawRunOutcome out = RunRawReanalysis(side, ctx_.dialogs, env);
        if (out.stopped) {
            ShowStatus("Raw data processing stopped: nothing was changed or written.");
            return;
        }
        if (!out.report.written) {
            ShowStatus("Raw data processing wrote no report" +
                       (out.failure.empty() ? std::string(".") : ": " + out.failure));
            return;
        }
        outcome_ = out.report;
        ShowChart(outcome_.chart);
        std::string text = "Re-analysed " + std::to_string(out.analysed) + " of " +
                           std::to_string(out.blocks) + " blocks; " + WrittenReportText(outcome_) +
                           OpenedNote(opened_.value_or(false));
        if (out.replaced)
            text += ". counts.bin holds the new counts; the recorded ones are in " +
                    out.backup_file.string();
        if (!out.event_files.empty())
            text += ". " + std::to_string(out.event_files.size()) + " event files (ch*.raw) in " +
                    out.event_files.front().parent_path().string();
        for (const std::string& note : {out.bin_size_note, outcome_.bin_size_note})
            if (!note.empty()) text += ". " + Sentence(note);
        ShowStatus(text);
    };
    PerWellExport = [this] {
        ReportRawSide side(*this);
        ExportPerWellFiles(side, ctx_.storage);
    };
    // Room for the rhythm views' charts, several to a picture, to be read.
    resize(1180, 780);
    KeepWindowPlace(this);
}

// ---- Copying the state in and out ----

void frm_report::Show(const ReportWindowState& w) {
    state_ = w;
    report_options->SetOutputOffered(4, w.histogram_visible);
    report_options->Show(w);
    cmbbasal->clear();
    for (const auto& item : w.basal_items) cmbbasal->addItem(ToQ(item));
    cmbbasal->setCurrentIndex(cmbbasal->findText(ToQ(w.basal_text)));
    Txt_inputfile->setText(ToQ(w.input_folder));
    Cmb_dspmethod->setCurrentIndex(w.method);
    Cmb_organism->setCurrentIndex(w.organism);
    frmtxt_threshold->setText(ToQ(w.threshold_text));
    frmtxt_datalapse->setText(ToQ(w.datalapse_text));
    frmtxt_datalapse->setEnabled(w.datalapse_enabled);
    Chk_replacedata->setChecked(w.replace_data);
    Chk_rawexport->setChecked(w.raw_export);
    chk_autoreport->setChecked(w.autoreport);
}

ReportWindowState frm_report::State() const {
    ReportWindowState w = state_;
    report_options->Take(w);
    w.histogram_visible = report_options->OutputOffered(4);
    w.basal_items.clear();
    for (int i = 0; i < cmbbasal->count(); ++i)
        w.basal_items.push_back(FromQ(cmbbasal->itemText(i)));
    w.basal_text = FromQ(cmbbasal->currentText());
    w.input_folder = FromQ(Txt_inputfile->text());
    w.method = Cmb_dspmethod->currentIndex();
    w.organism = Cmb_organism->currentIndex();
    w.threshold_text = FromQ(frmtxt_threshold->text());
    w.datalapse_text = FromQ(frmtxt_datalapse->text());
    w.datalapse_enabled = frmtxt_datalapse->isEnabled();
    w.replace_data = Chk_replacedata->isChecked();
    w.raw_export = Chk_rawexport->isChecked();
    w.autoreport = chk_autoreport->isChecked();
    return w;
}

// ---- Load and opening ----

void frm_report::Form_Load(bool user_defined) {
    ReportWindowState w = State();
    LoadReportWindow(ctx_.storage, ctx_.state.report, user_defined, w);
    Show(w);
}

bool frm_report::OpenFor(const fs::path& folder, const std::string& main_bin_text,
                         const std::vector<std::string>& basal_items) {
    ReportWindowState w = State();
    if (!OpenReportWindowFor(ctx_.storage, folder, main_bin_text, w)) return false;
    w.basal_items = basal_items;
    w.basal_text = basal_items.empty() ? std::string() : basal_items.front();
    Show(w);
    ResetViews(folder);
    return true;
}

void frm_report::ResetViews(const fs::path& folder) {
    // Nothing of another acquisition stays on show: its chart, its rhythm view, its counter.
    const std::string name = ReadExperimentName(ctx_.storage, folder);
    const std::string caption =
        folder.filename().string() + (name.empty() ? std::string() : " \"" + name + "\"");
    setWindowTitle(ToQ("Report Output - " + caption));
    outcome_ = ReportOutcome{};
    ChartData empty;
    empty.title = "No report of " + caption + " yet: press Generate...";
    ShowChart(empty);
    rhythm_tab->FolderChanged();
    compare_tab->FolderChanged();
    dose_tab->FolderChanged();
    frmlbl_status->setText("Block xx/xx");
    ShowStatus("");
}

void frm_report::ShowStatus(const std::string& text) {
    lbl_reportstatus->setText(ToQ(text));
}

std::string frm_report::status() const {
    return FromQ(lbl_reportstatus->text());
}

bool frm_report::OpenWritten(const fs::path& path) {
    return OpenDocument && OpenDocument(QUrl::fromLocalFile(QString::fromStdString(path.string())));
}

std::string frm_report::OpenedNote(bool opened) const {
    return opened ? " (opened)" : " (no application could open it)";
}

// ---- Handlers ----

ReportEnvironment frm_report::Environment() {
    ReportEnvironment env{ctx_.storage, ctx_.clock};
    env.open_file = [this](const fs::path& path) { opened_ = OpenWritten(path); };
    env.format_date = [](const LocalDateTime& t) { return FromQ(LocaleDateTime(t)); };
    env.raw_reanalysis = [this]() -> std::string {
        if (!RawReanalysis) return kRawProcessingUnavailable;
        const fs::path folder = FromQ(Txt_inputfile->text());
        if (!ctx_.files.IsFile(folder / "0.bin"))
            return reporting::RealTimeDataNotFoundText(ctx_.files, folder);
        Frame_run->show();
        ctx_.dialogs.ProcessEvents();
        ctx_.clock.SleepMs(1000);
        Chk_rawexport->setChecked(true);
        stop_requested_ = false;
        RawReanalysis();
        return std::string();
    };
    return env;
}

void frm_report::Cmd_generate_Click() {
    ReportEnvironment env = Environment();
    opened_.reset();
    outcome_ = GenerateReport(env, RequestFromWindow(State(), QueryDecimalSymbol()));
    if (outcome_.bin_size > 0) report_options->SetBinText(std::to_string(outcome_.bin_size));
    if (!outcome_.written) {
        ShowStatus("No report was written" +
                   (outcome_.failure.empty() ? std::string(".") : ": " + outcome_.failure));
        return;
    }
    ShowChart(outcome_.chart);
    std::string text = WrittenReportText(outcome_) + OpenedNote(opened_.value_or(false));
    if (!outcome_.bin_size_note.empty()) text += ". " + Sentence(outcome_.bin_size_note);
    ShowStatus(text);
}

void frm_report::RunAutomaticReport() {
    Frame_main->setEnabled(false);
    ReportEnvironment env = Environment();
    outcome_ = reporting::RunAutomaticReport(env, RequestFromWindow(State(), QueryDecimalSymbol()),
                                             ctx_.state.report.config.rawexport == 1);
    if (outcome_.written) ShowChart(outcome_.chart);
    chk_autoreport->setChecked(false);
    Frame_main->setEnabled(true);
    hide();
}

void frm_report::Cmd_cancel_Click() {
    cmbbasal->clear();
    Frame_run->hide();
    hide();
}

void frm_report::Option_output_Click() {
    report_options->OfferStatisticBoxes();
}

void frm_report::Option_report_Click(int index) {
    ReportWindowState w = State();
    ReportFileTypeChosen(ctx_.state.report, index, w);
    report_options->SetSpacer(w.spacer);
}

void frm_report::Cmb_organism_Click() {
    ReportWindowState w = State();
    OrganismChosen(Cmb_organism->currentIndex(), w);
    frmtxt_threshold->setText(ToQ(w.threshold_text));
}

void frm_report::frmtxt_threshold_LostFocus() {
    ReportWindowState w = State();
    ThresholdLeft(w);
    frmtxt_threshold->setText(ToQ(w.threshold_text));
}

void frm_report::Chk_rawexport_Click() {
    ReportWindowState w = State();
    RawExportChecked(Chk_rawexport->isChecked(), w);
    Chk_replacedata->setChecked(w.replace_data);
    frmtxt_datalapse->setText(ToQ(w.datalapse_text));
    frmtxt_datalapse->setEnabled(w.datalapse_enabled);
}

void frm_report::Chk_replacedata_Click() {
    frmtxt_datalapse->setEnabled(!Chk_replacedata->isChecked());
}

void frm_report::mnrecalculate_Click() {
    const fs::path folder = FromQ(Txt_inputfile->text());
    if (!ctx_.files.IsFile(folder / "0.bin")) {
        ctx_.dialogs.MessageBox(reporting::RealTimeDataNotFoundText(ctx_.files, folder));
        return;
    }
    Frame_run->show();
}

void frm_report::RunRawProcessing(const std::function<void()>& hook) {
    if (hook)
        hook();
    else
        ctx_.dialogs.MessageBox(kRawProcessingUnavailable);
}

void frm_report::mncircadian_Click() {
    RunRawProcessing(PerWellExport);
}

void frm_report::cmd_runframe_Click() {
    stop_requested_ = false;
    RunRawProcessing(RawReanalysis);
}

void frm_report::cmd_stopframe_Click() {
    stop_requested_ = true;
}

void frm_report::mntidyexport_Click() {
    ReportRawSide side(*this);
    ExportForRAndPython(side, ctx_.storage, ctx_.dialogs);
}

// ---- Window events ----

void frm_report::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The automatic report runs once the window is up, outside the show itself.
    if (chk_autoreport->isChecked())
        QTimer::singleShot(0, this, [this] {
            if (chk_autoreport->isChecked()) RunAutomaticReport();
        });
}

void frm_report::closeEvent(QCloseEvent* event) {
    if (SetMainBinText) SetMainBinText(State().bin_text);
    cmbbasal->clear();
    QWidget::closeEvent(event);
}

bool frm_report::eventFilter(QObject* watched, QEvent* event) {
    if (watched == frmtxt_threshold && event->type() == QEvent::FocusOut)
        frmtxt_threshold_LostFocus();
    return QWidget::eventFilter(watched, event);
}

// ---- The chart ----

void frm_report::ShowChart(const ChartData& plot) {
    ShowActivityChart(*chart_view, plot);
}

// ---- The main window's side ----

frm_report* OpenReportWindow(ReportOpener host, const fs::path& folder) {
    return OpenReportWindow(host, folder, BasalChoices(host.ctx.storage, folder));
}

frm_report* OpenReportWindow(ReportOpener host, const fs::path& folder,
                             const std::vector<std::string>& basal_items) {
    QWidget& main = host.parent.window();
    auto* window = main.findChild<frm_report*>(QString(), Qt::FindDirectChildrenOnly);
    if (window == nullptr) {
        window = new frm_report(host.ctx, &main);
        window->OpenDocument = [&parent = host.parent](const QUrl& url) {
            return parent.OpenDocument(url);
        };
        window->SetMainBinText = [&bins = host.bins](const std::string& text) {
            bins.SetReportBinText(text);
        };
    }
    window->Form_Load(host.bins.UserDefinedReport());
    if (!window->OpenFor(folder, host.bins.ReportBinText(), basal_items)) return nullptr;
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

ReportOutcome ReportAfterRun(ReportOpener host, const fs::path& folder) {
    AppContext& ctx = host.ctx;
    ReportEnvironment env{ctx.storage, ctx.clock};
    env.open_file = [&parent = host.parent](const fs::path& path) {
        parent.OpenDocument(QUrl::fromLocalFile(QString::fromStdString(path.string())));
    };
    env.format_date = [](const LocalDateTime& t) { return FromQ(LocaleDateTime(t)); };
    const bool automatic = host.bins.UserDefinedReport();
    ReportOutcome outcome =
        ReportAfterAcquisition(env, ctx.state.report, automatic, folder, host.bins.ReportBinText(),
                               [host, &folder] { OpenReportWindow(host, folder); });
    // Nobody may be at the screen when a run ends: a report that failed stays in the status
    // line after its message box is gone.
    if (automatic && !outcome.written) {
        host.log.ShowStatusLine("The automatic report was not written: " + outcome.failure);
    } else if (automatic && !outcome.raw_export_failure.empty()) {
        host.log.ShowStatusLine(
            "The automatic report was written; the raw data were not exported: " +
            outcome.raw_export_failure);
    }
    host.parent.window().show();
    return outcome;
}

void ShowLatestReport(ReportOpener host) {
    AppContext& ctx = host.ctx;
    const fs::path project = ctx.state.project.ProjectFolder;
    const std::string latest = FindLatestAcquisition(ctx.storage, project);
    if (latest.empty()) {
        ctx.dialogs.MessageBox(std::string(kActivityFileNotFound) + ": the project folder " +
                               project.string() +
                               " holds no recorded acquisition yet: record one first.");
        return;
    }
    OpenReportWindow(host, project / latest);
}

void ShowUserReportSettings(ReportOpener host, bool checked) {
    AppContext& ctx = host.ctx;
    UserBinEntryChosen(ctx.storage, ctx.state.report, checked);
    QWidget& main = host.parent.window();
    auto* window = main.findChild<Frm_reportset*>(QString(), Qt::FindDirectChildrenOnly);
    if (window == nullptr) {
        window = new Frm_reportset(ctx.storage, ctx.state.report, &main);
        window->SetUserBinChecked = [&bins = host.bins](bool on) { bins.SetUserDefinedReport(on); };
        window->ShowMainWindow = [&parent = host.parent] { parent.ShowMainWindow(); };
    }
    window->Form_Load();
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace lumivo::app
