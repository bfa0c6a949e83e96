#include "core/offline/acquisition_summary.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "core/acquisition/data_files.h"
#include "core/offline/browser_entries.h"
#include "core/reporting/report/activity_file.h"
#include "core/setup/plate_groups.h"
#include "core/setup/project_ops.h"
#include "core/setup/well_editor.h"

namespace lumivo::offline {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCrLf = "\r\n";

bool IsUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// "22.4": tenths of a degree with one decimal.
std::string Tenths(std::int16_t tenths) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", tenths / 10.0);
    return buf;
}

std::string Plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string PeriodsLine(const char* what, std::size_t count, std::int64_t seconds, bool open) {
    return std::string(what) + Plural(count, "time", "times") + ", " + DurationText(seconds) +
           " in all" + (open ? " (still so where the log ends)" : "");
}

std::string PeriodsLine(const char* what, const std::vector<LoggedPeriod>& periods,
                        std::size_t more = 0, std::int64_t more_seconds = 0) {
    std::int64_t seconds = more_seconds;
    bool open = false;
    for (const LoggedPeriod& p : periods) {
        seconds += p.seconds;
        open = open || !p.ended;
    }
    return PeriodsLine(what, periods.size() + more, seconds, open);
}

// Groups that some channel in a well belongs to, in number order.
std::vector<int> GroupsInUse(const ProjectState& project, const PlateMap& plate) {
    std::vector<bool> used(kMaxGroup + 1, false);
    for (int c = 0; c < static_cast<int>(kBeamChannelCount); ++c) {
        const int g = project.ChannelGroup[static_cast<std::size_t>(c)];
        if (plate.ChannelWell[static_cast<std::size_t>(c)] != kNoWell && IsGroupNumber(g))
            used[static_cast<std::size_t>(g)] = true;
    }
    std::vector<int> out;
    for (int g = 0; g <= kMaxGroup; ++g)
        if (used[static_cast<std::size_t>(g)]) out.push_back(g);
    return out;
}

}  // namespace

std::string ReportCaption(std::string_view entry) {
    std::size_t chars = 0, cut = entry.size();
    for (std::size_t i = 0; i < entry.size(); ++i) {
        if (IsUtf8Continuation(entry[i])) continue;
        if (chars == kReportCaptionLimit) {
            cut = i;
            break;
        }
        ++chars;
    }
    if (cut == entry.size()) return std::string(entry) + kReportCaptionSuffix;
    return std::string(entry.substr(0, cut)) + kCutReportCaptionSuffix;
}

int CountRawPages(FileSystem& files, const fs::path& folder) {
    int pages = 0;
    for (const std::string& name : files.ListFiles(folder)) {
        const std::size_t dot = name.size() >= 5 ? name.size() - 4 : 0;
        if (dot == 0 || name.compare(dot, 4, ".bin") != 0) continue;
        if (std::all_of(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(dot),
                        [](char c) { return c >= '0' && c <= '9'; }))
            ++pages;
    }
    return pages;
}

CountsOverview ScanCountsFile(const fs::path& counts_file) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(counts_file, ec);
    if (ec || !fs::is_regular_file(counts_file, ec))
        throw std::runtime_error(counts_file.string() + " cannot be read" +
                                 (ec ? ": " + ec.message() : std::string()));
    if (auto refusal = reporting::CountsFileTooLarge(counts_file, size))
        throw std::runtime_error(*refusal);
    std::ifstream in(counts_file, std::ios::binary);
    if (!in) throw std::runtime_error(counts_file.string() + " cannot be opened");
    CountsOverview out;
    const std::size_t records = static_cast<std::size_t>(size / kCountsRecordSize);
    out.ignored_tail_bytes = size % kCountsRecordSize;
    out.minutes.reserve(records);
    constexpr std::size_t kChunk = 1024;
    std::vector<std::uint8_t> buf(kChunk * kCountsRecordSize);
    for (std::size_t done = 0; done < records;) {
        const std::size_t n = std::min(kChunk, records - done);
        in.read(reinterpret_cast<char*>(buf.data()),
                static_cast<std::streamsize>(n * kCountsRecordSize));
        if (static_cast<std::size_t>(in.gcount()) != n * kCountsRecordSize)
            throw std::runtime_error(counts_file.string() + " could not be read to its end");
        for (std::size_t r = 0; r < n; ++r) {
            const std::uint8_t* p = buf.data() + r * kCountsRecordSize;
            out.minutes.push_back(static_cast<std::int32_t>(
                static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24));
            const std::uint8_t* t = p + kCountsRecordSize - 2;
            const auto tenths =
                static_cast<std::int16_t>(static_cast<std::uint16_t>(t[0] | t[1] << 8));
            out.lowest_tenths = std::min(out.lowest_tenths.value_or(tenths), tenths);
            out.highest_tenths = std::max(out.highest_tenths.value_or(tenths), tenths);
        }
        done += n;
    }
    return out;
}

