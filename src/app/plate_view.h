// The plate picture `Picwell` of the project setup window: the wells of the plate laid out by
// the format's geometry (100 picture units to one beam position), each filled with the colour of
// its group and captioned with the group number, the beams of each well as dots, the row letters
// and column numbers around the plate and a legend of the groups beside it. A button pressed on
// one well and released on another chooses the rectangle of wells between them; while the button
// is held the rectangle is shown as a rubber band.
#pragma once

#include <QColor>
#include <QPoint>
#include <QPointF>
#include <QRectF>
#include <QWidget>
#include <optional>

#include "core/setup/plate_groups.h"
#include "core/storage/plate_format.h"
#include "core/storage/project_setup.h"

namespace lumivo::app {

// The colour of a group: a set of well separated colours first, then hues around the circle.
QColor GroupColour(int group);

class PlateView : public QWidget {
    Q_OBJECT
  public:
    PlateView(const PlateMap& plate, const ProjectState& project, QWidget* parent = nullptr);

    // The group a left-button rectangle goes to (its colour marks the rubber band).
    void SetSelectedGroup(std::optional<int> group);

    // Widget position of the centre of a well, and the picture units under a widget position.
    QPoint WellCentre(WellCell cell) const;
    QPointF ToUnits(QPointF widget_position) const;

    // The rectangle being chosen (press cell and current cell), while a button is held.
    bool rubber_band_active() const { return pressed_ != Qt::NoButton; }

    QSize sizeHint() const override { return {820, 430}; }
    QSize minimumSizeHint() const override { return {420, 240}; }

  signals:
    // A button released after a press on the plate: `button` is Qt::LeftButton or
    // Qt::RightButton.
    void rectangleChosen(lumivo::WellCell from, lumivo::WellCell to, Qt::MouseButton button);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    // The picture's extent in units: the beam grid and every well, with room for the captions.
    QRectF UnitExtent() const;
    QRectF PlateUnits() const;  // the wells and the beam grid only
    QRectF CellUnits(WellCell cell) const;
    // Scale and origin mapping units to the widget (the legend takes the right-hand side).
    struct Mapping {
        double scale = 1.0;
        QPointF origin;  // widget position of unit (0, 0)
        double legend_left = 0.0;
    };
    Mapping Map() const;
    QPointF ToWidget(QPointF units) const;
    bool InsidePlate(QPointF units) const;
    void DrawLegend(class QPainter& p, const Mapping& m) const;

    const PlateMap& plate_;
    const ProjectState& project_;
    std::optional<int> selected_group_;
    Qt::MouseButton pressed_ = Qt::NoButton;
    WellCell press_cell_;
    WellCell current_cell_;
};

}  // namespace lumivo::app
