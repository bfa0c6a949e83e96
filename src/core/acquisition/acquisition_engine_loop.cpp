// The sampling loop: one tick of Timeradq reads one reading of every channel into the current
// row of SampleMatrix; every RT_Buffer rows the window closes (temperature and thermostat, zero
// levels, activity, re-adjustment, records); every tick updates the time display and ends the
// run at its lapse on a window boundary.
#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <string>
#include <utility>

#include "core/acquisition/acquisition_engine.h"
#include "core/acquisition/data_files.h"
#include "core/common/rounding.h"
#include "core/control/channel_calibration.h"
#include "core/storage/field_record.h"

namespace lumivo {
namespace {

constexpr const char* kCrLf = "\r\n";
constexpr std::int64_t kMicrosPerMinute = 60'000'000;
constexpr int kBlockChannels = 32;  // triples per block: channels nn + t, + 128, + 256

double RoundTo(double v, double scale) {
    return RoundHalfEven(v * scale) / scale;
}

bool InUse(const PlateMap& plate, std::size_t c) {
    return plate.ChannelWell[c] >= 0;
}

}  // namespace

std::span<std::int16_t> AcquisitionEngine::Row(std::size_t row) {
    return sampling.samples.Row(row);
}

void AcquisitionEngine::Tick() {
    if (in_tick_ || !state.sampling_on) return;
    const InProgress leave(in_tick_);

    Clock& clock = ctx_.link.clock;
    const std::int64_t start = clock.MonotonicMicros();
    try {
        if (state.AcquisitionRunning == RunState::Running) {
            RunningTick(start);
        } else if (state.AcquisitionRunning == RunState::Paused) {
            PausedTick(start);
        } else if (blank.BlankMode) {
            BlankTick();
        }
    } catch (const std::exception& e) {
        // Whatever went wrong ends this tick only; the next one starts afresh.
        sampling.last_tick_error = e.what();
    }
    LogNoticeReports();
    ++sampling.ticks;
    sampling.longest_tick_us = std::max(sampling.longest_tick_us, clock.MonotonicMicros() - start);
}

void AcquisitionEngine::ClimatePerTick(std::int64_t now) {
    if (!Online()) return;
    const double minutes = static_cast<double>(now - state.AcquisitionStartTime) /
                           static_cast<double>(kMicrosPerMinute);
    bool sent = PendingUpdateStep(ctx_.link, ctx_.climate);
    if (sent) LogLightChange("light button");
    if (PulseStep(ctx_.link, ctx_.climate, minutes)) {
        sent = true;
        LogLightChange("pulse series");
    }
    if (sent) ctx_.views.display.ShowOutputs(OutputCode(ctx_.climate.outputs));
}

void AcquisitionEngine::LogLightChange(const char* cause) {
    // The light schedule a run really had, for the circadian views of its recording.
    const bool on = ctx_.climate.outputs.light_on;
    if (logged_light_ == on) return;
    logged_light_ = on;
    LogEvent(std::string(on ? "Light on" : "Light off") + " (" + cause + ")");
}

void AcquisitionEngine::PausedTick(std::int64_t now) {
    // The time counter runs on: the clock, the light pulses and the lapse, but no sample.
    ClimatePerTick(now);
    TimeAndLapse(now, false);
}

void AcquisitionEngine::RunningTick(std::int64_t now) {
    SamplingState& s = sampling;
    Clock& clock = ctx_.link.clock;
    if (InstrumentLost()) {
        // No readings until the instrument is back; the time counter and the lapse go on.
        RecoverInstrument(now);
        TimeAndLapse(clock.MonotonicMicros(), true);
        return;
    }
    ClimatePerTick(now);

    // Warm-up at the start of each window and after a start or resume. Skipped while the
    // instrument is silent: every read would only wait out its timeouts.
    if (Online() && !s.link_silent && (s.SampleRow < 2 || s.TickCount < 2)) {
        std::array<std::uint16_t, kChannelTableSize> discard{};
        for (int nn : kBlockStarts) {
            if (ReadChannelBlock(ctx_.link, nn, BlockReadMode::TwoHalves, discard).bytes == 0) {
                s.link_silent = true;
                break;
            }
        }
        clock.SleepMs(kWarmUpPauseMs);
    }
    if (Online() && !CommPortGone(ctx_.link.ports, ctx_.link.ComPortNumber)) ReadSample(now);
    if (Online() && CommPortGone(ctx_.link.ports, ctx_.link.ComPortNumber)) {
        const CommPortSlot& slot =
            ctx_.link.ports.table[static_cast<std::size_t>(ctx_.link.ComPortNumber)];
        LoseInstrument(slot.handle ? "the port failed (" + SystemErrorText(slot.io_error) + ")"
                                   : std::string("the port is not open"));
        TimeAndLapse(clock.MonotonicMicros(), true);
        return;
    }

    const auto row_index = static_cast<std::size_t>(s.SampleRow);
    if (ctx_.live != nullptr) {
        const auto reading =
            static_cast<std::int64_t>(s.windows_closed) * static_cast<std::int64_t>(s.rt_buffer) +
            s.SampleRow;
        ctx_.live->PushRow(reading, Row(row_index));
    }
    if (s.TickCount == ctx_.app.project.Setup.DSP_Interval) ctx_.views.live.RedrawLivePlot();
    UpdateEnvelopes();

    ++s.SampleRow;
    if (static_cast<std::size_t>(s.SampleRow) >= s.rt_buffer) {
        CloseWindow(clock.MonotonicMicros());
        if (state.AcquisitionRunning == RunState::Stopped) return;
    }
    ++s.TickCount;
    TimeAndLapse(clock.MonotonicMicros(), true);
}

void AcquisitionEngine::ReadSample(std::int64_t tick_start) {
    SamplingState& s = sampling;
    const auto r = static_cast<std::size_t>(s.SampleRow);
    const std::span<std::int16_t> row = Row(r);
    std::array<std::uint16_t, kChannelTableSize> reply{};

    std::array<int, 4> blocks = kBlockStarts;
    std::size_t block_count = blocks.size();
    if (state.BodyBendsMode) {
        blocks = {s.BodyBendsBlockStart, s.BodyBendsBlockStart + kBlockChannels, 0, 0};
        block_count = 2;
    }

    bool any_good = false;
    bool all_good = true;
    bool silent = false;
    for (std::size_t b = 0; b < block_count; ++b) {
        const int nn = blocks[b];
        BlockRead read;
        // Once a block got no byte at all the rest of the tick is not asked for: each would
        // only wait out its timeouts. While the instrument stays silent one whole-block read
        // per tick probes it.
        if (!silent) {
            read = ReadChannelBlock(ctx_.link, nn,
                                    s.link_silent ? BlockReadMode::Whole : BlockReadMode::TwoHalves,
                                    reply);
            silent = read.bytes == 0;
        }
        const bool good = read.decode.accepted && !read.decode.bad;
        any_good = any_good || good;
        all_good = all_good && good;
        for (int t = 0; t < kBlockChannels; ++t) {
            for (int bank = 0; bank < 3; ++bank) {
                const auto c = static_cast<std::size_t>(nn + t + 128 * bank);
                if (good || (read.decode.accepted && r < 2)) {
                    row[c] = static_cast<std::int16_t>(reply[c]);
                } else if (r >= 2) {
                    // A bad or missing block holds its channels' previous reading.
                    row[c] = sampling.samples.At(static_cast<std::size_t>(r - 1), c);
                }
            }
        }
    }
    s.link_silent = silent;
    if (!all_good) {
        ++s.held_rows;
        s.held_us += ctx_.link.clock.MonotonicMicros() - tick_start;
    }

    // Silence: no block of the tick came back whole and valid.
    if (any_good) {
        if (s.silence_alarm) {
            const auto seconds = (ctx_.link.clock.MonotonicMicros() - s.silent_since) / 1'000'000;
            s.silence_alarm = false;
            UpdateAlarm();
            LogEvent("Alarm ended: the instrument answers again after " + std::to_string(seconds) +
                     " s without valid data (" + std::to_string(s.failed_reads) +
                     " readings missed)");
        }
        s.failed_reads = 0;
    } else {
        if (s.failed_reads == 0) s.silent_since = tick_start;
        ++s.failed_reads;
        const double silent_s =
            static_cast<double>(ctx_.link.clock.MonotonicMicros() - s.silent_since) / 1e6;
        if (silent_s >= kSilenceAlarmSeconds) {
            const bool began = !s.silence_alarm;
            s.silence_alarm = true;
            UpdateAlarm();
            if (began) LogEvent("ALARM: " + SilenceAlarmText());
        }
    }
}

void AcquisitionEngine::UpdateEnvelopes() {
    const std::span<const std::int16_t> row = Row(static_cast<std::size_t>(sampling.SampleRow));
    const PlateMap& plate = ctx_.app.plate;
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        if (!InUse(plate, c)) continue;
        EnvelopeAccumulator& e = sampling.envelopes[c];
        const std::int16_t x = row[c];
        if (e.seen >= 2) {
            // The reading before this one is a local extreme of the last three readings.
            const std::int16_t mid = e.last;
            if (mid < e.previous && mid < x) e.valley = mid;
            if (mid > e.previous && mid > x) e.peak = mid;
            e.amplitude_sum += e.peak - e.valley;
            e.signal_sum += mid;
            ++e.count;
        } else if (e.seen == 0) {
            e.peak = x;
            e.valley = x;
        }
        e.previous = e.last;
        e.last = x;
        if (e.seen < 2) ++e.seen;
    }
}

