#include "app/support/qt_dialogs.h"

#include <QApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

namespace lumivo::app {

namespace {

// Sets the standard buttons of a message box.
void SetButtons(QMessageBox& box, MsgButtons buttons) {
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
}

MsgResult ResultOf(int button) {
    switch (button) {
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

// While the box is open, `holds` is looked at every 200 ms; once it fails the box closes.
void CloseWhenFalse(QDialog& box, const std::function<bool()>& holds, QTimer& timer) {
    if (!holds) return;
    timer.setInterval(200);
    QObject::connect(&timer, &QTimer::timeout, &box, [&box, &holds, &timer] {
        if (holds()) return;
        timer.stop();
        box.done(QMessageBox::Cancel);
    });
    timer.start();
}

}  // namespace

int InputBoxWidth(const QWidget& box, const QString& title) {
    // The title bar also holds the window's buttons: room for them beside the whole title, so
    // that "Saving <3> with a new name" is not cut to "Saving... name".
    constexpr int kTitleBarButtons = 180;
    return std::max(360, box.fontMetrics().horizontalAdvance(title) + kTitleBarButtons);
}

MsgResult QtDialogs::MessageBox(const std::string& text, MsgButtons buttons,
                                const std::string& title) {
    QMessageBox box(parent_);
    box.setWindowTitle(title.empty() ? QString(kApplicationTitle) : ToQ(title));
    box.setText(ToQ(text));
    SetButtons(box, buttons);
    return ResultOf(box.exec());
}

MsgResult QtDialogs::AskWhile(const std::function<bool()>& holds, const std::string& text,
                              MsgButtons buttons, const std::string& accept,
                              const std::string& title) {
    if (holds && !holds()) return MsgResult::Cancel;
    QMessageBox box(parent_);
    box.setWindowTitle(title.empty() ? QString(kApplicationTitle) : ToQ(title));
    box.setText(ToQ(text));
    QTimer timer;
    CloseWhenFalse(box, holds, timer);
    if (accept.empty()) {
        SetButtons(box, buttons);
        const int answer = box.exec();
        if (holds && !holds()) return MsgResult::Cancel;
        return ResultOf(answer);
    }
    // Cancel is the safe choice: Enter and Escape keep things as they are.
    box.setIcon(QMessageBox::Question);
    QPushButton* yes = box.addButton(ToQ(accept), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (holds && !holds()) return MsgResult::Cancel;
    return box.clickedButton() == yes ? MsgResult::Ok : MsgResult::Cancel;
}

std::optional<std::string> QtDialogs::InputBox(const std::string& prompt, const std::string& title,
                                               const std::string& default_text) {
    QInputDialog box(parent_);
    const QString caption = title.empty() ? QString(kApplicationTitle) : ToQ(title);
    box.setWindowTitle(caption);
    box.setLabelText(ToQ(prompt));
    box.setTextValue(ToQ(default_text));
    // The box takes its size from its layout: the line is made as wide as the title needs.
    if (auto* line = box.findChild<QLineEdit*>())
        line->setMinimumWidth(InputBoxWidth(box, caption) - 2 * box.fontMetrics().height());
    if (box.exec() != QDialog::Accepted) return std::nullopt;
    return FromQ(box.textValue());
}

MsgResult QtDialogs::Confirm(const std::string& text, const std::string& accept,
                             const std::string& title) {
    // Cancel is the safe choice: Enter and Escape keep things as they are.
    return AskWhile({}, text, MsgButtons::OkCancel, accept, title);
}

QString LocaleDateTime(const LocalDateTime& t, QLocale::FormatType format) {
    const QDateTime when(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second));
    return QLocale::system().toString(when, format);
}

void QtDialogs::ProcessEvents() {
    QApplication::processEvents();
}

std::optional<std::string> QtDialogs::ChooseFile(FileChoice kind, const std::string& title,
                                                 const std::string& folder,
                                                 const std::string& filter) {
    // Paths are the file system's own bytes (UTF-8 here), not the 8-bit texts of the files.
    const QString caption = title.empty() ? QString(kApplicationTitle) : ToQ(title);
    const QString start = QString::fromStdString(folder);
    const QString names = ToQ(filter);
    const QString chosen = kind == FileChoice::Open
                               ? QFileDialog::getOpenFileName(parent_, caption, start, names)
                               : QFileDialog::getSaveFileName(parent_, caption, start, names);
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.toStdString();
}

}  // namespace lumivo::app
