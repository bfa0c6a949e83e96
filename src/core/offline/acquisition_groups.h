// The group editor of the offline browser (`Framegrup`, `lstgrup2`, `lstchgrup2`, `Combo_sets`,
// `cmd_goset`, `cmdcancelgrups`): the wells of a recorded acquisition regrouped after the fact.
// The editor works on the acquisition's own copies of the project files, with the plate and
// group operations of the project setup (core/setup/plate_groups.h) applied to its `project`
// and `plate`. Saving writes the acquisition's groups.dat and chgroup.dat, which its reports
// read; the first save keeps the files as they were recorded beside them (groups_recorded.dat,
// chgroup_recorded.dat), so the recorded grouping can always be had back.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/storage/plate_format.h"
#include "core/storage/project_setup.h"
#include "core/storage/storage_context.h"

namespace lumivo::offline {

inline constexpr const char* kRecordedGroupNamesFile = "groups_recorded.dat";
inline constexpr const char* kRecordedChannelGroupsFile = "chgroup_recorded.dat";
inline constexpr const char* kExitGroupEditionCaption = "EXIT Group Edition";
inline constexpr const char* kRecordedGroupSet = "Groups as recorded";
inline constexpr const char* kSaveGroupsQuestion =
    "Save the new groups of this acquisition? Its reports will use them (the groups as recorded "
    "are kept and can be chosen again).";

struct AcquisitionGroupEditor {
    std::filesystem::path folder;  // the acquisition folder
    ProjectState project;          // its setup, status, group names and channel groups
    PlateMap plate;
    std::string saved_text;  // groups.dat + chgroup.dat as last loaded or saved
};

// "[8x12]": the plate layout's caption.
std::string PlateLayoutCaption(const PlateMap& plate);

// Opens the editor on an acquisition folder (one holding counts.bin, else a message and
// nullopt). Damaged files show their messages and load their defaults, as for a report.
std::optional<AcquisitionGroupEditor> OpenGroupEditor(StorageContext& ctx,
                                                      const std::filesystem::path& folder);

// True when the groups differ from what was last loaded or saved.
bool GroupsEdited(const AcquisitionGroupEditor& editor);
// True when the recorded files were kept by an earlier save.
bool HasRecordedGroups(StorageContext& ctx, const std::filesystem::path& folder);

// `Combo_sets`: the groupings the editor can start from: the groups as recorded, then the
// project's current groups ("Current groups of p00001_name").
std::vector<std::string> GroupSetChoices(StorageContext& ctx, const AcquisitionGroupEditor& editor);
// `cmd_goset`: takes the grouping of choice `index` into the editor (nothing is written). The
// project's groups are refused, with a message, when the project now uses another plate
// format. True when the editor's groups were replaced.
bool ApplyGroupSet(StorageContext& ctx, AcquisitionGroupEditor& editor, std::size_t index);

// Writes the editor's groups into the acquisition's groups.dat and chgroup.dat, keeping the
// recorded files first when no earlier save kept them; all files are written before any is
// replaced. Failures are reported (and change nothing). True when saved.
bool SaveAcquisitionGroups(StorageContext& ctx, AcquisitionGroupEditor& editor);
// Puts the recorded files back, byte for byte, and reloads the editor. False (with a message)
// when there is nothing recorded to go back to or the files cannot be written.
bool RestoreRecordedGroups(StorageContext& ctx, AcquisitionGroupEditor& editor);

// `cmdcancelgrups` ("EXIT Group Edition"): with unsaved changes asks kSaveGroupsQuestion
// (Yes/No/Cancel); Yes saves, No discards. True when the editor may close.
bool CloseGroupEditor(StorageContext& ctx, AcquisitionGroupEditor& editor);

}  // namespace lumivo::offline
