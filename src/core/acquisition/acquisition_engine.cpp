// The engine's start of an acquisition, its pause and stop, the blank and the quick report.
#include "core/acquisition/acquisition_engine.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>

#include "core/acquisition/data_files.h"
#include "core/acquisition/event_log_reader.h"
#include "core/acquisition/quick_report.h"
#include "core/common/com_ports.h"
#include "core/common/rounding.h"
#include "core/control/auto_zero.h"
#include "core/control/channel_calibration.h"
#include "core/control/control_fields.h"
#include "core/device/connection.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/field_record.h"

namespace lumivo {
namespace {

constexpr const char* kCrLf = "\r\n";
constexpr int kEventPasses = 10;
constexpr int kStopFlushPauseMs = 5;
// Lowest signal-to-noise factor a calibrated start accepts (a lower one becomes 1.8).
constexpr double kStartSnrFloor = 1.3;

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

// What a run's folder holds besides its data: the project's files copied at the start, the
// register and the event log. A folder holding only these recorded nothing.
bool IsProjectCopyOrLog(const std::string& name) {
    static const char* const kNames[] = {"setup.dat",       "setup.bak",         "status.dat",
                                         "threshld.dat",    "groups.dat",        "chgroup.dat",
                                         kRegisterFileName, kRegisterBackupName, kEventLogFileName};
    for (const char* n : kNames) {
        if (name == n) return true;
    }
    return false;
}

std::string OnOff(bool on) {
    return on ? "on" : "off";
}

std::string SameMinuteRefusal(const std::string& folder_name) {
    return "An acquisition of this project was already started in this minute (folder " +
           folder_name +
           "). Its data is kept: wait for the next minute and start the new acquisition "
           "then.";
}

}  // namespace

AcquisitionEngine::AcquisitionEngine(AcquisitionContext ctx)
    : ctx_(ctx), event_log_(ctx_.data_files) {
    sampling.samples.Reset(sampling.rt_buffer + 1);
    sampling.BendHistogram.assign(kHistogramCellCount, 0);
}

void AcquisitionEngine::ClearLiveViews(std::size_t rt_buffer) {
    // A run (or blank) starts: the displays and the hand-over follow it from its first reading.
    if (ctx_.live != nullptr) {
        SignalSettings settings;
        settings.window_length = rt_buffer;
        settings.snr_factor = ctx_.calibration.SnrThreshold;
        try {
            settings.method = DspMethodFromNumber(ctx_.app.project.Setup.DSP_Method);
        } catch (const std::invalid_argument&) {
            settings.method = DspMethod::ThresholdAverage;
        }
        settings.body_bends = state.BodyBendsMode;
        ctx_.live->BeginRun(settings);
    }
    ctx_.views.live.ClearSignalView(rt_buffer);
}

bool AcquisitionEngine::Online() const {
    // After "Disconnect" the port is closed although the program is not in offline mode.
    const ConnectionState& c = ctx_.app.connection;
    return !c.OfflineMode && c.InstrumentConnected;
}

void AcquisitionEngine::SetTimer(bool enabled) {
    state.sampling_on = enabled;
    ctx_.views.display.SetSamplingTimer(enabled);
}

void AcquisitionEngine::ShowControls(bool running) {
    ShowControlsFor(running, blank.BlankMode);
}

void AcquisitionEngine::ShowControlsFor(bool running, bool blank_active) {
    const bool busy = running || blank_active;
    RunCommands c;
    c.start = !busy;
    c.pause = running;
    c.stop = busy;
    c.setup = !busy;
    c.offline = !busy;
    c.organism = !running;
    c.snr_threshold = !running;
    // The body-bends choice is locked only once sampling starts.
    c.body_bends = !running || !state.sampling_on;
    c.connection = !busy;
    c.pause_resumes = running && state.AcquisitionRunning == RunState::Paused;
    ctx_.views.display.ShowCommands(c);
}

RunControl AcquisitionEngine::MakeRunControl(const std::string& stop_reason) {
    RunControl run;
    run.offline = !Online();
    run.keep_going = [this] { return state.AcquisitionRunning != RunState::Stopped; };
    run.stop_acquisition = [this, stop_reason] { Stop(stop_reason); };
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

void AcquisitionEngine::BeginRunning() {
    state.AcquisitionRunning = RunState::Running;
    state.TimeCounterStopped = false;
    ShowControls(true);
    ClimateState& climate = ctx_.climate;
    climate.TemperatureSetPoint = climate.temperature_tenths / 10.0;
    ReadPlateTemperature(ctx_.link, climate);
    ctx_.views.display.ShowTemperature(climate.temperature_known
                                           ? TemperatureLabel(climate.CurrentTemperature)
                                           : kNoTemperatureLabel);
    if (StartLightSchedule(ctx_.link, climate, ctx_.link.clock.Now().hour)) {
        ctx_.views.display.ShowOutputs(OutputCode(climate.outputs));
    }
}

void AcquisitionEngine::ResetChannelState() {
    SamplingState& s = sampling;
    s.rt_buffer = RecordingRtBuffer(ctx_.app.project.Setup);
    s.samples.Reset(s.rt_buffer + 1);
    s.ChannelCounts.fill(0);
    s.ChannelTotals.fill(0);
    s.BendHistogram.assign(kHistogramCellCount, 0);
    s.BendHistogramPeak.fill(0);
    s.ThresholdTraces.clear();
    s.WindowEvents.clear();
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
    s.held_rows = 0;
    s.held_us = 0;
    s.windows_not_recorded = 0;
    s.unrecorded = UnrecordedWindows{};
    s.last_window_us = 0;
    s.recovery = InstrumentRecovery{};
    s.ticks = 0;
    s.longest_tick_us = 0;
    s.longest_close_us = 0;
    ctx_.views.display.ShowAlarm("");
}

bool AcquisitionEngine::PrepareRecording(const StartOptions& options) {
    Dialogs& dialogs = ctx_.link.dialogs;
    ProjectState& project = ctx_.app.project;
    const ProjectSetup& setup = project.Setup;

    // ElapsedMinutes must fit its field until the last window closes.
    const std::size_t rt_buffer = RecordingRtBuffer(setup);
    const double window_minutes = LongestWindowMinutes(rt_buffer, options.body_bends);
    if (auto refusal = CheckRecordingLapse(setup.Aq_lapse, window_minutes)) {
        dialogs.MessageBox(*refusal);
        return false;
    }

    // The disk check: for long runs saving raw signals, and for any run the disk cannot hold.
    // Unattended ("/RUN") nobody can answer: the warning goes into events.log and the run
    // records what fits.
    const std::int64_t required = RequiredDiskMegabytes(setup.Aq_lapse, rt_buffer,
                                                        options.body_bends, SavesRawSignals(setup));
    const std::int64_t free = FreeDiskMegabytes(ctx_.storage, project.ProjectFolder);
    const bool long_run = SavesRawSignals(setup) && setup.Aq_lapse >= kDiskCheckMinLapse;
    const bool too_little = free >= 0 && required > free;
    std::string disk_warning;
    if (long_run || too_little) {
        const DiskCheck d = CheckDiskSpace(setup.Aq_lapse, required, free);
        if (!d.warning.empty()) {
            if (options.autorun) {
                disk_warning = "WARNING: " + d.message;
            } else if (dialogs.MessageBox(d.warning, MsgButtons::YesNo) != MsgResult::Yes) {
                ctx_.views.desk.OpenSetupWindow();
                return false;
            }
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
    const bool existed = ctx_.storage.files.IsFolder(folder);
    state.AcquisitionFolder = folder;
    state.folder_created = !existed;
    try {
        CreateAcquisitionFolder(ctx_.storage, ctx_.app.config.Actual_Project_Number, project, now,
                                state.ExperimentName, ctx_.views.desk.Description());
    } catch (const StorageError& e) {
        RemoveEmptyAcquisitionFolder();
        state.AcquisitionFolder.clear();
        dialogs.MessageBox(std::string("The acquisition folder could not be written: ") + e.what() +
                           kCrLf + "The acquisition was not started.");
        return false;
    }
    state.RecordingOn = true;
    state.AcquisitionFolderName = folder_name;
    event_log_.Open(folder);
    logged_offset_.reset();
    event_log_failed_ = false;
    LogStart();
    if (!disk_warning.empty()) LogEvent(disk_warning);
    return true;
}

void AcquisitionEngine::LogStart() {
    const ProjectSetup& setup = ctx_.app.project.Setup;
    const CalibrationControls& c = ctx_.calibration;
    std::string text = state.RecordingOn ? "Recording \"" + state.ExperimentName + "\" started"
                                         : std::string("Monitor run started (nothing is recorded)");
    text += ": project " + std::to_string(ctx_.app.config.Actual_Project_Number) + "_" +
            setup.Name + ", instrument " + InstrumentSerialText(ctx_.link.SerialNumber) + " on " +
            ComPortName(ctx_.link.ComPortNumber) + "; lapse " + std::to_string(setup.Aq_lapse) +
            " min, plate " + setup.Plate_format + ", RT_Buffer " +
            std::to_string(RecordingRtBuffer(setup)) + ", method " +
            std::to_string(setup.DSP_Method) + ", SNR " + c.snr_text + ", raw signals " +
            (SavesRawSignals(setup) ? "saved" : "not saved") + ", body bends " +
            OnOff(state.BodyBendsMode) + ", automatic calibration " +
            OnOff(c.AutoCalibrateOnStart) + ", auto zero " + OnOff(c.AutoZeroOnStart) +
            ", temperature set point " + FormatOneDecimal(ctx_.climate.temperature_tenths / 10.0) +
            " C (control " + OnOff(ctx_.climate.temperature_control_enabled) + "), light cycle " +
            OnOff(ctx_.climate.light_cycle_enabled);
    const std::string description = ctx_.views.desk.Description();
    if (!description.empty()) text += "; description: " + description;
    LogEvent(text);
}

bool AcquisitionEngine::LogZoneIfChanged(const LocalDateTime& now) {
    // The zone comes first in every log and again whenever its offset changes (a summer-time
    // change), so the stamps can be placed in time on any machine.
    if (!event_log_.is_open() || logged_offset_ == now.utc_offset_minutes) return false;
    logged_offset_ = now.utc_offset_minutes;
    const std::string zone = EventLogLine(now, std::string(kTimeZoneEvent) + TimeZoneText(now));
    ctx_.views.log.LogEvent(zone);
    event_log_.Append(zone);
    return true;
}

void AcquisitionEngine::LogEvent(const std::string& text) {
    const LocalDateTime now = ctx_.link.clock.Now();
    LogZoneIfChanged(now);
    const std::string line = EventLogLine(now, text);
    ctx_.views.log.LogEvent(line);
    if (!event_log_.is_open()) return;
    const std::string error = event_log_.Append(line);
    if (error.empty()) {
        event_log_failed_ = false;
    } else if (!event_log_failed_) {
        // Said once: while the disk stays full every line would fail the same way.
        event_log_failed_ = true;
        ctx_.views.log.LogEvent(
            EventLogLine(ctx_.link.clock.Now(), "events.log could not be written: " + error));
    }
}

RunOutcome AcquisitionEngine::CalibrateAtStart(bool calibrate) {
    CalibrationControls& controls = ctx_.calibration;
    ctx_.views.strip.ShowFrame(true);
    ctx_.views.strip.SetTitle(kAutoCalibrationTitle);
    ctx_.views.strip.ScaleProgress(kChannelCount - 1, 10.0);
    ctx_.views.strip.ClearProgress();
    controls.SnrThreshold = SnrFromText(controls.snr_text, kStartSnrFloor);
    ControlContext cc{ctx_.link, ctx_.storage, ctx_.views.strip,
                      MakeRunControl(kStopByCalibrationWrite)};
    RunOutcome outcome = RunOutcome::Refused;
    if (calibrate) {
        std::array<std::uint16_t, kChannelTableSize> readings{};
        const CalibrationResult r =
            CalibrateChannels(cc, ctx_.cal, ctx_.app.plate.ChannelWell, readings);
        LogEvent("Calibration at the start: " + CalibrationSummary(r));
        outcome = r.outcome;
    } else {
        const AutoZeroResult r = CalculateAutoZero(
            cc, {controls.SnrThreshold, controls.AutoCalibrateOnStart, controls.AutoZeroOnStart},
            ctx_.app.project.ChannelThreshold);
        LogEvent("Zero at the start: " +
                 AutoZeroSummary(r, ctx_.app.plate.ChannelWell, ctx_.app.project.ChannelThreshold));
        outcome = r.outcome;
    }
    ctx_.views.strip.ShowFrame(false);
    return outcome;
}

StartOutcome AcquisitionEngine::EndFailedStart(const std::string& reason) {
    if (state.AcquisitionRunning != RunState::Stopped) Stop("the start failed: " + reason);
    const std::string text = "The acquisition did not start: " + reason + ". Nothing was recorded.";
    LogEvent(text);
    Notify(notify::NoticeKind::RunFailed, text);
    ctx_.views.display.ShowStatusLine(text);
    ctx_.link.dialogs.MessageBox(text);
    return StartOutcome::Failed;
}

StartOutcome AcquisitionEngine::StartAcquisition(const StartOptions& options) {
    if (state.AcquisitionRunning != RunState::Stopped || in_start_) return StartOutcome::Refused;
    const InProgress leave(in_start_);

    Dialogs& dialogs = ctx_.link.dialogs;
    CalibrationControls& controls = ctx_.calibration;

    ctx_.views.desk.StopSelfTest();
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
    ctx_.views.display.ShowExperimentName(name);

    if (ctx_.app.config.Actual_Project_Number == 0) {
        dialogs.MessageBox(kProjectZeroRefusal);
        ctx_.views.desk.OpenSetupWindow();
        return StartOutcome::Refused;
    }
    if (!Online()) {
        dialogs.MessageBox(kOfflineAcquisitionRefusal);
        return StartOutcome::Refused;
    }

    for (int i = 0; i < kEventPasses; ++i) dialogs.ProcessEvents();
    CommFlush(ctx_.link.ports, ctx_.link.ComPortNumber);
    for (int i = 0; i < kEventPasses; ++i) dialogs.ProcessEvents();
    ctx_.views.live.PrepareActivityView();

    state.RecordingOn = false;
    state.AcquisitionFolderName.clear();
    state.AcquisitionFolder.clear();
    state.folder_created = false;
    state.finished_at_lapse = false;
    state.quick_report.reset();
    state.quick_report_error.clear();
    state.stop_reason.clear();
    event_log_.Close();
    expected_end_second_ = -1;
    state.BodyBendsMode = options.body_bends;
    if (!name.empty()) {
        if (!PrepareRecording(options)) return StartOutcome::Refused;
    } else {
        // A monitor run records nothing, but its lapse passes the same check.
        if (auto refusal = CheckRecordingLapse(ctx_.app.project.Setup.Aq_lapse, 0.0)) {
            dialogs.MessageBox(*refusal);
            return StartOutcome::Refused;
        }
        LogStart();
    }

    ResetChannelState();
    ResetWindowCounters();
    BeginRunning();
    // Nothing of the last run stays on show: how it ended, its time, its bar, its trace.
    ctx_.views.display.ShowStatusLine("");
    ctx_.views.display.ShowElapsed(ElapsedTimeText(0), 0.0);
    ctx_.views.display.ShowExpectedEnd(std::nullopt);
    ClearLiveViews(RecordingRtBuffer(ctx_.app.project.Setup));

    // A calibration or zero that fails at the start ends the run before it records anything:
    // its channels would be recorded with settings or zero levels nobody measured.
    if (!name.empty() && Online() && controls.AutoCalibrateOnStart) {
        const RunOutcome r = CalibrateAtStart(true);
        if (r == RunOutcome::WriteFailed || r == RunOutcome::Refused) {
            return EndFailedStart(std::string("the calibration at the start failed (") +
                                  RunOutcomeText(r) + ")");
        }
    }
    if (!name.empty() && Online() && controls.AutoZeroOnStart &&
        state.AcquisitionRunning != RunState::Stopped) {
        const RunOutcome r = CalibrateAtStart(false);
        if (r == RunOutcome::ReadFailed || r == RunOutcome::Refused) {
            return EndFailedStart(std::string("the zero at the start failed (") +
                                  RunOutcomeText(r) + ")");
        }
    }
    if (state.AcquisitionRunning == RunState::Stopped) return StartOutcome::Stopped;

    ClearLiveViews(sampling.rt_buffer);
    const std::int64_t now = ctx_.link.clock.MonotonicMicros();
    state.AcquisitionStartTime = now;
    state.LastTickTime = now;
    ResetWindowCounters();
    // Paused while calibrating: the pause begins with the run. A frozen counter leaves the
    // timer off until the resume.
    state.PauseBegan = now;
    state.PausedElapsed = 0;
    SetTimer(!(state.AcquisitionRunning == RunState::Paused && state.TimeCounterStopped));
    ShowControls(true);
    LogEvent(state.RecordingOn ? "Sampling started" : "Sampling started (monitor run)");
    logged_light_.reset();
    LogLightChange("at the start");
    return StartOutcome::Started;
}

void AcquisitionEngine::TogglePause() {
    Clock& clock = ctx_.link.clock;
    if (state.AcquisitionRunning == RunState::Running) {
        const MsgResult answer = ctx_.link.dialogs.MessageBox(kPauseQuestion, MsgButtons::YesNo);
        // Window events run while the question is open: the run may have ended meanwhile.
        if (state.AcquisitionRunning != RunState::Running) return;
        const std::int64_t now = clock.MonotonicMicros();
        state.PauseBegan = now;
        if (answer == MsgResult::Yes) {
            SetTimer(false);
            state.AcquisitionRunning = RunState::Paused;
            state.PausedElapsed = now - state.AcquisitionStartTime;
            state.TimeCounterStopped = true;
            ctx_.views.strip.SetStatus(kTimeCounterOff);
            // The end moves on while the counter is held; the window refreshes it.
            ctx_.views.display.ShowExpectedEnd(ExpectedEnd());
            LogEvent("Paused, time counter stopped, at " + ElapsedTimeText(state.PausedElapsed));
        } else {
            state.TimeCounterStopped = false;
            state.AcquisitionRunning = RunState::Paused;
            ctx_.views.strip.SetStatus(kTimeCounterOn);
            LogEvent("Paused, time counter running, at " +
                     ElapsedTimeText(now - state.AcquisitionStartTime));
        }
        ctx_.views.strip.ShowFrame(true);
        ctx_.views.strip.SetTitle(kPausedCaption);
        ShowControls(true);
    } else if (state.AcquisitionRunning == RunState::Paused) {
        const std::int64_t now = clock.MonotonicMicros();
        const bool frozen = state.TimeCounterStopped;
        if (frozen) state.AcquisitionStartTime = now - state.PausedElapsed;
        // The window in progress did not sample during the pause: its reference time moves
        // on by the pause, so its SamplePeriod is the time spent sampling.
        state.LastTickTime += now - state.PauseBegan;
        sampling.TickCount = 0;
        state.AcquisitionRunning = RunState::Running;
        state.TimeCounterStopped = false;
        SetTimer(true);
        ctx_.views.strip.ShowFrame(false);
        // The counter runs again: its "Time Counter = ..." line goes, the end is shown anew.
        ctx_.views.strip.SetStatus("");
        expected_end_second_ = -1;
        ctx_.views.display.ShowExpectedEnd(ExpectedEnd());
        ShowControls(true);
        LogEvent("Resumed after a pause of " + ElapsedTimeText(now - state.PauseBegan) +
                 (frozen ? " (not counted in the lapse)" : ""));
    }
}

void AcquisitionEngine::Stop(const std::string& reason) {
    if (in_stop_) return;
    const InProgress leave(in_stop_);
    Dialogs& dialogs = ctx_.link.dialogs;
    ctx_.views.desk.StopSelfTest();
    const bool was_active = state.AcquisitionRunning == RunState::Running ||
                            state.AcquisitionRunning == RunState::Paused;
    if (was_active) state.AcquisitionRunning = RunState::Stopped;
    if (blank.BlankMode) {
        // A blank stopped half-way measured only part of the spread: its levels are not kept.
        blank.BlankMode = false;
        std::copy(blank_saved_levels_.begin(), blank_saved_levels_.end(),
                  ctx_.app.project.ChannelThreshold.begin());
        ctx_.views.strip.SetStatus(kBlankStoppedStatus);
        LogEvent(kBlankStoppedStatus);
    }
    state.TimeCounterStopped = false;
    SetTimer(false);
    ctx_.views.strip.ShowFrame(false);
    if (Online()) {
        SwitchOutputsOff(ctx_.link, ctx_.climate);
        ctx_.views.display.ShowOutputs(OutputCode(ctx_.climate.outputs));
    }
    ShowControls(false);
    ctx_.views.display.ShowTemperature(kNoTemperatureLabel);
    ctx_.views.display.ShowExpectedEnd(std::nullopt);
    for (int i = 0; i < kEventPasses; ++i) dialogs.ProcessEvents();
    CommFlush(ctx_.link.ports, ctx_.link.ComPortNumber);
    ctx_.link.clock.SleepMs(kStopFlushPauseMs);
    for (int i = 0; i < kEventPasses; ++i) dialogs.ProcessEvents();
    ctx_.views.display.ShowCalibrating(false);
    sampling.TickCount = 0;
    if (was_active) {
        state.stop_reason = reason;
        EndOfRecordedRun();
    }
}

bool AcquisitionEngine::RequestStop() {
    if (state.AcquisitionRunning == RunState::Stopped) {
        Stop();
        return true;
    }
    const std::string question =
        state.RecordingOn ? "Stop the recording \"" + state.ExperimentName + "\"? " + RunSummary() +
                                " so far; the window in progress is not recorded."
                          : std::string("Stop the monitor run?");
    // The run may end by itself while the question is open: the question then goes.
    const MsgResult answer =
        ctx_.link.dialogs.AskWhile([this] { return state.AcquisitionRunning != RunState::Stopped; },
                                   question, MsgButtons::YesNo);
    if (state.AcquisitionRunning == RunState::Stopped) return true;
    if (answer != MsgResult::Yes) return false;
    Stop(kStopByUser);
    return true;
}

std::string AcquisitionEngine::ExitQuestion() const {
    if (state.RecordingOn) {
        return "A recording is running (\"" + state.ExperimentName + "\", " + RunSummary() + ")." +
               kCrLf + "Stop it and exit the program?";
    }
    return std::string("A monitor run is running.") + kCrLf + "Stop it and exit the program?";
}

std::string AcquisitionEngine::RunSummary() const {
    const SamplingState& s = sampling;
    std::string text = std::to_string(s.windows_recorded) +
                       (s.windows_recorded == 1 ? " window recorded" : " windows recorded");
    if (s.window_write_failures > 0) {
        text += ", " + std::to_string(s.window_write_failures) +
                (s.window_write_failures == 1 ? " window" : " windows") + " could not be recorded";
    }
    if (s.windows_not_recorded > 0) {
        text += ", " + std::to_string(s.windows_not_recorded) +
                (s.windows_not_recorded == 1 ? " window" : " windows") +
                " not recorded for lack of readings";
    }
    const InstrumentRecovery& r = s.recovery;
    if (r.losses > 0) {
        text +=
            " (the instrument was lost " + std::to_string(r.losses) +
            (r.losses == 1 ? " time" : " times") + ", " +
            std::to_string((r.lost_us + (r.phase == InstrumentPhase::Connected
                                             ? 0
                                             : ctx_.link.clock.MonotonicMicros() - r.lost_since)) /
                           1'000'000) +
            " s in all)";
    }
    return text;
}

void AcquisitionEngine::EndOfRecordedRun() {
    if (!state.RecordingOn) {
        LogEvent("Monitor run stopped: " + state.stop_reason);
        return;
    }
    if (sampling.windows_closed == 0) {
        // Stopped (or failed) before its first window: the folder holds nothing but the
        // project's files and goes, so no empty acquisition is left for the browser to list.
        LogEvent("Stopped before the first window (" + state.stop_reason +
                 "): nothing was recorded");
        event_log_.Close();
        RemoveEmptyAcquisitionFolder();
        return;
    }
    if (!state.finished_at_lapse) LogEndOfRunGaps();
    const std::string summary = (state.finished_at_lapse ? std::string("Acquisition finished (")
                                                         : std::string("Acquisition stopped (")) +
                                state.stop_reason + "): " + RunSummary() + " in " +
                                state.AcquisitionFolderName;
    if (!state.finished_at_lapse) {
        LogEvent(summary);
        ctx_.views.display.ShowStatusLine(summary);
        Notify(state.stop_reason == kStopByCalibrationWrite ? notify::NoticeKind::RunFailed
                                                            : notify::NoticeKind::RunEnded,
               summary);
        WriteEndQuickReport(state.stop_reason != kStopAtExit);
    }
    event_log_.Close();
}

void AcquisitionEngine::LogEndOfRunGaps() {
    LogWindowsNotRecorded();
    if (InstrumentLost()) {
        LogEvent("The run ended while the instrument was lost (since " +
                 ElapsedTimeText(sampling.recovery.lost_since - state.AcquisitionStartTime) +
                 " of the run): nothing was recorded after that");
    }
}

void AcquisitionEngine::WriteEndQuickReport(bool show) {
    const std::int32_t lost = WindowsLost();
    const std::string note = lost > 0 ? "WARNING: " + std::to_string(lost) +
                                            (lost == 1 ? " window" : " windows") +
                                            " could not be recorded (see events.log)"
                                      : std::string();
    try {
        state.quick_report = WriteQuickReport(
            ctx_.storage, ctx_.app.project, ctx_.app.plate, ctx_.app.config.Actual_Project_Number,
            sampling.ChannelTotals, ctx_.views.desk.FormatDateTime(ctx_.link.clock.Now()), note);
        LogEvent("Quick report written: " + state.quick_report->string());
        if (show) ctx_.views.desk.OpenTextFile(*state.quick_report);
    } catch (const StorageError& e) {
        state.quick_report_error =
            std::string("The quick report could not be written: ") + e.what();
        LogEvent(state.quick_report_error);
        ctx_.views.display.ShowStatusLine(state.quick_report_error);
        ctx_.link.dialogs.MessageBox(state.quick_report_error);
    }
}

std::optional<std::filesystem::path> AcquisitionEngine::QuickReport() {
    Dialogs& dialogs = ctx_.link.dialogs;
    if (state.AcquisitionRunning != RunState::Stopped) {
        dialogs.MessageBox(kQuickReportWhileRunning);
        return std::nullopt;
    }
    try {
        const auto file = WriteQuickReport(
            ctx_.storage, ctx_.app.project, ctx_.app.plate, ctx_.app.config.Actual_Project_Number,
            sampling.ChannelTotals, ctx_.views.desk.FormatDateTime(ctx_.link.clock.Now()));
        ctx_.views.desk.OpenTextFile(file);
        return file;
    } catch (const StorageError& e) {
        dialogs.MessageBox(std::string("The quick report could not be written: ") + e.what());
        return std::nullopt;
    }
}

void AcquisitionEngine::RemoveEmptyAcquisitionFolder() {
    if (!state.folder_created || state.AcquisitionFolder.empty()) return;
    FileSystem& files = ctx_.storage.files;
    const std::filesystem::path folder = state.AcquisitionFolder;
    const std::vector<std::string> names = files.ListFiles(folder);
    for (const std::string& name : names) {
        if (!IsProjectCopyOrLog(name)) return;  // it holds data: nothing is removed
    }
    for (const std::string& name : names) files.RemoveFile(folder / name);
    if (files.RemoveEmptyFolder(folder)) state.folder_created = false;
}

// ---- Read Blank ----

bool AcquisitionEngine::ReadBlank(int blank_sample_count) {
    Dialogs& dialogs = ctx_.link.dialogs;
    if (state.AcquisitionRunning != RunState::Stopped) {
        dialogs.MessageBox(kBlankDuringRunRefusal);
        return false;
    }
    if (blank.BlankMode || in_tick_) return false;
    if (!Online()) {
        dialogs.MessageBox(kOfflineRefusalMessage);
        return false;
    }
    state.RecordingOn = false;
    event_log_.Close();
    ResetWindowCounters();
    sampling.failed_reads = 0;
    sampling.silent_since = 0;
    sampling.link_silent = false;
    sampling.silence_alarm = false;
    ctx_.views.display.ShowAlarm("");
    const int count = std::clamp(blank_sample_count, 0, 32767);
    try {
        PrepareBlankFolder(ctx_.storage, ctx_.app.config.Actual_Project_Number, ctx_.app.project,
                           ctx_.link.clock.Now());
    } catch (const std::exception& e) {
        dialogs.MessageBox(std::string("Error writing the blank's folder: ") + e.what());
    }
    std::copy_n(ctx_.app.project.ChannelThreshold.begin(), blank_saved_levels_.size(),
                blank_saved_levels_.begin());
    StartBlank(blank, static_cast<std::int16_t>(count));
    ClearLiveViews(sampling.rt_buffer);
    ctx_.views.display.SetCalibratingText(BlankStartText(count));
    ctx_.views.display.ShowCalibrating(true);
    ShowControls(false);
    LogEvent(BlankStartText(count));
    SetTimer(true);
    return true;
}

void AcquisitionEngine::BlankTick() {
    SamplingState& s = sampling;
    s.SampleRow = 0;
    if (Online()) ReadSample(ctx_.link.clock.MonotonicMicros());
    // A tick without any valid block measured nothing: it does not count towards the blank.
    if (s.failed_reads > 0) return;
    std::array<std::uint16_t, kChannelTableSize> row{};
    const std::span<const std::int16_t> readings = Row(0);
    for (std::size_t c = 0; c < row.size(); ++c) {
        row[c] = static_cast<std::uint16_t>(std::max<std::int16_t>(readings[c], 0));
    }
    if (!BlankStep(blank, row, ctx_.app.project.ChannelThreshold)) return;
    SetTimer(false);
    const std::string done = BlankDoneText(kChannelCount - 1);
    ctx_.views.display.SetCalibratingText(done);
    ctx_.views.strip.SetStatus(done);
    ctx_.views.display.ShowCalibrating(false);
    ShowControls(false);
    double lo = 0.0;
    double hi = 0.0;
    bool any = false;
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        if (ctx_.app.plate.ChannelWell[c] < 0) continue;
        const double z = ctx_.app.project.ChannelThreshold[c];
        lo = any ? std::min(lo, z) : z;
        hi = any ? std::max(hi, z) : z;
        any = true;
    }
    LogEvent("Blank completed over " + std::to_string(blank.ticks) + " samples" +
             (any ? ": zero levels " + FormatOneDecimal(lo) + " to " + FormatOneDecimal(hi)
                  : std::string()));
}

}  // namespace lumivo
