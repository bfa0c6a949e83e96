// lumivo-cli acquire: records an experiment headless with the acquisition engine of the desktop
// program (start, sampling loop, window close, records, quick report), with a progress line
// on stderr. SIGINT and SIGTERM stop it like the "Stop Acquisition" button: every window
// closed so far is on disk, the window in progress is dropped.
//
// --simulate serves the built-in simulated instrument on a pseudo-terminal from a thread of
// this process and opens that terminal as the port, so the samples travel the real serial
// path at the instrument's line rate.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "cli/stop_signals.h"
#include "core/acquisition/acquisition_engine.h"
#include "core/acquisition/record_file_io.h"
#include "core/device/command_set.h"
#include "core/install_dir.h"
#include "core/reporting/report_run.h"
#include "core/setup/project_ops.h"
#include "core/storage/calibration_file.h"
#include "core/storage/config_file.h"
#include "core/storage/field_record.h"
#include "core/storage/file_system.h"
#include "core/storage/project_setup.h"
#include "core/storage/report_config.h"
#include "sim/instrument.h"
#include "sim/pty_server.h"

namespace lumivo::cli {
namespace {

constexpr const char* kCommand = "acquire";

// Messages go to stderr. The only question a named run can ask is whether to go on with too
// little disk space: No, unless --yes was given.
class AcquireDialogs final : public CliDialogs {
  public:
    AcquireDialogs() : CliDialogs(kCommand) {}
    std::optional<std::string> InputBox(const std::string&, const std::string&,
                                        const std::string&) override {
        return std::nullopt;
    }
    void ProcessEvents() override {
        if (process_events) process_events();
    }

    bool answer_yes = false;
    std::function<void()> process_events;

  protected:
    MsgResult Answer(MsgButtons buttons) override {
        if (buttons == MsgButtons::Ok || buttons == MsgButtons::OkCancel) return MsgResult::Ok;
        Print(answer_yes ? "answered Yes" : "answered No (--yes answers Yes)");
        return answer_yes ? MsgResult::Yes : MsgResult::No;
    }
};

std::string WithoutDigits(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c < '0' || c > '9') out += c;
    }
    return out;
}

// The progress of the run on stderr: on a terminal one line redrawn in place (bar, elapsed
// time, windows, temperature); otherwise a line per closed window. Calibration and alarm
// texts get lines of their own whenever their kind changes.
class TerminalAcquisitionView final : public AcquisitionView {
  public:
    TerminalAcquisitionView() : tty_(::isatty(2) == 1) {}

    void SetTitle(const std::string& text) override {
        // A new phase (calibration, auto-zero, adjustment, pause): its texts show again.
        noted_.clear();
        Note(text);
    }
    void SetStatus(const std::string& text) override { Note(text); }
    void ShowTemperature(const std::string& label) override { temperature_ = label; }
    void ShowElapsed(const std::string& text, double percent) override {
        elapsed_ = text;
        percent_ = percent;
        if (tty_) Draw();
    }
    void WindowClosed(const SamplingState& s) override {
        periods_.push_back(s.SamplePeriod);
        windows_ = s.windows_closed;
        if (!tty_) {
            char period[32];
            std::snprintf(period, sizeof period, "%.3f", s.SamplePeriod);
            PrintError(kCommand, "window " + std::to_string(s.windows_closed) + " closed at " +
                                     elapsed_ + ": sample period " + period + " s, " +
                                     temperature_);
        }
    }
    void ShowAlarm(const std::string& text) override {
        if (WithoutDigits(text) == alarm_kind_) return;
        alarm_kind_ = WithoutDigits(text);
        EndLine();
        PrintError(kCommand, text.empty()
                                 ? std::string("alarm cleared: the instrument answers again")
                                 : "ALARM: " + text);
    }
    std::string Description() override { return description; }
    void OpenTextFile(const std::filesystem::path& file) override {
        EndLine();
        std::cout << "quick report: " << file.string() << "\n";
    }
    void LogEvent(const std::string& line) override {
        EndLine();
        std::cerr << "lumivo-cli " << kCommand << ": event: " << line << "\n";
    }
    // The end of a recorded run with the user-defined report settings: the report is made at
    // once, as the desktop program makes it.
    bool UserDefinedReport() override { return automatic_report != nullptr; }
    void OpenReportWindow() override {
        if (automatic_report) automatic_report();
    }

