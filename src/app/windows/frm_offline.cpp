#include "app/windows/frm_offline.h"

#include <QBuffer>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPixmap>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStringDecoder>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>

#include "app/plots/activity_chart.h"
#include "app/support/qt_dialogs.h"
#include "app/support/widget_helpers.h"
#include "app/support/window_placement.h"
#include "app/windows/frm_report.h"
#include "core/acquisition/record_file_io.h"
#include "core/offline/join_acquisitions.h"
#include "core/offline/offline_reanalysis.h"
#include "core/reporting/report/report_settings.h"

namespace lumivo::app {

namespace fs = std::filesystem;
using namespace lumivo::offline;

namespace {

constexpr const char* kNoAcquisitionText =
    "Double-click a project to open it, then double-click one of its acquisitions to choose "
    "it.\n\nThe summary of the chosen acquisition is shown here; the buttons above report it, "
    "draw the activity of its groups, regroup its wells and analyse its raw data again.";
constexpr const char* kChooseAcquisitionFirst =
    "Choose an acquisition first: double-click it in the list.";
constexpr const char* kNothingToExport = "This view holds nothing to export yet.";
constexpr const char* kNoRawData =
    "This acquisition saved no raw data: its channel signals cannot be shown.";
constexpr const char* kAnalysisRunning =
    "The raw data are being analysed: press STOP (or wait for the end) before closing the "
    "window.";

// Texts of the files are 8-bit; the program's own texts (and names typed in UTF-8) are UTF-8.
QString Shown(const std::string& text) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    return utf8.hasError() ? ToQ(text) : decoded;
}

QString Lines(const std::vector<std::string>& lines) {
    QStringList shown;
    for (const auto& line : lines) shown << Shown(line);
    return shown.join('\n');
}

QAction* NamedAction(QMenu* menu, const char* name, const char* caption) {
    return Named(menu->addAction(caption), name);
}

}  // namespace

Frm_offline::Frm_offline(ReportOpener host, QWidget* parent)
    : QWidget(parent, Qt::Window), host_(host), ctx_(host.ctx) {
    setObjectName("Frm_offline");
    setWindowTitle("Analyze recorded experiments");
    BuildControls();
    BuildMenus();
    resize(1240, 800);
    KeepWindowPlace(this);
}

