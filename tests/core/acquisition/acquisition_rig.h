// The bench the acquisition tests run on: project 1 of a fresh installation folder on disk, a
// simulated instrument on COM1 reached in-process on a virtual clock, and a view that records
// what the acquisition shows. Every tick of a recording runs without real waiting; its
// virtual duration is what the serial line would take.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/acquisition/acquisition_engine.h"
#include "core/acquisition/data_files.h"
#include "core/device/command_set.h"
#include "core/storage/file_system.h"
#include "core/storage/project_setup.h"
#include "sim/instrument.h"
#include "sim/sim_transport.h"
#include "support/child_process.h"
#include "support/fake_clock.h"
#include "support/scripted_dialogs.h"

namespace lumivo::testing {

// The engine's front end, every role, keeping what it was shown.
class RecordingAcquisitionView final : public RunDisplay,
                                       public LiveDisplay,
                                       public LogSink,
                                       public RunDesk,
                                       public CalibrationView {
  public:
    void ShowOutputs(int) override {}
    void PrepareActivityView() override {}
    void ClearSignalView(std::size_t) override {}
    void RedrawLivePlot() override {}
    void StopSelfTest() override {}
    void ShowFrame(bool shown) override { frame_shown = shown; }
    void SetTitle(const std::string& text) override { title = text; }
    void SetStatus(const std::string& text) override { statuses.push_back(text); }
    void ShowExperimentName(const std::string& name) override { experiment_name = name; }
    std::string Description() override { return description; }
    void OpenSetupWindow() override { ++setup_opened; }
    void ShowCommands(const RunCommands& c) override { controls = c; }
    void ShowTemperature(const std::string& label) override { temperature = label; }
    void ShowElapsed(const std::string& text, double percent) override {
        elapsed_text = text;
        elapsed_percent = percent;
    }
    void WindowClosed(std::int32_t, double) override {
        if (clock != nullptr) window_close_us.push_back(clock->MonotonicMicros());
        if (on_window_closed) on_window_closed();
    }
    void SetSamplingTimer(bool enabled) override { timer_changes.push_back(enabled); }
    void ShowAlarm(const std::string& text) override {
        alarm = text;
        if (!text.empty()) ++alarms_shown;
    }
    bool UserDefinedReport() override { return user_defined_report; }
    void OpenReportWindow() override { ++report_window_opened; }
    void OpenTextFile(const std::filesystem::path& file) override { opened_files.push_back(file); }
    void LogEvent(const std::string& line) override { events.push_back(line); }
    void ShowStatusLine(const std::string& text) override { status_line = text; }
    void ShowExpectedEnd(const std::optional<LocalDateTime>& end) override { expected_end = end; }
    void SetCalibratingText(const std::string& text) override { calibrating_text = text; }
    void ShowCalibrating(bool shown) override { calibrating_shown = shown; }
    std::string FormatDateTime(const LocalDateTime& t) override {
        return "date " + std::to_string(t.day) + "." + std::to_string(t.month) + "." +
               std::to_string(t.year);
    }
    // Whether any event line holds `text`.
    bool Logged(const std::string& text) const {
        for (const auto& e : events) {
            if (e.find(text) != std::string::npos) return true;
        }
        return false;
    }

    Clock* clock = nullptr;
    std::function<void()> on_window_closed;
    bool frame_shown = false;
    std::string title;
    std::vector<std::string> statuses;
    std::string experiment_name;
    std::string description = "plate A, 20 C";
    int setup_opened = 0;
    RunCommands controls;
    std::string temperature;
    std::string elapsed_text;
    double elapsed_percent = 0.0;
    std::vector<std::int64_t> window_close_us;
    std::vector<bool> timer_changes;
    std::string alarm;
    int alarms_shown = 0;
    bool user_defined_report = false;
    int report_window_opened = 0;
    std::vector<std::filesystem::path> opened_files;
    std::vector<std::string> events;
    std::string status_line;
    std::optional<LocalDateTime> expected_end;
    std::string calibrating_text;
    bool calibrating_shown = false;
};

// The engine's live branch: every row read and window closed, passed on to `forward` (a
// hand-over) when one is set, and each row to `on_row` with its reading number.
class HookedSampleSink final : public SampleSink {
  public:
    void BeginRun(const SignalSettings& settings) override {
        if (forward != nullptr) forward->BeginRun(settings);
    }
    void PushRow(std::int64_t reading, std::span<const std::int16_t> row) override {
        if (forward != nullptr) forward->PushRow(reading, row);
        if (on_row) on_row(row, reading);
    }
    void PushWindow(std::shared_ptr<const LiveWindow> window) override {
        if (forward != nullptr) forward->PushWindow(std::move(window));
    }
    SampleSink* forward = nullptr;
    std::function<void(std::span<const std::int16_t>, std::int64_t)> on_row;
};

// The machine's file system with a settable answer to the free-space query.
class DiskWithFreeSpace final : public LocalFileSystem {
  public:
    std::optional<std::uint64_t> FreeBytes(const std::filesystem::path& p) override {
        if (free_bytes) return free_bytes;
        return LocalFileSystem::FreeBytes(p);
    }
    std::optional<std::uint64_t> free_bytes;
};

// Appends that fail while `fail` is set (a full disk).
class FlakyFileOps final : public AppendFileOps {
  public:
    int Open(const std::filesystem::path& path, bool* created) override {
        return real.Open(path, created);
    }
    std::int64_t Size(int handle) override { return real.Size(handle); }
    std::int64_t ReadAt(int handle, void* data, std::size_t size, std::uint64_t offset) override {
        return real.ReadAt(handle, data, size, offset);
    }
    std::int64_t WriteAt(int handle, const void* data, std::size_t size,
                         std::uint64_t offset) override {
        if (fail) return -ENOSPC;
        return real.WriteAt(handle, data, size, offset);
    }
    int Truncate(int handle, std::uint64_t size) override { return real.Truncate(handle, size); }
    int Sync(int handle) override {
        ++syncs;
        return real.Sync(handle);
    }
    int Close(int handle) override { return real.Close(handle); }
    int SyncDirectory(const std::filesystem::path& folder) override {
        return real.SyncDirectory(folder);
    }
    int Remove(const std::filesystem::path& path) override { return real.Remove(path); }

