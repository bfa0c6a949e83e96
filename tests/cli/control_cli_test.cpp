// lumivo-cli calibrate and zero against the real lumivo-sim serving a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
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

TEST_F(ControlCli, SelfTestPassesOnAHealthyPlate) {
    SimProcess sim;
    ASSERT_TRUE(sim.ready()) << ReadFile(sim.dir() / "sim.log");
    const RunResult r = sim.Cli({"selftest", "--com", "1", "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.back(), (sim.dir() / "testdev123.txt").string());
    EXPECT_EQ(lines[lines.size() - 2], "PASS: 42 of 42 verdicts pass");
    EXPECT_EQ(lines.front(), "Test_all_100%: OK PASS!");
    for (const char* verdict : {"Test_all_0%: OK PASS!", "Col[24]: PASS!", "Row[16]: PASS!"}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), verdict), lines.end()) << verdict;
    }
    EXPECT_EQ(ReadFile(sim.dir() / "testdev123.txt").rfind("Serial:SN123 ", 0), 0u);
    EXPECT_NE(r.err.find("Device test completed: 42 of 42 verdicts PASS"), std::string::npos)
        << r.err;
}

TEST_F(ControlCli, SelfTestFailsNamingADeadChannel) {
    SimProcess sim({"--dead", "17"});
    ASSERT_TRUE(sim.ready()) << ReadFile(sim.dir() / "sim.log");
    const RunResult r = sim.Cli({"selftest", "--com", "1", "--yes"});
    EXPECT_EQ(r.status, 1) << r.err;
    const auto lines = Lines(r.out);
    for (const char* line : {"Channels < 80%: CH17[0%], ",
                             "Col[2]: NONPASS 15CH > 80% (NONOK:CH17[0%], ); 368CH < 20% (NONOK:)",
                             "Row[2]: NONPASS 23CH > 80% (NONOK:CH17[0%], ); 360CH < 20% (NONOK:)",
                             "NEEDS REVISION: 39 of 42 verdicts pass; channels 17"}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line << r.out;
    }
    EXPECT_EQ(lines.back(), (sim.dir() / "testdev123.txt").string());
}

TEST_F(ControlCli, SensorCalibrationAndFactoryCommandsAskBeforeWriting) {
    SimProcess sim;
    ASSERT_TRUE(sim.ready()) << ReadFile(sim.dir() / "sim.log");
    struct Case {
        std::vector<std::string> words;
        int status;
        std::string err;
    };
    const std::string refused = "nothing was changed";
    const Case cases[] = {
        {{"sensor-calibrate", "--com", "1", "--reference", "3.9"},
         2,
         "value must be between 4\xC2\xB0"
         "C and 50\xC2\xB0"
         "C"},
        {{"sensor-calibrate", "--com", "1"}, 2, "--reference CELSIUS is missing"},
        {{"factory"}, 2, "calibrate or curve is missing"},
        {{"factory", "bake", "--com", "1"}, 2, "unknown factory command"},
        {{"factory", "calibrate", "--com", "1", "--target", "200"}, 2, "--target"},
        // Without --yes the questions meet the end of the input: No.
        {{"sensor-calibrate", "--com", "1", "--reference", "25"}, 1, refused},
        {{"factory", "calibrate", "--com", "1", "--target", "80"}, 1, refused},
        {{"factory", "curve", "--com", "1"}, 1, refused},
    };
    for (const auto& c : cases) {
        const RunResult r = sim.Cli(c.words);
        EXPECT_EQ(r.status, c.status) << c.words[0] << " " << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    RunResult r = sim.Cli({"serial", "--com", "1"});
    EXPECT_NE(r.out.find("OK Last Factory Calibration 1/24"), std::string::npos) << r.out;

    r = sim.Cli({"sensor-calibrate", "--com", "1", "--reference", "25", "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_EQ(lines[0], "sensor byte 100 at 25.0 C: offset 3.1, slope 0.219");
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    const std::string month = std::to_string(tm.tm_mon + 1);
    const std::string year = std::to_string(tm.tm_year % 100);
    EXPECT_EQ(lines[1], "registers 128..134: 0 " + month + " " + year + " 0 31 219 0");
    r = sim.Cli({"serial", "--com", "1"});
    EXPECT_NE(r.out.find("sensor slope 0.219, offset 3.1"), std::string::npos) << r.out;

    // A port with no serial device behind it: the command could not run.
    std::ofstream(sim.dir() / "ports" / "COM9") << "not a device";
    r = sim.Cli({"selftest", "--com", "9", "--yes"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("cannot open COM9"), std::string::npos) << r.err;
}

}  // namespace
