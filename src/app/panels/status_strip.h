// The status strip `Pic_status` of the offline browser: the time axis of a recorded run from its
// start to its end, coloured where windows were recorded, where windows are missing, where the
// run was paused and where the instrument gave no valid data, with a legend and the run's
// length under it. Over those stretches it draws the run's periods (RecordingStatus::periods),
// each in its kind's colour and at least a mark wide, such as the pauses that held the time
// counter and so have no stretch of the elapsed axis. The model is the core's
// (offline/recording_status.h).
#pragma once

#include <QColor>
#include <QWidget>
#include <optional>

#include "core/offline/recording_status.h"

namespace lumivo::app {

// The colour a kind of stretch is drawn in.
QColor StripColour(offline::StripKind kind);

// Where a period of a run of `run_minutes` is drawn on the strip's bar: at its place, at least
// kPeriodMarkWidth pixels wide (a mark for a period of no elapsed time), inside the bar.
inline constexpr int kPeriodMarkWidth = 3;
QRect PeriodRect(const offline::StripPeriod& period, double run_minutes, const QRect& bar);

class StatusStrip : public QWidget {
    Q_OBJECT
  public:
    explicit StatusStrip(QWidget* parent = nullptr);

    // The run to draw; nullopt empties the strip.
    void SetStatus(std::optional<offline::RecordingStatus> status);
    const std::optional<offline::RecordingStatus>& status() const { return status_; }

    // The coloured bar inside the widget.
    QRect BarRect() const;

    QSize sizeHint() const override { return {600, 46}; }
    QSize minimumSizeHint() const override { return {200, 46}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::optional<offline::RecordingStatus> status_;
};

}  // namespace lumivo::app