void AcquisitionEngine::ClearWindowAccumulators() {
    SamplingState& s = sampling;
    for (auto& e : s.envelopes) {
        e.amplitude_sum = 0;
        e.signal_sum = 0;
        e.count = 0;
    }
    if (state.BodyBendsMode) {
        s.BodyBendsBlockStart = static_cast<std::int16_t>(s.BodyBendsBlockStart + 64);
        if (s.BodyBendsBlockStart >= 127) s.BodyBendsBlockStart = 0;
    }
}

// The window close, stage by stage: the climate, the zero levels, the activity, the
// re-adjustment of channels that went too bright, then the records.
void AcquisitionEngine::CloseWindow(std::int64_t now) {
    SamplingState& s = sampling;
    s.SampleRow = 0;
    s.SamplePeriod = RoundTo(
        static_cast<double>(now - state.LastTickTime) / 1e6 / static_cast<double>(s.rt_buffer),
        1000.0);

    ClimateAtWindowClose();
    WatchConditions(now);
    if (const std::string unobserved = WindowNotObservedReason(now); !unobserved.empty()) {
        // Too many of its readings were held from the one before: its counts would be made up,
        // so the window is left out of every file and its time stays unobserved.
        s.held_rows = 0;
        s.held_us = 0;
        ++s.windows_closed;
        ClearWindowAccumulators();
        if (state.RecordingOn) {
            const std::int32_t first = static_cast<std::int32_t>(
                std::max<std::int64_t>(state.LastTickTime - state.AcquisitionStartTime, 0) /
                kMicrosPerMinute);
            UpdateElapsed(now);
            NoteWindowsNotRecorded(1, first, s.ElapsedMinutes, unobserved);
        }
        state.LastTickTime = ctx_.link.clock.MonotonicMicros();
        return;
    }
    s.held_rows = 0;
    s.held_us = 0;
    ChannelSet in_use;
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) in_use.set(c, InUse(ctx_.app.plate, c));
    AdjustmentList marks;
    const bool any_mark = RefreshZeroLevels(in_use, marks);
    // Activity of every window of a recorded run, whatever the auto-zero box says.
    if (state.RecordingOn) AnalyzeWindow(in_use);
    ClearWindowAccumulators();
    if (any_mark) ReadjustChannels(marks);

    Clock& clock = ctx_.link.clock;
    ++s.windows_closed;
    const std::int32_t recorded_before = s.windows_recorded;
    if (state.RecordingOn) RecordWindow(clock.MonotonicMicros());
    // The displays see the window as it was recorded (the minutes and temperature of its
    // record); `recorded` only when its records were written.
    if (ctx_.live != nullptr) {
        ctx_.live->PushWindow(
            MakeLiveWindow(s, state.RecordingOn, s.windows_recorded > recorded_before));
    }
    ctx_.views.live.WindowClosed(s.windows_closed, s.SamplePeriod);
    state.LastTickTime = clock.MonotonicMicros();
    s.longest_close_us = std::max(s.longest_close_us, state.LastTickTime - now);
}

