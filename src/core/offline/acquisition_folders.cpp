#include "core/offline/acquisition_folders.h"

#include <algorithm>

#include "core/acquisition/data_files.h"
#include "core/offline/browser_entries.h"
#include "core/setup/project_ops.h"
#include "core/storage/project_setup.h"

namespace lumivo::offline {

namespace fs = std::filesystem;

std::vector<std::string> FindProjectFolders(StorageContext& ctx) {
    std::vector<std::string> out;
    for (std::string& name : ctx.files.ListSubfolders(ctx.install_dir)) {
        if (!ProjectNumberOfFolder(name)) continue;
        if (!ctx.files.IsFile(ctx.install_dir / name / kProjectSetupFile)) continue;
        out.push_back(std::move(name));
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool HoldsAcquisition(FileSystem& files, const fs::path& folder) {
    return IsAcquisitionFolderName(folder.filename().string()) &&
           files.IsFile(folder / kCountsFileName);
}

std::vector<std::string> FindAcquisitionFolders(FileSystem& files, const fs::path& project_path) {
    std::vector<std::string> out;
    for (std::string& name : files.ListSubfolders(project_path)) {
        if (!IsAcquisitionFolderName(name) || !files.IsFile(project_path / name / kCountsFileName))
            continue;
        out.push_back(std::move(name));
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string FirstAcquisitionFolder(FileSystem& files, const fs::path& project_path) {
    std::vector<std::string> names = files.ListSubfolders(project_path);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        if (IsAcquisitionFolderName(name) && files.IsFile(project_path / name / kCountsFileName))
            return name;
    return {};
}

std::string ProjectEntryOf(StorageContext& ctx, const fs::path& project_path,
                           const std::string& first_acquisition) {
    const std::string date =
        first_acquisition.empty() ? std::string(kNoDateLabel) : DateLabel(first_acquisition);
    return ProjectEntry(date, project_path.filename().string(),
                        ProjectNameOfTitle(GetProjectTitle(ctx, project_path)));
}

std::string ProjectEntryOf(StorageContext& ctx, const fs::path& project_path) {
    return ProjectEntryOf(ctx, project_path, FirstAcquisitionFolder(ctx.files, project_path));
}

}  // namespace lumivo::offline
