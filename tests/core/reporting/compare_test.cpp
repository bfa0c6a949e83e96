// The screens of a plate map: endpoints per well from designed activity (gaps stay gaps), the
// group comparisons' table, and dose-response curves recovered from plates that follow a known
// log-logistic curve.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "core/reporting/compare/compare_stats.h"
#include "core/reporting/compare/dose_response.h"

namespace lumivo::reporting::testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A plate of wells with designed activity per 30-minute bin; `observed` false bins are gaps.
struct DesignedWell {
    std::string name;
    std::vector<double> values;
    WellStatus status = WellStatus::Ok;
};
ScreenPlate DesignedPlate(const std::string& name, const std::vector<DesignedWell>& wells,
                          std::vector<std::uint8_t> observed, WellMap map) {
    ScreenPlate plate;
    plate.name = name;
    plate.folder = name;
    RhythmData& d = plate.data;
    d.bin_minutes = 30;
    d.bins = observed.size();
    d.run_minutes = 30.0 * static_cast<double>(d.bins);
    d.observed = std::move(observed);
    for (std::size_t w = 0; w < wells.size(); ++w) {
        WellSeries s;
        s.well = static_cast<int>(w);
        s.name = wells[w].name;
        s.group_label = "001_Plate";
        s.status = wells[w].status;
        s.beams = 1;
        d.wells.push_back(s);
        EXPECT_EQ(wells[w].values.size(), d.bins);
        d.well_values.insert(d.well_values.end(), wells[w].values.begin(), wells[w].values.end());
    }
    plate.map = std::move(map);
    return plate;
}

WellEntry Entry(std::string well, std::string treatment, std::optional<double> c, WellRole role,
                std::vector<std::string> extra = {}) {
    return {std::move(well), std::move(treatment), c, "uM", role, std::move(extra)};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        EXPECT_TRUE(!line.empty() && line.back() == '\r') << line;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> out;
    std::string field;
    bool quoted = false;
    for (char ch : line) {
        if (ch == '"')
            quoted = !quoted;
        else if (ch == ',' && !quoted)
            out.push_back(std::exchange(field, {}));
        else
            field += ch;
    }
    out.push_back(field);
    return out;
}

std::string Cell(const std::vector<std::string>& lines, std::size_t row,
                 const std::string& column) {
    const auto header = Fields(lines.front());
    const auto at = std::find(header.begin(), header.end(), column);
    EXPECT_NE(at, header.end()) << column;
    if (at == header.end()) return {};
    return Fields(lines.at(row)).at(static_cast<std::size_t>(at - header.begin()));
}

