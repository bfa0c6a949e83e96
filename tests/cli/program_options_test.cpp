// The options every program answers the same way: --help and --version print to stdout and end
// with status 0, an unknown option is a usage error with status 2 and a message on stderr. None
// of them makes or fills the installation folder: that happens when a command runs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;

struct Case {
    std::vector<std::string> argv;
    int status;
    std::string out_has;  // "" when stdout must be empty
    std::string err_has;  // "" when stderr must be empty
};

TEST(ProgramOptions, HelpVersionAndUsageErrorsOfEveryProgram) {
    const std::string cli = LUMIVO_CLI_PROGRAM;
    const std::string sim = LUMIVO_SIM_PROGRAM;
    const std::string version = LUMIVO_VERSION;
    std::vector<Case> cases = {
        {{cli, "--help"}, 0, "usage: lumivo-cli", ""},
        {{cli, "--version"}, 0, "lumivo-cli " + version + "\n", ""},
        {{cli, "report", "--help"}, 0, "usage: lumivo-cli [--install DIR] report ACQ_FOLDER", ""},
        {{cli}, 2, "", "usage: lumivo-cli"},
        {{cli, "frobnicate"}, 2, "", "unknown command \"frobnicate\""},
        {{sim, "--help"}, 0, "usage: lumivo-sim", ""},
        {{sim, "--version"}, 0, "lumivo-sim " + version + "\n", ""},
        {{sim, "--com", "1", "--bogus"}, 2, "", "unknown argument \"--bogus\""},
        {{sim}, 2, "", "--com N is required"},
    };
#ifdef LUMIVO_APP_PROGRAM
    // The desktop program answers these before it opens a display.
    const std::string app = LUMIVO_APP_PROGRAM;
    cases.push_back({{app, "--help"}, 0, "usage: lumivo [--install DIR]", ""});
    cases.push_back({{app, "--version"}, 0, "lumivo " + version + "\n", ""});
    cases.push_back(
        {{app, "-platform", "offscreen", "--simulat"}, 2, "", "unknown option \"--simulat\""});
#endif
    char tmpl[] = "/tmp/lumivo-options-XXXXXX";
    const fs::path dir = mkdtemp(tmpl);
    const fs::path install = dir / "install";
    for (auto c : cases) {
        // Every program gets a private installation folder, so nothing touches the user's.
        c.argv.insert(c.argv.begin() + 1, {"--install", install.string()});
        std::string line;
        for (const auto& a : c.argv) line += a + " ";
        SCOPED_TRACE(line);
        const auto r = lumivo::testing::Run(c.argv, dir);
        EXPECT_EQ(r.status, c.status);
        if (c.out_has.empty()) {
            EXPECT_EQ(r.out, "");
        } else {
            EXPECT_NE(r.out.find(c.out_has), std::string::npos) << r.out;
        }
        if (c.err_has.empty()) {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
        }
        EXPECT_FALSE(fs::exists(install)) << "made the installation folder";
        fs::remove_all(install);
    }
    // A command that runs does make it, with the shipped defaults.
    const auto r =
        lumivo::testing::Run({cli, "--install", install.string(), "project", "show", "0"}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(install / "config.dat"));
    fs::remove_all(dir);
}

TEST(ProgramOptions, OutputThatCannotBeWrittenFailsTheCommand) {
    // A full device takes nothing: a command whose output is lost has not done its job.
    const std::string cli = LUMIVO_CLI_PROGRAM;
    char tmpl[] = "/tmp/lumivo-options-XXXXXX";
    const fs::path dir = mkdtemp(tmpl);
    const std::string install = (dir / "install").string();
    const std::vector<std::vector<std::string>> commands = {
        {"--version"}, {"--help"}, {"--install", install, "plate", "w96f"}, {"report", "--help"}};
    for (const auto& words : commands) {
        std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" > /dev/full", cli};
        argv.insert(argv.end(), words.begin(), words.end());
        SCOPED_TRACE(words.back());
        const auto r = lumivo::testing::Run(argv, dir);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(": the output could not be written"), std::string::npos) << r.err;
    }
    fs::remove_all(dir);
}

}  // namespace
