#include "app/panels/live_plots.h"

#include <QHBoxLayout>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "app/support/qt_dialogs.h"
#include "app/support/widget_helpers.h"

namespace lumivo::app {
namespace {

// Ten frames a second at most.
constexpr int kRefreshIntervalMs = 100;

// The groups in use, in number order.
std::set<int> GroupsInUse(const ProjectState& project) {
    std::set<int> groups;
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        const int g = project.ChannelGroup[c];
        if (g >= 0 && g < static_cast<int>(kChannelTableSize)) groups.insert(g);
    }
    return groups;
}

}  // namespace

LiveView::LiveView(QWidget* parent) : QWidget(parent) {
    setObjectName("live_view");
    auto* left = new QVBoxLayout(this);
    left->setContentsMargins(0, 0, 0, 0);
    auto* plot_buttons = new QHBoxLayout;
    Cmd_barplot = Button(this, "Cmd_barplot", "Bar Plot", false);
    cmb_barview = Named(new QComboBox(this), "cmb_barview");
    cmb_barview->addItems({"Groups", "Wells", "Time course"});
    cmb_barview->setEnabled(false);
    Cmd_gridplot = Button(this, "Cmd_gridplot", "Heatmap PLOT", false);
    Cmd_histoplot = Button(this, "Cmd_histoplot", "BodyBends Histogram PLOT", false);
    cmd_pgup = Button(this, "cmd_pgup", "<<", false);
    cmd_pgdown = Button(this, "cmd_pgdown", ">>", false);
    for (QWidget* w :
         std::initializer_list<QWidget*>{Cmd_barplot, cmb_barview, Cmd_gridplot, Cmd_histoplot})
        plot_buttons->addWidget(w);
    plot_buttons->addStretch();
    plot_buttons->addWidget(cmd_pgup);
    plot_buttons->addWidget(cmd_pgdown);
    left->addLayout(plot_buttons);
    Picact = Named(new ActivityPlot(activity_, this), "Picact");
    left->addWidget(Picact, 3);
    picturetime = new ProgressBox(this);
    picturetime->setObjectName("picturetime");
    picturetime->SetBackground(Qt::white);
    picturetime->SetScale(100, 10);
    left->addWidget(picturetime);

    auto* signal_controls = new QHBoxLayout;
    cmdbeam_minus = Button(this, "cmdbeam_minus", "previous channel", false);
    cmdbeam_plus = Button(this, "cmdbeam_plus", "next channel", false);
    Cmdzoom_minus = Button(this, "Cmdzoom_minus", "Zoom -", false);
    Cmdzoom_plus = Button(this, "Cmdzoom_plus", "Zoom +", false);
    chk_fitsignal = Named(new QCheckBox("Fit signal", this), "chk_fitsignal");
    chk_fitsignal->setToolTip("Zoom the signal's axis to its readings instead of 0..4095");
    Combofila = Named(new QComboBox(this), "Combofila");
    Combocol = Named(new QComboBox(this), "Combocol");
    combogrup = Named(new QComboBox(this), "combogrup");
    txtsub = Named(new QLineEdit(this), "txtsub");
    txtsub->setMaximumWidth(60);
    txtsub->setToolTip("Channel number (0..383)");
    for (int r = 0; r < kBeamRows; ++r) Combofila->addItem(QString(QChar('A' + r)));
    for (int c = 1; c <= kBeamColumns; ++c) Combocol->addItem(QString::number(c));
    Combofila->setToolTip("Beam row");
    Combocol->setToolTip("Beam column");
    combogrup->setToolTip("Group whose channels previous/next step through");
    const std::initializer_list<QWidget*> signal_widgets = {
        cmdbeam_minus, cmdbeam_plus,  Combofila,    Combocol,     combogrup,
        txtsub,        Cmdzoom_minus, Cmdzoom_plus, chk_fitsignal};
    for (QWidget* w : signal_widgets) {
        w->setEnabled(false);
        signal_controls->addWidget(w);
    }
    signal_controls->addStretch();
    left->addLayout(signal_controls);
    auto* signal_row = new QHBoxLayout;
    Picreal = Named(new SignalPlot(this), "Picreal");
    Picreal->SetSource(&source_);
    Picreal->RenderInBackground(true);
    signal_row->addWidget(Picreal, 1);
    lstgrup = Named(new QListWidget(this), "lstgrup");
    lstgrup->setMaximumWidth(170);
    signal_row->addWidget(lstgrup);
    left->addLayout(signal_row, 2);

    refresh_ = new QTimer(this);
    refresh_->setObjectName("live_refresh");
    refresh_->setInterval(kRefreshIntervalMs);
    connect(refresh_, &QTimer::timeout, this, &LiveView::RefreshPlots);

    connect(Cmd_barplot, &QPushButton::clicked, this,
            [this] { ShowActivity(static_cast<ActivityView>(cmb_barview->currentIndex())); });
    connect(cmb_barview, &QComboBox::currentIndexChanged, this,
            [this](int i) { ShowActivity(static_cast<ActivityView>(i)); });
    connect(Cmd_gridplot, &QPushButton::clicked, this,
            [this] { ShowActivity(ActivityView::Heatmap); });
    connect(Cmd_histoplot, &QPushButton::clicked, this,
            [this] { ShowActivity(ActivityView::BendHistogram); });
    connect(cmd_pgup, &QPushButton::clicked, this, [this] {
        Picact->PageUp();
        UpdatePaging();
    });
    connect(cmd_pgdown, &QPushButton::clicked, this, [this] {
        Picact->PageDown();
        UpdatePaging();
    });
    connect(cmdbeam_minus, &QPushButton::clicked, this, [this] { StepChannel(-1); });
    connect(cmdbeam_plus, &QPushButton::clicked, this, [this] { StepChannel(1); });
    connect(Cmdzoom_minus, &QPushButton::clicked, this, [this] { Picreal->ZoomOut(); });
    connect(Cmdzoom_plus, &QPushButton::clicked, this, [this] { Picreal->ZoomIn(); });
    connect(chk_fitsignal, &QCheckBox::toggled, this, [this](bool on) { Picreal->SetZoomY(on); });
    auto beam_chosen = [this] {
        SelectChannel(static_cast<std::size_t>(Combocol->currentIndex() * kBeamRows +
                                               Combofila->currentIndex()));
    };
    connect(Combofila, &QComboBox::activated, this, beam_chosen);
    connect(Combocol, &QComboBox::activated, this, beam_chosen);
    connect(txtsub, &QLineEdit::editingFinished, this, [this] {
        bool ok = false;
        const int c = txtsub->text().trimmed().toInt(&ok);
        if (ok && c >= 0 && c < kChannelCount) {
            SelectChannel(static_cast<std::size_t>(c));
        } else {
            txtsub->setText(QString::number(channel()));
        }
    });
    connect(combogrup, &QComboBox::activated, this, [this] {
        const auto channels = ChannelsOfChoice();
        if (!channels.empty()) SelectChannel(channels.front());
    });
    connect(lstgrup, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0 || row + 1 >= combogrup->count()) return;
        combogrup->setCurrentIndex(row + 1);
        const auto channels = ChannelsOfChoice();
        if (!channels.empty()) SelectChannel(channels.front());
    });
}

