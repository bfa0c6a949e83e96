// A run that loses its instrument and finds it again. When the port itself fails (its device
// vanished, as a USB serial adapter does when its cable is pulled or the instrument loses
// power), the engine closes it and looks for the instrument again, once a second: first where
// it was, then, after a while, on every COM port in turn, always for the serial number the run
// started with. Each look takes at most one short exchange, so the window thread never waits
// more than about a tick. Once the same instrument answers, its channel settings are written
// back a few at a time (a power cycle may have reset its registers) and the outputs sent again,
// and only then do readings count again. Nothing is recorded for the time in between: the
// record minutes jump over it, and events.log says when and how many windows were lost.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lumivo {

// Time between two looks for a lost instrument.
inline constexpr std::int64_t kReconnectBackoffUs = 1'000'000;
// How long one look waits for the serial number.
inline constexpr int kReconnectProbeWaitMs = 100;
// After this long without the instrument at its port, every COM port is searched as well.
inline constexpr std::int64_t kReconnectSearchAfterUs = 20'000'000;
// Channel settings written back per tick after the instrument returned.
inline constexpr int kRestoredChannelsPerTick = 32;
// A window is recorded only when at most this share of its readings went to readings held from
// the one before (a block that did not come back whole)...
inline constexpr double kMaxHeldReadingsShare = 0.02;
// ... and at most this share of its time: a request that times out waits 2.5 s, so a window of
// 35 s survives one lost answer but not a silence of seconds, whose counts would be partly
// made up.
inline constexpr double kMaxHeldTimeShare = 0.10;

enum class InstrumentPhase {
    Connected,  // readings count
    Lost,       // the port failed: looking for the instrument
    Restoring,  // found again: its channel settings are being written back
};

struct InstrumentRecovery {
    InstrumentPhase phase = InstrumentPhase::Connected;
    std::int64_t lost_since = 0;    // monotonic microseconds
    std::int64_t next_look = 0;     // when the next look is due
    std::int32_t looks = 0;         // looks since the loss
    int lost_port = 0;              // the port the instrument was lost on
    std::string lost_device;        // its device name as it was opened ("COM3", a terminal)
    int scan_port = 0;              // the port of the search looked at last
    int found_port = 0;             // where it answered again
    int restore_next = 0;           // the next channel whose setting is written back
    int restore_failures = 0;       // settings the instrument did not take back
    std::int16_t serial = 0;        // the instrument the run records
    std::optional<int> refused;     // another instrument answered (said once per number)
    std::int64_t window_start = 0;  // start of the window dropped at the loss (monotonic)
    std::int32_t window_start_minute = 0;
    bool notified = false;  // the loss was notified (so its end is too)
    // The whole run.
    std::int32_t losses = 0;
    std::int64_t lost_us = 0;  // time without the instrument, over all losses
};

// Windows left out of the files, as events.log counts them: consecutive windows dropped for
// the same reason make one line.
struct UnrecordedWindows {
    std::int32_t count = 0;
    std::int32_t first_minute = 0;
    std::int32_t last_minute = 0;
    std::string reason;
};

}  // namespace lumivo
