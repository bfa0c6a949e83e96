// The start of an acquisition (CmdPlay), the pause and the stop, and the texts they show.
#include <algorithm>
#include <cstdio>
#include <string>

#include "core/acquisition/acquisition_engine.h"
#include "core/acquisition/data_files.h"
#include "core/analysis/rounding.h"
#include "core/control/auto_zero.h"
#include "core/control/channel_calibration.h"
#include "core/control/control_fields.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/field_record.h"

namespace lumivo {
namespace {

constexpr const char* kCrLf = "\r\n";
constexpr int kEventPasses = 10;
constexpr int kStopFlushPauseMs = 5;
// Lowest signal-to-noise factor a calibrated start accepts (a lower one becomes 1.8).
constexpr double kStartSnrFloor = 1.3;
// Bytes one block exchange puts on the line: the 5-byte request and the 192-byte reply, at
// 10 bits per byte and 115200 baud.
constexpr double kBlockWireSeconds = (5.0 + 192.0) * 10.0 / 115200.0;

std::size_t RunRtBuffer(const ProjectSetup& setup) {
    return static_cast<std::size_t>(
        std::clamp<std::int16_t>(setup.RT_Buffer, kMinRtBuffer, kMaxRtBuffer));
}

// The longest a window may plausibly last, for the check of the lapse against what the
// minute field can hold: twice the line time of its ticks (warm-up reads and slow lines
// included), and never less than the timer's interval per tick.
double LongestWindowMinutes(std::size_t rt_buffer, bool body_bends) {
    const double tick =
        std::max(kTimeradqIntervalMs / 1000.0, (body_bends ? 2.0 : 4.0) * kBlockWireSeconds);
    return 2.0 * static_cast<double>(rt_buffer) * tick / 60.0;
}

// A folder that already holds a recorded run (its register or any of its data).
bool FolderHoldsRun(FileSystem& files, const std::filesystem::path& folder) {
    if (!files.IsFolder(folder)) return false;
    return files.IsFile(folder / kRegisterFileName) || files.IsFile(folder / kCountsFileName) ||
           files.IsFile(folder / RawPageFileName(0)) || files.IsFile(folder / HistogramFileName(0));
}

std::string SameMinuteRefusal(const std::string& folder_name) {
    return "An acquisition of this project was already started in this minute (folder " +
           folder_name +
           "). Its data is kept: wait for the next minute and start the new acquisition "
           "then.";
}

}  // namespace

std::string StartPromptText(bool auto_calibrate_on_start, bool auto_zero_on_start) {
    const std::string stars(49, '*');
    std::string text = stars + kCrLf + "***   Enter a Name for this Experiment  ***" + kCrLf +
                       stars + kCrLf + "Comments:" + kCrLf + "~~~~~~~" + kCrLf;
    if (auto_calibrate_on_start && auto_zero_on_start) {
        text += "> Auto Calibration is ON: Use experimental Microplate Direclty.";
    } else {
        text += "> Auto Calibration is OFF: Remember to read Blank.";
    }
    text += kCrLf;
    text += "> To go into Monitor_mode (no calculation/recording) keep experiment name empty.";
    return text;
}

DiskCheck CheckDiskSpace(int lapse_minutes, std::int64_t free_mb) {
    DiskCheck d;
    d.required_mb = static_cast<std::int64_t>(RoundHalfEven(lapse_minutes * 4.0 / 10.0));
    d.message = "Programmed Acquisition lapse = " + std::to_string(lapse_minutes) +
                "minutes & RealTime_recording=YES" + kCrLf +
                "Required Disk space for RealTime Saving = " + std::to_string(d.required_mb) +
                "MB" + kCrLf + "Current Disk Space=" + std::to_string(free_mb) + "MB" + kCrLf;
    bool warn = d.required_mb > 1000;
    const std::int64_t spare = free_mb - d.required_mb;
    if (spare < 1000) {
        d.message += std::string("LOW DISK SPACE") + kCrLf;
        warn = true;
    }
    if (spare < 200) {
        d.message += std::string("NOT ENOUGH DISK SPACE") + kCrLf +
                     " (Please, Increase Disk Space Availablility or Deselect Realtime "
                     "recording)";
        warn = true;
    }
    if (warn) d.warning = std::string("WARNING:") + kCrLf + d.message + kCrLf + "PROCEED?";
    return d;
}

std::string ElapsedTimeText(std::int64_t elapsed_us) {
    const std::int64_t s = std::max<std::int64_t>(elapsed_us, 0) / 1'000'000;
    const std::int64_t days = s / 86400;
    const std::int64_t rest = s % 86400;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld [%lldd]",
                  static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                  static_cast<long long>(rest % 60), static_cast<long long>(days));
    return buf;
}

