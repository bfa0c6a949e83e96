// The tool panels of the main window, each a widget of its own so that the calibration, light
// and temperature handlers can be attached to them without touching the rest of the window:
// the calibration panel `frm_mn1`, the light panel `Frame_light` and the temperature panel
// `Frame_temp`. Each shows the plain state the control module keeps (CalibrationControls,
// ClimateState). Their buttons stay disabled until their handlers are attached.
#pragma once

#include <QCheckBox>
#include <QColor>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include "core/control/control_settings.h"
#include "core/control/light_temperature.h"

namespace lumivo::app {

// A round indicator lamp (`shape_light`, `shape_temp`).
class Lamp : public QWidget {
    Q_OBJECT
  public:
    explicit Lamp(QWidget* parent = nullptr);
    void SetColour(const QColor& colour);
    QColor colour() const { return colour_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor colour_{Qt::white};
};

class CalibrationPanel : public QGroupBox {
    Q_OBJECT
  public:
    explicit CalibrationPanel(QWidget* parent = nullptr);
    void Show(const CalibrationControls& c);
    // Enables the buttons once their handlers are attached.
    void SetInteractive(bool interactive);

    QCheckBox* mnCalibra;
    QCheckBox* mnZero;
    QPushButton* cmd_calibra;
    QPushButton* Cmd_autozero;
    QPushButton* Cmd_readblank;
    QLabel* lbl_umbral;
    QLineEdit* txt_snr_umbral;

  private:
    bool interactive_ = false;
};

class LightPanel : public QGroupBox {
    Q_OBJECT
  public:
    explicit LightPanel(QWidget* parent = nullptr);
    void Show(const ClimateState& climate);
    void SetInteractive(bool interactive);

    QPushButton* cmd_luz;
    Lamp* shape_light;
    QCheckBox* Chk_lenabled;
    QLineEdit* txt_lon;
    QLineEdit* txt_loff;
    QPushButton* cmd_cyclepulse;
    QFrame* frm_pulse;
    QLineEdit* txt_pulseon;
    QLineEdit* txt_pulseoff;
    QLineEdit* txt_pulsetimes;
};

class TemperaturePanel : public QGroupBox {
    Q_OBJECT
  public:
    explicit TemperaturePanel(QWidget* parent = nullptr);
    void Show(const ClimateState& climate);
    void SetInteractive(bool interactive);

    QPushButton* cmd_ontemp;
    QPushButton* cmd_frio;
    Lamp* shape_temp;
    QCheckBox* Chk_tenabled;
    QLineEdit* txttemp;
    QPushButton* Cmd_settemp;
};

QColor ToQColor(const Rgb& rgb);

}  // namespace lumivo::app
