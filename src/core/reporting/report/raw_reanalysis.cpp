#include "core/reporting/report/raw_reanalysis.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <utility>

#include "core/acquisition/data_files.h"
#include "core/acquisition/event_log.h"
#include "core/acquisition/record_file_io.h"
#include "core/acquisition/recording_mark.h"
#include "core/analysis/analysis_module.h"
#include "core/common/rounding.h"
#include "core/reporting/report/activity_file.h"
#include "core/reporting/report/report_inputs.h"
#include "core/reporting/report/report_output.h"

namespace lumivo::reporting {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCountsFile = "counts.bin";
constexpr std::int32_t kWholeRecording = std::numeric_limits<std::int32_t>::max();

// The numeric value of a text box: a leading decimal number, "," read as "."; nullopt for none.
std::optional<double> BoxNumber(std::string text) {
    std::replace(text.begin(), text.end(), ',', '.');
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::nullopt;
    const char* begin = text.data() + first;
    if (*begin == '+') ++begin;
    double v = 0.0;
    const auto r = std::from_chars(begin, text.data() + text.size(), v);
    if (r.ec != std::errc() || !std::isfinite(v)) return std::nullopt;
    return v;
}

bool IsBlank(const std::string& text) {
    return text.find_first_not_of(" \t") == std::string::npos;
}

[[noreturn]] void FailOn(const std::string& what, const fs::path& file, int err) {
    throw std::runtime_error(what + " " + file.string() + ": " + std::strerror(err));
}

// Identity and state of a file, to notice that it changed between two moments.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t mtime_ns = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const struct stat& st) {
    return FileStamp{st.st_dev, st.st_ino, st.st_size,
                     std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec};
}

std::optional<FileStamp> StampFile(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return std::nullopt;
    return StampOf(st);
}

