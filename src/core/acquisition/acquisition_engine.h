// Recording an acquisition: the start behind the main window's "Start Acquisition" button
// (`StartAcquisition`), the sampling loop driven by the timer `Timeradq` (`Tick`), the window
// close that measures, analyses and records every `RT_Buffer` rows, the pause and stop buttons
// (`CmdPause_Click`, `CmdStop_Click`) and the end of the run at its programmed lapse with the
// quick report.
//
// The engine is headless. It works on explicit state (AcquisitionState, SamplingState) and on
// the program-wide state it is given by reference; what it shows goes to an AcquisitionView,
// questions and pauses go through the link's Dialogs and Clock. The host owns the timer: it
// calls Tick() while TimerEnabled() is true, never re-entering it, at most every
// kTimeradqIntervalMs (a tick that takes longer simply delays the next one).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/acquisition/event_log.h"
#include "core/acquisition/instrument_recovery.h"
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

// ---- Constants and texts ---------------------------------------------------------------------

inline constexpr int kTimeradqIntervalMs = 30;
// Pause after the discarded warm-up reads at the start of a window.
inline constexpr int kWarmUpPauseMs = 50;
// The reference level every channel starts from: mid-scale of the 12-bit reading.
inline constexpr std::int16_t kReferenceLevel = 2048;
// A channel's running total of counts stops growing here.
inline constexpr std::int16_t kMaxChannelTotal = 10000;
// Lapses from this many minutes on, with real-time saving, get the disk check.
inline constexpr int kDiskCheckMinLapse = 31;
// Seconds without any answer from the instrument before the alarm shows.
inline constexpr double kSilenceAlarmSeconds = 3.0;

inline constexpr const char* kStartTitle = "Starting New acquisition...";
inline constexpr const char* kSecondNamePrompt = "Enter a Name for this experiment";
inline constexpr const char* kEmptyNameWarning =
    "Name is EMPTY. Activity is NOT going to be CALCULATED/RECORDED!";
inline constexpr const char* kAutorunName = "Autorun project";
inline constexpr const char* kProjectZeroRefusal =
    "Operation not allowed in Project #0:Default. Go to <Setup> and Save it with another name";
inline constexpr const char* kOfflineAcquisitionRefusal =
    "Acquisition not allowed in OFFLINE MODE. Connect the equipment and restart the program "
    "or press Connect.";
inline constexpr const char* kPauseQuestion = "Pause Time Counter?";
inline constexpr const char* kTimeCounterOff = "Time Counter = OFF";
inline constexpr const char* kTimeCounterOn = "Time Counter = ON";
inline constexpr const char* kPausedCaption = "<< PAUSED >>";
inline constexpr const char* kAcquisitionFinishedMessage = "Acquisition finished";
inline constexpr const char* kNoTemperatureLabel =
    "T = __ \xC2\xB0"
    "C";
inline constexpr const char* kBlankDuringRunRefusal =
    "Read Blank is not possible while an acquisition runs: stop the acquisition first.";
inline constexpr const char* kStopAndExitCaption = "Stop and exit";
inline constexpr const char* kBlankStoppedStatus =
    "Blank stopped before its end: zero levels unchanged";
inline constexpr const char* kQuickReportWhileRunning =
    "The quick report is written while no acquisition runs: stop the acquisition first.";

// Why a run ended, as events.log and the end of the run say it.
inline constexpr const char* kStopByUser = "Stop Acquisition was pressed";
inline constexpr const char* kStopAtLapse = "the programmed lapse was reached";
inline constexpr const char* kStopAtExit = "the program was closed";
inline constexpr const char* kStopByCalibrationWrite = "a channel setting could not be written";

// The prompt of the name box: the banner, the comments and the calibration reminder.
std::string StartPromptText(bool auto_calibrate_on_start, bool auto_zero_on_start);

// The disk space a recorded run needs. A window writes its counts record, its raw page record
// when raw signals are saved and its histogram record in body-bends mode; a window lasts
// RT_Buffer ticks, and a tick at least the timer's interval and the line time of the blocks it
// reads (four, or two in body-bends mode). The estimate takes the shortest window, so it never
// falls short of what the run writes.
double RecordedBytesPerMinute(std::size_t rt_buffer, bool body_bends, bool save_real);
// Megabytes (of 1,048,576 bytes, as the free space is counted) for `lapse_minutes`, rounded up.
std::int64_t RequiredDiskMegabytes(int lapse_minutes, std::size_t rt_buffer, bool body_bends,
                                   bool save_real);

