// lumivo-cli selftest --com N [--yes]: the device self-test of the desktop program, driven by
// the same step machine at its 100 ms timer. The verdict lines go to stdout as they are judged,
// the report's path is the last line; progress and messages go to stderr.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <string>
#include <thread>

#include "cli/commands.h"
#include "cli/instrument_session.h"
#include "cli/stop_signals.h"
#include "core/control/self_test.h"

namespace lumivo::cli {
namespace {

constexpr const char* kCommand = "selftest";

// The test's captions as one progress line on a terminal (redrawn in place); verdict lines on
// stdout; the status line and a COM Error as messages.
class TerminalTestView final : public SelfTestView {
  public:
    TerminalTestView() : tty_(::isatty(2) == 1) {}

    void ShowCaption(const std::string& text) override {
        caption_ = text;
        Draw();
        if (text == kComErrorCaption) {
            Finish();
            PrintError(kCommand, text);
        }
    }
    void DrawProgress(double percent) override {
        percent_ = percent;
        Draw();
    }
    void ReportLine(const std::string& line, bool verdict) override {
        if (!verdict || line.empty()) return;
        Finish();
        std::cout << line << "\n" << std::flush;
    }
    void ShowStatusLine(const std::string& text) override {
        Finish();
        PrintError(kCommand, text);
    }

    // Ends the redrawn line so what follows starts on a fresh one.
    void Finish() {
        if (tty_ && drawn_) std::cerr << "\n";
        drawn_ = false;
    }

  private:
    void Draw() {
        if (!tty_) return;
        constexpr int kWidth = 30;
        const double f = std::clamp(percent_ / 100.0, 0.0, 1.0);
        const int filled = static_cast<int>(f * kWidth + 0.5);
        std::cerr << "\r\033[K[" << std::string(static_cast<std::size_t>(filled), '#')
                  << std::string(static_cast<std::size_t>(kWidth - filled), '.') << "] " << caption_
                  << std::flush;
        drawn_ = true;
    }

    bool tty_;
    bool drawn_ = false;
    double percent_ = 0.0;
    std::string caption_;
};

}  // namespace

int RunSelfTest(Args& args) {
    const int port = TakeInstrumentPort(args);
    const bool yes = args.TakeFlag("yes");
    args.ExpectEnd();

    StopSignals signals;
    InstrumentSession s(kCommand, args.install_dir(), port, yes);
    TerminalTestView view;
    s.dialogs.before_message = [&view] { view.Finish(); };
    if (!s.Connect()) return kCouldNotRun;

    SelfTestContext ctx{s.link, s.storage, view, false, true};
    SelfTestState state;
    const auto start = std::chrono::steady_clock::now();
    if (!StartSelfTest(ctx, state)) {
        PrintError(kCommand, "the device test did not start; nothing was changed");
        return kCouldNotRun;
    }
    // Timer_test: a tick every 100 ms, the next one at once when a tick took longer.
    auto next = std::chrono::steady_clock::now();
    while (state.Timer_test) {
        if (signals.Stopped()) {
            StopSelfTest(ctx, state);
            break;
        }
        std::this_thread::sleep_until(next);
        next = std::max(next + std::chrono::milliseconds(kTimerTestIntervalMs),
                        std::chrono::steady_clock::now());
        SelfTestTick(ctx, state);
    }
    view.Finish();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const std::vector<int> failed = SelfTestFailedChannels(state);
    if (state.end == SelfTestEnd::Completed) {
        const auto passed = std::count_if(state.verdicts.begin(), state.verdicts.end(),
                                          [](const SelfTestVerdict& v) { return v.passed; });
        std::cout << (SelfTestPassed(state) ? "PASS: " : "NEEDS REVISION: ") << passed << " of "
                  << state.verdicts.size() << " verdicts pass";
        if (!failed.empty()) std::cout << "; channels " << ChannelListText(failed);
        std::cout << "\n";
    }
    std::cout << state.report_path.string() << "\n";
    s.ReportTiming(seconds);
    if (signals.received() != 0) return 128 + signals.received();
    if (state.end != SelfTestEnd::Completed) return kCouldNotRun;
    return SelfTestPassed(state) ? 0 : 1;
}

}  // namespace lumivo::cli
