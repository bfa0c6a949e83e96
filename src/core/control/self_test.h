// The device self-test behind the main window's menu entry "Device test" (`mnstatustest_Click`)
// and its timer `Timer_test`. With an empty slot it switches beams fully on and fully off
// through the channel registers, lights one column of the 16 x 24 channel grid at a time and
// then one row at a time, sets every beam to a middle setting, and judges the readings against
// fixed fractions of 2048. The verdicts go to a status caption and to the report
// "testdev" + serial number + ".txt" in the installation folder.
//
// The test is a step machine: StartSelfTest starts it, and the host calls SelfTestTick every
// kTimerTestIntervalMs while state.Timer_test is set, never re-entering it (a tick takes longer
// than the interval; the next one then follows at once). What the test shows goes to a
// SelfTestView; its questions go through the link's Dialogs and its pauses through its Clock.
//
// The test's settings go to the instrument only. When it ends, however it ends once it has
// written a setting, the calibrated settings of calvalue.dat are written back, so the next
// recording does not run with the test's beams; the last status line says what became of them.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "core/control/control_context.h"
#include "core/storage/calibration_file.h"

namespace lumivo {

inline constexpr int kTimerTestIntervalMs = 100;
// The last step; the test ends when the step counter passes it.
inline constexpr std::int16_t kSelfTestLastStep = 110;
// A failed channel write moves the step counter here, which ends the test in the same tick.
inline constexpr std::int16_t kSelfTestAbortStep = 121;

// A lit channel passes at 0.8 x 2048 or more, a dark one at 0.5 x 2048 or less.
inline constexpr double kLitPassLevel = 0.8 * 2048.0;   // 1638.4
inline constexpr double kDarkPassLevel = 0.5 * 2048.0;  // 1024

// The channel grid: channel c lies in row c mod 16 and column c / 16.
inline constexpr int kGridRows = 16;
inline constexpr int kGridColumns = 24;

// Beam settings the test writes.
struct BeamSetting {
    std::int16_t PinHole = 0;
    std::int16_t Gain = 0;
};
inline constexpr BeamSetting kBeamOn{7, 7};
inline constexpr BeamSetting kBeamOff{0, 0};
inline constexpr BeamSetting kBeamMiddle{2, 2};

inline constexpr const char* kStopBeforeTestingMessage = "Stop acquisition before Testing";
inline constexpr const char* kSelfTestQuestion =
    "DEVICE TEST:\r\n"
    "Light Microbeams will be adjusted to maximum and minimum.\r\n"
    "Please, remove any microplate from the slot\r\n"
    " and close Lumivo door";
inline constexpr const char* kDoorHint = "Open and close Lumivo Door to see sensing changes";
inline constexpr const char* kTurningOnMessage = "Turning ON A1-D1";
inline constexpr const char* kTurningOffMessage = "Turning OFF A1-D1";
inline constexpr const char* kProceedQuestion = "OK to proceed?";
inline constexpr const char* kComErrorCaption = "COM Error";
inline constexpr const char* kNoTemperatureCaption =
    "T = __ \xC2\xB0"
    "C";

// "Col[3]: PASS!" or "Col[3]: CHECK!", with the report lines of one verdict.
struct SelfTestVerdict {
    bool passed = false;
    std::string caption;             // shown in lbl_temperature
    std::vector<std::string> lines;  // appended to the report
    std::vector<int> failed_channels;
};

// Int(reading / 2048 x 100).
int ReadingPercent(int reading);
// The report's list entry of a channel that failed: "CH" + channel + "[" + percent + "%], ".
std::string FailedChannelEntry(int channel, int reading);

// The all-on test (every channel lit) and the all-off test (every channel dark).
SelfTestVerdict JudgeAllOnTest(std::span<const std::uint16_t> readings);
SelfTestVerdict JudgeAllOffTest(std::span<const std::uint16_t> readings);
// Column c (0..23) lit, every other channel dark; row r (0..15) lit, every other channel dark.
SelfTestVerdict EvaluateColumnTest(int column, std::span<const std::uint16_t> readings);
SelfTestVerdict EvaluateRowTest(int row, std::span<const std::uint16_t> readings);

// How a test ended.
enum class SelfTestEnd {
    NotStarted,   // refused, cancelled at the first question, or the report could not be made
    Running,      // the timer still drives it
    Completed,    // every step was carried out
    Declined,     // the answer No to "OK to proceed?"
    ComError,     // a block reply was short: "COM Error"
    WriteFailed,  // a channel setting could not be written
    Stopped,      // stopped from outside while it ran (StopSelfTest)
};

const char* SelfTestEndText(SelfTestEnd end);

// What the test shows. Every method defaults to doing nothing.
class SelfTestView {
  public:
    virtual ~SelfTestView() = default;
    // lbl_temperature: a step's caption or a verdict.
    virtual void ShowCaption(const std::string& /*text*/) {}
    // lbl_autostart: shown with `text`, or hidden.
    virtual void ShowDoorHint(bool /*shown*/, const std::string& /*text*/) {}
    // Picact: the test readings of channels 0..383, laid out as the 16 x 24 grid.
    virtual void DrawReadings(std::span<const std::uint16_t> /*readings*/) {}
    // picturetime: the blue progress bar, 0..100.
    virtual void DrawProgress(double /*percent*/) {}
    // Picact cleared and given back its scale and drawing settings; the main plot redrawn.
    virtual void RestorePlot() {}
    // Timer_test switched on or off.
    virtual void SetTestTimer(bool /*enabled*/) {}
    // A line appended to the report; `verdict` is false for the list of middle-setting values.
    virtual void ReportLine(const std::string& /*line*/, bool /*verdict*/) {}
    // Shows the report with the desktop's default application.
    virtual void OpenReport(const std::filesystem::path& /*file*/) {}
    // The main window's status line: how the test ended and what became of the beams.
    virtual void ShowStatusLine(const std::string& /*text*/) {}
};

struct SelfTestContext {
    DeviceLink& link;  // its clock and dialogs are the program's
    StorageContext& storage;
    SelfTestView& view;
    bool offline = false;             // OfflineMode: no reads take place
    bool acquisition_stopped = true;  // AcquisitionRunning is 0
};

struct SelfTestState {
    std::int16_t DeviceTestStep = 0;
    bool Timer_test = false;  // enabled
    // The latest reading of every channel (index 384 unused).
    std::array<std::uint16_t, kChannelTableSize> readings{};
    int serial = -1;
    std::filesystem::path report_path;
    std::string report;  // what the report holds so far
    bool report_error_shown = false;
    SelfTestEnd end = SelfTestEnd::NotStarted;
    // The test wrote a setting into the instrument (its calibrated settings need restoring).
    bool settings_changed = false;
    std::vector<SelfTestVerdict> verdicts;  // in the order they were judged
    std::string status;                     // the last status line
};

// "testdev" + serial + ".txt" in the installation folder.
std::filesystem::path SelfTestReportPath(const std::filesystem::path& install_dir, int serial);

// mnstatustest_Click: refuses while an acquisition runs or is paused, asks the first question
// and, on OK, starts the timer, reads the serial number and creates the report with its first
// line ("Serial:SN" + serial + " " + "yyyy-mm-dd_hh:mm" + " (instrument LMVO" + five digits +
// ")"). Returns true when the test runs.
bool StartSelfTest(SelfTestContext& ctx, SelfTestState& state);

// Timer_test_Timer: one step.
void SelfTestTick(SelfTestContext& ctx, SelfTestState& state);

// Ends a running test from outside (its window closes, the user interrupts it): the timer
// stops, the display is restored and the calibrated settings are written back.
void StopSelfTest(SelfTestContext& ctx, SelfTestState& state);

// Every verdict of a completed test passed.
bool SelfTestPassed(const SelfTestState& state);
// The channels named by failed verdicts, each once, in order.
std::vector<int> SelfTestFailedChannels(const SelfTestState& state);

// Writes the settings of calvalue.dat into the instrument's registers. Returns what became of
// them, for the status line ("the calibrated settings of calvalue.dat were written back to the
// instrument", or why not).
std::string WriteBackCalibratedSettings(DeviceLink& link, StorageContext& storage);

}  // namespace lumivo
