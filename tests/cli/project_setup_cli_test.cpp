// lumivo-cli project new|rename|groups|arrange (and show), run as the built program on a fresh
// installation folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace {

namespace fs = std::filesystem;

using namespace lumivo::testing;

const fs::path kGolden =
    fs::path(LUMIVO_SOURCE_DIR) / "tests" / "core" / "storage" / "golden" / "setup_w96f_arranged";

class ProjectCli : public CliTest {
  protected:
    RunResult Run(const std::vector<std::string>& words) const {
        std::vector<std::string> all = {"project"};
        all.insert(all.end(), words.begin(), words.end());
        return CliTest::Run(all);
    }

    std::string SetupLine(int project, int line) {
        std::string all = ReadFile(install_ / ("p0000" + std::to_string(project)) / "setup.dat");
        std::size_t pos = 0;
        for (int i = 1; i < line; ++i) pos = all.find("\r\n", pos) + 2;
        return all.substr(pos, all.find("\r\n", pos) - pos);
    }
};

}  // namespace

TEST_F(ProjectCli, NewProjectArrangedInBlocksWritesTheGoldenGroupFiles) {
    const RunResult created = Run({"new", "Arranged", "--lapse", "0", "--rt-buffer", "150"});
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_EQ(created.out,
              "Created project 1_Arranged in " + (install_ / "p00001").string() + "\n");
    EXPECT_EQ(created.err,
              "lumivo-cli project: --lapse 0 was replaced by 2\n"
              "lumivo-cli project: --rt-buffer 150 was replaced by 500\n");
    EXPECT_EQ(SetupLine(1, 4), "1,2,99,500,1,30");
    const std::string config = ReadFile(install_ / "config.dat");
    EXPECT_EQ(config.substr(config.find("\r\n") + 2), "1,1,1,0\r\n");

    const RunResult arranged = Run({"arrange", "1", "04x06"});
    ASSERT_EQ(arranged.status, 0) << arranged.err;
    for (const char* file : {"chgroup.dat", "groups.dat"})
        EXPECT_EQ(ReadFile(install_ / "p00001" / file), ReadFile(kGolden / file)) << file;
    EXPECT_EQ(arranged.out.substr(0, 26), "000_Group0: A1.0 B1.0 C1.0");
    EXPECT_NE(arranged.out.find("\n003_Group3: E7.0 F7.0"), std::string::npos);
    EXPECT_NE(arranged.out.find("\nFree:\n"), std::string::npos);
}

TEST_F(ProjectCli, GroupsAreAssignedFreedAndNamedByWellRanges) {
    ASSERT_EQ(Run({"new", "Plate", "--plate", "w96u"}).status, 0);
    const RunResult r = Run({"groups", "1", "--clear", "--assign", "2=B2:A1", "--assign", "0=H12",
                             "--free", "A2", "--name", "2=Dose, 5 \"mM\""});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string expected_head =
        "000_Group0: H12.0\n001_Free:\n002_Dose, 5 \"mM\": A1.0 B1.0 B2.0\nFree: C1.0 D1.0";
    EXPECT_EQ(r.out.substr(0, expected_head.size()), expected_head) << r.out;
    const std::string names_head =
        "\"<Group_Number>, <Group_Name>\"\r\n0,\"Group0\"\r\n1,\"Free\"\r\n2,\"Dose, 5 "
        "\"\"mM\"\"\"\r\n";
    EXPECT_EQ(ReadFile(install_ / "p00001/groups.dat").substr(0, names_head.size()), names_head);
    // A second run lists the same groups without changing anything.
    const RunResult again = Run({"groups", "1"});
    EXPECT_EQ(again.out, r.out);
}

TEST_F(ProjectCli, RenameRewritesTheSetupAndShowKeepsWorking) {
    ASSERT_EQ(Run({"new", "Old"}).status, 0);
    const RunResult r = Run({"rename", "1", "New, \"quoted\""});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "<Project> p00001: New, \"quoted\"\n");
    EXPECT_EQ(SetupLine(1, 2),
              "1,\"New, \"\"quoted\"\"\",\"" + (install_ / "p00001").string() + "/\",\"w96f\"");
    const RunResult show = Run({"show", "1"});
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_EQ(show.out.substr(0, show.out.find('\n')), "Project: 1_New, \"quoted\"");
}

// Twenty lines of bytes that are no text (no commas, quotes or line ends inside a line).
std::string RandomLines() {
    std::string out;
    std::uint32_t x = 2463534242u;
    for (int line = 0; line < 20; ++line) {
        for (int i = 0; i < 30; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            char c = static_cast<char>(0x80 | (x & 0x7f));
            out += c;
        }
        out += "\r\n";
    }
    return out;
}

