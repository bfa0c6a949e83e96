// Reading an acquisition's activity file (counts.bin) for a report: the length of the
// recording, and the records as a table of day-adjusted minutes, counts and temperatures.
//
// The minute field of older files could restart after midnight; a drop of more than 1000
// minutes from one record to the next is read as a new day (1440 minutes added from there on).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "core/reporting/report_tables.h"

namespace lumivo::reporting {

// Every whole record of a counts.bin image, minutes as stored (an incomplete tail is ignored).
RecordTable ParseCountsRecords(std::span<const std::uint8_t> bytes);
// The same from a file; throws std::runtime_error naming the file when it cannot be read.
RecordTable ReadCountsRecords(const std::filesystem::path& counts_file);

// `ScanActivityDuration`: the largest of day x 1440 + minute over the records, the day growing
// by one after a record more than 1000 minutes below its predecessor. 0 for an empty table.
std::int32_t ScanActivityDuration(const RecordTable& stored);
std::int32_t ScanActivityDuration(const std::filesystem::path& counts_file);

// `LoadActivityFile`: fills `out` with the records 0..last, where last is the last record whose
// day-adjusted minute is not below any earlier one (later records belong to no continuous
// run), and returns last; -1 for an empty table. Minutes are day-adjusted.
int LoadActivityFile(const RecordTable& stored, RecordTable& out);
int LoadActivityFile(const std::filesystem::path& counts_file, RecordTable& out);

// The largest minute of records 0..last (0 for none).
std::int32_t LargestMinute(const RecordTable& table, int last);

}  // namespace lumivo::reporting
