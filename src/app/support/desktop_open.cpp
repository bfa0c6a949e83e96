#include "app/support/desktop_open.h"

#include <QDesktopServices>
#include <QProcess>

namespace lumivo::app {

std::vector<DesktopCommand> DesktopOpenCommands(const QString& path) {
    return {{"xdg-open", {path}}, {"gio", {"open", path}}};
}

bool StartDetached(const DesktopCommand& command) {
    return QProcess::startDetached(command.program, command.arguments);
}

bool OpenOnDesktop(const QUrl& url, const ProgramStarter& start) {
    if (!url.isLocalFile()) return QDesktopServices::openUrl(url);
    for (const DesktopCommand& command : DesktopOpenCommands(url.toLocalFile()))
        if (start(command)) return true;
    return false;
}

}  // namespace lumivo::app