std::string TemperatureLabel(double celsius) {
    return "T = " + FormatOneDecimal(celsius) + " \xC2\xB0" + "C";
}

AcquisitionEngine::AcquisitionEngine(AcquisitionContext ctx) : ctx_(ctx) {
    sampling.SampleMatrix.assign(kChannelTableSize * (sampling.rt_buffer + 1), 0);
    sampling.BendHistogram.assign(kHistogramCellCount, 0);
}

bool AcquisitionEngine::Online() const {
    return ctx_.app.connection.OfflineMode == 0;
}

void AcquisitionEngine::SetTimer(bool enabled) {
    state.timer_enabled = enabled;
    ctx_.view.SetSamplingTimer(enabled);
}

void AcquisitionEngine::ShowControls(bool running) {
    AcquisitionControls c;
    c.CmdPlay = !running;
    c.CmdPause = running;
    c.CmdStop = running;
    c.Cmdsetup = !running;
    c.Cmdoffline = !running;
    c.Cmb_organism = !running;
    c.txt_snr_umbral = !running;
    // The body-bends choice is locked only once sampling starts.
    c.chk_bodybends = !running || !state.timer_enabled;
    ctx_.view.SetControls(c);
}

RunControl AcquisitionEngine::MakeRunControl() {
    RunControl run;
    run.offline = !Online();
    run.keep_going = [this] { return state.AcquisitionRunning != 0; };
    run.stop_acquisition = [this] { CmdStop_Click(); };
    run.reset_sample_row = [this] { sampling.SampleRow = 0; };
    return run;
}

void AcquisitionEngine::ResetWindowCounters() {
    SamplingState& s = sampling;
    s.SampleRow = 0;
    s.TickCount = 0;
    s.RawFileIndex = 0;
    s.WindowSubCounter = 0;
    s.SamplePeriod = 0.0;
    s.AccumulatedSampleTime = 0.0;
    s.HistogramRecords = 0;
    s.ElapsedMinutes = 0;
    s.ElapsedMinutesExact = 0.0;
    s.BodyBendsBlockStart = 0;
}

void AcquisitionEngine::ResetChannelState() {
    SamplingState& s = sampling;
    s.rt_buffer = RunRtBuffer(ctx_.app.project.Setup);
    s.SampleMatrix.assign(kChannelTableSize * (s.rt_buffer + 1), 0);
    s.ChannelCounts.fill(0);
    s.ChannelTotals.fill(0);
    s.BendHistogram.assign(kHistogramCellCount, 0);
    s.BendHistogramPeak.fill(0);
    s.envelopes.fill(EnvelopeAccumulator{});
    s.windows_closed = 0;
    s.windows_recorded = 0;
    s.window_write_failures = 0;
    s.last_write_error.clear();
    s.last_tick_error.clear();
    s.failed_reads = 0;
    s.silent_since = 0;
    s.link_silent = false;
    s.silence_alarm = false;
    s.ticks = 0;
    s.longest_tick_us = 0;
    s.longest_close_us = 0;
    ctx_.view.ShowAlarm("");
}

