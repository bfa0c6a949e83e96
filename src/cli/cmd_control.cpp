// lumivo-cli calibrate --com N and lumivo-cli zero --com N: the beam calibration and the
// auto-zero of the desktop program, run headless over a port, with a progress bar on stderr.
// The channels in use are those of the current project's plate format (--all: every channel).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "core/common/com_ports.h"
#include "core/control/auto_zero.h"
#include "core/control/channel_calibration.h"
#include "core/control/control_fields.h"
#include "core/control/control_settings.h"
#include "core/control/line_traffic.h"
#include "core/platform/install_dir.h"
#include "core/storage/config_file.h"
#include "core/storage/file_system.h"
#include "core/storage/project_setup.h"

namespace lumivo::cli {
namespace {

// The calibration strip as one terminal line: a bar for the progress box and the status text.
// On a terminal the line is redrawn in place; otherwise a line is written only when the kind
// of status changes (its text without the numbers), so logs stay short.
class TerminalProgress final : public CalibrationView {
  public:
    explicit TerminalProgress(std::string command)
        : command_(std::move(command)), tty_(::isatty(2) == 1) {}

    void ScaleProgress(double x_max, double) override { x_max_ = x_max > 0.0 ? x_max : 1.0; }
    void ClearProgress() override { Update(0.0, status_); }
    void DrawProgress(double x) override { Update(x, status_); }
    void SetStatus(const std::string& text) override { Update(x_, text); }
    void SetTitle(const std::string& text) override { Update(x_, text); }

    // Ends the redrawn line so what follows starts on a fresh one.
    void Finish() {
        if (tty_ && drawn_) std::cerr << "\n";
        drawn_ = false;
    }

  private:
    void Update(double x, const std::string& status) {
        x_ = x;
        status_ = status;
        constexpr int kWidth = 30;
        double f = x_ / x_max_;
        f = f < 0.0 ? 0.0 : (f > 1.0 ? 1.0 : f);
        const int filled = static_cast<int>(f * kWidth + 0.5);
        std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                           std::string(static_cast<std::size_t>(kWidth - filled), '.') + "] " +
                           status_;
        if (tty_) {
            if (line == last_line_) return;
            std::cerr << "\r\033[K" << line << std::flush;
            drawn_ = true;
        } else {
            std::string kind;
            for (char c : status_) {
                if (c < '0' || c > '9') kind += c;
            }
            if (kind == last_kind_) return;
            last_kind_ = kind;
            PrintError(command_, line);
        }
        last_line_ = line;
    }

    std::string command_;
    bool tty_;
    bool drawn_ = false;
    double x_max_ = 383.0;
    double x_ = 0.0;
    std::string status_;
    std::string last_line_;
    std::string last_kind_;
};

// The installation's current project: its tool settings and which channels are in use.
struct CurrentProject {
    GlobalConfig config;
    ProjectState project;
    PlateMap plate;
};

// Loads the current project as it is stored; false (with the reason on stderr) when it cannot.
bool LoadCurrentProject(StorageContext& storage, std::string_view command, CurrentProject& p) {
    LoadConfig(storage, p.config);
    SelectProjectFolder(storage, p.config, p.project);
    return LoadStoredProject(storage, command, p.config.Actual_Project_Number, p.project, p.plate,
                             SetupUse::Reading);
}

// Everything a control command needs: the storage of the installation, the instrument's port
// (counting its traffic) and the terminal's dialogs and progress line.
struct ControlSession {
    SystemClock clock;
    CliDialogs dialogs;
    TerminalProgress progress;
    LocalFileSystem files;
    StorageContext storage;
    LineTraffic traffic;
    DeviceLink link;
    int port;
    std::string command;

    ControlSession(const std::string& cmd, const std::filesystem::path& install, int port_number)
        : dialogs(cmd),
          progress(cmd),
          storage{install, dialogs, files, {}},
          link(clock, dialogs, CountingOpener(TerminalDeviceOpener(install), traffic)),
          port(port_number),
          command(cmd) {
        link.ComPortNumber = static_cast<std::int16_t>(port_number);
        dialogs.before_message = [this] { progress.Finish(); };
    }
    ~ControlSession() { CommClose(link.ports, port); }
    ControlSession(const ControlSession&) = delete;
    ControlSession& operator=(const ControlSession&) = delete;

