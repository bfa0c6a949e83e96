#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <stdexcept>
#include <string>
#include <system_error>

namespace lumivo::sim {
namespace {

// Nothing is owed to the host: wake up this often anyway to notice a stop request.
constexpr std::int64_t kIdleWaitUs = 20'000;
// Due bytes the host does not read are kept up to this much, then the oldest are dropped.
constexpr std::size_t kMaxOutgoing = 1 << 20;

std::int64_t MonotonicMicros() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

[[noreturn]] void ThrowSystemError(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

void MakeRaw115200(int fd, const std::string& name) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) ThrowSystemError("tcgetattr " + name);
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, B115200) != 0 || cfsetospeed(&tio, B115200) != 0) {
        ThrowSystemError("cfsetspeed " + name);
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0) ThrowSystemError("tcsetattr " + name);
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

void InstallDeviceLink(const std::filesystem::path& link, const std::filesystem::path& target) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (link.has_parent_path()) {
        fs::create_directories(link.parent_path(), ec);
        if (ec) {
            throw std::runtime_error("cannot create " + link.parent_path().string() + ": " +
                                     ec.message());
        }
    }
    const fs::file_status st = fs::symlink_status(link, ec);
    if (fs::exists(st) && !fs::is_symlink(st)) {
        throw std::runtime_error(link.string() + " exists and is not a link; not replacing it");
    }
    // Made under a temporary name and renamed over the old link, so a client never finds the
    // port missing while a stale link is replaced.
    fs::path tmp = link;
    tmp += ".new" + std::to_string(::getpid());
    fs::remove(tmp, ec);
    fs::create_symlink(target, tmp, ec);
    if (ec) throw std::runtime_error("cannot create link " + tmp.string() + ": " + ec.message());
    fs::rename(tmp, link, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(tmp, ignored);
        throw std::runtime_error("cannot create link " + link.string() + ": " + ec.message());
    }
}

PtyServer::PtyServer(Instrument& instrument, PtyServerOptions options)
    : instrument_(instrument), options_(std::move(options)) {
    try {
        master_fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_fd_ < 0) ThrowSystemError("posix_openpt");
        if (::grantpt(master_fd_) != 0) ThrowSystemError("grantpt");
        if (::unlockpt(master_fd_) != 0) ThrowSystemError("unlockpt");
        std::array<char, 128> name{};
        if (::ptsname_r(master_fd_, name.data(), name.size()) != 0) ThrowSystemError("ptsname");
        slave_path_ = name.data();

        // Our own slave descriptor keeps the pair alive while no client has the port open, so
        // the master never sees a hang-up between clients.
        slave_fd_ = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_fd_ < 0) ThrowSystemError("open " + slave_path_.string());
        MakeRaw115200(slave_fd_, slave_path_.string());
        MakeRaw115200(master_fd_, "pty master");

        const int flags = ::fcntl(master_fd_, F_GETFL);
        if (flags < 0 || ::fcntl(master_fd_, F_SETFL, flags | O_NONBLOCK) != 0) {
            ThrowSystemError("fcntl pty master");
        }
        // Packet mode reports the client's tcflush() calls, which stand for its purges.
        int on = 1;
        packet_mode_ = ::ioctl(master_fd_, TIOCPKT, &on) == 0;

        const std::int64_t now = MonotonicMicros();
        instrument_.HostSetLine(kLineRts, true, now);
        instrument_.HostSetLine(kLineDtr, true, now);
        host_line_free_us_ = now;

        if (!options_.link_path.empty()) {
            InstallDeviceLink(options_.link_path, slave_path_);
            link_path_ = options_.link_path;
            link_created_ = true;
        }
    } catch (...) {
        CloseFd(slave_fd_);
        CloseFd(master_fd_);
        throw;
    }
}

PtyServer::~PtyServer() {
    RemoveLink();
    CloseFd(slave_fd_);
    CloseFd(master_fd_);
}

void PtyServer::RemoveLink() {
    if (!link_created_) return;
    link_created_ = false;
    std::error_code ec;
    // Only our own link: another server may have taken the port name over since.
    if (std::filesystem::read_symlink(link_path_, ec) == slave_path_ && !ec) {
        std::filesystem::remove(link_path_, ec);
    }
}

