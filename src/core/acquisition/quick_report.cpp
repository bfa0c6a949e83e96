// The quick summary written when a recorded run ends: the running totals of activity per
// group, per well and per channel, as a plain text file in the project folder.
#include "core/acquisition/quick_report.h"

#include <cstdio>
#include <string>
#include <vector>

#include "core/common/rounding.h"

namespace lumivo {
namespace {

constexpr const char* kCrLf = "\r\n";
constexpr int kFreeGroupNumber = 999;

bool IsFree(int group) {
    return group < 0 || group == kFreeGroupNumber;
}

long long RoundedMean(long long sum, long long n) {
    return static_cast<long long>(DivideRoundHalfEven(sum, n));
}

}  // namespace

std::string QuickReportGroupLabel(const ProjectState& project, int group) {
    if (IsFree(group) || group >= static_cast<int>(kChannelTableSize)) return "999_Free ";
    char number[16];
    std::snprintf(number, sizeof number, "%03d", group);
    return "\"" + std::string(number) + "_" + project.GroupName[static_cast<std::size_t>(group)] +
           "\"";
}

std::string FormatQuickReport(const ProjectState& project, const PlateMap& plate,
                              int project_number, std::span<const std::int16_t> totals,
                              const std::string& date_text, const std::string& note) {
    auto total_of = [&](std::size_t c) -> long long { return c < totals.size() ? totals[c] : 0; };
    auto in_well = [&](std::size_t c) { return plate.ChannelWell[c] >= 0; };
    auto group_of = [&](std::size_t c) { return static_cast<int>(project.ChannelGroup[c]); };

    std::string out;
    auto line = [&out](const std::string& text) {
        out += text;
        out += kCrLf;
    };
    line(date_text);
    line(std::to_string(project_number) + "_" + project.Setup.Name);
    if (!note.empty()) line(note);
    line("");

    line("Group Activity:");
    line("~~~~~~~~~~~~~");
    line("Group Value");
    for (int g = 0; g < static_cast<int>(kBeamChannelCount); ++g) {
        long long sum = 0;
        long long n = 0;
        for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
            if (group_of(c) != g || !in_well(c) || project.ChannelEnabled[c] == 0) continue;
            sum += total_of(c);
            ++n;
        }
        if (n == 0) continue;
        line(QuickReportGroupLabel(project, g) + " " + std::to_string(RoundedMean(sum, n)));
    }

    line("");
    line("Well Activity:");
    line("~~~~~~~~~~~~~");
    line("Well Group Value");
    for (int w = 0; w <= plate.MaxWellIndex; ++w) {
        std::vector<std::size_t> channels;
        for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
            if (plate.ChannelWell[c] == w) channels.push_back(c);
        }
        if (channels.empty()) continue;
        // The well shows its first beam's group.
        std::size_t first = channels.front();
        for (std::size_t c : channels) {
            if (plate.ChannelBeam[c] < plate.ChannelBeam[first]) first = c;
        }
        long long sum = 0;
        for (std::size_t c : channels) sum += total_of(c);
        line(WellName(plate, w) + " " + QuickReportGroupLabel(project, group_of(first)) + " " +
             std::to_string(RoundedMean(sum, static_cast<long long>(channels.size()))));
    }

    line("");
    line("Raw Activity:");
    line("~~~~~~~~~~~~~");
    line("Channel Well Group Value");
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        if (!in_well(c)) continue;
        line(std::to_string(c) + " " + WellName(plate, plate.ChannelWell[c]) + "." +
             std::to_string(plate.ChannelBeam[c]) + " " +
             QuickReportGroupLabel(project, group_of(c)) + " " + std::to_string(total_of(c)));
    }
    return out;
}

std::filesystem::path WriteQuickReport(StorageContext& storage, const ProjectState& project,
                                       const PlateMap& plate, int project_number,
                                       std::span<const std::int16_t> totals,
                                       const std::string& date_text, const std::string& note) {
    const std::filesystem::path file = project.ProjectFolder / kQuickReportFileName;
    storage.files.WriteFile(
        file, FormatQuickReport(project, plate, project_number, totals, date_text, note));
    return file;
}

}  // namespace lumivo
