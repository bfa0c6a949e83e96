#include "core/acquisition/resume.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "core/acquisition/data_files.h"
#include "core/acquisition/event_log.h"
#include "core/acquisition/recording_mark.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/plate_format.h"
#include "core/storage/project_setup.h"

namespace lumivo {

namespace fs = std::filesystem;

namespace {

// "yyyymmdd_hhmm".
bool LooksLikeAcquisitionName(const std::string& name) {
    if (name.size() != 13 || name[8] != '_') return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (i != 8 && (name[i] < '0' || name[i] > '9')) return false;
    }
    return true;
}

std::uintmax_t SizeOf(const fs::path& p) {
    std::error_code ec;
    const auto n = fs::file_size(p, ec);
    return ec ? 0 : n;
}

bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

// The minute field of the last whole record of counts.bin, or -1.
std::int32_t LastRecordMinute(const fs::path& counts, std::int64_t records) {
    if (records <= 0) return -1;
    std::ifstream in(counts, std::ios::binary);
    in.seekg(static_cast<std::streamoff>((records - 1) * std::int64_t{kCountsRecordSize}));
    std::array<std::uint8_t, 4> b{};
    in.read(reinterpret_cast<char*>(b.data()), 4);
    if (!in) return -1;
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
        static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24);
}

std::string StampText(std::int64_t s) {
    // Seconds since 0001-01-01 back to a civil date (the inverse of CivilDayNumber).
    std::int64_t days = s / 86400 + 306;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    const std::int64_t rest = s % 86400;
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld",
                  static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                  static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60));
    return text;
}

// Cuts one family of files (raw pages or histograms, `per_file` windows each) back to the first
// `records` windows; returns the windows they still hold.
std::int64_t CutFamilyBack(AppendFileOps& ops, const fs::path& folder, std::string (*name_of)(int),
                           std::size_t record_size, std::int64_t records, const char* what,
                           ResumedFiles& out) {
    std::int64_t kept = 0;
    for (int page = 0;; ++page) {
        const fs::path file = folder / name_of(page);
        if (!Exists(file)) {
            // Pages end where the windows end; a later page would be a stray.
            if (static_cast<std::int64_t>(page) * std::int64_t{kWindowsPerRawPage} >= records)
                break;
            continue;
        }
        const std::int64_t wanted = std::clamp<std::int64_t>(
            records - static_cast<std::int64_t>(page) * std::int64_t{kWindowsPerRawPage}, 0,
            std::int64_t{kWindowsPerRawPage});
        const std::uintmax_t size = SizeOf(file);
        const auto whole = static_cast<std::int64_t>(size / record_size);
        const std::int64_t keep = std::min(whole, wanted);
        kept += keep;
        const auto keep_bytes = static_cast<std::uint64_t>(keep) * record_size;
        if (size == keep_bytes) continue;
        const std::string cut = std::to_string(size - keep_bytes) + " bytes of " +
                                file.filename().string() + " (" + what;
        if (keep == 0 && wanted == 0) {
            if (ops.Remove(file) != 0) {
                out.error = "could not remove " + file.string();
                return kept;
            }
            out.notes.push_back(cut + " of a window that was never recorded) removed");
            continue;
        }
        if (const std::string e = TruncateFile(ops, file, keep_bytes, true); !e.empty()) {
            out.error = e;
            return kept;
        }
        out.notes.push_back(cut +
                            (whole > wanted ? " of a window that was never recorded)"
                                            : ", a half-written record)") +
                            " cut off");
    }
    return kept;
}

}  // namespace

std::string ResumeQuestionText(const InterruptedAcquisition& run) {
    const auto minute = static_cast<long long>(run.elapsed_minutes);
    return "Resume the interrupted recording \"" + run.experiment_name + "\" (" +
           run.folder.string() + ")?\r\nIts recorder stopped before the end of its " +
           std::to_string(run.lapse) + "-minute lapse, with " + std::to_string(run.records) +
           " windows recorded. It goes on at minute " + std::to_string(minute) +
           " on its own time axis, so the time since is missing from it, and ends at its "
           "lapse. The instrument is looked for first.\r\nNo leaves it as it is.";
}

