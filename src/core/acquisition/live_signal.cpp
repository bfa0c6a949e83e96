#include "core/acquisition/live_signal.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace lumivo {

std::shared_ptr<const LiveWindow> MakeLiveWindow(const SamplingState& s, bool analysed,
                                                 bool recorded) {
    auto w = std::make_shared<LiveWindow>();
    w->index = s.windows_closed - 1;
    w->analysed = analysed;
    w->recorded = recorded;
    w->sample_period = s.SamplePeriod;
    w->counts.elapsed_minutes = s.ElapsedMinutes;
    w->counts.values = s.ChannelCounts;
    w->totals = s.ChannelTotals;
    const auto all = s.samples.Readings();
    const std::size_t n = std::min(all.size(), s.rt_buffer * kChannelTableSize);
    w->readings.assign(all.begin(), all.begin() + static_cast<long>(n));
    if (analysed && s.ThresholdTraces.size() == kBeamChannelCount &&
        s.WindowEvents.size() == kBeamChannelCount) {
        w->traces = s.ThresholdTraces;
        w->events = s.WindowEvents;
    }
    w->bend_histogram = s.BendHistogram;
    return w;
}

// ---- SampleHandOver ----

SampleHandOver::SampleHandOver(std::size_t row_capacity, std::size_t window_capacity,
                               std::size_t counts_capacity)
    : row_capacity_(std::max<std::size_t>(row_capacity, 1)),
      window_capacity_(std::max<std::size_t>(window_capacity, 1)),
      counts_capacity_(std::max<std::size_t>(counts_capacity, 1)) {
    ResetRing(ring_);
    ResetRing(spare_);
}

void SampleHandOver::ResetRing(RowRing& ring) const {
    // Sized once: pushing a row never allocates.
    ring.readings.resize(row_capacity_);
    ring.values.resize(row_capacity_ * kChannelTableSize);
    ring.start = 0;
    ring.size = 0;
}

void SampleHandOver::BeginRun(const SignalSettings& settings) {
    std::deque<std::shared_ptr<const LiveWindow>> old_windows;
    {
        const std::lock_guard lock(mutex_);
        ++run_;
        settings_ = settings;
        ring_.start = 0;
        ring_.size = 0;
        old_windows.swap(windows_);
        counts_.clear();
        dropped_rows_ = 0;
        dropped_windows_ = 0;
    }
    // The old windows are freed outside the lock.
}

void SampleHandOver::PushRow(std::int64_t reading, std::span<const std::int16_t> row) {
    const std::size_t n = std::min(row.size(), kChannelTableSize);
    const std::lock_guard lock(mutex_);
    std::size_t slot = 0;
    if (ring_.size == row_capacity_) {
        // Full: the oldest row makes room for the newest.
        slot = ring_.start;
        ring_.start = (ring_.start + 1) % row_capacity_;
        ++dropped_rows_;
        ++total_dropped_rows_;
    } else {
        slot = (ring_.start + ring_.size) % row_capacity_;
        ++ring_.size;
    }
    ring_.readings[slot] = reading;
    std::int16_t* out = ring_.values.data() + slot * kChannelTableSize;
    std::copy_n(row.begin(), n, out);
    std::fill(out + n, out + kChannelTableSize, std::int16_t{0});
    ++total_pushed_rows_;
}

void SampleHandOver::PushWindow(std::shared_ptr<const LiveWindow> window) {
    if (!window) return;
    std::shared_ptr<const LiveWindow> dropped;
    {
        const std::lock_guard lock(mutex_);
        counts_.emplace_back(window->index, window->counts);
        if (counts_.size() > counts_capacity_) counts_.pop_front();
        windows_.push_back(std::move(window));
        if (windows_.size() > window_capacity_) {
            dropped = std::move(windows_.front());
            windows_.pop_front();
            ++dropped_windows_;
        }
    }
    // A dropped window is freed outside the lock.
}

void SampleHandOver::Take(Taken& out) {
    out.windows.clear();
    out.counts.clear();
    std::deque<std::shared_ptr<const LiveWindow>> windows;
    std::deque<std::pair<std::int64_t, CountsRecord>> counts;
    {
        const std::lock_guard lock(mutex_);
        // The filled ring changes places with the empty spare one: no copy under the lock.
        std::swap(ring_, spare_);
        windows.swap(windows_);
        counts.swap(counts_);
        out.run = run_;
        out.settings = settings_;
        out.dropped_rows = dropped_rows_;
        out.dropped_windows = dropped_windows_;
        dropped_rows_ = 0;
        dropped_windows_ = 0;
    }
    // Unrolled into reading order outside the lock; the spare ring is then empty again.
    out.rows.readings.resize(spare_.size);
    out.rows.values.resize(spare_.size * kChannelTableSize);
    for (std::size_t i = 0; i < spare_.size; ++i) {
        const std::size_t slot = (spare_.start + i) % row_capacity_;
        out.rows.readings[i] = spare_.readings[slot];
        std::copy_n(spare_.values.data() + slot * kChannelTableSize, kChannelTableSize,
                    out.rows.values.data() + i * kChannelTableSize);
    }
    spare_.start = 0;
    spare_.size = 0;
    for (auto& w : windows) out.windows.push_back(std::move(w));
    for (auto& c : counts) out.counts.push_back(std::move(c));
}

std::uint64_t SampleHandOver::pushed_rows() const {
    const std::lock_guard lock(mutex_);
    return total_pushed_rows_;
}

std::uint64_t SampleHandOver::dropped_rows() const {
    const std::lock_guard lock(mutex_);
    return total_dropped_rows_;
}

