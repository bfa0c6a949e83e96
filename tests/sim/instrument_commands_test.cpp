// The model answers every command of the instrument's command set with the right bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "sim/instrument.h"
#include "sim_test_util.h"

namespace lumivo::sim {
namespace {

using namespace testing;

constexpr std::int64_t kStart = 5'000'000;

TEST(InstrumentCommands, ReplyLengthsOfTheCommandSet) {
    struct Case {
        const char* name;
        Frame frame;
        std::size_t reply_bytes;
    };
    const Case cases[] = {
        {"block 0", BlockFrame(0), 192},
        {"block 32", BlockFrame(32), 192},
        {"block 64", BlockFrame(64), 192},
        {"block 96", BlockFrame(96), 192},
        {"set outputs", OutputsFrame(7), 0},
        {"read temperature", TemperatureFrame(), 1},
        {"read channel 5", ChannelReadFrame(5), 1},
        {"read channel 300", ChannelReadFrame(300), 1},
        {"read sensor register 0", SensorReadFrame(0), 1},
        {"write channel 5", ChannelWriteFrame(5, 0x25), 1},
        {"write channel 300", ChannelWriteFrame(300, 0x25), 1},
        {"write sensor register 7", SensorWriteFrame(7, 9), 1},
        {"null frame, lines dropped", NullFrame(), 0},
        {"unknown code", MakeFrame(0x00, 0x55, 0x00), 0},
        {"unknown qualifier", MakeFrame(0x02, 0x20, 0x00), 0},
        {"null code with a parameter", MakeFrame(0x00, 0x00, 0x01), 0},
    };
    for (const Case& c : cases) {
        Instrument sim;
        std::int64_t now = kStart;
        EXPECT_EQ(Exchange(sim, c.frame, now).size(), c.reply_bytes) << c.name;
        EXPECT_FALSE(sim.NextArrival().has_value()) << c.name << ": bytes left over";
    }
}

TEST(InstrumentCommands, BlockLayoutIsChannelTriplesHighByteFirst) {
    SimConfig config = testing::QuietConfig();
    // Every channel a different, known level.
    for (int c = 0; c < kChannelCount; ++c) {
        config.channels[static_cast<std::size_t>(c)].transmission = 0.2 + 0.007 * c;
    }
    Instrument sim(config);
    for (int nn : {0, 32, 64, 96}) {
        std::int64_t now = kStart;
        const auto reply = Exchange(sim, BlockFrame(static_cast<std::uint8_t>(nn)), now);
        ASSERT_EQ(reply.size(), 192u);
        for (int t = 0; t < 32; ++t) {
            for (int j = 0; j < 3; ++j) {
                const int k = 3 * t + j;
                const int channel = nn + t + 128 * j;
                const int hi = reply[static_cast<std::size_t>(2 * k)];
                const int lo = reply[static_cast<std::size_t>(2 * k + 1)];
                EXPECT_LE(hi, 15) << "block " << nn << " sample " << k;
                EXPECT_EQ(hi * 256 + lo, std::lround(sim.BeamLevel(channel)))
                    << "block " << nn << " sample " << k << " channel " << channel;
            }
        }
    }
}

TEST(InstrumentCommands, BlockValuesMatchTheNoisySampleAtTheFrameTime) {
    Instrument sim;  // noise, ripple and animals on
    std::int64_t now = kStart;
    const std::int64_t frame_time = now;
    const auto reply = Exchange(sim, BlockFrame(32), now);
    ASSERT_EQ(reply.size(), 192u);
    for (int k = 0; k < 96; ++k) {
        const int channel = 32 + k / 3 + 128 * (k % 3);
        EXPECT_EQ(reply[static_cast<std::size_t>(2 * k)] * 256 +
                      reply[static_cast<std::size_t>(2 * k + 1)],
                  sim.Sample(channel, frame_time))
            << "channel " << channel;
    }
}

TEST(InstrumentCommands, OddBlockStartsStayInsideTheChannelRange) {
    Instrument sim(testing::QuietConfig());
    std::int64_t now = kStart;
    const auto reply = Exchange(sim, BlockFrame(127), now);
    ASSERT_EQ(reply.size(), 192u);
    // Sample 3*0+2 of block 127 is channel 383; sample 3*1+2 would be 384: reported as 0.
    EXPECT_EQ(reply[4] * 256 + reply[5], std::lround(sim.BeamLevel(383)));
    EXPECT_EQ(reply[10] * 256 + reply[11], 0);
}

TEST(InstrumentCommands, ChannelWritesEchoTheAddressAndAreReadBack) {
    struct Case {
        int channel;
        std::uint8_t b1, b2;
    };
    const Case cases[] = {{0, 0x80, 0},     {127, 0x80, 127}, {128, 0x81, 0},  {200, 0x81, 72},
                          {255, 0x81, 127}, {256, 0x81, 128}, {383, 0x81, 255}};
    for (const Case& c : cases) {
        Instrument sim;
        std::int64_t now = kStart;
        const Frame write = ChannelWriteFrame(c.channel, 0x25);  // PinHole 5, Gain 1
        ASSERT_EQ(write[1], c.b1);
        ASSERT_EQ(write[2], c.b2);
        EXPECT_EQ(Exchange(sim, write, now), std::vector<std::uint8_t>{c.b2}) << c.channel;
        EXPECT_EQ(sim.ChannelSetting(c.channel), 0x25) << c.channel;
        EXPECT_EQ(Instrument::PinHoleOf(sim.ChannelSetting(c.channel)), 5);
        EXPECT_EQ(Instrument::GainOf(sim.ChannelSetting(c.channel)), 1);
        EXPECT_EQ(Exchange(sim, ChannelReadFrame(c.channel), now), std::vector<std::uint8_t>{0x25})
            << c.channel;
        // Nothing else moved.
        for (int other = 0; other < kChannelCount; ++other) {
            if (other != c.channel) {
                ASSERT_EQ(sim.ChannelSetting(other), sim.Config().initial_setting)
                    << "writing " << c.channel << " changed " << other;
            }
        }
    }
}

TEST(InstrumentCommands, SensorRegistersAreReadAndWrittenAtAddress0x80Up) {
    Instrument sim;
    std::int64_t now = kStart;
    const std::uint8_t defaults[] = {0, 1, 24, 0, 0, 219, 0, 0};
    for (int r = 0; r < 8; ++r) {
        EXPECT_EQ(Exchange(sim, SensorReadFrame(r), now), std::vector<std::uint8_t>{defaults[r]})
            << "register " << r;
    }
    EXPECT_EQ(Exchange(sim, SensorWriteFrame(1, 11), now), std::vector<std::uint8_t>{0x81});
    EXPECT_EQ(Exchange(sim, SensorReadFrame(1), now), std::vector<std::uint8_t>{11});
    EXPECT_EQ(sim.SensorRegister(1), 11);
    // Same address byte as channel 1 + 128 with bank 1, yet a different cell.
    EXPECT_EQ(sim.ChannelSetting(129), sim.Config().initial_setting);
    EXPECT_EQ(sim.ChannelSetting(1), sim.Config().initial_setting);
}

TEST(InstrumentCommands, SerialNumberNeedsRtsAndDtrRaised) {
    struct Case {
        int serial;
        std::uint8_t hi, lo;
    };
    const Case cases[] = {
        {123, 0, 123}, {254, 0, 254}, {255, 1, 0}, {300, 1, 45}, {65279, 255, 254}};
    for (const Case& c : cases) {
        SimConfig config;
        config.serial_number = c.serial;
        Instrument sim(config);
        std::int64_t now = kStart;
        sim.HostSetLine(kLineRts, true, now);
        EXPECT_TRUE(Exchange(sim, NullFrame(), now).empty()) << "RTS alone answers";
        sim.HostSetLine(kLineDtr, true, now);
        const auto reply = Exchange(sim, NullFrame(), now);
        ASSERT_EQ(reply.size(), 2u);
        EXPECT_EQ(reply[0], c.hi);
        EXPECT_EQ(reply[1], c.lo);
        EXPECT_EQ(reply[0] * 255 + reply[1], c.serial);
        sim.HostSetLine(kLineRts, false, now);
        EXPECT_TRUE(Exchange(sim, NullFrame(), now).empty()) << "DTR alone answers";
    }
    SimConfig bad;
    bad.serial_number = 65280;
    EXPECT_THROW(Instrument{bad}, std::invalid_argument);
}

TEST(InstrumentCommands, SetOutputsSetsTheMaskAndTheLight) {
    Instrument sim;
    std::int64_t now = kStart;
    for (std::uint8_t mask = 0; mask < 8; ++mask) {
        Exchange(sim, OutputsFrame(mask), now);
        EXPECT_EQ(sim.OutputMask(), mask);
        EXPECT_EQ(sim.LightOn(), (mask & 4) != 0);
    }
}

TEST(InstrumentCommands, PacedRepliesArriveAtTheLineRate) {
    SimConfig config;
    config.reply_latency_us = 100;
    Instrument sim(config);
    const std::int64_t t0 = kStart;
    sim.HostWrite(BlockFrame(0), t0);
    std::vector<std::int64_t> arrivals;
    std::int64_t now = t0;
    std::uint8_t byte = 0;
    while (auto next = sim.NextArrival()) {
        now = *next;
        ASSERT_EQ(sim.HostRead(&byte, 1, now - 1), 0u) << "byte taken before it arrived";
        ASSERT_EQ(sim.HostRead(&byte, 1, now), 1u);
        arrivals.push_back(now - t0);
    }
    ASSERT_EQ(arrivals.size(), 192u);
    for (std::size_t i = 0; i < arrivals.size(); ++i) {
        EXPECT_EQ(arrivals[i], 100 + std::llround(static_cast<double>(i + 1) * kByteTimeUs));
    }
    EXPECT_NEAR(static_cast<double>(arrivals.back() - arrivals.front()), 191 * 86.806, 1.0);
    EXPECT_NEAR(static_cast<double>(arrivals.back()), 16'767.0, 2.0);  // ~16.7 ms + latency
}

TEST(InstrumentCommands, BackToBackRepliesQueueBehindEachOther) {
    Instrument sim;
    std::int64_t now = kStart;
    sim.HostWrite(BlockFrame(0), now);
    sim.HostWrite(TemperatureFrame(), now);
    // The temperature byte follows the 192 block bytes on the line.
    std::vector<std::uint8_t> all(300);
    all.resize(sim.HostRead(all.data(), all.size(), now + 16'700));
    EXPECT_LT(all.size(), 192u);
    const std::size_t first = all.size();
    all.resize(300);
    all.resize(first + sim.HostRead(all.data() + first, 300 - first, now + 40'000));
    ASSERT_EQ(all.size(), 193u);
    EXPECT_EQ(all.back(), sim.RawTemperature());
}

TEST(InstrumentCommands, UnpacedRepliesArriveTogetherAfterTheLatency) {
    SimConfig config;
    config.paced = false;
    config.reply_latency_us = 0;
    Instrument sim(config);
    sim.HostWrite(BlockFrame(64), kStart);
    ASSERT_TRUE(sim.NextArrival().has_value());
    EXPECT_EQ(*sim.NextArrival(), kStart);
    std::vector<std::uint8_t> out(256);
    EXPECT_EQ(sim.HostRead(out.data(), out.size(), kStart), 192u);
}

TEST(InstrumentCommands, PurgeDropsPendingRepliesAndAHalfFrame) {
    Instrument sim;
    std::int64_t now = kStart;
    sim.HostWrite(BlockFrame(0), now);
    std::vector<std::uint8_t> out(10);
    ASSERT_EQ(sim.HostRead(out.data(), 10, now + 1'500), 10u);
    const Frame temp = TemperatureFrame();
    sim.HostWrite(std::span(temp).first(3), now + 1'500);
    sim.HostPurge(now + 1'600);
    EXPECT_FALSE(sim.NextArrival().has_value());
    EXPECT_EQ(sim.PendingReplyBytes(), 0u);
    // The rest of the half frame does not complete anything; a whole frame then works.
    now += 2'000;
    EXPECT_TRUE(Exchange(sim, {temp[3], temp[4], 0, 0, 0}, now).empty());
    const auto reply = Exchange(sim, temp, now);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0], sim.RawTemperature());
}

TEST(InstrumentCommands, ResynchronisesAfterGarbage) {
    // Each garbage prefix is followed by two temperature requests; at most the first may be
    // eaten by the garbage, the second must always be answered with exactly one byte.
    const std::vector<std::vector<std::uint8_t>> garbage = {
        {},
        {0x00},
        {0xF0, 0xF0},
        {0xFF},
        {0xFF, 0xFF, 0xFF},
        {0xFF, 0x00, 0x21},
        {0xFF, 0x12, 0x34, 0x56, 0x78, 0x9A},
        {0x30, 0x00, 0xF0, 0xFF, 0x30},
        {0xFF, 0x00, 0x30, 0x00},
    };
    for (std::size_t g = 0; g < garbage.size(); ++g) {
        Instrument sim;
        std::int64_t now = kStart;
        sim.HostWrite(garbage[g], now);
        const Frame temp = TemperatureFrame();
        sim.HostWrite(temp, now);
        sim.HostWrite(temp, now);
        now += 1'000'000;
        std::vector<std::uint8_t> out(400);
        const std::size_t n = sim.HostRead(out.data(), out.size(), now);
        EXPECT_GE(n, 1u) << "garbage case " << g;
        EXPECT_LE(n, 2u) << "garbage case " << g;
        EXPECT_EQ(out[n - 1], sim.RawTemperature()) << "garbage case " << g;
    }
}

TEST(InstrumentCommands, RandomGarbageNeverDesynchronisesForLong) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        Instrument sim(testing::QuietConfig());
        std::int64_t now = kStart;
        std::vector<std::uint8_t> junk(rng() % 40);
        for (auto& b : junk) b = static_cast<std::uint8_t>(rng() % 3 == 0 ? 0xFF : rng());
        sim.HostWrite(junk, now);
        now += 1'000'000;
        std::vector<std::uint8_t> drain(100'000);
        sim.HostRead(drain.data(), drain.size(), now);  // whatever the junk asked for
        // Two frames later the parser is in step again.
        Exchange(sim, TemperatureFrame(), now, 1'000'000);
        const auto reply = Exchange(sim, TemperatureFrame(), now, 1'000'000);
        ASSERT_EQ(reply.size(), 1u) << "round " << round;
    }
}

TEST(InstrumentCommands, AStalledHalfFrameIsDroppedAfterTheFrameTimeout) {
    Instrument sim;
    std::int64_t now = kStart;
    const Frame temp = TemperatureFrame();
    sim.HostWrite(std::span(temp).first(3), now);
    now += 200'000;  // longer than the 100 ms frame timeout
    // The tail alone is not a frame; the next whole frame is answered.
    EXPECT_TRUE(Exchange(sim, {temp[3], temp[4], 0x00, 0x00, 0x00}, now).empty());
    EXPECT_EQ(Exchange(sim, temp, now).size(), 1u);
}

TEST(InstrumentCommands, BreakLosesTheBytesSentDuringIt) {
    Instrument sim;
    std::int64_t now = kStart;
    sim.HostSetLine(kLineBreak, true, now);
    EXPECT_TRUE(sim.Line(kLineBreak));
    EXPECT_TRUE(Exchange(sim, TemperatureFrame(), now).empty());
    EXPECT_EQ(sim.Stats().lost_bytes, 5u);
    sim.HostSetLine(kLineBreak, false, now);
    EXPECT_EQ(Exchange(sim, TemperatureFrame(), now).size(), 1u);
}

TEST(InstrumentCommands, TimeNeverRunsBackwards) {
    Instrument sim;
    std::int64_t now = kStart;
    Exchange(sim, OutputsFrame(3), now, 600'000'000);
    sim.AdvanceTo(now);
    const double warm = sim.TemperatureC();
    EXPECT_GT(warm, 22.5);
    // A caller with an older time stamp neither rewinds nor re-applies time.
    sim.AdvanceTo(kStart);
    EXPECT_EQ(sim.TemperatureC(), warm);
}

}  // namespace
}  // namespace lumivo::sim
