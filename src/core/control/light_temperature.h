// The visible light over the plate and the heating/cooling element: the three output flags and
// the 3-bit code that carries them to the instrument, the buttons that toggle them, the daily
// light cycle, the light pulse series and the thermostat the sampling loop applies.
#pragma once

#include <cstdint>
#include <string>

#include "core/device/command_set.h"

namespace lumivo {

struct OutputFlags {
    bool light_on = false;    // cmd_luz
    bool heat_mode = false;   // cmd_frio: heating (true) or cooling (false)
    bool control_on = false;  // cmd_ontemp: the element works
    friend bool operator==(const OutputFlags&, const OutputFlags&) = default;
};

// light 4 + heat 2 + control 1.
int OutputCode(const OutputFlags& f);
OutputFlags OutputFlagsFromCode(int code);

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};
inline constexpr Rgb kLampRed{255, 0, 0};
inline constexpr Rgb kLampGreen{0, 255, 0};
inline constexpr Rgb kLampBlue{0, 0, 255};
inline constexpr Rgb kLampWhite{255, 255, 255};

// What the light and temperature panels show for an output code.
struct OutputDisplay {
    std::string luz_caption;     // cmd_luz: "ON" / "OFF"
    Rgb light_lamp;              // shape_light: green when on, red when off
    std::string frio_caption;    // cmd_frio: "HEAT" / "COOL"
    std::string ontemp_caption;  // cmd_ontemp: "ON" / "OFF"
    Rgb temp_lamp;               // shape_temp: red heating, blue cooling, white when off
};
OutputDisplay DisplayForCode(int code);

// The light and temperature state of the main window, with the tool settings of the project
// that belong to it.
struct ClimateState {
    OutputFlags outputs;
    bool light_cycle_enabled = false;          // Chk_lenabled
    bool temperature_control_enabled = false;  // Chk_tenabled
    bool update_pending = false;  // a button changed the flags while an acquisition runs

    double TemperatureSetPoint = 20.0;  // degrees
    double CurrentTemperature = 0.0;    // the last valid reading, degrees
    bool temperature_known = false;     // CurrentTemperature holds a reading

    std::int16_t light_on_hour = 9;         // txt_lon
    std::int16_t light_off_hour = 21;       // txt_loff
    std::int16_t temperature_tenths = 200;  // txttemp, degrees x 10
    std::int16_t pulse_on_tenths = 0;       // txt_pulseon, minutes x 10
    std::int16_t pulse_off_tenths = 0;      // txt_pulseoff, minutes x 10
    std::int16_t pulse_count = 0;           // txt_pulsetimes
    bool light_frame_shown = false;         // Frame_light
    bool temperature_frame_shown = false;   // Frame_temp
};

// Sends the flags to the instrument (SetOutputs; no reply is read). Returns the code sent.
int ApplyOutputs(DeviceLink& link, const ClimateState& climate);

// The buttons. Each toggles its flag and returns true when the state must be applied now;
// while an acquisition runs the change is left to the sampling loop (update pending).
bool ToggleLight(ClimateState& climate, bool acquisition_running);               // cmd_luz
bool ToggleHeatMode(ClimateState& climate, bool acquisition_running);            // cmd_frio
bool ToggleTemperatureControl(ClimateState& climate, bool acquisition_running);  // cmd_ontemp

// The thermostat, with T the plate temperature and S the set-point: active only while
// temperature control is enabled and 10 < T < 38. Within S +- 0.5 the element switches off
// (the mode stays); at S + 0.5 and above it cools, switched on from S + 0.6; at S - 0.5 and
// below it heats, switched on from S - 0.6. Outside the active range both switch off.
OutputFlags Thermostat(OutputFlags current, bool control_enabled, double t, double s);

// The light at the start of an acquisition for a cycle on..off (hours 0..23) at hour h: on
// exactly when on <= h < off, or, for a cycle that wraps past midnight (off < on), on unless
// off <= h < on; off when on equals off.
bool LightOnAtStart(int on_hour, int off_hour, int hour);

// The light cycle at the end of a statistics period: switched on at the on hour, off at the
// off hour, unchanged at other hours.
bool LightCycleStep(int on_hour, int off_hour, int hour, bool light_on);

// The pulse series: n pulses of `on` minutes of light followed by `off` minutes of dark,
// from the start of the acquisition; t in minutes since the start.
struct PulsePhase {
    bool series_over = false;  // the light keeps its state
    bool light_on = false;     // only meaningful while the series runs
};
PulsePhase PulseAt(double t_minutes, double on_minutes, double off_minutes, int count);

// ---- Steps run by the acquisition ----

// The initial light of an acquisition: only when the light cycle is enabled and no pulse
// series is programmed, the light follows LightOnAtStart and the state is applied. Returns
// true when it applied the state.
bool StartLightSchedule(DeviceLink& link, ClimateState& climate, int hour);

// Every tick while a pulse series is programmed and the light cycle is enabled: sets the light
// from PulseAt and applies the state. Returns true when it applied the state.
bool PulseStep(DeviceLink& link, ClimateState& climate, double elapsed_minutes);

// Every tick: applies the state when a button left an update pending.
bool PendingUpdateStep(DeviceLink& link, ClimateState& climate);

// Asks the instrument for the plate temperature. A reply sets CurrentTemperature (sensor byte x
// slope + offset); a query without answer keeps the last valid temperature. Returns the sensor
// byte, -1 when nothing came.
int ReadPlateTemperature(DeviceLink& link, ClimateState& climate);

struct ClimateStepResult {
    int raw = kNoReply;            // the sensor byte, -1 when nothing came
    bool reading_missing = false;  // the temperature query got no answer
    double temperature = 0.0;      // CurrentTemperature afterwards
    int code = 0;                  // the output code sent
};

// At the end of every statistics period: reads the temperature, applies the thermostat and the
// light cycle, and sends the state (changed or not). A query without answer keeps the last
// valid temperature and switches the element off until a reading comes again.
ClimateStepResult ClimateStep(DeviceLink& link, ClimateState& climate, int hour);

// Switches light and element off and sends the state (the end of an acquisition).
void SwitchOutputsOff(DeviceLink& link, ClimateState& climate);

// "Only available in some hardware versions", shown when a panel is opened from its menu.
inline constexpr const char* kHardwareVersionNotice = "Only available in some hardware versions";

}  // namespace lumivo
