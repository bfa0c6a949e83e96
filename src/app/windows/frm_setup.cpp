#include "app/windows/frm_setup.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QShortcut>
#include <QVBoxLayout>
#include <set>

#include "app/support/qt_dialogs.h"
#include "app/support/widget_helpers.h"
#include "app/support/window_placement.h"
#include "core/setup/plate_groups.h"

namespace lumivo::app {

namespace {

void Fill(QComboBox* combo, const std::vector<std::string>& items) {
    combo->clear();
    for (const auto& item : items) combo->addItem(ToQ(item));
}

// The description of a plate format as its tooltip; a format of the user's own says where it
// comes from.
QString PlateToolTip(const std::string& name) {
    const std::string text = PlateFormatDescription(name);
    if (text.empty()) return ToQ(name + ": a plate format of this installation (" + name + ".dat)");
    return ToQ(name + ": " + text).replace("\r\n", "\n");
}

bool IsEnter(QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

}  // namespace

Frm_setup::Frm_setup(StorageContext& storage, AppState& state, QWidget* parent)
    : QWidget(parent, Qt::Window), storage_(storage), state_(state) {
    setObjectName("Frm_setup");
    setWindowTitle("Project Setup");
    BuildControls();
    Connect();
    resize(1180, 760);
    KeepWindowPlace(this);
    // Ctrl+S: the Save button.
    auto* save = new QShortcut(QKeySequence::Save, this);
    connect(save, &QShortcut::activated, this, &Frm_setup::Cmdsavepj_Click);
}

void Frm_setup::BuildControls() {
    auto* root = new QHBoxLayout(this);

    // ---- Left: project, parameters, tools, navigation ----
    auto* left = new QVBoxLayout;
    root->addLayout(left, 0);

    auto* project_box = new QGroupBox("Project", this);
    auto* pg = new QGridLayout(project_box);
    txtprj = Named(new QLineEdit(project_box), "txtprj");
    txtprj->setReadOnly(true);
    txtprj->setToolTip("Double click to rename the project");
    txtprj->installEventFilter(this);
    Txtfolder = Named(new QLineEdit(project_box), "Txtfolder");
    Txtfolder->setReadOnly(true);
    Cmdnewpj = Named(new QPushButton("New", project_box), "Cmdnewpj");
    Cmdsavepj = Named(new QPushButton("Save", project_box), "Cmdsavepj");
    cmdLoad = Named(new QPushButton("Load", project_box), "cmdLoad");
    pg->addWidget(new QLabel("Project:", project_box), 0, 0);
    pg->addWidget(txtprj, 0, 1, 1, 3);
    pg->addWidget(new QLabel("Folder:", project_box), 1, 0);
    pg->addWidget(Txtfolder, 1, 1, 1, 3);
    pg->addWidget(Cmdnewpj, 2, 1);
    pg->addWidget(Cmdsavepj, 2, 2);
    pg->addWidget(cmdLoad, 2, 3);
    left->addWidget(project_box);

    frm_project = Named(new QGroupBox("Projects (double click to load)", this), "frm_project");
    auto* fp = new QVBoxLayout(frm_project);
    List_project = Named(new QListWidget(frm_project), "List_project");
    fp->addWidget(List_project);
    frm_project->hide();
    left->addWidget(frm_project);

    auto* acq_box = new QGroupBox("Acquisition and analysis", this);
    auto* ag = new QGridLayout(acq_box);
    Combowell = Named(new QComboBox(acq_box), "Combowell");
    Combo_aqmode = Named(new QComboBox(acq_box), "Combo_aqmode");
    Txtlapse = NumberBox(acq_box, "Txtlapse", 80);
    cmd_advanced = Named(new QPushButton(kAdvancedHiddenCaption, acq_box), "cmd_advanced");
    AddLabelled(ag, 0, 0, "Plate format:", Combowell);
    AddLabelled(ag, 1, 0, "Acquisition mode:", Combo_aqmode);
    AddLabelled(ag, 2, 0, "Lapse (minutes):", Txtlapse);
    ag->addWidget(cmd_advanced, 3, 0, 1, 2);

    Frame_advanced = Named(new QFrame(acq_box), "Frame_advanced");
    Frame_advanced->setFrameShape(QFrame::StyledPanel);
    auto* fa = new QGridLayout(Frame_advanced);
    Txtsample = NumberBox(Frame_advanced, "Txtsample", 80);
    Txtbuffer = NumberBox(Frame_advanced, "Txtbuffer", 80);
    Txt_dspinterval = NumberBox(Frame_advanced, "Txt_dspinterval", 80);
    ComboDSP = Named(new QComboBox(Frame_advanced), "ComboDSP");
    Combosavecount = Named(new QComboBox(Frame_advanced), "Combosavecount");
    Combosavereal = Named(new QComboBox(Frame_advanced), "Combosavereal");
    // Menu4..6 are kept in setup.dat for the earlier software; no tool of this program uses
    // them, and their captions say so.
    Chk_mn4 = Named(new QCheckBox("Spare switch 4 (no tool)", Frame_advanced), "Chk_mn4");
    Chk_mn5 = Named(new QCheckBox("Spare switch 5 (no tool)", Frame_advanced), "Chk_mn5");
    Chk_mn6 = Named(new QCheckBox("Spare switch 6 (no tool)", Frame_advanced), "Chk_mn6");
    for (auto* c : {Chk_mn4, Chk_mn5, Chk_mn6})
        c->setToolTip(
            "Stored with the project (setup.dat, Menu4..Menu6) and shown here; it "
            "switches no panel or tool on or off.");
    int row = 0;
    fa->addWidget(new QLabel("Sample rate:", Frame_advanced), row, 0);
    fa->addWidget(Txtsample, row++, 1);
    fa->addWidget(new QLabel("Buffer (samples):", Frame_advanced), row, 0);
    fa->addWidget(Txtbuffer, row++, 1);
    fa->addWidget(new QLabel("DSP interval:", Frame_advanced), row, 0);
    fa->addWidget(Txt_dspinterval, row++, 1);
    fa->addWidget(new QLabel("Method:", Frame_advanced), row, 0);
    fa->addWidget(ComboDSP, row++, 1);
    fa->addWidget(new QLabel("Save counts:", Frame_advanced), row, 0);
    fa->addWidget(Combosavecount, row++, 1);
    fa->addWidget(new QLabel("Save raw signal:", Frame_advanced), row, 0);
    fa->addWidget(Combosavereal, row++, 1);
    for (auto* c : {Chk_mn4, Chk_mn5, Chk_mn6}) fa->addWidget(c, row++, 0, 1, 2);
    Frame_advanced->hide();
    ag->addWidget(Frame_advanced, 4, 0, 1, 2);
    left->addWidget(acq_box);

    auto* tools_box = new QGroupBox("Tools of the main window", this);
    auto* tl = new QVBoxLayout(tools_box);
    chkcalib = Named(new QCheckBox("Calibration tools", tools_box), "chkcalib");
    chklight = Named(new QCheckBox("Light control", tools_box), "chklight");
    chktemp = Named(new QCheckBox("Temperature control", tools_box), "chktemp");
    for (auto* c : {chkcalib, chklight, chktemp}) tl->addWidget(c);
    left->addWidget(tools_box);

    left->addStretch(1);
    auto* nav = new QHBoxLayout;
    Cmdoffline = Named(new QPushButton("<< Launcher", this), "Cmdoffline");
    Command_main = Named(new QPushButton("Acquisition >>", this), "Command_main");
    nav->addWidget(Cmdoffline);
    nav->addWidget(Command_main);
    left->addLayout(nav);

    // ---- Right: the plate, and under it the groups or the plate map ----
    auto* right = new QVBoxLayout;
    root->addLayout(right, 1);
    frm_plate = Named(new QGroupBox(this), "frm_plate");
    auto* pl = new QVBoxLayout(frm_plate);
    Picwell = new PlateView(state_.plate, state_.project, frm_plate);
    pl->addWidget(Picwell);
    right->addWidget(frm_plate, 1);

    tab_plate = Named(new QTabWidget(this), "tab_plate");
    right->addWidget(tab_plate, 0);
    frm_groups = Named(new QWidget(tab_plate), "frm_groups");
    tab_plate->addTab(frm_groups, "Groups");
    QWidget* groups_box = frm_groups;
    auto* gg = new QGridLayout(groups_box);
    combogrup = Named(new QComboBox(groups_box), "combogrup");
    combogrup->setEditable(true);
    combogrup->setInsertPolicy(QComboBox::NoInsert);
    combogrup->setMinimumWidth(220);
    combogrup->lineEdit()->setPlaceholderText("group number 000..383");
    combogrup->lineEdit()->installEventFilter(this);
    combogrup->setToolTip("Choose or type a group (000..383); double click or Enter renames it");
    lstgrup = Named(new QListWidget(groups_box), "lstgrup");
    lstchgrup = Named(new QListWidget(groups_box), "lstchgrup");
    for (auto* l : {lstgrup, lstchgrup}) {
        l->setFlow(QListView::TopToBottom);
        l->setWrapping(true);
        l->setResizeMode(QListView::Adjust);
        l->setMinimumHeight(130);
        l->installEventFilter(this);
    }
    lstgrup->setToolTip("Double click (or Enter) frees the well");
    lstchgrup->setToolTip("Double click (or Enter) puts the well into the group");
    Cmd_clear = Named(new QPushButton("Clear groups", groups_box), "Cmd_clear");
    cmd_goset = Named(new QPushButton("Arrange in blocks...", groups_box), "cmd_goset");
    mngroup = Named(new QMenu(cmd_goset), "mngroup");
    for (std::size_t i = 0; i < mnopciongrup.size(); ++i) {
        mnopciongrup[i] = mngroup->addAction(QString());
        mnopciongrup[i]->setObjectName(QString("mnopciongrup%1").arg(i));
        mnopciongrup[i]->setCheckable(true);
    }
    cmd_goset->setMenu(mngroup);
    gg->addWidget(new QLabel("Group:", groups_box), 0, 0);
    gg->addWidget(combogrup, 0, 1);
    gg->addWidget(cmd_goset, 0, 2);
    gg->addWidget(Cmd_clear, 0, 3);
    gg->addWidget(new QLabel("Wells of the group:", groups_box), 1, 0, 1, 2);
    gg->addWidget(new QLabel("Free wells:", groups_box), 1, 2, 1, 2);
    gg->addWidget(lstgrup, 2, 0, 1, 2);
    gg->addWidget(lstchgrup, 2, 2, 1, 2);
    BuildWellMapEditor();
    // Both pages as tall as the taller: the plate keeps its size when the tab changes.
    const int page_height =
        std::max(frm_groups->sizeHint().height(), frm_wells->sizeHint().height());
    for (QWidget* page : {frm_groups, frm_wells}) page->setMinimumHeight(page_height);
}

void Frm_setup::BuildWellMapEditor() {
    frm_wells = Named(new QWidget(tab_plate), "frm_wells");
    tab_plate->addTab(frm_wells, "Plate map");
    auto* root = new QHBoxLayout(frm_wells);
    // The boxes in a column of their own width; the table takes the rest.
    auto [form_column, form_layout] = FixedColumn(frm_wells, 410);
    root->addWidget(form_column, 0);
    auto* form = new QGridLayout;
    form->setContentsMargins(0, 0, 0, 0);
    form_layout->addLayout(form);

    lbl_chosen_wells = Named(new QLabel(frm_wells), "lbl_chosen_wells");
    lbl_chosen_wells->setWordWrap(true);
    txt_treatment = Named(new QLineEdit(frm_wells), "txt_treatment");
    txt_treatment->setPlaceholderText("compound or strain");
    txt_concentration = NumberBox(frm_wells, "txt_concentration", 90);
    txt_concentration->setPlaceholderText("blank: none");
    txt_unit = Named(new QLineEdit(frm_wells), "txt_unit");
    txt_unit->setMaximumWidth(90);
    txt_unit->setPlaceholderText("uM, mg/L");
    cmb_role = Named(new QComboBox(frm_wells), "cmb_role");
    for (const auto& role : WellRoleChoices()) cmb_role->addItem(ToQ(role));
    cmb_role->setToolTip(
        "sample: a treated well; negative and positive: the control wells; empty: a well "
        "without animals");
    cmd_apply_wells = Named(new QPushButton("Apply to chosen wells", frm_wells), "cmd_apply_wells");
    cmd_remove_wells = Named(new QPushButton("Take out of the map", frm_wells), "cmd_remove_wells");
    cmd_remove_wells->setToolTip("The chosen wells get no entry in wells.csv");

    txt_series_first = NumberBox(frm_wells, "txt_series_first", 70);
    txt_series_first->setToolTip("The concentration of the first well of the series");
    txt_series_factor = NumberBox(frm_wells, "txt_series_factor", 60);
    txt_series_factor->setText("0.5");
    txt_series_factor->setToolTip("Each well holds this times the one before (1:2 is 0.5)");
    cmb_series_direction = Named(new QComboBox(frm_wells), "cmb_series_direction");
    for (const auto& d : SeriesDirectionChoices()) cmb_series_direction->addItem(ToQ(d));
    cmd_fill_series = Named(new QPushButton("Fill series", frm_wells), "cmd_fill_series");
    cmd_fill_series->setToolTip(
        "Sets the concentrations of the chosen wells along each chosen row (or down each "
        "chosen column). The other fields of a well stay; a well not yet in the map gets the "
        "treatment, unit and role typed above.");

    int row = 0;
    form->addWidget(new QLabel("Chosen:", frm_wells), row, 0);
    form->addWidget(lbl_chosen_wells, row++, 1, 1, 4);
    form->addWidget(new QLabel("Treatment:", frm_wells), row, 0);
    form->addWidget(txt_treatment, row, 1, 1, 2);
    form->addWidget(new QLabel("Role:", frm_wells), row, 3, Qt::AlignRight);
    form->addWidget(cmb_role, row++, 4);
    form->addWidget(new QLabel("Concentration:", frm_wells), row, 0);
    form->addWidget(txt_concentration, row, 1);
    form->addWidget(new QLabel("Unit:", frm_wells), row, 3, Qt::AlignRight);
    form->addWidget(txt_unit, row++, 4);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmd_apply_wells);
    buttons->addWidget(cmd_remove_wells);
    buttons->addStretch(1);
    form->addLayout(buttons, row++, 0, 1, 5);
    auto* series = new QHBoxLayout;
    txt_series_first->setMinimumWidth(64);
    txt_series_factor->setMinimumWidth(48);
    series->addWidget(new QLabel("Series from", frm_wells));
    series->addWidget(txt_series_first);
    series->addWidget(new QLabel("x", frm_wells));
    series->addWidget(txt_series_factor);
    series->addWidget(cmb_series_direction);
    series->addWidget(cmd_fill_series);
    series->addStretch(1);
    form->addLayout(series, row++, 0, 1, 5);
    lbl_wells_note = Named(new QLabel(frm_wells), "lbl_wells_note");
    lbl_wells_note->setWordWrap(true);
    lbl_wells_note->setStyleSheet("color: #b00020;");
    lbl_wells_note->hide();
    form->addWidget(lbl_wells_note, row++, 0, 1, 5);
    form->setRowStretch(row, 1);