void Frm_offline::BuildControls() {
    auto* outer = new QVBoxLayout(this);
    // The list and the view side by side; the user moves the border to read long entries.
    auto* root = Named(new QSplitter(Qt::Horizontal, this), "frm_split");
    root->setChildrenCollapsible(false);
    outer->addWidget(root, 1);
    // The status line: what the last export wrote, and where.
    lbl_status = Named(new QLabel(this), "lbl_offlinestatus");
    lbl_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    outer->addWidget(lbl_status);

    // ---- Left: the list ----
    auto* left_widget = new QWidget(root);
    left_widget->setObjectName("frm_list");
    left_widget->setMinimumWidth(300);
    auto* left = new QVBoxLayout(left_widget);
    left->setContentsMargins(0, 0, 0, 0);
    auto* title_row = new QHBoxLayout;
    lbl_view = Named(new QLabel(left_widget), "lbl_view");
    lbl_date = Button(left_widget, "lbl_date", "Date");
    lbl_date->setFlat(true);
    lbl_date->setToolTip(
        "Sort by date (again: the other way); after an acquisition was chosen, "
        "list its project's acquisitions by date");
    lbl_orden = Named(new QLabel(ToQ(kDescendingMark), left_widget), "lbl_orden");
    title_row->addWidget(lbl_view, 1);
    title_row->addWidget(lbl_date);
    title_row->addWidget(lbl_orden);
    left->addLayout(title_row);

    auto* filter_row = new QHBoxLayout;
    filter_row->addWidget(new QLabel("Filter by:", left_widget));
    txt_search = Named(new QLineEdit(left_widget), "txt_search");
    txt_search->setPlaceholderText("words of names or dates");
    cmd_lupa = Button(left_widget, "cmd_lupa", "Apply");
    lblback = Button(left_widget, "lblback", "Show all");
    lblback->setToolTip("Clear the filter and show the project tree");
    filter_row->addWidget(txt_search, 1);
    filter_row->addWidget(cmd_lupa);
    filter_row->addWidget(lblback);
    left->addLayout(filter_row);

    Listpj = Named(new QListWidget(left_widget), "Listpj");
    Listpj->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Listpj->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Listpj->setContextMenuPolicy(Qt::CustomContextMenu);
    Listpj->installEventFilter(this);
    Listpj->setToolTip(
        "Double click or Enter: open a project, choose an acquisition; right button: "
        "rename, archive, find in folder, plate layout");
    left->addWidget(Listpj, 1);
    Cmd_join = Button(left_widget, "Cmd_join", "Join...");
    Cmd_join->setToolTip("Join the acquisitions selected in the date view into a new acquisition");
    left->addLayout(ButtonRow({Cmd_join}));
    root->addWidget(left_widget);

    // ---- Right: the chosen acquisition ----
    auto* right_widget = new QWidget(root);
    auto* right = new QVBoxLayout(right_widget);
    right->setContentsMargins(0, 0, 0, 0);
    root->addWidget(right_widget);
    root->setStretchFactor(1, 1);
    root->setSizes({400, 840});
    frm_commands = new QWidget(this);
    frm_commands->setObjectName("frm_commands");
    auto* commands = new QHBoxLayout(frm_commands);
    commands->setContentsMargins(0, 0, 0, 0);
    Cmd_report = Button(frm_commands, "Cmd_report", kNoReportCaption, false);
    Cmd_report->setToolTip("The report window for the chosen acquisition");
    Cmd_leegroups = Button(frm_commands, "Cmd_leegroups", "Group Activity", false);
    Cmd_leegroups->setToolTip("Activity of each group over the recording");
    cmdchannels = Button(frm_commands, "cmdchannels", "Channel Signal", false);
    cmdchannels->setToolTip("The readings of one channel, page by page of the raw data");
    cmd_editgroups = Button(frm_commands, "cmd_editgroups", "Edit Groups...", false);
    cmd_editgroups->setToolTip("Regroup the wells of the chosen acquisition");
    commands->addWidget(Cmd_report, 1);
    for (QPushButton* b : {Cmd_leegroups, cmdchannels, cmd_editgroups}) commands->addWidget(b);
    right->addWidget(frm_commands);

    auto* analysis = Named(new QGroupBox("Analyse the raw data again", this), "frm_analysis");
    auto* ag = new QHBoxLayout(analysis);
    cmb_modeanalisis = Named(new QComboBox(analysis), "cmb_modeanalisis");
    for (const char* mode : kAnalysisModes) cmb_modeanalisis->addItem(mode);
    cmb_modeanalisis->setItemData(0, "Re-analyse and write the report; counts.bin is kept",
                                  Qt::ToolTipRole);
    cmb_modeanalisis->setItemData(
        1, "Re-analyse, replace the counts of counts.bin (kept as counts.bak) and write the report",
        Qt::ToolTipRole);
    frmtxt_threshold = NumberBox(analysis, "frmtxt_threshold", 60);
    frmtxt_threshold->setToolTip(
        "Signal-to-noise factor, 1.1 to 6.0; 0.0: the factor the acquisition was recorded with");
    Cmd_analyze = Button(analysis, "Cmd_analyze", "Analyze", false);
    cmd_stopanalysis = Button(analysis, "cmd_stopanalysis", "STOP", false);
    lbl_analysis = Named(new QLabel(analysis), "lbl_analysis");
    ag->addWidget(new QLabel("Mode:", analysis));
    ag->addWidget(cmb_modeanalisis);
    ag->addWidget(new QLabel("Threshold:", analysis));
    ag->addWidget(frmtxt_threshold);
    ag->addWidget(Cmd_analyze);
    ag->addWidget(cmd_stopanalysis);
    ag->addWidget(lbl_analysis, 1);
    right->addWidget(analysis);

    Pic_status = new StatusStrip(this);
    right->addWidget(Pic_status);

    Picreal = Named(new QStackedWidget(this), "Picreal");
    txt_summary = Named(new QPlainTextEdit(Picreal), "txt_summary");
    txt_summary->setReadOnly(true);
    txt_summary->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Picreal->addWidget(txt_summary);

    auto* groups_page = new QWidget(Picreal);
    auto* gp = new QVBoxLayout(groups_page);
    gp->setContentsMargins(0, 0, 0, 0);
    auto* bin_row = new QHBoxLayout;
    bin_row->addWidget(new QLabel("Bin (min):", groups_page));
    cmb_groupbin = Named(new QComboBox(groups_page), "cmb_groupbin");
    cmb_groupbin->setEditable(true);
    cmb_groupbin->setCompleter(nullptr);
    for (const auto& bin : reporting::BinSizeChoices()) cmb_groupbin->addItem(ToQ(bin));
    bin_row->addWidget(cmb_groupbin);
    bin_row->addStretch();
    gp->addLayout(bin_row);
    Picgroups = Named(new QChartView(groups_page), "Picgroups");
    Picgroups->setRenderHint(QPainter::Antialiasing);
    gp->addWidget(Picgroups, 1);
    Picreal->addWidget(groups_page);

    auto* plate_page = new QWidget(Picreal);
    auto* pp = new QVBoxLayout(plate_page);
    pp->setContentsMargins(0, 0, 0, 0);
    lbl_plateconfig = Named(new QLabel(plate_page), "lbl_plateconfig");
    Picplate =
        Named(new PlateView(plate_config_.plate, plate_config_.project, plate_page), "Picplate");
    Picplate->setAttribute(Qt::WA_TransparentForMouseEvents);  // shown, not edited
    pp->addWidget(lbl_plateconfig);
    pp->addWidget(Picplate, 1);
    Picreal->addWidget(plate_page);

    // The channel-signal pages: the live view's signal plot on the recorded raw pages.
    frm_channelsignal = Named(new QWidget(Picreal), "frm_channelsignal");
    auto* sp = new QVBoxLayout(frm_channelsignal);
    sp->setContentsMargins(0, 0, 0, 0);
    auto* channel_row = new QHBoxLayout;
    txt_channel = Named(new QSpinBox(frm_channelsignal), "txt_channel");
    txt_channel->setRange(0, static_cast<int>(kBeamChannelCount) - 1);
    cmd_zoomin = Button(frm_channelsignal, "cmd_zoomin", "Zoom +");
    cmd_zoomout = Button(frm_channelsignal, "cmd_zoomout", "Zoom -");
    chk_zoomy = Named(new QCheckBox("Fit readings", frm_channelsignal), "chk_zoomy");
    chk_zoomy->setToolTip("The y axis fitted to the readings in view instead of 0 to 4095");
    channel_row->addWidget(new QLabel("Channel:", frm_channelsignal));
    channel_row->addWidget(txt_channel);
    channel_row->addStretch(1);
    for (QWidget* c : std::initializer_list<QWidget*>{cmd_zoomin, cmd_zoomout, chk_zoomy})
        channel_row->addWidget(c);
    sp->addLayout(channel_row);
    Picsignal = Named(new SignalPlot(frm_channelsignal), "Picsignal");
    Picsignal->setToolTip("Wheel: scroll; Ctrl + wheel: zoom");
    Picsignal->installEventFilter(this);
    sp->addWidget(Picsignal, 1);
    auto* page_row = new QHBoxLayout;
    scrollpage = Named(new QScrollBar(Qt::Horizontal, frm_channelsignal), "scrollpage");
    Txtpage = ReadOnlyBox(frm_channelsignal, "Txtpage", 90);
    page_row->addWidget(new QLabel("Page:", frm_channelsignal));
    page_row->addWidget(scrollpage, 1);
    page_row->addWidget(Txtpage);
    sp->addLayout(page_row);
    SetAllEnabled({scrollpage, Txtpage}, false);
    Picreal->addWidget(frm_channelsignal);

    Framegrup = new OfflineGroupEditor(ctx_.storage, Picreal);
    Picreal->addWidget(Framegrup);
    right->addWidget(Picreal, 1);

    connect(lbl_date, &QPushButton::clicked, this, &Frm_offline::lbl_date_Click);
    ConnectClicks(this, {{cmd_lupa, &Frm_offline::cmd_lupa_Click},
                         {lblback, &Frm_offline::lblback_Click},
                         {Cmd_join, &Frm_offline::Cmd_join_Click},
                         {Cmd_report, &Frm_offline::Cmd_report_Click},
                         {Cmd_leegroups, &Frm_offline::Cmd_leegroups_Click},
                         {cmd_editgroups, &Frm_offline::cmd_editgroups_Click},
                         {cmdchannels, &Frm_offline::cmdchannels_Click},
                         {cmd_zoomin, &Frm_offline::cmd_zoomin_Click},
                         {cmd_zoomout, &Frm_offline::cmd_zoomout_Click},
                         {Cmd_analyze, &Frm_offline::Cmd_analyze_Click},
                         {cmd_stopanalysis, &Frm_offline::cmd_stopanalysis_Click}});
    connect(scrollpage, &QScrollBar::valueChanged, this, [this] { scrollpage_Change(); });
    connect(txt_channel, &QSpinBox::valueChanged, this, [this] { txt_channel_Change(); });
    connect(chk_zoomy, &QCheckBox::toggled, Picsignal, &SignalPlot::SetZoomY);
    connect(txt_search, &QLineEdit::returnPressed, this, &Frm_offline::cmd_lupa_Click);
    connect(Listpj, &QListWidget::itemDoubleClicked, this, [this] { Listpj_DblClick(); });
    connect(cmb_groupbin, &QComboBox::activated, this, [this] { cmb_groupbin_Click(); });
    connect(cmb_groupbin->lineEdit(), &QLineEdit::returnPressed, this,
            [this] { cmb_groupbin_Click(); });
    connect(Framegrup, &OfflineGroupEditor::closed, this, [this] {
        SetBusy(false, false);
        ReloadAcquisition();
        ShowView(OfflineView::Summary);
    });
}

