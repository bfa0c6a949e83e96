#include "app/main_window/frm_main.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QMenuBar>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>

#include "app/main_window/acquisition_window.h"
#include "app/main_window/control_panels.h"
#include "app/main_window/device_test.h"
#include "app/main_window/factory_menu.h"
#include "app/support/qt_dialogs.h"
#include "app/support/widget_helpers.h"
#include "app/support/window_placement.h"
#include "app/windows/frm_about.h"
#include "app/windows/frm_notify.h"
#include "app/windows/frm_offline.h"
#include "app/windows/frm_report.h"
#include "app/windows/frm_setup.h"
#include "core/acquisition/event_log.h"
#include "core/acquisition/resume.h"

namespace lumivo::app {

Frm_Main::Frm_Main(AppContext& ctx, QWidget* parent) : QMainWindow(parent), ctx_(ctx) {
    setObjectName("Frm_Main");
    setWindowTitle("Lumivo - Activity monitor");
    BuildControls();
    BuildMenus();

    // The launcher belongs to the main window's load: created now, loaded without being shown.
    launcher_ = std::make_unique<Frm_Init>(ctx_.dialogs);
    launcher_->SetActivationNews(
        [this] { return LauncherConnectedNews(ctx_.state.connection, ctx_.link.ComPortNumber); });
    connect(launcher_.get(), &Frm_Init::setupNewProject, this, &Frm_Main::Cmdsetup_Click);
    connect(launcher_.get(), &Frm_Init::runLatestProject, this, &Frm_Main::OnLauncherRunLatest);
    connect(launcher_.get(), &Frm_Init::analyzeRecorded, this, &Frm_Main::Cmdoffline_Click);
    connect(launcher_.get(), &Frm_Init::exitConfirmed, this, [this] {
        // "EXIT" ends the program at once, without the main window's closing steps.
        closing_done_ = true;
        ctx_.exit_program(0);
    });
}

Frm_Main::~Frm_Main() = default;

void Frm_Main::BuildControls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);
    auto* root = new QVBoxLayout(central);
    root->setContentsMargins(8, 6, 8, 6);
    root->setSpacing(6);

    // Project header.
    auto* header = Named(new QGroupBox("Project", central), "frm_project");
    auto* hg = new QGridLayout(header);
    hg->setHorizontalSpacing(8);
    txt_projecto = ReadOnlyBox(header, "txt_projecto");
    txt_acqlapse = ReadOnlyBox(header, "txt_acqlapse", 80);
    txt_wellformat = ReadOnlyBox(header, "txt_wellformat", 90);
    lbl_serial = Named(new QLabel(header), "lbl_serial");
    txt_subproject = Named(new QLineEdit(header), "txt_subproject");
    Txt_description = Named(new QLineEdit(header), "Txt_description");
    Txt_time = ReadOnlyBox(header, "Txt_time", 150);
    lbl_endtime = Named(new QLabel(header), "lbl_endtime");
    lbl_endtime->setToolTip("Expected end of the running acquisition");
    lbl_temperature = Named(new QLabel(kNoTemperatureLabel, header), "lbl_temperature");
    AddLabelled(hg, 0, 0, "Project:", txt_projecto);
    AddLabelled(hg, 0, 2, "Lapse (min):", txt_acqlapse);
    AddLabelled(hg, 0, 4, "Plate:", txt_wellformat);
    hg->addWidget(lbl_serial, 0, 6, 1, 2);
    AddLabelled(hg, 1, 0, "Experiment:", txt_subproject);
    hg->addWidget(new QLabel("Description:", header), 1, 2);
    hg->addWidget(Txt_description, 1, 3, 1, 3);
    hg->addWidget(Txt_time, 1, 6);
    hg->addWidget(lbl_temperature, 1, 7);
    hg->addWidget(lbl_endtime, 2, 6, 1, 2);
    hg->setColumnStretch(1, 2);
    hg->setColumnStretch(3, 1);
    root->addWidget(header);

    // Command buttons.
    auto* commands = new QHBoxLayout;
    cmd_connect = Button(central, "cmd_connect", "Connect");
    Cmd_disconnect = Button(central, "Cmd_disconnect", "Disconnect");
    Cmdsetup = Button(central, "Cmdsetup", "Setup");
    Cmdoffline = Button(central, "Cmdoffline", "Offline");
    CmdPlay = Button(central, "CmdPlay", "Start Acquisition");
    CmdPause = Button(central, "CmdPause", "Pause", false);
    CmdStop = Button(central, "CmdStop", "Stop Acquisition", false);
    for (auto* b : {cmd_connect, Cmd_disconnect, Cmdsetup, Cmdoffline}) commands->addWidget(b);
    commands->addStretch();
    for (auto* b : {CmdPlay, CmdPause, CmdStop}) commands->addWidget(b);
    root->addLayout(commands);

    auto* body = new QHBoxLayout;
    root->addLayout(body, 1);

    // Left: the live plots.
    live_ = new LiveView(central);
    body->addWidget(live_, 1);

    // Right: analysis choices, tool panels, the automatic-action strip and the status line.
    auto [right_widget, right] = FixedColumn(central, 330);
    auto* analysis = Named(new QGroupBox("Analysis", right_widget), "frm_analysis");
    auto* ag = new QGridLayout(analysis);
    Cmb_organism = Named(new QComboBox(analysis), "Cmb_organism");
    Cmb_organism->setEditable(true);
    combo_minutes = Named(new QComboBox(analysis), "combo_minutes");
    combo_minutes->setEditable(true);
    combo_minutes->setCompleter(nullptr);  // a number box: "1" must not become "15"
    chk_bodybends = Named(new QCheckBox("Body Bends", analysis), "chk_bodybends");
    AddLabelled(ag, 0, 0, "Organism:", Cmb_organism);
    AddLabelled(ag, 1, 0, "Report bin (min):", combo_minutes);
    ag->addWidget(chk_bodybends, 2, 0, 1, 2);
    right->addWidget(analysis);

    // The parts: the strip first (every part shows its progress there), the acquisition before
    // the control panels (they ask the sampling whether a run is on).
    strip_ = new AutoActionStrip(right_widget);
    acquisition_ =
        new AcquisitionWindow(this, *this, ReportOpener(*this), *strip_, *live_, *statusBar());
    control_panels_ =
        new ControlPanels(this, ctx_, *this, *this, *strip_, *acquisition_, right_widget);
    control_panels_->PlaceIn(right);
    // The device test and the factory windows wait for a run, a blank, a calibration or a zero.
    device_test_ = new DeviceTest(this, ctx_, *this, *this, *this, *this, *live_, [this] {
        return !acquisition_->Acquiring() && !control_panels_->busy();
    });
    factory_menu_ = new FactoryMenu(this, ctx_, *this,
                                    [this] { return !PortInUse() && !control_panels_->busy(); });
    right->addWidget(strip_);
    right->addStretch();
    body->addWidget(right_widget);

    // Bottom: the log panel, what events.log holds for a recorded run.
    auto* events_box = Named(new QGroupBox("Events", central), "frm_events");
    auto* events_layout = new QVBoxLayout(events_box);
    events_layout->setContentsMargins(4, 2, 4, 4);
    txt_events = Named(new QPlainTextEdit(events_box), "txt_events");
    txt_events->setReadOnly(true);
    txt_events->setMaximumBlockCount(5000);
    txt_events->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    txt_events->setFixedHeight(96);
    events_layout->addWidget(txt_events);
    root->addWidget(events_box);

    ConnectClicks(this, {{cmd_connect, &Frm_Main::cmd_connect_Click},
                         {Cmd_disconnect, &Frm_Main::Cmd_disconnect_Click},
                         {CmdPlay, &Frm_Main::CmdPlay_Click},
                         {Cmdsetup, &Frm_Main::Cmdsetup_Click},
                         {Cmdoffline, &Frm_Main::Cmdoffline_Click}});
    connect(CmdPause, &QPushButton::clicked, acquisition_, &AcquisitionWindow::CmdPause_Click);
    connect(CmdStop, &QPushButton::clicked, acquisition_, &AcquisitionWindow::CmdStop_Click);

    lbl_connection = Named(new QLabel("Not connected", this), "lbl_connection");
    statusBar()->addPermanentWidget(lbl_connection);
    lbl_status = Named(new QLabel(this), "lbl_status");
    statusBar()->addWidget(lbl_status, 1);

    // The read-only boxes show; they do not take the keyboard focus from the commands.
    for (QLineEdit* box : {txt_projecto, txt_acqlapse, txt_wellformat, Txt_time})
        box->setFocusPolicy(Qt::NoFocus);
    Txt_time->setPlaceholderText("00:00:00 [0d]");
    cmd_connect->setFocus();

    resize(1180, 780);
    KeepWindowPlace(this);
}

