#include "app/support/window_placement.h"

#include <QEvent>
#include <QSettings>

namespace lumivo::app {

namespace {

QString GeometryKey(const QWidget* window) {
    return "windows/" + window->objectName() + "/geometry";
}

// The program's settings file (on Linux ~/.config/Lumivo/lumivo.ini).
constexpr auto kSettingsFormat = QSettings::IniFormat;
constexpr const char* kOrganisation = "Lumivo";
constexpr const char* kProgram = "lumivo";

}  // namespace

void CenterOver(QWidget* window, const QWidget* over) {
    if (over == nullptr || !over->isVisible()) {
        CenterOnScreen(window);
        return;
    }
    QRect frame = window->frameGeometry();
    frame.moveCenter(over->frameGeometry().center());
    window->move(frame.topLeft());
}

void PlaceWindow(QWidget* window, const QWidget* over) {
    const QSettings settings(kSettingsFormat, QSettings::UserScope, kOrganisation, kProgram);
    const QByteArray saved = settings.value(GeometryKey(window)).toByteArray();
    if (!saved.isEmpty() && window->restoreGeometry(saved)) return;
    CenterOver(window, over);
}

namespace {

// Watches one window's show and hide events.
class PlaceKeeper final : public QObject {
  public:
    explicit PlaceKeeper(QWidget* window) : QObject(window), window_(window) {
        window->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_) {
            if (event->type() == QEvent::Show && !placed_) {
                placed_ = true;
                PlaceWindow(window_, window_->parentWidget());
            } else if (event->type() == QEvent::Hide) {
                RememberWindow(window_);
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    QWidget* window_;
    bool placed_ = false;
};

}  // namespace

void KeepWindowPlace(QWidget* window) {
    new PlaceKeeper(window);
}

void RememberWindow(const QWidget* window) {
    QSettings settings(kSettingsFormat, QSettings::UserScope, kOrganisation, kProgram);
    settings.setValue(GeometryKey(window), window->saveGeometry());
}

}  // namespace lumivo::app