void Frm_offline::BuildMenus() {
    auto* bar = new QMenuBar(this);
    layout()->setMenuBar(bar);
    QMenu* file = Named(bar->addMenu("&File"), "mnfile");
    asciiexporta = NamedAction(file, "asciiexporta", "Export to ASCII...");
    bmpexporta = NamedAction(file, "bmpexporta", "Export to BMP...");
    file->addSeparator();
    QAction* close_action = NamedAction(file, "mnclose", "Close");
    connect(close_action, &QAction::triggered, this, &QWidget::close);

    mnlist = Named(bar->addMenu("&List"), "mnlist");
    lst_rename = NamedAction(mnlist, "lst_rename", "Rename");
    lst_delete = NamedAction(mnlist, "lst_delete", "Delete");
    lst_explorefind = NamedAction(mnlist, "lst_explorefind", "Find in Folder");
    lst_plateconfig = NamedAction(mnlist, "lst_plateconfig", "Plate Config");

    QMenu* watching = Named(bar->addMenu("&Watching Folders"), "mnwatch");
    for (std::size_t i = 0; i < txtfolder.size(); ++i) {
        txtfolder[i] = Named(watching->addAction(QString()), QString("txtfolder_%1").arg(i));
        const int index = static_cast<int>(i);
        connect(txtfolder[i], &QAction::triggered, this, [this, index] { txtfolder_Click(index); });
    }

    connect(asciiexporta, &QAction::triggered, this, &Frm_offline::asciiexporta_Click);
    connect(bmpexporta, &QAction::triggered, this, &Frm_offline::bmpexporta_Click);
    connect(lst_rename, &QAction::triggered, this, &Frm_offline::lst_rename_Click);
    connect(lst_delete, &QAction::triggered, this, &Frm_offline::lst_delete_Click);
    connect(lst_explorefind, &QAction::triggered, this, &Frm_offline::lst_explorefind_Click);
    connect(lst_plateconfig, &QAction::triggered, this, &Frm_offline::lst_plateconfig_Click);
    connect(Listpj, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        // The entry under the pointer becomes the current one; a selection for a join stays.
        if (QListWidgetItem* item = Listpj->itemAt(at))
            Listpj->setCurrentItem(item, QItemSelectionModel::NoUpdate);
        mnlist->exec(Listpj->viewport()->mapToGlobal(at));
    });
}

