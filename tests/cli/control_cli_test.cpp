// lumivo-cli calibrate and zero against the real lumivo-sim serving a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const fs::path kSimBinary = fs::path(LUMIVO_BINARY_DIR) / "src" / "sim" / "lumivo-sim";
const fs::path kCliBinary = fs::path(LUMIVO_BINARY_DIR) / "src" / "cli" / "lumivo-cli";

using lumivo::testing::ReadFile;
using lumivo::testing::Run;
using lumivo::testing::RunResult;

// A lumivo-sim serving COM1 of a temporary installation folder, replying without line pacing
// so the tests stay short.
class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> extra = {}) {
        char tmpl[] = "/tmp/lumivo-cli-ctl-XXXXXX";
        dir_ = mkdtemp(tmpl);
        std::vector<std::string> argv = {
            kSimBinary.string(), "--install", dir_.string(), "--com", "1", "--no-pace",
            "--activity",        "0"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        const fs::path log = dir_ / "sim.log";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (pid_ > 0 && !ready() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool ready() const {
        std::error_code ec;
        return fs::exists(fs::symlink_status(dir_ / "ports" / "COM1", ec));
    }
    const fs::path& dir() const { return dir_; }

    RunResult Cli(const std::vector<std::string>& words) const {
        std::vector<std::string> argv = {kCliBinary.string(), "--install", dir_.string()};
        argv.insert(argv.end(), words.begin(), words.end());
        return Run(argv, dir_);
    }

  private:
    fs::path dir_;
    pid_t pid_ = -1;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

class ControlCli : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(kSimBinary)) GTEST_SKIP() << "lumivo-sim is not built";
        ASSERT_TRUE(fs::exists(kCliBinary)) << kCliBinary;
    }
};

TEST_F(ControlCli, ZeroPrintsTheLevelOfEveryChannel) {
    SimProcess sim({"--dead", "5"});
    ASSERT_TRUE(sim.ready()) << ReadFile(sim.dir() / "sim.log");
    const RunResult r = sim.Cli({"zero", "--com", "1", "--snr", "2.0"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 385u);
    EXPECT_EQ(lines[0], "channel,zero_level");
    for (int ch = 0; ch < 384; ++ch) {
        const std::string& line = lines[static_cast<std::size_t>(ch + 1)];
        const auto comma = line.find(',');
        ASSERT_NE(comma, std::string::npos) << line;
        EXPECT_EQ(line.substr(0, comma), std::to_string(ch));
        const double level = std::stod(line.substr(comma + 1));
        EXPECT_GE(level, 1.0) << line;
        if (ch != 5) {
            EXPECT_LT(level, 10.0) << line;  // a quiet beam: noise of a few counts
        }
    }
    // The dead channel's noise is large against its level.
    EXPECT_GT(std::stod(lines[6].substr(2)), 10.0);
    EXPECT_NE(r.err.find("line traffic"), std::string::npos) << r.err;
}

TEST_F(ControlCli, WrongEchoEndsCalibrationWithoutSaving) {
    SimProcess sim({"--fault", "bad-echo-channel=0"});
    ASSERT_TRUE(sim.ready()) << ReadFile(sim.dir() / "sim.log");
    const RunResult r = sim.Cli({"calibrate", "--com", "1", "--all"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Ops...Data Writing ERROR: reg(0)... Check COM and Try again"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Communication error. Check COM PORT and equipment connection."),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("calibration a channel write failed"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(sim.dir() / "calvalue.dat"));
}

TEST_F(ControlCli, RefusalsAndUsageErrors) {
    SimProcess sim({"--fault", "silence"});
    ASSERT_TRUE(sim.ready()) << ReadFile(sim.dir() / "sim.log");

    RunResult r = sim.Cli({"calibrate", "--com", "1"});  // nothing answers
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no answer from the instrument on COM1"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(sim.dir() / "calvalue.dat"));

    r = sim.Cli({"zero", "--com", "7"});  // nothing behind COM7
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot open COM7"), std::string::npos) << r.err;

    for (const std::vector<std::string>& words : {std::vector<std::string>{"calibrate"},
                                                  {"zero", "--com", "1", "--snr", "5.1"},
                                                  {"zero", "--com", "1", "--snr", "x"},
                                                  {"calibrate", "--com", "1", "extra"}}) {
        r = sim.Cli(words);
        EXPECT_EQ(r.status, 2) << words[0];
        EXPECT_NE(r.err.find("usage: lumivo-cli"), std::string::npos) << r.err;
    }
    r = sim.Cli({"zero", "--com", "1", "--snr", "1.0"});
    EXPECT_NE(r.err.find("Invalid value: 1.1 to 5.0"), std::string::npos) << r.err;
}

}  // namespace
