#include "core/offline/browser_entries.h"

namespace lumivo::offline {

namespace {

bool AllDigits(std::string_view text) {
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return !text.empty();
}

int Number(std::string_view digits) {
    int n = 0;
    for (char c : digits) n = n * 10 + (c - '0');
    return n;
}

// `count` characters after the first `marker` at or after `from`; "" when there are not enough.
std::string_view After(std::string_view text, std::string_view marker, std::size_t count,
                       std::size_t from = 0) {
    const std::size_t at = text.find(marker, from);
    if (at == std::string_view::npos || at + marker.size() + count > text.size()) return {};
    return text.substr(at + marker.size(), count);
}

// "dddddddd_dddd": the shape of an acquisition folder's name, real date or not.
bool HasAcquisitionNameShape(std::string_view name) {
    return name.size() == kAcquisitionNameLength && name[8] == '_' &&
           AllDigits(name.substr(0, 8)) && AllDigits(name.substr(9, 4));
}

}  // namespace

bool IsAcquisitionFolderName(std::string_view name) {
    // The name is the start of the recording: 20261301_1000 (month 13) names none.
    return StartMinutesOfFolder(name).has_value();
}

std::string DateLabel(std::string_view folder) {
    if (folder.size() < 8) return kNoDateLabel;
    return std::string(folder.substr(0, 4)) + "." + std::string(folder.substr(4, 4));
}

std::string TimeLabel(std::string_view folder) {
    if (folder.size() < kAcquisitionNameLength) return "  :  ";
    return std::string(folder.substr(9, 2)) + ":" + std::string(folder.substr(11, 2));
}

std::string ProjectEntry(std::string_view date_label, std::string_view project_folder,
                         std::string_view project_name) {
    std::string e = "+ ";
    e += date_label;
    e += '\t';
    e += project_folder;
    e += '_';
    e += project_name;
    return e;
}

std::string TreeAcquisitionEntry(std::string_view folder, std::string_view name) {
    std::string e = "  > ";
    e += DateLabel(folder);
    e += "\t ACQ";
    e += TimeLabel(folder);
    e += " \"";
    e += name;
    e += '"';
    return e;
}

std::string DateViewEntry(std::string_view folder, std::string_view name) {
    std::string e(folder);
    e += ' ';
    e += name;
    return e;
}

std::string ProjectNameOfTitle(std::string_view title) {
    const std::size_t colon = title.find(':');
    if (colon == std::string_view::npos) return std::string(title);
    std::size_t start = colon + 1;
    if (start < title.size() && title[start] == ' ') ++start;
    return std::string(title.substr(start));
}

std::string ProjectFolderOfEntry(std::string_view entry) {
    return std::string(After(entry, "\t", 6));
}

std::string AcquisitionFolderOfTreeEntry(std::string_view entry) {
    const std::size_t arrow = entry.find("> ");
    if (arrow == std::string_view::npos) return {};
    const std::string_view year = After(entry, "> ", 4);
    const std::string_view month_day = After(entry, ".", 4, arrow);
    const std::size_t acq = entry.find("ACQ", arrow);
    if (acq == std::string_view::npos) return {};
    const std::string_view hour = After(entry, "ACQ", 2, arrow);
    const std::string_view minute = After(entry, ":", 2, acq);
    std::string folder =
        std::string(year) + std::string(month_day) + "_" + std::string(hour) + std::string(minute);
    return IsAcquisitionFolderName(folder) ? folder : std::string();
}

std::string AcquisitionFolderOfDateEntry(std::string_view entry) {
    const std::string_view folder = entry.substr(0, entry.find(' '));
    return IsAcquisitionFolderName(folder) ? std::string(folder) : std::string();
}

EntryTarget ReadTreeEntry(const std::vector<std::string>& entries, std::size_t index) {
    EntryTarget t;
    if (index >= entries.size() || entries[index].empty()) return t;
    const std::string& entry = entries[index];
    if (entry.front() == '+') {
        t.project_folder = ProjectFolderOfEntry(entry);
        if (!t.project_folder.empty()) t.kind = EntryKind::Project;
        return t;
    }
    t.acquisition_folder = AcquisitionFolderOfTreeEntry(entry);
    if (t.acquisition_folder.empty()) return t;
    for (std::size_t i = index; i-- > 0;) {
        if (!entries[i].empty() && entries[i].front() == '+') {
            t.project_folder = ProjectFolderOfEntry(entries[i]);
            break;
        }
    }
    if (!t.project_folder.empty()) t.kind = EntryKind::Acquisition;
    return t;
}

std::optional<std::int64_t> StartMinutesOfFolder(std::string_view folder) {
    if (!HasAcquisitionNameShape(folder)) return std::nullopt;
    const int year = Number(folder.substr(0, 4));
    const int month = Number(folder.substr(4, 2));
    const int day = Number(folder.substr(6, 2));
    const int hour = Number(folder.substr(9, 2));
    const int minute = Number(folder.substr(11, 2));
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || hour > 23 || minute > 59)
        return std::nullopt;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap) return std::nullopt;
    return CivilDayNumber(year, month, day) * 1440 + hour * 60 + minute;
}

std::string StartTextOfFolder(std::string_view folder) {
    if (!IsAcquisitionFolderName(folder)) return std::string(folder);
    return std::string(folder.substr(0, 4)) + "-" + std::string(folder.substr(4, 2)) + "-" +
           std::string(folder.substr(6, 2)) + " " + std::string(folder.substr(9, 2)) + ":" +
           std::string(folder.substr(11, 2));
}

}  // namespace lumivo::offline