// ---- Load and what the window shows ----

void Frm_offline::Form_Load() {
    LoadBrowser(ctx_.storage, state_);
    for (std::size_t i = 0; i < txtfolder.size(); ++i)
        txtfolder[i]->setText(state_.watched_folders[i].empty() ? QString("(folder %1)").arg(i + 1)
                                                                : ToQ(state_.watched_folders[i]));
    cmb_modeanalisis->setCurrentIndex(0);
    frmtxt_threshold->setText(kOwnThresholdText);
    cmb_groupbin->setCurrentText(ToQ(host_.bins.ReportBinText()));
    txt_search->clear();
    lbl_analysis->clear();
    ShowAcquisition(std::nullopt);
    ShowList();
}

void Frm_offline::ShowList(std::optional<std::size_t> selection) {
    Listpj->clear();
    for (const auto& entry : state_.entries) Listpj->addItem(Shown(entry));
    if (selection && *selection < state_.entries.size())
        Listpj->setCurrentRow(static_cast<int>(*selection));
    lbl_orden->setText(ToQ(state_.order_mark));
    lbl_view->setText(state_.view == BrowserView::DateView
                          ? ToQ("Acquisitions of " + state_.current_project + " by date")
                          : QString(state_.filter_on ? "Projects (filtered)" : "Projects"));
    ShowControls();
}

