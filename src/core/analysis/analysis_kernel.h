// The block kernel of the production activity calculation, shared by the translation units
// that compile it for different instruction sets (analysis_module.cpp for the baseline,
// analysis_kernel_avx2.cpp for AVX2). Everything here has internal linkage, so each unit keeps
// its own copy and no machine code of one instruction set can stand in for the other's.
// Include it only from those units, after every other header.
//
// The arithmetic is exactly that of analysis_literal.cpp (the tests hold the two to identical
// results); what differs is the schedule:
//  - the 30-sample peak means come from a sliding integer sum instead of 30 additions per
//    sample, the 50-sample baseline minimum from a block prefix/suffix minimum (van Herk /
//    Gil-Werman) and the forward baseline means from a sliding integer sum; integer sums are
//    exact, so the results cannot drift;
//  - sums of fractional doubles (the baseline means near the end of the window, which already
//    include smoothed values, and the 10-sample means of the detrended signal) are still added
//    one by one in the same order, because a running sum would round differently;
//  - K channels are processed side by side, sample by sample. SampleMatrix rows are channel
//    fastest, so a block of K neighbouring channels is K contiguous readings per row, and the
//    per-sample threshold recursions of K channels are independent chains that the processor
//    (and the vectoriser) can overlap instead of waiting on one channel's rounding chain.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>

#include "core/analysis/analysis_kernel_job.h"
#include "core/analysis/analysis_module.h"
#include "core/common/rounding.h"

namespace lumivo {
namespace {

constexpr int kN = static_cast<int>(kAnalysisWindowLength);
constexpr int kBaselineWindow = 50;       // 10 x K with K = 5
constexpr int kBaselineForwardEnd = 449;  // baseline windows look ahead below this sample
constexpr int kSmoothForwardEnd = 489;    // 10-sample means look ahead below this sample

// RoundHalfEven for |v| < 2^51 without branches, so that lane loops vectorise; the result is
// the same whole number.
inline double RoundSmall(double v) {
    constexpr double kMagic = 6755399441055744.0;  // 1.5 x 2^52
    return (v + kMagic) - kMagic;
}

// Threshold coefficients (D + 100, 100 - D) up to this size keep the averages of the threshold
// recursion inside 32 bits: |t| <= 32768 x 1e7 / 100 = 3.3e9, so |average| < 8.3e8 < 2^31.
constexpr double kSmallCoefficient = 1.0e7;

// Working tables of one block of K channels, sample-major, channel-minor.
template <std::size_t K>
struct BlockTables {
    std::int32_t x[kN][K];  // readings (clipped in place by the first pass)
    std::int32_t p[kN][K];  // peak envelope P[0..498] (P[499] repeats P[498])
    std::int32_t marks[kN][K];
    double q[kN][K];      // 30-sample peak means
    double trace[kN][K];  // thresholds (whole numbers once rounded)
    // Motility index.
    std::int32_t lo_pre[kN][K];  // running minimum from the start of each 50-sample block
    std::int32_t lo_suf[kN][K];  // running minimum to the end of each 50-sample block
    std::int32_t base_raw[kN][K];
    double base[kN][K];
    double detrended[kN][K];
    double smooth[kN][K];
    double tail_sum[kN - kBaselineForwardEnd][K];  // running sums of the last 51 baseline means
};

template <std::size_t K>
struct BlockNoise {
    std::int32_t a[K];
    std::int32_t m[K];
    double d[K];
};

template <std::size_t K>
class BlockKernel {
  public:
    BlockTables<K> t;
    BlockNoise<K> clip{};
    BlockNoise<K> detect{};
    std::int32_t count[K] = {};

    void Load(const SampleWindow& w, std::size_t c0) {
        for (int i = 0; i < kN; ++i) {
            const std::int16_t* row =
                w.samples.data() + static_cast<std::size_t>(i) * w.row_stride + c0;
            for (std::size_t k = 0; k < K; ++k) t.x[i][k] = row[k];
        }
    }