void LiveView::AttachStatusBar(QStatusBar& status_bar) {
    lbl_channels = new QLabel(&status_bar);
    lbl_channels->setObjectName("lbl_channels");
    lbl_channels->setToolTip(
        "Channels in use that read dead (near 0), saturated (near 4095) or "
        "drifting towards the re-adjustment level, over the last window");
    lbl_channels->hide();
    status_bar.addPermanentWidget(lbl_channels);
}

void LiveView::PrepareFor(const AppState& app) {
    app_ = &app;
    const std::set<int> groups = GroupsInUse(app.project);
    lstgrup->clear();
    combogrup->clear();
    group_of_entry_.clear();
    combogrup->addItem("all groups");
    group_of_entry_.push_back(-1);
    for (int g : groups) {
        const QString entry =
            QString::number(g) + " " + ToQ(app.project.GroupName[static_cast<std::size_t>(g)]);
        lstgrup->addItem(entry);
        combogrup->addItem(entry);
        group_of_entry_.push_back(g);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{
             Cmd_barplot, cmb_barview, Cmd_gridplot, Cmd_histoplot, cmdbeam_minus, cmdbeam_plus,
             Combofila, Combocol, combogrup, txtsub, Cmdzoom_minus, Cmdzoom_plus, chk_fitsignal})
        w->setEnabled(true);
    // The project may have changed since the last run: its windows stay on show in the new
    // layout until the next run begins.
    activity_.Prepare(app.plate, app.project);
    if (source_.WindowCount() > 0) activity_.TakeLatestWindow(source_);
    const auto channels = ChannelsOfChoice();
    SelectChannel(channels.empty() ? 0 : channels.front());
    Picact->DataChanged();
    UpdatePaging();
}

void LiveView::PrepareActivity(const ProjectState& project) {
    if (app_ == nullptr) return;
    activity_.Prepare(app_->plate, project);
    Picact->DataChanged();
    UpdatePaging();
    UpdateChannelStatus();
}

