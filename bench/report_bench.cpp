// A report over a long recording: 32,000 one-minute records (minutes 1..32000, about 22 days) on
// a 96-well plate (the shipped Default project), from reading counts.bin to the written report
// file, its copy and the chart, in every layout at 1-minute bins (the largest files: the List
// layout writes about 490 MB twice) and at 30 and 1440 minutes. The baseline is reading and
// decoding counts.bin alone, measured in the same run; the "x_read" counter is the report's
// time in units of that baseline. Peak memory is measured on `lumivo-cli report` with
// /usr/bin/time -v (see the closing note of the reports issue).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/acquisition/data_files.h"
#include "core/reporting/report/activity_file.h"
#include "core/reporting/report/report_run.h"
#include "core/storage/field_record.h"
#include "core/storage/installation.h"

namespace {

namespace fs = std::filesystem;
using namespace lumivo;
using namespace lumivo::reporting;

// An installation folder with project 1 and one acquisition of one-minute records at minutes
// 1..minutes.
class LongAcquisition {
  public:
    explicit LongAcquisition(int minutes) {
        root_ = fs::temp_directory_path() / ("lumivo_report_bench_" + std::to_string(::getpid()));
        fs::remove_all(root_);
        install_ = root_ / "install";
        LocalFileSystem files;
        EnsureInstallation(files, install_);
        folder_ = install_ / "p00001" / "20260101_0000";
        fs::create_directories(folder_);
        for (const char* f :
             {"setup.dat", "status.dat", "threshld.dat", "groups.dat", "chgroup.dat"})
            fs::copy_file(install_ / f, folder_ / f);
        RecordWriter reg;
        reg.Text("Longest run").EndLine().Text("benchmark").EndLine();
        std::ofstream(folder_ / "subproj.dat", std::ios::binary) << reg.str();
        // Written in one go: the appender's per-record file handling would dominate the set-up.
        std::string bytes;
        bytes.reserve(static_cast<std::size_t>(minutes) * kCountsRecordSize);
        std::array<std::uint8_t, kCountsRecordSize> buf{};
        for (int m = 1; m <= minutes; ++m) {
            CountsRecord r;
            r.elapsed_minutes = m;
            for (std::size_t c = 0; c < kBeamChannelCount; ++c)
                r.values[c] = static_cast<std::int16_t>((m * 7 + static_cast<int>(c) * 13) % 97);
            r.values[kBeamChannelCount] = 250;
            EncodeCountsRecord(r, buf);
            bytes.append(reinterpret_cast<const char*>(buf.data()), buf.size());
        }
        std::ofstream(folder_ / kCountsFileName, std::ios::binary) << bytes;
    }
    ~LongAcquisition() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    const fs::path& install() const { return install_; }
    const fs::path& folder() const { return folder_; }

  private:
    fs::path root_;
    fs::path install_;
    fs::path folder_;
};

LongAcquisition& Longest() {
    static LongAcquisition acquisition(32000);
    return acquisition;
}

// The fastest of five reads of counts.bin (the machine may be busy with other work).
double ReadSeconds() {
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const RecordTable t = ReadCountsRecords(Longest().folder() / kCountsFileName);
        benchmark::DoNotOptimize(t.counts.data());
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

void BM_ReadCountsBaseline(benchmark::State& state) {
    for (auto _ : state) {
        const RecordTable t = ReadCountsRecords(Longest().folder() / kCountsFileName);
        benchmark::DoNotOptimize(t.counts.data());
    }
}

// Arguments: output layout, bin size in minutes.
void BM_ReportLongestRecording(benchmark::State& state) {
    LongAcquisition& acq = Longest();
    LocalFileSystem files;
    DefaultAnswerDialogs dialogs;
    SystemClock clock;
    StorageContext ctx{acq.install(), dialogs, files, [] { return std::string(","); }};
    ReportEnvironment env{ctx, clock};
    ReportRequest request;
    request.folder = acq.folder();
    request.bin_size_text = std::to_string(state.range(1));
    request.options.output = static_cast<OutputFormat>(state.range(0));
    request.options.std_dev = true;
    const double baseline = ReadSeconds();
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const ReportOutcome out = GenerateReport(env, request);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!out.written) state.SkipWithError(out.failure.c_str());
    }
    state.counters["x_read"] = total / static_cast<double>(state.iterations()) / baseline;
    state.counters["report_MB"] =
        static_cast<double>(fs::file_size(acq.folder() / "report.csv")) / 1e6;
}

BENCHMARK(BM_ReadCountsBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReportLongestRecording)
    ->ArgsProduct({{0, 1, 2, 3}, {1}})
    ->ArgsProduct({{0, 1, 3}, {30}})
    ->Args({0, 1440})
    ->Unit(benchmark::kMillisecond);

}  // namespace
