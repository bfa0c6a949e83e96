// The statistics of a screen of 12 plates x 336 compounds: every compound's wells against the
// plate's control wells by Welch's t and Mann-Whitney U (8 treated wells against 32 controls),
// and every compound's dose-response curve of 8 concentrations x 8 wells fitted by LL.4. Each
// iteration runs all 4032 comparisons or fits; the data are made once, before the timing.
//
// Mann-Whitney runs twice: on whole activity counts (ties: the normal approximation) and on
// continuous values (no ties, 8 against 32: the exact distribution).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/statistics/dose_fit.h"
#include "core/statistics/group_tests.h"

namespace {

using namespace lumivo::statistics;

constexpr int kPlates = 12;
constexpr int kCompounds = 336;
constexpr int kTreatedWells = 8;
constexpr int kControlWells = 32;

struct Comparison {
    std::vector<double> treated, control;
};

// Per compound its treated wells and its plate's controls: counts around 120 (whole numbers
// when `counts`), the compounds shifted by up to -40.
std::vector<Comparison> Screen(bool counts) {
    std::mt19937 rng(4032);
    std::normal_distribution<double> noise(0.0, 15.0);
    std::uniform_real_distribution<double> shift(-40.0, 0.0);
    auto value = [&](double mean) {
        const double v = mean + noise(rng);
        return counts ? std::round(std::max(v, 0.0)) : v;
    };
    std::vector<Comparison> out;
    for (int plate = 0; plate < kPlates; ++plate) {
        std::vector<double> control(kControlWells);
        for (double& v : control) v = value(120.0);
        for (int compound = 0; compound < kCompounds; ++compound) {
            Comparison c{std::vector<double>(kTreatedWells), control};
            const double mean = 120.0 + shift(rng);
            for (double& v : c.treated) v = value(mean);
            out.push_back(std::move(c));
        }
    }
    return out;
}

void BM_WelchAndMannWhitney(benchmark::State& state) {
    const std::vector<Comparison> screen = Screen(state.range(0) == 1);
    int exact = 0;
    for (auto _ : state) {
        exact = 0;
        for (const Comparison& c : screen) {
            const TestResult t = WelchT(c.treated, c.control);
            const TestResult u = MannWhitney(c.treated, c.control);
            exact += u.exact;
            benchmark::DoNotOptimize(t.p + u.p);
        }
    }
    state.counters["comparisons"] = static_cast<double>(screen.size());
    state.counters["exact"] = exact;
    state.SetLabel(state.range(0) == 1 ? "counts (ties)" : "continuous (no ties)");
}
BENCHMARK(BM_WelchAndMannWhitney)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_DoseFits(benchmark::State& state) {
    const std::vector<double> concentrations = {0.01, 0.03, 0.1, 0.3, 1.0, 3.0, 10.0, 30.0};
    std::mt19937 rng(336);
    std::normal_distribution<double> noise(0.0, 8.0);
    std::uniform_real_distribution<double> log_ec50(std::log(0.03), std::log(10.0));
    std::uniform_real_distribution<double> hill(0.6, 2.5);
    std::vector<std::vector<DosePoint>> curves;
    for (int i = 0; i < kPlates * kCompounds; ++i) {
        const double e = std::exp(log_ec50(rng)), b = hill(rng);
        std::vector<DosePoint> points;
        for (double x : concentrations)
            for (int well = 0; well < 8; ++well)
                points.push_back({x, LogLogistic(x, 10.0, 110.0, b, e) + noise(rng)});
        curves.push_back(std::move(points));
    }
    int converged = 0;
    double iterations = 0.0;
    for (auto _ : state) {
        converged = 0;
        iterations = 0.0;
        for (const auto& points : curves) {
            const DoseFit fit = FitDoseResponse(points, DoseModel::LL4);
            converged += fit.converged;
            iterations += fit.iterations;
            benchmark::DoNotOptimize(fit.ec50);
        }
    }
    state.counters["fits"] = static_cast<double>(curves.size());
    state.counters["converged"] = converged;
    state.counters["mean_iterations"] = iterations / static_cast<double>(curves.size());
}
BENCHMARK(BM_DoseFits)->Unit(benchmark::kMillisecond);

}  // namespace
