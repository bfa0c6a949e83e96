// The sampling loop against the paced simulated instrument over a real pseudo-terminal: ticks
// of a recorded acquisition (warm-up reads, four block reads, a window close every 500 rows
// with its analysis and fsync'd records), against the wire time of a reading and against a
// baseline measured in the same run: the device layer's back-to-back ReadFullSample on the
// same terminal, which is what the line and the simulator cost without the acquisition.
//   one reading: 4 x (5 + 192) bytes = 68.4 ms on the wire; target within 5 %
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "core/acquisition/acquisition_engine.h"
#include "core/acquisition/record_file_io.h"
#include "core/device/command_set.h"
#include "core/platform/install_dir.h"
#include "core/storage/file_system.h"
#include "core/storage/project_setup.h"
#include "sim/instrument.h"
#include "sim/pty_server.h"
#include "sim/simulator_host.h"

namespace {

namespace fs = std::filesystem;
using namespace lumivo;

constexpr double kSampleWireMs = 4 * 197 * sim::kByteTimeUs / 1000.0;  // 68.4 ms
constexpr int kBaselineSamples = 100;

double MsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// A paced simulator on a pseudo-terminal (served by a thread) and project 1 of a temporary
// installation folder, with a connected program around them.
class Rig {
  public:
    Rig() {
        char tmpl[] = "/tmp/lumivo-acq-bench-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir_ = tmpl;
        host_ = std::make_unique<sim::SimulatorHost>(
            sim::SimConfig{}, sim::PtyServerOptions{ComLinkPath(dir_, 1), 300});
        link_ = std::make_unique<DeviceLink>(clock_, dialogs_, TerminalDeviceOpener(dir_));
        link_->ComPortNumber = 1;
        if (CommOpen(link_->ports, 1, "COM1", kInstrumentPortSettings) != 0) {
            throw std::runtime_error("cannot open the simulator's port");
        }
        app_.config.Actual_Project_Number = 1;
        app_.connection.InstrumentConnected = true;
        app_.project.ProjectFolder = ProjectFolderFor(dir_, 1);
        fs::create_directories(app_.project.ProjectFolder);
        app_.project.Setup.Aq_lapse = 1000;
        BuildDefaultPlateMap("w96f", app_.plate);
        engine_ = std::make_unique<AcquisitionEngine>(
            AcquisitionContext{*link_, storage_, app_, controls_, climate_, cal_,
                               AcquisitionViews::Of(view_), data_files_});
    }
    ~Rig() {
        engine_.reset();
        CommClose(link_->ports, 1);
        link_.reset();
        host_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    DeviceLink& link() { return *link_; }
    AcquisitionEngine& engine() { return *engine_; }

  private:
    fs::path dir_;
    std::unique_ptr<sim::SimulatorHost> host_;
    SystemClock clock_;
    DefaultAnswerDialogs dialogs_;
    LocalFileSystem files_;
    StorageContext storage_{"/", dialogs_, files_, [] { return std::string(","); }};
    std::unique_ptr<DeviceLink> link_;
    AppState app_;
    CalibrationControls controls_;
    ClimateState climate_;
    CalibrationValues cal_;
    SilentViews view_;
    PosixFileOps data_files_;
    std::unique_ptr<AcquisitionEngine> engine_;
};

// One iteration is one tick of a recorded acquisition; 600 ticks cover a whole window with its
// warm-up and its close.
void BM_AcquisitionTick(benchmark::State& state) {
    Rig rig;
    StartOptions options;
    options.name = "bench";
    if (rig.engine().StartAcquisition(options) != StartOutcome::Started) {
        state.SkipWithError("the acquisition did not start");
        return;
    }
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        rig.engine().Tick();
        total += MsSince(t0);
    }
    const SamplingState& s = rig.engine().Sampling();
    rig.engine().Stop();

    // The baseline in the same run: the device layer alone on the same terminal.
    std::array<std::uint16_t, kChannelTableSize> row{};
    const auto b0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBaselineSamples; ++i) ReadFullSample(rig.link(), row);
    const double baseline = MsSince(b0) / kBaselineSamples;

    const double mean = total / static_cast<double>(state.iterations());
    state.counters["tick_ms"] = mean;
    state.counters["sample_period_ms"] = s.SamplePeriod * 1000.0;
    state.counters["windows"] = s.windows_recorded;
    state.counters["longest_tick_ms"] = static_cast<double>(s.longest_tick_us) / 1000.0;
    state.counters["wire_ms"] = kSampleWireMs;
    state.counters["period_over_wire_pct"] = (s.SamplePeriod * 1000.0 / kSampleWireMs - 1) * 100;
    state.counters["baseline_sample_ms"] = baseline;
    state.counters["tick_over_baseline_pct"] = (mean / baseline - 1.0) * 100.0;
}

}  // namespace

BENCHMARK(BM_AcquisitionTick)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(600);