// Reads whole byte ranges with pread; false at an early end of the file.
bool ReadExactly(int fd, void* data, std::size_t size, std::uint64_t offset, const fs::path& file) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) FailOn("Cannot read", file, errno);
        if (n == 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

// The raw blocks of an acquisition in order: block m is record m mod 11 of page Int(m / 11),
// records of 770 x (RT_Buffer + 1) bytes. Only the rows the analysis reads are read. While one
// page is read, the next one is announced to the kernel so that the disk reads it ahead during
// the calculation.
class RawBlockReader {
  public:
    RawBlockReader(fs::path folder, std::size_t rt_buffer)
        : folder_(std::move(folder)), record_bytes_(RawPageRecordSize(rt_buffer)) {}
    ~RawBlockReader() {
        Close(current_);
        Close(next_);
    }
    RawBlockReader(const RawBlockReader&) = delete;
    RawBlockReader& operator=(const RawBlockReader&) = delete;

    // Reads the first out.size() / 385 rows of block `block` into `out`. False when the block
    // is not on disk (no such page, or the page ends before it). Throws std::runtime_error on a
    // read error.
    bool Read(std::size_t block, std::span<std::int16_t> out) {
        const RawPageLocation at = LocateRawWindow(block);
        if (at.page != current_.number) MoveTo(at.page);
        if (current_.fd < 0 || at.record >= current_.records) return false;
        const std::uint64_t offset = std::uint64_t{at.record} * record_bytes_;
        const std::size_t bytes = out.size() * sizeof(std::int16_t);
        bool whole = false;
        if constexpr (std::endian::native == std::endian::little) {
            whole = ReadExactly(current_.fd, out.data(), bytes, offset, current_.path);
        } else {
            buffer_.resize(bytes);
            whole = ReadExactly(current_.fd, buffer_.data(), bytes, offset, current_.path);
            if (whole) DecodeRawPageRecord(buffer_, out);
        }
        if (!whole) FailOn("Cannot read", current_.path, EIO);  // the page shrank under us
        return true;
    }

  private:
    struct Page {
        int number = -1;
        int fd = -1;
        std::size_t records = 0;
        fs::path path;
    };

    static void Close(Page& page) {
        if (page.fd >= 0) ::close(page.fd);
        page = Page{};
    }

    Page Open(int number) const {
        Page page;
        page.number = number;
        page.path = folder_ / RawPageFileName(number);
        // Non-blocking, so that a FIFO or a device in a page's place cannot hold the open.
        page.fd = ::open(page.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (page.fd < 0) {
            if (errno == ENOENT) return page;  // a missing page: its blocks are missing
            FailOn("Cannot open", page.path, errno);
        }
        struct stat st {};
        if (::fstat(page.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            const int err = errno;
            ::close(page.fd);
            if (S_ISREG(st.st_mode)) FailOn("Cannot read", page.path, err);
            throw std::runtime_error(page.path.string() +
                                     " is not a regular file: a raw page is "
                                     "a file that the recording wrote");
        }
        page.records =
            static_cast<std::size_t>(static_cast<std::uint64_t>(st.st_size) / record_bytes_);
        (void)::posix_fadvise(page.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        return page;
    }

    void MoveTo(int number) {
        Close(current_);
        if (next_.number == number) {
            current_ = next_;
            next_ = Page{};
        } else {
            Close(next_);
            current_ = Open(number);
        }
        Close(next_);
        next_ = Open(number + 1);
        if (next_.fd >= 0) (void)::posix_fadvise(next_.fd, 0, 0, POSIX_FADV_WILLNEED);
    }

    fs::path folder_;
    std::size_t record_bytes_;
    Page current_;
    Page next_;
    std::vector<std::uint8_t> buffer_;
};

// Reads the blocks 0..blocks-1 in order on a thread of its own, up to `depth` blocks ahead of
// the calculation, so that the disk and the processor work at the same time.
class BlockPrefetcher {
  public:
    BlockPrefetcher(const fs::path& folder, std::size_t rt_buffer, std::size_t blocks,
                    std::size_t depth)
        : reader_(folder, rt_buffer), blocks_(blocks), slots_(depth) {
        for (Slot& slot : slots_) slot.readings.resize(kAnalysisWindowLength * kChannelTableSize);
        thread_ = std::thread([this] { Produce(); });
    }
    ~BlockPrefetcher() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    BlockPrefetcher(const BlockPrefetcher&) = delete;
    BlockPrefetcher& operator=(const BlockPrefetcher&) = delete;

    // The readings of the next block (500 rows of 385), or an empty span when the block is not
    // on disk; waits for it. Rethrows a read error. Release() gives the block back.
    std::span<std::int16_t> Next() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return produced_ > consumed_; });
        Slot& slot = slots_[consumed_ % slots_.size()];
        if (slot.error) std::rethrow_exception(slot.error);
        return slot.present ? std::span<std::int16_t>(slot.readings) : std::span<std::int16_t>();
    }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++consumed_;
        }
        changed_.notify_all();
    }

  private:
    struct Slot {
        std::vector<std::int16_t> readings;
        bool present = false;
        std::exception_ptr error;
    };

    void Produce() {
        for (std::size_t m = 0; m < blocks_; ++m) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return quit_ || m - consumed_ < slots_.size(); });
                if (quit_) return;
            }
            Slot& slot = slots_[m % slots_.size()];
            slot.error = nullptr;
            try {
                slot.present = reader_.Read(m, slot.readings);
            } catch (...) {
                slot.error = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++produced_;
            }
            changed_.notify_all();
            if (slot.error) return;
        }
    }

    RawBlockReader reader_;
    std::size_t blocks_;
    std::vector<Slot> slots_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t produced_ = 0;
    std::size_t consumed_ = 0;
    bool quit_ = false;
    std::thread thread_;
};