TEST(Screen, EndpointsComeFromObservedBinsOnlyAndLeftOutWellsSayWhy) {
    // Eight bins: two basal (10 counts), then a gap, then five after dosing.
    const std::vector<std::uint8_t> observed = {1, 1, 0, 1, 1, 1, 1, 1};
    WellMap map;
    map.extra_columns = {"genotype"};
    map.wells = {Entry("A1", "DMSO", std::nullopt, WellRole::Negative, {"N2"}),
                 Entry("B1", "Levamisole", 1.0, WellRole::Sample, {"N2"}),
                 Entry("C1", "", std::nullopt, WellRole::Empty, {""}),
                 Entry("D1", "Levamisole", 1.0, WellRole::Sample, {"unc-29"})};
    const std::vector<DesignedWell> wells = {
        {"A1", {10, 10, 0, 10, 10, 10, 10, 10}},
        {"B1", {10, 10, 0, 8, 4, 0.5, 0.5, 0.4}},  // below 10 % of basal from bin 5 on
        {"C1", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"D1", {10, 10, 0, 0, 0, 0, 0, 0}, WellStatus::Dead},
        {"E1", {5, 5, 0, 5, 5, 5, 5, 5}},  // not in the map
    };
    struct Case {
        Endpoint endpoint;
        bool keep_dead;
        std::vector<double> expected;  // per well A1..E1 (NaN: left out)
        std::vector<std::string> left_out;
    };
    const std::vector<Case> cases = {
        {Endpoint::Mean,
         false,
         {10, 2.68, kNaN, kNaN, kNaN},
         {"", "", "empty", "dead", "not in wells.csv"}},
        {Endpoint::Total,
         false,
         {50, 13.4, kNaN, kNaN, kNaN},
         {"", "", "empty", "dead", "not in wells.csv"}},
        {Endpoint::PercentBasal,
         true,
         {100, 26.8, kNaN, 0, kNaN},
         {"", "", "empty", "", "not in wells.csv"}},
        // Paralysis: hours from 1 h (bin 2, a gap) to bin 5 (2.5 h) for B1; never for A1.
        {Endpoint::Paralysis,
         true,
         {kNaN, 1.5, kNaN, 0.5, kNaN},
         {"", "", "empty", "", "not in wells.csv"}},
    };
    for (const Case& c : cases) {
        ScreenRequest r;
        r.from_hours = 1.0;
        r.to_hours = 4.0;
        r.endpoint = c.endpoint;
        r.keep_dead = c.keep_dead;
        std::string failure;
        const auto screen =
            BuildScreen({DesignedPlate("plate1", wells, observed, map)}, r, &failure);
        ASSERT_TRUE(screen) << failure;
        EXPECT_EQ(screen->grouping, Grouping::Dose);
        for (std::size_t w = 0; w < wells.size(); ++w) {
            const double v = screen->wells[w].values[0];
            if (std::isnan(c.expected[w]))
                EXPECT_TRUE(std::isnan(v)) << w << " " << v;
            else
                EXPECT_NEAR(v, c.expected[w], 1e-12) << EndpointName(c.endpoint) << " " << w;
            EXPECT_EQ(screen->wells[w].left_out, c.left_out[w]) << w;
        }
        // The gap is said, not counted.
        ASSERT_FALSE(screen->notes.empty());
        EXPECT_NE(screen->notes.front().find("1 of 6 bins of the interval were not recorded"),
                  std::string::npos)
            << screen->notes.front();
    }

    // Hour 0 at the end of the dosing pause: the same interval one hour later on the plate.
    auto shifted = DesignedPlate("plate1", wells, observed, map);
    shifted.offset_hours = 1.0;
    ScreenRequest after;
    after.from_hours = 0.0;
    after.to_hours = 3.0;
    after.endpoint = Endpoint::PercentBasal;  // the basal hours: before the pause's end
    std::string why;
    const auto moved = BuildScreen({shifted}, after, &why);
    ASSERT_TRUE(moved) << why;
    EXPECT_NEAR(moved->wells[1].values[0], 26.8, 1e-12);
    const RunLog log = ParseRunLog(
        "2026-03-14 18:30:00  Sampling started\r\n"
        "2026-03-14 19:30:00  Paused, time counter stopped, at 01:00:00 [0d]\r\n"
        "2026-03-14 21:30:00  Resumed after a pause of 02:00:00 [0d] (not counted in the "
        "lapse)\r\n");
    EXPECT_EQ(PauseEndHours(log, 1), 3.0);

    // A basal acquisition of the plate: each well's basal mean is its whole recording's (B1:
    // 5 a bin there, so 13.4 / 5 x 100 %).
    auto with_basal = DesignedPlate("plate1", wells, observed, map);
    with_basal.basal =
        DesignedPlate(
            "basal",
            {{"A1", {10, 10}}, {"B1", {5, 5}}, {"C1", {0, 0}}, {"D1", {1, 1}}, {"E1", {5, 5}}},
            {1, 1}, {})
            .data;
    after.from_hours = 1.0;
    after.to_hours = 4.0;
    const auto basal_plate = BuildScreen({with_basal}, after, &why);
    ASSERT_TRUE(basal_plate) << why;
    EXPECT_NEAR(basal_plate->wells[1].values[0], 2.68 / 5.0 * 100.0, 1e-12);
    EXPECT_NEAR(basal_plate->wells[0].values[0], 100.0, 1e-12);
    EXPECT_EQ(PauseEndHours(log, 2), std::nullopt);

    // Basal hours the recording missed leave the wells out as such, not as inactive wells.
    EXPECT_FALSE(
        BuildScreen({DesignedPlate("plate1", wells, {0, 0, 0, 1, 1, 1, 1, 1}, map)}, after, &why));
    EXPECT_NE(why.find("2 wells left out (basal hours not recorded)"), std::string::npos) << why;

    // Refusals name what to do.
    ScreenRequest r;
    r.from_hours = 0.0;
    r.to_hours = 2.0;
    r.endpoint = Endpoint::PercentBasal;
    std::string failure;
    EXPECT_FALSE(BuildScreen({DesignedPlate("p", wells, observed, map)}, r, &failure));
    EXPECT_NE(failure.find("--basal-from"), std::string::npos) << failure;
    r.endpoint = Endpoint::Mean;
    r.from_hours = 9.0;
    r.to_hours = 10.0;
    EXPECT_FALSE(BuildScreen({DesignedPlate("p", wells, observed, map)}, r, &failure));
    EXPECT_NE(failure.find("after the end of the recording"), std::string::npos) << failure;
}

