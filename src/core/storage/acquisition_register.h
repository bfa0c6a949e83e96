// The acquisition register: every recorded acquisition lives in a sub-folder of its project
// folder named by its start time "yyyymmdd_hhmm", holding a copy of the project files and
// subproj.dat (experiment name, then description, each one quoted string).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/platform/ui_port.h"
#include "core/storage/project_setup.h"
#include "core/storage/storage_context.h"

namespace lumivo {

inline constexpr const char* kRegisterFileName = "subproj.dat";
inline constexpr const char* kRegisterBackupName = "subproj.bak";

struct AcquisitionRegister {
    std::string name;         // the experiment name
    std::string description;  // the description at the start of the acquisition
};

// "yyyymmdd_hhmm", zero-padded.
std::string AcquisitionFolderName(const LocalDateTime& t);

// Creates (or reuses) project.ProjectFolder/<AcquisitionFolderName(now)>, writes the five
// project files, the plate map (wells.csv) when the project has one, and subproj.dat into it,
// and returns the folder name. Names that cannot be stored are refused (StorageError) before
// anything is created; write failures throw StorageError. project.ProjectFolder is not changed.
std::string CreateAcquisitionFolder(StorageContext& ctx, int actual_project_number,
                                    const ProjectState& project, const LocalDateTime& now,
                                    const std::string& experiment_name,
                                    const std::string& description);

// Writes subproj.dat afresh (throws StorageError).
void WriteAcquisitionRegister(StorageContext& ctx, const std::filesystem::path& folder,
                              const AcquisitionRegister& reg);
// Both fields of subproj.dat; nullopt when the file is missing or unreadable. A file holding
// only the name gives an empty description.
std::optional<AcquisitionRegister> ReadAcquisitionRegister(StorageContext& ctx,
                                                           const std::filesystem::path& folder);
// The experiment name, or "" when the file is missing or unreadable.
std::string ReadAcquisitionTitle(StorageContext& ctx, const std::filesystem::path& folder);
// Rewrites the register with a new name and the old description (after copying it to
// subproj.bak; a failed copy shows "error"). Returns new_name, or "" on failure. A folder
// without subproj.dat is left alone and new_name returned.
std::string RenameAcquisition(StorageContext& ctx, const std::filesystem::path& folder,
                              const std::string& new_name);

}  // namespace lumivo
