// The acquisition browser behind `Frm_offline`, without its window: the list `Listpj` as a
// project tree (projects that open to show their acquisitions) or as the date view of one
// project, the sort (`lbl_date`, `lbl_orden`), the filter (`txt_search`, `cmd_lupa`, `lblback`),
// the double click that opens a project or chooses an acquisition, the housekeeping commands
// (`lst_rename`, `lst_delete`, `lst_explorefind`, `lst_plateconfig`) and the watched folders
// (`txtfolder`, foldview.dat).
//
// Everything the window shows is held in BrowserState and returned as texts and lists; the
// window's handlers only pass the user's choices in and draw what comes back. Questions and
// messages go through the StorageContext's Dialogs.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/offline/acquisition_folders.h"
#include "core/offline/acquisition_summary.h"
#include "core/offline/browser_entries.h"
#include "core/platform/ui_port.h"
#include "core/storage/storage_context.h"

namespace lumivo::offline {

inline constexpr const char* kRenameTitle = "Rename";
inline constexpr const char* kRenameProjectPrompt = "Enter Name of project";
inline constexpr const char* kRenameAcquisitionPrompt = "Enter Name of acquisition";
inline constexpr const char* kArchiveProjectRefusal =
    "Remove function only available for subprojects";
inline constexpr const char* kArchiveQuestion = "Remove folder from the list?";
inline constexpr const char* kArchiveWarning = "Files are going to be archived!";
// An archived folder is renamed to its path + "removed" + the time "YYYYMMDDhhss".
inline constexpr const char* kArchiveMark = "removed";
inline constexpr const char* kPlateConfigProjectRefusal = "Only possible for SubProjects";
inline constexpr const char* kWatchPrompt = "Write folder to watch:";
inline constexpr const char* kWatchTitle = "Folder";
inline constexpr const char* kWatchFileName = "foldview.dat";
inline constexpr std::size_t kWatchedFolderCount = 5;
// The filter uses at most this many words of the search text.
inline constexpr std::size_t kMaxFilterWords = 10;
// `lbl_orden`: "^" when the sort flag becomes 1 (descending), "v" when it becomes 0.
inline constexpr const char* kDescendingMark = "^";
inline constexpr const char* kAscendingMark = "v";

// The window's commands that depend on what is chosen.
struct BrowserControls {
    bool channels = false;     // cmdchannels: the recorded signals
    bool analyze = false;      // Cmd_analyze: the re-analysis
    bool read_groups = false;  // Cmd_leegroups: the groups of the acquisition
    bool report = false;       // Cmd_report
    std::string report_caption = kNoReportCaption;
    bool operator==(const BrowserControls&) const = default;
};

// Which list `Listpj` shows.
enum class BrowserView { ProjectTree, DateView };

struct BrowserState {
    // The project folders found ("p00001"), in folder order, and whether each is opened.
    std::vector<std::string> project_folders;
    std::vector<bool> expanded;
    // The sort flag: true (1, as the window loads) lists projects and acquisitions from the
    // last to the first, false (0) from the first.
    bool sort_descending = true;
    std::string order_mark = kDescendingMark;  // lbl_orden
    // 0: project tree; 1: an acquisition was chosen (the date view can be shown).
    int list_mode = 0;
    BrowserView view = BrowserView::ProjectTree;
    std::string current_project;                // "p00001"
    std::filesystem::path current_acquisition;  // its folder, once one was chosen
    // The filter: on or off, the search text, its words and the entries they matched.
    bool filter_on = false;
    std::string search_text;
    std::vector<std::string> filter_words;
    std::vector<std::string> matching_entries;
    std::vector<std::string> entries;  // `Listpj`
    BrowserControls controls;
    std::array<std::string, kWatchedFolderCount> watched_folders;  // `txtfolder` captions
};

// The window's load: sort flag 1, filter off, every project closed, mode 0, the watched folders
// from foldview.dat, and the project tree.
void LoadBrowser(StorageContext& ctx, BrowserState& s);

// Rebuilds `entries` as the project tree (and sets mode 0).
void BuildProjectTree(StorageContext& ctx, BrowserState& s);
// Rebuilds `entries` as the date view of the current project.
void BuildDateView(StorageContext& ctx, BrowserState& s);
// The date-view entries of a project, oldest first or, with `descending`, newest first.
std::vector<std::string> DateViewEntries(StorageContext& ctx,
                                         const std::filesystem::path& project_path,
                                         bool descending);

// `lbl_date`: toggles the sort flag and its mark, and rebuilds the tree (mode 0) or the date
// view of the current project (mode 1).
void ClickDate(StorageContext& ctx, BrowserState& s);

// The words of a search text: split at blanks and "+" signs, at most kMaxFilterWords.
std::vector<std::string> FilterWords(const std::string& text);
// True when the entry holds any of the words (letters compared without case).
bool EntryMatches(const std::string& entry, const std::vector<std::string>& words);
// `cmd_lupa`: an empty text turns the filter off. Otherwise the entries of the tree holding any
// of its words (letters compared without case) are remembered, together with the project of
// every matching acquisition, and the tree is rebuilt with only them: a project whose own entry
// matches keeps all its opened acquisitions, another project only the matching ones.
void ApplyFilter(StorageContext& ctx, BrowserState& s, const std::string& search_text);
// `lblback`: filter off, search text cleared, the tree rebuilt. Returns the index of
// `previous_entry` in it, for the selection, when it is still listed.
std::optional<std::size_t> ClearFilter(StorageContext& ctx, BrowserState& s,
                                       const std::string& previous_entry);

// What entry `index` of the current list stands for.
EntryTarget TargetOf(const BrowserState& s, std::size_t index);
// The folder of a target: the project folder, or the acquisition folder.
std::filesystem::path FolderOf(const StorageContext& ctx, const EntryTarget& target);

struct DoubleClickResult {
    std::optional<std::size_t> selection;     // the entry to select afterwards
    std::optional<OpenedAcquisition> opened;  // when an acquisition was chosen
};
// A double click on entry `index`: a project opens or closes (tree rebuilt, signal and analysis
// commands off, group view on, report button "[ REPORT ]"); an acquisition is chosen (mode 1,
// OpenAcquisition, commands on, report caption from the entry). An acquisition that cannot be
// opened any more is reported and the list rebuilt.
DoubleClickResult DoubleClickEntry(StorageContext& ctx, BrowserState& s, std::size_t index);

// `cmbbasal`: "-", then the date-view entries of the other acquisitions of the current
// acquisition's project, in the browser's order.
std::vector<std::string> BasalChoicesOf(StorageContext& ctx, const BrowserState& s);

// Stores a new experiment name in an acquisition's subproj.dat (a folder without one gets a
// new register with an empty description). Names that cannot be stored are refused with a
// message. True when the name was stored.
bool RenameAcquisitionTitle(StorageContext& ctx, const std::filesystem::path& folder,
                            const std::string& name);
// `lst_rename` on entry `index`: asks "Enter Name of project" or "Enter Name of acquisition"
// (title "Rename", the current name as the default answer) and stores the answer in setup.dat
// or subproj.dat. Returns the entry to select in the rebuilt list, or nullopt when nothing
// changed (Cancel, an empty answer, a refusal).
std::optional<std::size_t> RenameEntry(StorageContext& ctx, BrowserState& s, std::size_t index);

// "YYYYMMDDhhss" for the archive mark.
std::string ArchiveStamp(const LocalDateTime& t);
// Archives an acquisition folder: refused (with a message) while it is being recorded;
// otherwise asks "Remove folder from the list?" (Yes/No), warns "Files are going to be
// archived!" (OK/Cancel) and renames the folder to its path + "removed" + ArchiveStamp(now),
// never over an existing folder (a "_2", "_3"... is added then). Returns the new path, or
// nullopt when the user stopped or the rename failed (with a message).
std::optional<std::filesystem::path> ArchiveAcquisition(StorageContext& ctx, Clock& clock,
                                                        const std::filesystem::path& folder);
// `lst_delete` on entry `index`: a project gets "Remove function only available for
// subprojects"; an acquisition is archived and the tree rebuilt. Archiving the chosen
// acquisition clears the choice. True when a folder was archived.
bool ArchiveEntry(StorageContext& ctx, Clock& clock, BrowserState& s, std::size_t index);

// `lst_plateconfig` on entry `index`: the acquisition whose plate layout is to be shown; a
// project gets "Only possible for SubProjects" and nullopt.
std::optional<AcquisitionRef> PlateConfigTarget(StorageContext& ctx, const BrowserState& s,
                                                std::size_t index);

// The watched folders of foldview.dat: each of its first five lines that names an existing
// folder becomes the caption of its item.
void LoadWatchedFolders(StorageContext& ctx, BrowserState& s);
// `txtfolder` item: asks "Write folder to watch:" (title "Folder", the caption as default). An
// empty answer or one that is not an existing folder changes nothing; otherwise the caption
// changes and all five are written to foldview.dat (a failed write is reported and undone).
// True when the caption changed.
bool EditWatchedFolder(StorageContext& ctx, BrowserState& s, std::size_t item);

}  // namespace lumivo::offline
