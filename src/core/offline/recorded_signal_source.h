// A recorded acquisition as a SignalSource: its raw pages (n.bin, eleven windows each) and its
// counts.bin, so that the offline browser's signal pages use the widgets the main window shows
// a running acquisition with.
//
// Windows are read record by record when asked for (a week of raw pages is gigabytes) and the
// last one read is kept. A channel's threshold trace and events are those of the recorded
// readings analysed again with the recording's signal-to-noise factor and method.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/acquisition/signal_source.h"
#include "core/storage/storage_context.h"

namespace lumivo::offline {

class RecordedSignalSource final : public SignalSource {
  public:
    // Reads counts.bin of `folder` and counts its raw pages. Throws std::runtime_error naming
    // the file when counts.bin cannot be read.
    RecordedSignalSource(const std::filesystem::path& folder, const SignalSettings& settings);

    const std::filesystem::path& folder() const { return folder_; }
    // Windows whose readings the raw pages hold (0 when the run did not save them).
    std::int64_t RawWindowCount() const { return raw_windows_; }

    // SignalSource.
    bool Live() const override { return false; }
    const SignalSettings& Settings() const override { return settings_; }
    std::int64_t WindowCount() const override;
    std::int64_t ReadingCount() const override;
    bool ReadWindow(std::int64_t m, std::vector<std::int16_t>& rows) override;
    void ChannelReadings(std::size_t channel, std::int64_t first,
                         std::span<std::int16_t> out) override;
    ChannelWindowAnalysis AnalyseChannel(std::int64_t m, std::size_t channel) override;
    const std::vector<CountsRecord>& CountsRecords() const override { return counts_; }

  private:
    // The readings of window m (cached), or null when the pages do not hold it.
    const std::vector<std::int16_t>* Window(std::int64_t m);

    std::filesystem::path folder_;
    SignalSettings settings_;
    std::vector<CountsRecord> counts_;
    std::int64_t raw_windows_ = 0;
    std::map<int, std::size_t> page_records_;  // raw page -> whole records it holds
    std::int64_t cached_window_ = -1;
    std::vector<std::int16_t> cached_rows_;  // window_length + 1 rows (the record's layout)
    // The last analyses asked for: (window, channel).
    std::map<std::pair<std::int64_t, std::size_t>, ChannelWindowAnalysis> analyses_;
};

// The settings an acquisition folder was recorded with: RT_Buffer and DSP_Method from its copy
// of setup.dat, the signal-to-noise factor from its tool settings, body bends when it holds a
// histogram file. The files are read as the browser reads them (a damaged one shows its
// message and gives its defaults).
SignalSettings RecordingSignalSettings(StorageContext& ctx, const std::filesystem::path& folder);

// A recorded acquisition's source, or null with the reason in `failure` (no readable
// counts.bin).
std::unique_ptr<RecordedSignalSource> OpenRecordedSignal(StorageContext& ctx,
                                                         const std::filesystem::path& folder,
                                                         std::string* failure = nullptr);

}  // namespace lumivo::offline