    auto* table_side = new QVBoxLayout;
    root->addLayout(table_side, 1);
    auto* files = new QHBoxLayout;
    cmd_import_wells = Named(new QPushButton("Import...", frm_wells), "cmd_import_wells");
    cmd_import_wells->setToolTip(
        "Reads a CSV plate map (well,treatment,concentration,unit,role"
        "[,more columns]) in place of this one");
    cmd_export_wells = Named(new QPushButton("Export...", frm_wells), "cmd_export_wells");
    cmd_export_wells->setToolTip("Writes this plate map to a CSV file of your choice");
    files->addWidget(new QLabel("wells.csv", frm_wells));
    files->addStretch(1);
    files->addWidget(cmd_import_wells);
    files->addWidget(cmd_export_wells);
    table_side->addLayout(files);
    tbl_wells = Named(new QTableWidget(frm_wells), "tbl_wells");
    tbl_wells->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tbl_wells->setSelectionBehavior(QAbstractItemView::SelectRows);
    tbl_wells->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tbl_wells->verticalHeader()->hide();
    tbl_wells->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    tbl_wells->horizontalHeader()->setStretchLastSection(true);
    tbl_wells->setMinimumHeight(150);
    tbl_wells->setToolTip("Click rows to choose their wells");
    table_side->addWidget(tbl_wells, 1);
}

void Frm_setup::Connect() {
    connect(Cmdnewpj, &QPushButton::clicked, this, &Frm_setup::Cmdnewpj_Click);
    connect(Cmdsavepj, &QPushButton::clicked, this, &Frm_setup::Cmdsavepj_Click);
    connect(cmdLoad, &QPushButton::clicked, this, &Frm_setup::cmdLoad_Click);
    connect(List_project, &QListWidget::itemDoubleClicked, this,
            [this] { List_project_DblClick(); });
    connect(Command_main, &QPushButton::clicked, this, &Frm_setup::Command_main_Click);
    connect(Cmdoffline, &QPushButton::clicked, this, &Frm_setup::Cmdoffline_Click);
    connect(Combowell, &QComboBox::activated, this, [this] { Combowell_Click(); });
    connect(cmd_advanced, &QPushButton::clicked, this, &Frm_setup::cmd_advanced_Click);
    const std::array<QCheckBox*, 6> tools{chkcalib, chklight, chktemp, Chk_mn4, Chk_mn5, Chk_mn6};
    for (std::size_t i = 0; i < tools.size(); ++i) {
        const int menu = static_cast<int>(i) + 1;
        connect(tools[i], &QCheckBox::toggled, this, [this, menu] { chk_tool_Click(menu); });
    }
    connect(Txtlapse, &QLineEdit::textEdited, this, &Frm_setup::Txtlapse_Change);
    connect(Txtlapse, &QLineEdit::editingFinished, this, &Frm_setup::Txtlapse_LostFocus);
    connect(Txtbuffer, &QLineEdit::editingFinished, this, &Frm_setup::Txtbuffer_LostFocus);
    connect(Txtsample, &QLineEdit::textEdited, this, &Frm_setup::Txtsample_Change);
    connect(Txtsample, &QLineEdit::editingFinished, this, &Frm_setup::Txtsample_LostFocus);
    connect(Txt_dspinterval, &QLineEdit::textEdited, this, &Frm_setup::Txt_dspinterval_Change);
    connect(Txt_dspinterval, &QLineEdit::editingFinished, this,
            &Frm_setup::Txt_dspinterval_LostFocus);
    connect(Combo_aqmode, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!filling_) ChooseAqMode(state_.project.Setup, index);
    });
    connect(ComboDSP, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!filling_) ChooseDspMethod(state_.project.Setup, index);
    });
    connect(Combosavecount, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (!filling_) ChooseSaveCounts(state_.project.Setup, FromQ(text));
    });
    connect(Combosavereal, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (!filling_) ChooseSaveReal(state_.project.Setup, FromQ(text));
    });
    connect(combogrup, &QComboBox::currentIndexChanged, this, [this] {
        if (!filling_) combogrup_Click();
    });
    connect(combogrup, &QComboBox::editTextChanged, this, [this] {
        if (!filling_) combogrup_Click();
    });
    connect(lstchgrup, &QListWidget::itemDoubleClicked, this, [this] { lstchgrup_DblClick(); });
    connect(lstgrup, &QListWidget::itemDoubleClicked, this, [this] { lstgrup_DblClick(); });
    connect(Cmd_clear, &QPushButton::clicked, this, &Frm_setup::Cmd_clear_Click);
    for (std::size_t i = 0; i < mnopciongrup.size(); ++i) {
        const int index = static_cast<int>(i);
        connect(mnopciongrup[i], &QAction::triggered, this,
                [this, index] { mnopciongrup_Click(index); });
    }
    connect(Picwell, &PlateView::rectangleChosen, this, &Frm_setup::Picwell_Rectangle);
    connect(tab_plate, &QTabWidget::currentChanged, this, [this] { tab_plate_Click(); });
    connect(tbl_wells, &QTableWidget::itemSelectionChanged, this, [this] {
        if (!filling_) tbl_wells_Click();
    });
    ConnectClicks(this, {{cmd_apply_wells, &Frm_setup::cmd_apply_wells_Click},
                         {cmd_remove_wells, &Frm_setup::cmd_remove_wells_Click},
                         {cmd_fill_series, &Frm_setup::cmd_fill_series_Click},
                         {cmd_import_wells, &Frm_setup::cmd_import_wells_Click},
                         {cmd_export_wells, &Frm_setup::cmd_export_wells_Click}});
}

