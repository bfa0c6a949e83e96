// Beam calibration and automatic adjustment against the in-process simulated instrument on a
// virtual clock: the stepping rule, convergence into the window, channels at their limits,
// wrong echoes, early stops, short blocks and calvalue.dat.
#include "core/control/channel_calibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "control_rig.h"
#include "support/sim_plates.h"

namespace lumivo {
namespace {

using testing::AllChannelsInUse;
using testing::EmptyPlate;
using testing::SimRig;

constexpr int kLow = CalibrationWindowLow;
constexpr int kHigh = CalibrationWindowHigh;

// Transmission that puts a channel's steady level at `level` for PinHole p, Gain g.
double TransmissionFor(double level, int p, int g) {
    return level / (373.0 * std::exp(0.055 * (8.0 * p + g)));
}

TEST(CalibrationStep, FollowsTheSteppingRule) {
    struct Case {
        const char* name;
        int reading;
        ChannelStepState before;
        ChannelStepState after;
    };
    using F = ChannelFinish;
    const Case cases[] = {
        {"in window low edge", kLow, {3, 4, 1, false, F::Pending}, {3, 4, 0, true, F::InWindow}},
        {"in window high edge", kHigh, {3, 4, -1, false, F::Pending}, {3, 4, 0, true, F::InWindow}},
        {"dark raises gain", kLow - 1, {3, 4, 0, false, F::Pending}, {3, 5, 1, false, F::Pending}},
        {"dark carries into pinhole",
         100,
         {3, 7, 1, false, F::Pending},
         {4, 0, 1, false, F::Pending}},
        {"dark at the top gives up",
         100,
         {7, 7, 1, false, F::Pending},
         {7, 7, 0, true, F::DarkAtLimit}},
        {"dark above the top gives up",
         100,
         {9, 7, 0, false, F::Pending},
         {9, 7, 0, true, F::DarkAtLimit}},
        {"bright lowers gain",
         kHigh + 1,
         {3, 4, 0, false, F::Pending},
         {3, 3, -1, false, F::Pending}},
        {"bright borrows from pinhole",
         4000,
         {4, 0, -1, false, F::Pending},
         {3, 7, -1, false, F::Pending}},
        {"bright at the bottom gives up",
         4095,
         {1, 0, -1, false, F::Pending},
         {1, 0, 0, true, F::BrightAtLimit}},
        {"bright at pinhole 0 gives up",
         4095,
         {0, 0, 0, false, F::Pending},
         {0, 0, 0, true, F::BrightAtLimit}},
        {"overshoot up waits a pass",
         kHigh + 1,
         {3, 5, 1, false, F::Pending},
         {3, 5, 0, false, F::Pending}},
        {"stepped down past the window",
         kLow - 1,
         {3, 4, -1, false, F::Pending},
         {3, 4, 0, true, F::SteppedPast}},
    };
    for (const Case& c : cases) {
        ChannelStepState s = c.before;
        ApplyCalibrationStep(c.reading, s);
        EXPECT_EQ(s.PinHole, c.after.PinHole) << c.name;
        EXPECT_EQ(s.Gain, c.after.Gain) << c.name;
        EXPECT_EQ(s.direction, c.after.direction) << c.name;
        EXPECT_EQ(s.done, c.after.done) << c.name;
        EXPECT_EQ(s.finish, c.after.finish) << c.name;
    }
}

TEST(CalibrationStep, OvershootThenStepDownThenGiveUpBelowTheWindow) {
    ChannelStepState s{3, 6, 0, false, ChannelFinish::Pending};
    ApplyCalibrationStep(1500, s);  // too dark: up
    EXPECT_EQ(s.Gain, 7);
    ApplyCalibrationStep(1900, s);  // overshot: wait
    EXPECT_EQ(s.Gain, 7);
    EXPECT_EQ(s.direction, 0);
    ApplyCalibrationStep(1900, s);  // still bright: down
    EXPECT_EQ(s.Gain, 6);
    EXPECT_EQ(s.direction, -1);
    ApplyCalibrationStep(1500, s);  // below again: keep the lower setting
    EXPECT_TRUE(s.done);
    EXPECT_EQ(s.Gain, 6);
    EXPECT_EQ(s.finish, ChannelFinish::SteppedPast);
}

TEST(Readjustment, TriggerConditions) {
    struct Case {
        double level;
        bool auto_cal, recording;
        std::int16_t pin, gain;
        bool expected;
    };
    const Case cases[] = {
        {1944.0, true, true, 3, 3, false},  {1945.0, true, true, 3, 3, true},
        {4095.0, false, true, 3, 3, false}, {4095.0, true, false, 3, 3, false},
        {4095.0, true, true, 1, 0, false},  {4095.0, true, true, 2, 0, true},
        {4095.0, true, true, 1, 1, true},   {4095.0, true, true, 0, 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NeedsReadjustment(c.level, c.auto_cal, c.recording, c.pin, c.gain), c.expected)
            << c.level << " " << c.auto_cal << c.recording << " " << c.pin << "/" << c.gain;
    }
}

TEST(CalibrateChannels, ConvergesAndStoresExactlyTheRegisters) {
    sim::SimConfig config = EmptyPlate();
    config.channels[17].kind = sim::ChannelKind::kDead;
    config.channels[250].kind = sim::ChannelKind::kSaturated;
    SimRig rig(config);
    auto well = AllChannelsInUse();
    for (int c : {0, 1, 2, 3, 383}) well[static_cast<std::size_t>(c)] = -1;  // not in use
    CalibrationValues cal;
    std::array<std::uint16_t, 385> row{};
    auto ctx = rig.Context();

    const CalibrationResult r = CalibrateChannels(ctx, cal, well, row);

    ASSERT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_TRUE(rig.dialogs.Messages().empty());
    // The end names what became of the channels, not only "Calibration OK".
    EXPECT_EQ(rig.view.LastStatus(),
              "Calibration OK: 377 channels in the window, 1 dead (17), 1 saturated (250)");
    EXPECT_TRUE(rig.view.SawStatus("Writing First Time Calibration..."));
    EXPECT_TRUE(rig.view.SawStatus("Writing calibration...383"));
    EXPECT_TRUE(rig.view.SawStatus("Calibrating... [383]"));
    for (int c = 0; c < 384; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (well[i] < 0) {
            EXPECT_EQ(r.finish[i], ChannelFinish::NotInUse) << c;
            EXPECT_EQ(rig.instrument.ChannelSetting(c), 0) << c;
        } else if (c == 17) {
            EXPECT_EQ(r.finish[i], ChannelFinish::DarkAtLimit);
            EXPECT_EQ(cal.PinHole[i], 7);
            EXPECT_EQ(cal.Gain[i], 7);
        } else if (c == 250) {
            EXPECT_EQ(r.finish[i], ChannelFinish::BrightAtLimit);
            EXPECT_EQ(cal.PinHole[i], 1);
            EXPECT_EQ(cal.Gain[i], 0);
        } else {
            EXPECT_EQ(r.finish[i], ChannelFinish::InWindow) << c;
            // The steady level, without the noise the deciding reading carried.
            EXPECT_GE(rig.instrument.BeamLevel(c), kLow - 15) << c;
            EXPECT_LE(rig.instrument.BeamLevel(c), kHigh + 15) << c;
        }
    }
    EXPECT_EQ(r.ChannelsOutsideWindow(), (std::vector<int>{17, 250}));
    // calvalue.dat holds exactly what the instrument's registers hold.
    EXPECT_EQ(rig.CalFile(), FormatCalibrationFile(rig.Registers()));
    EXPECT_EQ(FormatCalibrationFile(cal), FormatCalibrationFile(rig.Registers()));
    // The dead channel needed the most passes: 2/3 up to 7/7 is 44 steps.
    EXPECT_GE(r.passes, 44);
    EXPECT_LT(r.passes, 60);
}

TEST(CalibrateChannels, StartsFromTheStoredCalibration) {
    sim::SimConfig config = EmptyPlate();
    config.transmission_spread = 0.0;
    SimRig rig(config);
    CalibrationValues stored;
    for (std::size_t c = 0; c < 384; ++c) {
        stored.PinHole[c] = 3;  // level ~1700 at 3/4 for transmission 1
        stored.Gain[c] = 4;
    }
    stored.PinHole[9] = 0;  // in use at 0/0: restarts from PinHole 2
    stored.Gain[9] = 0;
    rig.files.WriteFile("/inst/calvalue.dat", FormatCalibrationFile(stored));
    CalibrationValues cal;
    std::array<std::uint16_t, 385> row{};
    auto ctx = rig.Context();
    const auto well = AllChannelsInUse();

    const CalibrationResult r = CalibrateChannels(ctx, cal, well, row);

    ASSERT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_TRUE(rig.view.SawStatus("Writing Calibration..."));
    // Channels already in the window are done in the first pass without another write:
    // 384 x 9 frames of the writing phase, then only channel 9's steps.
    EXPECT_EQ(r.CountFinished(ChannelFinish::InWindow), 384);
    EXPECT_EQ(cal.PinHole[0], 3);
    EXPECT_EQ(cal.Gain[0], 4);
    // Channel 9 climbs from 2/0 until its level first enters the window (at 3/3).
    EXPECT_EQ(cal.PinHole[9], 3);
    EXPECT_EQ(cal.Gain[9], 3);
    const int steps_of_9 = (3 * 8 + 3) - (2 * 8 + 0);
    EXPECT_EQ(rig.instrument.Stats().store_writes,
              static_cast<std::uint64_t>(9 * (384 + steps_of_9)));
    EXPECT_EQ(rig.CalFile(), FormatCalibrationFile(rig.Registers()));
}

TEST(CalibrateChannels, WrongEchoInTheWritingPhaseStopsWithoutSaving) {
    for (const bool with_file : {false, true}) {
        sim::SimConfig config = EmptyPlate();
        config.faults.bad_echo_channels = {200};
        SimRig rig(config);
        CalibrationValues old;
        old.PinHole.fill(4);
        old.Gain.fill(1);
        if (with_file) rig.files.WriteFile("/inst/calvalue.dat", FormatCalibrationFile(old));
        CalibrationValues cal;
        std::array<std::uint16_t, 385> row{};
        auto ctx = rig.Context();
        const auto well = AllChannelsInUse();

        const CalibrationResult r = CalibrateChannels(ctx, cal, well, row);

        EXPECT_EQ(r.outcome, RunOutcome::WriteFailed);
        EXPECT_EQ(r.failed_channel, 200);
        EXPECT_EQ(rig.dialogs.Messages(),
                  (std::vector<std::string>{
                      "Ops...Data Writing ERROR: reg(200)... Check COM and Try again",
                      "Communication error. Check COM PORT and equipment connection."}));
        if (with_file) {
            EXPECT_EQ(rig.CalFile(), FormatCalibrationFile(old));
        } else {
            EXPECT_FALSE(rig.CalFileExists());
        }
        EXPECT_NE(rig.view.LastStatus(), "Calibration OK");
        EXPECT_EQ(r.passes, 0);
    }
}

TEST(CalibrateChannels, WrongEchoWhileSteppingStopsTheAcquisition) {
    SimRig rig(EmptyPlate());
    CalibrationValues cal;
    std::array<std::uint16_t, 385> row{};
    int stops = 0;
    int checks = 0;
    RunControl run;
    // The register of channel 200 stops answering once the writing phase is over.
    run.keep_going = [&] {
        if (++checks == 385) rig.instrument.Faults().bad_echo_channels = {200};
        return true;
    };
    run.stop_acquisition = [&] { ++stops; };
    auto ctx = rig.Context(run);
    const auto well = AllChannelsInUse();

    const CalibrationResult r = CalibrateChannels(ctx, cal, well, row);

    EXPECT_EQ(r.outcome, RunOutcome::WriteFailed);
    EXPECT_EQ(r.failed_channel, 200);
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(rig.dialogs.Messages(),
              (std::vector<std::string>{
                  "Ops...Data Writing ERROR: reg(200)... Check COM and Try again"}));
    EXPECT_FALSE(rig.CalFileExists());
}

TEST(CalibrateChannels, StoppedPartWayReportsItAndSavesNothing) {
    // Stopped in the writing phase and stopped between two stepping passes.
    for (const int stop_after : {100, 386}) {
        SimRig rig(EmptyPlate());
        CalibrationValues old;
        old.PinHole.fill(2);
        old.Gain.fill(2);
        rig.files.WriteFile("/inst/calvalue.dat", FormatCalibrationFile(old));
        CalibrationValues cal;
        std::array<std::uint16_t, 385> row{};
        int checks = 0;
        RunControl run;
        run.keep_going = [&] { return ++checks <= stop_after; };
        auto ctx = rig.Context(run);
        const auto well = AllChannelsInUse();

        const CalibrationResult r = CalibrateChannels(ctx, cal, well, row);

        EXPECT_EQ(r.outcome, RunOutcome::Interrupted) << stop_after;
        EXPECT_EQ(rig.CalFile(), FormatCalibrationFile(old)) << stop_after;
        EXPECT_EQ(rig.view.LastStatus(), kCalibrationInterruptedStatus);
        EXPECT_EQ(rig.dialogs.Messages(),
                  (std::vector<std::string>{kCalibrationInterruptedStatus}));
        EXPECT_FALSE(rig.view.SawStatus("Calibration OK"));
    }
}

TEST(CalibrateChannels, OfflineIsRefusedWithoutTouchingTheInstrument) {
    SimRig rig;
    CalibrationValues cal;
    std::array<std::uint16_t, 385> row{};
    RunControl run;
    run.offline = true;
    auto ctx = rig.Context(run);
    const auto well = AllChannelsInUse();
    const CalibrationResult r = CalibrateChannels(ctx, cal, well, row);
    EXPECT_EQ(r.outcome, RunOutcome::Refused);
    EXPECT_EQ(rig.dialogs.Messages(),
              (std::vector<std::string>{"Operation not possible in OFFLINE mode"}));
    EXPECT_EQ(rig.instrument.Stats().frames, 0u);
    EXPECT_FALSE(rig.CalFileExists());
}

TEST(CalibrateChannels, SaveFailureIsReported) {
    SimRig rig(EmptyPlate());
    rig.files.fail_writes = true;
    CalibrationValues cal;
    std::array<std::uint16_t, 385> row{};
    auto ctx = rig.Context();
    const auto well = AllChannelsInUse();
    const CalibrationResult r = CalibrateChannels(ctx, cal, well, row);
    EXPECT_EQ(r.outcome, RunOutcome::SaveFailed);
    ASSERT_EQ(rig.dialogs.Messages().size(), 1u);
    const std::string tag = "Error [" + (rig.storage.install_dir / "calvalue.dat").string() + "]";
    EXPECT_EQ(rig.dialogs.Messages()[0].rfind(tag + " => Calibration NOT saved: ", 0), 0u)
        << rig.dialogs.Messages()[0];
    EXPECT_NE(rig.view.LastStatus(), "Calibration OK");
}

TEST(CalibrateChannels, ShortBlocksAreNotSteppedOnStaleReadings) {
    sim::SimConfig config = EmptyPlate();
    config.transmission_spread = 0.0;
    SimRig rig(config);
    CalibrationValues cal;
    std::array<std::uint16_t, 385> row{};
    int checks = 0;
    RunControl run;
    // From the first stepping pass on, every block comes back one byte short.
    run.keep_going = [&] {
        if (++checks == 385) rig.instrument.Faults().short_blocks = sim::kAlways;
        return true;
    };
    auto ctx = rig.Context(run);
    std::array<std::int16_t, 385> well{};
    well.fill(-1);
    well[0] = 0;   // block 0
    well[40] = 1;  // block 32
    const CalibrationResult r = CalibrateChannels(ctx, cal, well, row);
    // Every block is short now, so nothing is stepped and after three passes both channels are
    // given up with their first-time settings (not walked to the top on stale readings).
    EXPECT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_EQ(r.passes, kMaxMissedBlockPasses);
    EXPECT_EQ(r.finish[0], ChannelFinish::NoReading);
    EXPECT_EQ(r.finish[40], ChannelFinish::NoReading);
    EXPECT_EQ(cal.PinHole[0], 2);
    EXPECT_EQ(cal.Gain[0], 3);
    EXPECT_EQ(rig.CalFile(), FormatCalibrationFile(rig.Registers()));
}

// The adjustment list with `listed` channels asked for (0) and every other left (-1).
AdjustmentList Listed(std::initializer_list<int> listed) {
    AdjustmentList list;
    list.fill(-1);
    for (int c : listed) list[static_cast<std::size_t>(c)] = 0;
    return list;
}

// AutoAdjustChannels on every channel in use, with the rig's own run control.
CalibrationResult AdjustAll(SimRig& rig, CalibrationValues& cal, AdjustmentList& list) {
    auto ctx = rig.Context();
    return AutoAdjustChannels(ctx, cal, AllChannelsInUse(), list);
}

TEST(AutoAdjustChannels, BringsListedChannelsBackAndLeavesTheOthers) {
    sim::SimConfig config = EmptyPlate();
    config.transmission_spread = 0.0;
    // In the window at PinHole 3, Gain 4 and above it one step higher.
    for (int c : {5, 300, 6}) {
        config.channels[static_cast<std::size_t>(c)].transmission = TransmissionFor(1790.0, 3, 4);
    }
    SimRig rig(config);
    CalibrationValues cal;
    for (std::size_t c = 0; c < 384; ++c) {
        cal.PinHole[c] = 3;
        cal.Gain[c] = 4;
    }
    // Channels 5 and 300 drifted: their registers are 5 steps too high. Channel 6 also sits
    // too high but is not listed.
    for (int c : {5, 300, 6}) {
        rig.instrument.SetChannelSetting(c, 32 * 1 + 4);  // Gain 1, PinHole 4
        cal.PinHole[static_cast<std::size_t>(c)] = 4;
        cal.Gain[static_cast<std::size_t>(c)] = 1;
    }
    AdjustmentList list = Listed({5, 300});
    const CalibrationResult r = AdjustAll(rig, cal, list);

    ASSERT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_EQ(r.finish[5], ChannelFinish::InWindow);
    EXPECT_EQ(r.finish[300], ChannelFinish::InWindow);
    EXPECT_EQ(r.finish[6], ChannelFinish::NotInUse);
    EXPECT_EQ(list[5], -1);
    EXPECT_EQ(list[300], -1);
    EXPECT_EQ(rig.instrument.ChannelSetting(5), 32 * 4 + 3);
    EXPECT_EQ(rig.instrument.ChannelSetting(300), 32 * 4 + 3);
    EXPECT_EQ(rig.instrument.ChannelSetting(6), 32 * 1 + 4);  // untouched
    EXPECT_EQ(rig.CalFile(), FormatCalibrationFile(cal));
    EXPECT_EQ(rig.view.titles, (std::vector<std::string>{"<AUTOCALIBRATION>"}));
    EXPECT_EQ(rig.view.statuses.front(), "Auto-Adjustment...");
    EXPECT_EQ(rig.view.LastStatus(),
              "Calibration OK: 2 channels in the window, 0 dead, 0 saturated");
    EXPECT_EQ(rig.view.frame_events, (std::vector<bool>{true, false}));
}

TEST(AutoAdjustChannels, NothingListedStillReadsOnceAndSaves) {
    SimRig rig(EmptyPlate());
    CalibrationValues cal;
    cal.PinHole.fill(3);
    cal.Gain.fill(2);
    AdjustmentList list = Listed({});
    const CalibrationResult r = AdjustAll(rig, cal, list);
    EXPECT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_EQ(r.passes, 1);
    EXPECT_EQ(rig.instrument.Stats().store_writes, 0u);
    EXPECT_EQ(rig.CalFile(), FormatCalibrationFile(cal));
}

TEST(AutoAdjustChannels, ChannelsFinishedWithoutAWrite) {
    // A saturated channel at PinHole 1, Gain 0 and a channel already in the window.
    sim::SimConfig config = EmptyPlate();
    config.transmission_spread = 0.0;
    config.channels[10].kind = sim::ChannelKind::kSaturated;
    config.channels[11].transmission = TransmissionFor(1740.0, 2, 3);
    SimRig rig(config);
    CalibrationValues cal;
    cal.PinHole.fill(2);
    cal.Gain.fill(3);
    cal.PinHole[10] = 1;
    cal.Gain[10] = 0;
    AdjustmentList list = Listed({10, 11});
    const CalibrationResult r = AdjustAll(rig, cal, list);
    EXPECT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_EQ(r.finish[10], ChannelFinish::BrightAtLimit);
    EXPECT_EQ(r.finish[11], ChannelFinish::InWindow);
    EXPECT_EQ(rig.instrument.Stats().store_writes, 0u);
    EXPECT_EQ(cal.PinHole[10], 1);
    EXPECT_EQ(cal.Gain[10], 0);
}

TEST(AutoAdjustChannels, FailedWriteEndsWithoutSavingOrStopping) {
    sim::SimConfig config = EmptyPlate();
    config.faults.bad_echo_channels = {7};
    config.channels[7].kind = sim::ChannelKind::kSaturated;
    SimRig rig(config);
    CalibrationValues cal;
    cal.PinHole.fill(3);
    cal.Gain.fill(3);
    AdjustmentList list = Listed({7});
    int stops = 0;
    RunControl run;
    run.stop_acquisition = [&] { ++stops; };
    auto ctx = rig.Context(run);
    const auto well = AllChannelsInUse();
    const CalibrationResult r = AutoAdjustChannels(ctx, cal, well, list);
    EXPECT_EQ(r.outcome, RunOutcome::WriteFailed);
    EXPECT_EQ(stops, 0);
    EXPECT_FALSE(rig.CalFileExists());
    EXPECT_EQ(
        rig.dialogs.Messages(),
        (std::vector<std::string>{"Ops...Data Writing ERROR: reg(7)... Check COM and Try again"}));
    EXPECT_EQ(rig.view.frame_events, (std::vector<bool>{true, false}));
}

TEST(AutoAdjustChannels, NotInUseChannelsAreClearedAndNeverListed) {
    SimRig rig(EmptyPlate());
    CalibrationValues cal;
    cal.PinHole.fill(3);
    cal.Gain.fill(3);
    AdjustmentList list;
    list.fill(0);  // everything asked for
    std::array<std::int16_t, 385> well{};
    well.fill(-1);
    auto ctx = rig.Context();
    const CalibrationResult r = AutoAdjustChannels(ctx, cal, well, list);
    EXPECT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_TRUE(std::all_of(list.begin(), list.end(), [](std::int16_t v) { return v == -1; }));
    EXPECT_EQ(cal.PinHole[100], 0);
    EXPECT_EQ(cal.Gain[100], 0);
    EXPECT_EQ(rig.instrument.Stats().store_writes, 0u);
}

}  // namespace
}  // namespace lumivo