void Frm_Main::BuildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    mnexit = file->addAction("Exit");
    mnexit->setObjectName("mnexit");
    mnexit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    mnexit->setShortcutContext(Qt::ApplicationShortcut);
    connect(mnexit, &QAction::triggered, this, &Frm_Main::mnexit_Click);

    mncom = menuBar()->addMenu("&COM Port");
    mncom->setObjectName("mncom");
    for (int i = kMinComPort; i <= kScanLastPort; ++i) {
        QAction* a = mncom->addAction(QString::fromStdString(ComPortName(i)));
        a->setObjectName(QString("mncom1_%1").arg(i));
        a->setCheckable(true);
        connect(a, &QAction::triggered, this, [this, i] { mncom1_Click(i); });
        mncom1[static_cast<std::size_t>(i)] = a;
    }

    QMenu* calibration = menuBar()->addMenu("C&alibration");
    QMenu* tools = menuBar()->addMenu("&Tools");
    control_panels_->AddMenuEntries(calibration, tools);
    mn_selftest = tools->addAction("Device test");
    mn_selftest->setObjectName("mn_selftest");
    connect(mn_selftest, &QAction::triggered, device_test_, &DeviceTest::mnstatustest_Click);
    mn_factory = factory_menu_->AddTo(tools);
    mn_factory->setObjectName("mn_factory");
    mn_unattended = tools->addAction("Unattended recording...");
    mn_unattended->setObjectName("mn_unattended");
    mn_unattended->setToolTip(
        "Who is told when a recording goes wrong, and whether it is "
        "resumed after a restart");
    connect(mn_unattended, &QAction::triggered, this, &Frm_Main::mn_unattended_Click);
    // While the test runs its entry stops it, and neither the factory tools nor the tool panels
    // (whose long runs let events, and so the test's timer, run) can start.
    connect(device_test_, &DeviceTest::runningChanged, this, [this](bool running) {
        mn_selftest->setText(running ? "Stop device test" : "Device test");
        mn_factory->setEnabled(!running);
        for (const char* panel : {"frm_mn1", "Frame_light", "Frame_temp"}) {
            if (auto* w = findChild<QWidget*>(panel)) w->setEnabled(!running);
        }
    });

    QMenu* report = menuBar()->addMenu("&Report");
    Cmdreport = report->addAction("Report Output...");
    Cmdreport->setObjectName("Cmdreport");
    connect(Cmdreport, &QAction::triggered, this, &Frm_Main::Cmdreport_Click);
    mn_userbin = report->addAction("User Defined BIN size");
    mn_userbin->setObjectName("mn_userbin");
    mn_userbin->setCheckable(true);
    connect(mn_userbin, &QAction::triggered, this, &Frm_Main::mn_userbin_Click);
    mnquickreport = report->addAction("Quick Report (report.txt)");
    mnquickreport->setObjectName("mnquickreport");
    connect(mnquickreport, &QAction::triggered, this, &Frm_Main::mnquickreport_Click);

    QMenu* help = menuBar()->addMenu("&Help");
    mnhelp = help->addAction("Contents");
    mnhelp->setObjectName("mnhelp");
    mnhelp->setShortcut(QKeySequence::HelpContents);
    mnhelp->setShortcutContext(Qt::ApplicationShortcut);
    mnabout = help->addAction("About");
    mnabout->setObjectName("mnabout");
    connect(mnhelp, &QAction::triggered, this, &Frm_Main::mnhelp_Click);
    connect(mnabout, &QAction::triggered, this, &Frm_Main::mnabout_Click);
}

