#include "core/acquisition/record_file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace lumivo {

int PosixFileOps::Open(const std::filesystem::path& path, bool* created) {
    for (;;) {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            if (created != nullptr) *created = true;
            return fd;
        }
        if (errno == EINTR) continue;
        if (errno != EEXIST) return -errno;
        fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0) {
            if (created != nullptr) *created = false;
            return fd;
        }
        if (errno == EINTR) continue;
        if (errno != ENOENT) return -errno;
        // Removed between the two calls: try again.
    }
}

std::int64_t PosixFileOps::Size(int handle) {
    struct stat st {};
    if (::fstat(handle, &st) != 0) return -errno;
    return static_cast<std::int64_t>(st.st_size);
}

std::int64_t PosixFileOps::ReadAt(int handle, void* data, std::size_t size, std::uint64_t offset) {
    for (;;) {
        const ssize_t n = ::pread(handle, data, size, static_cast<off_t>(offset));
        if (n >= 0) return n;
        if (errno != EINTR) return -errno;
    }
}

std::int64_t PosixFileOps::WriteAt(int handle, const void* data, std::size_t size,
                                   std::uint64_t offset) {
    for (;;) {
        const ssize_t n = ::pwrite(handle, data, size, static_cast<off_t>(offset));
        if (n >= 0) return n;
        if (errno != EINTR) return -errno;
    }
}

int PosixFileOps::Truncate(int handle, std::uint64_t size) {
    for (;;) {
        if (::ftruncate(handle, static_cast<off_t>(size)) == 0) return 0;
        if (errno != EINTR) return -errno;
    }
}

int PosixFileOps::Sync(int handle) {
    for (;;) {
        if (::fsync(handle) == 0) return 0;
        if (errno != EINTR) return -errno;
    }
}

int PosixFileOps::Close(int handle) {
    // Not retried on EINTR: on Linux the descriptor is released either way.
    return ::close(handle) == 0 ? 0 : -errno;
}

int PosixFileOps::SyncDirectory(const std::filesystem::path& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -errno;
    int rc = Sync(fd);
    // Some file systems cannot sync a directory; that is no write failure.
    if (rc == -EINVAL) rc = 0;
    ::close(fd);
    return rc;
}

int PosixFileOps::Remove(const std::filesystem::path& path) {
    return ::unlink(path.c_str()) == 0 ? 0 : -errno;
}

namespace {

std::string ErrorText(const std::string& what, const std::filesystem::path& path, std::int64_t rc) {
    return what + " " + path.string() + ": " + std::strerror(static_cast<int>(-rc));
}

// The end of the last whole CR LF line at or before `size`, reading backwards.
std::int64_t LastLineEnd(AppendFileOps& ops, int fd, std::uint64_t size) {
    constexpr std::size_t kChunk = 4096;
    std::uint8_t buf[kChunk + 1];
    std::uint64_t end = size;
    bool next_is_lf = false;  // the byte just after the current chunk is '\n'
    while (end > 0) {
        const std::uint64_t begin = end > kChunk ? end - kChunk : 0;
        const auto len = static_cast<std::size_t>(end - begin);
        std::size_t got = 0;
        while (got < len) {
            const std::int64_t n = ops.ReadAt(fd, buf + got, len - got, begin + got);
            if (n < 0) return n;
            if (n == 0) return -EIO;  // the file shrank under us
            got += static_cast<std::size_t>(n);
        }
        for (std::size_t i = len; i-- > 0;) {
            const bool lf_after = i + 1 < len ? buf[i + 1] == '\n' : next_is_lf;
            if (buf[i] == '\r' && lf_after) return static_cast<std::int64_t>(begin + i + 2);
        }
        next_is_lf = buf[0] == '\n';
        end = begin;
    }
    return 0;
}

}  // namespace