void Frm_offline::ShowControls() {
    const BrowserControls& c = state_.controls;
    Cmd_report->setEnabled(c.report);
    Cmd_report->setText(Shown(c.report_caption));
    Cmd_leegroups->setEnabled(c.read_groups);
    Cmd_analyze->setEnabled(c.analyze && !analysing_);
    cmd_editgroups->setEnabled(c.report && opened_.has_value());
    cmdchannels->setEnabled(c.channels && signal_ != nullptr);
}

std::optional<std::size_t> Frm_offline::CurrentEntry() const {
    const int row = Listpj->currentRow();
    if (row < 0 || static_cast<std::size_t>(row) >= state_.entries.size()) return std::nullopt;
    return static_cast<std::size_t>(row);
}

std::optional<std::size_t> Frm_offline::ChosenEntry() const {
    if (!opened_) return std::nullopt;
    for (std::size_t i = 0; i < state_.entries.size(); ++i) {
        const EntryTarget t = TargetOf(state_, i);
        if (t.kind == EntryKind::Acquisition && t.project_folder == opened_->ref.project_folder() &&
            t.acquisition_folder == opened_->ref.folder)
            return i;
    }
    return std::nullopt;
}

void Frm_offline::ShowAcquisition(std::optional<OpenedAcquisition> opened) {
    opened_ = std::move(opened);
    activity_.reset();
    Picsignal->SetSource(nullptr);
    signal_.reset();
    const QSignalBlocker quiet(scrollpage);
    if (opened_) {
        txt_summary->setPlainText(Lines(opened_->summary));
        Pic_status->SetStatus(opened_->status);
        Txtpage->setText(ToQ(opened_->page_text));
        scrollpage->setRange(1, std::max(1, opened_->raw_pages));
        scrollpage->setValue(1);
        // The raw pages are counted, not read: the plot reads the windows it shows.
        if (opened_->raw_pages > 0) {
            signal_ = OpenRecordedSignal(ctx_.storage, opened_->ref.path());
            if (signal_ && signal_->RawWindowCount() == 0) signal_.reset();
        }
        if (signal_) {
            // One page across the plot, from its first reading; the source is handed over
            // last, so that only the windows of the first page are read.
            Picsignal->SetSpan(
                static_cast<std::int64_t>(kWindowsPerRawPage * signal_->WindowLength()));
            Picsignal->SetFirstReading(0);
            txt_channel_Change();
            Picsignal->SetSource(signal_.get());
            ShowPageOfPlot();
        }
    } else {
        txt_summary->setPlainText(kNoAcquisitionText);
        Pic_status->SetStatus(std::nullopt);
        Txtpage->clear();
        scrollpage->setRange(0, 0);
    }
    SetAllEnabled({scrollpage, Txtpage}, signal_ != nullptr);
    ShowView(OfflineView::Summary);
}

void Frm_offline::ReloadAcquisition() {
    if (!opened_) return;
    const std::optional<std::size_t> entry = ChosenEntry();
    const std::string text = entry ? state_.entries[*entry] : opened_->entry_text;
    std::optional<OpenedAcquisition> again = OpenAcquisition(ctx_.storage, opened_->ref, text);
    if (again && state_.controls.report) state_.controls.report_caption = again->report_caption;
    ShowAcquisition(std::move(again));
    ShowControls();
}

void Frm_offline::ShowView(OfflineView view) {
    Picreal->setCurrentIndex(static_cast<int>(view));
}

OfflineView Frm_offline::view() const {
    return static_cast<OfflineView>(Picreal->currentIndex());
}

