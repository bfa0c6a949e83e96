// Starting an acquisition: the name prompt, the refusals, the disk check, the acquisition
// folder and what a monitor run leaves (nothing).
#include <gtest/gtest.h>

#include <functional>

#include "acquisition_rig.h"
#include "core/control/channel_calibration.h"
#include "core/storage/acquisition_register.h"

namespace lumivo::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Subfolders(const fs::path& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) {
        if (e.is_directory()) out.push_back(e.path().filename().string());
    }
    return out;
}

constexpr std::uint64_t kMegabyte = 1024 * 1024;

TEST(AcquisitionStart, PromptNamesTheCalibrationStateAndTheMonitorMode) {
    const std::string stars(49, '*');
    const std::string head = stars + "\r\n***   Enter a Name for this Experiment  ***\r\n" + stars +
                             "\r\nComments:\r\n~~~~~~~\r\n";
    const std::string tail =
        "\r\n> To go into Monitor_mode (no calculation/recording) keep experiment name empty.";
    EXPECT_EQ(StartPromptText(true, true),
              head + "> Auto Calibration is ON: Use experimental Microplate Directly." + tail);
    for (auto [cal, zero] : {std::pair{true, false}, {false, true}, {false, false}}) {
        EXPECT_EQ(StartPromptText(cal, zero),
                  head + "> Auto Calibration is OFF: Remember to read Blank." + tail);
    }
}

TEST(AcquisitionStart, DiskCheckWarnsOnShortSpaceAndLargeRuns) {
    struct Case {
        int lapse;
        std::int64_t free_mb;
        std::int64_t required;
        bool warn, low, not_enough;
    };
    const Case cases[] = {
        {250, 1100, 100, false, false, false},  // spare exactly 1000: no warning
        {250, 1099, 100, true, true, false},
        {250, 299, 100, true, true, true},
        {250, 300, 100, true, true, false},        // spare exactly 200: low only
        {2600, 100000, 1040, true, false, false},  // over 1000 MB needed
        {250, -1, 100, true, true, true},          // the free space could not be read
        {3, 1, 2, true, true, true},               // a short run on a nearly full disk
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.lapse) + " min, " + std::to_string(k.free_mb) + " MB");
        const DiskCheck d = CheckDiskSpace(k.lapse, k.required, k.free_mb);
        EXPECT_EQ(d.required_mb, k.required);
        std::string message = "Programmed Acquisition lapse = " + std::to_string(k.lapse) +
                              "minutes & RealTime_recording=YES\r\nRequired Disk space for "
                              "RealTime Saving = " +
                              std::to_string(k.required) +
                              "MB\r\nCurrent Disk Space=" + std::to_string(k.free_mb) + "MB\r\n";
        if (k.low) message += "LOW DISK SPACE\r\n";
        if (k.not_enough) {
            message +=
                "NOT ENOUGH DISK SPACE\r\n (Please, Increase Disk Space Availablility or "
                "Deselect Realtime recording)";
        }
        EXPECT_EQ(d.message, message);
        EXPECT_EQ(d.warning, k.warn ? "WARNING:\r\n" + message + "\r\nPROCEED?" : "");
    }
}

TEST(AcquisitionStart, RequiredSpaceFollowsTheRecordsAWindowWrites) {
    // A 500-row window writes a 774-byte counts record, a 385,770-byte raw page record and, in
    // body-bends mode, a 78,556-byte histogram record. Its ticks take at least the line time of
    // four (two) block exchanges, 68.4 ms (34.2 ms): 34.2 s (17.1 s) per window.
    EXPECT_NEAR(RecordedBytesPerMinute(500, false, true), (774.0 + 385770.0) * 60.0 / 34.2, 500.0);
    EXPECT_NEAR(RecordedBytesPerMinute(500, true, true), (774.0 + 385770.0 + 78556.0) * 60.0 / 17.1,
                1000.0);
    EXPECT_NEAR(RecordedBytesPerMinute(500, false, false), 774.0 * 60.0 / 34.2, 1.0);
    struct Case {
        int lapse;
        std::size_t rt_buffer;
        bool body_bends, save_real;
        std::int64_t mb;
    };
    const Case cases[] = {
        {3, 500, false, true, 2},      // 1.94 MB: the full-disk run of a 3-minute lapse
        {250, 500, false, true, 162},  // was 100 by lapse x 0.4
        {250, 500, true, true, 390},   {250, 500, false, false, 1},
        {250, 2000, false, true, 162},  // longer windows, proportionally larger pages
        {0, 500, false, true, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RequiredDiskMegabytes(c.lapse, c.rt_buffer, c.body_bends, c.save_real), c.mb)
            << c.lapse << " min, RT_Buffer " << c.rt_buffer << (c.body_bends ? ", bends" : "");
    }
}

