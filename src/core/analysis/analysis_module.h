// Analysis_Module: turns one channel's readings over one window into activity events.
//
// An animal crossing a beam lowers the channel's reading for a moment. The calculation
// estimates the channel's noise from the window itself (peak and valley envelopes), clips
// spikes above the running peak level, derives a per-sample threshold below it and counts the
// dips by one of three methods. A second function builds, for body-bends mode, a histogram of
// the intervals between successive peaks of the smoothed signal.
//
// Windows are SampleMatrix-shaped tables: rows of 16-bit readings, channel fastest. Only the
// first kAnalysisWindowLength rows are analysed whatever the window size; a table with fewer
// rows is refused (std::invalid_argument) rather than read past its end.
//
// Two implementations compute the same numbers bit for bit: the one declared here (running
// sums, several channels per pass) is what the program uses; analysis_literal.h keeps a
// sample-by-sample transcription of the arithmetic as the reference the tests compare against.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "core/common/channels.h"

namespace lumivo {

// Rows of a window that the activity calculation reads (the rest of a longer window is ignored).
inline constexpr std::size_t kAnalysisWindowLength = 500;
// Entries of the threshold trace (index 0..500; the methods fill at most 0..499).
inline constexpr std::size_t kThresholdTraceLength = 501;
// Largest signal-to-noise factor accepted in magnitude: keeps every intermediate finite.
inline constexpr double kMaxSnrFactor = 1.0e6;
// Bins of one window's body-bends histogram (interval 0..49 samples).
inline constexpr std::size_t kBendHistogramBins = 50;

// `DSP_Method`: how dips below the threshold become events.
enum class DspMethod : int {
    ThresholdBinary =
        0,  // "0_Threshold+Binary (Old Method.w/filters)": one event per 30-sample frame
    ThresholdAverage = 1,  // "1_Threshold Avrg (Default.Agar&Liquid)": one event per fall below
    MotilityIndex =
        2,  // "2_uOrganism (Motility Index)": long monotonic runs of the detrended signal
};

// The display names of the methods, index = method number.
inline constexpr const char* kDspMethodNames[3] = {
    "0_Threshold+Binary (Old Method.w/filters)",
    "1_Threshold Avrg (Default.Agar&Liquid)",
    "2_uOrganism (Motility Index)",
};

// Converts a stored method number; throws std::invalid_argument outside 0..2.
DspMethod DspMethodFromNumber(int number);

// A SampleMatrix-shaped table: `rows` rows of `row_stride` readings, channel fastest. The
// analysis writes clipped readings back into it.
struct SampleWindow {
    std::span<std::int16_t> samples;  // at least rows * row_stride entries
    std::size_t rows = 0;
    std::size_t row_stride = kChannelTableSize;
};

// The same, read-only (the body-bends histogram does not modify the window).
struct ConstSampleWindow {
    std::span<const std::int16_t> samples;
    std::size_t rows = 0;
    std::size_t row_stride = kChannelTableSize;

    ConstSampleWindow() = default;
    ConstSampleWindow(std::span<const std::int16_t> s, std::size_t r,
                      std::size_t stride = kChannelTableSize)
        : samples(s), rows(r), row_stride(stride) {}
    ConstSampleWindow(const SampleWindow& w)  // NOLINT: a writable window reads as well
        : samples(w.samples), rows(w.rows), row_stride(w.row_stride) {}
};

// `ThresholdTrace`: the per-sample thresholds of an analysed channel, for the live display.
// Methods 0 and 1 fill 0..499 with the lower threshold, method 2 fills 1..499 with the smoothed
// detrended signal minus its level; entries a method does not fill are 0.
using ThresholdTrace = std::array<std::int16_t, kThresholdTraceLength>;

// The samples at which events were counted (s[i] = "1").
using EventMarks = std::bitset<kAnalysisWindowLength>;

// Channels to analyse in a whole-window call.
using ChannelSet = std::bitset<kBeamChannelCount>;

// Everything one channel's analysis produces.
struct ChannelAnalysis {
    std::int16_t count = 0;  // events in the window (the channel's counts)
    ThresholdTrace threshold_trace{};
    EventMarks events;
    // Noise figures of the two envelope passes: a = mean envelope amplitude, m = mean reading
    // (both rounded), d = z + 1 (at least 1), where z is the noise in percent times the factor.
    std::int32_t clip_ripple = 0, clip_level = 0;      // first pass (before clipping)
    std::int32_t detect_ripple = 0, detect_level = 0;  // second pass (on the clipped readings)
    double clip_d = 1.0;
    double detect_d = 1.0;
};

// Throws std::invalid_argument unless: window.rows >= kAnalysisWindowLength, channel <
// row_stride, the table holds rows * row_stride entries, and the factor is finite with
// |factor| <= kMaxSnrFactor.
void CheckAnalysisInput(const ConstSampleWindow& window, std::size_t channel, double snr_factor);

// `AnalyzeChannelWindow`: analyses channel `channel` over the first 500 rows of `window` with
// signal-to-noise factor `snr_factor` (`SnrThreshold`) and `method` (`DSP_Method`). Readings
// above the spike limit are replaced by it in the window. Throws std::invalid_argument as
// CheckAnalysisInput does. To record the event string of the window ("\ch<c>.raw"), pass
// `result.events` to AppendEventLine (acquisition/data_files.h).
ChannelAnalysis AnalyzeChannelWindow(SampleWindow window, std::size_t channel, double snr_factor,
                                     DspMethod method);

// Optional per-channel outputs of a whole-window call (empty spans are not written).
struct WindowAnalysisExtras {
    std::span<EventMarks> events;      // kBeamChannelCount entries, or empty
    std::span<ThresholdTrace> traces;  // kBeamChannelCount entries, or empty
    // The kernel runs with wider vector instructions (AVX2) where the processor has them; both
    // builds give identical results. Set to use the baseline build only (tests compare them).
    bool baseline_instructions_only = false;
};

// Analyses every channel c of `channels` (0..383, all must lie inside the row) in one pass
// over the window, clipping their readings in place, and stores each count in counts[c].
// Entries of channels not in the set are left untouched, and so are their readings. Gives
// the same numbers as calling AnalyzeChannelWindow channel by channel. Throws
// std::invalid_argument as CheckAnalysisInput does, or when counts (or a non-empty extras
// span) holds fewer than kBeamChannelCount entries.
void AnalyzeWindowChannels(SampleWindow window, const ChannelSet& channels, double snr_factor,
                           DspMethod method, std::span<std::int16_t> counts,
                           const WindowAnalysisExtras& extras = {});

// The event string of a window: one character per sample, "1" where an event was counted,
// "0" elsewhere; the entry of sample 499 is written only when it holds an event, so the text
// is 499 or 500 characters long (the layout of the event files).
std::string EventString(const EventMarks& events);

// One window's body-bends histogram.
using BendHistogram = std::array<std::int16_t, kBendHistogramBins>;

// `BendHistogramOfWindow`: smooths the channel's first 500 readings with a 5-sample mean and
// counts, for every pair of successive strict peaks of the smoothed signal, their distance d
// in samples into bin d. Distances of 0, 1 and 50 or more are not counted. Throws
// std::invalid_argument as CheckAnalysisInput does (the factor is not used).
BendHistogram BendHistogramOfWindow(const ConstSampleWindow& window, std::size_t channel);

}  // namespace lumivo
