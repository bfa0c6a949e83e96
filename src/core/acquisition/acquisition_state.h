// The state of an acquisition: the commands a run allows, whether and how it runs
// (AcquisitionState), the readings of the window in progress (SampleMatrix) and everything the
// sampling loop keeps between ticks (SamplingState). The engine owns it; front ends read it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/acquisition/acquisition_texts.h"
#include "core/acquisition/instrument_recovery.h"
#include "core/analysis/analysis_module.h"
#include "core/common/channels.h"

namespace lumivo {

// The commands a run or a blank allows. A front end maps each to its own controls (the main
// window: start to CmdPlay, pause to CmdPause, and so on; docs/architecture.md lists them).
struct RunCommands {
    bool start = true;
    bool pause = false;
    bool stop = false;
    bool setup = true;     // the project setup
    bool offline = true;   // the offline browser
    bool organism = true;  // the organism choice
    bool snr_threshold = true;
    bool body_bends = true;  // the window also applies its plate-format rule
    // The connection commands (Connect, Disconnect, the port menu): never while a run or a
    // blank uses the port.
    bool connection = true;
    // The pause command resumes while the run is paused.
    bool pause_resumes = false;
    friend bool operator==(const RunCommands&, const RunCommands&) = default;
};

// Whether an acquisition runs.
enum class RunState { Stopped, Running, Paused };

// The acquisition's part of the program-wide state.
struct AcquisitionState {
    RunState AcquisitionRunning = RunState::Stopped;
    bool RecordingOn = false;         // activity is calculated and recorded (not a monitor run)
    bool BodyBendsMode = false;       // two blocks per tick, histograms accumulated
    bool TimeCounterStopped = false;  // a pause froze the time counter
    std::string ExperimentName;
    std::string AcquisitionFolderName;        // "yyyymmdd_hhmm"; "" for a monitor run
    std::filesystem::path AcquisitionFolder;  // ProjectFolder / AcquisitionFolderName
    std::int64_t AcquisitionStartTime = 0;    // monotonic microseconds
    std::int64_t LastTickTime = 0;            // start of the current window (microseconds)
    std::int64_t PausedElapsed = 0;           // elapsed span frozen by the pause
    std::int64_t PauseBegan = 0;              // when the current pause began
    bool sampling_on = false;                 // the host's sampling timer (Timeradq) runs
    bool finished_at_lapse = false;           // the last run ended at its programmed lapse
    bool folder_created = false;              // this run created its acquisition folder
    std::optional<std::filesystem::path> quick_report;  // written at the end of the last run
    std::string stop_reason;                            // why the last run ended
    std::string quick_report_error;                     // why its quick report could not be written
};

// A channel's running signal statistics over the current window, from which the window close
// takes its zero level and its mean level. The envelopes follow the local extremes of the
// channel's last three readings and run on across windows.
struct EnvelopeAccumulator {
    std::int64_t amplitude_sum = 0;  // sum of peak - valley
    std::int64_t signal_sum = 0;     // sum of the readings
    std::int32_t count = 0;
    std::int16_t peak = kReferenceLevel;
    std::int16_t valley = kReferenceLevel;
    std::int16_t previous = kReferenceLevel;  // the reading before the last
    std::int16_t last = kReferenceLevel;      // the last reading
    std::int16_t seen = 0;                    // readings seen since the start (up to 2)
};

// The readings of the window in progress (`SampleMatrix`): rows of kChannelTableSize readings,
// channel fastest, the layout of a raw page record. Rows are read and written through Row() and
// At(), and handed to the analysis as a SampleWindow.
class SampleMatrix {
  public:
    // `rows` rows of zeros.
    void Reset(std::size_t rows) {
        rows_ = rows;
        data_.assign(rows * kChannelTableSize, 0);
    }
    std::size_t Rows() const { return rows_; }
    std::span<std::int16_t> Row(std::size_t r) {
        return std::span<std::int16_t>(data_).subspan(r * kChannelTableSize, kChannelTableSize);
    }
    std::span<const std::int16_t> Row(std::size_t r) const {
        return std::span<const std::int16_t>(data_).subspan(r * kChannelTableSize,
                                                            kChannelTableSize);
    }
    std::int16_t& At(std::size_t r, std::size_t c) { return data_[r * kChannelTableSize + c]; }
    std::int16_t At(std::size_t r, std::size_t c) const { return data_[r * kChannelTableSize + c]; }
    // The first `rows` rows as the analysis and the raw page take them.
    SampleWindow Window(std::size_t rows) { return {data_, rows, kChannelTableSize}; }
    ConstSampleWindow Window(std::size_t rows) const { return {data_, rows, kChannelTableSize}; }
    // Every reading, row after row.
    std::span<const std::int16_t> Readings() const { return data_; }