void Frm_offline::SetBusy(bool analysing, bool editing) {
    analysing_ = analysing;
    const bool idle = !analysing && !editing;
    SetAllEnabled({findChild<QWidget*>("frm_list"), frm_commands, cmb_modeanalisis,
                   frmtxt_threshold, cmb_groupbin},
                  idle);
    for (QAction* a : {asciiexporta, bmpexporta, lst_rename, lst_delete, lst_plateconfig})
        a->setEnabled(idle || (editing && (a == asciiexporta || a == bmpexporta)));
    cmd_stopanalysis->setEnabled(analysing);
    ShowControls();
    if (!idle) Cmd_analyze->setEnabled(false);
}

// ---- The list ----

void Frm_offline::lbl_date_Click() {
    ClickDate(ctx_.storage, state_);
    ShowList(ChosenEntry());
}

void Frm_offline::cmd_lupa_Click() {
    ApplyFilter(ctx_.storage, state_, FromQ(txt_search->text()));
    ShowList();
}

void Frm_offline::lblback_Click() {
    const std::optional<std::size_t> current = CurrentEntry();
    const std::string previous = current ? state_.entries[*current] : std::string();
    const std::optional<std::size_t> selection = ClearFilter(ctx_.storage, state_, previous);
    txt_search->clear();
    ShowList(selection);
}

void Frm_offline::Listpj_DblClick() {
    const std::optional<std::size_t> entry = CurrentEntry();
    if (!entry) return;
    DoubleClickResult r = DoubleClickEntry(ctx_.storage, state_, *entry);
    if (r.opened) ShowAcquisition(std::move(r.opened));
    ShowList(r.selection);
}

void Frm_offline::Cmd_join_Click() {
    std::vector<std::size_t> selected;
    for (const QModelIndex& index : Listpj->selectionModel()->selectedRows())
        selected.push_back(static_cast<std::size_t>(index.row()));
    std::sort(selected.begin(), selected.end());
    PosixFileOps ops;
    const JoinOutcome out = JoinSelected(ctx_.storage, ops, ctx_.clock, state_, selected);
    if (out.joined) ShowList(ChosenEntry());
}

void Frm_offline::lst_rename_Click() {
    const std::optional<std::size_t> entry = CurrentEntry();
    if (!entry) return;
    const std::optional<std::size_t> selection = RenameEntry(ctx_.storage, state_, *entry);
    if (!selection) return;
    ShowList(selection);
    ReloadAcquisition();  // its name is in the summary and on the report button
}

void Frm_offline::lst_delete_Click() {
    const std::optional<std::size_t> entry = CurrentEntry();
    if (!entry || !ArchiveEntry(ctx_.storage, ctx_.clock, state_, *entry)) return;
    if (state_.current_acquisition.empty() && opened_) ShowAcquisition(std::nullopt);
    ShowList();
}

void Frm_offline::lst_explorefind_Click() {
    const std::optional<std::size_t> entry = CurrentEntry();
    if (!entry) return;
    const fs::path folder = FolderOf(ctx_.storage, TargetOf(state_, *entry));
    if (folder.empty()) return;
    if (!host_.parent.OpenDocument(QUrl::fromLocalFile(QString::fromStdString(folder.string()))))
        ctx_.dialogs.MessageBox("The file manager could not be started on " + folder.string() +
                                ".");
}

void Frm_offline::lst_plateconfig_Click() {
    const std::optional<std::size_t> entry = CurrentEntry();
    if (!entry) return;
    const std::optional<AcquisitionRef> target = PlateConfigTarget(ctx_.storage, state_, *entry);
    if (!target) return;
    std::optional<AcquisitionGroupEditor> layout = OpenGroupEditor(ctx_.storage, target->path());
    if (!layout) return;
    plate_config_ = std::move(*layout);
    lbl_plateconfig->setText(Shown(target->project_folder() + "/" + target->folder + "   plate " +
                                   plate_config_.project.Setup.Plate_format + " " +
                                   PlateLayoutCaption(plate_config_.plate)));
    Picplate->update();
    ShowView(OfflineView::PlateLayout);
}

void Frm_offline::txtfolder_Click(int index) {
    const auto item = static_cast<std::size_t>(index);
    if (EditWatchedFolder(ctx_.storage, state_, item))
        txtfolder[item]->setText(ToQ(state_.watched_folders[item]));
}

// ---- The chosen acquisition ----

