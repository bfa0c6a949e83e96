#include "core/offline/join_acquisitions.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string_view>

#include "core/acquisition/data_files.h"
#include "core/acquisition/event_log.h"
#include "core/acquisition/event_log_reader.h"
#include "core/acquisition/recording_mark.h"
#include "core/common/rounding.h"
#include "core/offline/acquisition_summary.h"
#include "core/offline/browser_entries.h"
#include "core/reporting/report/recording_start.h"
#include "core/reporting/report/resample.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/field_record.h"
#include "core/storage/project_setup.h"

namespace lumivo::offline {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCrLf = "\r\n";
// The project files an acquisition carries, copied from the first source.
constexpr const char* kProjectFiles[] = {"setup.dat", "status.dat", "threshld.dat", "groups.dat",
                                         "chgroup.dat"};

double NowMinutes(const LocalDateTime& now) {
    return static_cast<double>(CivilDayNumber(now.year, now.month, now.day) * 1440 + now.hour * 60 +
                               now.minute) +
           (now.second + now.millisecond / 1000.0) / 60.0;
}

std::string ErrnoText(std::int64_t negative_errno) {
    return std::strerror(static_cast<int>(-negative_errno));
}

// Removes what a failed join wrote: its files, then its folder when the join created it.
class JoinCleanup {
  public:
    JoinCleanup(StorageContext& ctx, AppendFileOps& ops, fs::path folder, bool created)
        : ctx_(ctx), ops_(ops), folder_(std::move(folder)), created_(created) {}
    ~JoinCleanup() {
        if (done_) return;
        (void)ops_.Remove(folder_ / kJoinPartFile);
        for (const fs::path& f : written_) (void)ctx_.files.RemoveFile(f);
        if (created_) (void)ctx_.files.RemoveEmptyFolder(folder_);
    }
    JoinCleanup(const JoinCleanup&) = delete;
    JoinCleanup& operator=(const JoinCleanup&) = delete;
    void Wrote(const fs::path& file) { written_.push_back(file); }
    void Keep() { done_ = true; }

