#include "app/frm_main.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QMenuBar>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "app/acquisition_window.h"
#include "app/control_panels.h"
#include "app/frm_about.h"
#include "app/frm_report.h"
#include "app/frm_setup.h"
#include "app/qt_dialogs.h"
#include "app/widget_helpers.h"
#include "app/window_placement.h"

namespace lumivo::app {

Frm_Main::Frm_Main(AppContext& ctx, QWidget* parent) : QMainWindow(parent), ctx_(ctx) {
    setObjectName("Frm_Main");
    setWindowTitle("Lumivo - Activity monitor");
    BuildControls();
    BuildMenus();
    control_panels = new ControlPanels(*this);

    StartAcquisition = [this] { ctx_.dialogs.MessageBox(kAcquisitionUnavailableMessage); };
    AttachSetupWindow(*this);    // Cmdsetup_Click and the launcher's "Setup a New Project"
    AttachReportWindows(*this);  // "Report Output..." and mn_userbin
    ShowOfflineBrowser = [this] { ShowNotAvailable("The offline browser"); };
    OpenDocument = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    CloseDataFiles = [] {};
    ExitProgram = [](int code) { QCoreApplication::exit(code); };
    IsAcquiring = [] { return false; };

    // The launcher belongs to the main window's load: created now, loaded without being shown.
    launcher_ = std::make_unique<Frm_Init>(ctx_.dialogs);
    launcher_->SetActivationNews(
        [this] { return LauncherConnectedNews(ctx_.state.connection, ctx_.link.ComPortNumber); });
    connect(launcher_.get(), &Frm_Init::setupNewProject, this, [this] { ShowSetupWindow(); });
    connect(launcher_.get(), &Frm_Init::runLatestProject, this, &Frm_Main::OnLauncherRunLatest);
    connect(launcher_.get(), &Frm_Init::analyzeRecorded, this, [this] { ShowOfflineBrowser(); });
    connect(launcher_.get(), &Frm_Init::exitConfirmed, this, [this] {
        // "EXIT" ends the program at once, without the main window's closing steps.
        closing_done_ = true;
        ExitProgram(0);
    });
    acquisition = new AcquisitionWindow(*this);
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
    lbl_temperature = Named(new QLabel("T = __ \xC2\xB0"
                                       "C",
                                       header),
                            "lbl_temperature");
    hg->addWidget(new QLabel("Project:", header), 0, 0);
    hg->addWidget(txt_projecto, 0, 1);
    hg->addWidget(new QLabel("Lapse (min):", header), 0, 2);
    hg->addWidget(txt_acqlapse, 0, 3);
    hg->addWidget(new QLabel("Plate:", header), 0, 4);
    hg->addWidget(txt_wellformat, 0, 5);
    hg->addWidget(lbl_serial, 0, 6, 1, 2);
    hg->addWidget(new QLabel("Experiment:", header), 1, 0);
    hg->addWidget(txt_subproject, 1, 1);
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
    auto* left = new QVBoxLayout;
    auto* plot_buttons = new QHBoxLayout;
    Cmd_barplot = Button(central, "Cmd_barplot", "Bar Plot", false);
    Cmd_gridplot = Button(central, "Cmd_gridplot", "Heatmap PLOT", false);
    Cmd_histoplot = Button(central, "Cmd_histoplot", "BodyBends Histogram PLOT", false);
    cmd_pgup = Button(central, "cmd_pgup", "<<", false);
    cmd_pgdown = Button(central, "cmd_pgdown", ">>", false);
    for (auto* b : {Cmd_barplot, Cmd_gridplot, Cmd_histoplot}) plot_buttons->addWidget(b);
    plot_buttons->addStretch();
    plot_buttons->addWidget(cmd_pgup);
    plot_buttons->addWidget(cmd_pgdown);
    cmd_pgup->hide();
    cmd_pgdown->hide();
    left->addLayout(plot_buttons);
    Picact = new PlotBox("Picact", "Activity", central);
    left->addWidget(Picact, 3);
    picturetime = new ProgressBox(central);
    picturetime->setObjectName("picturetime");
    picturetime->SetBackground(Qt::white);
    picturetime->SetScale(100, 10);
    left->addWidget(picturetime);

    auto* signal_controls = new QHBoxLayout;
    cmdbeam_minus = Button(central, "cmdbeam_minus", "previous channel", false);
    cmdbeam_plus = Button(central, "cmdbeam_plus", "next channel", false);
    Cmdzoom_minus = Button(central, "Cmdzoom_minus", "Zoom -", false);
    Cmdzoom_plus = Button(central, "Cmdzoom_plus", "Zoom +", false);
    Combofila = Named(new QComboBox(central), "Combofila");
    Combocol = Named(new QComboBox(central), "Combocol");
    combogrup = Named(new QComboBox(central), "combogrup");
    txtsub = Named(new QLineEdit(central), "txtsub");
    txtsub->setMaximumWidth(60);
    for (int r = 0; r < kBeamRows; ++r) Combofila->addItem(QString(QChar('A' + r)));
    for (int c = 1; c <= kBeamColumns; ++c) Combocol->addItem(QString::number(c));
    for (QWidget* w : {static_cast<QWidget*>(Combofila), static_cast<QWidget*>(Combocol),
                       static_cast<QWidget*>(combogrup), static_cast<QWidget*>(txtsub)})
        w->setEnabled(false);
    for (QWidget* w : {static_cast<QWidget*>(cmdbeam_minus), static_cast<QWidget*>(cmdbeam_plus),
                       static_cast<QWidget*>(Cmdzoom_minus), static_cast<QWidget*>(Cmdzoom_plus),
                       static_cast<QWidget*>(Combofila), static_cast<QWidget*>(Combocol),
                       static_cast<QWidget*>(combogrup), static_cast<QWidget*>(txtsub)})
        signal_controls->addWidget(w);
    signal_controls->addStretch();
    left->addLayout(signal_controls);
    auto* signal_row = new QHBoxLayout;
    Picreal = new PlotBox("Picreal", "Channel signal", central);
    signal_row->addWidget(Picreal, 1);
    lstgrup = Named(new QListWidget(central), "lstgrup");
    lstgrup->setMaximumWidth(170);
    signal_row->addWidget(lstgrup);
    left->addLayout(signal_row, 2);
    body->addLayout(left, 1);

    // Right: analysis choices, tool panels, the automatic-action strip and the status line.
    auto* right_widget = new QWidget(central);
    right_widget->setFixedWidth(330);
    auto* right = new QVBoxLayout(right_widget);
    right->setContentsMargins(0, 0, 0, 0);
    auto* analysis = Named(new QGroupBox("Analysis", right_widget), "frm_analysis");
    auto* ag = new QGridLayout(analysis);
    Cmb_organism = Named(new QComboBox(analysis), "Cmb_organism");
    Cmb_organism->setEditable(true);
    combo_minutes = Named(new QComboBox(analysis), "combo_minutes");
    combo_minutes->setEditable(true);
    combo_minutes->setCompleter(nullptr);  // a number box: "1" must not become "15"
    chk_bodybends = Named(new QCheckBox("Body Bends", analysis), "chk_bodybends");
    ag->addWidget(new QLabel("Organism:", analysis), 0, 0);
    ag->addWidget(Cmb_organism, 0, 1);
    ag->addWidget(new QLabel("Report bin (min):", analysis), 1, 0);
    ag->addWidget(combo_minutes, 1, 1);
    ag->addWidget(chk_bodybends, 2, 0, 1, 2);
    right->addWidget(analysis);

    frm_mn1 = new CalibrationPanel(right_widget);
    Frame_light = new LightPanel(right_widget);
    Frame_temp = new TemperaturePanel(right_widget);
    right->addWidget(frm_mn1);
    right->addWidget(Frame_light);
    right->addWidget(Frame_temp);

    frm_autotext = new AutoActionFrame(right_widget);
    right->addWidget(frm_autotext);
    picturecal = new ProgressBox(right_widget);
    right->addWidget(picturecal);
    lbl_autochannel = Named(new QLabel(right_widget), "lbl_autochannel");
    lbl_autochannel->setWordWrap(true);
    right->addWidget(lbl_autochannel);
    lblcalibrando = Named(new QLabel(right_widget), "lblcalibrando");
    lblcalibrando->hide();
    right->addWidget(lblcalibrando);
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

    connect(cmd_connect, &QPushButton::clicked, this, &Frm_Main::cmd_connect_Click);
    connect(Cmd_disconnect, &QPushButton::clicked, this, &Frm_Main::Cmd_disconnect_Click);
    connect(CmdPlay, &QPushButton::clicked, this, &Frm_Main::CmdPlay_Click);
    connect(Cmdsetup, &QPushButton::clicked, this, [this] { ShowSetupWindow(); });
    connect(Cmdoffline, &QPushButton::clicked, this, [this] { ShowOfflineBrowser(); });

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
    for (int i = 1; i <= kScanLastPort; ++i) {
        QAction* a = mncom->addAction(QString("COM%1").arg(i));
        a->setObjectName(QString("mncom1_%1").arg(i));
        a->setCheckable(true);
        connect(a, &QAction::triggered, this, [this, i] { mncom1_Click(i); });
        mncom1[static_cast<std::size_t>(i)] = a;
    }

    QMenu* calibration = menuBar()->addMenu("C&alibration");
    mncal_on = calibration->addAction("Manual calibration tools");
    mncal_on->setObjectName("mncal_on");
    mncal_off = calibration->addAction("Automatic calibration");
    mncal_off->setObjectName("mncal_off");
    for (QAction* a : {mncal_on, mncal_off}) {
        a->setCheckable(true);
        a->setEnabled(false);
    }

    QMenu* tools = menuBar()->addMenu("&Tools");
    lght_ctl = tools->addAction("Light control");
    lght_ctl->setObjectName("lght_ctl");
    temp_ctl = tools->addAction("Temperature control");
    temp_ctl->setObjectName("temp_ctl");
    mn_selftest = tools->addAction("Device test");
    mn_selftest->setObjectName("mn_selftest");
    mn_factory = tools->addAction("Factory");
    mn_factory->setObjectName("mn_factory");
    for (QAction* a : {lght_ctl, temp_ctl, mn_selftest, mn_factory}) a->setEnabled(false);

    QMenu* report = menuBar()->addMenu("&Report");
    mn_userbin = report->addAction("User Defined BIN size");
    mn_userbin->setObjectName("mn_userbin");
    mn_userbin->setCheckable(true);
    mn_userbin->setEnabled(false);
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
    if (result.autorun) {
        // Straight to the run: the instrument is connected first, so the acquisition never
        // starts on a port that was never opened.
        launcher_->hide();
        show();
        cmd_connect_Click();
        if (ctx_.state.connection.InstrumentConnected) StartAcquisition();
    }
}

void Frm_Main::Form_Activate() {
    if (IsAcquiring()) return;
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
    return acquisition != nullptr &&
           (acquisition->Acquiring() || acquisition->engine().BlankActive());
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
    StartAcquisition();
}

void Frm_Main::mnquickreport_Click() {
    if (acquisition != nullptr) acquisition->engine().QuickReport();
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
    if (c.InstrumentConnected) {
        const std::string serial = "SERIAL : " + InstrumentSerialText(ctx_.link.SerialNumber);
        lbl_serial->setText(ToQ(serial));
        lbl_connection->setText(
            ToQ("Connected on COM" + std::to_string(ctx_.link.ComPortNumber) + "    " + serial));
    } else {
        lbl_serial->clear();
        lbl_connection->setText(c.OfflineMode ? "OFFLINE MODE" : "Not connected");
    }
}

void Frm_Main::ShowNotAvailable(const char* what) {
    ctx_.dialogs.MessageBox(std::string(what) + " is not available in this build.");
    // Chosen from the launcher, which hid itself: it comes back.
    if (!isVisible()) launcher_->show();
}

void Frm_Main::closeEvent(QCloseEvent* e) {
    if (closing_done_) {
        e->accept();
        return;
    }
    // The port search and the device procedures let window events run; the window waits for
    // them to finish (a calibration or zero has its STOP button).
    if (connecting_ || (control_panels != nullptr && control_panels->busy() &&
                        (acquisition == nullptr || !acquisition->engine().BlankActive()))) {
        e->ignore();
        return;
    }
    // A running acquisition is stopped only when the user says so, and first, while the port
    // is still open for its outputs.
    if (acquisition != nullptr && acquisition->Acquiring()) {
        AcquisitionEngine& engine = acquisition->engine();
        if (ctx_.dialogs.Confirm(engine.ExitQuestion(), kStopAndExitCaption) != MsgResult::Ok) {
            e->ignore();
            return;
        }
        if (engine.Running()) engine.CmdStop_Click(kStopAtExit);
    }
    if (acquisition != nullptr && acquisition->engine().BlankActive())
        acquisition->engine().CmdStop_Click(kStopAtExit);
    ClosingSteps steps;
    steps.close_port = [this] {
        const int port = ctx_.link.ComPortNumber;
        if (IsComPort(port)) CommClose(ctx_.link.ports, port);
    };
    steps.close_files = [this] { CloseDataFiles(); };
    if (!RunMainWindowClosing(ctx_.storage, ctx_.clock, ctx_.state, steps)) {
        e->ignore();
        return;
    }
    closing_done_ = true;
    e->accept();
    launcher_->hide();
    ExitProgram(0);
}

// ---- ConnectionView ----

void Frm_Main::SetStatusText(const std::string& text) {
    lbl_autochannel->setText(ToQ(text));
}

void Frm_Main::SetLauncherNews(const std::string& text) {
    launcher_->LblNews()->setText(ToQ(text));
}

void Frm_Main::SetAutoActionText(const std::string& text) {
    frm_autotext->lbl_autotext()->setText(ToQ(text));
}

void Frm_Main::ShowAutoActionPanels(bool visible) {
    frm_autotext->setVisible(visible);
    picturecal->setVisible(visible);
}

void Frm_Main::CheckPortMenuEntry(int port) {
    for (int i = 1; i <= kScanLastPort; ++i)
        mncom1[static_cast<std::size_t>(i)]->setChecked(i == port);
}

void Frm_Main::ReturnToLauncher() {
    launcher_->SetUsable(true);
    launcher_->show();
    hide();
}

// ---- StartupView ----

void Frm_Main::ResetDeviceControls() {
    Frame_temp->cmd_frio->setText("COOL");
    Frame_temp->cmd_ontemp->setText("OFF");
    Frame_light->cmd_luz->setText("OFF");
    frm_autotext->hide();
    picturecal->hide();
}

void Frm_Main::ShowLauncherLoading() {
    launcher_->SetUsable(false);
    launcher_->show();
    hide();
}

void Frm_Main::ShowToolPanels(bool calibration, bool light, bool temperature) {
    frm_mn1->setVisible(calibration);
    Frame_light->setVisible(light);
    Frame_temp->setVisible(temperature);
}

void Frm_Main::SetOrganismList(const std::vector<std::string>& items,
                               const std::optional<std::string>& text) {
    Cmb_organism->clear();
    for (const auto& item : items) Cmb_organism->addItem(ToQ(item));
    if (text) Cmb_organism->setEditText(ToQ(*text));
}

void Frm_Main::LoadToolSettings(ProjectState& project) {
    LoadCalibrationControls(calibration_controls, project);
    frm_mn1->Show(calibration_controls);
    LoadClimateSettings(project, climate);
    Frame_light->Show(climate);
    Frame_temp->Show(climate);
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
    live_buffer_rows_ = app.project.Setup.RT_Buffer;
    live_values_.assign(kChannelTableSize, 0.0);

    // The groups in use, in number order, for the group lists.
    std::set<int> groups;
    for (int c = 0; c < kChannelCount; ++c) {
        const int g = app.project.ChannelGroup[static_cast<std::size_t>(c)];
        if (g >= 0 && g < static_cast<int>(kChannelTableSize)) groups.insert(g);
    }
    lstgrup->clear();
    combogrup->clear();
    for (int g : groups) {
        const QString entry =
            QString::number(g) + " " + ToQ(app.project.GroupName[static_cast<std::size_t>(g)]);
        lstgrup->addItem(entry);
        combogrup->addItem(entry);
    }
    const bool paging = groups.size() > 12;
    cmd_pgup->setVisible(paging);
    cmd_pgdown->setVisible(paging);
    Picact->ClearAndScale(static_cast<double>(std::max<std::size_t>(groups.size(), 1)), 100.0);
    Picreal->ClearAndScale(live_buffer_rows_ + 20.0, 2100.0);
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

}  // namespace lumivo::app
