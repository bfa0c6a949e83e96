#include "core/device/posix_serial.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace lumivo {
namespace {

std::int64_t NowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

struct SpeedEntry {
    std::uint32_t baud;
    speed_t code;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

class PosixSerial final : public SerialTransport {
  public:
    explicit PosixSerial(int fd) : fd_(fd) { ResetCounters(); }
    ~PosixSerial() override { Close(); }
    PosixSerial(const PosixSerial&) = delete;
    PosixSerial& operator=(const PosixSerial&) = delete;

    int GetLineSettings(LineSettings& out) override {
        termios tio{};
        if (tcgetattr(fd_, &tio) != 0) return errno;
        const speed_t speed = cfgetospeed(&tio);
        for (const auto& e : kSpeeds) {
            if (e.code == speed) out.baud = e.baud;
        }
        switch (tio.c_cflag & CSIZE) {
            case CS5:
                out.data_bits = 5;
                break;
            case CS6:
                out.data_bits = 6;
                break;
            case CS7:
                out.data_bits = 7;
                break;
            default:
                out.data_bits = 8;
                break;
        }
        if ((tio.c_cflag & PARENB) == 0) {
            out.parity = Parity::None;
        } else if ((tio.c_cflag & CMSPAR) != 0) {
            out.parity = (tio.c_cflag & PARODD) != 0 ? Parity::Mark : Parity::Space;
        } else {
            out.parity = (tio.c_cflag & PARODD) != 0 ? Parity::Odd : Parity::Even;
        }
        out.stop_bits = (tio.c_cflag & CSTOPB) != 0 ? StopBits::Two : StopBits::One;
        // Flow control comes from the settings text only: a terminal's own defaults (IXON on
        // a fresh tty) would swallow the bytes 0x11 and 0x13 of binary replies.
        out.xon_xoff = false;
        out.rts_cts = false;
        return 0;
    }

    int Configure(const LineSettings& s) override {
        const SpeedEntry* speed = nullptr;
        for (const auto& e : kSpeeds) {
            if (e.baud == s.baud) speed = &e;
        }
        // A terminal has no 1.5 stop bits, and only the standard speeds are portable.
        if (speed == nullptr || s.stop_bits == StopBits::OnePointFive || s.data_bits < 5 ||
            s.data_bits > 8) {
            return EINVAL;
        }
        termios tio{};
        if (tcgetattr(fd_, &tio) != 0) return errno;
        // Raw 8-bit transfer: no echo, no signals, no line editing, no character translation.
        tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                              ICRNL | IXON | IXOFF | IXANY | INPCK);
        tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
        tio.c_cflag |= CLOCAL | CREAD;
        switch (s.data_bits) {
            case 5:
                tio.c_cflag |= CS5;
                break;
            case 6:
                tio.c_cflag |= CS6;
                break;
            case 7:
                tio.c_cflag |= CS7;
                break;
            default:
                tio.c_cflag |= CS8;
                break;
        }
        switch (s.parity) {
            case Parity::None:
                break;
            case Parity::Odd:
                tio.c_cflag |= PARENB | PARODD;
                break;
            case Parity::Even:
                tio.c_cflag |= PARENB;
                break;
            case Parity::Mark:
                tio.c_cflag |= PARENB | PARODD | CMSPAR;
                break;
            case Parity::Space:
                tio.c_cflag |= PARENB | CMSPAR;
                break;
        }
        if (s.parity != Parity::None) tio.c_iflag |= INPCK;
        if (s.stop_bits == StopBits::Two) tio.c_cflag |= CSTOPB;
        if (s.xon_xoff) tio.c_iflag |= IXON | IXOFF;
        if (s.rts_cts) tio.c_cflag |= CRTSCTS;
        // Reads never block in the kernel: ppoll() does the waiting.
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (cfsetispeed(&tio, speed->code) != 0 || cfsetospeed(&tio, speed->code) != 0) {
            return errno;
        }
        if (tcsetattr(fd_, TCSANOW, &tio) != 0) return errno;
        // Modem lines: a pseudo-terminal has none, which is not an error here.
        SetModemBit(TIOCM_DTR, s.dtr_on_open);
        if (!s.rts_cts) SetModemBit(TIOCM_RTS, s.rts_on_open);
        return 0;
    }

    int Purge() override {
        if (fd_ < 0) return EBADF;
        if (tcflush(fd_, TCIOFLUSH) != 0) return errno;
        return 0;
    }