std::int64_t StampOnLogAxis(const RunLog& log, const LocalDateTime& t) {
    const std::int64_t local =
        CivilDayNumber(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
    if (log.zones.empty()) return local;
    return local - std::int64_t{t.utc_offset_minutes} * 60 +
           std::int64_t{log.zones.front().utc_offset_minutes} * 60;
}

ResumeCheck CheckInterruptedAcquisition(StorageContext& storage, const fs::path& folder,
                                        const LocalDateTime& now) {
    ResumeCheck out;
    auto refuse = [&](const std::string& why) {
        out.refusal = folder.string() + " " + why;
        return out;
    };
    if (!storage.files.IsFolder(folder))
        return refuse(
            "does not exist: give the folder of a recorded acquisition (yyyymmdd_hhmm "
            "in its project folder)");
    if (!LooksLikeAcquisitionName(folder.filename().string()) ||
        !storage.files.IsFile(folder / "setup.dat") ||
        !storage.files.IsFile(folder / kRegisterFileName))
        return refuse(
            "is not an acquisition folder: a recorded acquisition is named yyyymmdd_hhmm and "
            "holds setup.dat and subproj.dat; give the folder of one");
    if (IsBeingRecorded(folder))
        return refuse("is being recorded by a program that is running: it is not interrupted");
    const std::string text = ReadEventLog(folder);
    if (text.empty())
        return refuse(
            "has no events.log, so nothing tells how its run ended: it cannot be "
            "resumed");
    InterruptedAcquisition run;
    run.folder = folder;
    run.log = ParseRunLog(text);
    if (!run.log.sampling_started)
        return refuse("never started sampling (events.log): there is nothing to resume");
    if (run.log.end)
        return refuse("holds a run that ended at " + StampText(*run.log.end) +
                      " (events.log): there is nothing to resume");

    // The run's own settings, as they were copied at its start.
    DefaultAnswerDialogs quiet;
    StorageContext ctx{storage.install_dir, quiet, storage.files, storage.list_separator_source};
    ProjectState project;
    project.ProjectFolder = folder;
    PlateMap plate;
    if (const auto failure = LoadProjectAsStored(ctx, 0, project, plate, SetupUse::Recording))
        return refuse("cannot be resumed: its copy of the project cannot be read (" +
                      failure->Describe() + ")");
    run.lapse = project.Setup.Aq_lapse;
    run.experiment_name = ReadAcquisitionTitle(ctx, folder);

    const fs::path counts = folder / kCountsFileName;
    run.records = static_cast<std::int64_t>(SizeOf(counts) / kCountsRecordSize);
    run.last_minute = LastRecordMinute(counts, run.records);
    run.body_bends =
        Exists(folder / HistogramFileName(0)) || text.find(", body bends on,") != std::string::npos;
    run.elapsed_minutes = ElapsedMinutesAt(run.log, StampOnLogAxis(run.log, now));
    if (run.elapsed_minutes >= run.lapse) {
        const std::int64_t ended =
            StampOnLogAxis(run.log, now) -
            static_cast<std::int64_t>(std::llround((run.elapsed_minutes - run.lapse) * 60.0));
        return refuse("cannot be resumed: its lapse of " + std::to_string(run.lapse) +
                      " min ended at about " + StampText(ended) + "; nothing was recorded");
    }
    out.run = std::move(run);
    return out;
}

std::optional<InterruptedAcquisition> FindInterruptedAcquisition(StorageContext& storage,
                                                                 const fs::path& project_folder,
                                                                 const LocalDateTime& now) {
    std::vector<std::string> names = storage.files.ListSubfolders(project_folder);
    std::sort(names.rbegin(), names.rend());
    for (const std::string& name : names) {
        if (!LooksLikeAcquisitionName(name)) continue;
        if (!storage.files.IsFile(project_folder / name / kEventLogFileName)) continue;
        ResumeCheck check = CheckInterruptedAcquisition(storage, project_folder / name, now);
        if (check.run) return std::move(check.run);
    }
    return std::nullopt;
}

ResumedFiles PrepareFilesForResume(AppendFileOps& ops, const fs::path& folder,
                                   std::size_t rt_buffer, bool save_raw, bool body_bends) {
    ResumedFiles out;
    const fs::path counts = folder / kCountsFileName;
    const std::uintmax_t size = SizeOf(counts);
    out.records = static_cast<std::int64_t>(size / kCountsRecordSize);
    if (const std::uintmax_t tail = size % kCountsRecordSize; tail != 0) {
        if (const std::string e =
                TruncateFile(ops, counts, static_cast<std::uint64_t>(size - tail), true);
            !e.empty()) {
            out.error = e;
            return out;
        }
        out.notes.push_back(std::to_string(tail) +
                            " bytes of counts.bin (a half-written record) cut off");
    }
    if (save_raw) {
        const std::int64_t raw =
            CutFamilyBack(ops, folder, &RawPageFileName, RawPageRecordSize(rt_buffer), out.records,
                          "raw page", out);
        out.raw_pages_whole = raw == out.records;
        if (!out.error.empty()) return out;
    }
    if (body_bends) {
        out.histogram_records = CutFamilyBack(ops, folder, &HistogramFileName, kHistogramRecordSize,
                                              out.records, "histogram", out);
    }
    return out;
}

}  // namespace lumivo
