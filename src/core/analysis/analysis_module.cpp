// Production implementation of the activity calculation.
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
#include "core/analysis/analysis_module.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/analysis/rounding.h"

namespace lumivo {
namespace {

constexpr int kN = static_cast<int>(kAnalysisWindowLength);
constexpr int kBaselineWindow = 50;       // 10 x K with K = 5
constexpr int kBaselineForwardEnd = 449;  // baseline windows look ahead below this sample
constexpr int kSmoothForwardEnd = 489;    // 10-sample means look ahead below this sample

// Working tables of one block of K channels, sample-major, channel-minor.
template <std::size_t K>
struct BlockTables {
    std::int32_t x[kN][K];  // readings (clipped in place by the first pass)
    std::int32_t p[kN][K];  // peak envelope P[0..498]
    std::uint8_t marks[kN][K];
    double trace[kN][K];  // threshold trace (whole numbers)
    // Motility index.
    std::int32_t lo_pre[kN][K];  // running minimum from the start of each 50-sample block
    std::int32_t lo_suf[kN][K];  // running minimum to the end of each 50-sample block
    std::int32_t base_raw[kN][K];
    double base[kN][K];
    double detrended[kN][K];
    double smooth[kN][K];
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

    void Run(double factor, DspMethod method) {
        Envelopes(factor, false, clip);
        ClipSpikes();
        Envelopes(factor, true, detect);
        for (std::size_t k = 0; k < K; ++k) count[k] = 0;
        if (method == DspMethod::MotilityIndex) {
            Motility();
        } else {
            Thresholds(method);
        }
    }

  private:
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
        constexpr double n = 497.0;  // samples 2..498
        for (std::size_t k = 0; k < K; ++k) {
            const std::int32_t a = RoundToInt32(static_cast<double>(A[k]) / n);
            const std::int32_t m = RoundToInt32(static_cast<double>(S[k]) / n);
            double z = 0.0;
            if (m < 1 || (second_pass && m <= a)) {
                z = factor;
            } else {
                z = (1.0 - static_cast<double>(m - a) / static_cast<double>(m)) * 100.0 * factor;
            }
            double d = z + 1.0;
            if (d < 1.0) d = 1.0;
            out.a[k] = a;
            out.m[k] = m;
            out.d[k] = d;
        }
    }

    // The 30-sample peak mean Q of sample i, from a sliding sum that Advance keeps current.
    struct PeakMeans {
        std::int32_t sum[K];

        explicit PeakMeans(const BlockTables<K>& t) {
            for (std::size_t k = 0; k < K; ++k) sum[k] = 0;
            for (int j = 1; j <= 30; ++j) {
                for (std::size_t k = 0; k < K; ++k) sum[k] += t.p[j][k];
            }
        }
        double Q(std::size_t k) const { return RoundHalfEven(static_cast<double>(sum[k]) / 30.0); }
        // From the window of sample i to that of sample i + 1 (ahead below 30, behind after).
        void Advance(const BlockTables<K>& t, int i) {
            if (i < 29) {
                for (std::size_t k = 0; k < K; ++k) sum[k] += t.p[i + 31][k] - t.p[i + 1][k];
            } else if (i == 29) {
                for (std::size_t k = 0; k < K; ++k) sum[k] = 0;
                for (int j = 0; j < 30; ++j) {
                    for (std::size_t k = 0; k < K; ++k) sum[k] += t.p[j][k];
                }
            } else {
                for (std::size_t k = 0; k < K; ++k) sum[k] += t.p[i][k] - t.p[i - 30][k];
            }
        }
    };

