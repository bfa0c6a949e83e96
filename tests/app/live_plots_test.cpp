// The live plots drawn from a run: the signal plot of a recorded run's raw pages, and the
// activity plots of its counts.
#include "app/panels/live_plots.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "app/plots/activity_plot.h"
#include "app/plots/plate_view.h"
#include "app/plots/signal_plot.h"
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

// A source holding one window: its counts record and its readings.
class OneWindowSource final : public SignalSource {
  public:
    bool Live() const override { return true; }
    const SignalSettings& Settings() const override { return settings; }
    std::int64_t WindowCount() const override { return 1; }
    std::int64_t ReadingCount() const override { return 500; }
    bool ReadWindow(std::int64_t m, std::vector<std::int16_t>& out) override {
        if (m != 0) return false;
        out = rows;
        return true;
    }
    void ChannelReadings(std::size_t, std::int64_t, std::span<std::int16_t> out) override {
        std::fill(out.begin(), out.end(), kNoReading);
    }
    ChannelWindowAnalysis AnalyseChannel(std::int64_t, std::size_t) override { return {}; }
    const std::vector<CountsRecord>& CountsRecords() const override { return counts; }

    SignalSettings settings;
    std::vector<std::int16_t> rows;
    std::vector<CountsRecord> counts;
};

// The heat map of a w96f plate from a counts record where well w counted w on each of its
// beams: every well takes the scale's colour of its count, a well switched off is grey, and the
// tooltip names well, group and count.
TEST(Heatmap, ColoursTheWellsOfAw96fPlateFromACountsRecord) {
    testing::TestApplication();
    PlateMap plate;
    BuildDefaultPlateMap("w96f", plate);
    ProjectState project;
    SetDefaultGroupNames(project);
    project.ChannelEnabled.fill(1);
    constexpr int kOffWell = 5;
    constexpr int kDeadWell = 7;
    OneWindowSource source;
    source.rows.assign(500 * kChannelTableSize, 1500);
    CountsRecord record;
    record.elapsed_minutes = 3;
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        const int well = plate.ChannelWell[c];
        project.ChannelGroup[c] = static_cast<std::int16_t>(well < 0 ? -1 : well % 4);
        if (well < 0) continue;
        record.values[c] = static_cast<std::int16_t>(well);
        if (well == kOffWell) project.ChannelEnabled[c] = 0;
        if (well == kDeadWell) {
            for (std::size_t r = 0; r < 500; ++r) source.rows[r * kChannelTableSize + c] = 3;
        }
    }
    source.counts = {record};

    ActivityData data;
    data.Prepare(plate, project);
    data.TakeLatestWindow(source);
    ASSERT_EQ(data.layout.wells.size(), 96u);
    EXPECT_DOUBLE_EQ(HeatScaleTop(data), 95.0);
    ASSERT_TRUE(data.states.has_value());
    EXPECT_EQ(data.states->dead, 2);  // the two beams of the dead well
    EXPECT_EQ(ChannelStatesText(*data.states), "2 dead");

    QImage image(900, 560, QImage::Format_RGB32);
    {
        QPainter p(&image);
        RenderActivityPlot(p, image.rect(), data, {ActivityView::Heatmap, 0});
    }
    const QPointF a1 = HeatmapWellCentre(image.rect(), data, 0);
    const QPointF b1 = HeatmapWellCentre(image.rect(), data, 1);
    const double pitch = std::hypot(b1.x() - a1.x(), b1.y() - a1.y());
    ASSERT_GT(pitch, 10.0);
    for (int w = 0; w < 96; ++w) {
        SCOPED_TRACE(w);
        // Beside the centre: off the cross of a well switched off.
        const QPointF at = HeatmapWellCentre(image.rect(), data, w) + QPointF(0, -0.2 * pitch);
        const QColor got = image.pixelColor(at.toPoint());
        const QColor want = w == kOffWell ? QColor(200, 200, 200) : HeatColour(w / 95.0);
        EXPECT_LE(std::abs(got.red() - want.red()) + std::abs(got.green() - want.green()) +
                      std::abs(got.blue() - want.blue()),
                  6)
            << got.name().toStdString() << " instead of " << want.name().toStdString();
        EXPECT_EQ(HeatmapWellAt(image.rect(), data, at), w);
    }
    // The scale's ends differ, and the dead well carries its ring.
    EXPECT_NE(HeatColour(0.0), HeatColour(1.0));
    // On the rim of the dead well, and of a well beside it.
    const QPointF rim(0, -(0.44 * pitch + 1));
    const QColor dead_rim =
        image.pixelColor((HeatmapWellCentre(image.rect(), data, kDeadWell) + rim).toPoint());
    const QColor live_rim =
        image.pixelColor((HeatmapWellCentre(image.rect(), data, kDeadWell + 1) + rim).toPoint());
    EXPECT_LT(dead_rim.red() + dead_rim.green() + dead_rim.blue(), 150)
        << dead_rim.name().toStdString();
    EXPECT_GT(live_rim.red() + live_rim.green() + live_rim.blue(), 300)
        << live_rim.name().toStdString();
    EXPECT_FALSE(HeatmapWellAt(image.rect(), data, QPointF(2, 2)).has_value());

    // The tooltip: name, group, count; a well switched off says so; a dead channel is named.
    EXPECT_EQ(data.WellText(9).toStdString(), "B2 - Group1 - 9.0 counts");
    EXPECT_EQ(data.WellText(kOffWell).toStdString(), "F1: switched off");
    EXPECT_NE(data.WellText(kDeadWell).indexOf("dead"), -1);
}

