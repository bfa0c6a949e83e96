// Where the signal and activity views read from: one interface over the running acquisition
// (LiveSignalSource, fed by the sampling loop through a bounded buffer) and over a recording's
// raw pages and counts.bin (offline::RecordedSignalSource), so that the main window's live plots
// and the offline browser's signal pages are the same widgets.
//
// Readings are numbered from the start of the run: window m holds readings m x WindowLength()
// to (m + 1) x WindowLength() - 1, as raw page record m of the recording does. A closed window
// reads as it was recorded: after the activity calculation, which cuts spikes down to the
// window's spike limit. The live source also holds the readings of the window in progress.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "core/acquisition/data_files.h"
#include "core/analysis/analysis_module.h"

namespace lumivo {

// A reading the source does not hold (dropped by the hand-over, before the first one kept, or
// beyond the last one).
inline constexpr std::int16_t kNoReading = std::numeric_limits<std::int16_t>::min();

// How the source's windows were made and are analysed.
struct SignalSettings {
    std::size_t window_length = 500;  // RT_Buffer
    double snr_factor = 1.8;          // SnrThreshold
    DspMethod method = DspMethod::ThresholdAverage;
    bool body_bends = false;  // the run counted body bends (histograms recorded)
};

// One channel's analysis of one window, as the signal view draws it: its count, the threshold
// trace and the samples at which events were counted.
struct ChannelWindowAnalysis {
    bool valid = false;  // false: the window is not held, or was not analysed (a monitor run)
    std::int16_t count = 0;
    ThresholdTrace trace{};
    EventMarks events;
};

class SignalSource {
  public:
    virtual ~SignalSource() = default;

    // True for the running acquisition, whose readings grow while it is shown.
    virtual bool Live() const = 0;
    virtual const SignalSettings& Settings() const = 0;
    std::size_t WindowLength() const { return Settings().window_length; }

    // Closed (live) or recorded windows: 0..WindowCount() - 1.
    virtual std::int64_t WindowCount() const = 0;
    // Readings so far: those of the closed windows and, live, of the window in progress.
    virtual std::int64_t ReadingCount() const = 0;

    // The readings of window m, WindowLength() rows of 385, channel fastest (SampleMatrix's
    // shape), into `rows`. False, with `rows` untouched, when the source does not hold it (the
    // live source keeps the last few windows; a recording without raw pages has none).
    virtual bool ReadWindow(std::int64_t m, std::vector<std::int16_t>& rows) = 0;

    // The readings first, first + 1, ... of `channel` (0..383) into `out`; kNoReading where the
    // source holds none.
    virtual void ChannelReadings(std::size_t channel, std::int64_t first,
                                 std::span<std::int16_t> out) = 0;

    // `channel`'s count, threshold trace and events in window m. Live: as the run analysed
    // them. Recorded: the recorded readings analysed again with the run's factor and method.
    virtual ChannelWindowAnalysis AnalyseChannel(std::int64_t m, std::size_t channel) = 0;

    // The counts record of each window so far (counts.bin's records), window m at index m.
    virtual const std::vector<CountsRecord>& CountsRecords() const = 0;
};

// `channel`'s body-bends histogram over window m (all zero when the window is not held).
BendHistogram ChannelBendHistogram(SignalSource& source, std::int64_t m, std::size_t channel);

}  // namespace lumivo