    // Stage 1b: the upper spike limit and the clipping.
    void ClipSpikes() {
        PeakMeans q(t);
        double dp[K];
        double t1[K], t2[K], t3[K];  // T[i-1], T[i-2], T[i-3]
        for (std::size_t k = 0; k < K; ++k) {
            dp[k] = clip.d[k] + 100.0;
            t1[k] = t2[k] = t3[k] = 0.0;
        }
        for (int i = 0; i < kN; ++i) {
            for (std::size_t k = 0; k < K; ++k) {
                const double Q = q.Q(k);
                double v = 0.0;
                if (i <= 3) {
                    v = Q * dp[k] / 100.0;
                } else {
                    const double tq = dp[k] * Q / 100.0;
                    v = (tq + t3[k] + t2[k] + t1[k]) / 4.0;
                }
                const double T = RoundToInt16Value(v);
                const std::int32_t Ti = static_cast<std::int32_t>(T);
                t.x[i][k] = t.x[i][k] > Ti ? Ti : t.x[i][k];
                t3[k] = t2[k];
                t2[k] = t1[k];
                t1[k] = T;
            }
            if (i + 1 < kN) q.Advance(t, i);
        }
    }

    // Methods 0 and 1: lower threshold and events.
    void Thresholds(DspMethod method) {
        PeakMeans q(t);
        double c_first[K], c_rest[K];
        double t1[K], t2[K], t3[K];
        bool armed[K];
        for (std::size_t k = 0; k < K; ++k) {
            c_first[k] = 100.0 - 1.75 * detect.d[k];
            c_rest[k] = 100.0 - detect.d[k];
            t1[k] = t2[k] = t3[k] = 0.0;
            armed[k] = false;
        }
        const bool binary = method == DspMethod::ThresholdBinary;
        int f = 0;
        for (int i = 0; i < kN; ++i) {
            const bool frame_end = f == 30;
            for (std::size_t k = 0; k < K; ++k) {
                const double Q = q.Q(k);
                double v = 0.0;
                if (i < 4) {
                    v = Q * c_first[k] / 100.0;
                } else {
                    const double tq = c_rest[k] * Q / 100.0;
                    v = (tq + t1[k] + t2[k] + t3[k]) / 4.0;
                }
                const double T = RoundToInt16Value(v);
                t.trace[i][k] = T;
                t3[k] = t2[k];
                t2[k] = t1[k];
                t1[k] = T;

                const std::int32_t Ti = static_cast<std::int32_t>(T);
                const bool below = t.x[i][k] < Ti;
                bool event = false;
                if (binary) {
                    const bool a = armed[k] || below;
                    event = frame_end && a;
                    armed[k] = a && !frame_end;
                } else {
                    event = below && !armed[k];
                    armed[k] = (armed[k] && !(t.x[i][k] > Ti)) || event;
                }
                t.marks[i][k] = event ? 1 : 0;
                count[k] += event ? 1 : 0;
            }
            if (i + 1 < kN) q.Advance(t, i);
            if (f == 30) f = 0;
            f = f + 1;
        }
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
        for (int i = 0; i < kN; ++i) {
            const int s = i < kBaselineForwardEnd ? i : i - (W - 1);
            for (std::size_t k = 0; k < K; ++k) {
                t.base_raw[i][k] =
                    s % W == 0 ? t.lo_suf[s][k] : std::min(t.lo_suf[s][k], t.lo_pre[s + W - 1][k]);
            }
        }

        // Smoothed baseline. Ahead of sample 449 the mean covers raw (whole) values only: a
        // sliding integer sum is exact.
        std::int32_t sum[K];
        for (std::size_t k = 0; k < K; ++k) sum[k] = 0;
        for (int j = 0; j < W; ++j) {
            for (std::size_t k = 0; k < K; ++k) sum[k] += t.base_raw[j][k];
        }
        for (int i = 0; i < kBaselineForwardEnd; ++i) {
            for (std::size_t k = 0; k < K; ++k) {
                t.base[i][k] = static_cast<double>(sum[k]) / static_cast<double>(W);
                if (i + W < kN) sum[k] += t.base_raw[i + W][k] - t.base_raw[i][k];
            }
        }
        // From 449 on, the backward mean holds 49 smoothed values and the raw one of the
        // sample: added in order, as the reference does.
        for (int i = kBaselineForwardEnd; i < kN; ++i) {
            double acc[K];
            for (std::size_t k = 0; k < K; ++k) acc[k] = 0.0;
            for (int j = i - (W - 1); j < i; ++j) {
                for (std::size_t k = 0; k < K; ++k) acc[k] += t.base[j][k];
            }
            for (std::size_t k = 0; k < K; ++k) {
                acc[k] += static_cast<double>(t.base_raw[i][k]);
                t.base[i][k] = acc[k] / static_cast<double>(W);
            }
        }

        for (int i = 0; i < kN; ++i) {
            for (std::size_t k = 0; k < K; ++k) t.detrended[i][k] = t.x[i][k] - t.base[i][k];
        }
        for (int i = 0; i < kN; ++i) {
            const int from = i < kSmoothForwardEnd ? i : i - 9;
            double acc[K];
            for (std::size_t k = 0; k < K; ++k) acc[k] = 0.0;
            for (int j = from; j <= from + 9; ++j) {
                for (std::size_t k = 0; k < K; ++k) acc[k] += t.detrended[j][k];
            }
            for (std::size_t k = 0; k < K; ++k) t.smooth[i][k] = acc[k] / 10.0;
        }

        double L[K];
        bool rising[K];
        std::int32_t run[K];
        double R[K];
        for (std::size_t k = 0; k < K; ++k) {
            L[k] = detect.a[k] < 5 ? 5.0 : static_cast<double>(detect.a[k]);
            rising[k] = false;
            run[k] = 0;
            R[k] = 0.0;
            t.trace[0][k] = 0.0;
            t.marks[0][k] = 0;
        }
        for (int i = 1; i < kN; ++i) {
            for (std::size_t k = 0; k < K; ++k) {
                const double gi = t.smooth[i][k];
                const double gp = t.smooth[i - 1][k];
                const bool fall = gi < gp;
                const bool rise = gi > gp;
                const bool step = fall || rise;
                const bool turn = (fall && rising[k]) || (rise && !rising[k]);
                run[k] = turn ? 0 : (step ? run[k] + 1 : run[k]);
                R[k] = turn ? RoundHalfEven(gi) : R[k];
                rising[k] = rise ? true : (fall ? false : rising[k]);
                const bool event = step && run[k] == 10 && std::fabs(R[k] - gi) > L[k];
                t.marks[i][k] = event ? 1 : 0;
                count[k] += event ? 1 : 0;
                t.trace[i][k] = RoundToInt16Value(gi - L[k]);
            }
        }
    }
};

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
    auto kr = std::make_unique<BlockKernel<1>>();
    kr->Load(window, channel);
    kr->Run(snr_factor, method);
    const bool lanes[1] = {true};
    kr->Store(window, channel, lanes);
    ChannelAnalysis out;
    CopyLaneResults(*kr, 0, out);
    return out;
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

