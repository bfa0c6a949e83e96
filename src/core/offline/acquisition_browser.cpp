#include "core/offline/acquisition_browser.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "core/acquisition/recording_mark.h"
#include "core/setup/project_ops.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/field_record.h"
#include "core/storage/project_setup.h"

namespace lumivo::offline {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCrLf = "\r\n";

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool ContainsWord(const std::string& entry, const std::string& word) {
    return std::search(entry.begin(), entry.end(), word.begin(), word.end(),
                       [](char a, char b) { return Lower(a) == Lower(b); }) != entry.end();
}

// The project folders found now, keeping the opened flags of those found before.
void CollectProjects(StorageContext& ctx, BrowserState& s) {
    std::vector<std::string> folders = FindProjectFolders(ctx);
    std::vector<bool> expanded(folders.size(), false);
    for (std::size_t i = 0; i < folders.size(); ++i) {
        const auto was = std::find(s.project_folders.begin(), s.project_folders.end(), folders[i]);
        if (was != s.project_folders.end())
            expanded[i] = s.expanded[static_cast<std::size_t>(was - s.project_folders.begin())];
    }
    s.project_folders = std::move(folders);
    s.expanded = std::move(expanded);
}

// Rebuilds the list that is shown, keeping the mode.
void Rebuild(StorageContext& ctx, BrowserState& s) {
    const int mode = s.list_mode;
    if (s.view == BrowserView::DateView)
        BuildDateView(ctx, s);
    else
        BuildProjectTree(ctx, s);
    s.list_mode = mode;
}

std::optional<std::size_t> IndexOfTarget(const BrowserState& s, const EntryTarget& wanted) {
    for (std::size_t i = 0; i < s.entries.size(); ++i) {
        const EntryTarget t = TargetOf(s, i);
        if (t.kind == wanted.kind && t.project_folder == wanted.project_folder &&
            t.acquisition_folder == wanted.acquisition_folder)
            return i;
    }
    return std::nullopt;
}

void ChooseNothing(BrowserState& s) {
    s.controls.channels = false;
    s.controls.analyze = false;
    s.controls.report = false;
    s.controls.report_caption = kNoReportCaption;
}

// rename(2) that never replaces an existing folder.
int RenameNoReplace(const fs::path& from, const fs::path& to) {
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
}

}  // namespace

void LoadBrowser(StorageContext& ctx, BrowserState& s) {
    s = BrowserState{};
    LoadWatchedFolders(ctx, s);
    BuildProjectTree(ctx, s);
}

void BuildProjectTree(StorageContext& ctx, BrowserState& s) {
    s.entries.clear();
    s.view = BrowserView::ProjectTree;
    CollectProjects(ctx, s);
    const std::set<std::string> matching(s.matching_entries.begin(), s.matching_entries.end());
    const std::size_t n = s.project_folders.size();
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t i = s.sort_descending ? n - 1 - k : k;
        const fs::path project = ctx.install_dir / s.project_folders[i];
        if (!s.expanded[i]) {
            std::string entry =
                ProjectEntryOf(ctx, project, FirstAcquisitionFolder(ctx.files, project));
            if (s.filter_on && matching.count(entry) == 0) continue;
            s.entries.push_back(std::move(entry));
            continue;
        }
        std::vector<std::string> acquisitions = FindAcquisitionFolders(ctx.files, project);
        std::string entry = ProjectEntryOf(
            ctx, project, acquisitions.empty() ? std::string() : acquisitions.front());
        if (s.filter_on && matching.count(entry) == 0) continue;
        const bool all = !s.filter_on || EntryMatches(entry, s.filter_words);
        s.entries.push_back(std::move(entry));
        if (s.sort_descending) std::reverse(acquisitions.begin(), acquisitions.end());
        for (const std::string& a : acquisitions) {
            std::string line = TreeAcquisitionEntry(a, ReadAcquisitionTitle(ctx, project / a));
            if (all || matching.count(line) != 0) s.entries.push_back(std::move(line));
        }
    }
    s.list_mode = 0;
}