void AcquisitionEngine::ClimateAtWindowClose() {
    // Temperature, thermostat and light cycle.
    if (Online()) {
        const ClimateStepResult climate =
            ClimateStep(ctx_.link, ctx_.climate, ctx_.link.clock.Now().hour);
        ctx_.views.display.ShowOutputs(climate.code);
        LogLightChange("light cycle");
    }
    ctx_.views.display.ShowTemperature(ctx_.climate.temperature_known
                                           ? TemperatureLabel(ctx_.climate.CurrentTemperature)
                                           : kNoTemperatureLabel);
}

bool AcquisitionEngine::RefreshZeroLevels(const ChannelSet& in_use, AdjustmentList& marks) {
    // Zero levels and the too-bright marks, from the window's signal statistics.
    const CalibrationControls& controls = ctx_.calibration;
    marks.fill(-1);
    bool any_mark = false;
    if (!controls.AutoZeroOnStart) return false;
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        const EnvelopeAccumulator& e = sampling.envelopes[c];
        if (!in_use[c] || e.count == 0) continue;
        const double m1 = RoundHalfEven(static_cast<double>(e.amplitude_sum) / e.count);
        const double m2 = RoundHalfEven(static_cast<double>(e.signal_sum) / e.count);
        const double p = (m2 <= m1 || m2 < 1.0) ? controls.SnrThreshold * 100.0
                                                : m1 / m2 * 100.0 * controls.SnrThreshold;
        ctx_.app.project.ChannelThreshold[c] = std::max(p + 1.0, 1.0);
        if (NeedsReadjustment(m2, controls.AutoCalibrateOnStart, state.RecordingOn,
                              ctx_.cal.PinHole[c], ctx_.cal.Gain[c])) {
            marks[c] = 0;
            any_mark = true;
        }
    }
    return any_mark;
}

