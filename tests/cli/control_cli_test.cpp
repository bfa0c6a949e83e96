// lumivo-cli calibrate and zero against the real lumivo-sim serving a pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace {

namespace fs = std::filesystem;

using namespace lumivo::testing;

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

}  // namespace
