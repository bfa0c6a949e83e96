// The lumivo-sim command line.
#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/platform/install_dir.h"
#include "core/storage/plate_format.h"

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
        {"--com", "1", "--dose", "1,10"},  // too few numbers
        {"--com", "1", "--dose", "1,10,1,0,1,9"},
        {"--com", "1", "--dose", "0,10,1"},  // no top rate
        {"--com", "1", "--dose", "1001,10,1"},
        {"--com", "1", "--dose", "1,0,1"},        // EC50 0
        {"--com", "1", "--dose", "1,10,0"},       // hill 0
        {"--com", "1", "--dose", "1,10,1,2"},     // bottom above top
        {"--com", "1", "--dose", "1,10,1,0,-1"},  // dose before the start
        {"--com", "1", "--dose", "1,10,x"},
        {"--com", "1", "--dose", "1,,1"},
        {"--com", "1", "--dose", "1,10,1"},  // no --wells
        {"--com", "1", "--plate", "../w96f"},
        {"--com", "1", "--plate", ""},
        {"--com", "1", "--wells", ""},
        {"--com", "1", "--wells", "/nonexistent/wells.csv"},
        {"--com", "1", "--no-pace=yes"},
        {"--com", "1", "extra"},
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_THROW(ParseSimArguments(args), SimUsageError) << joined;
    }
}

class SimPlateOptions : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("lumivo_sim_options_" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(dir_ / name, std::ios::binary) << text;
        return (dir_ / name).string();
    }
    std::filesystem::path dir_;
};

TEST_F(SimPlateOptions, PlateWellsAndDose) {
    // The installation holds its own plate format "mine" (the 384-well layout); "w96f" has no
    // file there and falls back to the built-in map, which the notes say.
    PlateMap w384;
    BuildDefaultPlateMap("w384", w384);
    Write("mine.dat", FormatPlateFile(w384, "mine", "one well a beam"));
    const std::string wells = Write("wells.csv",
                                    "well,treatment,concentration,unit,role\r\n"
                                    "A1,vehicle,,,negative\r\n"
                                    "B1,reference,,,positive\r\n"
                                    "C1,compound,10,uM,sample\r\n"
                                    "D1,,,,empty\r\n");
    struct Case {
        std::vector<std::string> args;
        const char* plate;
        std::size_t wells;
        bool noted;  // the plate format came from the built-in maps
        double a1_rate, b1_share, c1_share, d1_rate;  // shares -1: no dose
        double at_hours;
    };
    const Case cases[] = {
        {{"--wells", wells, "--dose", "2,10,1.5"}, "w96f", 96, true, 2, 0, 0.5, 0, 0},
        {{"--plate", "mine", "--wells", wells, "--dose", "2,10,1,0.5,6"},
         "mine",
         384,
         false,
         2,
         0.25,
         0.625,
         0,
         6},
        {{"--plate=w96u", "--activity", "0.5"}, "w96u", 96, true, 0.5, -1, -1, 0.5, 0},
        {{"--activity", "0.5", "--wells", wells}, "w96f", 96, true, 0.5, -1, -1, 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"--install", dir_.string(), "--com", "1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const std::string name = c.args[0] + " " + c.args[1];
        const SimProgramOptions o = ParseSimArguments(args);
        EXPECT_EQ(o.plate_format, c.plate) << name;
        EXPECT_EQ(o.notes.empty(), !c.noted) << name;
        PlateMap plate;
        BuildDefaultPlateMap(c.plate == std::string("mine") ? "w384" : c.plate, plate);
        ASSERT_EQ(o.config.channel_well.size(), static_cast<std::size_t>(kChannelCount)) << name;
        for (int ch = 0; ch < kChannelCount; ++ch) {
            const auto i = static_cast<std::size_t>(ch);
            ASSERT_EQ(o.config.channel_well[i], plate.ChannelWell[i]) << name << " channel " << ch;
        }
        ASSERT_EQ(o.config.well_activity.size(), c.wells) << name;
        // Wells are numbered down the columns: A1 0, B1 1, C1 2, D1 3.
        EXPECT_DOUBLE_EQ(o.config.well_activity[0], c.a1_rate) << name;
        EXPECT_DOUBLE_EQ(o.config.well_activity[3], c.d1_rate) << name;
        if (c.b1_share < 0) {
            EXPECT_FALSE(o.dose) << name;
            EXPECT_TRUE(o.config.well_dose_share.empty()) << name;
            continue;
        }
        ASSERT_TRUE(o.dose) << name;
        ASSERT_EQ(o.config.well_dose_share.size(), c.wells) << name;
        EXPECT_DOUBLE_EQ(o.config.well_dose_share[0], 1.0) << name;
        EXPECT_DOUBLE_EQ(o.config.well_dose_share[1], c.b1_share) << name;
        EXPECT_DOUBLE_EQ(o.config.well_dose_share[2], c.c1_share) << name;
        EXPECT_DOUBLE_EQ(o.config.dose_at_hours, c.at_hours) << name;
    }
    const DoseCurve d = ParseDoseOption("2,0.5,1.5,0.25,3");
    EXPECT_DOUBLE_EQ(d.top_rate, 2.0);
    EXPECT_DOUBLE_EQ(d.ec50, 0.5);
    EXPECT_DOUBLE_EQ(d.hill, 1.5);
    EXPECT_DOUBLE_EQ(d.bottom_rate, 0.25);
    EXPECT_DOUBLE_EQ(d.at_hours, 3.0);
}

TEST_F(SimPlateOptions, AMalformedPlateMapIsAUsageErrorNamingFileAndLine) {
    struct Case {
        const char* text;
        const char* line;
    };
    const Case cases[] = {
        {"well,treatment,concentration,unit,role\nA1,x,,,negative\nZ9,x,,,sample\n", "line 3"},
        {"well,treatment,concentration,unit,role\nA1,x,-1,uM,sample\n", "line 2"},
        {"well,treatment,concentration,unit,role\nA1,x,,,control\n", "line 2"},
    };
    for (const Case& c : cases) {
        const std::string file = Write("wells.csv", c.text);
        try {
            ParseSimArguments(
                {"--install", dir_.string(), "--com", "1", "--wells", file, "--dose", "1,10,1"});
            ADD_FAILURE() << c.text << " was taken";
        } catch (const SimUsageError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(file), std::string::npos) << what;
            EXPECT_NE(what.find(c.line), std::string::npos) << what;
        }
    }
}

TEST(SimOptions, HelpNeedsNoPort) {
    EXPECT_TRUE(ParseSimArguments({"--help"}).help);
    EXPECT_TRUE(ParseSimArguments({"--version"}).version);
    EXPECT_NE(SimUsage().find("--com N"), std::string::npos);
    EXPECT_NE(SimUsage().find("--dose TOP,EC50,HILL[,BOTTOM[,AT_H]]"), std::string::npos);
}

}  // namespace
}  // namespace lumivo::sim
