#include "app/plots/plate_view.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

#include "app/support/qt_dialogs.h"

namespace lumivo::app {

namespace {

constexpr double kLabelMargin = 130.0;  // units left of and above the plate for the captions
constexpr double kPad = 8.0;            // pixels around the picture
constexpr double kLegendColumnWidth = 190.0;
constexpr double kLegendLine = 19.0;

const QColor kPlateBody(236, 240, 244);
const QColor kUnusedWell(214, 214, 214);
const QColor kChosenRing(20, 40, 140);

std::size_t At(int i) {
    return static_cast<std::size_t>(i);
}

struct WellContent {
    std::vector<int> channels;  // taking part, in channel order
    std::vector<int> disabled;  // in the well but switched off
};

// Wells drawn: every well of the plate, but never more than a picture can show (a damaged
// geometry is drawn up to the last well that holds channels).
constexpr int kMaxDrawnWells = 4096;

int DrawnWells(const PlateMap& plate) {
    const int wells = std::max(0, plate.PlateRows * plate.PlateColumns);
    if (wells <= kMaxDrawnWells) return wells;
    return std::min(wells, std::max(0, plate.MaxWellIndex + 1));
}

std::vector<WellContent> WellContents(const PlateMap& plate, const ProjectState& project) {
    const int wells = DrawnWells(plate);
    std::vector<WellContent> out(At(wells));
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const int well = plate.ChannelWell[At(ch)];
        if (well < 0 || well >= wells) continue;
        if (TakesPart(project, plate, ch))
            out[At(well)].channels.push_back(ch);
        else
            out[At(well)].disabled.push_back(ch);
    }
    return out;
}

// A concentration as a well's caption, in a few characters: three significant digits ("50",
// "0.5", "0.001", "1e+03"); the table beside the plate has the full number.
std::string ShortConcentration(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", v);
    return text;
}

QColor TextColourOn(const QColor& fill) {
    const double luminance = 0.299 * fill.red() + 0.587 * fill.green() + 0.114 * fill.blue();
    return luminance > 140.0 ? QColor(20, 20, 20) : QColor(Qt::white);
}

}  // namespace

QColor GroupColour(int group) {
    // Distinct colours that stay apart on screen and in print (white and black are left out:
    // white is the free well, grey the unused one).
    static const std::array<QColor, 20> kColours = {
        QColor(230, 25, 75),   QColor(60, 180, 75),   QColor(0, 130, 200),   QColor(245, 130, 48),
        QColor(145, 30, 180),  QColor(255, 225, 25),  QColor(70, 240, 240),  QColor(240, 50, 230),
        QColor(128, 128, 0),   QColor(0, 128, 128),   QColor(170, 110, 40),  QColor(128, 0, 0),
        QColor(170, 255, 195), QColor(0, 0, 128),     QColor(250, 190, 212), QColor(210, 245, 60),
        QColor(220, 190, 255), QColor(255, 215, 180), QColor(128, 128, 128), QColor(100, 70, 0),
    };
    if (group < 0) return Qt::white;
    if (group < static_cast<int>(kColours.size())) return kColours[At(group)];
    // Further groups: hues spread by the golden angle, in three lightness bands.
    const int hue = static_cast<int>(std::fmod(group * 137.508, 360.0));
    const int band = (group / 7) % 3;
    return QColor::fromHsv(hue, 200 - band * 40, 235 - band * 50);
}

PlateView::PlateView(const PlateMap& plate, const ProjectState& project, QWidget* parent)
    : QWidget(parent), plate_(plate), project_(project) {
    setObjectName("Picwell");
    setMouseTracking(false);
    setContextMenuPolicy(Qt::PreventContextMenu);  // the right button frees wells
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setCursor(Qt::CrossCursor);
}

void PlateView::SetSelectedGroup(std::optional<int> group) {
    selected_group_ = group;
    update();
}

void PlateView::SetWellMapView(const WellMap* map) {
    wells_view_ = map;
    update();
}

void PlateView::SetChosenWells(std::vector<int> wells, bool choosing) {
    chosen_wells_ = std::move(wells);
    choosing_ = choosing;
    update();
}

// ---- PlateGeometry ----

