// `ResampleActivity`: re-binning the per-record activity of an acquisition into bins of a chosen
// number of minutes. Bin k holds the minutes after k x bin size up to (k + 1) x bin size (minute
// 0 and anything before it in bin 0); a record's minute is the end of its window.
//
// Regular records (evenly spaced windows) are spread over their spans: a record covers the
// minutes since the previous record (the first one, one interval before its minute), so it
// lands whole in the bin that holds its minute unless its span crosses a bin edge, where it is
// split in proportion to the minutes on each side. The bins are differences of exact running
// totals rounded once, so the counts are conserved whatever the first minute and the interval.
// Records with a gap of more than twice the first non-zero interval are irregular: each record
// is added whole to the bin that holds its minute. Each bin also counts the records whose
// minute it holds.
//
// A last bin that is at least 75 % full is scaled up to a whole bin; a shorter one is dropped.
// All conversions to whole numbers round halves to the even neighbour.
#pragma once

#include <cstdint>

#include "core/reporting/report_tables.h"

namespace lumivo::reporting {

// The longest recording the report accepts, in minutes: twice what one acquisition can hold
// (32,767 minutes), leaving room for the day roll-overs of older files, and a bound on the size
// of the tables.
inline constexpr std::int32_t kMaxReportMinutes = 2 * 32767;

// Whether records 0..last are irregular: some pair of consecutive records with non-decreasing
// minutes lies more than twice the first non-zero interval apart.
bool RecordsAreIrregular(const RecordTable& records, int last);

// Re-bins records 0..last into `bins` with bin size `bin_size` minutes; `length` (in/out) is the
// recording length in minutes. The table gets CInt(length / bin_size) bins, bin k ending at
// minute (k + 1) x bin_size. On return `length` is the length the bins cover (scaled or dropped
// last bin). Returns the index of the last bin to report, or -1 when nothing can be re-binned
// (no span, no bin, a length beyond kMaxReportMinutes, or less than one bin left).
int ResampleActivity(std::int32_t& length, int last, std::int32_t bin_size,
                     const RecordTable& records, BinTable& bins);

// The bin size the report uses for a requested size: below 1 becomes 1; longer than the
// recording becomes Int(length / 15) x 15 when the recording is longer than 30 minutes, else the
// recording's length.
std::int32_t CorrectBinSize(std::int64_t requested, std::int32_t length);

}  // namespace lumivo::reporting
