#include "core/storage/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/storage/field_record.h"

namespace lumivo {

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
}

int FileDescriptor::Release() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd);
}

namespace fs = std::filesystem;

namespace {

std::string SystemMessage(int err) {
    return std::system_category().message(err);
}

[[noreturn]] void Fail(const std::string& what, const fs::path& p, int err) {
    throw StorageError(what + " " + p.string() + ": " + SystemMessage(err));
}

void SyncFolder(const fs::path& folder) {
    // Makes the renames durable; a failure here does not undo the (already visible) rename.
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

std::string FileErrorTag(const fs::path& file) {
    return "Error [" + file.string() + "]";
}

std::string LocalFileSystem::ReadFile(const fs::path& p) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
    FileDescriptor fd(::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) Fail("Cannot open", p, errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) Fail("Cannot read", p, errno);
    if (!S_ISREG(st.st_mode)) throw StorageError("Not a regular file: " + p.string());
    if (static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes)
        throw StorageError("File too large: " + p.string());
    std::string out;
    char buf[8192];
    while (true) {
        const ssize_t got = ::read(fd.get(), buf, sizeof buf);
        if (got < 0) {
            if (errno == EINTR) continue;
            Fail("Cannot read", p, errno);
        }
        if (got == 0) break;
        out.append(buf, static_cast<std::size_t>(got));
        if (out.size() > kMaxFileBytes) throw StorageError("File too large: " + p.string());
    }
    return out;
}

ssize_t LocalFileSystem::WriteSome(int fd, const char* data, std::size_t size) {
    return ::write(fd, data, size);
}

int LocalFileSystem::SyncFile(int fd) {
    return ::fsync(fd);
}

int LocalFileSystem::RenameFile(const char* from, const char* to) {
    return ::rename(from, to);
}

fs::path LocalFileSystem::WriteTemporary(const fs::path& target, std::string_view content) {
    const fs::path folder = target.parent_path();
    fs::path tmp;
    int raw = -1;
    for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
        tmp = folder / ("." + target.filename().string() + ".tmp" + std::to_string(::getpid()) +
                        "_" + std::to_string(temp_counter_++));
        raw = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (raw < 0 && errno != EEXIST) Fail("Cannot write", target, errno);
    }
    if (raw < 0) Fail("Cannot write", target, EEXIST);
    FileDescriptor fd(raw);
    try {
        // Keep the permissions of the file being replaced.
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0) (void)::fchmod(fd.get(), st.st_mode & 07777);
        std::size_t done = 0;
        while (done < content.size()) {
            const ssize_t put = WriteSome(fd.get(), content.data() + done, content.size() - done);
            if (put < 0) {
                if (errno == EINTR) continue;
                Fail("Cannot write", target, errno);
            }
            if (put == 0) Fail("Cannot write", target, ENOSPC);
            done += static_cast<std::size_t>(put);
        }
        if (SyncFile(fd.get()) != 0) Fail("Cannot write", target, errno);
        if (fd.Release() != 0) Fail("Cannot write", target, errno);
    } catch (...) {
        ::unlink(tmp.c_str());
        throw;
    }
    return tmp;
}

void LocalFileSystem::WriteFiles(std::span<const FileContent> files) {
    std::vector<fs::path> temps;
    try {
        for (const auto& f : files) temps.push_back(WriteTemporary(f.path, f.content));
    } catch (...) {
        for (const auto& t : temps) ::unlink(t.c_str());
        throw;
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (RenameFile(temps[i].c_str(), files[i].path.c_str()) != 0) {
            const int err = errno;
            for (std::size_t k = i; k < temps.size(); ++k) ::unlink(temps[k].c_str());
            Fail("Cannot replace", files[i].path, err);
        }
    }
    std::vector<fs::path> folders;
    for (const auto& f : files) folders.push_back(f.path.parent_path());
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const auto& d : folders) SyncFolder(d);
}

bool LocalFileSystem::IsFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

bool LocalFileSystem::IsFolder(const fs::path& p) {
    std::error_code ec;
    return fs::is_directory(p, ec);
}

bool LocalFileSystem::Exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