SetupSession Frm_setup::Session() {
    return SetupSession{storage_, state_.config, state_.project, state_.plate};
}

// ---- Load and the project header ----

void Frm_setup::Form_Load(bool load_project) {
    if (load_project) {
        if (state_.project.ProjectFolder.empty())
            SelectProjectFolder(storage_, state_.config, state_.project);
        const int n = state_.config.Actual_Project_Number;
        LoadProject(storage_, n, n, state_.project, state_.plate);
    }
    FillFromState();
    TakeSnapshot();
}

void Frm_setup::FillFromState() {
    filling_ = true;
    ShowProjectHeader();
    Fill(Combowell, ListPlateFormats(storage_));
    // Each plate code says what plate it is ("w96f": 96 wells, flat bottom, 2 beams a well).
    for (int i = 0; i < Combowell->count(); ++i)
        Combowell->setItemData(i, PlateToolTip(FromQ(Combowell->itemText(i))), Qt::ToolTipRole);
    Combowell->setCurrentIndex(Combowell->findText(ToQ(state_.project.Setup.Plate_format)));
    Combowell->setToolTip(PlateToolTip(state_.project.Setup.Plate_format));
    FillParameters();
    filling_ = false;
    RefreshProjectList();
    FillBlockSizes();
    RefreshGroups();
    // Another project or plate: the wells chosen before mean nothing there.
    chosen_wells_.clear();
    RefreshWellMap();
    tab_plate_Click();
}