    // Writes the clipped readings of the lanes in `lanes` back into the window.
    void Store(const SampleWindow& w, std::size_t c0, const bool (&lanes)[K]) const {
        for (int i = 0; i < kN; ++i) {
            std::int16_t* row = w.samples.data() + static_cast<std::size_t>(i) * w.row_stride + c0;
            for (std::size_t k = 0; k < K; ++k) {
                if (lanes[k]) row[k] = static_cast<std::int16_t>(t.x[i][k]);
            }
        }
    }

    // True when the first pass clipped a reading in some lane (only then does the window
    // need writing back).
    bool clipped() const { return clipped_; }

    void Run(double factor, DspMethod method) {
        Envelopes(factor, false, clip);
        PeakMeans();
        clipped_ = ClipSpikes();
        if (clipped_) {
            Envelopes(factor, true, detect);
            PeakMeans();
        } else {
            // Nothing changed: the second pass sees the same envelopes, sums and peak means;
            // only its noise rule differs.
            for (std::size_t k = 0; k < K; ++k) {
                detect.a[k] = clip.a[k];
                detect.m[k] = clip.m[k];
                detect.d[k] = NoiseD(clip.a[k], clip.m[k], factor, true);
            }
        }
        for (std::size_t k = 0; k < K; ++k) count[k] = 0;
        if (method == DspMethod::MotilityIndex) {
            Motility();
        } else {
            Thresholds(method);
        }
    }

  private:
    bool clipped_ = false;

    // Stage 1, steps 4 and 5: noise z from the mean amplitude a and level m, and D = z + 1.
    static double NoiseD(std::int32_t a, std::int32_t m, double factor, bool second_pass) {
        double z = 0.0;
        if (m < 1 || (second_pass && m <= a)) {
            z = factor;
        } else {
            z = (1.0 - static_cast<double>(m - a) / static_cast<double>(m)) * 100.0 * factor;
        }
        const double d = z + 1.0;
        return d < 1.0 ? 1.0 : d;
    }

    // Stage 1, steps 1 to 5 for every lane.
    void Envelopes(double factor, bool second_pass, BlockNoise<K>& out) {
        std::int32_t pk[K];
        std::int32_t vk[K];
        std::int32_t A[K];
        std::int32_t S[K];
        for (std::size_t k = 0; k < K; ++k) {
            pk[k] = vk[k] = t.x[1][k];
            t.p[0][k] = t.p[1][k] = t.x[1][k];
            A[k] = 0;
            S[k] = 0;
        }
        for (int i = 2; i <= 498; ++i) {
            for (std::size_t k = 0; k < K; ++k) {
                const std::int32_t xi = t.x[i][k];
                const std::int32_t xp = t.x[i - 1][k];
                const std::int32_t xn = t.x[i + 1][k];
                pk[k] = (xi > xn && xi > xp) ? xi : pk[k];
                vk[k] = (xi < xn && xi < xp) ? xi : vk[k];
                A[k] += pk[k] - vk[k];
                S[k] += xi;
                t.p[i][k] = pk[k];
            }
        }
        for (std::size_t k = 0; k < K; ++k) t.p[kN - 1][k] = t.p[kN - 2][k];
        constexpr double n = 497.0;  // samples 2..498
        for (std::size_t k = 0; k < K; ++k) {
            const std::int32_t a = RoundToInt32(static_cast<double>(A[k]) / n);
            const std::int32_t m = RoundToInt32(static_cast<double>(S[k]) / n);
            out.a[k] = a;
            out.m[k] = m;
            out.d[k] = NoiseD(a, m, factor, second_pass);
        }
    }

