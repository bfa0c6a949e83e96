// Shared helpers of the storage tests: a temporary installation folder on disk, byte-exact file
// access, a file system that fails on demand, and the golden files.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "core/storage/file_system.h"
#include "core/storage/storage_context.h"
#include "support/child_process.h"
#include "support/scripted_dialogs.h"

namespace lumivo::testing {

namespace fs = std::filesystem;

inline fs::path GoldenDir() {
    return fs::path(LUMIVO_SOURCE_DIR) / "tests/core/storage/golden";
}
inline fs::path DataDir() {
    return fs::path(LUMIVO_SOURCE_DIR) / "data";
}

inline std::string ReadBytes(const fs::path& p) {
    try {
        return LocalFileSystem().ReadFile(p);
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
        return {};
    }
}

inline void WriteBytes(const fs::path& p, const std::string& content) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
    ASSERT_TRUE(out.good()) << "cannot write " << p;
}

// A fresh folder, removed at the end of the test.
using TempDir = lumivo::testing::TempFolder;

// The machine's file system with failures injected into the low-level write steps: writes fail
// with `write_errno` once `write_budget` bytes have been written (a full disk), and renames fail
// for targets whose file name is `fail_rename_of`.
class FaultyFileSystem : public LocalFileSystem {
  public:
    long long write_budget = -1;  // bytes that may still be written; -1 = no limit
    int write_errno = ENOSPC;
    std::string fail_rename_of;
    int writes_failed = 0;

  protected:
    ssize_t WriteSome(int fd, const char* data, std::size_t size) override {
        if (write_budget >= 0) {
            if (write_budget == 0) {
                ++writes_failed;
                errno = write_errno;
                return -1;
            }
            size = std::min<std::size_t>(size, static_cast<std::size_t>(write_budget));
            write_budget -= static_cast<long long>(size);
        }
        return LocalFileSystem::WriteSome(fd, data, size);
    }
    int RenameFile(const char* from, const char* to) override {
        if (!fail_rename_of.empty() && fs::path(to).filename() == fail_rename_of) {
            errno = EIO;
            return -1;
        }
        return LocalFileSystem::RenameFile(from, to);
    }
};

// Files other than the expected ones left in a folder (temporary files of failed writes).
inline std::vector<std::string> StrayFiles(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) {
        const auto name = e.path().filename().string();
        if (name.find(".tmp") != std::string::npos) out.push_back(name);
    }
    return out;
}

// A storage context over a temporary installation folder on disk.
struct DiskStorage {
    TempDir dir;
    LocalFileSystem files;
    ScriptedDialogs dialogs;
    StorageContext ctx{dir.path(), dialogs, files, [] { return std::string(","); }};
};

}  // namespace lumivo::testing
