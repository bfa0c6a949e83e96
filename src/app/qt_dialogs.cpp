#include "app/qt_dialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace lumivo::app {

MsgResult QtDialogs::MessageBox(const std::string& text, MsgButtons buttons,
                                const std::string& title) {
    QMessageBox box(parent_);
    box.setWindowTitle(title.empty() ? QString(kApplicationTitle) : ToQ(title));
    box.setText(ToQ(text));
    switch (buttons) {
        case MsgButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case MsgButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case MsgButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        case MsgButtons::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Ok:
            return MsgResult::Ok;
        case QMessageBox::Yes:
            return MsgResult::Yes;
        case QMessageBox::No:
            return MsgResult::No;
        default:
            return MsgResult::Cancel;
    }
}

std::optional<std::string> QtDialogs::InputBox(const std::string& prompt, const std::string& title,
                                               const std::string& default_text) {
    bool ok = false;
    const QString answer =
        QInputDialog::getText(parent_, title.empty() ? QString(kApplicationTitle) : ToQ(title),
                              ToQ(prompt), QLineEdit::Normal, ToQ(default_text), &ok);
    if (!ok) return std::nullopt;
    return FromQ(answer);
}

void QtDialogs::ProcessEvents() {
    QApplication::processEvents();
}

}  // namespace lumivo::app
