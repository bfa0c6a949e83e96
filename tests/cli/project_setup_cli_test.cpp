// lumivo-cli project new|rename|groups|arrange (and show), run as the built program on a fresh
// installation folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/storage/file_system.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const fs::path kCli = fs::path(LUMIVO_BINARY_DIR) / "src" / "cli" / "lumivo-cli";
const fs::path kGolden =
    fs::path(LUMIVO_SOURCE_DIR) / "tests" / "core" / "storage" / "golden" / "setup_w96f_arranged";

struct Result {
    int status = -1;
    std::string out, err;
};

std::string Slurp(const fs::path& p) {
    try {
        return lumivo::LocalFileSystem().ReadFile(p);
    } catch (const std::exception&) {
        return {};
    }
}

class ProjectCli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("lumivo_project_cli_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        install_ = dir_ / "inst";
    }
    void TearDown() override { fs::remove_all(dir_); }

    Result Run(std::vector<std::string> words) {
        const auto out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> argv{kCli.string(), "--install", install_.string(), "project"};
        argv.insert(argv.end(), words.begin(), words.end());
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        Result r;
        pid_t pid = 0;
        if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ) == 0) {
            int status = 0;
            waitpid(pid, &status, 0);
            r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        posix_spawn_file_actions_destroy(&fa);
        r.out = Slurp(out);
        r.err = Slurp(err);
        return r;
    }

    std::string SetupLine(int project, int line) {
        std::string all = Slurp(install_ / ("p0000" + std::to_string(project)) / "setup.dat");
        std::size_t pos = 0;
        for (int i = 1; i < line; ++i) pos = all.find("\r\n", pos) + 2;
        return all.substr(pos, all.find("\r\n", pos) - pos);
    }

    fs::path dir_, install_;
};

}  // namespace

TEST_F(ProjectCli, NewProjectArrangedInBlocksWritesTheGoldenGroupFiles) {
    const Result created = Run({"new", "Arranged", "--lapse", "0", "--rt-buffer", "150"});
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_EQ(created.out,
              "Created project 1_Arranged in " + (install_ / "p00001").string() + "\n");
    EXPECT_EQ(created.err,
              "lumivo-cli project: --lapse 0 was replaced by 2\n"
              "lumivo-cli project: --rt-buffer 150 was replaced by 500\n");
    EXPECT_EQ(SetupLine(1, 4), "1,2,99,500,1,30");
    const std::string config = Slurp(install_ / "config.dat");
    EXPECT_EQ(config.substr(config.find("\r\n") + 2), "1,1,1,0\r\n");

    const Result arranged = Run({"arrange", "1", "04x06"});
    ASSERT_EQ(arranged.status, 0) << arranged.err;
    for (const char* file : {"chgroup.dat", "groups.dat"})
        EXPECT_EQ(Slurp(install_ / "p00001" / file), Slurp(kGolden / file)) << file;
    EXPECT_EQ(arranged.out.substr(0, 26), "000_Group0: A1.0 B1.0 C1.0");
    EXPECT_NE(arranged.out.find("\n003_Group3: E7.0 F7.0"), std::string::npos);
    EXPECT_NE(arranged.out.find("\nFree:\n"), std::string::npos);
}

TEST_F(ProjectCli, GroupsAreAssignedFreedAndNamedByWellRanges) {
    ASSERT_EQ(Run({"new", "Plate", "--plate", "w96u"}).status, 0);
    const Result r = Run({"groups", "1", "--clear", "--assign", "2=B2:A1", "--assign", "0=H12",
                          "--free", "A2", "--name", "2=Dose, 5 \"mM\""});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string expected_head =
        "000_Group0: H12.0\n001_Free:\n002_Dose, 5 \"mM\": A1.0 B1.0 B2.0\nFree: C1.0 D1.0";
    EXPECT_EQ(r.out.substr(0, expected_head.size()), expected_head) << r.out;
    const std::string names_head =
        "\"<Group_Number>, <Group_Name>\"\r\n0,\"Group0\"\r\n1,\"Free\"\r\n2,\"Dose, 5 "
        "\"\"mM\"\"\"\r\n";
    EXPECT_EQ(Slurp(install_ / "p00001/groups.dat").substr(0, names_head.size()), names_head);
    // A second run lists the same groups without changing anything.
    const Result again = Run({"groups", "1"});
    EXPECT_EQ(again.out, r.out);
}

TEST_F(ProjectCli, RenameRewritesTheSetupAndShowKeepsWorking) {
    ASSERT_EQ(Run({"new", "Old"}).status, 0);
    const Result r = Run({"rename", "1", "New, \"quoted\""});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "<Project> p00001: New, \"quoted\"\n");
    EXPECT_EQ(SetupLine(1, 2),
              "1,\"New, \"\"quoted\"\"\",\"" + (install_ / "p00001").string() + "/\",\"w96f\"");
    const Result show = Run({"show", "1"});
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_EQ(show.out.substr(0, show.out.find('\n')), "Project: 1_New, \"quoted\"");
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
         "Not possible to rename the Default project. Save it with another Name\n"},
        {{"rename", "1", ""}, 1, "The project name is empty.\n"},
        {{"rename", "1", "two\nlines"}, 1, "The project name \"two?lines\" contains a line break"},
        {{"new", "Second"},
         1,
         "The project number to generate (p00002already exists. do you like to overwrite?\n"
         "lumivo-cli project new: no project created (--overwrite replaces"},
        {{"new", "Bad", "--plate", "w99"}, 1, "Selection Error\n"},
        {{"arrange", "1", "03x05"}, 2, "lumivo-cli project arrange: \"03x05\" is not a block size"},
        {{"arrange", "7", "01x01"}, 1, "lumivo-cli project: no project 7"},
        {{"groups", "1", "--assign", "384=A1"},
         2,
         "lumivo-cli project: --assign takes GROUP=WELLS"},
        {{"groups", "1", "--assign", "3=Z99"}, 2, "lumivo-cli project: \"Z99\" is not a well"},
        {{"groups", "1", "--name", "3=a\nb"}, 1, "The group name \"a?b\" contains a line break"},
        {{"frobnicate"}, 2, "lumivo-cli project: unknown project command \"frobnicate\""},
    };
    const std::string chgroup_before = Slurp(install_ / "p00001/chgroup.dat");
    for (const auto& c : cases) {
        const Result r = Run(c.words);
        EXPECT_EQ(r.status, c.status) << c.words[0] << " " << r.err;
        EXPECT_EQ(r.err.substr(0, c.err_start.size()), c.err_start) << r.err;
    }
    EXPECT_EQ(Slurp(install_ / "p00001/chgroup.dat"), chgroup_before);
    EXPECT_FALSE(fs::exists(install_ / "p00002/setup.dat"));
    const Result replaced = Run({"new", "Second", "--overwrite"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_TRUE(fs::exists(install_ / "p00002/setup.dat"));
}
