// Feeds arbitrary bytes to the simulated instrument, interleaved with line changes, purges,
// reads, time steps and fault switches chosen by the input. The model must neither crash nor
// hang, and its reply queue must stay consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "sim/instrument.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace lumivo::sim;
    if (size < 2) return 0;
    SimConfig config;
    config.paced = (data[0] & 1) != 0;
    config.seed = data[1];
    config.default_activity = (data[0] & 2) != 0 ? 1.0 : 0.0;
    Instrument sim(config);

    std::int64_t now = 1'000'000;
    std::int64_t last_arrival = 0;
    std::uint8_t out[256];
    std::size_t i = 2;
    while (i < size) {
        const std::uint8_t op = data[i++];
        const int arg = op >> 4;
        switch (op & 15) {
            case 0:
            case 1:
            case 2:
            case 3: {  // raw bytes from the host, 1..16 of them
                const std::size_t n =
                    std::min<std::size_t>(static_cast<std::size_t>(arg) + 1, size - i);
                sim.HostWrite(std::span(data + i, n), now);
                i += n;
                break;
            }
            case 4: {  // a well-formed frame built from the next three bytes
                if (size - i < 3) return 0;
                const std::uint8_t frame[5] = {0xFF, data[i], data[i + 1], data[i + 2], 0xF0};
                sim.HostWrite(frame, now);
                i += 3;
                break;
            }
            case 5:
                sim.HostSetLine(1 + arg % 3, (arg & 4) != 0, now);
                break;
            case 6:
                sim.HostPurge(now);
                Check(!sim.NextArrival().has_value());
                last_arrival = 0;
                break;
            case 7: {
                const std::size_t max = static_cast<std::size_t>(arg) * 16;
                Check(sim.HostRead(out, max, now) <= max);
                break;
            }
            case 8:
                now += static_cast<std::int64_t>(arg) * 900;
                break;
            case 9:
                now += static_cast<std::int64_t>(arg) * 50'000;
                break;
            case 10:
                if (sim.Unplugged()) {
                    sim.Replug();
                } else {
                    sim.Unplug();
                }
                last_arrival = 0;
                break;
            case 11:
                sim.Faults().silent = !sim.Faults().silent;
                break;
            case 12:
                sim.Faults().short_blocks = arg % 3 - 1;
                sim.Faults().short_block_bytes = arg * 12;
                break;
            case 13:
                sim.Faults().high_byte_blocks = arg % 3 - 1;
                sim.Faults().high_byte_sample = arg * 6;
                break;
            case 14:
                sim.Faults().bad_echo_writes = arg % 4 - 1;
                break;
            case 15:
                sim.Faults().extra_delay_us = arg * 1000;
                break;
            default:
                break;
        }
        // Replies come out in order of arrival.
        if (const auto next = sim.NextArrival()) {
            Check(*next >= last_arrival);
            last_arrival = *next;
        }
        Check(sim.OutputMask() >= 0 && sim.OutputMask() <= 7);
    }
    // Everything queued can be drained.
    now += 10'000'000'000LL;
    while (sim.HostRead(out, sizeof out, now) > 0) {
    }
    Check(sim.Unplugged() || sim.PendingReplyBytes() == 0);
    return 0;
}
