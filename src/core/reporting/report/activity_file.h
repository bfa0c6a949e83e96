// Reading an acquisition's activity file (counts.bin) for a report: the length of the
// recording, and the records as a table of day-adjusted minutes, counts and temperatures.
//
// The minute field of older files could restart after midnight; a drop of more than 1000
// minutes from one record to the next is read as a new day (1440 minutes added from there on).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "core/reporting/report/report_tables.h"
#include "core/reporting/report/resample.h"

namespace lumivo::reporting {

// A window is at least 500 readings taken at least 30 ms apart, so a recording holds at most
// four records a minute; the longest recording a report covers is kMaxReportMinutes. A
// counts.bin with more records than that was not written by a recording.
inline constexpr std::int64_t kMaxWindowsPerMinute = 4;
inline constexpr std::uint64_t kMaxCountsRecords =
    static_cast<std::uint64_t>(kMaxWindowsPerMinute * (kMaxReportMinutes + 1));
// A window's count on a channel: at most one event per reading of the 500 the activity
// calculation reads, never below 0. Anything else comes from a damaged file.
inline constexpr std::int16_t kMaxWindowCount = 500;

// Every whole record of a counts.bin image, minutes as stored (an incomplete tail is ignored).
RecordTable ParseCountsRecords(std::span<const std::uint8_t> bytes);
// The same from a file, read piece by piece into the table. Throws std::runtime_error with a
// message naming the file when it cannot be read, is not a regular file, or is larger than any
// recording can be (CountsFileTooLarge: refused before anything is read).
RecordTable ReadCountsRecords(const std::filesystem::path& counts_file);
// The refusal of a counts.bin of `bytes` bytes that holds more than kMaxCountsRecords records,
// saying why; nullopt for a size a recording can have.
std::optional<std::string> CountsFileTooLarge(const std::filesystem::path& counts_file,
                                              std::uint64_t bytes);

// Removes the records that hold an impossible count (below 0 or above kMaxWindowCount) on any
// channel 0..383; returns how many were removed.
std::size_t DropImpossibleRecords(RecordTable& table);
// "3 of 32000 records hold impossible counts (below 0 or above 500) and were left out".
std::string ImpossibleRecordsText(std::size_t dropped, std::size_t total);

// Where the minutes of a counts.bin stop running forward: the first record whose day-adjusted
// minute lies below its predecessor's (a damaged file, or a second run written into the same
// file). A drop of more than 1000 minutes from a minute of the first day that goes on within
// the hour (1439 then 5) is the roll-over of an older file's day, not a step back.
struct BackwardStep {
    std::size_t record = 0;        // the first record that goes back
    std::int32_t from_minute = 0;  // its predecessor's minute, as stored
    std::int32_t to_minute = 0;    // its own minute, as stored
};
std::optional<BackwardStep> FirstBackwardStep(const RecordTable& stored);
// "counts.bin goes back in time at record 120 (from minute 60 to minute 2): records 0 to 119
// are read, the 30 after them are left out (a damaged file, or two runs written into one)".
std::string BackwardStepText(const std::filesystem::path& counts_file, const BackwardStep& step,
                             std::size_t total);

// `ScanActivityDuration`: the largest of day x 1440 + minute over the records before the first
// step back, the day growing by one after a record more than 1000 minutes below its
// predecessor. 0 for an empty table.
std::int32_t ScanActivityDuration(const RecordTable& stored);
std::int32_t ScanActivityDuration(const std::filesystem::path& counts_file);

// `LoadActivityFile`: fills `out` with the records 0..last, the records before the first step
// back (FirstBackwardStep; none of the records after it belongs to the same run), and returns
// last; -1 for an empty table. Minutes are day-adjusted. `step` (when given) gets the step back,
// or nullopt. Pass the stored table by std::move to reuse its memory.
int LoadActivityFile(RecordTable stored, RecordTable& out,
                     std::optional<BackwardStep>* step = nullptr);
int LoadActivityFile(const std::filesystem::path& counts_file, RecordTable& out);

// The largest minute of records 0..last (0 for none).
std::int32_t LargestMinute(const RecordTable& table, int last);

}  // namespace lumivo::reporting