reporting::ReportEnvironment Frm_offline::Environment() {
    reporting::ReportEnvironment env{ctx_.storage, ctx_.clock};
    env.open_file = [this](const fs::path& path) {
        host_.parent.OpenDocument(QUrl::fromLocalFile(QString::fromStdString(path.string())));
    };
    env.format_date = [](const LocalDateTime& t) { return FromQ(LocaleDateTime(t)); };
    return env;
}

void Frm_offline::Cmd_report_Click() {
    if (!opened_ || state_.current_acquisition.empty()) return;
    OpenReportWindow(host_, state_.current_acquisition, BasalChoicesOf(ctx_.storage, state_));
}

void Frm_offline::Cmd_leegroups_Click() {
    if (!opened_) {
        ctx_.dialogs.MessageBox(kChooseAcquisitionFirst);
        return;
    }
    reporting::ReportEnvironment env = Environment();
    activity_ = LoadGroupActivity(env, opened_->ref.path(), FromQ(cmb_groupbin->currentText()));
    if (!activity_) return;  // the report's message was shown
    if (activity_->bin_size_corrected)
        cmb_groupbin->setCurrentText(QString::number(activity_->bin_size));
    ShowActivityChart(*Picgroups, activity_->chart);
    ShowView(OfflineView::GroupActivity);
}

void Frm_offline::cmb_groupbin_Click() {
    if (view() == OfflineView::GroupActivity) Cmd_leegroups_Click();
}

void Frm_offline::cmd_editgroups_Click() {
    if (!opened_ || !Framegrup->Open(opened_->ref.path())) return;
    SetBusy(false, true);
    ShowView(OfflineView::GroupEditor);
}

// ---- The channel-signal pages ----

void Frm_offline::cmdchannels_Click() {
    if (!signal_) {
        ctx_.dialogs.MessageBox(opened_ ? kNoRawData : kChooseAcquisitionFirst);
        return;
    }
    ShowView(OfflineView::ChannelSignal);
}

void Frm_offline::ShowSignalPage(int page) {
    if (!signal_) return;
    const auto page_readings =
        static_cast<std::int64_t>(kWindowsPerRawPage * signal_->WindowLength());
    Picsignal->SetFirstReading(std::int64_t{std::max(page, 1) - 1} * page_readings);
    ShowPageOfPlot();
}

void Frm_offline::ShowPageOfPlot() {
    if (!signal_ || !opened_) return;
    const auto page_readings =
        static_cast<std::int64_t>(kWindowsPerRawPage * signal_->WindowLength());
    const int page = static_cast<int>(Picsignal->first_reading().value_or(0) / page_readings) + 1;
    const QSignalBlocker quiet(scrollpage);
    scrollpage->setValue(page);
    Txtpage->setText(QString("%1/%2").arg(page).arg(opened_->raw_pages));
}

void Frm_offline::scrollpage_Change() {
    ShowSignalPage(scrollpage->value());
}

void Frm_offline::txt_channel_Change() {
    const int channel = txt_channel->value();
    Picsignal->SetChannel(static_cast<std::size_t>(channel));
    const std::string caption = opened_ ? ChannelCaption(opened_->project, opened_->plate, channel)
                                        : "Channel " + std::to_string(channel);
    Picsignal->SetCaption(Shown(caption));
}

void Frm_offline::cmd_zoomin_Click() {
    Picsignal->ZoomIn();
}

void Frm_offline::cmd_zoomout_Click() {
    Picsignal->ZoomOut();
}