// Analyses the channels of a window on several threads. The channel set is cut into parts
// along the calculation's groups of 16 neighbouring channels, one part per thread (the calling
// thread takes the first); each thread reads and clips only its own channels' readings and
// writes only their counts and events, so the parts never touch the same memory and the
// results are those of one call with the whole set.
class WindowAnalysisTeam {
  public:
    static constexpr std::size_t kGroup = 16;

    WindowAnalysisTeam(const ChannelSet& channels, unsigned threads) {
        std::vector<std::size_t> groups;  // first channel of every group holding a channel
        for (std::size_t g = 0; g < kBeamChannelCount; g += kGroup) {
            for (std::size_t c = g; c < g + kGroup; ++c) {
                if (channels.test(c)) {
                    groups.push_back(g);
                    break;
                }
            }
        }
        const std::size_t parts =
            std::clamp<std::size_t>(threads, 1, std::max<std::size_t>(1, groups.size()));
        for (std::size_t p = 0; p < parts; ++p) {
            ChannelSet part;
            for (std::size_t i = groups.size() * p / parts; i < groups.size() * (p + 1) / parts;
                 ++i)
                for (std::size_t c = groups[i]; c < groups[i] + kGroup; ++c)
                    if (channels.test(c)) part.set(c);
            parts_.push_back(part);
        }
        errors_.resize(parts_.size());
        for (std::size_t p = 1; p < parts_.size(); ++p)
            workers_.emplace_back([this, p] { Work(p); });
    }
    ~WindowAnalysisTeam() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        start_.notify_all();
        for (std::thread& t : workers_) t.join();
    }
    WindowAnalysisTeam(const WindowAnalysisTeam&) = delete;
    WindowAnalysisTeam& operator=(const WindowAnalysisTeam&) = delete;

    std::size_t threads() const { return parts_.size(); }

    void Analyze(SampleWindow window, double snr, DspMethod method, std::span<std::int16_t> counts,
                 const WindowAnalysisExtras& extras) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job_ = Job{window, snr, method, counts, extras};
            pending_ = workers_.size();
            ++generation_;
        }
        start_.notify_all();
        Run(0);
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return pending_ == 0; });
        for (std::exception_ptr& e : errors_) {
            if (e) std::rethrow_exception(std::exchange(e, nullptr));
        }
    }

  private:
    struct Job {
        SampleWindow window;
        double snr = 0.0;
        DspMethod method = DspMethod::ThresholdAverage;
        std::span<std::int16_t> counts;
        WindowAnalysisExtras extras;
    };

    void Run(std::size_t part) {
        try {
            AnalyzeWindowChannels(job_.window, parts_[part], job_.snr, job_.method, job_.counts,
                                  job_.extras);
        } catch (...) {
            errors_[part] = std::current_exception();
        }
    }

    void Work(std::size_t part) {
        std::uint64_t seen = 0;
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                start_.wait(lock, [&] { return quit_ || generation_ != seen; });
                if (quit_) return;
                seen = generation_;
            }
            Run(part);
            std::lock_guard<std::mutex> lock(mutex_);
            if (--pending_ == 0) done_.notify_one();
        }
    }

    std::vector<ChannelSet> parts_;
    std::vector<std::thread> workers_;
    std::vector<std::exception_ptr> errors_;
    std::mutex mutex_;
    std::condition_variable start_;
    std::condition_variable done_;
    Job job_;
    std::size_t pending_ = 0;
    std::uint64_t generation_ = 0;
    bool quit_ = false;
};

