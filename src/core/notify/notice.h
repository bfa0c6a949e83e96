// What a recording tells someone who is not watching: the kinds of notice, and the small
// interface the acquisition engine hands them to. Handing a notice over never waits: the
// deliverer works on a thread of its own, and what became of each delivery comes back as
// lines for events.log.
#pragma once

#include <string>
#include <vector>

#include "core/platform/ui_port.h"

namespace lumivo::notify {

enum class NoticeKind {
    InstrumentLost,         // the instrument has been lost for the set minutes
    InstrumentReconnected,  // after a loss that was notified
    TemperatureOutOfBand,   // the plate outside the set band for the set minutes
    LowDiskSpace,           // room for less than a day of recording
    WriteFailure,           // a window could not be written
    RunEnded,               // a recorded run ended (its lapse, Stop, the program closed)
    RunFailed,              // a run did not start or ended on a failure
    Test,                   // "Send a test message"
};

// "instrument-lost", "instrument-reconnected", "temperature", "disk-space", "write-failure",
// "run-ended", "run-failed", "test": the value of LUMIVO_EVENT.
const char* NoticeKindName(NoticeKind kind);
// "Instrument lost", ...: the start of an e-mail's subject.
const char* NoticeKindTitle(NoticeKind kind);

struct Notice {
    NoticeKind kind = NoticeKind::Test;
    std::string message;      // what happened, in words
    std::string acquisition;  // the acquisition folder ("" outside a recording)
    std::string time;         // ISO 8601 with the UTC offset: 2026-12-07T15:35:00+01:00
};

// "2026-12-07T15:35:00+01:00": a local time with its zone's offset (ISO 8601).
std::string IsoTimeText(const LocalDateTime& t);

// When the engine sends the notices that wait for a condition to last.
struct NoticeRules {
    int lost_minutes = 2;           // instrument lost for this long
    double temperature_band = 1.0;  // degrees either side of the set point
    int temperature_minutes = 10;   // outside the band for this long
};

class NoticeSink {
  public:
    virtual ~NoticeSink() = default;
    // Takes the notice and returns at once.
    virtual void Post(const Notice& notice) = 0;
    // What became of the deliveries since the last call, one line each for events.log.
    virtual std::vector<std::string> TakeReports() { return {}; }
    virtual NoticeRules Rules() const { return {}; }
};

}  // namespace lumivo::notify
