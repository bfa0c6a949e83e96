#include "app/support/app_context.h"

#include <QCoreApplication>

#include "app/support/desktop_open.h"

namespace lumivo::app {

AppContext::AppContext(Clock& clock_ref, Dialogs& dialogs_ref, FileSystem& files_ref,
                       std::filesystem::path install, TransportOpener opener)
    : clock(clock_ref),
      dialogs(dialogs_ref),
      files(files_ref),
      install_dir(std::move(install)),
      storage{install_dir, dialogs_ref, files_ref},
      link(clock_ref, dialogs_ref, std::move(opener)),
      open_document([](const QUrl& url) { return OpenOnDesktop(url); }),
      exit_program([](int code) { QCoreApplication::exit(code); }) {}

}  // namespace lumivo::app
