// The acquisition engine: what a front end asks of a recording. The start (StartAcquisition)
// with its prompt, refusals, folder and calibration; the sampling loop driven by the host's
// timer (Tick), with the window close that measures, analyses and records every RT_Buffer rows;
// pause, stop and the end of the run at its programmed lapse with the quick report; the blank;
// going on with an interrupted acquisition (ResumeAcquisition).
//
// The engine is headless. It owns its state (acquisition_state.h) and works on the
// program-wide state it is given by reference; what it shows goes to the roles of its
// front end (acquisition_view.h), every row and closed window to its SampleSink, questions and
// pauses through the link's Dialogs and Clock. The host owns the timer: it calls Tick() while
// SamplingOn() is true, never re-entering it, at most every kTimeradqIntervalMs (a tick that
// takes longer simply delays the next one).
//
// acquisition_engine.cpp holds the start, stop, pause and blank; acquisition_engine_loop.cpp the
// tick and window close; acquisition_engine_notices.cpp the watch over an unattended run;
// acquisition_engine_resume.cpp the resume.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "core/acquisition/acquisition_state.h"
#include "core/acquisition/acquisition_texts.h"
#include "core/acquisition/acquisition_view.h"
#include "core/acquisition/event_log.h"
#include "core/acquisition/instrument_recovery.h"
#include "core/acquisition/live_signal.h"
#include "core/acquisition/quick_report.h"
#include "core/acquisition/record_file_io.h"
#include "core/analysis/analysis_module.h"
#include "core/control/auto_zero.h"
#include "core/control/channel_calibration.h"
#include "core/control/control_context.h"
#include "core/control/control_settings.h"
#include "core/control/light_temperature.h"
#include "core/notify/notice.h"
#include "core/state/app_state.h"
#include "core/storage/calibration_file.h"

namespace lumivo {

// Everything the acquisition works on besides its own state.
struct AcquisitionContext {
    DeviceLink& link;  // its clock and dialogs are the program's
    StorageContext& storage;
    AppState& app;                     // config, project, plate map, connection flags
    CalibrationControls& calibration;  // AutoCalibrateOnStart, AutoZeroOnStart, SnrThreshold
    ClimateState& climate;
    CalibrationValues& cal;  // PinHole and Gain of every channel
    AcquisitionViews views;
    AppendFileOps& data_files;  // how counts.bin, the raw pages and histograms are appended
    // Who is told about a run nobody watches (notify/notifier.h); none when null.
    notify::NoticeSink* notices = nullptr;
    // Where every row read and every window closed of a run goes for the live displays (the
    // bounded hand-over, live_signal.h); none when null.
    SampleSink* live = nullptr;
};

struct StartOptions {
    // Started unattended ("/RUN"): no name prompt, the name is "Autorun project", no disk
    // check.
    bool autorun = false;
    // A name given beforehand (the command line): no prompt. Empty: a monitor run.
    std::optional<std::string> name;
    bool body_bends = false;  // chk_bodybends
};

enum class StartOutcome {
    Started,  // Timeradq runs
    Refused,  // a refusal or a failed folder; nothing was created
    Stopped,  // stopped while calibrating or zeroing at the start
    Failed,   // the calibration or zero at the start failed: the run did not start
};

class AcquisitionEngine {
  public:
    explicit AcquisitionEngine(AcquisitionContext ctx);

    // A new run (the "Start Acquisition" command).
    StartOutcome StartAcquisition(const StartOptions& options);
    // One tick of the host's sampling timer (ignored when re-entered).
    void Tick();
    // Goes on recording the interrupted acquisition in `folder` (resume.h), a folder of the
    // current project: into the same files, on the same time axis, until its original lapse.
    // Its own copy of the project's settings is used; the calibration at the start is not
    // repeated, the channel settings of `cal` (calvalue.dat) are written to the instrument, and
    // the zero levels are measured again when the auto-zero is on. A refusal is told through
    // the dialogs and changes nothing.
    StartOutcome ResumeAcquisition(const std::filesystem::path& folder);
    // Pauses (asking whether the time counter stops) or resumes.
    void TogglePause();
    // Stops the run, also the last step of a finished lapse; `reason` goes into events.log.
    // With nothing running it only resets the commands (and ends a blank).
    void Stop(const std::string& reason = kStopByUser);
    // The "Stop Acquisition" button: a running or paused run stops only after the user
    // confirms. Returns false when the user kept the run.
    bool RequestStop();
    // The question asked before closing the program while a run is active ("A recording is
    // running ..."), answered "Stop and exit" or Cancel.
    std::string ExitQuestion() const;
    // The expected end of the active run: now plus what remains of its lapse. While a pause
    // holds the time counter the remainder stays the same, so the end moves on with the
    // clock. nullopt when no run is active.
    std::optional<LocalDateTime> ExpectedEnd() const;

    // Read Blank: a blank of `blank_sample_count` ticks, sampled by the timer (Tick).
    // Refused while a run or a blank is active and without an instrument. Stop ends it early
    // with the zero levels it found unchanged.
    bool ReadBlank(int blank_sample_count);
    bool BlankActive() const { return blank.BlankMode; }

    // The quick report as a main-window command: written (and shown) only while no
    // acquisition runs, from the totals of the last run. Returns the file, or nullopt with the
    // reason told to the user.
    std::optional<std::filesystem::path> QuickReport();

    // "N windows recorded", and how many could not be written, for the end of a run.
    std::string RunSummary() const;
    // Windows of the last run that are not in its files: not written, or not recorded for
    // lack of readings.
    std::int32_t WindowsLost() const {
        return sampling.window_write_failures + sampling.windows_not_recorded;
    }
    bool InstrumentLost() const { return sampling.recovery.phase != InstrumentPhase::Connected; }

