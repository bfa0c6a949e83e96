// lumivo-cli sensor-calibrate --com N --reference CELSIUS: the one-point temperature sensor
// calibration of the factory window "Temperature Sensing Calibration".
// lumivo-cli factory calibrate --com N --target PERCENT and lumivo-cli factory curve --com N:
// the factory station's channel-by-channel calibration (followed by the read-back into
// calvalue.dat) and its gain curve test.
// Each asks before it writes into the instrument; --yes answers.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "cli/instrument_session.h"
#include "cli/stop_signals.h"
#include "core/control/control_fields.h"
#include "core/control/factory_station.h"
#include "core/control/sensor_calibration.h"

namespace lumivo::cli {
namespace {

// Targets whose window stays inside the 12-bit scale.
constexpr double kMinTargetPercent = 5.0;
constexpr double kMaxTargetPercent = 190.0;

double Since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The station's progress on stderr: on a terminal one line redrawn in place (the channel at
// work, the channels done and the time left); otherwise a line every kLoggedChannels channels,
// so a run of several minutes is not silent and its log stays short. stdout says what was done
// at the end.
class TerminalBenchView final : public BenchView {
  public:
    static constexpr int kLoggedChannels = 16;

    TerminalBenchView(std::string command, Clock& clock)
        : command_(std::move(command)), clock_(clock), tty_(::isatty(2) == 1) {}

    void ShowCalibrating(bool shown, const std::string& text) override {
        if (shown) Draw(text);
    }
    void DrawProgress(int channel) override {
        if (channel == 0) start_us_ = clock_.MonotonicMicros();
        const double elapsed = static_cast<double>(clock_.MonotonicMicros() - start_us_) / 1e6;
        const std::string progress = StationProgressText(channel, elapsed);
        if (tty_) {
            Draw("Calibrating CH" + std::to_string(channel) + ": " + progress);
        } else if (channel % kLoggedChannels == 0) {
            PrintError(command_, progress);
        }
    }
    void ShowCurveStep(const std::string& text) override { Draw(text); }

    void Finish() {
        if (tty_ && drawn_) std::cerr << "\n";
        drawn_ = false;
    }

  private:
    void Draw(const std::string& text) {
        if (!tty_) return;
        std::cerr << "\r\033[K" << text << std::flush;
        drawn_ = true;
    }

    std::string command_;
    Clock& clock_;
    bool tty_;
    bool drawn_ = false;
    std::int64_t start_us_ = 0;
};

// One run of the station: the stop signals, the instrument, the progress line and the
// station's state, with the operator's consent asked before anything is written.
struct StationRun {
    StationRun(const char* command, const Args& args, int port, bool yes)
        : session(command, args.install_dir(), port, yes),
          view(command, session.link.clock),
          ctx{session.link, session.storage,
              view,         false,
              {},           [this] { return !signals.Stopped(); }} {
        session.dialogs.before_message = [this] { view.Finish(); };
    }

    // Connects and asks `question`; the exit status when the run ends here.
    std::optional<int> Start(const std::string& question) {
        if (!session.Connect()) return kCouldNotRun;
        if (session.link.dialogs.MessageBox(question, MsgButtons::YesNo) != MsgResult::Yes) {
            PrintError(session.command, "nothing was changed");
            return 1;
        }
        start = std::chrono::steady_clock::now();
        return std::nullopt;
    }
    // The status of a run that ended early: 128 + the signal that stopped it, else `status`.
    int Ended(int status) const {
        return signals.received() != 0 ? 128 + signals.received() : status;
    }
    void ReportTiming() const { session.ReportTiming(Since(start)); }

