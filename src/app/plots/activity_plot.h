// The activity plot `Picact` of the main window: what the windows of a run counted, drawn after
// each window as
// - group bars: each group's mean count per well with its standard error ("Bar Plot"),
// - well bars: each well's count, in pages of wells ("<<", ">>"),
// - time course: the group means of every window of the run so far,
// - heat map: the plate, each well coloured by its count, disabled wells and channels that read
//   dead, saturated or drifting marked ("Heatmap PLOT"); hovering a well names it,
// - body-bends histogram: the intervals between body bends of one channel over the last window
//   ("BodyBends Histogram PLOT").
//
// ActivityData holds what the plots show and is filled from the windows of a SignalSource, so
// the offline browser can draw a recording's windows the same way. Each view is a Render...
// function painting into any paint device (the widget, an image, a benchmark).
#pragma once

#include <QColor>
#include <QFontMetrics>
#include <QPolygonF>
#include <QRectF>
#include <QString>
#include <QWidget>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/acquisition/live_activity.h"
#include "core/acquisition/signal_source.h"

class QPainter;

namespace lumivo::app {

struct ActivityData {
    const PlateMap* plate = nullptr;
    const ProjectState* project = nullptr;
    ActivityLayout layout;
    // The window shown (-1: none closed yet), its minute and the counts of its wells.
    std::int64_t window = -1;
    std::int32_t minutes = 0;
    std::vector<double> well_counts;
    std::vector<GroupActivity> groups;
    TimeCourse course;
    // The channels at a glance over the window shown (none before the first window).
    std::optional<ChannelStates> states;
    // The body-bends histogram of `histogram_channel` over the window shown.
    bool body_bends = false;
    std::size_t histogram_channel = 0;
    std::optional<BendHistogram> histogram;

    // A new run (or project): the layout of `plate` and `project`, nothing counted yet. Both
    // must outlive the data.
    void Prepare(const PlateMap& plate, const ProjectState& project);
    // Takes window m of `source` (a recording's window chosen in the browser): its counts,
    // the time course up to the newest window, the channels' states and the histogram of
    // `histogram_channel` (from the readings, when the source holds them).
    void TakeWindow(SignalSource& source, std::int64_t m);
    // The same for the newest window.
    void TakeLatestWindow(SignalSource& source);
    // The histogram of another channel over the window shown.
    void SetHistogramChannel(SignalSource& source, std::size_t channel);

    // The well's name ("B7"), its group's name and its count, for the tooltip.
    QString WellText(int well) const;
};

enum class ActivityView { GroupBars, WellBars, TimeCourse, Heatmap, BendHistogram };

struct ActivityPlotSettings {
    ActivityView view = ActivityView::GroupBars;
    int page = 0;  // of the group or well bars
};

// Bars per page of the group and well views.
inline constexpr int kGroupBarsPerPage = 30;
inline constexpr int kWellBarsPerPage = 24;
// Pages the view needs (1 for the views without pages).
int ActivityPages(const ActivityData& data, ActivityView view);

// The heat map's colour of a count, `fraction` of the scale's top (clamped to 0..1).
QColor HeatColour(double fraction);
// The count at the top of the heat map's scale: the largest well count, at least 1.
double HeatScaleTop(const ActivityData& data);
// Where the heat map draws the plate in `area`, and the well under `position`.
std::optional<int> HeatmapWellAt(const QRect& area, const ActivityData& data, QPointF position);
QPointF HeatmapWellCentre(const QRect& area, const ActivityData& data, int well);

// The time course's parts in `area`: the axes (the plot frame lies inside them) and, beside
// them, the key naming the first kTimeCourseKeyGroups groups (empty without groups).
inline constexpr std::size_t kTimeCourseKeyGroups = 12;
struct TimeCourseLayout {
    QRect axes;
    QRectF key;
};
TimeCourseLayout LayOutTimeCourse(const QRect& area, const ActivityData& data,
                                  const QFontMetrics& metrics);
// The points of one group (by its index in the layout) in the plot frame `plot`: one per
// window, by the window's number.
QPolygonF TimeCourseLine(const ActivityData& data, std::size_t group_index, const QRectF& plot);

// Paints the view of `settings` into `area`.
void RenderActivityPlot(QPainter& p, const QRect& area, const ActivityData& data,
                        const ActivityPlotSettings& settings);

class ActivityPlot : public QWidget {
    Q_OBJECT
  public:
    // `shown` is the owner's and outlives the plot.
    ActivityPlot(const ActivityData& shown, QWidget* parent = nullptr);

    void SetView(ActivityView view);
    ActivityView view() const { return settings_.view; }
    // Next or previous page (false at either end).
    bool PageUp();
    bool PageDown();
    int page() const { return settings_.page; }
    int pages() const { return ActivityPages(data_, settings_.view); }
    // The data changed: keep the page inside the pages and repaint.
    void DataChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

  private:
    const ActivityData& data_;
    ActivityPlotSettings settings_;
};

}  // namespace lumivo::app