  private:
    StorageContext& ctx_;
    AppendFileOps& ops_;
    fs::path folder_;
    bool created_;
    bool done_ = false;
    std::vector<fs::path> written_;
};

// Copies the whole records of one source's counts.bin to the end of the output (`handle`, now
// `out_bytes` long), moving their minutes by `offset`. `last_minute` follows the written
// minutes; the first record that goes back in time is noted.
void CopyBlock(AppendFileOps& ops, int handle, std::uint64_t& out_bytes, const fs::path& project,
               JoinedBlock& block, std::int32_t& last_minute, bool& any_written,
               std::vector<std::string>& notes) {
    const fs::path file = project / block.folder / kCountsFileName;
    std::ifstream in(file, std::ios::binary);
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    if (!in || ec) throw std::runtime_error(file.string() + " cannot be read");
    const std::size_t records = static_cast<std::size_t>(size / kCountsRecordSize);
    block.bytes_left_out = size % kCountsRecordSize;
    constexpr std::size_t kChunk = 1024;
    std::vector<std::uint8_t> buf(kChunk * kCountsRecordSize);
    bool noted_backwards = false;
    for (std::size_t done = 0; done < records;) {
        const std::size_t n = std::min(kChunk, records - done);
        const std::size_t bytes = n * kCountsRecordSize;
        in.read(reinterpret_cast<char*>(buf.data()), static_cast<std::streamsize>(bytes));
        if (static_cast<std::size_t>(in.gcount()) != bytes)
            throw std::runtime_error(file.string() + " could not be read to its end");
        for (std::size_t r = 0; r < n; ++r) {
            std::uint8_t* p = buf.data() + r * kCountsRecordSize;
            const auto stored = static_cast<std::int32_t>(
                static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
            const std::int64_t moved = std::int64_t{stored} + block.offset_minutes;
            if (moved < std::numeric_limits<std::int32_t>::min() ||
                moved > std::numeric_limits<std::int32_t>::max())
                throw std::runtime_error("record " + std::to_string(done + r) + " of " +
                                         file.string() + " lies too far from the first start");
            const auto minute = static_cast<std::int32_t>(moved);
            if (any_written && minute < last_minute && !noted_backwards) {
                noted_backwards = true;
                notes.push_back(block.folder + " overlaps the acquisition before it: its record " +
                                std::to_string(done + r) + " goes back from minute " +
                                std::to_string(last_minute) + " to " + std::to_string(minute) +
                                ", and a report reads the joined file only up to there.");
            }
            last_minute = minute;
            any_written = true;
            const auto u = static_cast<std::uint32_t>(minute);
            for (int b = 0; b < 4; ++b) p[b] = static_cast<std::uint8_t>(u >> (8 * b));
        }
        for (std::size_t at = 0; at < bytes;) {
            const std::int64_t w = ops.WriteAt(handle, buf.data() + at, bytes - at, out_bytes + at);
            if (w <= 0)
                throw std::runtime_error("the joined counts.bin could not be written: " +
                                         (w < 0 ? ErrnoText(w) : std::string("nothing written")));
            at += static_cast<std::size_t>(w);
        }
        out_bytes += bytes;
        done += n;
    }
    block.records = records;
    if (block.bytes_left_out > 0)
        notes.push_back(block.folder + ": its incomplete last record (" +
                        std::to_string(block.bytes_left_out) + " bytes) was left out.");
}

// The register and the first source's project files (from the project folder when the source
// lacks one).
std::vector<FileContent> TextFiles(StorageContext& ctx, const fs::path& project,
                                   const fs::path& folder, const std::vector<JoinSource>& ordered,
                                   std::vector<std::string>& notes) {
    std::string description = kJoinDescriptionStart;
    for (const JoinSource& s : ordered) description += s.entry_text + " + ";
    if (auto refusal = CheckStorableText(description, "The description of the join");
        !refusal.empty())
        throw StorageError(refusal);
    RecordWriter reg;
    reg.Text(description).EndLine();
    reg.Text(kJoinRegisterDescription).EndLine();
    std::vector<FileContent> files = {{folder / kRegisterFileName, reg.Take()}};
    const fs::path first = project / ordered.front().folder;
    for (const char* name : kProjectFiles) {
        for (const fs::path& from : {first / name, project / name}) {
            if (!ctx.files.IsFile(from)) continue;
            files.push_back({folder / name, ctx.files.ReadFile(from)});
            if (from.parent_path() == project)
                notes.push_back(std::string(name) + " was taken from the project: " +
                                ordered.front().folder + " has none.");
            break;
        }
    }
    return files;
}

// What the join needs to know of a source before it writes anything.
struct SourceInfo {
    JoinSource source;
    reporting::RecordingStart start;
    RunLog log;
    std::string log_text;
    std::int64_t start_second = 0;  // on one axis for every source: UTC when the zone is known
    std::vector<std::int32_t> minutes;
    std::optional<ProjectSetup> setup;  // its own setup.dat copy
    std::int32_t offset = 0;            // minutes from the first start
};

SourceInfo ReadSource(StorageContext& ctx, const fs::path& project, const JoinSource& source,
                      const LocalDateTime& now) {
    SourceInfo info;
    info.source = source;
    const fs::path folder = project / source.folder;
    info.log_text = ReadEventLog(folder);
    info.log = ParseRunLog(info.log_text);
    info.start = reporting::ReadRecordingStart(ctx, folder);
    if (info.start.known) {
        info.start_second = reporting::WallSeconds(info.start.local) -
                            std::int64_t{info.start.utc_offset_minutes.value_or(0)} * 60;
    } else {
        // A source whose start is not known counts as started now.
        info.start_second = static_cast<std::int64_t>(std::llround(NowMinutes(now) * 60.0));
    }
    info.minutes = ScanCountsFile(folder / kCountsFileName).minutes;
    if (ctx.files.IsFile(folder / "setup.dat")) {
        DefaultAnswerDialogs quiet;
        StorageContext silent{ctx.install_dir, quiet, ctx.files, ctx.list_separator_source};
        ProjectState own;
        own.ProjectFolder = folder;
        if (LoadProjectSetup(silent, 0, 0, own, SetupUse::Reading).ok) info.setup = own.Setup;
    }
    return info;
}

// Why the sources cannot make one acquisition ("" when they can): other plates or windows,
// blocks that overlap in time, or a span no report can read.
std::string RefuseJoin(const std::vector<SourceInfo>& sources) {
    const SourceInfo& first = sources.front();
    for (const SourceInfo& s : sources) {
        if (!first.setup || !s.setup) continue;
        if (s.setup->Plate_format != first.setup->Plate_format ||
            s.setup->RT_Buffer != first.setup->RT_Buffer)
            return first.source.folder + " was recorded on plate " + first.setup->Plate_format +
                   " with RT_Buffer " + std::to_string(first.setup->RT_Buffer) + ", " +
                   s.source.folder + " on plate " + s.setup->Plate_format + " with RT_Buffer " +
                   std::to_string(s.setup->RT_Buffer) +
                   ": acquisitions of different plates or window lengths cannot be joined.";
    }
    const SourceInfo* before = nullptr;
    std::int64_t end = 0;  // the last minute joined so far
    for (const SourceInfo& s : sources) {
        if (s.minutes.empty()) continue;
        const std::int64_t from = std::int64_t{s.minutes.front()} + s.offset;
        if (before != nullptr && from < end)
            return s.source.folder + " starts at minute " + std::to_string(from) +
                   " of the joined time axis, before " + before->source.folder + " ends (minute " +
                   std::to_string(end) +
                   "): the acquisitions overlap in time (were they recorded at the same time, or "
                   "was a computer's clock wrong?) and cannot be joined.";
        for (std::int32_t m : s.minutes) end = std::max<std::int64_t>(end, m + s.offset);
        before = &s;
    }
    if (end > reporting::kMaxReportMinutes)
        return "The joined acquisition would reach minute " + std::to_string(end) +
               " (from the start of " + first.source.folder + " to the last record of " +
               sources.back().source.folder + "), more than a report can hold (" +
               std::to_string(reporting::kMaxReportMinutes) +
               " minutes): join fewer acquisitions, or acquisitions closer in time.";
    return {};
}

// The joined acquisition's events.log: the first block's zone and start of sampling (which
// every reader takes for the joined acquisition's start), a line per block, the lines of each
// block's log that place its data in time (zones, the light, the instrument's silences and
// losses) and the end. Pauses stay in the blocks' own logs: the joined minutes already hold
// them.
std::string JoinedEventLog(const std::vector<SourceInfo>& sources, std::size_t records) {
    const SourceInfo& first = sources.front();
    const LocalDateTime start = first.start.local;
    std::string text;
    auto line = [&](const LocalDateTime& when, const std::string& what) {
        text += EventLogLine(when, what) + kCrLf;
    };
    if (first.start.utc_offset_minutes)
        line(start, std::string(kTimeZoneEvent) + TimeZoneText(start));
    line(start, std::string(kSamplingStartedEvent) + " (joined acquisition of " +
                    std::to_string(sources.size()) + " blocks: the start of " +
                    first.source.folder + ", from its " +
                    (first.start.known ? first.start.source : std::string("present time")) + ")");
    std::int64_t last_stamp = reporting::WallSeconds(start);
    std::int64_t end_minute = 0;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const SourceInfo& s = sources[i];
        std::string block = "Joined block " + std::to_string(i + 1) + ": " + s.source.folder +
                            ", started " + reporting::RecordingStartText(s.start) + ", " +
                            std::to_string(s.minutes.size()) + " records";
        if (!s.minutes.empty()) {
            block += ", minutes " + std::to_string(s.minutes.front() + s.offset) + " to " +
                     std::to_string(s.minutes.back() + s.offset) + " of the join";
            end_minute = std::max<std::int64_t>(end_minute, s.minutes.back() + s.offset);
        }
        line(start, block + " (moved by " + std::to_string(s.offset) + " min)");
    }
    for (const SourceInfo& s : sources) {
        const std::int64_t from = s.log.sampling_started ? s.log.start : INT64_MIN;
        ForEachEventLogLine(s.log_text, [&](std::string_view raw, const LoggedLine& parsed) {
            if (parsed.second < from) return;
            const std::string_view what = parsed.text;
            bool placed = false;
            for (std::string_view kind :
                 {kTimeZoneEvent, kLightOnEvent, kLightOffEvent, kAlarmBeginsEvent, kAlarmEndsEvent,
                  kInstrumentLostEvent, kInstrumentReconnectedEvent})
                placed = placed || what.substr(0, kind.size()) == kind;
            if (!placed) return;
            text += std::string(raw) + kCrLf;
            last_stamp = std::max(last_stamp, parsed.second);
        });
    }
    const LocalDateTime end_time =
        reporting::WallTime(std::max(last_stamp, reporting::WallSeconds(start) + end_minute * 60));
    line(end_time, "Acquisition finished (joined): " + std::to_string(records) + " records of " +
                       std::to_string(sources.size()) + " acquisitions");
    return text;
}

}  // namespace

