// Pause (with the time counter frozen or running), resume and stop.
#include <gtest/gtest.h>

#include "acquisition_rig.h"

namespace lumivo::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kMinuteUs = 60'000'000;

TEST(PauseStop, StateMachineOfThePauseButton) {
    struct Case {
        MsgResult answer;
        bool timer_while_paused;
        std::int16_t counter_stopped;
        const char* status;
    };
    const Case cases[] = {
        {MsgResult::Yes, false, -1, kTimeCounterOff},
        {MsgResult::No, true, 0, kTimeCounterOn},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.status);
        AcquisitionRig rig;
        ASSERT_EQ(rig.Start("pause"), StartOutcome::Started);
        rig.RunTicks(10);
        rig.dialogs.QueueAnswer(k.answer);
        rig.engine.CmdPause_Click();
        ASSERT_TRUE(rig.dialogs.Showed(kPauseQuestion));
        EXPECT_EQ(rig.engine.state.AcquisitionRunning, 2);
        EXPECT_EQ(rig.engine.TimerEnabled(), k.timer_while_paused);
        EXPECT_EQ(rig.engine.state.TimeCounterStopped, k.counter_stopped);
        EXPECT_EQ(rig.view.statuses.back(), k.status);
        EXPECT_TRUE(rig.view.frame_shown);
        EXPECT_EQ(rig.view.title, kPausedCaption);

        // A paused tick reads nothing.
        const auto frames = rig.instrument.Stats().frames;
        const auto row = rig.engine.sampling.SampleRow;
        rig.engine.Tick();
        EXPECT_EQ(rig.instrument.Stats().frames, frames);
        EXPECT_EQ(rig.engine.sampling.SampleRow, row);

        rig.engine.CmdPause_Click();  // resume
        EXPECT_EQ(rig.engine.state.AcquisitionRunning, 1);
        EXPECT_TRUE(rig.engine.TimerEnabled());
        EXPECT_EQ(rig.engine.state.TimeCounterStopped, 0);
        EXPECT_FALSE(rig.view.frame_shown);

        // The first two ticks after the resume repeat the warm-up reads: eight block
        // requests each, then four.
        std::vector<std::uint64_t> per_tick;
        for (int i = 0; i < 3; ++i) {
            const auto before = rig.instrument.Stats().frames;
            rig.engine.Tick();
            per_tick.push_back(rig.instrument.Stats().frames - before);
        }
        EXPECT_EQ(per_tick, (std::vector<std::uint64_t>{8, 8, 4}));
    }
}

