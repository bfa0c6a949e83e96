// lumivo-cli sample and serial against the real lumivo-sim serving a pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace {

namespace fs = std::filesystem;

using namespace lumivo::testing;

std::vector<long> Numbers(const std::string& line) {
    std::vector<long> v;
    std::istringstream in(line);
    long x = 0;
    while (in >> x) v.push_back(x);
    return v;
}

TEST(DeviceCli, SamplePrintsAll384ChannelsOnOneLine) {
    SimulatedInstallation sim({"--dead", "3", "--saturated", "17,383"});
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

TEST(DeviceCli, SerialPrintsNumberAndSensorCalibration) {
    SimulatedInstallation sim({"--serial", "150"});
    ASSERT_TRUE(sim.ready()) << ReadFile(sim.dir() / "sim.log");
    const RunResult r = sim.Cli({"serial", "--com", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "SERIAL : LMVO00150\n"
              "sensor slope 0.219, offset 0.0\n"
              "OK Last Factory Calibration 1/24 [mm/yy]\n");
}

TEST(DeviceCli, FailuresGoToStderrWithANonZeroStatus) {
    SimulatedInstallation sim({"--fault", "high-byte"});
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

TEST(DeviceCli, SilentInstrumentIsReportedNotWaitedForever) {
    SimulatedInstallation sim({"--fault", "silence"});
    ASSERT_TRUE(sim.ready()) << ReadFile(sim.dir() / "sim.log");
    const RunResult r = sim.Cli({"serial", "--com", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("no answer"), std::string::npos) << r.err;
}

}  // namespace