std::string JoinOutcome::Message() const {
    std::string text = "Joined " + std::to_string(blocks.size()) + " acquisitions into " +
                       folder.string() + ": " + std::to_string(records) + " records.";
    for (const std::string& n : notes) text += kCrLf + n;
    return text;
}

double StartMinutes(const std::string& folder, const LocalDateTime& now) {
    if (folder.size() == kAcquisitionNameLength) {
        if (const auto m = StartMinutesOfFolder(folder)) return static_cast<double>(*m);
    }
    return NowMinutes(now);
}

std::vector<JoinSource> OrderByStart(std::vector<JoinSource> sources, const LocalDateTime& now) {
    std::stable_sort(sources.begin(), sources.end(), [&](const JoinSource& a, const JoinSource& b) {
        return StartMinutes(a.folder, now) < StartMinutes(b.folder, now);
    });
    return sources;
}

std::string JoinQuestion(const std::vector<JoinSource>& ordered) {
    std::string text = std::string("Would you like to Join (in order of start time):") + kCrLf;
    for (const JoinSource& s : ordered) text += s.entry_text + kCrLf;
    return text + " ?";
}

std::optional<std::string> FreeJoinFolder(FileSystem& files, const fs::path& project_path,
                                          LocalDateTime now) {
    now.second = 0;
    now.millisecond = 0;
    for (int minute = 0; minute < 24 * 60; ++minute) {
        const std::string name = AcquisitionFolderName(now);
        const fs::path folder = project_path / name;
        if (!files.IsFolder(folder) ||
            (files.ListFiles(folder).empty() && files.ListSubfolders(folder).empty()))
            return name;
        now = AddSeconds(now, 60);
    }
    return std::nullopt;
}

