#include "core/reporting/resample.h"

#include <algorithm>
#include <array>
#include <limits>

#include "core/analysis/rounding.h"

namespace lumivo::reporting {

namespace {

// Steps of 0.02 minutes per minute.
constexpr std::int64_t kStepsPerMinute = 50;
// More records than any recording can hold: beyond this the exact sums could overflow.
constexpr std::int64_t kMaxRecords = 50'000'000;

std::int32_t Clamp32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// Regular records: each record's count is spread evenly over the steps it lasts. Step t (from
// 0) belongs to record (t - 1) / S and bin (t - 1) / Bs, step 0 to record 0 and bin 0: a record
// or bin ends at the first step at which its accumulated 0.02 minutes reach its length, and the
// accumulator of the next one starts one step later. The walk stops when the records (0..last-1)
// or the bins (0..n) run out.
void SpreadRegular(std::int64_t length, std::int64_t last, std::int64_t bin_size, std::int64_t n,
                   const RecordTable& records, BinTable& bins) {
    const std::int64_t record_steps = (kStepsPerMinute * length + last - 1) / last;  // ceil(50 r)
    const std::int64_t bin_steps = kStepsPerMinute * bin_size;
    const std::int64_t total = std::min(last * record_steps, (n + 1) * bin_steps) + 1;
    // Sum of count x steps for the current bin; the bin's count is that sum times
    // 1 / (50 r) = last / (50 length), rounded once.
    std::array<std::int64_t, kBeams> sums{};
    std::int64_t current_bin = 0;
    auto flush = [&](std::int64_t k) {
        if (k < n) {
            for (std::size_t c = 0; c < static_cast<std::size_t>(kBeams); ++c)
                bins.count(static_cast<std::size_t>(k), c) =
                    Clamp32(DivideRoundHalfEven(sums[c] * last, kStepsPerMinute * length));
        }
        sums.fill(0);
    };
    auto add = [&](std::int64_t j, std::int64_t k, std::int64_t steps) {
        if (k != current_bin) {
            flush(current_bin);
            current_bin = k;
        }
        const std::int16_t* row = &records.counts[static_cast<std::size_t>(j) * kRowWidth];
        for (std::size_t c = 0; c < static_cast<std::size_t>(kBeams); ++c)
            sums[c] += std::int64_t{row[c]} * steps;
        const std::int16_t temp = records.temperature[static_cast<std::size_t>(j)];
        if (temp > 0 && k < n) bins.temperature[static_cast<std::size_t>(k)] = temp;
    };
    add(0, 0, 1);
    for (std::int64_t t = 1; t < total;) {
        const std::int64_t j = (t - 1) / record_steps;
        const std::int64_t k = (t - 1) / bin_steps;
        const std::int64_t end =
            std::min({1 + (j + 1) * record_steps, 1 + (k + 1) * bin_steps, total});
        add(j, k, end - t);
        t = end;
    }
    flush(current_bin);
}

// Irregular records: every record is added whole to the bin that holds its minute (bin k holds
// the minutes after k x bin size up to (k + 1) x bin size).
void AddIrregular(std::int64_t last, std::int64_t bin_size, std::int64_t n,
                  const RecordTable& records, BinTable& bins) {
    for (std::int64_t j = 0; j <= last; ++j) {
        const std::int64_t minute = records.minutes[static_cast<std::size_t>(j)];
        const std::int64_t k = minute <= 0 ? 0 : (minute - 1) / bin_size;
        if (k >= n) continue;
        const auto uk = static_cast<std::size_t>(k);
        const std::int16_t* row = &records.counts[static_cast<std::size_t>(j) * kRowWidth];
        for (std::size_t c = 0; c < static_cast<std::size_t>(kBeams); ++c) {
            std::int32_t& cell = bins.count(uk, c);
            cell = Clamp32(std::int64_t{cell} + row[c]);
        }
        const std::int16_t temp = records.temperature[static_cast<std::size_t>(j)];
        if (temp > 0) bins.temperature[uk] = temp;
    }
}

}  // namespace

bool RecordsAreIrregular(const RecordTable& records, int last) {
    if (last < 1 || static_cast<std::size_t>(last) >= records.size()) return false;
    const std::int64_t first = std::int64_t{records.minutes[1]} - records.minutes[0];
    if (first == 0) return false;
    for (std::size_t i = 1; i <= static_cast<std::size_t>(last); ++i) {
        const std::int64_t gap = std::int64_t{records.minutes[i]} - records.minutes[i - 1];
        if (gap > 0 && gap > 2 * first) return true;
    }
    return false;
}

int ResampleActivity(std::int32_t& length, int last, std::int32_t bin_size,
                     const RecordTable& records, BinTable& bins) {
    bins.Resize(0);
    const std::int64_t len = length;
    const std::int64_t size = bin_size;
    if (last < 1 || last > kMaxRecords || static_cast<std::size_t>(last) >= records.size() ||
        len < 1 || len > kMaxReportMinutes || size < 1)
        return -1;
    const std::int64_t n = DivideRoundHalfEven(len, size);  // CInt(length / bin size)
    if (n < 1) return -1;
    bins.Resize(static_cast<std::size_t>(n));
    if (RecordsAreIrregular(records, last))
        AddIrregular(last, size, n, records, bins);
    else
        SpreadRegular(len, last, size, n, records, bins);
    for (std::int64_t k = 0; k < n; ++k)
        bins.minutes[static_cast<std::size_t>(k)] = Clamp32((k + 1) * size);

    // The partial last bin: p = rest x 100 / bin size percent of a bin.
    const std::int64_t whole = len / size;
    const std::int64_t rest = len - whole * size;
    std::int64_t covered = len;
    if (4 * rest >= 3 * size) {  // 75 <= p < 100: scale by 1 + (100 - p) / 100
        const auto last_bin = static_cast<std::size_t>(n - 1);
        for (std::size_t c = 0; c < static_cast<std::size_t>(kBeams); ++c) {
            std::int32_t& cell = bins.count(last_bin, c);
            cell = Clamp32(DivideRoundHalfEven(std::int64_t{cell} * (2 * size - rest), size));
        }
        covered = n * size;
    } else if (rest > 0) {  // 0 < p < 75: the partial bin is dropped
        covered = whole * size;
    }
    length = Clamp32(covered);
    return static_cast<int>(DivideRoundHalfEven(covered, size) - 1);
}

std::int32_t CorrectBinSize(std::int64_t requested, std::int32_t length) {
    std::int64_t bin = requested < 1 ? 1 : requested;
    if (bin > length) bin = length > 30 ? (length / 15) * 15 : length;
    return Clamp32(std::max<std::int64_t>(bin, 1));
}

}  // namespace lumivo::reporting
