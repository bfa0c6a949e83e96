#include "app/control_panels.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QSignalBlocker>
#include <exception>
#include <utility>
#include <vector>

#include "app/frm_main.h"
#include "app/qt_dialogs.h"
#include "core/acquisition/event_log.h"
#include "core/device/command_set.h"

namespace lumivo::app {

// The automatic-action strip of the main window as the control module's view.
class ControlPanels::StripView final : public CalibrationView {
  public:
    explicit StripView(Frm_Main& m) : m_(m) {}
    void ShowFrame(bool shown) override {
        m_.frm_autotext->setVisible(shown);
        m_.picturecal->setVisible(shown);
    }
    void SetTitle(const std::string& text) override {
        m_.frm_autotext->lbl_autotext()->setText(ToQ(text));
    }
    void SetStatus(const std::string& text) override { m_.lbl_autochannel->setText(ToQ(text)); }
    void ScaleProgress(double x_max, double y_max) override {
        m_.picturecal->SetScale(x_max, y_max);
    }
    void ClearProgress() override { m_.picturecal->Clear(); }
    void DrawProgress(double x) override { m_.picturecal->DrawBarTo(x); }

  private:
    Frm_Main& m_;
};

namespace {

constexpr const char* kStopCaption = "STOP";
const QColor kCalibrationBackground(255, 255, 192);

}  // namespace

ControlPanels::ControlPanels(Frm_Main& main) : QObject(&main), main_(main) {
    setObjectName("control_panels");
    AcquisitionState = [this] {
        return main_.IsAcquiring && main_.IsAcquiring() ? RunState::Running : RunState::Stopped;
    };
    StopAcquisition = [] {};
    ResetSampleRow = [] {};
    CalibrationRow = [this] { return std::span<std::uint16_t>(own_row_); };
    ReadBlank = [](int) { return false; };
    BlankActive = [] { return false; };
    BlankSampleCount = [this] { return int{main_.context().state.project.Setup.Cal_value}; };

    CalibrationPanel* cal = main_.frm_mn1;
    connect(cal->mnCalibra, &QCheckBox::clicked, this, &ControlPanels::mnCalibra_Click);
    connect(cal->mnZero, &QCheckBox::clicked, this, &ControlPanels::mnZero_Click);
    connect(cal->cmd_calibra, &QPushButton::clicked, this, &ControlPanels::cmd_calibra_Click);
    connect(cal->Cmd_autozero, &QPushButton::clicked, this, &ControlPanels::Cmd_autozero_Click);
    connect(cal->Cmd_readblank, &QPushButton::clicked, this, &ControlPanels::Cmd_readblank_Click);
    connect(cal->txt_snr_umbral, &QLineEdit::editingFinished, this,
            &ControlPanels::txt_snr_umbral_LostFocus);
    umbral_label_ = cal->lbl_umbral;
    umbral_label_->installEventFilter(this);

    LightPanel* light = main_.Frame_light;
    connect(light->cmd_luz, &QPushButton::clicked, this, &ControlPanels::cmd_luz_Click);
    connect(light->Chk_lenabled, &QCheckBox::clicked, this, &ControlPanels::Chk_lenabled_Click);
    connect(light->cmd_cyclepulse, &QPushButton::clicked, this,
            &ControlPanels::cmd_cyclepulse_Click);
    const std::pair<QLineEdit*, ClimateField> boxes[] = {
        {light->txt_lon, ClimateField::LightOnHour},
        {light->txt_loff, ClimateField::LightOffHour},
        {light->txt_pulseon, ClimateField::PulseOn},
        {light->txt_pulseoff, ClimateField::PulseOff},
        {light->txt_pulsetimes, ClimateField::PulseCount},
        {main_.Frame_temp->txttemp, ClimateField::Temperature},
    };
    for (const auto& [box, field] : boxes) {
        connect(box, &QLineEdit::editingFinished, this,
                [this, f = field] { ClimateBox_LostFocus(f); });
    }

    TemperaturePanel* temp = main_.Frame_temp;
    connect(temp->cmd_ontemp, &QPushButton::clicked, this, &ControlPanels::cmd_ontemp_Click);
    connect(temp->cmd_frio, &QPushButton::clicked, this, &ControlPanels::cmd_frio_Click);
    connect(temp->Chk_tenabled, &QCheckBox::clicked, this, &ControlPanels::Chk_tenabled_Click);
    connect(temp->Cmd_settemp, &QPushButton::clicked, this, &ControlPanels::Cmd_settemp_Click);

    connect(main_.mncal_on, &QAction::triggered, this, &ControlPanels::mncal_on_Click);
    connect(main_.mncal_off, &QAction::triggered, this, &ControlPanels::mncal_off_Click);
    connect(main_.lght_ctl, &QAction::triggered, this, &ControlPanels::lght_ctl_Click);
    connect(main_.temp_ctl, &QAction::triggered, this, &ControlPanels::temp_ctl_Click);
    for (QAction* a : {main_.mncal_on, main_.mncal_off, main_.lght_ctl, main_.temp_ctl})
        a->setEnabled(true);
    // The calibration menu's ticks follow the controls' state, which the window's load sets.
    for (QObject* o : main_.mncal_on->associatedObjects()) {
        if (auto* menu = qobject_cast<QMenu*>(o)) {
            connect(menu, &QMenu::aboutToShow, this, [this] {
                main_.mncal_on->setChecked(main_.calibration_controls.mncal_on_checked);
                main_.mncal_off->setChecked(main_.calibration_controls.mncal_off_checked);
            });
        }
    }

    cal->SetInteractive(true);
    light->SetInteractive(true);
    temp->SetInteractive(true);
    ShowCalibrationControls();
    ShowClimate();
}

bool ControlPanels::Offline() const {
    const ConnectionState& c = main_.context().state.connection;
    return c.OfflineMode || !c.InstrumentConnected;
}

RunControl ControlPanels::MakeRunControl(bool within_acquisition) {
    RunControl run;
    run.offline = Offline();
    if (within_acquisition) {
        run.keep_going = [this] {
            return AcquisitionState() != RunState::Stopped && !cancel_requested_;
        };
    } else {
        run.keep_going = [this] { return !cancel_requested_; };
    }
    run.stop_acquisition = [this] {
        if (StopAcquisition) StopAcquisition();
    };
    run.reset_sample_row = [this] {
        if (ResetSampleRow) ResetSampleRow();
    };
    return run;
}

void ControlPanels::ShowCalibrationControls() {
    main_.frm_mn1->Show(main_.calibration_controls);
    main_.mncal_on->setChecked(main_.calibration_controls.mncal_on_checked);
    main_.mncal_off->setChecked(main_.calibration_controls.mncal_off_checked);
}

void ControlPanels::ShowClimate() {
    main_.Frame_light->Show(main_.climate);
    main_.Frame_temp->Show(main_.climate);
    const bool hours = LightHoursEnabled(main_.climate);
    main_.Frame_light->txt_lon->setEnabled(hours);
    main_.Frame_light->txt_loff->setEnabled(hours);
}

void ControlPanels::SetBoxText(QLineEdit* box, const std::string& text) {
    const QSignalBlocker quiet(box);
    box->setText(ToQ(text));
}

template <typename Body>
void ControlPanels::RunFromButton(QPushButton* button, Body body) {
    if (running_) {
        // The button of a stand-alone run reads "STOP" and ends it.
        if (button->text() == kStopCaption) cancel_requested_ = true;
        return;
    }
    // A blank samples the instrument meanwhile: its reads and these would interleave.
    if (BlankActive()) return;
    running_ = true;
    cancel_requested_ = false;
    const bool standalone = AcquisitionState() == RunState::Stopped;
    // Nothing else may start while the run lets window events through.
    std::vector<std::pair<QWidget*, bool>> saved;
    for (QWidget* w : std::initializer_list<QWidget*>{
             main_.CmdPlay, main_.Cmdsetup, main_.Cmdoffline, main_.cmd_connect,
             main_.Cmd_disconnect, main_.frm_mn1->cmd_calibra, main_.frm_mn1->Cmd_autozero,
             main_.frm_mn1->Cmd_readblank, main_.frm_mn1->mnCalibra, main_.frm_mn1->mnZero}) {
        if (w == button && standalone) continue;
        saved.emplace_back(w, w->isEnabled());
        w->setEnabled(false);
    }
    const QString caption = button->text();
    if (standalone) button->setText(kStopCaption);
    body(standalone);
    button->setText(caption);
    for (const auto& [w, enabled] : saved) w->setEnabled(enabled);
    running_ = false;
    cancel_requested_ = false;
}

// ---- Calibration panel ----

void ControlPanels::mnCalibra_Click() {
    SetAutoCalibrate(main_.calibration_controls, main_.context().state.project,
                     main_.frm_mn1->mnCalibra->isChecked());
    ShowCalibrationControls();
}

void ControlPanels::mnZero_Click() {
    SetAutoZero(main_.calibration_controls, main_.context().state.project,
                main_.frm_mn1->mnZero->isChecked());
    ShowCalibrationControls();
}

void ControlPanels::mncal_on_Click() {
    CalibrationMenuOn(main_.calibration_controls);
    ShowCalibrationControls();
}

void ControlPanels::mncal_off_Click() {
    CalibrationMenuOff(main_.calibration_controls, main_.context().state.project);
    ShowCalibrationControls();
}

void ControlPanels::cmd_calibra_Click() {
    RunFromButton(main_.frm_mn1->cmd_calibra, [this](bool standalone) {
        StripView view(main_);
        view.ShowFrame(true);
        view.SetTitle(kAutoCalibrationTitle);
        main_.calibration_controls.SnrThreshold =
            SnrFromText(FromQ(main_.frm_mn1->txt_snr_umbral->text()), 0.0);
        AppContext& app = main_.context();
        ControlContext ctx{app.link, app.storage, view, MakeRunControl(!standalone)};
        last_calibration_ =
            CalibrateChannels(ctx, calibration, app.state.plate.ChannelWell, CalibrationRow());
        view.ShowFrame(false);
        Log("Fast CALIB: " + CalibrationSummary(last_calibration_));
    });
}

void ControlPanels::Cmd_autozero_Click() {
    RunFromButton(main_.frm_mn1->Cmd_autozero, [this](bool standalone) {
        StripView view(main_);
        view.ShowFrame(true);
        view.SetTitle(kAutoCalibrationTitle);
        CalibrationControls& c = main_.calibration_controls;
        c.SnrThreshold = SnrFromText(FromQ(main_.frm_mn1->txt_snr_umbral->text()), 0.0);
        AppContext& app = main_.context();
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
    main_.AppendLog(EventLogLine(main_.context().clock.Now(), text));
}

CalibrationResult ControlPanels::RunStartCalibration() {
    running_ = true;
    cancel_requested_ = false;
    StripView view(main_);
    view.ShowFrame(true);
    view.SetTitle(kAutoCalibrationTitle);
    main_.picturecal->SetScale(383.0, 10.0);
    main_.picturecal->SetBackground(kCalibrationBackground);
    main_.picturecal->Clear();
    main_.calibration_controls.SnrThreshold =
        SnrFromText(FromQ(main_.frm_mn1->txt_snr_umbral->text()), 1.3);
    AppContext& app = main_.context();
    ControlContext ctx{app.link, app.storage, view, MakeRunControl(true)};
    last_calibration_ =
        CalibrateChannels(ctx, calibration, app.state.plate.ChannelWell, CalibrationRow());
    view.ShowFrame(false);
    running_ = false;
    return last_calibration_;
}

AutoZeroResult ControlPanels::RunStartAutoZero() {
    running_ = true;
    cancel_requested_ = false;
    StripView view(main_);
    view.ShowFrame(true);
    view.SetTitle(kAutoCalibrationTitle);
    main_.picturecal->Clear();
    CalibrationControls& c = main_.calibration_controls;
    c.SnrThreshold = SnrFromText(FromQ(main_.frm_mn1->txt_snr_umbral->text()), 1.3);
    AppContext& app = main_.context();
    ControlContext ctx{app.link, app.storage, view, MakeRunControl(true)};
    AutoZeroResult r =
        CalculateAutoZero(ctx, {c.SnrThreshold, c.AutoCalibrateOnStart, c.AutoZeroOnStart},
                          app.state.project.ChannelThreshold);
    view.ShowFrame(false);
    running_ = false;
    return r;
}

void ControlPanels::Cmd_readblank_Click() {
    // The blank runs on the acquisition's sampling timer, which refuses it during a run and
    // without an instrument; Stop ends it.
    if (running_) return;
    ReadBlank(BlankSampleCount());
}

void ControlPanels::lbl_umbral_Click() {
    ToggleSnrBox(main_.calibration_controls);
    ShowCalibrationControls();
}

void ControlPanels::txt_snr_umbral_LostFocus() {
    QLineEdit* box = main_.frm_mn1->txt_snr_umbral;
    const FieldCheck check =
        SnrLostFocus(main_.calibration_controls, main_.context().state.project, FromQ(box->text()));
    SetBoxText(box, check.text);
    if (!check.message.empty()) main_.context().dialogs.MessageBox(check.message);
}

bool ControlPanels::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease && umbral_label_ != nullptr &&
        watched == umbral_label_.data()) {
        lbl_umbral_Click();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

// ---- Light and temperature panels ----

void ControlPanels::ApplyOutputs() {
    if (!Offline()) lumivo::ApplyOutputs(main_.context().link, main_.climate);
    ShowClimate();
}

void ControlPanels::cmd_luz_Click() {
    if (ToggleLight(main_.climate, AcquisitionState() == RunState::Running)) {
        ApplyOutputs();
    } else {
        ShowClimate();  // the lamp follows at once; the frame waits for the sampling loop
    }
}

void ControlPanels::cmd_frio_Click() {
    if (ToggleHeatMode(main_.climate, AcquisitionState() == RunState::Running)) {
        ApplyOutputs();
    } else {
        ShowClimate();
    }
}

void ControlPanels::cmd_ontemp_Click() {
    if (ToggleTemperatureControl(main_.climate, AcquisitionState() == RunState::Running)) {
        ApplyOutputs();
    } else {
        ShowClimate();
    }
}

void ControlPanels::Cmd_settemp_Click() {
    SetTemperatureSetPoint(main_.climate, FromQ(main_.Frame_temp->txttemp->text()));
}

void ControlPanels::Chk_lenabled_Click() {
    SetLightCycleEnabled(main_.climate, main_.context().state.project,
                         main_.Frame_light->Chk_lenabled->isChecked());
}

void ControlPanels::Chk_tenabled_Click() {
    SetTemperatureControlEnabled(main_.climate, main_.context().state.project,
                                 main_.Frame_temp->Chk_tenabled->isChecked());
}

void ControlPanels::cmd_cyclepulse_Click() {
    QFrame* pulse = main_.Frame_light->frm_pulse;
    pulse->setVisible(pulse->isHidden());
}

void ControlPanels::lght_ctl_Click() {
    AppContext& app = main_.context();
    main_.Frame_light->setVisible(ToggleLightPanel(main_.climate, app.state.project, app.dialogs));
}

void ControlPanels::temp_ctl_Click() {
    AppContext& app = main_.context();
    main_.Frame_temp->setVisible(
        ToggleTemperaturePanel(main_.climate, app.state.project, app.dialogs));
}

void ControlPanels::ClimateBox_LostFocus(ClimateField field) {
    LightPanel* light = main_.Frame_light;
    QLineEdit* box = nullptr;
    switch (field) {
        case ClimateField::LightOnHour:
            box = light->txt_lon;
            break;
        case ClimateField::LightOffHour:
            box = light->txt_loff;
            break;
        case ClimateField::Temperature:
            box = main_.Frame_temp->txttemp;
            break;
        case ClimateField::PulseOn:
            box = light->txt_pulseon;
            break;
        case ClimateField::PulseOff:
            box = light->txt_pulseoff;
            break;
        case ClimateField::PulseCount:
            box = light->txt_pulsetimes;
            break;
    }
    AppContext& app = main_.context();
    const FieldCheck check =
        ClimateFieldLostFocus(main_.climate, app.state.project, field, FromQ(box->text()));
    SetBoxText(box, check.text);
    if (field == ClimateField::PulseCount) {
        const bool hours = LightHoursEnabled(main_.climate);
        light->txt_lon->setEnabled(hours);
        light->txt_loff->setEnabled(hours);
    }
    if (!check.message.empty()) app.dialogs.MessageBox(check.message);
}

}  // namespace lumivo::app