// A plate of 4 negative controls (about 20), 4 positive (about 2) and a treatment at 6
// concentrations x 2 wells following a known curve.
std::vector<ScreenPlate> DosePlates(std::size_t plates, double noise, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> jitter(0.0, noise);
    std::vector<ScreenPlate> out;
    const double concentrations[] = {0.1, 0.3, 1.0, 3.0, 10.0, 30.0};
    for (std::size_t p = 0; p < plates; ++p) {
        WellMap map;
        map.extra_columns = {"replicate"};
        std::vector<DesignedWell> wells;
        int k = 0;
        const auto add = [&](const std::string& treatment, std::optional<double> c, WellRole role,
                             double value) {
            const std::string name =
                std::string(1, static_cast<char>('A' + k % 8)) + std::to_string(k / 8 + 1);
            ++k;
            map.wells.push_back(Entry(name, treatment, c, role, {std::to_string(p + 1)}));
            const double v = value + jitter(rng);
            wells.push_back({name, {v, v, v, v}});
        };
        for (int i = 0; i < 4; ++i) add("DMSO", std::nullopt, WellRole::Negative, 20.0);
        for (int i = 0; i < 4; ++i) add("Ivermectin", 10.0, WellRole::Positive, 2.0);
        for (double c : concentrations)
            for (int i = 0; i < 2; ++i)
                add("Levamisole", c, WellRole::Sample,
                    statistics::LogLogistic(c, 2.0, 20.0, 1.2, 1.5));
        add("Aldicarb", 1.0, WellRole::Sample, 10.0);  // one concentration: no curve
        out.push_back(DesignedPlate("plate" + std::to_string(p + 1), wells, {1, 1, 1, 1}, map));
    }
    return out;
}

