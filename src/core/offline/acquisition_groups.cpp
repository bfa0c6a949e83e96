#include "core/offline/acquisition_groups.h"

#include "core/offline/acquisition_folders.h"
#include "core/offline/browser_entries.h"
#include "core/storage/field_record.h"

namespace lumivo::offline {

namespace fs = std::filesystem;

namespace {

constexpr const char* kGroupNamesFile = "groups.dat";
constexpr const char* kChannelGroupsFile = "chgroup.dat";

std::string GroupsText(const ProjectState& p) {
    return FormatGroupNamesFile(p) + FormatChannelGroupsFile(p);
}

// The group tables of the two files' texts, read by the project loaders (with their messages
// and defaults for a damaged text).
void LoadGroupTexts(StorageContext& ctx, const std::string& names, const std::string& groups,
                    ProjectState& into) {
    MemoryFileSystem memory;
    const fs::path folder = "/groups";
    memory.CreateFolders(folder);
    memory.WriteFiles(std::vector<FileContent>{{folder / kGroupNamesFile, names},
                                               {folder / kChannelGroupsFile, groups}});
    StorageContext from_memory{ctx.install_dir, ctx.dialogs, memory, ctx.list_separator_source};
    ProjectState loaded;
    loaded.ProjectFolder = folder;
    (void)LoadGroupNames(from_memory, 0, loaded);
    (void)LoadChannelGroups(from_memory, 0, loaded);
    into.GroupName = loaded.GroupName;
    into.ChannelGroup = loaded.ChannelGroup;
}

// The text of a file of the folder; the formatted table when the file cannot be read.
std::string FileOr(StorageContext& ctx, const fs::path& file, const std::string& fallback) {
    try {
        if (ctx.files.IsFile(file)) return ctx.files.ReadFile(file);
    } catch (const StorageError&) {
    }
    return fallback;
}

}  // namespace

std::string PlateLayoutCaption(const PlateMap& plate) {
    return "[" + std::to_string(plate.PlateRows) + "x" + std::to_string(plate.PlateColumns) + "]";
}

std::optional<AcquisitionGroupEditor> OpenGroupEditor(StorageContext& ctx, const fs::path& folder) {
    if (!HoldsAcquisition(ctx.files, folder)) {
        ctx.dialogs.MessageBox(folder.string() + " is not a recorded acquisition (no counts.bin).");
        return std::nullopt;
    }
    AcquisitionFileDialogs dialogs(ctx.dialogs);
    StorageContext acq{ctx.install_dir, dialogs, ctx.files, ctx.list_separator_source};
    AcquisitionGroupEditor e;
    e.folder = folder;
    e.project.ProjectFolder = folder;
    (void)LoadProject(acq, 0, 0, e.project, e.plate, SetupUse::Reading);
    e.saved_text = GroupsText(e.project);
    return e;
}

bool GroupsEdited(const AcquisitionGroupEditor& editor) {
    return GroupsText(editor.project) != editor.saved_text;
}

bool HasRecordedGroups(StorageContext& ctx, const fs::path& folder) {
    return ctx.files.IsFile(folder / kRecordedGroupNamesFile) &&
           ctx.files.IsFile(folder / kRecordedChannelGroupsFile);
}

std::vector<std::string> GroupSetChoices(StorageContext& ctx,
                                         const AcquisitionGroupEditor& editor) {
    const fs::path project = editor.folder.parent_path();
    const std::string title = GetProjectTitle(ctx, project);
    return {kRecordedGroupSet,
            "Current groups of " + project.filename().string() + "_" + ProjectNameOfTitle(title)};
}

bool ApplyGroupSet(StorageContext& ctx, AcquisitionGroupEditor& editor, std::size_t index) {
    const fs::path& folder = editor.folder;
    if (index == 0) {
        const bool kept = HasRecordedGroups(ctx, folder);
        const ProjectState defaults;
        LoadGroupTexts(
            ctx,
            FileOr(ctx, folder / (kept ? kRecordedGroupNamesFile : kGroupNamesFile),
                   FormatGroupNamesFile(defaults)),
            FileOr(ctx, folder / (kept ? kRecordedChannelGroupsFile : kChannelGroupsFile),
                   FormatChannelGroupsFile(defaults)),
            editor.project);
        return true;
    }
    if (index != 1) return false;
    AcquisitionFileDialogs dialogs(ctx.dialogs);
    StorageContext quiet{ctx.install_dir, dialogs, ctx.files, ctx.list_separator_source};
    ProjectState project;
    project.ProjectFolder = folder.parent_path();
    (void)LoadProjectSetup(quiet, 0, 0, project, SetupUse::Reading);
    if (project.Setup.Plate_format != editor.project.Setup.Plate_format) {
        ctx.dialogs.MessageBox("The project now uses the plate format " +
                               project.Setup.Plate_format + ", this acquisition " +
                               editor.project.Setup.Plate_format +
                               ": the project's groups do not fit its wells.");
        return false;
    }
    (void)LoadGroupNames(quiet, 0, project);
    (void)LoadChannelGroups(quiet, 0, project);
    editor.project.GroupName = project.GroupName;
    editor.project.ChannelGroup = project.ChannelGroup;
    return true;
}

bool SaveAcquisitionGroups(StorageContext& ctx, AcquisitionGroupEditor& editor) {
    const fs::path& folder = editor.folder;
    std::vector<FileContent> files;
    try {
        if (!HasRecordedGroups(ctx, folder)) {
            // The recorded files as they are: what the acquisition's reports read so far (a
            // missing file gave them the default groups).
            const ProjectState defaults;
            files.push_back(
                {folder / kRecordedGroupNamesFile,
                 FileOr(ctx, folder / kGroupNamesFile, FormatGroupNamesFile(defaults))});
            files.push_back(
                {folder / kRecordedChannelGroupsFile,
                 FileOr(ctx, folder / kChannelGroupsFile, FormatChannelGroupsFile(defaults))});
        }
        files.push_back({folder / kGroupNamesFile, FormatGroupNamesFile(editor.project)});
        files.push_back({folder / kChannelGroupsFile, FormatChannelGroupsFile(editor.project)});
        for (std::size_t g = 0; g < kBeamChannelCount; ++g) {
            if (auto refusal = CheckStorableText(editor.project.GroupName[g], "A group name");
                !refusal.empty())
                throw StorageError(refusal);
        }
        ctx.files.WriteFiles(files);
    } catch (const StorageError& e) {
        ctx.dialogs.MessageBox("The groups of " + folder.string() +
                               " could not be saved: " + e.what() + "\r\nNothing was changed.");
        return false;
    }
    editor.saved_text = GroupsText(editor.project);
    return true;
}

bool RestoreRecordedGroups(StorageContext& ctx, AcquisitionGroupEditor& editor) {
    const fs::path& folder = editor.folder;
    if (!HasRecordedGroups(ctx, folder)) {
        ctx.dialogs.MessageBox("The groups of " + folder.string() +
                               " were never changed: they are the groups as recorded.");
        return false;
    }
    try {
        const std::vector<FileContent> files = {
            {folder / kGroupNamesFile, ctx.files.ReadFile(folder / kRecordedGroupNamesFile)},
            {folder / kChannelGroupsFile, ctx.files.ReadFile(folder / kRecordedChannelGroupsFile)}};
        ctx.files.WriteFiles(files);
        LoadGroupTexts(ctx, files[0].content, files[1].content, editor.project);
    } catch (const StorageError& e) {
        ctx.dialogs.MessageBox("The recorded groups of " + folder.string() +
                               " could not be put back: " + e.what() + "\r\nNothing was changed.");
        return false;
    }
    editor.saved_text = GroupsText(editor.project);
    return true;
}

bool CloseGroupEditor(StorageContext& ctx, AcquisitionGroupEditor& editor) {
    if (!GroupsEdited(editor)) return true;
    switch (ctx.dialogs.MessageBox(kSaveGroupsQuestion, MsgButtons::YesNoCancel)) {
        case MsgResult::Yes:
            return SaveAcquisitionGroups(ctx, editor);
        case MsgResult::No:
            return true;
        default:
            return false;
    }
}

}  // namespace lumivo::offline
