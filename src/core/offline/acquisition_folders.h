// Finding projects and acquisitions in the installation folder: a project is a sub-folder
// "p" + five digits holding a setup.dat; an acquisition a sub-folder "yyyymmdd_hhmm" of a
// project holding a counts.bin.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/storage/file_system.h"
#include "core/storage/storage_context.h"

namespace lumivo::offline {

inline constexpr const char* kProjectSetupFile = "setup.dat";

// One acquisition: its project folder and its own folder's name.
struct AcquisitionRef {
    std::filesystem::path project_path;  // install/p00001
    std::string folder;                  // "yyyymmdd_hhmm"

    std::filesystem::path path() const { return project_path / folder; }
    std::string project_folder() const { return project_path.filename().string(); }
};

// The project folders ("p00001") of the installation folder that hold a setup.dat, in name
// order. Folders with other names (a seventh character, letters) do not count.
std::vector<std::string> FindProjectFolders(StorageContext& ctx);

// The acquisition folders of a project that hold a counts.bin, in name (start) order.
std::vector<std::string> FindAcquisitionFolders(FileSystem& files,
                                                const std::filesystem::path& project_path);

// The first of them, without looking at the others; "" when there is none.
std::string FirstAcquisitionFolder(FileSystem& files, const std::filesystem::path& project_path);

// True when `folder` is named like an acquisition and holds a counts.bin.
bool HoldsAcquisition(FileSystem& files, const std::filesystem::path& folder);

// The project's list entry: its first acquisition's date label, folder name and project name.
// `first_acquisition` is FirstAcquisitionFolder's answer.
std::string ProjectEntryOf(StorageContext& ctx, const std::filesystem::path& project_path,
                           const std::string& first_acquisition);
std::string ProjectEntryOf(StorageContext& ctx, const std::filesystem::path& project_path);

}  // namespace lumivo::offline
