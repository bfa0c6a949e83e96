// Auto-zero (ripple against level, against the simulated instrument), the blank and the
// signal-to-noise factor box.
#include "core/control/auto_zero.h"

#include <gtest/gtest.h>

#include <vector>

#include "control_rig.h"
#include "core/control/control_fields.h"
#include "sim/sim_test_util.h"

namespace lumivo {
namespace {

using testing::SimRig;

std::vector<int> Alternating(int n, int a, int b) {
    std::vector<int> v(static_cast<std::size_t>(n));
    for (int j = 0; j < n; ++j) v[static_cast<std::size_t>(j)] = j % 2 == 0 ? a : b;
    return v;
}

TEST(AutoZeroLevel, RippleAgainstLevel) {
    struct Case {
        const char* name;
        std::vector<int> p;
        double snr;
        double expected;
    };
    std::vector<int> ramp(30);
    for (std::size_t j = 0; j < ramp.size(); ++j) ramp[j] = 1000 + static_cast<int>(j);
    std::vector<int> early_noise(30, 1000);
    early_noise[3] = 4000;  // rows before 10 do not count
    early_noise[9] = 10;
    const Case cases[] = {
        {"flat", std::vector<int>(30, 1500), 1.8, 1.0},
        {"monotonic ramp has no peaks", ramp, 1.8, 1.0},
        {"alternating", Alternating(30, 1000, 1100), 1.8, 100.0 / 1050.0 * 100.0 * 1.8 + 1.0},
        {"alternating, 100 samples", Alternating(100, 1000, 1100), 2.5,
         100.0 / 1050.0 * 100.0 * 2.5 + 1.0},
        {"no light", std::vector<int>(30, 0), 1.8, 1.0},
        {"rows before 10 ignored", early_noise, 1.8, 1.0},
        {"too few samples", std::vector<int>(11, 1000), 1.8, 1.0},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(AutoZeroLevel(c.p, c.snr), c.expected, 1e-9) << c.name;
    }
}

TEST(AutoZeroLevel, MeansAreRoundedHalfToEven) {
    // Rows 11..28 alternate 1101, 1000 (18 values): level mean 1050.5 rounds to 1050.
    std::vector<int> p = Alternating(30, 1000, 1101);
    const double expected = (1.0 - (1050.0 - 101.0) / 1050.0) * 100.0 * 1.8 + 1.0;
    EXPECT_DOUBLE_EQ(AutoZeroLevel(p, 1.8), expected);
}

TEST(CalculateAutoZero, FollowsTheChannelsRipple) {
    sim::SimConfig config = sim::testing::QuietConfig();
    const double ripples[] = {0.0, 10.0, 30.0, 80.0};
    for (std::size_t k = 0; k < 4; ++k) config.channels[40 + k].ripple = ripples[k];
    config.channels[41 + 128].noise = 40.0;  // a noisy channel in another bank
    SimRig rig(config);
    std::vector<double> zero(385, 7.0);
    auto ctx = rig.Context();

    const AutoZeroResult r = CalculateAutoZero(ctx, {1.8, false, false}, zero);

    ASSERT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_EQ(r.samples, 100);
    EXPECT_DOUBLE_EQ(zero[40], 1.0);  // a steady channel
    EXPECT_GT(zero[41], zero[40]);
    EXPECT_GT(zero[42], zero[41]);
    EXPECT_GT(zero[43], zero[42]);
    EXPECT_GT(zero[41 + 128], 1.0);
    EXPECT_DOUBLE_EQ(zero[384], 7.0);  // the temperature slot is not a channel
    // The level is about 1060 (2/3 with transmission 1): a peak-to-trough ripple of at most
    // 2 x 80 gives at most 160 / 1060 x 180 + 1.
    EXPECT_LT(zero[43], 160.0 / 1000.0 * 180.0 + 1.0);
    EXPECT_EQ(rig.view.statuses.front(), "AutoZero Calculation .... <000>");
    ASSERT_GE(rig.view.statuses.size(), 2u);
    EXPECT_EQ(rig.view.statuses[rig.view.statuses.size() - 2], "AutoZero... <99>");
    // The counter gives way to the result: the status line says what is, not what was.
    EXPECT_EQ(rig.view.LastStatus(), "AutoZero completed over 100 samples");
    EXPECT_EQ(rig.view.scales.back(), std::make_pair(100.0, 10.0));
}

TEST(CalculateAutoZero, SampleCountFollowsTheCheckBoxes) {
    struct Case {
        bool auto_cal, auto_zero;
        int samples;
    };
    const Case cases[] = {
        {true, true, 30}, {false, true, 100}, {true, false, 100}, {false, false, 100}};
    for (const Case& c : cases) {
        SimRig rig(sim::testing::QuietConfig());
        std::vector<double> zero(385, 1.0);
        auto ctx = rig.Context();
        const AutoZeroResult r = CalculateAutoZero(ctx, {1.8, c.auto_cal, c.auto_zero}, zero);
        EXPECT_EQ(r.samples, c.samples);
        // One discarding pass, then one full reading per sample.
        EXPECT_EQ(rig.instrument.Stats().frames, static_cast<std::uint64_t>(4 * (c.samples + 1)));
    }
}

TEST(CalculateAutoZero, StoppedRunLeavesZeroLevelsAndSaysSo) {
    SimRig rig(sim::testing::QuietConfig());
    std::vector<double> zero(385, 5.5);
    int checks = 0;
    RunControl run;
    run.keep_going = [&] { return ++checks < 3; };  // stopped at sample 20
    auto ctx = rig.Context(run);
    const AutoZeroResult r = CalculateAutoZero(ctx, {1.8, true, true}, zero);
    EXPECT_EQ(r.outcome, RunOutcome::Interrupted);
    EXPECT_EQ(r.samples, 21);
    EXPECT_EQ(rig.dialogs.events_processed(), 3);
    for (double z : zero) EXPECT_DOUBLE_EQ(z, 5.5);
    EXPECT_EQ(rig.dialogs.Messages(), (std::vector<std::string>{kAutoZeroInterruptedStatus}));
}

TEST(CalculateAutoZero, ASilentInstrumentEndsItWithoutSavingAndStopIsPromptlyHonoured) {
    // Every block read of a silent instrument waits out its timeouts (0.5 s): missing blocks
    // end the run as not completed, zero levels untouched (they are what threshld.dat saves).
    {
        SimRig rig(sim::testing::QuietConfig());
        rig.instrument.Unplug();
        std::vector<double> zero(385, 5.5);
        auto ctx = rig.Context();
        const AutoZeroResult r = CalculateAutoZero(ctx, {1.8, true, true}, zero);
        EXPECT_EQ(r.outcome, RunOutcome::ReadFailed);
        EXPECT_EQ(r.samples, kAutoZeroMaxMissedBlocks);
        for (double z : zero) EXPECT_DOUBLE_EQ(z, 5.5);
        EXPECT_EQ(rig.dialogs.Messages(),
                  (std::vector<std::string>{"AutoZero NOT completed: settings not saved"}));
        EXPECT_EQ(AutoZeroSummary(r, std::vector<std::int16_t>(385, 0), zero),
                  "AutoZero NOT completed (the instrument did not answer after 3 samples): zero "
                  "levels unchanged");
    }
    // STOP pressed one second in: honoured at the next block, not ten samples later.
    SimRig rig(sim::testing::QuietConfig());
    rig.instrument.Unplug();
    std::vector<double> zero(385, 5.5);
    RunControl run;
    const std::int64_t pressed = rig.clock.MonotonicMicros() + 1'000'000;
    run.keep_going = [&] { return rig.clock.MonotonicMicros() < pressed; };
    auto ctx = rig.Context(run);
    const AutoZeroResult r = CalculateAutoZero(ctx, {1.8, true, true}, zero);
    EXPECT_EQ(r.outcome, RunOutcome::Interrupted);
    EXPECT_LE(rig.clock.MonotonicMicros() - pressed, 500'000 + 100'000);
    EXPECT_DOUBLE_EQ(zero[0], 5.5);
}

TEST(CalculateAutoZero, SummaryNamesTheLevelsAndTheDeadAndSaturatedChannels) {
    AutoZeroResult r;
    r.outcome = RunOutcome::Completed;
    r.samples = 30;
    r.rows.assign(30, ChannelRow{});
    for (auto& row : r.rows) {
        row.fill(1700);
        row[17] = 3;      // dead
        row[250] = 4095;  // saturated
        row[100] = 1200;  // outside the window, neither
        row[101] = 1900;
        row[102] = 1201;
    }
    std::vector<std::int16_t> well(385, 0);
    well[383] = -1;  // not in use
    std::vector<double> zero(385, 2.0);
    zero[5] = 9.25;
    EXPECT_EQ(AutoZeroSummary(r, well, zero),
              "AutoZero completed over 30 samples: 383 channels in use, 378 with their level in "
              "the window 1638..1843, 3 readable outside it (2 below, 1 above), 1 dead (17), 1 "
              "saturated (250); zero levels 2.0 to 9.2");
}

TEST(CalculateAutoZero, OfflineIsRefused) {
    SimRig rig;
    std::vector<double> zero(385, 5.5);
    RunControl run;
    run.offline = true;
    auto ctx = rig.Context(run);
    EXPECT_EQ(CalculateAutoZero(ctx, {1.8, true, true}, zero).outcome, RunOutcome::Refused);
    EXPECT_EQ(rig.instrument.Stats().frames, 0u);
    EXPECT_DOUBLE_EQ(zero[0], 5.5);
}

TEST(CalculateAutoZero, ShortBlockHoldsThePreviousSample) {
    sim::SimConfig config = sim::testing::QuietConfig();
    for (auto& m : config.channels) m.noise = 5.0;  // every sample differs
    SimRig rig(config);
    std::vector<double> zero(385, 1.0);
    auto ctx = rig.Context();
    // The first event check comes after sample 0 (4 discarded + 4 replies): the next reply,
    // block 0 of sample 1, comes back short.
    ctx.run.keep_going = [&] {
        if (rig.instrument.Stats().replies == 8) rig.instrument.Faults().short_blocks = 1;
        return true;
    };
    const AutoZeroResult r = CalculateAutoZero(ctx, {1.8, true, true}, zero);
    ASSERT_EQ(r.rows.size(), 30u);
    int held = 0;
    int changed = 0;
    for (int t = 0; t < 32; ++t) {
        for (int bank = 0; bank < 3; ++bank) {
            const auto block0 = static_cast<std::size_t>(t + 128 * bank);
            const auto block32 = static_cast<std::size_t>(32 + t + 128 * bank);
            held += r.rows[1][block0] == r.rows[0][block0] ? 1 : 0;
            changed += r.rows[1][block32] != r.rows[0][block32] ? 1 : 0;
        }
    }
    EXPECT_EQ(held, 96);
    EXPECT_GT(changed, 48);
}

TEST(Blank, ZeroLevelFromTheSpread) {
    struct Case {
        std::int16_t min, max;
        std::optional<double> expected;
    };
    const Case cases[] = {
        {900, 1000, 12.0},  // Int(11.5) + 1
        // 1 x 100 x 1.15 is 114.999... in binary: Int gives 114.
        {1000, 1000, 1.0},
        {0, 1000, 115.0},
        {10000, 1000, std::nullopt},
        {500, 0, std::nullopt},
        {1, 1, 1.0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BlankZeroLevel(c.min, c.max), c.expected) << c.min << "/" << c.max;
    }
}

TEST(Blank, EndsAfterCountPlusOneTicks) {
    BlankState blank;
    StartBlank(blank, 5);
    EXPECT_TRUE(blank.BlankMode);
    std::vector<double> zero(385, 3.0);
    std::vector<std::uint16_t> row(385, 0);
    int ticks = 0;
    bool ended = false;
    while (!ended && ticks < 100) {
        row[0] = static_cast<std::uint16_t>(ticks % 2 == 0 ? 1000 : 900);
        row[1] = 0;  // never lit
        ended = BlankStep(blank, row, zero);
        ++ticks;
    }
    EXPECT_EQ(ticks, 6);
    EXPECT_FALSE(blank.BlankMode);
    EXPECT_DOUBLE_EQ(zero[0], 12.0);
    EXPECT_DOUBLE_EQ(zero[1], 3.0);  // kept its previous level
    // Once ended, further ticks change nothing.
    row[0] = 10;
    EXPECT_FALSE(BlankStep(blank, row, zero));
    EXPECT_DOUBLE_EQ(zero[0], 12.0);
    EXPECT_EQ(BlankStartText(5), "Setting Blank.... (5 samples)");
    EXPECT_EQ(BlankDoneText(383), "Setting (383) OK...");
}

TEST(Blank, FolderHoldsTheProjectFiles) {
    SimRig rig;
    rig.files.CreateFolders("/inst/p00002");
    ProjectState project;
    project.ProjectFolder = "/inst/p00002";
    project.Setup.Name = "Blank test";
    const std::string name = PrepareBlankFolder(rig.storage, 2, project, {2026, 3, 14, 9, 5, 0, 0});
    EXPECT_EQ(name, "20260314_0905");
    for (const char* f : {"setup.dat", "status.dat", "threshld.dat", "groups.dat", "chgroup.dat"}) {
        EXPECT_TRUE(rig.files.IsFile(std::filesystem::path("/inst/p00002/20260314_0905") / f)) << f;
    }
    EXPECT_NE(rig.files.ReadFile("/inst/p00002/20260314_0905/setup.dat").find("Blank test"),
              std::string::npos);
    // The same minute again reuses the folder; a folder that cannot be written is an error.
    EXPECT_EQ(PrepareBlankFolder(rig.storage, 2, project, {2026, 3, 14, 9, 5, 30, 0}),
              "20260314_0905");
    rig.files.fail_writes = true;
    EXPECT_THROW(PrepareBlankFolder(rig.storage, 2, project, {2026, 3, 14, 9, 6, 0, 0}),
                 std::exception);
}

TEST(SnrBox, Validation) {
    struct Case {
        const char* text;
        bool valid;
        std::int16_t stored;
        const char* shown;
    };
    const Case cases[] = {
        {"1.0", false, 18, "1.8"}, {"5.1", false, 18, "1.8"},   {"", false, 18, "1.8"},
        {"abc", false, 18, "1.8"}, {"1.05", true, 10, "1.1"},   {"5.0", true, 50, "5.0"},
        {"2", true, 20, "2.0"},    {" 2.45 ", true, 24, "2.5"}, {"2,5", false, 18, "1.8"},
    };
    for (const Case& c : cases) {
        const FieldCheck f = CheckSnrText(c.text);
        EXPECT_EQ(f.valid, c.valid) << c.text;
        EXPECT_EQ(f.stored, c.stored) << c.text;
        EXPECT_EQ(f.text, c.shown) << c.text;
        EXPECT_EQ(f.message, c.valid ? "" : "Invalid value: 1.1 to 5.0") << c.text;
    }
}

TEST(SnrBox, FactorFromTextAndField) {
    EXPECT_EQ(SnrTextFromField(0), "1.8");
    EXPECT_EQ(SnrTextFromField(25), "2.5");
    EXPECT_DOUBLE_EQ(SnrFromText("1.35", 1.4), 1.8);   // window load floor
    EXPECT_DOUBLE_EQ(SnrFromText("1.35", 1.3), 1.35);  // acquisition start floor
    EXPECT_DOUBLE_EQ(SnrFromText("1.2", 1.3), 1.8);
    EXPECT_DOUBLE_EQ(SnrFromText("1.2", 0.0), 1.2);  // the Fast buttons
    EXPECT_DOUBLE_EQ(SnrFromText("junk", 0.0), 1.8);
    EXPECT_DOUBLE_EQ(SnrFromText("0.5", 0.0), 1.8);
}

}  // namespace
}  // namespace lumivo
