// Everything one running desktop program works with, created once in main() (or by a test) and
// handed to the windows by reference: the clock and dialogs the core asks through, the files,
// the program-wide state and the instrument link.
#pragma once

#include <filesystem>

#include "core/app_state.h"
#include "core/device/command_set.h"
#include "core/storage/file_system.h"
#include "core/storage/storage_context.h"
#include "core/ui_port.h"

namespace lumivo::app {

struct AppContext {
    AppContext(Clock& clock_ref, Dialogs& dialogs_ref, FileSystem& files_ref,
               std::filesystem::path install, TransportOpener opener)
        : clock(clock_ref),
          dialogs(dialogs_ref),
          files(files_ref),
          install_dir(std::move(install)),
          storage{install_dir, dialogs_ref, files_ref},
          link(clock_ref, dialogs_ref, std::move(opener)) {}
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    Clock& clock;
    Dialogs& dialogs;
    FileSystem& files;
    std::filesystem::path install_dir;
    StorageContext storage;
    AppState state;
    DeviceLink link;
};

}  // namespace lumivo::app