void AcquisitionEngine::AnalyzeWindow(const ChannelSet& in_use) {
    SamplingState& s = sampling;
    const SampleWindow window = s.samples.Window(s.rt_buffer);
    // The traces and events come out of the same pass; the live signal view draws them.
    s.ThresholdTraces.resize(kBeamChannelCount);
    s.WindowEvents.resize(kBeamChannelCount);
    WindowAnalysisExtras extras;
    extras.traces = s.ThresholdTraces;
    extras.events = s.WindowEvents;
    AnalyzeWindowChannels(window, in_use, ctx_.calibration.SnrThreshold,
                          DspMethodFromNumber(ctx_.app.project.Setup.DSP_Method), s.ChannelCounts,
                          extras);
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        if (in_use[c] && s.ChannelTotals[c] < kMaxChannelTotal) {
            s.ChannelTotals[c] = static_cast<std::int16_t>(s.ChannelTotals[c] + s.ChannelCounts[c]);
        }
    }
    if (!state.BodyBendsMode) return;
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        if (!in_use[c]) continue;
        const BendHistogram h = BendHistogramOfWindow(window, c);
        for (std::size_t b = 0; b < kBendHistogramBins; ++b) {
            std::int32_t& cell = s.BendHistogram[kChannelTableSize * b + c];
            cell += h[b];
            s.BendHistogramPeak[c] = std::max(s.BendHistogramPeak[c], cell);
        }
    }
}

