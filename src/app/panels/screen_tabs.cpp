#include "app/panels/screen_tabs.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "app/support/qt_dialogs.h"
#include "app/support/widget_helpers.h"

namespace lumivo::app {

namespace fs = std::filesystem;
using namespace lumivo::reporting;

namespace {

QDoubleSpinBox* Hours(QWidget* parent, const char* name, double max, const char* tip) {
    auto* s = Named(new QDoubleSpinBox(parent), name);
    s->setRange(0, max);
    s->setDecimals(2);
    s->setSuffix(" h");
    s->setToolTip(tip);
    return s;
}

}  // namespace

// ---- What both tabs share ----

ScreenTab::ScreenTab(StorageContext& storage, std::function<fs::path()> folder,
                     const char* object_name, QWidget* parent)
    : QWidget(parent), storage_(storage), folder_(std::move(folder)) {
    setObjectName(object_name);
    auto* outer = new QVBoxLayout(this);
    grid_ = new QGridLayout;
    auto add = [&](int row, int col, const char* caption, QWidget* w) {
        grid_->addWidget(new QLabel(caption, this), row, col);
        grid_->addWidget(w, row, col + 1);
    };
    Spin_from =
        Hours(this, "Spin_from", 1e5, "The interval starts this many hours after the start");
    Spin_to = Hours(this, "Spin_to", 1e5, "The interval ends here (\"end\": the end of the run)");
    Spin_to->setSpecialValueText("end");
    Spin_afterpause = Named(new QSpinBox(this), "Spin_afterpause");
    Spin_afterpause->setRange(0, 10000);
    Spin_afterpause->setPrefix("after pause ");
    Spin_afterpause->setSpecialValueText("from the start");
    Spin_afterpause->setToolTip(
        "Count the hours from the start of sampling, or from the end of a pause of events.log "
        "(the pause in which the plate was dosed), on each plate its own");
    auto* interval = new QHBoxLayout;
    interval->addWidget(Spin_from);
    interval->addWidget(new QLabel("to", this));
    interval->addWidget(Spin_to);
    interval->addWidget(Spin_afterpause);
    grid_->addWidget(new QLabel("Hours:", this), 0, 0);
    grid_->addLayout(interval, 0, 1);
    Cmb_measure = Named(new QComboBox(this), "Cmb_measure");
    for (Endpoint e :
         {Endpoint::Mean, Endpoint::Total, Endpoint::PercentBasal, Endpoint::Paralysis})
        Cmb_measure->addItem(ToQ(std::string(EndpointName(e))));
    Cmb_measure->setToolTip(
        "mean counts per bin, total counts, percent of the well's basal interval, or hours to "
        "paralysis (activity staying below the threshold percent of basal)");
    add(0, 2, "Measure:", Cmb_measure);
    Spin_bin = Named(new QSpinBox(this), "Spin_cbin");
    Spin_bin->setRange(1, 1440);
    Spin_bin->setValue(30);
    Spin_bin->setSuffix(" min");
    add(0, 4, "Bin:", Spin_bin);

    Spin_basalfrom = Hours(this, "Spin_basalfrom", 1e5, "The basal interval's start");
    Spin_basalto = Hours(this, "Spin_basalto", 1e5,
                         "The basal interval's end (\"before\": up to the interval's start)");
    Spin_basalto->setSpecialValueText("before");
    auto* basal = new QHBoxLayout;
    basal->addWidget(Spin_basalfrom);
    basal->addWidget(new QLabel("to", this));
    basal->addWidget(Spin_basalto);
    grid_->addWidget(new QLabel("Basal:", this), 1, 0);
    grid_->addLayout(basal, 1, 1);
    Spin_paralysis = Named(new QDoubleSpinBox(this), "Spin_paralysis");
    Spin_paralysis->setRange(0.1, 100);
    Spin_paralysis->setValue(10);
    Spin_paralysis->setSuffix(" % of basal");
    add(1, 2, "Paralysed below:", Spin_paralysis);
    auto* dead = new QHBoxLayout;
    Spin_deadhours = Named(new QDoubleSpinBox(this), "Spin_cdeadhours");
    Spin_deadhours->setRange(0.5, 1000);
    Spin_deadhours->setDecimals(1);
    Spin_deadhours->setSuffix(" h");
    Spin_deadhours->setValue(kDefaultDeadHours);
    Spin_deadhours->setToolTip("A well with no counts over the last hours of the run is dead");
    Chk_keepdead = Named(new QCheckBox("keep", this), "Chk_ckeepdead");
    dead->addWidget(Spin_deadhours);
    dead->addWidget(Chk_keepdead);
    grid_->addWidget(new QLabel("Dead after:", this), 1, 4);
    grid_->addLayout(dead, 1, 5);

    lbl_plates_ = Named(new QLabel(this), "lbl_plates");
    Cmd_addplates = Named(new QPushButton("Add plates...", this), "Cmd_addplates");
    Cmd_addplates->setToolTip("Replicate plates of the screen, pooled with this one");
    grid_->addWidget(new QLabel("Plates:", this), 2, 0);
    grid_->addWidget(lbl_plates_, 2, 1, 1, 3);
    grid_->addWidget(Cmd_addplates, 2, 5);

    Cmd_show = Named(new QPushButton("Show", this), "Cmd_show");
    Cmd_save = Named(new QPushButton("Save", this), "Cmd_save");
    Cmd_save->setToolTip("Writes the picture (SVG) and the table (CSV) into the folder");
    grid_->addWidget(Cmd_show, 0, 6);
    grid_->addWidget(Cmd_save, 1, 6);
    grid_->setColumnStretch(7, 1);
    outer->addLayout(grid_);

    lbl_info_ = Named(new QLabel(this), "lbl_screeninfo");
    lbl_info_->setWordWrap(true);
    lbl_info_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    outer->addWidget(lbl_info_);
    auto* split = new QSplitter(Qt::Vertical, this);
    scene_view_ = Named(new SceneView(split), "scene_view");
    table_ = Named(new QTableView(split), "tbl_screen");
    model_ = new CsvTableModel(table_);
    table_->setModel(model_);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->verticalHeader()->setDefaultSectionSize(20);
    split->addWidget(scene_view_);
    split->addWidget(table_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    outer->addWidget(split, 1);

    connect(Cmd_show, &QPushButton::clicked, this, [this] { Cmd_show_Click(); });
    connect(Cmd_save, &QPushButton::clicked, this, &ScreenTab::Cmd_save_Click);
    connect(Cmd_addplates, &QPushButton::clicked, this, [this] {
        if (choose_plates) AddPlates(choose_plates());
    });
    FolderChanged();
}

std::vector<fs::path> ScreenTab::Folders() const {
    std::vector<fs::path> folders = {folder_()};
    folders.insert(folders.end(), more_plates_.begin(), more_plates_.end());
    return folders;
}

ScreenRequest ScreenTab::ScreenPart() const {
    ScreenRequest r;
    r.folders = Folders();
    r.from_hours = Spin_from->value();
    r.to_hours = Spin_to->value();
    r.endpoint = static_cast<Endpoint>(Cmb_measure->currentIndex());
    if (Spin_basalfrom->value() > 0.0 || Spin_basalto->value() > 0.0) {
        r.basal_from_hours = Spin_basalfrom->value();
        r.basal_to_hours = Spin_basalto->value() > 0.0 ? Spin_basalto->value() : Spin_from->value();
    }
    r.paralysis_percent = Spin_paralysis->value();
    r.bin_minutes = Spin_bin->value();
    r.dead_hours = Spin_deadhours->value();
    r.keep_dead = Chk_keepdead->isChecked();
    r.after_pause = Spin_afterpause->value();
    return r;
}

void ScreenTab::AddPlates(const std::vector<fs::path>& folders) {
    for (const fs::path& f : folders)
        if (f != folder_() &&
            std::find(more_plates_.begin(), more_plates_.end(), f) == more_plates_.end())
            more_plates_.push_back(f);
    QString text = ToQ(folder_().filename().string());
    for (const fs::path& f : more_plates_) text += ", " + ToQ(f.filename().string());
    lbl_plates_->setText(text);
    if (!folders.empty() && isVisible()) Cmd_show_Click();
}

bool ScreenTab::Cmd_show_Click() {
    std::string failure;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto shown = Compute(&failure);
    QApplication::restoreOverrideCursor();
    shown_folder_ = folder_();
    if (!shown) {
        lbl_info_->setText(
            ToQ("Nothing to show: " + (failure.empty() ? "see the message" : failure)));
        scene_view_->SetScene({});
        model_->SetCsv({});
        return false;
    }
    std::string info;
    for (const std::string& note : shown->notes) info += (info.empty() ? "" : " ") + note + ".";
    lbl_info_->setText(
        ToQ(info.empty() ? std::string("Every well of the map has its values.") : info));
    GroupsKnown(shown->groups);
    scene_view_->SetScene(shown->scene);
    model_->SetCsv(shown->table);
    return true;
}

void ScreenTab::Cmd_save_Click() {
    const CompareOutcome out = Write();
    if (!out.written) {
        lbl_info_->setText(ToQ("Not written: " + out.failure));
        return;
    }
    const bool opened = open_file && open_file(out.svg_file);
    lbl_info_->setText(ToQ("Written: " + out.svg_file.string() + " and " +
                           out.csv_file.filename().string() +
                           (opened ? " (opened)" : " (no application could open it)")));
}

void ScreenTab::FolderChanged() {
    more_plates_.clear();
    shown_folder_.clear();
    lbl_plates_->setText(ToQ(folder_().filename().string()));
    scene_view_->SetScene({});
    model_->SetCsv({});
    lbl_info_->clear();
    if (isVisible()) Cmd_show_Click();
}

void ScreenTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    QTimer::singleShot(0, this, [this] {
        const fs::path folder = folder_();
        if (!folder.empty() && folder != shown_folder_) Cmd_show_Click();
    });
}

// ---- Compare ----

CompareTab::CompareTab(StorageContext& storage, std::function<fs::path()> folder, QWidget* parent)
    : ScreenTab(storage, std::move(folder), "compare_tab", parent) {
    auto add = [&](int col, const char* caption, QWidget* w) {
        grid()->addWidget(new QLabel(caption, this), 3, col);
        grid()->addWidget(w, 3, col + 1);
    };
    Cmb_grouping = Named(new QComboBox(this), "Cmb_grouping");
    Cmb_grouping->addItem("automatic");
    for (Grouping g : {Grouping::Dose, Grouping::Treatment, Grouping::ProjectGroup})
        Cmb_grouping->addItem(ToQ(std::string(GroupingName(g))));
    Cmb_grouping->setToolTip(
        "dose: a group per treatment and concentration; treatment: per treatment; group: the "
        "project's groups");
    add(0, "Groups:", Cmb_grouping);
    Cmb_control = Named(new QComboBox(this), "Cmb_control");
    Cmb_control->setEditable(true);
    Cmb_control->setMinimumContentsLength(14);
    Cmb_control->setToolTip(
        "The group the others are tested against (blank: the negative "
        "controls of the plate map)");
    add(2, "Control:", Cmb_control);
    Cmb_test = Named(new QComboBox(this), "Cmb_test");
    for (GroupTest t : {GroupTest::Welch, GroupTest::MannWhitney, GroupTest::Anova,
                        GroupTest::WelchAnova, GroupTest::Kruskal})
        Cmb_test->addItem(ToQ(std::string(GroupTestName(t))));
    add(4, "Test:", Cmb_test);
    auto* adjust = new QHBoxLayout;
    Cmb_adjust = Named(new QComboBox(this), "Cmb_adjust");
    for (auto a : {statistics::Adjustment::Holm, statistics::Adjustment::BenjaminiHochberg,
                   statistics::Adjustment::None})
        Cmb_adjust->addItem(ToQ(std::string(statistics::AdjustmentName(a))));
    Cmb_adjust->setToolTip("How the p-values are adjusted over every comparison of the table");
    Chk_perbin = Named(new QCheckBox("per bin", this), "Chk_perbin");
    Chk_perbin->setToolTip("A comparison at every bin of the interval, adjusted across them all");
    adjust->addWidget(Cmb_adjust);
    adjust->addWidget(Chk_perbin);
    grid()->addWidget(new QLabel("Adjust:", this), 3, 6);
    grid()->addLayout(adjust, 3, 7);
}

StatsRequest CompareTab::Request() const {
    StatsRequest r;
    r.screen = ScreenPart();
    r.screen.per_bin = Chk_perbin->isChecked();
    if (Cmb_grouping->currentIndex() > 0)
        r.screen.grouping = static_cast<Grouping>(Cmb_grouping->currentIndex() - 1);
    r.control = Cmb_control->currentText().trimmed().toStdString();
    r.test = static_cast<GroupTest>(Cmb_test->currentIndex());
    r.adjust = static_cast<statistics::Adjustment>(Cmb_adjust->currentIndex());
    return r;
}

std::optional<ScreenTab::Shown> CompareTab::Compute(std::string* failure) {
    const auto result = ComputeStats(storage_, Request(), failure);
    if (!result) return std::nullopt;
    Shown shown{StatsScene(*result), StatsTable(*result), StatsNotes(*result), {}};
    for (const ScreenGroup& g : result->screen.groups) shown.groups.push_back(g.name);
    return shown;
}

CompareOutcome CompareTab::Write() {
    return WriteStats(storage_, Request());
}

void CompareTab::GroupsKnown(const std::vector<std::string>& groups) {
    const QString kept = Cmb_control->currentText();
    Cmb_control->clear();
    Cmb_control->addItem(QString());
    for (const std::string& g : groups) Cmb_control->addItem(ToQ(g));
    Cmb_control->setCurrentText(kept);
}

// ---- Dose-response ----

DoseTab::DoseTab(StorageContext& storage, std::function<fs::path()> folder, QWidget* parent)
    : ScreenTab(storage, std::move(folder), "dose_tab", parent) {
    Cmb_normalise = Named(new QComboBox(this), "Cmb_normalise");
    Cmb_normalise->addItem("as measured");
    Cmb_normalise->addItem("% of negative controls");
    Cmb_model = Named(new QComboBox(this), "Cmb_model");
    Cmb_model->addItem("four parameters (LL.4)");
    Cmb_model->addItem("bottom at 0 (LL.3)");
    Chk_overtime = Named(new QCheckBox("EC50 over time", this), "Chk_overtime");
    Chk_overtime->setToolTip("One fit per bin of the interval");
    grid()->addWidget(new QLabel("Response:", this), 3, 0);
    grid()->addWidget(Cmb_normalise, 3, 1);
    grid()->addWidget(new QLabel("Model:", this), 3, 2);
    grid()->addWidget(Cmb_model, 3, 3);
    grid()->addWidget(Chk_overtime, 3, 5);
}

DoseRequest DoseTab::Request() const {
    DoseRequest r;
    r.screen = ScreenPart();
    r.screen.per_bin = Chk_overtime->isChecked();
    r.normalise = Cmb_normalise->currentIndex() == 1 ? DoseNormalise::Control : DoseNormalise::None;
    r.model =
        Cmb_model->currentIndex() == 1 ? statistics::DoseModel::LL3 : statistics::DoseModel::LL4;
    return r;
}

std::optional<ScreenTab::Shown> DoseTab::Compute(std::string* failure) {
    const auto result = ComputeDose(storage_, Request(), failure);
    if (!result) return std::nullopt;
    return Shown{DoseScene(*result), DoseTable(*result), DoseNotes(*result), {}};
}

CompareOutcome DoseTab::Write() {
    return WriteDose(storage_, Request());
}

}  // namespace lumivo::app
