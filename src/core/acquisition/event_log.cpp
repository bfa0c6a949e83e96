#include "core/acquisition/event_log.h"

#include <cstdio>
#include <span>

namespace lumivo {

std::string EventLogLine(const LocalDateTime& when, std::string_view text) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d  ", when.year, when.month,
                  when.day, when.hour, when.minute, when.second);
    std::string line = stamp;
    bool after_break = false;
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            after_break = true;
            continue;
        }
        if (after_break) {
            line += " | ";
            after_break = false;
        }
        line += c;
    }
    return line;
}

void EventLog::Open(const std::filesystem::path& folder) {
    file_ = folder / kEventLogFileName;
    pending_.clear();
    (void)mark_.Take(folder);
}

void EventLog::Close() {
    mark_.Release();
    file_.clear();
    pending_.clear();
}

std::string EventLog::Append(const std::string& line) {
    if (file_.empty()) return "events.log is not open";
    if (pending_.size() >= kMaxPending) pending_.pop_front();
    pending_.push_back(line);
    AppendOptions options;
    options.sync = true;  // an event is worth keeping through a power cut
    while (!pending_.empty()) {
        const std::string record = pending_.front() + "\r\n";
        const AppendOutcome out =
            AppendRecord(ops_, file_,
                         std::span<const std::uint8_t>(
                             reinterpret_cast<const std::uint8_t*>(record.data()), record.size()),
                         RecordLayout::Lines(), options);
        if (!out.ok) return out.error;
        pending_.pop_front();
    }
    return std::string();
}

}  // namespace lumivo
