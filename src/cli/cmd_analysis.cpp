// lumivo-cli analyze and dump: the activity calculation over recorded raw pages, and the
// records of a counts file as text.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <span>
#include <string>
#include <vector>

#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "core/acquisition/data_files.h"
#include "core/analysis/analysis_module.h"
#include "core/storage/file_system.h"

namespace lumivo::cli {

namespace {

// The RT_Buffer values the program accepts; the calculation reads 500 rows of each window.
constexpr long long kMinRtBuffer = static_cast<long long>(kAnalysisWindowLength);
constexpr long long kMaxRtBuffer = 10000;

void NoteIgnoredTail(const char* command, std::uint64_t bytes) {
    if (bytes == 0) return;
    PrintError(command, "ignored " + std::to_string(bytes) + " bytes of an incomplete last record");
}

const char* FileKind(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

// Opens a data file for reading. Only regular files are read: a FIFO or a device would make
// the command wait for data for ever or read without end. On failure says why on stderr and
// returns -1.
int OpenDataFile(const char* command, const std::string& path, const char* what) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        PrintError(command, "cannot open " + path + ": " + std::strerror(errno) +
                                ". Give the path of " + what + ".");
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        PrintError(command, path + " is " + FileKind(st.st_mode) +
                                ", not a regular file: give the path of " + what + ".");
        return -1;
    }
    return fd;
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

    {
        const FileDescriptor checked(OpenDataFile("analyze", *page, "a raw page (n.bin)"));
        if (checked.get() < 0) return 1;
    }
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
// in tenths of a degree, separated by single spaces. The file is read a block of records at a
// time, so the first line comes at once and the memory used does not grow with the file.
int RunDump(Args& args) {
    const auto file = args.TakePositional();
    args.ExpectEnd();
    if (!file) throw UsageError("the counts file is missing");
    const FileDescriptor in(OpenDataFile("dump", *file, "a counts.bin file"));
    if (in.get() < 0) return 1;
    constexpr std::size_t kBlockRecords = 256;
    std::vector<std::uint8_t> block(kBlockRecords * kCountsRecordSize);
    std::size_t held = 0;  // bytes in `block`, the last ones maybe a partial record
    std::string lines;
    while (true) {
        const ssize_t got = ::read(in.get(), block.data() + held, block.size() - held);
        if (got < 0) {
            if (errno == EINTR) continue;
            PrintError("dump", "cannot read " + *file + ": " + std::strerror(errno));
            return 1;
        }
        if (got == 0) break;
        held += static_cast<std::size_t>(got);
        const std::size_t whole = held / kCountsRecordSize;
        lines.clear();
        for (std::size_t r = 0; r < whole; ++r) {
            const auto record = DecodeCountsRecord(std::span<const std::uint8_t, kCountsRecordSize>(
                block.data() + r * kCountsRecordSize, kCountsRecordSize));
            lines += std::to_string(record.elapsed_minutes);
            for (auto v : record.values) {
                lines += ' ';
                lines += std::to_string(v);
            }
            lines += '\n';
        }
        std::cout << lines;
        if (!std::cout) return 1;
        const std::size_t used = whole * kCountsRecordSize;
        std::copy(block.begin() + static_cast<std::ptrdiff_t>(used),
                  block.begin() + static_cast<std::ptrdiff_t>(held), block.begin());
        held -= used;
    }
    std::cout.flush();
    NoteIgnoredTail("dump", held);
    return std::cout ? 0 : 1;
}

}  // namespace lumivo::cli
