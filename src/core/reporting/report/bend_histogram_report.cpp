#include "core/reporting/report/bend_histogram_report.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <string>

#include "core/acquisition/data_files.h"
#include "core/common/rounding.h"
#include "core/reporting/report/group_statistics.h"
#include "core/reporting/report/resample.h"

namespace lumivo::reporting {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kIntervals = HistogramTables::kIntervals;
constexpr long long kPageWindows = static_cast<long long>(kWindowsPerRawPage);
static_assert(kIntervals == kHistogramBinCount);

// The page number of "histoNNNN.bin", or -1 for another name.
long long HistogramPage(const std::string& name) {
    constexpr std::string_view prefix = "histo";
    constexpr std::string_view suffix = ".bin";
    if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return -1;
    const std::string digits =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    return std::stoll(digits);
}

}  // namespace

std::vector<std::string> HistogramFileNames(FileSystem& files, const fs::path& folder) {
    std::vector<std::pair<long long, std::string>> pages;
    for (const std::string& name : files.ListFiles(folder)) {
        const long long page = HistogramPage(name);
        if (page >= 0) pages.emplace_back(page, name);
    }
    std::sort(pages.begin(), pages.end());
    std::vector<std::string> names;
    for (auto& p : pages) names.push_back(std::move(p.second));
    return names;
}