// "Time course": one point per window, also where several windows share a whole minute, and
// the key beside the plot, not over its lines.
TEST(TimeCourse, EveryWindowIsAPointAndTheKeyStaysOffTheData) {
    testing::TestApplication();
    PlateMap plate;
    BuildDefaultPlateMap("w96f", plate);
    ProjectState project;
    SetDefaultGroupNames(project);
    project.ChannelEnabled.fill(1);
    for (std::size_t c = 0; c < kBeamChannelCount; ++c)
        project.ChannelGroup[c] = static_cast<std::int16_t>(plate.ChannelWell[c] < 0 ? -1 : 1);
    ActivityData data;
    data.Prepare(plate, project);
    std::vector<CountsRecord> records(5);
    const int minutes[] = {0, 1, 1, 2, 2};  // windows of about 35 s
    for (std::size_t w = 0; w < records.size(); ++w) {
        records[w].elapsed_minutes = minutes[w];
        for (std::size_t c = 0; c < kBeamChannelCount; ++c)
            records[w].values[c] = static_cast<std::int16_t>(10 + 5 * w);
    }
    data.course.Update(data.layout, records);
    ASSERT_EQ(data.course.windows.size(), 5u);

    QImage image(900, 400, QImage::Format_RGB32);
    QPainter p(&image);
    const TimeCourseLayout layout = LayOutTimeCourse(image.rect(), data, p.fontMetrics());
    const QRectF plot(layout.axes.left() + 48.0, layout.axes.top() + 24.0,
                      layout.axes.width() - 60.0, layout.axes.height() - 44.0);
    const QPolygonF line = TimeCourseLine(data, 0, plot);
    ASSERT_EQ(line.size(), 5);
    for (int i = 1; i < line.size(); ++i) EXPECT_GT(line[i].x(), line[i - 1].x() + 10) << i;
    EXPECT_FALSE(layout.key.isEmpty());
    EXPECT_GE(layout.key.left(), plot.right());
    for (const QPointF& pt : line) EXPECT_FALSE(layout.key.contains(pt));
    // Drawn: the title counts the windows the lines show.
    RenderActivityPlot(p, image.rect(), data, {ActivityView::TimeCourse, 0});
    p.end();
    EXPECT_GT(PixelsNear(image, GroupColour(1)), 50);
}

