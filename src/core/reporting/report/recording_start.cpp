#include "core/reporting/report/recording_start.h"

#include <cstdio>

#include "core/storage/acquisition_register.h"

namespace lumivo::reporting {

namespace {

// The civil date of a day number counted from 0001-01-01 (the inverse of CivilDayNumber).
void CivilFromDays(std::int64_t days, int& year, int& month, int& day) {
    const std::int64_t z = days + 306;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

bool IsDigits(const std::string& s, std::size_t at, std::size_t n) {
    if (at + n > s.size()) return false;
    for (std::size_t i = at; i < at + n; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

int Number(const std::string& s, std::size_t at, std::size_t n) {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) v = v * 10 + (s[i] - '0');
    return v;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

LocalDateTime WallTime(std::int64_t s) {
    LocalDateTime t;
    const std::int64_t days = s >= 0 ? s / 86400 : (s - 86399) / 86400;
    const std::int64_t rest = s - days * 86400;
    CivilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    return t;
}

std::int64_t WallSeconds(const LocalDateTime& t) {
    return CivilDayNumber(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 +
           t.second;
}

std::optional<LocalDateTime> StartOfFolderName(const std::string& text, std::size_t at) {
    if (!IsDigits(text, at, 8) || at + 13 > text.size() || text[at + 8] != '_' ||
        !IsDigits(text, at + 9, 4))
        return std::nullopt;
    LocalDateTime t;
    t.year = Number(text, at, 4);
    t.month = Number(text, at + 4, 2);
    t.day = Number(text, at + 6, 2);
    t.hour = Number(text, at + 9, 2);
    t.minute = Number(text, at + 11, 2);
    if (t.year < 1 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > DaysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59)
        return std::nullopt;
    return t;
}

std::optional<LocalDateTime> StartOfJoinRegister(const std::string& name) {
    static const std::string kPrefix = "Data Block: ";
    if (name.rfind(kPrefix, 0) != 0) return std::nullopt;
    for (std::size_t at = kPrefix.size(); at + 13 <= name.size(); ++at)
        if (auto t = StartOfFolderName(name, at)) return t;
    const std::size_t dot = name.find('.', kPrefix.size());
    const std::size_t acq = name.find("ACQ", kPrefix.size());
    if (dot == std::string::npos || acq == std::string::npos || dot < 4 || dot + 5 > name.size() ||
        acq + 8 > name.size())
        return std::nullopt;
    const std::string folder = name.substr(dot - 4, 4) + name.substr(dot + 1, 4) + "_" +
                               name.substr(acq + 3, 2) + name.substr(acq + 6, 2);
    return StartOfFolderName(folder, 0);
}

RecordingStart StartOfRecording(const RunLog& log, const std::string& folder_name,
                                const std::string& register_name) {
    RecordingStart s;
    if (log.sampling_started) {
        s.known = true;
        s.local = WallTime(log.start);
        s.utc_offset_minutes = log.UtcOffsetAt(log.start);
        for (const LoggedZone& z : log.zones)
            if (z.second <= log.start || s.zone.empty()) s.zone = z.name;
        s.source = "events.log";
    } else if (auto joined = StartOfJoinRegister(register_name)) {
        s.known = true;
        s.local = *joined;
        s.source = "join register";
    } else if (auto named = StartOfFolderName(folder_name, 0); named && folder_name.size() == 13) {
        s.known = true;
        s.local = *named;
        s.source = "folder name";
    }
    if (s.utc_offset_minutes) {
        s.local.utc_offset_minutes = *s.utc_offset_minutes;
        s.local.zone = s.zone;
    }
    return s;
}

RecordingStart ReadRecordingStart(StorageContext& ctx, const std::filesystem::path& folder) {
    DefaultAnswerDialogs quiet;
    StorageContext silent{ctx.install_dir, quiet, ctx.files, ctx.list_separator_source};
    std::string register_name;
    if (const auto reg = ReadAcquisitionRegister(silent, folder)) register_name = reg->name;
    return StartOfRecording(ParseRunLog(ReadEventLog(folder)), folder.filename().string(),
                            register_name);
}

std::string RecordingStartText(const RecordingStart& start) {
    if (!start.known) return "not known";
    char text[40];
    const LocalDateTime& t = start.local;
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    std::string out = text;
    if (start.utc_offset_minutes) out += " " + TimeZoneText(t);
    return out + ", from " + start.source;
}

}  // namespace lumivo::reporting