bool GroupsDiffer(StorageContext& ctx, const fs::path& acquisition_folder,
                  const ProjectState& project) {
    // Read quietly: a damaged file of the acquisition is the report's business; here it only
    // matters whether the groups it gives are the project's.
    DefaultAnswerDialogs quiet;
    StorageContext silent{ctx.install_dir, quiet, ctx.files, ctx.list_separator_source};
    ProjectState own;
    own.ProjectFolder = acquisition_folder;
    (void)LoadGroupNames(silent, 0, own);
    (void)LoadChannelGroups(silent, 0, own);
    std::vector<bool> used(kMaxGroup + 1, false);
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        if (own.ChannelGroup[c] != project.ChannelGroup[c]) return true;
        if (IsGroupNumber(own.ChannelGroup[c]))
            used[static_cast<std::size_t>(own.ChannelGroup[c])] = true;
    }
    for (std::size_t g = 0; g < used.size(); ++g)
        if (used[g] && own.GroupName[g] != project.GroupName[g]) return true;
    return false;
}

// "2026-03-14 10:00" from the folder's name; with the seconds, the recorder's zone and where it
// is known from otherwise.
std::string StartLine(const reporting::RecordingStart& start) {
    if (!start.known) return "not known";
    const LocalDateTime& t = start.local;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute);
    std::string out = text;
    if (start.source == "folder name") return out;
    std::snprintf(text, sizeof text, ":%02d", t.second);
    out += text;
    if (start.utc_offset_minutes) out += " " + TimeZoneText(t);
    return out + " (" + start.source + ")";
}

std::vector<std::string> SummaryLines(const OpenedAcquisition& a) {
    // The acquisition's own settings: the project's may have changed since it was recorded.
    const ProjectSetup& setup = a.own_setup ? *a.own_setup : a.project.Setup;
    std::vector<std::string> lines = {
        "***** PROJECT ******",
        a.project_entry,
        "***** CONFIG ******",
        "Microplate format: [" + setup.Plate_format + "]",
        "Acquisition Lapse = " + std::to_string(setup.Aq_lapse) + "min",
        "Groups: ",
    };
    for (int g : GroupsInUse(a.project, a.plate))
        lines.push_back("<" + std::to_string(g) + "\t> " +
                        a.project.GroupName[static_cast<std::size_t>(g)]);

    if (a.wells || !a.wells_failure.empty()) {
        lines.push_back("***** PLATE MAP ******");
        if (a.wells) {
            lines.push_back(std::string(kWellMapFileName) + ": " + WellMapOverview(*a.wells));
            for (const auto& line : WellMapTreatmentLines(*a.wells)) lines.push_back(line);
            if (!a.wells->extra_columns.empty()) {
                std::string columns;
                for (const auto& c : a.wells->extra_columns)
                    columns += (columns.empty() ? "" : ", ") + c;
                lines.push_back("Further columns: " + columns);
            }
        } else {
            lines.push_back("Not read: " + a.wells_failure);
        }
    }

    const RecordingStatus& st = a.status;
    lines.push_back("***** RECORDING ******");
    lines.push_back("Start: " + StartLine(a.start));
    const std::int32_t minutes = st.last_minute;
    lines.push_back("Duration: " + std::to_string(minutes) + " min" +
                    (minutes >= 60 ? " (" + DurationText(std::int64_t{minutes} * 60) + ")" : ""));
    lines.push_back("Windows recorded: " + std::to_string(st.windows_recorded));
    if (st.windows_missing > 0)
        lines.push_back("Windows missing: about " + std::to_string(st.windows_missing));
    if (st.write_failures > 0)
        lines.push_back("Windows that could not be written (events.log): " +
                        std::to_string(st.write_failures));
    if (a.counts.lowest_tenths)
        lines.push_back("Temperature: " + Tenths(*a.counts.lowest_tenths) + " to " +
                        Tenths(*a.counts.highest_tenths) +
                        " \xC2\xB0"
                        "C");
    if (!st.silences.empty())
        lines.push_back(PeriodsLine("Instrument silent (no valid data): ", st.silences));
    if (!st.losses.empty())
        lines.push_back(PeriodsLine("Instrument lost (its port gone): ", st.losses));
    if (!st.interruptions.empty())
        lines.push_back(PeriodsLine("Recorder interrupted (a crash or power cut, then resumed): ",
                                    st.interruptions));
    if (st.windows_not_recorded > 0)
        lines.push_back("Windows not recorded for lack of readings: " +
                        std::to_string(st.windows_not_recorded));
    if (!st.pauses.empty() || st.frozen_pauses > 0)
        lines.push_back(
            PeriodsLine("Paused: ", st.pauses, st.frozen_pauses, st.frozen_pause_seconds));
    if (a.counts.ignored_tail_bytes > 0)
        lines.push_back("Incomplete last record: " + std::to_string(a.counts.ignored_tail_bytes) +
                        " bytes ignored");
    lines.push_back("Raw signal pages: " + std::to_string(a.raw_pages));
    if (a.groups_differ) lines.push_back(kGroupsDifferLine);
    return lines;
}