PlateGeometry::PlateGeometry(const PlateMap& plate, const QRectF& area, bool centre_horizontally)
    : plate_(plate) {
    const QRectF extent = UnitExtent();
    const double avail_w = std::max(40.0, area.width());
    const double avail_h = std::max(40.0, area.height());
    scale_ = std::min(avail_w / extent.width(), avail_h / extent.height());
    const double top = area.top() + (avail_h - extent.height() * scale_) / 2.0;
    const double left =
        area.left() + (centre_horizontally ? (avail_w - extent.width() * scale_) / 2.0 : 0.0);
    origin_ = QPointF(left - extent.left() * scale_, top - extent.top() * scale_);
    right_ = left + extent.width() * scale_;
}

QRectF PlateGeometry::PlateUnits() const {
    const double u = kUnitsPerBeam;
    const double x0 = std::min(0.0, plate_.ColumnOffset * u);
    const double y0 = std::min(0.0, plate_.RowOffset * u);
    const double x1 = std::max(
        kBeamColumns * u, (plate_.ColumnOffset + plate_.PlateColumns * plate_.ColumnPitch) * u);
    const double y1 =
        std::max(kBeamRows * u, (plate_.RowOffset + plate_.PlateRows * plate_.RowPitch) * u);
    return QRectF(QPointF(x0, y0), QPointF(x1, y1));
}

QRectF PlateGeometry::UnitExtent() const {
    return PlateUnits().adjusted(-kLabelMargin, -kLabelMargin, 30.0, 30.0);
}

QRectF PlateGeometry::CellUnits(WellCell cell) const {
    const double u = kUnitsPerBeam;
    return QRectF((plate_.ColumnOffset + cell.column * plate_.ColumnPitch) * u,
                  (plate_.RowOffset + cell.row * plate_.RowPitch) * u, plate_.ColumnPitch * u,
                  plate_.RowPitch * u);
}

QRectF PlateGeometry::ToWidget(const QRectF& units) const {
    return QRectF(ToWidget(units.topLeft()), ToWidget(units.bottomRight()));
}

double PlateGeometry::WellRadius() const {
    return 0.44 * std::min(plate_.ColumnPitch, plate_.RowPitch) * kUnitsPerBeam * scale_;
}

QPointF PlateGeometry::BeamCentre(int channel) const {
    const double u = kUnitsPerBeam;
    return ToWidget(QPointF((channel / kBeamRows + 0.5) * u, (channel % kBeamRows + 0.5) * u));
}

std::optional<int> PlateGeometry::WellAt(QPointF widget_position) const {
    if (plate_.PlateRows < 1 || plate_.PlateColumns < 1) return std::nullopt;
    const QPointF units = ToUnits(widget_position);
    if (!PlateUnits().contains(units)) return std::nullopt;
    const WellCell cell = WellAtPoint(plate_, units.x(), units.y());
    const QPointF d = widget_position - WellCentre(cell);
    const double r = WellRadius();
    if (d.x() * d.x() + d.y() * d.y() > r * r) return std::nullopt;
    return WellIndex(plate_, cell);
}

void PlateGeometry::DrawPlate(QPainter& p, const QFont& base) const {
    const QRectF body = ToWidget(PlateUnits().adjusted(-25, -25, 25, 25));
    p.setPen(QPen(QColor(150, 156, 164), 1.5));
    p.setBrush(kPlateBody);
    p.drawRoundedRect(body, 10, 10);
    if (plate_.PlateRows < 1 || plate_.PlateColumns < 1) return;

    // Row letters and column numbers: as large as the margin allows, but two-digit column
    // numbers must not touch.
    QFont label_font = base;
    const double cell_px =
        std::min(plate_.ColumnPitch * 1.6, plate_.RowPitch) * kUnitsPerBeam * scale_;
    label_font.setPixelSize(
        std::clamp(static_cast<int>(std::min(kLabelMargin * 0.5 * scale_, 0.6 * cell_px)), 7, 16));
    label_font.setBold(true);
    p.setFont(label_font);
    p.setPen(QColor(60, 60, 60));
    const QRectF plate_units = PlateUnits();
    for (int r = 0; r < plate_.PlateRows; ++r) {
        const QRectF cell = CellUnits({0, r});
        const QRectF box = ToWidget(QRectF(plate_units.left() - kLabelMargin, cell.top(),
                                           kLabelMargin - 30, cell.height()));
        const std::string name = WellName(plate_, r);  // column 0: the letter and "1"
        p.drawText(box, Qt::AlignCenter, ToQ(name.substr(0, name.size() - 1)));
    }
    for (int c = 0; c < plate_.PlateColumns; ++c) {
        const QRectF cell = CellUnits({c, 0});
        const QRectF box = ToWidget(
            QRectF(cell.left(), plate_units.top() - kLabelMargin, cell.width(), kLabelMargin - 30));
        p.drawText(box, Qt::AlignCenter, QString::number(c + 1));
    }
}

