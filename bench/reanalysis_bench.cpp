// Re-analysis of recorded raw data against the disk: 24 hours of raw pages (2,500 windows of
// 500 readings of 384 channels, 228 pages, 964 MB) re-analysed by ReanalyzeRawData with every
// channel in a well (plate w384) and the report written, in MB of raw pages per second, against
// a plain sequential read of the same files in the same iteration.
//
// Each iteration first drops the pages from the page cache (fdatasync + POSIX_FADV_DONTNEED),
// times a plain read() of every page into a 1 MB buffer (and the same read again, from the
// cache), drops them again and times the re-analysis. Counters: read_MBps (the plain read),
// cached_read_MBps (the cached read: far above read_MBps when the eviction worked), MBps (the
// re-analysis, also the bytes_per_second column), ratio (re-analysis / read), block_ms (mean
// time per block: how long STOP may wait). threads 0 is the program's choice (one per core, at
// most 4), 1 the calculation on the calling thread only. The "cold:0" variants keep the pages
// cached: the calculation alone.
// The files go to $LUMIVO_BENCH_DIR, else the system's temporary folder (about 1 GB).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <vector>

#include "bench_windows.h"
#include "core/acquisition/data_files.h"
#include "core/reporting/report/raw_reanalysis.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/installation.h"
#include "core/storage/project_setup.h"

namespace {

namespace fs = std::filesystem;
using namespace lumivo;
using namespace lumivo::reporting;

constexpr std::size_t kRtBuffer = 500;
constexpr std::size_t kRows = kRtBuffer + 1;
constexpr std::size_t kBlocks = 2500;         // 24 h of windows of 500 readings at ~69 ms
constexpr std::size_t kDistinctWindows = 37;  // cycled: the content does not change the cost

class QuietView final : public RawRunView {
  public:
    void ShowStatus(const std::string&) override {}
    void ShowBinSize(const std::string&) override {}
    bool StopRequested() override { return false; }
};

// The recorded acquisition, written once per run of the program and removed at its end.
struct Recording {
    fs::path root;
    fs::path install;
    fs::path folder;
    std::vector<fs::path> pages;
    std::uint64_t bytes = 0;

    Recording() {
        const char* dir = std::getenv("LUMIVO_BENCH_DIR");
        root = fs::path(dir ? dir : fs::temp_directory_path().string()) /
               ("lumivo_reanalysis_bench_" + std::to_string(::getpid()));
        install = root / "install";
        folder = install / "p00001" / "20260314_0930";
        fs::create_directories(folder);
        LocalFileSystem files;
        DefaultAnswerDialogs dialogs;
        StorageContext ctx{install, dialogs, files};
        if (!EnsureInstallation(files, install).ok())
            throw std::runtime_error("cannot prepare " + install.string());
        ProjectState project;
        project.ProjectFolder = folder;
        project.Setup.Name = "Bench";
        project.Setup.Plate_format = "w384";
        SaveProjectFiles(ctx, folder, 1, project);
        WriteAcquisitionRegister(ctx, folder, AcquisitionRegister{"bench", "24 hours"});

        std::vector<std::vector<std::uint8_t>> records;
        for (std::size_t i = 0; i < kDistinctWindows; ++i)
            records.push_back(EncodeRawPageRecord(
                ConstSampleWindow{bench::PlausibleWindow(i + 1), kRows}, kRtBuffer));
        PosixFileOps ops;
        for (std::size_t m = 0; m < kBlocks; ++m) {
            const int page = static_cast<int>(m / kWindowsPerRawPage);
            const fs::path file = folder / RawPageFileName(page);
            if (m % kWindowsPerRawPage == 0) pages.push_back(file);
            if (!AppendRecord(ops, file, records[m % kDistinctWindows],
                              RecordLayout::Fixed(RawPageRecordSize(kRtBuffer)), {})
                     .ok)
                throw std::runtime_error("cannot write " + file.string());
            CountsRecord r;
            r.elapsed_minutes =
                static_cast<std::int32_t>(std::lround(static_cast<double>(m + 1) * 34.56 / 60.0));
            r.values[kBeamChannelCount] = 250;
            if (!AppendCountsRecord(ops, folder / kCountsFileName, r, {}).ok)
                throw std::runtime_error("cannot write counts.bin");
        }
        for (const auto& p : pages) bytes += fs::file_size(p);
    }
    ~Recording() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    // Drops the pages from the page cache, so that the next read comes from the disk.
    void Evict() const {
        for (const auto& p : pages) {
            const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) continue;
            (void)::fdatasync(fd);
            (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
    }

    // Reads every page sequentially; returns the bytes read.
    std::uint64_t ReadAll() const {
        std::vector<char> buffer(1 << 20);
        std::uint64_t total = 0;
        for (const auto& p : pages) {
            const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) throw std::runtime_error("cannot open " + p.string());
            for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;)
                total += static_cast<std::uint64_t>(n);
            ::close(fd);
        }
        return total;
    }
};

const Recording& TheRecording() {
    static const Recording recording;
    return recording;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void BM_Reanalysis(benchmark::State& state) {
    const Recording& rec = TheRecording();
    const bool cold = state.range(1) != 0;
    LocalFileSystem files;
    DefaultAnswerDialogs dialogs;
    StorageContext ctx{rec.install, dialogs, files, [] { return std::string(","); }};
    SystemClock clock;
    ReportEnvironment env{ctx, clock};
    RawRunRequest request;
    request.folder = rec.folder;
    request.method = static_cast<int>(state.range(0));
    request.threshold_text = "1.8";
    request.bin_size_text = "30";
    request.options.decimal_symbol = ".";
    request.threads = static_cast<unsigned>(state.range(2));
    QuietView view;
    double read_s = 0.0;
    double cached_read_s = 0.0;
    double run_s = 0.0;
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            rec.Evict();
            const auto t0 = std::chrono::steady_clock::now();
            if (rec.ReadAll() != rec.bytes) state.SkipWithError("short read");
            read_s += Seconds(t0);
            // The same read again from the page cache: shows that the eviction worked.
            const auto t2 = std::chrono::steady_clock::now();
            (void)rec.ReadAll();
            cached_read_s += Seconds(t2);
            rec.Evict();
            state.ResumeTiming();
        }
        const auto t1 = std::chrono::steady_clock::now();
        const RawRunOutcome out = ReanalyzeRawData(env, request, view);
        run_s += Seconds(t1);
        if (!out.completed || out.analysed != kBlocks || !out.report.written)
            state.SkipWithError(out.failure.c_str());
    }
    const auto n = static_cast<double>(state.iterations());
    const double mb = static_cast<double>(rec.bytes) / 1e6;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(rec.bytes));
    state.counters["MBps"] = mb * n / run_s;
    state.counters["block_ms"] = 1000.0 * run_s / (n * kBlocks);
    if (cold) {
        state.counters["read_MBps"] = mb * n / read_s;
        state.counters["cached_read_MBps"] = mb * n / cached_read_s;
        state.counters["ratio"] = read_s / run_s;
    }
}
BENCHMARK(BM_Reanalysis)
    ->ArgNames({"method", "cold", "threads"})
    ->Args({1, 1, 0})
    ->Args({0, 1, 0})
    ->Args({2, 1, 0})
    ->Args({1, 1, 1})
    ->Args({2, 1, 1})
    ->Args({1, 0, 0})
    ->Args({2, 0, 0})
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