void Frm_setup::TakeSnapshot() {
    snapshot_ = TakeSetupSnapshot(Session());
}

void Frm_setup::FinishEdits() {
    Txtlapse_LostFocus();
    Txtbuffer_LostFocus();
    Txtsample_LostFocus();
    Txt_dspinterval_LostFocus();
}

bool Frm_setup::ConfirmLeave(std::string_view leaving) {
    FinishEdits();
    SetupSession s = Session();
    if (!CloseSetupWindow(s, snapshot_, leaving)) return false;
    // What was discarded is gone from the state too: the window shows it no longer.
    TakeSnapshot();
    ApplyToolPanels();
    return true;
}

void Frm_setup::ShowProjectHeader() {
    const SetupSession s = Session();
    txtprj->setText(ToQ(ProjectCaption(s)));
    Txtfolder->setText(ToQ(state_.project.ProjectFolder.string()));
}

void Frm_setup::FillParameters() {
    const ProjectSetup& s = state_.project.Setup;
    Fill(Combo_aqmode, AqModeChoices());
    Combo_aqmode->setCurrentIndex(s.Aq_mode < Combo_aqmode->count() ? s.Aq_mode : -1);
    Fill(ComboDSP, DspMethodChoices());
    ComboDSP->setCurrentIndex(s.DSP_Method < ComboDSP->count() ? s.DSP_Method : -1);
    Fill(Combosavecount, NoYesChoices());
    Combosavecount->setCurrentIndex(s.Save_counts == 1 ? 1 : 0);
    Fill(Combosavereal, NoYesChoices());
    Combosavereal->setCurrentIndex(s.Save_real == 1 ? 1 : 0);
    Txtlapse->setText(QString::number(s.Aq_lapse));
    Txtsample->setText(QString::number(s.Sample_Rate));
    Txtbuffer->setText(QString::number(s.RT_Buffer));
    Txt_dspinterval->setText(QString::number(s.DSP_Interval));
    const std::array<QCheckBox*, 6> tools{chkcalib, chklight, chktemp, Chk_mn4, Chk_mn5, Chk_mn6};
    for (std::size_t i = 0; i < tools.size(); ++i)
        tools[i]->setChecked(state_.project.ToolMenu[i + 1] == 1);
}

