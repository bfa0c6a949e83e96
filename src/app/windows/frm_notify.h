// The window "Unattended recording" (Tools > Unattended recording...): who is told when a run
// nobody watches goes wrong, and whether the computer resumes the recording after a restart.
// A command run for every notice and e-mail through an SMTP server, both optional, kept in
// notify.dat of the installation folder (core/notify/notify_settings.h); "Send a test message"
// tries the settings as they stand in the window; "Resume recording after a restart" writes the
// autostart entry (core/storage/autostart.h).
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <memory>
#include <optional>

#include "app/support/app_context.h"
#include "core/notify/notifier.h"

namespace lumivo::app {

class Frm_notify : public QDialog {
    Q_OBJECT
  public:
    explicit Frm_notify(AppContext& ctx, QWidget* parent = nullptr);
    ~Frm_notify() override;

    // Fills the boxes from notify.dat and the autostart entry.
    void Form_Load();
    void cmd_test_notify_Click();
    // Saves; false (after saying why) when the settings cannot be used or written.
    bool cmd_save_notify_Click();
    bool Dirty() const { return dirty_; }
    // Whether the test message has been delivered (or given up).
    bool TestFinished() const { return !tester_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // The settings as the boxes hold them; nullopt after saying what is wrong.
    std::optional<notify::NotifySettings> FromBoxes();
    void Show(const notify::NotifySettings& s);
    void PollTest();
    void SetStatus(const QString& text);

    AppContext& ctx_;
    bool dirty_ = false;
    bool loading_ = false;
    std::unique_ptr<notify::Notifier> tester_;
    QTimer* test_timer_;
    QLineEdit* txt_notify_command;
    QCheckBox* chk_mail;
    QLineEdit* txt_smtp_host;
    QSpinBox* txt_smtp_port;
    QCheckBox* chk_starttls;
    QLineEdit* txt_smtp_user;
    QLineEdit* txt_smtp_password;
    QLineEdit* txt_mail_from;
    QLineEdit* txt_mail_to;
    QSpinBox* txt_lost_minutes;
    QDoubleSpinBox* txt_temp_band;
    QSpinBox* txt_temp_minutes;
    QCheckBox* chk_autostart;
    QPushButton* cmd_test_notify;
    QPushButton* cmd_save_notify;
    QPushButton* cmd_close;
    QLabel* lbl_notify_status;
};

}  // namespace lumivo::app
