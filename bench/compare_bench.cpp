// A week-long screen: a 7-day acquisition of the 96-well plate in 30-minute bins (336 bins),
// 12 treatments at 8 concentrations each (the first treatment the vehicle, the negative
// controls), activity falling with the dose along known log-logistic curves, with noise.
// "Everything" is what a screen's analysis asks of one plate: every treatment against the
// vehicle at every bin by Welch's t-test and by Mann-Whitney U (Holm over all of them), and an
// EC50 over time, one four-parameter fit per treatment and bin.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "core/reporting/compare/compare_stats.h"
#include "core/reporting/compare/dose_response.h"

namespace {

using namespace lumivo;
using namespace lumivo::reporting;

constexpr std::size_t kBins = 7 * 48;
constexpr int kTreatments = 12;
constexpr double kConcentrations[] = {0.01, 0.03, 0.1, 0.3, 1.0, 3.0, 10.0, 30.0};

ScreenPlate WeekScreen() {
    ScreenPlate plate;
    plate.name = "20260314_1830";
    RhythmData& d = plate.data;
    d.bin_minutes = 30;
    d.bins = kBins;
    d.run_minutes = 30.0 * kBins;
    d.observed.assign(kBins, 1);
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 1.5);
    for (int t = 0; t < kTreatments; ++t) {
        const double ec50 = 0.05 * std::pow(2.0, t);
        for (int c = 0; c < 8; ++c) {
            const int well = t * 8 + c;
            const std::string name =
                std::string(1, static_cast<char>('A' + well % 8)) + std::to_string(well / 8 + 1);
            WellSeries s;
            s.well = well;
            s.name = name;
            s.group_label = "001_Screen";
            s.beams = 2;
            d.wells.push_back(s);
            WellEntry e;
            e.well = name;
            e.unit = "uM";
            if (t == 0) {
                e.treatment = "DMSO";
                e.role = WellRole::Negative;
            } else {
                e.treatment = "Compound " + std::to_string(t);
                e.concentration = kConcentrations[c];
            }
            plate.map.wells.push_back(e);
            for (std::size_t k = 0; k < kBins; ++k) {
                // The effect builds up over the first day.
                const double build = std::min(1.0, static_cast<double>(k + 1) / 48.0);
                const double v = t == 0 ? 20.0
                                        : statistics::LogLogistic(kConcentrations[c], 2.0, 20.0,
                                                                  1.3, ec50 / build);
                d.well_values.push_back(std::max(0.0, v + noise(rng)));
            }
        }
    }
    return plate;
}

void BM_ScreenWeekEverything(benchmark::State& state) {
    const ScreenPlate plate = WeekScreen();
    ScreenRequest r;
    r.to_hours = 7 * 24.0;
    r.per_bin = true;
    std::size_t comparisons = 0, fits = 0, converged = 0;
    for (auto _ : state) {
        r.grouping = Grouping::Treatment;
        std::string failure;
        auto screen = BuildScreen({plate}, r, &failure);
        if (!screen) state.SkipWithError(failure.c_str());
        StatsRequest stats;
        stats.screen = r;
        stats.test = GroupTest::Welch;
        const auto welch = CompareGroups(*screen, stats, &failure);
        stats.test = GroupTest::MannWhitney;
        const auto mann_whitney = CompareGroups(*screen, stats, &failure);
        DoseRequest dose;
        dose.screen = r;
        const auto curves = FitDoseCurves(std::move(*screen), dose, &failure);
        if (!welch || !mann_whitney || !curves) state.SkipWithError(failure.c_str());
        comparisons = welch->comparisons.size() + mann_whitney->comparisons.size();
        fits = curves->fits.size();
        converged = 0;
        for (const TreatmentFit& f : curves->fits) converged += f.fit.converged;
        benchmark::DoNotOptimize(curves->fits.data());
    }
    state.counters["comparisons"] = static_cast<double>(comparisons);
    state.counters["fits"] = static_cast<double>(fits);
    state.counters["converged"] = static_cast<double>(converged);
}
BENCHMARK(BM_ScreenWeekEverything)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