// The disk check of a recorded run: `required_mb` against `free_mb`. `warning` holds the whole
// question ("WARNING:" ... "PROCEED?") when the free space is short or the run needs more than
// 1000 MB; empty otherwise.
struct DiskCheck {
    std::int64_t required_mb = 0;
    std::string message;  // the lines about the lapse and the space
    std::string warning;  // "" when no warning is due
};
DiskCheck CheckDiskSpace(int lapse_minutes, std::int64_t required_mb, std::int64_t free_mb);

// "hh:mm:ss [Nd]": the time of day part of the span and its whole days.
std::string ElapsedTimeText(std::int64_t elapsed_us);
// "T = 22.4 °C" for the temperature label.
std::string TemperatureLabel(double celsius);

// ---- State -----------------------------------------------------------------------------------

// The buttons and boxes of the main window the acquisition state locks and unlocks.
struct AcquisitionControls {
    bool CmdPlay = true;
    bool CmdPause = false;
    bool CmdStop = false;
    bool Cmdsetup = true;
    bool Cmdoffline = true;
    bool Cmb_organism = true;
    bool txt_snr_umbral = true;
    bool chk_bodybends = true;  // the window also applies its plate-format rule
    // The connection commands (Connect, Disconnect, the port menu): never while a run or a
    // blank uses the port.
    bool cmd_connect = true;
    // CmdPause reads "Resume" while the run is paused.
    bool CmdPause_resumes = false;
    friend bool operator==(const AcquisitionControls&, const AcquisitionControls&) = default;
};

// Whether an acquisition runs.
enum class RunState { Stopped, Running, Paused };

// The acquisition's part of the program-wide state.
struct AcquisitionState {
    RunState AcquisitionRunning = RunState::Stopped;
    bool RecordingOn = false;         // activity is calculated and recorded (not a monitor run)
    bool BodyBendsMode = false;       // two blocks per tick, histograms accumulated
    bool TimeCounterStopped = false;  // a pause froze the time counter
    std::string ExperimentName;
    std::string AcquisitionFolderName;        // "yyyymmdd_hhmm"; "" for a monitor run
    std::filesystem::path AcquisitionFolder;  // ProjectFolder / AcquisitionFolderName
    std::int64_t AcquisitionStartTime = 0;    // monotonic microseconds
    std::int64_t LastTickTime = 0;            // start of the current window (microseconds)
    std::int64_t PausedElapsed = 0;           // elapsed span frozen by the pause
    std::int64_t PauseBegan = 0;              // when the current pause began
    bool timer_enabled = false;               // Timeradq
    bool finished_at_lapse = false;           // the last run ended at its programmed lapse
    bool folder_created = false;              // this run created its acquisition folder
    std::optional<std::filesystem::path> quick_report;  // written at the end of the last run
    std::string stop_reason;                            // why the last run ended
    std::string quick_report_error;                     // why its quick report could not be written
};

// A channel's running signal statistics over the current window, from which the window close
// takes its zero level and its mean level. The envelopes follow the local extremes of the
// channel's last three readings and run on across windows.
struct EnvelopeAccumulator {
    std::int64_t amplitude_sum = 0;  // sum of peak - valley
    std::int64_t signal_sum = 0;     // sum of the readings
    std::int32_t count = 0;
    std::int16_t peak = kReferenceLevel;
    std::int16_t valley = kReferenceLevel;
    std::int16_t previous = kReferenceLevel;  // the reading before the last
    std::int16_t last = kReferenceLevel;      // the last reading
    std::int16_t seen = 0;                    // readings seen since the start (up to 2)
};