    IoResult Read(std::uint8_t* out, std::size_t max, const ReadTimeouts& timeouts) override {
        IoResult result;
        if (fd_ < 0) {
            result.error = EBADF;
            return result;
        }
        const std::int64_t start = NowUs();
        const std::int64_t total_deadline = start + std::max<std::int64_t>(timeouts.total_us, 0);
        std::int64_t last_byte = 0;
        bool hung_up = false;
        while (result.bytes < max) {
            // Take whatever is already there before deciding whether to wait.
            const ssize_t n = ::read(fd_, out + result.bytes, max - result.bytes);
            if (n > 0) {
                result.bytes += static_cast<std::size_t>(n);
                last_byte = NowUs();
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                result.error = errno;
                return result;
            }
            if (hung_up) {
                // The other end went away (a pseudo-terminal whose master was closed): poll
                // keeps reporting it and read finds nothing, so waiting longer is pointless.
                result.error = EIO;
                return result;
            }
            std::int64_t deadline = total_deadline;
            if (result.bytes > 0) deadline = std::min(deadline, last_byte + timeouts.interval_us);
            const std::int64_t wait_us = deadline - NowUs();
            if (wait_us <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            const timespec ts{static_cast<time_t>(wait_us / 1'000'000),
                              static_cast<long>((wait_us % 1'000'000) * 1000)};
            const int rc = ppoll(&p, 1, &ts, nullptr);
            if (rc < 0) {
                if (errno == EINTR) continue;
                result.error = errno;
                return result;
            }
            if (rc == 0) break;
            if ((p.revents & POLLNVAL) != 0) {
                result.error = EBADF;
                return result;
            }
            hung_up = (p.revents & (POLLHUP | POLLERR)) != 0;
        }
        return result;
    }

    IoResult Write(std::span<const std::uint8_t> bytes, std::int64_t timeout_us) override {
        IoResult result;
        if (fd_ < 0) {
            result.error = EBADF;
            return result;
        }
        const std::int64_t deadline = NowUs() + std::max<std::int64_t>(timeout_us, 0);
        while (result.bytes < bytes.size()) {
            const ssize_t n =
                ::write(fd_, bytes.data() + result.bytes, bytes.size() - result.bytes);
            if (n > 0) {
                result.bytes += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                result.error = errno;
                return result;
            }
            const std::int64_t wait_us = deadline - NowUs();
            if (wait_us <= 0) return result;  // timed out: fewer bytes, no error
            pollfd p{fd_, POLLOUT, 0};
            const timespec ts{static_cast<time_t>(wait_us / 1'000'000),
                              static_cast<long>((wait_us % 1'000'000) * 1000)};
            if (ppoll(&p, 1, &ts, nullptr) < 0 && errno != EINTR) {
                result.error = errno;
                return result;
            }
        }
        // The write is complete when the bytes have left the host, as with a port written
        // synchronously: a purge right after it must not discard the frame just written.
        WaitOutputSent(deadline);
        return result;
    }

    int SetLine(LineFunction f) override {
        if (fd_ < 0) return EBADF;
        int rc = 0;
        switch (f) {
            case LineFunction::SetBreak:
                rc = ioctl(fd_, TIOCSBRK);
                break;
            case LineFunction::ClearBreak:
                rc = ioctl(fd_, TIOCCBRK);
                break;
            case LineFunction::SetDtr:
                return ModemBit(TIOCMBIS, TIOCM_DTR);
            case LineFunction::ClearDtr:
                return ModemBit(TIOCMBIC, TIOCM_DTR);
            case LineFunction::SetRts:
                return ModemBit(TIOCMBIS, TIOCM_RTS);
            case LineFunction::ClearRts:
                return ModemBit(TIOCMBIC, TIOCM_RTS);
            case LineFunction::None:
                return EINVAL;
        }
        return rc == 0 ? 0 : errno;
    }

    std::uint32_t TakeErrorFlags() override {
        serial_icounter_struct now{};
        if (fd_ < 0 || ioctl(fd_, TIOCGICOUNT, &now) != 0) return 0;
        std::uint32_t flags = 0;
        if (now.buf_overrun != counters_.buf_overrun) flags |= kCommRxOver;
        if (now.overrun != counters_.overrun) flags |= kCommOverrun;
        if (now.parity != counters_.parity) flags |= kCommRxParity;
        if (now.frame != counters_.frame) flags |= kCommFrame;
        if (now.brk != counters_.brk) flags |= kCommBreak;
        counters_ = now;
        return flags;
    }

    // A terminal device is a real line (or a simulator that keeps its pace).
    bool LineIsPaced() const override { return true; }

    int Close() override {
        if (fd_ < 0) return 0;
        // Leave the device openable by others again; TIOCEXCL would outlive this descriptor
        // on a pseudo-terminal whose master stays open.
        ioctl(fd_, TIOCNXCL);
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0 && errno != EINTR) return errno;
        return 0;
    }

  private:
    int ModemBit(unsigned long request, int bit) {
        if (ioctl(fd_, request, &bit) != 0) return errno;
        return 0;
    }

    void SetModemBit(int bit, bool on) { ModemBit(on ? TIOCMBIS : TIOCMBIC, bit); }

    void WaitOutputSent(std::int64_t deadline) {
        for (;;) {
            int queued = 0;
            if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
            const std::int64_t left = deadline - NowUs();
            if (left <= 0) return;
            // About the time the queued bytes need on the line, in small steps.
            std::this_thread::sleep_for(
                std::chrono::microseconds(std::min<std::int64_t>(left, 200)));
        }
    }

    void ResetCounters() {
        if (ioctl(fd_, TIOCGICOUNT, &counters_) != 0) counters_ = {};
    }

    int fd_ = -1;
    serial_icounter_struct counters_{};
};

}  // namespace

TransportOpenResult OpenPosixSerial(const std::filesystem::path& device) {
    TransportOpenResult result;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.error = errno;
        return result;
    }
    if (!isatty(fd)) {
        ::close(fd);
        result.error = ENOTTY;
        return result;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        result.error = (e == EWOULDBLOCK) ? EBUSY : e;
        return result;
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        const int e = errno;
        ::close(fd);
        result.error = e;
        return result;
    }
    result.transport = std::make_unique<PosixSerial>(fd);
    return result;
}

}  // namespace lumivo
