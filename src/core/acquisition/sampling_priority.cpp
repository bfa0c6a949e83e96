#include "core/acquisition/sampling_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lumivo {

SamplingPriority RaiseCallingThreadPriority(int realtime_priority) {
    SamplingPriority p;
    sched_param param{};
    param.sched_priority = realtime_priority;
    const int rt = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    if (rt == 0) {
        p.kind = SamplingPriority::Kind::RealTime;
        p.text =
            "Sampling: real-time priority (SCHED_FIFO " + std::to_string(realtime_priority) + ")";
        return p;
    }
    // Linux keeps a nice value per thread: this one only.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    if (::setpriority(PRIO_PROCESS, tid, -10) == 0) {
        p.kind = SamplingPriority::Kind::Raised;
        p.text = "Sampling: raised priority (nice -10); real-time priority refused (" +
                 std::string(std::strerror(rt)) + ")";
        return p;
    }
    const int nice_error = errno;
    p.text = "Sampling: normal priority; the system refused a real-time (" +
             std::string(std::strerror(rt)) + ") and a raised (" +
             std::string(std::strerror(nice_error)) +
             ") one. Ticks may stretch while other programs keep the processors busy.";
    return p;
}

}  // namespace lumivo