TEST(Compare, TableHasARowPerComparisonWithTheMapColumnsAndThePlateQuality) {
    ScreenRequest r;
    r.from_hours = 0.0;
    r.to_hours = 2.0;
    std::string failure;
    auto screen = BuildScreen(DosePlates(2, 0.0, 1), r, &failure);
    ASSERT_TRUE(screen) << failure;
    // Controls first, then the treatments by rising concentration, positives last.
    ASSERT_EQ(screen->groups.size(), 9u);
    EXPECT_EQ(screen->groups.front().name, "DMSO");
    EXPECT_EQ(screen->groups[1].name, "Levamisole 0.1 uM");
    EXPECT_EQ(screen->groups.back().name, "Ivermectin 10 uM");

    StatsRequest request;
    request.screen = r;
    const auto result = CompareGroups(*screen, request, &failure);
    ASSERT_TRUE(result) << failure;
    const auto lines = Lines(StatsTable(*result));
    // 8 comparisons against DMSO, then one quality row per plate.
    ASSERT_EQ(lines.size(), 1u + 8u + 2u);
    EXPECT_EQ(lines.front().rfind("group,control,n,mean,test,statistic,p,p_adjusted,effect,"
                                  "effect_low,effect_high,",
                                  0),
              0u);
    EXPECT_EQ(Cell(lines, 1, "control"), "DMSO");
    EXPECT_EQ(Cell(lines, 1, "group"), "Levamisole 0.1 uM");
    EXPECT_EQ(Cell(lines, 1, "n"), "4");  // two wells on each of two plates
    EXPECT_EQ(Cell(lines, 1, "replicate"), "1/2");
    EXPECT_EQ(Cell(lines, 1, "plate"), "plate1/plate2");
    EXPECT_EQ(Cell(lines, 10, "plate"), "plate2");  // the second plate's quality
    EXPECT_EQ(Cell(lines, 1, "treatment"), "Levamisole");
    EXPECT_EQ(Cell(lines, 1, "role"), "sample");
    EXPECT_EQ(Cell(lines, 8, "group"), "Ivermectin 10 uM");
    // Without noise the controls have no spread: Z' is exactly 1 on each plate.
    EXPECT_EQ(Cell(lines, 9, "test"), "z-prime");
    EXPECT_EQ(Cell(lines, 9, "group"), "plate1");
    EXPECT_EQ(Cell(lines, 9, "statistic"), "1");

    // Holm over every comparison: each adjusted p is at least its raw p.
    for (const Comparison& c : result->comparisons)
        if (!std::isnan(c.test.p)) {
            EXPECT_GE(c.p_adjusted, c.test.p - 1e-15);
        }

    // The control by treatment name, and one that is not there.
    request.control = "ivermectin";
    EXPECT_TRUE(CompareGroups(*screen, request, &failure)) << failure;
    request.control = "Levamisole";
    EXPECT_FALSE(CompareGroups(*screen, request, &failure));
    EXPECT_NE(failure.find("several concentrations"), std::string::npos) << failure;

    // One test over all groups: a single row per bin, then the plates.
    request.control.clear();
    request.test = GroupTest::Kruskal;
    const auto all = CompareGroups(*screen, request, &failure);
    ASSERT_TRUE(all) << failure;
    const auto all_lines = Lines(StatsTable(*all));
    ASSERT_EQ(all_lines.size(), 1u + 1u + 2u);
    EXPECT_EQ(Cell(all_lines, 1, "group"), "all");

    // Per bin: a row per bin and comparison, adjusted across all of them.
    r.per_bin = true;
    screen = BuildScreen(DosePlates(1, 0.5, 2), r, &failure);
    ASSERT_TRUE(screen) << failure;
    request.screen = r;
    request.test = GroupTest::Welch;
    const auto per_bin = CompareGroups(*screen, request, &failure);
    ASSERT_TRUE(per_bin) << failure;
    EXPECT_EQ(per_bin->comparisons.size(), 4u * 8u);
    EXPECT_EQ(Lines(StatsTable(*per_bin)).size(), 1u + 32u + 1u);
}

TEST(Compare, ZPrimeOfADesignedControlLayoutIsExact) {
    WellMap map;
    std::vector<DesignedWell> wells;
    // Negatives 18, 20, 22 (SD 2); positives 1, 2, 3 (SD 1): Z' = 1 - 3 x 3 / 18 = 0.5, and the
    // signal window (18 - 9) / 2 = 4.5.
    const std::pair<const char*, double> neg[] = {{"A1", 18}, {"B1", 20}, {"C1", 22}};
    const std::pair<const char*, double> pos[] = {{"A2", 1}, {"B2", 2}, {"C2", 3}};
    for (const auto& [name, v] : neg) {
        map.wells.push_back(Entry(name, "DMSO", std::nullopt, WellRole::Negative));
        wells.push_back({name, {v, v}});
    }
    for (const auto& [name, v] : pos) {
        map.wells.push_back(Entry(name, "Ivermectin", 5.0, WellRole::Positive));
        wells.push_back({name, {v, v}});
    }
    ScreenRequest r;
    r.to_hours = 1.0;
    std::string failure;
    const auto screen = BuildScreen({DesignedPlate("p", wells, {1, 1}, map)}, r, &failure);
    ASSERT_TRUE(screen) << failure;
    const auto q = PlateQualities(*screen);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_DOUBLE_EQ(q[0].z_prime, 0.5);
    EXPECT_DOUBLE_EQ(q[0].signal_window, 4.5);
    EXPECT_EQ(q[0].negatives, 3u);
}

