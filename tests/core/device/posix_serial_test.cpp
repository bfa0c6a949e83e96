// The POSIX transport on a real pseudo-terminal pair; the test holds the master side and plays
// the instrument. These tests run in real time, so there are few of them and their bounds are
// generous.
#include "core/device/posix_serial.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/device/mod_comm.h"
#include "core/platform/install_dir.h"

namespace lumivo {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kSettings = "baud=115200 parity=N data=8 stop=1";

class Pty {
  public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        char name[128];
        if (ptsname_r(master_, name, sizeof name) != 0) return;
        slave_ = name;
    }
    ~Pty() { CloseMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0 && !slave_.empty(); }
    const std::string& slave() const { return slave_; }
    void Send(const std::vector<std::uint8_t>& bytes) const {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads what the host wrote, waiting up to `ms` for it.
    std::vector<std::uint8_t> Receive(std::size_t n, int ms = 1000) const {
        std::vector<std::uint8_t> out;
        const auto deadline = Clock::now() + milliseconds(ms);
        while (out.size() < n && Clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            std::uint8_t buf[256];
            const ssize_t got = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
            if (got > 0) out.insert(out.end(), buf, buf + got);
        }
        return out;
    }
    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

  private:
    int master_ = -1;
    std::string slave_;
};

// A temporary installation folder with ports/COMn pointing at a device.
class InstallDir {
  public:
    InstallDir() {
        char tmpl[] = "/tmp/lumivo-dev-test-XXXXXX";
        dir_ = mkdtemp(tmpl);
        fs::create_directories(dir_ / "ports");
    }
    ~InstallDir() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    void Link(int n, const fs::path& target) const {
        fs::create_symlink(target, ComLinkPath(dir_, n));
    }
    const fs::path& path() const { return dir_; }

  private:
    fs::path dir_;
};

struct PtyPort {
    Pty pty;
    InstallDir install;
    SystemClock clock;
    CommPorts ports{clock, TerminalDeviceOpener(install.path())};

    PtyPort() {
        if (!pty.ok()) return;
        install.Link(1, pty.slave());
    }
    std::int32_t Open() { return CommOpen(ports, 1, "COM1", kSettings); }
    SerialTransport& transport() { return *ports.table[1].handle; }
};

std::vector<std::uint8_t> Seq(std::size_t n, std::uint8_t first = 0) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(first + i);
    return v;
}

double MsSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

TEST(PosixSerial, OpensTheComLinkRawAt115200) {
    PtyPort p;
    ASSERT_TRUE(p.pty.ok());
    ASSERT_EQ(p.Open(), 0) << p.ports.error.operation << ": " << p.ports.error.message;

    const int fd = ::open(p.pty.slave().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    ::close(fd);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (ICRNL | IXON | ISTRIP), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);

    // Bytes go through untranslated in both directions.
    const std::vector<std::uint8_t> frame{0xFF, 0x00, 0x0D, 0x0A, 0xF0};
    EXPECT_EQ(CommWrite(p.ports, 1, std::string(frame.begin(), frame.end())), 5);
    EXPECT_EQ(p.pty.Receive(5), frame);
    p.pty.Send({0x0D, 0x11, 0x13, 0x03, 0xFF});
    std::string in;
    EXPECT_EQ(CommRead(p.ports, 1, in, 5), 5);
    EXPECT_EQ(in, std::string("\x0D\x11\x13\x03\xFF", 5));
}

TEST(PosixSerial, SecondProgramCannotShareTheOpenPort) {
    PtyPort p;
    ASSERT_TRUE(p.pty.ok());
    ASSERT_EQ(p.Open(), 0);
    SystemClock clock;
    CommPorts other(clock, TerminalDeviceOpener(p.install.path()));
    EXPECT_EQ(CommOpen(other, 1, "COM1", kSettings), EBUSY);
    EXPECT_EQ(other.error.operation, "CommOpen (CreateFile)");
    EXPECT_EQ(other.error.message, "Device or resource busy");
    EXPECT_EQ(CommClose(p.ports, 1), 0);
    EXPECT_EQ(CommOpen(other, 1, "COM1", kSettings), 0);
}

