// The pseudo-terminal server in real time: a client opens the slave through the port link and
// exchanges frames; the link is managed and removed at shutdown.
#include "sim/pty_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "core/device/command_set.h"
#include "core/platform/install_dir.h"
#include "sim/instrument.h"
#include "sim/simulator_host.h"

namespace lumivo::sim {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class PtyServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("lumivo_pty_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        Stop();
        fs::remove_all(dir_);
    }

    void Start(SimConfig config = {}) {
        instrument_ = std::make_unique<Instrument>(config);
        server_ = std::make_unique<PtyServer>(*instrument_, PtyServerOptions{Link(), 300});
        thread_ = std::thread([this] { server_->Run(); });
    }
    void Stop() {
        if (server_) server_->RequestStop();
        if (thread_.joinable()) thread_.join();
        server_.reset();
    }
    fs::path Link() const { return ComLinkPath(dir_, 3); }

    int OpenClient() const {
        const int fd = ::open(Link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0) << "cannot open " << Link();
        return fd;
    }

    // Writes the frame and collects bytes until `want` arrived or `timeout_ms` passed. Returns
    // the bytes and the time from the write to the last byte.
    static std::vector<std::uint8_t> Transact(int fd, const std::vector<std::uint8_t>& frame,
                                              std::size_t want, int timeout_ms,
                                              double* elapsed_ms = nullptr) {
        const auto t0 = Clock::now();
        EXPECT_EQ(::write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
        std::vector<std::uint8_t> got;
        auto last = t0;
        while (got.size() < want) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                t0 + std::chrono::milliseconds(timeout_ms) - Clock::now());
            if (left.count() <= 0) break;
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
            std::uint8_t buf[512];
            const ssize_t n = ::read(fd, buf, std::min(sizeof buf, want - got.size()));
            if (n > 0) {
                got.insert(got.end(), buf, buf + n);
                last = Clock::now();
            }
        }
        if (elapsed_ms != nullptr) {
            *elapsed_ms = std::chrono::duration<double, std::milli>(last - t0).count();
        }
        return got;
    }

    fs::path dir_;
    std::unique_ptr<Instrument> instrument_;
    std::unique_ptr<PtyServer> server_;
    std::thread thread_;
};

const std::vector<std::uint8_t> kTemperature = {0xFF, 0x00, 0x21, 0x00, 0xF0};
const std::vector<std::uint8_t> kBlock0 = {0xFF, 0x00, 0x30, 0x00, 0xF0};
const std::vector<std::uint8_t> kNull = {0xFF, 0x00, 0x00, 0x00, 0xF0};

TEST_F(PtyServerTest, LinkPointsToARaw115200Slave) {
    Start();
    ASSERT_TRUE(fs::is_symlink(Link()));
    EXPECT_EQ(fs::read_symlink(Link()), server_->SlavePath());
    const int fd = OpenClient();
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    EXPECT_EQ(cfgetispeed(&tio), B115200);
    EXPECT_EQ(cfgetospeed(&tio), B115200);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    ::close(fd);
}

TEST_F(PtyServerTest, ExchangesFramesInRealTime) {
    SimConfig config;
    config.serial_number = 150;
    Start(config);
    const int fd = OpenClient();
    ASSERT_GE(fd, 0);
    tcflush(fd, TCIOFLUSH);
    // Modem lines are invisible through a pty: every null frame answers the serial number.
    EXPECT_EQ(Transact(fd, kNull, 2, 500), (std::vector<std::uint8_t>{0, 150}));
    const auto temp = Transact(fd, kTemperature, 1, 500);
    ASSERT_EQ(temp.size(), 1u);
    EXPECT_EQ(temp[0], 100);  // 22 C with slope 0.219
    const std::vector<std::uint8_t> write200 = {0xFF, 0x81, 0x48, 0x25, 0xF0};
    EXPECT_EQ(Transact(fd, write200, 1, 500), std::vector<std::uint8_t>{0x48});
    ::close(fd);
}

TEST_F(PtyServerTest, TheSecondSerialByteNeverPassesForTheNextReply) {
    // Every null frame is answered with two bytes, 0 and 150; the program reads one and must
    // never take the other for the temperature that follows.
    SimConfig config;
    config.serial_number = 150;
    Start(config);
    SystemClock clock;
    DefaultAnswerDialogs dialogs;
    DeviceLink link(clock, dialogs, TerminalDeviceOpener(dir_));
    link.ComPortNumber = 3;
    ASSERT_EQ(CommOpen(link.ports, 3, "COM3", kInstrumentPortSettings), 0);
    for (int round = 0; round < 200; ++round) {
        ASSERT_EQ(SendCommandAndRead(link, NullFrameCommand()), 0) << "round " << round;
        ASSERT_EQ(SendCommandAndRead(link, ReadTemperatureCommand()), 100) << "round " << round;
    }
    CommClose(link.ports, 3);
}

TEST_F(PtyServerTest, PacedBlockTakesTheLineTime) {
    Start();
    const int fd = OpenClient();
    ASSERT_GE(fd, 0);
    tcflush(fd, TCIOFLUSH);
    double elapsed = 0.0;
    const auto block = Transact(fd, kBlock0, 192, 2000, &elapsed);
    ASSERT_EQ(block.size(), 192u);
    // 192 bytes at 86.8 us cannot arrive in less than 16.7 ms; the upper bound only guards
    // against a stalled server on a busy machine.
    EXPECT_GE(elapsed, 16.5);
    EXPECT_LT(elapsed, 500.0);
    for (std::size_t k = 0; k < 96; ++k) EXPECT_LE(block[2 * k], 15);
    ::close(fd);
}