void Frm_setup::RefreshProjectList() {
    List_project->clear();
    for (const auto& entry : ListProjects(storage_)) List_project->addItem(ToQ(entry));
}

void Frm_setup::FillBlockSizes() {
    const auto captions = BlockSizeCaptions(state_.plate);
    for (std::size_t i = 0; i < mnopciongrup.size(); ++i) {
        QAction* item = mnopciongrup[i];
        item->setChecked(false);
        item->setVisible(i < captions.size());
        item->setText(i < captions.size() ? ToQ(captions[i]) : QString());
    }
}

void Frm_setup::ApplyToolPanels() {
    const auto& menu = state_.project.ToolMenu;
    if (ShowToolPanels) ShowToolPanels(menu[1] == 1, menu[2] == 1, menu[3] == 1);
}

// ---- Project buttons ----

void Frm_setup::Cmdnewpj_Click() {
    FinishEdits();
    SetupSession s = Session();
    if (!NewProject(s)) return;
    ShowProjectHeader();
    RefreshProjectList();
    TakeSnapshot();
}

void Frm_setup::Cmdsavepj_Click() {
    FinishEdits();
    SetupSession s = Session();
    if (!SaveProjectInteractive(s)) return;
    ShowProjectHeader();
    RefreshProjectList();
    TakeSnapshot();
}

void Frm_setup::cmdLoad_Click() {
    SetupSession s = Session();
    if (!PrepareLoad(s)) return;
    RefreshProjectList();
    frm_project->show();
}

void Frm_setup::List_project_DblClick() {
    const QListWidgetItem* item = List_project->currentItem();
    if (item == nullptr) return;
    SetupSession s = Session();
    if (!LoadListedProject(s, FromQ(item->text()))) return;
    Form_Load();
    ApplyToolPanels();
}

void Frm_setup::txtprj_DblClick() {
    SetupSession s = Session();
    if (RenameCurrentProject(s)) ShowProjectHeader();
}

void Frm_setup::Command_main_Click() {
    // A recording uses the project as saved or discarded here, never a half-checked value.
    if (!ConfirmLeave("going to the acquisition")) return;
    hide();
    if (ShowMainWindow) ShowMainWindow();
    if (!state_.connection.InstrumentConnected && ConnectInstrument) ConnectInstrument();
}

