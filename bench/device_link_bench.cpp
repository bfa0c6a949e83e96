// The device link against the paced simulated instrument over a real pseudo-terminal: one full
// 4-block sample and one-byte exchanges (the temperature request), through ModCOMM and
// COM_Module exactly as the program does them.
//
// Each is reported with its wire time at 115200 baud and with a baseline measured in the same
// run: the same exchange done with bare write()/poll()/read() on the terminal, which is what
// the line and the simulator cost without the device layer.
//   full sample: 4 x (5 + 192) bytes = 68.4 ms on the wire; target within 5 %
//   one-byte exchange: 5 + 1 bytes = 0.52 ms on the wire; target within 2 ms of it
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

#include "core/device/command_set.h"
#include "core/platform/install_dir.h"
#include "sim/instrument.h"
#include "sim/pty_server.h"
#include "sim/simulator_host.h"

namespace {

namespace fs = std::filesystem;
using namespace lumivo;

constexpr double kByteMs = sim::kByteTimeUs / 1000.0;
constexpr double kSampleWireMs = 4 * 197 * kByteMs;  // 68.4 ms
constexpr double kExchangeWireMs = 6 * kByteMs;      // 0.52 ms

// A paced simulator served on a pseudo-terminal by a thread of its own, linked as COM1 of a
// temporary installation folder.
class Rig {
  public:
    Rig() {
        char tmpl[] = "/tmp/lumivo-bench-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir_ = tmpl;
        host_ = std::make_unique<sim::SimulatorHost>(
            sim::SimConfig{}, sim::PtyServerOptions{ComLinkPath(dir_, 1), 300});
    }
    ~Rig() {
        host_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    const fs::path& dir() const { return dir_; }

  private:
    fs::path dir_;
    std::unique_ptr<sim::SimulatorHost> host_;
};

Rig& TheRig() {
    static Rig rig;
    return rig;
}

// The program's view: a DeviceLink with COM1 open.
struct Program {
    SystemClock clock;
    DefaultAnswerDialogs dialogs;
    DeviceLink link{clock, dialogs, TerminalDeviceOpener(TheRig().dir())};
    bool ok = false;
    Program() {
        link.ComPortNumber = 1;
        ok = CommOpen(link.ports, 1, "COM1", kInstrumentPortSettings) == 0;
    }
    ~Program() { CommClose(link.ports, 1); }
};

// The baseline's view: the terminal opened and set raw by hand, no device layer.
class BareTerminal {
  public:
    BareTerminal() {
        fd_ = ::open(ComLinkPath(TheRig().dir(), 1).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) return;
        termios tio{};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        cfsetspeed(&tio, B115200);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    ~BareTerminal() {
        if (fd_ >= 0) ::close(fd_);
    }
    BareTerminal(const BareTerminal&) = delete;
    BareTerminal& operator=(const BareTerminal&) = delete;

    bool ok() const { return fd_ >= 0; }
    // Writes the frame and reads exactly `n` reply bytes (1 s at most); returns the count.
    std::size_t Exchange(const CommandFrame& frame, std::size_t n) {
        if (::write(fd_, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()))
            return 0;
        std::size_t got = 0;
        std::uint8_t buf[256];
        while (got < n) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0) break;
            const ssize_t r = ::read(fd_, buf, std::min(sizeof buf, n - got));
            if (r > 0) got += static_cast<std::size_t>(r);
        }
        return got;
    }

  private:
    int fd_ = -1;
};

// Adds the mean time per iteration and its relation to the wire time as counters.
void Report(benchmark::State& state, double total_ms, double wire_ms) {
    const double mean = total_ms / static_cast<double>(state.iterations());
    state.counters["mean_ms"] = mean;
    state.counters["wire_ms"] = wire_ms;
    state.counters["over_wire_ms"] = mean - wire_ms;
    state.counters["over_wire_pct"] = (mean / wire_ms - 1.0) * 100.0;
}

double MsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// Times `exchange` once an iteration (it returns whether the whole reply came back), stops
// with `failure` when a reply falls short, and reports the mean against `wire_ms`.
template <typename Exchange>
void TimeExchanges(benchmark::State& state, bool port_open, double wire_ms, const char* failure,
                   Exchange exchange) {
    if (!port_open) {
        state.SkipWithError("cannot open the simulator's port");
        return;
    }
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const bool whole = exchange();
        total += MsSince(t0);
        if (!whole) {
            state.SkipWithError(failure);
            return;
        }
    }
    Report(state, total, wire_ms);
}

void BM_FullSample(benchmark::State& state) {
    Program p;
    std::vector<std::uint16_t> channels(kChannelCount + 1);
    TimeExchanges(state, p.ok, kSampleWireMs, "a block came back short or bad",
                  [&] { return ReadFullSample(p.link, channels).AllGood(); });
}

void BM_FullSampleBareBaseline(benchmark::State& state) {
    BareTerminal t;
    TimeExchanges(state, t.ok(), kSampleWireMs, "a block came back short", [&] {
        for (int nn : kBlockStarts) {
            if (t.Exchange(BuildCommandFrame(ReadChannelBlockCommand(nn)), 192) != 192)
                return false;
        }
        return true;
    });
}

void BM_OneByteExchange(benchmark::State& state) {
    Program p;
    TimeExchanges(state, p.ok, kExchangeWireMs, "no reply to the temperature request",
                  [&] { return SendCommandAndRead(p.link, ReadTemperatureCommand()) >= 0; });
}

void BM_OneByteExchangeBareBaseline(benchmark::State& state) {
    BareTerminal t;
    TimeExchanges(state, t.ok(), kExchangeWireMs, "no reply to the temperature request",
                  [&] { return t.Exchange(BuildCommandFrame(ReadTemperatureCommand()), 1) == 1; });
}

BENCHMARK(BM_FullSampleBareBaseline)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_FullSample)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_OneByteExchangeBareBaseline)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MinTime(1.0);
BENCHMARK(BM_OneByteExchange)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(1.0);

}  // namespace
