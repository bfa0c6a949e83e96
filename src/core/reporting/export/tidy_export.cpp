#include "core/reporting/export/tidy_export.h"

#include <cstdio>
#include <exception>
#include <vector>

#include "core/acquisition/event_log_reader.h"
#include "core/reporting/export/activity_export.h"
#include "core/reporting/report/recording_start.h"
#include "core/reporting/report/report_output.h"
#include "core/storage/project_setup.h"
#include "core/storage/well_map.h"

namespace lumivo::reporting {

namespace fs = std::filesystem;

namespace {

// The start and stop of the recording placed in time, and where their offsets come from.
struct PlacedTimes {
    std::string start, stop, zone;
};

// The recorded duration after the start, on the recorder's clock: the offsets the recorder
// logged (a summer-time change during the run gives the stop its new offset), else the zone of
// the computer exporting.
PlacedTimes PlaceTimes(const BinnedActivity& a, const RunLog& log) {
    PlacedTimes out;
    const std::int64_t duration = std::int64_t{a.recorded_minutes} * 60;
    const RecordingStart& start = a.recording_start;
    if (start.utc_offset_minutes && !log.zones.empty()) {
        const int first = log.zones.front().utc_offset_minutes;
        const std::int64_t stop_axis = log.start + duration;
        const int stop_offset = log.UtcOffsetAt(stop_axis).value_or(first);
        LocalDateTime stop = WallTime(stop_axis + std::int64_t{stop_offset - first} * 60);
        out.start = IsoDateTimeWithOffset(start.local, *start.utc_offset_minutes);
        out.stop = IsoDateTimeWithOffset(stop, stop_offset);
        LocalDateTime zone_at_start = start.local, zone_at_stop = stop;
        zone_at_stop.utc_offset_minutes = stop_offset;
        for (const LoggedZone& z : log.zones)
            if (z.second <= stop_axis) zone_at_stop.zone = z.name;
        out.zone = TimeZoneText(zone_at_start);
        if (stop_offset != *start.utc_offset_minutes)
            out.zone += " to " + TimeZoneText(zone_at_stop);
        out.zone += " as logged by the recorder";
        return out;
    }
    // An older recording: the zone rules of this computer place its wall-clock start.
    const LocalDateTime here = AddSeconds(start.local, 0);
    const LocalDateTime stop = AddSeconds(start.local, duration);
    out.start = IsoDateTimeWithOffset(here, here.utc_offset_minutes);
    out.stop = IsoDateTimeWithOffset(stop, stop.utc_offset_minutes);
    out.zone = TimeZoneText(here) +
               (stop.utc_offset_minutes != here.utc_offset_minutes ? " to " + TimeZoneText(stop)
                                                                   : std::string()) +
               " of the exporting computer: the recorder logged no zone";
    return out;
}

std::string GroupText(const ReportInputs& inputs, int channel) {
    if (!inputs.InGroup(channel)) return "999_Free";
    const int g = inputs.channel_group[static_cast<std::size_t>(channel)];
    char number[16];
    std::snprintf(number, sizeof number, "%03d_", g);
    return number + inputs.group_names[static_cast<std::size_t>(g)];
}

// One row of metadata.csv and the channels its activity comes from.
struct TidySubject {
    std::string id;
    int region = 0;
    int well = 0;
    std::vector<int> channels;  // the well's channels, or the one channel
    int group_channel = 0;      // the channel whose group is the subject's
    bool any_enabled = false;
};

// The channels of a well, its beams in order.
std::vector<int> WellChannels(const ReportInputs& inputs, int well) {
    std::vector<int> channels;
    for (int b = 0; b <= inputs.max_beam_index; ++b) {
        const int c = inputs.WellChannel(well, b);
        if (c >= 0 && c < kChannelCount) channels.push_back(c);
    }
    return channels;
}

// The plate map's columns after the metadata's own: treatment, concentration, unit, role and the
// lab's columns (a lab column named like one of the metadata's gets "map_" before its name).
// Nothing when the acquisition has no map, so its tables stay as they were.
std::string MapColumnsHeader(const WellMap& map) {
    if (map.empty()) return {};
    std::string out = ",treatment,concentration,unit,role";
    const std::string own = std::string(kTidyMetadataHeader) + out + ",";
    for (const std::string& c : map.extra_columns) {
        const bool clash = ("," + own).find("," + c + ",") != std::string::npos;
        out += "," + CsvField(clash ? "map_" + c : c);
    }
    return out;
}

std::string MapColumns(const WellMap& map, const std::string& well) {
    if (map.empty()) return {};
    const WellEntry* e = map.Find(well);
    if (!e) return std::string(4 + map.extra_columns.size(), ',');
    char number[32] = "";
    if (e->concentration) std::snprintf(number, sizeof number, "%.10g", *e->concentration);
    std::string out = "," + CsvField(e->treatment) + "," + number + "," + CsvField(e->unit) + "," +
                      std::string(WellRoleName(e->role));
    for (std::size_t k = 0; k < map.extra_columns.size(); ++k)
        out += "," + CsvField(k < e->extra.size() ? e->extra[k] : std::string());
    return out;
}

}  // namespace

std::string IsoDateTimeWithOffset(const LocalDateTime& t, int offset_minutes) {
    const int m = offset_minutes < 0 ? -offset_minutes : offset_minutes;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, offset_minutes < 0 ? '-' : '+', m / 60 % 100,
                  m % 60);
    return buf;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

TidyExportOutcome ExportTidyTables(StorageContext& ctx, const TidyExportRequest& request) {
    TidyExportOutcome out;
    const fs::path folder = request.folder;
    auto activity = LoadBinnedActivity(ctx, folder, request.bin_size, 1, &out.failure);
    if (!activity) return out;
    const BinnedActivity& a = *activity;
    out.bin_size = a.bin_size;
    out.bin_size_corrected = a.bin_size_corrected;
    out.bin_size_note = a.bin_size_note;

    // Which channels are enabled (status.dat of the acquisition).
    ProjectState project;
    project.ProjectFolder = folder;
    LoadChannelStatus(ctx, 0, project);
    auto enabled = [&](int c) { return project.ChannelEnabled[static_cast<std::size_t>(c)] != 0; };
    // The wells' status as the rhythm views flag it (dead wells included).
    const auto well_status =
        ReadAcquisitionWellStatus(ctx, folder, request.dead_hours, &out.failure);
    if (!well_status) {
        if (!out.failure.empty()) ctx.dialogs.MessageBox(out.failure);
        return out;
    }
    auto status_text = [&](const TidySubject& s) -> std::string {
        if (!s.any_enabled) return kTidyStatusNoBeams;
        const auto w = static_cast<std::size_t>(s.well);
        return w < well_status->status.size() ? std::string(WellStatusText(well_status->status[w]))
                                              : kTidyStatusOk;
    };

    // The plate map's columns join each well's row; a map that cannot be read stops the export
    // rather than leaving its columns out unsaid.
    const auto map = ReadWellMap(ctx, folder, a.inputs.well_names, &out.failure);
    if (!map) {
        ctx.dialogs.MessageBox(out.failure);
        return out;
    }

    const PlacedTimes times = PlaceTimes(a, ParseRunLog(ReadEventLog(folder)));
    const std::string& start = times.start;
    const std::string& stop = times.stop;
    const std::string acquisition = folder.filename().string();
    const std::string id_prefix =
        start + "|" + folder.parent_path().filename().string() + "/" + acquisition + "|";

    std::vector<TidySubject> subjects;
    for (const int w : ExportedWells(a.inputs)) {
        const std::vector<int> channels = WellChannels(a.inputs, w);
        const std::string well = a.inputs.well_names[static_cast<std::size_t>(w)];
        if (!request.per_channel) {
            TidySubject s{id_prefix + well, w, w, channels, channels.front(), false};
            for (int c : channels) s.any_enabled = s.any_enabled || enabled(c);
            subjects.push_back(std::move(s));
            continue;
        }
        for (int b = 0; b <= a.inputs.max_beam_index; ++b) {
            const int c = a.inputs.WellChannel(w, b);
            if (c < 0 || c >= kChannelCount) continue;
            subjects.push_back(
                TidySubject{id_prefix + well + "." + std::to_string(b), c, w, {c}, c, enabled(c)});
        }
    }

    out.metadata_file = folder / kTidyMetadataFileName;
    out.activity_file = folder / kTidyActivityFileName;
    try {
        AtomicFileSink metadata(out.metadata_file);
        AtomicFileSink rows(out.activity_file);
        std::string text = kTidyMetadataHeader + MapColumnsHeader(*map) + "\n";
        const SleepDefinition sleep = ResolveSleepDefinition(well_status->organism, {}, {});
        const std::string organism = "," + CsvField(std::string(OrganismName(sleep.organism))) +
                                     "," + CsvField(sleep.RuleText());
        for (const TidySubject& s : subjects) {
            std::string channels;
            for (int c : s.channels) channels += (channels.empty() ? "" : " ") + std::to_string(c);
            text += CsvField(s.id) + "," + std::to_string(s.region) + "," + start + "," + stop +
                    "," + CsvField(a.inputs.project_name) + "," + CsvField(acquisition) + "," +
                    CsvField(a.inputs.plate_format) + "," +
                    CsvField(a.inputs.well_names[static_cast<std::size_t>(s.well)]) + "," +
                    CsvField(GroupText(a.inputs, s.group_channel)) + "," + channels + "," +
                    status_text(s) + "," + CsvField(times.zone) + organism +
                    MapColumns(*map, a.inputs.well_names[static_cast<std::size_t>(s.well)]) + "\n";
        }
        metadata.Write(text);
        out.ids = subjects.size();

        text = std::string(kTidyActivityHeader) + "\n";
        for (const TidySubject& s : subjects) {
            const std::string id = CsvField(s.id) + ",";
            for (int k = 0; k <= a.last_bin; ++k) {
                const auto uk = static_cast<std::size_t>(k);
                text += id;
                text += std::to_string(std::int64_t{k} * a.bin_size * 60);
                text += ',';
                if (!a.bins.Present(uk))
                    text += kExportMissingValue;  // not recorded: unknown, not 0
                else if (request.per_channel)
                    text += std::to_string(
                        a.bins.count(uk, static_cast<std::size_t>(s.channels.front())));
                else
                    text += std::to_string(ExportWellValue(a, s.well, uk));
                text += '\n';
                ++out.activity_rows;
            }
            if (text.size() >= (1u << 20)) {
                rows.Write(text);
                text.clear();
            }
        }
        rows.Write(text);
        metadata.Commit();
        rows.Commit();
    } catch (const std::exception& e) {
        out.failure = "The tables for R and Python were not written: " + std::string(e.what());
        ctx.dialogs.MessageBox(out.failure);
        out.activity_rows = 0;
        return out;
    }
    out.written = true;
    return out;
}

}  // namespace lumivo::reporting
