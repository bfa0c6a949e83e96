// Reference transcription of the activity calculation; see analysis_literal.h. Each stage is
// written as a plain loop over the samples with the working tables of 501 entries (P, V, T)
// and, for the motility index, three tables of doubles. Nothing is shared with the production
// code except the rounding helpers, so a slip in either shows up as a mismatch.
#include "core/analysis/analysis_literal.h"

#include <cmath>
#include <cstdint>

#include "core/common/rounding.h"

namespace lumivo::literal {
namespace {

constexpr int kN = static_cast<int>(kAnalysisWindowLength);  // 500 samples, x[0..499]

// The channel's column of the window table, read and written in place.
class Column {
  public:
    Column(SampleWindow w, std::size_t channel) : w_(w), channel_(channel) {}
    std::int32_t operator[](int i) const { return w_.samples[Index(i)]; }
    void Set(int i, std::int16_t v) { w_.samples[Index(i)] = v; }

  private:
    std::size_t Index(int i) const {
        return static_cast<std::size_t>(i) * w_.row_stride + channel_;
    }
    SampleWindow w_;
    std::size_t channel_;
};

struct Tables {
    std::int32_t P[kThresholdTraceLength] = {};  // peak envelope
    std::int32_t V[kThresholdTraceLength] = {};  // valley envelope
    std::int16_t T[kThresholdTraceLength] = {};  // per-sample thresholds
};

struct Noise {
    std::int32_t a = 0;  // mean envelope amplitude, rounded
    std::int32_t m = 0;  // mean reading, rounded
    double d = 1.0;      // D = z + 1, at least 1
};

// Stage 1, steps 1 to 5: envelopes, their mean amplitude a and the mean reading m, noise z
// and D. In the second pass an amplitude not below the level also falls back to z = factor.
Noise EnvelopesAndNoise(const Column& x, Tables& w, double factor, bool second_pass) {
    w.P[0] = w.P[1] = w.V[0] = w.V[1] = x[1];
    std::int64_t A = 0;
    std::int64_t S = 0;
    std::int64_t n = 0;
    for (int i = 2; i <= 498; ++i) {
        w.P[i] = w.P[i - 1];
        w.V[i] = w.V[i - 1];
        if (x[i] < x[i + 1] && x[i] < x[i - 1]) w.V[i] = x[i];
        if (x[i] > x[i + 1] && x[i] > x[i - 1]) w.P[i] = x[i];
        A += w.P[i] - w.V[i];
        S += x[i];
        n += 1;
    }
    Noise r;
    if (n > 0) {
        r.a = RoundToInt32(static_cast<double>(A) / static_cast<double>(n));
        r.m = RoundToInt32(static_cast<double>(S) / static_cast<double>(n));
    } else {
        r.a = static_cast<std::int32_t>(A);
        r.m = static_cast<std::int32_t>(S);
    }
    double z = 0.0;
    if (r.m < 1 || (second_pass && r.m <= r.a)) {
        z = factor;
    } else {
        z = (1.0 - static_cast<double>(r.m - r.a) / static_cast<double>(r.m)) * 100.0 * factor;
    }
    r.d = z + 1.0;
    if (r.d < 1.0) r.d = 1.0;
    return r;
}

// Q: the mean of the 30 peak values ahead of sample i (i < 30) or behind it, rounded.
double PeakMean(const Tables& w, int i) {
    std::int64_t sum = 0;
    if (i < 30) {
        for (int j = i + 1; j <= i + 30; ++j) sum += w.P[j];
    } else {
        for (int j = i - 30; j <= i - 1; ++j) sum += w.P[j];
    }
    return RoundHalfEven(static_cast<double>(sum) / 30.0);
}

// Stage 1b: the upper spike limit T, and readings above it replaced by it in the table.
void ClipSpikes(Column& x, Tables& w, double D) {
    for (int i = 0; i < kN; ++i) {
        const double Q = PeakMean(w, i);
        double v = 0.0;
        if (i <= 3) {
            v = Q * (D + 100.0) / 100.0;
        } else {
            const double t = (D + 100.0) * Q / 100.0;
            v = (t + w.T[i - 3] + w.T[i - 2] + w.T[i - 1]) / 4.0;
        }
        w.T[i] = RoundToInt16(v);
        if (x[i] > w.T[i]) x.Set(i, w.T[i]);
    }
}

// Methods 0 and 1: the lower threshold and the events below it.
void CountThresholdEvents(const Column& x, Tables& w, double D, DspMethod method,
                          ChannelAnalysis& out) {
    int f = 0;  // frame counter
    int g = 0;  // armed flag (-1 = armed)
    for (int i = 0; i < kN; ++i) {
        const double Q = PeakMean(w, i);
        double v = 0.0;
        if (i < 4) {
            v = Q * (100.0 - 1.75 * D) / 100.0;
        } else {
            const double t = (100.0 - D) * Q / 100.0;
            v = (t + w.T[i - 1] + w.T[i - 2] + w.T[i - 3]) / 4.0;
        }
        w.T[i] = RoundToInt16(v);
        out.threshold_trace[static_cast<std::size_t>(i)] = w.T[i];

        if (method == DspMethod::ThresholdBinary) {
            if (x[i] < w.T[i]) g = -1;
            if (f == 30 && g == -1) {
                ++out.count;
                out.events.set(static_cast<std::size_t>(i));
                g = 0;
            }
        } else {
            if (x[i] < w.T[i] && g == 0) {
                ++out.count;
                out.events.set(static_cast<std::size_t>(i));
                g = -1;
            }
            if (x[i] > w.T[i]) g = 0;
        }
        if (f == 30) f = 0;
        f = f + 1;
    }
}

// Method 2: baseline, detrended and smoothed signal, and the long monotonic runs.
void CountMotilityEvents(const Column& x, std::int32_t ripple, ChannelAnalysis& out) {
    constexpr int W = 10 * 5;  // baseline window, 10 x K with K = 5
    const double L = ripple < 5 ? 5.0 : static_cast<double>(ripple);

    double B[kThresholdTraceLength] = {};
    double E[kThresholdTraceLength] = {};
    double G[kThresholdTraceLength] = {};

    // Baseline: the lowest reading of the 50 ahead (up to sample 448) or behind.
    for (int i = 0; i < kN; ++i) {
        const int from = i < 449 ? i : i - (W - 1);
        std::int32_t low = x[from];
        for (int j = from + 1; j <= from + W - 1; ++j) {
            if (x[j] < low) low = x[j];
        }
        B[i] = low;
    }
    // Smoothed in place, in increasing order: the backward means near the end already use
    // smoothed values.
    for (int i = 0; i < kN; ++i) {
        const int from = i < 449 ? i : i - (W - 1);
        double sum = 0.0;
        for (int j = from; j <= from + W - 1; ++j) sum += B[j];
        B[i] = sum / static_cast<double>(W);
    }
    for (int i = 0; i < kN; ++i) {
        E[i] = x[i] - B[i];
    }
    for (int i = 0; i < kN; ++i) {
        const int from = i < 489 ? i : i - 9;
        double sum = 0.0;
        for (int j = from; j <= from + 9; ++j) sum += E[j];
        G[i] = sum / 10.0;
    }

    bool rising = false;  // direction flag, starts falling
    int run = 0;
    double R = 0.0;
    for (int i = 1; i < kN; ++i) {
        const double gi = G[i];
        const double gp = G[i - 1];
        bool stepped = false;
        if (gi < gp) {
            if (!rising) {
                ++run;
            } else {
                rising = false;
                run = 0;
                R = RoundHalfEven(gi);
            }
            stepped = true;
        }
        if (gi > gp) {
            if (rising) {
                ++run;
            } else {
                rising = true;
                run = 0;
                R = RoundHalfEven(gi);
            }
            stepped = true;
        }
        // Counted on the step that makes the run ten steps long; a level sample after it
        // leaves the run counter at ten but is not a new step, so it does not count again.
        if (stepped && run == 10 && std::abs(R - gi) > L) {
            ++out.count;
            out.events.set(static_cast<std::size_t>(i));
        }
        out.threshold_trace[static_cast<std::size_t>(i)] = RoundToInt16(gi - L);
    }
}

}  // namespace

ChannelAnalysis AnalyzeChannelWindowLiteral(SampleWindow window, std::size_t channel,
                                            double snr_factor, DspMethod method) {
    CheckAnalysisInput(window, channel, snr_factor);
    (void)DspMethodFromNumber(static_cast<int>(method));

    Column x(window, channel);
    Tables w;
    ChannelAnalysis out;

    const Noise first = EnvelopesAndNoise(x, w, snr_factor, false);
    out.clip_ripple = first.a;
    out.clip_level = first.m;
    out.clip_d = first.d;
    ClipSpikes(x, w, first.d);

    const Noise second = EnvelopesAndNoise(x, w, snr_factor, true);
    out.detect_ripple = second.a;
    out.detect_level = second.m;
    out.detect_d = second.d;

    if (method == DspMethod::MotilityIndex) {
        CountMotilityEvents(x, second.a, out);
    } else {
        CountThresholdEvents(x, w, second.d, method, out);
    }
    return out;
}

}  // namespace lumivo::literal