JoinOutcome JoinAcquisitions(StorageContext& ctx, AppendFileOps& ops, Clock& clock,
                             const fs::path& project_path, std::vector<JoinSource> sources) {
    JoinOutcome out;
    if (sources.size() < 2) {
        ctx.dialogs.MessageBox(kJoinWrongSelection);
        return out;
    }
    const LocalDateTime now = clock.Now();
    // Each source's start (its events.log, else its folder's name) orders the blocks and gives
    // their offsets; a source that cannot be read is named before anything is written.
    std::vector<SourceInfo> infos;
    try {
        for (const JoinSource& s : sources) infos.push_back(ReadSource(ctx, project_path, s, now));
    } catch (const std::exception& e) {
        ctx.dialogs.MessageBox(std::string("Nothing was joined: ") + e.what());
        return out;
    }
    std::stable_sort(infos.begin(), infos.end(), [](const SourceInfo& a, const SourceInfo& b) {
        return a.start_second < b.start_second;
    });
    std::vector<JoinSource> ordered;
    for (const SourceInfo& i : infos) ordered.push_back(i.source);
    if (ctx.dialogs.MessageBox(JoinQuestion(ordered), MsgButtons::OkCancel) != MsgResult::Ok)
        return out;

    // Offsets from the earliest start, in whole minutes.
    for (SourceInfo& i : infos)
        i.offset = static_cast<std::int32_t>(std::clamp<std::int64_t>(
            DivideRoundHalfEven(i.start_second - infos.front().start_second, 60), INT32_MIN,
            INT32_MAX));
    if (const std::string refusal = RefuseJoin(infos); !refusal.empty()) {
        ctx.dialogs.MessageBox("Nothing was joined: " + refusal);
        return out;
    }

    const auto name = FreeJoinFolder(ctx.files, project_path, now);
    if (!name) {
        ctx.dialogs.MessageBox(
            "Nothing was joined: every minute of the next day already has an "
            "acquisition folder in " +
            project_path.string() + ".");
        return out;
    }
    const fs::path folder = project_path / *name;
    const bool created = !ctx.files.IsFolder(folder);
    if (created && !ctx.files.CreateFolders(folder)) {
        ctx.dialogs.MessageBox(FileErrorTag(folder) + " could not be created: nothing was joined.");
        return out;
    }
    JoinCleanup cleanup(ctx, ops, folder, created);
    try {
        bool part_created = false;
        const int handle = ops.Open(folder / kJoinPartFile, &part_created);
        if (handle < 0)
            throw std::runtime_error((folder / kJoinPartFile).string() +
                                     " could not be created: " + ErrnoText(handle));
        std::uint64_t bytes = 0;
        std::int32_t last_minute = 0;
        bool any_written = false;
        try {
            for (const SourceInfo& info : infos) {
                const JoinSource& s = info.source;
                JoinedBlock block;
                block.folder = s.folder;
                block.offset_minutes = info.offset;
                if (IsBeingRecorded(project_path / s.folder))
                    out.notes.push_back(
                        s.folder + " is being recorded: the join holds its records up to now.");
                CopyBlock(ops, handle, bytes, project_path, block, last_minute, any_written,
                          out.notes);
                out.records += block.records;
                out.blocks.push_back(block);
            }
            if (const int r = ops.Sync(handle); r < 0)
                throw std::runtime_error("the joined counts.bin could not be flushed: " +
                                         ErrnoText(r));
        } catch (...) {
            (void)ops.Close(handle);
            throw;
        }
        (void)ops.Close(handle);
        std::vector<FileContent> texts = TextFiles(ctx, project_path, folder, ordered, out.notes);
        texts.push_back({folder / kEventLogFileName, JoinedEventLog(infos, out.records)});
        for (const FileContent& f : texts) cleanup.Wrote(f.path);
        ctx.files.WriteFiles(texts);
        std::error_code ec;
        fs::rename(folder / kJoinPartFile, folder / kCountsFileName, ec);
        if (ec)
            throw std::runtime_error("the joined counts.bin could not be put in place: " +
                                     ec.message());
        (void)ops.SyncDirectory(folder);
    } catch (const std::exception& e) {
        ctx.dialogs.MessageBox(std::string("Nothing was joined: ") + e.what());
        return JoinOutcome{};
    }
    cleanup.Keep();
    out.joined = true;
    out.folder = folder;
    ctx.dialogs.MessageBox(out.Message());
    return out;
}

JoinOutcome JoinSelected(StorageContext& ctx, AppendFileOps& ops, Clock& clock, BrowserState& s,
                         std::vector<std::size_t> selected) {
    if (s.list_mode != 1 || s.view != BrowserView::DateView || s.current_project.empty()) {
        ctx.dialogs.MessageBox(kJoinWrongSelection);
        return {};
    }
    // The list from top to bottom, whatever order the selection was made in.
    std::sort(selected.begin(), selected.end());
    selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
    std::vector<JoinSource> sources;
    for (std::size_t i : selected) {
        const EntryTarget t = TargetOf(s, i);
        if (t.kind == EntryKind::Acquisition)
            sources.push_back({s.entries[i], t.acquisition_folder});
    }
    JoinOutcome out =
        JoinAcquisitions(ctx, ops, clock, ctx.install_dir / s.current_project, std::move(sources));
    if (out.joined) BuildDateView(ctx, s);
    return out;
}

}  // namespace lumivo::offline