TEST(AcquisitionStart, DiskCheckRunsFromThirtyOneMinutesWithRealTimeSaving) {
    struct Case {
        const char* what;
        int lapse;
        int save_real;
        bool autorun;
        std::optional<MsgResult> answer;  // the question is asked when set
        StartOutcome outcome;
    };
    const Case cases[] = {
        {"30 minutes: no check", 30, 1, false, std::nullopt, StartOutcome::Started},
        {"31 minutes, No", 31, 1, false, MsgResult::No, StartOutcome::Refused},
        {"31 minutes, Yes", 31, 1, false, MsgResult::Yes, StartOutcome::Started},
        {"no real-time saving", 500, 0, false, std::nullopt, StartOutcome::Started},
        {"autorun", 500, 1, true, std::nullopt, StartOutcome::Started},
        {"3 minutes on a 1 MB disk, No", 3, 1, false, MsgResult::No, StartOutcome::Refused},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        AcquisitionRig rig;
        rig.files.free_bytes = 100 * kMegabyte;  // short for any run
        if (k.lapse == 3) rig.files.free_bytes = kMegabyte + kMegabyte / 3;
        rig.app.project.Setup.Aq_lapse = static_cast<std::int16_t>(k.lapse);
        rig.app.project.Setup.Save_real = static_cast<std::int16_t>(k.save_real);
        if (k.answer) rig.dialogs.QueueAnswer(*k.answer);
        StartOptions o;
        o.autorun = k.autorun;
        if (!k.autorun) o.name = "disk";
        EXPECT_EQ(rig.engine.StartAcquisition(o), k.outcome);
        EXPECT_TRUE(rig.dialogs.AllAnswersUsed());
        const bool asked = !rig.dialogs.shown().empty() &&
                           rig.dialogs.shown().front().text.rfind("WARNING:\r\n", 0) == 0;
        EXPECT_EQ(asked, k.answer.has_value());
        // Unattended, nobody can answer: the warning goes into events.log.
        EXPECT_EQ(rig.view.Logged("WARNING: Programmed Acquisition lapse = 500minutes"), k.autorun);
        if (k.outcome == StartOutcome::Refused) {
            EXPECT_EQ(rig.view.setup_opened, 1);
            EXPECT_TRUE(Subfolders(rig.app.project.ProjectFolder).empty());
            EXPECT_FALSE(rig.engine.Running());
        } else {
            EXPECT_EQ(Subfolders(rig.app.project.ProjectFolder).size(), 1u);
        }
    }
}

