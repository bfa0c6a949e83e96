// A channel's signal: its readings from a SignalSource, with the threshold trace and the events
// of the analysed windows in view, window boundaries, and a zoom in time. The main window shows
// the running acquisition with it (following the newest reading); the offline browser shows a
// recording's raw pages (scrolled to any reading).
//
// The drawing is RenderSignalPlot, which paints into any paint device: the widget, an offscreen
// image for a bitmap export, or a benchmark.
#pragma once

#include <QImage>
#include <QString>
#include <QThread>
#include <QWidget>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/acquisition/signal_source.h"

class QPainter;

namespace lumivo::app {

struct SignalPlotSettings {
    std::size_t channel = 0;  // 0..383
    std::int64_t span = 500;  // readings across the plot
    // The first reading shown; none: the newest `span` readings (a live source scrolls).
    std::optional<std::int64_t> first;
    // The y axis: the 12-bit range (0..4095), or zoomed to the readings in view.
    bool zoom_y = false;
    bool show_threshold = true;
    bool show_events = true;
    QString caption;  // above the plot, e.g. the channel's well and group
};

// The time spans the zoom steps through (readings), shortest first.
inline constexpr std::int64_t kSignalSpans[] = {50, 100, 250, 500, 1000, 2500, 5000, 11000};

// What a frame shows, gathered from the source (the renderer's input, kept by the widget so
// that a repaint without new readings does not read the source again).
struct SignalFrame {
    std::int64_t first = 0;              // reading of readings[0]
    std::vector<std::int16_t> readings;  // kNoReading where none is held
    // Threshold (methods 0 and 1) and events of each analysed window in view.
    struct Window {
        std::int64_t index = 0;
        std::int64_t first = 0;  // its first reading
        bool trace = false;      // the trace is in reading units (methods 0 and 1)
        ThresholdTrace threshold{};
        EventMarks events;
        std::int16_t count = 0;
    };
    std::vector<Window> windows;
    std::size_t window_length = 500;
    std::int64_t reading_count = 0;
};

// The step of an axis's labels: 1, 2 or 5 times a power of ten giving about `ticks` steps
// over `range` (the activity plots use it too).
double NiceStep(double range, int ticks);

// Reads what `settings` shows from `source`.
SignalFrame GatherSignalFrame(SignalSource& source, const SignalPlotSettings& settings);

// Paints `frame` into `area` of `p`: frame, axes, readings, threshold, events.
void RenderSignalPlot(QPainter& p, const QRect& area, const SignalFrame& frame,
                      const SignalPlotSettings& settings);

class SignalPlot : public QWidget {
    Q_OBJECT
  public:
    explicit SignalPlot(QWidget* parent = nullptr);
    ~SignalPlot() override;

    // Draws the frames on a thread of its own and only copies the finished picture on the
    // window's thread, so a repaint costs that thread a fraction of a millisecond (the live
    // view: the sampling loop ticks on the window's thread). A frame asked for while one is
    // being drawn is drawn after it, with the readings of the moment.
    void RenderInBackground(bool on);

    // The source drawn (not owned; null draws an empty plot).
    void SetSource(SignalSource* source);
    SignalSource* source() const { return source_; }
    void SetChannel(std::size_t channel);
    std::size_t channel() const { return settings_.channel; }
    void SetCaption(const QString& caption);
    // Zoom + (shorter span) and Zoom - (longer span); false at the end of the steps.
    bool ZoomIn();
    bool ZoomOut();
    void SetSpan(std::int64_t readings);
    std::int64_t span() const { return settings_.span; }
    // Shows readings from `first` on, or (none) follows the newest.
    void SetFirstReading(std::optional<std::int64_t> first);
    std::optional<std::int64_t> first_reading() const { return settings_.first; }
    void SetZoomY(bool zoomed);
    bool zoom_y() const { return settings_.zoom_y; }
    const SignalPlotSettings& settings() const { return settings_; }

    // The source has new readings or windows: read it again and repaint.
    void Refresh();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    void RequestImage();

    SignalSource* source_ = nullptr;
    SignalPlotSettings settings_;
    SignalFrame frame_;
    // Drawing in the background: the thread, the object living in it, the last picture.
    QThread* render_thread_ = nullptr;
    QObject* renderer_ = nullptr;
    bool render_busy_ = false;
    bool render_again_ = false;
    QImage image_;
};

}  // namespace lumivo::app
