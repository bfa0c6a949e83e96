// The sampling loop fed with arbitrary instrument replies: whole, short, empty or garbage
// block replies and temperature bytes, decided by the fuzz input. Two windows are recorded
// into an in-memory file system; whatever the replies, no tick may crash and the data files
// must hold whole records only, one per recorded window.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/acquisition/acquisition_engine.h"
#include "core/acquisition/data_files.h"
#include "core/device/command_set.h"
#include "core/storage/file_system.h"

namespace {

using namespace lumivo;

class VirtualClock final : public Clock {
  public:
    std::int64_t MonotonicMicros() override { return us_; }
    LocalDateTime Now() override {
        LocalDateTime t{2026, 3, 14, 9, 30, 0, 0};
        const std::int64_t s = us_ / 1'000'000;
        t.second = static_cast<int>(s % 60);
        t.minute += static_cast<int>(s / 60 % 30);
        return t;
    }
    void SleepMs(int ms) override { us_ += ms > 0 ? std::int64_t{ms} * 1000 : 0; }
    void SleepMicros(std::int64_t us) override { us_ += us > 0 ? us : 0; }

  private:
    std::int64_t us_ = 0;
};

// Replies come from the fuzz input: for every read, one control byte says whether nothing,
// part of the request, all of it from the input, or all of it as plausible readings arrives.
class FuzzTransport final : public SerialTransport {
  public:
    FuzzTransport(const std::uint8_t* data, std::size_t size, Clock& clock)
        : data_(data), size_(size), clock_(clock) {}

    int GetLineSettings(LineSettings& out) override {
        out = settings_;
        return 0;
    }
    int Configure(const LineSettings& s) override {
        settings_ = s;
        return 0;
    }
    int Purge() override { return 0; }
    IoResult Read(std::uint8_t* out, std::size_t max, const ReadTimeouts& timeouts) override {
        const std::uint8_t control = Next(3);  // plausible readings once the input is used up
        std::size_t n = 0;
        switch (control % 4) {
            case 0:  // silence
                clock_.SleepMicros(timeouts.total_us);
                return {0, 0};
            case 1:  // from the input
                n = max;
                for (std::size_t i = 0; i < n; ++i) out[i] = Next(0);
                break;
            case 2:  // a short reply
                n = std::min<std::size_t>(max, control / 4u);
                for (std::size_t i = 0; i < n; ++i) out[i] = Next(0);
                break;
            default:  // plausible readings about 1600
                n = max;
                for (std::size_t i = 0; i < n; ++i) out[i] = (i % 2 == 0) ? 6 : Next(0x40);
                break;
        }
        clock_.SleepMicros(static_cast<std::int64_t>(n) * 87);
        return {n, 0};
    }
    IoResult Write(std::span<const std::uint8_t> bytes, std::int64_t) override {
        clock_.SleepMicros(static_cast<std::int64_t>(bytes.size()) * 87);
        return {bytes.size(), 0};
    }
    int SetLine(LineFunction) override { return 0; }
    std::uint32_t TakeErrorFlags() override { return 0; }
    int Close() override { return 0; }

  private:
    // The next input byte; `fallback` once the input is used up.
    std::uint8_t Next(std::uint8_t fallback) { return pos_ < size_ ? data_[pos_++] : fallback; }
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    Clock& clock_;
    LineSettings settings_;
};

// Appends into memory.
class MemoryAppendOps final : public AppendFileOps {
  public:
    int Open(const std::filesystem::path& path, bool* created) override {
        auto [it, inserted] = files.try_emplace(path.string());
        if (created != nullptr) *created = inserted;
        handles_.push_back(&it->second);
        return static_cast<int>(handles_.size() - 1);
    }
    std::int64_t Size(int h) override { return static_cast<std::int64_t>(File(h).size()); }
    std::int64_t ReadAt(int h, void* data, std::size_t size, std::uint64_t offset) override {
        auto& f = File(h);
        if (offset >= f.size()) return 0;
        const std::size_t n = std::min<std::size_t>(size, f.size() - offset);
        std::memcpy(data, f.data() + offset, n);
        return static_cast<std::int64_t>(n);
    }
    std::int64_t WriteAt(int h, const void* data, std::size_t size, std::uint64_t offset) override {
        auto& f = File(h);
        if (f.size() < offset + size) f.resize(offset + size);
        std::memcpy(f.data() + offset, data, size);
        return static_cast<std::int64_t>(size);
    }
    int Truncate(int h, std::uint64_t size) override {
        File(h).resize(size);
        return 0;
    }
    int Sync(int) override { return 0; }
    int Close(int) override { return 0; }
    int SyncDirectory(const std::filesystem::path&) override { return 0; }
    int Remove(const std::filesystem::path& path) override {
        files.erase(path.string());
        return 0;
    }

