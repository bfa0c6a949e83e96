// lumivo-cli acquisitions, acquisition show|rename|archive and join, run as the built program
// on installation folders built in a temporary directory.
#include <gtest/gtest.h>

#include "core/offline/offline_fixture.h"
#include "support/child_process.h"

namespace lumivo::offline::testing {
namespace {

using ::lumivo::testing::RunResult;

std::vector<std::int32_t> Range(int a, int b) {
    std::vector<std::int32_t> m;
    for (int i = a; i <= b; ++i) m.push_back(i);
    return m;
}

std::string LastLine(const std::string& out) {
    const std::size_t end = out.size() - (out.empty() || out.back() != '\n' ? 0 : 1);
    const std::size_t start = out.rfind('\n', end == 0 ? 0 : end - 1);
    return out.substr(start == std::string::npos ? 0 : start + 1,
                      end - (start == std::string::npos ? 0 : start + 1));
}

struct Cli : OfflineInstall {
    Cli() {
        Project(1, "Dose");
        Project(2, "Empty");
        morning = Acquisition(1, "20260314_1000", "Morning", Range(1, 60));
        afternoon = Acquisition(1, "20260314_1230", "Afternoon", Range(1, 30));
    }
    RunResult Run(const std::vector<std::string>& words) {
        std::vector<std::string> argv = {LUMIVO_CLI_PROGRAM, "--install", install().string()};
        argv.insert(argv.end(), words.begin(), words.end());
        RunResult r = ::lumivo::testing::Run(argv, root(), 60'000);
        // Every message names the command (a usage error adds the command's usage).
        std::size_t pos = 0;
        while (pos < r.err.size()) {
            EXPECT_TRUE(r.err.compare(pos, 11, "lumivo-cli ") == 0 ||
                        r.err.compare(pos, 18, "usage: lumivo-cli ") == 0)
                << r.err;
            pos = r.err.find('\n', pos);
            pos = pos == std::string::npos ? r.err.size() : pos + 1;
        }
        return r;
    }
    fs::path morning, afternoon;
};

TEST(OfflineCli, AcquisitionsPrintsTheBrowserEntries) {
    Cli c;
    struct Case {
        std::vector<std::string> words;
        int status;
        std::string out;
    };
    const Case cases[] = {
        {{"acquisitions"},
         0,
         "+         \tp00002_Empty\n+ 2026.0314\tp00001_Dose\n"
         "  > 2026.0314\t ACQ12:30 \"Afternoon\"\n  > 2026.0314\t ACQ10:00 \"Morning\"\n"},
        {{"acquisitions", "--project", "1", "--by-date"},
         0,
         "20260314_1230 Afternoon\n20260314_1000 Morning\n"},
        {{"acquisitions", "--filter", "MORN"},
         0,
         "+ 2026.0314\tp00001_Dose\n  > 2026.0314\t ACQ10:00 \"Morning\"\n"},
        {{"acquisitions", "--project", "2"}, 0, "+         \tp00002_Empty\n"},
        {{"acquisitions", "--project", "9"}, 1, ""},
        {{"acquisitions", "--by-date"}, 2, ""},
    };
    for (const Case& k : cases) {
        const RunResult r = c.Run(k.words);
        EXPECT_EQ(r.status, k.status) << k.words.back() << r.err;
        EXPECT_EQ(r.out, k.out) << k.words.back();
    }
}

TEST(OfflineCli, ShowRenameAndArchiveAnAcquisition) {
    Cli c;
    RunResult r = c.Run({"acquisition", "show", "1/20260314_1000"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("***** PROJECT ******\n+ 2026.0314\tp00001_Dose\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\nWindows recorded: 60\n"), std::string::npos) << r.out;
    EXPECT_EQ(LastLine(r.out), c.morning.string());
    EXPECT_EQ(c.Run({"acquisition", "show", c.morning.string() + "/"}).out, r.out);
    EXPECT_EQ(c.Run({"acquisition", "show", "1/20990101_0000"}).status, 2);
    EXPECT_EQ(c.Run({"acquisition", "show", (c.install() / "p00001").string()}).status, 2);

    r = c.Run({"acquisition", "rename", "p00001/20260314_1000", "Early, \"A\""});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "20260314_1000 Early, \"A\"\n");
    EXPECT_EQ(ReadAcquisitionTitle(c.storage, c.morning), "Early, \"A\"");

    r = c.Run({"acquisition", "archive", "1/20260314_1000"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("lumivo-cli acquisition: answered No (--yes answers Yes)"),
              std::string::npos);
    EXPECT_NE(r.err.find("nothing was archived"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(c.morning));

    r = c.Run({"acquisition", "archive", "1/20260314_1000", "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string archived = LastLine(r.out);
    EXPECT_EQ(archived.rfind(c.morning.string() + "removed", 0), 0u) << archived;
    EXPECT_EQ(archived.size(), c.morning.string().size() + 7 + 12);
    EXPECT_TRUE(fs::is_directory(archived));
    EXPECT_FALSE(fs::exists(c.morning));
}

TEST(OfflineCli, JoinWritesANewAcquisitionAndPrintsItsFolder) {
    Cli c;
    const auto before = c.files.ListSubfolders(c.install() / "p00001");
    RunResult r = c.Run({"join", "1/20260314_1230", "1/20260314_1000"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("lumivo-cli join: Would you like to Join (in order of start time):\n"
                         "lumivo-cli join: 20260314_1000 Morning\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(c.files.ListSubfolders(c.install() / "p00001"), before);

    r = c.Run({"join", "1/20260314_1230", "1/20260314_1000", "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    const fs::path joined = LastLine(r.out);
    const auto records = ReadCountsFile(joined / kCountsFileName).records;
    ASSERT_EQ(records.size(), 90u);
    EXPECT_EQ(records[59].elapsed_minutes, 60);
    EXPECT_EQ(records[60].elapsed_minutes, 151);
    EXPECT_EQ(ReadFile(joined / "groups.dat"), ReadFile(c.morning / "groups.dat"));
    // The joined acquisition is dated by its first block, not by the minute of the join.
    r = c.Run({"acquisition", "show", joined.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\nStart: 2026-03-14 10:00:00 (events.log)\n"), std::string::npos)
        << r.out;

    // Blocks that overlap in time are refused: nothing is joined, status 1.
    c.Acquisition(1, "20260314_1030", "Overlapping", Range(1, 30));
    const auto listed = c.files.ListSubfolders(c.install() / "p00001");
    r = c.Run({"join", "1/20260314_1000", "1/20260314_1030", "--yes"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("lumivo-cli join: Nothing was joined: 20260314_1030 starts at minute 31 "
                         "of the joined time axis, before 20260314_1000 ends (minute 60)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(c.files.ListSubfolders(c.install() / "p00001"), listed);

    c.Acquisition(2, "20260314_0900", "Other project", {1});
    EXPECT_EQ(c.Run({"join", "1/20260314_1000", "2/20260314_0900", "--yes"}).status, 2);
    EXPECT_EQ(c.Run({"join", "1/20260314_1000", "--yes"}).status, 2);
    EXPECT_EQ(c.Run({"join", "1/20260314_1000", "1/20260314_1000", "--yes"}).status, 2);
}

}  // namespace
}  // namespace lumivo::offline::testing