// The event strings of the analysed channels, one file per channel ("chN.raw"), each written
// to a temporary file and put in place by Commit(): a stopped or failed run leaves the files
// of an earlier export as they were.
class EventFileSet {
  public:
    EventFileSet(const fs::path& folder, const ChannelSet& channels) {
        for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
            if (!channels.test(c)) continue;
            index_[c] = static_cast<int>(files_.size());
            files_.push_back(
                File{c, std::make_unique<AtomicFileSink>(folder / EventFileName(c)), {}});
        }
    }

    void Add(std::size_t channel, std::int64_t label, const EventMarks& events) {
        File& f = files_[static_cast<std::size_t>(index_[channel])];
        f.buffer += FormatEventLine(label, events);
        if (f.buffer.size() >= kFlushBytes) Flush(f);
    }

    std::vector<fs::path> Commit() {
        for (File& f : files_) Flush(f);
        std::vector<fs::path> written;
        for (File& f : files_) {
            f.sink->Commit();
            written.push_back(f.sink->target());
        }
        return written;
    }

  private:
    static constexpr std::size_t kFlushBytes = 64 * 1024;
    struct File {
        std::size_t channel;
        std::unique_ptr<AtomicFileSink> sink;
        std::string buffer;
    };
    static void Flush(File& f) {
        if (f.buffer.empty()) return;
        f.sink->Write(f.buffer);
        f.buffer.clear();
    }
    std::vector<File> files_;
    std::array<int, kBeamChannelCount> index_{};
};

// Puts the new counts of records 0..n-1 into counts.bin (bytes 4..771 of each record); the
// minute, the temperature, the other records and an incomplete tail keep their bytes. The new
// file is written beside the old one and renamed over it; the recorded file stays as
// counts.bak (an existing counts.bak already holds the recorded counts and is kept). Nothing
// is replaced when counts.bin changed since `stamp` was taken. Throws std::runtime_error.
void ReplaceCountsFile(const fs::path& folder, const RecordTable& records, std::size_t n,
                       const FileStamp& stamp, fs::path& backup) {
    const fs::path counts = folder / kCountsFile;
    backup = folder / kCountsBackupFileName;
    const auto changed = [&] {
        return std::runtime_error(counts.string() +
                                  " changed while it was re-analysed (is an acquisition still "
                                  "recording into this folder?): it was not replaced.");
    };

    const int fd = ::open(counts.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) FailOn("Cannot read", counts, errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) FailOn("Cannot read", counts, errno);
    if (!(StampOf(st) == stamp)) throw changed();

    // The backup first: a hard link to the recorded file costs nothing; where the file system
    // has none, a copy is written along with the new file.
    std::unique_ptr<AtomicFileSink> backup_copy;
    std::error_code ec;
    if (!fs::exists(backup, ec)) {
        if (::link(counts.c_str(), backup.c_str()) != 0 && errno != EEXIST)
            backup_copy = std::make_unique<AtomicFileSink>(backup);
    }

    AtomicFileSink replacement(counts);
    constexpr std::size_t kChunkRecords = 256;
    std::vector<char> chunk(kChunkRecords * kCountsRecordSize);
    const auto size = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t offset = 0;
    while (offset < size) {
        const std::size_t bytes =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size - offset));
        if (!ReadExactly(fd, chunk.data(), bytes, offset, counts)) throw changed();
        if (backup_copy) backup_copy->Write(std::string_view(chunk.data(), bytes));
        const std::size_t first = static_cast<std::size_t>(offset / kCountsRecordSize);
        for (std::size_t r = 0; (r + 1) * kCountsRecordSize <= bytes; ++r) {
            const std::size_t record = first + r;
            if (record >= n) break;
            char* p = chunk.data() + r * kCountsRecordSize + 4;
            for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
                const auto v = static_cast<std::uint16_t>(records.count(record, c));
                p[2 * c] = static_cast<char>(v & 0xFFu);
                p[2 * c + 1] = static_cast<char>(v >> 8);
            }
        }
        replacement.Write(std::string_view(chunk.data(), bytes));
        offset += bytes;
    }
    if (backup_copy) backup_copy->Commit();
    if (!(StampFile(counts) == std::optional<FileStamp>(stamp))) throw changed();
    replacement.Commit();
}