    // Opens the port and checks that an instrument answers on it; says why not on stderr.
    bool Connect() {
        if (!OpenInstrumentPort(command, link, storage.install_dir, port, ComPortName(port)))
            return false;
        traffic = {};
        return true;
    }

    void ReportTiming(std::chrono::steady_clock::duration elapsed) const {
        const double s = std::chrono::duration<double>(elapsed).count();
        char text[200];
        std::snprintf(text, sizeof text,
                      "%.1f s; line traffic %llu bytes out, %llu bytes in = %.1f s at 115200 "
                      "baud",
                      s, static_cast<unsigned long long>(traffic.bytes_out),
                      static_cast<unsigned long long>(traffic.bytes_in), traffic.WireSeconds());
        std::cerr << "lumivo-cli " << command << ": " << text << "\n";
    }
};

}  // namespace

int RunCalibrate(Args& args) {
    const int port = args.RequireComPort();
    const bool all = args.TakeFlag("all");
    args.ExpectEnd();

    ControlSession s("calibrate", args.install_dir(), port);
    CurrentProject current;
    if (!LoadCurrentProject(s.storage, s.command, current)) return 1;
    std::array<std::int16_t, kChannelTableSize> well = current.plate.ChannelWell;
    if (all) well.fill(0);
    if (!s.Connect()) return 1;

    CalibrationValues cal;
    std::array<std::uint16_t, kChannelTableSize> row{};
    ControlContext ctx{s.link, s.storage, s.progress, {}};
    s.progress.ScaleProgress(383.0, 10.0);
    s.progress.SetTitle(kAutoCalibrationTitle);
    const auto start = std::chrono::steady_clock::now();
    const CalibrationResult r = CalibrateChannels(ctx, cal, well, row);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    s.progress.Finish();

    int in_use = 0;
    for (std::size_t c = 0; c < static_cast<std::size_t>(kChannelCount); ++c) {
        in_use += well[c] >= 0 ? 1 : 0;
    }
    std::cout << "calibration " << RunOutcomeText(r.outcome) << ": " << in_use
              << " channels in use, " << r.CountFinished(ChannelFinish::InWindow)
              << " in the window, " << r.passes << " passes\n";
    for (int ch : r.ChannelsOutsideWindow()) {
        const auto i = static_cast<std::size_t>(ch);
        std::cout << "channel " << ch << ": " << ChannelFinishName(r.finish[i]) << " (PinHole "
                  << cal.PinHole[i] << ", Gain " << cal.Gain[i] << ")\n";
    }
    s.ReportTiming(elapsed);
    return r.outcome == RunOutcome::Completed ? 0 : 1;
}

int RunZero(Args& args) {
    const int port = args.RequireComPort();
    const auto snr_text = args.TakeOption("snr");
    const bool quick = args.TakeFlag("quick");
    args.ExpectEnd();

    ControlSession s("zero", args.install_dir(), port);
    CurrentProject current;
    if (!LoadCurrentProject(s.storage, s.command, current)) return 1;
    CalibrationControls controls;
    LoadCalibrationControls(controls, current.project);
    double snr = controls.SnrThreshold;
    if (snr_text) {
        const FieldCheck check = CheckSnrText(*snr_text);
        if (!check.valid) throw UsageError(std::string("--snr: ") + kInvalidSnrMessage);
        snr = ParseNumericText(*snr_text).value_or(kDefaultSnr);
    }
    if (!s.Connect()) return 1;

    std::vector<double> zero(kChannelTableSize, kMinZeroLevel);
    ControlContext ctx{s.link, s.storage, s.progress, {}};
    s.progress.SetTitle(kAutoCalibrationTitle);
    const auto start = std::chrono::steady_clock::now();
    const AutoZeroResult r = CalculateAutoZero(ctx, {snr, quick, quick}, zero);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    s.progress.Finish();
    if (r.outcome != RunOutcome::Completed) {
        std::cerr << "lumivo-cli zero: " << RunOutcomeText(r.outcome) << "\n";
        return 1;
    }
    std::cout << "channel,zero_level\n";
    for (int ch = 0; ch < kChannelCount; ++ch) {
        char line[64];
        std::snprintf(line, sizeof line, "%d,%.4f\n", ch, zero[static_cast<std::size_t>(ch)]);
        std::cout << line;
    }
    s.ReportTiming(elapsed);
    return 0;
}

}  // namespace lumivo::cli