TEST_F(PtyServerTest, KeepsServingWhenTheClientReopens) {
    Start();
    for (int round = 0; round < 3; ++round) {
        const int fd = OpenClient();
        ASSERT_GE(fd, 0);
        tcflush(fd, TCIOFLUSH);
        EXPECT_EQ(Transact(fd, kTemperature, 1, 500).size(), 1u) << "round " << round;
        ::close(fd);
    }
}

TEST_F(PtyServerTest, ClientFlushDiscardsTheRestOfAReply) {
    Start();
    const int fd = OpenClient();
    ASSERT_GE(fd, 0);
    tcflush(fd, TCIOFLUSH);
    ASSERT_EQ(Transact(fd, kBlock0, 10, 500).size(), 10u);
    tcflush(fd, TCIFLUSH);
    // A batch written just before the server saw the flush is caught by a second flush; the
    // rest of the block (~15 ms of line time) must not come any more.
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    tcflush(fd, TCIFLUSH);
    const auto reply = Transact(fd, kTemperature, 2, 60);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0], 100);
    ::close(fd);
}

TEST_F(PtyServerTest, UnplugToggleSilencesAndRestores) {
    Start();
    const int fd = OpenClient();
    ASSERT_GE(fd, 0);
    server_->RequestUnplugToggle();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(Transact(fd, kTemperature, 1, 150).empty());
    server_->RequestUnplugToggle();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Transact(fd, kTemperature, 1, 500).size(), 1u);
    ::close(fd);
}

TEST_F(PtyServerTest, LinkRemovedAtShutdown) {
    Start();
    ASSERT_TRUE(fs::is_symlink(fs::symlink_status(Link())));
    Stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(Link())));
}

TEST_F(PtyServerTest, StaleLinkIsReplaced) {
    fs::create_directories(Link().parent_path());
    fs::create_symlink("/dev/pts/does-not-exist", Link());
    Start();
    EXPECT_EQ(fs::read_symlink(Link()), server_->SlavePath());
}

TEST_F(PtyServerTest, RegularFileIsNeverClobbered) {
    fs::create_directories(Link().parent_path());
    std::ofstream(Link()) << "keep me";
    Instrument instrument;
    EXPECT_THROW(PtyServer(instrument, PtyServerOptions{Link(), 300}), std::runtime_error);
    std::ifstream in(Link());
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "keep me");
}

TEST_F(PtyServerTest, ALinkTakenOverByAnotherServerIsLeftAlone) {
    Start();
    Instrument other_instrument;
    {
        PtyServer other(other_instrument, PtyServerOptions{Link(), 300});
        EXPECT_EQ(fs::read_symlink(Link()), other.SlavePath());
        Stop();  // the first server must not remove the other's link
        EXPECT_EQ(fs::read_symlink(Link()), other.SlavePath());
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(Link())));
}

TEST_F(PtyServerTest, SimulatorPortIsTheFreeOneNearestThePreferred) {
    fs::create_directories(dir_ / "ports");
    std::ofstream(ComLinkPath(dir_, 1)) << "a device file";   // in use
    fs::create_symlink("/dev/null", ComLinkPath(dir_, 2));    // a live link: in use
    fs::create_symlink(dir_ / "gone", ComLinkPath(dir_, 4));  // left dangling: free
    struct Case {
        int preferred;
        int chosen;
    };
    const Case cases[] = {{4, 4}, {5, 5}, {1, 3}, {2, 3}, {0, 3}, {16, 3}, {-1, 3}};
    for (const Case& c : cases)
        EXPECT_EQ(ChooseSimulatorPort(dir_, c.preferred), c.chosen) << c.preferred;
    for (int port = 3; port <= 15; ++port) std::ofstream(ComLinkPath(dir_, port)) << "taken";
    EXPECT_EQ(ChooseSimulatorPort(dir_, 3), 0);
    EXPECT_THROW(SimulatorHost::AsPort(dir_, 3), std::runtime_error);
}

TEST_F(PtyServerTest, SimulatorHostServesItsPortUntilDestroyed) {
    {
        const auto host = SimulatorHost::AsPort(dir_, 3);
        EXPECT_EQ(host->port(), 3);
        ASSERT_TRUE(fs::is_symlink(Link()));
        EXPECT_EQ(fs::read_symlink(Link()), host->device());
        const int fd = OpenClient();
        ASSERT_GE(fd, 0);
        EXPECT_EQ(Transact(fd, kNull, 2, 1000), (std::vector<std::uint8_t>{0, 123}));
        ::close(fd);
        EXPECT_EQ(host->error(), "");
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(Link())));

    // Without a link the terminal is reached by its own path.
    SimulatorHost unlinked(SimConfig{});
    EXPECT_EQ(unlinked.port(), 0);
    EXPECT_TRUE(unlinked.link().empty());
    const int fd = ::open(unlinked.device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Transact(fd, kNull, 2, 1000), (std::vector<std::uint8_t>{0, 123}));
    ::close(fd);
}

TEST_F(PtyServerTest, ProgramRemovesItsLinkOnSigterm) {
    const fs::path program = LUMIVO_SIM_PROGRAM;
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::execl(program.c_str(), "lumivo-sim", "--install", dir_.c_str(), "--com", "3",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!fs::is_symlink(fs::symlink_status(Link())) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(fs::is_symlink(fs::symlink_status(Link())));
    const int fd = OpenClient();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Transact(fd, kNull, 2, 1000), (std::vector<std::uint8_t>{0, 123}));
    ::close(fd);
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(Link())));
}

}  // namespace
}  // namespace lumivo::sim