TEST(PauseStop, FrozenCounterDoesNotCountThePausedTime) {
    AcquisitionRig rig;
    rig.app.project.Setup.Aq_lapse = 1;
    ASSERT_EQ(rig.Start("frozen"), StartOutcome::Started);
    rig.RunTicks(250);
    rig.dialogs.QueueAnswer(MsgResult::Yes);
    rig.engine.CmdPause_Click();
    const auto paused_minutes = rig.engine.sampling.ElapsedMinutes;
    rig.clock.AdvanceMs(10 * 60'000);  // ten minutes on the shelf
    rig.engine.Tick();                 // the timer is off: nothing happens
    EXPECT_EQ(rig.engine.state.AcquisitionRunning, 2);
    rig.engine.CmdPause_Click();
    rig.RunWindows(1);

    // The window's minutes and its sample period ignore the ten minutes.
    EXPECT_EQ(paused_minutes, 0);
    const CountsFileContents counts = ReadCountsFile(rig.Folder() / kCountsFileName);
    ASSERT_EQ(counts.records.size(), 1u);
    EXPECT_EQ(counts.records[0].elapsed_minutes, 0);
    EXPECT_LT(rig.engine.sampling.SamplePeriod, 0.075);
    EXPECT_GT(rig.engine.sampling.SamplePeriod, 0.068);
    EXPECT_TRUE(rig.engine.Running());  // a minute of sampling has not passed yet
}

TEST(PauseStop, RunningCounterCountsThePauseAndTheLapseEndsDuringIt) {
    AcquisitionRig rig;
    rig.app.project.Setup.Aq_lapse = 2;
    ASSERT_EQ(rig.Start("running counter"), StartOutcome::Started);
    rig.RunTicks(100);
    rig.dialogs.QueueAnswer(MsgResult::No);
    rig.engine.CmdPause_Click();
    const std::int64_t start = rig.engine.state.AcquisitionStartTime;
    int ticks = 0;
    while (rig.engine.TimerEnabled() && ticks < 2000) {
        rig.clock.AdvanceMs(100);
        rig.engine.Tick();
        ++ticks;
    }
    EXPECT_FALSE(rig.engine.Running());
    EXPECT_TRUE(rig.engine.state.finished_at_lapse);
    // It ended as soon as minute 2 was reached, in the middle of a window.
    const auto ended = rig.clock.MonotonicMicros() - start;
    EXPECT_GE(ended, 2 * kMinuteUs);
    EXPECT_LE(ended, 2 * kMinuteUs + 100'000);
    EXPECT_EQ(rig.engine.sampling.windows_closed, 0);
    EXPECT_FALSE(fs::exists(rig.Folder() / kCountsFileName));
    EXPECT_TRUE(fs::exists(rig.app.project.ProjectFolder / "report.txt"));
    EXPECT_EQ(rig.view.elapsed_text, "00:02:00 [0d]");
}

TEST(PauseStop, ResumeWithRunningCounterKeepsTheStartTimeButNotTheSamplePeriod) {
    AcquisitionRig rig;
    ASSERT_EQ(rig.Start("long pause"), StartOutcome::Started);
    rig.RunTicks(100);
    rig.dialogs.QueueAnswer(MsgResult::No);
    rig.engine.CmdPause_Click();
    const std::int64_t start = rig.engine.state.AcquisitionStartTime;
    for (int i = 0; i < 100; ++i) {
        rig.clock.AdvanceMs(100);
        rig.engine.Tick();
    }
    rig.engine.CmdPause_Click();
    EXPECT_EQ(rig.engine.state.AcquisitionStartTime, start);
    rig.RunWindows(1);
    EXPECT_LT(rig.engine.sampling.SamplePeriod, 0.075);
}

TEST(PauseStop, StopInsideAWindowDropsItAndResetsTheControls) {
    AcquisitionRig rig;
    rig.climate.outputs.light_on = true;
    ASSERT_EQ(rig.Start("stopped"), StartOutcome::Started);
    rig.RunWindows(1);
    rig.RunTicks(300);
    rig.engine.CmdStop_Click();

    EXPECT_FALSE(rig.engine.Running());
    EXPECT_FALSE(rig.engine.TimerEnabled());
    EXPECT_EQ(rig.engine.sampling.TickCount, 0);
    EXPECT_EQ(rig.FileSize(kCountsFileName), kCountsRecordSize);
    EXPECT_EQ(rig.FileSize("0.bin"), RawPageRecordSize(500));
    EXPECT_EQ(rig.view.controls, AcquisitionControls{});
    EXPECT_EQ(rig.view.temperature, kNoTemperatureLabel);
    EXPECT_FALSE(rig.climate.outputs.light_on);
    EXPECT_EQ(rig.instrument.OutputMask(), 0);
    EXPECT_FALSE(rig.engine.state.finished_at_lapse);
    EXPECT_FALSE(fs::exists(rig.app.project.ProjectFolder / "report.txt"));

    // A tick that arrives late (already queued by the window) does nothing.
    const auto frames = rig.instrument.Stats().frames;
    rig.engine.Tick();
    EXPECT_EQ(rig.instrument.Stats().frames, frames);

    // Stop again: only the controls and the port.
    rig.engine.CmdStop_Click();
    EXPECT_EQ(rig.view.controls, AcquisitionControls{});
    EXPECT_EQ(rig.FileSize(kCountsFileName), kCountsRecordSize);
}

TEST(PauseStop, PauseDuringTheStartCalibrationHoldsTheRunUntilTheResume) {
    for (MsgResult answer : {MsgResult::Yes, MsgResult::No}) {
        SCOPED_TRACE(answer == MsgResult::Yes ? "counter frozen" : "counter running");
        PlateMap plate;
        BuildDefaultPlateMap("w96f", plate);
        AcquisitionRig rig(AlternatingWells(plate, 0.0));
        rig.controls.AutoZeroOnStart = true;
        // The user presses Pause while the start's auto-zero lets window events run.
        struct PauseOnEvents final : public Dialogs {
            explicit PauseOnEvents(AcquisitionEngine*& e, MsgResult a) : engine(e), answer(a) {}
            MsgResult MessageBox(const std::string&, MsgButtons buttons,
                                 const std::string&) override {
                return buttons == MsgButtons::YesNo ? answer : MsgResult::Ok;
            }
            std::optional<std::string> InputBox(const std::string&, const std::string&,
                                                const std::string&) override {
                return std::nullopt;
            }
            void ProcessEvents() override {
                if (++events == 25 && engine != nullptr) engine->CmdPause_Click();
            }
            AcquisitionEngine*& engine;
            MsgResult answer;
            int events = 0;
        };
        AcquisitionEngine* target = nullptr;
        PauseOnEvents dialogs(target, answer);
        DeviceLink link(rig.clock, dialogs, sim::SimTransportOpener(rig.instrument, rig.clock, 1));
        ASSERT_EQ(CommOpen(link.ports, 1, "COM1", kInstrumentPortSettings), 0);
        StorageContext storage{rig.temp.path(), dialogs, rig.files, {}};
        AcquisitionEngine engine(AcquisitionContext{link, storage, rig.app, rig.controls,
                                                    rig.climate, rig.cal, rig.view, rig.file_ops});
        target = &engine;
        StartOptions o;
        o.name = "paused early";
        ASSERT_EQ(engine.StartAcquisition(o), StartOutcome::Started);
        EXPECT_EQ(engine.state.AcquisitionRunning, 2);
        EXPECT_EQ(engine.TimerEnabled(), answer == MsgResult::No);
        rig.clock.AdvanceMs(5 * 60'000);
        engine.CmdPause_Click();  // resume
        EXPECT_EQ(engine.state.AcquisitionRunning, 1);
        EXPECT_TRUE(engine.TimerEnabled());
        // A frozen counter did not count the five minutes; a running one did.
        engine.Tick();
        EXPECT_EQ(engine.sampling.ElapsedMinutes, answer == MsgResult::Yes ? 0 : 5);
    }
}

TEST(PauseStop, StopWhilePausedEndsTheRun) {
    AcquisitionRig rig;
    ASSERT_EQ(rig.Start("paused stop"), StartOutcome::Started);
    rig.RunTicks(20);
    rig.dialogs.QueueAnswer(MsgResult::Yes);
    rig.engine.CmdPause_Click();
    rig.engine.CmdStop_Click();
    EXPECT_EQ(rig.engine.state.AcquisitionRunning, 0);
    EXPECT_EQ(rig.engine.state.TimeCounterStopped, 0);
    EXPECT_FALSE(rig.view.frame_shown);
    // A pause click on a stopped run does nothing.
    rig.engine.CmdPause_Click();
    EXPECT_EQ(rig.engine.state.AcquisitionRunning, 0);
    EXPECT_TRUE(rig.dialogs.AllAnswersUsed());
}

}  // namespace
}  // namespace lumivo::testing
