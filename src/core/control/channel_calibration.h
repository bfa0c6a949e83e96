// Beam calibration: every channel in use is stepped through its PinHole/Gain setting until its
// reading of an empty beam lies in the window 1638..1843 (40 % to 45 % of the 12-bit scale),
// the settings are written into the instrument's registers and stored in calvalue.dat.
// CalibrateChannels does this for all channels; AutoAdjustChannels re-adjusts, during an
// acquisition, the channels whose signal became too strong.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/control/control_context.h"
#include "core/storage/calibration_file.h"

namespace lumivo {

inline constexpr int CalibrationWindowLow = 1638;   // 40 % of 4096, rounded
inline constexpr int CalibrationWindowHigh = 1843;  // 45 % of 4096, rounded
// A channel whose mean level reaches this during an acquisition is re-adjusted.
inline constexpr int kReadjustTriggerLevel = 1945;

// Calibration keeps PinHole between these while it steps.
inline constexpr std::int16_t kCalibrationTopPinHole = 7;
inline constexpr std::int16_t kCalibrationBottomPinHole = 1;
// A channel in use whose PinHole and Gain are both 0 starts from this PinHole.
inline constexpr std::int16_t kRestartPinHole = 2;

// Passes after which a calibration gives up on channels that still have not settled. The
// longest walk the stepping rule allows (up through every setting, one reversal, down through
// every setting) is about 2 x 256 passes, so only a channel whose readings jump across the
// window pass after pass ever reaches it.
inline constexpr int kMaxCalibrationPasses = 1024;

// Messages and status texts.
inline constexpr const char* kCommunicationErrorMessage =
    "Communication error. Check COM PORT and equipment connection.";
inline constexpr const char* kAutoCalibrationTitle = "<AUTOCALIBRATION>";
inline constexpr const char* kCalibrationOkStatus = "Calibration OK";
inline constexpr const char* kCalibrationInterruptedStatus =
    "Calibration NOT completed: settings not saved";

// How a channel ended a calibration.
enum class ChannelFinish : std::uint8_t {
    NotInUse,       // not in use (or not listed for adjustment): not stepped
    Pending,        // still being stepped when the run ended
    InWindow,       // its reading lies in 1638..1843
    DarkAtLimit,    // still too dark at PinHole 7, Gain 7 (or above)
    BrightAtLimit,  // still too bright at PinHole 1 (or below), Gain 0
    SteppedPast,    // stepped down past the window after overshooting: keeps the lower setting
    Unsettled,      // gave up after kMaxCalibrationPasses
    NoReading,      // its block did not come back kMaxMissedBlockPasses passes in a row
};

// A channel is stepped only on a reading taken in the same pass: a block that comes back short
// leaves its channels for the next pass, and after this many short passes in a row they are
// given up (NoReading) instead of being stepped on stale readings.
inline constexpr int kMaxMissedBlockPasses = 3;

const char* ChannelFinishName(ChannelFinish f);

// The working state of one channel while it is stepped.
struct ChannelStepState {
    std::int16_t PinHole = 0;
    std::int16_t Gain = 0;
    std::int16_t direction = 0;  // 1: the last step raised the setting, -1: lowered it, 0: none
    bool done = false;
    ChannelFinish finish = ChannelFinish::Pending;
};

// One pass of the stepping rule for a channel that is not done, with its reading r. In the
// window: done. Otherwise the setting counts like a two-digit number with Gain (0..7) as the
// fast digit and PinHole as the slow one, one step per pass, giving up at the top (PinHole 7,
// Gain 7) when too dark and at the bottom (PinHole 1, Gain 0) when too bright. A channel that
// overshoots upward waits one pass, then steps down; if it then falls below the window it
// keeps that lower setting.
void ApplyCalibrationStep(int reading, ChannelStepState& s);

// The acquisition's trigger for a re-adjustment of one channel in use: its mean level reached
// 1945, automatic calibration is on, the acquisition is recorded, and the setting can still
// step down (Gain above 0 or PinHole above 1).
bool NeedsReadjustment(double mean_level, bool auto_calibrate_on_start, bool recording_on,
                       std::int16_t pin_hole, std::int16_t gain);

struct CalibrationResult {
    RunOutcome outcome = RunOutcome::Refused;
    int passes = 0;           // adjustment passes made
    int failed_channel = -1;  // the channel whose write failed (WriteFailed)
    std::string error;        // the storage error (SaveFailed, or a calvalue.dat read error)
    std::array<ChannelFinish, kChannelCount> finish{};

    // Channels in use that ended without a reading in the window (at a limit, stepped past
    // it, unsettled, without reading).
    std::vector<int> ChannelsOutsideWindow() const;
    int CountFinished(ChannelFinish f) const;
};

// " (17, 250)": the channel numbers of a summary in brackets, or "" when there are none or more
// than eight (a count says enough then).
std::string ChannelNumbersText(const std::vector<int>& channels);

// The end of a calibration channel by channel, for the status line and the log: "Calibration
// OK: 190 channels in the window, 1 dead (17), 1 saturated (250)" and any channel that ended
// otherwise (stepped past the window, unsettled, without reading), or how an unfinished run
// ended.
std::string CalibrationSummary(const CalibrationResult& result);

// Calibrates every channel in use (channel_well[c] >= 0; the others are written with setting
// 0 and left alone): loads calvalue.dat (or starts from the first-time settings when it does
// not exist), writes every channel's setting, then steps the channels pass by pass until each
// is done, and saves calvalue.dat. Each pass reads all channels once into `readings` (at least
// 384 entries; the row 0 of the sampling loop's table). Progress and status go to the view;
// window events run every 21 channels while writing and once per pass.
//
// A run ended early by ctx.run.keep_going, or by a failed write, saves nothing (calvalue.dat
// keeps its previous content, or is not created) and says so; `cal` then holds the settings
// written into the instrument so far.
CalibrationResult CalibrateChannels(ControlContext& ctx, CalibrationValues& cal,
                                    std::span<const std::int16_t> channel_well,
                                    std::span<std::uint16_t> readings);

// The list AutoAdjustChannels works on: 0 = adjust this channel, -1 = leave it (and, once
// adjusted, finished).
using AdjustmentList = std::array<std::int16_t, kChannelCount>;

// Re-adjusts the listed channels with the same stepping rule until each is back in the window
// or at a limit, and saves calvalue.dat. No writing phase beforehand; each block is read in
// one read that must bring exactly 192 bytes (a short block keeps its channels' previous
// readings). A failed write ends the adjustment without saving and without stopping the
// acquisition; a run ended early by ctx.run.keep_going saves nothing either.
CalibrationResult AutoAdjustChannels(ControlContext& ctx, CalibrationValues& cal,
                                     std::span<const std::int16_t> channel_well,
                                     AdjustmentList& list);

}  // namespace lumivo
