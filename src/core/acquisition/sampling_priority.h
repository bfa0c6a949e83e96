// The priority of the thread that runs the sampling loop. A tick is a synchronous exchange
// with the instrument; when other programs keep every processor busy, a thread at normal
// priority waits for its turn after each reply and the tick period stretches. Asking for a
// real-time or raised priority keeps it on the serial line's pace; where the system refuses
// (no CAP_SYS_NICE, no RLIMIT_RTPRIO), the program says so in the log and samples on.
#pragma once

#include <string>

namespace lumivo {

struct SamplingPriority {
    enum class Kind { Normal, Raised, RealTime };
    Kind kind = Kind::Normal;
    std::string text;  // the line for the log
};

// Asks for SCHED_FIFO (priority `realtime_priority`) for the calling thread, else for a nice
// value of -10 for it, else keeps the normal priority; says which in `text`.
SamplingPriority RaiseCallingThreadPriority(int realtime_priority = 10);

}  // namespace lumivo
