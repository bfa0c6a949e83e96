#include "core/reporting/activity_file.h"

#include <algorithm>
#include <vector>

#include "core/acquisition/data_files.h"

namespace lumivo::reporting {

namespace {

constexpr std::int32_t kMinutesPerDay = 1440;
constexpr std::int64_t kDayDropMinutes = 1000;

RecordTable FromContents(const CountsFileContents& contents) {
    RecordTable t;
    const std::size_t n = contents.records.size();
    t.minutes.reserve(n);
    t.temperature.reserve(n);
    t.counts.resize(n * kRowWidth);
    for (std::size_t j = 0; j < n; ++j) {
        const CountsRecord& r = contents.records[j];
        t.minutes.push_back(r.elapsed_minutes);
        t.temperature.push_back(r.temperature_tenths());
        std::copy(r.values.begin(), r.values.end(),
                  t.counts.begin() + static_cast<std::ptrdiff_t>(j * kRowWidth));
    }
    return t;
}

// Day-adjusted minute: saturates instead of wrapping on absurd day counts.
std::int32_t DayMinute(std::int64_t day, std::int32_t minute) {
    const std::int64_t v = day * kMinutesPerDay + minute;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

}  // namespace

RecordTable ParseCountsRecords(std::span<const std::uint8_t> bytes) {
    return FromContents(ParseCountsFile(bytes));
}

RecordTable ReadCountsRecords(const std::filesystem::path& counts_file) {
    return FromContents(ReadCountsFile(counts_file));
}

std::int32_t ScanActivityDuration(const RecordTable& stored) {
    std::int64_t day = 0;
    std::int32_t largest = 0;
    for (std::size_t j = 0; j < stored.size(); ++j) {
        const std::int32_t minute = stored.minutes[j];
        const std::int32_t v = DayMinute(day, minute);
        if (j == 0 || v > largest) largest = v;
        // The day grows for the records after the one that dropped back.
        if (j > 0 && std::int64_t{stored.minutes[j - 1]} - minute > kDayDropMinutes) ++day;
    }
    return stored.size() == 0 ? 0 : largest;
}

std::int32_t ScanActivityDuration(const std::filesystem::path& counts_file) {
    return ScanActivityDuration(ReadCountsRecords(counts_file));
}

int LoadActivityFile(const RecordTable& stored, RecordTable& out) {
    const std::size_t n = stored.size();
    out = RecordTable{};
    if (n == 0) return -1;
    // Day-adjusted minutes: a drop of more than 1000 minutes starts a new day at once.
    std::vector<std::int32_t> adjusted(n);
    std::int64_t day = 0;
    for (std::size_t j = 0; j < n; ++j) {
        adjusted[j] = DayMinute(day, stored.minutes[j]);
        if (j > 0 && std::int64_t{adjusted[j - 1]} - adjusted[j] > kDayDropMinutes) {
            ++day;
            adjusted[j] = DayMinute(day, stored.minutes[j]);
        }
    }
    // The last record that is not below any earlier one.
    std::size_t last = 0;
    std::int32_t running_max = adjusted[0];
    for (std::size_t j = 1; j < n; ++j) {
        if (adjusted[j] >= running_max) {
            last = j;
            running_max = adjusted[j];
        }
    }
    const std::size_t count = last + 1;
    out.minutes.assign(adjusted.begin(), adjusted.begin() + static_cast<std::ptrdiff_t>(count));
    out.temperature.assign(stored.temperature.begin(),
                           stored.temperature.begin() + static_cast<std::ptrdiff_t>(count));
    out.counts.assign(stored.counts.begin(),
                      stored.counts.begin() + static_cast<std::ptrdiff_t>(count * kRowWidth));
    return static_cast<int>(last);
}

int LoadActivityFile(const std::filesystem::path& counts_file, RecordTable& out) {
    return LoadActivityFile(ReadCountsRecords(counts_file), out);
}

std::int32_t LargestMinute(const RecordTable& table, int last) {
    std::int32_t largest = 0;
    for (int j = 0; j <= last && static_cast<std::size_t>(j) < table.size(); ++j)
        if (j == 0 || table.minutes[static_cast<std::size_t>(j)] > largest)
            largest = table.minutes[static_cast<std::size_t>(j)];
    return largest;
}

}  // namespace lumivo::reporting