// ---- Load and activation ----

void Frm_Main::Form_Load(const std::string& command_line) {
    ctx_.state.connection.InstrumentConnected = false;
    StartupContext startup{ctx_.storage, ctx_.clock, ctx_.state, *this};
    const StartupResult result = RunStartup(startup, command_line);
    ctx_.link.ComPortNumber = ctx_.state.config.ComPortNumber;
    CheckPortMenuEntry(ctx_.state.config.ComPortNumber);
    StartNotifier();
    // A recording of the current project whose recorder died (a crash, a power cut).
    const auto interrupted = FindInterruptedAcquisition(
        ctx_.storage, ctx_.state.project.ProjectFolder, ctx_.clock.Now());
    if (result.autorun) {
        // Straight to the run: the instrument is connected first, so the acquisition never
        // starts on a port that was never opened. An interrupted recording goes on instead of
        // a new one.
        launcher_->hide();
        show();
        cmd_connect_Click();
        if (!ctx_.state.connection.InstrumentConnected) return;
        if (interrupted) {
            ResumeRecording(interrupted->folder,
                            "/RUN: the current project has an interrupted "
                            "recording, so it goes on instead of a new "
                            "one");
        } else {
            CmdPlay_Click();
        }
    } else if (interrupted && ctx_.dialogs.MessageBox(ResumeQuestionText(*interrupted),
                                                      MsgButtons::YesNo) == MsgResult::Yes) {
        launcher_->hide();
        show();
        cmd_connect_Click();
        if (ctx_.state.connection.InstrumentConnected)
            ResumeRecording(interrupted->folder, "resumed at the start of the program (Yes)");
    }
}

