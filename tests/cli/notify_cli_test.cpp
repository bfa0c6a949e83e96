// lumivo-cli notify: the settings shown, saved and tested against a real command and an SMTP
// server on 127.0.0.1.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "cli_test_support.h"
#include "support/smtp_server.h"

namespace lumivo::testing {
namespace {

namespace fs = std::filesystem;

class NotifyCli : public CliTest {};

TEST_F(NotifyCli, SettingsAreShownSavedAndTestedThroughACommandAndAMailServer) {
    SmtpServer server(dir_);
    ASSERT_TRUE(server.ready()) << server.log();
    const std::string smtp = "127.0.0.1:" + std::to_string(server.port());
    const fs::path got = dir_ / "notice.txt";
    const std::string command =
        "/bin/sh -c 'echo \"$LUMIVO_EVENT $LUMIVO_MESSAGE\" >> " + got.string() + "'";

    // Nothing set: nothing to test.
    RunResult r = Run({"notify", "--test"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("sets neither a command nor e-mail: nothing to test"), std::string::npos)
        << r.err;

    r = Run({"notify", "--save", "--notify-command", command, "--notify-mail", "night@lab.example",
             "--smtp", smtp, "--starttls", "off", "--mail-from", "lumivo@lab.example",
             "--lost-minutes", "5"});
    ASSERT_EQ(r.status, 0) << r.err;
    const fs::path file = install_ / "notify.dat";
    EXPECT_EQ(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1), file.string() + "\n");
    EXPECT_NE(r.out.find("e-mail: to night@lab.example from lumivo@lab.example through " + smtp +
                         " without STARTTLS"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("instrument lost after 5 min"), std::string::npos) << r.out;

    // From the saved file: both ways deliver.
    r = Run({"notify", "--test"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Notification (test) sent by the command /bin/sh -c"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Notification (test) mailed to night@lab.example through " + smtp),
              std::string::npos)
        << r.out;
    EXPECT_NE(ReadFile(got).find("test A test message of the Lumivo program"), std::string::npos);
    ASSERT_TRUE(WaitFor(
        [&] {
            return server.received().find("Subject: Lumivo: Test message") != std::string::npos;
        },
        std::chrono::seconds(10)))
        << server.received();

    // A server nobody answers at, for this run only: it says so and fails.
    r = Run({"notify", "--test", "--notify-mail", "night@lab.example", "--smtp",
             "127.0.0.1:" + std::to_string(FreeTcpPort())});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("could not be mailed through 127.0.0.1:"), std::string::npos) << r.out;

    struct Usage {
        std::vector<std::string> words;
        const char* err;
    };
    const Usage usage[] = {
        {{"notify", "--smtp", "mail.example.org"}, "--smtp takes HOST:PORT"},
        {{"notify", "--starttls", "maybe"}, "--starttls takes on or off"},
        {{"notify", "--notify-command", "say \"open"}, "has an unterminated quote"},
    };
    for (const Usage& u : usage) {
        r = Run(u.words);
        EXPECT_EQ(r.status, 2) << u.err;
        EXPECT_NE(r.err.find(u.err), std::string::npos) << r.err;
    }
    // A damaged notify.dat stops a recording before it starts, naming the file.
    std::ofstream(file, std::ios::app) << "\"mail\",\"sometimes\"\r\n";
    r = Run({"acquire", "--simulate", "--project", "1", "--name", "x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(file.string() + ": the value of \"mail\" is \"sometimes\""),
              std::string::npos)
        << r.err;
}

}  // namespace
}  // namespace lumivo::testing