void AcquisitionEngine::ReadjustChannels(AdjustmentList& marks) {
    ControlContext cc{ctx_.link, ctx_.storage, ctx_.views.strip,
                      MakeRunControl(kStopByCalibrationWrite)};
    const CalibrationResult r = AutoAdjustChannels(cc, ctx_.cal, ctx_.app.plate.ChannelWell, marks);
    LogEvent("Automatic adjustment in window " + std::to_string(sampling.windows_closed + 1) +
             ": " + CalibrationSummary(r));
}

std::int64_t AcquisitionEngine::UpdateElapsed(std::int64_t now) {
    SamplingState& s = sampling;
    const std::int64_t elapsed = std::max<std::int64_t>(now - state.AcquisitionStartTime, 0);
    s.ElapsedMinutes = static_cast<std::int32_t>(std::min<std::int64_t>(
        elapsed / kMicrosPerMinute, std::numeric_limits<std::int32_t>::max()));
    s.ElapsedMinutesExact =
        RoundTo(static_cast<double>(elapsed) / static_cast<double>(kMicrosPerMinute), 100.0);
    return elapsed;
}

void AcquisitionEngine::RecordWindow(std::int64_t now) {
    SamplingState& s = sampling;
    // A change of the machine's zone during the run is logged when it is seen.
    LogZoneIfChanged(ctx_.link.clock.Now());
    // A window with readings ends a run of windows without them, written or not.
    if (s.unrecorded.count > 0) LogWindowsNotRecorded();
    UpdateElapsed(now);
    s.ChannelCounts[kBeamChannelCount] = TemperatureTenths(ctx_.climate.CurrentTemperature);

    WindowRecords records;
    records.raw_file_index = s.RawFileIndex;
    records.rt_buffer = s.rt_buffer;
    if (SavesRawSignals(ctx_.app.project.Setup)) {
        records.raw = std::as_const(s.samples).Window(s.rt_buffer);
    }
    records.counts.elapsed_minutes = s.ElapsedMinutes;
    records.counts.values = s.ChannelCounts;
    HistogramRecord histogram;
    if (state.BodyBendsMode) {
        histogram.elapsed_minutes_exact = s.ElapsedMinutesExact;
        histogram.sample_period = s.SamplePeriod;
        histogram.cells = s.BendHistogram;
        records.histogram = &histogram;
    }

    AppendOptions options;
    options.sync = true;  // a power cut loses at most the window in progress
    const WindowWriteOutcome out =
        AppendWindowRecords(ctx_.data_files, state.AcquisitionFolder, records, options);
    if (!out.ok) {
        // Nothing of this window stays on disk, and the window counters stay where they were,
        // so the next window takes its place in every file.
        ++s.window_write_failures;
        const bool first_failure = s.last_write_error.empty();
        s.last_write_error =
            "window " + std::to_string(s.windows_closed) + " could not be recorded: " + out.error;
        UpdateAlarm();
        LogEvent("RECORDING ERROR: " + s.last_write_error);
        if (first_failure)
            Notify(notify::NoticeKind::WriteFailure, "RECORDING ERROR: " + s.last_write_error);
        return;
    }
    ++s.windows_recorded;
    s.last_window_us = now - state.LastTickTime;
    if (state.BodyBendsMode) {
        s.AccumulatedSampleTime += s.SamplePeriod;
        ++s.HistogramRecords;
    }
    if (s.WindowSubCounter < static_cast<std::int16_t>(kWindowsPerRawPage) - 1) {
        ++s.WindowSubCounter;
    } else {
        s.WindowSubCounter = 0;
        ++s.RawFileIndex;
    }
    if (!s.last_write_error.empty()) {
        s.last_write_error.clear();
        UpdateAlarm();
        LogEvent("Recording goes on: window " + std::to_string(s.windows_closed) +
                 " was written (" + RunSummary() + ")");
    }
}

std::string AcquisitionEngine::SilenceAlarmText() {
    const SamplingState& s = sampling;
    const auto seconds = (ctx_.link.clock.MonotonicMicros() - s.silent_since) / 1'000'000;
    return "NO VALID DATA from the instrument for " + std::to_string(seconds) + " s (" +
           std::to_string(s.failed_reads) +
           " readings missed): check the cable and the power. Still trying...";
}