// ---- LiveSignalSource ----

LiveSignalSource::LiveSignalSource(SampleHandOver& hand_over) : hand_over_(hand_over) {
    Restart(SignalSettings{});
}

void LiveSignalSource::Restart(const SignalSettings& settings) {
    settings_ = settings;
    settings_.window_length = std::max<std::size_t>(settings.window_length, 1);
    // The window in progress and the one before it.
    history_rows_ = 2 * settings_.window_length;
    history_.assign(history_rows_ * kChannelTableSize, 0);
    slot_reading_.assign(history_rows_, -1);
    windows_.clear();
    counts_.clear();
    window_count_ = 0;
    reading_count_ = 0;
    dropped_rows_ = 0;
}

void LiveSignalSource::StoreRow(std::int64_t reading, std::span<const std::int16_t> row) {
    if (reading < 0) return;
    if (reading < reading_count_ - 1) {
        // The window in progress began again (a calibration during the run resets it): the
        // readings after this one are no longer the run's.
        for (std::int64_t& r : slot_reading_) {
            if (r >= reading) r = -1;
        }
        reading_count_ =
            std::max(reading, window_count_ * static_cast<std::int64_t>(settings_.window_length));
    }
    const auto slot = static_cast<std::size_t>(reading % static_cast<std::int64_t>(history_rows_));
    std::copy_n(row.begin(), std::min(row.size(), kChannelTableSize),
                history_.begin() + static_cast<long>(slot * kChannelTableSize));
    slot_reading_[slot] = reading;
    reading_count_ = std::max(reading_count_, reading + 1);
}

LiveSignalSource::Update LiveSignalSource::Refresh() {
    Update u;
    hand_over_.Take(taken_);
    if (taken_.run != run_) {
        run_ = taken_.run;
        Restart(taken_.settings);
        u.restarted = true;
    }
    u.dropped_rows = taken_.dropped_rows;
    u.dropped_windows = taken_.dropped_windows;
    dropped_rows_ += taken_.dropped_rows;
    for (std::size_t i = 0; i < taken_.rows.size(); ++i) {
        StoreRow(taken_.rows.readings[i], taken_.rows.row(i));
        u.rows = true;
    }
    for (const auto& [index, record] : taken_.counts) {
        if (index < 0) continue;
        // A record the hand-over had to drop reads as minute -1.
        const auto at = static_cast<std::size_t>(index);
        if (counts_.size() <= at) {
            CountsRecord missing;
            missing.elapsed_minutes = -1;
            counts_.resize(at + 1, missing);
        }
        counts_[at] = record;
        window_count_ = std::max(window_count_, index + 1);
        u.windows = true;
    }
    for (auto& w : taken_.windows) {
        windows_.push_back(std::move(w));
        if (windows_.size() > kWindowsKept) windows_.pop_front();
        u.windows = true;
    }
    taken_.windows.clear();
    reading_count_ = std::max(reading_count_,
                              window_count_ * static_cast<std::int64_t>(settings_.window_length));
    return u;
}

const LiveWindow* LiveSignalSource::LatestWindow() const {
    return windows_.empty() ? nullptr : windows_.back().get();
}

const LiveWindow* LiveSignalSource::HeldWindow(std::int64_t m) const {
    for (const auto& w : windows_) {
        if (w->index == m) return w.get();
    }
    return nullptr;
}

bool LiveSignalSource::ReadWindow(std::int64_t m, std::vector<std::int16_t>& rows) {
    const LiveWindow* w = HeldWindow(m);
    if (w == nullptr) return false;
    rows = w->readings;
    return true;
}

void LiveSignalSource::ChannelReadings(std::size_t channel, std::int64_t first,
                                       std::span<std::int16_t> out) {
    std::fill(out.begin(), out.end(), kNoReading);
    if (channel >= kChannelTableSize || out.empty()) return;
    const auto len = static_cast<std::int64_t>(settings_.window_length);
    const LiveWindow* w = nullptr;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::int64_t r = first + static_cast<std::int64_t>(i);
        if (r < 0 || r >= reading_count_) continue;
        // A closed window reads as it was recorded; the window in progress from its rows.
        const std::int64_t m = r / len;
        if (w == nullptr || w->index != m) w = HeldWindow(m);
        if (w != nullptr) {
            const auto row = static_cast<std::size_t>(r - m * len);
            if ((row + 1) * kChannelTableSize <= w->readings.size())
                out[i] = w->readings[row * kChannelTableSize + channel];
            continue;
        }
        const auto slot = static_cast<std::size_t>(r % static_cast<std::int64_t>(history_rows_));
        if (slot_reading_[slot] == r) out[i] = history_[slot * kChannelTableSize + channel];
    }
}

ChannelWindowAnalysis LiveSignalSource::AnalyseChannel(std::int64_t m, std::size_t channel) {
    ChannelWindowAnalysis a;
    const LiveWindow* w = HeldWindow(m);
    if (w == nullptr || !w->analysed || channel >= w->traces.size()) return a;
    a.valid = true;
    a.count = w->counts.values[channel];
    a.trace = w->traces[channel];
    a.events = w->events[channel];
    return a;
}

BendHistogram ChannelBendHistogram(SignalSource& source, std::int64_t m, std::size_t channel) {
    BendHistogram h{};
    std::vector<std::int16_t> rows;
    if (channel >= kBeamChannelCount || !source.ReadWindow(m, rows)) return h;
    const std::size_t len = rows.size() / kChannelTableSize;
    if (len < kAnalysisWindowLength) return h;
    return BendHistogramOfWindow(ConstSampleWindow(rows, len), channel);
}

}  // namespace lumivo
