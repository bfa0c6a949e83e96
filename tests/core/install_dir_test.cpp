#include "core/platform/install_dir.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/fake_clock.h"

namespace fs = std::filesystem;
using namespace lumivo;

TEST(InstallDir, InstallOptionIsTakenOutOfTheArguments) {
    std::vector<std::string> args{"sample", "--install", "/tmp/x", "--com", "3"};
    EXPECT_EQ(TakeInstallDirOption(args), fs::path("/tmp/x"));
    EXPECT_EQ(args, (std::vector<std::string>{"sample", "--com", "3"}));

    std::vector<std::string> eq{"--install=/opt/l", "plate"};
    EXPECT_EQ(TakeInstallDirOption(eq), fs::path("/opt/l"));
    EXPECT_EQ(eq, std::vector<std::string>{"plate"});

    std::vector<std::string> none{"plate"};
    EXPECT_EQ(TakeInstallDirOption(none), DefaultInstallDir());
}

TEST(InstallDir, ComPortPrefersTheLinkInThePortsFolder) {
    const fs::path dir =
        fs::temp_directory_path() / ("lumivo_install_test_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "ports");
    EXPECT_EQ(ResolveComDevice(dir, 3), fs::path("/dev/ttyS2"));
    // A dangling link still names the user's port, so opening it fails loudly instead of
    // silently falling back to a different device.
    fs::create_symlink("/nonexistent/pty", dir / "ports" / "COM3");
    EXPECT_EQ(ResolveComDevice(dir, 3), dir / "ports" / "COM3");
    EXPECT_EQ(ResolveComDevice(dir, 1), fs::path("/dev/ttyS0"));
    fs::remove_all(dir);
}

TEST(FakeClock, CivilTimeRollsOverMidnightAndYearEnd) {
    lumivo::testing::FakeClock clock({2026, 12, 31, 23, 59, 30, 0});
    clock.SleepMs(45'000);
    const auto t = clock.Now();
    EXPECT_EQ(t.year, 2027);
    EXPECT_EQ(t.month, 1);
    EXPECT_EQ(t.day, 1);
    EXPECT_EQ(t.hour, 0);
    EXPECT_EQ(t.minute, 0);
    EXPECT_EQ(t.second, 15);
    EXPECT_EQ(clock.MonotonicMillis(), 45'000);
}