void PtyServer::HandleMasterInput(std::int64_t now_us) {
    std::array<std::uint8_t, 4096> buf{};
    for (;;) {
        const ssize_t n = ::read(master_fd_, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // EAGAIN: all read; EIO: no slave open (cannot last, we hold one)
        std::span<const std::uint8_t> data(buf.data(), static_cast<std::size_t>(n));
        if (packet_mode_) {
            const std::uint8_t status = data[0];
            data = data.subspan(1);
            if (status != TIOCPKT_DATA) {
                if ((status & (TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE)) != 0) {
                    instrument_.HostPurge(now_us);
                    outgoing_.clear();
                }
                continue;
            }
        }
        // The host's bytes reach the instrument at the line rate, paced or not: an unpaced
        // instrument answers at once, but it cannot hear a frame faster than the line
        // carries it (the host relies on that to tell a late stray byte from a reply).
        const std::int64_t start = std::max(host_line_free_us_, now_us);
        for (std::size_t i = 0; i < data.size(); ++i) {
            const std::int64_t at = start + std::llround(static_cast<double>(i + 1) * kByteTimeUs);
            instrument_.HostWrite(data.subspan(i, 1), at);
            host_line_free_us_ = at;
        }
    }
}

void PtyServer::FlushOutgoing() {
    while (!outgoing_.empty()) {
        const ssize_t n = ::write(master_fd_, outgoing_.data(), outgoing_.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        outgoing_.erase(outgoing_.begin(), outgoing_.begin() + n);
    }
    if (outgoing_.size() > kMaxOutgoing) {
        outgoing_.erase(
            outgoing_.begin(),
            outgoing_.begin() + static_cast<std::ptrdiff_t>(outgoing_.size() - kMaxOutgoing));
    }
}

void PtyServer::Run() {
    // Wake up when a reply byte is due, not up to the default 50 us later: the bytes should
    // reach the host when the line would deliver them.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::int64_t last_delivery_us = std::numeric_limits<std::int64_t>::min() / 4;
    std::array<std::uint8_t, 512> buf{};
    while (!stop_.load()) {
        if (toggle_unplug_.exchange(false)) {
            if (instrument_.Unplugged()) {
                instrument_.Replug();
            } else {
                instrument_.Unplug();
                outgoing_.clear();
            }
        }

        // Take the host's news first: a flush it made meanwhile discards the replies still
        // on their way before any of them is handed over behind the flush.
        std::int64_t now = MonotonicMicros();
        HandleMasterInput(now);
        // Hand over every byte that is due.
        now = MonotonicMicros();
        const std::int64_t lead = std::max<std::int64_t>(options_.delivery_lead_us, 0);
        for (;;) {
            const std::size_t n = instrument_.HostRead(buf.data(), buf.size(), now + lead);
            if (n == 0) break;
            outgoing_.insert(outgoing_.end(), buf.begin(), buf.begin() + static_cast<long>(n));
            last_delivery_us = now;
        }
        FlushOutgoing();

        // Sleep until the next byte is due, but deliver at most every batch_us.
        std::int64_t wait_us = kIdleWaitUs;
        if (const auto next = instrument_.NextArrival()) {
            const std::int64_t wake = std::max(*next - lead, last_delivery_us + options_.batch_us);
            wait_us = std::clamp<std::int64_t>(wake - now, 0, kIdleWaitUs);
        }
        if (!outgoing_.empty()) wait_us = std::min<std::int64_t>(wait_us, 1000);

        pollfd pfd{master_fd_, POLLIN, 0};
        if (!outgoing_.empty()) pfd.events |= POLLOUT;
        const timespec timeout{static_cast<time_t>(wait_us / 1'000'000),
                               static_cast<long>((wait_us % 1'000'000) * 1000)};
        const int rc = ::ppoll(&pfd, 1, &timeout, nullptr);
        if (rc < 0) {
            if (errno == EINTR) continue;
            ThrowSystemError("ppoll");
        }
        if (rc == 0) continue;
        now = MonotonicMicros();
        if ((pfd.revents & POLLIN) != 0) HandleMasterInput(now);
        if ((pfd.revents & (POLLHUP | POLLERR)) != 0 && (pfd.revents & POLLIN) == 0) {
            // Should not happen while we hold the slave open; do not spin if it does.
            const timespec pause{0, 1'000'000};
            ::nanosleep(&pause, nullptr);
        }
    }
}

}  // namespace lumivo::sim
