// lumivo-cli analyze and dump, run as the built program on files written by the data-file
// writers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "core/acquisition/data_files.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace lumivo;

using namespace lumivo::testing;

// The words of each line.
std::vector<std::vector<std::string>> Words(const std::string& text) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string w; words >> w;) fields.push_back(w);
        lines.push_back(fields);
    }
    return lines;
}

class AnalysisCli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("lumivo_cli_analysis_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A page of `windows` records: every channel flat at 2000, channel 5 dipping once
    // (samples 40..139) and channel 7 ten times.
    fs::path WritePage(std::size_t rt_buffer, int windows) {
        std::vector<std::int16_t> m((rt_buffer + 1) * kChannelTableSize, 2000);
        for (std::size_t r = 40; r < 140; ++r) m[r * kChannelTableSize + 5] = 1000;
        for (std::size_t j = 0; j < 10; ++j) {
            for (std::size_t r = 25 + 50 * j; r < 45 + 50 * j; ++r)
                m[r * kChannelTableSize + 7] = 1000;
        }
        const auto page = dir_ / "0.bin";
        PosixFileOps ops;
        for (int w = 0; w < windows; ++w) {
            EXPECT_TRUE(
                AppendRawPageRecord(ops, page, ConstSampleWindow{m, rt_buffer + 1}, rt_buffer, {})
                    .ok);
        }
        return page;
    }

    fs::path dir_;
};

TEST_F(AnalysisCli, AnalyzePrintsOneLineOfCountsPerWindow) {
    const auto page = WritePage(600, 3);
    {
        std::ofstream tail(page, std::ios::binary | std::ios::app);
        tail << "partial";
    }
    for (const char* method : {"0", "1"}) {
        const auto r = RunCli(
            {"analyze", page.string(), "--method", method, "--snr", "1.3", "--rt-buffer", "600"},
            dir_);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto lines = Words(r.out);
        ASSERT_EQ(lines.size(), 3u);
        for (std::size_t w = 0; w < 3; ++w) {
            ASSERT_EQ(lines[w].size(), 1u + kBeamChannelCount);
            EXPECT_EQ(lines[w][0], std::to_string(w));
            EXPECT_EQ(lines[w][1 + 5], std::string(method) == "0" ? "4" : "1");
            EXPECT_EQ(lines[w][1 + 7], std::string(method) == "0" ? "16" : "10");
            EXPECT_EQ(lines[w][1 + 0], "0");
        }
        EXPECT_NE(r.err.find("ignored 7 bytes"), std::string::npos) << r.err;
    }
}

TEST_F(AnalysisCli, AnalyzeRefusesWindowsShorterThanTheCalculation) {
    const auto page = WritePage(500, 1);
    struct Case {
        std::vector<std::string> words;
        const char* message;
    };
    const Case cases[] = {
        {{"analyze", page.string(), "--method", "1", "--snr", "1.3", "--rt-buffer", "499"},
         "--rt-buffer must be"},
        {{"analyze", page.string(), "--method", "1", "--snr", "1.3", "--rt-buffer", "200"},
         "--rt-buffer must be"},
        {{"analyze", page.string(), "--method", "3", "--snr", "1.3"}, "--method must be"},
        {{"analyze", page.string(), "--method", "1"}, "--snr is required"},
        {{"analyze", "--method", "1", "--snr", "2"}, "raw page file is missing"},
    };
    for (const auto& c : cases) {
        const auto r = RunCli(c.words, dir_);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    const auto missing =
        RunCli({"analyze", (dir_ / "9.bin").string(), "--method", "1", "--snr", "2"}, dir_);
    EXPECT_EQ(missing.status, 1);
}

TEST_F(AnalysisCli, DumpPrintsTheFieldsOfEachCountsRecord) {
    const auto file = dir_ / "counts.bin";
    PosixFileOps ops;
    for (int w = 0; w < 2; ++w) {
        CountsRecord rec;
        rec.elapsed_minutes = 10 * (w + 1);
        for (std::size_t c = 0; c < kBeamChannelCount; ++c)
            rec.values[c] = static_cast<std::int16_t>(static_cast<int>(c % 7) - w);
        rec.values[kBeamChannelCount] = TemperatureTenths(25.36);
        ASSERT_TRUE(AppendCountsRecord(ops, file, rec, {}).ok);
    }
    {
        std::ofstream tail(file, std::ios::binary | std::ios::app);
        tail << std::string(10, '\0');
    }
    const auto r = RunCli({"dump", file.string()}, dir_);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Words(r.out);
    ASSERT_EQ(lines.size(), 2u);
    for (std::size_t w = 0; w < 2; ++w) {
        ASSERT_EQ(lines[w].size(), 1u + kChannelTableSize);
        EXPECT_EQ(lines[w][0], std::to_string(10 * (w + 1)));
        EXPECT_EQ(lines[w][1 + 3], std::to_string(3 - static_cast<int>(w)));
        EXPECT_EQ(lines[w].back(), "254");
    }
    EXPECT_NE(r.err.find("ignored 10 bytes"), std::string::npos) << r.err;
    EXPECT_EQ(RunCli({"dump"}, dir_).status, 2);
}

TEST_F(AnalysisCli, DumpAndAnalyzeReadOnlyRegularFiles) {
    const fs::path fifo = dir_ / "counts.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<fs::path, std::string> cases[] = {
        {fifo, " is a FIFO, not a regular file"},  // would wait for a writer for ever
        {"/dev/zero", " is a character device, not a regular file"},  // would never end
        {"/dev/null", " is a character device, not a regular file"},
        {dir_, " is a folder, not a regular file"},
        {dir_ / "missing.bin", ": No such file or directory"},
    };
    for (const auto& [path, what] : cases) {
        for (const std::string command : {"dump", "analyze"}) {
            std::vector<std::string> argv{kCliProgram.string(), command, path.string()};
            if (command == "analyze") argv.insert(argv.end(), {"--method", "1", "--snr", "2"});
            const auto r = lumivo::testing::Run(argv, dir_, 10'000);
            EXPECT_EQ(r.status, 1) << command << " " << path;
            EXPECT_EQ(r.out, "") << command << " " << path;
            EXPECT_EQ(r.err.rfind("lumivo-cli " + command + ": ", 0), 0u) << r.err;
            EXPECT_NE(r.err.find(path.string() + what), std::string::npos) << r.err;
        }
    }
}

// The first line of `dump` on a large file comes at once, and the memory the command uses does
// not grow with the file: a 256 MB counts.bin (sparse, all zeros) is never held whole.
TEST_F(AnalysisCli, DumpStreamsALargeFile) {
    const fs::path big = dir_ / "big.bin";
    { std::ofstream create(big, std::ios::binary); }
    fs::resize_file(big, std::uintmax_t{256} << 20);
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    std::vector<std::string> argv{kCliProgram.string(), "dump", big.string()};
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    std::string first;
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n') first += c;
    ::close(out[0]);  // the command ends on its next write (SIGPIPE)
    int status = 0;
    rusage usage{};
    ASSERT_EQ(::wait4(pid, &status, 0, &usage), pid);
    std::string zeros = "0";  // minute 0, then 384 counts and the temperature
    for (std::size_t i = 0; i < kChannelTableSize; ++i) zeros += " 0";
    EXPECT_EQ(first, zeros);
    EXPECT_LT(usage.ru_maxrss, 100 * 1024) << "peak resident set " << usage.ru_maxrss << " kB";
}

}  // namespace
