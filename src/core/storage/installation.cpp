#include "core/storage/installation.h"

#include "core/storage/field_record.h"

namespace lumivo {

std::optional<std::string_view> ShippedFileContent(std::string_view name) {
    for (const auto& f : ShippedDataFiles())
        if (name == f.name) return std::string_view(reinterpret_cast<const char*>(f.data), f.size);
    return std::nullopt;
}

bool InstallationResult::ConfigRestored() const {
    if (folder_created) return false;
    for (const auto& name : created) {
        if (name == "config.dat") return true;
    }
    return false;
}

InstallationResult EnsureInstallation(FileSystem& files, const std::filesystem::path& install_dir,
                                      const std::filesystem::path& data_dir) {
    InstallationResult result;
    if (!files.IsFolder(install_dir)) {
        if (!files.CreateFolders(install_dir)) {
            result.error = "Cannot create the installation folder " + install_dir.string();
            return result;
        }
        result.folder_created = true;
    }
    std::vector<FileContent> missing;
    for (const auto& f : ShippedDataFiles()) {
        const auto path = install_dir / f.name;
        if (files.IsFile(path) || files.IsFolder(path)) continue;
        std::string content(reinterpret_cast<const char*>(f.data), f.size);
        if (!data_dir.empty() && files.IsFile(data_dir / f.name)) {
            try {
                content = files.ReadFile(data_dir / f.name);
            } catch (const StorageError&) {
                // An unreadable installed copy: the built-in one is the same release's data.
            }
        }
        missing.push_back({path, std::move(content)});
        result.created.emplace_back(f.name);
    }
    if (missing.empty()) return result;
    try {
        files.WriteFiles(missing);
    } catch (const StorageError& e) {
        result.created.clear();
        result.error = e.what();
    }
    return result;
}

}  // namespace lumivo
