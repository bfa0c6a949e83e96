// What the live activity plots show of the windows of a run: each well's count, each group's
// mean count over its wells with the standard error, their time course over the run, and the
// state of every channel at a glance (disabled, dead, saturated, drifting towards the
// adjustment limit).
//
// A well's count is the mean of the counts of its beams that take part (in the well and
// switched on); a well belongs to the group of its first such beam, as the reports have it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/acquisition/data_files.h"
#include "core/control/auto_zero.h"
#include "core/control/channel_calibration.h"
#include "core/storage/plate_format.h"
#include "core/storage/project_setup.h"

namespace lumivo {

// The wells of a plate as the activity plots use them, fixed for a run.
struct ActivityLayout {
    struct Well {
        int well = 0;               // 0.. down the columns
        int group = -1;             // of its first beam that takes part; -1 free or unused
        std::vector<int> channels;  // beams that take part
        std::vector<int> disabled;  // beams in the well that are switched off
    };
    std::vector<Well> wells;  // every well of the plate, in well order
    std::vector<int> groups;  // the groups in use (0..383), ascending
};
ActivityLayout MakeActivityLayout(const PlateMap& plate, const ProjectState& project);

// Each well's count in `record` (NaN for a well without a beam that takes part).
std::vector<double> WellCounts(const ActivityLayout& layout, const CountsRecord& record);

struct GroupActivity {
    int group = 0;
    int wells = 0;    // wells with a count
    double mean = 0;  // of the wells' counts
    double se = 0;    // standard error of the mean: sd / sqrt(wells), 0 below two wells
};
// One entry per group in use, in the layout's order.
std::vector<GroupActivity> GroupMeans(const ActivityLayout& layout,
                                      std::span<const double> well_counts);

// The group means of every window of the run so far, for the time course.
struct TimeCourse {
    std::vector<std::size_t> windows;                // each window's number, from 0
    std::vector<double> minutes;                     // each window's ElapsedMinutes
    std::vector<std::vector<GroupActivity>> groups;  // each window's GroupMeans

    // Adds the windows of `records` not yet taken (a record read as minute -1 was lost by the
    // hand-over and is left out); a shorter list than before starts again.
    void Update(const ActivityLayout& layout, std::span<const CountsRecord> records);
    void Clear();
    std::size_t taken = 0;  // records of the run looked at so far
};

// ---- Channels at a glance ----

enum class ChannelHealth : std::uint8_t {
    NotInUse,  // in no well
    Disabled,  // in a well, switched off
    Ok,
    Dead,       // reads near 0: no light reaches the detector
    Saturated,  // reads near the top of the 12-bit range
    Drifting,   // its level rose past the calibration window, towards the adjustment limit
};

// A mean reading below kDeadChannelLevel: dead; from kSaturatedChannelLevel on: saturated
// (the levels auto-zero reports channels by).
// A mean reading from this on (and below saturation): drifting. Half way from the top of the
// calibration window to the level at which a channel is re-adjusted.
inline constexpr int kDriftingChannelLevel = (CalibrationWindowHigh + kReadjustTriggerLevel) / 2;

const char* ChannelHealthName(ChannelHealth health);

struct ChannelStates {
    std::array<ChannelHealth, kBeamChannelCount> health{};
    std::array<std::int16_t, kBeamChannelCount> level{};  // mean reading over the window
    int dead = 0;
    int saturated = 0;
    int drifting = 0;
    int disabled = 0;
};

// Classifies every channel by its mean reading over `rows` rows of a window (385 readings a
// row, channel fastest).
ChannelStates ClassifyChannels(std::span<const std::int16_t> window, std::size_t rows,
                               const PlateMap& plate, const ProjectState& project);

// "3 dead, 1 saturated, 2 drifting" (the kinds present only); "all channels read well" when
// none is.
std::string ChannelStatesText(const ChannelStates& states);

}  // namespace lumivo
