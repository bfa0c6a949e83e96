// Behaviour of the simulated instrument: beam response, noise, animals, temperature, store and
// reproducibility.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <vector>

#include "core/storage/plate_format.h"
#include "core/storage/well_map.h"
#include "sim/dose_plate.h"
#include "sim/instrument.h"
#include "sim_test_util.h"
#include "support/sim_plates.h"

namespace lumivo::sim {
namespace {

using namespace testing;

constexpr int kWindowLow = 1638;   // 40 % of full scale
constexpr int kWindowHigh = 1843;  // 45 % of full scale
constexpr std::int64_t kStart = 2'000'000;

TEST(InstrumentModel, ResponseIsMonotonicInTheSettingCounter) {
    Instrument sim(testing::QuietConfig());
    for (int channel : {0, 200, 383}) {
        double previous = -1.0;
        // PinHole is the slow digit and Gain the fast one: (p, g) -> 8p + g.
        for (int p = 0; p <= 31; ++p) {
            for (int g = 0; g <= 7; ++g) {
                const double level = sim.BeamLevelAt(channel, p, g);
                EXPECT_GE(level, previous) << "channel " << channel << " p " << p << " g " << g;
                if (previous > 0.0 && level < kFullScale) {
                    // Smooth: one step never jumps across the 40..45 % window.
                    EXPECT_LT(level / previous, 1.12) << "p " << p << " g " << g;
                }
                previous = level;
            }
        }
        EXPECT_EQ(previous, kFullScale);
    }
}

TEST(InstrumentModel, CalibrationRangeSpansTheTargetWindow) {
    // Between PinHole 1/Gain 0 and PinHole 7/Gain 7 a typical beam goes from below the window to
    // above it, and so do weak and strong beams.
    for (const double transmission : {0.2, 0.5, 1.0, 2.0, 2.5}) {
        SimConfig config = testing::QuietConfig();
        config.channels[7].transmission = transmission;
        Instrument sim(config);
        EXPECT_LT(sim.BeamLevelAt(7, 1, 0), kWindowLow) << transmission;
        EXPECT_GT(sim.BeamLevelAt(7, 7, 7), kWindowHigh) << transmission;
    }
}

// The stepping search of the channel calibration, driven through frames: one step per pass,
// Gain the fast digit, PinHole kept within 1..7.
struct SearchResult {
    bool in_window = false;
    int reading = 0;
    int passes = 0;
};

std::vector<SearchResult> SteppingSearch(Instrument& sim, const std::vector<int>& channels) {
    std::int64_t now = kStart;
    std::vector<int> pinhole(kChannelCount, 2), gain(kChannelCount, 3), dir(kChannelCount, 0);
    std::vector<bool> done(kChannelCount, false);
    std::vector<SearchResult> result(channels.size());
    for (int c : channels) Exchange(sim, ChannelWriteFrame(c, 3 * 32 + 2), now);
    for (int pass = 1; pass <= 200; ++pass) {
        const std::vector<int> r = ReadAllChannels(sim, now);
        EXPECT_EQ(r.size(), static_cast<std::size_t>(kChannelCount));
        if (r.empty()) return result;
        bool any = false;
        for (std::size_t i = 0; i < channels.size(); ++i) {
            const auto c = static_cast<std::size_t>(channels[i]);
            if (done[c]) continue;
            const int v = r[c];
            result[i].reading = v;
            result[i].passes = pass;
            if (v >= kWindowLow && v <= kWindowHigh) {
                done[c] = true;
                result[i].in_window = true;
                continue;
            }
            if (v < kWindowLow && dir[c] != -1) {
                if (gain[c] < 7) {
                    ++gain[c];
                } else if (pinhole[c] >= 7) {
                    done[c] = true;
                } else {
                    gain[c] = 0;
                    ++pinhole[c];
                }
                dir[c] = 1;
            } else if (v > kWindowHigh && dir[c] != 1) {
                if (gain[c] >= 1) {
                    --gain[c];
                } else if (pinhole[c] < 2) {
                    done[c] = true;
                } else {
                    gain[c] = 7;
                    --pinhole[c];
                }
                dir[c] = -1;
            } else if (v < kWindowLow) {
                done[c] = true;  // stepped down past the window
            } else {
                dir[c] = 0;  // stepped up past the window: step down next pass
            }
            if (!done[c]) {
                any = true;
                Exchange(sim,
                         ChannelWriteFrame(channels[i],
                                           static_cast<std::uint8_t>(gain[c] * 32 + pinhole[c])),
                         now);
            }
        }
        if (!any) break;
    }
    return result;
}

TEST(InstrumentModel, SteppingSearchLandsNormalChannelsInTheWindow) {
    SimConfig config = lumivo::testing::EmptyPlate();  // with noise, ripple and spread
    const std::vector<double> transmissions = {0.25, 0.5, 0.8, 1.0, 1.3, 2.0, 2.5};
    std::vector<int> channels;
    for (std::size_t i = 0; i < transmissions.size(); ++i) {
        const int c = static_cast<int>(17 + 50 * i);
        config.channels[static_cast<std::size_t>(c)].transmission = transmissions[i];
        channels.push_back(c);
    }
    Instrument sim(config);
    const auto results = SteppingSearch(sim, channels);
    for (std::size_t i = 0; i < channels.size(); ++i) {
        EXPECT_TRUE(results[i].in_window)
            << "channel " << channels[i] << " transmission " << transmissions[i] << " ended at "
            << results[i].reading << " after " << results[i].passes << " passes";
        // The stored setting gives a steady level inside the window too.
        const double level = sim.BeamLevel(channels[i]);
        EXPECT_GE(level, kWindowLow - 20) << channels[i];
        EXPECT_LE(level, kWindowHigh + 20) << channels[i];
    }
}

TEST(InstrumentModel, DeadSaturatedAndBlockedChannelsIgnoreTheirSetting) {
    SimConfig config;
    config.channels[10].kind = ChannelKind::kDead;
    config.channels[300].kind = ChannelKind::kSaturated;
    // Column 12 holds channels 192..207 (channel 200 is row 8); row 3 holds 3, 19, ..., 371.
    config.faults.blocked_columns = {12};
    config.faults.blocked_rows = {3};
    Instrument sim(config);
    std::int64_t now = kStart;
    for (const std::uint8_t setting : {std::uint8_t{0}, std::uint8_t{0x62}, std::uint8_t{0xE7}}) {
        Exchange(sim, ChannelWriteFrame(10, setting), now);
        Exchange(sim, ChannelWriteFrame(300, setting), now);
        for (int i = 0; i < 20; ++i) {
            const auto r = ReadAllChannels(sim, now);
            ASSERT_FALSE(r.empty());
            EXPECT_LE(r[10], 15) << "dead channel, setting " << int{setting};
            EXPECT_EQ(r[300], kFullScale) << "saturated channel, setting " << int{setting};
        }
        for (int c : {192, 200, 207, 3, 19, 371}) {
            Exchange(sim, ChannelWriteFrame(c, setting), now);
            EXPECT_LE(ReadAllChannels(sim, now)[static_cast<std::size_t>(c)], 15)
                << "blocked channel " << c << ", setting " << int{setting};
        }
        EXPECT_EQ(sim.BeamLevel(200), 0.0);
    }
    // Next to the blocked column and row the beams are lit as usual.
    for (int c : {191, 208, 2, 20}) {
        Exchange(sim, ChannelWriteFrame(c, 0xE7), now);
        EXPECT_GT(ReadAllChannels(sim, now)[static_cast<std::size_t>(c)], 1638) << c;
    }
    // A normal neighbour does follow its setting.
    Exchange(sim, ChannelWriteFrame(11, 0x01), now);
    const int low = ReadAllChannels(sim, now)[11];
    Exchange(sim, ChannelWriteFrame(11, 0xE6), now);
    const int high = ReadAllChannels(sim, now)[11];
    EXPECT_LT(low * 3, high);
}

double StdDev(const std::vector<int>& v) {
    const double mean = std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
    double sq = 0.0;
    for (int x : v) sq += (x - mean) * (x - mean);
    return std::sqrt(sq / static_cast<double>(v.size()));
}

TEST(InstrumentModel, NoisierChannelIsVisiblyNoisier) {
    SimConfig config = lumivo::testing::EmptyPlate();
    config.channels[40].noise = 1.0;
    config.channels[40].ripple = 0.0;
    config.channels[41].noise = 25.0;
    config.channels[41].ripple = 0.0;
    config.channels[42].noise = 0.0;
    config.channels[42].ripple = 30.0;
    Instrument sim(config);
    std::vector<int> quiet, noisy, rippled;
    for (int i = 0; i < 400; ++i) {
        const std::int64_t t = kStart + i * 73'000;
        quiet.push_back(sim.Sample(40, t));
        noisy.push_back(sim.Sample(41, t));
        rippled.push_back(sim.Sample(42, t));
    }
    EXPECT_GT(StdDev(quiet), 0.5);
    EXPECT_LT(StdDev(quiet), 1.5);
    EXPECT_GT(StdDev(noisy), 20.0);
    EXPECT_LT(StdDev(noisy), 30.0);
    EXPECT_GT(StdDev(rippled), 10.0);  // a 30-count sine sampled off-beat
}

// Counts falls below 85 % of the channel's steady level (re-armed above 95 %).
int CountDips(const std::vector<int>& v, double level) {
    int count = 0;
    bool armed = true;
    for (int x : v) {
        if (armed && x < 0.85 * level) {
            ++count;
            armed = false;
        } else if (x > 0.95 * level) {
            armed = true;
        }
    }
    return count;
}

TEST(InstrumentModel, EmptyWellCountsNearZeroAndABusyOneClearlyMore) {
    SimConfig config;
    // Four channels per well, as on a 96-well plate: channels 4w..4w+3 in well w.
    config.channel_well.resize(kChannelCount);
    for (int c = 0; c < kChannelCount; ++c)
        config.channel_well[static_cast<std::size_t>(c)] = c / 4;
    config.well_activity.assign(96, 0.25);
    config.well_activity[0] = 0.0;  // empty well
    config.well_activity[1] = 4.0;  // busy well
    config.channel_well[383] = -1;  // a beam that crosses no well
    Instrument sim(config);

    std::int64_t now = kStart;
    std::vector<std::vector<int>> series(kChannelCount);
    for (int tick = 0; tick < 1500; ++tick) {  // ~2 minutes at ~80 ms per sample
        const auto r = ReadAllChannels(sim, now);
        ASSERT_FALSE(r.empty());
        for (int c = 0; c < kChannelCount; ++c)
            series[static_cast<std::size_t>(c)].push_back(r[static_cast<std::size_t>(c)]);
    }
    auto well_dips = [&](int well) {
        int total = 0;
        for (int c = 4 * well; c < 4 * well + 4; ++c) {
            total += CountDips(series[static_cast<std::size_t>(c)], sim.BeamLevel(c));
        }
        return total;
    };
    const int empty = well_dips(0);
    const int busy = well_dips(1);
    const int normal = well_dips(2);
    EXPECT_LE(empty, 1);
    EXPECT_GT(busy, 200);  // 4 crossings/s for ~2 min, most of them seen
    EXPECT_GT(busy, 4 * normal);
    EXPECT_GT(normal, 10);
    EXPECT_EQ(CountDips(series[383], sim.BeamLevel(383)), 0);

    // The model's own tally agrees with the rates.
    std::uint64_t started_busy = 0;
    std::uint64_t started_empty = 0;
    for (int c = 0; c < 4; ++c) started_empty += sim.CrossingsStarted(c, now);
    for (int c = 4; c < 8; ++c) started_busy += sim.CrossingsStarted(c, now);
    const double seconds = static_cast<double>(now - kStart) / 1e6;
    EXPECT_EQ(started_empty, 0u);
    EXPECT_NEAR(static_cast<double>(started_busy), 4.0 * seconds, 4.0 * std::sqrt(4.0 * seconds));
}

TEST(InstrumentModel, PerChannelActivityScale) {
    SimConfig config;
    config.default_activity = 1.0;
    config.channels[5].activity_scale = 0.0;
    config.channels[6].activity_scale = 3.0;
    Instrument sim(config);
    const std::int64_t later = kStart + 600'000'000;
    sim.AdvanceTo(kStart);
    EXPECT_EQ(sim.CrossingsStarted(5, later), 0u);
    EXPECT_GT(sim.CrossingsStarted(6, later), 2 * sim.CrossingsStarted(7, later));
}

TEST(InstrumentModel, LongJumpsOfTimeStayCheapAndPlausible) {
    SimConfig config;
    config.default_activity = 2.0;
    Instrument sim(config);
    sim.AdvanceTo(kStart);
    const std::int64_t day = 24LL * 3600 * 1'000'000;
    const auto n = sim.CrossingsStarted(0, kStart + day);
    EXPECT_NEAR(static_cast<double>(n), 2.0 * 86400, 2.0 * 86400 * 0.05);
}

TEST(InstrumentModel, ARhythmAlternatesActiveAndRestingHours) {
    // Period 24 h, active for 12 h from the start, resting at a tenth of the rate: 1 crossing a
    // second, then 0.1. Counted hour by hour (event by event) and over two days at once (the
    // summarised catch-up), with the same expectation.
    SimConfig config;
    config.default_activity = 1.0;
    config.rhythm.period_hours = 24.0;
    config.rhythm.active_hours = 12.0;
    config.rhythm.rest_fraction = 0.1;
    const std::int64_t hour = 3600LL * 1'000'000;
    Instrument stepped(config);
    stepped.AdvanceTo(kStart);
    std::uint64_t active = 0, rest = 0, before = 0;
    for (int h = 1; h <= 24; ++h) {
        const std::uint64_t n = stepped.CrossingsStarted(0, kStart + h * hour);
        (h <= 12 ? active : rest) += n - before;
        before = n;
    }
    EXPECT_NEAR(static_cast<double>(active), 12 * 3600.0, 4 * std::sqrt(12 * 3600.0));
    EXPECT_NEAR(static_cast<double>(rest), 12 * 360.0, 4 * std::sqrt(12 * 360.0));
    Instrument jumped(config);
    jumped.AdvanceTo(kStart);
    EXPECT_NEAR(static_cast<double>(jumped.CrossingsStarted(0, kStart + 48 * hour)),
                2 * (12 * 3600.0 + 12 * 360.0), 0.03 * 2 * (12 * 3600.0 + 12 * 360.0));

    // Each well's period lies within the spread; different wells differ.
    config.rhythm.period_spread_hours = 0.5;
    const Instrument spread(config);
    EXPECT_EQ(Instrument(SimConfig{}).WellPeriodHours(0), 0.0);
    double lo = 99, hi = 0;
    for (int w = 0; w < 96; ++w) {
        lo = std::min(lo, spread.WellPeriodHours(w));
        hi = std::max(hi, spread.WellPeriodHours(w));
    }
    EXPECT_GE(lo, 23.5);
    EXPECT_LE(hi, 24.5);
    EXPECT_GT(hi - lo, 0.5);
}

TEST(InstrumentModel, ADoseScalesEachWellsRateFromTheDoseTime) {
    // 96 wells of four channels at 1 crossing/s each; a dose 2 h after the start leaves well w
    // the share w / 89 of its rate (well 0 stops, well 89 keeps it); wells 90..95 have no share
    // and keep their rate. Counted in half-hour steps (event by event) and in two long jumps
    // (the summarised catch-up, the second one across the dose), with and without a rhythm.
    struct Case {
        const char* name;
        double period_hours;
        // Seconds at the full rate that the rhythm leaves before the dose (0..2 h) and after it
        // (2..6 h).
        double before_s, after_s;
    };
    const Case cases[] = {
        {"no rhythm", 0.0, 2 * 3600.0, 4 * 3600.0},
        // Active 0..2 h and 4..6 h, resting at half the rate 2..4 h.
        {"4 h rhythm", 4.0, 2 * 3600.0, 2 * 3600.0 + 0.5 * 2 * 3600.0},
    };
    const std::int64_t hour = 3600LL * 1'000'000;
    SimConfig config;
    config.channel_well.resize(kChannelCount);
    for (int c = 0; c < kChannelCount; ++c)
        config.channel_well[static_cast<std::size_t>(c)] = c / 4;
    config.well_activity.assign(96, 1.0);
    config.dose_at_hours = 2.0;
    for (int w = 0; w < 90; ++w) config.well_dose_share.push_back(w / 89.0);
    auto share = [&](int w) { return w < 90 ? w / 89.0 : 1.0; };
    auto well_count = [](Instrument& sim, int w, std::int64_t t) {
        std::uint64_t n = 0;
        for (int c = 4 * w; c < 4 * w + 4; ++c) n += sim.CrossingsStarted(c, t);
        return static_cast<double>(n);
    };
    for (const Case& k : cases) {
        config.rhythm.period_hours = k.period_hours;
        config.rhythm.active_hours = k.period_hours / 2;
        config.rhythm.rest_fraction = 0.5;
        Instrument stepped(config);
        stepped.AdvanceTo(kStart);
        std::vector<double> at_dose(96), at_end(96);
        for (int half = 1; half <= 12; ++half) {
            for (int w = 0; w < 96; ++w) {
                const double n = well_count(stepped, w, kStart + half * hour / 2);
                if (half == 4) at_dose[static_cast<std::size_t>(w)] = n;
                at_end[static_cast<std::size_t>(w)] = n;
            }
        }
        Instrument jumped(config);
        jumped.AdvanceTo(kStart);
        for (int w = 0; w < 96; ++w) (void)well_count(jumped, w, kStart + 3 * hour / 2);
        for (int w = 0; w < 96; ++w) {
            const auto i = static_cast<std::size_t>(w);
            // Poisson counts: 5 standard deviations (the expectation's square root) leave a
            // chance below 1e-6 per well of a false alarm.
            const double before = k.before_s;
            const double after = share(w) * k.after_s;
            EXPECT_NEAR(at_dose[i], before, 5 * std::sqrt(before)) << k.name << " well " << w;
            EXPECT_NEAR(at_end[i] - at_dose[i], after, 5 * std::sqrt(after) + 1)
                << k.name << " well " << w;
            // The jumps replay 0.5..1.5 h and 5..6 h (both active) event by event and count the
            // rest by its expectation, each channel to within about one crossing per jump.
            const double jumped_total = well_count(jumped, w, kStart + 6 * hour);
            EXPECT_NEAR(jumped_total, before + after, 5 * std::sqrt(3600.0 * (1 + share(w))) + 12)
                << k.name << " well " << w;
        }
        EXPECT_EQ(at_end[0], at_dose[0]) << k.name << ": a share of 0 stops the well";
    }

    // Shares of 1 change nothing: the same seed gives the same samples as without a dose.
    SimConfig plain;
    SimConfig full = plain;
    full.well_dose_share.assign(kChannelCount, 1.0);
    Instrument a(plain), b(full);
    for (std::int64_t t = kStart; t < kStart + 20'000'000; t += 10'000) {
        ASSERT_EQ(a.Sample(5, t), b.Sample(5, t)) << t;
    }
}

TEST(DosePlate, SharesFollowTheRolesAndTheCurve) {
    // Top 2 crossings/s, bottom 0.25, hill 2, EC50 10: share(c) = (0.25 + 1.75 / (1 + (c /
    // 10)^2)) / 2.
    PlateMap plate;
    BuildDefaultPlateMap("w96f", plate);
    std::string why;
    const auto wells = ParseWellMap(
        "well,treatment,concentration,unit,role\n"
        "A1,vehicle,,,negative\n"
        "A2,vehicle,5,uM,negative\n"
        "B1,reference,,,positive\n"
        "C1,compound,10,uM,sample\n"
        "D1,compound,100,uM,sample\n"
        "E1,compound,1,uM,sample\n"
        "F1,compound,0,uM,sample\n"
        "G1,compound,,uM,sample\n"
        "H1,,,,empty\n",
        PlateWellNames(plate), &why);
    ASSERT_TRUE(wells) << why;
    const DoseCurve curve{
        .top_rate = 2.0, .bottom_rate = 0.25, .hill = 2.0, .ec50 = 10.0, .at_hours = 3.0};
    SimConfig config;
    ApplyDosePlate(plate, *wells, curve, config);

    struct Case {
        const char* well;
        double rate, share;
    };
    const Case cases[] = {
        {"A1", 2.0, 1.0},          // negative control
        {"A2", 2.0, 1.0},          // a negative control's concentration does not count
        {"B1", 2.0, 0.125},        // positive control: bottom / top
        {"C1", 2.0, 0.5625},       // at the EC50: halfway, (0.25 + 2) / 2 / 2
        {"D1", 2.0, 0.133663366},  // (0.25 + 1.75 / 101) / 2
        {"E1", 2.0, 0.991336634},  // (0.25 + 1.75 / 1.01) / 2
        {"F1", 2.0, 1.0},          // concentration 0
        {"G1", 2.0, 1.0},          // no concentration
        {"H1", 0.0, 1.0},          // empty: no animals
        {"B2", 2.0, 1.0},          // not in the plate map
    };
    ASSERT_EQ(config.well_activity.size(), 96u);
    ASSERT_EQ(config.well_dose_share.size(), 96u);
    const std::vector<std::string> names = PlateWellNames(plate);
    for (const Case& c : cases) {
        const auto w =
            static_cast<std::size_t>(std::find(names.begin(), names.end(), c.well) - names.begin());
        ASSERT_LT(w, names.size()) << c.well;
        EXPECT_DOUBLE_EQ(config.well_activity[w], c.rate) << c.well;
        EXPECT_NEAR(config.well_dose_share[w], c.share, 1e-9) << c.well;
    }
    EXPECT_EQ(config.dose_at_hours, 3.0);
    ASSERT_EQ(config.channel_well.size(), static_cast<std::size_t>(kChannelCount));
    int in_no_well = 0;
    for (int c = 0; c < kChannelCount; ++c) {
        const auto i = static_cast<std::size_t>(c);
        EXPECT_EQ(config.channel_well[i], plate.ChannelWell[i] < 0 ? -1 : plate.ChannelWell[i])
            << c;
        in_no_well += config.channel_well[i] < 0 ? 1 : 0;
    }
    EXPECT_GT(in_no_well, 0);  // the w96f plate leaves half of the beams outside its wells

    // The plate runs: the empty well and the beams outside the wells see nothing, the well at
    // the EC50 crosses at half of the top and bottom's sum after the dose (Poisson, 5 sigma).
    Instrument sim(config);
    sim.AdvanceTo(kStart);
    const std::int64_t hour = 3600LL * 1'000'000;
    auto count = [&](int well, std::int64_t t) {
        std::uint64_t n = 0;
        for (int c = 0; c < kChannelCount; ++c) {
            if (config.channel_well[static_cast<std::size_t>(c)] == well)
                n += sim.CrossingsStarted(c, t);
        }
        return static_cast<double>(n);
    };
    for (int half = 1; half <= 6; ++half) (void)count(2, kStart + half * hour / 2);
    const double c1_at_dose = count(2, kStart + 3 * hour);
    for (int half = 7; half <= 8; ++half) (void)count(2, kStart + half * hour / 2);
    const double c1_after = count(2, kStart + 4 * hour) - c1_at_dose;
    EXPECT_NEAR(c1_after, 1.125 * 3600, 5 * std::sqrt(1.125 * 3600));
    EXPECT_EQ(count(7, kStart + 4 * hour), 0.0);   // H1
    EXPECT_EQ(count(-1, kStart + 4 * hour), 0.0);  // outside the wells

    // Curves that cannot be used.
    const DoseCurve bad[] = {
        {.top_rate = 0.0},
        {.top_rate = std::nan("")},
        {.top_rate = 1.0, .bottom_rate = 1.5},
        {.top_rate = 1.0, .bottom_rate = -0.5},
        {.hill = 0.0},
        {.ec50 = 0.0},
        {.at_hours = -1.0},
    };
    for (std::size_t i = 0; i < std::size(bad); ++i) {
        SimConfig untouched;
        EXPECT_THROW(ApplyDosePlate(plate, *wells, bad[i], untouched), std::invalid_argument) << i;
        EXPECT_TRUE(untouched.channel_well.empty()) << i;
    }
}

TEST(InstrumentModel, TemperatureFollowsTheOutputs) {
    struct Case {
        std::uint8_t mask;
        double min_change, max_change;  // after 10 minutes from 22 C
    };
    const Case cases[] = {
        {0, -0.01, 0.01},                   // everything off: stays at ambient
        {4, -0.01, 0.01},                   // light only
        {2, -0.01, 0.01},                   // heat selected but control off
        {3, 2.0, 8.0},                      // control + heat: warms
        {7, 2.0, 8.0},    {1, -8.0, -1.0},  // control + cool: cools
    };
    for (const Case& c : cases) {
        Instrument sim;
        std::int64_t now = kStart;
        Exchange(sim, OutputsFrame(c.mask), now, 60'000'000);
        sim.AdvanceTo(now);
        const double first_minute = sim.TemperatureC() - 22.0;
        EXPECT_LE(std::abs(first_minute), 1.0) << "mask " << int{c.mask} << ": too fast";
        now += 540'000'000;
        sim.AdvanceTo(now);
        const double change = sim.TemperatureC() - 22.0;
        EXPECT_GE(change, c.min_change) << "mask " << int{c.mask};
        EXPECT_LE(change, c.max_change) << "mask " << int{c.mask};
    }
}

TEST(InstrumentModel, HeatingApproachesItsLimitAndCoolsBackWhenSwitchedOff) {
    Instrument sim;
    std::int64_t now = kStart;
    Exchange(sim, OutputsFrame(3), now, 10LL * 3600 * 1'000'000);
    sim.AdvanceTo(now);
    const double hot = sim.TemperatureC();
    EXPECT_GT(hot, 40.0);
    EXPECT_LE(hot, sim.Config().heat_limit_c);
    Exchange(sim, OutputsFrame(0), now, 3600LL * 1'000'000);
    sim.AdvanceTo(now);
    EXPECT_LT(sim.TemperatureC(), hot - 5.0);
    EXPECT_GT(sim.TemperatureC(), 22.0);
}

TEST(InstrumentModel, RawTemperatureIsTheSensorsResponseNotTheRegisters) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, std::uint8_t>> registers;
        double slope, offset;
    };
    const Case cases[] = {
        {"defaults", {}, 0.219, 0.0},
        {"slope 0.25 offset +2.0", {{5, 250}, {6, 0}, {3, 0}, {4, 20}}, 0.25, 2.0},
        {"slope 0.3 offset -1.5", {{5, 44}, {6, 1}, {3, 1}, {4, 15}}, 0.3, -1.5},
        {"slope 0.5 is invalid", {{5, 244}, {6, 1}}, 0.219, 0.0},
        {"marker not 0", {{0, 1}, {5, 250}}, 0.219, 0.0},
        {"offset 12.0 is out of range", {{4, 120}}, 0.219, 0.0},
    };
    for (const Case& c : cases) {
        // The initial registers describe the sensor.
        SimConfig config;
        for (const auto& [reg, value] : c.registers)
            config.sensor_registers[static_cast<std::size_t>(reg)] = value;
        Instrument sim(config);
        std::int64_t now = kStart;
        EXPECT_NEAR(sim.SensorSlope(), c.slope, 1e-12) << c.name;
        EXPECT_NEAR(sim.SensorOffset(), c.offset, 1e-12) << c.name;
        sim.SetTemperatureC(22.0);
        const auto reply = Exchange(sim, TemperatureFrame(), now);
        ASSERT_EQ(reply.size(), 1u);
        EXPECT_EQ(reply[0], std::lround((22.0 - c.offset) / c.slope)) << c.name;
        // The host's conversion gets the temperature back within half a step.
        EXPECT_NEAR(reply[0] * c.slope + c.offset, 22.0, c.slope / 2 + 1e-9) << c.name;

        // A calibration written into the registers is stored and read back; the sensor's
        // byte stays what it was.
        Instrument written;
        for (const auto& [reg, value] : c.registers)
            ASSERT_EQ(Exchange(written, SensorWriteFrame(reg, value), now).size(), 1u);
        EXPECT_NEAR(written.SensorSlope(), c.slope, 1e-12) << c.name;
        EXPECT_NEAR(written.SensorOffset(), c.offset, 1e-12) << c.name;
        written.SetTemperatureC(22.0);
        const auto unchanged = Exchange(written, TemperatureFrame(), now);
        ASSERT_EQ(unchanged.size(), 1u);
        EXPECT_EQ(unchanged[0], std::lround(22.0 / 0.219)) << c.name;
    }
}

