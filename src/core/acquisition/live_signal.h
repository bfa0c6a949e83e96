// The hand-over from the sampling loop to the live displays, and the live side of SignalSource.
//
// The sampling loop writes each new row of SampleMatrix and each closed window into the
// SampleSink it was given, a SampleHandOver, and never waits for the displays: the buffer is
// bounded, and when the displays fall behind (a slow frame, a stalled display, a window left
// closed) the oldest rows and windows are dropped, never the newest. Writing takes a short lock
// (copying one row, or moving a prepared window in); taking swaps the filled buffers out under the
// same lock, so neither side holds it for longer than a few pointer swaps.
//
// LiveSignalSource takes what was handed over, at the displays' own pace, and keeps a history:
// the last two windows of rows, the last few closed windows with their analysis, and the counts
// record of every window of the run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "core/acquisition/acquisition_state.h"
#include "core/acquisition/signal_source.h"

namespace lumivo {

// One closed window as the live displays get it.
struct LiveWindow {
    std::int64_t index = 0;    // windows closed before it in this run
    bool analysed = false;     // the activity was calculated (a recorded run)
    bool recorded = false;     // its records were written
    double sample_period = 0;  // SamplePeriod, seconds per reading
    CountsRecord counts;       // as counts.bin holds it: ElapsedMinutes, counts, temperature
    std::array<std::int16_t, kChannelTableSize> totals{};  // ChannelTotals
    // The window's readings after the analysis (as its raw page holds them): window_length rows
    // of 385, channel fastest.
    std::vector<std::int16_t> readings;
    // Each channel's threshold trace and events (384 entries each; empty when not analysed).
    std::vector<ThresholdTrace> traces;
    std::vector<EventMarks> events;
    // The run's accumulated BendHistogram (51 bins x 385, channel fastest); empty outside
    // body-bends mode.
    std::vector<std::int32_t> bend_histogram;
};

// The window the sampling loop just closed, taken from its state after the window's records
// were written: `analysed` when the activity was calculated, `recorded` when its records were
// written.
std::shared_ptr<const LiveWindow> MakeLiveWindow(const SamplingState& sampling, bool analysed,
                                                 bool recorded);

// Where the engine hands each row it reads and each window it closes (the live branch). A run
// (not a blank) begins with BeginRun; then every row of it, with its reading number (window x
// window length + row), and every closed window. Nothing here may wait for a display.
class SampleSink {
  public:
    virtual ~SampleSink() = default;
    virtual void BeginRun(const SignalSettings& settings) = 0;
    virtual void PushRow(std::int64_t reading, std::span<const std::int16_t> row) = 0;
    virtual void PushWindow(std::shared_ptr<const LiveWindow> window) = 0;
};

class SampleHandOver final : public SampleSink {
  public:
    // Rows kept for a display that falls behind: more than a minute of readings.
    static constexpr std::size_t kDefaultRowCapacity = 1024;
    // Closed windows kept (each carries a whole window of readings).
    static constexpr std::size_t kDefaultWindowCapacity = 4;
    // Counts records kept: more than a day of windows.
    static constexpr std::size_t kDefaultCountsCapacity = 4096;

    explicit SampleHandOver(std::size_t row_capacity = kDefaultRowCapacity,
                            std::size_t window_capacity = kDefaultWindowCapacity,
                            std::size_t counts_capacity = kDefaultCountsCapacity);
    SampleHandOver(const SampleHandOver&) = delete;
    SampleHandOver& operator=(const SampleHandOver&) = delete;

    // ---- The sampling loop's side: never waits for the displays ----

    // A new run (or blank): what was handed over before is dropped.
    void BeginRun(const SignalSettings& settings) override;
    // Reading number `reading` of the run (window x window_length + row), all 385 entries.
    void PushRow(std::int64_t reading, std::span<const std::int16_t> row) override;
    // A closed window; its counts record is kept apart, so the activity plots lose no window
    // even when whole windows of readings were dropped.
    void PushWindow(std::shared_ptr<const LiveWindow> window) override;

    // ---- The displays' side ----