    // Ends the redrawn line so what follows starts on a fresh one.
    void EndLine() {
        if (tty_ && drawn_) std::cerr << "\n";
        drawn_ = false;
    }

    const std::vector<double>& periods() const { return periods_; }

    std::string description;  // Txt_description
    std::function<void()> automatic_report;

  private:
    // Each kind of status text (its text without the numbers) is written once per phase, so
    // the passes of a calibration do not fill the log.
    void Note(const std::string& text) {
        if (text.empty() || !noted_.insert(WithoutDigits(text)).second) return;
        EndLine();
        PrintError(kCommand, text);
    }
    void Draw() {
        constexpr int kWidth = 30;
        const double f = std::clamp(percent_ / 100.0, 0.0, 1.0);
        const int filled = static_cast<int>(f * kWidth + 0.5);
        std::string line = "\r\033[K[" + std::string(static_cast<std::size_t>(filled), '#') +
                           std::string(static_cast<std::size_t>(kWidth - filled), '.') + "] " +
                           elapsed_ + "  windows " + std::to_string(windows_) + "  " + temperature_;
        if (line == last_line_) return;
        last_line_ = line;
        std::cerr << line << std::flush;
        drawn_ = true;
    }

    bool tty_;
    bool drawn_ = false;
    std::string elapsed_ = "00:00:00 [0d]";
    double percent_ = 0.0;
    std::string temperature_;
    int windows_ = 0;
    std::string last_line_;
    std::set<std::string> noted_;
    std::string alarm_kind_;
    std::vector<double> periods_;
};

// The simulated plate of --simulate: the beams of the project's plate map, every fourth well
// empty and the others holding animals of three activity levels.
sim::SimConfig SimulatedPlate(const PlateMap& plate) {
    sim::SimConfig config;
    config.channel_well.assign(sim::kChannelCount, -1);
    int wells = 0;
    for (std::size_t c = 0; c < static_cast<std::size_t>(sim::kChannelCount); ++c) {
        config.channel_well[c] = plate.ChannelWell[c];
        wells = std::max(wells, plate.ChannelWell[c] + 1);
    }
    config.well_activity.assign(static_cast<std::size_t>(wells), 0.0);
    for (int w = 0; w < wells; ++w) {
        config.well_activity[static_cast<std::size_t>(w)] = 0.25 * (w % 4);
    }
    config.default_activity = 0.0;
    return config;
}

// The simulated instrument served from a thread of this process.
class InProcessSimulator {
  public:
    explicit InProcessSimulator(const PlateMap& plate)
        : instrument_(SimulatedPlate(plate)), server_(instrument_, sim::PtyServerOptions{}) {
        thread_ = std::thread([this] {
            try {
                server_.Run();
            } catch (const std::exception& e) {
                std::cerr << "lumivo-cli " << kCommand << ": simulated instrument: " << e.what()
                          << "\n";
            }
        });
    }
    ~InProcessSimulator() {
        server_.RequestStop();
        thread_.join();
    }
    InProcessSimulator(const InProcessSimulator&) = delete;
    InProcessSimulator& operator=(const InProcessSimulator&) = delete;

    std::string device() const { return server_.SlavePath().string(); }

  private:
    sim::Instrument instrument_;
    sim::PtyServer server_;
    std::thread thread_;
};

// Why the run ended, for events.log.
std::string StopReason(const StopSignals& signals) {
    return signals.received() == SIGINT ? "SIGINT was received" : "SIGTERM was received";
}

std::string Milliseconds(double seconds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f ms", seconds * 1000.0);
    return buf;
}

}  // namespace

