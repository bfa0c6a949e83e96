// The main window's acquisition: the handlers of "Start Acquisition" (CmdPlay), "Pause"
// (CmdPause) and "Stop Acquisition" (CmdStop), the sampling timer Timeradq and the alarm line.
// The work is done by the acquisition engine (src/core/acquisition); this class shows what the
// engine tells its views: on the automatic-action strip and the live displays it is given, and
// on the rest of the main window through its AcquisitionDisplay, and hands a finished run to the
// report side through a ReportOpener.
//
// Timeradq is a single-shot timer re-armed after each tick, measured from the tick's start:
// ticks come every 30 ms, or back to back when a tick takes longer (the serial exchange of a
// full reading takes about 70 ms), and a tick is never re-entered, also not from the window
// events that a long tick lets run. Between two ticks the event loop runs.
//
// Created by Frm_Main (as its child) with everything it works with.
#pragma once

#include <QLabel>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>

#include "app/main_window/acquisition_host.h"
#include "app/main_window/control_panels.h"
#include "app/panels/auto_action_frame.h"
#include "app/panels/live_plots.h"
#include "app/support/window_roles.h"
#include "core/acquisition/acquisition_engine.h"
#include "core/acquisition/record_file_io.h"

class QStatusBar;

namespace lumivo::app {

class AcquisitionWindow : public QObject,
                          public SamplingControl,
                          private RunDisplay,
                          private LiveDisplay,
                          private lumivo::LogSink,
                          private RunDesk,
                          private CalibrationView {
    Q_OBJECT
  public:
    // The alarm line goes into `status_bar`.
    AcquisitionWindow(QObject* parent, AcquisitionDisplay& display, ReportOpener report,
                      AutoActionStrip& strip, LiveView& live, QStatusBar& status_bar);
    ~AcquisitionWindow() override;

    // CmdPlay_Click: the start takes the autorun request of the command line once.
    void CmdPlay_Click();
    // The start; `autorun` when the program was started with "/RUN".
    void Start(bool autorun);
    // Goes on with the interrupted recording in `folder` (a folder of the current project).
    StartOutcome Resume(const std::filesystem::path& folder) {
        return engine_->ResumeAcquisition(folder);
    }
    void CmdPause_Click();
    void CmdStop_Click();
    void Timeradq_Timer();
    // Timer_endtime: "Ends about ..." from the engine's expected end.
    void Timer_endtime_Timer();

    // An acquisition runs or is paused.
    bool Acquiring() const { return engine_->Running(); }
    AcquisitionEngine& engine() { return *engine_; }

    // SamplingControl.
    RunState AcquisitionState() const override { return engine_->State().AcquisitionRunning; }
    void StopAcquisition(const std::string& reason) override { engine_->Stop(reason); }
    void ResetSampleRow() override { engine_->RestartWindowRows(); }
    bool ReadBlank(int sample_count) override { return engine_->ReadBlank(sample_count); }
    bool BlankActive() const override { return engine_->BlankActive(); }

  private:
    // The engine's views: the calibration strip, the run display, the live display, the log and
    // the desk.
    void ShowFrame(bool shown) override;
    void SetTitle(const std::string& text) override;
    void SetStatus(const std::string& text) override;
    void ScaleProgress(double x_max, double y_max) override;
    void ClearProgress() override;
    void DrawProgress(double x) override;
    void ShowExperimentName(const std::string& name) override;
    std::string Description() override;
    void OpenSetupWindow() override;
    // The device test locks Start while it runs (LockCommands): no test runs when a run starts.
    void StopSelfTest() override {}
    void ShowCommands(const RunCommands& commands) override;
    void PrepareActivityView() override;
    void ClearSignalView(std::size_t rt_buffer) override;
    void ShowTemperature(const std::string& label) override;
    void ShowOutputs(int code) override;
    void ShowElapsed(const std::string& text, double percent) override;
    void RedrawLivePlot() override;
    void WindowClosed(std::int32_t number, double sample_period) override;
    void ShowCalibrating(bool shown) override;
    void SetCalibratingText(const std::string& text) override;
    void SetSamplingTimer(bool enabled) override;
    void ShowAlarm(const std::string& text) override;
    bool UserDefinedReport() override;
    void OpenReportWindow() override;
    void OpenTextFile(const std::filesystem::path& file) override;
    void LogEvent(const std::string& line) override;
    void ShowStatusLine(const std::string& text) override;
    void ShowExpectedEnd(const std::optional<LocalDateTime>& end) override;
    std::string FormatDateTime(const LocalDateTime& t) override;

    void Arm(int delay_ms);

    AppContext& ctx_;
    AcquisitionDisplay& display_;
    ReportOpener report_;
    AutoActionStrip& strip_;
    LiveView& live_;
    QTimer* Timeradq;
    // While a pause holds the time counter nothing ticks, yet the expected end moves on:
    // this 1 s timer moves "Ends about ..." with it.
    QTimer* Timer_endtime;
    QLabel* lbl_alarm;  // in the status bar; empty and hidden while all is well
    PosixFileOps data_files_;
    std::unique_ptr<AcquisitionEngine> engine_;
    bool in_tick_ = false;
};

}  // namespace lumivo::app