    PosixFileOps real;
    bool fail = false;
    int syncs = 0;
};

// Wells of the w96f plate: even wells are empty, odd wells hold an animal crossing the beams
// `busy_rate` times a second (shared among the well's two beams).
inline sim::SimConfig AlternatingWells(const PlateMap& plate, double busy_rate) {
    sim::SimConfig config;
    config.channel_well.assign(kChannelCount, -1);
    for (std::size_t c = 0; c < static_cast<std::size_t>(kChannelCount); ++c) {
        config.channel_well[c] = plate.ChannelWell[c];
    }
    config.well_activity.assign(96, 0.0);
    for (std::size_t w = 1; w < 96; w += 2) config.well_activity[w] = busy_rate;
    config.default_activity = 0.0;
    return config;
}

// The same on a shipped plate format.
inline sim::SimConfig AlternatingWells(std::string_view plate_format, double busy_rate) {
    PlateMap plate;
    BuildDefaultPlateMap(plate_format, plate);
    return AlternatingWells(plate, busy_rate);
}

struct AcquisitionRig {
    explicit AcquisitionRig(std::optional<sim::SimConfig> config = std::nullopt,
                            std::string plate_format = "w96f")
        : plate_format_(std::move(plate_format)),
          instrument(MakeConfig(std::move(config))),
          socket(&instrument),
          link(clock, dialogs, sim::SimSocketOpener(socket, clock, 1)),
          storage{temp.path(), dialogs, files, [] { return std::string(","); }},
          engine(AcquisitionContext{link, storage, app, controls, climate, cal,
                                    AcquisitionViews::Of(view), file_ops, nullptr, &sink}) {
        view.clock = &clock;
        EXPECT_EQ(CommOpen(link.ports, 1, "COM1", kInstrumentPortSettings), 0);
        app.config.Actual_Project_Number = 1;
        app.connection.InstrumentConnected = true;
        link.SerialNumber = 123;
        app.project.ProjectFolder = ProjectFolderFor(temp.path(), 1);
        std::filesystem::create_directories(app.project.ProjectFolder);
        app.project.Setup.Name = "Rig";
        app.project.Setup.Plate_format = plate_format_;
        app.project.Setup.Aq_lapse = 30;
        app.project.Setup.RT_Buffer = 500;
        app.project.Setup.Save_real = 1;
        app.project.Setup.DSP_Method = 1;
        app.plate = plate_;
        // Automatic calibration off (its stepping has its own tests); auto-zero on.
        controls.AutoCalibrateOnStart = false;
        controls.AutoZeroOnStart = false;
        controls.snr_text = "1.8";
        controls.SnrThreshold = 1.8;
        for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
            cal.PinHole[c] = 2;
            cal.Gain[c] = 3;
        }
    }

