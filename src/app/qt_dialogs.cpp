#include "app/qt_dialogs.h"

#include <QApplication>
#include <QDateTime>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

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

MsgResult QtDialogs::Confirm(const std::string& text, const std::string& accept,
                             const std::string& title) {
    QMessageBox box(parent_);
    box.setWindowTitle(title.empty() ? QString(kApplicationTitle) : ToQ(title));
    box.setIcon(QMessageBox::Question);
    box.setText(ToQ(text));
    QPushButton* yes = box.addButton(ToQ(accept), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    // Cancel is the safe choice: Enter and Escape keep things as they are.
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == yes ? MsgResult::Ok : MsgResult::Cancel;
}

QString LocaleDateTime(const LocalDateTime& t, QLocale::FormatType format) {
    const QDateTime when(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second));
    return QLocale::system().toString(when, format);
}

void QtDialogs::ProcessEvents() {
    QApplication::processEvents();
}

}  // namespace lumivo::app