    // Writes one event into events.log (while a recorded run has its folder) and the log panel.
    void LogEvent(const std::string& text);

    // Who is told from now on about what happens to a run (none: null). The sink must outlive
    // its use here.
    void SetNotices(notify::NoticeSink* notices) { ctx_.notices = notices; }

    // Whether the host's timer is to call Tick().
    bool SamplingOn() const { return state.sampling_on; }
    bool Running() const { return state.AcquisitionRunning != RunState::Stopped; }

    // The engine's state, for the front ends to show; only the engine changes it.
    const AcquisitionState& State() const { return state; }
    const SamplingState& Sampling() const { return sampling; }
    const BlankState& BlankProgress() const { return blank; }
    // For the windows' tests only: a run state set without an instrument running.
    AcquisitionState& StateForTests() { return state; }
    // The next reading goes into the first row (a calibration read into the sampling rows).
    void RestartWindowRows() { sampling.SampleRow = 0; }

  private:
    AcquisitionState state;
    SamplingState sampling;
    BlankState blank;

    // Marks a procedure as running for the rest of the scope, so that window events it lets
    // through cannot start it a second time.
    class InProgress {
      public:
        explicit InProgress(bool& flag) : flag_(flag) { flag_ = true; }
        ~InProgress() { flag_ = false; }
        InProgress(const InProgress&) = delete;
        InProgress& operator=(const InProgress&) = delete;

      private:
        bool& flag_;
    };

    void SetTimer(bool enabled);
    void ShowControls(bool running);
    void ResetChannelState();
    void ResetWindowCounters();
    // The run is on: the controls, the plate's temperature and the light schedule.
    void BeginRunning();
    // The window's envelope sums and body-bends block, cleared for the next window.
    void ClearWindowAccumulators();
    bool Online() const;
    // The live displays and the sink begin a run (or blank) of windows of `rt_buffer` rows.
    void ClearLiveViews(std::size_t rt_buffer);
    RunControl MakeRunControl(const std::string& stop_reason);
    bool PrepareRecording(const StartOptions& options);
    RunOutcome CalibrateAtStart(bool calibrate);
    StartOutcome EndFailedStart(const std::string& reason);
    void LogStart();
    // Hands a notice to ctx_.notices (when there is one).
    void Notify(notify::NoticeKind kind, const std::string& message);
    // The deliveries' outcomes into events.log.
    void LogNoticeReports();
    // At a window close: the temperature band and the disk space.
    void WatchConditions(std::int64_t now);
    // Writes the "Time zone" line when the log has none yet or the offset changed.
    bool LogZoneIfChanged(const LocalDateTime& now);
    // Writes `cal` into the instrument's registers; what became of them, for events.log.
    std::string WriteRunSettings();
    void EndOfRecordedRun();
    void WriteEndQuickReport(bool show);
    void RemoveEmptyAcquisitionFolder();
    void BlankTick();
    void ShowControlsFor(bool running, bool blank_active);

    void RunningTick(std::int64_t now);
    void PausedTick(std::int64_t now);
    void ClimatePerTick(std::int64_t now);
    // Logs the light's state when it differs from the last one logged ("Light on (cause)").
    void LogLightChange(const char* cause);
    void ReadSample(std::int64_t now);
    void UpdateEnvelopes();
    void CloseWindow(std::int64_t now);
    void ClimateAtWindowClose();
    // True when a channel was marked for re-adjustment.
    bool RefreshZeroLevels(const ChannelSet& in_use, AdjustmentList& marks);
    void AnalyzeWindow(const ChannelSet& in_use);
    void ReadjustChannels(AdjustmentList& marks);
    void RecordWindow(std::int64_t now);
    // ElapsedMinutes and ElapsedMinutesExact at `now`; returns the elapsed microseconds.
    std::int64_t UpdateElapsed(std::int64_t now);
    void TimeAndLapse(std::int64_t now, bool running_tick);
    void FinishAtLapse();
    void UpdateAlarm();
    std::string SilenceAlarmText();
    std::string LostAlarmText();
    // The instrument's port failed (`what`): it is closed, the window in progress dropped, and
    // the run looks for the instrument again.
    void LoseInstrument(const std::string& what);
    // One step of getting it back: a look when one is due, or a few settings written back.
    void RecoverInstrument(std::int64_t now);
    void LookForInstrument(std::int64_t now);
    void RestoreInstrument();
    // Drops the readings of the window in progress: the next tick starts a new window.
    void DropWindowInProgress();
    // Counts `count` windows up to minute `last_minute` as not recorded for `reason`.
    void NoteWindowsNotRecorded(std::int32_t count, std::int32_t first_minute,
                                std::int32_t last_minute, const std::string& reason);
    // Writes the pending "Windows not recorded" line.
    void LogWindowsNotRecorded();
    // At the end of a run: the pending "Windows not recorded" line, and a loss still open.
    void LogEndOfRunGaps();
    // Why the window that closed at `now` lacks the readings from the instrument to be
    // recorded; empty when it has them.
    std::string WindowNotObservedReason(std::int64_t now) const;
    void ShowExpectedEnd(std::int64_t elapsed_us);
    std::span<std::int16_t> Row(std::size_t row);

    AcquisitionContext ctx_;
    EventLog event_log_;
    bool event_log_failed_ = false;
    std::int64_t expected_end_second_ = -1;  // the elapsed second the end was shown for
    // The zero levels before a blank, put back when the blank is stopped before its end.
    std::array<double, kChannelTableSize> blank_saved_levels_{};
    bool in_tick_ = false;
    bool in_start_ = false;
    bool in_stop_ = false;
    std::optional<bool> logged_light_;  // the light state events.log holds last
    std::optional<int> logged_offset_;  // the UTC offset events.log holds last
};

}  // namespace lumivo
