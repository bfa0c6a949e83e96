// Everything one running desktop program works with, created once in main() (or by a test) and
// handed to the windows by reference: the clock and dialogs the core asks through, the files,
// the program-wide state with the tool settings, the instrument link, and how the program
// reaches the desktop (opening a document, ending).
#pragma once

#include <QUrl>
#include <filesystem>
#include <functional>
#include <memory>

#include "core/control/tool_state.h"
#include "core/device/command_set.h"
#include "core/notify/notifier.h"
#include "core/platform/ui_port.h"
#include "core/state/app_state.h"
#include "core/storage/file_system.h"
#include "core/storage/storage_context.h"

namespace lumivo::app {

struct AppContext {
    AppContext(Clock& clock_ref, Dialogs& dialogs_ref, FileSystem& files_ref,
               std::filesystem::path install, TransportOpener opener);
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    Clock& clock;
    Dialogs& dialogs;
    FileSystem& files;
    std::filesystem::path install_dir;
    StorageContext storage;
    AppState state;
    ToolState tools;
    DeviceLink link;
    // Tells someone about a run nobody watches (notify.dat); made when the main window loads.
    std::unique_ptr<notify::Notifier> notifier;
    // Hands a document or folder to the desktop's default application (OpenOnDesktop, which
    // runs xdg-open or gio open); tests record it.
    std::function<bool(const QUrl&)> open_document;
    // Ends the program with a status (QCoreApplication::exit); tests record it.
    std::function<void(int)> exit_program;
};

}  // namespace lumivo::app
