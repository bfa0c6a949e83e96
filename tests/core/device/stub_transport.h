// A scriptable serial transport for the device-link tests. It runs on the FakeClock: a read
// takes whatever is queued; when that is short of what was asked it lets the clock run for the
// timeout a real port would wait out (the interval timeout after a byte, the total timeout
// when nothing came). A responder turns every complete frame written into queued reply bytes.
#pragma once

#include <cerrno>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "core/device/serial_transport.h"
#include "support/fake_clock.h"

namespace lumivo::testing {

// Everything the transport saw, shared with the test after the port layer took ownership.
struct StubLog {
    std::vector<std::vector<std::uint8_t>> writes;  // each Write call
    std::vector<LineFunction> lines;
    std::vector<LineSettings> configured;
    std::vector<std::size_t> read_requests;  // `max` of each Read
    std::vector<std::int64_t> purge_times;   // clock time of each Purge
    int closes = 0;
    bool rts = false;
    bool dtr = false;
};

class StubTransport final : public SerialTransport {
  public:
    // One scripted read attempt: `bytes` are returned (at most `max` of them; the rest stay
    // queued for the next read) with `error`, after letting `delay_us` pass on the clock.
    struct Attempt {
        Attempt(std::vector<std::uint8_t> b = {}, int e = 0, std::int64_t d = 0,
                std::vector<std::uint8_t> l = {})
            : bytes(std::move(b)), error(e), delay_us(d), late(std::move(l)) {}
        std::vector<std::uint8_t> bytes;
        int error = 0;
        std::int64_t delay_us = 0;
        std::vector<std::uint8_t> late;  // queued just after this attempt returned
    };
    using Responder = std::function<std::vector<std::uint8_t>(std::span<const std::uint8_t>)>;

    StubTransport(FakeClock& clock, std::shared_ptr<StubLog> log)
        : clock_(clock), log_(std::move(log)) {}

    // Scripted attempts are used first, one per Read; afterwards reads take from the queue.
    std::deque<Attempt> attempts;
    // Bytes waiting to be read.
    std::deque<std::uint8_t> queue;
    // Called with every written chunk; its result is queued.
    Responder responder;
    // Failures to inject.
    int purge_error = 0;
    int configure_error = 0;
    int get_settings_error = 0;
    int write_error = 0;
    int close_error = 0;
    int line_error = 0;
    std::uint32_t error_flags = 0;

    int GetLineSettings(LineSettings& out) override {
        if (get_settings_error != 0) return get_settings_error;
        out = LineSettings{};
        return 0;
    }
    int Configure(const LineSettings& s) override {
        log_->configured.push_back(s);
        return configure_error;
    }
    int Purge() override {
        log_->purge_times.push_back(clock_.MonotonicMicros());
        if (purge_error != 0) return purge_error;
        queue.clear();
        return 0;
    }
    IoResult Read(std::uint8_t* out, std::size_t max, const ReadTimeouts& t) override {
        log_->read_requests.push_back(max);
        IoResult r;
        if (!attempts.empty()) {
            Attempt a = std::move(attempts.front());
            attempts.pop_front();
            clock_.AdvanceMicros(a.delay_us);
            for (std::size_t i = 0; i < a.bytes.size(); ++i) {
                if (r.bytes < max) {
                    out[r.bytes++] = a.bytes[i];
                } else {
                    queue.push_back(a.bytes[i]);
                }
            }
            r.error = a.error;
            queue.insert(queue.end(), a.late.begin(), a.late.end());
            return r;
        }
        while (r.bytes < max && !queue.empty()) {
            out[r.bytes++] = queue.front();
            queue.pop_front();
        }
        if (r.bytes == 0) {
            clock_.AdvanceMicros(t.total_us);
        } else if (r.bytes < max) {
            clock_.AdvanceMicros(t.interval_us);
        }
        return r;
    }
    IoResult Write(std::span<const std::uint8_t> bytes, std::int64_t) override {
        log_->writes.emplace_back(bytes.begin(), bytes.end());
        IoResult r;
        if (write_error != 0) {
            r.error = write_error;
            return r;
        }
        r.bytes = bytes.size();
        if (responder) {
            auto reply = responder(bytes);
            queue.insert(queue.end(), reply.begin(), reply.end());
        }
        return r;
    }
    int SetLine(LineFunction f) override {
        log_->lines.push_back(f);
        if (line_error != 0) return line_error;
        switch (f) {
            case LineFunction::SetRts:
                log_->rts = true;
                break;
            case LineFunction::ClearRts:
                log_->rts = false;
                break;
            case LineFunction::SetDtr:
                log_->dtr = true;
                break;
            case LineFunction::ClearDtr:
                log_->dtr = false;
                break;
            case LineFunction::None:
                return EINVAL;
            default:
                break;
        }
        return 0;
    }
    std::uint32_t TakeErrorFlags() override {
        const std::uint32_t f = error_flags;
        error_flags = 0;
        return f;
    }
    int Close() override {
        ++log_->closes;
        return close_error;
    }
    // A scripted line delivers at once unless a test says it keeps the line's pace.
    bool LineIsPaced() const override { return paced; }
    bool paced = false;

  private:
    FakeClock& clock_;
    std::shared_ptr<StubLog> log_;
};

// An opener that hands out `transport` once (the test keeps a raw pointer to script it) and
// counts how often it was asked.
struct StubOpener {
    std::unique_ptr<StubTransport> transport;
    int error = 0;
    int calls = 0;

    TransportOpener Opener() {
        return [this](int, const std::string&) {
            ++calls;
            TransportOpenResult r;
            if (error != 0 || !transport) {
                r.error = error != 0 ? error : ENOENT;
                return r;
            }
            r.transport = std::move(transport);
            return r;
        };
    }
};

}  // namespace lumivo::testing
