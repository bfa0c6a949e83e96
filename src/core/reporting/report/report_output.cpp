#include "core/reporting/report/report_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace lumivo::reporting {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const char* what, const fs::path& target, int err) {
    throw std::runtime_error(std::string(what) + " " + target.string() + ": " + std::strerror(err));
}

// A new, empty temporary file beside `target` with the permissions of the file it replaces.
int CreateTemporary(const fs::path& target, fs::path& temporary) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary =
            target.parent_path() / ("." + target.filename().string() + ".tmp" +
                                    std::to_string(::getpid()) + "_" + std::to_string(counter++));
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            struct stat st {};
            if (::stat(target.c_str(), &st) == 0) (void)::fchmod(fd, st.st_mode & 07777);
            return fd;
        }
        if (errno != EEXIST) Fail("Cannot write", target, errno);
    }
    Fail("Cannot write", target, EEXIST);
}

void WriteAll(int fd, const char* data, std::size_t size, const fs::path& target) {
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) Fail("Cannot write", target, errno);
        if (put == 0) Fail("Cannot write", target, ENOSPC);
        data += put;
        size -= static_cast<std::size_t>(put);
    }
}

// Flushes and closes `fd`, renames `temporary` over `target` and flushes the folder.
void Finish(int fd, const fs::path& temporary, const fs::path& target) {
    if (::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        Fail("Cannot write", target, err);
    }
    if (::close(fd) != 0) Fail("Cannot write", target, errno);
    if (::rename(temporary.c_str(), target.c_str()) != 0) Fail("Cannot replace", target, errno);
    const int folder = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
}

}  // namespace

AtomicFileSink::AtomicFileSink(fs::path target) : target_(std::move(target)) {
    fd_ = CreateTemporary(target_, temporary_);
}

AtomicFileSink::~AtomicFileSink() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(temporary_.c_str());
    }
}

void AtomicFileSink::Write(std::string_view text) {
    if (fd_ < 0) throw std::logic_error("report file already committed");
    WriteAll(fd_, text.data(), text.size(), target_);
}

void AtomicFileSink::Commit() {
    if (fd_ < 0) throw std::logic_error("report file already committed");
    const int fd = fd_;
    fd_ = -1;
    try {
        Finish(fd, temporary_, target_);
    } catch (...) {
        ::unlink(temporary_.c_str());
        throw;
    }
}

void TeeSink::Write(std::string_view text) {
    primary_.Write(text);
    if (secondary_ == nullptr) return;
    try {
        secondary_->Write(text);
    } catch (const std::exception& e) {
        secondary_error_ = e.what();
        secondary_ = nullptr;
    }
}

}  // namespace lumivo::reporting
