#include "core/offline/group_activity.h"

#include <algorithm>
#include <exception>

#include "core/offline/acquisition_groups.h"
#include "core/reporting/report/report_writer.h"
#include "core/reporting/rhythm/rhythm.h"
#include "core/setup/plate_groups.h"

namespace lumivo::offline {

namespace fs = std::filesystem;
using namespace lumivo::reporting;

namespace {

constexpr const char* kCrLf = "\r\n";

}  // namespace

std::optional<GroupActivity> LoadGroupActivity(ReportEnvironment& env, const fs::path& folder,
                                               const std::string& bin_text) {
    ReportRequest request;
    request.folder = folder;
    request.bin_size_text = bin_text;
    request.basal_text = "-";
    ReportOutcome outcome;
    std::optional<ComputedReport> report;
    try {
        report = ComputeReport(env, request, outcome);
    } catch (const std::exception& e) {
        env.storage.dialogs.MessageBox("The group activity of " + folder.string() +
                                       " cannot be shown: " + e.what());
        return std::nullopt;
    }
    if (!report) return std::nullopt;  // the message was shown
    GroupActivity a;
    a.folder = folder;
    a.bin_size = outcome.bin_size;
    a.bin_size_corrected = outcome.bin_size_corrected;
    a.length = report->length;
    a.chart = BuildChartData(report->inputs, report->stats, a.bin_size, a.length, false);
    a.inputs = std::move(report->inputs);
    a.stats = std::move(report->stats);
    return a;
}

std::string GroupActivityTable(const GroupActivity& a) {
    const GroupStatistics& s = a.stats;
    std::string out = "Group activity of " + a.folder.string() + " (mean counts per well in " +
                      std::to_string(a.bin_size) + " min bins)" + kCrLf + "Minute";
    std::vector<int> groups;
    for (int g = 0; g < s.group_count; ++g) {
        if (s.wells[static_cast<std::size_t>(g)] < 1) continue;
        groups.push_back(g);
        out += "\t" + PlainGroupLabel(a.inputs, g);
    }
    out += kCrLf;
    for (int k = 1; k <= s.bin_count; ++k) {
        if (!s.bin_present[static_cast<std::size_t>(k)]) continue;
        out += std::to_string(BinTime(k, a.bin_size, a.length));
        for (int g : groups) out += "\t" + std::to_string(s.Mean(g, k));
        out += kCrLf;
    }
    return out;
}

namespace {

// "002_Dose 1" for a channel in a group, "" for a free or disabled one.
std::string GroupOfChannel(const ProjectState& project, const PlateMap& plate, int channel) {
    const int g = project.ChannelGroup[static_cast<std::size_t>(channel)];
    return TakesPart(project, plate, channel) && IsGroupNumber(g)
               ? GroupEntry(g, project.GroupName[static_cast<std::size_t>(g)])
               : std::string();
}

}  // namespace

std::string PlateLayoutTable(const ProjectState& project, const PlateMap& plate) {
    std::string out = "Plate " + project.Setup.Plate_format + " " + PlateLayoutCaption(plate) +
                      kCrLf + "Channel\tWell\tGroup" + kCrLf;
    for (int c = 0; c < static_cast<int>(kBeamChannelCount); ++c) {
        const std::string well = WellLabel(plate, c);
        if (well.empty()) continue;
        const std::string group = GroupOfChannel(project, plate, c);
        out += std::to_string(c) + "\t" + well + "\t" + (group.empty() ? "-" : group) + kCrLf;
    }
    return out;
}

std::string ChannelCaption(const ProjectState& project, const PlateMap& plate, int channel) {
    const std::string caption = "Channel " + std::to_string(channel);
    const std::string well = WellLabel(plate, channel);
    if (well.empty()) return caption + "  (in no well)";
    const std::string group = GroupOfChannel(project, plate, channel);
    return caption + "  well " + well + (group.empty() ? "  free" : "  group " + group);
}

std::string ChannelReadingsTable(SignalSource& source, const std::string& title,
                                 std::size_t channel, std::int64_t first, std::int64_t count) {
    std::string out = title + kCrLf + "Reading\tWindow\tValue" + kCrLf;
    if (count <= 0 || first < 0) return out;
    std::vector<std::int16_t> readings(static_cast<std::size_t>(count), kNoReading);
    source.ChannelReadings(channel, first, readings);
    const auto window = static_cast<std::int64_t>(std::max<std::size_t>(source.WindowLength(), 1));
    for (std::size_t i = 0; i < readings.size(); ++i) {
        if (readings[i] == kNoReading) continue;
        const std::int64_t n = first + static_cast<std::int64_t>(i);
        out += std::to_string(n) + "\t" + std::to_string(n / window) + "\t" +
               std::to_string(readings[i]) + kCrLf;
    }
    return out;
}

}  // namespace lumivo::offline
