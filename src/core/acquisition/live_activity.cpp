#include "core/acquisition/live_activity.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

namespace lumivo {
namespace {

std::size_t At(int i) {
    return static_cast<std::size_t>(i);
}

}  // namespace

ActivityLayout MakeActivityLayout(const PlateMap& plate, const ProjectState& project) {
    ActivityLayout layout;
    const int wells = std::clamp(plate.PlateRows * plate.PlateColumns, 0, kChannelCount);
    layout.wells.resize(At(wells));
    for (int w = 0; w < wells; ++w) layout.wells[At(w)].well = w;
    std::set<int> groups;
    for (int c = 0; c < kChannelCount; ++c) {
        const int well = plate.ChannelWell[At(c)];
        if (well < 0 || well >= wells) continue;
        ActivityLayout::Well& w = layout.wells[At(well)];
        if (project.ChannelEnabled[At(c)] == 0) {
            w.disabled.push_back(c);
            continue;
        }
        if (w.channels.empty()) {
            const int g = project.ChannelGroup[At(c)];
            w.group = (g >= 0 && g < kChannelCount) ? g : -1;
            if (w.group >= 0) groups.insert(w.group);
        }
        w.channels.push_back(c);
    }
    layout.groups.assign(groups.begin(), groups.end());
    return layout;
}

std::vector<double> WellCounts(const ActivityLayout& layout, const CountsRecord& record) {
    std::vector<double> out(layout.wells.size(), std::numeric_limits<double>::quiet_NaN());
    for (std::size_t i = 0; i < layout.wells.size(); ++i) {
        const auto& channels = layout.wells[i].channels;
        if (channels.empty()) continue;
        double sum = 0;
        for (int c : channels) sum += record.values[At(c)];
        out[i] = sum / static_cast<double>(channels.size());
    }
    return out;
}

std::vector<GroupActivity> GroupMeans(const ActivityLayout& layout,
                                      std::span<const double> well_counts) {
    std::vector<GroupActivity> out;
    out.reserve(layout.groups.size());
    for (int g : layout.groups) {
        GroupActivity a;
        a.group = g;
        double sum = 0;
        for (std::size_t i = 0; i < layout.wells.size() && i < well_counts.size(); ++i) {
            if (layout.wells[i].group != g || std::isnan(well_counts[i])) continue;
            sum += well_counts[i];
            ++a.wells;
        }
        if (a.wells > 0) a.mean = sum / a.wells;
        if (a.wells > 1) {
            double squares = 0;
            for (std::size_t i = 0; i < layout.wells.size() && i < well_counts.size(); ++i) {
                if (layout.wells[i].group != g || std::isnan(well_counts[i])) continue;
                squares += (well_counts[i] - a.mean) * (well_counts[i] - a.mean);
            }
            a.se = std::sqrt(squares / (a.wells - 1)) / std::sqrt(static_cast<double>(a.wells));
        }
        out.push_back(a);
    }
    return out;
}

void TimeCourse::Clear() {
    windows.clear();
    minutes.clear();
    groups.clear();
    taken = 0;
}

void TimeCourse::Update(const ActivityLayout& layout, std::span<const CountsRecord> records) {
    if (records.size() < taken) Clear();
    for (; taken < records.size(); ++taken) {
        const CountsRecord& r = records[taken];
        if (r.elapsed_minutes < 0) continue;
        windows.push_back(taken);
        minutes.push_back(r.elapsed_minutes);
        groups.push_back(GroupMeans(layout, WellCounts(layout, r)));
    }
}

const char* ChannelHealthName(ChannelHealth health) {
    switch (health) {
        case ChannelHealth::NotInUse:
            return "not in use";
        case ChannelHealth::Disabled:
            return "disabled";
        case ChannelHealth::Ok:
            return "reads well";
        case ChannelHealth::Dead:
            return "dead";
        case ChannelHealth::Saturated:
            return "saturated";
        case ChannelHealth::Drifting:
            return "drifting";
    }
    return "";
}

ChannelStates ClassifyChannels(std::span<const std::int16_t> window, std::size_t rows,
                               const PlateMap& plate, const ProjectState& project) {
    ChannelStates s;
    rows = std::min(rows, window.size() / kChannelTableSize);
    std::array<std::int64_t, kBeamChannelCount> sums{};
    for (std::size_t r = 0; r < rows; ++r) {
        const std::int16_t* row = window.data() + r * kChannelTableSize;
        for (std::size_t c = 0; c < kBeamChannelCount; ++c) sums[c] += row[c];
    }
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        const std::int64_t mean = rows > 0 ? sums[c] / static_cast<std::int64_t>(rows) : 0;
        s.level[c] = static_cast<std::int16_t>(std::clamp<std::int64_t>(mean, -32768, 32767));
        ChannelHealth& h = s.health[c];
        if (plate.ChannelWell[c] < 0) {
            h = ChannelHealth::NotInUse;
        } else if (project.ChannelEnabled[c] == 0) {
            h = ChannelHealth::Disabled;
            ++s.disabled;
        } else if (rows == 0) {
            h = ChannelHealth::Ok;
        } else if (mean < kDeadChannelLevel) {
            h = ChannelHealth::Dead;
            ++s.dead;
        } else if (mean >= kSaturatedChannelLevel) {
            h = ChannelHealth::Saturated;
            ++s.saturated;
        } else if (mean >= kDriftingChannelLevel) {
            h = ChannelHealth::Drifting;
            ++s.drifting;
        } else {
            h = ChannelHealth::Ok;
        }
    }
    return s;
}

std::string ChannelStatesText(const ChannelStates& s) {
    std::string text;
    auto add = [&](int n, const char* what) {
        if (n == 0) return;
        if (!text.empty()) text += ", ";
        text += std::to_string(n) + " " + what;
    };
    add(s.dead, "dead");
    add(s.saturated, "saturated");
    add(s.drifting, "drifting");
    return text.empty() ? std::string("all channels read well") : text;
}

}  // namespace lumivo
