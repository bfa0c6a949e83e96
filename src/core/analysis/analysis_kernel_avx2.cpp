// The block kernel of the activity calculation compiled for AVX2 (4 doubles or 8 integers per
// instruction instead of 2 or 4), chosen at run time when the processor has it. AVX2 without
// FMA only widens the same IEEE operations, so the results are identical to the baseline
// build's (the tests compare the two).
//
// Every header is included before the instruction set is switched, so inline functions with
// external linkage (the standard library, rounding.h) are never compiled for AVX2 here and
// cannot replace their baseline copies elsewhere; the kernel itself has internal linkage.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>

#include "core/analysis/analysis_kernel_job.h"
#include "core/analysis/analysis_module.h"
#include "core/common/rounding.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LUMIVO_WIDE_KERNEL 1
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
#include "core/analysis/analysis_kernel.h"
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif

namespace lumivo {

#if defined(LUMIVO_WIDE_KERNEL)

bool WideKernelAvailable() {
    return __builtin_cpu_supports("avx2") != 0;
}

void RunWindowJobWide(const WindowJob& job) {
    RunWindowJob(job);
}

#else

bool WideKernelAvailable() {
    return false;
}

void RunWindowJobWide(const WindowJob&) {}

#endif

}  // namespace lumivo
