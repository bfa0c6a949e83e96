// Opening a file or folder with the desktop's default application (the file manager for a
// folder): `xdg-open PATH`, or `gio open PATH` where xdg-open is missing. The path goes to the
// program as one argument of its own, never through a shell, so blanks, quotes and "$" in folder
// names reach it unchanged.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <vector>

namespace lumivo::app {

struct DesktopCommand {
    QString program;
    QStringList arguments;
};

// The commands tried, in order, to open `path`.
std::vector<DesktopCommand> DesktopOpenCommands(const QString& path);

// Starts a program detached; true when it started (QProcess::startDetached).
using ProgramStarter = std::function<bool(const DesktopCommand&)>;
bool StartDetached(const DesktopCommand& command);

// Opens `url` on the desktop: a local file or folder with the first of DesktopOpenCommands that
// starts, anything else with QDesktopServices. False when nothing could be started.
bool OpenOnDesktop(const QUrl& url, const ProgramStarter& start = StartDetached);

}  // namespace lumivo::app
