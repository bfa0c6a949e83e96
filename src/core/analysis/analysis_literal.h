// The activity calculation transcribed step by step: every 30-sample mean and every 50- and
// 10-sample window is recomputed for each sample, in the order the calculation is described.
// It is slow on purpose and kept only as the reference that the production implementation
// (analysis_module.h) must match bit for bit; the tests, the fuzz harness and the benchmark
// use it. The program itself never calls it.
#pragma once

#include <cstddef>

#include "core/analysis/analysis_module.h"

namespace lumivo::literal {

// Same contract and results as lumivo::AnalyzeChannelWindow.
ChannelAnalysis AnalyzeChannelWindowLiteral(SampleWindow window, std::size_t channel,
                                            double snr_factor, DspMethod method);

}  // namespace lumivo::literal