std::string OpenedAcquisition::SummaryText() const {
    std::string text;
    for (const std::string& line : summary) text += line + kCrLf;
    return text;
}

std::optional<OpenedAcquisition> OpenAcquisition(StorageContext& ctx, const AcquisitionRef& ref,
                                                 const std::string& entry_text) {
    OpenedAcquisition a;
    a.ref = ref;
    a.entry_text = entry_text;
    const fs::path folder = ref.path();
    try {
        if (!ctx.files.IsFile(folder / kCountsFileName))
            throw std::runtime_error(folder.string() + " holds no " + kCountsFileName +
                                     " (it was moved, archived or removed)");
        a.counts = ScanCountsFile(folder / kCountsFileName);
    } catch (const std::exception& e) {
        ctx.dialogs.MessageBox(std::string("The acquisition cannot be opened: ") + e.what());
        return std::nullopt;
    }
    a.raw_pages = CountRawPages(ctx.files, folder);
    a.page_text = "1/" + std::to_string(a.raw_pages);
    a.report_caption = ReportCaption(entry_text);
    a.project_number = ProjectNumberOfFolder(ref.project_folder()).value_or(0);
    a.project.ProjectFolder = ref.project_path;
    (void)LoadProject(ctx, a.project_number, a.project_number, a.project, a.plate,
                      SetupUse::Reading);
    a.project_entry = ProjectEntryOf(ctx, ref.project_path);
    a.status = AnalyseRecording(a.counts.minutes, ReadEventLog(folder));
    a.start = reporting::ReadRecordingStart(ctx, folder);
    if (ctx.files.IsFile(folder / kProjectSetupFile)) {
        DefaultAnswerDialogs quiet;
        StorageContext silent{ctx.install_dir, quiet, ctx.files, ctx.list_separator_source};
        ProjectState own;
        own.ProjectFolder = folder;
        if (LoadProjectSetup(silent, 0, 0, own, SetupUse::Reading).ok) a.own_setup = own.Setup;
    }
    // The acquisition's copy of the plate map, for the plate it was recorded on.
    if (ctx.files.IsFile(WellMapPath(folder))) {
        PlateMap plate = a.plate;
        if (a.own_setup && a.own_setup->Plate_format != a.project.Setup.Plate_format) {
            DefaultAnswerDialogs quiet;
            StorageContext silent{ctx.install_dir, quiet, ctx.files, ctx.list_separator_source};
            std::string format = a.own_setup->Plate_format;
            (void)LoadPlateFormat(silent, format, plate);
        }
        std::string failure;
        if (auto map = ReadWellMap(ctx, folder, PlateWellNames(plate), &failure))
            a.wells = std::move(*map);
        else
            a.wells_failure = failure;
    }
    a.groups_differ = GroupsDiffer(ctx, folder, a.project);
    a.summary = SummaryLines(a);
    return a;
}

}  // namespace lumivo::offline