void Frm_Main::StartNotifier() {
    std::string error;
    auto settings = notify::LoadNotifySettings(ctx_.storage, &error);
    if (!settings) {
        ctx_.dialogs.MessageBox(error + "\r\nNo notifications are sent until it is mended.");
        settings = notify::NotifySettings{};
    }
    if (!ctx_.notifier) {
        ctx_.notifier = std::make_unique<notify::Notifier>(*settings);
    } else {
        ctx_.notifier->SetSettings(*settings);
    }
    acquisition_->engine().SetNotices(ctx_.notifier.get());
}

void Frm_Main::ResumeRecording(const std::filesystem::path& folder, const std::string& why) {
    AppendLog(EventLogLine(ctx_.clock.Now(), "Resuming " + folder.string() + ": " + why));
    if (acquisition_->Resume(folder) == StartOutcome::Started)
        acquisition_->engine().LogEvent("Resumed by the desktop program: " + why);
}

void Frm_Main::mn_unattended_Click() {
    Frm_notify window(ctx_, this);
    window.Form_Load();
    window.exec();
}

void Frm_Main::Form_Activate() {
    if (acquisition_->Acquiring()) return;
    try {
        ShowProjectHeader(MakeProjectHeader(ctx_.state));
        PrepareLiveDisplays(ctx_.state);
    } catch (...) {
        ctx_.dialogs.MessageBox(kActivationErrorMessage);
    }
}

bool Frm_Main::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QMainWindow::event(e);
}

// ---- Handlers ----

ConnectionContext Frm_Main::Connection() {
    return ConnectionContext{ctx_.link, ctx_.state.connection, *this, ctx_.storage,
                             ctx_.state.config};
}

bool Frm_Main::PortInUse() const {
    return acquisition_->Acquiring() || acquisition_->BlankActive() || device_test_->Running();
}

void Frm_Main::cmd_connect_Click() {
    // The search lets window events run; a second click meanwhile must not start another.
    if (connecting_ || PortInUse()) return;
    connecting_ = true;
    cmd_connect->setEnabled(false);
    ConnectionContext c = Connection();
    ConnectInstrument(c);
    cmd_connect->setEnabled(true);
    connecting_ = false;
    ShowConnectionState();
}

