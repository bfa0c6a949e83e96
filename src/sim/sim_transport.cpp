#include "sim/sim_transport.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>

namespace lumivo::sim {

SimTransport::SimTransport(SimSocket& socket, Clock& clock)
    : socket_(&socket),
      generation_(socket.generation()),
      instrument_(*socket.instrument()),
      clock_(clock) {}

bool SimTransport::Gone() const {
    return socket_ != nullptr &&
           (socket_->generation() != generation_ || socket_->instrument() == nullptr);
}

int SimTransport::GetLineSettings(LineSettings& out) {
    if (closed_) return EBADF;
    if (Gone()) return EIO;
    out = settings_;
    return 0;
}

int SimTransport::Configure(const LineSettings& settings) {
    if (closed_) return EBADF;
    if (Gone()) return EIO;
    settings_ = settings;
    line_matches_ = settings.baud == 115200 && settings.data_bits == 8 &&
                    settings.parity == Parity::None && settings.stop_bits == StopBits::One;
    return 0;
}

int SimTransport::Purge() {
    if (closed_) return EBADF;
    if (Gone()) return EIO;
    instrument_.HostPurge(clock_.MonotonicMicros());
    return 0;
}

IoResult SimTransport::Read(std::uint8_t* out, std::size_t max, const ReadTimeouts& timeouts) {
    IoResult result;
    if (closed_ || Gone()) {
        result.error = closed_ ? EBADF : EIO;
        return result;
    }
    const std::int64_t start = clock_.MonotonicMicros();
    const std::int64_t total_deadline = start + std::max<std::int64_t>(timeouts.total_us, 0);
    std::int64_t last_byte = start;
    // Arrival of the next reply byte, or kNone when nothing is on its way.
    constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::max();
    auto next_arrival = [this] {
        if (!LineUsable()) return kNone;
        const auto a = instrument_.NextArrival();
        return a.has_value() ? a.value() : kNone;
    };
    while (result.bytes < max) {
        const std::int64_t now = clock_.MonotonicMicros();
        // Take the bytes that have arrived one at a time, so the interval timeout runs from
        // the arrival of the last one (or from the start of the read for bytes that were
        // already waiting).
        std::int64_t next = next_arrival();
        while (result.bytes < max && next <= now) {
            if (instrument_.HostRead(out + result.bytes, 1, now) != 1) return result;
            ++result.bytes;
            last_byte = std::max(next, start);
            next = next_arrival();
        }
        if (result.bytes == max) break;
        std::int64_t deadline = total_deadline;
        if (result.bytes > 0) deadline = std::min(deadline, last_byte + timeouts.interval_us);
        if (next <= deadline) {
            if (next > now) clock_.SleepMicros(next - now);
            continue;
        }
        if (deadline > now) clock_.SleepMicros(deadline - now);
        break;
    }
    return result;
}

IoResult SimTransport::Write(std::span<const std::uint8_t> bytes, std::int64_t timeout_us) {
    (void)timeout_us;  // the simulated line never stalls
    IoResult result;
    if (closed_ || Gone()) {
        result.error = closed_ ? EBADF : EIO;
        return result;
    }
    if (instrument_.Config().paced && !bytes.empty()) {
        // The write completes when the last byte has left the host.
        clock_.SleepMicros(std::llround(static_cast<double>(bytes.size()) * kByteTimeUs));
    }
    if (line_matches_) instrument_.HostWrite(bytes, clock_.MonotonicMicros());
    result.bytes = bytes.size();
    return result;
}

int SimTransport::SetLine(LineFunction function) {
    if (closed_) return EBADF;
    if (Gone()) return EIO;
    const std::int64_t now = clock_.MonotonicMicros();
    // Which line each function sets, and to which level.
    struct LineChange {
        LineFunction function;
        int line;
        bool raised;
    };
    static constexpr LineChange kChanges[] = {
        {LineFunction::SetBreak, kLineBreak, true}, {LineFunction::ClearBreak, kLineBreak, false},
        {LineFunction::SetDtr, kLineDtr, true},     {LineFunction::ClearDtr, kLineDtr, false},
        {LineFunction::SetRts, kLineRts, true},     {LineFunction::ClearRts, kLineRts, false},
    };
    for (const LineChange& c : kChanges) {
        if (c.function != function) continue;
        instrument_.HostSetLine(c.line, c.raised, now);
        return 0;
    }
    return EINVAL;
}

int SimTransport::Close() {
    closed_ = true;
    return 0;
}

TransportOpener SimTransportOpener(Instrument& instrument, Clock& clock, int port_number) {
    return [&instrument, &clock, port_number](int port, const std::string&) {
        TransportOpenResult r;
        if (port != port_number) {
            r.error = ENOENT;
            return r;
        }
        r.transport = std::make_unique<SimTransport>(instrument, clock);
        return r;
    };
}

TransportOpener SimSocketOpener(SimSocket& socket, Clock& clock, int port_number) {
    return [&socket, &clock, port_number](int port, const std::string&) {
        TransportOpenResult r;
        if (port != port_number || socket.instrument() == nullptr) {
            r.error = ENOENT;
            return r;
        }
        r.transport = std::make_unique<SimTransport>(socket, clock);
        return r;
    };
}

}  // namespace lumivo::sim
