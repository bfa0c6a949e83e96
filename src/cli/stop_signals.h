// SIGINT and SIGTERM for the long lumivo-cli commands: blocked while the command runs and taken
// with sigtimedwait() at the points where it may stop (between ticks, between channels, when
// the engine lets window events run), so it can end cleanly instead of dying mid-exchange. No
// handler and no global flag are needed.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

namespace lumivo::cli {

class StopSignals {
  public:
    StopSignals() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set_, &previous_);
    }
    ~StopSignals() {
        // A signal that arrived after the stop is not lost: it acts once unblocked.
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Waits up to `wait_us` for a stop signal; returns it, or 0.
    int Wait(std::int64_t wait_us) {
        timespec ts{};
        if (wait_us > 0) {
            ts.tv_sec = static_cast<time_t>(wait_us / 1'000'000);
            ts.tv_nsec = static_cast<long>(wait_us % 1'000'000 * 1000);
        }
        for (;;) {
            const int sig = sigtimedwait(&set_, nullptr, &ts);
            if (sig > 0) {
                received_ = sig;
                return sig;
            }
            if (errno != EINTR) return 0;
        }
    }
    int received() const { return received_; }
    // A stop signal came, now or earlier; does not wait.
    bool Stopped() { return received_ != 0 || Wait(0) != 0; }

  private:
    sigset_t set_{};
    sigset_t previous_{};
    int received_ = 0;
};

}  // namespace lumivo::cli
