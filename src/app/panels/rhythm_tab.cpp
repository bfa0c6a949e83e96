#include "app/panels/rhythm_tab.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QFontMetricsF>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QPainterPath>
#include <QSplitter>
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
    // Three rows of settings: what is shown, how the views are computed, and the wells left out;
    // the buttons on the right.
    auto* grid = new QGridLayout;
    auto add = [&](int row, int col, const char* caption, QWidget* w) {
        if (caption) grid->addWidget(new QLabel(caption, this), row, col);
        grid->addWidget(w, row, col + 1);
    };
    Cmb_view = Named(new QComboBox(this), "Cmb_view");
    for (const char* v : {"Actogram", "Periodogram", "Activity profile", "Inactivity bouts"})
        Cmb_view->addItem(v);
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
        "Bin size: 30 min for actograms and profiles, 6 for periodograms, 1 for bouts by default");
    add(0, 4, "Bin:", Spin_bin);

    Spin_rowperiod = Named(new QDoubleSpinBox(this), "Spin_rowperiod");
    Spin_rowperiod->setRange(1, 240);
    Spin_rowperiod->setDecimals(2);
    Spin_rowperiod->setSuffix(" h");
    Spin_rowperiod->setValue(24);
    Spin_rowperiod->setToolTip("The length of an actogram row");
    add(1, 0, "Row period:", Spin_rowperiod);
    Cmb_method = Named(new QComboBox(this), "Cmb_method");
    for (auto m : {PeriodogramMethod::ChiSquare, PeriodogramMethod::LombScargle})
        Cmb_method->addItem(QString::fromUtf8(PeriodogramMethodName(m).data()));
    add(1, 2, "Method:", Cmb_method);
    Cmb_peak = Named(new QComboBox(this), "Cmb_peak");
    for (auto rule : {PeakRule::MaxPower, PeakRule::AboveLine})
        Cmb_peak->addItem(QString::fromUtf8(PeakRuleName(rule).data()));
    Cmb_peak->setToolTip(
        "The peak the table reports: the period of the largest power (max-power), or the period "
        "standing highest above the significance line (above-line)");
    add(3, 2, "Peak:", Cmb_peak);
    auto* range = new QHBoxLayout;
    Spin_periodmin = Named(new QDoubleSpinBox(this), "Spin_periodmin");
    Spin_periodmax = Named(new QDoubleSpinBox(this), "Spin_periodmax");
    for (QDoubleSpinBox* s : {Spin_periodmin, Spin_periodmax}) {
        s->setRange(1, 240);
        s->setDecimals(1);
        s->setSuffix(" h");
        range->addWidget(s);
    }
    Spin_periodmin->setValue(PeriodogramOptions{}.min_hours);
    Spin_periodmax->setValue(PeriodogramOptions{}.max_hours);
    grid->addWidget(new QLabel("Periods:", this), 1, 4);
    grid->addLayout(range, 1, 5);

    Chk_double = Named(new QCheckBox("Double plot", this), "Chk_double");
    grid->addWidget(Chk_double, 2, 1);
    Spin_boutmin = Named(new QDoubleSpinBox(this), "Spin_boutmin");
    Spin_boutmin->setRange(1, 1440);
    Spin_boutmin->setDecimals(0);
    Spin_boutmin->setSuffix(" min");
    Spin_boutmin->setValue(kDefaultBoutMinutes);
    Spin_boutmin->setToolTip("A bout is at least this many consecutive inactive minutes");
    add(2, 2, "Bout at least:", Spin_boutmin);
    auto* dead = new QHBoxLayout;
    Spin_deadhours = Named(new QDoubleSpinBox(this), "Spin_deadhours");
    Spin_deadhours->setRange(0.5, 1000);
    Spin_deadhours->setDecimals(1);
    Spin_deadhours->setSuffix(" h");
    Spin_deadhours->setValue(kDefaultDeadHours);
    Spin_deadhours->setToolTip("A well with no counts over the last hours of the run is dead");
    Chk_keepdead = Named(new QCheckBox("keep in means", this), "Chk_keepdead");
    Chk_keepdead->setToolTip("Dead wells stay in the group means");
    dead->addWidget(Spin_deadhours);
    dead->addWidget(Chk_keepdead);
    grid->addWidget(new QLabel("Dead after:", this), 2, 4);
    grid->addLayout(dead, 2, 5);

    Cmd_show = Named(new QPushButton("Show", this), "Cmd_show");
    Cmd_save = Named(new QPushButton("Save", this), "Cmd_save");
    Cmd_save->setToolTip("Writes the view's picture (SVG) and table (CSV) into the folder");
    grid->addWidget(Cmd_show, 0, 6);
    grid->addWidget(Cmd_save, 1, 6);
    grid->setColumnStretch(7, 1);
    outer->addLayout(grid);

    lbl_info_ = Named(new QLabel(this), "lbl_rhythminfo");
    lbl_info_->setWordWrap(true);
    lbl_info_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    outer->addWidget(lbl_info_);

    auto* split = new QSplitter(Qt::Vertical, this);
    scene_view_ = Named(new SceneView(split), "scene_view");
    table_ = Named(new QTableView(split), "tbl_rhythm");
    model_ = new CsvTableModel(table_);
    table_->setModel(model_);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->verticalHeader()->setDefaultSectionSize(20);
    split->addWidget(scene_view_);
    split->addWidget(table_);
    // The chart takes most of the height: its pictures hold up to a dozen small charts.
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    outer->addWidget(split, 1);

    connect(Cmd_show, &QPushButton::clicked, this, [this] { Cmd_show_Click(); });
    connect(Cmd_save, &QPushButton::clicked, this, &RhythmTab::Cmd_save_Click);
    connect(Cmb_view, &QComboBox::activated, this, [this](int) {
        Cmb_view_Click();
        Cmd_show_Click();
    });
    Cmb_view_Click();
}

