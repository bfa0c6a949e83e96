// What a run shows and asks of its front end, in four small roles: the run display (times,
// temperature, alarm, the commands it allows), the live display (the plots, which read the
// rows and windows the engine hands over through its SampleSink), the run's log and the desk
// (the description, the windows and files it opens, how the date is written). The calibration
// strip is the control layer's CalibrationView. A window or the terminal implements the roles;
// one object may play them all (AcquisitionViews::Of).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/acquisition/acquisition_state.h"
#include "core/control/control_context.h"
#include "core/platform/ui_port.h"

namespace lumivo {

class RunDisplay {
  public:
    virtual ~RunDisplay() = default;
    // The experiment box (txt_subproject).
    virtual void ShowExperimentName(const std::string& name) = 0;
    virtual void ShowCommands(const RunCommands& commands) = 0;
    // lbl_temperature.
    virtual void ShowTemperature(const std::string& label) = 0;
    // The light and temperature panels after the outputs were sent.
    virtual void ShowOutputs(int code) = 0;
    // Txt_time and the progress bar picturetime (percent of the lapse, 0..100 and beyond).
    virtual void ShowElapsed(const std::string& text, double percent) = 0;
    // lblcalibrando.
    virtual void ShowCalibrating(bool shown) = 0;
    virtual void SetCalibratingText(const std::string& text) = 0;
    // The host's sampling timer (Timeradq) switched on or off.
    virtual void SetSamplingTimer(bool enabled) = 0;
    // The alarm line: the instrument stopped answering, or a window could not be written.
    // An empty text clears it.
    virtual void ShowAlarm(const std::string& text) = 0;
    // The status line: how the run ended, what went wrong while nobody watched.
    virtual void ShowStatusLine(const std::string& text) = 0;
    // The expected end of the active acquisition; nullopt when no run is active.
    virtual void ShowExpectedEnd(const std::optional<LocalDateTime>& end) = 0;
};

class LiveDisplay {
  public:
    virtual ~LiveDisplay() = default;
    // Clears and rescales the activity plot (Picact) for the current display mode.
    virtual void PrepareActivityView() = 0;
    // Clears the signal view (Picreal: 0..rt_buffer + 20 by 0..2100) and the time axis.
    virtual void ClearSignalView(std::size_t rt_buffer) = 0;
    // The loop's display interval came round: a display that draws on request draws now.
    virtual void RedrawLivePlot() = 0;
    // Window `number` (1 for the first of the run) closed after its records were written, its
    // readings `sample_period` seconds apart.
    virtual void WindowClosed(std::int32_t number, double sample_period) = 0;
};

class LogSink {
  public:
    virtual ~LogSink() = default;
    // One event of the run as events.log has it (date, time, text): the log panel.
    virtual void LogEvent(const std::string& line) = 0;
};

class RunDesk {
  public:
    virtual ~RunDesk() = default;
    // The text of the description box (Txt_description).
    virtual std::string Description() = 0;
    // The project setup window.
    virtual void OpenSetupWindow() = 0;
    // Stops the device test (Timer_test) before a run takes the instrument.
    virtual void StopSelfTest() = 0;
    // Report > User Defined BIN size (mn_userbin): the run's end opens the report window
    // instead of the notice.
    virtual bool UserDefinedReport() = 0;
    virtual void OpenReportWindow() = 0;
    // Shows a text file to the user (the system's text editor).
    virtual void OpenTextFile(const std::filesystem::path& file) = 0;
    // The date and time as the user's locale writes them (the quick report's first line).
    virtual std::string FormatDateTime(const LocalDateTime& t) = 0;
};

// The front end of a run, role by role.
struct AcquisitionViews {
    RunDisplay& display;
    LiveDisplay& live;
    LogSink& log;
    RunDesk& desk;
    CalibrationView& strip;  // frm_autotext, lbl_autotext, lbl_autochannel, picturecal

    // One object that plays every role (a window, the terminal, a test's recorder).
    template <class T>
    static AcquisitionViews Of(T& v) {
        return {v, v, v, v, v};
    }
};

// A front end that shows nothing and asks nothing: a headless run whose only output is its
// files (the benchmarks, the fuzzer).
class SilentViews final : public RunDisplay,
                          public LiveDisplay,
                          public LogSink,
                          public RunDesk,
                          public CalibrationView {
  public:
    void ShowExperimentName(const std::string&) override {}
    void ShowCommands(const RunCommands&) override {}
    void ShowTemperature(const std::string&) override {}
    void ShowOutputs(int) override {}
    void ShowElapsed(const std::string&, double) override {}
    void ShowCalibrating(bool) override {}
    void SetCalibratingText(const std::string&) override {}
    void SetSamplingTimer(bool) override {}
    void ShowAlarm(const std::string&) override {}
    void ShowStatusLine(const std::string&) override {}
    void ShowExpectedEnd(const std::optional<LocalDateTime>&) override {}
    void PrepareActivityView() override {}
    void ClearSignalView(std::size_t) override {}
    void RedrawLivePlot() override {}
    void WindowClosed(std::int32_t, double) override {}
    void LogEvent(const std::string&) override {}
    std::string Description() override { return {}; }
    void OpenSetupWindow() override {}
    void StopSelfTest() override {}
    bool UserDefinedReport() override { return false; }
    void OpenReportWindow() override {}
    void OpenTextFile(const std::filesystem::path&) override {}
    std::string FormatDateTime(const LocalDateTime& t) override { return LocaleDateTimeText(t); }
};

}  // namespace lumivo
