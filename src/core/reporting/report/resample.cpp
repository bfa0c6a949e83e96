#include "core/reporting/report/resample.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "core/common/rounding.h"

namespace lumivo::reporting {

namespace {

// More records than any recording can hold: beyond this the sums could overflow.
constexpr std::int64_t kMaxRecords = 50'000'000;
// Window lengths are compared with this much slack (minutes), so that a length computed from
// whole minutes (exactly 1, exactly 0.5) is not taken for a hair more or less.
constexpr double kSlack = 1e-9;

std::int32_t Clamp32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::int64_t MinuteOf(const RecordTable& r, int j) {
    return r.minutes[static_cast<std::size_t>(j)];
}

// The typical step between records: the median of the positive steps (windows shorter than a
// minute repeat minutes), at least 1.
std::int64_t TypicalStep(const RecordTable& r, int last) {
    std::vector<std::int64_t> steps;
    for (int j = 1; j <= last; ++j) {
        const std::int64_t d = MinuteOf(r, j) - MinuteOf(r, j - 1);
        if (d > 0) steps.push_back(d);
    }
    if (steps.empty()) return 1;
    const auto mid = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), mid, steps.end());
    return std::max<std::int64_t>(1, *mid);
}

}  // namespace

double RecordingWindowMinutes(const RecordTable& r, int last) {
    if (last < 1 || static_cast<std::size_t>(last) >= r.size()) return 0.0;
    // Steps of more than twice the typical step are gaps (a pause, a lost instrument); a span
    // that holds one says nothing about the windows.
    const std::int64_t typical = TypicalStep(r, last);
    const std::int64_t gap = 2 * typical;
    std::vector<int> gaps_before(static_cast<std::size_t>(last) + 1, 0);  // gap steps in (0, j]
    int longest = 0, run = 0, steps = 0, typical_steps = 0;
    for (int j = 1; j <= last; ++j) {
        const std::int64_t d = MinuteOf(r, j) - MinuteOf(r, j - 1);
        const bool is_gap = d > gap || d < 0;
        gaps_before[static_cast<std::size_t>(j)] =
            gaps_before[static_cast<std::size_t>(j - 1)] + (is_gap ? 1 : 0);
        run = is_gap ? 0 : run + 1;
        longest = std::max(longest, run);
        if (is_gap) continue;
        ++steps;
        typical_steps += d == typical ? 1 : 0;
    }
    if (longest == 0) return static_cast<double>(typical);
    // Windows of whole minutes step by the same minutes nearly always (a lost window now and
    // then steps twice as far): their length is that step, exactly.
    if (20 * typical_steps >= 19 * steps) return static_cast<double>(typical);
    // Otherwise the median span over k steps: a short recording's whole stretch, a long one's
    // spans of a quarter of its longest stretch (up to a day of one-minute steps).
    const int k = longest <= 200 ? longest : std::clamp(longest / 4, 200, kWindowSpanSteps);
    std::vector<std::int64_t> spans;
    for (int j = 0; j + k <= last; ++j) {
        if (gaps_before[static_cast<std::size_t>(j + k)] !=
            gaps_before[static_cast<std::size_t>(j)])
            continue;
        spans.push_back(MinuteOf(r, j + k) - MinuteOf(r, j));
    }
    const auto mid = spans.begin() + static_cast<std::ptrdiff_t>(spans.size() / 2);
    std::nth_element(spans.begin(), mid, spans.end());
    const double w = static_cast<double>(*mid) / k;
    return w > 0.0 ? w : static_cast<double>(typical);
}

std::int32_t BinForWindows(std::int32_t bin_size, double w) {
    if (!(w > 0.0) || !std::isfinite(w) || bin_size < 1) return bin_size;
    // Windows of whole minutes fill bins of whole windows regularly: one a minute in one-minute
    // bins.
    const double whole = std::round(w);
    if (whole >= 1.0 && std::abs(w - whole) <= kSlack &&
        bin_size % static_cast<std::int64_t>(whole) == 0)
        return bin_size;
    auto fits = [&](std::int64_t b) {
        const double per_bin = static_cast<double>(b) / w;
        const double fewest = std::floor(per_bin + kSlack);
        return fewest >= 2.0 && fewest * w + kSlack >= kCoveredShare * static_cast<double>(b);
    };
    std::int64_t b = bin_size;
    // A bin of four windows or more always fits: the loop ends there at the latest, and at the
    // longest bin a report holds (windows of days, from a damaged file, fit no bin at all).
    const std::int64_t limit = std::min<std::int64_t>(
        std::max<std::int64_t>(b,
                               static_cast<std::int64_t>(std::ceil(std::min(4.0 * w, 1e12))) + 1),
        kMaxReportMinutes);
    while (b < limit && !fits(b)) ++b;
    return Clamp32(std::min<std::int64_t>(b, kMaxReportMinutes));
}

