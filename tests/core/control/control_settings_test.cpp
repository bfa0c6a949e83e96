// The text boxes of the control panels, the calibration menus and check boxes, and the tool
// settings travelling with the project (through setup.dat).
#include "core/control/control_settings.h"

#include <gtest/gtest.h>

#include "core/storage/file_system.h"
#include "support/scripted_dialogs.h"

namespace lumivo {
namespace {

using testing::ScriptedDialogs;

TEST(NumericText, WhatCountsAsANumber) {
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"12", 12.0},
        {" 12 ", 12.0},
        {"+3.5", 3.5},
        {"-0.5", -0.5},
        {".5", 0.5},
        {"5.", 5.0},
        {"1e1", 10.0},
        {"2.5E-1", 0.25},
        {"", std::nullopt},
        {" ", std::nullopt},
        {".", std::nullopt},
        {"1.2.3", std::nullopt},
        {"12a", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"1e999", std::nullopt},
        {"0x10", std::nullopt},
        {"1,5", std::nullopt},
        {"--1", std::nullopt},
        {"1e", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseNumericText(c.text), c.value) << c.text;
}

TEST(FieldChecks, RangesStoredValuesTextsAndMessages) {
    struct Case {
        const char* name;
        FieldCheck (*check)(std::string_view);
        const char* text;
        bool valid;
        std::int16_t stored;
        const char* shown;
        const char* message;
    };
    auto lon = [](std::string_view t) { return CheckHourText(t, kDefaultLightOnHour); };
    auto loff = [](std::string_view t) { return CheckHourText(t, kDefaultLightOffHour); };
    const Case cases[] = {
        {"hour", lon, "7", true, 7, "07", ""},
        {"hour max", lon, "23", true, 23, "23", ""},
        {"hour rounds to even", lon, "22.5", true, 22, "22", ""},
        {"hour 24", lon, "24", false, 9, "09", "Invalid value: 0 to 23"},
        {"hour negative", loff, "-1", false, 21, "21", "Invalid value: 0 to 23"},
        {"hour empty", loff, "", false, 21, "21", "Invalid value: 0 to 23"},
        {"temp", CheckTemperatureText, "25", true, 250, "25.0", ""},
        {"temp low edge", CheckTemperatureText, "5.0", true, 50, "5.0", ""},
        {"temp high edge", CheckTemperatureText, "50", true, 500, "50.0", ""},
        {"temp 50.1", CheckTemperatureText, "50.1", false, 200, "20", "Invalid value: 5.0 to 50.0"},
        {"temp 4.9", CheckTemperatureText, "4.9", false, 200, "20", "Invalid value: 5.0 to 50.0"},
        {"temp text", CheckTemperatureText, "warm", false, 200, "20", "Invalid value: 5.0 to 50.0"},
        {"pulse", CheckPulseTimeText, "0.5", true, 5, "0.5", ""},
        {"pulse max", CheckPulseTimeText, "1440", true, 14400, "1440.0", ""},
        {"pulse over", CheckPulseTimeText, "1440.1", false, 0, "0", "Invalid value: 0.0 to 1440.0"},
        {"pulse negative", CheckPulseTimeText, "-1", false, 0, "0", "Invalid value: 0.0 to 1440.0"},
        {"count", CheckPulseCountText, "3", true, 3, "3", ""},
        {"count 99", CheckPulseCountText, "99", true, 99, "99", ""},
        {"count 100", CheckPulseCountText, "100", false, 0, "0", "Invalid value: 0-99"},
        {"count empty", CheckPulseCountText, "", false, 0, "0", "Invalid value: 0-99"},
    };
    for (const Case& c : cases) {
        const FieldCheck f = c.check(c.text);
        EXPECT_EQ(f.valid, c.valid) << c.name;
        EXPECT_EQ(f.stored, c.stored) << c.name;
        EXPECT_EQ(f.text, c.shown) << c.name;
        EXPECT_EQ(f.message, c.message) << c.name;
    }
}

TEST(CalibrationControls, LoadEndsWithAutomaticCalibrationOn) {
    ProjectState project;
    project.ToolParams[1] = {0, 0, 0, 25, 0, 0};  // both off in the project, SNR 2.5
    CalibrationControls c;
    LoadCalibrationControls(c, project);
    EXPECT_TRUE(c.AutoCalibrateOnStart);
    EXPECT_TRUE(c.AutoZeroOnStart);
    EXPECT_TRUE(c.auto_calibrate_ticked);
    EXPECT_FALSE(c.auto_calibrate_choosable);
    EXPECT_FALSE(c.auto_zero_choosable);
    EXPECT_FALSE(c.fast_calibration_shown);
    EXPECT_FALSE(c.fast_zero_shown);
    EXPECT_FALSE(c.read_blank_shown);
    EXPECT_TRUE(c.automatic_calibration_chosen);
    EXPECT_FALSE(c.manual_tools_chosen);
    EXPECT_EQ(project.ToolParams[1][1], 1);
    EXPECT_EQ(project.ToolParams[1][2], 1);
    EXPECT_EQ(c.snr_text, "2.5");
    EXPECT_DOUBLE_EQ(c.SnrThreshold, 2.5);
    EXPECT_EQ(c.snr_toggle_caption, ">>>>");

    project.ToolParams[1][3] = 12;  // 1.2 is below the load floor of 1.4
    LoadCalibrationControls(c, project);
    EXPECT_EQ(c.snr_text, "1.2");
    EXPECT_DOUBLE_EQ(c.SnrThreshold, 1.8);
}

TEST(CalibrationControls, ManualMenuAndCheckBoxes) {
    ProjectState project;
    CalibrationControls c;
    LoadCalibrationControls(c, project);
    CalibrationMenuOn(c);
    EXPECT_TRUE(c.read_blank_shown);
    EXPECT_TRUE(c.auto_calibrate_choosable);
    EXPECT_TRUE(c.auto_zero_choosable);
    EXPECT_TRUE(c.manual_tools_chosen);
    EXPECT_FALSE(c.automatic_calibration_chosen);

    SetAutoCalibrate(c, project, false);
    EXPECT_FALSE(c.AutoCalibrateOnStart);
    EXPECT_TRUE(c.fast_calibration_shown);
    EXPECT_EQ(project.ToolParams[1][1], 0);
    SetAutoZero(c, project, false);
    EXPECT_TRUE(c.fast_zero_shown);
    EXPECT_EQ(project.ToolParams[1][2], 0);

    ToggleSnrBox(c);
    EXPECT_TRUE(c.snr_box_shown);
    EXPECT_EQ(c.snr_toggle_caption, "> Zero SNR:");
    const FieldCheck bad = SnrLostFocus(c, project, "7");
    EXPECT_EQ(bad.message, "Invalid value: 1.1 to 5.0");
    EXPECT_EQ(c.snr_text, "1.8");
    EXPECT_EQ(project.ToolParams[1][3], 18);
    EXPECT_TRUE(SnrLostFocus(c, project, "3.3").valid);
    EXPECT_EQ(project.ToolParams[1][3], 33);
    ToggleSnrBox(c);
    EXPECT_EQ(c.snr_toggle_caption, ">>>>");

    CalibrationMenuOff(c, project);
    EXPECT_TRUE(c.AutoCalibrateOnStart);
    EXPECT_FALSE(c.fast_calibration_shown);
    EXPECT_FALSE(c.read_blank_shown);
}

TEST(ClimateSettings, BoxesKeepTheirValuesInTheProject) {
    ProjectState project;
    ClimateState climate;
    LoadClimateSettings(project, climate);  // the defaults: 9..21, 20.0 degrees
    EXPECT_EQ(climate.light_on_hour, 9);
    EXPECT_EQ(climate.light_off_hour, 21);
    EXPECT_DOUBLE_EQ(climate.TemperatureSetPoint, 20.0);

    EXPECT_TRUE(ClimateFieldLostFocus(climate, project, ClimateField::PulseCount, "3").valid);
    EXPECT_FALSE(LightHoursEnabled(climate));
    const FieldCheck bad = ClimateFieldLostFocus(climate, project, ClimateField::PulseCount, "100");
    EXPECT_EQ(bad.message, "Invalid value: 0-99");
    EXPECT_TRUE(LightHoursEnabled(climate));  // the invalid count became 0

    ClimateFieldLostFocus(climate, project, ClimateField::LightOnHour, "21");
    ClimateFieldLostFocus(climate, project, ClimateField::LightOffHour, "9");
    ClimateFieldLostFocus(climate, project, ClimateField::Temperature, "28.5");
    ClimateFieldLostFocus(climate, project, ClimateField::PulseOn, "0.5");
    ClimateFieldLostFocus(climate, project, ClimateField::PulseOff, "1.5");
    ClimateFieldLostFocus(climate, project, ClimateField::PulseCount, "3");
    SetLightCycleEnabled(climate, project, true);
    SetTemperatureControlEnabled(climate, project, true);
    EXPECT_EQ(project.ToolParams[2], (std::array<std::int16_t, 6>{1, 21, 9, 5, 15, 3}));
    EXPECT_EQ(project.ToolParams[3], (std::array<std::int16_t, 6>{1, 285, 0, 0, 0, 0}));

    // "Set" takes the set-point from the box.
    EXPECT_TRUE(SetTemperatureSetPoint(climate, "28.5"));
    EXPECT_DOUBLE_EQ(climate.TemperatureSetPoint, 28.5);
    EXPECT_FALSE(SetTemperatureSetPoint(climate, "x"));
    EXPECT_DOUBLE_EQ(climate.TemperatureSetPoint, 28.5);

    const ClimateTexts t = TextsFor(climate);
    EXPECT_EQ(t.lon, "21");
    EXPECT_EQ(t.loff, "09");
    EXPECT_EQ(t.temp, "28.5");
    EXPECT_EQ(t.pulse_on, "0.5");
    EXPECT_EQ(t.pulse_off, "1.5");
    EXPECT_EQ(t.pulse_times, "3");
}

TEST(ClimateSettings, TravelThroughSetupDat) {
    MemoryFileSystem files;
    ScriptedDialogs dialogs;
    StorageContext ctx{"/inst", dialogs, files, {}};
    files.CreateFolders("/inst/p00002");
    ProjectState project;
    project.ProjectFolder = "/inst/p00002";
    ClimateState climate;
    climate.light_cycle_enabled = true;
    climate.light_on_hour = 21;
    climate.light_off_hour = 9;
    climate.pulse_on_tenths = 5;
    climate.pulse_off_tenths = 15;
    climate.pulse_count = 3;
    climate.temperature_control_enabled = true;
    climate.temperature_tenths = 285;
    climate.light_frame_shown = true;
    StoreClimateSettings(climate, project);
    SaveProjectSetup(ctx, 2, project);

    ProjectState loaded;
    loaded.ProjectFolder = "/inst/p00002";
    ASSERT_TRUE(LoadProjectSetup(ctx, 2, 2, loaded).ok);
    ClimateState back;
    LoadClimateSettings(loaded, back);
    EXPECT_TRUE(back.light_cycle_enabled);
    EXPECT_EQ(back.light_on_hour, 21);
    EXPECT_EQ(back.light_off_hour, 9);
    EXPECT_EQ(back.pulse_on_tenths, 5);
    EXPECT_EQ(back.pulse_off_tenths, 15);
    EXPECT_EQ(back.pulse_count, 3);
    EXPECT_TRUE(back.temperature_control_enabled);
    EXPECT_DOUBLE_EQ(back.TemperatureSetPoint, 28.5);
    EXPECT_TRUE(back.light_frame_shown);
    EXPECT_FALSE(back.temperature_frame_shown);
}

TEST(ClimateSettings, OutOfRangeValuesInTheProjectTakeDefaults) {
    ProjectState project;
    project.ToolParams[2] = {1, 30, -2, -5, 20000, 150};
    project.ToolParams[3] = {1, 9999, 0, 0, 0, 0};
    ClimateState climate;
    LoadClimateSettings(project, climate);
    EXPECT_EQ(climate.light_on_hour, 9);
    EXPECT_EQ(climate.light_off_hour, 21);
    EXPECT_EQ(climate.pulse_on_tenths, 0);
    EXPECT_EQ(climate.pulse_off_tenths, 0);
    EXPECT_EQ(climate.pulse_count, 0);
    EXPECT_EQ(climate.temperature_tenths, 200);
}

TEST(Panels, OpeningShowsTheHardwareNotice) {
    ScriptedDialogs dialogs;
    ProjectState project;
    ClimateState climate;
    EXPECT_TRUE(ToggleLightPanel(climate, project, dialogs));
    EXPECT_EQ(project.ToolMenu[2], 1);
    EXPECT_FALSE(ToggleLightPanel(climate, project, dialogs));
    EXPECT_EQ(project.ToolMenu[2], 0);
    EXPECT_TRUE(ToggleTemperaturePanel(climate, project, dialogs));
    EXPECT_EQ(project.ToolMenu[3], 1);
    EXPECT_EQ(dialogs.Messages(),
              (std::vector<std::string>{"Only available in some hardware versions",
                                        "Only available in some hardware versions"}));
}

}  // namespace
}  // namespace lumivo