std::vector<std::string> DateViewEntries(StorageContext& ctx, const fs::path& project_path,
                                         bool descending) {
    std::vector<std::string> folders = FindAcquisitionFolders(ctx.files, project_path);
    if (descending) std::reverse(folders.begin(), folders.end());
    std::vector<std::string> out;
    out.reserve(folders.size());
    for (const std::string& a : folders)
        out.push_back(DateViewEntry(a, ReadAcquisitionTitle(ctx, project_path / a)));
    return out;
}

void BuildDateView(StorageContext& ctx, BrowserState& s) {
    s.view = BrowserView::DateView;
    s.entries = s.current_project.empty()
                    ? std::vector<std::string>{}
                    : DateViewEntries(ctx, ctx.install_dir / s.current_project, s.sort_descending);
}

void ClickDate(StorageContext& ctx, BrowserState& s) {
    s.sort_descending = !s.sort_descending;
    s.order_mark = s.sort_descending ? kDescendingMark : kAscendingMark;
    if (s.list_mode == 1)
        BuildDateView(ctx, s);
    else
        BuildProjectTree(ctx, s);
}

bool EntryMatches(const std::string& entry, const std::vector<std::string>& words) {
    return std::any_of(words.begin(), words.end(),
                       [&](const std::string& w) { return ContainsWord(entry, w); });
}

std::vector<std::string> FilterWords(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == ' ' || text[i] == '+') {
            if (!word.empty() && words.size() < kMaxFilterWords) words.push_back(word);
            word.clear();
        } else {
            word += text[i];
        }
    }
    return words;
}

void ApplyFilter(StorageContext& ctx, BrowserState& s, const std::string& search_text) {
    s.search_text = search_text;
    const std::vector<std::string> words = FilterWords(search_text);
    s.filter_on = false;
    s.filter_words.clear();
    s.matching_entries.clear();
    // The filter works on the project tree as it is opened now.
    BuildProjectTree(ctx, s);
    if (words.empty()) return;
    std::set<std::string> matching;
    std::string project_line;
    for (const std::string& entry : s.entries) {
        const bool is_project = !entry.empty() && entry.front() == '+';
        if (is_project) project_line = entry;
        if (!EntryMatches(entry, words)) continue;
        matching.insert(entry);
        if (!is_project && !project_line.empty()) matching.insert(project_line);
    }
    s.matching_entries.assign(matching.begin(), matching.end());
    s.filter_words = words;
    s.filter_on = true;
    BuildProjectTree(ctx, s);
}

std::optional<std::size_t> ClearFilter(StorageContext& ctx, BrowserState& s,
                                       const std::string& previous_entry) {
    s.filter_on = false;
    s.search_text.clear();
    s.filter_words.clear();
    s.matching_entries.clear();
    BuildProjectTree(ctx, s);
    const auto at = std::find(s.entries.begin(), s.entries.end(), previous_entry);
    if (previous_entry.empty() || at == s.entries.end()) return std::nullopt;
    return static_cast<std::size_t>(at - s.entries.begin());
}

EntryTarget TargetOf(const BrowserState& s, std::size_t index) {
    if (s.view == BrowserView::ProjectTree) return ReadTreeEntry(s.entries, index);
    EntryTarget t;
    if (index >= s.entries.size() || s.current_project.empty()) return t;
    t.acquisition_folder = AcquisitionFolderOfDateEntry(s.entries[index]);
    if (t.acquisition_folder.empty()) return t;
    t.kind = EntryKind::Acquisition;
    t.project_folder = s.current_project;
    return t;
}

fs::path FolderOf(const StorageContext& ctx, const EntryTarget& target) {
    if (target.kind == EntryKind::None) return {};
    const fs::path project = ctx.install_dir / target.project_folder;
    return target.kind == EntryKind::Project ? project : project / target.acquisition_folder;
}

