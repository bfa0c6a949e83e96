// The temperature-sensor window `Frm_Factory` ("Temperature Sensing Calibration"): the live
// temperature every second (`Timer_temp`), the instrument's serial number (`lblserial`), the
// sensor's calibration status (`txt_mensaje`) and the one-point calibration `Cmd_temp` ("SET")
// to the true temperature typed in `txt_set_temp`. The work is the core's
// (core/control/sensor_calibration.h); the window shows and asks.
//
// It opens in place of the main window (see FactoryMenu) and gives it back when it closes.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "app/support/app_context.h"
#include "core/control/sensor_calibration.h"

namespace lumivo::app {

class Frm_Factory : public QWidget {
    Q_OBJECT
  public:
    explicit Frm_Factory(AppContext& ctx, QWidget* parent = nullptr);

    // The status text and the default true temperature (25.0); the live reading starts.
    void Form_Load();
    // lblserial from the connected instrument.
    void Form_Activate();
    void Timer_temp_Timer();
    void Cmd_temp_Click();

    const SensorCalibrationResult& last_result() const { return last_; }

    // Runs when the window closes (the main window comes back).
    std::function<void()> Unloaded;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    AppContext& ctx_;
    SensorCalibrationResult last_;
    QGroupBox* Frame1;
    QLineEdit* txt_current_temp;
    QLineEdit* txt_set_temp;
    QPushButton* Cmd_temp;
    QLineEdit* txt_mensaje;
    QLabel* lblserial;
    QPushButton* cmdclose;  // back to the main window
    QTimer* Timer_temp;
};

}  // namespace lumivo::app
