// What every storage procedure needs besides the state it fills: the installation folder, the
// user's dialogs (for the messages of the file procedures) and the file system.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "core/platform/ui_port.h"
#include "core/storage/file_system.h"

namespace lumivo {

struct StorageContext {
    std::filesystem::path install_dir;
    Dialogs& dialogs;
    FileSystem& files;
    // Returns the list separator of the user's locale; when empty, the system locale is asked
    // (QueryListSeparator, report_config.h). Tests put a fixed answer here.
    std::function<std::string()> list_separator_source{};
};

}  // namespace lumivo
