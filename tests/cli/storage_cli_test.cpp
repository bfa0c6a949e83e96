// lumivo-cli plate and project show, run as the built program on a fresh installation folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "core/storage/file_system.h"

namespace {

namespace fs = std::filesystem;

using namespace lumivo::testing;

using StorageCli = CliTest;

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
    EXPECT_EQ(fallback.err.rfind("lumivo-cli plate: Error [" + (install_ / "w48.dat").string() +
                                     "] ID#0 => Loading plate format from default",
                                 0),
              0u)
        << fallback.err;
    EXPECT_EQ(Lines(fallback.out)[16], "16,A1,1");  // the 96-flat map
}

// Every line a command writes on stderr starts with "lumivo-cli COMMAND: ", names files by
// their real path (never with backslashes) and says what to do.
TEST_F(StorageCli, MessagesNameTheRealPathAndWhatToDo) {
    ASSERT_EQ(Run({"plate", "w384"}).status, 0);  // fills the folder
    fs::create_directories(install_ / "ports");
    lumivo::LocalFileSystem().WriteFile(install_ / "ports" / "COM3", "not a device");
    fs::create_directories(install_ / "ports" / "COM4");
    fs::create_directories(install_ / "p00001" / "20260101_1200");
    struct Case {
        std::vector<std::string> words;
        int status;
        std::vector<std::string> parts;  // in the messages, in this order
    };
    const std::string com3 = (install_ / "ports" / "COM3").string();
    const Case cases[] = {
        {{"sample", "--com", "3"},
         1,
         {"lumivo-cli sample: cannot open COM3 (" + com3 +
              "): CommOpen (CreateFile): Inappropriate ioctl for device\n",
          "lumivo-cli sample: " + com3 + " is a regular file, not a serial device.",
          "ln -sf /dev/ttyUSB0 " + com3, "lumivo-sim --install " + install_.string() + " --com 3"}},
        {{"serial", "--com", "4"},
         1,
         {"lumivo-cli serial: cannot open COM4", " is not a serial device"}},
        {{"calibrate", "--com", "3"}, 1, {"lumivo-cli calibrate: cannot open COM3 (" + com3}},
        {{"plate", "--fallback", "96f"},
         0,
         {"lumivo-cli plate: Error [" + (install_ / "96f.dat").string() + "] ID#0",
          "lumivo-cli plate: Cannot open " + (install_ / "96f.dat").string() +
              ": No such file or directory",
          "lumivo-cli plate: The built-in w96f map is used"}},
        {{"project", "new", "X", "--plate", "w99"},
         1,
         {"lumivo-cli project: Selection Error\n",
          "lumivo-cli project: No plate format \"w99\": " + (install_ / "w99.dat").string() +
              " does not exist. Plate formats of this installation: w24, w384"}},
        {{"report", (install_ / "p00001" / "20260101_1200").string()},
         1,
         {"lumivo-cli report: Activity file not Found: ",
          (install_ / "p00001" / "20260101_1200" / "counts.bin").string() + " does not exist"}},
    };
    for (const auto& c : cases) {
        const auto r = Run(c.words);
        EXPECT_EQ(r.status, c.status) << c.words[0] << "\n" << r.err;
        std::size_t at = 0;
        for (const auto& part : c.parts) {
            const auto found = r.err.find(part, at);
            EXPECT_NE(found, std::string::npos) << c.words[0] << ": " << part << "\n" << r.err;
            if (found != std::string::npos) at = found + part.size();
        }
        for (const auto& line : Lines(r.err))
            EXPECT_EQ(line.rfind("lumivo-cli " + c.words[0] + ": ", 0), 0u) << line;
        EXPECT_EQ(r.err.find('\\'), std::string::npos) << r.err;
    }
}

TEST_F(StorageCli, ProjectShowPrintsTheSetup) {
    const auto r = Run({"project", "show", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Project: 0_Default\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("RT_Buffer: 500\n"), std::string::npos);
    EXPECT_NE(r.out.find("Plate_format: w96f (8 x 12 wells)\n"), std::string::npos);
    EXPECT_NE(r.out.find("  011_Group11: 32 channels\n"), std::string::npos);
    EXPECT_TRUE(r.err.empty()) << r.err;

    // A project of an older version with a 200-row buffer is shown as stored, silently.
    const fs::path p1 = install_ / "p00001";
    fs::create_directories(p1);
    for (const char* f : {"setup.dat", "status.dat", "threshld.dat", "groups.dat", "chgroup.dat"})
        fs::copy_file(install_ / f, p1 / f);
    std::string setup = ReadFile(p1 / "setup.dat");
    setup.replace(setup.find(",500,"), 5, ",200,");
    setup.replace(setup.find("\r\n0,") + 2, 1, "1");  // Num_proj 1
    lumivo::LocalFileSystem().WriteFile(p1 / "setup.dat", setup);
    const auto old = Run({"project", "show", "1"});
    ASSERT_EQ(old.status, 0) << old.err;
    EXPECT_TRUE(old.err.empty()) << old.err;
    EXPECT_NE(old.out.find("RT_Buffer: 200 (a recording uses 500 rows)\n"), std::string::npos)
        << old.out;
    EXPECT_EQ(ReadFile(p1 / "setup.dat"), setup);

    EXPECT_EQ(Run({"project", "show", "5"}).status, 1);  // no such project
    EXPECT_EQ(Run({"project", "show"}).status, 2);
    EXPECT_EQ(Run({"project", "list"}).status, 2);
    EXPECT_EQ(Run({"project", "show", "x"}).status, 2);
    EXPECT_EQ(Run({"plate"}).status, 2);
}
