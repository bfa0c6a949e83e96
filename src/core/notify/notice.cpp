#include "core/notify/notice.h"

#include <cstdio>

namespace lumivo::notify {

const char* NoticeKindName(NoticeKind kind) {
    switch (kind) {
        case NoticeKind::InstrumentLost:
            return "instrument-lost";
        case NoticeKind::InstrumentReconnected:
            return "instrument-reconnected";
        case NoticeKind::TemperatureOutOfBand:
            return "temperature";
        case NoticeKind::LowDiskSpace:
            return "disk-space";
        case NoticeKind::WriteFailure:
            return "write-failure";
        case NoticeKind::RunEnded:
            return "run-ended";
        case NoticeKind::RunFailed:
            return "run-failed";
        case NoticeKind::Test:
            return "test";
    }
    return "test";
}

const char* NoticeKindTitle(NoticeKind kind) {
    switch (kind) {
        case NoticeKind::InstrumentLost:
            return "Instrument lost";
        case NoticeKind::InstrumentReconnected:
            return "Instrument reconnected";
        case NoticeKind::TemperatureOutOfBand:
            return "Temperature out of its band";
        case NoticeKind::LowDiskSpace:
            return "Disk space running out";
        case NoticeKind::WriteFailure:
            return "Recording error";
        case NoticeKind::RunEnded:
            return "Recording ended";
        case NoticeKind::RunFailed:
            return "Recording failed";
        case NoticeKind::Test:
            return "Test message";
    }
    return "Notice";
}

std::string IsoTimeText(const LocalDateTime& t) {
    const int off = t.utc_offset_minutes < 0 ? -t.utc_offset_minutes : t.utc_offset_minutes;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year % 10000,
                  t.month % 100, t.day % 100, t.hour % 100, t.minute % 100, t.second % 100,
                  t.utc_offset_minutes < 0 ? '-' : '+', off / 60 % 100, off % 60);
    return text;
}

}  // namespace lumivo::notify
