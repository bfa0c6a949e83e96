// Activity calculation throughput and the cost of one window close.
//
// BM_Reanalyze*: re-analysis of a raw page record (decode the little-endian bytes, analyse all
// 384 channels), literal vs production, in bytes of raw page per second. The literal version
// is the baseline measured in the same run; compare the bytes_per_second of the two.
// BM_WindowClose: what the sampling loop does when a window closes: analyse 384 channels and
// append the raw page and counts.bin records (with and without flushing to disk). The files
// go to $LUMIVO_BENCH_DIR, else the system's temporary folder.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

#include "bench_windows.h"
#include "core/acquisition/data_files.h"
#include "core/analysis/analysis_literal.h"
#include "core/analysis/analysis_module.h"

namespace {

using namespace lumivo;

constexpr std::size_t kRtBuffer = 500;
constexpr std::size_t kRows = kRtBuffer + 1;

const std::vector<std::uint8_t>& PageRecordBytes() {
    static const std::vector<std::uint8_t> bytes =
        EncodeRawPageRecord(ConstSampleWindow{bench::PlausibleWindow(42), kRows}, kRtBuffer);
    return bytes;
}

void BM_ReanalyzeProduction(benchmark::State& state) {
    const auto method = static_cast<DspMethod>(state.range(0));
    const auto& bytes = PageRecordBytes();
    std::vector<std::int16_t> window(kRows * kChannelTableSize);
    std::vector<std::int16_t> counts(kBeamChannelCount);
    ChannelSet all;
    all.set();
    for (auto _ : state) {
        DecodeRawPageRecord(bytes, window);
        AnalyzeWindowChannels(SampleWindow{window, kRows}, all, 1.3, method, counts);
        benchmark::DoNotOptimize(counts.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_ReanalyzeProduction)
    ->ArgName("method")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond);

void BM_ReanalyzeLiteral(benchmark::State& state) {
    const auto method = static_cast<DspMethod>(state.range(0));
    const auto& bytes = PageRecordBytes();
    std::vector<std::int16_t> window(kRows * kChannelTableSize);
    std::vector<std::int16_t> counts(kBeamChannelCount);
    for (auto _ : state) {
        DecodeRawPageRecord(bytes, window);
        for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
            counts[c] =
                literal::AnalyzeChannelWindowLiteral(SampleWindow{window, kRows}, c, 1.3, method)
                    .count;
        }
        benchmark::DoNotOptimize(counts.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_ReanalyzeLiteral)->ArgName("method")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// One window close: analysis of 384 channels (method 1) and the raw page + counts.bin records.
void BM_WindowClose(benchmark::State& state) {
    const bool sync = state.range(0) != 0;
    const char* env = std::getenv("LUMIVO_BENCH_DIR");
    const std::filesystem::path base =
        env != nullptr ? std::filesystem::path(env) : std::filesystem::temp_directory_path();
    const auto folder = base / ("lumivo_bench_" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);

    const auto pristine = bench::PlausibleWindow(7);
    std::vector<std::int16_t> window = pristine;
    std::vector<std::int16_t> counts(kBeamChannelCount);
    ChannelSet all;
    all.set();
    PosixFileOps ops;
    WindowRecords rec;
    rec.rt_buffer = kRtBuffer;
    std::size_t index = 0;
    for (auto _ : state) {
        AnalyzeWindowChannels(SampleWindow{window, kRows}, all, 1.3, DspMethod::ThresholdAverage,
                              counts);
        std::copy(counts.begin(), counts.end(), rec.counts.values.begin());
        rec.counts.values[kBeamChannelCount] = TemperatureTenths(25.0);
        rec.counts.elapsed_minutes = static_cast<std::int32_t>(index % 30000);
        const auto at = LocateRawWindow(index);
        rec.raw_file_index = at.page;
        rec.raw = ConstSampleWindow{window, kRows};
        const auto r = AppendWindowRecords(ops, folder, rec, AppendOptions{sync});
        if (!r.ok) {
            state.SkipWithError(r.error.c_str());
            break;
        }
        ++index;
        if (at.record == kWindowsPerRawPage - 1) {
            // Keep the disk use bounded: drop the finished page (not part of a window close).
            state.PauseTiming();
            std::filesystem::remove(folder / RawPageFileName(at.page));
            std::filesystem::remove(folder / kCountsFileName);
            window = pristine;
            state.ResumeTiming();
        }
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_WindowClose)->ArgName("fsync")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
