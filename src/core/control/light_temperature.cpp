#include "core/control/light_temperature.h"

#include <cmath>

namespace lumivo {
namespace {

constexpr double kActiveLow = 10.0;   // the thermostat works only above this ...
constexpr double kActiveHigh = 38.0;  // ... and below this
constexpr double kDeadBand = 0.5;
constexpr double kSwitchOn = 0.6;

}  // namespace

int OutputCode(const OutputFlags& f) {
    return (f.light_on ? kOutputLight : 0) | (f.heat_mode ? kOutputHeat : 0) |
           (f.control_on ? kOutputTemperatureControl : 0);
}

OutputFlags OutputFlagsFromCode(int code) {
    return {(code & kOutputLight) != 0, (code & kOutputHeat) != 0,
            (code & kOutputTemperatureControl) != 0};
}

OutputDisplay DisplayForCode(int code) {
    const OutputFlags f = OutputFlagsFromCode(code);
    OutputDisplay d;
    d.luz_caption = f.light_on ? "ON" : "OFF";
    d.light_lamp = f.light_on ? kLampGreen : kLampRed;
    d.frio_caption = f.heat_mode ? "HEAT" : "COOL";
    d.ontemp_caption = f.control_on ? "ON" : "OFF";
    d.temp_lamp = !f.control_on ? kLampWhite : (f.heat_mode ? kLampRed : kLampBlue);
    return d;
}

int ApplyOutputs(DeviceLink& link, const ClimateState& climate) {
    const int code = OutputCode(climate.outputs);
    SetOutputs(link, code);
    return code;
}

namespace {

bool AfterToggle(ClimateState& climate, bool acquisition_running) {
    if (acquisition_running) {
        climate.update_pending = true;
        return false;
    }
    return true;
}

}  // namespace

bool ToggleLight(ClimateState& climate, bool acquisition_running) {
    climate.outputs.light_on = !climate.outputs.light_on;
    return AfterToggle(climate, acquisition_running);
}

bool ToggleHeatMode(ClimateState& climate, bool acquisition_running) {
    climate.outputs.heat_mode = !climate.outputs.heat_mode;
    climate.outputs.control_on = false;
    return AfterToggle(climate, acquisition_running);
}

bool ToggleTemperatureControl(ClimateState& climate, bool acquisition_running) {
    climate.outputs.control_on = !climate.outputs.control_on;
    return AfterToggle(climate, acquisition_running);
}

OutputFlags Thermostat(OutputFlags current, bool control_enabled, double t, double s) {
    OutputFlags out = current;
    if (!control_enabled || !(t > kActiveLow) || !(t < kActiveHigh)) {
        out.heat_mode = false;
        out.control_on = false;
        return out;
    }
    if (t > s - kDeadBand && t < s + kDeadBand) {
        out.control_on = false;
    } else if (t >= s + kDeadBand) {
        out.heat_mode = false;
        out.control_on = t >= s + kSwitchOn;
    } else {
        out.heat_mode = true;
        out.control_on = t <= s - kSwitchOn;
    }
    return out;
}

bool LightOnAtStart(int on_hour, int off_hour, int hour) {
    if (off_hour > on_hour) return on_hour <= hour && hour < off_hour;
    if (off_hour < on_hour) return !(off_hour <= hour && hour < on_hour);
    return false;
}

bool LightCycleStep(int on_hour, int off_hour, int hour, bool light_on) {
    if (hour == on_hour) return true;
    if (hour == off_hour) return false;
    return light_on;
}

PulsePhase PulseAt(double t_minutes, double on_minutes, double off_minutes, int count) {
    const double period = on_minutes + off_minutes;
    PulsePhase p;
    if (count <= 0 || !(period > 0.0) || t_minutes >= count * period) {
        p.series_over = true;
        return p;
    }
    const double k = std::floor(t_minutes / period);
    const double phase = t_minutes - k * period;
    p.light_on = phase < on_minutes;
    return p;
}

bool StartLightSchedule(DeviceLink& link, ClimateState& climate, int hour) {
    if (!climate.light_cycle_enabled || climate.pulse_count != 0) return false;
    climate.outputs.light_on = LightOnAtStart(climate.light_on_hour, climate.light_off_hour, hour);
    ApplyOutputs(link, climate);
    return true;
}

bool PulseStep(DeviceLink& link, ClimateState& climate, double elapsed_minutes) {
    if (climate.pulse_count <= 0 || !climate.light_cycle_enabled) return false;
    const PulsePhase p = PulseAt(elapsed_minutes, climate.pulse_on_tenths / 10.0,
                                 climate.pulse_off_tenths / 10.0, climate.pulse_count);
    if (!p.series_over) climate.outputs.light_on = p.light_on;
    ApplyOutputs(link, climate);
    return true;
}

bool PendingUpdateStep(DeviceLink& link, ClimateState& climate) {
    if (!climate.update_pending) return false;
    climate.update_pending = false;
    ApplyOutputs(link, climate);
    return true;
}

int ReadPlateTemperature(DeviceLink& link, ClimateState& climate) {
    const int raw = ReadTemperatureRaw(link);
    if (raw != kNoReply) {
        climate.CurrentTemperature = RawTemperatureToCelsius(raw, link.sensor);
        climate.temperature_known = true;
    }
    return raw;
}

ClimateStepResult ClimateStep(DeviceLink& link, ClimateState& climate, int hour) {
    ClimateStepResult r;
    r.raw = ReadPlateTemperature(link, climate);
    r.reading_missing = r.raw == kNoReply;
    r.temperature = climate.CurrentTemperature;
    if (r.reading_missing) {
        // No regulation on a temperature nobody measured: the element waits, in its mode,
        // for the next reading.
        climate.outputs.control_on = false;
    } else {
        climate.outputs = Thermostat(climate.outputs, climate.temperature_control_enabled,
                                     climate.CurrentTemperature, climate.TemperatureSetPoint);
    }
    if (climate.light_cycle_enabled) {
        climate.outputs.light_on = LightCycleStep(climate.light_on_hour, climate.light_off_hour,
                                                  hour, climate.outputs.light_on);
    }
    r.code = ApplyOutputs(link, climate);
    return r;
}

void SwitchOutputsOff(DeviceLink& link, ClimateState& climate) {
    climate.outputs.light_on = false;
    climate.outputs.control_on = false;
    ApplyOutputs(link, climate);
}

}  // namespace lumivo
