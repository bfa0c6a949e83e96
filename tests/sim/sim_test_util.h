// Helpers for driving the in-process instrument model in virtual time.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/instrument.h"

namespace lumivo::sim::testing {

using Frame = std::array<std::uint8_t, 5>;

inline Frame MakeFrame(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
    return {0xFF, b1, b2, b3, 0xF0};
}

inline Frame BlockFrame(std::uint8_t first) {
    return MakeFrame(0x00, 0x30, first);
}
inline Frame TemperatureFrame() {
    return MakeFrame(0x00, 0x21, 0x00);
}
inline Frame NullFrame() {
    return MakeFrame(0x00, 0x00, 0x00);
}
inline Frame OutputsFrame(std::uint8_t mask) {
    return MakeFrame(0x00, 0x10, mask);
}

// Write to channel c (bank 0x80 for 0..127, 0x81 with address c - 128 above).
inline Frame ChannelWriteFrame(int channel, std::uint8_t value) {
    return channel > 127 ? MakeFrame(0x81, static_cast<std::uint8_t>(channel - 128), value)
                         : MakeFrame(0x80, static_cast<std::uint8_t>(channel), value);
}
inline Frame ChannelReadFrame(int channel) {
    return channel > 127 ? MakeFrame(0x01, 0x20, static_cast<std::uint8_t>(channel - 128))
                         : MakeFrame(0x00, 0x20, static_cast<std::uint8_t>(channel));
}
inline Frame SensorWriteFrame(int reg, std::uint8_t value) {
    return MakeFrame(0x80, static_cast<std::uint8_t>(0x80 + reg), value);
}
inline Frame SensorReadFrame(int reg) {
    return MakeFrame(0x00, 0x20, static_cast<std::uint8_t>(0x80 + reg));
}

// Writes `frame` at `now`, lets `wait_us` pass and takes every reply byte that arrived.
inline std::vector<std::uint8_t> Exchange(Instrument& sim, const Frame& frame, std::int64_t& now,
                                          std::int64_t wait_us = 100'000) {
    sim.HostWrite(frame, now);
    now += wait_us;
    std::vector<std::uint8_t> out(4096);
    out.resize(sim.HostRead(out.data(), out.size(), now));
    return out;
}

// A full reading of all 384 channels through the four block requests (empty when a block came
// back short).
inline std::vector<int> ReadAllChannels(Instrument& sim, std::int64_t& now) {
    std::vector<int> values(kChannelCount, -1);
    for (int nn = 0; nn < 128; nn += 32) {
        const auto reply = Exchange(sim, BlockFrame(static_cast<std::uint8_t>(nn)), now, 20'000);
        if (reply.size() != kBlockReplyBytes) return {};
        for (int k = 0; k < 96; ++k) {
            const int channel = nn + k / 3 + 128 * (k % 3);
            values[static_cast<std::size_t>(channel)] =
                reply[static_cast<std::size_t>(2 * k)] * 256 +
                reply[static_cast<std::size_t>(2 * k + 1)];
        }
    }
    return values;
}

// A quiet configuration: no noise, ripple, spread or animals, so levels are exact.
inline SimConfig QuietConfig() {
    SimConfig config;
    config.transmission_spread = 0.0;
    config.default_activity = 0.0;
    for (ChannelModel& m : config.channels) {
        m.noise = 0.0;
        m.ripple = 0.0;
    }
    return config;
}

}  // namespace lumivo::sim::testing