bool AcquisitionEngine::PrepareRecording(const StartOptions& options) {
    Dialogs& dialogs = ctx_.link.dialogs;
    ProjectState& project = ctx_.app.project;
    const ProjectSetup& setup = project.Setup;

    // ElapsedMinutes must fit its field until the last window closes.
    const double window_minutes = LongestWindowMinutes(RunRtBuffer(setup), options.body_bends);
    if (auto refusal = CheckRecordingLapse(setup.Aq_lapse, window_minutes)) {
        dialogs.MessageBox(*refusal);
        return false;
    }

    if (setup.Save_real == 1 && setup.Aq_lapse >= kDiskCheckMinLapse && !options.autorun) {
        const std::int64_t free = FreeDiskMegabytes(ctx_.storage, project.ProjectFolder);
        const DiskCheck d = CheckDiskSpace(setup.Aq_lapse, free);
        if (!d.warning.empty() &&
            dialogs.MessageBox(d.warning, MsgButtons::YesNo) != MsgResult::Yes) {
            ctx_.view.OpenSetupWindow();
            return false;
        }
    }

    const LocalDateTime now = ctx_.link.clock.Now();
    const std::string folder_name = AcquisitionFolderName(now);
    const std::filesystem::path folder = project.ProjectFolder / folder_name;
    // A second start in the same minute would get the same folder and append to the first
    // run's counts and raw pages.
    if (FolderHoldsRun(ctx_.storage.files, folder)) {
        dialogs.MessageBox(SameMinuteRefusal(folder_name));
        return false;
    }
    try {
        CreateAcquisitionFolder(ctx_.storage, ctx_.app.config.Actual_Project_Number, project, now,
                                state.ExperimentName, ctx_.view.Description());
    } catch (const StorageError& e) {
        dialogs.MessageBox(std::string("The acquisition folder could not be written: ") + e.what() +
                           kCrLf + "The acquisition was not started.");
        return false;
    }
    state.RecordingOn = -1;
    state.AcquisitionFolderName = folder_name;
    state.AcquisitionFolder = folder;
    return true;
}

void AcquisitionEngine::CalibrateAtStart(bool calibrate) {
    AcquisitionView& view = ctx_.view;
    CalibrationControls& controls = ctx_.calibration;
    view.ShowFrame(true);
    view.SetTitle(kAutoCalibrationTitle);
    view.ScaleProgress(kChannelCount - 1, 10.0);
    view.ClearProgress();
    controls.SnrThreshold = SnrFromText(controls.snr_text, kStartSnrFloor);
    ControlContext cc{ctx_.link, ctx_.storage, view, MakeRunControl()};
    if (calibrate) {
        std::array<std::uint16_t, kChannelTableSize> readings{};
        CalibrateChannels(cc, ctx_.cal, ctx_.app.plate.ChannelWell, readings);
    } else {
        CalculateAutoZero(
            cc, {controls.SnrThreshold, controls.AutoCalibrateOnStart, controls.AutoZeroOnStart},
            ctx_.app.project.ChannelThreshold);
    }
    view.ShowFrame(false);
}

StartOutcome AcquisitionEngine::StartAcquisition(const StartOptions& options) {
    if (state.AcquisitionRunning != 0 || in_start_) return StartOutcome::Refused;
    in_start_ = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{in_start_};

    Dialogs& dialogs = ctx_.link.dialogs;
    AcquisitionView& view = ctx_.view;
    CalibrationControls& controls = ctx_.calibration;

    view.StopSelfTest();
    state.ExperimentName.clear();
    std::string name;
    if (options.autorun) {
        name = kAutorunName;
    } else if (options.name) {
        name = *options.name;
    } else {
        const std::string prompt =
            StartPromptText(controls.AutoCalibrateOnStart, controls.AutoZeroOnStart);
        name = dialogs.InputBox(prompt, kStartTitle).value_or("");
        if (name.empty() &&
            dialogs.MessageBox(kEmptyNameWarning, MsgButtons::OkCancel) == MsgResult::Cancel) {
            name = dialogs.InputBox(kSecondNamePrompt, kStartTitle).value_or("");
        }
    }
    state.ExperimentName = name;
    view.ShowExperimentName(name);

    if (ctx_.app.config.Actual_Project_Number == 0) {
        dialogs.MessageBox(kProjectZeroRefusal);
        view.OpenSetupWindow();
        return StartOutcome::Refused;
    }
    if (!Online()) {
        dialogs.MessageBox(kOfflineAcquisitionRefusal);
        return StartOutcome::Refused;
    }

    for (int i = 0; i < kEventPasses; ++i) dialogs.ProcessEvents();
    CommFlush(ctx_.link.ports, ctx_.link.ComPortNumber);
    for (int i = 0; i < kEventPasses; ++i) dialogs.ProcessEvents();
    view.PrepareActivityView();

    state.RecordingOn = 0;
    state.AcquisitionFolderName.clear();
    state.AcquisitionFolder.clear();
    state.finished_at_lapse = false;
    state.quick_report.reset();
    if (!name.empty() && !PrepareRecording(options)) return StartOutcome::Refused;
    state.BodyBendsMode = options.body_bends ? 1 : 0;

    ResetWindowCounters();
    state.AcquisitionRunning = 1;
    state.TimeCounterStopped = 0;
    ShowControls(true);
    ResetChannelState();

    ClimateState& climate = ctx_.climate;
    climate.TemperatureSetPoint = climate.temperature_tenths / 10.0;
    ReadPlateTemperature(ctx_.link, climate);
    view.ShowTemperature(climate.temperature_known ? TemperatureLabel(climate.CurrentTemperature)
                                                   : kNoTemperatureLabel);
    if (StartLightSchedule(ctx_.link, climate, ctx_.link.clock.Now().hour)) {
        view.ShowOutputs(OutputCode(climate.outputs));
    }

    if (!name.empty() && Online() && controls.AutoCalibrateOnStart) CalibrateAtStart(true);
    if (!name.empty() && Online() && controls.AutoZeroOnStart && state.AcquisitionRunning != 0) {
        CalibrateAtStart(false);
    }
    if (state.AcquisitionRunning == 0) return StartOutcome::Stopped;

    view.ClearSignalView(sampling.rt_buffer);
    const std::int64_t now = ctx_.link.clock.MonotonicMicros();
    state.AcquisitionStartTime = now;
    state.LastTickTime = now;
    ResetWindowCounters();
    // Paused while calibrating: the pause begins with the run. A frozen counter leaves the
    // timer off until the resume.
    state.PauseBegan = now;
    state.PausedElapsed = 0;
    SetTimer(!(state.AcquisitionRunning == 2 && state.TimeCounterStopped == -1));
    ShowControls(true);
    return StartOutcome::Started;
}

