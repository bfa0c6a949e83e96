#include "core/storage/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/storage/autostart.h"
#include "core/storage/field_record.h"
#include "core/storage/project_setup.h"
#include "storage_test_util.h"

using namespace lumivo;
using namespace lumivo::testing;

TEST(AtomicWrite, ReplacesTheFileAndLeavesNoTemporary) {
    TempDir dir;
    LocalFileSystem files;
    WriteBytes(dir / "a.dat", "old");
    files.WriteFile(dir / "a.dat", "new content\r\n");
    EXPECT_EQ(ReadBytes(dir / "a.dat"), "new content\r\n");
    files.WriteFile(dir / "b.dat", "");  // creates an empty file
    EXPECT_TRUE(fs::is_regular_file(dir / "b.dat"));
    EXPECT_TRUE(StrayFiles(dir.path()).empty());
}

TEST(AtomicWrite, FullDiskPartWayKeepsTheOldFile) {
    TempDir dir;
    FaultyFileSystem files;
    const std::string old(5000, 'o');
    WriteBytes(dir / "setup.dat", old);
    files.write_budget = 100;  // the disk fills after 100 bytes of the new file
    EXPECT_THROW(files.WriteFile(dir / "setup.dat", std::string(5000, 'n')), StorageError);
    EXPECT_GT(files.writes_failed, 0);
    EXPECT_EQ(ReadBytes(dir / "setup.dat"), old);
    EXPECT_TRUE(StrayFiles(dir.path()).empty());
}

TEST(AtomicWrite, BatchFailureChangesNoneOfItsFiles) {
    TempDir dir;
    FaultyFileSystem files;
    for (const char* n : {"a", "b", "c"}) WriteBytes(dir / n, std::string("old ") + n);
    const FileContent batch[] = {{dir / "a", std::string(300, 'A')},
                                 {dir / "b", std::string(300, 'B')},
                                 {dir / "c", std::string(300, 'C')}};
    files.write_budget = 450;  // the second file runs out of space
    EXPECT_THROW(files.WriteFiles(batch), StorageError);
    for (const char* n : {"a", "b", "c"}) EXPECT_EQ(ReadBytes(dir / n), std::string("old ") + n);
    EXPECT_TRUE(StrayFiles(dir.path()).empty());
}

TEST(AtomicWrite, UnwritableFolderIsAnErrorNotACrash) {
    // Tests run as root, where permission bits do not stop writes: a path below a regular file
    // cannot be written by anyone.
    TempDir dir;
    LocalFileSystem files;
    WriteBytes(dir / "plain", "x");
    try {
        files.WriteFile(dir / "plain" / "setup.dat", "y");
        FAIL() << "write below a regular file succeeded";
    } catch (const StorageError& e) {
        EXPECT_NE(std::string(e.what()).find("setup.dat"), std::string::npos);
    }
    EXPECT_THROW(files.ReadFile(dir / "missing.dat"), StorageError);
    EXPECT_THROW(files.ReadFile(dir.path()), StorageError);  // a folder is not a file
}

TEST(AtomicWrite, FailedRenameReportsAndCleansUp) {
    TempDir dir;
    FaultyFileSystem files;
    WriteBytes(dir / "x.dat", "old");
    files.fail_rename_of = "x.dat";
    EXPECT_THROW(files.WriteFile(dir / "x.dat", "new"), StorageError);
    EXPECT_EQ(ReadBytes(dir / "x.dat"), "old");
    EXPECT_TRUE(StrayFiles(dir.path()).empty());
}