    auto block = std::make_unique<BlockKernel<kLanes>>();
    auto single = std::make_unique<BlockKernel<1>>();
    ChannelAnalysis lane_result;
    for (std::size_t c0 = 0; c0 < kBeamChannelCount; c0 += kLanes) {
        bool lanes[kLanes] = {};
        bool any = false;
        for (std::size_t k = 0; k < kLanes; ++k) {
            const std::size_t c = c0 + k;
            lanes[k] = c < kBeamChannelCount && channels.test(c);
            any = any || lanes[k];
        }
        if (!any) continue;

        auto emit = [&](auto& kr, std::size_t k, std::size_t c) {
            counts[c] = static_cast<std::int16_t>(kr.count[k]);
            if (extras.events.empty() && extras.traces.empty()) return;
            CopyLaneResults(kr, k, lane_result);
            if (!extras.events.empty()) extras.events[c] = lane_result.events;
            if (!extras.traces.empty()) extras.traces[c] = lane_result.threshold_trace;
        };

        if (c0 + kLanes <= window.row_stride) {
            block->Load(window, c0);
            block->Run(snr_factor, method);
            block->Store(window, c0, lanes);
            for (std::size_t k = 0; k < kLanes; ++k) {
                if (lanes[k]) emit(*block, k, c0 + k);
            }
        } else {
            // A row too narrow for a whole block: the remaining channels one by one.
            for (std::size_t k = 0; k < kLanes; ++k) {
                if (!lanes[k]) continue;
                const std::size_t c = c0 + k;
                const bool one[1] = {true};
                single->Load(window, c);
                single->Run(snr_factor, method);
                single->Store(window, c, one);
                emit(*single, 0, c);
            }
        }
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
