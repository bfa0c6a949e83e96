// Seeded generators of channel windows for the equivalence tests: realistic signals (noise
// around a level with dips of passing animals), and adversarial ones (steps, saturation,
// zeros, full-scale, negative and extreme 16-bit values, alternations that make every sample
// an extreme, levels whose means fall on exact halves).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace lumivo::testing {

class WindowGenerator {
  public:
    explicit WindowGenerator(std::uint64_t seed) : rng_(seed) {}

    static constexpr int kKinds = 15;
    static const char* KindName(int kind) {
        static const char* const names[kKinds] = {"noisy level with dips",
                                                  "steps",
                                                  "saturated",
                                                  "zeros",
                                                  "full scale 4095",
                                                  "negative",
                                                  "extreme 16-bit",
                                                  "alternation",
                                                  "constant",
                                                  "square wave",
                                                  "sine",
                                                  "spikes",
                                                  "ramp",
                                                  "tiny noise",
                                                  "round levels"};
        return names[kind % kKinds];
    }

    // One window of `n` readings of the given kind.
    std::vector<std::int16_t> Make(int kind, std::size_t n) {
        std::vector<std::int16_t> x(n);
        switch (kind % kKinds) {
            case 0: {  // the usual picture: a level, noise, a few animal crossings
                const int level = Uniform(200, 3800);
                const int noise = Uniform(0, 60);
                for (auto& v : x) v = Clamp12(level + Uniform(-noise, noise));
                const int dips = Uniform(0, 12);
                for (int d = 0; d < dips; ++d) {
                    const auto at = static_cast<std::size_t>(Uniform(0, static_cast<int>(n) - 1));
                    const auto len = static_cast<std::size_t>(Uniform(1, 60));
                    const int depth = Uniform(10, level);
                    for (std::size_t i = at; i < std::min(n, at + len); ++i)
                        x[i] = Clamp12(x[i] - depth);
                }
                break;
            }
            case 1: {  // piecewise constant
                int level = Uniform(0, 4095);
                for (std::size_t i = 0; i < n; ++i) {
                    if (Uniform(0, 40) == 0) level = Uniform(0, 4095);
                    x[i] = static_cast<std::int16_t>(level);
                }
                break;
            }
            case 2: {  // a strong signal clipped by the converter
                const int level = Uniform(3800, 4400);
                for (auto& v : x) v = Clamp12(level + Uniform(-400, 400));
                break;
            }
            case 3:
                break;  // all zeros
            case 4:
                std::fill(x.begin(), x.end(), std::int16_t{4095});
                break;
            case 5: {
                const int level = Uniform(-3000, 100);
                for (auto& v : x) v = static_cast<std::int16_t>(level + Uniform(-50, 50));
                break;
            }
            case 6:
                for (auto& v : x) {
                    const int pick = Uniform(0, 3);
                    v = pick == 0   ? std::int16_t{-32768}
                        : pick == 1 ? std::int16_t{32767}
                                    : static_cast<std::int16_t>(Uniform(-32768, 32767));
                }
                break;
            case 7: {  // every sample a strict extreme
                const int a = Uniform(-100, 4095);
                const int b = a + Uniform(1, 300);
                for (std::size_t i = 0; i < n; ++i) x[i] = static_cast<std::int16_t>(i % 2 ? b : a);
                break;
            }
            case 8: {  // a constant chosen so that 30- and 497-sample means hit halves
                const int c = Uniform(0, 2) == 0 ? Uniform(-5, 5) : Uniform(0, 4095);
                std::fill(x.begin(), x.end(), static_cast<std::int16_t>(c));
                if (n > 10 && Uniform(0, 1))
                    x[static_cast<std::size_t>(Uniform(2, 498))] =
                        static_cast<std::int16_t>(c + 15);
                break;
            }
            case 9: {
                const int hi = Uniform(500, 4095);
                const int lo = Uniform(0, hi);
                const int period = Uniform(2, 120);
                const int duty = Uniform(1, period);
                for (std::size_t i = 0; i < n; ++i) {
                    x[i] = static_cast<std::int16_t>(static_cast<int>(i) % period < duty ? lo : hi);
                }
                break;
            }
            case 10: {
                const double level = Uniform(500, 3500);
                const double amp = Uniform(1, 1500);
                const double period = Uniform(3, 200);
                for (std::size_t i = 0; i < n; ++i) {
                    x[i] = Clamp12(static_cast<int>(std::lround(
                        level +
                        amp * std::sin(6.283185307179586 * static_cast<double>(i) / period))));
                }
                break;
            }
            case 11: {
                const int level = Uniform(100, 3000);
                for (auto& v : x)
                    v = Clamp12(level + Uniform(-5, 5) +
                                (Uniform(0, 20) == 0 ? Uniform(100, 3000) : 0));
                break;
            }
            case 12: {
                const int start = Uniform(0, 4095);
                const int slope = Uniform(-16, 16);
                for (std::size_t i = 0; i < n; ++i) {
                    x[i] = Clamp12(start + slope * static_cast<int>(i) / 2);
                }
                break;
            }
            case 13: {
                const int level = Uniform(0, 4095);
                for (auto& v : x) v = static_cast<std::int16_t>(level + Uniform(0, 1));
                break;
            }
            case 14: {  // levels in steps of 50: thresholds such as 200 x 98.25 / 100 = 196.5
                        // land exactly on halves, where any change of operation order shows
                const int level = 50 * Uniform(1, 80);
                std::fill(x.begin(), x.end(), static_cast<std::int16_t>(level));
                const int dips = Uniform(0, 4);
                for (int d = 0; d < dips; ++d) {
                    const auto at = static_cast<std::size_t>(Uniform(0, static_cast<int>(n) - 1));
                    const auto len = static_cast<std::size_t>(Uniform(2, 40));
                    const int to = 50 * Uniform(0, level / 50);
                    for (std::size_t i = at; i < std::min(n, at + len); ++i)
                        x[i] = static_cast<std::int16_t>(to);
                }
                break;
            }
        }
        return x;
    }

    // A signal-to-noise factor from the values the program uses and some it must survive.
    double Factor() {
        static const double fixed[] = {1.3,  1.5,   2.0,  3.0,   0.0,    1.0, 0.37, 5.0,
                                       10.0, 100.0, -1.0, 1.0e6, -1.0e6, 2.5, 0.1};
        const int pick = Uniform(0, 19);
        if (pick < 15) return fixed[pick];
        return std::uniform_real_distribution<double>(0.0, 20.0)(rng_);
    }

    int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  private:
    static std::int16_t Clamp12(int v) { return static_cast<std::int16_t>(std::clamp(v, 0, 4095)); }
    std::mt19937_64 rng_;
};

}  // namespace lumivo::testing
