// Pause (with the time counter frozen or running), resume and stop.
#include <gtest/gtest.h>

#include <cstdio>

#include "acquisition_rig.h"

namespace lumivo::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kMinuteUs = 60'000'000;

TEST(PauseStop, StateMachineOfThePauseButton) {
    struct Case {
        MsgResult answer;
        bool timer_while_paused;
        bool counter_stopped;
        const char* status;
    };
    const Case cases[] = {
        {MsgResult::Yes, false, true, kTimeCounterOff},
        {MsgResult::No, true, false, kTimeCounterOn},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.status);
        AcquisitionRig rig;
        ASSERT_EQ(rig.Start("pause"), StartOutcome::Started);
        rig.RunTicks(10);
        rig.dialogs.QueueAnswer(k.answer);
        rig.engine.TogglePause();
        ASSERT_TRUE(rig.dialogs.Showed(kPauseQuestion));
        EXPECT_EQ(rig.engine.State().AcquisitionRunning, RunState::Paused);
        EXPECT_EQ(rig.engine.SamplingOn(), k.timer_while_paused);
        EXPECT_EQ(rig.engine.State().TimeCounterStopped, k.counter_stopped);
        EXPECT_EQ(rig.view.statuses.back(), k.status);
        EXPECT_TRUE(rig.view.frame_shown);
        EXPECT_EQ(rig.view.title, kPausedCaption);
        EXPECT_TRUE(rig.view.controls.pause_resumes);  // the button reads "Resume"
        // The end is known either way (with the counter frozen it moves on with the clock).
        EXPECT_TRUE(rig.view.expected_end.has_value());

        // A paused tick reads nothing.
        const auto frames = rig.instrument.Stats().frames;
        const auto row = rig.engine.Sampling().SampleRow;
        rig.engine.Tick();
        EXPECT_EQ(rig.instrument.Stats().frames, frames);
        EXPECT_EQ(rig.engine.Sampling().SampleRow, row);

        rig.engine.TogglePause();  // resume
        EXPECT_EQ(rig.engine.State().AcquisitionRunning, RunState::Running);
        EXPECT_TRUE(rig.engine.SamplingOn());
        EXPECT_FALSE(rig.engine.State().TimeCounterStopped);
        EXPECT_FALSE(rig.view.frame_shown);
        EXPECT_FALSE(rig.view.controls.pause_resumes);
        EXPECT_EQ(rig.view.statuses.back(), "");  // "Time Counter = ..." goes

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
    rig.app.project.Setup.Aq_lapse = 2;
    ASSERT_EQ(rig.Start("frozen"), StartOutcome::Started);
    rig.RunTicks(250);
    rig.Pause(MsgResult::Yes);
    const auto paused_minutes = rig.engine.Sampling().ElapsedMinutes;
    rig.clock.AdvanceMs(10 * 60'000);  // ten minutes on the shelf
    rig.engine.Tick();                 // the timer is off: nothing happens
    EXPECT_EQ(rig.engine.State().AcquisitionRunning, RunState::Paused);
    rig.engine.TogglePause();
    rig.RunWindows(1);

    // The window's minutes and its sample period ignore the ten minutes.
    EXPECT_EQ(paused_minutes, 0);
    const CountsFileContents counts = ReadCountsFile(rig.Folder() / kCountsFileName);
    ASSERT_EQ(counts.records.size(), 1u);
    EXPECT_EQ(counts.records[0].elapsed_minutes, 0);
    EXPECT_LT(rig.engine.Sampling().SamplePeriod, 0.075);
    EXPECT_GT(rig.engine.Sampling().SamplePeriod, 0.068);
    EXPECT_TRUE(rig.engine.Running());  // a minute of sampling has not passed yet
}

TEST(PauseStop, RunningCounterCountsThePauseAndTheLapseEndsDuringIt) {
    AcquisitionRig rig;
    rig.app.project.Setup.Aq_lapse = 2;
    ASSERT_EQ(rig.Start("running counter"), StartOutcome::Started);
    rig.RunTicks(100);
    rig.Pause(MsgResult::No);
    const std::int64_t start = rig.engine.State().AcquisitionStartTime;
    int ticks = 0;
    while (rig.engine.SamplingOn() && ticks < 2000) {
        rig.clock.AdvanceMs(100);
        rig.engine.Tick();
        ++ticks;
    }
    EXPECT_FALSE(rig.engine.Running());
    EXPECT_TRUE(rig.engine.State().finished_at_lapse);
    // It ended as soon as minute 2 was reached, in the middle of a window.
    const auto ended = rig.clock.MonotonicMicros() - start;
    EXPECT_GE(ended, 2 * kMinuteUs);
    EXPECT_LE(ended, 2 * kMinuteUs + 100'000);
    EXPECT_EQ(rig.engine.Sampling().windows_closed, 0);
    EXPECT_FALSE(fs::exists(rig.Folder() / kCountsFileName));
    EXPECT_TRUE(fs::exists(rig.app.project.ProjectFolder / "report.txt"));
    EXPECT_EQ(rig.view.elapsed_text, "00:02:00 [0d]");
}

TEST(PauseStop, ResumeWithRunningCounterKeepsTheStartTimeButNotTheSamplePeriod) {
    AcquisitionRig rig;
    ASSERT_EQ(rig.Start("long pause"), StartOutcome::Started);
    rig.RunTicks(100);
    rig.Pause(MsgResult::No);
    const std::int64_t start = rig.engine.State().AcquisitionStartTime;
    for (int i = 0; i < 100; ++i) {
        rig.clock.AdvanceMs(100);
        rig.engine.Tick();
    }
    rig.engine.TogglePause();
    EXPECT_EQ(rig.engine.State().AcquisitionStartTime, start);
    rig.RunWindows(1);
    EXPECT_LT(rig.engine.Sampling().SamplePeriod, 0.075);
}

TEST(PauseStop, StopInsideAWindowDropsItAndResetsTheControls) {
    AcquisitionRig rig;
    rig.climate.outputs.light_on = true;
    ASSERT_EQ(rig.Start("stopped"), StartOutcome::Started);
    rig.RunWindows(1);
    rig.RunTicks(300);
    // The folder is marked as being recorded until the run ends (the browser will not archive it).
    EXPECT_TRUE(IsBeingRecorded(rig.Folder()));
    rig.engine.Stop();
    EXPECT_FALSE(IsBeingRecorded(rig.Folder()));

    EXPECT_FALSE(rig.engine.Running());
    EXPECT_FALSE(rig.engine.SamplingOn());
    EXPECT_EQ(rig.engine.Sampling().TickCount, 0);
    EXPECT_EQ(rig.FileSize(kCountsFileName), kCountsRecordSize);
    EXPECT_EQ(rig.FileSize("0.bin"), RawPageRecordSize(500));
    EXPECT_EQ(rig.view.controls, RunCommands{});
    EXPECT_EQ(rig.view.temperature, kNoTemperatureLabel);
    EXPECT_FALSE(rig.climate.outputs.light_on);
    EXPECT_EQ(rig.instrument.OutputMask(), 0);
    EXPECT_FALSE(rig.engine.State().finished_at_lapse);
    // The quick report of a stopped run, dated as the user's locale writes dates.
    const fs::path summary = rig.app.project.ProjectFolder / "report.txt";
    ASSERT_TRUE(fs::exists(summary));
    EXPECT_EQ(ReadFile(summary).rfind("date 14.3.2026\r\n1_Rig\r\n\r\nGroup Activity:", 0), 0u);
    EXPECT_EQ(rig.view.opened_files, std::vector<fs::path>{summary});
    EXPECT_EQ(rig.view.status_line,
              "Acquisition stopped (Stop Acquisition was pressed): 1 window recorded in " +
                  rig.engine.State().AcquisitionFolderName);

    // A tick that arrives late (already queued by the window) does nothing.
    const auto frames = rig.instrument.Stats().frames;
    rig.engine.Tick();
    EXPECT_EQ(rig.instrument.Stats().frames, frames);

    // Stop again: only the controls and the port.
    rig.engine.Stop();
    EXPECT_EQ(rig.view.controls, RunCommands{});
    EXPECT_EQ(rig.FileSize(kCountsFileName), kCountsRecordSize);
}

TEST(PauseStop, PauseDuringTheStartCalibrationHoldsTheRunUntilTheResume) {
    for (MsgResult answer : {MsgResult::Yes, MsgResult::No}) {
        SCOPED_TRACE(answer == MsgResult::Yes ? "counter frozen" : "counter running");
        AcquisitionRig rig(AlternatingWells("w96f", 0.0));
        rig.controls.AutoZeroOnStart = true;
        // The user presses Pause while the start's auto-zero lets window events run.
        rig.dialogs.on_events = [&](int pass) {
            if (pass != 25) return;
            rig.dialogs.QueueAnswer(answer);
            rig.engine.TogglePause();
        };
        ASSERT_EQ(rig.Start("paused early"), StartOutcome::Started);
        EXPECT_EQ(rig.engine.State().AcquisitionRunning, RunState::Paused);
        EXPECT_EQ(rig.engine.SamplingOn(), answer == MsgResult::No);
        rig.dialogs.on_events = nullptr;
        rig.clock.AdvanceMs(5 * 60'000);
        rig.engine.TogglePause();  // resume
        EXPECT_EQ(rig.engine.State().AcquisitionRunning, RunState::Running);
        EXPECT_TRUE(rig.engine.SamplingOn());
        // A frozen counter did not count the five minutes; a running one did.
        rig.engine.Tick();
        EXPECT_EQ(rig.engine.Sampling().ElapsedMinutes, answer == MsgResult::Yes ? 0 : 5);
    }
}

TEST(PauseStop, StopWhilePausedEndsTheRun) {
    AcquisitionRig rig;
    ASSERT_EQ(rig.Start("paused stop"), StartOutcome::Started);
    rig.RunTicks(20);
    rig.Pause(MsgResult::Yes);
    rig.engine.Stop();
    EXPECT_EQ(rig.engine.State().AcquisitionRunning, RunState::Stopped);
    EXPECT_FALSE(rig.engine.State().TimeCounterStopped);
    EXPECT_FALSE(rig.view.frame_shown);
    // A pause click on a stopped run does nothing.
    rig.engine.TogglePause();
    EXPECT_EQ(rig.engine.State().AcquisitionRunning, RunState::Stopped);
    EXPECT_TRUE(rig.dialogs.AllAnswersUsed());
}

// The expected end the view shows, "hh:mm" ("-" when none).
std::string ExpectedEnd(const AcquisitionRig& rig) {
    const auto& end = rig.view.expected_end;
    if (!end) return "-";
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", end->hour, end->minute);
    return text;
}

TEST(PauseStop, TheExpectedEndFollowsTheLapseAndThePause) {
    AcquisitionRig rig;  // the clock starts at 2026-03-14 09:30:00; lapse 30 minutes
    ASSERT_EQ(rig.Start("end"), StartOutcome::Started);
    rig.RunTicks(3);
    EXPECT_EQ(ExpectedEnd(rig), "10:00");
    // A 10-minute pause with the counter frozen moves the end by 10 minutes, minute by
    // minute while it lasts.
    rig.Pause(MsgResult::Yes);
    EXPECT_EQ(ExpectedEnd(rig), "10:00");
    rig.clock.AdvanceMicros(4 * kMinuteUs);
    const auto during = rig.engine.ExpectedEnd();
    ASSERT_TRUE(during.has_value());
    EXPECT_EQ(during->minute, 4);
    rig.clock.AdvanceMicros(6 * kMinuteUs);
    rig.engine.TogglePause();
    EXPECT_EQ(ExpectedEnd(rig), "10:10");  // at the resume, not a second later
    rig.RunTicks(20);
    EXPECT_EQ(ExpectedEnd(rig), "10:10");
    // A pause with the counter running keeps the end where it was.
    rig.Pause(MsgResult::No);
    rig.clock.AdvanceMicros(3 * kMinuteUs);
    EXPECT_EQ(rig.engine.ExpectedEnd()->minute, 10);
    rig.engine.TogglePause();
    rig.dialogs.QueueAnswer(MsgResult::Yes);
    rig.engine.RequestStop();
    EXPECT_EQ(ExpectedEnd(rig), "-");
}

TEST(PauseStop, StopAsksFirstAndNoKeepsTheRun) {
    struct Case {
        MsgResult answer;
        bool stopped;
    };
    for (const Case k : {Case{MsgResult::No, false}, Case{MsgResult::Yes, true}}) {
        AcquisitionRig rig;
        ASSERT_EQ(rig.Start("confirm"), StartOutcome::Started);
        rig.RunWindows(1);
        rig.dialogs.QueueAnswer(k.answer);
        EXPECT_EQ(rig.engine.RequestStop(), k.stopped);
        EXPECT_EQ(rig.dialogs.Messages().back(),
                  "Stop the recording \"confirm\"? 1 window recorded so far; the window in "
                  "progress is not recorded.");
        EXPECT_EQ(rig.engine.Running(), !k.stopped);
        EXPECT_EQ(rig.engine.SamplingOn(), !k.stopped);
    }
    // Nothing running: the button only resets the controls, without a question.
    AcquisitionRig rig;
    EXPECT_TRUE(rig.engine.RequestStop());
    EXPECT_TRUE(rig.dialogs.shown().empty());
    EXPECT_EQ(rig.view.controls, RunCommands{});
    // The question before closing the program names the run.
    ASSERT_EQ(rig.Start("closing"), StartOutcome::Started);
    EXPECT_EQ(rig.engine.ExitQuestion(),
              "A recording is running (\"closing\", 0 windows recorded).\r\nStop it and exit the "
              "program?");
}

TEST(PauseStop, ARunStoppedBeforeItsFirstWindowLeavesNoFolder) {
    AcquisitionRig rig;
    ASSERT_EQ(rig.Start("too short"), StartOutcome::Started);
    const fs::path folder = rig.Folder();
    ASSERT_TRUE(fs::exists(folder / "subproj.dat"));
    rig.RunTicks(100);
    rig.engine.Stop();
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_FALSE(fs::exists(rig.app.project.ProjectFolder / "report.txt"));
    EXPECT_TRUE(rig.view.Logged("Stopped before the first window (Stop Acquisition was pressed)"));

    // A folder holding a recorded window stays.
    rig.clock.AdvanceMicros(kMinuteUs);
    ASSERT_EQ(rig.Start("one window"), StartOutcome::Started);
    rig.RunWindows(1);
    rig.engine.Stop();
    EXPECT_TRUE(fs::exists(rig.Folder() / kCountsFileName));
}

TEST(PauseStop, EventsLogTellsWhatHappenedDuringTheRun) {
    AcquisitionRig rig;
    ASSERT_EQ(rig.Start("story"), StartOutcome::Started);
    rig.RunWindows(1);
    rig.Pause(MsgResult::Yes);
    rig.clock.AdvanceMicros(kMinuteUs);
    rig.engine.TogglePause();
    rig.instrument.Unplug();
    rig.RunTicks(20, [&] { return !rig.view.alarm.empty(); });
    rig.instrument.Replug();
    rig.RunTicks(5, [&] { return rig.view.alarm.empty(); });
    rig.RunWindows(1);  // the window of the silence: seconds of it without readings
    rig.file_ops.fail = true;
    rig.RunWindows(1);
    rig.file_ops.fail = false;
    rig.RunWindows(1);
    rig.engine.Stop();

    const std::string log = ReadFile(rig.Folder() / kEventLogFileName);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < log.size();) {
        const std::size_t end = log.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
        lines.push_back(log.substr(at, end - at));
        at = end + 2;
    }
    // The panel shows the same lines as the file, and that the disk was full meanwhile: the
    // lines written while it was full reach the file once it has room again.
    std::vector<std::string> panel;
    for (const auto& e : rig.view.events) {
        if (e.find("events.log could not be written: ") == std::string::npos) panel.push_back(e);
    }
    EXPECT_EQ(panel.size() + 1, rig.view.events.size());
    EXPECT_EQ(lines, panel);
    const char* const expected[] = {
        "Time zone: UTC+00:00 (UTC)",
        "Recording \"story\" started: project 1_Rig, instrument LMVO00123 on COM1; lapse 30 min, "
        "plate w96f, RT_Buffer 500, method 1, SNR 1.8, raw signals saved, body bends off, "
        "automatic calibration off, auto zero off, temperature set point 20.0 C (control off), "
        "light cycle off; description: plate A, 20 C",
        "Sampling started",
        "Light off (at the start)",
        "Paused, time counter stopped, at 00:00:3",
        "Resumed after a pause of 00:01:00 [0d] (not counted in the lapse)",
        "ALARM: NO VALID DATA from the instrument for ",
        "Alarm ended: the instrument answers again after ",
        "Windows not recorded: 1 (minutes 0 to 1): too little time with valid readings (8 s of "
        "42 s without an answer from the instrument)",
        "RECORDING ERROR: window 3 could not be recorded: ",
        "Recording goes on: window 4 was written (2 windows recorded, 1 window could not be "
        "recorded, 1 window not recorded for lack of readings)",
        "Acquisition stopped (Stop Acquisition was pressed): 2 windows recorded, 1 window could "
        "not be recorded, 1 window not recorded for lack of readings in 20260314_0930",
        "Quick report written: ",
    };
    ASSERT_EQ(lines.size(), std::size(expected));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // "yyyy-mm-dd hh:mm:ss  " and the event.
        EXPECT_EQ(lines[i].rfind("2026-03-14 09:", 0), 0u) << lines[i];
        EXPECT_EQ(lines[i].substr(21, std::string(expected[i]).size()), expected[i]) << lines[i];
    }
}

TEST(PauseStop, ReadBlankRunsOnTheSamplingTimerAndStopEndsIt) {
    AcquisitionRig rig;
    rig.app.project.ChannelThreshold.fill(5.0);
    ASSERT_TRUE(rig.engine.ReadBlank(4));
    EXPECT_TRUE(rig.engine.BlankActive());
    EXPECT_TRUE(rig.engine.SamplingOn());
    EXPECT_TRUE(rig.view.calibrating_shown);
    EXPECT_EQ(rig.view.calibrating_text, "Setting Blank.... (4 samples)");
    // While it runs: Stop is there, Setup, Offline, Start and the connection are not.
    RunCommands blank;
    blank.start = false;
    blank.stop = true;
    blank.setup = false;
    blank.offline = false;
    blank.connection = false;
    EXPECT_EQ(rig.view.controls, blank);
    // Its folder holds the project's files, as an acquisition's does.
    EXPECT_TRUE(fs::exists(rig.app.project.ProjectFolder / "20260314_0930" / "setup.dat"));

    // It samples on the acquisition's timer and ends after its count plus one ticks.
    EXPECT_EQ(rig.RunTicks(100), 5);
    EXPECT_FALSE(rig.engine.BlankActive());
    EXPECT_FALSE(rig.engine.SamplingOn());
    EXPECT_FALSE(rig.view.calibrating_shown);
    EXPECT_EQ(rig.view.statuses.back(), "Setting (383) OK...");
    EXPECT_EQ(rig.view.controls, RunCommands{});  // Setup and Offline are back
    std::size_t c = 0;
    while (rig.app.plate.ChannelWell[c] < 0) ++c;  // the first channel in use
    EXPECT_NE(rig.app.project.ChannelThreshold[c], 5.0);

    // Stopped half-way it keeps the zero levels it found, and the controls come back.
    rig.app.project.ChannelThreshold.fill(5.0);
    ASSERT_TRUE(rig.engine.ReadBlank(50));
    rig.RunTicks(10);
    rig.engine.Stop();
    EXPECT_FALSE(rig.engine.BlankActive());
    EXPECT_FALSE(rig.engine.SamplingOn());
    EXPECT_EQ(rig.app.project.ChannelThreshold[c], 5.0);
    EXPECT_EQ(rig.view.statuses.back(), kBlankStoppedStatus);
    EXPECT_EQ(rig.view.controls, RunCommands{});

    // Refused while an acquisition runs: its reads would interleave with the run's.
    ASSERT_EQ(rig.Start("running"), StartOutcome::Started);
    EXPECT_FALSE(rig.engine.ReadBlank(4));
    EXPECT_EQ(rig.dialogs.Messages().back(), kBlankDuringRunRefusal);
    EXPECT_FALSE(rig.engine.BlankActive());
    // And without an instrument.
    rig.engine.Stop();
    rig.app.connection.InstrumentConnected = false;
    EXPECT_FALSE(rig.engine.ReadBlank(4));
    EXPECT_EQ(rig.dialogs.Messages().back(), kOfflineRefusalMessage);
}

}  // namespace
}  // namespace lumivo::testing
