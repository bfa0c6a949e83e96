// The main acquisition window. It is created first and loaded without being shown: its load runs
// the start-up sequence and shows the launcher. Its handlers stay thin: the connection, start-up
// and closing logic live in the core (device/connection.h, startup.h); the window shows what it
// is told through the ConnectionView and StartupView interfaces.
#pragma once

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "app/app_context.h"
#include "app/auto_action_frame.h"
#include "app/frm_help.h"
#include "app/frm_init.h"
#include "app/live_plots.h"
#include "app/tool_panels.h"
#include "core/control/control_settings.h"
#include "core/control/light_temperature.h"
#include "core/device/connection.h"
#include "core/startup.h"

namespace lumivo::app {

inline constexpr const char* kAcquisitionUnavailableMessage =
    "Acquisition is not available in this build.";

class ControlPanels;
class AcquisitionWindow;

class Frm_Main : public QMainWindow, private ConnectionView, private StartupView {
    Q_OBJECT
  public:
    explicit Frm_Main(AppContext& ctx, QWidget* parent = nullptr);
    ~Frm_Main() override;

    // The load: the start-up sequence with `command_line` (the program's arguments without the
    // options already taken out). Shows the launcher, or with autorun the main window.
    void Form_Load(const std::string& command_line);
    // Activation: the project header and the controls that follow the project.
    void Form_Activate();

    // Handlers.
    void cmd_connect_Click();
    void Cmd_disconnect_Click();
    void mncom1_Click(int index);
    void mnexit_Click();
    void mnabout_Click();
    // Help > Contents: the user guide in a window of its own (opened once, then raised).
    void mnhelp_Click();
    Frm_help* help_window() const { return help_.get(); }
    void CmdPlay_Click();
    // "Quick Report": report.txt of the last run's totals, while no acquisition runs.
    void mnquickreport_Click();

    // The log panel: one line per event of the acquisitions and device procedures.
    void AppendLog(const std::string& line);
    // The status line: how the last run ended, what went wrong while nobody watched.
    void ShowStatusLine(const std::string& text);

    // Hooks for the windows and procedures that arrive later; each has a stand-in that tells
    // the user it is not available yet.
    std::function<void()> StartAcquisition;
    std::function<void()> ShowSetupWindow;
    std::function<void()> ShowOfflineBrowser;
    // Opens a document with the desktop (QDesktopServices::openUrl by default).
    std::function<bool(const QUrl&)> OpenDocument;
    // Closes every open data file when the window closes.
    std::function<void()> CloseDataFiles;
    // Ends the program (QCoreApplication::exit by default).
    std::function<void(int)> ExitProgram;
    // Whether an acquisition runs (the activation leaves the window alone then).
    std::function<bool()> IsAcquiring;

    Frm_Init* launcher() const { return launcher_.get(); }
    AppContext& context() { return ctx_; }

    // Controls (named as the window's controls are).
    QLineEdit* txt_projecto;
    QLineEdit* txt_acqlapse;
    QLineEdit* txt_wellformat;
    QLineEdit* txt_subproject;
    QLineEdit* Txt_description;
    QLineEdit* Txt_time;
    QLabel* lbl_endtime;  // the expected end of the running acquisition
    QLabel* lbl_temperature;
    QLabel* lbl_serial;
    QLabel* lbl_connection;      // status bar: the instrument's connection
    QLabel* lbl_status;          // status bar: the end of the last run, failures
    QPlainTextEdit* txt_events;  // the log panel
    QLabel* lbl_autochannel;
    QLabel* lblcalibrando;
    QPushButton* cmd_connect;
    QPushButton* Cmd_disconnect;
    QPushButton* Cmdsetup;
    QPushButton* Cmdoffline;
    QPushButton* CmdPlay;
    QPushButton* CmdPause;
    QPushButton* CmdStop;
    QPushButton* Cmd_barplot;
    QPushButton* Cmd_gridplot;
    QPushButton* Cmd_histoplot;
    QPushButton* cmd_pgup;
    QPushButton* cmd_pgdown;
    QPushButton* cmdbeam_plus;
    QPushButton* cmdbeam_minus;
    QPushButton* Cmdzoom_plus;
    QPushButton* Cmdzoom_minus;
    QComboBox* Combofila;
    QComboBox* Combocol;
    QComboBox* combogrup;
    QListWidget* lstgrup;
    QLineEdit* txtsub;
    QComboBox* Cmb_organism;
    QComboBox* combo_minutes;
    QCheckBox* chk_bodybends;
    PlotBox* Picact;
    PlotBox* Picreal;
    ProgressBox* picturetime;
    ProgressBox* picturecal;
    AutoActionFrame* frm_autotext;
    CalibrationPanel* frm_mn1;
    LightPanel* Frame_light;
    TemperaturePanel* Frame_temp;

    // Menus.
    QMenu* mncom;
    std::array<QAction*, kScanLastPort + 1> mncom1{};  // entries 1..15 ("COM1".."COM15")
    QAction* mnexit;
    QAction* mnabout;
    QAction* mnhelp;
    QAction* mn_userbin;
    QAction* mnquickreport;
    QAction* mncal_on;
    QAction* mncal_off;
    QAction* lght_ctl;
    QAction* temp_ctl;
    QAction* mn_factory;
    QAction* mn_selftest;

    // The control module's state shown by the tool panels.
    CalibrationControls calibration_controls;
    ClimateState climate;
    // The handlers of the calibration, light and temperature controls (a child object).
    ControlPanels* control_panels = nullptr;
    // CmdPlay, CmdPause, CmdStop, the sampling timer Timeradq and the alarm (a child object).
    AcquisitionWindow* acquisition = nullptr;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

  private:
    // ConnectionView.
    void SetStatusText(const std::string& text) override;
    void SetLauncherNews(const std::string& text) override;
    void SetAutoActionText(const std::string& text) override;
    void ShowAutoActionPanels(bool visible) override;
    void CheckPortMenuEntry(int port) override;
    void ReturnToLauncher() override;
    // StartupView.
    void ResetDeviceControls() override;
    void ShowLauncherLoading() override;
    void ShowToolPanels(bool calibration, bool light, bool temperature) override;
    void SetOrganismList(const std::vector<std::string>& items,
                         const std::optional<std::string>& text) override;
    void LoadToolSettings(ProjectState& project) override;
    void SetReportBins(const std::vector<std::string>& items, const std::string& selected,
                       bool user_defined) override;
    void PrepareLiveDisplays(const AppState& app) override;
    void ShowProjectHeader(const ProjectHeader& header) override;
    void MakeLauncherUsable() override;

    void BuildMenus();
    void BuildControls();
    ConnectionContext Connection();
    void ShowConnectionState();
    void ShowNotAvailable(const char* what);
    void OnLauncherRunLatest();
    // A run or a blank uses the port: the connection commands wait.
    bool PortInUse() const;

    AppContext& ctx_;
    std::unique_ptr<Frm_Init> launcher_;
    std::unique_ptr<Frm_help> help_;
    bool closing_done_ = false;
    bool connecting_ = false;
    // Live-data buffers, sized from RT_Buffer when the window loads or is activated.
    int live_buffer_rows_ = 0;
    std::vector<double> live_values_;
};

}  // namespace lumivo::app