bool Frm_offline::eventFilter(QObject* watched, QEvent* event) {
    // The wheel scrolls the plot past page ends: the page box follows once it has moved.
    if (watched == Picsignal && event->type() == QEvent::Wheel)
        QTimer::singleShot(0, this, [this] { ShowPageOfPlot(); });
    // Enter on an entry does what a double click does.
    if (watched == Listpj && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Listpj_DblClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Re-analysis ----

void Frm_offline::Cmd_analyze_Click() {
    if (analysing_ || !opened_) return;
    OfflineAnalysisChoice choice;
    choice.mode = cmb_modeanalisis->currentIndex();
    choice.threshold_text = FromQ(frmtxt_threshold->text());
    choice.bin_text = host_.bins.ReportBinText();
    const fs::path folder = opened_->ref.path();
    const std::optional<reporting::RawRunRequest> request =
        OfflineAnalysisRequest(ctx_.storage, ctx_.state.report.config, folder, choice);
    if (!request) return;
    stop_requested_ = false;
    SetBusy(true, false);
    reporting::ReportEnvironment env = Environment();
    const reporting::RawRunOutcome out = ReanalyzeRawData(env, *request, *this);
    SetBusy(false, false);
    if (out.stopped)
        lbl_analysis->setText("Stopped: nothing was changed");
    else if (!out.completed)
        lbl_analysis->setText("Not analysed");
    else
        lbl_analysis->setText(
            QString("Done: %1 of %2 blocks re-analysed%3")
                .arg(out.analysed)
                .arg(out.blocks)
                .arg(out.replaced ? ", counts.bin replaced (counts.bak kept)" : ""));
    if (out.replaced) ReloadAcquisition();
}

void Frm_offline::cmd_stopanalysis_Click() {
    stop_requested_ = true;
}

void Frm_offline::ShowStatus(const std::string& text) {
    lbl_analysis->setText(ToQ(text));
}

void Frm_offline::ShowBinSize(const std::string& text) {
    lbl_analysis->setText(ToQ("Bin size raised to " + text + " min"));
}

bool Frm_offline::StopRequested() {
    return stop_requested_;
}

// ---- Exports ----

void Frm_offline::WriteAndOpen(const char* name, std::string content) {
    const fs::path file = ctx_.install_dir / name;
    try {
        ctx_.files.WriteFile(file, std::move(content));
    } catch (const StorageError& e) {
        lbl_status->setText(ToQ("Not written: " + file.string()));
        ctx_.dialogs.MessageBox(FileErrorTag(file) + " " + e.what());
        return;
    }
    const bool opened =
        host_.parent.OpenDocument(QUrl::fromLocalFile(QString::fromStdString(file.string())));
    lbl_status->setText(ToQ("Written: " + file.string() +
                            (opened ? " (opened)" : " (no application could open it)")));
    if (!opened)
        ctx_.dialogs.MessageBox(file.string() +
                                " was written; no application could be started to show it.");
}

void Frm_offline::asciiexporta_Click() {
    std::string text;
    switch (view()) {
        case OfflineView::Summary:
            if (opened_) text = opened_->SummaryText();
            break;
        case OfflineView::GroupActivity:
            if (activity_) text = GroupActivityTable(*activity_);
            break;
        case OfflineView::PlateLayout:
            text = PlateLayoutTable(plate_config_.project, plate_config_.plate);
            break;
        case OfflineView::GroupEditor:
            text = PlateLayoutTable(Framegrup->editor().project, Framegrup->editor().plate);
            break;
        case OfflineView::ChannelSignal:
            if (signal_)
                text = ChannelReadingsTable(
                    *signal_, FromQ(Picsignal->settings().caption), Picsignal->channel(),
                    Picsignal->first_reading().value_or(0), Picsignal->span());
            break;
    }
    if (text.empty()) {
        ctx_.dialogs.MessageBox(kNothingToExport);
        return;
    }
    WriteAndOpen(kAsciiExportFile, std::move(text));
}

void Frm_offline::bmpexporta_Click() {
    QWidget* shown = Picreal->currentWidget();
    const QImage image = shown->grab().toImage();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "BMP")) {
        ctx_.dialogs.MessageBox("The view could not be made into a picture.");
        return;
    }
    WriteAndOpen(kBmpExportFile, bytes.toStdString());
}

// ---- Closing ----

void Frm_offline::closeEvent(QCloseEvent* event) {
    if (analysing_) {
        ctx_.dialogs.MessageBox(kAnalysisRunning);
        event->ignore();
        return;
    }
    if (Framegrup->is_open() && !Framegrup->cmdcancelgrups_Click()) {
        event->ignore();
        return;
    }
    event->accept();
    if (ReturnToCaller) ReturnToCaller();
}

Frm_offline* ShowOfflineBrowser(ReportOpener host, std::function<void()> return_to) {
    QWidget& main = host.parent.window();
    auto* window = main.findChild<Frm_offline*>(QString(), Qt::FindDirectChildrenOnly);
    if (window == nullptr) window = new Frm_offline(host, &main);
    window->ReturnToCaller = std::move(return_to);
    window->Form_Load();
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

}  // namespace lumivo::app
