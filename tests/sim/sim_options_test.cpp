// The lumivo-sim command line.
#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/platform/install_dir.h"

namespace lumivo::sim {
namespace {

TEST(SimOptions, ParsesTheDocumentedOptions) {
    const SimProgramOptions o =
        ParseSimArguments({"--install", "/tmp/x", "--com", "4", "--serial=150", "--seed", "99",
                           "--no-pace", "--store", "/tmp/x/store.txt", "--activity", "1.5",
                           "--latency", "250", "--dead", "3,17", "--saturated", "200"});
    EXPECT_EQ(o.install_dir, std::filesystem::path("/tmp/x"));
    EXPECT_EQ(o.com_port, 4);
    EXPECT_EQ(o.config.serial_number, 150);
    EXPECT_EQ(o.config.seed, 99u);
    EXPECT_FALSE(o.config.paced);
    EXPECT_EQ(o.config.store_path, std::filesystem::path("/tmp/x/store.txt"));
    EXPECT_DOUBLE_EQ(o.config.default_activity, 1.5);
    EXPECT_EQ(o.config.reply_latency_us, 250);
    EXPECT_EQ(o.config.channels[3].kind, ChannelKind::kDead);
    EXPECT_EQ(o.config.channels[17].kind, ChannelKind::kDead);
    EXPECT_EQ(o.config.channels[200].kind, ChannelKind::kSaturated);
    EXPECT_EQ(o.config.channels[4].kind, ChannelKind::kNormal);
}

TEST(SimOptions, DefaultsWithOnlyThePort) {
    const SimProgramOptions o = ParseSimArguments({"--com", "1"});
    EXPECT_EQ(o.install_dir, DefaultInstallDir());
    EXPECT_TRUE(o.config.paced);
    EXPECT_EQ(o.config.serial_number, 123);
    EXPECT_FALSE(o.help);
}

TEST(SimOptions, FaultOptions) {
    struct Case {
        std::string fault_text;
        FaultConfig expected;
    };
    std::vector<Case> cases(9);
    cases[0].fault_text = "silence";
    cases[0].expected.silent = true;
    cases[1].fault_text = "unplugged";
    cases[1].expected.unplugged = true;
    cases[2].fault_text = "short-block";
    cases[2].expected.short_blocks = kAlways;
    cases[3].fault_text = "short-block=100";
    cases[3].expected.short_blocks = kAlways;
    cases[3].expected.short_block_bytes = 100;
    cases[4].fault_text = "high-byte";
    cases[4].expected.high_byte_blocks = kAlways;
    cases[5].fault_text = "bad-echo=4";
    cases[5].expected.bad_echo_writes = 4;
    cases[6].fault_text = "delay=30";
    cases[6].expected.extra_delay_us = 30'000;
    cases[7].fault_text = "block-column=23";
    cases[7].expected.blocked_columns = {23};
    cases[8].fault_text = "block-row=0";
    cases[8].expected.blocked_rows = {0};
    for (const Case& c : cases) {
        FaultConfig f;
        ApplyFaultOption(c.fault_text, f);
        EXPECT_EQ(f.silent, c.expected.silent) << c.fault_text;
        EXPECT_EQ(f.unplugged, c.expected.unplugged) << c.fault_text;
        EXPECT_EQ(f.short_blocks, c.expected.short_blocks) << c.fault_text;
        EXPECT_EQ(f.short_block_bytes, c.expected.short_block_bytes) << c.fault_text;
        EXPECT_EQ(f.high_byte_blocks, c.expected.high_byte_blocks) << c.fault_text;
        EXPECT_EQ(f.bad_echo_writes, c.expected.bad_echo_writes) << c.fault_text;
        EXPECT_EQ(f.extra_delay_us, c.expected.extra_delay_us) << c.fault_text;
        EXPECT_EQ(f.blocked_columns, c.expected.blocked_columns) << c.fault_text;
        EXPECT_EQ(f.blocked_rows, c.expected.blocked_rows) << c.fault_text;
    }
    // Repeated --fault options add up.
    const auto o = ParseSimArguments({"--com", "2", "--fault", "silence", "--fault=delay=5"});
    EXPECT_TRUE(o.config.faults.silent);
    EXPECT_EQ(o.config.faults.extra_delay_us, 5000);
}

TEST(SimOptions, RhythmOption) {
    struct Case {
        const char* text;
        double period, active, phase, rest, spread;
    };
    const Case cases[] = {
        {"24", 24, 12, 0, 0.1, 0},
        {"24.5,10", 24.5, 10, 0, 0.1, 0},
        {"24,12,-3,0.2,0.5", 24, 12, -3, 0.2, 0.5},
    };
    for (const Case& c : cases) {
        const auto o = ParseSimArguments({"--com", "1", "--rhythm", c.text});
        EXPECT_DOUBLE_EQ(o.config.rhythm.period_hours, c.period) << c.text;
        EXPECT_DOUBLE_EQ(o.config.rhythm.active_hours, c.active) << c.text;
        EXPECT_DOUBLE_EQ(o.config.rhythm.phase_hours, c.phase) << c.text;
        EXPECT_DOUBLE_EQ(o.config.rhythm.rest_fraction, c.rest) << c.text;
        EXPECT_DOUBLE_EQ(o.config.rhythm.period_spread_hours, c.spread) << c.text;
    }
}

TEST(SimOptions, RejectsBadUsage) {
    const std::vector<std::vector<std::string>> bad = {
        {},              // no port
        {"--com", "0"},  // port out of range
        {"--com", "17"},
        {"--com", "3x"},
        {"--com"},                            // missing value
        {"--com", "1", "--serial", "65280"},  // does not fit hi x 255 + lo
        {"--com", "1", "--seed", "-1"},
        {"--com", "1", "--fault", "melt"},
        {"--com", "1", "--fault", "bad-echo"},  // needs a count
        {"--com", "1", "--fault", "silence=1"},
        {"--com", "1", "--fault", "short-block=192"},
        {"--com", "1", "--fault", "block-column=24"},
        {"--com", "1", "--fault", "block-row=16"},
        {"--com", "1", "--fault", "block-row"},
        {"--com", "1", "--dead", "384"},
        {"--com", "1", "--dead", "1,,2"},
        {"--com", "1", "--activity", "nan"},
        {"--com", "1", "--rhythm", "0.5"},    // shorter than an hour
        {"--com", "1", "--rhythm", "24,30"},  // active longer than the period
        {"--com", "1", "--rhythm", "24,12,0,2"},
        {"--com", "1", "--rhythm", "24,12,0,0.1,0.5,9"},
        {"--com", "1", "--rhythm", "24,"},
        {"--com", "1", "--no-pace=yes"},
        {"--com", "1", "extra"},
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_THROW(ParseSimArguments(args), SimUsageError) << joined;
    }
}

TEST(SimOptions, HelpNeedsNoPort) {
    EXPECT_TRUE(ParseSimArguments({"--help"}).help);
    EXPECT_TRUE(ParseSimArguments({"--version"}).version);
    EXPECT_NE(SimUsage().find("--com N"), std::string::npos);
}

}  // namespace
}  // namespace lumivo::sim
