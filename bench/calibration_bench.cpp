// The device procedures dominated by one-byte register exchanges, against the paced simulated
// instrument: the beam calibration, the device self-test and the factory station's calibration.
//
// A full calibration of the 384 channels:
//  - BM_CalibrationVirtual: in-process on a virtual clock. Its virtual duration is what the
//    procedure costs on an ideal line (bytes at 115200 baud, the instrument's think time, the
//    protocol's quiet times and pauses) and is reported as `virtual_s`; the measured time is
//    only the CPU cost of the run.
//  - BM_CalibrationPty: the same calibration through lumivo-sim's pseudo-terminal server on the
//    real clock, as the program runs it. Reports the wall time `wall_s`, the time the bytes
//    themselves need on the wire `wire_s`, and the ratios against both baselines measured in
//    the same run.
// BM_SelfTest* and BM_FactoryCalibration* measure the self-test (its timer driven as the command
// line drives it) and the station's calibration with its read-back into calvalue.dat the same
// way; `pauses_s` is the part of `virtual_s` spent in the pauses they prescribe (the self-test's
// 100 ms timer and waits, the station's 100 ms before every fresh reading).
// Each is one iteration: a calibration takes tens of seconds of real time, the station's minutes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <thread>

#include "core/control/channel_calibration.h"
#include "core/control/factory_station.h"
#include "core/control/line_traffic.h"
#include "core/control/self_test.h"
#include "core/device/posix_serial.h"
#include "core/storage/file_system.h"
#include "sim/instrument.h"
#include "sim/pty_server.h"
#include "sim/sim_transport.h"
#include "support/sim_plates.h"

namespace {

using namespace lumivo;

// Time moves only when the code under measurement sleeps; the pauses it prescribes (SleepMs)
// are counted apart from the line's time.
class VirtualClock final : public Clock {
  public:
    std::int64_t MonotonicMicros() override { return now_us_; }
    LocalDateTime Now() override { return {}; }
    void SleepMs(int ms) override {
        if (ms <= 0) return;
        now_us_ += std::int64_t{ms} * 1000;
        pauses_us_ += std::int64_t{ms} * 1000;
    }
    void SleepMicros(std::int64_t us) override { now_us_ += us > 0 ? us : 0; }
    double PauseSeconds() const { return static_cast<double>(pauses_us_) / 1e6; }

  private:
    std::int64_t now_us_ = 0;
    std::int64_t pauses_us_ = 0;
};

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
    sim::Instrument instrument(testing::EmptyPlate());  // calibration is done on an empty plate
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
    sim::Instrument instrument(testing::EmptyPlate());
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

enum class Procedure { SelfTest, FactoryCalibration };

struct Figures {
    double seconds = 0.0;
    double pauses = 0.0;
    LineTraffic traffic;
    bool ok = false;
};

// Runs the procedure through `opener` on `clock`; files live in memory. The self-test's timer
// is driven as the command line drives it: a tick every 100 ms, at once after a longer one.
Figures Run(Procedure what, Clock& clock, const TransportOpener& opener) {
    DefaultAnswerDialogs dialogs;
    Figures f;
    DeviceLink link(clock, dialogs, CountingOpener(opener, f.traffic));
    link.ComPortNumber = 1;
    if (CommOpen(link.ports, 1, "COM1", kInstrumentPortSettings) != 0) return f;
    MemoryFileSystem files;
    files.CreateFolders("/inst");
    StorageContext storage{"/inst", dialogs, files, {}};
    SaveCalibration(storage, CalibrationValues{});
    const std::int64_t t0 = clock.MonotonicMicros();
    if (what == Procedure::SelfTest) {
        SelfTestView view;
        SelfTestContext ctx{link, storage, view, false, true};
        SelfTestState state;
        if (StartSelfTest(ctx, state)) {
            std::int64_t next = clock.MonotonicMicros();
            while (state.Timer_test) {
                const std::int64_t now = clock.MonotonicMicros();
                if (next > now) clock.SleepMicros(next - now);
                next = std::max(next + kTimerTestIntervalMs * 1000, clock.MonotonicMicros());
                SelfTestTick(ctx, state);
            }
        }
        f.ok = SelfTestPassed(state);
    } else {
        BenchView view;
        BenchContext ctx{link, storage, view, false, {}, {}};
        FactoryStationState state;
        const auto r = CalibrateStationChannels(ctx, state, 80.0, kMaxGainMode);
        CalibrationValues cal;
        f.ok = r.outcome == RunOutcome::Completed && SaveDeviceCalibration(ctx, cal).saved;
    }
    f.seconds = static_cast<double>(clock.MonotonicMicros() - t0) / 1e6;
    CommClose(link.ports, 1);
    return f;
}

Figures RunVirtual(Procedure what) {
    VirtualClock clock;
    sim::Instrument instrument(testing::EmptyPlate());
    Figures f = Run(what, clock, sim::SimTransportOpener(instrument, clock, 1));
    f.pauses = clock.PauseSeconds();
    return f;
}

void Virtual(benchmark::State& state, Procedure what) {
    Figures f;
    for (auto _ : state) f = RunVirtual(what);
    if (!f.ok) state.SkipWithError("the procedure did not complete");
    state.counters["virtual_s"] = f.seconds;
    state.counters["pauses_s"] = f.pauses;
    state.counters["wire_s"] = f.traffic.WireSeconds();
    state.counters["virtual_over_wire"] = f.seconds / f.traffic.WireSeconds();
}

void Pty(benchmark::State& state, Procedure what) {
    const Figures ideal = RunVirtual(what);
    sim::Instrument instrument(testing::EmptyPlate());
    sim::PtyServer server(instrument, sim::PtyServerOptions{});
    std::thread serving([&server] { server.Run(); });
    const auto slave = server.SlavePath();
    const TransportOpener opener = [slave](int, const std::string&) {
        return OpenPosixSerial(slave);
    };
    SystemClock clock;
    Figures f;
    for (auto _ : state) {
        f = Run(what, clock, opener);
        state.SetIterationTime(f.seconds);
    }
    server.RequestStop();
    serving.join();
    if (!f.ok) state.SkipWithError("the procedure did not complete");
    state.counters["wall_s"] = f.seconds;
    state.counters["virtual_s"] = ideal.seconds;
    state.counters["pauses_s"] = ideal.pauses;
    state.counters["wire_s"] = f.traffic.WireSeconds();
    state.counters["wall_over_wire"] = f.seconds / f.traffic.WireSeconds();
    state.counters["wall_over_virtual"] = f.seconds / ideal.seconds;
}

void BM_SelfTestVirtual(benchmark::State& state) {
    Virtual(state, Procedure::SelfTest);
}
void BM_SelfTestPty(benchmark::State& state) {
    Pty(state, Procedure::SelfTest);
}
void BM_FactoryCalibrationVirtual(benchmark::State& state) {
    Virtual(state, Procedure::FactoryCalibration);
}
void BM_FactoryCalibrationPty(benchmark::State& state) {
    Pty(state, Procedure::FactoryCalibration);
}

BENCHMARK(BM_SelfTestVirtual)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FactoryCalibrationVirtual)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelfTestPty)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_FactoryCalibrationPty)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