// Index of the first record at or beyond `limit` minutes (day-adjusted as the report reads
// them: a drop of more than 1000 minutes starts a new day).
std::size_t RecordsWithin(const RecordTable& stored, std::int32_t limit) {
    std::int64_t day = 0;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (i > 0 && stored.minutes[i - 1] - std::int64_t{stored.minutes[i]} > 1000) ++day;
        if (day * 1440 + stored.minutes[i] >= limit) return i;
    }
    return stored.size();
}

// Refuses raw pages that cannot be what the setup says: page 0 must hold whole windows of the
// setup's size when a further page follows it.
std::optional<std::string> CheckRawPageSize(const fs::path& folder, int rt_buffer) {
    const auto record = RawPageRecordSize(static_cast<std::size_t>(rt_buffer));
    std::error_code ec;
    const auto page0 = fs::file_size(folder / RawPageFileName(0), ec);
    if (ec || !fs::exists(folder / RawPageFileName(1), ec)) return std::nullopt;
    if (page0 == record * kWindowsPerRawPage) return std::nullopt;
    return "The raw page " + (folder / RawPageFileName(0)).string() + " holds " +
           std::to_string(page0) + " bytes, not the " + std::to_string(kWindowsPerRawPage) +
           " windows of " + std::to_string(record) + " bytes that RT_Buffer " +
           std::to_string(rt_buffer) +
           " of the acquisition's setup.dat makes: the raw pages do not match the setup and "
           "cannot be re-analysed.";
}

// Whether a block's readings can have come from the instrument: every beam's reading lies in
// the 12-bit range 0..4095. Random bytes in a page (a damaged file) give values beyond it.
bool ReadingsInRange(std::span<const std::int16_t> readings) {
    for (std::size_t row = 0; row + kChannelTableSize <= readings.size(); row += kChannelTableSize)
        for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
            const std::int16_t v = readings[row + c];
            if (v < 0 || v > kMaxRawReading) return false;
        }
    return true;
}

// The process id in a temporary file's name ".NAME.tmpPID_N" (what AtomicFileSink and the
// storage writers leave while they write), or 0 for another name.
long TemporaryWriter(const std::string& name) {
    if (name.size() < 6 || name[0] != '.') return 0;
    const std::size_t at = name.rfind(".tmp");
    if (at == std::string::npos || at < 2) return 0;
    long pid = 0;
    const char* begin = name.data() + at + 4;
    const auto r = std::from_chars(begin, name.data() + name.size(), pid);
    if (r.ec != std::errc() || r.ptr == begin || pid <= 0) return 0;
    return pid;
}

// Removes the temporary files that writers which no longer run (a re-analysis killed before it
// could put its files in place) left in the folder; returns how many and their bytes.
std::pair<std::size_t, std::uintmax_t> RemoveLeftovers(const fs::path& folder) {
    std::size_t removed = 0;
    std::uintmax_t bytes = 0;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        const long pid = TemporaryWriter(name);
        if (pid == 0 || !e.is_regular_file(ec)) continue;
        // A writer that still runs (another re-analysis, a report) keeps its file.
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        const std::uintmax_t size = e.file_size(ec);
        if (fs::remove(e.path(), ec)) {
            ++removed;
            bytes += ec ? 0 : size;
        }
    }
    return {removed, bytes};
}

}  // namespace

std::string ReanalysisLogText(const RawRunRequest& request, const RawRunOutcome& out) {
    std::string text = std::string(kCountsReanalysedEvent) + "method " +
                       std::to_string(request.method) + ", threshold " + request.threshold_text +
                       ", windows 1 to " + std::to_string(out.blocks) +
                       (out.limit_minutes == std::numeric_limits<std::int32_t>::max()
                            ? std::string(" (the whole recording)")
                            : " (the first " + std::to_string(out.limit_minutes) + " minutes)");
    const std::size_t kept = out.missing + out.damaged;
    if (kept > 0)
        text += ", " + std::to_string(kept) + (kept == 1 ? " window" : " windows") +
                " kept the recorded counts (" + std::to_string(out.missing) +
                " without raw data, " + std::to_string(out.damaged) + " with damaged raw data)";
    text += out.replaced ? std::string("; ") + kCountsReplacedMark +
                               ", the recorded counts kept in " + kCountsBackupFileName
                         : std::string("; report only, counts.bin unchanged");
    return text;
}

