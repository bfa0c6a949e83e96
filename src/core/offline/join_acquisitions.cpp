#include "core/offline/join_acquisitions.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <stdexcept>

#include "core/acquisition/data_files.h"
#include "core/acquisition/recording_mark.h"
#include "core/offline/browser_entries.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/field_record.h"

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
    const std::vector<JoinSource> ordered = OrderByStart(std::move(sources), now);
    if (ctx.dialogs.MessageBox(JoinQuestion(ordered), MsgButtons::OkCancel) != MsgResult::Ok)
        return out;

    // Offsets from the earliest start, which begins a day after now.
    double earliest = NowMinutes(now) + 1440.0;
    for (const JoinSource& s : ordered) earliest = std::min(earliest, StartMinutes(s.folder, now));

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
            for (const JoinSource& s : ordered) {
                JoinedBlock block;
                block.folder = s.folder;
                block.offset_minutes = static_cast<std::int32_t>(
                    std::nearbyint(StartMinutes(s.folder, now) - earliest));
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
        const std::vector<FileContent> texts =
            TextFiles(ctx, project_path, folder, ordered, out.notes);
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
