// The texts of the acquisition browser's list and how they are read back. The list is the
// browser's own record of what it shows: a double click, a rename or a join finds the project
// and the acquisition folder from the entry's text alone, so the formats are fixed.
//
//   project                  "+ " + date label + TAB + "p00001" + "_" + project name
//   acquisition in the tree  "  > " + date label + TAB + " ACQ" + time label + " \"" + name + "\""
//   acquisition by date      "20210421_1030" + " " + name
//
// The date label of "20210421_1030" is "2021.0421", its time label "10:30"; a project's date
// label is that of its first acquisition, or eight blanks when it has none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/acquisition/event_log_reader.h"

namespace lumivo::offline {

// "yyyymmdd_hhmm": the length of an acquisition folder's name.
inline constexpr std::size_t kAcquisitionNameLength = 13;
// The date label of a project without acquisitions.
inline constexpr const char* kNoDateLabel = "        ";

// True for "yyyymmdd_hhmm" (digits, "_" at position 9, digits) naming a real date and time.
// Archived folders ("...removed" and a time stamp), names that are no date (20261301_1000,
// 20260230_0900, 20260314_2460) and anything else are not acquisitions.
bool IsAcquisitionFolderName(std::string_view name);

// "2021.0421" for "20210421_1030".
std::string DateLabel(std::string_view acquisition_folder);
// "10:30" for "20210421_1030".
std::string TimeLabel(std::string_view acquisition_folder);

std::string ProjectEntry(std::string_view date_label, std::string_view project_folder,
                         std::string_view project_name);
std::string TreeAcquisitionEntry(std::string_view acquisition_folder,
                                 std::string_view acquisition_name);
std::string DateViewEntry(std::string_view acquisition_folder, std::string_view acquisition_name);

// The project name shown in the list: the project title's text after its first ":" and the
// blank that follows ("<Project> p00001: name" gives "name"); a title without ":" is shown whole.
std::string ProjectNameOfTitle(std::string_view title);

enum class EntryKind { None, Project, Acquisition };

// What a list entry stands for.
struct EntryTarget {
    EntryKind kind = EntryKind::None;
    std::string project_folder;      // "p00001"
    std::string acquisition_folder;  // "yyyymmdd_hhmm", for an acquisition
};

// The project folder of a project entry: the six characters after the TAB ("" when missing).
std::string ProjectFolderOfEntry(std::string_view entry);
// The acquisition folder of a tree entry, rebuilt from the four characters after "> ", the four
// after ".", "_", the two after "ACQ" and the two after ":"; "" when the entry is not one.
std::string AcquisitionFolderOfTreeEntry(std::string_view entry);
// The acquisition folder of a date-view entry: its text up to the first blank ("" when that is
// not an acquisition folder name).
std::string AcquisitionFolderOfDateEntry(std::string_view entry);

// Entry `index` of the project tree: a project line, or an acquisition line whose project is the
// nearest project line above it. Empty entries and entries that cannot be read stand for nothing.
EntryTarget ReadTreeEntry(const std::vector<std::string>& entries, std::size_t index);

// Minutes from 0001-01-01 00:00 to the start that an acquisition folder's name gives; nullopt
// when the name is not "yyyymmdd_hhmm" or names no valid date and time.
std::optional<std::int64_t> StartMinutesOfFolder(std::string_view acquisition_folder);
// "2021-04-21 10:30" for "20210421_1030".
std::string StartTextOfFolder(std::string_view acquisition_folder);
// Days from 0001-01-01 to a civil date (proleptic Gregorian calendar).
using lumivo::CivilDayNumber;

}  // namespace lumivo::offline
