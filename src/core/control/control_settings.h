// The calibration, light and temperature controls of the main window as plain state: which
// check boxes are ticked and enabled, which buttons show, and how all of it travels with the
// project's tool settings (ToolMenu and ToolParams of setup.dat):
//   ToolParams row 1: Organism, Enab_Cal, Enab_Zero, SNRx10
//   ToolParams row 2: light Enable, Time_ON, Time_OFF, pulse on x10, pulse off x10, pulse count
//   ToolParams row 3: temperature Enable, Tempx10
//   ToolMenu 2 and 3: the light and temperature panels shown (1) or hidden (0)
#pragma once

#include <string>
#include <string_view>

#include "core/control/control_fields.h"
#include "core/control/light_temperature.h"
#include "core/storage/project_setup.h"

namespace lumivo {

// ToolParams places.
inline constexpr int kToolRowCalibration = 1;
inline constexpr int kToolRowLight = 2;
inline constexpr int kToolRowTemperature = 3;
inline constexpr int kColEnabCal = 1;
inline constexpr int kColEnabZero = 2;
inline constexpr int kColSnrX10 = 3;
inline constexpr int kColEnable = 0;
inline constexpr int kColTimeOn = 1;
inline constexpr int kColTimeOff = 2;
inline constexpr int kColPulseOn = 3;
inline constexpr int kColPulseOff = 4;
inline constexpr int kColPulseCount = 5;
inline constexpr int kColTempX10 = 1;
inline constexpr int kToolMenuLight = 2;
inline constexpr int kToolMenuTemperature = 3;

// The calibration commands of the main window as the calibration settings leave them; the
// window maps each to its own control (docs/architecture.md lists them).
struct CalibrationControls {
    // The automatic calibration and zero at the start (mnCalibra "Auto   Calibration" and
    // mnZero "Auto   Zero"): ticked, and whether they may be changed.
    bool auto_calibrate_ticked = false;
    bool auto_zero_ticked = false;
    bool auto_calibrate_choosable = true;
    bool auto_zero_choosable = true;
    // The one-off commands: "Fast CALIB" (cmd_calibra), "Fast ZERO" (Cmd_autozero), "Read
    // Blank" (Cmd_readblank); then the calibration menu's two entries (mncal_on: the manual
    // tools; mncal_off: automatic calibration).
    bool fast_calibration_shown = true;
    bool fast_zero_shown = true;
    bool read_blank_shown = false;
    bool manual_tools_chosen = false;
    bool automatic_calibration_chosen = false;

    bool AutoCalibrateOnStart = false;
    bool AutoZeroOnStart = false;

    // The SNR factor: its box (txt_snr_umbral) and the caption of the label that shows or hides
    // it (lbl_umbral).
    std::string snr_text = "1.8";
    bool snr_box_shown = false;
    std::string snr_toggle_caption = ">>>>";
    double SnrThreshold = 1.8;
};

// mnCalibra / mnZero ticked or unticked: the flag follows, the Fast button hides while the flag
// is set, and the tick is kept in the project's tool settings.
void SetAutoCalibrate(CalibrationControls& c, ProjectState& project, bool ticked);
void SetAutoZero(CalibrationControls& c, ProjectState& project, bool ticked);
// mncal_on: the manual calibration controls.
void CalibrationMenuOn(CalibrationControls& c);
// mncal_off: automatic calibration and auto-zero on, manual controls hidden.
void CalibrationMenuOff(CalibrationControls& c, ProjectState& project);
// When the main window loads: the check boxes and the SNR text from the project, then
// mncal_off, so every start of the program calibrates and zeroes automatically.
void LoadCalibrationControls(CalibrationControls& c, ProjectState& project);
// lbl_umbral_Click.
void ToggleSnrBox(CalibrationControls& c);
// txt_snr_umbral_LostFocus: checks the text, keeps the result in the project and the box.
// The caller shows check.message when it is not empty.
FieldCheck SnrLostFocus(CalibrationControls& c, ProjectState& project, std::string_view text);

// The light and temperature settings from the project (values out of range take their
// defaults) and back.
void LoadClimateSettings(const ProjectState& project, ClimateState& climate);
void StoreClimateSettings(const ClimateState& climate, ProjectState& project);

// The texts of the light and temperature boxes for the current settings.
struct ClimateTexts {
    std::string lon, loff, temp, pulse_on, pulse_off, pulse_times;
};
ClimateTexts TextsFor(const ClimateState& climate);

// Which text box lost the focus.
enum class ClimateField { LightOnHour, LightOffHour, Temperature, PulseOn, PulseOff, PulseCount };
// Checks the text, keeps the value in the state and the project, and returns the check (the
// caller shows check.message when it is not empty and puts check.text in the box).
FieldCheck ClimateFieldLostFocus(ClimateState& climate, ProjectState& project, ClimateField field,
                                 std::string_view text);
// txt_lon and txt_loff are disabled while a pulse series is programmed.
inline bool LightHoursEnabled(const ClimateState& climate) {
    return climate.pulse_count <= 0;
}

// Chk_lenabled / Chk_tenabled.
void SetLightCycleEnabled(ClimateState& climate, ProjectState& project, bool ticked);
void SetTemperatureControlEnabled(ClimateState& climate, ProjectState& project, bool ticked);
// Cmd_settemp "Set": the set-point from the text of txttemp; false (nothing changed) when the
// text is not a number.
bool SetTemperatureSetPoint(ClimateState& climate, std::string_view text);

// lght_ctl / temp_ctl: opening a panel first shows kHardwareVersionNotice. The panel flag is
// kept in ToolMenu. Returns whether the panel is shown afterwards.
bool ToggleLightPanel(ClimateState& climate, ProjectState& project, Dialogs& dialogs);
bool ToggleTemperaturePanel(ClimateState& climate, ProjectState& project, Dialogs& dialogs);

}  // namespace lumivo
