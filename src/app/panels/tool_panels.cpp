#include "app/panels/tool_panels.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>

#include "app/support/qt_dialogs.h"
#include "app/support/widget_helpers.h"

namespace lumivo::app {

namespace {

// Puts a value into a box the user may be typing in. The box is rewritten only when the value
// changed since it was last put there, and never while it has the keyboard focus: output
// updates come every few tens of milliseconds during a pulse program and would otherwise wipe
// out what is being typed.
void RefreshBox(QLineEdit* box, const std::string& value) {
    const QString text = ToQ(value);
    const QVariant shown = box->property("shown_value");
    if (shown.isValid() && shown.toString() == text) return;
    if (box->hasFocus()) return;
    box->setText(text);
    box->setProperty("shown_value", text);
}

// Puts the checked text back into a box without a new editingFinished.
void SetQuietly(QLineEdit* box, const QString& text) {
    const QSignalBlocker quiet(box);
    box->setText(text);
}

}  // namespace

QColor ToQColor(const Rgb& rgb) {
    return QColor(rgb.r, rgb.g, rgb.b);
}

Lamp::Lamp(QWidget* parent) : QWidget(parent) {
    setFixedSize(18, 18);
}

void Lamp::SetColour(const QColor& colour) {
    colour_ = colour;
    update();
}

void Lamp::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::darkGray);
    p.setBrush(colour_);
    p.drawEllipse(rect().adjusted(1, 1, -2, -2));
}

CalibrationPanel::CalibrationPanel(QWidget* parent) : QGroupBox("Calibration", parent) {
    setObjectName("frm_mn1");
    mnCalibra = Named(new QCheckBox("Auto   Calibration", this), "mnCalibra");
    mnZero = Named(new QCheckBox("Auto   Zero", this), "mnZero");
    cmd_calibra = Named(new QPushButton("Fast CALIB", this), "cmd_calibra");
    Cmd_autozero = Named(new QPushButton("Fast ZERO", this), "Cmd_autozero");
    Cmd_readblank = Named(new QPushButton("Read Blank", this), "Cmd_readblank");
    lbl_umbral = Named(new QLabel(">>>>", this), "lbl_umbral");
    txt_snr_umbral = NumberBox(this, "txt_snr_umbral", 56);

    auto* grid = new QGridLayout(this);
    grid->addWidget(mnCalibra, 0, 0);
    grid->addWidget(cmd_calibra, 0, 1);
    grid->addWidget(mnZero, 1, 0);
    grid->addWidget(Cmd_autozero, 1, 1);
    auto* snr = new QHBoxLayout;
    snr->addWidget(lbl_umbral);
    snr->addWidget(txt_snr_umbral);
    snr->addStretch();
    grid->addLayout(snr, 2, 0);
    grid->addWidget(Cmd_readblank, 2, 1);

    connect(mnCalibra, &QCheckBox::clicked, this, &CalibrationPanel::autoCalibrationClicked);
    connect(mnZero, &QCheckBox::clicked, this, &CalibrationPanel::autoZeroClicked);
    connect(cmd_calibra, &QPushButton::clicked, this, &CalibrationPanel::fastCalibrationClicked);
    connect(Cmd_autozero, &QPushButton::clicked, this, &CalibrationPanel::fastZeroClicked);
    connect(Cmd_readblank, &QPushButton::clicked, this, &CalibrationPanel::readBlankClicked);
    connect(txt_snr_umbral, &QLineEdit::editingFinished, this, &CalibrationPanel::thresholdEdited);
    lbl_umbral->installEventFilter(this);
    SetInteractive(false);
}

bool CalibrationPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lbl_umbral && event->type() == QEvent::MouseButtonRelease) {
        emit thresholdLabelClicked();
        return true;
    }
    return QGroupBox::eventFilter(watched, event);
}

void CalibrationPanel::SetSnrText(const QString& text) {
    SetQuietly(txt_snr_umbral, text);
}

QString CalibrationPanel::BeginRun(PanelRun run, bool standalone, const QString& stop_caption) {
    QPushButton* button = RunButton(run);
    held_.clear();
    for (QWidget* w : std::initializer_list<QWidget*>{cmd_calibra, Cmd_autozero, Cmd_readblank,
                                                      mnCalibra, mnZero}) {
        if (w == button && standalone) continue;
        held_.emplace_back(w, w->isEnabled());
        w->setEnabled(false);
    }
    const QString caption = button->text();
    if (standalone) button->setText(stop_caption);
    return caption;
}