// The main window's live plots follow a run: the hand-over from the ticks, the activity after
// each window, and the controls choosing the channel, the span and the view.
TEST(LiveView, FollowsARunAndItsControlsChooseWhatIsShown) {
    testing::RecordingRig rig;
    Frm_Main& w = *rig.r.window;
    LiveView& live = *w.findChild<LiveView*>("live_view");
    auto* picact = testing::Control<ActivityPlot>(&w, "Picact");
    auto* picreal = testing::Control<SignalPlot>(&w, "Picreal");
    ASSERT_TRUE(picact && picreal);
    rig.r.dialogs.QueueInput("live run");
    testing::Control<QPushButton>(&w, "CmdPlay")->click();
    ASSERT_TRUE(rig.acq().Acquiring());
    for (int tick = 1; tick <= 1100; ++tick) {
        rig.acq().Timeradq_Timer();
        if (tick % 50 == 0) live.RefreshPlots();  // the plots' timer, slower than the ticks
    }
    live.RefreshPlots();
    EXPECT_EQ(live.source().WindowCount(), 2);
    EXPECT_EQ(live.source().ReadingCount(), 1100);
    EXPECT_EQ(live.source().DroppedRows(), 0u);
    EXPECT_EQ(live.activity().window, 1);
    EXPECT_EQ(live.activity().course.windows.size(), 2u);
    ASSERT_TRUE(live.activity().states.has_value());
    EXPECT_TRUE(testing::Control<QLabel>(&w, "lbl_channels")->text().startsWith("Channels: "));
    // The newest readings are those of the engine's table.
    std::vector<std::int16_t> last(1);
    live.source().ChannelReadings(live.channel(), 1099, last);
    EXPECT_EQ(last[0], rig.acq().engine().Sampling().samples.At(
                           99, static_cast<std::size_t>(live.channel())));

    // The channel: next in use, beam row and column, typed number.
    const PlateMap& plate = rig.r.state().plate;
    const std::size_t first = live.channel();
    ASSERT_GE(plate.ChannelWell[first], 0);
    testing::Control<QPushButton>(&w, "cmdbeam_plus")->click();
    std::size_t next = first + 1;
    while (plate.ChannelWell[next] < 0) ++next;
    EXPECT_EQ(live.channel(), next);
    testing::Control<QPushButton>(&w, "cmdbeam_minus")->click();
    EXPECT_EQ(live.channel(), first);
    auto* row = testing::Control<QComboBox>(&w, "Combofila");
    auto* column = testing::Control<QComboBox>(&w, "Combocol");
    row->setCurrentIndex(3);
    column->setCurrentIndex(5);
    emit column->activated(5);
    EXPECT_EQ(live.channel(), 5u * 16u + 3u);
    auto* number = testing::Control<QLineEdit>(&w, "txtsub");
    number->setText("200");
    emit number->editingFinished();
    EXPECT_EQ(picreal->channel(), 200u);
    EXPECT_EQ(row->currentIndex(), 200 % 16);
    EXPECT_EQ(column->currentIndex(), 200 / 16);

    // Zoom in time, the y axis, and the views of the activity plot with their pages.
    testing::Control<QPushButton>(&w, "Cmdzoom_plus")->click();
    EXPECT_EQ(picreal->span(), 250);
    testing::Control<QPushButton>(&w, "Cmdzoom_minus")->click();
    testing::Control<QPushButton>(&w, "Cmdzoom_minus")->click();
    EXPECT_EQ(picreal->span(), 1000);
    testing::Control<QCheckBox>(&w, "chk_fitsignal")->setChecked(true);
    EXPECT_TRUE(picreal->zoom_y());
    testing::Control<QPushButton>(&w, "Cmd_gridplot")->click();
    EXPECT_EQ(picact->view(), ActivityView::Heatmap);
    auto* down = testing::Control<QPushButton>(&w, "cmd_pgdown");
    auto* up = testing::Control<QPushButton>(&w, "cmd_pgup");
    EXPECT_FALSE(down->isEnabled());
    testing::Control<QComboBox>(&w, "cmb_barview")->setCurrentIndex(1);
    EXPECT_EQ(picact->view(), ActivityView::WellBars);
    EXPECT_EQ(picact->pages(), 4);  // 96 wells, 24 a page
    EXPECT_TRUE(down->isEnabled());
    EXPECT_FALSE(up->isEnabled());
    down->click();
    EXPECT_EQ(picact->page(), 1);
    EXPECT_TRUE(up->isEnabled());
    testing::Control<QPushButton>(&w, "Cmd_histoplot")->click();
    EXPECT_EQ(picact->view(), ActivityView::BendHistogram);
    EXPECT_FALSE(down->isEnabled());
}

}  // namespace
}  // namespace lumivo::app
