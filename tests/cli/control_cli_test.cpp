// lumivo-cli calibrate and zero against the real lumivo-sim serving a pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace {

namespace fs = std::filesystem;

using namespace lumivo::testing;
using namespace std::chrono_literals;

// lumivo-sim options: replies without line pacing, so the tests stay short, and quiet wells.
std::vector<std::string> Unpaced(std::vector<std::string> extra) {
    std::vector<std::string> options = {"--no-pace", "--activity", "0"};
    options.insert(options.end(), extra.begin(), extra.end());
    return options;
}

TEST(ControlCli, ZeroPrintsTheLevelOfEveryChannel) {
    SimulatedInstallation sim(Unpaced({"--dead", "5"}));
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

TEST(ControlCli, WrongEchoEndsCalibrationWithoutSaving) {
    SimulatedInstallation sim(Unpaced({"--fault", "bad-echo-channel=0"}));
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

TEST(ControlCli, RefusalsAndUsageErrors) {
    SimulatedInstallation sim(Unpaced({"--fault", "silence"}));
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

TEST(ControlCli, SelfTestPassesOnAHealthyPlate) {
    SimulatedInstallation sim(Unpaced({}));
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

TEST(ControlCli, SelfTestFailsNamingADeadChannel) {
    SimulatedInstallation sim(Unpaced({"--dead", "17"}));
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

TEST(ControlCli, SensorCalibrationAndFactoryCommandsAskBeforeWriting) {
    SimulatedInstallation sim(Unpaced({}));
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

    // The channel-by-channel calibration takes minutes on an instrument: its log says how far
    // it is and how long it has left. SIGINT stops it with calvalue.dat unchanged.
    const std::string calibration = ReadFile(sim.dir() / "calvalue.dat");
    ChildProcess run({kCliProgram.string(), "--install", sim.dir().string(), "factory", "calibrate",
                      "--com", "1", "--target", "80", "--yes"},
                     sim.dir() / "factory.out", sim.dir() / "factory.err");
    ASSERT_TRUE(run.started());
    const std::string second_line = "factory calibrate: 16 of 384 channels calibrated, about ";
    ASSERT_TRUE(WaitFor([&] { return run.err().find(second_line) != std::string::npos; }, 120s))
        << run.err();
    run.Signal(SIGINT);
    EXPECT_EQ(run.Wait(), 128 + SIGINT);
    const std::string err = run.err();
    EXPECT_NE(err.find("factory calibrate: 0 of 384 channels calibrated\n"), std::string::npos)
        << err;
    EXPECT_NE(err.find(" left\n", err.find(second_line)), std::string::npos) << err;
    EXPECT_NE(err.find("calibration NOT completed"), std::string::npos) << err;
    EXPECT_EQ(ReadFile(sim.dir() / "calvalue.dat"), calibration);

    // A port with no serial device behind it: the command could not run.
    std::ofstream(sim.dir() / "ports" / "COM9") << "not a device";
    r = sim.Cli({"selftest", "--com", "9", "--yes"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("cannot open COM9"), std::string::npos) << r.err;
}

}  // namespace