std::optional<HistogramTables> LoadBendHistograms(FileSystem& files, const fs::path& folder,
                                                  const ReportInputs& inputs,
                                                  const GroupStatistics& stats,
                                                  std::int32_t bin_size, std::string* failure) {
    auto fail = [&](const std::string& why) -> std::optional<HistogramTables> {
        if (failure) *failure = why;
        return std::nullopt;
    };
    const std::vector<std::string> names = HistogramFileNames(files, folder);
    if (names.empty()) return fail("there is no histoNNNN.bin file in " + folder.string());
    if (bin_size < 1) return fail("a bin size below one minute");

    HistogramTables h;
    h.group_count = stats.group_count;
    h.well_count = inputs.max_well_index + 1;
    h.bin_count = stats.bin_count;
    const auto width = static_cast<std::size_t>(h.bin_count + 1);
    h.group.assign(static_cast<std::size_t>(h.group_count) * width * kIntervals, 0);
    h.group_sd.assign(h.group.size(), 0);
    h.well.assign(static_cast<std::size_t>(std::max(h.well_count, 0)) * width * kIntervals, 0);
    h.bin_known.assign(width, false);

    // Members of each group, as the group statistics take them.
    std::vector<std::vector<int>> members(static_cast<std::size_t>(h.group_count));
    for (int w = 0; w < h.well_count; ++w) {
        const int first = inputs.FirstChannel(w);
        if (first < 0 || first >= kChannelCount || !inputs.InGroup(first)) continue;
        const int g = inputs.channel_group[static_cast<std::size_t>(first)];
        if (g < h.group_count) members[static_cast<std::size_t>(g)].push_back(w);
    }
    // The channels whose histograms the report uses: a record is checked on these.
    std::vector<std::size_t> used;
    for (int w = 0; w < h.well_count; ++w)
        for (int b = 0; b <= inputs.max_beam_index; ++b) {
            const int c = inputs.WellChannel(w, b);
            if (c >= 0 && c < kChannelCount) used.push_back(static_cast<std::size_t>(c));
        }

    // The accumulated histogram at the end of the previous bin (zero at the start of the run)
    // and the latest valid one. A bin's increase is known only when the previous bin's end is
    // known and a valid record lies in the bin: a bin without records (a missing or damaged
    // file, a gap) has no histogram, and neither has the bin after it, whose increase would
    // hold the gap's.
    std::vector<std::int32_t> previous(kHistogramCellCount, 0);
    std::vector<std::int32_t> latest(kHistogramCellCount, 0);
    bool previous_known = true;
    bool record_in_bin = false;
    double last_minute = 0.0;
    std::size_t valid = 0;
    std::vector<std::int32_t> well_values(static_cast<std::size_t>(std::max(h.well_count, 0)) *
                                          kIntervals);
    int current = 1;
    auto finish_bin = [&](int bin) {
        const bool known = previous_known && record_in_bin;
        previous_known = record_in_bin;
        record_in_bin = false;
        if (!known) {
            previous = latest;
            return;
        }
        h.bin_known[static_cast<std::size_t>(bin)] = true;
        for (int w = 0; w < h.well_count; ++w) {
            for (std::size_t i = 0; i < kIntervals; ++i) {
                std::int64_t sum = 0;
                std::int64_t beams = 0;
                for (int b = 0; b <= inputs.max_beam_index; ++b) {
                    const int c = inputs.WellChannel(w, b);
                    if (c < 0 || c >= kChannelCount) continue;
                    const std::size_t cell = kChannelTableSize * i + static_cast<std::size_t>(c);
                    sum += std::int64_t{latest[cell]} - previous[cell];
                    ++beams;
                }
                const auto v =
                    static_cast<std::int32_t>(beams > 0 ? DivideRoundHalfEven(sum, beams) : 0);
                well_values[static_cast<std::size_t>(w) * kIntervals + i] = v;
                h.well[(static_cast<std::size_t>(w) * width + static_cast<std::size_t>(bin)) *
                           kIntervals +
                       i] = v;
            }
        }
        for (std::size_t g = 0; g < members.size(); ++g) {
            if (members[g].empty()) continue;
            const auto count = static_cast<std::int64_t>(members[g].size());
            for (std::size_t i = 0; i < kIntervals; ++i) {
                std::int64_t sum = 0;
                for (int w : members[g])
                    sum += well_values[static_cast<std::size_t>(w) * kIntervals + i];
                const auto mean = static_cast<std::int32_t>(DivideRoundHalfEven(sum, count));
                long double squares = 0;
                for (int w : members[g]) {
                    const long double d =
                        static_cast<long double>(
                            well_values[static_cast<std::size_t>(w) * kIntervals + i]) -
                        mean;
                    squares += d * d;
                }
                const std::size_t at = h.GroupAt(static_cast<int>(g), bin, static_cast<int>(i));
                h.group[at] = mean;
                h.group_sd[at] = GroupStandardDeviation(squares, count);
            }
        }
        previous = latest;
    };
    // A record of an accumulated histogram: at a real minute, not before the last valid one,
    // and no cell of a used channel below 0 or below the same cell of the last valid record.
    auto possible = [&](const HistogramRecord& r) {
        const double minute = r.elapsed_minutes_exact;
        if (!std::isfinite(minute) || minute < last_minute ||
            minute > static_cast<double>(kMaxReportMinutes))
            return false;
        for (std::size_t i = 0; i < kIntervals; ++i)
            for (std::size_t c : used) {
                const std::size_t cell = kChannelTableSize * i + c;
                if (r.cells[cell] < 0 || r.cells[cell] < latest[cell]) return false;
            }
        return true;
    };

    long long expected_page = HistogramPage(names.front());
    for (std::size_t f = 0; f < names.size(); ++f) {
        const std::string& name = names[f];
        const long long page = HistogramPage(name);
        if (page > expected_page)
            h.notes.push_back(page == expected_page + 1
                                  ? HistogramFileName(static_cast<int>(expected_page)) +
                                        " is missing (windows " +
                                        std::to_string(expected_page * kPageWindows + 1) + " to " +
                                        std::to_string((expected_page + 1) * kPageWindows) + ")"
                                  : "histo" + std::to_string(page - expected_page) +
                                        " files before " + name + " are missing");
        expected_page = page + 1;
        std::string bytes;
        try {
            bytes = files.ReadFile(folder / name);
        } catch (const std::exception& e) {
            h.notes.push_back(name + " cannot be read (" + e.what() + ")");
            continue;
        }
        const HistogramFileContents contents = ParseHistogramFile(std::span<const std::uint8_t>(
            reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        if (contents.ignored_tail_bytes > 0)
            h.notes.push_back(name + " ends in an incomplete record (" +
                              std::to_string(contents.ignored_tail_bytes) + " bytes left out)");
        else if (f + 1 < names.size() && contents.records.size() < kWindowsPerRawPage)
            h.notes.push_back(name + " holds " + std::to_string(contents.records.size()) + " of " +
                              std::to_string(kWindowsPerRawPage) + " windows");
        std::size_t impossible = 0;
        for (const HistogramRecord& r : contents.records) {
            if (!possible(r)) {
                ++impossible;
                continue;
            }
            const double exact_bin = std::ceil(r.elapsed_minutes_exact / bin_size);
            if (exact_bin > h.bin_count) break;  // beyond the reported length
            const int bin = exact_bin < 1.0 ? 1 : static_cast<int>(exact_bin);
            while (current < bin) finish_bin(current++);
            latest = r.cells;
            last_minute = r.elapsed_minutes_exact;
            record_in_bin = true;
            ++valid;
        }
        if (impossible > 0)
            h.notes.push_back(name + ": " + std::to_string(impossible) + " of " +
                              std::to_string(contents.records.size()) +
                              " records hold impossible values (a negative count, a time that "
                              "is not one, or less than an earlier record of the same "
                              "accumulated histogram) and were left out");
    }
    if (valid == 0)
        return fail("no valid body-bends histogram in " + folder.string() +
                    (h.notes.empty() ? std::string() : ": " + h.notes.front()));
    while (current <= h.bin_count) finish_bin(current++);
    int unknown = 0;
    for (int k = 1; k <= h.bin_count; ++k)
        if (stats.bin_present[static_cast<std::size_t>(k)] &&
            !h.bin_known[static_cast<std::size_t>(k)])
            ++unknown;
    if (unknown > 0)
        h.notes.push_back(std::to_string(unknown) + (unknown == 1 ? " bin has" : " bins have") +
                          " no histogram (no valid record in it or in the bin before) and " +
                          (unknown == 1 ? "is" : "are") + " left out");
    return h;
}

}  // namespace lumivo::reporting