std::string RealTimeDataNotFoundText(FileSystem& files, const fs::path& folder) {
    const fs::path page = folder / RawPageFileName(0);
    return std::string(kRealTimeDataNotFound) + ": " + page.string() +
           (files.Exists(page) ? " is not a regular file" : " does not exist") +
           ": the acquisition holds no raw signal pages (it was recorded without them, or it is "
           "a joined acquisition), and only raw pages can be re-analysed.";
}

bool RawDataPanelAvailable(StorageContext& ctx, const fs::path& folder) {
    if (ctx.files.IsFile(folder / RawPageFileName(0))) return true;
    ctx.dialogs.MessageBox(RealTimeDataNotFoundText(ctx.files, folder));
    return false;
}

std::int32_t ReanalysisLimitMinutes(bool replace_data, const std::string& datalapse_text,
                                    std::string* shown_text) {
    if (replace_data || IsBlank(datalapse_text)) return kWholeRecording;
    const double minutes = RoundHalfEven(BoxNumber(datalapse_text).value_or(0.0) * 60.0);
    if (!(minutes >= kMinReanalysisMinutes)) {
        // 5 minutes in hours with two decimals: 0.08 h, which is read back as 5 minutes.
        if (shown_text) *shown_text = "0.08";
        return kMinReanalysisMinutes;
    }
    return minutes >= kWholeRecording ? kWholeRecording : static_cast<std::int32_t>(minutes);
}