int ResampleActivity(std::int32_t& length, int last, std::int32_t bin_size,
                     const RecordTable& records, BinTable& bins, double window_minutes,
                     std::string* failure, std::int64_t max_minutes) {
    auto fail = [&](const std::string& why) {
        if (failure) *failure = why;
        return -1;
    };
    bins.Resize(0);
    const std::int64_t len = length;
    const std::int64_t size = bin_size;
    if (last < 1 || last > kMaxRecords || static_cast<std::size_t>(last) >= records.size())
        return fail("fewer than two records");
    if (len < 1) return fail("the records hold no minute of activity");
    if (len > max_minutes)
        return fail("the records reach minute " + std::to_string(len) +
                    ", more than a report can hold (" + std::to_string(max_minutes) + " minutes)");
    if (size < 1) return fail("a bin size below one minute");
    const std::int64_t n = DivideRoundHalfEven(len, size);  // CInt(length / bin size)
    if (n < 1)
        return fail("the recording (" + std::to_string(len) +
                    " min) is shorter than half a bin of " + std::to_string(size) + " min");
    const double w = window_minutes > 0.0 ? window_minutes : RecordingWindowMinutes(records, last);
    bins.Resize(static_cast<std::size_t>(n));
    bins.window_minutes = w;

    // Sums of whole records per bin, in wide integers.
    std::vector<std::int64_t> sums(static_cast<std::size_t>(n) * kChannelCount, 0);
    for (int j = 0; j <= last; ++j) {
        const std::int64_t minute = MinuteOf(records, j);
        const std::int64_t k = minute <= 0 ? 0 : (minute - 1) / size;
        if (k >= n) continue;
        const auto uk = static_cast<std::size_t>(k);
        const std::int16_t* row = &records.counts[static_cast<std::size_t>(j) * kChannelTableSize];
        std::int64_t* sum = &sums[uk * kChannelCount];
        for (std::size_t c = 0; c < static_cast<std::size_t>(kChannelCount); ++c) sum[c] += row[c];
        const std::int16_t temp = records.temperature[static_cast<std::size_t>(j)];
        if (temp > 0) bins.temperature[uk] = temp;
        ++bins.records[uk];
    }

    std::int64_t last_present = -1;
    const double full = static_cast<double>(size);
    for (std::int64_t k = 0; k < n; ++k) {
        const auto uk = static_cast<std::size_t>(k);
        bins.minutes[uk] = Clamp32((k + 1) * size);
        const double covered = static_cast<double>(bins.records[uk]) * w;
        if (bins.records[uk] == 0 || covered + kSlack < kCoveredShare * full) continue;
        bins.present[uk] = 1;
        last_present = k;
        const std::int64_t* sum = &sums[uk * kChannelCount];
        // Records that fill the bin exactly keep their plain sum.
        const bool whole = std::abs(covered - full) <= kSlack * full;
        const double scale = full / covered;
        for (std::size_t c = 0; c < static_cast<std::size_t>(kChannelCount); ++c) {
            bins.count(uk, c) =
                whole ? Clamp32(sum[c]) : RoundToInt32(static_cast<double>(sum[c]) * scale);
        }
    }
    if (last_present < 0)
        return fail("no bin of " + std::to_string(size) +
                    " min is covered for three quarters by "
                    "the recording's windows (" +
                    WindowLengthText(w) + " each, " + std::to_string(len) + " min in all)");
    length = Clamp32((last_present + 1) * size);
    return static_cast<int>(last_present);
}

std::int32_t CorrectBinSize(std::int64_t requested, std::int32_t length) {
    std::int64_t bin = requested < 1 ? 1 : requested;
    if (bin > length) bin = length > 30 ? (length / 15) * 15 : length;
    return Clamp32(std::max<std::int64_t>(bin, 1));
}

std::string BinCorrectionText(std::int64_t requested, std::int32_t corrected, std::int32_t length) {
    if (requested == corrected) return {};
    if (requested < 1)
        return "a bin of " + std::to_string(requested) +
               " min holds nothing: bin size corrected to " + std::to_string(corrected) + " min";
    return "the recording (" + std::to_string(length) + " min) is shorter than the bin of " +
           std::to_string(requested) + " min: bin size corrected to " + std::to_string(corrected) +
           " min";
}

std::string BinRaisedText(std::int32_t bin_size, std::int32_t fitted, double w) {
    if (bin_size == fitted) return {};
    return "bins of " + std::to_string(bin_size) +
           " min cannot hold enough of the recording's windows (" + WindowLengthText(w) +
           ") to be told apart from how the windows fall: bin size raised to " +
           std::to_string(fitted) + " min";
}

std::string WindowLengthText(double w) {
    char text[48];
    const double seconds = w * 60.0;
    if (seconds < 119.5)
        std::snprintf(text, sizeof text, "%.0f s", seconds);
    else if (std::abs(w - std::round(w)) < 0.05)
        std::snprintf(text, sizeof text, "%.0f min", w);
    else
        std::snprintf(text, sizeof text, "%.1f min", w);
    return text;
}

}  // namespace lumivo::reporting