TEST(DoseResponse, CurvesOfKnownPlatesGiveTheirEc50AndRefuseWhatCannotBeFitted) {
    ScreenRequest r;
    r.to_hours = 2.0;
    std::string failure;
    DoseRequest request;
    request.screen = r;
    auto screen = BuildScreen(DosePlates(1, 0.0, 1), r, &failure);
    ASSERT_TRUE(screen) << failure;
    auto result = FitDoseCurves(*screen, request, &failure);
    ASSERT_TRUE(result) << failure;
    ASSERT_EQ(result->fits.size(), 2u);  // Levamisole and Aldicarb
    const statistics::DoseFit& fit = result->fits[0].fit;
    ASSERT_TRUE(fit.converged) << fit.failure;
    EXPECT_NEAR(fit.ec50, 1.5, 1e-6);
    EXPECT_NEAR(fit.hill, 1.2, 1e-6);
    EXPECT_NEAR(fit.top, 20.0, 1e-6);
    EXPECT_NEAR(fit.bottom, 2.0, 1e-6);
    EXPECT_FALSE(result->fits[1].fit.converged);
    EXPECT_NE(result->fits[1].note.find("at least four"), std::string::npos);
    const auto lines = Lines(DoseTable(*result));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(
        lines.front().rfind("treatment,n,bottom,top,hill,ec50,ec50_low,ec50_high,r2,converged", 0),
        0u);
    EXPECT_EQ(Cell(lines, 1, "ec50"), "1.5");
    EXPECT_EQ(Cell(lines, 1, "converged"), "TRUE");
    EXPECT_EQ(Cell(lines, 2, "ec50"), "NA");
    EXPECT_EQ(Cell(lines, 2, "converged"), "FALSE");

    // As a percent of the controls (20): the top is 100, the EC50 the same.
    request.normalise = DoseNormalise::Control;
    result = FitDoseCurves(*screen, request, &failure);
    ASSERT_TRUE(result) << failure;
    EXPECT_NEAR(result->fits[0].fit.top, 100.0, 1e-6);
    EXPECT_NEAR(result->fits[0].fit.ec50, 1.5, 1e-6);

    // Noisy replicate plates: the 95 % CI holds the true EC50 in most of twenty screens.
    int held = 0;
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        screen = BuildScreen(DosePlates(3, 1.0, seed), r, &failure);
        ASSERT_TRUE(screen) << failure;
        request.normalise = DoseNormalise::None;
        result = FitDoseCurves(*screen, request, &failure);
        ASSERT_TRUE(result) << failure;
        const statistics::DoseFit& f = result->fits[0].fit;
        ASSERT_TRUE(f.converged) << seed << ": " << f.failure;
        EXPECT_LT(f.ec50_low, f.ec50_high);
        held += f.ec50_low <= 1.5 && 1.5 <= f.ec50_high;
    }
    EXPECT_GE(held, 16);

    // Over time: one fit per bin.
    r.per_bin = true;
    request.screen = r;
    screen = BuildScreen(DosePlates(1, 0.0, 1), r, &failure);
    ASSERT_TRUE(screen) << failure;
    result = FitDoseCurves(*screen, request, &failure);
    ASSERT_TRUE(result) << failure;
    EXPECT_EQ(result->fits.size(), 4u * 2u);
    EXPECT_EQ(Lines(DoseTable(*result)).size(), 1u + 8u);
    EXPECT_FALSE(RenderSceneSvg(DoseScene(*result)).empty());

    // Normalising needs negative controls.
    r.per_bin = false;
    auto plates = DosePlates(1, 0.0, 1);
    for (WellEntry& e : plates[0].map.wells)
        if (e.role == WellRole::Negative) e.role = WellRole::Empty;
    screen = BuildScreen(std::move(plates), r, &failure);
    ASSERT_TRUE(screen) << failure;
    request.screen = r;
    request.normalise = DoseNormalise::Control;
    EXPECT_FALSE(FitDoseCurves(*screen, request, &failure));
    EXPECT_NE(failure.find("no negative control"), std::string::npos) << failure;
}

}  // namespace
}  // namespace lumivo::reporting::testing
