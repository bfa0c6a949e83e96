#include "app/app_context.h"

#include <QCoreApplication>
#include <QDesktopServices>

namespace lumivo::app {

AppContext::AppContext(Clock& clock_ref, Dialogs& dialogs_ref, FileSystem& files_ref,
                       std::filesystem::path install, TransportOpener opener)
    : clock(clock_ref),
      dialogs(dialogs_ref),
      files(files_ref),
      install_dir(std::move(install)),
      storage{install_dir, dialogs_ref, files_ref},
      link(clock_ref, dialogs_ref, std::move(opener)),
      open_document([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      exit_program([](int code) { QCoreApplication::exit(code); }) {}

}  // namespace lumivo::app