TEST_F(ProjectCli, ADamagedProjectIsReportedAndLeftAsItIs) {
    struct Damage {
        const char* what;
        const char* file;  // in p00001, or the plate file in the installation folder
        std::string content;
        std::string failure;  // after "cannot load project 1: <path>"
    };
    const Damage damages[] = {
        {"random bytes", "setup.dat", RandomLines(), " ID#1: line 2 has 1 fields instead of 4"},
        {"three lines", "setup.dat", "\"h\"\r\n1,\"P\",\"\",\"w96f\"\r\n\"h\"\r\n",
         " ID#4: the file has 3 lines, fewer than the 6 that hold the project's values"},
        {"bad status", "status.dat", "\"h\"\r\n0,yes\r\n", ": line 2: \"yes\" is not a 16-bit"},
        {"no chgroup", "chgroup.dat", "", ": Cannot open "},
        {"short plate", "../w96f.dat", "\"t\"\r\n\"t\"\r\n8,2,-0.5,12,2,0\r\n\"h\"\r\n0,0,0\r\n",
         " ID#2: the file ends after line 5 with 1 of the 384 channel records"},
    };
    const std::vector<std::vector<std::string>> commands = {
        {"project", "show", "1"},
        {"project", "groups", "1", "--name", "0=X"},
        {"project", "arrange", "1", "04x06"},
        {"project", "rename", "1", "Renamed"},
        {"project", "new", "Copy", "--from", "1"},
        {"project", "new", "Copy"},  // from the current project, 1
        {"calibrate", "--com", "9"},
        {"zero", "--com", "9"},
        {"acquire", "--simulate", "--project", "1", "--name", "run"},
    };
    for (const auto& d : damages) {
        fs::remove_all(install_);
        ASSERT_EQ(Run({"new", "Kept"}).status, 0);
        const fs::path file = (install_ / "p00001" / d.file).lexically_normal();
        if (d.content.empty())
            fs::remove(file);
        else
            std::ofstream(file, std::ios::binary | std::ios::trunc) << d.content;
        std::map<fs::path, std::string> before;
        for (const auto& e : fs::recursive_directory_iterator(install_))
            if (e.is_regular_file()) before[e.path()] = ReadFile(e.path());
        for (const auto& words : commands) {
            const auto r = lumivo::testing::RunCliOn(install_, words, dir_, 60'000);
            const std::string head =
                "lumivo-cli " + words[0] + ": cannot load project 1: " + file.string() + d.failure;
            EXPECT_EQ(r.status, 1) << d.what << ": " << words[1] << "\n" << r.err;
            EXPECT_EQ(r.err.substr(0, head.size()), head) << d.what << ": " << words[1];
            EXPECT_NE(r.err.find("Nothing was changed."), std::string::npos) << r.err;
            std::map<fs::path, std::string> after;
            for (const auto& e : fs::recursive_directory_iterator(install_))
                if (e.is_regular_file()) after[e.path()] = ReadFile(e.path());
            EXPECT_TRUE(after == before) << d.what << ": " << words[1] << " changed the files";
        }
    }
}

TEST_F(ProjectCli, RefusalsEndWithTheirMessageAndStatus) {
    ASSERT_EQ(Run({"new", "First"}).status, 0);
    fs::create_directories(install_ / "p00002");
    struct Case {
        std::vector<std::string> words;
        int status;
        std::string err_start;
    };
    const Case cases[] = {
        {{"rename", "0", "X"},
         1,
         "lumivo-cli project: Not possible to rename the Default project. Save it with another "
         "Name\n"},
        {{"rename", "1", ""}, 1, "lumivo-cli project: The project name is empty.\n"},
        {{"rename", "1", "two\nlines"},
         1,
         "lumivo-cli project: The project name \"two?lines\" contains a line break"},
        {{"new", "Second"},
         1,
         "lumivo-cli project: The project number to generate (p00002already exists. do you like "
         "to overwrite?\n"
         "lumivo-cli project: no project created (--overwrite replaces"},
        {{"new", "Bad", "--plate", "w99"},
         1,
         "lumivo-cli project: Selection Error\nlumivo-cli project: No plate format \"w99\": "},
        {{"arrange", "1", "03x05"}, 2, "lumivo-cli project: \"03x05\" is not a block size"},
        // Every number option is a whole number, or the command is a usage error naming it.
        {{"new", "N", "--sample-rate", "abc"},
         2,
         "lumivo-cli project: --sample-rate must be a whole number, not \"abc\""},
        {{"new", "N", "--lapse", "abc"},
         2,
         "lumivo-cli project: --lapse must be a whole number, not \"abc\""},
        {{"new", "N", "--rt-buffer", "1.5"},
         2,
         "lumivo-cli project: --rt-buffer must be a whole number, not \"1.5\""},
        {{"new", "N", "--dsp-interval", ""},
         2,
         "lumivo-cli project: --dsp-interval must be a whole number, not \"\""},
        {{"new", "N", "--method", "7"}, 2, "lumivo-cli project: --method must be a whole number"},
        {{"new", "N", "--from", "1x"}, 2, "lumivo-cli project: --from must be a whole number"},
        {{"arrange", "7", "01x01"}, 1, "lumivo-cli project: no project 7"},
        {{"groups", "1", "--assign", "384=A1"},
         2,
         "lumivo-cli project: --assign takes GROUP=WELLS"},
        {{"groups", "1", "--assign", "3=Z99"}, 2, "lumivo-cli project: \"Z99\" is not a well"},
        {{"groups", "1", "--name", "x=Dose"}, 2, "lumivo-cli project: --name takes GROUP=NAME"},
        {{"groups", "1", "--name", "3=a\nb"},
         1,
         "lumivo-cli project: The group name \"a?b\" contains a line break"},
        {{"frobnicate"}, 2, "lumivo-cli project: unknown project command \"frobnicate\""},
    };
    const std::string chgroup_before = ReadFile(install_ / "p00001/chgroup.dat");
    for (const auto& c : cases) {
        const RunResult r = Run(c.words);
        EXPECT_EQ(r.status, c.status) << c.words[0] << " " << r.err;
        EXPECT_EQ(r.err.substr(0, c.err_start.size()), c.err_start) << r.err;
    }
    EXPECT_EQ(ReadFile(install_ / "p00001/chgroup.dat"), chgroup_before);
    EXPECT_FALSE(fs::exists(install_ / "p00002/setup.dat"));
    EXPECT_FALSE(fs::exists(install_ / "p00003"));  // no usage error created a project
    const RunResult replaced = Run({"new", "Second", "--overwrite"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_TRUE(fs::exists(install_ / "p00002/setup.dat"));
}
