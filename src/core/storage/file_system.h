// The file operations the storage code needs, behind an interface so that tests and fuzz
// harnesses can inject failures (full disk, unwritable folder) or work in memory.
//
// Writes are atomic per file: the new content goes to a temporary file in the same folder, is
// flushed to the disk and then renamed over the old file, so a crash or a full disk never leaves
// a half-written file. A batch writes every temporary file first and renames only when all of
// them were written, so a failure while writing leaves all the old files in place.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/storage/field_record.h"  // StorageError

namespace lumivo {

// An open file descriptor, closed when it goes (a negative one is none).
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes it now; the result of close(2).
    int Release();

  private:
    int fd_;
};

// "Error [<path>]": how a message about a file names it, with its real path.
std::string FileErrorTag(const std::filesystem::path& file);

struct FileContent {
    std::filesystem::path path;
    std::string content;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // The whole content of a regular file. Throws StorageError when it cannot be read (missing,
    // not a regular file, larger than kMaxFileBytes, read error).
    virtual std::string ReadFile(const std::filesystem::path& p) = 0;
    // Replaces (or creates) every file of the batch; throws StorageError on failure, having
    // changed none of them when the failure came before the renames.
    virtual void WriteFiles(std::span<const FileContent> files) = 0;
    virtual bool IsFile(const std::filesystem::path& p) = 0;
    virtual bool IsFolder(const std::filesystem::path& p) = 0;
    // Whether anything is at p: a file, a folder, or something else (a FIFO, a device).
    virtual bool Exists(const std::filesystem::path& p) { return IsFile(p) || IsFolder(p); }
    // Names of the sub-folders of a folder; empty when it cannot be listed.
    virtual std::vector<std::string> ListSubfolders(const std::filesystem::path& p) = 0;
    // Names of the regular files of a folder; empty when it cannot be listed.
    virtual std::vector<std::string> ListFiles(const std::filesystem::path& p) = 0;
    // Creates the folder and its parents; false when it cannot.
    virtual bool CreateFolders(const std::filesystem::path& p) = 0;
    // Bytes available to the user on the file system holding p; nullopt when the query fails.
    virtual std::optional<std::uint64_t> FreeBytes(const std::filesystem::path& p) = 0;
    // Removes a regular file; false when it cannot (or the file system does not remove).
    virtual bool RemoveFile(const std::filesystem::path& /*p*/) { return false; }
    // Removes a folder that holds nothing; false when it is not empty or cannot be removed.
    virtual bool RemoveEmptyFolder(const std::filesystem::path& /*p*/) { return false; }

    void WriteFile(const std::filesystem::path& p, std::string content) {
        const FileContent one{p, std::move(content)};
        WriteFiles(std::span<const FileContent>(&one, 1));
    }

    // Configuration files are small; anything larger is refused rather than read into memory.
    static constexpr std::uint64_t kMaxFileBytes = 16u * 1024u * 1024u;
};

// The machine's file system (POSIX).
class LocalFileSystem : public FileSystem {
  public:
    std::string ReadFile(const std::filesystem::path& p) override;
    void WriteFiles(std::span<const FileContent> files) override;
    bool IsFile(const std::filesystem::path& p) override;
    bool IsFolder(const std::filesystem::path& p) override;
    bool Exists(const std::filesystem::path& p) override;
    std::vector<std::string> ListSubfolders(const std::filesystem::path& p) override;
    std::vector<std::string> ListFiles(const std::filesystem::path& p) override;
    bool CreateFolders(const std::filesystem::path& p) override;
    std::optional<std::uint64_t> FreeBytes(const std::filesystem::path& p) override;
    bool RemoveFile(const std::filesystem::path& p) override;
    bool RemoveEmptyFolder(const std::filesystem::path& p) override;

  protected:
    // The low-level steps of a write, overridable by tests to inject failures. They follow the
    // POSIX calls: -1 with errno set on failure.
    virtual ssize_t WriteSome(int fd, const char* data, std::size_t size);
    virtual int SyncFile(int fd);
    virtual int RenameFile(const char* from, const char* to);

  private:
    // Writes content to a new temporary file beside target; returns its path.
    std::filesystem::path WriteTemporary(const std::filesystem::path& target,
                                         std::string_view content);
    std::atomic<unsigned> temp_counter_{0};
};

// A file system held in memory, for fuzzing and for tests that need no disk. Paths are compared
// after lexical normalisation; folders must exist before files are written into them.
class MemoryFileSystem : public FileSystem {
  public:
    std::string ReadFile(const std::filesystem::path& p) override;
    void WriteFiles(std::span<const FileContent> files) override;
    bool IsFile(const std::filesystem::path& p) override;
    bool IsFolder(const std::filesystem::path& p) override;
    std::vector<std::string> ListSubfolders(const std::filesystem::path& p) override;
    std::vector<std::string> ListFiles(const std::filesystem::path& p) override;
    bool CreateFolders(const std::filesystem::path& p) override;
    std::optional<std::uint64_t> FreeBytes(const std::filesystem::path&) override {
        return free_bytes;
    }
    bool RemoveFile(const std::filesystem::path& p) override;
    bool RemoveEmptyFolder(const std::filesystem::path& p) override;

    std::optional<std::uint64_t> free_bytes = std::uint64_t{1} << 40;

  private:
    static std::string Key(const std::filesystem::path& p);
    std::map<std::string, std::string> files_;
    std::set<std::string> folders_;
};

}  // namespace lumivo