namespace {

// The names of the entries of folder `p` that `keep` accepts, sorted; none when `p` cannot be
// read.
template <typename Keep>
std::vector<std::string> ListEntries(const fs::path& p, Keep keep) {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::directory_iterator it(p, ec), end; !ec && it != end; it.increment(ec)) {
        if (keep(*it)) out.push_back(it->path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

std::vector<std::string> LocalFileSystem::ListSubfolders(const fs::path& p) {
    return ListEntries(p, [](const fs::directory_entry& e) {
        std::error_code ec;
        return e.is_directory(ec);
    });
}

std::vector<std::string> LocalFileSystem::ListFiles(const fs::path& p) {
    return ListEntries(p, [](const fs::directory_entry& e) {
        std::error_code ec;
        return e.is_regular_file(ec);
    });
}

bool LocalFileSystem::CreateFolders(const fs::path& p) {
    std::error_code ec;
    fs::create_directories(p, ec);
    return fs::is_directory(p, ec);
}

std::optional<std::uint64_t> LocalFileSystem::FreeBytes(const fs::path& p) {
    struct statvfs st {};
    if (::statvfs(p.c_str(), &st) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.f_bavail) * static_cast<std::uint64_t>(st.f_frsize);
}

bool LocalFileSystem::RemoveFile(const fs::path& p) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(p, ec))) return false;
    return fs::remove(p, ec) && !ec;
}

bool LocalFileSystem::RemoveEmptyFolder(const fs::path& p) {
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(p, ec)) || !fs::is_empty(p, ec) || ec) return false;
    return fs::remove(p, ec) && !ec;
}

// ---- MemoryFileSystem ----

std::string MemoryFileSystem::Key(const fs::path& p) {
    std::string k = p.lexically_normal().generic_string();
    while (k.size() > 1 && k.back() == '/') k.pop_back();
    return k;
}

std::string MemoryFileSystem::ReadFile(const fs::path& p) {
    auto it = files_.find(Key(p));
    if (it == files_.end()) throw StorageError("Cannot open " + p.string() + ": No such file");
    return it->second;
}

void MemoryFileSystem::WriteFiles(std::span<const FileContent> files) {
    for (const auto& f : files) {
        const fs::path parent = f.path.parent_path();
        if (!parent.empty() && !IsFolder(parent))
            throw StorageError("Cannot write " + f.path.string() + ": No such folder");
        if (folders_.count(Key(f.path)))
            throw StorageError("Cannot write " + f.path.string() + ": Is a folder");
    }
    for (const auto& f : files) files_[Key(f.path)] = f.content;
}

bool MemoryFileSystem::IsFile(const fs::path& p) {
    return files_.count(Key(p)) != 0;
}

bool MemoryFileSystem::IsFolder(const fs::path& p) {
    const std::string k = Key(p);
    return k == "." || k == "/" || folders_.count(k) != 0;
}

std::vector<std::string> MemoryFileSystem::ListSubfolders(const fs::path& p) {
    std::vector<std::string> out;
    const std::string prefix = Key(p) + "/";
    for (const auto& d : folders_)
        if (d.size() > prefix.size() && d.compare(0, prefix.size(), prefix) == 0 &&
            d.find('/', prefix.size()) == std::string::npos)
            out.push_back(d.substr(prefix.size()));
    return out;
}

std::vector<std::string> MemoryFileSystem::ListFiles(const fs::path& p) {
    std::vector<std::string> out;
    const std::string prefix = Key(p) + "/";
    for (const auto& [k, v] : files_)
        if (k.size() > prefix.size() && k.compare(0, prefix.size(), prefix) == 0 &&
            k.find('/', prefix.size()) == std::string::npos)
            out.push_back(k.substr(prefix.size()));
    return out;
}

bool MemoryFileSystem::CreateFolders(const fs::path& p) {
    fs::path acc;
    for (const auto& part : p.lexically_normal()) {
        acc /= part;
        const std::string k = Key(acc);
        if (files_.count(k)) return false;
        if (k != "/" && k != ".") folders_.insert(k);
    }
    return true;
}

bool MemoryFileSystem::RemoveFile(const fs::path& p) {
    return files_.erase(Key(p)) != 0;
}

bool MemoryFileSystem::RemoveEmptyFolder(const fs::path& p) {
    const std::string k = Key(p);
    if (folders_.count(k) == 0 || !ListFiles(p).empty() || !ListSubfolders(p).empty()) return false;
    folders_.erase(k);
    return true;
}

}  // namespace lumivo
