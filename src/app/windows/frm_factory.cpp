#include "app/windows/frm_factory.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QVBoxLayout>

#include "app/support/qt_dialogs.h"
#include "app/support/widget_helpers.h"
#include "core/control/control_fields.h"

namespace lumivo::app {

Frm_Factory::Frm_Factory(AppContext& ctx, QWidget* parent)
    : QWidget(parent, Qt::Window), ctx_(ctx) {
    setObjectName("Frm_Factory");
    setWindowTitle("Lumivo - Factory: temperature sensor");
    auto* root = new QVBoxLayout(this);
    lblserial = Named(new QLabel(this), "lblserial");
    QFont big = lblserial->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    lblserial->setFont(big);
    root->addWidget(lblserial);

    Frame1 = Named(new QGroupBox("Temperature Sensing Calibration", this), "Frame1");
    auto* grid = new QGridLayout(Frame1);
    txt_current_temp = ReadOnlyBox(Frame1, "txt_current_temp", 90);
    txt_current_temp->setAlignment(Qt::AlignRight);
    txt_current_temp->setFocusPolicy(Qt::NoFocus);
    txt_set_temp = NumberBox(Frame1, "txt_set_temp", 90);
    Cmd_temp = Button(Frame1, "Cmd_temp", "SET");
    txt_mensaje = ReadOnlyBox(Frame1, "txt_mensaje");
    txt_mensaje->setFocusPolicy(Qt::NoFocus);
    AddLabelled(grid, 0, 0, "Current value =", txt_current_temp);
    grid->addWidget(new QLabel("\u00b0C", Frame1), 0, 2);
    AddLabelled(grid, 1, 0, "True temperature =", txt_set_temp);
    grid->addWidget(new QLabel("\u00b0C (4.0 to 50.0)", Frame1), 1, 2);
    grid->addWidget(Cmd_temp, 1, 3);
    grid->addWidget(new QLabel("Calibration:", Frame1), 2, 0);
    grid->addWidget(txt_mensaje, 2, 1, 1, 3);
    grid->setColumnStretch(2, 1);
    root->addWidget(Frame1);
    root->addStretch();
    cmdclose = Button(this, "cmdclose", "Close");
    root->addLayout(ButtonRow({cmdclose}));
    connect(cmdclose, &QPushButton::clicked, this, &QWidget::close);

    Timer_temp = new QTimer(this);
    Timer_temp->setObjectName("Timer_temp");
    Timer_temp->setInterval(kTimerTempIntervalMs);
    connect(Timer_temp, &QTimer::timeout, this, &Frm_Factory::Timer_temp_Timer);
    connect(Cmd_temp, &QPushButton::clicked, this, &Frm_Factory::Cmd_temp_Click);
    connect(txt_set_temp, &QLineEdit::returnPressed, this, &Frm_Factory::Cmd_temp_Click);
    resize(520, 220);
}

void Frm_Factory::Form_Load() {
    SensorCalibrationBlock& sensor = ctx_.link.sensor;
    if (!sensor.calibrated) {
        sensor.offset = kDefaultSensorOffset;
        sensor.slope = kDefaultSensorSlope;
    }
    txt_mensaje->setText(ToQ(SensorCalibrationStatusText(sensor)));
    txt_set_temp->setText(ToQ(FormatOneDecimal(kDefaultReferenceCelsius)));
    txt_current_temp->clear();
    Timer_temp->start();
}

void Frm_Factory::Form_Activate() {
    lblserial->setText(ToQ(SerialNumberCaption(ctx_.link.SerialNumber)));
}

void Frm_Factory::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Form_Activate();
}

void Frm_Factory::Timer_temp_Timer() {
    txt_current_temp->setText(ToQ(ReadSensorTemperatureText(ctx_.link)));
}

void Frm_Factory::Cmd_temp_Click() {
    // The live reading waits: the calibration's own exchanges use the port.
    const bool reading = Timer_temp->isActive();
    Timer_temp->stop();
    Cmd_temp->setEnabled(false);
    last_ = CalibrateTemperatureSensor(ctx_.link, FromQ(txt_set_temp->text()));
    if (last_.outcome != SensorCalibrationOutcome::InvalidReference)
        txt_mensaje->setText(ToQ(last_.status));
    // The reading follows the calibration now, not at the next tick.
    if (last_.registers_written > 0) Timer_temp_Timer();
    Cmd_temp->setEnabled(true);
    if (reading) Timer_temp->start();
}

void Frm_Factory::closeEvent(QCloseEvent* event) {
    Timer_temp->stop();
    event->accept();
    if (Unloaded) Unloaded();
}

}  // namespace lumivo::app