    std::map<std::string, std::vector<std::uint8_t>> files;

  private:
    std::vector<std::uint8_t>& File(int h) { return *handles_[static_cast<std::size_t>(h)]; }
    std::vector<std::vector<std::uint8_t>*> handles_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t flags = data[0];
    ++data;
    --size;

    VirtualClock clock;
    DefaultAnswerDialogs dialogs;
    MemoryFileSystem files;
    files.CreateFolders("/inst/p00001");
    StorageContext storage{"/inst", dialogs, files, [] { return std::string(","); }};
    DeviceLink link(clock, dialogs, [&](int, const std::string&) {
        return TransportOpenResult{std::make_unique<FuzzTransport>(data, size, clock), 0};
    });
    if (CommOpen(link.ports, 1, "COM1", kInstrumentPortSettings) != 0) std::abort();

    AppState app;
    app.config.Actual_Project_Number = 1;
    app.connection.InstrumentConnected = true;
    app.project.ProjectFolder = "/inst/p00001";
    app.project.Setup.Aq_lapse = 30;
    app.project.Setup.Save_real = (flags & 1) != 0 ? 1 : 0;
    app.project.Setup.DSP_Method = static_cast<std::int16_t>((flags >> 1) % 3);
    BuildDefaultPlateMap((flags & 8) != 0 ? "w96u" : "w96f", app.plate);
    CalibrationControls controls;
    controls.AutoZeroOnStart = (flags & 16) != 0;
    ClimateState climate;
    climate.temperature_control_enabled = (flags & 32) != 0;
    CalibrationValues cal;
    SilentViews view;
    MemoryAppendOps data_files;
    AcquisitionEngine engine(AcquisitionContext{link, storage, app, controls, climate, cal,
                                                AcquisitionViews::Of(view), data_files});

    StartOptions options;
    options.name = "fuzz";
    options.body_bends = (flags & 64) != 0;
    const StartOutcome started = engine.StartAcquisition(options);
    // A zero at the start that got no usable readings ends the run before it records.
    if (started == StartOutcome::Failed) {
        if (engine.Running() || engine.Sampling().windows_recorded != 0) std::abort();
        return 0;
    }
    if (started != StartOutcome::Started) std::abort();
    for (int i = 0; i < 1100 && engine.SamplingOn() && engine.Sampling().windows_closed < 2; ++i) {
        engine.Tick();
    }
    engine.Stop();

    // Whole records only, one per recorded window, in every file.
    const auto recorded = static_cast<std::size_t>(engine.Sampling().windows_recorded);
    for (const auto& [path, bytes] : data_files.files) {
        if (path.ends_with(kEventLogFileName)) {
            // The event log holds whole lines only.
            if (bytes.size() < 2 || bytes[bytes.size() - 2] != '\r' || bytes.back() != '\n')
                std::abort();
            continue;
        }
        std::size_t record = 0;
        if (path.ends_with(kCountsFileName)) {
            record = kCountsRecordSize;
        } else if (path.find("histo") != std::string::npos) {
            record = kHistogramRecordSize;
        } else {
            record = RawPageRecordSize(engine.Sampling().rt_buffer);
        }
        if (bytes.size() % record != 0 || bytes.size() / record != recorded) std::abort();
    }
    const auto counts =
        data_files.files.find(std::string("/inst/p00001/") + engine.State().AcquisitionFolderName +
                              "/" + kCountsFileName);
    if (recorded > 0 && counts == data_files.files.end()) std::abort();
    if (counts != data_files.files.end()) {
        const CountsFileContents c = ParseCountsFile(counts->second);
        for (const CountsRecord& r : c.records) {
            for (std::size_t ch = 0; ch < kBeamChannelCount; ++ch) {
                if (r.values[ch] < 0) std::abort();
            }
        }
    }
    return 0;
}
