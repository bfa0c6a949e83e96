// Cost of the simulated instrument: answering a block in-process (the baseline, CPU only) and a
// block round trip through the pseudo-terminal server, paced at 115200 baud and unpaced.
// The paced case reports `line_ratio`: measured time over the ideal line time of the reply
// (think time + 192 bytes x 86.8 us), which should stay close to 1.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <thread>

#include "sim/instrument.h"
#include "sim/pty_server.h"

namespace {

using namespace lumivo::sim;

constexpr std::uint8_t kBlockFrame[5] = {0xFF, 0x00, 0x30, 0x00, 0xF0};

void BM_ModelBlockAnswer(benchmark::State& state) {
    SimConfig config;
    config.paced = false;
    Instrument sim(config);
    std::int64_t now = 1'000'000;
    std::uint8_t reply[256];
    for (auto _ : state) {
        sim.HostWrite(kBlockFrame, now);
        now += 20'000;
        benchmark::DoNotOptimize(sim.HostRead(reply, sizeof reply, now));
    }
    state.SetItemsProcessed(state.iterations() * 96);
}
BENCHMARK(BM_ModelBlockAnswer);

void BM_PtyBlockRoundTrip(benchmark::State& state) {
    const bool paced = state.range(0) != 0;
    SimConfig config;
    config.paced = paced;
    Instrument sim(config);
    PtyServer server(sim, PtyServerOptions{{}, 300});
    std::thread serving([&server] { server.Run(); });
    const int fd = ::open(server.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        state.SkipWithError("cannot open the pseudo-terminal");
    } else {
        std::uint8_t buf[256];
        double total_s = 0.0;
        for (auto _ : state) {
            const auto t0 = std::chrono::steady_clock::now();
            if (::write(fd, kBlockFrame, sizeof kBlockFrame) != 5) break;
            std::size_t got = 0;
            while (got < 192) {
                pollfd pfd{fd, POLLIN, 0};
                if (::poll(&pfd, 1, 1000) <= 0) break;
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n <= 0) break;
                got += static_cast<std::size_t>(n);
            }
            const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
            state.SetIterationTime(dt.count());
            total_s += dt.count();
            if (got != 192) {
                state.SkipWithError("short reply");
                break;
            }
        }
        ::close(fd);
        if (paced && state.iterations() > 0) {
            const double ideal_s = (100.0 + 192 * kByteTimeUs + 5 * kByteTimeUs) / 1e6;
            state.counters["line_ratio"] =
                total_s / static_cast<double>(state.iterations()) / ideal_s;
        }
    }
    server.RequestStop();
    serving.join();
}
BENCHMARK(BM_PtyBlockRoundTrip)->Arg(1)->Arg(0)->UseManualTime()->Iterations(60);

}  // namespace
