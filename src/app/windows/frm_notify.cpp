#include "app/windows/frm_notify.h"

#include <unistd.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/support/widget_helpers.h"
#include "core/platform/install_dir.h"
#include "core/storage/autostart.h"

namespace lumivo::app {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string S(const QLineEdit* box) {
    return box->text().trimmed().toStdString();
}

}  // namespace

Frm_notify::Frm_notify(AppContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx) {
    setObjectName("Frm_notify");
    setWindowTitle("Unattended recording");
    auto* layout = new QVBoxLayout(this);

    auto* intro = new QLabel(
        "Who is told when a recording nobody watches goes wrong: the instrument lost, the "
        "temperature out of its band, the disk filling up, a window that cannot be written, the "
        "end or the failure of a run. Both ways are optional.",
        this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto* command_box = new QGroupBox("Run a command", this);
    auto* command_form = new QFormLayout(command_box);
    txt_notify_command = Named(new QLineEdit(command_box), "txt_notify_command");
    txt_notify_command->setPlaceholderText("for example: notify-send Lumivo");
    txt_notify_command->setToolTip(
        "A program and its arguments, run without a shell for every notice. It gets the notice "
        "in LUMIVO_EVENT, LUMIVO_MESSAGE, LUMIVO_ACQUISITION and LUMIVO_TIME, and is stopped "
        "after 30 s.");
    command_form->addRow("Command:", txt_notify_command);
    layout->addWidget(command_box);

    auto* mail_box = new QGroupBox("Send an e-mail", this);
    auto* mail_form = new QFormLayout(mail_box);
    chk_mail = Named(new QCheckBox("Send an e-mail for every notice", mail_box), "chk_mail");
    txt_smtp_host = Named(new QLineEdit(mail_box), "txt_smtp_host");
    txt_smtp_host->setPlaceholderText("mail.example.org");
    txt_smtp_port = Named(new QSpinBox(mail_box), "txt_smtp_port");
    txt_smtp_port->setRange(1, 65535);
    txt_smtp_port->setValue(587);
    chk_starttls =
        Named(new QCheckBox("STARTTLS (encrypt the connection)", mail_box), "chk_starttls");
    txt_smtp_user = Named(new QLineEdit(mail_box), "txt_smtp_user");
    txt_smtp_password = Named(new QLineEdit(mail_box), "txt_smtp_password");
    txt_smtp_password->setEchoMode(QLineEdit::Password);
    txt_mail_from = Named(new QLineEdit(mail_box), "txt_mail_from");
    txt_mail_to = Named(new QLineEdit(mail_box), "txt_mail_to");
    txt_mail_to->setPlaceholderText("one or more addresses, separated by commas");
    mail_form->addRow(chk_mail);
    auto* server = new QHBoxLayout;
    server->addWidget(txt_smtp_host, 1);
    server->addWidget(new QLabel("Port:", mail_box));
    server->addWidget(txt_smtp_port);
    mail_form->addRow("SMTP server:", server);
    mail_form->addRow("", chk_starttls);
    mail_form->addRow("User:", txt_smtp_user);
    mail_form->addRow("Password:", txt_smtp_password);
    mail_form->addRow("From:", txt_mail_from);
    mail_form->addRow("To:", txt_mail_to);
    layout->addWidget(mail_box);

    auto* when_box = new QGroupBox("When", this);
    auto* when_form = new QFormLayout(when_box);
    txt_lost_minutes = Named(new QSpinBox(when_box), "txt_lost_minutes");
    txt_lost_minutes->setRange(0, 10080);
    txt_lost_minutes->setSuffix(" min");
    txt_temp_band = Named(new QDoubleSpinBox(when_box), "txt_temp_band");
    txt_temp_band->setRange(0.1, 50.0);
    txt_temp_band->setDecimals(1);
    txt_temp_band->setSuffix(" \u00B0C");
    txt_temp_minutes = Named(new QSpinBox(when_box), "txt_temp_minutes");
    txt_temp_minutes->setRange(0, 10080);
    txt_temp_minutes->setSuffix(" min");
    auto* lost = new QHBoxLayout;
    lost->addWidget(txt_lost_minutes);
    lost->addStretch(1);
    when_form->addRow("Instrument lost for:", lost);
    auto* band = new QHBoxLayout;
    band->addWidget(new QLabel("more than", when_box));
    band->addWidget(txt_temp_band);
    band->addWidget(new QLabel("from the set point for", when_box));
    band->addWidget(txt_temp_minutes);
    band->addStretch(1);
    when_form->addRow("Temperature control on, plate:", band);
    layout->addWidget(when_box);

    chk_autostart = Named(new QCheckBox("Resume recording after a restart", this), "chk_autostart");
    chk_autostart->setToolTip(
        "Starts this program with /RUN when you log in: an interrupted recording of the current "
        "project goes on by itself (otherwise a new one starts).");
    layout->addWidget(chk_autostart);

    lbl_notify_status = Named(new QLabel(this), "lbl_notify_status");
    lbl_notify_status->setWordWrap(true);
    lbl_notify_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(lbl_notify_status);

    auto* buttons = new QHBoxLayout;
    cmd_test_notify = Named(new QPushButton("Send a test message", this), "cmd_test_notify");
    cmd_save_notify = Named(new QPushButton("Save", this), "cmd_save_notify");
    cmd_close = Named(new QPushButton("Close", this), "cmd_close");
    buttons->addWidget(cmd_test_notify);
    buttons->addStretch(1);
    buttons->addWidget(cmd_save_notify);
    buttons->addWidget(cmd_close);
    layout->addLayout(buttons);

    test_timer_ = new QTimer(this);
    test_timer_->setInterval(200);
    connect(test_timer_, &QTimer::timeout, this, &Frm_notify::PollTest);
    connect(cmd_test_notify, &QPushButton::clicked, this, &Frm_notify::cmd_test_notify_Click);
    connect(cmd_save_notify, &QPushButton::clicked, this, [this] { cmd_save_notify_Click(); });
    connect(cmd_close, &QPushButton::clicked, this, &QDialog::close);

    auto changed = [this] {
        if (!loading_) dirty_ = true;
    };
    for (QLineEdit* e : {txt_notify_command, txt_smtp_host, txt_smtp_user, txt_smtp_password,
                         txt_mail_from, txt_mail_to})
        connect(e, &QLineEdit::textEdited, this, changed);
    for (QCheckBox* c : {chk_mail, chk_starttls, chk_autostart})
        connect(c, &QCheckBox::toggled, this, changed);
    for (QSpinBox* b : {txt_smtp_port, txt_lost_minutes, txt_temp_minutes})
        connect(b, qOverload<int>(&QSpinBox::valueChanged), this, changed);
    connect(txt_temp_band, qOverload<double>(&QDoubleSpinBox::valueChanged), this, changed);
    resize(620, 0);
}

Frm_notify::~Frm_notify() = default;

void Frm_notify::SetStatus(const QString& text) {
    lbl_notify_status->setText(text);
}

void Frm_notify::Show(const notify::NotifySettings& s) {
    loading_ = true;
    txt_notify_command->setText(Q(notify::JoinCommandLine(s.command)));
    chk_mail->setChecked(s.mail);
    txt_smtp_host->setText(Q(s.smtp_host));
    txt_smtp_port->setValue(s.smtp_port);
    chk_starttls->setChecked(s.starttls);
    txt_smtp_user->setText(Q(s.smtp_user));
    txt_smtp_password->setText(Q(s.smtp_password));
    txt_mail_from->setText(Q(s.mail_from));
    txt_mail_to->setText(Q(s.mail_to));
    txt_lost_minutes->setValue(s.rules.lost_minutes);
    txt_temp_band->setValue(s.rules.temperature_band);
    txt_temp_minutes->setValue(s.rules.temperature_minutes);
    chk_autostart->setChecked(AutostartIsOn());
    loading_ = false;
    dirty_ = false;
}

void Frm_notify::Form_Load() {
    std::string error;
    const auto s = notify::LoadNotifySettings(ctx_.storage, &error);
    if (!s) {
        Show(notify::NotifySettings{});
        SetStatus(Q(error));
        ctx_.dialogs.MessageBox(error);
        return;
    }
    Show(*s);
    SetStatus(Q("Kept in " + (ctx_.install_dir / notify::kNotifySettingsFileName).string()));
}

std::optional<notify::NotifySettings> Frm_notify::FromBoxes() {
    notify::NotifySettings s;
    const auto words = notify::SplitCommandLine(S(txt_notify_command));
    if (!words) {
        const std::string text =
            "The command has a quote that is not closed: close it, or "
            "clear the command.";
        SetStatus(Q(text));
        ctx_.dialogs.MessageBox(text);
        return std::nullopt;
    }
    s.command = *words;
    s.mail = chk_mail->isChecked();
    s.smtp_host = S(txt_smtp_host);
    s.smtp_port = txt_smtp_port->value();
    s.starttls = chk_starttls->isChecked();
    s.smtp_user = S(txt_smtp_user);
    s.smtp_password = txt_smtp_password->text().toStdString();
    s.mail_from = S(txt_mail_from);
    s.mail_to = S(txt_mail_to);
    s.rules.lost_minutes = txt_lost_minutes->value();
    s.rules.temperature_band = txt_temp_band->value();
    s.rules.temperature_minutes = txt_temp_minutes->value();
    if (const std::string problem = s.Problem(); !problem.empty()) {
        const std::string text = "The e-mail cannot be sent: " + problem + ".";
        SetStatus(Q(text));
        ctx_.dialogs.MessageBox(text);
        return std::nullopt;
    }
    return s;
}

void Frm_notify::cmd_test_notify_Click() {
    if (tester_) return;
    const auto s = FromBoxes();
    if (!s) return;
    if (!s->any()) {
        SetStatus("Nothing to test: give a command or switch the e-mail on.");
        return;
    }
    tester_ = std::make_unique<notify::Notifier>(*s);
    notify::Notice n;
    n.kind = notify::NoticeKind::Test;
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    n.message = std::string("A test message of the Lumivo program on ") + host +
                ": notifications reach you this way.";
    n.time = notify::IsoTimeText(ctx_.clock.Now());
    tester_->Post(n);
    cmd_test_notify->setEnabled(false);
    SetStatus("Sending a test message...");
    test_timer_->start();
}

void Frm_notify::PollTest() {
    if (!tester_ || !tester_->WaitIdle(std::chrono::milliseconds(0))) return;
    test_timer_->stop();
    QStringList lines;
    for (const std::string& r : tester_->TakeReports()) lines << Q(r);
    tester_.reset();
    cmd_test_notify->setEnabled(true);
    SetStatus(lines.join("\n"));
}

bool Frm_notify::cmd_save_notify_Click() {
    const auto s = FromBoxes();
    if (!s) return false;
    const auto file = ctx_.install_dir / notify::kNotifySettingsFileName;
    try {
        notify::SaveNotifySettings(ctx_.storage, *s);
    } catch (const StorageError& e) {
        const std::string text = std::string("The settings were not saved: ") + e.what();
        SetStatus(Q(text));
        ctx_.dialogs.MessageBox(text);
        return false;
    }
    if (ctx_.notifier) ctx_.notifier->SetSettings(*s);
    std::string text = "Saved in " + file.string() + ".";
    if (chk_autostart->isChecked() != AutostartIsOn()) {
        // The default installation folder needs no --install in the entry.
        const std::filesystem::path install =
            ctx_.install_dir == DefaultInstallDir() ? std::filesystem::path() : ctx_.install_dir;
        const std::string failed =
            SetAutostart(chk_autostart->isChecked(),
                         QCoreApplication::applicationFilePath().toStdString(), install);
        if (!failed.empty()) {
            text += " Resume after a restart was not changed: " + failed;
            ctx_.dialogs.MessageBox(text);
        } else if (chk_autostart->isChecked()) {
            text += " The recording is resumed after a restart (" +
                    (AutostartFolder().value_or("") / kAutostartEntryName).string() + ").";
        } else {
            text += " The recording is no longer resumed after a restart.";
        }
    }
    SetStatus(Q(text));
    dirty_ = false;
    return true;
}

void Frm_notify::closeEvent(QCloseEvent* event) {
    if (dirty_) {
        const MsgResult a = ctx_.dialogs.MessageBox("Save the changed notification settings?",
                                                    MsgButtons::YesNoCancel);
        if (a == MsgResult::Cancel || (a == MsgResult::Yes && !cmd_save_notify_Click())) {
            event->ignore();
            return;
        }
        dirty_ = false;
    }
    QDialog::closeEvent(event);
}

}  // namespace lumivo::app
