// lumivo-cli analyze and dump: the activity calculation over recorded raw pages, and the
// records of a counts file as text.
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/acquisition/data_files.h"
#include "core/analysis/analysis_module.h"

namespace lumivo::cli {

namespace {

// The RT_Buffer values the program accepts; the calculation reads 500 rows of each window.
constexpr long long kMinRtBuffer = static_cast<long long>(kAnalysisWindowLength);
constexpr long long kMaxRtBuffer = 10000;

void NoteIgnoredTail(const char* command, std::uint64_t bytes) {
    if (bytes == 0) return;
    std::cerr << "lumivo-cli " << command << ": ignored " << bytes
              << " bytes of an incomplete last record\n";
}

}  // namespace

// analyze PAGE.bin --method M --snr X [--rt-buffer N]
// One line per window record of the raw page: the window index (from 0), then the counts of
// channels 0..383, separated by single spaces. Every channel is analysed, whatever the plate.
int RunAnalyze(Args& args) {
    const auto method = args.TakeInt("method", 0, 2);
    const auto snr = args.TakeDouble("snr", 0.0, kMaxSnrFactor);
    const auto rt = args.TakeInt("rt-buffer", kMinRtBuffer, kMaxRtBuffer);
    const auto page = args.TakePositional();
    args.ExpectEnd();
    if (!page) throw UsageError("the raw page file is missing");
    if (!method) throw UsageError("--method is required");
    if (!snr) throw UsageError("--snr is required");
    const auto rt_buffer = static_cast<std::size_t>(rt.value_or(kMinRtBuffer));

    const RawPageReader reader(*page, rt_buffer);
    const std::size_t rows = rt_buffer + 1;
    std::vector<std::int16_t> window(rows * kChannelTableSize);
    std::vector<std::int16_t> counts(kBeamChannelCount);
    ChannelSet all;
    all.set();
    const auto dsp = DspMethodFromNumber(static_cast<int>(*method));
    std::string line;
    for (std::size_t w = 0; w < reader.record_count(); ++w) {
        reader.ReadRecord(w, window);
        AnalyzeWindowChannels(SampleWindow{window, rows}, all, *snr, dsp, counts);
        line = std::to_string(w);
        for (auto c : counts) {
            line += ' ';
            line += std::to_string(c);
        }
        line += '\n';
        std::cout << line;
    }
    std::cout.flush();
    NoteIgnoredTail("analyze", reader.ignored_tail_bytes());
    return std::cout ? 0 : 1;
}

// dump counts.bin
// One line per record: the elapsed minutes, the counts of channels 0..383 and the temperature
// in tenths of a degree, separated by single spaces.
int RunDump(Args& args) {
    const auto file = args.TakePositional();
    args.ExpectEnd();
    if (!file) throw UsageError("the counts file is missing");
    const auto contents = ReadCountsFile(*file);
    std::string line;
    for (const auto& r : contents.records) {
        line = std::to_string(r.elapsed_minutes);
        for (auto v : r.values) {
            line += ' ';
            line += std::to_string(v);
        }
        line += '\n';
        std::cout << line;
    }
    std::cout.flush();
    NoteIgnoredTail("dump", contents.ignored_tail_bytes);
    return std::cout ? 0 : 1;
}

}  // namespace lumivo::cli
