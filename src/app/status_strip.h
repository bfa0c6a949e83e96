// The status strip `Pic_status` of the offline browser: the time axis of a recorded run from its
// start to its end, coloured where windows were recorded, where windows are missing, where the
// run was paused and where the instrument gave no valid data, with a legend and the run's
// length under it. The model is the core's (offline/recording_status.h).
#pragma once

#include <QColor>
#include <QWidget>
#include <optional>

#include "core/offline/recording_status.h"

namespace lumivo::app {

// The colour a kind of stretch is drawn in.
QColor StripColour(offline::StripKind kind);

class StatusStrip : public QWidget {
    Q_OBJECT
  public:
    explicit StatusStrip(QWidget* parent = nullptr);

    // The run to draw; nullopt empties the strip.
    void SetStatus(std::optional<offline::RecordingStatus> status);
    const std::optional<offline::RecordingStatus>& status() const { return status_; }

    QSize sizeHint() const override { return {600, 46}; }
    QSize minimumSizeHint() const override { return {200, 46}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::optional<offline::RecordingStatus> status_;
};

}  // namespace lumivo::app