    StopSignals signals;
    InstrumentSession session;
    TerminalBenchView view;
    FactoryStationState state;
    BenchContext ctx;
    std::chrono::steady_clock::time_point start;
};

int RunFactoryCalibrate(Args& args) {
    const int port = TakeInstrumentPort(args);
    const auto target = args.TakeDouble("target", kMinTargetPercent, kMaxTargetPercent);
    if (!target) throw UsageError("--target PERCENT is missing (a percentage of 2048, e.g. 80)");
    const bool yes = args.TakeFlag("yes");
    args.ExpectEnd();

    StationRun run("factory calibrate", args, port, yes);
    const StationWindow w = StationTargetWindow(*target);
    if (const auto status = run.Start(
            "Calibrate every channel to " + FormatOneDecimal(*target) + " % of 2048 (window " +
            std::to_string(w.low) + ".." + std::to_string(w.high) +
            ") and replace calvalue.dat with the instrument's settings?")) {
        return *status;
    }
    const StationCalibrationResult r =
        CalibrateStationChannels(run.ctx, run.state, *target, kMaxGainMode);
    run.view.Finish();
    if (r.outcome != RunOutcome::Completed) {
        PrintError(run.session.command, std::string("calibration NOT completed (") +
                                            RunOutcomeText(r.outcome) + "): " + r.WrittenText() +
                                            ". calvalue.dat was not changed.");
        run.ReportTiming();
        return run.Ended(1);
    }
    CalibrationValues cal;
    const DeviceCalibrationSave saved = SaveDeviceCalibration(run.ctx, cal);
    run.view.Finish();
    const std::vector<int> outside = r.ChannelsOutsideWindow();
    std::cout << "factory calibration completed: " << kChannelCount - outside.size() << " of "
              << kChannelCount << " channels in the window " << w.low << ".." << w.high << "\n";
    for (int ch : outside) {
        const auto i = static_cast<std::size_t>(ch);
        std::cout << "channel " << ch << ": reading " << r.reading[i] << " at PinHole "
                  << run.state.PinHole[i] << ", Gain " << run.state.Gain[i] << "\n";
    }
    run.ReportTiming();
    if (!saved.saved) return 1;
    std::cout << (run.session.storage.install_dir / kCalibrationFileName).string() << "\n";
    return 0;
}

int RunFactoryCurve(Args& args) {
    const int port = TakeInstrumentPort(args);
    const bool yes = args.TakeFlag("yes");
    args.ExpectEnd();

    StationRun run("factory curve", args, port, yes);
    if (const auto status =
            run.Start("Run the gain curve test? Every channel is set to the 64 combinations of "
                      "PinHole 0..7 and Gain 0..7 and left at PinHole 7, Gain 7; test_bk.txt, "
                      "test_mean.txt and test_desv.txt are replaced.")) {
        return *status;
    }
    const GainCurveResult r = RunGainCurveTest(run.ctx, run.state);
    run.view.Finish();
    PrintError(run.session.command,
               std::to_string(r.combinations) +
                   " of 64 combinations measured; the beams are left at the last one: calibrate "
                   "them (lumivo-cli calibrate) before recording");
    run.ReportTiming();
    if (r.combinations > 0) {
        for (const auto& f : r.files) std::cout << f.string() << "\n";
    }
    return run.Ended(r.outcome == RunOutcome::Completed ? 0 : 1);
}

}  // namespace

int RunSensorCalibrate(Args& args) {
    constexpr const char* kCommand = "sensor-calibrate";
    const int port = TakeInstrumentPort(args);
    const auto reference_text = args.TakeOption("reference");
    if (!reference_text) throw UsageError("--reference CELSIUS is missing (the true temperature)");
    const auto reference = ParseNumericText(*reference_text);
    if (!reference || *reference < kMinReferenceCelsius || *reference > kMaxReferenceCelsius) {
        throw UsageError(std::string("--reference: ") + kInvalidReferenceMessage);
    }
    const bool yes = args.TakeFlag("yes");
    args.ExpectEnd();

    InstrumentSession s(kCommand, args.install_dir(), port, yes);
    if (!s.Connect()) return kCouldNotRun;
    ReadSensorCalibration(s.link);
    std::cerr << "lumivo-cli " << kCommand << ": " << SerialNumberCaption(s.link.SerialNumber)
              << ", now " << SensorCalibrationStatusText(s.link.sensor) << " (offset "
              << FormatOneDecimal(s.link.sensor.offset) << ", slope " << s.link.sensor.slope
              << "), reading " << ReadSensorTemperatureText(s.link) << "\n";
    if (s.link.dialogs.MessageBox("Calibrate the temperature sensor to " +
                                      FormatOneDecimal(*reference) +
                                      " \xC2\xB0"
                                      "C now and write the new calibration into the instrument?",
                                  MsgButtons::YesNo) != MsgResult::Yes) {
        PrintError(kCommand, "nothing was changed");
        return 1;
    }
    const SensorCalibrationResult r = CalibrateTemperatureSensor(s.link, *reference_text);
    if (r.outcome == SensorCalibrationOutcome::ReadBackDiffers) {
        PrintError(kCommand, "the registers read back differ from those written; " + r.status);
        return 1;
    }
    if (r.outcome != SensorCalibrationOutcome::Calibrated) {
        PrintError(kCommand, r.registers_written > 0
                                 ? std::to_string(r.registers_written) +
                                       " of the 7 registers were written before the failure; " +
                                       r.status
                                 : "nothing was written; " + r.status);
        return 1;
    }
    char slope[32];
    std::snprintf(slope, sizeof slope, "%.3f", r.slope);
    std::cout << "sensor byte " << r.sensor_byte << " at " << FormatOneDecimal(r.reference)
              << " C: offset " << FormatOneDecimal(r.offset) << ", slope " << slope << "\n";
    std::cout << "registers 128..134:";
    for (int v : r.registers) std::cout << " " << v;
    std::cout << "\n" << r.status << "\n";
    return 0;
}

int RunFactory(Args& args) {
    const auto what = args.TakePositional();
    if (what == "calibrate") return RunFactoryCalibrate(args);
    if (what == "curve") return RunFactoryCurve(args);
    throw UsageError(what ? "unknown factory command \"" + *what + "\""
                          : std::string("calibrate or curve is missing"));
}

}  // namespace lumivo::cli