// ---- PlateView ----

PlateView::Layout PlateView::Arrange() const {
    // The legend's lines: its title and one per entry.
    const int lines = 1 + static_cast<int>(LegendLines().size());
    // Beside the plate: as many columns as the lines take at the widget's height.
    const int per_column = std::max(1, static_cast<int>((height() - 2 * kPad) / kLegendLine));
    const int columns = std::clamp((lines + per_column - 1) / per_column, 1, 3);
    const double legend_width = columns * kLegendColumnWidth;
    Layout beside{PlateGeometry(plate_, QRectF(kPad, kPad, width() - legend_width - 3 * kPad,
                                               height() - 2 * kPad)),
                  {},
                  height() - kPad};
    beside.legend_origin = QPointF(beside.plate.right() + 2 * kPad, kPad);

    // Under the plate, in as many columns as the width holds: a pane taller than the plate's
    // proportions (the group editor beside its lists) gets a larger plate so.
    const int under_columns =
        std::clamp(static_cast<int>((width() - 2 * kPad) / kLegendColumnWidth), 1, 3);
    const int under_rows = (lines - 1 + under_columns - 1) / under_columns + 1;
    const double legend_height = under_rows * kLegendLine;
    // At the top of the pane: while the width sets the size, the plate stays put when the
    // legend gains or loses lines.
    const QRectF room(kPad, kPad, width() - 2 * kPad, height() - legend_height - 3 * kPad);
    const PlateGeometry fitted(plate_, room, true);
    const double plate_height = fitted.ToWidget(fitted.UnitExtent()).height();
    Layout under{
        PlateGeometry(plate_, QRectF(room.left(), room.top(), room.width(), plate_height), true),
        {},
        height() - kPad};
    const QRectF drawn = under.plate.ToWidget(under.plate.UnitExtent());
    under.legend_origin = QPointF(std::max(kPad, drawn.left()), drawn.bottom() + kPad);
    under.legend_bottom = under.legend_origin.y() + legend_height;
    return under.plate.scale() > beside.plate.scale() * 1.05 ? under : beside;
}

PlateGeometry PlateView::Geometry() const {
    return Arrange().plate;
}

QPointF PlateView::ToUnits(QPointF widget_position) const {
    return Geometry().ToUnits(widget_position);
}

QPoint PlateView::WellCentre(WellCell cell) const {
    return Geometry().WellCentre(cell).toPoint();
}

bool PlateView::InsidePlate(QPointF units) const {
    return Geometry().PlateUnits().contains(units);
}

