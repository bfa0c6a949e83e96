// lumivo-cli sample and serial against the real lumivo-sim serving a pseudo-terminal.
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

// A lumivo-sim serving COM1 of a temporary installation folder for the life of the object.
class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> extra = {}) {
        char tmpl[] = "/tmp/lumivo-cli-dev-XXXXXX";
        dir_ = mkdtemp(tmpl);
        std::vector<std::string> argv = {kSimBinary.string(), "--install", dir_.string(), "--com",
                                         "1"};
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
        Stop();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool ready() const {
        std::error_code ec;
        return fs::exists(fs::symlink_status(link(), ec));
    }
    fs::path link() const { return dir_ / "ports" / "COM1"; }
    const fs::path& dir() const { return dir_; }

    // SIGTERM; returns the exit status (-1 when it had to be killed).
    int Stop() {
        if (pid_ <= 0) return -1;
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 500; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
    }

    RunResult Cli(const std::vector<std::string>& words) const {
        std::vector<std::string> argv = {kCliBinary.string(), "--install", dir_.string()};
        argv.insert(argv.end(), words.begin(), words.end());
        return Run(argv, dir_);
    }

  private:
    fs::path dir_;
    pid_t pid_ = -1;
};

std::vector<long> Numbers(const std::string& line) {
    std::vector<long> v;
    std::istringstream in(line);
    long x = 0;
    while (in >> x) v.push_back(x);
    return v;
}

class DeviceCli : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(kSimBinary)) GTEST_SKIP() << "lumivo-sim is not built";
        ASSERT_TRUE(fs::exists(kCliBinary)) << kCliBinary;
    }
};

TEST_F(DeviceCli, SamplePrintsAll384ChannelsOnOneLine) {
    SimProcess sim({"--dead", "3", "--saturated", "17,383"});
    ASSERT_TRUE(sim.ready()) << ReadFile(sim.dir() / "sim.log");
    const RunResult r = sim.Cli({"sample", "--com", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), '\n');
    const std::string line = r.out.substr(0, r.out.size() - 1);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line.find("  "), std::string::npos);
    EXPECT_NE(line.front(), ' ');
    EXPECT_NE(line.back(), ' ');
    const auto values = Numbers(line);
    ASSERT_EQ(values.size(), 384u);
    for (long v : values) {
        EXPECT_GE(v, 0);
        EXPECT_LE(v, 4095);
    }
    EXPECT_LT(values[3], 50);
    EXPECT_EQ(values[17], 4095);
    EXPECT_EQ(values[383], 4095);
    EXPECT_GT(values[100], 500);  // a normal beam at the default setting

    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_FALSE(sim.ready());  // the simulator removed its link
}

TEST_F(DeviceCli, SerialPrintsNumberAndSensorCalibration) {
    SimProcess sim({"--serial", "150"});
    ASSERT_TRUE(sim.ready()) << ReadFile(sim.dir() / "sim.log");
    const RunResult r = sim.Cli({"serial", "--com", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "SERIAL : LMVO00150\n"
              "sensor slope 0.219, offset 0.0\n"
              "OK Last Factory Calibration 1/24 [mm/yy]\n");
}

TEST_F(DeviceCli, FailuresGoToStderrWithANonZeroStatus) {
    SimProcess sim({"--fault", "high-byte"});
    ASSERT_TRUE(sim.ready()) << ReadFile(sim.dir() / "sim.log");

    RunResult r = sim.Cli({"sample", "--com", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("bad block"), std::string::npos) << r.err;

    r = sim.Cli({"sample", "--com", "7"});  // nothing behind COM7
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot open COM7"), std::string::npos) << r.err;

    for (const std::vector<std::string>& words : {std::vector<std::string>{"sample"},
                                                  {"serial", "--com", "0"},
                                                  {"sample", "--com", "x"},
                                                  {"serial", "--com", "1", "extra"}}) {
        r = sim.Cli(words);
        EXPECT_EQ(r.status, 2) << words[0];
        EXPECT_NE(r.err.find("usage: lumivo-cli"), std::string::npos);
    }
}

TEST_F(DeviceCli, SilentInstrumentIsReportedNotWaitedForever) {
    SimProcess sim({"--fault", "silence"});
    ASSERT_TRUE(sim.ready()) << ReadFile(sim.dir() / "sim.log");
    const RunResult r = sim.Cli({"serial", "--com", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("no answer"), std::string::npos) << r.err;
}

}  // namespace
