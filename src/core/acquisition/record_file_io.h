// Appending whole records to the acquisition's data files without ever leaving a misaligned
// file behind.
//
// The data files are headerless sequences of records (fixed-size binary records, or text
// lines ending in CR LF) and their readers find record i by position. A record that is only
// partly written (disk full, I/O error, power cut) would shift every later record, so:
//  - before appending, an incomplete record at the end of the file (left by an earlier crash)
//    is cut off, so the new record starts at a record boundary;
//  - a write that fails part-way is undone by truncating the file back to where the record
//    started, and the caller is told;
//  - on request the record is flushed to stable storage (fsync, and the folder entry of a new
//    file), so a power cut loses at most the records not yet flushed.
//
// The file-system calls go through AppendFileOps so tests can inject failures at any step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace lumivo {

// The file-system calls an append needs. Each returns a negative errno value on failure.
class AppendFileOps {
  public:
    virtual ~AppendFileOps() = default;
    // Opens `path` for reading and writing, creating it when missing (*created tells which).
    // Returns a handle >= 0.
    virtual int Open(const std::filesystem::path& path, bool* created) = 0;
    // Current length of the file in bytes.
    virtual std::int64_t Size(int handle) = 0;
    // Reads up to `size` bytes at `offset`; returns the number read (0 at the end).
    virtual std::int64_t ReadAt(int handle, void* data, std::size_t size, std::uint64_t offset) = 0;
    // Writes up to `size` bytes at `offset`; returns the number written (may be fewer).
    virtual std::int64_t WriteAt(int handle, const void* data, std::size_t size,
                                 std::uint64_t offset) = 0;
    virtual int Truncate(int handle, std::uint64_t size) = 0;
    virtual int Sync(int handle) = 0;
    virtual int Close(int handle) = 0;
    // Flushes the folder entry of a newly created file.
    virtual int SyncDirectory(const std::filesystem::path& folder) = 0;
    // Removes a file (one this append created and could not fill).
    virtual int Remove(const std::filesystem::path& path) = 0;
};

// The real POSIX calls (interrupted calls are retried).
class PosixFileOps final : public AppendFileOps {
  public:
    int Open(const std::filesystem::path& path, bool* created) override;
    std::int64_t Size(int handle) override;
    std::int64_t ReadAt(int handle, void* data, std::size_t size, std::uint64_t offset) override;
    std::int64_t WriteAt(int handle, const void* data, std::size_t size,
                         std::uint64_t offset) override;
    int Truncate(int handle, std::uint64_t size) override;
    int Sync(int handle) override;
    int Close(int handle) override;
    int SyncDirectory(const std::filesystem::path& folder) override;
    int Remove(const std::filesystem::path& path) override;
};

// How records are delimited in a file.
struct RecordLayout {
    std::size_t record_size = 0;  // bytes per record; 0 = text lines ending in CR LF

    static RecordLayout Fixed(std::size_t bytes) { return RecordLayout{bytes}; }
    static RecordLayout Lines() { return RecordLayout{0}; }
};

struct AppendOptions {
    bool sync = false;  // flush the record (and a new file's folder entry) to stable storage
};

struct AppendOutcome {
    bool ok = false;
    std::string error;                     // what failed, when !ok
    std::uint64_t record_offset = 0;       // where the record starts (also its rollback point)
    std::uint64_t dropped_tail_bytes = 0;  // incomplete record cut off before appending
    bool created = false;                  // the file did not exist before
};

// Appends one record (`bytes` must be one whole record of the layout) at the end of `path`.
// On failure the file is left as it was before the call (a file the call created is removed
// again), apart from a dropped incomplete tail, and `error` says what happened (when even the
// truncation fails, the error says so; the next append cuts the partial record off).
AppendOutcome AppendRecord(AppendFileOps& ops, const std::filesystem::path& path,
                           std::span<const std::uint8_t> bytes, RecordLayout layout,
                           const AppendOptions& options);

// Truncates `path` back to `size` bytes (undoing an append); returns an empty string or the
// error. Does not create a missing file.
std::string TruncateFile(AppendFileOps& ops, const std::filesystem::path& path, std::uint64_t size,
                         bool sync);

// Reads a whole file; throws std::runtime_error naming the file when it cannot be read.
std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& path);

}  // namespace lumivo