void Frm_Main::Cmd_disconnect_Click() {
    if (PortInUse()) return;
    ConnectionContext c = Connection();
    DisconnectInstrument(c);
    ShowConnectionState();
}

void Frm_Main::mncom1_Click(int index) {
    if (PortInUse()) {
        CheckPortMenuEntry(ctx_.link.ComPortNumber);
        return;
    }
    ConnectionContext c = Connection();
    SelectComPort(c, index);
}

void Frm_Main::mnexit_Click() {
    close();
}

void Frm_Main::mnabout_Click() {
    Frm_About about(this);
    about.exec();
}

void Frm_Main::mnhelp_Click() {
    if (!help_) {
        help_ = std::make_unique<Frm_help>();
        // Over the main window, not wherever the window system puts a new window.
        help_->move(frameGeometry().topLeft() + QPoint(40, 40));
    }
    help_->show();
    help_->raise();
    help_->activateWindow();
}

void Frm_Main::CmdPlay_Click() {
    acquisition_->CmdPlay_Click();
}

void Frm_Main::Cmdsetup_Click() {
    ShowSetupWindow();
}

void Frm_Main::Cmdoffline_Click() {
    // The browser takes the main window's place; closing it brings back the window it was
    // opened from (the launcher, when the main window was not shown).
    const bool from_main = isVisible();
    hide();
    ShowOfflineBrowser(*this, [this, from_main] {
        if (from_main) {
            ShowMainWindow();
        } else {
            launcher_->show();
            launcher_->raise();
        }
    });
}

void Frm_Main::Cmdreport_Click() {
    ShowLatestReport(*this);
}

void Frm_Main::mn_userbin_Click(bool toggled) {
    // Choosing the entry does not change its check mark ("Apply" and "Back to Default" do);
    // the configuration is loaded and saved with the mark it has.
    const bool checked = !toggled;
    mn_userbin->setChecked(checked);
    ShowUserReportSettings(*this, checked);
}

void Frm_Main::mnquickreport_Click() {
    acquisition_->engine().QuickReport();
}

void Frm_Main::AppendLog(const std::string& line) {
    txt_events->appendPlainText(ToQ(line));
}

void Frm_Main::ShowStatusLine(const std::string& text) {
    lbl_status->setText(ToQ(text));
    lbl_status->setToolTip(ToQ(text));
}

void Frm_Main::OnLauncherRunLatest() {
    show();
    raise();
    activateWindow();
    cmd_connect_Click();
}

void Frm_Main::ShowConnectionState() {
    const ConnectionState& c = ctx_.state.connection;
    // The offline notice is about the last connect only.
    if (!c.OfflineMode && lbl_status->text() == kOfflineNotice) ShowStatusLine("");
    if (c.InstrumentConnected) {
        const std::string serial = "SERIAL : " + InstrumentSerialText(ctx_.link.SerialNumber);
        lbl_serial->setText(ToQ(serial));
        lbl_connection->setText(
            ToQ("Connected on COM" + std::to_string(ctx_.link.ComPortNumber) + "    " + serial));
    } else {
        lbl_serial->clear();
        lbl_connection->setText(c.OfflineMode ? "OFFLINE MODE" : "Not connected");
    }
    // The Calibration menu's Fast CALIB and Fast ZERO wait for an instrument.
    if (!control_panels_->busy()) control_panels_->ShowCalibrationControls();
}

