// Notifications: their settings file, the command run with the notice in its environment, and
// the e-mail through an SMTP server on 127.0.0.1.
#include "core/notify/notifier.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "core/notify/notify_settings.h"
#include "core/storage/file_system.h"
#include "support/child_process.h"
#include "support/scripted_dialogs.h"
#include "support/smtp_server.h"

namespace lumivo::notify {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using lumivo::testing::ReadFile;
using lumivo::testing::ScriptedDialogs;
using lumivo::testing::TempFolder;

Notice RunEnded() {
    Notice n;
    n.kind = NoticeKind::RunEnded;
    n.message = "Acquisition finished (the programmed lapse was reached): 42 windows recorded";
    n.acquisition = "/lab/p00001/20261207_1535";
    n.time = "2026-12-07T16:35:00+01:00";
    return n;
}

TEST(NotifySettings, FileRoundTripsAndDamagedOnesNameTheirFault) {
    TempFolder dir("lumivo-notify");
    ScriptedDialogs dialogs;
    LocalFileSystem files;
    StorageContext storage{dir.path(), dialogs, files, {}};
    std::string error;
    // Without the file nothing is sent.
    const auto none = LoadNotifySettings(storage, &error);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->any());

    NotifySettings s;
    s.command = {"/usr/local/bin/page lab", "--to", "night \"shift\""};
    s.mail = true;
    s.smtp_host = "mail.example.org";
    s.smtp_port = 465;
    s.starttls = false;
    s.smtp_user = "lab";
    s.smtp_password = "p,w\"d";
    s.mail_from = "lumivo@example.org";
    s.mail_to = "a@example.org, b@example.org";
    s.rules = {5, 0.5, 20};
    SaveNotifySettings(storage, s);
    const fs::path file = dir.path() / kNotifySettingsFileName;
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    const std::string text = ReadFile(file);
    EXPECT_EQ(text.rfind("\"<Notifications: setting, value>\"\r\n\"command\",", 0), 0u) << text;
    const auto back = LoadNotifySettings(storage, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->command, s.command);
    EXPECT_EQ(back->smtp_password, s.smtp_password);
    EXPECT_EQ(back->smtp_port, 465);
    EXPECT_FALSE(back->starttls);
    EXPECT_EQ(back->mail_to, s.mail_to);
    EXPECT_EQ(back->rules.lost_minutes, 5);
    EXPECT_DOUBLE_EQ(back->rules.temperature_band, 0.5);
    EXPECT_EQ(back->rules.temperature_minutes, 20);

