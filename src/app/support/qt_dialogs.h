// The core's Dialogs interface answered by real Qt message and input boxes.
#pragma once

#include <QLocale>
#include <QString>

#include "core/platform/ui_port.h"

class QWidget;

namespace lumivo::app {

// The title every message box of the program carries.
inline const char* const kApplicationTitle = "Lumivo";

class QtDialogs final : public Dialogs {
  public:
    explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    void set_parent(QWidget* parent) { parent_ = parent; }

    MsgResult MessageBox(const std::string& text, MsgButtons buttons,
                         const std::string& title) override;
    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& default_text) override;
    MsgResult Confirm(const std::string& text, const std::string& accept,
                      const std::string& title) override;
    MsgResult AskWhile(const std::function<bool()>& holds, const std::string& text,
                       MsgButtons buttons, const std::string& accept,
                       const std::string& title) override;
    void ProcessEvents() override;
    std::optional<std::string> ChooseFile(FileChoice kind, const std::string& title,
                                          const std::string& folder,
                                          const std::string& filter) override;

  private:
    QWidget* parent_;
};

// Texts cross the core/Qt boundary as 8-bit strings (the files are 8-bit text); Latin-1 keeps
// every byte as it is.
inline QString ToQ(const std::string& s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}
inline std::string FromQ(const QString& s) {
    return s.toLatin1().toStdString();
}

// The width an input box needs so that its title is shown whole.
int InputBoxWidth(const QWidget& box, const QString& title);

// A date and time as the user's locale writes it (short format by default).
QString LocaleDateTime(const LocalDateTime& t, QLocale::FormatType format = QLocale::ShortFormat);

}  // namespace lumivo::app