TEST(AcquisitionStart, RefusalsLeaveNothingBehind) {
    struct Case {
        const char* what;
        std::int16_t project;
        bool offline;
        int lapse;
        std::string message_start;
        int setup_opened;
        bool connected = true;
    };
    const Case cases[] = {
        {"project 0", 0, false, 30, kProjectZeroRefusal, 1},
        {"offline", 1, true, 30, kOfflineAcquisitionRefusal, 0},
        {"lapse past the minute field", 1, false, 32767, "An acquisition of 32767 minutes", 0},
        // A lapse that never went through the setup's checks (set in memory, or a file
        // edited by hand) is refused all the same.
        {"lapse of 1 minute", 1, false, 1, "The acquisition lapse (1 min) is too short", 0},
        // After "Disconnect" the port is closed: nothing may be written into it.
        {"disconnected", 1, false, 30, kOfflineAcquisitionRefusal, 0, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        AcquisitionRig rig;
        rig.app.config.Actual_Project_Number = k.project;
        rig.app.connection.OfflineMode = k.offline;
        rig.app.connection.InstrumentConnected = k.connected;
        rig.app.project.Setup.Aq_lapse = static_cast<std::int16_t>(k.lapse);
        rig.app.project.Setup.Save_real = 0;
        EXPECT_EQ(rig.Start("refused"), StartOutcome::Refused);
        ASSERT_EQ(rig.dialogs.Messages().size(), 1u);
        EXPECT_EQ(rig.dialogs.Messages()[0].rfind(k.message_start, 0), 0u)
            << rig.dialogs.Messages()[0];
        EXPECT_EQ(rig.view.setup_opened, k.setup_opened);
        EXPECT_TRUE(Subfolders(rig.app.project.ProjectFolder).empty());
        EXPECT_FALSE(rig.engine.Running());
        EXPECT_FALSE(rig.engine.SamplingOn());
        EXPECT_FALSE(rig.engine.State().RecordingOn);
    }
}

TEST(AcquisitionStart, NamePromptAnswers) {
    struct Case {
        const char* what;
        std::vector<std::optional<std::string>> inputs;
        std::optional<MsgResult> empty_answer;
        std::string name;
        bool second_prompt;
    };
    const Case cases[] = {
        {"a name", {"Larvae 7"}, std::nullopt, "Larvae 7", false},
        {"empty, OK: monitor run", {""}, MsgResult::Ok, "", false},
        {"cancelled, OK: monitor run", {std::nullopt}, MsgResult::Ok, "", false},
        {"empty, Cancel, a name", {"", "second try"}, MsgResult::Cancel, "second try", true},
        {"empty, Cancel, empty", {"", ""}, MsgResult::Cancel, "", true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        AcquisitionRig rig;
        for (const auto& in : k.inputs) rig.dialogs.QueueInput(in);
        if (k.empty_answer) rig.dialogs.QueueAnswer(*k.empty_answer);
        EXPECT_EQ(rig.engine.StartAcquisition({}), StartOutcome::Started);
        EXPECT_TRUE(rig.dialogs.AllAnswersUsed());
        const auto& shown = rig.dialogs.shown();
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown[0].kind, ScriptedDialogs::Shown::Input);
        EXPECT_EQ(shown[0].title, kStartTitle);
        EXPECT_EQ(shown[0].text, StartPromptText(false, false));
        EXPECT_EQ(rig.dialogs.Showed(kEmptyNameWarning), k.empty_answer.has_value());
        EXPECT_EQ(rig.dialogs.Showed(kSecondNamePrompt), k.second_prompt);
        EXPECT_EQ(rig.engine.State().ExperimentName, k.name);
        EXPECT_EQ(rig.view.experiment_name, k.name);
        EXPECT_EQ(rig.engine.State().RecordingOn, !k.name.empty());
        EXPECT_EQ(Subfolders(rig.app.project.ProjectFolder).size(), k.name.empty() ? 0u : 1u);
    }
}

TEST(AcquisitionStart, AutorunNamesTheRunWithoutAsking) {
    AcquisitionRig rig;
    StartOptions o;
    o.autorun = true;
    ASSERT_EQ(rig.engine.StartAcquisition(o), StartOutcome::Started);
    EXPECT_TRUE(rig.dialogs.shown().empty());
    EXPECT_EQ(rig.engine.State().ExperimentName, kAutorunName);
    EXPECT_EQ(ReadAcquisitionTitle(rig.storage, rig.Folder()), kAutorunName);
}

TEST(AcquisitionStart, RecordedRunGetsItsFolderWithTheProjectAndTheRegister) {
    AcquisitionRig rig;
    rig.view.description = "say \"hello\", twice";
    ASSERT_EQ(rig.Start("Zebrafish, \"dark\" phase"), StartOutcome::Started);
    EXPECT_EQ(rig.engine.State().AcquisitionFolderName, "20260314_0930");
    EXPECT_EQ(rig.Folder(), rig.app.project.ProjectFolder / "20260314_0930");
    for (const char* f :
         {"setup.dat", "status.dat", "threshld.dat", "groups.dat", "chgroup.dat", "subproj.dat"}) {
        EXPECT_TRUE(fs::is_regular_file(rig.Folder() / f)) << f;
    }
    const auto reg = ReadAcquisitionRegister(rig.storage, rig.Folder());
    ASSERT_TRUE(reg.has_value());
    EXPECT_EQ(reg->name, "Zebrafish, \"dark\" phase");
    EXPECT_EQ(reg->description, "say \"hello\", twice");
    // The project folder itself is unchanged.
    EXPECT_EQ(rig.app.project.ProjectFolder, ProjectFolderFor(rig.temp.path(), 1));

    // Running: the buttons are locked, the timer runs at its 30 ms interval.
    EXPECT_TRUE(rig.engine.SamplingOn());
    EXPECT_EQ(rig.engine.State().AcquisitionRunning, RunState::Running);
    RunCommands running;
    running.start = false;
    running.pause = true;
    running.stop = true;
    running.setup = false;
    running.offline = false;
    running.organism = false;
    running.snr_threshold = false;
    running.body_bends = false;
    running.connection = false;  // Connect, Disconnect and the port menu: not during a run
    EXPECT_EQ(rig.view.controls, running);
    EXPECT_EQ(rig.view.temperature.rfind("T = 2", 0), 0u) << rig.view.temperature;
}

TEST(AcquisitionStart, ASecondStartInTheSameMinuteNeverTouchesTheFirstRun) {
    AcquisitionRig rig;
    ASSERT_EQ(rig.Start("first"), StartOutcome::Started);
    rig.RunWindows(1);
    rig.engine.Stop();
    const fs::path first = rig.Folder();
    const std::string counts = ReadFile(first / kCountsFileName);
    const std::string page = ReadFile(first / "0.bin");
    ASSERT_EQ(counts.size(), kCountsRecordSize);

    EXPECT_EQ(rig.Start("second"), StartOutcome::Refused);
    ASSERT_FALSE(rig.dialogs.Messages().empty());
    EXPECT_NE(rig.dialogs.Messages().back().find("20260314_0930"), std::string::npos);
    EXPECT_EQ(ReadFile(first / kCountsFileName), counts);
    EXPECT_EQ(ReadFile(first / "0.bin"), page);
    EXPECT_EQ(ReadAcquisitionTitle(rig.storage, first), "first");

    // In the next minute the start goes ahead in a folder of its own.
    rig.clock.AdvanceMs(60'000);
    ASSERT_EQ(rig.Start("second"), StartOutcome::Started);
    EXPECT_NE(rig.Folder(), first);
    rig.RunWindows(1);
    EXPECT_EQ(ReadFile(first / kCountsFileName), counts);
    EXPECT_EQ(rig.FileSize(kCountsFileName), kCountsRecordSize);
}

TEST(AcquisitionStart, AFolderLeftByAReadBlankIsReused) {
    AcquisitionRig rig;
    const fs::path blank = rig.app.project.ProjectFolder / "20260314_0930";
    fs::create_directories(blank);
    std::ofstream(blank / "setup.dat") << "blank\r\n";
    ASSERT_EQ(rig.Start("after blank"), StartOutcome::Started);
    EXPECT_EQ(rig.Folder(), blank);
}

TEST(AcquisitionStart, MonitorRunSamplesButCreatesNothing) {
    AcquisitionRig rig;
    rig.app.project.Setup.Aq_lapse = 2;
    rig.dialogs.QueueInput("");
    rig.dialogs.QueueAnswer(MsgResult::Ok);
    ASSERT_EQ(rig.engine.StartAcquisition({}), StartOutcome::Started);
    EXPECT_FALSE(rig.engine.State().RecordingOn);
    EXPECT_TRUE(rig.engine.SamplingOn());
    const std::uint64_t frames = rig.instrument.Stats().frames;
    rig.RunTicks(5000);
    EXPECT_GT(rig.instrument.Stats().frames, frames + 4000);  // sampled all along
    EXPECT_EQ(rig.engine.Sampling().windows_closed, 4);
    EXPECT_FALSE(rig.engine.Running());
    EXPECT_TRUE(rig.engine.State().finished_at_lapse);
    // Nothing in the project folder: no acquisition folder, no data, no summary.
    EXPECT_TRUE(fs::is_empty(rig.app.project.ProjectFolder));
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        EXPECT_EQ(rig.engine.Sampling().ChannelTotals[c], 0);
    }
    EXPECT_TRUE(rig.view.opened_files.empty());
}

TEST(AcquisitionStart, CalibrationAndZeroRunAtTheStartOfARecordedRun) {
    // An empty plate: no animal dips the beams while they are calibrated and zeroed.
    AcquisitionRig rig(AlternatingWells("w96f", 0.0));
    rig.controls.AutoCalibrateOnStart = true;
    rig.controls.AutoZeroOnStart = true;
    rig.controls.snr_text = "1.2";  // below 1.3: the start uses 1.8
    rig.app.project.ChannelThreshold.fill(50.0);
    ASSERT_EQ(rig.Start("calibrated"), StartOutcome::Started);
    EXPECT_DOUBLE_EQ(rig.controls.SnrThreshold, 1.8);
    EXPECT_TRUE(fs::is_regular_file(rig.temp.path() / "calvalue.dat"));
    // Every beam in use now reads inside the calibration window.
    std::array<std::uint16_t, kChannelTableSize> row{};
    ReadFullSample(rig.link, row);
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        if (rig.app.plate.ChannelWell[c] < 0) continue;
        EXPECT_GE(row[c], CalibrationWindowLow - 60) << c;
        EXPECT_LE(row[c], CalibrationWindowHigh + 60) << c;
        EXPECT_LT(rig.app.project.ChannelThreshold[c], 50.0) << c;
    }
    EXPECT_EQ(rig.view.title, kAutoCalibrationTitle);
    EXPECT_FALSE(rig.view.frame_shown);
    EXPECT_TRUE(rig.engine.SamplingOn());
}