    // Q for every sample: the 30-sample peak mean (ahead of samples 0..29, behind from 30 on),
    // rounded, from a sliding integer sum.
    void PeakMeans() {
        std::int32_t sum[K];
        for (std::size_t k = 0; k < K; ++k) sum[k] = 0;
        for (int j = 1; j <= 30; ++j) {
            for (std::size_t k = 0; k < K; ++k) sum[k] += t.p[j][k];
        }
        for (int i = 0; i < 30; ++i) {
            for (std::size_t k = 0; k < K; ++k) {
                t.q[i][k] = RoundedMeanOf30(sum[k]);
                sum[k] += t.p[i + 31][k] - t.p[i + 1][k];
            }
        }
        for (std::size_t k = 0; k < K; ++k) sum[k] = 0;
        for (int j = 0; j < 30; ++j) {
            for (std::size_t k = 0; k < K; ++k) sum[k] += t.p[j][k];
        }
        for (int i = 30; i < kN; ++i) {
            for (std::size_t k = 0; k < K; ++k) {
                t.q[i][k] = RoundedMeanOf30(sum[k]);
                sum[k] += t.p[i][k] - t.p[i - 30][k];  // p[499] is never read into a mean
            }
        }
    }

    // The thresholds T of every lane, with body(i, k, T[i]) called for each sample as soon as
    // its threshold is known. Samples 0..3 take T = Q x first / 100; later ones average
    // t = rest x Q / 100 with the three thresholds before, in the order given by kNewestFirst.
    // T is rounded half to even into 16 bits and kept in t.trace.
    template <bool kNewestFirst, typename Body>
    void ThresholdPass(const double (&first)[K], const double (&rest)[K], Body&& body) {
        for (int i = 0; i < 4; ++i) {
            for (std::size_t k = 0; k < K; ++k) {
                const double T = RoundToInt16Value(t.q[i][k] * first[k] / 100.0);
                t.trace[i][k] = T;
                body(i, k, static_cast<std::int32_t>(T));
            }
        }
        std::array<double, K> c;
        bool small = true;
        for (std::size_t k = 0; k < K; ++k) {
            c[k] = rest[k];
            small = small && std::fabs(rest[k]) <= kSmallCoefficient;
        }
        if (small) {
            RecursionRows<kNewestFirst, true>(c, body);
        } else {
            RecursionRows<kNewestFirst, false>(c, body);
        }
    }

    // Samples 4..499 of ThresholdPass. With kSmall (every |rest| <= kSmallCoefficient) the
    // average fits 32 bits and is clamped to 16 bits on integers, which vectorises; otherwise
    // the general conversion is used. Both give RoundToInt16Value of the average. The
    // coefficients come by value so the compiler knows they do not alias the tables.
    template <bool kNewestFirst, bool kSmall, typename Body>
    void RecursionRows(const std::array<double, K> rest, Body& body) {
        for (int i = 4; i < kN; ++i) {
            for (std::size_t k = 0; k < K; ++k) {
                const double tq = rest[k] * t.q[i][k] / 100.0;
                const double v =
                    kNewestFirst
                        ? (tq + t.trace[i - 1][k] + t.trace[i - 2][k] + t.trace[i - 3][k]) / 4.0
                        : (tq + t.trace[i - 3][k] + t.trace[i - 2][k] + t.trace[i - 1][k]) / 4.0;
                std::int32_t T = 0;
                if constexpr (kSmall) {
                    T = static_cast<std::int32_t>(RoundSmall(v));
                    T = std::min(std::max(T, std::int32_t{-32768}), std::int32_t{32767});
                } else {
                    T = static_cast<std::int32_t>(RoundToInt16Value(v));
                }
                t.trace[i][k] = T;
                body(i, k, T);
            }
        }
    }

