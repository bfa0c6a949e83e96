// The project setup window: create, load, save and rename projects, choose the plate format,
// edit the acquisition and analysis parameters, switch the main window's tool panels, and group
// the wells of the plate (group lists, automatic arrangement, mouse on the plate picture).
// The handlers stay thin: the operations live in core/setup (project_ops.h, plate_groups.h).
// Nothing is written to disk until the user saves, creates or loads a project.
#pragma once

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

#include "app/plots/plate_view.h"
#include "core/setup/project_ops.h"
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
    void Picwell_Rectangle(WellCell from, WellCell to, Qt::MouseButton button);

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

    // Every control from the program-wide state.
    void FillFromState();
    // The project as the window found it or last saved or loaded it.
    void TakeSnapshot();

    StorageContext& storage_;
    AppState& state_;
    bool filling_ = false;  // controls being filled: their change handlers stay quiet
    SetupSnapshot snapshot_;
};

}  // namespace lumivo::app