TEST(InstrumentModel, RawTemperatureIsClampedToAByte) {
    Instrument sim;
    sim.SetTemperatureC(-40.0);
    EXPECT_EQ(sim.RawTemperature(), 0);
    sim.SetTemperatureC(120.0);
    EXPECT_EQ(sim.RawTemperature(), 255);
}

std::vector<std::uint8_t> Session(std::uint64_t seed) {
    SimConfig config;
    config.seed = seed;
    config.default_activity = 1.0;
    Instrument sim(config);
    std::int64_t now = 777;
    std::vector<std::uint8_t> all;
    for (int i = 0; i < 50; ++i) {
        for (std::uint8_t nn = 0; nn < 128; nn += 32) {
            const auto r = Exchange(sim, testing::BlockFrame(nn), now, 20'000);
            all.insert(all.end(), r.begin(), r.end());
        }
    }
    return all;
}

TEST(InstrumentModel, SameSeedSameBytesOtherSeedOtherBytes) {
    const auto a = Session(42);
    const auto b = Session(42);
    const auto c = Session(43);
    ASSERT_EQ(a.size(), 50u * 4 * 192);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST(InstrumentModel, SamplesDoNotDependOnWhatWasReadBefore) {
    SimConfig config;
    config.default_activity = 2.0;
    Instrument a(config);
    Instrument b(config);
    a.AdvanceTo(0);
    b.AdvanceTo(0);
    for (int i = 0; i < 200; ++i) (void)a.Sample(9, i * 10'000);
    EXPECT_EQ(a.Sample(9, 2'500'000), b.Sample(9, 2'500'000));
    EXPECT_EQ(a.Sample(200, 2'600'000), b.Sample(200, 2'600'000));
}

class StoreFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("lumivo_sim_store_" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST_F(StoreFile, RestartKeepsChannelSettingsAndSensorRegisters) {
    SimConfig config;
    config.store_path = dir_ / "store.txt";
    {
        Instrument sim(config);
        std::int64_t now = kStart;
        Exchange(sim, ChannelWriteFrame(200, 0x25), now);
        Exchange(sim, ChannelWriteFrame(5, 0xE7), now);
        Exchange(sim, SensorWriteFrame(1, 7), now);
        EXPECT_TRUE(sim.LastStoreError().empty()) << sim.LastStoreError();
    }
    Instrument restarted(config);
    EXPECT_EQ(restarted.ChannelSetting(200), 0x25);
    EXPECT_EQ(restarted.ChannelSetting(5), 0xE7);
    EXPECT_EQ(restarted.ChannelSetting(6), config.initial_setting);
    EXPECT_EQ(restarted.SensorRegister(1), 7);
    EXPECT_EQ(restarted.SensorRegister(5), 219);
    std::int64_t now = kStart;
    EXPECT_EQ(Exchange(restarted, testing::ChannelReadFrame(200), now),
              std::vector<std::uint8_t>{0x25});
}

TEST_F(StoreFile, MalformedStoreIsRefused) {
    const std::vector<std::string> bad = {
        "not a store\n",
        "lumivo-sim store 1\nchannel 5\n",
        "lumivo-sim store 1\nchannel 384 1\n",
        "lumivo-sim store 1\nchannel 5 256\n",
        "lumivo-sim store 1\nsensor 128 1\n",
        "lumivo-sim store 1\nchannel 5 1 extra\n",
        "lumivo-sim store 1\nlamp 1 1\n",
    };
    for (const std::string& text : bad) {
        const auto path = dir_ / "bad.txt";
        std::ofstream(path) << text;
        SimConfig config;
        config.store_path = path;
        EXPECT_THROW(Instrument{config}, std::runtime_error) << text;
        Instrument sim;
        std::string error;
        EXPECT_FALSE(sim.LoadStore(path, &error)) << text;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(sim.ChannelSetting(5), sim.Config().initial_setting) << "partly loaded";
    }
}

TEST_F(StoreFile, UnwritableStoreIsReportedNotFatal) {
    SimConfig config;
    config.store_path = dir_ / "missing_folder" / "store.txt";
    Instrument sim(config);
    std::int64_t now = kStart;
    EXPECT_EQ(Exchange(sim, ChannelWriteFrame(1, 0x22), now), std::vector<std::uint8_t>{1});
    EXPECT_EQ(sim.ChannelSetting(1), 0x22);
    EXPECT_FALSE(sim.LastStoreError().empty());
}

TEST(InstrumentModel, InvalidConfigurationsAreRefused) {
    std::vector<SimConfig> bad(15);
    bad[11].dose_at_hours = -1.0;
    bad[12].dose_at_hours = std::nan("");
    bad[13].well_dose_share = {0.5, 1.5};
    bad[14].well_dose_share = {-0.1};
    bad[9].faults.blocked_columns = {24};
    bad[10].faults.blocked_rows = {-1};
    bad[0].channel_well.assign(10, 0);
    bad[1].well_activity = {-1.0};
    bad[2].crossing_depth = 1.5;
    bad[3].channels[3].noise = -1.0;
    bad[4].transmission_spread = std::nan("");
    bad[5].reply_latency_us = -5;
    bad[6].rhythm.period_hours = 0.5;
    bad[7].rhythm.period_hours = 24.0;
    bad[7].rhythm.active_hours = 25.0;
    bad[8].rhythm.period_hours = 24.0;
    bad[8].rhythm.rest_fraction = 1.5;
    for (std::size_t i = 0; i < bad.size(); ++i) {
        EXPECT_THROW(Instrument{bad[i]}, std::invalid_argument) << i;
    }
    try {
        Instrument{bad[13]};
        ADD_FAILURE() << "a dose share of 1.5 was taken";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "simulator: dose share of well 1 must be 0..1");
    }
}

}  // namespace
}  // namespace lumivo::sim
