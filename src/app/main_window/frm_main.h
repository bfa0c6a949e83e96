// The main acquisition window. It is created first and loaded without being shown: its load runs
// the start-up sequence and shows the launcher. Its handlers stay thin: the connection, start-up
// and closing logic live in the core (device/connection.h, startup.h); the window shows what it
// is told through the ConnectionView and StartupView interfaces.
//
// Its parts are objects of their own, each owning its controls: the control panels
// (ControlPanels), the acquisition with its timer and alarm (AcquisitionWindow), the live
// displays (LiveView) and the automatic-action strip (AutoActionStrip). They, and the report
// and setup windows it opens, reach the main window through the small roles of
// app/support/window_roles.h and acquisition_host.h. Its own controls
// are private; tests find them by their object names (the kept control names).
#pragma once

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window/acquisition_host.h"
#include "app/panels/auto_action_frame.h"
#include "app/panels/live_plots.h"
#include "app/support/app_context.h"
#include "app/support/window_roles.h"
#include "app/windows/frm_help.h"
#include "app/windows/frm_init.h"
#include "core/device/connection.h"
#include "core/startup/startup.h"

namespace lumivo::app {

class ControlPanels;
class DeviceTest;
class FactoryMenu;
class AcquisitionWindow;
class Frm_setup;

class Frm_Main : public QMainWindow,
                 public AcquisitionDisplay,
                 public LogPanel,
                 public ReportBinChoice,
                 public ParentWindow,
                 public CommandLock,
                 private ConnectionView,
                 private StartupView {
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
    void CmdPlay_Click();
    // "Setup": the project setup window (also the launcher's "Setup a New Project").
    void Cmdsetup_Click();
    // "Offline": the browser of recorded acquisitions (also the launcher's third choice).
    void Cmdoffline_Click();
    // Report > "Report Output...": the report of the project's latest acquisition.
    void Cmdreport_Click();
    // Report > "User Defined BIN size": its mark stays as it was; the settings window opens.
    void mn_userbin_Click(bool toggled);
    // "Quick Report": report.txt of the last run's totals, while no acquisition runs.
    void mnquickreport_Click();
    // Tools > Unattended recording...: the notification and restart settings.
    void mn_unattended_Click();

    // The log panel: one line per event of the acquisitions and device procedures.
    void AppendLog(const std::string& line) override;
    // The status line: how the last run ended, what went wrong while nobody watched.
    void ShowStatusLine(const std::string& text) override;

    Frm_Init* launcher() const { return launcher_.get(); }
    Frm_help* help_window() const { return help_.get(); }
    AppContext& context() { return ctx_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

  private:
    // Loads notify.dat into the program's notifier and hands it to the engine.
    void StartNotifier();
    // Resumes the interrupted recording in `folder`; `why` goes into the log.
    void ResumeRecording(const std::filesystem::path& folder, const std::string& why);
    // ConnectionView.
    void SetStatusText(const std::string& text) override;
    void SetLauncherNews(const std::string& text) override;
    void SetAutoActionText(const std::string& text) override;
    void ShowAutoActionPanels(bool visible) override;
    void CheckPortMenuEntry(int port) override;
    void ShowOffline(const std::string& notice) override;
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
    // ParentWindow, CommandLock, AcquisitionDisplay and ReportBinChoice.
    QWidget& window() override { return *this; }
    void ShowMainWindow() override;
    bool OpenDocument(const QUrl& url) override;
    void LockCommands(bool locked) override;
    void ShowExperimentName(const std::string& name) override;
    std::string Description() override;
    bool BodyBendsChosen() override;
    void ShowTemperature(const std::string& label) override;
    void ShowElapsedTime(const std::string& text) override;
    void ShowExpectedEnd(const QString& text) override;
    void ShowRunCommands(const RunCommands& controls) override;
    void ShowToolState() override;
    void ShowSetupWindow() override;
    std::string ReportBinText() override;
    void SetReportBinText(const std::string& text) override;
    bool UserDefinedReport() override;
    void SetUserDefinedReport(bool checked) override;

    void BuildControls();
    void BuildMenus();
    ConnectionContext Connection();
    void ShowConnectionState();
    void OnLauncherRunLatest();
    // A run or a blank uses the port: the connection commands wait.
    bool PortInUse() const;

    AppContext& ctx_;
    std::unique_ptr<Frm_Init> launcher_;
    std::unique_ptr<Frm_help> help_;
    bool closing_done_ = false;
    bool connecting_ = false;
    // The commands LockCommands() disabled, with their state before.
    std::vector<std::pair<QWidget*, bool>> locked_commands_;

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
    QPushButton* cmd_connect;
    QPushButton* Cmd_disconnect;
    QPushButton* Cmdsetup;
    QPushButton* Cmdoffline;
    QPushButton* CmdPlay;
    QPushButton* CmdPause;
    QPushButton* CmdStop;
    QComboBox* Cmb_organism;
    QComboBox* combo_minutes;
    QCheckBox* chk_bodybends;

    // Menus.
    QMenu* mncom;
    std::array<QAction*, kScanLastPort + 1> mncom1{};  // entries 1..15 ("COM1".."COM15")
    QAction* mnexit;
    QAction* mnabout;
    QAction* mnhelp;
    QAction* Cmdreport;
    QAction* mn_userbin;
    QAction* mnquickreport;
    QAction* mn_factory;
    QAction* mn_unattended;
    QAction* mn_selftest;

    // Parts, each owning its controls.
    AutoActionStrip* strip_;          // frm_autotext, picturecal, lbl_autochannel, lblcalibrando
    LiveView* live_;                  // Picact, Picreal, picturetime and their controls
    AcquisitionWindow* acquisition_;  // the sampling timer Timeradq and the alarm
    ControlPanels* control_panels_;   // frm_mn1, Frame_light, Frame_temp and their menus
    DeviceTest* device_test_;         // Timer_test and the test's grid over Picact
    FactoryMenu* factory_menu_;       // Tools > Factory and the factory windows
};

}  // namespace lumivo::app