    sim::SimConfig MakeConfig(std::optional<sim::SimConfig> config) {
        BuildDefaultPlateMap(plate_format_, plate_);
        return config ? std::move(*config) : AlternatingWells(plate_, 1.5);
    }

    // Starts a recorded run named `name` without the prompt.
    StartOutcome Start(const std::string& name, bool body_bends = false) {
        StartOptions o;
        o.name = name;
        o.body_bends = body_bends;
        return engine.StartAcquisition(o);
    }

    // Pause, answering the question whether the time counter stops.
    void Pause(MsgResult stop_counter) {
        dialogs.QueueAnswer(stop_counter);
        engine.TogglePause();
    }

    // Ticks while the timer is on, until `until` holds or `max_ticks` ticks have run.
    int RunTicks(int max_ticks, const std::function<bool()>& until = {}) {
        int n = 0;
        while (n < max_ticks && engine.SamplingOn()) {
            if (until && until()) break;
            engine.Tick();
            ++n;
        }
        return n;
    }
    // As the program's timer does: ticks at most every kTimeradqIntervalMs of virtual time, for
    // `seconds` (or until `until` holds); a tick that takes longer delays the next one.
    void RunFor(double seconds, const std::function<bool()>& until = {}) {
        const std::int64_t end = clock.MonotonicMicros() + static_cast<std::int64_t>(seconds * 1e6);
        while (clock.MonotonicMicros() < end && engine.Running()) {
            if (until && until()) break;
            const std::int64_t begin = clock.MonotonicMicros();
            if (engine.SamplingOn()) engine.Tick();
            const std::int64_t spent = clock.MonotonicMicros() - begin;
            if (spent < kTimeradqIntervalMs * 1000)
                clock.AdvanceMicros(kTimeradqIntervalMs * 1000 - spent);
        }
    }
    // Ticks until `windows` more windows have closed (or the run stopped).
    void RunWindows(int windows) {
        const int target = engine.Sampling().windows_closed + windows;
        RunTicks(windows * 600 + 10, [&] { return engine.Sampling().windows_closed >= target; });
    }

    std::filesystem::path Folder() const { return engine.State().AcquisitionFolder; }
    std::uintmax_t FileSize(const std::string& name) const {
        std::error_code ec;
        const auto size = std::filesystem::file_size(Folder() / name, ec);
        return ec ? 0 : size;
    }

    std::string plate_format_;
    PlateMap plate_;
    TempFolder temp{"lumivo-acq"};
    FakeClock clock;
    ScriptedDialogs dialogs;
    sim::Instrument instrument;
    // Where the instrument is plugged in: a test pulls it out (its port vanishes) and plugs it
    // or another one back.
    sim::SimSocket socket;
    DeviceLink link;
    DiskWithFreeSpace files;
    StorageContext storage;
    AppState app;
    CalibrationControls controls;
    ClimateState climate;
    CalibrationValues cal;
    RecordingAcquisitionView view;
    HookedSampleSink sink;
    FlakyFileOps file_ops;
    AcquisitionEngine engine;
};

}  // namespace lumivo::testing
