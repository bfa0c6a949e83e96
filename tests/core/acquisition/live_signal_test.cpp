// The hand-over from the sampling loop to the live displays, and the signal source the displays
// read: live from the hand-over, or recorded from the raw pages of the same run.
#include "core/acquisition/live_signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "acquisition_rig.h"
#include "core/acquisition/live_activity.h"
#include "core/offline/recorded_signal_source.h"

namespace lumivo {
namespace {

std::vector<std::int16_t> RowOf(std::int64_t reading) {
    std::vector<std::int16_t> row(kChannelTableSize);
    for (std::size_t c = 0; c < row.size(); ++c)
        row[c] = static_cast<std::int16_t>((reading * 7 + static_cast<std::int64_t>(c)) % 4096);
    return row;
}

std::shared_ptr<const LiveWindow> WindowOf(std::int64_t index) {
    auto w = std::make_shared<LiveWindow>();
    w->index = index;
    w->counts.elapsed_minutes = static_cast<std::int32_t>(index);
    w->counts.values[3] = static_cast<std::int16_t>(10 + index);
    return w;
}

// Rows pushed and taken in turns: what the displays get, oldest first, and what was dropped.
TEST(SampleHandOver, DeliversInOrderAndDropsTheOldestWhenTheTakerFallsBehind) {
    struct Case {
        const char* name;
        std::size_t capacity;
        std::vector<int> pushes_between_takes;  // rows pushed before each take
        std::vector<std::int64_t> first_taken;  // first reading of each take (-1: none)
        std::vector<std::size_t> taken;         // rows of each take
        std::vector<std::uint64_t> dropped;     // drops reported by each take
    };
    const std::vector<Case> cases = {
        {"keeps up", 8, {3, 5, 8}, {0, 3, 8}, {3, 5, 8}, {0, 0, 0}},
        {"one row too many", 8, {9}, {1}, {8}, {1}},
        {"falls far behind, then keeps up", 4, {10, 2, 0}, {6, 10, -1}, {4, 2, 0}, {6, 0, 0}},
        {"capacity of one", 1, {5, 1}, {4, 5}, {1, 1}, {4, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SampleHandOver h(c.capacity);
        h.BeginRun(SignalSettings{});
        SampleHandOver::Taken t;
        std::int64_t next = 0;
        for (std::size_t i = 0; i < c.pushes_between_takes.size(); ++i) {
            for (int k = 0; k < c.pushes_between_takes[i]; ++k, ++next)
                h.PushRow(next, RowOf(next));
            h.Take(t);
            ASSERT_EQ(t.rows.size(), c.taken[i]);
            EXPECT_EQ(t.dropped_rows, c.dropped[i]);
            for (std::size_t r = 0; r < t.rows.size(); ++r) {
                const std::int64_t want = c.first_taken[i] + static_cast<std::int64_t>(r);
                EXPECT_EQ(t.rows.readings[r], want);
                const auto row = t.rows.row(r);
                EXPECT_TRUE(std::equal(row.begin(), row.end(), RowOf(want).begin()));
            }
        }
    }
}

TEST(SampleHandOver, KeepsEveryCountsRecordWhenWholeWindowsAreDropped) {
    SampleHandOver h(16, 2, 100);
    h.BeginRun(SignalSettings{});
    for (int m = 0; m < 5; ++m) h.PushWindow(WindowOf(m));
    SampleHandOver::Taken t;
    h.Take(t);
    ASSERT_EQ(t.windows.size(), 2u);
    EXPECT_EQ(t.windows[0]->index, 3);
    EXPECT_EQ(t.windows[1]->index, 4);
    EXPECT_EQ(t.dropped_windows, 3u);
    ASSERT_EQ(t.counts.size(), 5u);
    for (int m = 0; m < 5; ++m) {
        EXPECT_EQ(t.counts[static_cast<std::size_t>(m)].first, m);
        EXPECT_EQ(t.counts[static_cast<std::size_t>(m)].second.values[3], 10 + m);
    }
    // A new run drops what the old one left.
    h.PushRow(0, RowOf(0));
    const std::uint64_t run = t.run;
    h.BeginRun(SignalSettings{});
    h.Take(t);
    EXPECT_NE(t.run, run);
    EXPECT_EQ(t.rows.size(), 0u);
    EXPECT_TRUE(t.windows.empty());
    EXPECT_TRUE(t.counts.empty());
}

// A taker that sleeps between takes (a stalled display) never holds the sampling side up: every
// push returns, the rows the taker gets rise strictly, and taken plus dropped is all pushed.
TEST(SampleHandOver, ASlowTakerNeverBlocksThePusher) {
    SampleHandOver h(32);
    h.BeginRun(SignalSettings{});
    std::atomic<bool> done{false};
    std::uint64_t taken = 0, dropped = 0;
    bool in_order = true;
    std::thread taker([&] {
        SampleHandOver::Taken t;
        std::int64_t last = -1;
        while (true) {
            const bool finished = done.load();
            h.Take(t);
            taken += t.rows.size();
            dropped += t.dropped_rows;
            for (std::int64_t r : t.rows.readings) {
                in_order = in_order && r > last;
                last = r;
            }
            if (finished) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    constexpr std::int64_t kRows = 20000;
    const auto row = RowOf(1);
    for (std::int64_t r = 0; r < kRows; ++r) h.PushRow(r, row);
    done = true;
    taker.join();
    EXPECT_TRUE(in_order);
    EXPECT_EQ(taken + dropped, static_cast<std::uint64_t>(kRows));
    EXPECT_EQ(h.pushed_rows(), static_cast<std::uint64_t>(kRows));
    EXPECT_EQ(h.dropped_rows(), dropped);
    EXPECT_GT(dropped, 0u);
}

// A recorded run seen through both sources: the live one fed by the engine's view calls (the
// displays refreshing now and then), the recorded one from the folder the run wrote. The
// windows the live source holds read and analyse the same in both.
TEST(SignalSource, LiveAndRecordedGiveTheSameWindowsOfOneRun) {
    testing::AcquisitionRig rig;
    SampleHandOver hand_over;
    LiveSignalSource live(hand_over);
    SignalSettings settings;
    settings.window_length = 500;
    settings.snr_factor = rig.controls.SnrThreshold;
    settings.method = DspMethod::ThresholdAverage;
    // The engine begins the run on the hand-over and writes every row and window to it.
    rig.sink.forward = &hand_over;
    int ticks = 0;
    rig.sink.on_row = [&](std::span<const std::int16_t>, std::int64_t) {
        if (++ticks % 97 == 0) live.Refresh();
    };
    ASSERT_EQ(rig.Start("both"), StartOutcome::Started);
    rig.RunWindows(4);
    // Half of the next window: the live source also holds the window in progress.
    rig.RunTicks(250);
    live.Refresh();

    auto recorded = offline::OpenRecordedSignal(rig.storage, rig.Folder());
    ASSERT_NE(recorded, nullptr);
    EXPECT_EQ(recorded->Settings().window_length, 500u);
    EXPECT_EQ(recorded->Settings().method, settings.method);
    EXPECT_EQ(live.Settings().window_length, 500u);
    EXPECT_EQ(live.Settings().method, settings.method);
    EXPECT_DOUBLE_EQ(live.Settings().snr_factor, settings.snr_factor);
    EXPECT_DOUBLE_EQ(recorded->Settings().snr_factor, settings.snr_factor);
    EXPECT_EQ(live.WindowCount(), 4);
    EXPECT_EQ(recorded->WindowCount(), 4);
    EXPECT_EQ(recorded->RawWindowCount(), 4);
    EXPECT_EQ(live.ReadingCount(), 4 * 500 + 250);
    EXPECT_EQ(live.DroppedRows(), 0u);

    // Every counts record, the temperature included.
    ASSERT_EQ(live.CountsRecords().size(), 4u);
    ASSERT_EQ(recorded->CountsRecords().size(), 4u);
    for (std::size_t m = 0; m < 4; ++m) {
        EXPECT_EQ(live.CountsRecords()[m].elapsed_minutes,
                  recorded->CountsRecords()[m].elapsed_minutes);
        EXPECT_EQ(live.CountsRecords()[m].values, recorded->CountsRecords()[m].values);
    }

    // The windows the live source keeps: readings, and each channel's analysis.
    int busy_channels = 0;
    for (std::int64_t m = 1; m < 4; ++m) {
        SCOPED_TRACE(m);
        std::vector<std::int16_t> a, b;
        ASSERT_TRUE(live.ReadWindow(m, a));
        ASSERT_TRUE(recorded->ReadWindow(m, b));
        EXPECT_EQ(a, b);
        for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
            if (rig.app.plate.ChannelWell[c] < 0) continue;
            const ChannelWindowAnalysis x = live.AnalyseChannel(m, c);
            const ChannelWindowAnalysis y = recorded->AnalyseChannel(m, c);
            ASSERT_TRUE(x.valid && y.valid) << c;
            EXPECT_EQ(x.count, y.count) << c;
            EXPECT_EQ(x.count, recorded->CountsRecords()[static_cast<std::size_t>(m)].values[c]);
            EXPECT_EQ(x.trace, y.trace) << c;
            EXPECT_EQ(x.events, y.events) << c;
            if (x.count > 0) ++busy_channels;
        }
    }
    EXPECT_GT(busy_channels, 0);
    // The oldest window is no longer held live; the recording still has it.
    std::vector<std::int16_t> rows;
    EXPECT_FALSE(live.ReadWindow(0, rows));
    EXPECT_FALSE(live.AnalyseChannel(0, 16).valid);
    EXPECT_TRUE(recorded->ReadWindow(0, rows));

    // A channel's readings across a window boundary, and beyond what either holds.
    for (std::size_t channel : {16u, 17u, 200u}) {
        std::vector<std::int16_t> a(1000), b(1000);
        live.ChannelReadings(channel, 1500, a);
        recorded->ChannelReadings(channel, 1500, b);
        EXPECT_TRUE(std::equal(a.begin(), a.begin() + 500, b.begin())) << channel;
        // 2000..2249: the window in progress, live only.
        EXPECT_NE(a[500], kNoReading);
        EXPECT_EQ(a[749], rig.engine.Sampling().samples.At(249, static_cast<std::size_t>(channel)));
        EXPECT_EQ(a[750], kNoReading);
        EXPECT_EQ(b[500], kNoReading);
    }
}

// The engine hands every closed window over; one whose records could not be written is not
// marked recorded, so nothing downstream takes it for a window on disk.
TEST(SignalSource, AWindowThatCouldNotBeWrittenIsNotHandedOverAsRecorded) {
    testing::AcquisitionRig rig;
    SampleHandOver hand_over;
    rig.sink.forward = &hand_over;
    ASSERT_EQ(rig.Start("disk full"), StartOutcome::Started);
    rig.RunWindows(1);
    rig.file_ops.fail = true;
    rig.RunWindows(1);
    rig.file_ops.fail = false;
    ASSERT_EQ(rig.engine.Sampling().window_write_failures, 1);
    SampleHandOver::Taken taken;
    hand_over.Take(taken);
    ASSERT_EQ(taken.windows.size(), 2u);
    EXPECT_TRUE(taken.windows[0]->analysed && taken.windows[0]->recorded);
    EXPECT_TRUE(taken.windows[1]->analysed);
    EXPECT_FALSE(taken.windows[1]->recorded);
}

TEST(LiveActivity, GroupMeansCarryTheStandardErrorOfTheirWells) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ActivityLayout layout;
    layout.groups = {0, 1, 2};
    const std::vector<int> group_of_well = {0, 0, 0, 1, 2, 2, -1};
    const std::vector<double> counts = {2, 4, 6, 5, nan, 3, 50};
    for (std::size_t w = 0; w < group_of_well.size(); ++w) {
        ActivityLayout::Well well;
        well.well = static_cast<int>(w);
        well.group = group_of_well[w];
        layout.wells.push_back(well);
    }
    const auto means = GroupMeans(layout, counts);
    struct Want {
        int group, wells;
        double mean, se;
    };
    const std::vector<Want> want = {
        {0, 3, 4.0, 2.0 / std::sqrt(3.0)}, {1, 1, 5.0, 0.0}, {2, 1, 3.0, 0.0}};
    ASSERT_EQ(means.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(means[i].group, want[i].group);
        EXPECT_EQ(means[i].wells, want[i].wells);
        EXPECT_DOUBLE_EQ(means[i].mean, want[i].mean);
        EXPECT_NEAR(means[i].se, want[i].se, 1e-12);
    }
}

TEST(LiveActivity, ClassifiesChannelsByTheirMeanReadingOverTheWindow) {
    PlateMap plate;
    BuildDefaultPlateMap("w96f", plate);
    ProjectState project;
    project.ChannelEnabled.fill(1);
    std::size_t in_well = 0;
    while (plate.ChannelWell[in_well] < 0) ++in_well;
    std::size_t no_well = 0;
    while (plate.ChannelWell[no_well] >= 0) ++no_well;
    struct Case {
        const char* name;
        std::size_t channel;
        int level;
        bool enabled;
        ChannelHealth want;
    };
    const std::vector<Case> cases = {
        {"reads well", in_well, 1800, true, ChannelHealth::Ok},
        {"dead", in_well, kDeadChannelLevel - 1, true, ChannelHealth::Dead},
        {"just alive", in_well, kDeadChannelLevel, true, ChannelHealth::Ok},
        {"saturated", in_well, kSaturatedChannelLevel, true, ChannelHealth::Saturated},
        {"drifting", in_well, kDriftingChannelLevel, true, ChannelHealth::Drifting},
        {"below the drift", in_well, kDriftingChannelLevel - 1, true, ChannelHealth::Ok},
        {"switched off", in_well, 0, false, ChannelHealth::Disabled},
        {"in no well", no_well, 0, true, ChannelHealth::NotInUse},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        project.ChannelEnabled[c.channel] = c.enabled ? 1 : 0;
        std::vector<std::int16_t> rows(10 * kChannelTableSize, 1800);
        // The level is the mean: half the readings above it, half below.
        for (std::size_t r = 0; r < 10; ++r)
            rows[r * kChannelTableSize + c.channel] =
                static_cast<std::int16_t>(c.level + (r % 2 == 0 ? 5 : -5));
        const ChannelStates s = ClassifyChannels(rows, 10, plate, project);
        EXPECT_EQ(s.health[c.channel], c.want);
        EXPECT_EQ(s.dead, c.want == ChannelHealth::Dead ? 1 : 0);
        EXPECT_EQ(s.saturated, c.want == ChannelHealth::Saturated ? 1 : 0);
        EXPECT_EQ(s.drifting, c.want == ChannelHealth::Drifting ? 1 : 0);
        project.ChannelEnabled[c.channel] = 1;
    }
}

}  // namespace
}  // namespace lumivo
