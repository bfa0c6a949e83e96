// The live plots drawn from a run: the signal plot of a recorded run's raw pages, and the
// activity plots of its counts.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "app/signal_plot.h"
#include "app_test_support.h"
#include "core/acquisition/acquisition_rig.h"
#include "core/offline/recorded_signal_source.h"

namespace lumivo::app {
namespace {

using lumivo::testing::AcquisitionRig;

// Pixels of `image` close to `colour`.
int PixelsNear(const QImage& image, const QColor& colour, int tolerance = 40) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                    std::abs(c.blue() - colour.blue()) <=
                tolerance)
                ++n;
        }
    }
    return n;
}

// A recorded run of three windows: the folder the signal plot reads.
struct RecordedRun {
    RecordedRun() {
        EXPECT_EQ(rig.Start("plots"), StartOutcome::Started);
        rig.RunWindows(3);
        source = offline::OpenRecordedSignal(rig.storage, rig.Folder());
    }
    AcquisitionRig rig;
    std::unique_ptr<offline::RecordedSignalSource> source;
};

TEST(SignalPlot, DrawsReadingsThresholdAndEventsOfARecordedChannel) {
    testing::TestApplication();
    RecordedRun run;
    ASSERT_NE(run.source, nullptr);
    // A busy channel: the first in use with events in window 2.
    std::size_t channel = kBeamChannelCount;
    for (std::size_t c = 0; c < kBeamChannelCount && channel == kBeamChannelCount; ++c) {
        if (run.rig.app.plate.ChannelWell[c] >= 0 && run.source->AnalyseChannel(1, c).count > 2)
            channel = c;
    }
    ASSERT_LT(channel, kBeamChannelCount);

    SignalPlot plot;
    plot.resize(900, 300);
    plot.SetSource(run.source.get());
    plot.SetChannel(channel);
    plot.SetFirstReading(500);
    plot.SetCaption("channel");
    struct Case {
        bool zoom_y;
        bool events;
    };
    for (const Case c : {Case{false, true}, Case{true, true}, Case{true, false}}) {
        plot.SetZoomY(c.zoom_y);
        SignalPlotSettings s = plot.settings();
        s.show_events = c.events;
        QImage image(plot.size(), QImage::Format_RGB32);
        QPainter p(&image);
        RenderSignalPlot(p, image.rect(), GatherSignalFrame(*run.source, s), s);
        p.end();
        EXPECT_GT(PixelsNear(image, QColor(20, 60, 150)), 200) << c.zoom_y;      // readings
        EXPECT_GT(PixelsNear(image, QColor(230, 130, 0), 80), 100) << c.zoom_y;  // threshold
        EXPECT_EQ(PixelsNear(image, QColor(210, 30, 30), 20) > 20, c.events);    // event marks
    }

    // Zoom in time through its steps, and the ends of them.
    EXPECT_EQ(plot.span(), 500);
    EXPECT_TRUE(plot.ZoomIn());
    EXPECT_EQ(plot.span(), 250);
    while (plot.ZoomIn()) {
    }
    EXPECT_EQ(plot.span(), kSignalSpans[0]);
    while (plot.ZoomOut()) {
    }
    EXPECT_EQ(plot.span(), std::end(kSignalSpans)[-1]);
}

}  // namespace
}  // namespace lumivo::app
