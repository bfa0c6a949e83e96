// The engine's side of a lost instrument: the loss, the looks for it, the settings written
// back once it answers again, and the windows that could not be recorded meanwhile.
#include "core/acquisition/instrument_recovery.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/acquisition/acquisition_engine.h"
#include "core/acquisition/event_log_reader.h"
#include "core/common/com_ports.h"
#include "core/device/connection.h"

namespace lumivo {
namespace {

constexpr std::int64_t kMicrosPerMinute = 60'000'000;
// Line time of one block exchange (the 5-byte request and the 192-byte reply at 115200 baud).
constexpr double kBlockWireUs = (5.0 + 192.0) * 10.0 / 115200.0 * 1e6;

std::string Seconds(std::int64_t us) {
    return std::to_string(std::max<std::int64_t>(us, 0) / 1'000'000) + " s";
}

std::string Windows(std::int64_t n) {
    return std::to_string(n) + (n == 1 ? " window" : " windows");
}

// "hh:mm:ss" of a local time.
std::string ClockText(const LocalDateTime& t) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour % 100, t.minute % 100,
                  t.second % 100);
    return text;
}

}  // namespace

std::string AcquisitionEngine::WindowNotObservedReason(std::int64_t now) const {
    // Few held readings, and little of the window's time spent on them: a silent tick waits
    // out its timeout, so a handful of them can be half the window.
    const SamplingState& s = sampling;
    const double allowed = kMaxHeldReadingsShare * static_cast<double>(s.rt_buffer);
    if (static_cast<double>(s.held_rows) > allowed) {
        return "too few valid readings (" + std::to_string(s.held_rows) + " of " +
               std::to_string(s.rt_buffer) + " did not come whole from the instrument)";
    }
    const std::int64_t window_us = std::max<std::int64_t>(now - state.LastTickTime, 1);
    if (static_cast<double>(s.held_us) > kMaxHeldTimeShare * static_cast<double>(window_us)) {
        const auto whole_seconds = [](std::int64_t us) {
            return std::to_string((us + 500'000) / 1'000'000) + " s";
        };
        return "too little time with valid readings (" + whole_seconds(s.held_us) + " of " +
               whole_seconds(window_us) + " without an answer from the instrument)";
    }
    return {};
}

void AcquisitionEngine::DropWindowInProgress() {
    SamplingState& s = sampling;
    s.SampleRow = 0;
    s.TickCount = 0;  // the warm-up reads come first again
    s.held_rows = 0;
    s.held_us = 0;
    s.envelopes.fill(EnvelopeAccumulator{});
    s.failed_reads = 0;
    s.link_silent = false;
}

void AcquisitionEngine::NoteWindowsNotRecorded(std::int32_t count, std::int32_t first_minute,
                                               std::int32_t last_minute,
                                               const std::string& reason) {
    if (count <= 0) return;
    UnrecordedWindows& u = sampling.unrecorded;
    // Windows dropped for another kind of reason make a line of their own.
    const auto kind = [](const std::string& r) { return r.substr(0, r.find(" (")); };
    if (u.count > 0 && kind(u.reason) != kind(reason)) LogWindowsNotRecorded();
    if (u.count == 0) {
        u.first_minute = first_minute;
        u.reason = reason;
    }
    u.count += count;
    u.last_minute = std::max(last_minute, u.first_minute);
    sampling.windows_not_recorded += count;
}

void AcquisitionEngine::LogWindowsNotRecorded() {
    UnrecordedWindows& u = sampling.unrecorded;
    if (u.count == 0) return;
    const UnrecordedWindows line = u;
    u = UnrecordedWindows{};
    LogEvent(std::string(kWindowsNotRecordedEvent) + std::to_string(line.count) + " (minutes " +
             std::to_string(line.first_minute) + " to " + std::to_string(line.last_minute) +
             "): " + line.reason);
}

std::string AcquisitionEngine::LostAlarmText() {
    const InstrumentRecovery& r = sampling.recovery;
    const std::int64_t now = ctx_.link.clock.MonotonicMicros();
    std::string text = "INSTRUMENT LOST on " + ComPortName(r.lost_port) + " for " +
                       Seconds(now - r.lost_since) + ": nothing is recorded meanwhile. ";
    if (r.phase == InstrumentPhase::Restoring) {
        text += "It answers again on " + ComPortName(r.found_port) +
                ": its channel settings are being written back...";
    } else if (r.refused) {
        text += "Another instrument (" + InstrumentSerialText(*r.refused) +
                ") answers; this run records " + InstrumentSerialText(r.serial) +
                ". Still looking...";
    } else {
        text += "Check the cable and the power. Still looking...";
    }
    return text;
}

void AcquisitionEngine::LoseInstrument(const std::string& what) {
    SamplingState& s = sampling;
    InstrumentRecovery& r = s.recovery;
    Clock& clock = ctx_.link.clock;
    const std::int64_t now = clock.MonotonicMicros();
    const int port = ctx_.link.ComPortNumber;
    const std::int32_t losses = r.losses;
    const std::int64_t lost_us = r.lost_us;
    r = InstrumentRecovery{};
    r.losses = losses;
    r.lost_us = lost_us;
    r.phase = InstrumentPhase::Lost;
    r.lost_since = now;
    r.next_look = now + kReconnectBackoffUs;
    r.lost_port = port;
    r.lost_device = IsComPort(port) ? ctx_.link.ports.table[static_cast<std::size_t>(port)].device
                                    : std::string();
    if (r.lost_device.empty()) r.lost_device = ComPortName(port);
    r.serial = ctx_.link.SerialNumber;
    // The readings of the window in progress stop here: its time is not observed.
    r.window_start = s.SampleRow > 0 ? state.LastTickTime : now;
    r.window_start_minute = static_cast<std::int32_t>(
        std::max<std::int64_t>(r.window_start - state.AcquisitionStartTime, 0) / kMicrosPerMinute);
    ++r.losses;
    if (IsComPort(port)) CommClose(ctx_.link.ports, port);
    DropWindowInProgress();
    LogWindowsNotRecorded();
    const std::string where = r.lost_device == ComPortName(port)
                                  ? ComPortName(port)
                                  : ComPortName(port) + " (" + r.lost_device + ")";
    LogEvent(std::string(kInstrumentLostEvent) + what + " on " + where + " at " +
             ClockText(clock.Now()) + "; looking for " + InstrumentSerialText(r.serial) +
             " again every second");
    UpdateAlarm();
}

void AcquisitionEngine::RecoverInstrument(std::int64_t now) {
    InstrumentRecovery& r = sampling.recovery;
    if (ctx_.notices != nullptr && !r.notified &&
        now - r.lost_since >= std::int64_t{ctx_.notices->Rules().lost_minutes} * 60'000'000) {
        r.notified = true;
        Notify(notify::NoticeKind::InstrumentLost,
               "The instrument " + InstrumentSerialText(r.serial) + " has been lost on " +
                   ComPortName(r.lost_port) + " for " + Seconds(now - r.lost_since) +
                   ": nothing is recorded until it answers again. Check its cable and its "
                   "power.");
    }
    if (sampling.recovery.phase == InstrumentPhase::Lost) {
        if (now >= sampling.recovery.next_look) LookForInstrument(now);
    } else if (sampling.recovery.phase == InstrumentPhase::Restoring) {
        RestoreInstrument();
    }
    if (InstrumentLost()) UpdateAlarm();
}

void AcquisitionEngine::LookForInstrument(std::int64_t now) {
    InstrumentRecovery& r = sampling.recovery;
    DeviceLink& link = ctx_.link;
    ++r.looks;
    // Where it was; after a while also the next port of the search, in case it came back under
    // another number. A port with nothing behind it fails to open at once.
    std::vector<std::pair<int, std::string>> candidates = {{r.lost_port, r.lost_device}};
    if (now - r.lost_since >= kReconnectSearchAfterUs && kScanLastPort > 1) {
        do {
            r.scan_port = r.scan_port % kScanLastPort + 1;
        } while (r.scan_port == r.lost_port);
        candidates.emplace_back(r.scan_port, ComPortName(r.scan_port));
    }
    for (const auto& [port, device] : candidates) {
        const InstrumentProbe probe = ProbeInstrumentAt(link, port, device, kReconnectProbeWaitMs);
        if (probe.result != InstrumentAtPort::Result::Answered) continue;
        if (probe.serial != r.serial) {
            CommClose(link.ports, port);
            if (r.refused != probe.serial) {
                r.refused = probe.serial;
                LogEvent("Another instrument answers on " + ComPortName(port) + " (" +
                         InstrumentSerialText(probe.serial) + "): refused, this run records " +
                         InstrumentSerialText(r.serial) + "; still looking for it");
            }
            continue;
        }
        r.found_port = port;
        r.phase = InstrumentPhase::Restoring;
        r.restore_next = 0;
        r.restore_failures = 0;
        link.ComPortNumber = static_cast<std::int16_t>(port);
        return;
    }
    r.next_look = link.clock.MonotonicMicros() + kReconnectBackoffUs;
}

void AcquisitionEngine::RestoreInstrument() {
    InstrumentRecovery& r = sampling.recovery;
    DeviceLink& link = ctx_.link;
    // A few channels a tick: the window thread keeps its pace while the registers fill.
    const int end = std::min(r.restore_next + kRestoredChannelsPerTick, kChannelCount);
    for (int c = r.restore_next; c < end; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (WriteChannelSetting(link, c, ctx_.cal.PinHole[i], ctx_.cal.Gain[i]) != 1)
            ++r.restore_failures;
        if (CommPortGone(link.ports, link.ComPortNumber)) {
            LoseInstrument("the port failed again while its settings were written back");
            return;
        }
    }
    r.restore_next = end;
    if (r.restore_next < kChannelCount) return;

    ApplyOutputs(link, ctx_.climate);
    ctx_.views.display.ShowOutputs(OutputCode(ctx_.climate.outputs));
    CommFlush(link.ports, link.ComPortNumber);
    const std::int64_t back = link.clock.MonotonicMicros();
    const std::int64_t gap = back - r.window_start;
    r.lost_us += back - r.lost_since;
    // The windows the time without readings would have held.
    const std::int64_t window_us =
        sampling.last_window_us > 0
            ? sampling.last_window_us
            : static_cast<std::int64_t>(static_cast<double>(sampling.rt_buffer) *
                                        std::max(kTimeradqIntervalMs * 1000.0,
                                                 (state.BodyBendsMode ? 2.0 : 4.0) * kBlockWireUs));
    const auto lost_windows = std::max<std::int64_t>(
        1, std::llround(static_cast<double>(gap) / static_cast<double>(window_us)));
    const auto last_minute = static_cast<std::int32_t>(
        std::max<std::int64_t>(back - state.AcquisitionStartTime, 0) / kMicrosPerMinute);
    const std::string summary =
        std::string(kInstrumentReconnectedEvent) + ComPortName(r.found_port) + " after " +
        Seconds(back - r.lost_since) + ": " + Windows(lost_windows) + " lost (minutes " +
        std::to_string(r.window_start_minute) + " to " + std::to_string(last_minute) +
        "); the channel settings of " + std::to_string(kChannelCount) + " channels written again" +
        (r.restore_failures > 0 ? " (" + std::to_string(r.restore_failures) + " not taken)"
                                : std::string()) +
        " and the outputs sent again";
    if (state.RecordingOn) {
        NoteWindowsNotRecorded(static_cast<std::int32_t>(lost_windows), r.window_start_minute,
                               last_minute, "the instrument was lost");
    }
    r.phase = InstrumentPhase::Connected;
    r.refused.reset();
    LogEvent(summary);
    if (r.notified) Notify(notify::NoticeKind::InstrumentReconnected, summary);
    LogWindowsNotRecorded();
    if (sampling.silence_alarm) {
        sampling.silence_alarm = false;
        LogEvent(std::string(kAlarmEndsEvent) + Seconds(back - sampling.silent_since) +
                 " without valid data (the instrument was reconnected)");
    }
    DropWindowInProgress();
    state.LastTickTime = back;
    UpdateAlarm();
}

}  // namespace lumivo