void Frm_Main::closeEvent(QCloseEvent* e) {
    if (closing_done_) {
        e->accept();
        return;
    }
    // The port search and the device procedures let window events run; the window waits for
    // them to finish (a calibration or zero has its STOP button).
    if (connecting_ || (control_panels_->busy() && !acquisition_->BlankActive())) {
        e->ignore();
        return;
    }
    // A running acquisition is stopped only when the user says so, and first, while the port
    // is still open for its outputs.
    AcquisitionEngine& engine = acquisition_->engine();
    if (acquisition_->Acquiring()) {
        // Should the run end at its lapse while the question is open, the question goes, and
        // the program closes as it does without a run.
        const MsgResult answer =
            ctx_.dialogs.AskWhile([this] { return acquisition_->Acquiring(); },
                                  engine.ExitQuestion(), MsgButtons::OkCancel, kStopAndExitCaption);
        if (answer != MsgResult::Ok && acquisition_->Acquiring()) {
            e->ignore();
            return;
        }
        if (engine.Running()) engine.Stop(kStopAtExit);
    }
    if (engine.BlankActive()) engine.Stop(kStopAtExit);
    // A device test in progress gives the beams their calibrated settings back first.
    device_test_->Stop();
    ClosingSteps steps;
    steps.close_port = [this] {
        const int port = ctx_.link.ComPortNumber;
        if (IsComPort(port)) CommClose(ctx_.link.ports, port);
    };
    if (!RunMainWindowClosing(ctx_.storage, ctx_.clock, ctx_.state, steps)) {
        e->ignore();
        return;
    }
    closing_done_ = true;
    e->accept();
    launcher_->hide();
    ctx_.exit_program(0);
}

// ---- ConnectionView ----

void Frm_Main::SetStatusText(const std::string& text) {
    strip_->SetStatus(text);
}

void Frm_Main::SetLauncherNews(const std::string& text) {
    launcher_->LblNews()->setText(ToQ(text));
}

void Frm_Main::SetAutoActionText(const std::string& text) {
    strip_->SetTitle(text);
}

void Frm_Main::ShowAutoActionPanels(bool visible) {
    strip_->ShowFrame(visible);
    strip_->ShowProgress(visible);
}

void Frm_Main::CheckPortMenuEntry(int port) {
    for (int i = kMinComPort; i <= kScanLastPort; ++i)
        mncom1[static_cast<std::size_t>(i)]->setChecked(i == port);
}

void Frm_Main::ShowOffline(const std::string& notice) {
    ShowStatusLine(notice);
}

// ---- StartupView ----

void Frm_Main::ResetDeviceControls() {
    control_panels_->ResetDeviceButtons();
    strip_->ShowFrame(false);
    strip_->ShowProgress(false);
}

void Frm_Main::ShowLauncherLoading() {
    launcher_->SetUsable(false);
    launcher_->show();
    hide();
}

void Frm_Main::ShowToolPanels(bool calibration, bool light, bool temperature) {
    control_panels_->ShowPanels(calibration, light, temperature);
}

void Frm_Main::SetOrganismList(const std::vector<std::string>& items,
                               const std::optional<std::string>& text) {
    Cmb_organism->clear();
    for (const auto& item : items) Cmb_organism->addItem(ToQ(item));
    if (text) Cmb_organism->setEditText(ToQ(*text));
}

void Frm_Main::LoadToolSettings(ProjectState& project) {
    control_panels_->LoadSettings(project);
}

void Frm_Main::SetReportBins(const std::vector<std::string>& items, const std::string& selected,
                             bool user_defined) {
    combo_minutes->clear();
    for (const auto& item : items) combo_minutes->addItem(ToQ(item));
    if (combo_minutes->findText(ToQ(selected)) < 0) combo_minutes->addItem(ToQ(selected));
    combo_minutes->setCurrentIndex(combo_minutes->findText(ToQ(selected)));
    mn_userbin->setChecked(user_defined);
}

void Frm_Main::PrepareLiveDisplays(const AppState& app) {
    live_->PrepareFor(app);
}

void Frm_Main::ShowProjectHeader(const ProjectHeader& header) {
    txt_projecto->setText(ToQ(header.projecto));
    txt_acqlapse->setText(ToQ(header.acqlapse));
    txt_wellformat->setText(ToQ(header.wellformat));
    chk_bodybends->setEnabled(header.bodybends_enabled);
}

void Frm_Main::MakeLauncherUsable() {
    launcher_->SetUsable(true);
}

// ---- The roles the parts and windows reach the main window through ----

