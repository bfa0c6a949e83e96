// lumivo-cli plate and project show, run as the built program on a fresh installation folder.
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

class StorageCli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("lumivo_storage_cli_" + std::to_string(::getpid()) + "_" +
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
        std::vector<std::string> argv{kCli.string(), "--install", install_.string()};
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

    std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> out;
        std::size_t start = 0;
        for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
            out.push_back(text.substr(start, nl - start));
        return out;
    }

    fs::path dir_, install_;
};

}  // namespace

TEST_F(StorageCli, PlatePrintsOneLinePerChannelFromAFreshInstallation) {
    const auto r = Run({"plate", "w96f"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 384u);
    EXPECT_EQ(lines[0], "0,A1,0");
    EXPECT_EQ(lines[1], "1,-,-");
    EXPECT_EQ(lines[16], "16,A1,1");
    EXPECT_EQ(lines[383], "383,-,-");
    EXPECT_EQ(lines[22 * 16 + 14], "366,H12,0");
    EXPECT_TRUE(fs::is_regular_file(install_ / "config.dat"));  // the folder was filled

    const auto w6 = Run({"plate", "w6"});
    ASSERT_EQ(w6.status, 0) << w6.err;
    EXPECT_NE(w6.out.find(",B3,"), std::string::npos);
}

TEST_F(StorageCli, MissingPlateFileFailsOrFallsBackOnRequest) {
    ASSERT_EQ(Run({"plate", "w384"}).status, 0);  // fills the folder
    fs::remove(install_ / "w48.dat");
    fs::create_directories(install_ / "w48.dat");  // stays missing: a folder is not refilled
    const auto strict = Run({"plate", "w48"});
    EXPECT_EQ(strict.status, 1);
    EXPECT_NE(strict.err.find("w48.dat"), std::string::npos);
    const auto fallback = Run({"plate", "--fallback", "w48"});
    EXPECT_EQ(fallback.status, 0);
    EXPECT_NE(fallback.err.find("Error [\\w48.dat] ID#0 => Loading plate format from default"),
              std::string::npos)
        << fallback.err;
    EXPECT_EQ(Lines(fallback.out)[16], "16,A1,1");  // the 96-flat map
}

TEST_F(StorageCli, ProjectShowPrintsTheSetup) {
    const auto r = Run({"project", "show", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Project: 0_Default\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("RT_Buffer: 500\n"), std::string::npos);
    EXPECT_NE(r.out.find("Plate_format: w96f (8 x 12 wells)\n"), std::string::npos);
    EXPECT_NE(r.out.find("  011_Group11: 32 channels\n"), std::string::npos);
    EXPECT_TRUE(r.err.empty()) << r.err;

    EXPECT_EQ(Run({"project", "show", "5"}).status, 1);  // no such project
    EXPECT_EQ(Run({"project", "show"}).status, 2);
    EXPECT_EQ(Run({"project", "list"}).status, 2);
    EXPECT_EQ(Run({"project", "show", "x"}).status, 2);
    EXPECT_EQ(Run({"plate"}).status, 2);
}