TEST(PosixSerial, OnlyTerminalsOpenAndUnsupportedSettingsAreRefused) {
    InstallDir install;
    const fs::path file = install.path() / "not-a-tty";
    std::ofstream(file) << "x";
    install.Link(2, file);
    install.Link(3, install.path() / "missing");
    SystemClock clock;
    CommPorts ports(clock, TerminalDeviceOpener(install.path()));
    EXPECT_EQ(CommOpen(ports, 2, "COM2", kSettings), ENOTTY);
    EXPECT_EQ(CommOpen(ports, 3, "COM3", kSettings), ENOENT);
    EXPECT_FALSE(ports.table[3].open);

    Pty pty;
    ASSERT_TRUE(pty.ok());
    install.Link(4, pty.slave());
    for (const char* settings : {"baud=12345 parity=N data=8 stop=1", "baud=9600 stop=1.5"}) {
        SCOPED_TRACE(settings);
        EXPECT_EQ(CommOpen(ports, 4, "COM4", settings), EINVAL);
        EXPECT_EQ(ports.error.operation, "CommOpen (SetCommState)");
        EXPECT_EQ(CommClose(ports, 4), 0);
    }
}

TEST(PosixSerial, ReplyInPiecesWithAShortGapIsReadWhole) {
    PtyPort p;
    ASSERT_TRUE(p.pty.ok());
    ASSERT_EQ(p.Open(), 0);
    std::thread device([&] {
        p.pty.Send(Seq(96));
        // Far below the 100 ms interval, so that a busy machine delaying this thread by tens
        // of milliseconds still keeps the gap short.
        std::this_thread::sleep_for(milliseconds(10));
        p.pty.Send(Seq(96, 96));
    });
    std::uint8_t buf[192];
    const auto t0 = Clock::now();
    const IoResult r = p.transport().Read(buf, 192, {100'000, 500'000});
    const double ms = MsSince(t0);
    device.join();
    EXPECT_EQ(r.error, 0);
    ASSERT_EQ(r.bytes, 192u);  // one read: the gap was shorter than the interval timeout
    EXPECT_EQ(std::vector<std::uint8_t>(buf, buf + 192), Seq(192));
    EXPECT_LT(ms, 400.0);
}

TEST(PosixSerial, IntervalTimeoutEndsAReadAndTheNextAttemptTakesTheRest) {
    PtyPort p;
    ASSERT_TRUE(p.pty.ok());
    ASSERT_EQ(p.Open(), 0);
    std::thread device([&] {
        p.pty.Send(Seq(50));
        std::this_thread::sleep_for(milliseconds(60));
        p.pty.Send(Seq(46, 50));
        std::this_thread::sleep_for(milliseconds(500));
        p.pty.Send(Seq(96, 96));
    });
    std::uint8_t buf[192];
    const auto t0 = Clock::now();
    const IoResult r = p.transport().Read(buf, 192, {100'000, 500'000});
    const double ms = MsSince(t0);
    // 100 ms after the last byte (at about 60 ms), well before the 500 ms total.
    EXPECT_EQ(r.bytes, 96u);
    EXPECT_GE(ms, 150.0);
    EXPECT_LT(ms, 480.0);
    std::string rest;
    EXPECT_EQ(CommRead(p.ports, 1, rest, 96), 96);  // within the five attempts
    device.join();
    EXPECT_EQ(static_cast<unsigned char>(rest[0]), 96);
}

TEST(PosixSerial, NothingArrivingEndsAtTheTotalTimeout) {
    PtyPort p;
    ASSERT_TRUE(p.pty.ok());
    ASSERT_EQ(p.Open(), 0);
    std::uint8_t buf[2];
    const auto t0 = Clock::now();
    const IoResult r = p.transport().Read(buf, 2, {100'000, 500'000});
    const double ms = MsSince(t0);
    EXPECT_EQ(r.bytes, 0u);
    EXPECT_EQ(r.error, 0);
    EXPECT_GE(ms, 495.0);
    EXPECT_LT(ms, 1500.0);
}

TEST(PosixSerial, FlushDiscardsWhatIsQueued) {
    PtyPort p;
    ASSERT_TRUE(p.pty.ok());
    ASSERT_EQ(p.Open(), 0);
    p.pty.Send(Seq(10, 0x80));
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(CommFlush(p.ports, 1), 0);
    p.pty.Send({0x42});
    std::string in;
    EXPECT_EQ(CommRead(p.ports, 1, in, 1), 1);
    EXPECT_EQ(in, "\x42");
}

TEST(PosixSerial, VanishedDeviceIsAnErrorNotAWait) {
    PtyPort p;
    ASSERT_TRUE(p.pty.ok());
    ASSERT_EQ(p.Open(), 0);
    p.pty.CloseMaster();
    std::uint8_t buf[4];
    const auto t0 = Clock::now();
    const IoResult r = p.transport().Read(buf, 4, {100'000, 500'000});
    EXPECT_EQ(r.bytes, 0u);
    EXPECT_EQ(r.error, EIO);
    EXPECT_LT(MsSince(t0), 400.0);
}

}  // namespace
}  // namespace lumivo
