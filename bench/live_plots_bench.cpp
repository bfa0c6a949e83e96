// The live plots' cost per frame, drawn into an offscreen image of the size they have in the
// main window: the channel signal (one window in view, and eleven windows decimated to the
// pixel columns) and each view of the activity plot, from a live source holding three
// analysed windows of a w96f run. Also the work the sampling loop does per tick for the plots
// (handing a row over) and the plots' take of the readings, and the window thread's part of a
// signal frame drawn in the background. Target: a frame of every plot under 5 ms of CPU.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "app/plots/activity_plot.h"
#include "app/plots/signal_plot.h"
#include "bench_windows.h"
#include "core/acquisition/live_signal.h"

namespace {

using namespace lumivo;
using namespace lumivo::app;

void EnsureGui() {
    static int argc = 1;
    static char name[] = "live_plots_bench";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* const app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QGuiApplication(argc, argv);
    }();
    (void)app;
}

// Three closed windows of a w96f run, analysed as the sampling loop does, and half a window in
// progress.
struct Run {
    Run() {
        BuildDefaultPlateMap("w96f", plate);
        SetDefaultGroupNames(project);
        project.ChannelEnabled.fill(1);
        for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
            const int well = plate.ChannelWell[c];
            project.ChannelGroup[c] = static_cast<std::int16_t>(well < 0 ? -1 : well % 6);
        }
        SignalSettings settings;
        settings.body_bends = true;
        hand_over.BeginRun(settings);
        ChannelSet in_use;
        for (std::size_t c = 0; c < kBeamChannelCount; ++c)
            in_use.set(c, plate.ChannelWell[c] >= 0);
        for (int m = 0; m < 4; ++m) {
            std::vector<std::int16_t> rows = bench::PlausibleWindow(static_cast<std::uint64_t>(m));
            const std::size_t rows_pushed = m < 3 ? 500 : 250;
            for (std::size_t r = 0; r < rows_pushed; ++r)
                hand_over.PushRow(m * 500 + static_cast<std::int64_t>(r),
                                  std::span<const std::int16_t>(rows).subspan(r * kChannelTableSize,
                                                                              kChannelTableSize));
            if (m == 3) break;
            auto w = std::make_shared<LiveWindow>();
            w->index = m;
            w->analysed = w->recorded = true;
            w->traces.resize(kBeamChannelCount);
            w->events.resize(kBeamChannelCount);
            WindowAnalysisExtras extras;
            extras.traces = w->traces;
            extras.events = w->events;
            AnalyzeWindowChannels(SampleWindow{rows, 500, kChannelTableSize}, in_use, 1.8,
                                  DspMethod::ThresholdAverage, w->counts.values, extras);
            w->counts.elapsed_minutes = m;
            rows.resize(500 * kChannelTableSize);
            w->readings = std::move(rows);
            hand_over.PushWindow(std::move(w));
        }
        live.Refresh();
        data.Prepare(plate, project);
        data.TakeLatestWindow(live);
        data.SetHistogramChannel(live, 17);
    }
    PlateMap plate;
    ProjectState project;
    SampleHandOver hand_over;
    LiveSignalSource live{hand_over};
    ActivityData data;
};

Run& TheRun() {
    EnsureGui();
    static Run run;
    return run;
}

// The sizes of the plots in the main window at 1600 x 1000.
const QSize kSignalSize(600, 150);
const QSize kActivitySize(830, 200);

void BM_SignalFrame(benchmark::State& state) {
    Run& run = TheRun();
    SignalPlotSettings s;
    s.channel = 17;
    s.span = state.range(0);
    s.zoom_y = state.range(1) != 0;
    QImage image(kSignalSize, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        const SignalFrame frame = GatherSignalFrame(run.live, s);
        QPainter p(&image);
        RenderSignalPlot(p, image.rect(), frame, s);
    }
}
BENCHMARK(BM_SignalFrame)
    ->ArgsProduct({{500, 11000}, {0, 1}})
    ->ArgNames({"span", "fit"})
    ->Unit(benchmark::kMillisecond);

void BM_ActivityFrame(benchmark::State& state) {
    Run& run = TheRun();
    const ActivityPlotSettings s{static_cast<ActivityView>(state.range(0)), 0};
    QImage image(kActivitySize, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter p(&image);
        RenderActivityPlot(p, image.rect(), run.data, s);
    }
    static const char* const kNames[] = {"group bars", "well bars", "time course", "heat map",
                                         "body-bends histogram"};
    state.SetLabel(kNames[state.range(0)]);
}
BENCHMARK(BM_ActivityFrame)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

// One frame of every plot: the signal and all five activity views.
void BM_EveryPlotFrame(benchmark::State& state) {
    Run& run = TheRun();
    SignalPlotSettings s;
    s.channel = 17;
    QImage signal(kSignalSize, QImage::Format_ARGB32_Premultiplied);
    QImage activity(kActivitySize, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        {
            QPainter p(&signal);
            RenderSignalPlot(p, signal.rect(), GatherSignalFrame(run.live, s), s);
        }
        for (int v = 0; v < 5; ++v) {
            QPainter p(&activity);
            RenderActivityPlot(p, activity.rect(), run.data, {static_cast<ActivityView>(v), 0});
        }
    }
}
BENCHMARK(BM_EveryPlotFrame)->Unit(benchmark::kMillisecond);

// The window thread's part of a signal frame drawn in the background: reading the frame from
// the source, and copying the finished picture into the widget's backing store.
void BM_SignalFrameOnTheWindowThread(benchmark::State& state) {
    Run& run = TheRun();
    SignalPlotSettings s;
    s.channel = 17;
    QImage picture(kSignalSize, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter p(&picture);
        RenderSignalPlot(p, picture.rect(), GatherSignalFrame(run.live, s), s);
    }
    QImage backing_store(kSignalSize, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        const SignalFrame frame = GatherSignalFrame(run.live, s);
        benchmark::DoNotOptimize(frame.readings.data());
        QPainter p(&backing_store);
        p.drawImage(0, 0, picture);
    }
}
BENCHMARK(BM_SignalFrameOnTheWindowThread)->Unit(benchmark::kMillisecond);

// What a window close costs the plots: the activity of the newest window taken again.
void BM_TakeLatestWindow(benchmark::State& state) {
    Run& run = TheRun();
    for (auto _ : state) {
        run.data.course.Clear();
        run.data.TakeLatestWindow(run.live);
    }
}
BENCHMARK(BM_TakeLatestWindow)->Unit(benchmark::kMillisecond);

// The sampling loop's part per tick: one row into the hand-over (the plots' take every tenth
// of a second included, one per two ticks).
void BM_HandOverRow(benchmark::State& state) {
    SampleHandOver h;
    h.BeginRun(SignalSettings{});
    const std::vector<std::int16_t> row(kChannelTableSize, 1500);
    SampleHandOver::Taken taken;
    std::int64_t reading = 0;
    for (auto _ : state) {
        h.PushRow(reading++, row);
        if (reading % 2 == 0) h.Take(taken);
    }
}
BENCHMARK(BM_HandOverRow);

}  // namespace