    // Stage 1b: the upper spike limit, Q x (D + 100) / 100 (the same product as
    // (D + 100) x Q / 100), and readings above it clipped to it. Returns whether any reading
    // was clipped.
    bool ClipSpikes() {
        double dp[K];
        for (std::size_t k = 0; k < K; ++k) dp[k] = clip.d[k] + 100.0;
        std::int32_t any = 0;
        ThresholdPass<false>(dp, dp, [this, &any](int i, std::size_t k, std::int32_t T) {
            any |= t.x[i][k] > T ? 1 : 0;
            t.x[i][k] = t.x[i][k] > T ? T : t.x[i][k];
        });
        return any != 0;
    }

    // Methods 0 and 1: lower threshold and events.
    void Thresholds(DspMethod method) {
        double first[K], rest[K];
        std::int32_t armed[K];  // 1 = armed (g = -1)
        std::int32_t n[K];
        for (std::size_t k = 0; k < K; ++k) {
            first[k] = 100.0 - 1.75 * detect.d[k];
            rest[k] = 100.0 - detect.d[k];
            armed[k] = n[k] = 0;
        }
        if (method == DspMethod::ThresholdBinary) {
            // Frame counter f: an event can only be counted at samples 30, 60, ..., 480.
            ThresholdPass<true>(first, rest, [&](int i, std::size_t k, std::int32_t T) {
                const std::int32_t frame_end =
                    static_cast<std::int32_t>(i % 30 == 0) & static_cast<std::int32_t>(i != 0);
                const std::int32_t a = armed[k] | (t.x[i][k] < T ? 1 : 0);
                const std::int32_t event = a & frame_end;
                armed[k] = a & (1 - frame_end);
                t.marks[i][k] = event;
                n[k] += event;
            });
        } else {
            ThresholdPass<true>(first, rest, [&](int i, std::size_t k, std::int32_t T) {
                const std::int32_t below = t.x[i][k] < T ? 1 : 0;
                const std::int32_t above = t.x[i][k] > T ? 1 : 0;
                const std::int32_t event = below & (1 - armed[k]);
                armed[k] = (armed[k] & (1 - above)) | event;
                t.marks[i][k] = event;
                n[k] += event;
            });
        }
        for (std::size_t k = 0; k < K; ++k) count[k] = n[k];
    }