DoubleClickResult DoubleClickEntry(StorageContext& ctx, BrowserState& s, std::size_t index) {
    DoubleClickResult r;
    const EntryTarget target = TargetOf(s, index);
    if (target.kind == EntryKind::None) return r;
    if (target.kind == EntryKind::Project) {
        s.list_mode = 0;
        s.current_project = target.project_folder;
        const auto at =
            std::find(s.project_folders.begin(), s.project_folders.end(), target.project_folder);
        if (at != s.project_folders.end()) {
            const auto i = static_cast<std::size_t>(at - s.project_folders.begin());
            s.expanded[i] = !s.expanded[i];
        }
        BuildProjectTree(ctx, s);
        ChooseNothing(s);
        s.controls.read_groups = true;
        r.selection = IndexOfTarget(s, target);
        return r;
    }
    const AcquisitionRef ref{ctx.install_dir / target.project_folder, target.acquisition_folder};
    r.opened = OpenAcquisition(ctx, ref, s.entries[index]);
    if (!r.opened) {
        // The list was out of date: show what is there now.
        Rebuild(ctx, s);
        return r;
    }
    s.list_mode = 1;
    s.current_project = target.project_folder;
    s.current_acquisition = ref.path();
    // The signal pages and their re-analysis need raw pages, which a joined acquisition (or a
    // run recorded without them) does not have.
    s.controls.channels = r.opened->raw_pages > 0;
    s.controls.analyze = r.opened->raw_pages > 0;
    s.controls.read_groups = true;
    s.controls.report = true;
    s.controls.report_caption = r.opened->report_caption;
    r.selection = index;
    return r;
}

std::vector<std::string> BasalChoicesOf(StorageContext& ctx, const BrowserState& s) {
    std::vector<std::string> items = {"-"};
    if (s.current_acquisition.empty()) return items;
    const std::string own = s.current_acquisition.filename().string();
    for (std::string& e :
         DateViewEntries(ctx, s.current_acquisition.parent_path(), s.sort_descending))
        if (AcquisitionFolderOfDateEntry(e) != own) items.push_back(std::move(e));
    return items;
}

bool RenameAcquisitionTitle(StorageContext& ctx, const fs::path& folder, const std::string& name) {
    if (ctx.files.IsFile(folder / kRegisterFileName))
        return !RenameAcquisition(ctx, folder, name).empty();
    // Without a register the name would be dropped: start one.
    if (auto refusal = CheckStorableText(name, "The experiment name"); !refusal.empty()) {
        ctx.dialogs.MessageBox(refusal);
        return false;
    }
    try {
        WriteAcquisitionRegister(ctx, folder, {name, ""});
    } catch (const StorageError& e) {
        ctx.dialogs.MessageBox(FileErrorTag(folder / kRegisterFileName) + " " + e.what());
        return false;
    }
    return true;
}

std::optional<std::size_t> RenameEntry(StorageContext& ctx, BrowserState& s, std::size_t index) {
    const EntryTarget target = TargetOf(s, index);
    if (target.kind == EntryKind::None) return std::nullopt;
    const fs::path folder = FolderOf(ctx, target);
    const bool project = target.kind == EntryKind::Project;
    const std::string current = project ? ProjectNameOfTitle(GetProjectTitle(ctx, folder))
                                        : ReadAcquisitionTitle(ctx, folder);
    const auto answer = ctx.dialogs.InputBox(
        project ? kRenameProjectPrompt : kRenameAcquisitionPrompt, kRenameTitle, current);
    if (!answer || answer->empty() || *answer == current) return std::nullopt;
    const bool renamed =
        project ? RenameProjectFiles(ctx, ProjectNumberOfFolder(target.project_folder).value_or(0),
                                     *answer)
                : RenameAcquisitionTitle(ctx, folder, *answer);
    if (!renamed) return std::nullopt;
    Rebuild(ctx, s);
    return IndexOfTarget(s, target);
}

std::string ArchiveStamp(const LocalDateTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d", t.year % 10000, t.month % 100,
                  t.day % 100, t.hour % 100, t.second % 100);
    return buf;
}