    struct Damaged {
        const char* line;
        const char* error;
    };
    const Damaged damaged[] = {
        {"\"mail\",\"yes\"", "the value of \"mail\" is \"yes\", not on or off"},
        {"\"smtp_port\",70000", "not a whole number 1..65535"},
        {"\"temperature_band\",0", "not 0.1..50 degrees"},
        {"\"mail_to\"", "\"mail_to\" has no value"},
        {"\"smtp_host\",\"open", "unterminated"},
    };
    for (const Damaged& d : damaged) {
        SCOPED_TRACE(d.line);
        files.WriteFile(file, text + d.line + "\r\n");
        error.clear();
        EXPECT_FALSE(LoadNotifySettings(storage, &error));
        EXPECT_EQ(error.rfind(file.string() + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(d.error), std::string::npos) << error;
    }
    // A setting another version wrote is left out.
    files.WriteFile(file, text + "\"pager\",\"on\"\r\n");
    EXPECT_TRUE(LoadNotifySettings(storage, &error));

    EXPECT_EQ(s.Problem(), "");
    s.smtp_host.clear();
    EXPECT_EQ(s.Problem(), "e-mail is on but no SMTP server is given");
}

TEST(NotifySettings, CommandLinesAndServersAreSplitWithoutAShell) {
    struct Case {
        const char* line;
        std::optional<std::vector<std::string>> words;
    };
    const Case cases[] = {
        {"notify-send Lumivo", std::vector<std::string>{"notify-send", "Lumivo"}},
        {"  /bin/page   \"night shift\" 'a b' c\\ d ",
         std::vector<std::string>{"/bin/page", "night shift", "a b", "c d"}},
        {"echo $HOME; rm -rf x", std::vector<std::string>{"echo", "$HOME;", "rm", "-rf", "x"}},
        {"say \"\"", std::vector<std::string>{"say", ""}},
        {"say \"open", std::nullopt},
        {"", std::vector<std::string>{}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitCommandLine(c.line), c.words) << c.line;
        if (c.words) {
            EXPECT_EQ(SplitCommandLine(JoinCommandLine(*c.words)), c.words) << c.line;
        }
    }
    EXPECT_EQ(ParseHostPort("mail.example.org:587"),
              (std::pair<std::string, int>{"mail.example.org", 587}));
    EXPECT_EQ(ParseHostPort("127.0.0.1:2525")->second, 2525);
    EXPECT_FALSE(ParseHostPort("mail.example.org"));
    EXPECT_FALSE(ParseHostPort(":25"));
    EXPECT_FALSE(ParseHostPort("host:0"));
    EXPECT_FALSE(ParseHostPort("host:x25"));
}

TEST(NoticeCommand, GetsTheNoticeInItsEnvironmentAndAHungOneIsKilledWithWhatItStarted) {
    TempFolder dir("lumivo-notify");
    const fs::path env = dir.path() / "env.txt";
    const Notice n = RunEnded();
    Delivery d = RunNoticeCommand({"/bin/sh", "-c", "env > " + env.string()}, n, 10s);
    EXPECT_TRUE(d.ok) << d.report;
    EXPECT_EQ(d.report.rfind("Notification (run-ended) sent by the command /bin/sh -c", 0), 0u)
        << d.report;
    const std::string got = ReadFile(env);
    for (const std::string& line :
         std::vector<std::string>{"LUMIVO_EVENT=run-ended", "LUMIVO_MESSAGE=" + n.message,
                                  "LUMIVO_ACQUISITION=/lab/p00001/20261207_1535",
                                  "LUMIVO_TIME=2026-12-07T16:35:00+01:00"})
        EXPECT_NE(got.find(line + "\n"), std::string::npos) << line << "\n" << got;

    // A command that hangs, having started another program: both are gone after the limit.
    const fs::path pid_file = dir.path() / "pid";
    d = RunNoticeCommand({"/bin/sh", "-c", "sleep 60 & echo $! > " + pid_file.string() + "; wait"},
                         n, 500ms);
    EXPECT_FALSE(d.ok);
    EXPECT_NE(d.report.find("did not end within 500 ms and was killed"), std::string::npos)
        << d.report;
    const pid_t sleeper = std::stoi(ReadFile(pid_file));
    EXPECT_TRUE(lumivo::testing::WaitFor([&] { return kill(sleeper, 0) != 0; }, 5s));

    d = RunNoticeCommand({"/bin/false"}, n, 5s);
    EXPECT_EQ(d.report, "Notification (run-ended): the command /bin/false ended with status 1");
    d = RunNoticeCommand({(dir.path() / "no-such-program").string()}, n, 5s);
    EXPECT_NE(d.report.find("could not be started (No such file or directory)"), std::string::npos)
        << d.report;
}

TEST(NoticeMail, ReachesAnSmtpServerAndAnUnreachableOneIsReportedAfterItsAttempts) {
    TempFolder dir("lumivo-notify");
    lumivo::testing::SmtpServer server(dir.path());
    ASSERT_TRUE(server.ready()) << server.log();
    NotifySettings s;
    s.mail = true;
    s.smtp_host = "127.0.0.1";
    s.smtp_port = server.port();
    s.starttls = false;
    s.mail_from = "lumivo@lab.example";
    s.mail_to = "night@lab.example, day@lab.example";
    NotifierTiming quick;
    quick.mail_attempts = 2;
    quick.mail_retry_pause = 100ms;
    quick.mail_timeout = 5s;
    const Delivery d = MailNotice(s, RunEnded(), quick);
    EXPECT_TRUE(d.ok) << d.report;
    EXPECT_EQ(d.report,
              "Notification (run-ended) mailed to night@lab.example, day@lab.example "
              "through 127.0.0.1:" +
                  std::to_string(server.port()));
    ASSERT_TRUE(lumivo::testing::WaitFor(
        [&] { return server.received().find("Acquisition: ") != std::string::npos; }, 10s))
        << server.received() << server.log();
    const std::string got = server.received();
    EXPECT_NE(got.find("Subject: Lumivo: Recording ended (20261207_1535)"), std::string::npos)
        << got;
    EXPECT_NE(got.find("From: lumivo@lab.example"), std::string::npos) << got;
    EXPECT_NE(got.find("42 windows recorded"), std::string::npos) << got;
    EXPECT_NE(got.find("Event: run-ended"), std::string::npos) << got;

    s.smtp_port = lumivo::testing::FreeTcpPort();
    const Delivery lost = MailNotice(s, RunEnded(), quick);
    EXPECT_FALSE(lost.ok);
    EXPECT_EQ(lost.report.rfind("Notification (run-ended) could not be mailed through 127.0.0.1:" +
                                    std::to_string(s.smtp_port) + " after 2 attempts: ",
                                0),
              0u)
        << lost.report;
}

TEST(Notifier, PostReturnsAtOnceAndEveryOutcomeComesBack) {
    TempFolder dir("lumivo-notify");
    NotifySettings s;
    const fs::path log = dir.path() / "events.txt";
    s.command = {"/bin/sh", "-c", "echo \"$LUMIVO_EVENT\" >> " + log.string()};
    {
        Notifier notifier(s);
        for (NoticeKind k :
             {NoticeKind::InstrumentLost, NoticeKind::InstrumentReconnected, NoticeKind::Test}) {
            Notice n = RunEnded();
            n.kind = k;
            notifier.Post(n);
        }
        ASSERT_TRUE(notifier.WaitIdle(20s));
        const auto reports = notifier.TakeReports();
        ASSERT_EQ(reports.size(), 3u);
        EXPECT_EQ(reports[0].rfind("Notification (instrument-lost) sent by the command", 0), 0u);
        EXPECT_TRUE(notifier.TakeReports().empty());
        // Queued at the end: delivered before the notifier goes.
        notifier.Post(RunEnded());
    }
    EXPECT_EQ(ReadFile(log), "instrument-lost\ninstrument-reconnected\ntest\nrun-ended\n");
    // Nothing set: nothing is queued.
    Notifier quiet{NotifySettings{}};
    quiet.Post(RunEnded());
    EXPECT_TRUE(quiet.WaitIdle(1s));
    EXPECT_TRUE(quiet.TakeReports().empty());
}

}  // namespace
}  // namespace lumivo::notify
