#include "core/storage/config_file.h"

#include <gtest/gtest.h>

#include "storage_test_util.h"

using namespace lumivo;
using namespace lumivo::testing;

namespace {

std::string ConfigText(const std::string& line2) {
    return "\"Config: <Actual_Project_Number>, <Last_Project>,<Serial_COM>,<Restart_Time>\"\r\n" +
           line2 + "\r\n";
}

}  // namespace

TEST(ConfigFile, KeepsValuesInRangeAfterLoading) {
    struct Case {
        std::string line2;
        GlobalConfig want;
    };
    const Case cases[] = {
        {"3,5,4,0", {3, 5, 4, 0}},
        {"-2,0,0,7", {0, 0, 1, 0}},  // negative project, port 0, restart ignored
        {"9,4,3,0", {9, 9, 3, 0}},   // the last project follows the current one
        {"1,1,20,0", {1, 1, 16, 0}},
        {" 2 , 2 , 16 , 5 ", {2, 2, 16, 0}},
        {"3,5,4,0,9,\"later\"", {3, 5, 4, 0}},  // fields a later version added are ignored
    };
    for (const auto& c : cases) {
        DiskStorage s;
        WriteBytes(s.dir / "config.dat", ConfigText(c.line2));
        GlobalConfig got{7, 7, 7, 7};
        EXPECT_TRUE(LoadConfig(s.ctx, got)) << c.line2;
        EXPECT_EQ(got.Actual_Project_Number, c.want.Actual_Project_Number) << c.line2;
        EXPECT_EQ(got.Last_Project, c.want.Last_Project) << c.line2;
        EXPECT_EQ(got.ComPortNumber, c.want.ComPortNumber) << c.line2;
        EXPECT_EQ(got.Restart_Time, 0) << c.line2;
        EXPECT_TRUE(s.dialogs.shown().empty()) << c.line2;
    }
}

TEST(ConfigFile, UnreadableFileGivesTheDefaultConfiguration) {
    const std::string bad[] = {
        "",                         // empty file
        "\"Config: ...\"\r\n",      // no line 2
        ConfigText("3,5,4"),        // short line
        ConfigText("3,five,4,0"),   // not a number
        ConfigText("40000,5,4,0"),  // beyond 16 bits
    };
    for (const auto& content : bad) {
        DiskStorage s;
        WriteBytes(s.dir / "config.dat", content);
        GlobalConfig got{3, 5, 2, 0};
        EXPECT_FALSE(LoadConfig(s.ctx, got));
        EXPECT_EQ(s.dialogs.Messages(),
                  std::vector<std::string>{
                      "Error opening config File >>>> Loading DEFAULT configuration..."});
        EXPECT_EQ(got.Actual_Project_Number, 1);
        EXPECT_EQ(got.Last_Project, 1);
        EXPECT_EQ(got.ComPortNumber, 4);
        EXPECT_EQ(ReadBytes(s.dir / "config.dat"), content);  // not rewritten
    }
}

TEST(ConfigFile, MissingFileIsNoticedAndDefaulted) {
    DiskStorage s;
    EXPECT_FALSE(ConfigFileExists(s.ctx));
    GlobalConfig got;
    EXPECT_FALSE(LoadConfig(s.ctx, got));
    EXPECT_EQ(got.ComPortNumber, 4);
    EXPECT_FALSE(fs::exists(s.dir / "config.dat"));
}

TEST(ConfigFile, LoadThenSaveIsByteIdentical) {
    DiskStorage s;
    const std::string golden = ReadBytes(GoldenDir() / "config.dat");
    WriteBytes(s.dir / "config.dat", golden);
    GlobalConfig c;
    ASSERT_TRUE(LoadConfig(s.ctx, c));
    fs::remove(s.dir / "config.dat");
    ASSERT_TRUE(SaveConfig(s.ctx, c));
    EXPECT_EQ(ReadBytes(s.dir / "config.dat"), golden);
}

TEST(ConfigFile, SaveFailureShowsItsMessageAndKeepsTheOldFile) {
    DiskStorage s;
    FaultyFileSystem faulty;
    StorageContext ctx{s.dir.path(), s.dialogs, faulty};
    WriteBytes(s.dir / "config.dat", ConfigText("3,5,4,0"));
    faulty.write_budget = 10;
    EXPECT_FALSE(SaveConfig(ctx, GlobalConfig{6, 6, 2, 0}));
    EXPECT_EQ(s.dialogs.Messages(), std::vector<std::string>{"<Error Saving Config File>"});
    EXPECT_EQ(ReadBytes(s.dir / "config.dat"), ConfigText("3,5,4,0"));

    StorageContext below_file{s.dir / "config.dat", s.dialogs, s.files};  // not a folder
    EXPECT_FALSE(SaveConfig(below_file, GlobalConfig{}));
}
