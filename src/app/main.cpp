// lumivo: the desktop program.
#include <QApplication>

#include "app/frm_init.h"
#include "app/qt_dialogs.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    lumivo::app::QtDialogs dialogs;
    lumivo::app::Frm_Init launcher(dialogs);
    QObject::connect(&launcher, &lumivo::app::Frm_Init::exitConfirmed, &app, &QApplication::quit);
    launcher.SetUsable(true);
    launcher.show();
    return QApplication::exec();
}