void AcquisitionEngine::CmdPause_Click() {
    Clock& clock = ctx_.link.clock;
    AcquisitionView& view = ctx_.view;
    if (state.AcquisitionRunning == 1) {
        const MsgResult answer = ctx_.link.dialogs.MessageBox(kPauseQuestion, MsgButtons::YesNo);
        // Window events run while the question is open: the run may have ended meanwhile.
        if (state.AcquisitionRunning != 1) return;
        const std::int64_t now = clock.MonotonicMicros();
        state.PauseBegan = now;
        if (answer == MsgResult::Yes) {
            SetTimer(false);
            state.AcquisitionRunning = 2;
            state.PausedElapsed = now - state.AcquisitionStartTime;
            state.TimeCounterStopped = -1;
            view.SetStatus(kTimeCounterOff);
        } else {
            state.TimeCounterStopped = 0;
            state.AcquisitionRunning = 2;
            view.SetStatus(kTimeCounterOn);
        }
        view.ShowFrame(true);
        view.SetTitle(kPausedCaption);
    } else if (state.AcquisitionRunning == 2) {
        const std::int64_t now = clock.MonotonicMicros();
        if (state.TimeCounterStopped == -1) state.AcquisitionStartTime = now - state.PausedElapsed;
        // The window in progress did not sample during the pause: its reference time moves
        // on by the pause, so its SamplePeriod is the time spent sampling.
        state.LastTickTime += now - state.PauseBegan;
        sampling.TickCount = 0;
        state.AcquisitionRunning = 1;
        state.TimeCounterStopped = 0;
        SetTimer(true);
        view.ShowFrame(false);
    }
}

void AcquisitionEngine::CmdStop_Click() {
    if (in_stop_) return;
    in_stop_ = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{in_stop_};

    AcquisitionView& view = ctx_.view;
    Dialogs& dialogs = ctx_.link.dialogs;
    view.StopSelfTest();
    if (state.AcquisitionRunning == 1 || state.AcquisitionRunning == 2) {
        state.AcquisitionRunning = 0;
    }
    state.TimeCounterStopped = 0;
    SetTimer(false);
    view.ShowFrame(false);
    if (Online()) {
        SwitchOutputsOff(ctx_.link, ctx_.climate);
        view.ShowOutputs(OutputCode(ctx_.climate.outputs));
    }
    ShowControls(false);
    view.ShowTemperature(kNoTemperatureLabel);
    for (int i = 0; i < kEventPasses; ++i) dialogs.ProcessEvents();
    CommFlush(ctx_.link.ports, ctx_.link.ComPortNumber);
    ctx_.link.clock.SleepMs(kStopFlushPauseMs);
    for (int i = 0; i < kEventPasses; ++i) dialogs.ProcessEvents();
    view.ShowCalibrating(false);
    sampling.TickCount = 0;
}

}  // namespace lumivo