void RhythmTab::Cmb_view_Click() {
    const auto view = static_cast<RhythmView>(Cmb_view->currentIndex());
    SetAllEnabled({Chk_double, Spin_rowperiod}, view == RhythmView::Actogram);
    SetAllEnabled({Cmb_method, Cmb_peak, Spin_periodmin, Spin_periodmax},
                  view == RhythmView::Periodogram);
    Spin_boutmin->setEnabled(view == RhythmView::Sleep);
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
    PlotRequest request = Request();
    if (request.folder != series_folder_) {
        // Another acquisition: its own groups and wells.
        Cmb_series->setCurrentIndex(0);
        request.group.clear();
        request.well.clear();
    }
    std::string failure;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto plot = ComputePlot(storage_, request, &failure);
    QApplication::restoreOverrideCursor();
    if (!plot) {
        // An empty reason: a message has said it.
        lbl_info_->setText(
            ToQ("Nothing to show: " + (failure.empty() ? "see the message" : failure)));
        scene_view_->SetScene({});
        model_->SetCsv({});
        return false;
    }
    if (request.folder != series_folder_) {
        FillSeries(plot->data);
        series_folder_ = request.folder;
    }
    std::string info = "Light: " + plot->data.light.description + ".";
    for (const std::string& note : PlotNotes(plot->data, request)) info += " " + note + ".";
    lbl_info_->setText(ToQ(info));
    scene_view_->SetScene(plot->view.scene);
    model_->SetCsv(plot->view.table);
    return true;
}

void RhythmTab::Cmd_save_Click() {
    const PlotOutcome out = WritePlot(storage_, Request());
    if (!out.written) {
        lbl_info_->setText(ToQ("Not written: " + out.failure));
        return;
    }
    const bool opened = open_file && open_file(out.svg_file);
    lbl_info_->setText(ToQ("Written: " + out.svg_file.string() + " and " +
                           out.csv_file.filename().string() +
                           (opened ? " (opened)" : " (no application could open it)")));
}

void RhythmTab::FolderChanged() {
    series_folder_.clear();
    scene_view_->SetScene({});
    model_->SetCsv({});
    lbl_info_->clear();
    if (isVisible()) Cmd_show_Click();
}

const std::vector<std::string>& RhythmTab::table_header() const {
    return model_->header();
}

std::size_t RhythmTab::table_rows() const {
    return static_cast<std::size_t>(model_->rowCount());
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
