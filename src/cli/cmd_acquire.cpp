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
#include <vector>

#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "cli/notify_options.h"
#include "cli/stop_signals.h"
#include "core/acquisition/acquisition_engine.h"
#include "core/acquisition/record_file_io.h"
#include "core/acquisition/resume.h"
#include "core/common/com_ports.h"
#include "core/control/tool_state.h"
#include "core/device/command_set.h"
#include "core/device/connection.h"
#include "core/notify/notifier.h"
#include "core/platform/install_dir.h"
#include "core/reporting/report/report_run.h"
#include "core/setup/project_ops.h"
#include "core/startup/startup.h"
#include "core/storage/calibration_file.h"
#include "core/storage/file_system.h"
#include "core/storage/project_setup.h"
#include "core/storage/report_config.h"
#include "sim/simulator_host.h"

namespace lumivo::cli {
namespace {

constexpr const char* kCommand = "acquire";

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
class TerminalAcquisitionView final : public RunDisplay,
                                      public LiveDisplay,
                                      public LogSink,
                                      public RunDesk,
                                      public CalibrationView {
  public:
    TerminalAcquisitionView() : tty_(::isatty(2) == 1) {}

    // What a terminal has no place for.
    void ShowExperimentName(const std::string&) override {}
    void ShowCommands(const RunCommands&) override {}
    void ShowOutputs(int) override {}
    void ShowCalibrating(bool) override {}
    void SetCalibratingText(const std::string&) override {}
    void SetSamplingTimer(bool) override {}
    void ShowStatusLine(const std::string&) override {}
    void ShowExpectedEnd(const std::optional<LocalDateTime>&) override {}
    void PrepareActivityView() override {}
    void ClearSignalView(std::size_t) override {}
    void RedrawLivePlot() override {}
    void OpenSetupWindow() override {}
    void StopSelfTest() override {}
    std::string FormatDateTime(const LocalDateTime& t) override { return LocaleDateTimeText(t); }

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
    void WindowClosed(std::int32_t number, double sample_period) override {
        periods_.push_back(sample_period);
        windows_ = number;
        if (!tty_) {
            char period[32];
            std::snprintf(period, sizeof period, "%.3f", sample_period);
            PrintError(kCommand, "window " + std::to_string(number) + " closed at " + elapsed_ +
                                     ": sample period " + period + " s, " + temperature_);
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
    config.channel_well.assign(kChannelCount, -1);
    int wells = 0;
    for (std::size_t c = 0; c < static_cast<std::size_t>(kChannelCount); ++c) {
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

// Why the run ended, for events.log.
std::string StopReason(const StopSignals& signals) {
    return signals.received() == SIGINT ? "SIGINT was received" : "SIGTERM was received";
}

std::string Milliseconds(double seconds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f ms", seconds * 1000.0);
    return buf;
}

struct AcquireOptions {
    std::optional<int> com;             // --com N, or the simulated instrument
    std::optional<std::string> resume;  // --resume ACQ_FOLDER|latest
    int project = 0;
    std::string name;
    std::optional<long long> lapse;
    std::string description;
    bool body_bends = false;
    bool no_calibration = false;
    bool yes = false;
    std::int64_t interval_us = 0;  // the shortest time from one tick to the next
};

AcquireOptions TakeAcquireOptions(Args& args) {
    AcquireOptions o;
    o.com = args.TakeComPort();
    const bool simulate = args.TakeFlag("simulate");
    const auto project_number = args.TakeInt("project", 0, kLastProjectNumber);
    const auto name = args.TakeOption("name");
    o.lapse = args.TakeInt("lapse", kMinAqLapse, kMaxAqLapse);
    o.description = args.TakeOption("description").value_or("");
    o.body_bends = args.TakeFlag("body-bends");
    o.no_calibration = args.TakeFlag("no-calibration");
    const auto tick_ms = args.TakeInt("tick-ms", 0, 1000);
    o.yes = args.TakeFlag("yes");
    o.resume = args.TakeOption("resume");
    args.ExpectEnd();
    if (o.com.has_value() == simulate) throw UsageError("give either --com N or --simulate");
    if (o.resume) {
        if (project_number || name || o.lapse || o.body_bends || !o.description.empty())
            throw UsageError(
                "--resume goes on with the project, name, lapse and settings of the "
                "acquisition: give none of --project, --name, --lapse, --description and "
                "--body-bends");
        if (o.resume->empty()) throw UsageError("--resume needs ACQ_FOLDER or \"latest\"");
    } else {
        if (!project_number) throw UsageError("--project N is missing");
        if (!name) throw UsageError("--name NAME is missing (an empty name records nothing)");
        o.project = static_cast<int>(*project_number);
        o.name = *name;
    }
    o.interval_us = tick_ms.value_or(kTimeradqIntervalMs) * 1000;
    return o;
}

// The project to record, with the lapse of the command line; false after saying why not.
bool OpenProject(StorageContext& storage, AppState& app, const AcquireOptions& o) {
    const ProjectOpening opened = OpenProjectToRecord(storage, app, o.project);
    if (!opened.exists) {
        PrintError(kCommand, "project " + std::to_string(o.project) + " does not exist (" +
                                 opened.folder.string() + " has no setup.dat)");
        return false;
    }
    if (opened.failure) {
        PrintError(kCommand, StoredProjectFailure(o.project, *opened.failure));
        return false;
    }
    if (o.lapse) app.project.Setup.Aq_lapse = static_cast<std::int16_t>(*o.lapse);
    return true;
}

// The settings the engine records with, as the main window loads them: its tool settings (the
// calibration and zero at the start left out with --no-calibration) and the channels' last
// calibration.
void LoadRecordingTools(StorageContext& storage, AppState& app, bool no_calibration,
                        ToolState& tools) {
    LoadToolSettings(app.project, tools);
    if (no_calibration) {
        tools.calibration.AutoCalibrateOnStart = false;
        tools.calibration.AutoZeroOnStart = false;
    }
    if (storage.files.IsFile(storage.install_dir / kCalibrationFileName)) {
        try {
            LoadCalibration(storage, tools.cal);
        } catch (const StorageError& e) {
            PrintError(kCommand, e.what());
        }
    }
}

void SayWhatIsRecorded(const AcquisitionEngine& engine, const AppState& app) {
    if (engine.State().RecordingOn) {
        const bool resumed = engine.Sampling().windows_recorded > 0;
        std::cout << (resumed ? "resuming \"" : "recording \"") << engine.State().ExperimentName
                  << "\" of project " << app.config.Actual_Project_Number << "_"
                  << app.project.Setup.Name << " for " << app.project.Setup.Aq_lapse << " min into "
                  << engine.State().AcquisitionFolder.string();
        if (resumed) {
            std::cout << " from minute " << engine.Sampling().ElapsedMinutes << " ("
                      << engine.Sampling().windows_recorded << " windows on disk)";
        }
        std::cout << "\n" << std::flush;
    } else {
        std::cout << "monitor run (nothing is recorded) for " << app.project.Setup.Aq_lapse
                  << " min\n"
                  << std::flush;
    }
}

// Timeradq: a tick at most every `interval_us`; a longer tick delays the next one. A stop
// signal stops the run between ticks.
void RunTicks(AcquisitionEngine& engine, Clock& clock, StopSignals& signals,
              std::int64_t interval_us) {
    while (engine.Running()) {
        if (!engine.SamplingOn()) {
            if (signals.Wait(100'000) != 0) engine.Stop(StopReason(signals));
            continue;
        }
        const std::int64_t begin = clock.MonotonicMicros();
        engine.Tick();
        if (!engine.Running()) break;
        const std::int64_t rest = interval_us - (clock.MonotonicMicros() - begin);
        if (signals.received() == 0 && signals.Wait(std::max<std::int64_t>(rest, 0)) != 0) {
            engine.Stop(StopReason(signals));
        }
    }
}

// The run's figures on stderr and the acquisition folder on stdout.
void PrintRunSummary(const AcquisitionEngine& engine, const TerminalAcquisitionView& view,
                     FileSystem& files) {
    const SamplingState& s = engine.Sampling();
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
    if (engine.State().RecordingOn) {
        if (files.IsFolder(engine.State().AcquisitionFolder)) {
            std::cout << "acquisition folder: " << engine.State().AcquisitionFolder.string()
                      << "\n";
        } else {
            std::cerr << "lumivo-cli " << kCommand
                      << ": nothing was recorded; the empty acquisition folder was removed\n";
        }
    }
}

// The exit status: 128 + the signal that stopped the run; 1 when the run lost windows or its
// reports could not be written (it did not succeed); 0 otherwise.
int RunStatus(const AcquisitionEngine& engine, const StopSignals& signals,
              const std::optional<reporting::ReportOutcome>& report) {
    if (signals.received() != 0) {
        std::cerr << "lumivo-cli " << kCommand << ": stopped by "
                  << (signals.received() == SIGINT ? "SIGINT" : "SIGTERM") << "; "
                  << engine.Sampling().windows_recorded << " complete windows are on disk\n";
        return 128 + signals.received();
    }
    bool failed = !engine.State().finished_at_lapse;
    if (engine.WindowsLost() > 0) {
        std::cerr << "lumivo-cli " << kCommand << ": " << engine.RunSummary()
                  << ": the recording is incomplete (see events.log)\n";
        failed = true;
    }
    if (!engine.State().quick_report_error.empty()) {
        std::cerr << "lumivo-cli " << kCommand << ": " << engine.State().quick_report_error << "\n";
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

}  // namespace

// The interrupted acquisition --resume names, with its project: "latest" is the newest one of
// the current project (config.dat) whose lapse has not ended. nullopt after saying why not.
std::optional<std::filesystem::path> FolderToResume(StorageContext& storage, Clock& clock,
                                                    AcquireOptions& o) {
    namespace fs = std::filesystem;
    if (*o.resume == kResumeLatest) {
        GlobalConfig config;
        if (ConfigFileExists(storage)) LoadConfig(storage, config);
        o.project = config.Actual_Project_Number;
        const fs::path project = ProjectFolderFor(storage.install_dir, o.project);
        if (o.project == 0) {
            PrintError(kCommand,
                       "the current project is the default project 0, which is never "
                       "recorded: give the acquisition folder to resume");
            return std::nullopt;
        }
        const auto found = FindInterruptedAcquisition(storage, project, clock.Now());
        if (!found) {
            PrintError(kCommand, "project " + std::to_string(o.project) + " (" + project.string() +
                                     ") has no interrupted acquisition whose lapse has not "
                                     "ended: nothing to resume");
            return std::nullopt;
        }
        return found->folder;
    }
    const fs::path given = AcquisitionFolderArgument(storage.install_dir, *o.resume);
    const auto number = ProjectNumberOfFolder(given.parent_path().filename().string());
    std::error_code ec;
    if (!number ||
        !fs::equivalent(given.parent_path(), ProjectFolderFor(storage.install_dir, *number), ec)) {
        PrintError(kCommand, given.string() + " does not lie in a project folder (pNNNNN) of " +
                                 storage.install_dir.string() +
                                 ": give an acquisition folder of this installation (or "
                                 "--install its folder)");
        return std::nullopt;
    }
    o.project = *number;
    const fs::path folder = ProjectFolderFor(storage.install_dir, *number) / given.filename();
    const ResumeCheck check = CheckInterruptedAcquisition(storage, folder, clock.Now());
    if (!check.run) {
        PrintError(kCommand, check.refusal);
        return std::nullopt;
    }
    return folder;
}

int RunAcquire(Args& args) {
    // The notification settings (notify.dat, and the options that change them for this run).
    std::optional<notify::NotifySettings> notify_settings;
    {
        DefaultAnswerDialogs quiet;
        LocalFileSystem notify_files;
        StorageContext notify_storage{args.install_dir(), quiet, notify_files, {}};
        notify_settings = TakeNotifySettings(args, notify_storage, kCommand);
    }
    AcquireOptions options = TakeAcquireOptions(args);
    if (!notify_settings) return 1;
    // Blocked before any thread starts, so the simulator's thread never takes them.
    StopSignals signals;

    SystemClock clock;
    // The only question a named run can ask is whether to go on with too little disk space:
    // No, unless --yes was given.
    OptionDialogs dialogs(kCommand, "--yes");
    dialogs.yes = options.yes;
    dialogs.ok_always = true;
    LocalFileSystem files;
    StorageContext storage{args.install_dir(), dialogs, files, {}};
    AppState app;
    std::optional<std::filesystem::path> resume;
    if (options.resume) {
        resume = FolderToResume(storage, clock, options);
        if (!resume) return 1;
    }
    if (!OpenProject(storage, app, options)) return 1;

    std::unique_ptr<sim::SimulatorHost> simulator;
    const int port = options.com.value_or(1);
    std::string device = ComPortName(port);
    if (!options.com) {
        simulator = std::make_unique<sim::SimulatorHost>(
            SimulatedPlate(app.plate), sim::PtyServerOptions{}, [](const std::string& reason) {
                PrintError(kCommand, "simulated instrument: " + reason);
            });
        device = simulator->device().string();
    }
    DeviceLink link(clock, dialogs, TerminalDeviceOpener(args.install_dir()));
    if (!OpenInstrumentPort(kCommand, link, args.install_dir(), port, device)) return 1;
    AcceptInstrument(link, app.connection);
    struct ClosePort {
        DeviceLink& link;
        int port;
        ~ClosePort() { CommClose(link.ports, port); }
    } close_port{link, port};

    ToolState tools;
    LoadRecordingTools(storage, app, options.no_calibration, tools);
    TerminalAcquisitionView view;
    view.description = options.description;
    PosixFileOps data_files;
    AcquisitionEngine engine(AcquisitionContext{link, storage, app, tools.calibration,
                                                tools.climate, tools.cal,
                                                AcquisitionViews::Of(view), data_files});
    std::unique_ptr<notify::Notifier> notifier;
    if (notify_settings->any()) {
        notifier = std::make_unique<notify::Notifier>(*notify_settings);
        engine.SetNotices(notifier.get());
    }
    // With the user-defined report settings on, the end of the run makes the report by itself.
    std::optional<reporting::ReportOutcome> report;
    if (files.IsFile(args.install_dir() / kReportConfigFileName) &&
        LoadReportConfig(storage, app.report, 1) == 1) {
        view.automatic_report = [&] {
            reporting::ReportEnvironment env{storage, clock};
            report = reporting::ReportAfterAcquisition(env, app.report, true,
                                                       engine.State().AcquisitionFolder,
                                                       std::to_string(app.report.config.Bin), {});
        };
    }
    dialogs.before_message = [&view] { view.EndLine(); };
    dialogs.process_events = [&] {
        if (signals.received() == 0 && signals.Wait(0) != 0) engine.Stop(StopReason(signals));
    };

    StartOptions start;
    start.name = options.name;
    start.body_bends = options.body_bends;
    const StartOutcome started =
        resume ? engine.ResumeAcquisition(*resume) : engine.StartAcquisition(start);
    if (started != StartOutcome::Started) {
        view.EndLine();
        PrintError(kCommand, "the acquisition did not start");
        if (notifier && notifier->WaitIdle(std::chrono::minutes(3)))
            for (const std::string& r : notifier->TakeReports()) PrintError(kCommand, r);
        return signals.received() != 0 ? 128 + signals.received() : 1;
    }
    SayWhatIsRecorded(engine, app);
    RunTicks(engine, clock, signals, options.interval_us);
    view.EndLine();
    if (notifier) {
        // The end of the run is told before the program goes.
        if (!notifier->WaitIdle(std::chrono::minutes(3)))
            PrintError(kCommand, "notifications still being sent were given up");
        for (const std::string& r : notifier->TakeReports()) PrintError(kCommand, r);
    }
    PrintRunSummary(engine, view, files);
    return RunStatus(engine, signals, report);
}

}  // namespace lumivo::cli
