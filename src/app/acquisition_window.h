// The main window's acquisition: the handlers of "Start Acquisition" (CmdPlay), "Pause"
// (CmdPause) and "Stop Acquisition" (CmdStop), the sampling timer Timeradq and the alarm line.
// The work is done by the acquisition engine (src/core/acquisition); this class shows what the
// engine tells its view on the main window's controls.
//
// Timeradq is a single-shot timer re-armed after each tick, measured from the tick's start:
// ticks come every 30 ms, or back to back when a tick takes longer (the serial exchange of a
// full reading takes about 70 ms), and a tick is never re-entered, also not from the window
// events that a long tick lets run. Between two ticks the event loop runs.
//
// Created by Frm_Main (as its child) once its controls and hooks exist.
#pragma once

#include <QLabel>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>

#include "core/acquisition/acquisition_engine.h"
#include "core/acquisition/record_file_io.h"
#include "core/storage/calibration_file.h"

namespace lumivo::app {

class Frm_Main;

class AcquisitionWindow : public QObject, private AcquisitionView {
    Q_OBJECT
  public:
    explicit AcquisitionWindow(Frm_Main& main);
    ~AcquisitionWindow() override;

    // CmdPlay_Click; `autorun` when the program was started with "/RUN".
    void Start(bool autorun);
    void CmdPause_Click();
    void CmdStop_Click();
    void Timeradq_Timer();

    // An acquisition runs or is paused.
    bool Acquiring() const { return engine_->Running(); }
    AcquisitionEngine& engine() { return *engine_; }

    QTimer* Timeradq;
    QLabel* lbl_alarm;  // in the status bar; empty and hidden while all is well

  private:
    // AcquisitionView.
    void ShowFrame(bool shown) override;
    void SetTitle(const std::string& text) override;
    void SetStatus(const std::string& text) override;
    void ScaleProgress(double x_max, double y_max) override;
    void ClearProgress() override;
    void DrawProgress(double x) override;
    void ShowExperimentName(const std::string& name) override;
    std::string Description() override;
    void OpenSetupWindow() override;
    void SetControls(const AcquisitionControls& controls) override;
    void PrepareActivityView() override;
    void ClearSignalView(std::size_t rt_buffer) override;
    void ShowTemperature(const std::string& label) override;
    void ShowOutputs(int code) override;
    void ShowElapsed(const std::string& text, double percent) override;
    void RedrawLivePlot() override;
    void WindowClosed(const SamplingState& sampling) override;
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

    Frm_Main& main_;
    PosixFileOps data_files_;
    CalibrationValues own_calibration_;  // PinHole and Gain when no control panels exist
    std::unique_ptr<AcquisitionEngine> engine_;
    bool in_tick_ = false;
};

}  // namespace lumivo::app