TEST(AcquisitionStart, StopDuringTheStartCalibrationLeavesTheRunStopped) {
    AcquisitionRig rig;
    rig.controls.AutoCalibrateOnStart = true;
    rig.controls.AutoZeroOnStart = true;
    // The user presses Stop while the calibration lets window events run.
    rig.dialogs.on_events = [&](int pass) {
        if (pass == 40) rig.engine.Stop();
    };
    EXPECT_EQ(rig.Start("stopped early"), StartOutcome::Stopped);
    EXPECT_FALSE(rig.engine.Running());
    EXPECT_FALSE(rig.engine.SamplingOn());
    EXPECT_TRUE(rig.view.controls.start);
    // Stopped before its first window: its folder, which holds no data, is gone.
    EXPECT_FALSE(rig.Folder().empty());
    EXPECT_FALSE(fs::exists(rig.Folder()));
}

TEST(AcquisitionStart, AFailedStartCalibrationOrZeroRecordsNothing) {
    // A channel register that garbles every write ends the calibration with "Communication
    // error..."; an instrument that stops answering ends the zero. Either way the run must not
    // go on recording with settings or zero levels nobody measured.
    struct Case {
        const char* what;
        bool calibrate;
        std::function<void(sim::Instrument&)> fault;
        std::string reason;
    };
    const Case cases[] = {
        {"calibration write error", true,
         [](sim::Instrument& i) { i.Faults().bad_echo_channels = {5}; },
         "the calibration at the start failed (a channel write failed)"},
        {"silent instrument at the zero", false, [](sim::Instrument& i) { i.Unplug(); },
         "the zero at the start failed (the instrument did not answer)"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        AcquisitionRig rig;
        rig.controls.AutoCalibrateOnStart = k.calibrate;
        rig.controls.AutoZeroOnStart = !k.calibrate;
        rig.app.project.ChannelThreshold.fill(7.0);
        k.fault(rig.instrument);
        EXPECT_EQ(rig.Start("faulty start"), StartOutcome::Failed);
        EXPECT_FALSE(rig.engine.Running());
        EXPECT_FALSE(rig.engine.SamplingOn());
        EXPECT_TRUE(rig.view.controls.start);
        EXPECT_TRUE(rig.view.controls.setup);
        const std::string told =
            "The acquisition did not start: " + k.reason + ". Nothing was recorded.";
        EXPECT_EQ(rig.dialogs.Messages().back(), told);
        EXPECT_EQ(rig.view.status_line, told);
        // The folder it created holds no data and is removed; the zero levels are untouched.
        EXPECT_TRUE(Subfolders(rig.app.project.ProjectFolder).empty());
        EXPECT_EQ(rig.app.project.ChannelThreshold[0], 7.0);
    }
}

}  // namespace
}  // namespace lumivo::testing