void CalibrationPanel::EndRun(PanelRun run, const QString& caption) {
    RunButton(run)->setText(caption);
    for (const auto& [w, enabled] : held_) w->setEnabled(enabled);
    held_.clear();
}

void CalibrationPanel::Show(const CalibrationControls& c) {
    mnCalibra->setChecked(c.auto_calibrate_ticked);
    mnZero->setChecked(c.auto_zero_ticked);
    cmd_calibra->setVisible(c.fast_calibration_shown);
    Cmd_autozero->setVisible(c.fast_zero_shown);
    Cmd_readblank->setVisible(c.read_blank_shown);
    lbl_umbral->setText(ToQ(c.snr_toggle_caption));
    txt_snr_umbral->setText(ToQ(c.snr_text));
    txt_snr_umbral->setVisible(c.snr_box_shown);
    mnCalibra->setEnabled(interactive_ && c.auto_calibrate_choosable);
    mnZero->setEnabled(interactive_ && c.auto_zero_choosable);
}

void CalibrationPanel::SetInteractive(bool interactive) {
    interactive_ = interactive;
    SetAllEnabled({mnCalibra, mnZero, cmd_calibra, Cmd_autozero, Cmd_readblank, txt_snr_umbral},
                  interactive);
}

LightPanel::LightPanel(QWidget* parent) : QGroupBox("Light", parent) {
    setObjectName("Frame_light");
    cmd_luz = Named(new QPushButton("OFF", this), "cmd_luz");
    shape_light = Named(new Lamp(this), "shape_light");
    Chk_lenabled = Named(new QCheckBox("Enable", this), "Chk_lenabled");
    txt_lon = NumberBox(this, "txt_lon", 56);
    txt_loff = NumberBox(this, "txt_loff", 56);
    cmd_cyclepulse = Named(new QPushButton("Cycle/Pulse", this), "cmd_cyclepulse");
    frm_pulse = Named(new QFrame(this), "frm_pulse");
    txt_pulseon = NumberBox(frm_pulse, "txt_pulseon", 56);
    txt_pulseoff = NumberBox(frm_pulse, "txt_pulseoff", 56);
    txt_pulsetimes = NumberBox(frm_pulse, "txt_pulsetimes", 56);

    auto* grid = new QGridLayout(this);
    grid->addWidget(cmd_luz, 0, 0);
    grid->addWidget(shape_light, 0, 1);
    grid->addWidget(Chk_lenabled, 0, 2, 1, 2);
    AddLabelled(grid, 1, 0, "ON (h)", txt_lon);
    AddLabelled(grid, 1, 2, "OFF (h)", txt_loff);
    grid->addWidget(cmd_cyclepulse, 2, 0, 1, 4);
    auto* pulse = new QGridLayout(frm_pulse);
    pulse->setContentsMargins(0, 0, 0, 0);
    AddLabelled(pulse, 0, 0, "ON (min)", txt_pulseon);
    AddLabelled(pulse, 0, 2, "OFF (min)", txt_pulseoff);
    AddLabelled(pulse, 1, 0, "Times", txt_pulsetimes);
    grid->addWidget(frm_pulse, 3, 0, 1, 4);
    frm_pulse->hide();

    connect(cmd_luz, &QPushButton::clicked, this, &LightPanel::lightClicked);
    connect(Chk_lenabled, &QCheckBox::clicked, this, &LightPanel::lightCycleClicked);
    connect(cmd_cyclepulse, &QPushButton::clicked, this, &LightPanel::cmd_cyclepulse_Click);
    for (const ClimateField field :
         {ClimateField::LightOnHour, ClimateField::LightOffHour, ClimateField::PulseOn,
          ClimateField::PulseOff, ClimateField::PulseCount}) {
        connect(Box(field), &QLineEdit::editingFinished, this,
                [this, field] { emit boxEdited(field); });
    }
    SetInteractive(false);
}

QLineEdit* LightPanel::Box(ClimateField field) const {
    switch (field) {
        case ClimateField::LightOnHour:
            return txt_lon;
        case ClimateField::LightOffHour:
            return txt_loff;
        case ClimateField::PulseOn:
            return txt_pulseon;
        case ClimateField::PulseOff:
            return txt_pulseoff;
        case ClimateField::PulseCount:
            return txt_pulsetimes;
        default:
            return nullptr;
    }
}