int RunAcquire(Args& args) {
    const auto com = args.TakeInt("com", 1, 16);
    const bool simulate = args.TakeFlag("simulate");
    const auto project_number = args.TakeInt("project", 0, kLastProjectNumber);
    const auto name = args.TakeOption("name");
    const auto lapse = args.TakeInt("lapse", kMinAqLapse, kMaxAqLapse);
    const auto description = args.TakeOption("description");
    const bool body_bends = args.TakeFlag("body-bends");
    const bool no_calibration = args.TakeFlag("no-calibration");
    const auto tick_ms = args.TakeInt("tick-ms", 0, 1000);
    const bool yes = args.TakeFlag("yes");
    args.ExpectEnd();
    if (com.has_value() == simulate) throw UsageError("give either --com N or --simulate");
    if (!project_number) throw UsageError("--project N is missing");
    if (!name) throw UsageError("--name NAME is missing (an empty name records nothing)");
    const std::int64_t interval_us = tick_ms.value_or(kTimeradqIntervalMs) * 1000;

    // Blocked before any thread starts, so the simulator's thread never takes them.
    StopSignals signals;

    SystemClock clock;
    AcquireDialogs dialogs;
    dialogs.answer_yes = yes;
    LocalFileSystem files;
    StorageContext storage{args.install_dir(), dialogs, files, {}};
    AppState app;
    if (ConfigFileExists(storage)) LoadConfig(storage, app.config);
    const int number = static_cast<int>(*project_number);
    const auto folder = ProjectFolderFor(args.install_dir(), number);
    // Project 0 lives in the installation folder itself; the engine refuses to record it.
    if (number != 0 && !files.IsFile(folder / "setup.dat")) {
        std::cerr << "lumivo-cli " << kCommand << ": project " << number << " does not exist ("
                  << folder.string() << " has no setup.dat)\n";
        return 1;
    }
    app.config.Actual_Project_Number = static_cast<std::int16_t>(number);
    app.project.ProjectFolder = folder;
    // A damaged project is not recorded with defaults: the acquisition would carry them.
    if (!LoadStoredProject(storage, kCommand, number, app.project, app.plate, SetupUse::Recording))
        return 1;
    if (lapse) app.project.Setup.Aq_lapse = static_cast<std::int16_t>(*lapse);

    // The instrument.
    std::unique_ptr<InProcessSimulator> simulator;
    const int port = simulate ? 1 : static_cast<int>(*com);
    std::string device = "COM" + std::to_string(port);
    if (simulate) {
        simulator = std::make_unique<InProcessSimulator>(app.plate);
        device = simulator->device();
    }
    DeviceLink link(clock, dialogs, TerminalDeviceOpener(args.install_dir()));
    link.ComPortNumber = static_cast<std::int16_t>(port);
    if (CommOpen(link.ports, port, device, kInstrumentPortSettings) != 0) {
        PrintError(kCommand, PortOpenFailure(args.install_dir(), port, device, link.ports.error));
        return 1;
    }
    struct ClosePort {
        DeviceLink& link;
        int port;
        ~ClosePort() { CommClose(link.ports, port); }
    } close_port{link, port};
    const int serial = ReadSerialNumber(link, port);
    if (serial < 0) {
        PrintError(kCommand, NoInstrumentAnswer(args.install_dir(), port, device));
        return 1;
    }
    link.SerialNumber = static_cast<std::int16_t>(serial);
    ReadSensorCalibration(link);
    app.connection.OfflineMode = 0;
    app.connection.InstrumentConnected = -1;

    // The main window's tool settings, as it loads them.
    CalibrationControls controls;
    LoadCalibrationControls(controls, app.project);
    if (no_calibration) {
        controls.AutoCalibrateOnStart = false;
        controls.AutoZeroOnStart = false;
    }
    ClimateState climate;
    LoadClimateSettings(app.project, climate);
    CalibrationValues cal;
    if (files.IsFile(args.install_dir() / kCalibrationFileName)) {
        try {
            LoadCalibration(storage, cal);
        } catch (const StorageError& e) {
            std::cerr << "lumivo-cli " << kCommand << ": " << e.what() << "\n";
        }
    }

    TerminalAcquisitionView view;
    view.description = description.value_or("");
    PosixFileOps data_files;
    AcquisitionEngine engine(
        AcquisitionContext{link, storage, app, controls, climate, cal, view, data_files});
    // With the user-defined report settings on, the end of the run makes the report by itself.
    std::optional<reporting::ReportOutcome> report;
    if (files.IsFile(args.install_dir() / kReportConfigFileName) &&
        LoadReportConfig(storage, app.report, 1) == 1) {
        view.automatic_report = [&] {
            reporting::ReportEnvironment env{storage, clock};
            report = reporting::ReportAfterAcquisition(env, app.report, true,
                                                       engine.state.AcquisitionFolder,
                                                       std::to_string(app.report.config.Bin), {});
        };
    }
    dialogs.before_message = [&view] { view.EndLine(); };
    dialogs.process_events = [&] {
        if (signals.received() == 0 && signals.Wait(0) != 0)
            engine.CmdStop_Click(StopReason(signals));
    };

    StartOptions options;
    options.name = *name;
    options.body_bends = body_bends;
    const StartOutcome started = engine.StartAcquisition(options);
    if (started != StartOutcome::Started) {
        view.EndLine();
        std::cerr << "lumivo-cli " << kCommand << ": the acquisition did not start\n";
        return signals.received() != 0 ? 128 + signals.received() : 1;
    }
    if (engine.state.RecordingOn != 0) {
        std::cout << "recording \"" << engine.state.ExperimentName << "\" of project "
                  << app.config.Actual_Project_Number << "_" << app.project.Setup.Name << " for "
                  << app.project.Setup.Aq_lapse << " min into "
                  << engine.state.AcquisitionFolder.string() << "\n"
                  << std::flush;
    } else {
        std::cout << "monitor run (nothing is recorded) for " << app.project.Setup.Aq_lapse
                  << " min\n"
                  << std::flush;
    }

    // Timeradq: a tick at most every interval; a longer tick delays the next one.
    while (engine.Running()) {
        if (!engine.TimerEnabled()) {
            if (signals.Wait(100'000) != 0) engine.CmdStop_Click(StopReason(signals));
            continue;
        }
        const std::int64_t begin = clock.MonotonicMicros();
        engine.Tick();
        if (!engine.Running()) break;
        const std::int64_t rest = interval_us - (clock.MonotonicMicros() - begin);
        if (signals.received() == 0 && signals.Wait(std::max<std::int64_t>(rest, 0)) != 0) {
            engine.CmdStop_Click(StopReason(signals));
        }
    }
    view.EndLine();

    const SamplingState& s = engine.sampling;
    const auto& periods = view.periods();
    std::cerr << "lumivo-cli " << kCommand << ": " << s.windows_recorded << " windows recorded ("
              << s.windows_closed << " closed), " << s.ticks << " ticks";
    if (!periods.empty()) {
        const auto [lo, hi] = std::minmax_element(periods.begin(), periods.end());
        double sum = 0.0;
        for (double p : periods) sum += p;
        std::cerr << "; sample period " << Milliseconds(sum / static_cast<double>(periods.size()))
                  << " (" << Milliseconds(*lo) << " .. " << Milliseconds(*hi) << ")";
    }
    std::cerr << "; longest tick " << Milliseconds(static_cast<double>(s.longest_tick_us) / 1e6)
              << ", longest window close "
              << Milliseconds(static_cast<double>(s.longest_close_us) / 1e6) << "\n";
    if (!s.last_tick_error.empty()) {
        std::cerr << "lumivo-cli " << kCommand << ": last tick error: " << s.last_tick_error
                  << "\n";
    }
    if (engine.state.RecordingOn != 0) {
        if (files.IsFolder(engine.state.AcquisitionFolder)) {
            std::cout << "acquisition folder: " << engine.state.AcquisitionFolder.string() << "\n";
        } else {
            std::cerr << "lumivo-cli " << kCommand
                      << ": nothing was recorded; the empty acquisition folder was removed\n";
        }
    }
    if (signals.received() != 0) {
        std::cerr << "lumivo-cli " << kCommand << ": stopped by "
                  << (signals.received() == SIGINT ? "SIGINT" : "SIGTERM") << "; "
                  << s.windows_recorded << " complete windows are on disk\n";
        return 128 + signals.received();
    }
    // A run that lost windows, or whose reports could not be written, did not succeed.
    bool failed = !engine.state.finished_at_lapse;
    if (engine.WindowsLost() > 0) {
        std::cerr << "lumivo-cli " << kCommand << ": " << engine.RunSummary()
                  << ": the recording is incomplete (see events.log)\n";
        failed = true;
    }
    if (!engine.state.quick_report_error.empty()) {
        std::cerr << "lumivo-cli " << kCommand << ": " << engine.state.quick_report_error << "\n";
        failed = true;
    }
    if (report && !report->written) {
        std::cerr << "lumivo-cli " << kCommand
                  << ": the automatic report was not written: " << report->failure << "\n";
        failed = true;
    } else if (report && !report->raw_export_failure.empty()) {
        std::cerr << "lumivo-cli " << kCommand
                  << ": the raw data were not exported: " << report->raw_export_failure << "\n";
        failed = true;
    }
    return failed ? 1 : 0;
}

}  // namespace lumivo::cli