std::optional<fs::path> ArchiveAcquisition(StorageContext& ctx, Clock& clock,
                                           const fs::path& folder) {
    if (IsBeingRecorded(folder)) {
        ctx.dialogs.MessageBox(folder.string() +
                               " is being recorded: it cannot be archived until its acquisition "
                               "has ended.");
        return std::nullopt;
    }
    if (ctx.dialogs.MessageBox(kArchiveQuestion, MsgButtons::YesNo) != MsgResult::Yes)
        return std::nullopt;
    if (ctx.dialogs.MessageBox(kArchiveWarning, MsgButtons::OkCancel) != MsgResult::Ok)
        return std::nullopt;
    const std::string base = folder.string() + kArchiveMark + ArchiveStamp(clock.Now());
    fs::path target = base;
    for (int n = 2;; ++n) {
        if (RenameNoReplace(folder, target) == 0) return target;
        const int error = errno;
        if ((error != EEXIST && error != ENOTEMPTY) || n > 1000) {
            ctx.dialogs.MessageBox(FileErrorTag(folder) + " could not be archived as " +
                                   target.filename().string() + ": " + std::strerror(error));
            return std::nullopt;
        }
        target = base + "_" + std::to_string(n);
    }
}

bool ArchiveEntry(StorageContext& ctx, Clock& clock, BrowserState& s, std::size_t index) {
    const EntryTarget target = TargetOf(s, index);
    if (target.kind == EntryKind::None) return false;
    if (target.kind == EntryKind::Project) {
        ctx.dialogs.MessageBox(kArchiveProjectRefusal);
        return false;
    }
    const fs::path folder = FolderOf(ctx, target);
    if (!ArchiveAcquisition(ctx, clock, folder)) return false;
    if (s.current_acquisition == folder) {
        s.current_acquisition.clear();
        ChooseNothing(s);
    }
    BuildProjectTree(ctx, s);
    return true;
}

std::optional<AcquisitionRef> PlateConfigTarget(StorageContext& ctx, const BrowserState& s,
                                                std::size_t index) {
    const EntryTarget target = TargetOf(s, index);
    if (target.kind == EntryKind::Project) ctx.dialogs.MessageBox(kPlateConfigProjectRefusal);
    if (target.kind != EntryKind::Acquisition) return std::nullopt;
    return AcquisitionRef{ctx.install_dir / target.project_folder, target.acquisition_folder};
}

void LoadWatchedFolders(StorageContext& ctx, BrowserState& s) {
    const fs::path file = ctx.install_dir / kWatchFileName;
    if (!ctx.files.IsFile(file)) return;
    std::string text;
    try {
        text = ctx.files.ReadFile(file);
    } catch (const StorageError& e) {
        ctx.dialogs.MessageBox(FileErrorTag(file) + " " + e.what());
        return;
    }
    std::size_t pos = 0;
    for (std::size_t item = 0; item < kWatchedFolderCount && pos < text.size(); ++item) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && ctx.files.IsFolder(line)) s.watched_folders[item] = line;
    }
}

bool EditWatchedFolder(StorageContext& ctx, BrowserState& s, std::size_t item) {
    if (item >= kWatchedFolderCount) return false;
    const auto answer = ctx.dialogs.InputBox(kWatchPrompt, kWatchTitle, s.watched_folders[item]);
    if (!answer || answer->empty() || !ctx.files.IsFolder(*answer)) return false;
    if (answer->find_first_of("\r\n") != std::string::npos) return false;
    std::string text;
    for (std::size_t i = 0; i < kWatchedFolderCount; ++i)
        text += (i == item ? *answer : s.watched_folders[i]) + kCrLf;
    const fs::path file = ctx.install_dir / kWatchFileName;
    try {
        ctx.files.WriteFile(file, std::move(text));
    } catch (const StorageError& e) {
        ctx.dialogs.MessageBox(FileErrorTag(file) + " " + e.what());
        return false;
    }
    s.watched_folders[item] = *answer;
    return true;
}

}  // namespace lumivo::offline
