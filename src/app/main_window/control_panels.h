// The main window's calibration, light and temperature controls with their handlers: the
// calibration panel frm_mn1 with its menu entries, the light panel Frame_light, the
// temperature panel Frame_temp and the Tools menu's panel switches. Each handler is thin: the
// work is done by the control module (src/core/control); this class shows its state (the
// program's ToolState) and its progress on the automatic-action strip.
//
// Created by Frm_Main (as its child) with everything it works with; it reaches the main window
// through its log (LogPanel) and its command lock (CommandLock), and the sampling through
// SamplingControl.
#pragma once

#include <QLabel>
#include <QObject>
#include <array>
#include <cstdint>
#include <string>

#include "app/panels/auto_action_frame.h"
#include "app/panels/tool_panels.h"
#include "app/support/app_context.h"
#include "app/support/window_roles.h"
#include "core/acquisition/acquisition_engine.h"
#include "core/control/auto_zero.h"
#include "core/control/channel_calibration.h"
#include "core/control/tool_state.h"

class QAction;
class QBoxLayout;
class QLineEdit;
class QMenu;
class QPushButton;

namespace lumivo::app {

inline constexpr const char* kFastCalibEntry = "Fast CALIB: calibrate every beam now";
inline constexpr const char* kFastZeroEntry = "Fast ZERO: set every zero level now";

// What the control panels ask of the sampling (the acquisition window implements it): a
// calibration within a run stops with the run, and the blank samples on its timer.
class SamplingControl {
  public:
    virtual ~SamplingControl() = default;
    virtual RunState AcquisitionState() const = 0;
    virtual void StopAcquisition(const std::string& reason) = 0;
    // Moves the sampling loop back to row 0 before calibration reads into it.
    virtual void ResetSampleRow() = 0;
    // Starts a blank of that many ticks on the sampling timer; false when it was refused.
    virtual bool ReadBlank(int sample_count) = 0;
    virtual bool BlankActive() const = 0;
};

class ControlPanels : public QObject {
    Q_OBJECT
  public:
    // The panels are made as children of `panel_parent`; PlaceIn() puts them into its layout.
    ControlPanels(QObject* parent, AppContext& ctx, LogPanel& log, CommandLock& lock,
                  AutoActionStrip& strip, SamplingControl& sampling, QWidget* panel_parent);

    // frm_mn1, Frame_light and Frame_temp added to `column`, in that order.
    void PlaceIn(QBoxLayout* column);
    // The calibration menu's two entries and the Tools menu's panel switches.
    void AddMenuEntries(QMenu* calibration, QMenu* tools);

    // ---- What the main window's load and the setup window ask ----

    // Which tool panels are shown.
    void ShowPanels(bool calibration, bool light, bool temperature);
    // The tool settings of the project into the tool state and the panels.
    void LoadSettings(ProjectState& project);
    // The device buttons back to "COOL", "OFF", "OFF".
    void ResetDeviceButtons();
    // The light and temperature panels from the tool state.
    void ShowClimate();
    // `txt_snr_umbral` follows the acquisition's lock.
    void SetSnrBoxEnabled(bool enabled);

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
    void lght_ctl_Click();
    void temp_ctl_Click();
    // The LostFocus handler of txt_lon, txt_loff, txttemp, txt_pulseon, txt_pulseoff,
    // txt_pulsetimes.
    void ClimateBox_LostFocus(ClimateField field);

    // Sends the output state and shows it on the buttons and lamps.
    void ApplyOutputs();

    // The panel's controls and the Calibration menu's entries for the connection and run as
    // they are now (the entries wait for an instrument).
    void ShowCalibrationControls();

    // A calibration, auto-zero or blank is running.
    bool busy() const { return running_ || sampling_.BlankActive(); }
    const CalibrationResult& last_calibration() const { return last_calibration_; }

  private:
    class StripView;

    RunControl MakeRunControl(bool within_acquisition);
    bool Offline() const;
    ToolState& tools() { return ctx_.tools; }
    // Runs `body` as a stand-alone or acquisition-bound run: the other commands are disabled
    // meanwhile and the run's button (captioned "STOP") ends a stand-alone run early.
    template <typename Body>
    void RunFromButton(PanelRun run, Body body);
    // A result for the log panel.
    void Log(const std::string& text);

    AppContext& ctx_;
    LogPanel& log_;
    CommandLock& lock_;
    AutoActionStrip& strip_;
    SamplingControl& sampling_;
    CalibrationPanel* frm_mn1;
    LightPanel* Frame_light;
    TemperaturePanel* Frame_temp;
    QAction* mncal_on = nullptr;
    QAction* mncal_off = nullptr;
    // Calibration > Fast CALIB / Fast ZERO: the panel's buttons, which it hides while the
    // automatic calibration or zero is ticked, always at hand; a second choice stops them.
    QAction* mn_fastcalib = nullptr;
    QAction* mn_fastzero = nullptr;
    QAction* lght_ctl = nullptr;
    QAction* temp_ctl = nullptr;
    bool running_ = false;
    bool cancel_requested_ = false;
    // Row 0 of the sampling table, where calibration puts its readings.
    std::array<std::uint16_t, kChannelTableSize> own_row_{};
    CalibrationResult last_calibration_;
};

}  // namespace lumivo::app
