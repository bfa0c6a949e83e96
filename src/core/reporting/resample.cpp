#include "core/reporting/resample.h"

#include <algorithm>
#include <array>
#include <limits>

#include "core/common/rounding.h"

namespace lumivo::reporting {

namespace {

// More records than any recording can hold: beyond this the exact sums could overflow.
constexpr std::int64_t kMaxRecords = 50'000'000;

std::int32_t Clamp32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// Regular records: each record's count is spread evenly over its span, the minutes from the
// previous record's minute up to its own (record 0: one first interval before its minute, not
// before minute 0). A record whose span lies in one bin adds its whole count there; one whose
// span crosses a bin edge is split in proportion to the minutes on each side. The bins are the
// differences of the running totals at the bin edges, each total rounded once, so every bin is
// within one count of its exact share and the bins add up to the records exactly wherever an
// edge falls between records. Records beyond the last bin (n - 1) are not used.
void SpreadRegular(std::int64_t last, std::int64_t bin_size, std::int64_t n,
                   const RecordTable& records, BinTable& bins) {
    const auto minute = [&](std::int64_t j) {
        return std::int64_t{records.minutes[static_cast<std::size_t>(j)]};
    };
    std::int64_t first_interval = 0;
    for (std::int64_t j = 1; j <= last && first_interval == 0; ++j)
        first_interval = minute(j) - minute(j - 1);
    // Where record j's span starts (equal to its minute for an empty span).
    const auto span_start = [&](std::int64_t j) {
        const std::int64_t m = minute(j);
        if (m <= 0) return m;
        std::int64_t a = j == 0 ? m - std::max<std::int64_t>(first_interval, 0) : minute(j - 1);
        a = std::max({a, std::int64_t{0}, m - kMaxReportMinutes});
        return std::min(a, m);
    };

    std::array<std::int64_t, kChannelCount> whole{};  // records wholly up to the current edge
    std::array<std::int64_t, kChannelCount>
        rounded{};  // rounded running total at the previous edge
    std::int64_t j = 0;
    for (std::int64_t k = 0; k < n; ++k) {
        const auto uk = static_cast<std::size_t>(k);
        const std::int64_t edge = (k + 1) * bin_size;
        for (; j <= last && minute(j) <= edge; ++j) {
            const std::int16_t* row =
                &records.counts[static_cast<std::size_t>(j) * kChannelTableSize];
            for (std::size_t c = 0; c < static_cast<std::size_t>(kChannelCount); ++c)
                whole[c] += row[c];
            const std::int16_t temp = records.temperature[static_cast<std::size_t>(j)];
            if (temp > 0) bins.temperature[uk] = temp;
            ++bins.records[uk];
        }
        // The part of the next record's span that lies before the edge.
        std::int64_t part = 0;
        std::int64_t span = 1;
        const std::int16_t* next = nullptr;
        if (j <= last) {
            const std::int64_t a = span_start(j);
            if (a < edge) {
                part = edge - a;
                span = minute(j) - a;
                next = &records.counts[static_cast<std::size_t>(j) * kChannelTableSize];
            }
        }
        for (std::size_t c = 0; c < static_cast<std::size_t>(kChannelCount); ++c) {
            const std::int64_t total =
                next == nullptr ? whole[c]
                                : DivideRoundHalfEven(whole[c] * span + next[c] * part, span);
            bins.count(uk, c) = Clamp32(total - rounded[c]);
            rounded[c] = total;
        }
    }
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
        const std::int16_t* row = &records.counts[static_cast<std::size_t>(j) * kChannelTableSize];
        for (std::size_t c = 0; c < static_cast<std::size_t>(kChannelCount); ++c) {
            std::int32_t& cell = bins.count(uk, c);
            cell = Clamp32(std::int64_t{cell} + row[c]);
        }
        const std::int16_t temp = records.temperature[static_cast<std::size_t>(j)];
        if (temp > 0) bins.temperature[uk] = temp;
        ++bins.records[uk];
    }
}

}  // namespace

bool RecordsAreIrregular(const RecordTable& records, int last) {
    if (last < 1 || static_cast<std::size_t>(last) >= records.size()) return false;
    // The first interval that is not 0: windows shorter than a minute repeat minutes.
    std::int64_t first = 0;
    for (std::size_t i = 1; i <= static_cast<std::size_t>(last) && first == 0; ++i)
        first = std::int64_t{records.minutes[i]} - records.minutes[i - 1];
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
        SpreadRegular(last, size, n, records, bins);
    for (std::int64_t k = 0; k < n; ++k)
        bins.minutes[static_cast<std::size_t>(k)] = Clamp32((k + 1) * size);

    // The partial last bin: p = rest x 100 / bin size percent of a bin.
    const std::int64_t whole = len / size;
    const std::int64_t rest = len - whole * size;
    std::int64_t covered = len;
    if (4 * rest >= 3 * size) {  // 75 <= p < 100: scale by 1 + (100 - p) / 100
        const auto last_bin = static_cast<std::size_t>(n - 1);
        for (std::size_t c = 0; c < static_cast<std::size_t>(kChannelCount); ++c) {
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
