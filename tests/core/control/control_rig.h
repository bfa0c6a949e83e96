// A simulated instrument on port COM1 of an in-memory installation, on a virtual clock: the
// bench every control test runs on. The view records what the procedures show.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/control/control_context.h"
#include "core/device/command_set.h"
#include "core/storage/calibration_file.h"
#include "core/storage/file_system.h"
#include "sim/instrument.h"
#include "sim/sim_transport.h"
#include "support/fake_clock.h"
#include "support/scripted_dialogs.h"

namespace lumivo::testing {

class RecordingView final : public CalibrationView {
  public:
    void ShowFrame(bool shown) override { frame_events.push_back(shown); }
    void SetTitle(const std::string& text) override { titles.push_back(text); }
    void SetStatus(const std::string& text) override { statuses.push_back(text); }
    void ScaleProgress(double x_max, double y_max) override { scales.emplace_back(x_max, y_max); }
    void ClearProgress() override { ++clears; }
    void DrawProgress(double x) override { progress.push_back(x); }

    bool SawStatus(const std::string& text) const {
        for (const auto& s : statuses) {
            if (s == text) return true;
        }
        return false;
    }
    std::string LastStatus() const { return statuses.empty() ? "" : statuses.back(); }

    std::vector<bool> frame_events;
    std::vector<std::string> titles;
    std::vector<std::string> statuses;
    std::vector<std::pair<double, double>> scales;
    int clears = 0;
    std::vector<double> progress;
};

// A file system whose writes can be made to fail.
class FailingMemoryFileSystem final : public MemoryFileSystem {
  public:
    void WriteFiles(std::span<const FileContent> files) override {
        if (fail_writes) throw std::runtime_error("disk full");
        MemoryFileSystem::WriteFiles(files);
    }
    bool fail_writes = false;
};

inline std::array<std::int16_t, 385> AllChannelsInUse() {
    std::array<std::int16_t, 385> well{};
    for (std::size_t c = 0; c < 384; ++c) well[c] = static_cast<std::int16_t>(c / 4);
    well[384] = -1;
    return well;
}

struct SimRig {
    explicit SimRig(sim::SimConfig config = {})
        : instrument(std::move(config)),
          link(clock, dialogs, sim::SimTransportOpener(instrument, clock, 1)),
          storage{"/inst", dialogs, files, {}} {
        files.CreateFolders("/inst");
        EXPECT_EQ(CommOpen(link.ports, 1, "COM1", kInstrumentPortSettings), 0);
    }

    ControlContext Context(RunControl run = {}) { return {link, storage, view, std::move(run)}; }

    bool CalFileExists() { return files.IsFile("/inst/calvalue.dat"); }
    std::string CalFile() { return files.ReadFile("/inst/calvalue.dat"); }

    // The calibration tables as the instrument's registers hold them.
    CalibrationValues Registers() const {
        CalibrationValues cal;
        for (int c = 0; c < 384; ++c) {
            const std::uint8_t s = instrument.ChannelSetting(c);
            cal.PinHole[static_cast<std::size_t>(c)] =
                static_cast<std::int16_t>(sim::Instrument::PinHoleOf(s));
            cal.Gain[static_cast<std::size_t>(c)] =
                static_cast<std::int16_t>(sim::Instrument::GainOf(s));
        }
        return cal;
    }

    FakeClock clock;
    ScriptedDialogs dialogs;
    sim::Instrument instrument;
    DeviceLink link;
    FailingMemoryFileSystem files;
    StorageContext storage;
    RecordingView view;
};

}  // namespace lumivo::testing
