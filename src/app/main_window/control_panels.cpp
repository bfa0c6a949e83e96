#include "app/main_window/control_panels.h"

#include <QAction>
#include <QBoxLayout>
#include <QEvent>
#include <QMenu>
#include <QSignalBlocker>
#include <exception>
#include <utility>
#include <vector>

#include "app/support/qt_dialogs.h"
#include "core/acquisition/event_log.h"
#include "core/device/command_set.h"

namespace lumivo::app {

// The automatic-action strip as the control module's view.
class ControlPanels::StripView final : public CalibrationView {
  public:
    explicit StripView(AutoActionStrip& strip) : strip_(strip) {}
    void ShowFrame(bool shown) override {
        strip_.ShowFrame(shown);
        strip_.ShowProgress(shown);
    }
    void SetTitle(const std::string& text) override { strip_.SetTitle(text); }
    void SetStatus(const std::string& text) override { strip_.SetStatus(text); }
    void ScaleProgress(double x_max, double y_max) override {
        strip_.progress().SetScale(x_max, y_max);
    }
    void ClearProgress() override { strip_.progress().Clear(); }
    void DrawProgress(double x) override { strip_.progress().DrawBarTo(x); }

  private:
    AutoActionStrip& strip_;
};

namespace {

constexpr const char* kStopCaption = "STOP";

}  // namespace

ControlPanels::ControlPanels(QObject* parent, AppContext& ctx, LogPanel& log, CommandLock& lock,
                             AutoActionStrip& strip, SamplingControl& sampling,
                             QWidget* panel_parent)
    : QObject(parent), ctx_(ctx), log_(log), lock_(lock), strip_(strip), sampling_(sampling) {
    setObjectName("control_panels");
    frm_mn1 = new CalibrationPanel(panel_parent);
    Frame_light = new LightPanel(panel_parent);
    Frame_temp = new TemperaturePanel(panel_parent);

    CalibrationPanel* cal = frm_mn1;
    connect(cal, &CalibrationPanel::autoCalibrationClicked, this, &ControlPanels::mnCalibra_Click);
    connect(cal, &CalibrationPanel::autoZeroClicked, this, &ControlPanels::mnZero_Click);
    connect(cal, &CalibrationPanel::fastCalibrationClicked, this,
            &ControlPanels::cmd_calibra_Click);
    connect(cal, &CalibrationPanel::fastZeroClicked, this, &ControlPanels::Cmd_autozero_Click);
    connect(cal, &CalibrationPanel::readBlankClicked, this, &ControlPanels::Cmd_readblank_Click);
    connect(cal, &CalibrationPanel::thresholdLabelClicked, this, &ControlPanels::lbl_umbral_Click);
    connect(cal, &CalibrationPanel::thresholdEdited, this,
            &ControlPanels::txt_snr_umbral_LostFocus);

    LightPanel* light = Frame_light;
    connect(light, &LightPanel::lightClicked, this, &ControlPanels::cmd_luz_Click);
    connect(light, &LightPanel::lightCycleClicked, this, &ControlPanels::Chk_lenabled_Click);
    connect(light, &LightPanel::boxEdited, this, &ControlPanels::ClimateBox_LostFocus);

    TemperaturePanel* temp = Frame_temp;
    connect(temp, &TemperaturePanel::heaterClicked, this, &ControlPanels::cmd_ontemp_Click);
    connect(temp, &TemperaturePanel::modeClicked, this, &ControlPanels::cmd_frio_Click);
    connect(temp, &TemperaturePanel::controlClicked, this, &ControlPanels::Chk_tenabled_Click);
    connect(temp, &TemperaturePanel::setPointClicked, this, &ControlPanels::Cmd_settemp_Click);
    connect(temp, &TemperaturePanel::setPointEdited, this,
            [this] { ClimateBox_LostFocus(ClimateField::Temperature); });

    cal->SetInteractive(true);
    light->SetInteractive(true);
    temp->SetInteractive(true);
    ShowCalibrationControls();
    ShowClimate();
}

void ControlPanels::PlaceIn(QBoxLayout* column) {
    column->addWidget(frm_mn1);
    column->addWidget(Frame_light);
    column->addWidget(Frame_temp);
}

void ControlPanels::AddMenuEntries(QMenu* calibration, QMenu* tools_menu) {
    mncal_on = calibration->addAction("Manual calibration tools");
    mncal_on->setObjectName("mncal_on");
    mncal_off = calibration->addAction("Automatic calibration");
    mncal_off->setObjectName("mncal_off");
    for (QAction* a : {mncal_on, mncal_off}) a->setCheckable(true);
    calibration->addSeparator();
    mn_fastcalib = calibration->addAction(kFastCalibEntry);
    mn_fastcalib->setObjectName("mn_fastcalib");
    mn_fastzero = calibration->addAction(kFastZeroEntry);
    mn_fastzero->setObjectName("mn_fastzero");
    calibration->setToolTipsVisible(true);
    connect(mn_fastcalib, &QAction::triggered, this, &ControlPanels::cmd_calibra_Click);
    connect(mn_fastzero, &QAction::triggered, this, &ControlPanels::Cmd_autozero_Click);
    lght_ctl = tools_menu->addAction("Light control");
    lght_ctl->setObjectName("lght_ctl");
    temp_ctl = tools_menu->addAction("Temperature control");
    temp_ctl->setObjectName("temp_ctl");
    connect(mncal_on, &QAction::triggered, this, &ControlPanels::mncal_on_Click);
    connect(mncal_off, &QAction::triggered, this, &ControlPanels::mncal_off_Click);
    connect(lght_ctl, &QAction::triggered, this, &ControlPanels::lght_ctl_Click);
    connect(temp_ctl, &QAction::triggered, this, &ControlPanels::temp_ctl_Click);
    // The calibration menu's ticks follow the controls' state, which the window's load sets.
    connect(calibration, &QMenu::aboutToShow, this, [this] { ShowCalibrationControls(); });
    ShowCalibrationControls();
}

void ControlPanels::ShowPanels(bool calibration, bool light, bool temperature) {
    frm_mn1->setVisible(calibration);
    Frame_light->setVisible(light);
    Frame_temp->setVisible(temperature);
}

void ControlPanels::LoadSettings(ProjectState& project) {
    lumivo::LoadToolSettings(project, tools());
    ShowCalibrationControls();
    ShowClimate();
}

void ControlPanels::ResetDeviceButtons() {
    Frame_temp->ResetCaptions();
    Frame_light->ResetCaption();
}

void ControlPanels::SetSnrBoxEnabled(bool enabled) {
    frm_mn1->SetSnrBoxEnabled(enabled);
}

bool ControlPanels::Offline() const {
    const ConnectionState& c = ctx_.state.connection;
    return c.OfflineMode || !c.InstrumentConnected;
}

RunControl ControlPanels::MakeRunControl(bool within_acquisition) {
    RunControl run;
    run.offline = Offline();
    if (within_acquisition) {
        run.keep_going = [this] {
            return sampling_.AcquisitionState() != RunState::Stopped && !cancel_requested_;
        };
    } else {
        run.keep_going = [this] { return !cancel_requested_; };
    }
    run.stop_acquisition = [this] { sampling_.StopAcquisition(kStopByCalibrationWrite); };
    run.reset_sample_row = [this] { sampling_.ResetSampleRow(); };
    return run;
}

void ControlPanels::ShowCalibrationControls() {
    const CalibrationControls& c = tools().calibration;
    frm_mn1->Show(c);
    if (mncal_on != nullptr) mncal_on->setChecked(c.manual_tools_chosen);
    if (mncal_off != nullptr) mncal_off->setChecked(c.automatic_calibration_chosen);
    if (mn_fastcalib == nullptr) return;
    // When they can be used, and where their buttons are.
    const bool offline = Offline();
    const QString where =
        "The calibration panel shows its button while Auto %1 is unticked (Calibration > Manual "
        "calibration tools).";
    const QString needs =
        offline ? QString("Needs the instrument: press Connect first. ")
                : QString(
                      "Usable with the instrument connected and no blank running; during a "
                      "recording it runs within the run. Choose it again to stop it. ");
    mn_fastcalib->setEnabled(!offline);
    mn_fastzero->setEnabled(!offline);
    mn_fastcalib->setToolTip(needs + where.arg("Calibration"));
    mn_fastzero->setToolTip(needs + where.arg("Zero"));
    if (!running_) {
        mn_fastcalib->setText(kFastCalibEntry);
        mn_fastzero->setText(kFastZeroEntry);
    }
}

void ControlPanels::ShowClimate() {
    const ClimateState& climate = tools().climate;
    Frame_light->Show(climate);
    Frame_temp->Show(climate);
    Frame_light->SetHoursEnabled(LightHoursEnabled(climate));
}

template <typename Body>
void ControlPanels::RunFromButton(PanelRun run, Body body) {
    if (running_) {
        // The button of a stand-alone run reads "STOP" and ends it.
        if (frm_mn1->RunCaption(run) == kStopCaption) cancel_requested_ = true;
        return;
    }
    // A blank samples the instrument meanwhile: its reads and these would interleave.
    if (sampling_.BlankActive()) return;
    running_ = true;
    cancel_requested_ = false;
    const bool standalone = sampling_.AcquisitionState() == RunState::Stopped;
    // Nothing else may start while the run lets window events through.
    lock_.LockCommands(true);
    const QString caption = frm_mn1->BeginRun(run, standalone, kStopCaption);
    QAction* entry = run == PanelRun::FastCalibration ? mn_fastcalib : mn_fastzero;
    if (entry != nullptr && standalone) entry->setText("Stop " + caption);
    body(standalone);
    frm_mn1->EndRun(run, caption);
    lock_.LockCommands(false);
    running_ = false;
    cancel_requested_ = false;
    ShowCalibrationControls();
}

// ---- Calibration panel ----

void ControlPanels::mnCalibra_Click() {
    SetAutoCalibrate(tools().calibration, ctx_.state.project, frm_mn1->AutoCalibrationChecked());
    ShowCalibrationControls();
}

void ControlPanels::mnZero_Click() {
    SetAutoZero(tools().calibration, ctx_.state.project, frm_mn1->AutoZeroChecked());
    ShowCalibrationControls();
}

void ControlPanels::mncal_on_Click() {
    CalibrationMenuOn(tools().calibration);
    ShowCalibrationControls();
}

void ControlPanels::mncal_off_Click() {
    CalibrationMenuOff(tools().calibration, ctx_.state.project);
    ShowCalibrationControls();
}

void ControlPanels::cmd_calibra_Click() {
    RunFromButton(PanelRun::FastCalibration, [this](bool standalone) {
        StripView view(strip_);
        view.ShowFrame(true);
        view.SetTitle(kAutoCalibrationTitle);
        tools().calibration.SnrThreshold = SnrFromText(FromQ(frm_mn1->SnrText()), 0.0);
        AppContext& app = ctx_;
        ControlContext ctx{app.link, app.storage, view, MakeRunControl(!standalone)};
        last_calibration_ =
            CalibrateChannels(ctx, tools().cal, app.state.plate.ChannelWell, own_row_);
        view.ShowFrame(false);
        Log("Fast CALIB: " + CalibrationSummary(last_calibration_));
    });
}

void ControlPanels::Cmd_autozero_Click() {
    RunFromButton(PanelRun::FastZero, [this](bool standalone) {
        StripView view(strip_);
        view.ShowFrame(true);
        view.SetTitle(kAutoCalibrationTitle);
        CalibrationControls& c = tools().calibration;
        c.SnrThreshold = SnrFromText(FromQ(frm_mn1->SnrText()), 0.0);
        AppContext& app = ctx_;
        ControlContext ctx{app.link, app.storage, view, MakeRunControl(!standalone)};
        const AutoZeroResult r =
            CalculateAutoZero(ctx, {c.SnrThreshold, c.AutoCalibrateOnStart, c.AutoZeroOnStart},
                              app.state.project.ChannelThreshold);
        view.ShowFrame(false);
        Log("Fast ZERO: " +
            AutoZeroSummary(r, app.state.plate.ChannelWell, app.state.project.ChannelThreshold));
    });
}

void ControlPanels::Log(const std::string& text) {
    log_.AppendLog(EventLogLine(ctx_.clock.Now(), text));
}

void ControlPanels::Cmd_readblank_Click() {
    // The blank runs on the acquisition's sampling timer, which refuses it during a run and
    // without an instrument; Stop ends it. It lasts the project's Cal_value ticks.
    if (running_) return;
    sampling_.ReadBlank(int{ctx_.state.project.Setup.Cal_value});
}

void ControlPanels::lbl_umbral_Click() {
    ToggleSnrBox(tools().calibration);
    ShowCalibrationControls();
}

void ControlPanels::txt_snr_umbral_LostFocus() {
    const FieldCheck check =
        SnrLostFocus(tools().calibration, ctx_.state.project, FromQ(frm_mn1->SnrText()));
    frm_mn1->SetSnrText(ToQ(check.text));
    if (!check.message.empty()) ctx_.dialogs.MessageBox(check.message);
}

// ---- Light and temperature panels ----

void ControlPanels::ApplyOutputs() {
    if (!Offline()) lumivo::ApplyOutputs(ctx_.link, tools().climate);
    ShowClimate();
}

void ControlPanels::cmd_luz_Click() {
    if (ToggleLight(tools().climate, sampling_.AcquisitionState() == RunState::Running)) {
        ApplyOutputs();
    } else {
        ShowClimate();  // the lamp follows at once; the frame waits for the sampling loop
    }
}

void ControlPanels::cmd_frio_Click() {
    if (ToggleHeatMode(tools().climate, sampling_.AcquisitionState() == RunState::Running)) {
        ApplyOutputs();
    } else {
        ShowClimate();
    }
}

void ControlPanels::cmd_ontemp_Click() {
    if (ToggleTemperatureControl(tools().climate,
                                 sampling_.AcquisitionState() == RunState::Running)) {
        ApplyOutputs();
    } else {
        ShowClimate();
    }
}

void ControlPanels::Cmd_settemp_Click() {
    SetTemperatureSetPoint(tools().climate, FromQ(Frame_temp->SetPointText()));
}

void ControlPanels::Chk_lenabled_Click() {
    SetLightCycleEnabled(tools().climate, ctx_.state.project, Frame_light->LightCycleChecked());
}

void ControlPanels::Chk_tenabled_Click() {
    SetTemperatureControlEnabled(tools().climate, ctx_.state.project, Frame_temp->ControlChecked());
}

void ControlPanels::lght_ctl_Click() {
    AppContext& app = ctx_;
    Frame_light->setVisible(ToggleLightPanel(tools().climate, app.state.project, app.dialogs));
}

void ControlPanels::temp_ctl_Click() {
    AppContext& app = ctx_;
    Frame_temp->setVisible(ToggleTemperaturePanel(tools().climate, app.state.project, app.dialogs));
}

void ControlPanels::ClimateBox_LostFocus(ClimateField field) {
    const bool temperature = field == ClimateField::Temperature;
    const QString text = temperature ? Frame_temp->SetPointText() : Frame_light->BoxText(field);
    AppContext& app = ctx_;
    const FieldCheck check =
        ClimateFieldLostFocus(tools().climate, app.state.project, field, FromQ(text));
    if (temperature) {
        Frame_temp->SetSetPointText(ToQ(check.text));
    } else {
        Frame_light->SetBoxText(field, ToQ(check.text));
    }
    if (field == ClimateField::PulseCount)
        Frame_light->SetHoursEnabled(LightHoursEnabled(tools().climate));
    if (!check.message.empty()) app.dialogs.MessageBox(check.message);
}

}  // namespace lumivo::app
