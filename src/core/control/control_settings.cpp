#include "core/control/control_settings.h"

#include <cstdio>

#include "core/control/auto_zero.h"

namespace lumivo {
namespace {

std::int16_t& Param(ProjectState& p, int row, int col) {
    return p.ToolParams[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}
std::int16_t Param(const ProjectState& p, int row, int col) {
    return p.ToolParams[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}
std::int16_t& Menu(ProjectState& p, int k) {
    return p.ToolMenu[static_cast<std::size_t>(k)];
}
std::int16_t Menu(const ProjectState& p, int k) {
    return p.ToolMenu[static_cast<std::size_t>(k)];
}

std::int16_t Flag(bool b) {
    return b ? 1 : 0;
}

std::int16_t InRange(std::int16_t v, int lo, int hi, std::int16_t fallback) {
    return v >= lo && v <= hi ? v : fallback;
}

std::string TwoDigits(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

bool TogglePanel(bool& shown, std::int16_t& menu_flag, Dialogs& dialogs) {
    if (!shown) {
        dialogs.MessageBox(kHardwareVersionNotice, MsgButtons::Ok);
        shown = true;
    } else {
        shown = false;
    }
    menu_flag = Flag(shown);
    return shown;
}

}  // namespace

void SetAutoCalibrate(CalibrationControls& c, ProjectState& project, bool ticked) {
    c.auto_calibrate_ticked = ticked;
    c.AutoCalibrateOnStart = ticked;
    c.fast_calibration_shown = !ticked;
    Param(project, kToolRowCalibration, kColEnabCal) = Flag(ticked);
}

void SetAutoZero(CalibrationControls& c, ProjectState& project, bool ticked) {
    c.auto_zero_ticked = ticked;
    c.AutoZeroOnStart = ticked;
    c.fast_zero_shown = !ticked;
    Param(project, kToolRowCalibration, kColEnabZero) = Flag(ticked);
}

void CalibrationMenuOn(CalibrationControls& c) {
    c.read_blank_shown = true;
    c.auto_calibrate_choosable = true;
    c.auto_zero_choosable = true;
    c.manual_tools_chosen = true;
    c.automatic_calibration_chosen = false;
}

void CalibrationMenuOff(CalibrationControls& c, ProjectState& project) {
    c.read_blank_shown = false;
    SetAutoCalibrate(c, project, true);
    SetAutoZero(c, project, true);
    c.auto_calibrate_choosable = false;
    c.auto_zero_choosable = false;
    c.automatic_calibration_chosen = true;
    c.manual_tools_chosen = false;
}

void LoadCalibrationControls(CalibrationControls& c, ProjectState& project) {
    SetAutoCalibrate(c, project, Param(project, kToolRowCalibration, kColEnabCal) != 0);
    SetAutoZero(c, project, Param(project, kToolRowCalibration, kColEnabZero) != 0);
    c.snr_text = SnrTextFromField(Param(project, kToolRowCalibration, kColSnrX10));
    c.SnrThreshold = SnrFromText(c.snr_text, 1.4);
    c.snr_box_shown = false;
    c.snr_toggle_caption = kSnrLabelClosed;
    CalibrationMenuOff(c, project);
}

void ToggleSnrBox(CalibrationControls& c) {
    c.snr_box_shown = !c.snr_box_shown;
    c.snr_toggle_caption = c.snr_box_shown ? kSnrLabelOpen : kSnrLabelClosed;
}

FieldCheck SnrLostFocus(CalibrationControls& c, ProjectState& project, std::string_view text) {
    FieldCheck check = CheckSnrText(text);
    Param(project, kToolRowCalibration, kColSnrX10) = check.stored;
    c.snr_text = check.text;
    return check;
}

void LoadClimateSettings(const ProjectState& project, ClimateState& climate) {
    climate.light_cycle_enabled = Param(project, kToolRowLight, kColEnable) != 0;
    climate.light_on_hour =
        InRange(Param(project, kToolRowLight, kColTimeOn), 0, 23, kDefaultLightOnHour);
    climate.light_off_hour =
        InRange(Param(project, kToolRowLight, kColTimeOff), 0, 23, kDefaultLightOffHour);
    climate.pulse_on_tenths = InRange(Param(project, kToolRowLight, kColPulseOn), 0, 14400, 0);
    climate.pulse_off_tenths = InRange(Param(project, kToolRowLight, kColPulseOff), 0, 14400, 0);
    climate.pulse_count = InRange(Param(project, kToolRowLight, kColPulseCount), 0, 99, 0);
    climate.temperature_control_enabled = Param(project, kToolRowTemperature, kColEnable) != 0;
    climate.temperature_tenths = InRange(Param(project, kToolRowTemperature, kColTempX10), 50, 500,
                                         kDefaultTemperatureTenths);
    climate.TemperatureSetPoint = climate.temperature_tenths / 10.0;
    climate.light_frame_shown = Menu(project, kToolMenuLight) != 0;
    climate.temperature_frame_shown = Menu(project, kToolMenuTemperature) != 0;
}

void StoreClimateSettings(const ClimateState& climate, ProjectState& project) {
    Param(project, kToolRowLight, kColEnable) = Flag(climate.light_cycle_enabled);
    Param(project, kToolRowLight, kColTimeOn) = climate.light_on_hour;
    Param(project, kToolRowLight, kColTimeOff) = climate.light_off_hour;
    Param(project, kToolRowLight, kColPulseOn) = climate.pulse_on_tenths;
    Param(project, kToolRowLight, kColPulseOff) = climate.pulse_off_tenths;
    Param(project, kToolRowLight, kColPulseCount) = climate.pulse_count;
    Param(project, kToolRowTemperature, kColEnable) = Flag(climate.temperature_control_enabled);
    Param(project, kToolRowTemperature, kColTempX10) = climate.temperature_tenths;
    Menu(project, kToolMenuLight) = Flag(climate.light_frame_shown);
    Menu(project, kToolMenuTemperature) = Flag(climate.temperature_frame_shown);
}

ClimateTexts TextsFor(const ClimateState& climate) {
    ClimateTexts t;
    t.lon = TwoDigits(climate.light_on_hour);
    t.loff = TwoDigits(climate.light_off_hour);
    t.temp = FormatOneDecimal(climate.temperature_tenths / 10.0);
    t.pulse_on = FormatOneDecimal(climate.pulse_on_tenths / 10.0);
    t.pulse_off = FormatOneDecimal(climate.pulse_off_tenths / 10.0);
    t.pulse_times = std::to_string(climate.pulse_count);
    return t;
}

FieldCheck ClimateFieldLostFocus(ClimateState& climate, ProjectState& project, ClimateField field,
                                 std::string_view text) {
    FieldCheck check;
    switch (field) {
        case ClimateField::LightOnHour:
            check = CheckHourText(text, kDefaultLightOnHour);
            climate.light_on_hour = check.stored;
            break;
        case ClimateField::LightOffHour:
            check = CheckHourText(text, kDefaultLightOffHour);
            climate.light_off_hour = check.stored;
            break;
        case ClimateField::Temperature:
            check = CheckTemperatureText(text);
            climate.temperature_tenths = check.stored;
            break;
        case ClimateField::PulseOn:
            check = CheckPulseTimeText(text);
            climate.pulse_on_tenths = check.stored;
            break;
        case ClimateField::PulseOff:
            check = CheckPulseTimeText(text);
            climate.pulse_off_tenths = check.stored;
            break;
        case ClimateField::PulseCount:
            check = CheckPulseCountText(text);
            climate.pulse_count = check.stored;
            break;
    }
    StoreClimateSettings(climate, project);
    return check;
}

void SetLightCycleEnabled(ClimateState& climate, ProjectState& project, bool ticked) {
    climate.light_cycle_enabled = ticked;
    Param(project, kToolRowLight, kColEnable) = Flag(ticked);
}

void SetTemperatureControlEnabled(ClimateState& climate, ProjectState& project, bool ticked) {
    climate.temperature_control_enabled = ticked;
    Param(project, kToolRowTemperature, kColEnable) = Flag(ticked);
}

bool SetTemperatureSetPoint(ClimateState& climate, std::string_view text) {
    const auto v = ParseNumericText(text);
    if (!v) return false;
    climate.TemperatureSetPoint = *v;
    return true;
}

bool ToggleLightPanel(ClimateState& climate, ProjectState& project, Dialogs& dialogs) {
    return TogglePanel(climate.light_frame_shown, Menu(project, kToolMenuLight), dialogs);
}

bool ToggleTemperaturePanel(ClimateState& climate, ProjectState& project, Dialogs& dialogs) {
    return TogglePanel(climate.temperature_frame_shown, Menu(project, kToolMenuTemperature),
                       dialogs);
}

}  // namespace lumivo