void AcquisitionEngine::UpdateAlarm() {
    const SamplingState& s = sampling;
    std::string text;
    if (InstrumentLost()) {
        text = LostAlarmText();
    } else if (s.silence_alarm) {
        text = SilenceAlarmText();
    }
    if (!s.last_write_error.empty()) {
        if (!text.empty()) text += "  |  ";
        text += "RECORDING ERROR: " + s.last_write_error;
    }
    ctx_.views.display.ShowAlarm(text);
}

void AcquisitionEngine::TimeAndLapse(std::int64_t now, bool running_tick) {
    SamplingState& s = sampling;
    const std::int64_t elapsed = UpdateElapsed(now);
    const int lapse = ctx_.app.project.Setup.Aq_lapse;
    const double percent = lapse > 0 ? 100.0 * s.ElapsedMinutes / lapse : 100.0;
    ctx_.views.display.ShowElapsed(ElapsedTimeText(elapsed), percent);
    ShowExpectedEnd(elapsed);
    // A running acquisition ends only on a window boundary; a paused one at once.
    if (s.ElapsedMinutes >= lapse && (!running_tick || s.SampleRow == 0)) FinishAtLapse();
}

void AcquisitionEngine::ShowExpectedEnd(std::int64_t elapsed_us) {
    // Once a second is enough for a time shown to the minute.
    const std::int64_t second = elapsed_us / 1'000'000;
    if (second == expected_end_second_) return;
    expected_end_second_ = second;
    ctx_.views.display.ShowExpectedEnd(ExpectedEnd());
}

std::optional<LocalDateTime> AcquisitionEngine::ExpectedEnd() const {
    if (state.AcquisitionRunning == RunState::Stopped) return std::nullopt;
    Clock& clock = ctx_.link.clock;
    const bool held = state.AcquisitionRunning == RunState::Paused && state.TimeCounterStopped;
    const std::int64_t elapsed_us =
        held ? state.PausedElapsed
             : std::max<std::int64_t>(clock.MonotonicMicros() - state.AcquisitionStartTime, 0);
    const std::int64_t lapse_s = std::int64_t{ctx_.app.project.Setup.Aq_lapse} * 60;
    const std::int64_t remaining = std::max<std::int64_t>(lapse_s - elapsed_us / 1'000'000, 0);
    return AddSeconds(clock.Now(), remaining);
}

void AcquisitionEngine::FinishAtLapse() {
    Dialogs& dialogs = ctx_.link.dialogs;
    SetTimer(false);
    if (Online()) {
        SwitchOutputsOff(ctx_.link, ctx_.climate);
        ctx_.views.display.ShowOutputs(OutputCode(ctx_.climate.outputs));
    }
    state.finished_at_lapse = true;
    state.stop_reason = kStopAtLapse;
    std::string lost_note;
    // A monitor run measured nothing: the summary of the last recorded run stays.
    if (state.RecordingOn) {
        LogEndOfRunGaps();
        const std::string summary = std::string("Acquisition finished (") + kStopAtLapse +
                                    "): " + RunSummary() + " in " + state.AcquisitionFolderName;
        LogEvent(summary);
        ctx_.views.display.ShowStatusLine(summary);
        Notify(notify::NoticeKind::RunEnded, summary);
        if (WindowsLost() > 0) {
            lost_note = std::string(kCrLf) + RunSummary() + " (see events.log in " +
                        state.AcquisitionFolder.string() + ")";
        }
        WriteEndQuickReport(true);
    }
    if (ctx_.views.desk.UserDefinedReport()) {
        ctx_.views.desk.OpenReportWindow();
        if (!lost_note.empty()) dialogs.MessageBox("Some windows were lost:" + lost_note);
    } else {
        dialogs.MessageBox(kAcquisitionFinishedMessage + lost_note);
    }
    Stop(kStopAtLapse);
}

}  // namespace lumivo
