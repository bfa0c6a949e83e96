// `ResampleActivity`: re-binning the per-record activity of an acquisition into bins of a chosen
// number of minutes. Bin k holds the minutes after k x bin size up to (k + 1) x bin size (minute
// 0 and anything before it in bin 0); a record's minute is the end of its window, and each
// record goes whole into the bin that holds its minute.
//
// A bin's value is the activity of the whole bin: the counts of its records scaled to the bin's
// length by the time those records cover (their number times the recording's window length).
// Windows do not fall evenly into bins (35-second windows put one or two records in each
// minute), and the scale makes a bin's value independent of how many windows happened to end in
// it. A bin whose records fill it regularly keeps its plain sum (one-minute records in
// 30-minute bins: 30 records of one minute, scale exactly 1). A bin covered for less than three
// quarters of its length (a pause, a lost instrument, the start or end of a recording) is
// missing: it holds no value, and nothing downstream may take it for zero activity.
//
// All conversions to whole numbers round halves to the even neighbour.
#pragma once

#include <cstdint>
#include <string>

#include "core/reporting/report/report_tables.h"

namespace lumivo::reporting {

// The longest recording the report accepts, in minutes: twice what one acquisition can hold
// (32,767 minutes), leaving room for the day roll-overs of older files, and a bound on the size
// of the tables.
inline constexpr std::int32_t kMaxReportMinutes = 2 * 32767;

// A bin counts when its records cover at least this share of it.
inline constexpr double kCoveredShare = 0.75;

// The recording's window length in minutes, from the minutes of records 0..last. Windows of
// whole minutes step by that many minutes nearly always: that step, exactly (1 for one-minute
// records, whatever a lost window or a pause does). Others step unevenly (35-second windows by
// 0 or 1 minute): the median span of many steps without a gap, divided by the steps. 0 for
// fewer than two records.
inline constexpr int kWindowSpanSteps = 1440;
double RecordingWindowMinutes(const RecordTable& records, int last);

// The shortest bin of at least `bin_size` whole minutes whose values do not depend on how the
// windows fall: it holds two windows, and the fewest whole windows it can hold cover three
// quarters of it (bins of 1 minute with 35-second windows become 2). `bin_size` itself when it
// does already, when it is a whole number of windows of whole minutes (one-minute records in
// one-minute bins: one record each), or when the window length is not known (0).
std::int32_t BinForWindows(std::int32_t bin_size, double window_minutes);

// Re-bins records 0..last into `bins` with bin size `bin_size` minutes; `length` (in/out) is the
// recording length in minutes. The table gets CInt(length / bin_size) bins, bin k ending at
// minute (k + 1) x bin_size, each present or missing. On return `length` is the end of the last
// present bin. `window_minutes` is the recording's window length (RecordingWindowMinutes when 0
// or less). Returns the index of the last bin to report, or -1 when nothing can be re-binned,
// with the reason in `failure`: no span, no bin, a length beyond `max_minutes`, or no bin
// covered for three quarters.
int ResampleActivity(std::int32_t& length, int last, std::int32_t bin_size,
                     const RecordTable& records, BinTable& bins, double window_minutes = 0.0,
                     std::string* failure = nullptr, std::int64_t max_minutes = kMaxReportMinutes);

// The bin size the report uses for a requested size: below 1 becomes 1; longer than the
// recording becomes Int(length / 15) x 15 when the recording is longer than 30 minutes, else the
// recording's length.
std::int32_t CorrectBinSize(std::int64_t requested, std::int32_t length);

// Why CorrectBinSize changed `requested` into `corrected` for a recording of `length` minutes
// ("" when it did not).
std::string BinCorrectionText(std::int64_t requested, std::int32_t corrected, std::int32_t length);
// Why BinForWindows raised `bin_size` to `fitted` for windows of `window_minutes` ("" when it
// did not).
std::string BinRaisedText(std::int32_t bin_size, std::int32_t fitted, double window_minutes);

// "35 s" or "10 min": a window length for messages.
std::string WindowLengthText(double window_minutes);

}  // namespace lumivo::reporting
