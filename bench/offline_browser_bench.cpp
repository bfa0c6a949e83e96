// The offline browser over a large installation: 200 projects with 50 acquisitions each (10,000
// acquisition folders, each with its counts.bin and subproj.dat), built once in a temporary
// folder. Measured: the window's load (every project closed), the tree with every project
// opened (10,200 entries: each acquisition's counts.bin looked for and its subproj.dat read),
// one project's date view, and choosing an acquisition of a week (about 17,000 windows in
// counts.bin, 1,571 raw pages of 4.2 MB each, sparse on disk: they must not be read), and the
// first signal page of that acquisition as the window shows it.
//
// The baseline, measured in the same run, is the bare walk the tree needs: listing the folders
// and looking for setup.dat and counts.bin with std::filesystem, reading each subproj.dat. The
// "x_walk" counter is the browser's time in units of that walk.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/acquisition/data_files.h"
#include "core/offline/acquisition_browser.h"
#include "core/offline/recorded_signal_source.h"
#include "core/storage/field_record.h"
#include "core/storage/installation.h"
#include "core/storage/project_setup.h"

namespace {

namespace fs = std::filesystem;
using namespace lumivo;
using namespace lumivo::offline;

constexpr int kProjects = 200;
constexpr int kAcquisitionsPerProject = 50;
// A week of 35-second windows, and the raw pages that hold them (11 windows a page).
constexpr int kWeekWindows = 7 * 24 * 60 * 60 / 35;
constexpr int kWeekPages = (kWeekWindows + 10) / 11;

void Write(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

// Acquisition k of a project: one folder a day at 10:00, from 2025-01-01.
std::string AcquisitionName(int k) {
    const int month = 1 + k / 28, day = 1 + k % 28;
    char buf[16];
    std::snprintf(buf, sizeof buf, "2025%02d%02d_1000", month, day);
    return buf;
}

class LargeInstallation {
  public:
    LargeInstallation() {
        root_ = fs::temp_directory_path() / ("lumivo_browser_bench_" + std::to_string(::getpid()));
        fs::remove_all(root_);
        install_ = root_ / "install";
        LocalFileSystem files;
        EnsureInstallation(files, install_);
        std::array<std::uint8_t, kCountsRecordSize> record{};
        CountsRecord r;
        r.elapsed_minutes = 1;
        EncodeCountsRecord(r, record);
        const std::string counts(reinterpret_cast<const char*>(record.data()), record.size());
        for (int p = 1; p <= kProjects; ++p) {
            ProjectState project;
            project.Setup.Name = "Project " + std::to_string(p);
            const fs::path folder = ProjectFolderFor(install_, p);
            fs::create_directories(folder);
            Write(folder / "setup.dat", FormatSetupFile(p, project));
            for (int a = 0; a < kAcquisitionsPerProject; ++a) {
                const fs::path acq = folder / AcquisitionName(a);
                fs::create_directories(acq);
                Write(acq / kCountsFileName, counts);
                RecordWriter reg;
                reg.Text("Run " + std::to_string(a)).EndLine().Text("benchmark").EndLine();
                Write(acq / "subproj.dat", reg.Take());
            }
        }
        // Project 1's last acquisition becomes a week-long recording.
        week_ = ProjectFolderFor(install_, 1) / AcquisitionName(kAcquisitionsPerProject - 1);
        std::string bytes;
        for (int w = 0; w < kWeekWindows; ++w) {
            r.elapsed_minutes = w * 35 / 60 + 1;
            r.values[kBeamChannelCount] = static_cast<std::int16_t>(230 + w % 20);
            EncodeCountsRecord(r, record);
            bytes.append(reinterpret_cast<const char*>(record.data()), record.size());
        }
        Write(week_ / kCountsFileName, bytes);
        for (int page = 0; page < kWeekPages; ++page) {
            const fs::path file = week_ / RawPageFileName(page);
            Write(file, "");
            fs::resize_file(file, kWindowsPerRawPage * RawPageRecordSize(500));
        }
    }
    ~LargeInstallation() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    const fs::path& install() const { return install_; }
    const fs::path& week() const { return week_; }

  private:
    fs::path root_, install_, week_;
};

LargeInstallation& Installation() {
    static LargeInstallation installation;
    return installation;
}

// The bare walk: every project folder, its setup.dat, every acquisition folder, its counts.bin
// and its subproj.dat read whole.
std::size_t Walk() {
    std::size_t found = 0;
    std::error_code ec;
    for (const auto& project : fs::directory_iterator(Installation().install(), ec)) {
        if (!project.is_directory() || !fs::exists(project.path() / "setup.dat")) continue;
        for (const auto& acq : fs::directory_iterator(project.path(), ec)) {
            if (!acq.is_directory() || !fs::exists(acq.path() / kCountsFileName)) continue;
            std::ifstream in(acq.path() / "subproj.dat", std::ios::binary);
            char text[256];
            in.read(text, sizeof text);
            if (in.gcount() > 0) ++found;
        }
    }
    return found;
}

double WalkSeconds() {
    static const double best = [] {
        double b = 1e9;
        for (int i = 0; i < 5; ++i) {
            const auto start = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize(Walk());
            b = std::min(
                b, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        return b;
    }();
    return best;
}

struct Browser {
    LocalFileSystem files;
    DefaultAnswerDialogs dialogs;
    StorageContext ctx{Installation().install(), dialogs, files, {}};
    BrowserState state;
};

template <typename Step>
void Measure(benchmark::State& state, Step step) {
    const double walk = WalkSeconds();
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        step();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["x_walk"] = total / static_cast<double>(state.iterations()) / walk;
}

void BM_BareWalkBaseline(benchmark::State& state) {
    Installation();
    for (auto _ : state) benchmark::DoNotOptimize(Walk());
}

void BM_LoadBrowserProjectsClosed(benchmark::State& state) {
    Browser b;
    Measure(state, [&] { LoadBrowser(b.ctx, b.state); });
    state.counters["entries"] = static_cast<double>(b.state.entries.size());
}

void BM_ProjectTreeAllOpened(benchmark::State& state) {
    Browser b;
    LoadBrowser(b.ctx, b.state);
    b.state.expanded.assign(b.state.expanded.size(), true);
    Measure(state, [&] { BuildProjectTree(b.ctx, b.state); });
    state.counters["entries"] = static_cast<double>(b.state.entries.size());
}

void BM_DateViewOfOneProject(benchmark::State& state) {
    Browser b;
    b.state.current_project = "p00100";
    Measure(state, [&] { BuildDateView(b.ctx, b.state); });
}

void BM_ChooseAWeekLongAcquisition(benchmark::State& state) {
    Browser b;
    const AcquisitionRef ref{Installation().week().parent_path(),
                             Installation().week().filename().string()};
    int pages = 0;
    Measure(state, [&] { pages = OpenAcquisition(b.ctx, ref, "week")->raw_pages; });
    if (pages != kWeekPages) state.SkipWithError("the raw pages were not all counted");
    state.counters["raw_pages"] = pages;
}

// What the window adds when that acquisition is chosen: its recorded signal opened (counts.bin
// read, the raw pages' sizes looked at) and the first page of channel 0 read for the plot.
void BM_FirstSignalPageOfAWeekLongAcquisition(benchmark::State& state) {
    Browser b;
    std::int64_t windows = 0;
    std::vector<std::int16_t> page(11 * 500);
    Measure(state, [&] {
        auto source = OpenRecordedSignal(b.ctx, Installation().week());
        if (!source) return;
        windows = source->RawWindowCount();
        source->ChannelReadings(0, 0, page);
        benchmark::DoNotOptimize(page.data());
    });
    if (windows < kWeekWindows) state.SkipWithError("the raw windows were not all counted");
    state.counters["raw_windows"] = static_cast<double>(windows);
}

BENCHMARK(BM_BareWalkBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadBrowserProjectsClosed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProjectTreeAllOpened)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DateViewOfOneProject)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChooseAWeekLongAcquisition)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstSignalPageOfAWeekLongAcquisition)->Unit(benchmark::kMillisecond);

}  // namespace
