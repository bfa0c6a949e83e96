#include "core/offline/recorded_signal_source.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <system_error>

#include "core/control/control_settings.h"
#include "core/storage/project_setup.h"

namespace lumivo::offline {
namespace fs = std::filesystem;

RecordedSignalSource::RecordedSignalSource(const fs::path& folder, const SignalSettings& settings)
    : folder_(folder), settings_(settings) {
    settings_.window_length = std::max<std::size_t>(settings_.window_length, 1);
    counts_ = ReadCountsFile(folder_ / kCountsFileName).records;
    // Raw pages 0, 1, ... as long as they follow each other; a page holds whole records only.
    for (int page = 0;; ++page) {
        const fs::path file = folder_ / RawPageFileName(page);
        std::error_code ec;
        if (!fs::is_regular_file(file, ec)) break;
        const std::uintmax_t size = fs::file_size(file, ec);
        if (ec) break;
        const std::size_t records = static_cast<std::size_t>(std::min<std::uintmax_t>(
            size / RawPageRecordSize(settings_.window_length), kWindowsPerRawPage));
        page_records_[page] = records;
        raw_windows_ += static_cast<std::int64_t>(records);
        if (records < kWindowsPerRawPage) break;
    }
}

std::int64_t RecordedSignalSource::WindowCount() const {
    return std::max(static_cast<std::int64_t>(counts_.size()), raw_windows_);
}

std::int64_t RecordedSignalSource::ReadingCount() const {
    return raw_windows_ * static_cast<std::int64_t>(settings_.window_length);
}

const std::vector<std::int16_t>* RecordedSignalSource::Window(std::int64_t m) {
    if (m < 0 || m >= raw_windows_) return nullptr;
    if (m == cached_window_) return &cached_rows_;
    const RawPageLocation at = LocateRawWindow(static_cast<std::size_t>(m));
    const auto page = page_records_.find(at.page);
    if (page == page_records_.end() || at.record >= page->second) return nullptr;
    try {
        const RawPageReader reader(folder_ / RawPageFileName(at.page), settings_.window_length);
        cached_rows_.resize((settings_.window_length + 1) * kChannelTableSize);
        reader.ReadRecord(at.record, cached_rows_);
    } catch (const std::exception&) {
        cached_window_ = -1;
        return nullptr;
    }
    cached_window_ = m;
    return &cached_rows_;
}

bool RecordedSignalSource::ReadWindow(std::int64_t m, std::vector<std::int16_t>& rows) {
    const std::vector<std::int16_t>* w = Window(m);
    if (w == nullptr) return false;
    rows.assign(w->begin(),
                w->begin() + static_cast<long>(settings_.window_length * kChannelTableSize));
    return true;
}

void RecordedSignalSource::ChannelReadings(std::size_t channel, std::int64_t first,
                                           std::span<std::int16_t> out) {
    std::fill(out.begin(), out.end(), kNoReading);
    if (channel >= kChannelTableSize) return;
    const auto len = static_cast<std::int64_t>(settings_.window_length);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::int64_t r = first + static_cast<std::int64_t>(i);
        if (r < 0 || r >= ReadingCount()) continue;
        const std::int64_t m = r / len;
        const std::vector<std::int16_t>* w = Window(m);
        if (w == nullptr) continue;
        out[i] = (*w)[static_cast<std::size_t>(r - m * len) * kChannelTableSize + channel];
    }
}

ChannelWindowAnalysis RecordedSignalSource::AnalyseChannel(std::int64_t m, std::size_t channel) {
    ChannelWindowAnalysis a;
    if (channel >= kBeamChannelCount || settings_.window_length < kAnalysisWindowLength) return a;
    const auto key = std::make_pair(m, channel);
    if (const auto found = analyses_.find(key); found != analyses_.end()) return found->second;
    const std::vector<std::int16_t>* w = Window(m);
    if (w == nullptr) return a;
    // The analysis cuts spikes in place: it works on a copy of the window.
    std::vector<std::int16_t> copy(*w);
    try {
        const ChannelAnalysis r =
            AnalyzeChannelWindow(SampleWindow{copy, settings_.window_length, kChannelTableSize},
                                 channel, settings_.snr_factor, settings_.method);
        a.valid = true;
        a.count = r.count;
        a.trace = r.threshold_trace;
        a.events = r.events;
    } catch (const std::invalid_argument&) {
        return a;
    }
    if (analyses_.size() >= 64) analyses_.clear();
    analyses_[key] = a;
    return a;
}

SignalSettings RecordingSignalSettings(StorageContext& ctx, const fs::path& folder) {
    SignalSettings s;
    AcquisitionFileDialogs quiet(ctx.dialogs);
    StorageContext reading{ctx.install_dir, quiet, ctx.files, ctx.list_separator_source};
    ProjectState project;
    project.ProjectFolder = folder;
    LoadProjectSetup(reading, 0, 0, project, SetupUse::Reading);
    s.window_length = static_cast<std::size_t>(std::max<int>(project.Setup.RT_Buffer, 1));
    try {
        s.method = DspMethodFromNumber(project.Setup.DSP_Method);
    } catch (const std::invalid_argument&) {
        s.method = DspMethod::ThresholdAverage;
    }
    CalibrationControls controls;
    LoadCalibrationControls(controls, project);
    s.snr_factor = controls.SnrThreshold;
    std::error_code ec;
    s.body_bends = fs::is_regular_file(folder / HistogramFileName(0), ec);
    return s;
}

std::unique_ptr<RecordedSignalSource> OpenRecordedSignal(StorageContext& ctx,
                                                         const fs::path& folder,
                                                         std::string* failure) {
    try {
        return std::make_unique<RecordedSignalSource>(folder, RecordingSignalSettings(ctx, folder));
    } catch (const std::exception& e) {
        if (failure != nullptr) *failure = e.what();
        return nullptr;
    }
}

}  // namespace lumivo::offline
