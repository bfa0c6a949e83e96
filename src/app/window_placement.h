// Placement of the program's top-level windows.
#pragma once

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace lumivo::app {

// Centres a top-level window on its screen (the primary one when it has none yet).
inline void CenterOnScreen(QWidget* window) {
    QScreen* screen =
        window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

}  // namespace lumivo::app
