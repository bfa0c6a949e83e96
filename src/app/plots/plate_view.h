// The plate picture `Picwell` of the project setup window: the wells of the plate laid out by
// the format's geometry (100 picture units to one beam position), each filled with the colour of
// its group and captioned with the group number, the beams of each well as dots, the row letters
// and column numbers around the plate and a legend of the groups beside or under it. A button
// pressed on one well and released on another chooses the rectangle of wells between them; while
// the button is held the rectangle is shown as a rubber band. While the plate map is edited the
// wells chosen for it are ringed.
#pragma once

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QPointF>
#include <QRectF>
#include <QWidget>
#include <map>
#include <optional>
#include <vector>

#include "core/setup/plate_groups.h"
#include "core/storage/plate_format.h"
#include "core/storage/project_setup.h"
#include "core/storage/well_map.h"

namespace lumivo::app {

// The colour of a group: a set of well separated colours first, then hues around the circle.
QColor GroupColour(int group);

// Where a plate is drawn: the picture units of its geometry (100 to one beam position) scaled
// into an area of a widget or image, with room for the row letters and column numbers. The
// setup window's plate picture and the live heat map share it.
class PlateGeometry {
  public:
    // Fits the plate with its captions into `area`: as large as it fits, centred vertically,
    // and at the left edge or centred horizontally.
    PlateGeometry(const PlateMap& plate, const QRectF& area, bool centre_horizontally = false);

    // The wells and the beam grid, in units.
    QRectF PlateUnits() const;
    // The plate with its captions, in units.
    QRectF UnitExtent() const;
    QRectF CellUnits(WellCell cell) const;
    QPointF ToWidget(QPointF units) const { return origin_ + units * scale_; }
    QPointF ToUnits(QPointF widget_position) const { return (widget_position - origin_) / scale_; }
    QRectF ToWidget(const QRectF& units) const;
    double scale() const { return scale_; }
    // Right edge of the drawn plate with its captions.
    double right() const { return right_; }
    // A well's disc: its centre and radius (pixels).
    QPointF WellCentre(WellCell cell) const { return ToWidget(CellUnits(cell).center()); }
    double WellRadius() const;
    // The centre of a beam's mark (channel c: beam column c / 16, row c mod 16).
    QPointF BeamCentre(int channel) const;
    // The well whose disc holds `widget_position`, if any.
    std::optional<int> WellAt(QPointF widget_position) const;

    // The plate body, the row letters and the column numbers (fonts from `base`).
    void DrawPlate(class QPainter& p, const QFont& base) const;

  private:
    const PlateMap& plate_;
    double scale_ = 1.0;
    QPointF origin_;  // widget position of unit (0, 0)
    double right_ = 0.0;
};

class PlateView : public QWidget {
    Q_OBJECT
  public:
    PlateView(const PlateMap& plate, const ProjectState& project, QWidget* parent = nullptr);

    // The group a left-button rectangle goes to (its colour marks the rubber band).
    void SetSelectedGroup(std::optional<int> group);
    // The wells chosen for the plate map (well indices), ringed; with `choosing` the mouse
    // chooses wells rather than grouping them, and its rubber band says so.
    void SetChosenWells(std::vector<int> wells, bool choosing);
    // With a map, the wells show the plate map instead of the groups: each treatment in its
    // colour, the concentration as caption, control wells with a second rim, and the legend
    // lists the treatments. nullptr shows the groups again. The map must outlive the view's use.
    void SetWellMapView(const WellMap* map);

    // Widget position of the centre of a well, and the picture units under a widget position.
    QPoint WellCentre(WellCell cell) const;
    QPointF ToUnits(QPointF widget_position) const;

    // The rectangle being chosen (press cell and current cell), while a button is held.
    bool rubber_band_active() const { return pressed_ != Qt::NoButton; }

    QSize sizeHint() const override { return {820, 430}; }
    QSize minimumSizeHint() const override { return {420, 240}; }

  signals:
    // A button released after a press on the plate: `button` is Qt::LeftButton or
    // Qt::RightButton; `modifiers` the keys held at the release.
    void rectangleChosen(lumivo::WellCell from, lumivo::WellCell to, Qt::MouseButton button,
                         Qt::KeyboardModifiers modifiers);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    // The plate and its legend in the widget: the legend beside the plate, or under it when
    // that leaves the plate clearly larger.
    struct Layout {
        PlateGeometry plate;
        QPointF legend_origin;  // top left of the legend's title
        double legend_bottom;   // its columns wrap here
    };
    Layout Arrange() const;
    PlateGeometry Geometry() const;
    bool InsidePlate(QPointF units) const;
    void DrawLegend(class QPainter& p, QPointF origin, double bottom) const;
    struct LegendLine {
        QColor colour;
        QString text;
        bool dashed = false;
    };
    std::vector<LegendLine> LegendLines() const;
    // What the plate map puts into each drawn well (nullopt: not in the map), and the colour of
    // each legend key.
    struct WellMark {
        QString key;  // the treatment, with its role when all its wells share one
        QString caption;
        WellRole role = WellRole::Sample;
    };
    struct MapLook {
        std::vector<std::optional<WellMark>> wells;
        std::map<QString, QColor> colours;
    };
    MapLook MapLooks() const;

    const PlateMap& plate_;
    const ProjectState& project_;
    std::optional<int> selected_group_;
    std::vector<int> chosen_wells_;
    bool choosing_ = false;
    const WellMap* wells_view_ = nullptr;
    Qt::MouseButton pressed_ = Qt::NoButton;
    WellCell press_cell_;
    WellCell current_cell_;
};

}  // namespace lumivo::app