void PlateView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const PlateGeometry g = Geometry();
    auto WR = [&](const QRectF& r) { return g.ToWidget(r); };
    g.DrawPlate(p, font());
    if (plate_.PlateRows < 1 || plate_.PlateColumns < 1) return;
    const double u = kUnitsPerBeam;
    const double radius = g.WellRadius();
    const double scale = g.scale();

    // The wells.
    const auto contents = WellContents(plate_, project_);
    QFont caption_font = font();
    caption_font.setPixelSize(std::max(6, static_cast<int>(radius * 0.75)));
    caption_font.setBold(true);
    const MapLook looks = MapLooks();
    for (int well = 0; well < static_cast<int>(contents.size()); ++well) {
        const WellCell cell{well / plate_.PlateRows, well % plate_.PlateRows};
        const WellContent& w = contents[At(well)];
        const QPointF centre = g.WellCentre(cell);
        const QRectF disc(centre - QPointF(radius, radius), QSizeF(2 * radius, 2 * radius));
        if (wells_view_ != nullptr) {
            // The plate map: the treatment's colour, the concentration as caption, a control
            // drawn with a double rim.
            const auto& mark = looks.wells[At(well)];
            const QColor fill = mark ? looks.colours.at(mark->key) : QColor(Qt::white);
            p.setPen(QPen(QColor(90, 90, 90), 1, mark ? Qt::SolidLine : Qt::DashLine));
            p.setBrush(fill);
            p.drawEllipse(disc);
            if (mark && (mark->role == WellRole::Negative || mark->role == WellRole::Positive)) {
                p.setBrush(Qt::NoBrush);
                p.setPen(QPen(fill.darker(170), std::max(1.5, radius * 0.12)));
                p.drawEllipse(centre, radius * 0.78, radius * 0.78);
            }
            if (mark && !mark->caption.isEmpty() && radius >= 6) {
                QFont f = caption_font;
                const QFontMetricsF m(f);
                const double room = 1.7 * radius;
                if (m.horizontalAdvance(mark->caption) > room)
                    f.setPixelSize(
                        std::max(6, static_cast<int>(f.pixelSize() * room /
                                                     m.horizontalAdvance(mark->caption))));
                p.setFont(f);
                p.setPen(TextColourOn(fill));
                p.drawText(disc, Qt::AlignCenter, mark->caption);
            }
            continue;
        }
        std::vector<int> groups;
        for (int ch : w.channels) groups.push_back(project_.ChannelGroup[At(ch)]);
        const bool one_group =
            !groups.empty() &&
            std::all_of(groups.begin(), groups.end(), [&](int gr) { return gr == groups.front(); });
        if (groups.empty()) {
            p.setPen(QPen(QColor(160, 160, 160), 1, Qt::DashLine));
            p.setBrush(kUnusedWell);
            p.drawEllipse(disc);
        } else if (one_group) {
            p.setPen(QPen(QColor(90, 90, 90), 1));
            p.setBrush(GroupColour(groups.front()));
            p.drawEllipse(disc);
        } else {
            // Beams of one well in different groups: one slice per beam.
            const int n = static_cast<int>(groups.size());
            p.setPen(Qt::NoPen);
            for (int i = 0; i < n; ++i) {
                p.setBrush(GroupColour(groups[At(i)]));
                p.drawPie(disc, 90 * 16 - i * 5760 / n, -5760 / n);
            }
            p.setPen(QPen(QColor(90, 90, 90), 1));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(disc);
        }
        // The beams of the well: small marks where the beams cross it.
        const double dot = std::max(1.2, 0.07 * u * scale);
        for (const auto* list : {&w.channels, &w.disabled}) {
            for (int ch : *list) {
                const QPointF beam = g.BeamCentre(ch);
                if (list == &w.channels) {
                    const QColor fill = GroupColour(project_.ChannelGroup[At(ch)]);
                    QColor mark = TextColourOn(fill);
                    mark.setAlpha(110);
                    p.setPen(Qt::NoPen);
                    p.setBrush(mark);
                } else {
                    p.setPen(QPen(QColor(200, 40, 40), 1));
                    p.setBrush(Qt::NoBrush);
                }
                p.drawEllipse(beam, dot, dot);
            }
        }
        if (one_group && groups.front() >= 0 && radius >= 6) {
            const QColor fill = GroupColour(groups.front());
            p.setFont(caption_font);
            p.setPen(TextColourOn(fill));
            p.drawText(disc, Qt::AlignCenter, QString::number(groups.front()));
        }
    }

    // The wells chosen for the plate map: a dark ring outside each disc.
    if (!chosen_wells_.empty()) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(kChosenRing, std::max(2.0, radius * 0.16)));
        const double ring = radius + std::max(2.0, radius * 0.14);
        for (int well : chosen_wells_) {
            if (well < 0 || well >= static_cast<int>(contents.size())) continue;
            const WellCell cell{well / plate_.PlateRows, well % plate_.PlateRows};
            p.drawEllipse(g.WellCentre(cell), ring, ring);
        }
    }

    // The rubber band of the rectangle being chosen.
    if (pressed_ != Qt::NoButton) {
        const WellCell a{std::min(press_cell_.column, current_cell_.column),
                         std::min(press_cell_.row, current_cell_.row)};
        const WellCell b{std::max(press_cell_.column, current_cell_.column),
                         std::max(press_cell_.row, current_cell_.row)};
        const QRectF band = WR(g.CellUnits(a).united(g.CellUnits(b)));
        QColor colour = choosing_ && pressed_ == Qt::LeftButton ? kChosenRing
                        : !choosing_ && pressed_ == Qt::LeftButton && selected_group_
                            ? GroupColour(*selected_group_)
                            : QColor(120, 120, 120);
        p.setPen(QPen(colour.darker(140), 2, Qt::DashLine));
        colour.setAlpha(70);
        p.setBrush(colour);
        p.drawRect(band);
    }

    const Layout layout = Arrange();
    DrawLegend(p, layout.legend_origin, layout.legend_bottom);
}