  private:
    std::vector<std::int16_t> data_;
    std::size_t rows_ = 0;
};

struct SamplingState {
    std::size_t rt_buffer = 500;  // RT_Buffer of the run
    // (RT_Buffer + 1) rows; the last row is never filled.
    SampleMatrix samples;
    std::int16_t SampleRow = 0;
    std::int32_t TickCount = 0;
    std::array<std::int16_t, kChannelTableSize> ChannelCounts{};
    std::array<std::int16_t, kChannelTableSize> ChannelTotals{};
    // BendHistogram: 51 bins x 385 channels, channel fastest (the histogram file's layout).
    std::vector<std::int32_t> BendHistogram;
    std::array<std::int32_t, kChannelTableSize> BendHistogramPeak{};
    // Each channel's threshold trace and event marks over the last analysed window (384
    // entries once a window of a recorded run was analysed), for the live signal view.
    std::vector<ThresholdTrace> ThresholdTraces;
    std::vector<EventMarks> WindowEvents;
    std::int16_t RawFileIndex = 0;
    std::int16_t WindowSubCounter = 0;  // windows 0..10 within a raw page
    double SamplePeriod = 0.0;          // seconds per sample over the last window
    double AccumulatedSampleTime = 0.0;
    std::int32_t HistogramRecords = 0;
    std::int32_t ElapsedMinutes = 0;
    double ElapsedMinutesExact = 0.0;
    std::array<EnvelopeAccumulator, kChannelTableSize> envelopes{};
    std::int16_t BodyBendsBlockStart = 0;  // 0 or 64

    // Bookkeeping of the run.
    std::int32_t windows_closed = 0;
    std::int32_t windows_recorded = 0;
    std::int32_t window_write_failures = 0;
    std::string last_write_error;  // the last window that could not be written, "" after a good one
    std::string last_tick_error;   // an unexpected error that ended a tick
    // Silence of the instrument: ticks in a row in which no block came back whole.
    std::int32_t failed_reads = 0;
    std::int64_t silent_since = 0;
    bool link_silent = false;    // the last block read got no byte at all
    bool silence_alarm = false;  // the alarm is shown
    // Readings of the window in progress held from the one before (a block not whole).
    std::int32_t held_rows = 0;
    std::int64_t held_us = 0;  // the time those ticks took
    // Windows left out of every file: too few valid readings, or the instrument lost.
    std::int32_t windows_not_recorded = 0;
    UnrecordedWindows unrecorded;     // the run of such windows not yet in events.log
    std::int64_t last_window_us = 0;  // how long the last recorded window took
    InstrumentRecovery recovery;
    // Notices that wait for a condition to last, and those sent once until it is over.
    std::int64_t temperature_out_since = -1;  // monotonic; -1 while inside the band
    bool temperature_notified = false;
    bool disk_notified = false;
    // Timing of the run (microseconds).
    std::int64_t ticks = 0;
    std::int64_t longest_tick_us = 0;
    std::int64_t longest_close_us = 0;
};

}  // namespace lumivo
