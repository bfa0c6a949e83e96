#include "core/acquisition/recording_mark.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace lumivo {

namespace {

int OpenFolder(const std::filesystem::path& folder) {
    int fd = -1;
    do {
        fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

struct flock WholeFile(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return lock;
}

}  // namespace

bool RecordingMark::Take(const std::filesystem::path& folder) {
    Release();
    const int fd = OpenFolder(folder);
    if (fd < 0) return false;
    // A read lock: a folder can only be opened for reading, and a write lock asked for by a
    // test conflicts with it all the same.
    struct flock lock = WholeFile(F_RDLCK);
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void RecordingMark::Release() {
    if (fd_ >= 0) ::close(fd_);  // closing the description drops its lock
    fd_ = -1;
}

bool IsBeingRecorded(const std::filesystem::path& folder) {
    const int fd = OpenFolder(folder);
    if (fd < 0) return false;
    struct flock probe = WholeFile(F_WRLCK);
    const bool marked = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return marked;
}

}  // namespace lumivo