std::vector<PlateView::LegendLine> PlateView::LegendLines() const {
    std::vector<LegendLine> lines;
    if (wells_view_ != nullptr) {
        // The plate map: one line per treatment (with its role when all its wells share one
        // that is not "sample"), then the wells not in the map.
        const auto looks = MapLooks();
        std::vector<std::pair<QString, int>> counts;
        for (const auto& look : looks.wells) {
            if (!look) continue;
            auto it = std::find_if(counts.begin(), counts.end(),
                                   [&](const auto& c) { return c.first == look->key; });
            if (it == counts.end())
                counts.push_back({look->key, 1});
            else
                ++it->second;
        }
        for (const auto& [key, n] : counts)
            lines.push_back({looks.colours.at(key), key + QString("  (%1)").arg(n)});
        const int unmapped =
            static_cast<int>(std::count(looks.wells.begin(), looks.wells.end(), std::nullopt));
        lines.push_back({Qt::white, QString("Not in the map  (%1)").arg(unmapped)});
        return lines;
    }
    // Wells per group (a well counts for each group its beams are in), free and unused wells.
    std::map<int, int> wells_of_group;
    int free_wells = 0;
    int unused_wells = 0;
    for (const auto& w : WellContents(plate_, project_)) {
        if (w.channels.empty()) {
            ++unused_wells;
            continue;
        }
        std::vector<int> gs;
        for (int ch : w.channels) gs.push_back(project_.ChannelGroup[At(ch)]);
        std::sort(gs.begin(), gs.end());
        gs.erase(std::unique(gs.begin(), gs.end()), gs.end());
        for (int g : gs) {
            if (g == kFreeGroup)
                ++free_wells;
            else
                ++wells_of_group[g];
        }
    }
    for (const auto& [g, n] : wells_of_group) {
        const std::string name = IsGroupNumber(g) ? project_.GroupName[At(g)] : std::string("?");
        lines.push_back({GroupColour(g), ToQ(GroupEntry(g, name)) + QString("  (%1)").arg(n)});
    }
    lines.push_back({Qt::white, QString("Free  (%1)").arg(free_wells)});
    if (unused_wells > 0)
        lines.push_back({kUnusedWell, QString("Not used  (%1)").arg(unused_wells), true});
    return lines;
}

