// A full calibration of the 384 channels against the paced simulated instrument:
//  - BM_CalibrationVirtual: in-process on a virtual clock. Its virtual duration is what the
//    procedure costs on an ideal line (bytes at 115200 baud, the instrument's think time, the
//    protocol's quiet times and pauses) and is reported as `virtual_s`; the measured time is
//    only the CPU cost of the run.
//  - BM_CalibrationPty: the same calibration through lumivo-sim's pseudo-terminal server on the
//    real clock, as the program runs it. Reports the wall time `wall_s`, the time the bytes
//    themselves need on the wire `wire_s`, and the ratios against both baselines measured in
//    the same run.
// Each is one iteration: a calibration takes tens of seconds of real time.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <thread>

#include "core/control/channel_calibration.h"
#include "core/control/line_traffic.h"
#include "core/device/posix_serial.h"
#include "core/storage/file_system.h"
#include "sim/instrument.h"
#include "sim/pty_server.h"
#include "sim/sim_transport.h"

namespace {

using namespace lumivo;

// Time moves only when the code under measurement sleeps.
class VirtualClock final : public Clock {
  public:
    std::int64_t MonotonicMicros() override { return now_us_; }
    LocalDateTime Now() override { return {}; }
    void SleepMs(int ms) override { now_us_ += ms > 0 ? std::int64_t{ms} * 1000 : 0; }
    void SleepMicros(std::int64_t us) override { now_us_ += us > 0 ? us : 0; }

  private:
    std::int64_t now_us_ = 0;
};

sim::SimConfig EmptyPlate() {
    sim::SimConfig config;
    config.default_activity = 0.0;  // calibration is done on an empty plate
    return config;
}

struct RunFigures {
    double seconds = 0.0;  // virtual or wall time of the calibration
    LineTraffic traffic;
    CalibrationResult result;
};

// Calibrates every channel through `opener` on `clock`; the calibration file lives in memory.
RunFigures Calibrate(Clock& clock, const TransportOpener& opener) {
    DefaultAnswerDialogs dialogs;
    RunFigures f;
    DeviceLink link(clock, dialogs, CountingOpener(opener, f.traffic));
    if (CommOpen(link.ports, 1, "COM1", kInstrumentPortSettings) != 0) return f;
    MemoryFileSystem files;
    files.CreateFolders("/inst");
    StorageContext storage{"/inst", dialogs, files, {}};
    CalibrationView view;
    ControlContext ctx{link, storage, view, {}};
    CalibrationValues cal;
    std::array<std::uint16_t, kChannelTableSize> row{};
    std::array<std::int16_t, kChannelTableSize> well{};  // every channel in use
    const std::int64_t t0 = clock.MonotonicMicros();
    f.result = CalibrateChannels(ctx, cal, well, row);
    const std::int64_t t1 = clock.MonotonicMicros();
    f.seconds = static_cast<double>(t1 - t0) / 1e6;
    CommClose(link.ports, 1);
    return f;
}

RunFigures CalibrateVirtual() {
    VirtualClock clock;
    sim::Instrument instrument(EmptyPlate());
    return Calibrate(clock, sim::SimTransportOpener(instrument, clock, 1));
}

void SetCommonCounters(benchmark::State& state, const RunFigures& f) {
    state.counters["passes"] = f.result.passes;
    state.counters["in_window"] = f.result.CountFinished(ChannelFinish::InWindow);
    state.counters["bytes"] = static_cast<double>(f.traffic.bytes_out + f.traffic.bytes_in);
    state.counters["wire_s"] = f.traffic.WireSeconds();
}

void BM_CalibrationVirtual(benchmark::State& state) {
    RunFigures f;
    for (auto _ : state) f = CalibrateVirtual();
    if (f.result.outcome != RunOutcome::Completed) state.SkipWithError("calibration failed");
    SetCommonCounters(state, f);
    state.counters["virtual_s"] = f.seconds;
    state.counters["virtual_over_wire"] = f.seconds / f.traffic.WireSeconds();
}
BENCHMARK(BM_CalibrationVirtual)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_CalibrationPty(benchmark::State& state) {
    const RunFigures ideal = CalibrateVirtual();
    sim::Instrument instrument(EmptyPlate());
    sim::PtyServer server(instrument, sim::PtyServerOptions{{}, 300});
    std::thread serving([&server] { server.Run(); });
    const auto slave = server.SlavePath();
    const TransportOpener opener = [slave](int, const std::string&) {
        return OpenPosixSerial(slave);
    };
    SystemClock clock;
    RunFigures f;
    for (auto _ : state) {
        f = Calibrate(clock, opener);
        state.SetIterationTime(f.seconds);
    }
    server.RequestStop();
    serving.join();
    if (f.result.outcome != RunOutcome::Completed) state.SkipWithError("calibration failed");
    SetCommonCounters(state, f);
    state.counters["wall_s"] = f.seconds;
    state.counters["virtual_s"] = ideal.seconds;
    state.counters["wall_over_wire"] = f.seconds / f.traffic.WireSeconds();
    state.counters["wall_over_virtual"] = f.seconds / ideal.seconds;
}
BENCHMARK(BM_CalibrationPty)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
