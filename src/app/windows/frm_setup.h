// The project setup window: create, load, save and rename projects, choose the plate format,
// edit the acquisition and analysis parameters, switch the main window's tool panels, and group
// the wells of the plate (group lists, automatic arrangement, mouse on the plate picture), and
// edit the plate map of what is in each well (wells.csv: treatment, concentration, unit, role
// of the wells chosen on the picture, dilution series, import and export of CSV).
// The handlers stay thin: the operations live in core/setup (project_ops.h, plate_groups.h,
// well_editor.h).
// Nothing is written to disk until the user saves, creates or loads a project.
#pragma once

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

#include "app/plots/plate_view.h"
#include "core/setup/project_ops.h"
#include "core/setup/well_editor.h"
#include "core/state/app_state.h"
#include "core/storage/storage_context.h"

namespace lumivo::app {

inline constexpr const char* kAdvancedShownCaption = "[Advanced Tools]    <-";
inline constexpr const char* kAdvancedHiddenCaption = "[Advanced Tools]    ->";

class Frm_setup : public QWidget {
    Q_OBJECT
  public:
    Frm_setup(StorageContext& storage, AppState& state, QWidget* parent = nullptr);

    // The window load: fills every control from the program-wide state. With `load_project`
    // the current project is read from disk first (when the state was not loaded yet).
    void Form_Load(bool load_project = false);

    // Where the window hands over to the rest of the program.
    // The main window's tool panels: calibration `frm_mn1`, light `Frame_light`, temperature
    // `Frame_temp`.
    std::function<void(bool calibration, bool light, bool temperature)> ShowToolPanels;
    // `Command_main`: show the main window (after this window is hidden) ...
    std::function<void()> ShowMainWindow;
    // ... and, when no instrument is connected, run its connect sequence.
    std::function<void()> ConnectInstrument;
    // `Cmdoffline` and closing the window: back to the launcher.
    std::function<void()> ShowLauncher;

    // Handlers.
    void Cmdnewpj_Click();
    void Cmdsavepj_Click();
    void cmdLoad_Click();
    void List_project_DblClick();
    void txtprj_DblClick();
    void Command_main_Click();
    void Cmdoffline_Click();
    void Combowell_Click();
    void cmd_advanced_Click();
    void chk_tool_Click(int menu);  // chkcalib 1, chklight 2, chktemp 3, Chk_mn4..6
    void Txtlapse_Change();
    void Txtlapse_LostFocus();
    void Txtbuffer_LostFocus();
    void Txtsample_Change();
    void Txtsample_LostFocus();
    void Txt_dspinterval_Change();
    void Txt_dspinterval_LostFocus();
    void combogrup_Click();
    void combogrup_DblClick();
    void lstchgrup_DblClick();
    void lstgrup_DblClick();
    void Cmd_clear_Click();
    void mnopciongrup_Click(int index);
    // The mouse on the picture: in the groups tab it assigns the wells to the group (left) or
    // frees them (right); in the plate-map tab it chooses them (left; with Ctrl or Shift the
    // wells are added to the choice) or takes them out of the choice (right).
    void Picwell_Rectangle(WellCell from, WellCell to, Qt::MouseButton button,
                           Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // The plate map.
    void tab_plate_Click();
    void tbl_wells_Click();
    void cmd_apply_wells_Click();
    void cmd_remove_wells_Click();
    void cmd_fill_series_Click();
    void cmd_import_wells_Click();
    void cmd_export_wells_Click();
    // The wells chosen for the plate map (well indices, sorted).
    const std::vector<int>& ChosenWells() const { return chosen_wells_; }

    // The group chosen in `combogrup` (its first three characters), if any.
    std::optional<int> SelectedGroup() const;

    // Controls (named as the window's controls are).
    QLineEdit* txtprj;
    QLineEdit* Txtfolder;
    QPushButton* Cmdnewpj;
    QPushButton* Cmdsavepj;
    QPushButton* cmdLoad;
    QGroupBox* frm_project;
    QListWidget* List_project;
    QComboBox* Combowell;
    QComboBox* Combo_aqmode;
    QLineEdit* Txtlapse;
    QLineEdit* Txtsample;
    QLineEdit* Txtbuffer;
    QLineEdit* Txt_dspinterval;
    QComboBox* ComboDSP;
    QComboBox* Combosavecount;
    QComboBox* Combosavereal;
    QCheckBox* chkcalib;
    QCheckBox* chklight;
    QCheckBox* chktemp;
    QCheckBox* Chk_mn4;
    QCheckBox* Chk_mn5;
    QCheckBox* Chk_mn6;
    QPushButton* cmd_advanced;
    QFrame* Frame_advanced;
    QComboBox* combogrup;
    QListWidget* lstgrup;
    QListWidget* lstchgrup;
    QPushButton* Cmd_clear;
    QPushButton* cmd_goset;
    QMenu* mngroup;
    std::array<QAction*, kArrangementMenuItems> mnopciongrup{};
    PlateView* Picwell;
    QGroupBox* frm_plate;
    QTabWidget* tab_plate;  // "Groups" and "Plate map"
    QWidget* frm_groups;
    QWidget* frm_wells;
    QLabel* lbl_chosen_wells;
    QLineEdit* txt_treatment;
    QLineEdit* txt_concentration;
    QLineEdit* txt_unit;
    QComboBox* cmb_role;
    QPushButton* cmd_apply_wells;
    QPushButton* cmd_remove_wells;
    QLineEdit* txt_series_first;
    QLineEdit* txt_series_factor;
    QComboBox* cmb_series_direction;
    QPushButton* cmd_fill_series;
    QPushButton* cmd_import_wells;
    QPushButton* cmd_export_wells;
    QLabel* lbl_wells_note;
    QTableWidget* tbl_wells;
    QPushButton* Command_main;
    QPushButton* Cmdoffline;

    // Leaving the window (closing it, "<< Launcher" or "Acquisition >>"): the number boxes get
    // their final checks, then with unsaved changes the user chooses to save them, discard
    // them or stay. True when the window may go.
    bool ConfirmLeave(std::string_view leaving = "closing");
    // The final checks of the number boxes, as when each loses the focus: a value still being
    // typed is checked (and the box shows what was kept) before it is saved or recorded with.
    void FinishEdits();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildControls();
    void Connect();
    SetupSession Session();
    void ShowProjectHeader();
    void FillParameters();
    void RefreshProjectList();
    void FillBlockSizes();
    // Rebuilds `combogrup` (keeping the chosen group), both well lists and the picture.
    void RefreshGroups();
    void FillWellLists();
    void ApplyToolPanels();
    void BuildWellMapEditor();
    bool ChoosingWells() const;
    // The plate map's table, the chosen wells, the note about an unreadable wells.csv and the
    // picture's marks.
    void RefreshWellMap();
    void ShowChosenWells();
    // What the edit boxes hold; nullopt (after telling why) when the concentration is no
    // number.
    std::optional<WellEdit> TypedWellEdit();

    // Every control from the program-wide state.
    void FillFromState();
    // The project as the window found it or last saved or loaded it.
    void TakeSnapshot();

    StorageContext& storage_;
    AppState& state_;
    bool filling_ = false;  // controls being filled: their change handlers stay quiet
    SetupSnapshot snapshot_;
    std::vector<int> chosen_wells_;
};

}  // namespace lumivo::app
