// The acquisition's fixed values and the texts it shows: the timer's interval, the levels a
// run starts from, the messages and refusals of the start, pause and stop, why a run ended, and
// the small formatters of the run display (the prompt, the disk check, the elapsed time, the
// temperature label).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lumivo {

inline constexpr int kTimeradqIntervalMs = 30;
// Seconds one block exchange takes on the line: the 5-byte request and the 192-byte reply, at
// 10 bits per byte and 115200 baud.
inline constexpr double kBlockWireSeconds = (5.0 + 192.0) * 10.0 / 115200.0;
// Pause after the discarded warm-up reads at the start of a window.
inline constexpr int kWarmUpPauseMs = 50;
// The reference level every channel starts from: mid-scale of the 12-bit reading.
inline constexpr std::int16_t kReferenceLevel = 2048;
// A channel's running total of counts stops growing here.
inline constexpr std::int16_t kMaxChannelTotal = 10000;
// Lapses from this many minutes on, with real-time saving, get the disk check.
inline constexpr int kDiskCheckMinLapse = 31;
// Seconds without any answer from the instrument before the alarm shows.
inline constexpr double kSilenceAlarmSeconds = 3.0;

inline constexpr const char* kStartTitle = "Starting New acquisition...";
inline constexpr const char* kSecondNamePrompt = "Enter a Name for this experiment";
inline constexpr const char* kEmptyNameWarning =
    "Name is EMPTY. Activity is NOT going to be CALCULATED/RECORDED!";
inline constexpr const char* kAutorunName = "Autorun project";
inline constexpr const char* kProjectZeroRefusal =
    "Operation not allowed in Project #0:Default. Go to <Setup> and Save it with another name";
inline constexpr const char* kOfflineAcquisitionRefusal =
    "Acquisition not allowed in OFFLINE MODE. Connect the equipment and restart the program "
    "or press Connect.";
inline constexpr const char* kPauseQuestion = "Pause Time Counter?";
inline constexpr const char* kTimeCounterOff = "Time Counter = OFF";
inline constexpr const char* kTimeCounterOn = "Time Counter = ON";
inline constexpr const char* kPausedCaption = "<< PAUSED >>";
inline constexpr const char* kAcquisitionFinishedMessage = "Acquisition finished";
inline constexpr const char* kNoTemperatureLabel =
    "T = __ \xC2\xB0"
    "C";
inline constexpr const char* kBlankDuringRunRefusal =
    "Read Blank is not possible while an acquisition runs: stop the acquisition first.";
inline constexpr const char* kStopAndExitCaption = "Stop and exit";
inline constexpr const char* kBlankStoppedStatus =
    "Blank stopped before its end: zero levels unchanged";
inline constexpr const char* kQuickReportWhileRunning =
    "The quick report is written while no acquisition runs: stop the acquisition first.";

// Why a run ended, as events.log and the end of the run say it.
inline constexpr const char* kStopByUser = "Stop Acquisition was pressed";
inline constexpr const char* kStopAtLapse = "the programmed lapse was reached";
inline constexpr const char* kStopAtExit = "the program was closed";
inline constexpr const char* kStopByCalibrationWrite = "a channel setting could not be written";

// The prompt of the name box: the banner, the comments and the calibration reminder.
std::string StartPromptText(bool auto_calibrate_on_start, bool auto_zero_on_start);

// The disk space a recorded run needs. A window writes its counts record, its raw page record
// when raw signals are saved and its histogram record in body-bends mode; a window lasts
// RT_Buffer ticks, and a tick at least the timer's interval and the line time of the blocks it
// reads (four, or two in body-bends mode). The estimate takes the shortest window, so it never
// falls short of what the run writes.
double RecordedBytesPerMinute(std::size_t rt_buffer, bool body_bends, bool save_raw);
// Megabytes (of 1,048,576 bytes, as the free space is counted) for `lapse_minutes`, rounded up.
std::int64_t RequiredDiskMegabytes(int lapse_minutes, std::size_t rt_buffer, bool body_bends,
                                   bool save_raw);

// The disk check of a recorded run: `required_mb` against `free_mb`. `warning` holds the whole
// question ("WARNING:" ... "PROCEED?") when the free space is short or the run needs more than
// 1000 MB; empty otherwise.
struct DiskCheck {
    std::int64_t required_mb = 0;
    std::string message;  // the lines about the lapse and the space
    std::string warning;  // "" when no warning is due
};
DiskCheck CheckDiskSpace(int lapse_minutes, std::int64_t required_mb, std::int64_t free_mb);

// "hh:mm:ss [Nd]": the time of day part of the span and its whole days.
std::string ElapsedTimeText(std::int64_t elapsed_us);
// "T = 22.4 °C" for the temperature label.
std::string TemperatureLabel(double celsius);

}  // namespace lumivo
