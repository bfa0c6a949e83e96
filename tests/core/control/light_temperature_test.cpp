// Light and temperature: output codes and frames, captions, the thermostat, the light cycle,
// the pulse series, the buttons, and the climate step against the simulated plate.
#include "core/control/light_temperature.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "control_rig.h"

namespace lumivo {
namespace {

using testing::SimRig;

TEST(Outputs, CodesCaptionsAndLamps) {
    struct Case {
        OutputFlags flags;
        int code;
        const char* luz;
        Rgb light_lamp;
        const char* frio;
        const char* ontemp;
        Rgb temp_lamp;
    };
    const Case cases[] = {
        {{false, false, false}, 0, "OFF", kLampRed, "COOL", "OFF", kLampWhite},
        {{false, false, true}, 1, "OFF", kLampRed, "COOL", "ON", kLampBlue},
        {{false, true, false}, 2, "OFF", kLampRed, "HEAT", "OFF", kLampWhite},
        {{false, true, true}, 3, "OFF", kLampRed, "HEAT", "ON", kLampRed},
        {{true, false, false}, 4, "ON", kLampGreen, "COOL", "OFF", kLampWhite},
        {{true, false, true}, 5, "ON", kLampGreen, "COOL", "ON", kLampBlue},
        {{true, true, false}, 6, "ON", kLampGreen, "HEAT", "OFF", kLampWhite},
        {{true, true, true}, 7, "ON", kLampGreen, "HEAT", "ON", kLampRed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OutputCode(c.flags), c.code);
        EXPECT_EQ(OutputFlagsFromCode(c.code), c.flags) << c.code;
        const OutputDisplay d = DisplayForCode(c.code);
        EXPECT_EQ(d.luz_caption, c.luz) << c.code;
        EXPECT_EQ(d.light_lamp, c.light_lamp) << c.code;
        EXPECT_EQ(d.frio_caption, c.frio) << c.code;
        EXPECT_EQ(d.ontemp_caption, c.ontemp) << c.code;
        EXPECT_EQ(d.temp_lamp, c.temp_lamp) << c.code;
    }
}

TEST(Outputs, LightHeatAndControlIsCodeSevenOnTheWire) {
    EXPECT_EQ(BuildCommandFrame(SetOutputsCommand(7)),
              (CommandFrame{0xFF, 0x00, 0x10, 0x07, 0xF0}));
    SimRig rig;
    ClimateState climate;
    climate.outputs = {true, true, true};
    EXPECT_EQ(ApplyOutputs(rig.link, climate), 7);
    EXPECT_EQ(rig.instrument.OutputMask(), 7);
    EXPECT_TRUE(rig.instrument.LightOn());
    climate.outputs.light_on = false;
    ApplyOutputs(rig.link, climate);
    EXPECT_FALSE(rig.instrument.LightOn());
    EXPECT_EQ(rig.instrument.OutputMask(), 3);
}

TEST(Thermostat, DeadBandAndSwitchingPoints) {
    struct Case {
        double t, s;
        bool enabled;
        OutputFlags before;
        bool heat, control;
    };
    const OutputFlags heating{false, true, true};
    const OutputFlags cooling{false, false, true};
    const Case cases[] = {
        {24.55, 25.0, true, heating, true, false},  // inside the band: off, mode kept
        {24.55, 25.0, true, cooling, false, false},
        {25.55, 25.0, true, heating, false, false},  // cooling selected, still off
        {25.7, 25.0, true, heating, false, true},    // cooling on
        {24.45, 25.0, true, cooling, true, false},   // heating selected, still off
        {24.3, 25.0, true, cooling, true, true},     // heating on
        {38.0, 25.0, true, heating, false, false},   // outside the working range
        {10.0, 25.0, true, heating, false, false},
        {10.0, 5.0, true, cooling, false, false},
        {37.9, 45.0, true, cooling, true, true},
        {30.0, 25.0, false, cooling, false, false},  // control not enabled
    };
    for (const Case& c : cases) {
        const OutputFlags out = Thermostat(c.before, c.enabled, c.t, c.s);
        EXPECT_EQ(out.heat_mode, c.heat) << c.t << " vs " << c.s;
        EXPECT_EQ(out.control_on, c.control) << c.t << " vs " << c.s;
    }
    // The light is not the thermostat's.
    EXPECT_TRUE(Thermostat({true, false, false}, true, 30.0, 25.0).light_on);
}

TEST(LightCycle, StartAndHourlySteps) {
    struct Case {
        int on, off, hour;
        bool at_start;
    };
    const Case cases[] = {
        {21, 9, 23, true}, {21, 9, 12, false}, {21, 9, 3, true},  {21, 9, 9, false},
        {21, 9, 21, true}, {9, 21, 9, true},   {9, 21, 20, true}, {9, 21, 21, false},
        {9, 21, 3, false}, {8, 8, 8, false},   {0, 23, 0, true},  {0, 23, 23, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LightOnAtStart(c.on, c.off, c.hour), c.at_start)
            << c.on << "-" << c.off << " at " << c.hour;
    }
    EXPECT_TRUE(LightCycleStep(21, 9, 21, false));
    EXPECT_FALSE(LightCycleStep(21, 9, 9, true));
    EXPECT_TRUE(LightCycleStep(21, 9, 3, true));
    EXPECT_FALSE(LightCycleStep(21, 9, 3, false));
}

TEST(PulseSeries, HalfMinuteOnOneAndAHalfOffThreeTimes) {
    struct Case {
        double t;
        bool over, light;
    };
    const Case cases[] = {
        {0.0, false, true},   {0.49, false, true}, {0.5, false, false},  {1.99, false, false},
        {2.0, false, true},   {2.4, false, true},  {2.5, false, false},  {4.0, false, true},
        {4.49, false, true},  {4.5, false, false}, {5.99, false, false}, {6.0, true, false},
        {100.0, true, false},
    };
    for (const Case& c : cases) {
        const PulsePhase p = PulseAt(c.t, 0.5, 1.5, 3);
        EXPECT_EQ(p.series_over, c.over) << c.t;
        if (!c.over) {
            EXPECT_EQ(p.light_on, c.light) << c.t;
        }
    }
    EXPECT_TRUE(PulseAt(0.0, 0.0, 0.0, 5).series_over);  // no period: nothing to pulse
    EXPECT_TRUE(PulseAt(0.0, 1.0, 1.0, 0).series_over);
}

// The light schedule switched on with these hours and pulse program (times in tenths of a
// minute).
ClimateState LightSchedule(std::int16_t on_hour, std::int16_t off_hour, std::int16_t pulse_on = 0,
                           std::int16_t pulse_off = 0, std::int16_t pulses = 0) {
    ClimateState climate;
    climate.light_cycle_enabled = true;
    std::tie(climate.light_on_hour, climate.light_off_hour) = std::tuple(on_hour, off_hour);
    std::tie(climate.pulse_on_tenths, climate.pulse_off_tenths, climate.pulse_count) =
        std::tuple(pulse_on, pulse_off, pulses);
    return climate;
}

TEST(PulseSeries, StepDrivesTheLightAndKeepsItAfterTheEnd) {
    SimRig rig;
    ClimateState climate = LightSchedule(9, 21, 5, 15, 3);
    EXPECT_TRUE(PulseStep(rig.link, climate, 0.1));
    EXPECT_TRUE(rig.instrument.LightOn());
    EXPECT_TRUE(PulseStep(rig.link, climate, 1.0));
    EXPECT_FALSE(rig.instrument.LightOn());
    climate.outputs.light_on = true;  // switched by hand after the series
    EXPECT_TRUE(PulseStep(rig.link, climate, 7.0));
    EXPECT_TRUE(rig.instrument.LightOn());
    climate.light_cycle_enabled = false;
    EXPECT_FALSE(PulseStep(rig.link, climate, 0.1));
}

TEST(Buttons, ApplyNowOrDeferToTheSamplingLoop) {
    SimRig rig;
    ClimateState climate;
    EXPECT_TRUE(ToggleLight(climate, false));
    EXPECT_TRUE(climate.outputs.light_on);
    EXPECT_FALSE(climate.update_pending);

    // While an acquisition runs the frame waits for the next tick.
    climate.outputs.control_on = true;
    EXPECT_FALSE(ToggleHeatMode(climate, true));
    EXPECT_TRUE(climate.outputs.heat_mode);
    EXPECT_FALSE(climate.outputs.control_on);  // changing the mode switches the element off
    EXPECT_TRUE(climate.update_pending);
    EXPECT_EQ(rig.instrument.Stats().frames, 0u);
    EXPECT_TRUE(PendingUpdateStep(rig.link, climate));
    EXPECT_FALSE(climate.update_pending);
    EXPECT_EQ(rig.instrument.OutputMask(), 4 + 2);
    EXPECT_FALSE(PendingUpdateStep(rig.link, climate));

    EXPECT_FALSE(ToggleTemperatureControl(climate, true));
    EXPECT_TRUE(PendingUpdateStep(rig.link, climate));
    EXPECT_EQ(rig.instrument.OutputMask(), 7);
}

TEST(StartLightSchedule, OnlyForAnEnabledCycleWithoutPulses) {
    SimRig rig;
    ClimateState climate;
    climate.light_on_hour = 21;
    climate.light_off_hour = 9;
    EXPECT_FALSE(StartLightSchedule(rig.link, climate, 23));  // cycle not enabled
    EXPECT_EQ(rig.instrument.Stats().frames, 0u);
    climate.light_cycle_enabled = true;
    EXPECT_TRUE(StartLightSchedule(rig.link, climate, 23));
    EXPECT_TRUE(rig.instrument.LightOn());
    EXPECT_TRUE(StartLightSchedule(rig.link, climate, 12));
    EXPECT_FALSE(rig.instrument.LightOn());
    climate.pulse_count = 2;
    EXPECT_FALSE(StartLightSchedule(rig.link, climate, 23));
}

TEST(ClimateStep, MissingReadingKeepsTheLastTemperature) {
    SimRig rig;
    ClimateState climate;
    climate.temperature_control_enabled = true;
    climate.TemperatureSetPoint = 30.0;
    const ClimateStepResult first = ClimateStep(rig.link, climate, 10);
    EXPECT_FALSE(first.reading_missing);
    EXPECT_NEAR(first.temperature, 22.0, 0.2);
    EXPECT_TRUE(climate.outputs.heat_mode);
    EXPECT_TRUE(climate.outputs.control_on);
    EXPECT_EQ(rig.instrument.OutputMask(), 3);

    rig.instrument.Faults().silent = true;
    const ClimateStepResult second = ClimateStep(rig.link, climate, 10);
    EXPECT_TRUE(second.reading_missing);
    EXPECT_EQ(second.raw, -1);
    EXPECT_DOUBLE_EQ(climate.CurrentTemperature, first.temperature);
    EXPECT_DOUBLE_EQ(second.temperature, first.temperature);
    // No regulation without a reading: the element waits, the mode stays.
    EXPECT_FALSE(climate.outputs.control_on);
    EXPECT_TRUE(climate.outputs.heat_mode);
    EXPECT_EQ(rig.instrument.OutputMask(), 2);

    rig.instrument.Faults().silent = false;
    EXPECT_FALSE(ClimateStep(rig.link, climate, 10).reading_missing);
    EXPECT_TRUE(climate.outputs.control_on);
}

TEST(ClimateStep, LightCycleSwitchesAtItsHours) {
    SimRig rig;
    ClimateState climate = LightSchedule(21, 9);
    ClimateStep(rig.link, climate, 21);
    EXPECT_TRUE(rig.instrument.LightOn());
    ClimateStep(rig.link, climate, 3);
    EXPECT_TRUE(rig.instrument.LightOn());
    ClimateStep(rig.link, climate, 9);
    EXPECT_FALSE(rig.instrument.LightOn());
}

TEST(ClimateStep, RegulatesTheSimulatedPlateToItsSetPoint) {
    SimRig rig;
    ClimateState climate;
    climate.temperature_control_enabled = true;
    climate.TemperatureSetPoint = 26.0;
    // A statistics period every 30 s for three hours of virtual time.
    double last = 0.0;
    double lowest_late = 100.0, highest_late = 0.0;
    for (int period = 0; period < 360; ++period) {
        const ClimateStepResult r = ClimateStep(rig.link, climate, 12);
        ASSERT_FALSE(r.reading_missing);
        last = r.temperature;
        if (period >= 240) {
            lowest_late = std::min(lowest_late, last);
            highest_late = std::max(highest_late, last);
        }
        rig.clock.AdvanceMs(30'000);
    }
    // The sensor resolves 0.219 degrees; the plate stays within a degree of the set-point.
    EXPECT_GT(lowest_late, 25.0);
    EXPECT_LT(highest_late, 27.0);
    EXPECT_NEAR(rig.instrument.TemperatureC(), 26.0, 1.0);
}

TEST(SwitchOutputsOff, LightAndElementOffModeKept) {
    SimRig rig;
    ClimateState climate;
    climate.outputs = {true, true, true};
    SwitchOutputsOff(rig.link, climate);
    EXPECT_EQ(rig.instrument.OutputMask(), 2);
    EXPECT_EQ(OutputCode(climate.outputs), 2);
}

}  // namespace
}  // namespace lumivo
