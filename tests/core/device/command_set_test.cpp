// The command set over a scripted instrument on a virtual clock: frame bytes, one-byte
// exchanges, block decoding, the serial number, the channel write ladder and the sensor block.
#include "core/device/command_set.h"

#include <gtest/gtest.h>

#include <map>

#include "stub_transport.h"
#include "support/scripted_dialogs.h"

namespace lumivo {
namespace {

using testing::FakeClock;
using testing::ScriptedDialogs;
using testing::StubLog;
using testing::StubOpener;
using testing::StubTransport;
using Bytes = std::vector<std::uint8_t>;

struct LinkFixture {
    FakeClock clock;
    ScriptedDialogs dialogs;
    std::shared_ptr<StubLog> log = std::make_shared<StubLog>();
    StubOpener opener;
    StubTransport* device = nullptr;
    DeviceLink link{clock, dialogs, opener.Opener()};

    LinkFixture() {
        opener.transport = std::make_unique<StubTransport>(clock, log);
        device = opener.transport.get();
        link.ComPortNumber = 2;
        EXPECT_EQ(CommOpen(link.ports, 2, "COM2", kInstrumentPortSettings), 0);
        log->purge_times.clear();
    }
    // The frames written, in order.
    const std::vector<Bytes>& Frames() const { return log->writes; }
};

Bytes FrameBytes(const Command& c) {
    const CommandFrame f = BuildCommandFrame(c);
    return Bytes(f.begin(), f.end());
}

TEST(CommandFrame, EveryCommandHasItsBytes) {
    struct Case {
        const char* name;
        Command command;
        Bytes bytes;
    };
    const Case cases[] = {
        {"temperature", ReadTemperatureCommand(), {0xFF, 0x00, 0x21, 0x00, 0xF0}},
        {"null frame", NullFrameCommand(), {0xFF, 0x00, 0x00, 0x00, 0xF0}},
        {"block 0", ReadChannelBlockCommand(0), {0xFF, 0x00, 0x30, 0x00, 0xF0}},
        {"block 96", ReadChannelBlockCommand(96), {0xFF, 0x00, 0x30, 0x60, 0xF0}},
        {"outputs light+heat",
         SetOutputsCommand(kOutputLight | kOutputHeat),
         {0xFF, 0x00, 0x10, 0x06, 0xF0}},
        {"outputs off", SetOutputsCommand(0), {0xFF, 0x00, 0x10, 0x00, 0xF0}},
        {"read channel 5", ReadChannelStoredByteCommand(5), {0xFF, 0x00, 0x20, 0x05, 0xF0}},
        {"read channel 127", ReadChannelStoredByteCommand(127), {0xFF, 0x00, 0x20, 0x7F, 0xF0}},
        {"read channel 128", ReadChannelStoredByteCommand(128), {0xFF, 0x01, 0x20, 0x00, 0xF0}},
        {"read channel 383", ReadChannelStoredByteCommand(383), {0xFF, 0x01, 0x20, 0xFF, 0xF0}},
        {"read sensor register 0", ReadSensorRegisterCommand(0), {0xFF, 0x00, 0x20, 0x80, 0xF0}},
        {"read sensor register 7", ReadSensorRegisterCommand(7), {0xFF, 0x00, 0x20, 0x87, 0xF0}},
        {"write channel 200 pinhole 5 gain 1",
         WriteChannelStoredByteCommand(200, 1 * 32 + 5),
         {0xFF, 0x81, 0x48, 0x25, 0xF0}},
        {"write channel 10",
         WriteChannelStoredByteCommand(10, 0x62),
         {0xFF, 0x80, 0x0A, 0x62, 0xF0}},
        {"write channel 300",
         WriteChannelStoredByteCommand(300, 7),
         {0xFF, 0x81, 0xAC, 0x07, 0xF0}},
        {"write sensor register 5",
         WriteSensorRegisterCommand(5, 219),
         {0xFF, 0x80, 0x85, 0xDB, 0xF0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FrameBytes(c.command), c.bytes);
    }
    // Arguments are taken as single bytes, and the argument order is code, parameter, qualifier.
    const CommandFrame f = BuildCommandFrame(0x133, -1, 0x80);
    EXPECT_EQ(Bytes(f.begin(), f.end()), (Bytes{0xFF, 0x80, 0x33, 0xFF, 0xF0}));
}

TEST(SendCommand, WritesOneFrameAndReportsTheWrite) {
    LinkFixture f;
    EXPECT_EQ(SendCommand(f.link, SetOutputsCommand(5)), 0);
    ASSERT_EQ(f.Frames().size(), 1u);
    EXPECT_EQ(f.Frames()[0], (Bytes{0xFF, 0x00, 0x10, 0x05, 0xF0}));
    f.device->write_error = EIO;
    EXPECT_EQ(SendCommand(f.link, SetOutputsCommand(5)), -1);
}

TEST(SendCommandAndRead, TemperatureRequestSendsExactBytesAndReturnsTheReply) {
    LinkFixture f;
    f.device->responder = [](std::span<const std::uint8_t>) { return Bytes{0x73}; };
    EXPECT_EQ(SendCommandAndRead(f.link, 33, 0, 0), 0x73);
    ASSERT_EQ(f.Frames().size(), 1u);
    EXPECT_EQ(f.Frames()[0], (Bytes{0xFF, 0x00, 0x21, 0x00, 0xF0}));
}

TEST(SendCommandAndRead, OneByteExchangeEndsAsSoonAsTheByteIsIn) {
    LinkFixture f;
    f.device->responder = [](std::span<const std::uint8_t>) { return Bytes{0x10}; };
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(SendCommandAndRead(f.link, ReadTemperatureCommand()), 0x10);
    // Nothing was waited for: no read timeout, and no quiet time after the replies.
    EXPECT_EQ(f.clock.total_sleep_ms(), 0);
    EXPECT_EQ(f.clock.MonotonicMicros(), 0);
}

TEST(SendCommandAndRead, AStraySecondByteIsNeverTakenForTheNextReply) {
    LinkFixture f;
    int n = 0;
    f.device->responder = [&n](std::span<const std::uint8_t>) {
        ++n;
        return Bytes{static_cast<std::uint8_t>(n), 0xEE};  // every reply drags a stray byte
    };
    EXPECT_EQ(SendCommandAndRead(f.link, ReadTemperatureCommand()), 1);
    EXPECT_EQ(SendCommandAndRead(f.link, ReadTemperatureCommand()), 2);
    // A stray byte that turns up between exchanges is discarded before the next request.
    f.device->responder = nullptr;
    f.device->queue.push_back(0x99);
    f.device->responder = [](std::span<const std::uint8_t>) { return Bytes{0x33}; };
    EXPECT_EQ(SendCommandAndRead(f.link, ReadTemperatureCommand()), 0x33);
    EXPECT_EQ(f.clock.total_sleep_ms(), 0);
}

TEST(SendCommandAndRead, NoReplyGivesMinusOneAfterTheReadTimeouts) {
    LinkFixture f;
    const std::int64_t t0 = f.clock.MonotonicMicros();
    EXPECT_EQ(SendCommandAndRead(f.link, ReadTemperatureCommand()), kNoReply);
    // Five attempts of 500 ms with 5 ms after each: bounded, and not more.
    EXPECT_EQ(f.clock.MonotonicMicros() - t0, 5 * 505'000);
}

// A 192-byte block reply whose sample k is `value(k)`.
Bytes BlockReply(const std::function<int(int)>& value) {
    Bytes b;
    for (int k = 0; k < kBlockSamples; ++k) {
        b.push_back(static_cast<std::uint8_t>(value(k) >> 8));
        b.push_back(static_cast<std::uint8_t>(value(k) & 0xFF));
    }
    return b;
}

TEST(SendCommandAndRead, BytesSeenBeforeTheFrameCouldBeAnsweredAreStrays) {
    // On a paced line the frame needs 434 us to cross (5 bytes at 115200 8N1); a byte seen
    // earlier was sent before the instrument heard the frame.
    using Attempt = StubTransport::Attempt;
    struct Case {
        const char* name;
        std::vector<Attempt> attempts;
        int expected;
    };
    const Case cases[] = {
        {"a late stray, then the reply", {Attempt({0xEE}, 0, 100), Attempt({0x42}, 0, 500)}, 0x42},
        {"two strays",
         {Attempt({0xEE}, 0, 50), Attempt({0xEF}, 0, 60), Attempt({0x42}, 0, 600)},
         0x42},
        {"a stray and no reply", {Attempt({0xEE}, 0, 300)}, kNoReply},
        {"the reply right at the line time", {Attempt({0x42}, 0, 434)}, 0x42},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinkFixture f;
        f.device->paced = true;
        f.device->attempts.assign(c.attempts.begin(), c.attempts.end());
        EXPECT_EQ(SendCommandAndRead(f.link, ReadTemperatureCommand()), c.expected);
    }
    // A block reply is screened the same way: the stray does not shift its bytes.
    LinkFixture f;
    f.device->paced = true;
    const Bytes block = BlockReply([](int k) { return 1000 + k; });
    f.device->attempts = {Attempt({0x07}, 0, 200), Attempt(block, 0, 500)};
    std::vector<std::uint16_t> channels(kChannelCount, 0);
    const BlockRead r = ReadChannelBlock(f.link, 0, BlockReadMode::TwoHalves, channels);
    EXPECT_EQ(r.bytes, kBlockReplyBytes);
    EXPECT_TRUE(r.decode.accepted);
    EXPECT_EQ(channels[0], 1000);
    EXPECT_EQ(channels[128], 1001);
    EXPECT_EQ(channels[256 + 31], 1000 + 95);
}

TEST(DecodeChannelBlock, PutsSampleTriplesIntoChannelOrder) {
    for (int nn : kBlockStarts) {
        SCOPED_TRACE(nn);
        std::vector<std::uint16_t> channels(385, 0xFFFF);
        const Bytes reply = BlockReply([](int k) { return 1000 + k; });
        const BlockDecode d = DecodeChannelBlock(reply, nn, channels);
        EXPECT_TRUE(d.accepted);
        EXPECT_FALSE(d.bad);
        for (int t = 0; t < 32; ++t) {
            EXPECT_EQ(channels[static_cast<std::size_t>(nn + t)], 1000 + 3 * t);
            EXPECT_EQ(channels[static_cast<std::size_t>(nn + t + 128)], 1000 + 3 * t + 1);
            EXPECT_EQ(channels[static_cast<std::size_t>(nn + t + 256)], 1000 + 3 * t + 2);
        }
        int touched = 0;
        for (auto v : channels) touched += v != 0xFFFF;
        EXPECT_EQ(touched, 96);
    }
}

TEST(DecodeChannelBlock, HighByteAbove15IsClampedAndMarksTheBlockBad) {
    struct Case {
        std::uint8_t high;
        std::uint8_t low;
        std::uint16_t value;
        bool bad;
    };
    const Case cases[] = {
        {0x10, 0x34, 0x0F34, true},  {0xFF, 0x00, 0x0F00, true},  {0x0F, 0xFF, 0x0FFF, false},
        {0x00, 0x00, 0x0000, false}, {0x08, 0x01, 0x0801, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.high));
        Bytes reply(192, 0);
        reply[0] = c.high;
        reply[1] = c.low;
        std::vector<std::uint16_t> channels(384, 0);
        const BlockDecode d = DecodeChannelBlock(reply, 0, channels);
        EXPECT_TRUE(d.accepted);
        EXPECT_EQ(d.bad, c.bad);
        EXPECT_EQ(channels[0], c.value);
    }
}

TEST(DecodeChannelBlock, RefusesWhatItCannotPlaceAndLeavesChannelsAlone) {
    struct Case {
        const char* name;
        std::size_t reply_size;
        int nn;
        std::size_t channel_count;
    };
    const Case cases[] = {
        {"191 bytes", 191, 0, 385},        {"193 bytes", 193, 0, 385}, {"empty", 0, 0, 385},
        {"block 100", 192, 100, 385},      {"block 16", 192, 16, 385}, {"block -32", 192, -32, 385},
        {"table too small", 192, 96, 383},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes reply(c.reply_size, 0x01);
        std::vector<std::uint16_t> channels(c.channel_count, 7);
        const BlockDecode d = DecodeChannelBlock(reply, c.nn, channels);
        EXPECT_FALSE(d.accepted);
        EXPECT_TRUE(d.bad);
        EXPECT_EQ(std::count(channels.begin(), channels.end(), 7),
                  static_cast<std::ptrdiff_t>(c.channel_count));
    }
}

TEST(ReadChannelBlock, FlushesRequestsAndAcceptsExactly192Bytes) {
    for (BlockReadMode mode : {BlockReadMode::TwoHalves, BlockReadMode::Whole}) {
        SCOPED_TRACE(mode == BlockReadMode::Whole ? "whole" : "halves");
        LinkFixture f;
        f.device->queue = {0x55};  // leftover from an earlier exchange
        f.device->responder = [](std::span<const std::uint8_t> frame) {
            return BlockReply([&](int k) { return frame[3] * 10 + k; });
        };
        std::vector<std::uint16_t> channels(385, 0);
        const BlockRead r = ReadChannelBlock(f.link, 64, mode, channels);
        EXPECT_EQ(r.bytes, 192);
        EXPECT_TRUE(r.decode.accepted);
        EXPECT_FALSE(r.decode.bad);
        EXPECT_EQ(channels[64], 640);
        EXPECT_EQ(channels[64 + 31 + 256], 640 + 95);
        ASSERT_EQ(f.Frames().size(), 1u);
        EXPECT_EQ(f.Frames()[0], (Bytes{0xFF, 0x00, 0x30, 0x40, 0xF0}));
        EXPECT_EQ(f.log->purge_times.size(), 1u);
        const std::vector<std::size_t> expected_reads = mode == BlockReadMode::Whole
                                                            ? std::vector<std::size_t>{192}
                                                            : std::vector<std::size_t>{96, 96};
        EXPECT_EQ(f.log->read_requests, expected_reads);
    }
}

TEST(ReadChannelBlock, ShortReplyIsRefusedAndLeavesTheChannels) {
    LinkFixture f;
    f.device->responder = [](std::span<const std::uint8_t>) { return Bytes(191, 0x01); };
    std::vector<std::uint16_t> channels(385, 42);
    const BlockRead r = ReadChannelBlock(f.link, 0, BlockReadMode::TwoHalves, channels);
    EXPECT_EQ(r.bytes, 191);
    EXPECT_FALSE(r.decode.accepted);
    EXPECT_EQ(std::count(channels.begin(), channels.end(), 42), 385);
}

TEST(ReadFullSample, ReadsTheFourBlocksIntoAll384Channels) {
    LinkFixture f;
    f.device->responder = [](std::span<const std::uint8_t> frame) {
        const int nn = frame[3];
        return BlockReply([nn](int k) { return nn + k / 3 + 128 * (k % 3); });  // = channel
    };
    std::vector<std::uint16_t> channels(385, 0xFFFF);
    const SampleRead s = ReadFullSample(f.link, channels);
    EXPECT_TRUE(s.AllGood());
    for (int c = 0; c < 384; ++c) EXPECT_EQ(channels[static_cast<std::size_t>(c)], c);
    EXPECT_EQ(channels[384], 0xFFFF);
    ASSERT_EQ(f.Frames().size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(f.Frames()[i][3], kBlockStarts[i]);
}

TEST(ReadSerialNumber, ComputesTheNumberWithLinesRaisedThenDropped) {
    struct Case {
        Bytes reply;
        int expected;
    };
    const Case cases[] = {
        {{}, -1}, {{0x20}, 32 * 255}, {{0x00, 123}, 123}, {{0x01, 0x02}, 257}, {{0x00, 0x0F}, 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        LinkFixture f;
        bool lines_up_at_request = false;
        f.device->responder = [&](std::span<const std::uint8_t>) {
            lines_up_at_request = f.log->rts && f.log->dtr;
            return c.reply;
        };
        EXPECT_EQ(ReadSerialNumber(f.link, 2), c.expected);
        EXPECT_TRUE(lines_up_at_request);
        EXPECT_EQ(f.log->lines,
                  (std::vector<LineFunction>{LineFunction::SetRts, LineFunction::SetDtr,
                                             LineFunction::ClearRts, LineFunction::ClearDtr}));
        ASSERT_EQ(f.Frames().size(), 1u);
        EXPECT_EQ(f.Frames()[0], FrameBytes(NullFrameCommand()));
        if (c.reply.size() == 2) {
            // Both bytes in: no read timeout waited out, only the 5 ms pause before reading.
            EXPECT_EQ(f.clock.total_sleep_ms(), 5);
            EXPECT_EQ(f.clock.MonotonicMicros(), 5'000);
        }
    }
}

// A device that echoes a wrong byte for the first `wrong` writes, then the address.
struct EchoDevice {
    int wrong = 0;
    int writes = 0;
    int temperature_requests = 0;
    Bytes operator()(std::span<const std::uint8_t> frame) {
        if (frame[1] == 0x80 || frame[1] == 0x81) {
            ++writes;
            return Bytes{static_cast<std::uint8_t>(writes <= wrong ? frame[2] ^ 0x01 : frame[2])};
        }
        if (frame[2] == kCodeReadTemperature) {
            ++temperature_requests;
            return Bytes{100};
        }
        return {};
    }
};

TEST(WriteChannelSetting, RetryLadder) {
    struct Case {
        int wrong;  // wrong echoes before the right ones
        int result;
        int write_frames;    // register writes sent
        int resyncs;         // temperature requests sent
        std::int64_t slept;  // ms of pauses
        std::size_t flushes;
    };
    const Case cases[] = {
        {0, 1, 9, 0, 0, 0},      {8, 1, 9, 0, 0, 0},  // only the ninth echo counts
        {9, 1, 18, 1, 1200, 0},  {17, 1, 18, 1, 1200, 0},  {18, 1, 27, 2, 2400, 0},
        {27, 1, 36, 3, 3600, 1}, {36, -1, 36, 3, 3600, 1}, {1000, -1, 36, 3, 3600, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wrong);
        LinkFixture f;
        EchoDevice device{c.wrong};
        f.device->responder = [&device](std::span<const std::uint8_t> fr) { return device(fr); };
        const std::size_t purges_before = f.log->purge_times.size();
        EXPECT_EQ(WriteChannelSetting(f.link, 200, 5, 1), c.result);
        EXPECT_EQ(device.writes, c.write_frames);
        EXPECT_EQ(device.temperature_requests, c.resyncs);
        EXPECT_EQ(f.clock.total_sleep_ms(), c.slept);
        // One purge before each exchange, plus the ladder's own flush before its last round.
        const std::size_t exchanges = static_cast<std::size_t>(c.write_frames + c.resyncs);
        EXPECT_EQ(f.log->purge_times.size() - purges_before, exchanges + c.flushes);
        for (const auto& frame : f.Frames()) {
            if (frame[1] & 0x80) {
                EXPECT_EQ(frame, (Bytes{0xFF, 0x81, 0x48, 0x25, 0xF0}));
            }
        }
        if (c.result == 1) {
            EXPECT_TRUE(f.dialogs.shown().empty());
        } else {
            EXPECT_EQ(f.dialogs.Messages(),
                      std::vector<std::string>{
                          "Ops...Data Writing ERROR: reg(200)... Check COM and Try again"});
        }
    }
}

TEST(WriteChannelSetting, SilentDeviceFailsAfterTheWholeLadder) {
    LinkFixture f;
    EXPECT_EQ(WriteChannelSetting(f.link, 3, 2, 3), -1);
    ASSERT_EQ(f.Frames().size(), 39u);
    EXPECT_EQ(f.Frames()[0], (Bytes{0xFF, 0x80, 0x03, 0x62, 0xF0}));
    EXPECT_EQ(
        f.dialogs.Messages(),
        std::vector<std::string>{"Ops...Data Writing ERROR: reg(3)... Check COM and Try again"});
}

TEST(WriteChannelSetting, RefusesWhatCannotBeAddressedWithoutSending) {
    struct Case {
        int channel, pin_hole, gain;
    };
    for (const Case& c :
         {Case{-1, 2, 3}, Case{384, 2, 3}, Case{0, 32, 7}, Case{0, 0, 8}, Case{5, -1, 0}}) {
        LinkFixture f;
        EXPECT_EQ(WriteChannelSetting(f.link, c.channel, c.pin_hole, c.gain), -1);
        EXPECT_TRUE(f.Frames().empty());
    }
}

// Answers sensor register reads from `registers` (absent: no answer).
struct RegisterDevice {
    explicit RegisterDevice(std::map<int, int> regs) : registers(std::move(regs)) {}
    std::map<int, int> registers;
    std::map<int, int> flaky;  // register -> number of first reads answered with garbage
    int null_frames = 0;
    std::map<int, int> reads;
    Bytes operator()(std::span<const std::uint8_t> frame) {
        if (frame[1] == 0 && frame[2] == kCodeReadStoredByte && frame[3] >= 0x80) {
            const int reg = frame[3] - 0x80;
            const int n = ++reads[reg];
            auto it = registers.find(reg);
            if (it == registers.end()) return {};
            if (n <= flaky[reg]) return Bytes{static_cast<std::uint8_t>(0xA0 + n)};
            return Bytes{static_cast<std::uint8_t>(it->second)};
        }
        if (frame[1] == 0 && frame[2] == kCodeNull) ++null_frames;
        return {};
    }
};

TEST(ReadSensorCalibration, ValidatesTheStoredBlock) {
    struct Case {
        const char* name;
        std::map<int, int> registers;
        double slope;
        double offset;
        bool calibrated;
    };
    const std::map<int, int> valid{{0, 0},  {1, 3},   {2, 24}, {3, 0},
                                   {4, 15}, {5, 219}, {6, 0},  {7, 0}};
    auto with = [&valid](int reg, int value) {
        auto r = valid;
        r[reg] = value;
        return r;
    };
    auto without = [&valid](int reg) {
        auto r = valid;
        r.erase(reg);
        return r;
    };
    auto slope = [&valid](int low, int high) {
        auto r = valid;
        r[5] = low;
        r[6] = high;
        return r;
    };
    const Case cases[] = {
        {"valid", valid, 0.219, 1.5, true},
        {"negative offset", with(3, 1), 0.219, -1.5, true},
        {"slope 0.5 from registers", slope(244, 1), 0.219, 0.0, false},
        {"slope 0.45 at the edge", slope(194, 1), 0.45, 1.5, true},
        {"slope 0.099", with(5, 99), 0.219, 0.0, false},
        {"offset 10.0 at the edge", with(4, 100), 0.219, 10.0, true},
        {"offset 10.1", with(4, 101), 0.219, 0.0, false},
        {"marker not 0", with(0, 1), 0.219, 0.0, false},
        {"month 0", with(1, 0), 0.219, 0.0, false},
        {"month 13", with(1, 13), 0.219, 0.0, false},
        {"year 100", with(2, 100), 0.219, 0.0, false},
        {"sign 2", with(3, 2), 0.219, 0.0, false},
        {"slope low byte 0", with(5, 0), 0.219, 0.0, false},
        {"offset register silent", without(4), 0.219, 0.0, false},
        {"unused register silent", without(7), 0.219, 1.5, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinkFixture f;
        RegisterDevice device(c.registers);
        f.device->responder = [&device](std::span<const std::uint8_t> fr) { return device(fr); };
        ReadSensorCalibration(f.link);
        EXPECT_DOUBLE_EQ(f.link.sensor.slope, c.slope);
        EXPECT_DOUBLE_EQ(f.link.sensor.offset, c.offset);
        EXPECT_EQ(f.link.sensor.calibrated, c.calibrated);
        EXPECT_EQ(f.link.sensor.month, c.registers.count(1) ? c.registers.at(1) : -1);
        EXPECT_EQ(f.dialogs.events_processed(), 1);
    }
}

TEST(ReadSensorCalibration, RetriesUnstableAndSilentRegisters) {
    LinkFixture f;
    RegisterDevice device({{0, 0}, {1, 6}, {2, 25}, {3, 0}, {4, 0}, {5, 219}, {6, 0}});
    device.flaky[1] = 2;  // first two reads of register 1 disagree with each other
    f.device->responder = [&device](std::span<const std::uint8_t> fr) { return device(fr); };
    ReadSensorCalibration(f.link);
    EXPECT_EQ(f.link.sensor.registers[1], 6);
    EXPECT_EQ(device.reads[1], 4);  // attempt 1: 0xA1 vs 0xA2; attempt 2: 6 and 6
    // Register 7 never answers: three attempts of one read each, a null frame between them.
    EXPECT_EQ(device.reads[7], 3);
    EXPECT_EQ(device.null_frames, 2);
    EXPECT_EQ(f.link.sensor.registers[7], -1);
    EXPECT_TRUE(f.link.sensor.calibrated);
    EXPECT_EQ(f.link.sensor.year, 25);
}

TEST(RawTemperature, ConvertsWithTheSensorCalibration) {
    SensorCalibrationBlock s;
    EXPECT_DOUBLE_EQ(RawTemperatureToCelsius(100, s), 21.9);
    EXPECT_DOUBLE_EQ(RawTemperatureToCelsius(-1, s), -0.219);
    s.slope = 0.2;
    s.offset = -1.5;
    EXPECT_DOUBLE_EQ(RawTemperatureToCelsius(120, s), 22.5);

    LinkFixture f;
    f.device->responder = [](std::span<const std::uint8_t> fr) {
        return fr[2] == kCodeReadTemperature ? Bytes{0x64} : Bytes{};
    };
    EXPECT_EQ(ReadTemperatureRaw(f.link), 100);
}

}  // namespace
}  // namespace lumivo
