#include "core/reporting/report/activity_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>
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
    t.counts.resize(n * kChannelTableSize);
    for (std::size_t j = 0; j < n; ++j) {
        const CountsRecord& r = contents.records[j];
        t.minutes.push_back(r.elapsed_minutes);
        t.temperature.push_back(r.temperature_tenths());
        std::copy(r.values.begin(), r.values.end(),
                  t.counts.begin() + static_cast<std::ptrdiff_t>(j * kChannelTableSize));
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

std::optional<std::string> CountsFileTooLarge(const std::filesystem::path& counts_file,
                                              std::uint64_t bytes) {
    const std::uint64_t records = bytes / kCountsRecordSize;
    if (records <= kMaxCountsRecords) return std::nullopt;
    return counts_file.string() + " holds " + std::to_string(records) +
           " records: more than any recording can write (at most " +
           std::to_string(kMaxCountsRecords) + ", four windows a minute for " +
           std::to_string(kMaxReportMinutes) +
           " minutes). It was not read; check that it is an acquisition's activity file.";
}

RecordTable ReadCountsRecords(const std::filesystem::path& counts_file) {
    auto fail = [&](const std::string& why) {
        return std::runtime_error("cannot read " + counts_file.string() + ": " + why);
    };
    // Non-blocking, so that a FIFO or a device cannot hold the open.
    const int fd = ::open(counts_file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw fail(std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw fail(std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw fail("not a regular file");
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (auto refusal = CountsFileTooLarge(counts_file, size)) throw std::runtime_error(*refusal);

    const std::size_t n = static_cast<std::size_t>(size / kCountsRecordSize);
    RecordTable t;
    t.minutes.reserve(n);
    t.temperature.reserve(n);
    t.counts.reserve(n * kChannelTableSize);
    constexpr std::size_t kChunkRecords = 1024;
    std::vector<std::uint8_t> chunk(kChunkRecords * kCountsRecordSize);
    std::size_t done = 0;
    while (done < n) {
        const std::size_t want = std::min(kChunkRecords, n - done) * kCountsRecordSize;
        std::size_t got = 0;
        while (got < want) {
            const ssize_t r = ::read(fd, chunk.data() + got, want - got);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) throw fail(std::strerror(errno));
            if (r == 0) break;  // the file shrank: keep the whole records read
            got += static_cast<std::size_t>(r);
        }
        const std::size_t records = got / kCountsRecordSize;
        for (std::size_t i = 0; i < records; ++i) {
            const CountsRecord r = DecodeCountsRecord(std::span<const std::uint8_t>(chunk)
                                                          .subspan(i * kCountsRecordSize)
                                                          .first<kCountsRecordSize>());
            t.minutes.push_back(r.elapsed_minutes);
            t.temperature.push_back(r.temperature_tenths());
            t.counts.insert(t.counts.end(), r.values.begin(), r.values.end());
        }
        done += records;
        if (got < want) break;
    }
    return t;
}

std::size_t DropImpossibleRecords(RecordTable& table) {
    const std::size_t n = table.size();
    std::size_t kept = 0;
    for (std::size_t j = 0; j < n; ++j) {
        const std::int16_t* row = &table.counts[j * kChannelTableSize];
        const bool possible = std::all_of(row, row + kChannelCount, [](std::int16_t v) {
            return v >= 0 && v <= kMaxWindowCount;
        });
        if (!possible) continue;
        if (kept != j) {
            table.minutes[kept] = table.minutes[j];
            table.temperature[kept] = table.temperature[j];
            std::copy(row, row + kChannelTableSize,
                      table.counts.begin() + static_cast<std::ptrdiff_t>(kept * kChannelTableSize));
        }
        ++kept;
    }
    table.minutes.resize(kept);
    table.temperature.resize(kept);
    table.counts.resize(kept * kChannelTableSize);
    return n - kept;
}

std::string ImpossibleRecordsText(std::size_t dropped, std::size_t total) {
    return std::to_string(dropped) + " of " + std::to_string(total) +
           " records hold impossible counts (below 0 or above " + std::to_string(kMaxWindowCount) +
           ") and were left out";
}

namespace {

// A drop of more than 1000 minutes starts a new day when it comes from a minute of the first
// day (older files counted the time of day) and the run goes on within the hour.
constexpr std::int64_t kRollOverWithin = 60;

bool IsDayRollOver(std::int64_t from, std::int64_t to) {
    return from - to > kDayDropMinutes && from < kMinutesPerDay &&
           to + kMinutesPerDay - from <= kRollOverWithin;
}

// The day-adjusted minutes of the records before the first step back.
std::vector<std::int32_t> AdjustedRun(const RecordTable& stored,
                                      std::optional<BackwardStep>* step) {
    std::vector<std::int32_t> adjusted;
    adjusted.reserve(stored.size());
    std::int64_t day = 0;
    if (step) step->reset();
    for (std::size_t j = 0; j < stored.size(); ++j) {
        const std::int32_t minute = stored.minutes[j];
        if (j > 0) {
            const std::int32_t before = stored.minutes[j - 1];
            if (IsDayRollOver(before, minute)) ++day;
            const std::int32_t v = DayMinute(day, minute);
            if (v < adjusted.back()) {
                if (step) *step = BackwardStep{j, before, minute};
                break;
            }
            adjusted.push_back(v);
            continue;
        }
        adjusted.push_back(DayMinute(day, minute));
    }
    return adjusted;
}

}  // namespace

std::optional<BackwardStep> FirstBackwardStep(const RecordTable& stored) {
    std::optional<BackwardStep> step;
    (void)AdjustedRun(stored, &step);
    return step;
}

std::string BackwardStepText(const std::filesystem::path& counts_file, const BackwardStep& step,
                             std::size_t total) {
    const std::size_t after = total - step.record;
    return counts_file.string() + " goes back in time at record " + std::to_string(step.record) +
           " (from minute " + std::to_string(step.from_minute) + " to minute " +
           std::to_string(step.to_minute) + "): records 0 to " + std::to_string(step.record - 1) +
           " are read, the " + std::to_string(after) + (after == 1 ? " record" : " records") +
           " from there on " + (after == 1 ? "is" : "are") +
           " left out (a damaged file, or two runs written into one)";
}

std::int32_t ScanActivityDuration(const RecordTable& stored) {
    const auto step = FirstBackwardStep(stored);
    const std::size_t n = step ? step->record : stored.size();
    std::int64_t day = 0;
    std::int32_t largest = 0;
    for (std::size_t j = 0; j < n; ++j) {
        const std::int32_t minute = stored.minutes[j];
        const std::int32_t v = DayMinute(day, minute);
        if (j == 0 || v > largest) largest = v;
        // The day grows for the records after the one that dropped back.
        if (j > 0 && std::int64_t{stored.minutes[j - 1]} - minute > kDayDropMinutes) ++day;
    }
    return n == 0 ? 0 : largest;
}

std::int32_t ScanActivityDuration(const std::filesystem::path& counts_file) {
    return ScanActivityDuration(ReadCountsRecords(counts_file));
}

int LoadActivityFile(RecordTable stored, RecordTable& out, std::optional<BackwardStep>* step) {
    out = RecordTable{};
    if (stored.size() == 0) {
        if (step) step->reset();
        return -1;
    }
    std::vector<std::int32_t> adjusted = AdjustedRun(stored, step);
    const std::size_t count = adjusted.size();
    stored.temperature.resize(count);
    stored.counts.resize(count * kChannelTableSize);
    out.minutes = std::move(adjusted);
    out.temperature = std::move(stored.temperature);
    out.counts = std::move(stored.counts);
    return static_cast<int>(count) - 1;
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
