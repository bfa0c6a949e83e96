// Injected faults: silence, unplugging, short blocks, bad high bytes, wrong echoes, delays.
#include <gtest/gtest.h>

#include <vector>

#include "sim/instrument.h"
#include "sim_test_util.h"

namespace lumivo::sim {
namespace {

using namespace testing;

constexpr std::int64_t kStart = 1'000'000;

TEST(InstrumentFaults, SilenceAnswersNothingButStillActs) {
    SimConfig config;
    config.faults.silent = true;
    Instrument sim(config);
    std::int64_t now = kStart;
    sim.HostSetLine(kLineRts, true, now);
    sim.HostSetLine(kLineDtr, true, now);
    EXPECT_TRUE(Exchange(sim, BlockFrame(0), now).empty());
    EXPECT_TRUE(Exchange(sim, TemperatureFrame(), now).empty());
    EXPECT_TRUE(Exchange(sim, NullFrame(), now).empty());
    EXPECT_TRUE(Exchange(sim, ChannelWriteFrame(10, 0x41), now).empty());
    EXPECT_FALSE(sim.NextArrival().has_value());
    EXPECT_EQ(sim.ChannelSetting(10), 0x41);
    Exchange(sim, OutputsFrame(4), now);
    EXPECT_TRUE(sim.LightOn());

    sim.Faults().silent = false;
    EXPECT_EQ(Exchange(sim, ChannelReadFrame(10), now), std::vector<std::uint8_t>{0x41});
}

TEST(InstrumentFaults, UnpluggedLosesWritesAndRepliesUntilReplugged) {
    Instrument sim;
    std::int64_t now = kStart;
    // A reply on its way when the cable is pulled never arrives.
    sim.HostWrite(BlockFrame(0), now);
    sim.Unplug();
    EXPECT_TRUE(sim.Unplugged());
    now += 100'000;
    std::vector<std::uint8_t> out(256);
    EXPECT_EQ(sim.HostRead(out.data(), out.size(), now), 0u);

    EXPECT_TRUE(Exchange(sim, ChannelWriteFrame(3, 0x47), now).empty());
    EXPECT_EQ(sim.ChannelSetting(3), sim.Config().initial_setting);
    Exchange(sim, OutputsFrame(7), now);
    EXPECT_EQ(sim.OutputMask(), 0);
    EXPECT_EQ(sim.Stats().lost_bytes, 10u);

    // Half a frame before the cable is pulled does not combine with bytes after re-plugging.
    sim.Replug();
    const auto temp = TemperatureFrame();
    sim.HostWrite(std::span(temp).first(2), now);
    sim.Unplug();
    sim.Replug();
    EXPECT_TRUE(Exchange(sim, {temp[2], temp[3], temp[4], 0, 0}, now).empty());
    EXPECT_EQ(Exchange(sim, ChannelWriteFrame(3, 0x47), now), std::vector<std::uint8_t>{3});
    EXPECT_EQ(sim.ChannelSetting(3), 0x47);
}

TEST(InstrumentFaults, ShortBlocksForACountOrAlways) {
    struct Case {
        int count;
        int bytes;
        std::vector<std::size_t> lengths;  // of four consecutive block replies
    };
    const Case cases[] = {
        {0, 191, {192, 192, 192, 192}}, {1, 191, {191, 192, 192, 192}},
        {2, 96, {96, 96, 192, 192}},    {kAlways, 191, {191, 191, 191, 191}},
        {1, 0, {0, 192, 192, 192}},
    };
    for (const Case& c : cases) {
        SimConfig config;
        config.faults.short_blocks = c.count;
        config.faults.short_block_bytes = c.bytes;
        Instrument sim(config);
        std::int64_t now = kStart;
        std::vector<std::size_t> lengths;
        for (int i = 0; i < 4; ++i) lengths.push_back(Exchange(sim, BlockFrame(0), now).size());
        EXPECT_EQ(lengths, c.lengths) << "count " << c.count << " bytes " << c.bytes;
        // Other replies are not cut short.
        EXPECT_EQ(Exchange(sim, TemperatureFrame(), now).size(), 1u);
    }
}

TEST(InstrumentFaults, HighByteAboveFifteenInTheChosenSample) {
    SimConfig config = testing::QuietConfig();
    config.faults.high_byte_blocks = 1;
    config.faults.high_byte_sample = 5;
    Instrument sim(config);
    std::int64_t now = kStart;
    const auto bad = Exchange(sim, BlockFrame(0), now);
    const auto good = Exchange(sim, BlockFrame(0), now);
    ASSERT_EQ(bad.size(), 192u);
    ASSERT_EQ(good.size(), 192u);
    EXPECT_GT(bad[10], 15);
    EXPECT_EQ(bad[10] & 0x0F, good[10]);  // clamping to 15 keeps a sane value nearby
    for (std::size_t k = 0; k < 96; ++k) {
        EXPECT_LE(good[2 * k], 15) << k;
        if (k != 5) {
            EXPECT_EQ(bad[2 * k], good[2 * k]) << k;
        }
    }
}

TEST(InstrumentFaults, BadEchoForTheFirstKWrites) {
    SimConfig config;
    config.faults.bad_echo_writes = 3;
    Instrument sim(config);
    std::int64_t now = kStart;
    const int channel = 200;  // bank 0x81, address 72
    std::vector<std::uint8_t> echoes;
    for (int i = 0; i < 9; ++i) {
        const auto reply = Exchange(sim, ChannelWriteFrame(channel, 0x25), now);
        ASSERT_EQ(reply.size(), 1u);
        echoes.push_back(reply[0]);
        // Garbled writes are not stored.
        EXPECT_EQ(sim.ChannelSetting(channel) == 0x25, i >= 3) << "write " << i;
    }
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(echoes[static_cast<std::size_t>(i)] == 72, i >= 3) << "write " << i;
    }
}

TEST(InstrumentFaults, ExtraDelayShiftsEveryReply) {
    for (const bool paced : {true, false}) {
        SimConfig config;
        config.paced = paced;
        config.reply_latency_us = 100;
        config.faults.extra_delay_us = 250'000;
        Instrument sim(config);
        sim.HostWrite(TemperatureFrame(), kStart);
        ASSERT_TRUE(sim.NextArrival().has_value());
        const std::int64_t expected = kStart + 100 + 250'000 + (paced ? 87 : 0);
        EXPECT_EQ(*sim.NextArrival(), expected) << "paced " << paced;
        std::uint8_t b = 0;
        EXPECT_EQ(sim.HostRead(&b, 1, expected - 1), 0u);
        EXPECT_EQ(sim.HostRead(&b, 1, expected), 1u);
    }
}

}  // namespace
}  // namespace lumivo::sim