    // Method 2: motility index.
    void Motility() {
        constexpr int W = kBaselineWindow;
        // Minimum over x[s..s+49] for s = 0..450 from block-wise running minima: blocks of 50
        // samples tile the window exactly, so any 50-sample span covers the tail of one block
        // and the head of the next.
        for (int b = 0; b < kN; b += W) {
            for (std::size_t k = 0; k < K; ++k) t.lo_pre[b][k] = t.x[b][k];
            for (int i = b + 1; i < b + W; ++i) {
                for (std::size_t k = 0; k < K; ++k)
                    t.lo_pre[i][k] = std::min(t.lo_pre[i - 1][k], t.x[i][k]);
            }
            for (std::size_t k = 0; k < K; ++k) t.lo_suf[b + W - 1][k] = t.x[b + W - 1][k];
            for (int i = b + W - 2; i >= b; --i) {
                for (std::size_t k = 0; k < K; ++k)
                    t.lo_suf[i][k] = std::min(t.lo_suf[i + 1][k], t.x[i][k]);
            }
        }
        // For a span starting on a block boundary, lo_pre at its end is the minimum of the
        // whole block, the same as lo_suf at its start; no special case is needed.
        for (int i = 0; i < kN; ++i) {
            const int s = i < kBaselineForwardEnd ? i : i - (W - 1);
            for (std::size_t k = 0; k < K; ++k) {
                t.base_raw[i][k] = std::min(t.lo_suf[s][k], t.lo_pre[s + W - 1][k]);
            }
        }

        // Smoothed baseline. Ahead of sample 449 the mean covers raw (whole) values only: a
        // sliding integer sum is exact.
        std::int32_t sum[K];
        for (std::size_t k = 0; k < K; ++k) sum[k] = 0;
        for (int j = 0; j < W; ++j) {
            for (std::size_t k = 0; k < K; ++k) sum[k] += t.base_raw[j][k];
        }
        for (int i = 0; i < kBaselineForwardEnd; ++i) {  // i + W <= 498: always inside
            for (std::size_t k = 0; k < K; ++k) {
                t.base[i][k] = static_cast<double>(sum[k]) / static_cast<double>(W);
                sum[k] += t.base_raw[i + W][k] - t.base_raw[i][k];
            }
        }
        // From 449 on, the backward mean of sample i adds, in order, the smoothed values
        // i-49..i-1 (those before 449 are known now, the later ones only once computed) and
        // the raw value of i; the reference adds them one by one, so the same additions are
        // made here in the same order for each sample, but as independent accumulators that
        // are advanced together (no long dependency chain, every loop vectorises).
        constexpr int kTail = kN - kBaselineForwardEnd;  // 51 samples
        for (int r = 0; r < kTail; ++r) {
            for (std::size_t k = 0; k < K; ++k) t.tail_sum[r][k] = 0.0;
        }
        for (int j = kBaselineForwardEnd - (W - 1); j < kBaselineForwardEnd; ++j) {
            const int last = std::min(j + W - 1, kN - 1);  // samples i with i - 49 <= j
            for (int i = kBaselineForwardEnd; i <= last; ++i) {
                for (std::size_t k = 0; k < K; ++k)
                    t.tail_sum[i - kBaselineForwardEnd][k] += t.base[j][k];
            }
        }
        for (int i = kBaselineForwardEnd; i < kN; ++i) {
            for (std::size_t k = 0; k < K; ++k) {
                t.base[i][k] = (t.tail_sum[i - kBaselineForwardEnd][k] +
                                static_cast<double>(t.base_raw[i][k])) /
                               static_cast<double>(W);
            }
            const int last = std::min(i + W - 1, kN - 1);
            for (int i2 = i + 1; i2 <= last; ++i2) {
                for (std::size_t k = 0; k < K; ++k)
                    t.tail_sum[i2 - kBaselineForwardEnd][k] += t.base[i][k];
            }
        }

        for (int i = 0; i < kN; ++i) {
            for (std::size_t k = 0; k < K; ++k) t.detrended[i][k] = t.x[i][k] - t.base[i][k];
        }
        // 10-sample means, ahead up to sample 488 and behind from 489: each sum is built in
        // the reference's order (from its first sample on), in registers.
        for (int i = 0; i < kN; ++i) {
            const int from = i < kSmoothForwardEnd ? i : i - 9;
            for (std::size_t k = 0; k < K; ++k) {
                double acc = 0.0;
                for (int j = 0; j < 10; ++j) acc += t.detrended[from + j][k];
                t.smooth[i][k] = acc / 10.0;
            }
        }

        // Runs of the smoothed signal, written without branches so the lanes vectorise: flags
        // are 0/1 integers, and R, G and L are small whole numbers or sums of a few hundred
        // readings, far inside the range where RoundSmall and the 32-bit conversions are exact
        // (|G - L| < 2^18), so the updates below are exact too.
        double L[K];
        std::int32_t rising[K];
        std::int32_t run[K];
        double R[K];
        for (std::size_t k = 0; k < K; ++k) {
            L[k] = detect.a[k] < 5 ? 5.0 : static_cast<double>(detect.a[k]);
            rising[k] = 0;
            run[k] = 0;
            R[k] = 0.0;
            t.trace[0][k] = 0.0;
            t.marks[0][k] = 0;
        }
        for (int i = 1; i < kN; ++i) {
            for (std::size_t k = 0; k < K; ++k) {
                const double gi = t.smooth[i][k];
                const double gp = t.smooth[i - 1][k];
                const auto fall = static_cast<std::int32_t>(gi < gp);
                const auto rise = static_cast<std::int32_t>(gi > gp);
                const std::int32_t step = fall | rise;
                const std::int32_t turn = (fall & rising[k]) | (rise & (1 - rising[k]));
                run[k] = (1 - turn) * (run[k] + step);
                R[k] += static_cast<double>(turn) * (RoundSmall(gi) - R[k]);
                rising[k] = rise | (rising[k] & (1 - fall));
                const auto far = static_cast<std::int32_t>(std::fabs(R[k] - gi) > L[k]);
                const std::int32_t event = step & static_cast<std::int32_t>(run[k] == 10) & far;
                t.marks[i][k] = event;
                count[k] += event;
                auto T = static_cast<std::int32_t>(RoundSmall(gi - L[k]));
                T = std::min(std::max(T, std::int32_t{-32768}), std::int32_t{32767});
                t.trace[i][k] = T;
            }
        }
    }
};

template <std::size_t K>
void CopyLaneResults(const BlockKernel<K>& kr, std::size_t k, ChannelAnalysis& out) {
    out.count = static_cast<std::int16_t>(kr.count[k]);
    out.threshold_trace.fill(0);
    out.events.reset();
    for (int i = 0; i < kN; ++i) {
        out.threshold_trace[static_cast<std::size_t>(i)] =
            static_cast<std::int16_t>(kr.t.trace[i][k]);
        if (kr.t.marks[i][k] != 0) out.events.set(static_cast<std::size_t>(i));
    }
    out.clip_ripple = kr.clip.a[k];
    out.clip_level = kr.clip.m[k];
    out.clip_d = kr.clip.d[k];
    out.detect_ripple = kr.detect.a[k];
    out.detect_level = kr.detect.m[k];
    out.detect_d = kr.detect.d[k];
}

// Channels analysed side by side in a whole-window call.
constexpr std::size_t kLanes = 16;

// A whole-window call on arguments already checked.
void RunWindowJob(const WindowJob& job) {
    const SampleWindow& window = job.window;
    const WindowAnalysisExtras& extras = job.extras;
    auto block = std::make_unique_for_overwrite<BlockKernel<kLanes>>();
    std::unique_ptr<BlockKernel<1>> single;  // only for rows too narrow for a block
    ChannelAnalysis lane_result;
    for (std::size_t c0 = 0; c0 < kBeamChannelCount; c0 += kLanes) {
        bool lanes[kLanes] = {};
        bool any = false;
        for (std::size_t k = 0; k < kLanes; ++k) {
            const std::size_t c = c0 + k;
            lanes[k] = c < kBeamChannelCount && job.channels.test(c);
            any = any || lanes[k];
        }
        if (!any) continue;

        auto emit = [&](auto& kr, std::size_t k, std::size_t c) {
            job.counts[c] = static_cast<std::int16_t>(kr.count[k]);
            if (extras.events.empty() && extras.traces.empty()) return;
            CopyLaneResults(kr, k, lane_result);
            if (!extras.events.empty()) extras.events[c] = lane_result.events;
            if (!extras.traces.empty()) extras.traces[c] = lane_result.threshold_trace;
        };

        if (c0 + kLanes <= window.row_stride) {
            block->Load(window, c0);
            block->Run(job.factor, job.method);
            if (block->clipped()) block->Store(window, c0, lanes);
            for (std::size_t k = 0; k < kLanes; ++k) {
                if (lanes[k]) emit(*block, k, c0 + k);
            }
        } else {
            // A row too narrow for a whole block: the remaining channels one by one.
            for (std::size_t k = 0; k < kLanes; ++k) {
                if (!lanes[k]) continue;
                const std::size_t c = c0 + k;
                const bool one[1] = {true};
                if (!single) single = std::make_unique_for_overwrite<BlockKernel<1>>();
                single->Load(window, c);
                single->Run(job.factor, job.method);
                if (single->clipped()) single->Store(window, c, one);
                emit(*single, 0, c);
            }
        }
    }
}

}  // namespace
}  // namespace lumivo