struct SamplingState {
    std::size_t rt_buffer = 500;  // RT_Buffer of the run
    // SampleMatrix: (RT_Buffer + 1) rows of 385 readings, channel fastest; the last row is
    // never filled.
    std::vector<std::int16_t> SampleMatrix;
    std::int16_t SampleRow = 0;
    std::int32_t TickCount = 0;
    std::array<std::int16_t, kChannelTableSize> ChannelCounts{};
    std::array<std::int16_t, kChannelTableSize> ChannelTotals{};
    // BendHistogram: 51 bins x 385 channels, channel fastest (the histogram file's layout).
    std::vector<std::int32_t> BendHistogram;
    std::array<std::int32_t, kChannelTableSize> BendHistogramPeak{};
    // Each channel's threshold trace and event marks over the last analysed window (384
    // entries once a window of a recorded run was analysed), for the live signal view.
    std::vector<ThresholdTrace> ThresholdTraces;
    std::vector<EventMarks> WindowEvents;
    std::int16_t RawFileIndex = 0;
    std::int16_t WindowSubCounter = 0;  // windows 0..10 within a raw page
    double SamplePeriod = 0.0;          // seconds per sample over the last window
    double AccumulatedSampleTime = 0.0;
    std::int32_t HistogramRecords = 0;
    std::int32_t ElapsedMinutes = 0;
    double ElapsedMinutesExact = 0.0;
    std::array<EnvelopeAccumulator, kChannelTableSize> envelopes{};
    std::int16_t BodyBendsBlockStart = 0;  // 0 or 64

    // Bookkeeping of the run.
    std::int32_t windows_closed = 0;
    std::int32_t windows_recorded = 0;
    std::int32_t window_write_failures = 0;
    std::string last_write_error;  // the last window that could not be written, "" after a good one
    std::string last_tick_error;   // an unexpected error that ended a tick
    // Silence of the instrument: ticks in a row in which no block came back whole.
    std::int32_t failed_reads = 0;
    std::int64_t silent_since = 0;
    bool link_silent = false;    // the last block read got no byte at all
    bool silence_alarm = false;  // the alarm is shown
    // Readings of the window in progress held from the one before (a block not whole).
    std::int32_t held_rows = 0;
    std::int64_t held_us = 0;  // the time those ticks took
    // Windows left out of every file: too few valid readings, or the instrument lost.
    std::int32_t windows_not_recorded = 0;
    UnrecordedWindows unrecorded;     // the run of such windows not yet in events.log
    std::int64_t last_window_us = 0;  // how long the last recorded window took
    InstrumentRecovery recovery;
    // Notices that wait for a condition to last, and those sent once until it is over.
    std::int64_t temperature_out_since = -1;  // monotonic; -1 while inside the band
    bool temperature_notified = false;
    bool disk_notified = false;
    // Timing of the run (microseconds).
    std::int64_t ticks = 0;
    std::int64_t longest_tick_us = 0;
    std::int64_t longest_close_us = 0;
};

// ---- The view --------------------------------------------------------------------------------

// What the acquisition shows. The calibration strip (frm_autotext, lbl_autotext,
// lbl_autochannel, picturecal) is the CalibrationView part. Every method defaults to nothing.
class AcquisitionView : public CalibrationView {
  public:
    // txt_subproject.
    virtual void ShowExperimentName(const std::string& /*name*/) {}
    // The text of the description box Txt_description.
    virtual std::string Description() { return {}; }
    // Cmdsetup_Click: the project setup window.
    virtual void OpenSetupWindow() {}
    // Stops the self-test timer Timer_test.
    virtual void StopSelfTest() {}
    virtual void SetControls(const AcquisitionControls& /*controls*/) {}
    // Clears and rescales the activity plot Picact for the current display mode.
    virtual void PrepareActivityView() {}
    // Clears the signal view Picreal (0..rt_buffer + 20 by 0..2100) and the time axis.
    virtual void ClearSignalView(std::size_t /*rt_buffer*/) {}
    // lbl_temperature.
    virtual void ShowTemperature(const std::string& /*label*/) {}
    // The light and temperature panels after the outputs were sent.
    virtual void ShowOutputs(int /*code*/) {}
    // Txt_time and the progress bar picturetime (percent of the lapse, 0..100 and beyond).
    virtual void ShowElapsed(const std::string& /*text*/, double /*percent*/) {}
    // Live plots: each new row of SampleMatrix, and the redraws the loop asks for.
    virtual void NewSampleRow(std::span<const std::int16_t> /*row*/, int /*row_index*/) {}
    virtual void RedrawLivePlot() {}
    // A window closed, after its records were written (a recorded run): SampleMatrix holds the
    // window as its raw page does, ChannelCounts the counts record with its temperature.
    virtual void WindowClosed(const SamplingState& /*sampling*/) {}
    // lblcalibrando.
    virtual void ShowCalibrating(bool /*shown*/) {}
    virtual void SetCalibratingText(const std::string& /*text*/) {}
    // Timeradq switched on or off.
    virtual void SetSamplingTimer(bool /*enabled*/) {}
    // The alarm line: the instrument stopped answering, or a window could not be written.
    // An empty text clears it.
    virtual void ShowAlarm(const std::string& /*text*/) {}
    // The menu item mn_userbin: the run's end opens the report window instead of the notice.
    virtual bool UserDefinedReport() { return false; }
    virtual void OpenReportWindow() {}
    // Shows a text file to the user (the system's text editor).
    virtual void OpenTextFile(const std::filesystem::path& /*file*/) {}
    // One event of the run as events.log has it (date, time, text): the log panel.
    virtual void LogEvent(const std::string& /*line*/) {}
    // The main window's status line: how the run ended, what went wrong while nobody watched.
    virtual void ShowStatusLine(const std::string& /*text*/) {}
    // The expected end of the active acquisition (see ExpectedEnd); nullopt when no run is
    // active.
    virtual void ShowExpectedEnd(const std::optional<LocalDateTime>& /*end*/) {}
    // The date and time as the user's locale writes them (the quick report's first line).
    virtual std::string FormatDateTime(const LocalDateTime& t) { return LocaleDateTimeText(t); }
};

