// A per-channel register fault: writes to the listed channels echo a wrong byte and are not
// stored, while every other channel and the sensor block keep working.
#include <gtest/gtest.h>

#include <vector>

#include "sim/instrument.h"
#include "sim/sim_options.h"
#include "sim_test_util.h"

namespace lumivo::sim {
namespace {

using namespace testing;

TEST(InstrumentChannelEcho, OnlyTheListedChannelsAnswerWrong) {
    SimConfig config;
    // 5 is in bank 0x80; 200 (address 72) and 300 (address 172) in bank 0x81. Channel 300's
    // address shares its byte with sensor register 44 of bank 0x80, which must not be hit.
    config.faults.bad_echo_channels = {5, 200, 300};
    Instrument sim(config);
    std::int64_t now = 1'000'000;
    struct Case {
        int channel;
        int echo;  // the correct echo
        bool bad;
    };
    const Case cases[] = {{4, 4, false},     {5, 5, true},      {6, 6, false},
                          {199, 71, false},  {200, 72, true},   {300, 172, true},
                          {301, 173, false}, {383, 255, false}, {172, 44, false}};
    for (const Case& c : cases) {
        const auto reply = Exchange(sim, ChannelWriteFrame(c.channel, 0x25), now);
        ASSERT_EQ(reply.size(), 1u) << c.channel;
        EXPECT_EQ(reply[0] == c.echo, !c.bad) << c.channel;
        EXPECT_EQ(sim.ChannelSetting(c.channel) == 0x25, !c.bad) << c.channel;
    }
    // The sensor block at the same address bytes as channels 172..300 still stores.
    const auto reply = Exchange(sim, SensorWriteFrame(44, 7), now);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0], 0x80 + 44);
    EXPECT_EQ(sim.SensorRegister(44), 7);
}

TEST(InstrumentChannelEcho, FaultOptionAddsChannelsAndChecksTheRange) {
    FaultConfig f;
    ApplyFaultOption("bad-echo-channel=17", f);
    ApplyFaultOption("bad-echo-channel=383", f);
    EXPECT_EQ(f.bad_echo_channels, (std::vector<int>{17, 383}));
    EXPECT_THROW(ApplyFaultOption("bad-echo-channel=384", f), SimUsageError);
    EXPECT_THROW(ApplyFaultOption("bad-echo-channel", f), SimUsageError);
}

}  // namespace
}  // namespace lumivo::sim
