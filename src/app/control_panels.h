// The handlers of the main window's calibration, light and temperature controls: the
// calibration panel frm_mn1 with its menus, the light panel Frame_light, the temperature panel
// Frame_temp and the automatic-action strip (frm_autotext, picturecal). Each handler is thin:
// the work is done by the control module (src/core/control); this class shows its state.
//
// Created by Frm_Main (as its child) once its controls exist.
#pragma once

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>

#include "core/acquisition/acquisition_engine.h"
#include "core/control/auto_zero.h"
#include "core/control/channel_calibration.h"
#include "core/control/control_settings.h"
#include "core/control/light_temperature.h"

class QLineEdit;
class QPushButton;
class QWidget;

namespace lumivo::app {

class Frm_Main;

class ControlPanels : public QObject {
    Q_OBJECT
  public:
    explicit ControlPanels(Frm_Main& main);

    // ---- Hooks to the acquisition, replaced by the sampling loop when it is attached ----

    // Whether an acquisition runs (default: from Frm_Main::IsAcquiring).
    std::function<RunState()> AcquisitionState;
    // The stop-acquisition command (default: nothing to stop).
    std::function<void()> StopAcquisition;
    // Moves the sampling loop back to row 0 before calibration reads into it.
    std::function<void()> ResetSampleRow;
    // Row 0 of the sampling table, where calibration puts its readings (default: a row of
    // this class).
    std::function<std::span<std::uint16_t>()> CalibrationRow;
    // Starts a blank of that many ticks on the acquisition's sampling timer; false when it was
    // refused (default: refused, there is no sampling timer).
    std::function<bool(int)> ReadBlank;
    // A blank is running (default: none).
    std::function<bool()> BlankActive;
    // Number of ticks a blank lasts (default: the project's Cal_value).
    std::function<int()> BlankSampleCount;

    // ---- Program-wide tables kept here ----

    CalibrationValues calibration;  // PinHole and Gain of every channel

    // ---- Handlers ----

    void mnCalibra_Click();
    void mnZero_Click();
    void mncal_on_Click();
    void mncal_off_Click();
    // "Fast CALIB" / "Fast ZERO". Without an acquisition the run is stand-alone: it goes to its
    // end, and pressing the button again (captioned "STOP" meanwhile) ends it early.
    void cmd_calibra_Click();
    void Cmd_autozero_Click();
    void Cmd_readblank_Click();
    void lbl_umbral_Click();
    void txt_snr_umbral_LostFocus();

    void cmd_luz_Click();
    void cmd_frio_Click();
    void cmd_ontemp_Click();
    void Cmd_settemp_Click();
    void Chk_lenabled_Click();
    void Chk_tenabled_Click();
    void cmd_cyclepulse_Click();
    void lght_ctl_Click();
    void temp_ctl_Click();
    // The LostFocus handler of txt_lon, txt_loff, txttemp, txt_pulseon, txt_pulseoff,
    // txt_pulsetimes.
    void ClimateBox_LostFocus(ClimateField field);

    // Sends the output state and shows it on the buttons and lamps.
    void ApplyOutputs();

    // ---- Called by the acquisition ----

    // The calibration and auto-zero at the start of a recorded acquisition: the strip shown
    // with "<AUTOCALIBRATION>", picturecal light yellow, SnrThreshold from the box (below 1.3
    // becomes 1.8); the run stops with the acquisition.
    CalibrationResult RunStartCalibration();
    AutoZeroResult RunStartAutoZero();

    // A calibration, auto-zero or blank is running.
    bool busy() const { return running_ || (BlankActive && BlankActive()); }
    const CalibrationResult& last_calibration() const { return last_calibration_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The threshold label whose clicks this object filters. Held as a guarded pointer so that
    // events arriving while the main window is being torn down never reach into it.
    QPointer<QLabel> umbral_label_;
    class StripView;

    RunControl MakeRunControl(bool within_acquisition);
    bool Offline() const;
    void ShowCalibrationControls();
    void ShowClimate();
    void SetBoxText(QLineEdit* box, const std::string& text);
    // Runs `body` as a stand-alone or acquisition-bound run: the other commands are disabled
    // meanwhile and `button` (captioned "STOP") ends a stand-alone run early.
    template <typename Body>
    void RunFromButton(QPushButton* button, Body body);
    // A result for the log panel.
    void Log(const std::string& text);

    Frm_Main& main_;
    bool running_ = false;
    bool cancel_requested_ = false;
    std::array<std::uint16_t, kChannelTableSize> own_row_{};
    CalibrationResult last_calibration_;
};

}  // namespace lumivo::app
