// Placement of the program's top-level windows: where a window appears the first time it is
// shown, and its size and position remembered from one run of the program to the next.
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

// Centres a window over `over` (a child window over its parent), or on the screen when there is
// nothing visible to centre it over.
void CenterOver(QWidget* window, const QWidget* over);

// The first show of a window: the size and position it had when the program last closed it
// (kept with QSettings under the window's object name), otherwise centred over `over`.
void PlaceWindow(QWidget* window, const QWidget* over);
// Remembers the window's size and position (when it is hidden or closed).
void RememberWindow(const QWidget* window);

// Lets a window keep its place: placed on its first show (over its parent widget, or on the
// screen for a window without one), remembered whenever it is hidden or closed.
void KeepWindowPlace(QWidget* window);

}  // namespace lumivo::app