// ---- The engine ------------------------------------------------------------------------------

// Everything the acquisition works on besides its own state.
struct AcquisitionContext {
    DeviceLink& link;  // its clock and dialogs are the program's
    StorageContext& storage;
    AppState& app;                     // config, project, plate map, connection flags
    CalibrationControls& calibration;  // AutoCalibrateOnStart, AutoZeroOnStart, SnrThreshold
    ClimateState& climate;
    CalibrationValues& cal;  // PinHole and Gain of every channel
    AcquisitionView& view;
    AppendFileOps& data_files;  // how counts.bin, the raw pages and histograms are appended
    // Who is told about a run nobody watches (notify/notifier.h); none when null.
    notify::NoticeSink* notices = nullptr;
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

    // CmdPlay_Click.
    StartOutcome StartAcquisition(const StartOptions& options);
    // Timeradq_Timer: one tick (ignored when re-entered).
    void Tick();
    // Goes on recording the interrupted acquisition in `folder` (resume.h), a folder of the
    // current project: into the same files, on the same time axis, until its original lapse.
    // Its own copy of the project's settings is used; the calibration at the start is not
    // repeated, the channel settings of `cal` (calvalue.dat) are written to the instrument, and
    // the zero levels are measured again when the auto-zero is on. A refusal is told through
    // the dialogs and changes nothing.
    StartOutcome ResumeAcquisition(const std::filesystem::path& folder);
    // CmdPause_Click: pauses (asking whether the time counter stops) or resumes.
    void CmdPause_Click();
    // CmdStop_Click, also the last step of a finished lapse; `reason` goes into events.log.
    // With nothing running it only resets the controls (and ends a blank).
    void CmdStop_Click(const std::string& reason = kStopByUser);
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

    // Cmd_readblank_Click: a blank of `blank_sample_count` ticks, sampled by Timeradq (Tick).
    // Refused while a run or a blank is active and without an instrument. Stop ends it early
    // with the zero levels it found unchanged.
    bool Cmd_readblank_Click(int blank_sample_count);
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

    bool TimerEnabled() const { return state.timer_enabled; }
    bool Running() const { return state.AcquisitionRunning != RunState::Stopped; }

    AcquisitionState state;
    SamplingState sampling;
    BlankState blank;

  private:
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

// ---- Quick report ----------------------------------------------------------------------------

inline constexpr const char* kQuickReportFileName = "report.txt";

// The group label of the summary: "\"007_name\"", or "999_Free " for a channel in no group
// (group 999 or negative).
std::string QuickReportGroupLabel(const ProjectState& project, int group);

// The summary of the running totals (`ChannelTotals`): the date line (`date_text`, as the
// user's locale writes it) and the project, then, only when `note` is not empty, the note as a
// line of its own (windows that could not be recorded), then the group, well and raw sections,
// CR LF lines.
std::string FormatQuickReport(const ProjectState& project, const PlateMap& plate,
                              int project_number, std::span<const std::int16_t> totals,
                              const std::string& date_text, const std::string& note = {});

// Writes ProjectFolder/report.txt (replacing it) and returns its path; throws StorageError.
std::filesystem::path WriteQuickReport(StorageContext& storage, const ProjectState& project,
                                       const PlateMap& plate, int project_number,
                                       std::span<const std::int16_t> totals,
                                       const std::string& date_text, const std::string& note = {});

}  // namespace lumivo
