// The serial port layer over a scripted transport on a virtual clock: open/close bookkeeping,
// the read attempts and their pauses, the flush after a short read, the error record.
#include "core/device/mod_comm.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "stub_transport.h"

namespace lumivo {
namespace {

using testing::FakeClock;
using testing::StubLog;
using testing::StubOpener;
using testing::StubTransport;

constexpr const char* kSettings = "baud=115200 parity=N data=8 stop=1";

struct PortFixture {
    FakeClock clock;
    std::shared_ptr<StubLog> log = std::make_shared<StubLog>();
    StubOpener opener;
    StubTransport* stub = nullptr;
    CommPorts ports{clock, opener.Opener()};

    PortFixture() {
        opener.transport = std::make_unique<StubTransport>(clock, log);
        stub = opener.transport.get();
    }
    void Open(int port = 1) { ASSERT_EQ(CommOpen(ports, port, "COM1", kSettings), 0); }
};

TEST(CommOpen, AppliesTheSettingsTextAndMarksTheSlotOpen) {
    PortFixture f;
    f.Open(1);
    EXPECT_TRUE(f.ports.table[1].open);
    ASSERT_EQ(f.log->configured.size(), 1u);
    const LineSettings& s = f.log->configured[0];
    EXPECT_EQ(s.baud, 115200u);
    EXPECT_EQ(s.parity, Parity::None);
    EXPECT_EQ(s.data_bits, 8);
    EXPECT_EQ(s.stop_bits, StopBits::One);
    EXPECT_EQ(f.log->purge_times.size(), 1u);  // both queues emptied on open
}

TEST(CommOpen, OpenSlotIsRefusedWithoutTouchingTheDevice) {
    PortFixture f;
    f.Open(1);
    EXPECT_EQ(CommOpen(f.ports, 1, "COM1", kSettings), -1);
    EXPECT_EQ(f.ports.error.code, -1);
    EXPECT_EQ(f.ports.error.operation, "CommOpen");
    EXPECT_EQ(f.ports.error.message, "Port in use.");
    EXPECT_EQ(f.opener.calls, 1);
    EXPECT_EQ(f.log->configured.size(), 1u);
}

TEST(CommOpen, FailuresRecordTheFailingStep) {
    struct Case {
        const char* name;
        std::function<void(PortFixture&)> arrange;
        std::string settings;
        std::int32_t code;
        const char* operation;
        bool slot_open_after;
    };
    const Case cases[] = {
        {"device missing", [](PortFixture& f) { f.opener.error = ENOENT; }, kSettings, ENOENT,
         "CommOpen (CreateFile)", false},
        {"device busy", [](PortFixture& f) { f.opener.error = EBUSY; }, kSettings, EBUSY,
         "CommOpen (CreateFile)", false},
        {"purge fails", [](PortFixture& f) { f.stub->purge_error = EIO; }, kSettings, EIO,
         "CommOpen (PurgeComm)", true},
        {"state unreadable", [](PortFixture& f) { f.stub->get_settings_error = ENOTTY; }, kSettings,
         ENOTTY, "CommOpen (GetCommState)", true},
        {"bad settings text", [](PortFixture&) {}, "baud=115200 parity=Q data=8 stop=1", EINVAL,
         "CommOpen (BuildCommDCB)", true},
        {"settings not applicable", [](PortFixture& f) { f.stub->configure_error = EINVAL; },
         kSettings, EINVAL, "CommOpen (SetCommState)", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PortFixture f;
        c.arrange(f);
        EXPECT_EQ(CommOpen(f.ports, 2, "COM2", c.settings), c.code);
        EXPECT_EQ(f.ports.error.code, c.code);
        EXPECT_EQ(f.ports.error.operation, c.operation);
        EXPECT_EQ(f.ports.error.message, SystemErrorText(c.code));
        EXPECT_EQ(f.ports.table[2].open, c.slot_open_after);
        // A slot left open by a half-done open is released by CommClose.
        EXPECT_EQ(CommClose(f.ports, 2), 0);
        EXPECT_FALSE(f.ports.table[2].open);
    }
}

TEST(CommClose, ClosedPortIsFineAndAFailedCloseKeepsTheSlot) {
    PortFixture f;
    EXPECT_EQ(CommClose(f.ports, 5), 0);
    EXPECT_EQ(f.ports.error.code, 0);

    f.Open(1);
    f.stub->close_error = EIO;
    EXPECT_EQ(CommClose(f.ports, 1), EIO);
    EXPECT_EQ(f.ports.error.operation, "CommClose (CloseHandle)");
    EXPECT_TRUE(f.ports.table[1].open);
    f.stub->close_error = 0;
    EXPECT_EQ(CommClose(f.ports, 1), 0);
    EXPECT_FALSE(f.ports.table[1].open);
    EXPECT_EQ(f.log->closes, 2);
}

TEST(CommPorts, PortNumberOutsideTheTableIsARecordedFault) {
    PortFixture f;
    std::string out = "stale";
    for (int port : {0, -1, 17, 300}) {
        SCOPED_TRACE(port);
        EXPECT_EQ(CommOpen(f.ports, port, "COM", kSettings), kCommFaultPortOutOfRange);
        EXPECT_EQ(f.ports.error.operation, "CommOpen");
        EXPECT_EQ(CommClose(f.ports, port), kCommFaultPortOutOfRange);
        EXPECT_EQ(CommFlush(f.ports, port), kCommFaultPortOutOfRange);
        EXPECT_EQ(CommWrite(f.ports, port, "x"), kCommFaultPortOutOfRange);
        EXPECT_EQ(CommSetLine(f.ports, port, 3, 1), kCommFaultPortOutOfRange);
        EXPECT_EQ(f.ports.error.operation, "CommSetLine");
        EXPECT_EQ(CommRead(f.ports, port, out, 4), 0);
        EXPECT_EQ(f.ports.error.operation, "CommRead");
        EXPECT_TRUE(out.empty());
    }
    EXPECT_EQ(f.opener.calls, 0);
}

TEST(CommRead, AttemptsPausesAndFlush) {
    struct Case {
        const char* name;
        std::vector<StubTransport::Attempt> attempts;
        std::int32_t wanted;
        std::int32_t expected;
        int pauses;    // 5 ms pauses taken
        bool flushed;  // CommFlush after the read
    };
    const std::vector<std::uint8_t> half(96, 0x11);
    const Case cases[] = {
        {"whole reply in one attempt", {{std::vector<std::uint8_t>(192, 7)}}, 192, 192, 0, false},
        {"two pieces of 96", {{half}, {half}}, 192, 192, 1, false},
        {"five pieces, the last in time", {{{1}}, {{2}}, {{3}}, {{4}}, {{5}}}, 5, 5, 4, false},
        {"one byte of two", {{{0x42}}, {}, {}, {}, {}}, 2, 1, 5, true},
        {"nothing at all", {{}, {}, {}, {}, {}}, 2, 0, 5, true},
        {"a sixth piece is never asked for",
         {{{1}}, {{2}}, {{3}}, {{4}}, {{5}}, {{6}}},
         6,
         5,
         5,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PortFixture f;
        f.Open();
        f.stub->attempts.assign(c.attempts.begin(), c.attempts.end());
        const auto purges_before = f.log->purge_times.size();
        std::string out = "stale";
        EXPECT_EQ(CommRead(f.ports, 1, out, c.wanted), c.expected);
        EXPECT_EQ(out.size(), static_cast<std::size_t>(c.expected));
        EXPECT_EQ(f.clock.total_sleep_ms(), 5 * c.pauses);
        EXPECT_EQ(f.log->purge_times.size() - purges_before, c.flushed ? 1u : 0u);
        EXPECT_LE(f.log->read_requests.size(), 5u);
    }
}

TEST(CommRead, AsksOnlyForWhatIsMissingAndAtMost512) {
    PortFixture f;
    f.Open();
    f.stub->attempts = {{std::vector<std::uint8_t>(60, 1)},
                        {std::vector<std::uint8_t>(512, 2)},
                        {std::vector<std::uint8_t>(128, 3)}};
    std::string out;
    EXPECT_EQ(CommRead(f.ports, 1, out, 700), 700);
    EXPECT_EQ(f.log->read_requests,
              (std::vector<std::size_t>{700 > 512 ? 512u : 700u, 512u, 128u}));
    EXPECT_EQ(static_cast<unsigned char>(out[59]), 1);
    EXPECT_EQ(static_cast<unsigned char>(out[60]), 2);
    EXPECT_EQ(static_cast<unsigned char>(out[699]), 3);
}

TEST(CommRead, ALateRemainderIsNotSeenByTheNextRead) {
    PortFixture f;
    f.Open();
    // The reply's second byte turns up only after the last attempt gave up.
    f.stub->attempts = {{{0xAA}}, {}, {}, {}, {{}, 0, 0, {0xBB}}};
    std::string out;
    EXPECT_EQ(CommRead(f.ports, 1, out, 2), 1);
    EXPECT_TRUE(f.stub->queue.empty());
    f.stub->queue.push_back(0x01);  // the next command's reply
    EXPECT_EQ(CommRead(f.ports, 1, out, 1), 1);
    EXPECT_EQ(static_cast<unsigned char>(out[0]), 0x01);
}

TEST(CommRead, FailedLastAttemptIsRecordedWithTheErrorFlags) {
    PortFixture f;
    f.Open();
    f.stub->attempts = {{{}, EIO}, {{}, EIO}, {{}, EIO}, {{}, EIO}, {{}, EIO}};
    f.stub->error_flags = kCommFrame | kCommOverrun | kCommBreak;
    std::string out;
    EXPECT_EQ(CommRead(f.ports, 1, out, 3), 0);
    EXPECT_EQ(f.ports.error.code, EIO);
    EXPECT_EQ(f.ports.error.operation, "CommRead (ReadFile)");
    EXPECT_EQ(f.ports.error.message, SystemErrorText(EIO) + "  COMM Error Flags = 1A");
}

TEST(CommRead, ClosedPortReturnsNothingAtOnce) {
    PortFixture f;
    std::string out = "x";
    EXPECT_EQ(CommRead(f.ports, 3, out, 2), 0);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(f.ports.error.code, EBADF);
    EXPECT_EQ(f.clock.MonotonicMicros(), 0);
}

TEST(CommWrite, ReportsBytesWrittenOrMinusOne) {
    PortFixture f;
    f.Open();
    EXPECT_EQ(CommWrite(f.ports, 1, std::string("\xFF\x00\x21\x00\xF0", 5)), 5);
    ASSERT_EQ(f.log->writes.size(), 1u);
    EXPECT_EQ(f.log->writes[0], (std::vector<std::uint8_t>{0xFF, 0x00, 0x21, 0x00, 0xF0}));
    f.stub->write_error = EIO;
    f.stub->error_flags = 0;
    EXPECT_EQ(CommWrite(f.ports, 1, "ab"), -1);
    EXPECT_EQ(f.ports.error.operation, "CommWrite (WriteFile)");
    EXPECT_EQ(f.ports.error.message, SystemErrorText(EIO) + "  COMM Error Flags = 0");
}

TEST(CommSetLine, MapsLineAndStateToTheLineFunction) {
    struct Case {
        int line;
        int state;
        LineFunction expected;
    };
    const Case cases[] = {
        {3, -1, LineFunction::SetRts},   {3, 0, LineFunction::ClearRts},
        {3, 1, LineFunction::SetRts},    {2, -1, LineFunction::SetDtr},
        {2, 0, LineFunction::ClearDtr},  {1, 1, LineFunction::SetBreak},
        {1, -1, LineFunction::SetBreak}, {1, 0, LineFunction::ClearBreak},
        {2, 7, LineFunction::SetDtr},
    };
    PortFixture f;
    f.Open();
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "line " << c.line << " state " << c.state);
        f.log->lines.clear();
        EXPECT_EQ(CommSetLine(f.ports, 1, c.line, c.state), 0);
        ASSERT_EQ(f.log->lines.size(), 1u);
        EXPECT_EQ(f.log->lines[0], c.expected);
    }
    EXPECT_EQ(CommSetLine(f.ports, 1, 3, -1), 0);
    EXPECT_TRUE(f.log->rts);
    EXPECT_EQ(CommSetLine(f.ports, 1, 3, 0), 0);
    EXPECT_FALSE(f.log->rts);

    EXPECT_EQ(CommSetLine(f.ports, 1, 4, 1), EINVAL);
    EXPECT_EQ(f.ports.error.operation, "CommSetLine (EscapeCommFunction)");
}

TEST(CommDrain, DiscardsStrayBytesWithoutWaitingOutTheReadTimeouts) {
    PortFixture f;
    f.Open();
    f.stub->queue = {1, 2, 3};
    EXPECT_EQ(CommDrain(f.ports, 1, 350), 0);
    EXPECT_TRUE(f.stub->queue.empty());
    EXPECT_LT(f.clock.MonotonicMicros(), 2'000);
}

TEST(BuildLineSettings, ParsesWhatCanBeAppliedAndRejectsTheRest) {
    struct Case {
        const char* text;
        bool ok;
        LineSettings expected;
    };
    LineSettings base;
    auto with = [&](auto change) {
        LineSettings s = base;
        change(s);
        return s;
    };
    const Case cases[] = {
        {"baud=115200 parity=N data=8 stop=1", true,
         with([](LineSettings& s) { s.baud = 115200; })},
        {"BAUD=9600 Parity=e Data=7 Stop=2", true, with([](LineSettings& s) {
             s.parity = Parity::Even;
             s.data_bits = 7;
             s.stop_bits = StopBits::Two;
         })},
        {"  baud=19200   parity=o  ", true, with([](LineSettings& s) {
             s.baud = 19200;
             s.parity = Parity::Odd;
         })},
        {"parity=m stop=1.5", true, with([](LineSettings& s) {
             s.parity = Parity::Mark;
             s.stop_bits = StopBits::OnePointFive;
         })},
        {"xon=on octs=on dtr=off rts=off", true, with([](LineSettings& s) {
             s.xon_xoff = true;
             s.rts_cts = true;
             s.dtr_on_open = false;
             s.rts_on_open = false;
         })},
        {"rts=hs", true, with([](LineSettings& s) { s.rts_cts = true; })},
        {"", false, base},
        {"baud=", false, base},
        {"baud=fast", false, base},
        {"baud=0", false, base},
        {"baud=115200x", false, base},
        {"parity=N data=9", false, base},
        {"data=4", false, base},
        {"stop=3", false, base},
        {"parity=none", false, base},
        {"speed=115200", false, base},
        {"baud=115200 parity=N data=8 stop=1 extra", false, base},
        {"xon=maybe", false, base},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        LineSettings s = base;
        EXPECT_EQ(BuildLineSettings(c.text, s), c.ok);
        EXPECT_EQ(s, c.expected);
    }
}

TEST(SystemErrorText, GivesTheSystemTextOrNothing) {
    EXPECT_EQ(SystemErrorText(EBUSY), "Device or resource busy");
    EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");
    EXPECT_EQ(SystemErrorText(99999), "");
    EXPECT_EQ(SystemErrorText(-5), "");
}

TEST(CommPorts, TwoTablesAreIndependent) {
    PortFixture a;
    PortFixture b;
    a.Open(1);
    b.Open(1);
    EXPECT_EQ(CommOpen(a.ports, 1, "COM1", kSettings), -1);
    EXPECT_EQ(b.ports.error.code, 0);
    EXPECT_EQ(CommClose(b.ports, 1), 0);
    EXPECT_TRUE(a.ports.table[1].open);
}

}  // namespace
}  // namespace lumivo