void Frm_Main::ShowMainWindow() {
    show();
    raise();
    activateWindow();
}

bool Frm_Main::OpenDocument(const QUrl& url) {
    return ctx_.open_document && ctx_.open_document(url);
}

void Frm_Main::LockCommands(bool locked) {
    if (locked) {
        locked_commands_.clear();
        for (QWidget* w : std::initializer_list<QWidget*>{CmdPlay, Cmdsetup, Cmdoffline,
                                                          cmd_connect, Cmd_disconnect}) {
            locked_commands_.emplace_back(w, w->isEnabled());
            w->setEnabled(false);
        }
    } else {
        for (const auto& [w, enabled] : locked_commands_) w->setEnabled(enabled);
        locked_commands_.clear();
    }
}

void Frm_Main::ShowExperimentName(const std::string& name) {
    txt_subproject->setText(ToQ(name));
}

std::string Frm_Main::Description() {
    return FromQ(Txt_description->text());
}

bool Frm_Main::BodyBendsChosen() {
    return chk_bodybends->isEnabled() && chk_bodybends->isChecked();
}

void Frm_Main::ShowTemperature(const std::string& label) {
    // The label is the program's own text (UTF-8), not file content.
    lbl_temperature->setText(QString::fromUtf8(label.c_str()));
}

void Frm_Main::ShowElapsedTime(const std::string& text) {
    const QString shown = ToQ(text);
    if (Txt_time->text() != shown) Txt_time->setText(shown);
}

void Frm_Main::ShowExpectedEnd(const QString& text) {
    if (lbl_endtime->text() != text) lbl_endtime->setText(text);
}

void Frm_Main::ShowRunCommands(const RunCommands& c) {
    CmdPlay->setEnabled(c.start);
    CmdPause->setEnabled(c.pause);
    CmdPause->setText(c.pause_resumes ? "Resume" : "Pause");
    cmd_connect->setEnabled(c.connection);
    Cmd_disconnect->setEnabled(c.connection);
    mncom->setEnabled(c.connection);
    CmdStop->setEnabled(c.stop);
    Cmdsetup->setEnabled(c.setup);
    Cmdoffline->setEnabled(c.offline);
    Cmb_organism->setEnabled(c.organism);
    control_panels_->SetSnrBoxEnabled(c.snr_threshold);
    // Body bends are counted on the U-bottom plate only.
    chk_bodybends->setEnabled(c.body_bends && MakeProjectHeader(ctx_.state).bodybends_enabled);
}

void Frm_Main::ShowToolState() {
    control_panels_->ShowClimate();
}

void Frm_Main::ShowSetupWindow() {
    auto* window = findChild<Frm_setup*>(QString(), Qt::FindDirectChildrenOnly);
    if (window == nullptr) {
        window = new Frm_setup(ctx_.storage, ctx_.state, this);
        window->ShowToolPanels = [this](bool calibration, bool light, bool temperature) {
            control_panels_->ShowPanels(calibration, light, temperature);
        };
        window->ShowMainWindow = [this] { ShowMainWindow(); };
        window->ConnectInstrument = [this] { cmd_connect_Click(); };
        window->ShowLauncher = [this] {
            // While the instrument stays connected the launcher says so.
            if (const auto news =
                    LauncherConnectedNews(ctx_.state.connection, ctx_.link.ComPortNumber))
                launcher_->LblNews()->setText(ToQ(*news));
            launcher_->show();
            launcher_->raise();
        };
    }
    hide();
    window->Form_Load();
    window->show();
    window->raise();
    window->activateWindow();
}

std::string Frm_Main::ReportBinText() {
    return FromQ(combo_minutes->currentText());
}

void Frm_Main::SetReportBinText(const std::string& text) {
    combo_minutes->setCurrentText(ToQ(text));
}

bool Frm_Main::UserDefinedReport() {
    return mn_userbin->isChecked();
}

void Frm_Main::SetUserDefinedReport(bool checked) {
    mn_userbin->setChecked(checked);
}

}  // namespace lumivo::app
