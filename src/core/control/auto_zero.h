// The channels' zero levels: the percentage by which a channel's signal must fall before the
// fall counts as an animal. Auto-zero ("Fast ZERO", and the start of a recorded acquisition)
// measures each channel's ripple against its level and scales it by the signal-to-noise
// factor; the blank ("Read Blank") watches each channel's spread over a set number of sampling
// ticks and adds a fixed 15 % margin.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/control/control_context.h"
#include "core/storage/project_setup.h"

namespace lumivo {

inline constexpr int kAutoZeroSamplesQuick = 30;  // automatic calibration and auto-zero both on
inline constexpr int kAutoZeroSamplesFull = 100;  // otherwise
inline constexpr int kAutoZeroFirstRow = 10;      // rows before it only warm the readings up
inline constexpr double kMinZeroLevel = 1.0;

inline constexpr const char* kAutoZeroInterruptedStatus =
    "AutoZero NOT completed: settings not saved";
// A block that does not come back this many samples in a row ends auto-zero: the readings of
// its channels would be old ones.
inline constexpr int kAutoZeroMaxMissedBlocks = 3;
// Mean levels (of the 12-bit reading) below which a channel counts as dead, and from which it
// counts as saturated, in the summaries of auto-zero.
inline constexpr int kDeadChannelLevel = 100;
inline constexpr int kSaturatedChannelLevel = 4000;

// One reading of channels 0..384, as a row of the sampling table.
using ChannelRow = std::array<std::uint16_t, kChannelCount + 1>;

// Samples auto-zero takes.
int AutoZeroSampleCount(bool auto_calibrate_on_start, bool auto_zero_on_start);

// A channel's zero level from its readings p[0..N-1]: peak and trough start at p[10]; for
// j = 11..N-2 a local minimum becomes the trough and a local maximum the peak, and the ripple
// (peak - trough) and the level p[j] are summed. With A and M their means rounded half to
// even: M < 1 gives 1.0, otherwise A / M x 100 x snr + 1, at least 1.0. Fewer than 12 readings
// give 1.0.
double AutoZeroLevel(std::span<const int> p, double snr);

struct AutoZeroResult {
    RunOutcome outcome = RunOutcome::Refused;
    int samples = 0;  // readings taken
    // The readings, one row per sample (a block that came back short holds the channels'
    // previous sample).
    std::vector<ChannelRow> rows;
};

struct AutoZeroSettings {
    double SnrThreshold = 1.8;
    bool AutoCalibrateOnStart = false;
    bool AutoZeroOnStart = false;
};

// Reads every channel N times (30 or 100) without pauses and sets zero_level[0..383] (at least
// 384 entries) from the readings. Window events run every ten samples, and after every block
// that did not come back (so a stop is honoured within one read's wait). A run ended early by
// ctx.run.keep_going, or by a block missing kAutoZeroMaxMissedBlocks samples in a row
// (ReadFailed), leaves zero_level unchanged and says so. Refused offline.
AutoZeroResult CalculateAutoZero(ControlContext& ctx, const AutoZeroSettings& settings,
                                 std::span<double> zero_level);

// What auto-zero found, for the log: the channels in use (channel_well >= 0) whose mean level
// lies in the calibration window, the dead and saturated ones (numbered when few), and the range
// of the zero levels. For a run that did not complete, how it ended.
std::string AutoZeroSummary(const AutoZeroResult& result,
                            std::span<const std::int16_t> channel_well,
                            std::span<const double> zero_level);

// ---- The blank ----

inline constexpr double kBlankMargin = 1.15;
inline constexpr std::int16_t kBlankMaxStart = 0;
inline constexpr std::int16_t kBlankMinStart = 10000;
inline constexpr int kBlankTickIntervalMs = 30;

struct BlankState {
    bool BlankMode = false;
    std::int16_t BlankSampleCount = 0;  // ticks the blank lasts (it ends after one more)
    int ticks = 0;                      // ticks seen since the blank started
    std::array<std::int16_t, kChannelCount + 1> blank_max{};
    std::array<std::int16_t, kChannelCount + 1> blank_min{};
};

// The folder a blank is recorded beside: the acquisition folder named by `now`
// ("yyyymmdd_hhmm") in the project folder, created when missing, with the project's files
// written into it. Returns the folder name; throws StorageError when it cannot be written.
std::string PrepareBlankFolder(StorageContext& storage, int actual_project_number,
                               const ProjectState& project, const LocalDateTime& now);

// "Setting Blank.... (" + count + " samples)"
std::string BlankStartText(int blank_sample_count);
// "Setting (" + channel + ") OK..."
std::string BlankDoneText(int channel);

// Resets the running extremes (maximum 0, minimum 10000) and starts the blank.
void StartBlank(BlankState& blank, std::int16_t blank_sample_count);

// A channel's blank zero level: Int((1 - minimum / maximum) x 100 x 1.15) + 1, at least 1.0;
// nullopt while the channel has no usable extremes (minimum still 10000, or maximum below 1).
std::optional<double> BlankZeroLevel(std::int16_t minimum, std::int16_t maximum);

// One sampling tick of the blank, with the tick's readings of channels 0..383: updates the
// extremes and zero_level of every channel (a channel that never read above 0 keeps its
// level). Returns true when this tick ended the blank: the (BlankSampleCount + 1)-th tick;
// BlankMode is then cleared and the caller stops the sampling timer.
bool BlankStep(BlankState& blank, std::span<const std::uint16_t> row, std::span<double> zero_level);

// ---- The signal-to-noise factor ----

inline constexpr double kDefaultSnr = 1.8;
inline constexpr const char* kDefaultSnrText = "1.8";
inline constexpr const char* kInvalidSnrMessage = "Invalid value: 1.1 to 5.0";
inline constexpr const char* kSnrLabelClosed = ">>>>";
inline constexpr const char* kSnrLabelOpen = "> Zero SNR:";

// The text txt_snr_umbral shows when the main window loads: the SNR field / 10 as "0.0", or
// "1.8" formatted the same way when the field is 0.
std::string SnrTextFromField(std::int16_t snr_x10);

// SnrThreshold from the text box. `floor`: a value below it becomes 1.8 (1.4 when the window
// loads, 1.3 at the start of an acquisition, none for the Fast buttons: pass 0). Text that is
// not a number, or a factor of 1.0 or less, also gives 1.8: such a factor would make every zero
// level 1.0.
double SnrFromText(const std::string& text, double floor);

}  // namespace lumivo