AppendOutcome AppendRecord(AppendFileOps& ops, const std::filesystem::path& path,
                           std::span<const std::uint8_t> bytes, RecordLayout layout,
                           const AppendOptions& options) {
    AppendOutcome out;
    const bool whole_record =
        layout.record_size > 0
            ? bytes.size() == layout.record_size
            : bytes.size() >= 2 && bytes[bytes.size() - 2] == '\r' && bytes.back() == '\n';
    if (!whole_record) {
        out.error = "refusing to append an incomplete record to " + path.string();
        return out;
    }

    const int fd = ops.Open(path, &out.created);
    if (fd < 0) {
        out.error = ErrorText("cannot open", path, fd);
        return out;
    }
    auto fail = [&](std::string message) {
        out.error = std::move(message);
        ops.Close(fd);
        return out;
    };

    const std::int64_t size = ops.Size(fd);
    if (size < 0) return fail(ErrorText("cannot measure", path, size));
    std::uint64_t start = static_cast<std::uint64_t>(size);
    if (layout.record_size > 0) {
        start -= start % layout.record_size;
    } else {
        const std::int64_t end = LastLineEnd(ops, fd, start);
        if (end < 0) return fail(ErrorText("cannot read", path, end));
        start = static_cast<std::uint64_t>(end);
    }
    if (start != static_cast<std::uint64_t>(size)) {
        // An incomplete record from an interrupted write: readers ignore it, and appending
        // after it would misalign everything that follows.
        const int rc = ops.Truncate(fd, start);
        if (rc < 0) return fail(ErrorText("cannot cut the incomplete record off", path, rc));
        out.dropped_tail_bytes = static_cast<std::uint64_t>(size) - start;
    }
    out.record_offset = start;

    auto undo = [&](const std::string& message) {
        const int rc = ops.Truncate(fd, start);
        if (rc < 0) {
            return fail(message + "; " +
                        ErrorText("could not remove the partial record from", path, rc));
        }
        fail(message);
        if (out.created) {
            const int rrc = ops.Remove(path);
            if (rrc < 0)
                out.error += "; " + ErrorText("could not remove the empty file", path, rrc);
        }
        return out;
    };

    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::int64_t n =
            ops.WriteAt(fd, bytes.data() + done, bytes.size() - done, start + done);
        if (n < 0) return undo(ErrorText("cannot write", path, n));
        if (n == 0) return undo(ErrorText("cannot write", path, -EIO));
        done += static_cast<std::size_t>(n);
    }
    if (options.sync) {
        const int rc = ops.Sync(fd);
        if (rc < 0) return undo(ErrorText("cannot flush", path, rc));
    }
    const int rc = ops.Close(fd);
    if (rc < 0) {
        out.error = ErrorText("cannot close", path, rc);
        return out;
    }
    if (options.sync && out.created) {
        const int drc = ops.SyncDirectory(path.parent_path());
        if (drc < 0) {
            out.error = ErrorText("cannot flush the folder of", path, drc);
            return out;
        }
    }
    out.ok = true;
    return out;
}

std::string TruncateFile(AppendFileOps& ops, const std::filesystem::path& path, std::uint64_t size,
                         bool sync) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return "cannot truncate " + path.string() + ": it is gone";
    bool created = false;
    const int fd = ops.Open(path, &created);
    if (fd < 0) return ErrorText("cannot open", path, fd);
    int rc = ops.Truncate(fd, size);
    if (rc == 0 && sync) rc = ops.Sync(fd);
    const int crc = ops.Close(fd);
    if (rc < 0) return ErrorText("cannot truncate", path, rc);
    if (crc < 0) return ErrorText("cannot close", path, crc);
    return {};
}

std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path.string() + ": " + std::strerror(errno));
    std::vector<std::uint8_t> data;
    in.seekg(0, std::ios::end);
    const std::streamoff len = in.tellg();
    in.seekg(0, std::ios::beg);
    if (len > 0) {
        data.resize(static_cast<std::size_t>(len));
        in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(len));
        data.resize(static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) throw std::runtime_error("cannot read " + path.string());
    return data;
}

}  // namespace lumivo