void LiveView::BeginRun(const SignalSettings& settings) {
    hand_over_.BeginRun(settings);
    RefreshPlots();
    refresh_->start();
}

void LiveView::ClearSignal(std::size_t) {
    picturetime->Clear();
}

void LiveView::ShowElapsedBar(double percent) {
    const double bar = std::clamp(percent, 0.0, 100.0);
    if (picturetime->x_max() != 100.0) picturetime->SetScale(100.0, 10.0);
    if (picturetime->bar() != bar) picturetime->DrawBarTo(bar);
}

void LiveView::RefreshPlots() {
    const LiveSignalSource::Update u = source_.Refresh();
    if (u.restarted && app_ != nullptr) {
        activity_.Prepare(app_->plate, app_->project);
        Picact->DataChanged();
    }
    if (u.windows) {
        activity_.TakeLatestWindow(source_);
        Picact->DataChanged();
        UpdatePaging();
        UpdateChannelStatus();
    }
    // Drawing only what is seen: a hidden or minimised window costs the loop nothing.
    if ((u.rows || u.restarted) && Picreal->isVisible()) Picreal->Refresh();
}

void LiveView::SelectChannel(std::size_t c) {
    c = std::min<std::size_t>(c, kBeamChannelCount - 1);
    Picreal->SetChannel(c);
    Combofila->setCurrentIndex(static_cast<int>(c % kBeamRows));
    Combocol->setCurrentIndex(static_cast<int>(c / kBeamRows));
    txtsub->setText(QString::number(c));
    QString caption = QString("Channel %1").arg(c);
    if (app_ != nullptr) {
        const int well = app_->plate.ChannelWell[c];
        if (well >= 0) {
            caption += " - well " + ToQ(WellName(app_->plate, well));
            const int g = app_->project.ChannelGroup[c];
            if (g >= 0)
                caption += " - " + ToQ(app_->project.GroupName[static_cast<std::size_t>(g)]);
            if (app_->project.ChannelEnabled[c] == 0) caption += " - switched off";
        } else {
            caption += " - in no well";
        }
    }
    Picreal->SetCaption(caption);
    activity_.SetHistogramChannel(source_, c);
    if (Picact->view() == ActivityView::BendHistogram) Picact->DataChanged();
}

std::vector<std::size_t> LiveView::ChannelsOfChoice() const {
    std::vector<std::size_t> out;
    if (app_ == nullptr) return out;
    const int entry = combogrup->currentIndex();
    const int group = entry >= 0 && static_cast<std::size_t>(entry) < group_of_entry_.size()
                          ? group_of_entry_[static_cast<std::size_t>(entry)]
                          : -1;
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        if (app_->plate.ChannelWell[c] < 0) continue;
        if (group >= 0 && app_->project.ChannelGroup[c] != group) continue;
        out.push_back(c);
    }
    return out;
}

void LiveView::StepChannel(int direction) {
    const auto channels = ChannelsOfChoice();
    if (channels.empty()) {
        // No plate map: every channel in turn.
        const int c = static_cast<int>(channel()) + direction;
        SelectChannel(static_cast<std::size_t>((c + kChannelCount) % kChannelCount));
        return;
    }
    // The next channel of the choice after (or before) the one shown, round the ends.
    const std::size_t now = channel();
    if (direction > 0) {
        const auto it = std::upper_bound(channels.begin(), channels.end(), now);
        SelectChannel(it == channels.end() ? channels.front() : *it);
    } else {
        const auto it = std::lower_bound(channels.begin(), channels.end(), now);
        SelectChannel(it == channels.begin() ? channels.back() : *std::prev(it));
    }
}

void LiveView::ShowActivity(ActivityView view) {
    Picact->SetView(view);
    UpdatePaging();
}

void LiveView::UpdatePaging() {
    const int pages = Picact->pages();
    cmd_pgup->setEnabled(pages > 1 && Picact->page() > 0);
    cmd_pgdown->setEnabled(pages > 1 && Picact->page() + 1 < pages);
}

void LiveView::UpdateChannelStatus() {
    if (lbl_channels == nullptr) return;
    if (!activity_.states) {
        lbl_channels->hide();
        return;
    }
    const ChannelStates& s = *activity_.states;
    lbl_channels->setText("Channels: " + ToQ(ChannelStatesText(s)));
    const bool bad = s.dead + s.saturated + s.drifting > 0;
    lbl_channels->setStyleSheet(bad ? "QLabel { color: #a00000; font-weight: bold; }" : "");
    lbl_channels->show();
}

}  // namespace lumivo::app