QString LightPanel::BoxText(ClimateField field) const {
    QLineEdit* box = Box(field);
    return box == nullptr ? QString() : box->text();
}

void LightPanel::SetBoxText(ClimateField field, const QString& text) {
    if (QLineEdit* box = Box(field)) SetQuietly(box, text);
}

void LightPanel::SetHoursEnabled(bool enabled) {
    txt_lon->setEnabled(enabled);
    txt_loff->setEnabled(enabled);
}

void LightPanel::cmd_cyclepulse_Click() {
    frm_pulse->setVisible(frm_pulse->isHidden());
}

void LightPanel::Show(const ClimateState& climate) {
    const OutputDisplay d = DisplayForCode(OutputCode(climate.outputs));
    cmd_luz->setText(ToQ(d.luz_caption));
    shape_light->SetColour(ToQColor(d.light_lamp));
    Chk_lenabled->setChecked(climate.light_cycle_enabled);
    const ClimateTexts t = TextsFor(climate);
    RefreshBox(txt_lon, t.lon);
    RefreshBox(txt_loff, t.loff);
    RefreshBox(txt_pulseon, t.pulse_on);
    RefreshBox(txt_pulseoff, t.pulse_off);
    RefreshBox(txt_pulsetimes, t.pulse_times);
}

void LightPanel::SetInteractive(bool interactive) {
    SetAllEnabled({cmd_luz, Chk_lenabled, txt_lon, txt_loff, cmd_cyclepulse, txt_pulseon,
                   txt_pulseoff, txt_pulsetimes},
                  interactive);
}

TemperaturePanel::TemperaturePanel(QWidget* parent) : QGroupBox("Temperature", parent) {
    setObjectName("Frame_temp");
    cmd_ontemp = Named(new QPushButton("OFF", this), "cmd_ontemp");
    cmd_frio = Named(new QPushButton("COOL", this), "cmd_frio");
    shape_temp = Named(new Lamp(this), "shape_temp");
    Chk_tenabled = Named(new QCheckBox("Enabled", this), "Chk_tenabled");
    txttemp = NumberBox(this, "txttemp", 56);
    Cmd_settemp = Named(new QPushButton("Set", this), "Cmd_settemp");

    auto* grid = new QGridLayout(this);
    grid->addWidget(cmd_ontemp, 0, 0);
    grid->addWidget(cmd_frio, 0, 1);
    grid->addWidget(shape_temp, 0, 2);
    grid->addWidget(Chk_tenabled, 1, 0);
    grid->addWidget(txttemp, 1, 1);
    grid->addWidget(Cmd_settemp, 1, 2);

    connect(cmd_ontemp, &QPushButton::clicked, this, &TemperaturePanel::heaterClicked);
    connect(cmd_frio, &QPushButton::clicked, this, &TemperaturePanel::modeClicked);
    connect(Chk_tenabled, &QCheckBox::clicked, this, &TemperaturePanel::controlClicked);
    connect(Cmd_settemp, &QPushButton::clicked, this, &TemperaturePanel::setPointClicked);
    connect(txttemp, &QLineEdit::editingFinished, this, &TemperaturePanel::setPointEdited);
    SetInteractive(false);
}

void TemperaturePanel::SetSetPointText(const QString& text) {
    SetQuietly(txttemp, text);
}

void TemperaturePanel::ResetCaptions() {
    cmd_frio->setText("COOL");
    cmd_ontemp->setText("OFF");
}

void TemperaturePanel::Show(const ClimateState& climate) {
    const OutputDisplay d = DisplayForCode(OutputCode(climate.outputs));
    cmd_ontemp->setText(ToQ(d.ontemp_caption));
    cmd_frio->setText(ToQ(d.frio_caption));
    shape_temp->SetColour(ToQColor(d.temp_lamp));
    Chk_tenabled->setChecked(climate.temperature_control_enabled);
    RefreshBox(txttemp, TextsFor(climate).temp);
}

void TemperaturePanel::SetInteractive(bool interactive) {
    for (QWidget* w : {static_cast<QWidget*>(cmd_ontemp), static_cast<QWidget*>(cmd_frio),
                       static_cast<QWidget*>(Chk_tenabled), static_cast<QWidget*>(txttemp),
                       static_cast<QWidget*>(Cmd_settemp)})
        w->setEnabled(interactive);
}

}  // namespace lumivo::app
