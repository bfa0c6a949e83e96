// The installation data the program ships (plate formats, a default config.dat and the Default
// project), embedded at build time, and the first-use set-up of an installation folder.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/storage/file_system.h"

namespace lumivo {

struct ShippedFile {
    const char* name;  // file name inside the installation folder, e.g. "w96f.dat"
    const unsigned char* data;
    std::size_t size;
};

// Every shipped file, sorted by name (generated from data/*.dat).
std::span<const ShippedFile> ShippedDataFiles();
// The content of one shipped file, or nullopt.
std::optional<std::string_view> ShippedFileContent(std::string_view name);

struct InstallationResult {
    std::vector<std::string> created;  // names of the files written now
    std::string error;                 // empty when the folder is ready
    bool folder_created = false;       // the installation folder itself was new
    bool ok() const { return error.empty(); }
    // config.dat was missing from an existing installation and was written anew from the
    // shipped default: the port and the current project went back to the shipped ones.
    bool ConfigRestored() const;
};

// Makes sure the installation folder exists and holds every shipped file: a missing folder is
// created and filled, and a missing file is written from the shipped defaults. Existing files
// are never touched. Every program calls this at start. A shipped file is copied from
// `data_dir` (the data installed with the program, see InstalledDataDir) when it is there and
// readable, otherwise from the copy built into the program.
InstallationResult EnsureInstallation(FileSystem& files, const std::filesystem::path& install_dir,
                                      const std::filesystem::path& data_dir = {});

}  // namespace lumivo
