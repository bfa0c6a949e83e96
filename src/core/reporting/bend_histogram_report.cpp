#include "core/reporting/bend_histogram_report.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "core/acquisition/data_files.h"
#include "core/common/rounding.h"
#include "core/reporting/group_statistics.h"

namespace lumivo::reporting {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kIntervals = HistogramTables::kIntervals;
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
                                                  std::int32_t bin_size) {
    const std::vector<std::string> names = HistogramFileNames(files, folder);
    if (names.empty() || bin_size < 1) return std::nullopt;

    HistogramTables h;
    h.group_count = stats.group_count;
    h.well_count = inputs.max_well_index + 1;
    h.bin_count = stats.bin_count;
    const auto width = static_cast<std::size_t>(h.bin_count + 1);
    h.group.assign(static_cast<std::size_t>(h.group_count) * width * kIntervals, 0);
    h.group_sd.assign(h.group.size(), 0);
    h.well.assign(static_cast<std::size_t>(std::max(h.well_count, 0)) * width * kIntervals, 0);

    // Members of each group, as the group statistics take them.
    std::vector<std::vector<int>> members(static_cast<std::size_t>(h.group_count));
    for (int w = 0; w < h.well_count; ++w) {
        const int first = inputs.FirstChannel(w);
        if (first < 0 || first >= kChannelCount || !inputs.InGroup(first)) continue;
        const int g = inputs.channel_group[static_cast<std::size_t>(first)];
        if (g < h.group_count) members[static_cast<std::size_t>(g)].push_back(w);
    }

    // The accumulated histogram at the end of the previous bin and the latest one seen.
    std::vector<std::int32_t> previous(kHistogramCellCount, 0);
    std::vector<std::int32_t> latest(kHistogramCellCount, 0);
    std::vector<std::int32_t> well_values(static_cast<std::size_t>(std::max(h.well_count, 0)) *
                                          kIntervals);
    int current = 1;
    auto finish_bin = [&](int bin) {
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

    try {
        for (const std::string& name : names) {
            const std::string bytes = files.ReadFile(folder / name);
            const HistogramFileContents contents = ParseHistogramFile(std::span<const std::uint8_t>(
                reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
            for (const HistogramRecord& r : contents.records) {
                const double minute = r.elapsed_minutes_exact;
                if (!std::isfinite(minute)) continue;
                const double exact_bin = std::ceil(minute / bin_size);
                if (exact_bin > h.bin_count) continue;  // beyond the reported length
                const int bin = exact_bin < 1.0 ? 1 : static_cast<int>(exact_bin);
                while (current < bin) finish_bin(current++);
                latest = r.cells;
            }
        }
    } catch (const std::exception&) {
        return std::nullopt;
    }
    while (current <= h.bin_count) finish_bin(current++);
    return h;
}

}  // namespace lumivo::reporting