RawRunOutcome ReanalyzeRawData(ReportEnvironment& env, const RawRunRequest& request,
                               RawRunView& view) {
    RawRunOutcome out;
    Dialogs& dialogs = env.storage.dialogs;
    auto fail = [&](const std::string& message) {
        dialogs.MessageBox(message);
        out.failure = message;
        return std::move(out);
    };
    const fs::path folder = request.folder;
    const fs::path counts_file = folder / kCountsFile;
    if (!env.storage.files.IsFile(counts_file))
        return fail(ActivityFileNotFoundText(env.storage.files, counts_file));
    if (!env.storage.files.IsFile(folder / RawPageFileName(0)))
        return fail(RealTimeDataNotFoundText(env.storage.files, folder));
    // A folder in use (a recording writing into it, or another re-analysis) would mix two
    // thresholds in counts.bin and leave a counts.bak of the first windows only.
    if (IsBeingRecorded(folder))
        return fail(folder.string() +
                    " is in use (an acquisition is being recorded into it, or its raw data are "
                    "being re-analysed): re-analyse it once that has ended.");
    RecordingMark in_use;
    (void)in_use.Take(folder);
    std::tie(out.leftovers_removed, out.leftover_bytes) = RemoveLeftovers(folder);
    if (request.method < 0 || request.method > 2)
        return fail("The method must be 0, 1 or 2, not " + std::to_string(request.method) + ".");
    const auto threshold = BoxNumber(request.threshold_text);
    if (!threshold || *threshold < kMinReanalysisThreshold || *threshold > kMaxReanalysisThreshold)
        return fail("The threshold must be a number from 1.1 to 6.0, not \"" +
                    request.threshold_text + "\".");

    // 1. The limit; 2. the bin size, at least 2.
    out.limit_minutes = ReanalysisLimitMinutes(request.replace_data, request.datalapse_text);
    const std::int64_t bin = LeadingWholeNumber(request.bin_size_text);
    out.bin_size = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(bin, kMinReanalysisBin, kMaxReportMinutes));
    if (bin < kMinReanalysisBin) {
        view.ShowBinSize(std::to_string(kMinReanalysisBin));
        out.bin_size_note = "Bin size " + std::to_string(kMinReanalysisBin) + " min instead of " +
                            std::to_string(bin) +
                            ": the report of a re-analysis has bins of at least " +
                            std::to_string(kMinReanalysisBin) + " minutes.";
    }

    try {
        auto inputs = LoadReportInputs(env.storage, folder, &out.failure);
        if (!inputs) return out;  // the message was shown
        if (inputs->rt_buffer < static_cast<int>(kAnalysisWindowLength)) {
            return fail("The raw data of " + folder.string() +
                        " cannot be re-analysed: they were recorded with RT_Buffer " +
                        std::to_string(inputs->rt_buffer) + " (windows of " +
                        std::to_string(inputs->rt_buffer) +
                        " readings), and the activity calculation needs windows of at least " +
                        std::to_string(kAnalysisWindowLength) + " readings.");
        }
        if (auto refusal = CheckRawPageSize(folder, inputs->rt_buffer)) return fail(*refusal);
        ChannelSet channels;
        for (std::size_t c = 0; c < kBeamChannelCount; ++c)
            if (inputs->channel_well[c] >= 0) channels.set(c);
        if (channels.none())
            return fail("The plate format " + inputs->plate_format +
                        " puts no channel in a well: there is nothing to re-analyse.");

        // 3. The records within the limit.
        const auto stamp = StampFile(counts_file);
        if (!stamp) return fail(ActivityFileNotFoundText(env.storage.files, counts_file));
        out.records = ReadCountsRecords(counts_file);
        out.blocks = RecordsWithin(out.records, out.limit_minutes);
        if (out.blocks == 0)
            return fail("No record of " + counts_file.string() + " lies within the first " +
                        std::to_string(out.limit_minutes) + " minutes: nothing to re-analyse.");
        out.records.minutes.resize(out.blocks);
        out.records.counts.resize(out.blocks * kChannelTableSize);
        out.records.temperature.resize(out.blocks);
        const std::string of_n = "/" + std::to_string(out.blocks);
        view.ShowStatus("Block 0" + of_n);

        // 4. Every block: read, analyse the channels in wells, keep the new counts.
        std::unique_ptr<EventFileSet> events;
        if (request.raw_export) events = std::make_unique<EventFileSet>(folder, channels);
        std::vector<EventMarks> marks(request.raw_export ? kBeamChannelCount : 0);
        WindowAnalysisExtras extras;
        extras.events = marks;
        constexpr std::size_t kBlocksAhead = 4;
        BlockPrefetcher blocks(folder, static_cast<std::size_t>(inputs->rt_buffer), out.blocks,
                               kBlocksAhead);
        const unsigned cores = std::thread::hardware_concurrency();
        WindowAnalysisTeam team(channels,
                                request.threads != 0 ? request.threads : std::clamp(cores, 1u, 4u));
        std::array<std::int16_t, kBeamChannelCount> counts{};
        const auto method = DspMethodFromNumber(request.method);
        for (std::size_t m = 0; m < out.blocks; ++m) {
            view.ShowStatus("Block " + std::to_string(m + 1) + of_n);
            const std::span<std::int16_t> window = blocks.Next();
            const bool damaged = !window.empty() && !ReadingsInRange(window);
            if (damaged) {
                if (out.damaged == 0) out.first_damaged = m;
                ++out.damaged;
            } else if (!window.empty()) {
                team.Analyze(SampleWindow{window, kAnalysisWindowLength}, *threshold, method,
                             counts, extras);
                std::int16_t* row = &out.records.counts[m * kChannelTableSize];
                for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
                    if (!channels.test(c)) continue;
                    row[c] = counts[c];
                    if (events) events->Add(c, static_cast<std::int64_t>(m), marks[c]);
                }
                ++out.analysed;
            } else {
                if (out.missing == 0) out.first_missing = m;
                ++out.missing;
            }
            blocks.Release();
            dialogs.ProcessEvents();
            if (view.StopRequested()) {
                out.stopped = true;
                dialogs.MessageBox("Raw data processing stopped at block " + std::to_string(m + 1) +
                                   " of " + std::to_string(out.blocks) +
                                   ": counts.bin was not changed and no report was written.");
                return out;  // the temporary event files are removed
            }
        }
        if (out.damaged > 0) {
            const RawPageLocation at = LocateRawWindow(out.first_damaged);
            dialogs.MessageBox(std::to_string(out.damaged) + " of " + std::to_string(out.blocks) +
                               " blocks hold readings outside 0.." +
                               std::to_string(kMaxRawReading) +
                               ", which the instrument cannot give (damaged raw data, from block " +
                               std::to_string(out.first_damaged + 1) + " in " +
                               (folder / RawPageFileName(at.page)).string() +
                               " on): they were not re-analysed and kept their recorded counts.");
        }
        if (out.analysed == 0)
            return fail("None of the " + std::to_string(out.blocks) + " blocks of " +
                        counts_file.string() +
                        " has usable raw data in the raw pages: nothing was re-analysed.");
        if (out.missing > 0) {
            dialogs.MessageBox(std::to_string(out.missing) + " of " + std::to_string(out.blocks) +
                               " blocks have no raw data (the raw pages end or are missing "
                               "from block " +
                               std::to_string(out.first_missing + 1) +
                               " on): the counts recorded for them were kept.");
        }
        if (events) out.event_files = events->Commit();

        // 5. The new counts into counts.bin.
        if (request.replace_data) {
            view.ShowStatus("Saving...");
            try {
                ReplaceCountsFile(folder, out.records, out.blocks, *stamp, out.backup_file);
            } catch (const std::exception& e) {
                out.backup_file.clear();
                return fail("counts.bin was not replaced: " + std::string(e.what()) +
                            " The recorded counts are unchanged.");
            }
            out.replaced = true;
            view.ShowStatus("Block " + std::to_string(out.blocks) + of_n);
        }
    } catch (const std::exception& e) {
        return fail("Raw data processing ended without result: " + std::string(e.what()));
    }

    // What was done goes into events.log, where a later report finds it.
    const std::string logged = ReanalysisLogText(request, out);
    const std::string line = EventLogLine(env.clock.Now(), logged) + "\r\n";
    {
        PosixFileOps ops;
        AppendOptions options;
        options.sync = true;
        const AppendOutcome appended =
            AppendRecord(ops, folder / kEventLogFileName,
                         std::span<const std::uint8_t>(
                             reinterpret_cast<const std::uint8_t*>(line.data()), line.size()),
                         RecordLayout::Lines(), options);
        if (!appended.ok)
            dialogs.MessageBox("The re-analysis could not be noted in " +
                               (folder / kEventLogFileName).string() + ": " + appended.error);
    }

    // 6. The report of the new counts, without basal normalisation.
    ReportRequest report;
    report.folder = folder;
    report.bin_size_text = std::to_string(out.bin_size);
    report.options = request.options;
    report.activity = &out.records;
    // As a later report of counts.bin reads it from events.log: the date, then what was done.
    report.reanalysis_text =
        line.substr(0, 19) + ": " + logged.substr(std::string_view(kCountsReanalysedEvent).size());
    out.report = GenerateReport(env, report);
    out.completed = true;
    if (!out.report.written) out.failure = out.report.failure;
    return out;
}

RawRunRequest RawRunRequestFromWindow(const ReportWindowState& w,
                                      const std::string& decimal_symbol) {
    const ReportRequest report = RequestFromWindow(w, decimal_symbol);
    RawRunRequest r;
    r.folder = report.folder;
    r.datalapse_text = w.datalapse_text;
    r.replace_data = w.replace_data;
    r.raw_export = w.raw_export;
    r.method = w.method;
    r.threshold_text = w.threshold_text;
    r.bin_size_text = w.bin_text;
    r.options = report.options;
    return r;
}

}  // namespace lumivo::reporting
