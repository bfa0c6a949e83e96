#include "core/reporting/report/group_statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/common/rounding.h"

namespace lumivo::reporting {

namespace {

std::int32_t Clamp32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

int ReportBinCount(std::int32_t length, std::int32_t bin_size) {
    if (bin_size < 1) return 1;
    return static_cast<int>(std::max<std::int64_t>(1, DivideRoundHalfEven(length, bin_size)));
}

bool WellValue(const ReportInputs& inputs, const BinTable& bins, int well, std::size_t k,
               std::int32_t& value) {
    std::int64_t sum = 0;
    std::int64_t beams = 0;
    for (int b = 0; b <= inputs.max_beam_index; ++b) {
        const int c = inputs.WellChannel(well, b);
        if (c < 0 || c >= kChannelCount) continue;
        sum += bins.count(k, static_cast<std::size_t>(c));
        ++beams;
    }
    if (beams == 0) return false;
    value = Clamp32(DivideRoundHalfEven(sum, beams));
    return true;
}

GroupStatistics ComputeGroupStatistics(const ReportInputs& inputs, const BinTable& bins,
                                       std::int32_t length, int last, std::int32_t bin_size) {
    GroupStatistics s;
    int largest_group = -1;
    for (int c = 0; c < kChannelCount; ++c) {
        const int g = inputs.channel_group[static_cast<std::size_t>(c)];
        if (inputs.InGroup(c) && g <= kLastGroupNumber) largest_group = std::max(largest_group, g);
    }
    s.group_count = largest_group + 1;
    s.bin_count = ReportBinCount(length, bin_size);
    const auto groups = static_cast<std::size_t>(s.group_count);
    const auto width = static_cast<std::size_t>(s.bin_count + 1);
    const int wells = inputs.max_well_index + 1;
    s.wells.assign(groups, 0);
    s.mean.assign(groups * width, 0);
    s.sd.assign(groups * width, 0);
    s.bin_present.assign(width, false);
    s.samples.assign(width, 0);
    s.temperature.assign(width, 0);
    s.well_activity.assign(static_cast<std::size_t>(std::max(wells, 0)) * width, 0);
    s.channel_activity.assign(width * kChannelTableSize, 0);

    // Members of each group: wells whose first channel belongs to it.
    std::vector<std::vector<int>> members(groups);
    for (int w = 0; w < wells; ++w) {
        const int first = inputs.FirstChannel(w);
        if (first < 0 || first >= kChannelCount || !inputs.InGroup(first)) continue;
        const int g = inputs.channel_group[static_cast<std::size_t>(first)];
        if (g < s.group_count) members[static_cast<std::size_t>(g)].push_back(w);
    }
    for (std::size_t g = 0; g < groups; ++g)
        s.wells[g] = static_cast<std::int32_t>(members[g].size());

    std::vector<std::int32_t> values(static_cast<std::size_t>(std::max(wells, 0)), 0);
    const int entries = std::min<int>(last, static_cast<int>(bins.size()) - 1);
    for (int k = 0; k <= entries; ++k) {
        const auto uk = static_cast<std::size_t>(k);
        if (!bins.Present(uk)) continue;  // not covered by the recording: no value, not zero
        const std::int64_t bin = bin_size > 0 ? DivideRoundHalfEven(bins.minutes[uk], bin_size) : 0;
        if (bin < 1 || bin > s.bin_count) continue;
        const auto ub = static_cast<std::size_t>(bin);
        s.bin_present[ub] = true;
        s.samples[ub] += uk < bins.records.size() ? bins.records[uk] : 0;
        s.temperature[ub] = bins.temperature[uk];
        for (std::size_t c = 0; c < kChannelTableSize; ++c)
            s.channel_activity[ub * kChannelTableSize + c] =
                c < static_cast<std::size_t>(kChannelCount) ? bins.count(uk, c)
                                                            : bins.temperature[uk];
        for (int w = 0; w < wells; ++w) {
            std::int32_t v = 0;
            if (!WellValue(inputs, bins, w, uk, v)) v = 0;
            values[static_cast<std::size_t>(w)] = v;
            s.well_activity[static_cast<std::size_t>(w) * width + ub] = v;
        }
        for (std::size_t g = 0; g < groups; ++g) {
            const auto& m = members[g];
            if (m.empty()) continue;
            std::int64_t sum = 0;
            for (int w : m) sum += values[static_cast<std::size_t>(w)];
            const auto count = static_cast<std::int64_t>(m.size());
            const std::int32_t mean = Clamp32(DivideRoundHalfEven(sum, count));
            s.mean[g * width + ub] = mean;
            // The deviations are whole numbers, so the rounded accumulation is exact.
            long double squares = 0;
            for (int w : m) {
                const long double d =
                    static_cast<long double>(values[static_cast<std::size_t>(w)]) - mean;
                squares += d * d;
            }
            s.sd[g * width + ub] = GroupStandardDeviation(squares, count);
        }
    }
    return s;
}

std::int32_t GroupStandardDeviation(long double squares, std::int64_t members) {
    if (members < 2) return 0;
    const long double variance = squares / static_cast<long double>(members - 1);
    return RoundToInt32(static_cast<double>(std::sqrt(variance)));
}

double StandardError(const GroupStatistics& stats, int group, int bin) {
    const std::int32_t wells = stats.wells[static_cast<std::size_t>(group)];
    const std::int32_t sd = stats.Sd(group, bin);
    if (wells < 1 || sd < 1) return 0.0;
    return sd / std::sqrt(static_cast<double>(wells));
}

}  // namespace lumivo::reporting