void Frm_setup::Cmdoffline_Click() {
    if (!ConfirmLeave()) return;
    if (ShowLauncher) ShowLauncher();
    hide();
}

void Frm_setup::closeEvent(QCloseEvent* event) {
    if (!ConfirmLeave()) {
        event->ignore();
        return;
    }
    event->accept();
    if (ShowLauncher) ShowLauncher();
}

// ---- Plate format, parameters and tools ----

void Frm_setup::Combowell_Click() {
    const std::string chosen = FromQ(Combowell->currentText());
    if (chosen == state_.project.Setup.Plate_format) return;
    SetupSession s = Session();
    if (ChangePlateFormat(s, chosen) == PlateChange::Changed) {
        FillFromState();  // a change of the project, not yet saved
        return;
    }
    // Not taken: the list shows the project's format again.
    filling_ = true;
    Combowell->setCurrentIndex(Combowell->findText(ToQ(state_.project.Setup.Plate_format)));
    filling_ = false;
}

void Frm_setup::cmd_advanced_Click() {
    const bool show = Frame_advanced->isHidden();
    Frame_advanced->setVisible(show);
    cmd_advanced->setText(show ? kAdvancedShownCaption : kAdvancedHiddenCaption);
}

void Frm_setup::chk_tool_Click(int menu) {
    if (filling_) return;
    const std::array<QCheckBox*, 6> tools{chkcalib, chklight, chktemp, Chk_mn4, Chk_mn5, Chk_mn6};
    SetToolMenu(state_.project, menu, tools[static_cast<std::size_t>(menu - 1)]->isChecked());
    if (menu <= 3) ApplyToolPanels();
}

namespace {

// A number box: while typing, a value the check keeps is taken at once; when the box is left
// (or Enter is pressed) the check runs in full and the box shows what was kept. Text that is
// not a number is refused with a message and the value stays.
void EditNumberBox(QLineEdit* box, ProjectSetup& setup, Dialogs& dialogs,
                   FieldEdit (*edit)(ProjectSetup&, std::string_view), bool final) {
    const std::string text = FromQ(box->text());
    if (!final) {
        ProjectSetup trial = setup;
        const FieldEdit e = edit(trial, text);
        if (!e.shown && e.message.empty()) setup = trial;
        return;
    }
    const FieldEdit e = edit(setup, text);
    if (e.shown) box->setText(ToQ(*e.shown));
    if (!e.message.empty()) dialogs.MessageBox(e.message);
}

}  // namespace

void Frm_setup::Txtlapse_Change() {
    EditNumberBox(Txtlapse, state_.project.Setup, storage_.dialogs, EditAqLapse, false);
}

void Frm_setup::Txtlapse_LostFocus() {
    EditNumberBox(Txtlapse, state_.project.Setup, storage_.dialogs, EditAqLapse, true);
}

void Frm_setup::Txtbuffer_LostFocus() {
    EditNumberBox(Txtbuffer, state_.project.Setup, storage_.dialogs, EditRtBuffer, true);
}

void Frm_setup::Txtsample_Change() {
    EditNumberBox(Txtsample, state_.project.Setup, storage_.dialogs, EditSampleRate, false);
}

void Frm_setup::Txtsample_LostFocus() {
    EditNumberBox(Txtsample, state_.project.Setup, storage_.dialogs, EditSampleRate, true);
}

void Frm_setup::Txt_dspinterval_Change() {
    EditNumberBox(Txt_dspinterval, state_.project.Setup, storage_.dialogs, EditDspInterval, false);
}

void Frm_setup::Txt_dspinterval_LostFocus() {
    EditNumberBox(Txt_dspinterval, state_.project.Setup, storage_.dialogs, EditDspInterval, true);
}

// ---- Groups ----

std::optional<int> Frm_setup::SelectedGroup() const {
    return GroupOfEntry(FromQ(combogrup->currentText()));
}

void Frm_setup::RefreshGroups() {
    const std::optional<int> selected = SelectedGroup();
    const QString typed = combogrup->currentText();
    const auto entries = RebuildGroupList(state_.project);
    filling_ = true;
    combogrup->clear();
    for (const auto& entry : entries) combogrup->addItem(ToQ(entry));
    int index = -1;
    for (int i = 0; i < combogrup->count() && selected; ++i)
        if (GroupOfEntry(FromQ(combogrup->itemText(i))) == selected) index = i;
    if (index >= 0)
        combogrup->setCurrentIndex(index);
    else if (selected)
        combogrup->setEditText(typed);  // a group typed in that has no wells yet
    else
        combogrup->setCurrentIndex(combogrup->count() > 0 ? 0 : -1);
    filling_ = false;
    FillWellLists();
}

void Frm_setup::FillWellLists() {
    const std::optional<int> group = SelectedGroup();
    lstgrup->clear();
    if (group)
        for (const auto& label : WellEntriesOfGroup(state_.project, state_.plate, *group))
            lstgrup->addItem(ToQ(label));
    lstchgrup->clear();
    for (const auto& label : WellEntriesOfGroup(state_.project, state_.plate, kFreeGroup))
        lstchgrup->addItem(ToQ(label));
    Picwell->SetSelectedGroup(group);
}

void Frm_setup::combogrup_Click() {
    FillWellLists();
}

void Frm_setup::combogrup_DblClick() {
    const std::optional<int> group = SelectedGroup();
    if (!group) return;
    if (RenameGroup(storage_.dialogs, state_.project, *group)) RefreshGroups();
}