PlateView::MapLook PlateView::MapLooks() const {
    MapLook out;
    const int wells = DrawnWells(plate_);
    out.wells.assign(At(wells), std::nullopt);
    if (wells_view_ == nullptr) return out;
    std::map<std::string, const WellEntry*> by_name;
    for (const WellEntry& e : wells_view_->wells) by_name[e.well] = &e;
    // A treatment's role, when all its wells share it.
    std::map<QString, std::optional<WellRole>> role_of;
    std::vector<QString> order;
    for (int w = 0; w < wells; ++w) {
        const auto it = by_name.find(WellName(plate_, w));
        if (it == by_name.end()) continue;
        const WellEntry& e = *it->second;
        WellMark mark;
        mark.key =
            e.treatment.empty()
                ? QString("(no treatment)")
                : QString::fromUtf8(e.treatment.data(), static_cast<qsizetype>(e.treatment.size()));
        mark.role = e.role;
        if (e.concentration) mark.caption = ToQ(ShortConcentration(*e.concentration));
        if (!role_of.count(mark.key)) {
            role_of[mark.key] = e.role;
            order.push_back(mark.key);
        } else if (role_of[mark.key] != e.role) {
            role_of[mark.key] = std::nullopt;
        }
        out.wells[At(w)] = mark;
    }
    // Keys with the role they all share (not for samples); colours in order of appearance.
    std::map<QString, QString> named;
    for (const QString& key : order) {
        const auto role = role_of[key];
        named[key] = role && *role != WellRole::Sample
                         ? key + ", " + ToQ(std::string(WellRoleName(*role)))
                         : key;
    }
    for (auto& mark : out.wells)
        if (mark) mark->key = named[mark->key];
    int next = 0;
    for (const QString& key : order) {
        const QString& shown = named[key];
        if (out.colours.count(shown)) continue;
        const auto role = role_of[key];
        // The empty wells stay pale: nothing is in them.
        out.colours[shown] = role && *role == WellRole::Empty ? kUnusedWell : GroupColour(next++);
    }
    return out;
}

void PlateView::DrawLegend(QPainter& p, QPointF origin, double bottom) const {
    const std::vector<LegendLine> lines = LegendLines();
    QFont title_font = font();
    title_font.setBold(true);
    title_font.setPixelSize(13);
    QFont text_font = font();
    text_font.setPixelSize(12);
    p.setFont(title_font);
    p.setPen(QColor(40, 40, 40));
    double x = origin.x();
    double y = origin.y();
    p.drawText(QRectF(x, y, kLegendColumnWidth, kLegendLine), Qt::AlignVCenter | Qt::AlignLeft,
               wells_view_ != nullptr ? "Plate map (wells)" : "Groups (wells)");
    y += kLegendLine;
    p.setFont(text_font);
    const QFontMetricsF metrics(text_font);
    for (const LegendLine& line : lines) {
        if (y + kLegendLine > bottom + 0.5) {  // next column
            x += kLegendColumnWidth;
            y = origin.y() + kLegendLine;
        }
        const QRectF swatch(x + 2, y + 3, kLegendLine - 6, kLegendLine - 6);
        p.setPen(QPen(QColor(90, 90, 90), 1, line.dashed ? Qt::DashLine : Qt::SolidLine));
        p.setBrush(line.colour);
        p.drawEllipse(swatch);
        p.setPen(QColor(30, 30, 30));
        const QRectF text_box(x + kLegendLine + 2, y, kLegendColumnWidth - kLegendLine - 8,
                              kLegendLine);
        p.drawText(text_box, Qt::AlignVCenter | Qt::AlignLeft,
                   metrics.elidedText(line.text, Qt::ElideMiddle, text_box.width()));
        y += kLegendLine;
    }
}

void PlateView::mousePressEvent(QMouseEvent* event) {
    const Qt::MouseButton button = event->button();
    if (button != Qt::LeftButton && button != Qt::RightButton) return;
    if (pressed_ != Qt::NoButton) return;  // one rectangle at a time
    const QPointF units = ToUnits(event->position());
    if (!InsidePlate(units)) return;
    pressed_ = button;
    press_cell_ = current_cell_ = WellAtPoint(plate_, units.x(), units.y());
    update();
}

void PlateView::mouseMoveEvent(QMouseEvent* event) {
    if (pressed_ == Qt::NoButton) return;
    const QPointF units = ToUnits(event->position());
    const WellCell cell = WellAtPoint(plate_, units.x(), units.y());
    if (cell == current_cell_) return;
    current_cell_ = cell;
    update();
}

void PlateView::mouseReleaseEvent(QMouseEvent* event) {
    if (pressed_ == Qt::NoButton || event->button() != pressed_) return;
    const QPointF units = ToUnits(event->position());
    const WellCell to = WellAtPoint(plate_, units.x(), units.y());
    const Qt::MouseButton button = pressed_;
    pressed_ = Qt::NoButton;
    update();
    emit rectangleChosen(press_cell_, to, button, event->modifiers());
}

}  // namespace lumivo::app