TEST(FileHelpers, CountCopyAndFreeSpace) {
    DiskStorage s;
    WriteBytes(s.dir / "three.dat", "a\r\nb\r\nc\r\n");
    EXPECT_EQ(CountFileLines(s.ctx, s.dir / "three.dat"), 3);
    EXPECT_EQ(CountFileLines(s.ctx, s.dir / "missing.dat"), 0);
    EXPECT_EQ(CopyFileChecked(s.ctx, s.dir / "three.dat", s.dir / "copy.dat"), 1);
    EXPECT_EQ(ReadBytes(s.dir / "copy.dat"), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(CopyFileChecked(s.ctx, s.dir / "missing.dat", s.dir / "c2.dat"), -1);
    EXPECT_EQ(CopyFileChecked(s.ctx, s.dir / "three.dat", s.dir / "three.dat" / "x"), -1);
    // A FIFO in place of a project file is refused at once, not waited on for a writer.
    ASSERT_EQ(::mkfifo((s.dir / "setup.dat").c_str(), 0600), 0);
    EXPECT_THROW(s.files.ReadFile(s.dir / "setup.dat"), StorageError);
    EXPECT_EQ(CountFileLines(s.ctx, s.dir / "setup.dat"), 0);
    EXPECT_GE(FreeDiskMegabytes(s.ctx, s.dir.path()), 0);
    EXPECT_EQ(FreeDiskMegabytes(s.ctx, s.dir / "no" / "such" / "folder"), -1);

    MemoryFileSystem mem;
    StorageContext m{"/inst", s.dialogs, mem};
    mem.free_bytes = 1536ull * 1024;  // 1.5 MB rounds to the even 2
    EXPECT_EQ(FreeDiskMegabytes(m, "/inst"), 2);
    mem.free_bytes = 2560ull * 1024;  // 2.5 MB rounds to the even 2
    EXPECT_EQ(FreeDiskMegabytes(m, "/inst"), 2);
    mem.free_bytes = std::uint64_t{1} << 62;  // beyond 32 bits: the largest value
    EXPECT_EQ(FreeDiskMegabytes(m, "/inst"), 2147483647);
    mem.free_bytes = std::nullopt;
    EXPECT_EQ(FreeDiskMegabytes(m, "/inst"), -1);
}

TEST(MemoryFiles, BehaveLikeAFolderTree) {
    MemoryFileSystem mem;
    EXPECT_TRUE(mem.CreateFolders("/inst/p00001/20240101_1200"));
    mem.WriteFile("/inst/p00001/setup.dat", "x");
    EXPECT_TRUE(mem.IsFile("/inst/p00001/./setup.dat"));
    EXPECT_TRUE(mem.IsFolder("/inst/p00001"));
    EXPECT_EQ(mem.ListSubfolders("/inst/p00001"), std::vector<std::string>{"20240101_1200"});
    EXPECT_EQ(mem.ListFiles("/inst/p00001"), std::vector<std::string>{"setup.dat"});
    EXPECT_THROW(mem.WriteFile("/inst/nofolder/x.dat", "x"), StorageError);
    EXPECT_FALSE(mem.CreateFolders("/inst/p00001/setup.dat/sub"));
}

TEST(Autostart, EntryStartsTheProgramWithRunAndValidatesAndIsRemovedAgain) {
    TempFolder dir("lumivo-autostart");
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old != nullptr ? old : "";
    setenv("XDG_CONFIG_HOME", (dir.path() / "config").c_str(), 1);
    const auto folder = AutostartFolder();
    ASSERT_TRUE(folder);
    EXPECT_EQ(*folder, dir.path() / "config" / "autostart");
    EXPECT_FALSE(AutostartIsOn());

    struct Case {
        const char* program;
        const char* install;
        const char* exec;
    };
    const Case cases[] = {
        {"/usr/bin/lumivo", "", "Exec=/usr/bin/lumivo /RUN\n"},
        {"/opt/lumivo/bin/lumivo", "/data/lab 1", "Exec=/opt/lumivo/bin/lumivo --install \"/data/lab 1\" /RUN\n"},
        {"/opt/lu$mivo/lumivo", "/data/100%\\x",
         "Exec=\"/opt/lu\\\\$mivo/lumivo\" --install \"/data/100%%\\\\\\\\x\" /RUN\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        ASSERT_EQ(SetAutostart(true, c.program, c.install), "");
        EXPECT_TRUE(AutostartIsOn());
        const fs::path entry = *folder / kAutostartEntryName;
        const std::string text = ReadFile(entry);
        EXPECT_NE(text.find(c.exec), std::string::npos) << text;
        // The desktop's own checker accepts it.
        const RunResult check = lumivo::testing::Run({"/usr/bin/desktop-file-validate", entry.string()}, dir.path());
        EXPECT_EQ(check.status, 0) << check.out << check.err;
    }
    EXPECT_EQ(SetAutostart(false, "/usr/bin/lumivo", ""), "");
    EXPECT_FALSE(AutostartIsOn());
    // A folder that cannot be made says where.
    setenv("XDG_CONFIG_HOME", "/proc/lumivo-no/config", 1);
    EXPECT_NE(SetAutostart(true, "/usr/bin/lumivo", "").find("/proc/lumivo-no/config/autostart"),
              std::string::npos);
    if (old != nullptr) {
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}