void Frm_setup::lstchgrup_DblClick() {
    const QListWidgetItem* item = lstchgrup->currentItem();
    const std::optional<int> group = SelectedGroup();
    if (item == nullptr || !group) return;
    if (MoveWellEntry(state_.project, state_.plate, FromQ(item->text()), *group)) RefreshGroups();
}

void Frm_setup::lstgrup_DblClick() {
    const QListWidgetItem* item = lstgrup->currentItem();
    if (item == nullptr) return;
    if (MoveWellEntry(state_.project, state_.plate, FromQ(item->text()), kFreeGroup))
        RefreshGroups();
}

void Frm_setup::Cmd_clear_Click() {
    if (storage_.dialogs.MessageBox(kClearGroupsQuestion, MsgButtons::YesNo) != MsgResult::Yes)
        return;
    ClearGroups(state_.project);
    RefreshGroups();
}

void Frm_setup::mnopciongrup_Click(int index) {
    if (index < 0 || index >= static_cast<int>(mnopciongrup.size())) return;
    QAction* item = mnopciongrup[static_cast<std::size_t>(index)];
    const auto size = ParseBlockSize(FromQ(item->text()));
    if (!size) return;
    ArrangeInBlocks(state_.project, state_.plate, *size);
    for (QAction* other : mnopciongrup) other->setChecked(other == item);
    // The arrangement starts at group 0: show it.
    combogrup->setEditText(ToQ(GroupEntry(0, "")));
    RefreshGroups();
}

void Frm_setup::Picwell_Rectangle(WellCell from, WellCell to, Qt::MouseButton button,
                                  Qt::KeyboardModifiers modifiers) {
    if (ChoosingWells()) {
        if (button != Qt::LeftButton && button != Qt::RightButton) return;
        const bool add = modifiers & (Qt::ControlModifier | Qt::ShiftModifier);
        const ChoiceChange change = button == Qt::RightButton ? ChoiceChange::Remove
                                    : add                     ? ChoiceChange::Add
                                                              : ChoiceChange::Replace;
        ChangeChosenWells(chosen_wells_, WellsOfRectangle(state_.plate, from, to), change);
        ShowChosenWells();
        return;
    }
    int group = kFreeGroup;
    if (button == Qt::LeftButton) {
        const std::optional<int> selected = SelectedGroup();
        if (!selected) return;  // no group chosen: nothing to put the wells into
        group = *selected;
    } else if (button != Qt::RightButton) {
        return;
    }
    AssignRectangle(state_.project, state_.plate, from, to, group);
    RefreshGroups();
}

// ---- Plate map ----

namespace {

// The map's texts are UTF-8 (wells.csv is), unlike the 8-bit project files.
QString U8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
std::string FromU8(const QString& s) {
    return s.trimmed().toUtf8().toStdString();
}

}  // namespace

bool Frm_setup::ChoosingWells() const {
    return tab_plate->currentWidget() == frm_wells;
}

void Frm_setup::tab_plate_Click() {
    const bool choosing = ChoosingWells();
    frm_plate->setTitle(
        choosing ? "Plate map (left button: drag over wells to choose them, with Ctrl to add "
                   "more; right button: take them out of the choice)"
                 : "Plate layout (left button: drag over wells to put them into the group; "
                   "right button: free them)");
    Picwell->SetChosenWells(choosing ? chosen_wells_ : std::vector<int>{}, choosing);
    Picwell->SetWellMapView(choosing ? &state_.project.Wells : nullptr);
}

void Frm_setup::RefreshWellMap() {
    const WellMap& map = state_.project.Wells;
    const auto header = WellTableHeader(map);
    const auto rows = WellTableRows(map);
    filling_ = true;
    tbl_wells->clearSelection();
    tbl_wells->setColumnCount(static_cast<int>(header.size()));
    tbl_wells->setRowCount(static_cast<int>(rows.size()));
    for (int c = 0; c < static_cast<int>(header.size()); ++c)
        tbl_wells->setHorizontalHeaderItem(c, new QTableWidgetItem(U8(header[std::size_t(c)])));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r)
        for (int c = 0; c < static_cast<int>(rows[std::size_t(r)].size()); ++c)
            tbl_wells->setItem(r, c,
                               new QTableWidgetItem(U8(rows[std::size_t(r)][std::size_t(c)])));
    tbl_wells->resizeColumnsToContents();
    filling_ = false;
    const std::string& failure = state_.project.WellsFailure;
    lbl_wells_note->setVisible(!failure.empty());
    lbl_wells_note->setText(
        U8(failure) +
        "\nThe file is kept as it is until a map is imported or the map is edited here.");
    ShowChosenWells();
}