    struct Rows {
        std::vector<std::int64_t> readings;  // reading numbers, oldest first
        std::vector<std::int16_t> values;    // 385 per reading, in the same order
        std::size_t size() const { return readings.size(); }
        std::span<const std::int16_t> row(std::size_t i) const {
            return std::span<const std::int16_t>(values).subspan(i * kChannelTableSize,
                                                                 kChannelTableSize);
        }
    };
    struct Taken {
        std::uint64_t run = 0;  // changes with every BeginRun
        SignalSettings settings;
        Rows rows;
        std::vector<std::shared_ptr<const LiveWindow>> windows;     // oldest first
        std::vector<std::pair<std::int64_t, CountsRecord>> counts;  // window index, record
        std::uint64_t dropped_rows = 0;                             // since the previous take
        std::uint64_t dropped_windows = 0;
    };
    // Everything handed over since the last take, oldest first (one taker: the displays).
    // Under the lock the filled buffer only changes places with an empty one; `out` is reused
    // from take to take, so taking allocates nothing once it has grown.
    void Take(Taken& out);

    // Totals since the start of the program, for the benchmarks and the log.
    std::uint64_t pushed_rows() const;
    std::uint64_t dropped_rows() const;

  private:
    struct RowRing {
        std::vector<std::int64_t> readings;
        std::vector<std::int16_t> values;
        std::size_t start = 0;
        std::size_t size = 0;
    };
    void ResetRing(RowRing& ring) const;

    const std::size_t row_capacity_;
    const std::size_t window_capacity_;
    const std::size_t counts_capacity_;
    mutable std::mutex mutex_;
    std::uint64_t run_ = 0;
    SignalSettings settings_;
    RowRing ring_;
    RowRing spare_;  // empty; the taker's side of the swap
    std::deque<std::shared_ptr<const LiveWindow>> windows_;
    std::deque<std::pair<std::int64_t, CountsRecord>> counts_;
    std::uint64_t dropped_rows_ = 0;     // not yet reported to the displays
    std::uint64_t dropped_windows_ = 0;  // not yet reported to the displays
    std::uint64_t total_pushed_rows_ = 0;
    std::uint64_t total_dropped_rows_ = 0;
};

// The running acquisition as a SignalSource.
class LiveSignalSource final : public SignalSource {
  public:
    // Closed windows kept with their readings and analysis.
    static constexpr std::size_t kWindowsKept = 3;

    explicit LiveSignalSource(SampleHandOver& hand_over);

    // What Refresh() found.
    struct Update {
        bool restarted = false;  // a new run began: everything held before is gone
        bool rows = false;       // new readings
        bool windows = false;    // a window closed
        std::uint64_t dropped_rows = 0;
        std::uint64_t dropped_windows = 0;
    };
    // Takes what the sampling loop handed over since the last call.
    Update Refresh();

    // The newest closed window, or null before the first one.
    const LiveWindow* LatestWindow() const;
    // Rows dropped by the hand-over since the run began (the display was too slow).
    std::uint64_t DroppedRows() const { return dropped_rows_; }

    // SignalSource.
    bool Live() const override { return true; }
    const SignalSettings& Settings() const override { return settings_; }
    std::int64_t WindowCount() const override { return window_count_; }
    std::int64_t ReadingCount() const override { return reading_count_; }
    bool ReadWindow(std::int64_t m, std::vector<std::int16_t>& rows) override;
    void ChannelReadings(std::size_t channel, std::int64_t first,
                         std::span<std::int16_t> out) override;
    ChannelWindowAnalysis AnalyseChannel(std::int64_t m, std::size_t channel) override;
    const std::vector<CountsRecord>& CountsRecords() const override { return counts_; }

  private:
    const LiveWindow* HeldWindow(std::int64_t m) const;
    void Restart(const SignalSettings& settings);
    void StoreRow(std::int64_t reading, std::span<const std::int16_t> row);

    SampleHandOver& hand_over_;
    SampleHandOver::Taken taken_;
    std::uint64_t run_ = 0;
    SignalSettings settings_;
    // Rows of the last two windows, slot = reading mod capacity; slot_reading_ says which
    // reading a slot holds (-1: none).
    std::size_t history_rows_ = 0;
    std::vector<std::int16_t> history_;
    std::vector<std::int64_t> slot_reading_;
    std::deque<std::shared_ptr<const LiveWindow>> windows_;
    std::vector<CountsRecord> counts_;
    std::int64_t window_count_ = 0;
    std::int64_t reading_count_ = 0;
    std::uint64_t dropped_rows_ = 0;
};

}  // namespace lumivo
