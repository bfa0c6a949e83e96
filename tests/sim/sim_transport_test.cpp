// The device link against the in-process simulated instrument, in virtual time: the transport's
// timing, and the command set end to end (serial number, blocks, the write ladder, the sensor
// block).
#include "sim/sim_transport.h"

#include <gtest/gtest.h>

#include "core/device/command_set.h"
#include "sim/sim_test_util.h"
#include "support/fake_clock.h"
#include "support/scripted_dialogs.h"

namespace lumivo {
namespace {

using sim::Instrument;
using sim::SimConfig;
using namespace testing;

constexpr double kByteUs = sim::kByteTimeUs;

struct SimLink {
    explicit SimLink(SimConfig config = {}) : instrument(std::move(config)) {
        link.ComPortNumber = 1;
        EXPECT_EQ(CommOpen(link.ports, 1, "COM1", kInstrumentPortSettings), 0);
    }
    std::int64_t Now() { return clock.MonotonicMicros(); }

    FakeClock clock;
    ScriptedDialogs dialogs;
    Instrument instrument;
    DeviceLink link{clock, dialogs, sim::SimTransportOpener(instrument, clock, 1)};
};

TEST(SimTransport, OnlyItsOwnPortOpens) {
    SimLink s;
    EXPECT_EQ(CommOpen(s.link.ports, 2, "COM2", kInstrumentPortSettings), ENOENT);
    EXPECT_EQ(s.link.ports.error.operation, "CommOpen (CreateFile)");
}

TEST(SimTransport, ReadTimingFollowsTheLine) {
    SimLink s;
    auto& port = *s.link.ports.table[1].handle;
    const ReadTimeouts contract{100'000, 500'000};
    std::uint8_t buf[256];

    // Nothing asked: a read gives up after exactly the total timeout.
    std::int64_t t0 = s.Now();
    EXPECT_EQ(port.Read(buf, 2, contract).bytes, 0u);
    EXPECT_EQ(s.Now() - t0, 500'000);

    // A 192-byte block arrives byte by byte and is read whole, at the line rate.
    SendCommand(s.link, ReadChannelBlockCommand(0));
    t0 = s.Now();
    EXPECT_EQ(port.Read(buf, 192, contract).bytes, 192u);
    EXPECT_NEAR(static_cast<double>(s.Now() - t0), 100 + 192 * kByteUs, 2.0);

    // Asking for more than comes: the read ends 100 ms after the last byte.
    SendCommand(s.link, ReadTemperatureCommand());
    t0 = s.Now();
    EXPECT_EQ(port.Read(buf, 2, contract).bytes, 1u);
    EXPECT_NEAR(static_cast<double>(s.Now() - t0), 100 + kByteUs + 100'000, 2.0);

    // A purge drops a reply on its way.
    SendCommand(s.link, ReadTemperatureCommand());
    EXPECT_EQ(CommFlush(s.link.ports, 1), 0);
    EXPECT_EQ(port.Read(buf, 1, {100'000, 1'000}).bytes, 0u);
}

TEST(SimTransport, WrongLineSettingsHearNothing) {
    FakeClock clock;
    ScriptedDialogs dialogs;
    Instrument instrument;
    DeviceLink link(clock, dialogs, sim::SimTransportOpener(instrument, clock, 1));
    ASSERT_EQ(CommOpen(link.ports, 1, "COM1", "baud=9600 parity=N data=8 stop=1"), 0);
    EXPECT_EQ(SendCommandAndRead(link, ReadTemperatureCommand()), kNoReply);
    EXPECT_EQ(instrument.Stats().frames, 0u);
}

TEST(SimDevice, OneByteExchangeTakesItsWireTimeNotTheTimeouts) {
    SimLink s;
    const std::int64_t t0 = s.Now();
    const int raw = SendCommandAndRead(s.link, ReadTemperatureCommand());
    const std::int64_t took = s.Now() - t0;
    EXPECT_EQ(raw, s.instrument.RawTemperature());
    // 5 bytes out, the instrument's think time, 1 byte back, and nothing more: no quiet time
    // is waited for a stray byte.
    const double wire = 6 * kByteUs;
    EXPECT_NEAR(static_cast<double>(took), wire + 100, 2.0);
    EXPECT_EQ(s.clock.total_sleep_ms(), 0);
}

TEST(SimDevice, SerialNumberNeedsTheLinesAndDoesNotWaitOutTimeouts) {
    SimConfig config;
    config.serial_number = 3 * 255 + 7;
    SimLink s(config);
    const std::int64_t t0 = s.Now();
    EXPECT_EQ(ReadSerialNumber(s.link, 1), 3 * 255 + 7);
    EXPECT_LT(s.Now() - t0, 10'000);  // the 5 ms pause and the bytes on the line
    EXPECT_FALSE(s.instrument.Line(sim::kLineRts));
    EXPECT_FALSE(s.instrument.Line(sim::kLineDtr));
    // Without the lines raised the null frame is not answered.
    EXPECT_EQ(SendCommandAndRead(s.link, NullFrameCommand()), kNoReply);
}

TEST(SimDevice, FullSampleReadsAll384ChannelsInLineTime) {
    SimLink s;
    std::vector<std::uint16_t> channels(385, 0xFFFF);
    const std::int64_t t0 = s.Now();
    const SampleRead r = ReadFullSample(s.link, channels);
    const double took = static_cast<double>(s.Now() - t0);
    EXPECT_TRUE(r.AllGood());
    for (int c = 0; c < 384; ++c) EXPECT_LE(channels[static_cast<std::size_t>(c)], 4095);
    EXPECT_EQ(channels[384], 0xFFFF);
    const double wire = 4 * 197 * kByteUs;  // 68.4 ms
    EXPECT_GE(took, wire);
    EXPECT_LE(took, wire * 1.05);

    // The values are the instrument's: a steady, noise-free channel reads its beam level.
    SimConfig quiet = sim::testing::QuietConfig();
    quiet.channels[200].kind = sim::ChannelKind::kSaturated;
    quiet.channels[17].kind = sim::ChannelKind::kDead;
    SimLink q(quiet);
    ASSERT_TRUE(ReadFullSample(q.link, channels).AllGood());
    EXPECT_EQ(channels[200], 4095);
    EXPECT_LE(channels[17], 5);
    EXPECT_NEAR(channels[5], q.instrument.BeamLevel(5), 1.0);
    EXPECT_NEAR(channels[300], q.instrument.BeamLevel(300), 1.0);
}

TEST(SimDevice, ShortAndBadBlocksAreRefused) {
    SimLink s;
    s.instrument.Faults().short_blocks = 1;
    std::vector<std::uint16_t> channels(385, 7);
    BlockRead r = ReadChannelBlock(s.link, 32, BlockReadMode::Whole, channels);
    EXPECT_EQ(r.bytes, 191);
    EXPECT_FALSE(r.decode.accepted);
    EXPECT_EQ(std::count(channels.begin(), channels.end(), 7), 385);

    s.instrument.Faults().high_byte_blocks = 1;
    s.instrument.Faults().high_byte_sample = 0;
    r = ReadChannelBlock(s.link, 32, BlockReadMode::TwoHalves, channels);
    EXPECT_EQ(r.bytes, 192);
    EXPECT_TRUE(r.decode.accepted);
    EXPECT_TRUE(r.decode.bad);
    EXPECT_GE(channels[32], 0x0F00);

    // The next block is clean again, and nothing of the earlier replies is left over.
    r = ReadChannelBlock(s.link, 64, BlockReadMode::TwoHalves, channels);
    EXPECT_TRUE(r.decode.accepted);
    EXPECT_FALSE(r.decode.bad);
}

TEST(SimDevice, WriteLadderAgainstWrongEchoes) {
    struct Case {
        int wrong;
        int result;
        std::uint64_t write_frames;
        std::int64_t slept_ms;
    };
    const Case cases[] = {
        {0, 1, 9, 0},      {5, 1, 9, 0},      {9, 1, 18, 1200},
        {20, 1, 27, 2400}, {30, 1, 36, 3600}, {sim::kAlways, -1, 36, 3600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wrong);
        SimLink s;
        s.instrument.Faults().bad_echo_writes = c.wrong;
        const std::uint64_t frames_before = s.instrument.Stats().frames;
        EXPECT_EQ(WriteChannelSetting(s.link, 200, 5, 1), c.result);
        const std::uint64_t resyncs = static_cast<std::uint64_t>(c.slept_ms / 1200);
        EXPECT_EQ(s.instrument.Stats().frames - frames_before, c.write_frames + resyncs);
        EXPECT_EQ(s.clock.total_sleep_ms(), c.slept_ms);
        if (c.result == 1) {
            EXPECT_EQ(s.instrument.ChannelSetting(200), 1 * 32 + 5);
            EXPECT_TRUE(s.dialogs.shown().empty());
        } else {
            EXPECT_EQ(s.dialogs.Messages(),
                      std::vector<std::string>{
                          "Ops...Data Writing ERROR: reg(200)... Check COM and Try again"});
        }
    }
}

TEST(SimDevice, WritingAll384ChannelsTakesSecondsNotHours) {
    SimLink s;
    const std::int64_t t0 = s.Now();
    for (int ch = 0; ch < 384; ++ch) ASSERT_EQ(WriteChannelSetting(s.link, ch, ch % 32, ch % 8), 1);
    for (int ch = 0; ch < 384; ++ch) {
        EXPECT_EQ(s.instrument.ChannelSetting(ch), (ch % 8) * 32 + ch % 32);
    }
    // 384 x 9 one-byte exchanges of about 1 ms each.
    EXPECT_LT(s.Now() - t0, 384 * 9 * 2'000);
}

TEST(SimDevice, SensorCalibrationIsReadAndValidated) {
    struct Case {
        const char* name;
        std::array<std::uint8_t, 8> registers;
        double slope;
        double offset;
        bool calibrated;
        int month;
        int year;
    };
    const Case cases[] = {
        {"default block", {0, 1, 24, 0, 0, 219, 0, 0}, 0.219, 0.0, true, 1, 24},
        {"own calibration", {0, 11, 25, 1, 23, 0x2C, 0x01, 0}, 0.3, -2.3, true, 11, 25},
        {"slope 0.5 is replaced", {0, 6, 25, 0, 10, 244, 1, 0}, 0.219, 0.0, false, 6, 25},
        {"never written", {255, 255, 255, 255, 255, 255, 255, 255}, 0.219, 0.0, false, 255, 255},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimConfig config;
        config.sensor_registers = c.registers;
        SimLink s(config);
        ReadSensorCalibration(s.link);
        EXPECT_DOUBLE_EQ(s.link.sensor.slope, c.slope);
        EXPECT_DOUBLE_EQ(s.link.sensor.offset, c.offset);
        EXPECT_EQ(s.link.sensor.calibrated, c.calibrated);
        EXPECT_EQ(s.link.sensor.month, c.month);
        EXPECT_EQ(s.link.sensor.year, c.year);
        // 8 registers x 2 reads x 200 ms, nothing waited out.
        EXPECT_EQ(s.clock.total_sleep_ms(), 8 * 2 * 200);
    }
}

TEST(SimDevice, SilentInstrumentGivesMissingReplies) {
    SimLink s;
    s.instrument.Faults().silent = true;
    EXPECT_EQ(SendCommandAndRead(s.link, ReadTemperatureCommand()), kNoReply);
    EXPECT_EQ(ReadSerialNumber(s.link, 1), -1);
    std::vector<std::uint16_t> channels(385, 0);
    EXPECT_FALSE(ReadFullSample(s.link, channels).AllGood());
}

TEST(SimDevice, TwoInstrumentsInOneProcessAreIndependent) {
    SimConfig a_config;
    a_config.serial_number = 101;
    SimConfig b_config;
    b_config.serial_number = 202;
    SimLink a(a_config);
    SimLink b(b_config);
    EXPECT_EQ(ReadSerialNumber(a.link, 1), 101);
    EXPECT_EQ(ReadSerialNumber(b.link, 1), 202);
    ASSERT_EQ(WriteChannelSetting(a.link, 3, 1, 1), 1);
    EXPECT_EQ(a.instrument.ChannelSetting(3), 33);
    EXPECT_NE(b.instrument.ChannelSetting(3), 33);
}

}  // namespace
}  // namespace lumivo