void Frm_setup::ShowChosenWells() {
    const std::string text = ChosenWellsText(state_.plate, chosen_wells_);
    lbl_chosen_wells->setText(text.empty() ? QString("no wells (drag over them on the plate)")
                                           : U8(text));
    if (ChoosingWells()) Picwell->SetChosenWells(chosen_wells_, true);
    // The table's rows of the chosen wells are selected with them.
    filling_ = true;
    tbl_wells->clearSelection();
    const WellMap& map = state_.project.Wells;
    std::set<std::string> chosen_names;
    for (int well : chosen_wells_) chosen_names.insert(WellName(state_.plate, well));
    for (int r = 0; r < static_cast<int>(map.wells.size()); ++r)
        if (chosen_names.count(map.wells[std::size_t(r)].well) > 0)
            tbl_wells->selectionModel()->select(
                tbl_wells->model()->index(r, 0),
                QItemSelectionModel::Select | QItemSelectionModel::Rows);
    filling_ = false;
    // One well chosen: its entry in the boxes, to be changed and applied again.
    if (chosen_wells_.size() == 1) {
        if (const WellEntry* e = map.Find(WellName(state_.plate, chosen_wells_.front()))) {
            txt_treatment->setText(U8(e->treatment));
            txt_concentration->setText(e->concentration ? ToQ(ConcentrationText(*e->concentration))
                                                        : QString());
            txt_unit->setText(U8(e->unit));
            cmb_role->setCurrentIndex(static_cast<int>(e->role));
        }
    }
}

void Frm_setup::tbl_wells_Click() {
    std::vector<std::string> names;
    for (const QModelIndex& index : tbl_wells->selectionModel()->selectedRows()) {
        const auto r = static_cast<std::size_t>(index.row());
        if (r < state_.project.Wells.wells.size())
            names.push_back(state_.project.Wells.wells[r].well);
    }
    ChangeChosenWells(chosen_wells_, WellsOfEntries(state_.plate, names), ChoiceChange::Replace);
    ShowChosenWells();
}

std::optional<WellEdit> Frm_setup::TypedWellEdit() {
    WellEdit edit;
    std::string message;
    if (!ParseConcentrationBox(FromQ(txt_concentration->text()), &edit.concentration, &message)) {
        storage_.dialogs.MessageBox(message);
        return std::nullopt;
    }
    edit.treatment = FromU8(txt_treatment->text());
    edit.unit = FromU8(txt_unit->text());
    edit.role = static_cast<WellRole>(std::max(0, cmb_role->currentIndex()));
    return edit;
}

void Frm_setup::cmd_apply_wells_Click() {
    if (chosen_wells_.empty()) {
        storage_.dialogs.MessageBox(kChooseWellsFirst);
        return;
    }
    const auto edit = TypedWellEdit();
    if (!edit) return;
    ApplyWellEdit(state_.project.Wells, state_.plate, chosen_wells_, *edit);
    state_.project.WellsFailure.clear();  // the map is the user's now
    RefreshWellMap();
}

void Frm_setup::cmd_remove_wells_Click() {
    if (chosen_wells_.empty()) {
        storage_.dialogs.MessageBox(kChooseWellsFirst);
        return;
    }
    if (RemoveWellEntries(state_.project.Wells, state_.plate, chosen_wells_) > 0)
        state_.project.WellsFailure.clear();
    RefreshWellMap();
}

void Frm_setup::cmd_fill_series_Click() {
    const auto first = ParseNumberBox(FromQ(txt_series_first->text()));
    const auto factor = ParseNumberBox(FromQ(txt_series_factor->text()));
    if (!first || !factor) {
        storage_.dialogs.MessageBox(
            "Type the first concentration of the series and its factor as numbers (a 1:2 "
            "dilution is 0.5).");
        return;
    }
    const auto fresh = TypedWellEdit();
    if (!fresh) return;
    const auto direction =
        static_cast<SeriesDirection>(std::max(0, cmb_series_direction->currentIndex()));
    const std::string refusal = FillDilutionSeries(
        state_.project.Wells, state_.plate, chosen_wells_, *first, *factor, direction, *fresh);
    if (!refusal.empty()) {
        storage_.dialogs.MessageBox(refusal);
        return;
    }
    state_.project.WellsFailure.clear();
    RefreshWellMap();
}

void Frm_setup::cmd_import_wells_Click() {
    const auto file = storage_.dialogs.ChooseFile(FileChoice::Open, "Import plate map",
                                                  state_.project.ProjectFolder.string(),
                                                  "CSV files (*.csv);;All files (*)");
    if (!file) return;
    std::string failure;
    auto map = ImportWellMap(storage_, *file, state_.plate, &failure);
    if (!map) {
        storage_.dialogs.MessageBox(failure + "\r\nThe plate map was not changed.");
        return;
    }
    state_.project.Wells = std::move(*map);
    state_.project.WellsFailure.clear();
    chosen_wells_.clear();
    RefreshWellMap();
}

void Frm_setup::cmd_export_wells_Click() {
    const auto file = storage_.dialogs.ChooseFile(
        FileChoice::Save, "Export plate map",
        (state_.project.ProjectFolder / kWellMapFileName).string(), "CSV files (*.csv)");
    if (!file) return;
    try {
        ExportWellMap(storage_, *file, state_.project.Wells);
    } catch (const std::exception& e) {
        storage_.dialogs.MessageBox("The plate map could not be exported: " +
                                    std::string(e.what()));
    }
}

bool Frm_setup::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtprj && event->type() == QEvent::MouseButtonDblClick) {
        txtprj_DblClick();
        return true;
    }
    // The group's line: double click or Enter renames (the key is kept from the combo box,
    // which would otherwise hand it back to the line a second time).
    if (watched == combogrup->lineEdit() &&
        (event->type() == QEvent::MouseButtonDblClick || IsEnter(event))) {
        combogrup_DblClick();
        return true;
    }
    if (watched == lstchgrup && IsEnter(event)) {
        lstchgrup_DblClick();
        return true;
    }
    if (watched == lstgrup && IsEnter(event)) {
        lstgrup_DblClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace lumivo::app
