// The instrument's tool settings kept beside the project while a program runs: the calibration
// and zero choices with the signal-to-noise factor (the calibration panel), the light and
// temperature settings with the outputs (the light and temperature panels), and the channels'
// calibration registers. Created once by the program and passed by reference to the panels and
// to every recording.
#pragma once

#include "core/control/control_settings.h"
#include "core/control/light_temperature.h"
#include "core/storage/calibration_file.h"

namespace lumivo {

struct ToolState {
    CalibrationControls calibration;  // AutoCalibrateOnStart, AutoZeroOnStart, SnrThreshold
    ClimateState climate;
    CalibrationValues cal;  // PinHole and Gain of every channel
};

// The tool settings of the project, as the main window's load sets them: the calibration marks
// and signal-to-noise factor, the light and temperature settings. The calibration registers are
// left as they are.
inline void LoadToolSettings(ProjectState& project, ToolState& tools) {
    LoadCalibrationControls(tools.calibration, project);
    LoadClimateSettings(project, tools.climate);
}

}  // namespace lumivo
