#include "app/panels/rhythm_tab.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "app/support/qt_dialogs.h"
#include "app/support/widget_helpers.h"

namespace lumivo::app {

namespace fs = std::filesystem;
using namespace lumivo::reporting;

// ---- The tab ----

RhythmTab::RhythmTab(StorageContext& storage, std::function<fs::path()> folder, QWidget* parent)
    : QWidget(parent), storage_(storage), folder_(std::move(folder)) {
    setObjectName("rhythm_tab");
    auto* outer = new QVBoxLayout(this);
    // Four rows of settings: what is shown; the rows and the periodogram; the smoothing, the
    // peak and the cosinor's period; the sleep rule and the wells left out. The buttons and the
    // double plot on the right.
    auto* grid = new QGridLayout;
    auto add = [&](int row, int col, const char* caption, QWidget* w) {
        if (caption) grid->addWidget(new QLabel(caption, this), row, col);
        grid->addWidget(w, row, col + 1);
    };
    auto add_pair = [&](int row, int col, const char* caption, QWidget* a, QWidget* b) {
        auto* pair = new QHBoxLayout;
        pair->addWidget(a);
        pair->addWidget(b);
        grid->addWidget(new QLabel(caption, this), row, col);
        grid->addLayout(pair, row, col + 1);
    };
    Cmb_view = Named(new QComboBox(this), "Cmb_view");
    // In the order of RhythmView.
    // Short names, so that the window fits a 1366-pixel screen; the tooltips say them whole.
    const std::pair<const char*, const char*> views[] = {
        {"Actogram", ""},
        {"Periodogram", ""},
        {"Activity profile", ""},
        {"Inactivity bouts", "Sleep by the organism's rule"},
        {"Cosinor", "Mesor, amplitude and acrophase of a fitted cosine"},
        {"Rest-activity", "Rest-activity indices: IS, IV, RA, M10 and L5"},
        {"Onsets/offsets", "Activity onsets and offsets per day, on the actogram"}};
    for (const auto& [name, tip] : views) {
        Cmb_view->addItem(name);
        if (*tip) Cmb_view->setItemData(Cmb_view->count() - 1, tip, Qt::ToolTipRole);
    }
    add(0, 0, "View:", Cmb_view);
    Cmb_series = Named(new QComboBox(this), "Cmb_series");
    Cmb_series->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Cmb_series->setMinimumContentsLength(16);
    Cmb_series->addItem("All groups and wells", QString());
    add(0, 2, "Wells:", Cmb_series);
    Spin_bin = Named(new QSpinBox(this), "Spin_bin");
    Spin_bin->setRange(0, 1440);
    Spin_bin->setSuffix(" min");
    Spin_bin->setSpecialValueText("default");
    Spin_bin->setToolTip(
        "Bin size: by default 30 min for actograms, profiles and the cosinor, 6 for "
        "periodograms, 1 for bouts, 60 for the rest-activity indices, 10 for onsets");
    add(0, 4, "Bin:", Spin_bin);

    Spin_rowperiod = Named(new QDoubleSpinBox(this), "Spin_rowperiod");
    Spin_rowperiod->setRange(1, 240);
    Spin_rowperiod->setDecimals(2);
    Spin_rowperiod->setSuffix(" h");
    Spin_rowperiod->setValue(24);
    Spin_rowperiod->setToolTip("The length of an actogram row (a day of the onsets)");
    Chk_double = Named(new QCheckBox("Double plot", this), "Chk_double");
    add(1, 0, "Row period:", Spin_rowperiod);
    // Beside the buttons, so that the first column stays as narrow as its lists.
    grid->addWidget(Chk_double, 2, 6);
    Cmb_method = Named(new QComboBox(this), "Cmb_method");
    // In the order of PeriodogramMethod.
    for (auto m : {PeriodogramMethod::ChiSquare, PeriodogramMethod::LombScargle,
                   PeriodogramMethod::Autocorrelation})
        Cmb_method->addItem(QString::fromUtf8(PeriodogramMethodName(m).data()));
    add(1, 2, "Method:", Cmb_method);
    Spin_periodmin = Named(new QDoubleSpinBox(this), "Spin_periodmin");
    Spin_periodmax = Named(new QDoubleSpinBox(this), "Spin_periodmax");
    for (QDoubleSpinBox* s : {Spin_periodmin, Spin_periodmax}) {
        s->setRange(1, 240);
        s->setDecimals(1);
        s->setSuffix(" h");
    }
    Spin_periodmin->setValue(PeriodogramOptions{}.min_hours);
    Spin_periodmax->setValue(PeriodogramOptions{}.max_hours);
    add_pair(1, 4, "Periods:", Spin_periodmin, Spin_periodmax);

    Spin_smooth = Named(new QDoubleSpinBox(this), "Spin_smooth");
    Spin_smooth->setRange(0, 24);
    Spin_smooth->setDecimals(1);
    Spin_smooth->setSuffix(" h");
    Spin_smooth->setValue(kDefaultSmoothHours);
    Spin_smooth->setToolTip(
        "The onsets are found on the series smoothed by a moving mean this long");
    add(2, 0, "Smoothing:", Spin_smooth);
    Cmb_peak = Named(new QComboBox(this), "Cmb_peak");
    for (auto rule : {PeakRule::MaxPower, PeakRule::AboveLine})
        Cmb_peak->addItem(QString::fromUtf8(PeakRuleName(rule).data()));
    Cmb_peak->setToolTip(
        "The peak the table reports: the period of the largest power (max-power), or the period "
        "standing highest above the significance line (above-line)");
    add(2, 2, "Peak:", Cmb_peak);
    Spin_cosperiod = Named(new QDoubleSpinBox(this), "Spin_cosperiod");
    Spin_cosperiod->setRange(1, 240);
    Spin_cosperiod->setDecimals(2);
    Spin_cosperiod->setSuffix(" h");
    Spin_cosperiod->setValue(24);
    Spin_cosperiod->setToolTip("The cosinor's period: the cosine is fitted at this period");
    Chk_cospeak = Named(new QCheckBox("at the peak", this), "Chk_cospeak");
    Chk_cospeak->setToolTip(
        "Each series' cosine at the peak of its periodogram (method, periods and peak as chosen)");
    add_pair(2, 4, "Cosinor:", Spin_cosperiod, Chk_cospeak);

    Cmb_sleeprule = Named(new QComboBox(this), "Cmb_sleeprule");
    // In the order of Organism.
    for (auto o : {Organism::CElegans, Organism::Zebrafish, Organism::Customized})
        Cmb_sleeprule->addItem(QString::fromUtf8(OrganismName(o).data()));
    Cmb_sleeprule->setToolTip("Whose sleep: the bout length the organism's rule counts");
    add(3, 0, "Sleep rule:", Cmb_sleeprule);
    Spin_boutmin = Named(new QDoubleSpinBox(this), "Spin_boutmin");
    Spin_boutmin->setRange(1, 1440);
    Spin_boutmin->setDecimals(0);
    Spin_boutmin->setSuffix(" min");
    Spin_boutmin->setToolTip(
        "A bout is at least this many consecutive minutes without counts (another length than "
        "the organism's makes the rule Customized)");
    add(3, 2, "Bout at least:", Spin_boutmin);
    Spin_deadhours = Named(new QDoubleSpinBox(this), "Spin_deadhours");
    Spin_deadhours->setRange(0.5, 1000);
    Spin_deadhours->setDecimals(1);
    Spin_deadhours->setSuffix(" h");
    Spin_deadhours->setValue(kDefaultDeadHours);
    Spin_deadhours->setToolTip("A well with no counts over the last hours of the run is dead");
    Chk_keepdead = Named(new QCheckBox("keep in means", this), "Chk_keepdead");
    Chk_keepdead->setToolTip("Dead wells stay in the group means");
    add_pair(3, 4, "Dead after:", Spin_deadhours, Chk_keepdead);
    SetSleepRule(Organism::CElegans);

    Cmd_show = Named(new QPushButton("Show", this), "Cmd_show");
    Cmd_save = Named(new QPushButton("Save", this), "Cmd_save");
    Cmd_save->setToolTip("Writes the view's picture (SVG) and table (CSV) into the folder");
    grid->addWidget(Cmd_show, 0, 6);
    grid->addWidget(Cmd_save, 1, 6);
    grid->setColumnStretch(7, 1);
    outer->addLayout(grid);

    pane_ = std::make_unique<ViewPane>(this, outer, "lbl_rhythminfo", "tbl_rhythm");

    connect(Cmd_show, &QPushButton::clicked, this, [this] { Cmd_show_Click(); });
    connect(Cmd_save, &QPushButton::clicked, this, &RhythmTab::Cmd_save_Click);
    connect(Cmb_view, &QComboBox::activated, this, [this](int) {
        Cmb_view_Click();
        Cmd_show_Click();
    });
    connect(Chk_cospeak, &QCheckBox::toggled, this, &RhythmTab::Cmb_view_Click);
    connect(Cmb_sleeprule, &QComboBox::currentIndexChanged, this, &RhythmTab::Cmb_sleeprule_Click);
    Cmb_view_Click();
}

void RhythmTab::Cmb_view_Click() {
    const auto view = static_cast<RhythmView>(Cmb_view->currentIndex());
    const bool rows = view == RhythmView::Actogram || view == RhythmView::Onsets;
    const bool cosinor = view == RhythmView::Cosinor;
    const bool at_peak = cosinor && Chk_cospeak->isChecked();
    SetAllEnabled({Chk_double, Spin_rowperiod}, rows);
    SetAllEnabled({Cmb_method, Cmb_peak, Spin_periodmin, Spin_periodmax},
                  view == RhythmView::Periodogram || at_peak);
    Chk_cospeak->setEnabled(cosinor);
    Spin_cosperiod->setEnabled(cosinor && !at_peak);
    Spin_smooth->setEnabled(view == RhythmView::Onsets);
    SetAllEnabled({Cmb_sleeprule, Spin_boutmin}, view == RhythmView::Sleep);
}

void RhythmTab::Cmb_sleeprule_Click() {
    Spin_boutmin->setValue(
        DefaultBoutMinutesOf(static_cast<Organism>(Cmb_sleeprule->currentIndex())));
}

void RhythmTab::SetSleepRule(Organism organism) {
    Cmb_sleeprule->setCurrentIndex(static_cast<int>(organism));
    Cmb_sleeprule_Click();  // also when the combo showed it already
}

PlotRequest RhythmTab::Request() const {
    PlotRequest r;
    r.folder = folder_();
    r.view = static_cast<RhythmView>(Cmb_view->currentIndex());
    const QString series = Cmb_series->currentData().toString();
    if (series.startsWith("g:")) r.group = series.mid(2).toStdString();
    if (series.startsWith("w:")) r.well = series.mid(2).toStdString();
    if (Spin_bin->value() > 0) r.bin_minutes = Spin_bin->value();
    r.actogram.double_plot = Chk_double->isChecked();
    r.actogram.period_hours = Spin_rowperiod->value();
    r.periodogram.method = static_cast<PeriodogramMethod>(Cmb_method->currentIndex());
    r.periodogram.peak = static_cast<PeakRule>(Cmb_peak->currentIndex());
    r.periodogram.min_hours = std::min(Spin_periodmin->value(), Spin_periodmax->value());
    r.periodogram.max_hours = std::max(Spin_periodmin->value(), Spin_periodmax->value());
    if (!Chk_cospeak->isChecked())
        r.cosinor_period_hours = Spin_cosperiod->value();
    else
        r.cosinor_period_hours.reset();
    r.smooth_hours = Spin_smooth->value();
    // A length other than the organism's own makes the rule "Customized".
    r.sleep_organism = static_cast<Organism>(Cmb_sleeprule->currentIndex());
    r.bout_minutes = Spin_boutmin->value();
    r.dead_hours = Spin_deadhours->value();
    r.keep_dead = Chk_keepdead->isChecked();
    return r;
}

void RhythmTab::FillSeries(const RhythmData& rhythm) {
    const QString kept = Cmb_series->currentData().toString();
    Cmb_series->clear();
    Cmb_series->addItem("All groups and wells", QString());
    for (const GroupSeries& g : rhythm.groups)
        Cmb_series->addItem(QString("Group %1 (%2 wells)").arg(ToQ(g.label)).arg(g.wells),
                            "g:" + ToQ(g.label));
    for (const WellSeries& w : rhythm.wells)
        if (w.beams > 0)
            Cmb_series->addItem(QString("Well %1 (%2)").arg(ToQ(w.name), ToQ(w.group_label)),
                                "w:" + ToQ(w.name));
    Cmb_series->setCurrentIndex(std::max(0, Cmb_series->findData(kept)));
}

bool RhythmTab::Cmd_show_Click() {
    const PlotRequest request = RequestForFolder();
    if (request.folder != series_folder_) Cmb_series->setCurrentIndex(0);
    std::string failure;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto plot = ComputePlot(storage_, request, &failure);
    QApplication::restoreOverrideCursor();
    if (!plot) {
        // An empty reason: a message has said it.
        pane_->Clear("Nothing to show: " + (failure.empty() ? "see the message" : failure));
        return false;
    }
    if (request.folder != series_folder_) {
        FillSeries(plot->data);
        SetSleepRule(plot->data.organism);
        series_folder_ = request.folder;
    }
    std::string info = "Light: " + plot->data.light.description + ".";
    if (request.view == RhythmView::Sleep) {
        const SleepDefinition rule = SleepDefinitionOf(plot->data, request);
        info +=
            " Sleep: " + std::string(OrganismName(rule.organism)) + ", " + rule.RuleText() + ".";
    }
    for (const std::string& note : PlotNotes(plot->data, request)) info += " " + note + ".";
    pane_->Show(plot->view.scene, plot->view.table, info);
    return true;
}

PlotRequest RhythmTab::RequestForFolder() const {
    PlotRequest request = Request();
    if (request.folder != series_folder_) {
        // Another acquisition than the controls were filled for: all its groups and wells, and
        // its own organism's sleep rule.
        request.group.clear();
        request.well.clear();
        request.sleep_organism.reset();
        request.bout_minutes.reset();
    }
    return request;
}

void RhythmTab::Cmd_save_Click() {
    const PlotOutcome out = WritePlot(storage_, RequestForFolder());
    const bool opened = out.written && open_file && open_file(out.svg_file);
    pane_->ShowWritten(out.written, out.failure, out.svg_file, out.csv_file, opened);
}

void RhythmTab::FolderChanged() {
    series_folder_.clear();
    pane_->Clear();
    if (isVisible()) Cmd_show_Click();
}

void RhythmTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The tab looked at for another acquisition than it shows: its view of that one.
    QTimer::singleShot(0, this, [this] {
        const fs::path folder = folder_();
        if (!folder.empty() && folder != series_folder_) Cmd_show_Click();
    });
}

}  // namespace lumivo::app
