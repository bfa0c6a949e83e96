// What a whole-window call hands to the block kernel, and the entry points of the kernel's
// builds for wider instruction sets (internal to the analysis module).
#pragma once

#include <cstdint>
#include <span>

#include "core/analysis/analysis_module.h"

namespace lumivo {

// A whole-window call whose arguments have been checked.
struct WindowJob {
    SampleWindow window;
    const ChannelSet& channels;
    double factor;
    DspMethod method;
    std::span<std::int16_t> counts;
    const WindowAnalysisExtras& extras;
};

// True when this processor (and its operating system) can run the AVX2 build of the kernel.
bool WideKernelAvailable();

// The AVX2 build of the kernel; call only when WideKernelAvailable().
void RunWindowJobWide(const WindowJob& job);

}  // namespace lumivo
