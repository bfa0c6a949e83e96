// Production implementation of the activity calculation: argument checks, the choice of the
// block kernel's instruction set, the event strings and the body-bends histogram. The kernel
// itself is in analysis_kernel.h.
#include "core/analysis/analysis_module.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/analysis/analysis_kernel_job.h"
#include "core/common/rounding.h"
// Last: the kernel, compiled here for the baseline instruction set.
#include "core/analysis/analysis_kernel.h"

namespace lumivo {
namespace {

void CheckWindowShape(const ConstSampleWindow& window, std::size_t channel) {
    if (window.rows < kAnalysisWindowLength) {
        throw std::invalid_argument("activity window has " + std::to_string(window.rows) +
                                    " rows; the calculation needs " +
                                    std::to_string(kAnalysisWindowLength));
    }
    if (window.row_stride == 0 || channel >= window.row_stride) {
        throw std::invalid_argument("channel " + std::to_string(channel) +
                                    " is outside a window row of " +
                                    std::to_string(window.row_stride) + " readings");
    }
    if (window.samples.size() / window.row_stride < window.rows) {
        throw std::invalid_argument("window table holds " + std::to_string(window.samples.size()) +
                                    " readings, fewer than its " + std::to_string(window.rows) +
                                    " rows");
    }
}

void CheckFactor(double snr_factor) {
    if (!std::isfinite(snr_factor) || std::fabs(snr_factor) > kMaxSnrFactor) {
        throw std::invalid_argument("signal-to-noise factor must be a finite number within +-" +
                                    std::to_string(kMaxSnrFactor));
    }
}

// One channel on its own (the single-channel entry point).
ChannelAnalysis AnalyzeOneChannel(const SampleWindow& window, std::size_t channel, double factor,
                                  DspMethod method) {
    auto kr = std::make_unique_for_overwrite<BlockKernel<1>>();
    kr->Load(window, channel);
    kr->Run(factor, method);
    const bool lanes[1] = {true};
    if (kr->clipped()) kr->Store(window, channel, lanes);
    ChannelAnalysis out;
    CopyLaneResults(*kr, 0, out);
    return out;
}

}  // namespace

DspMethod DspMethodFromNumber(int number) {
    if (number < 0 || number > 2) {
        throw std::invalid_argument("activity method must be 0, 1 or 2, not " +
                                    std::to_string(number));
    }
    return static_cast<DspMethod>(number);
}
void CheckAnalysisInput(const ConstSampleWindow& window, std::size_t channel, double snr_factor) {
    CheckWindowShape(window, channel);
    CheckFactor(snr_factor);
}
ChannelAnalysis AnalyzeChannelWindow(SampleWindow window, std::size_t channel, double snr_factor,
                                     DspMethod method) {
    CheckAnalysisInput(window, channel, snr_factor);
    (void)DspMethodFromNumber(static_cast<int>(method));
    return AnalyzeOneChannel(window, channel, snr_factor, method);
}

void AnalyzeWindowChannels(SampleWindow window, const ChannelSet& channels, double snr_factor,
                           DspMethod method, std::span<std::int16_t> counts,
                           const WindowAnalysisExtras& extras) {
    CheckFactor(snr_factor);
    (void)DspMethodFromNumber(static_cast<int>(method));
    if (counts.size() < kBeamChannelCount) {
        throw std::invalid_argument("counts table needs " + std::to_string(kBeamChannelCount) +
                                    " entries");
    }
    if ((!extras.events.empty() && extras.events.size() < kBeamChannelCount) ||
        (!extras.traces.empty() && extras.traces.size() < kBeamChannelCount)) {
        throw std::invalid_argument("per-channel result tables need " +
                                    std::to_string(kBeamChannelCount) + " entries");
    }
    if (channels.none()) return;
    std::size_t highest = 0;
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        if (channels.test(c)) highest = c;
    }
    CheckWindowShape(window, highest);

    const WindowJob job{window, channels, snr_factor, method, counts, extras};
    if (!extras.baseline_instructions_only && WideKernelAvailable()) {
        RunWindowJobWide(job);
    } else {
        RunWindowJob(job);
    }
}

std::string EventString(const EventMarks& events) {
    std::string s;
    s.reserve(kAnalysisWindowLength);
    for (std::size_t i = 0; i + 1 < kAnalysisWindowLength; ++i)
        s.push_back(events.test(i) ? '1' : '0');
    if (events.test(kAnalysisWindowLength - 1)) s.push_back('1');
    return s;
}

BendHistogram BendHistogramOfWindow(const ConstSampleWindow& window, std::size_t channel) {
    CheckWindowShape(window, channel);
    auto x = [&](int i) -> std::int32_t {
        return window.samples[static_cast<std::size_t>(i) * window.row_stride + channel];
    };
    // 5-sample mean, rounded, for samples 3..496; the ends repeat the nearest computed value.
    std::int32_t y[kN];
    for (int i = 3; i <= 496; ++i) {
        const std::int64_t sum = std::int64_t{x(i - 2)} + x(i - 1) + x(i) + x(i + 1) + x(i + 2);
        y[i] = static_cast<std::int32_t>(DivideRoundHalfEven(sum, 5));
    }
    y[0] = y[1] = y[2] = y[3];
    y[497] = y[498] = y[499] = y[496];

    // Intervals between successive strict peaks of the smoothed signal.
    BendHistogram hist{};
    int previous = -1;  // no peak seen yet
    for (int i = 1; i <= 498; ++i) {
        if (!(y[i] > y[i + 1] && y[i] > y[i - 1])) continue;
        if (previous >= 0) {
            const int d = i - previous;
            if (d >= 2 && d < static_cast<int>(kBendHistogramBins)) {
                ++hist[static_cast<std::size_t>(d)];
            }
        }
        previous = i;
    }
    return hist;
}

}  // namespace lumivo
