// Where in a recorded run data exists, where windows are missing and where the instrument was
// silent: the model behind the browser's status strip `Pic_status` and the summary's lines about
// the recording.
//
// counts.bin gives one record per window with the whole minutes elapsed when it closed; gaps
// between records that are longer than a window (plus the rounding of the minutes) are windows
// that were not recorded. events.log, written beside the data during the run, tells when the
// instrument gave no valid data (the alarm's start and end) and when the run was paused; its
// times are wall-clock times, turned into the elapsed minutes of the records by taking out the
// pauses during which the time counter stood still.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/acquisition/event_log_reader.h"

namespace lumivo::offline {

// What a stretch of the run holds, in the order in which they win when they overlap in a cell.
enum class StripKind : std::uint8_t {
    None,         // nothing expected (after the end, or the part of a window cut off by the stop)
    Data,         // windows recorded
    Missing,      // windows that were not recorded
    Paused,       // paused with the time counter running: no window was due
    Silent,       // the instrument gave no valid data (events.log): windows hold held readings
    Lost,         // the instrument's port was gone (events.log): nothing could be read
    Interrupted,  // the recorder itself was not running (a crash or power cut, then resumed)
};

struct StripSegment {
    double begin_minute = 0.0;
    double end_minute = 0.0;
    StripKind kind = StripKind::None;
};

// A period the strip draws over its cells in the colour of its kind, with what it was for the
// reader. One that took no elapsed time (a pause that held the time counter: the records'
// minutes go on after it as if it had not been) is drawn as a mark at its place.
struct StripPeriod {
    double begin_minute = 0.0;
    double end_minute = 0.0;  // == begin_minute for a mark
    StripKind kind = StripKind::Paused;
    std::string caption;  // "paused 18 s (time counter held)"
};

// A stretch of events.log in elapsed minutes, with its wall-clock length.
struct LoggedPeriod {
    double begin_minute = 0.0;
    double end_minute = 0.0;
    std::int64_t seconds = 0;
    bool ended = true;  // false when the log stops before the period ended
};

struct RecordingStatus {
    std::size_t windows_recorded = 0;
    std::int32_t last_minute = 0;     // the largest (day-adjusted) minute of the records
    std::size_t windows_missing = 0;  // estimated from the gaps between records
    double window_minutes = 0.0;      // estimated length of one window
    double run_minutes = 0.0;         // length of the time axis: last record or end of the log
    bool has_event_log = false;
    bool log_ended = false;  // the log holds the end of the run
    std::vector<LoggedPeriod> silences;
    std::vector<LoggedPeriod> pauses;  // time counter running
    std::size_t frozen_pauses = 0;     // pauses that stopped the time counter
    std::int64_t frozen_pause_seconds = 0;
    std::size_t write_failures = 0;           // "RECORDING ERROR" lines
    std::vector<LoggedPeriod> losses;         // the instrument lost until reconnected
    std::vector<LoggedPeriod> interruptions;  // the recorder dead until resumed
    std::int64_t windows_not_recorded = 0;    // as events.log counts them
    // The time axis 0..run_minutes cut into stretches, in order, neighbours of different kinds.
    std::vector<StripSegment> segments;
    // Drawn over the stretches, in order of their beginning: the pauses that held the time
    // counter, which have no stretch of their own on the elapsed axis.
    std::vector<StripPeriod> periods;
};

// The status of a run from the elapsed minutes of its records (in file order) and the text of
// its events.log ("" when there is none).
RecordingStatus AnalyseRecording(std::span<const std::int32_t> record_minutes,
                                 std::string_view events_log);

// The strip cut into `cells` equal cells over 0..run_minutes, each showing the strongest kind
// that touches it. With cells = windows_recorded + windows_missing every cell is one window.
std::vector<StripKind> StripCells(const RecordingStatus& status, std::size_t cells);

// The text of folder/events.log ("" when it is missing or cannot be read).
using lumivo::ReadEventLog;

// "3 min 20 s", "2 h 05 min", "1 d 02 h 10 min": a span of seconds for the summary.
std::string DurationText(std::int64_t seconds);

}  // namespace lumivo::offline
