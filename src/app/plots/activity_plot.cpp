#include "app/plots/activity_plot.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <limits>

#include "app/plots/plate_view.h"
#include "app/plots/plot_paint.h"
#include "app/plots/signal_plot.h"
#include "app/support/qt_dialogs.h"

namespace lumivo::app {
namespace {

std::size_t At(int i) {
    return static_cast<std::size_t>(i);
}

QString GroupLabel(const ActivityData& d, int group) {
    if (d.project == nullptr || group < 0) return "free";
    const std::string& name = d.project->GroupName[At(group)];
    return name.empty() ? QString("Group%1").arg(group) : ToQ(name);
}

// The plot's title, bold, along the top of `area`.
void DrawTitle(QPainter& p, const QRect& area, const QString& title) {
    QFont bold = p.font();
    bold.setBold(true);
    p.save();
    p.setFont(bold);
    p.setPen(QColor(30, 30, 30));
    p.drawText(QRectF(area.left() + 6, area.top() + 2, area.width() - 12, 18),
               Qt::AlignLeft | Qt::AlignVCenter, title);
    p.restore();
}

// The plot's frame inside `area` (room for the title, the y labels and the x labels) and its
// y axis from 0 to `top` with grid lines; returns the plot rectangle.
QRectF Axes(QPainter& p, const QRect& area, double top, const QString& title, const QString& y_name,
            int x_label_room = 34) {
    const QRectF plot(area.left() + 48.0, area.top() + 24.0, std::max(20, area.width() - 60),
                      std::max(20, area.height() - 24 - x_label_room));
    DrawTitle(p, area, title);
    const double step = NiceStep(top, std::max(2, static_cast<int>(plot.height() / 36)));
    for (double v = 0; v <= top + 1e-9; v += step) {
        const double y = plot.bottom() - v / top * plot.height();
        p.setPen(QColor(225, 228, 232));
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(QColor(90, 90, 90));
        p.drawText(QRectF(area.left(), y - 8, 44, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(v, 'g', 4));
    }
    p.setPen(QColor(60, 60, 60));
    p.drawRect(plot);
    p.setPen(QColor(120, 120, 120));
    p.drawText(QRectF(plot.right() - 200, plot.top() - 18, 200, 16),
               Qt::AlignRight | Qt::AlignVCenter, y_name);
    return plot;
}

// The top of a y axis showing `value`: a little above it, at least 1.
double AxisTop(double value) {
    const double top = std::max(1.0, value * 1.1);
    const double step = NiceStep(top, 5);
    return std::ceil(top / step) * step;
}

QString WindowTitle(const ActivityData& d, const QString& what) {
    if (d.window < 0) return what + " - waiting for the first window";
    return QString("%1 - window %2, minute %3").arg(what).arg(d.window + 1).arg(d.minutes);
}

void DrawWaiting(QPainter& p, const QRectF& plot, const QString& text) {
    p.setPen(QColor(120, 120, 120));
    p.drawText(plot, Qt::AlignCenter | Qt::TextWordWrap, text);
}

void RenderGroupBars(QPainter& p, const QRect& area, const ActivityData& d, int page) {
    const int first = page * kGroupBarsPerPage;
    const int n = std::clamp(static_cast<int>(d.groups.size()) - first, 0, kGroupBarsPerPage);
    double top = 0;
    for (int i = 0; i < n; ++i) {
        const GroupActivity& g = d.groups[At(first + i)];
        top = std::max(top, g.mean + g.se);
    }
    const QRectF plot =
        Axes(p, area, AxisTop(top), WindowTitle(d, "Counts per well, group mean and SE"), "counts");
    if (d.window < 0 || n == 0) {
        DrawWaiting(p, plot, d.layout.groups.empty() ? "No group in use" : "");
        return;
    }
    const double scale_top = AxisTop(top);
    const double slot = plot.width() / n;
    const double bar = std::min(60.0, slot * 0.7);
    for (int i = 0; i < n; ++i) {
        const GroupActivity& g = d.groups[At(first + i)];
        const double cx = plot.left() + (i + 0.5) * slot;
        const double y = plot.bottom() - g.mean / scale_top * plot.height();
        const QColor colour = GroupColour(g.group);
        p.fillRect(QRectF(cx - bar / 2, y, bar, plot.bottom() - y), colour);
        p.setPen(colour.darker(140));
        p.drawRect(QRectF(cx - bar / 2, y, bar, plot.bottom() - y));
        if (g.wells > 1) {
            const double y_hi = plot.bottom() - (g.mean + g.se) / scale_top * plot.height();
            const double y_lo =
                plot.bottom() - std::max(0.0, g.mean - g.se) / scale_top * plot.height();
            p.setPen(QPen(QColor(30, 30, 30), 1.3));
            p.drawLine(QPointF(cx, y_hi), QPointF(cx, y_lo));
            p.drawLine(QPointF(cx - bar / 5, y_hi), QPointF(cx + bar / 5, y_hi));
            p.drawLine(QPointF(cx - bar / 5, y_lo), QPointF(cx + bar / 5, y_lo));
        }
        p.setPen(QColor(40, 40, 40));
        p.drawText(QRectF(cx - slot / 2, plot.bottom() + 2, slot, 15), Qt::AlignCenter,
                   p.fontMetrics().elidedText(GroupLabel(d, g.group), Qt::ElideRight,
                                              static_cast<int>(slot)));
        p.setPen(QColor(90, 90, 90));
        p.drawText(QRectF(cx - slot / 2, plot.bottom() + 16, slot, 15), Qt::AlignCenter,
                   QString("%1 (n=%2)").arg(g.mean, 0, 'f', 1).arg(g.wells));
    }
}

void RenderWellBars(QPainter& p, const QRect& area, const ActivityData& d, int page) {
    const int first = page * kWellBarsPerPage;
    const int n = std::clamp(static_cast<int>(d.layout.wells.size()) - first, 0, kWellBarsPerPage);
    double top = 0;
    for (int i = 0; i < n && At(first + i) < d.well_counts.size(); ++i) {
        const double v = d.well_counts[At(first + i)];
        if (!std::isnan(v)) top = std::max(top, v);
    }
    const QString what = QString("Counts per well, wells %1-%2 of %3")
                             .arg(first + 1)
                             .arg(first + n)
                             .arg(d.layout.wells.size());
    const QRectF plot = Axes(p, area, AxisTop(top), WindowTitle(d, what), "counts", 20);
    if (d.window < 0 || n == 0) return;
    const double scale_top = AxisTop(top);
    const double slot = plot.width() / n;
    const double bar = slot * 0.72;
    for (int i = 0; i < n; ++i) {
        const auto& well = d.layout.wells[At(first + i)];
        const double cx = plot.left() + (i + 0.5) * slot;
        const double v = At(first + i) < d.well_counts.size()
                             ? d.well_counts[At(first + i)]
                             : std::numeric_limits<double>::quiet_NaN();
        if (std::isnan(v)) {
            p.setPen(QColor(160, 160, 160));
            p.drawText(QRectF(cx - slot / 2, plot.bottom() - 16, slot, 14), Qt::AlignCenter,
                       well.disabled.empty() ? "-" : "off");
        } else {
            const double y = plot.bottom() - v / scale_top * plot.height();
            const QColor colour = well.group >= 0 ? GroupColour(well.group) : QColor(190, 190, 190);
            p.fillRect(QRectF(cx - bar / 2, y, bar, plot.bottom() - y), colour);
        }
        p.setPen(QColor(40, 40, 40));
        p.drawText(QRectF(cx - slot / 2, plot.bottom() + 2, slot, 15), Qt::AlignCenter,
                   d.plate != nullptr ? ToQ(WellName(*d.plate, well.well)) : QString());
    }
}

void RenderTimeCourse(QPainter& p, const QRect& area, const ActivityData& d) {
    double top = 0;
    for (const auto& window : d.course.groups)
        for (const auto& g : window) top = std::max(top, g.mean);
    const TimeCourseLayout layout = LayOutTimeCourse(area, d, p.fontMetrics());
    const QRectF plot =
        Axes(p, layout.axes, AxisTop(top),
             QString("Group means over the run (%1 windows)").arg(d.course.windows.size()),
             "counts per well", 20);
    p.setPen(QColor(90, 90, 90));
    p.drawText(QRectF(plot.left(), plot.bottom() + 2, 200, 15), Qt::AlignLeft, "window 1");
    if (!d.course.minutes.empty()) {
        p.drawText(QRectF(plot.right() - 250, plot.bottom() + 2, 250, 15), Qt::AlignRight,
                   QString("window %1, minute %2")
                       .arg(d.course.windows.back() + 1)
                       .arg(d.course.minutes.back(), 0, 'f', 0));
    }
    if (d.course.minutes.empty()) {
        DrawWaiting(p, plot, "The course starts with the first window");
        return;
    }
    p.setRenderHint(QPainter::Antialiasing, true);
    for (std::size_t gi = 0; gi < d.layout.groups.size(); ++gi) {
        const QPolygonF line = TimeCourseLine(d, gi, plot);
        p.setPen(QPen(GroupColour(d.layout.groups[gi]), 1.6));
        if (line.size() > 1) p.drawPolyline(line);
        if (line.size() < 200) {
            for (const QPointF& pt : line) p.drawEllipse(pt, 1.8, 1.8);
        }
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    // Key: beside the plot, never over its lines.
    double y = layout.key.top();
    for (std::size_t gi = 0; gi < d.layout.groups.size() && gi < kTimeCourseKeyGroups; ++gi) {
        p.fillRect(QRectF(layout.key.left(), y + 5, 12, 4), GroupColour(d.layout.groups[gi]));
        p.setPen(QColor(40, 40, 40));
        p.drawText(QRectF(layout.key.left() + 16, y, layout.key.width() - 16, 14),
                   Qt::AlignLeft | Qt::AlignVCenter,
                   p.fontMetrics().elidedText(GroupLabel(d, d.layout.groups[gi]), Qt::ElideRight,
                                              static_cast<int>(layout.key.width()) - 16));
        y += 14;
    }
    if (d.layout.groups.size() > kTimeCourseKeyGroups) {
        p.drawText(QRectF(layout.key.left(), y, layout.key.width(), 14), Qt::AlignLeft,
                   QString("... %1 more").arg(d.layout.groups.size() - kTimeCourseKeyGroups));
    }
}

// The heat map: the plate on the left, the colour scale and the keys on the right.
constexpr int kHeatLegendWidth = 150;

QRectF HeatPlateArea(const QRect& area) {
    return QRectF(area.left() + 6.0, area.top() + 24.0,
                  std::max(40, area.width() - kHeatLegendWidth - 12),
                  std::max(40, area.height() - 30));
}

const QColor kDeadMark(20, 20, 20);
const QColor kSaturatedMark(0, 110, 255);
const QColor kDriftingMark(200, 0, 200);

void RenderHeatmap(QPainter& p, const QRect& area, const ActivityData& d) {
    DrawTitle(p, area, WindowTitle(d, "Counts per well"));
    if (d.plate == nullptr) return;
    const PlateGeometry g(*d.plate, HeatPlateArea(area), true);
    p.setRenderHint(QPainter::Antialiasing, true);
    g.DrawPlate(p, p.font());
    const double top = HeatScaleTop(d);
    const double r = g.WellRadius();
    const int rows = std::max(1, static_cast<int>(d.plate->PlateRows));
    for (std::size_t i = 0; i < d.layout.wells.size(); ++i) {
        const auto& well = d.layout.wells[i];
        const QPointF c = g.WellCentre({well.well / rows, well.well % rows});
        const QRectF disc(c - QPointF(r, r), QSizeF(2 * r, 2 * r));
        const double v =
            i < d.well_counts.size() ? d.well_counts[i] : std::numeric_limits<double>::quiet_NaN();
        if (well.channels.empty() && !well.disabled.empty()) {
            // Switched off: grey with a cross.
            p.setPen(QPen(QColor(110, 110, 110), 1.2));
            p.setBrush(QColor(200, 200, 200));
            p.drawEllipse(disc);
            const double k = r * 0.6;
            p.drawLine(c + QPointF(-k, -k), c + QPointF(k, k));
            p.drawLine(c + QPointF(-k, k), c + QPointF(k, -k));
            continue;
        }
        if (well.channels.empty()) {
            p.setPen(QPen(QColor(170, 170, 170), 1, Qt::DashLine));
            p.setBrush(Qt::white);
            p.drawEllipse(disc);
            continue;
        }
        p.setPen(QPen(QColor(120, 120, 120), 0.8));
        p.setBrush(d.window < 0 || std::isnan(v) ? QColor(245, 245, 245) : HeatColour(v / top));
        p.drawEllipse(disc);
        // Channels that read badly: a ring in the colour of the worst kind.
        if (d.states) {
            std::optional<QColor> mark;
            for (int ch : well.channels) {
                switch (d.states->health[At(ch)]) {
                    case ChannelHealth::Dead:
                        mark = kDeadMark;
                        break;
                    case ChannelHealth::Saturated:
                        if (!mark || *mark != kDeadMark) mark = kSaturatedMark;
                        break;
                    case ChannelHealth::Drifting:
                        if (!mark) mark = kDriftingMark;
                        break;
                    default:
                        break;
                }
            }
            if (mark) {
                p.setPen(QPen(*mark, std::max(2.0, r * 0.22)));
                p.setBrush(Qt::NoBrush);
                p.drawEllipse(disc.adjusted(-1, -1, 1, 1));
            }
        }
        // A well with some of its beams switched off: a small grey dot.
        if (!well.disabled.empty()) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(110, 110, 110));
            p.drawEllipse(c + QPointF(r * 0.55, -r * 0.55), r * 0.2, r * 0.2);
        }
    }
    p.setBrush(Qt::NoBrush);
    p.setRenderHint(QPainter::Antialiasing, false);

    // Colour scale and keys.
    const double lx = area.right() - kHeatLegendWidth + 6;
    const double ly = area.top() + 30;
    const double bar_h = std::max(40.0, std::min(160.0, area.height() - 150.0));
    for (int y = 0; y < static_cast<int>(bar_h); ++y) {
        p.setPen(HeatColour(1.0 - y / bar_h));
        p.drawLine(QPointF(lx, ly + y), QPointF(lx + 16, ly + y));
    }
    p.setPen(QColor(80, 80, 80));
    p.drawRect(QRectF(lx, ly, 16, bar_h));
    p.drawText(QRectF(lx + 22, ly - 6, 120, 14), Qt::AlignLeft | Qt::AlignVCenter,
               QString::number(top, 'f', 1));
    p.drawText(QRectF(lx + 22, ly + bar_h / 2 - 7, 120, 14), Qt::AlignLeft | Qt::AlignVCenter,
               QString::number(top / 2, 'f', 1));
    p.drawText(QRectF(lx + 22, ly + bar_h - 8, 120, 14), Qt::AlignLeft | Qt::AlignVCenter, "0");
    p.drawText(QRectF(lx - 4, ly - 24, 150, 14), Qt::AlignLeft | Qt::AlignVCenter,
               "counts per well");
    double ky = ly + bar_h + 12;
    auto key = [&](const QColor& ring, const QColor& fill, const QString& text) {
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(ring, 2.2));
        p.setBrush(fill);
        p.drawEllipse(QPointF(lx + 7, ky + 7), 5.5, 5.5);
        p.setBrush(Qt::NoBrush);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QColor(40, 40, 40));
        p.drawText(QRectF(lx + 18, ky, 130, 14), Qt::AlignLeft | Qt::AlignVCenter, text);
        ky += 17;
    };
    const ChannelStates none{};
    const ChannelStates& s = d.states ? *d.states : none;
    key(kDeadMark, Qt::white, QString("dead (%1)").arg(s.dead));
    key(kSaturatedMark, Qt::white, QString("saturated (%1)").arg(s.saturated));
    key(kDriftingMark, Qt::white, QString("drifting (%1)").arg(s.drifting));
    int disabled_wells = 0;
    for (const auto& w : d.layout.wells)
        disabled_wells += w.channels.empty() && !w.disabled.empty();
    key(QColor(110, 110, 110), QColor(200, 200, 200),
        QString("off (%1 wells)").arg(disabled_wells));
}

void RenderBendHistogram(QPainter& p, const QRect& area, const ActivityData& d) {
    double top = 0;
    if (d.histogram) {
        for (std::int16_t v : *d.histogram) top = std::max(top, static_cast<double>(v));
    }
    const QString what = QString("Body-bend intervals, channel %1").arg(d.histogram_channel);
    const QRectF plot = Axes(p, area, AxisTop(top), WindowTitle(d, what), "bends");
    p.setPen(QColor(90, 90, 90));
    p.drawText(QRectF(plot.left(), plot.bottom() + 16, plot.width(), 15), Qt::AlignCenter,
               "interval between bends (readings)");
    if (!d.body_bends) {
        DrawWaiting(p, plot, "Body bends are counted in body-bends runs (w96u plates)");
        return;
    }
    if (!d.histogram) {
        DrawWaiting(p, plot, "The histogram follows the first window");
        return;
    }
    const double scale_top = AxisTop(top);
    const double slot = plot.width() / static_cast<double>(kBendHistogramBins);
    p.setPen(QColor(90, 90, 90));
    for (int b = 0; b < static_cast<int>(kBendHistogramBins); b += 10) {
        p.drawText(QRectF(plot.left() + b * slot, plot.bottom() + 2, slot * 2, 15),
                   Qt::AlignLeft | Qt::AlignTop, QString::number(b));
    }
    for (std::size_t b = 0; b < kBendHistogramBins; ++b) {
        const double v = (*d.histogram)[b];
        if (v <= 0) continue;
        const double y = plot.bottom() - v / scale_top * plot.height();
        p.fillRect(
            QRectF(plot.left() + static_cast<double>(b) * slot + 1, y, slot - 2, plot.bottom() - y),
            QColor(40, 110, 170));
    }
}

}  // namespace

TimeCourseLayout LayOutTimeCourse(const QRect& area, const ActivityData& d,
                                  const QFontMetrics& metrics) {
    TimeCourseLayout out;
    int key_width = 0;
    for (std::size_t gi = 0; gi < d.layout.groups.size() && gi < kTimeCourseKeyGroups; ++gi)
        key_width =
            std::max(key_width, metrics.horizontalAdvance(GroupLabel(d, d.layout.groups[gi])));
    if (key_width == 0) {
        out.axes = area;
        return out;
    }
    key_width = std::clamp(key_width + 20, 60, std::max(60, area.width() / 4));
    out.axes = area.adjusted(0, 0, -key_width, 0);
    // The plot's frame ends 12 pixels inside the axes' area (see Axes).
    out.key = QRectF(out.axes.right() - 4.0, area.top() + 24.0, key_width, area.height() - 24.0);
    return out;
}

QPolygonF TimeCourseLine(const ActivityData& d, std::size_t group_index, const QRectF& plot) {
    QPolygonF line;
    if (d.course.windows.empty()) return line;
    double top = 0;
    for (const auto& window : d.course.groups)
        for (const auto& g : window) top = std::max(top, g.mean);
    const double scale_top = AxisTop(top);
    // Across: the windows, one point each (several windows share a whole minute).
    const double x_top = std::max(1.0, static_cast<double>(d.course.windows.back()));
    // A week of windows is thousands: at most about two points per pixel column.
    const std::size_t step = std::max<std::size_t>(
        1, d.course.windows.size() /
               std::max<std::size_t>(1, static_cast<std::size_t>(plot.width()) * 2));
    for (std::size_t w = 0; w < d.course.windows.size(); w += step) {
        if (group_index >= d.course.groups[w].size()) continue;
        line.append(QPointF(
            plot.left() + static_cast<double>(d.course.windows[w]) / x_top * plot.width(),
            plot.bottom() - d.course.groups[w][group_index].mean / scale_top * plot.height()));
    }
    return line;
}

// ---- ActivityData ----

void ActivityData::Prepare(const PlateMap& plate_ref, const ProjectState& project_ref) {
    plate = &plate_ref;
    project = &project_ref;
    layout = MakeActivityLayout(plate_ref, project_ref);
    window = -1;
    minutes = 0;
    well_counts.assign(layout.wells.size(), std::numeric_limits<double>::quiet_NaN());
    groups = GroupMeans(layout, well_counts);
    for (auto& g : groups) g.mean = 0;
    course.Clear();
    states.reset();
    histogram.reset();
}

void ActivityData::TakeLatestWindow(SignalSource& source) {
    TakeWindow(source, static_cast<std::int64_t>(source.CountsRecords().size()) - 1);
}

void ActivityData::TakeWindow(SignalSource& source, std::int64_t m) {
    const auto& records = source.CountsRecords();
    course.Update(layout, records);
    if (m < 0 || m >= static_cast<std::int64_t>(records.size())) return;
    window = m;
    const CountsRecord& r = records[static_cast<std::size_t>(m)];
    minutes = r.elapsed_minutes;
    well_counts = WellCounts(layout, r);
    groups = GroupMeans(layout, well_counts);
    body_bends = source.Settings().body_bends;
    std::vector<std::int16_t> rows;
    if (plate != nullptr && project != nullptr && source.ReadWindow(window, rows)) {
        states = ClassifyChannels(rows, source.WindowLength(), *plate, *project);
    }
    SetHistogramChannel(source, histogram_channel);
}

void ActivityData::SetHistogramChannel(SignalSource& source, std::size_t channel) {
    histogram_channel = channel;
    histogram.reset();
    if (window < 0 || !body_bends) return;
    std::vector<std::int16_t> rows;
    if (!source.ReadWindow(window, rows)) return;
    histogram = ChannelBendHistogram(source, window, channel);
}

QString ActivityData::WellText(int well) const {
    if (plate == nullptr || well < 0 || At(well) >= layout.wells.size()) return {};
    const auto& w = layout.wells[At(well)];
    QString text = ToQ(WellName(*plate, well));
    if (w.channels.empty()) {
        return text + (w.disabled.empty() ? ": not used" : ": switched off");
    }
    text += " - " + GroupLabel(*this, w.group);
    const double v = At(well) < well_counts.size() ? well_counts[At(well)]
                                                   : std::numeric_limits<double>::quiet_NaN();
    if (window >= 0 && !std::isnan(v)) text += QString(" - %1 counts").arg(v, 0, 'f', 1);
    if (!w.disabled.empty()) text += QString(" (%1 beam(s) off)").arg(w.disabled.size());
    if (states) {
        for (int ch : w.channels) {
            const ChannelHealth h = states->health[At(ch)];
            if (h == ChannelHealth::Dead || h == ChannelHealth::Saturated ||
                h == ChannelHealth::Drifting)
                text += QString("\nchannel %1 %2").arg(ch).arg(ChannelHealthName(h));
        }
    }
    return text;
}

// ---- Views ----

int ActivityPages(const ActivityData& d, ActivityView view) {
    auto pages = [](std::size_t n, int per) {
        return std::max(1, static_cast<int>((n + At(per) - 1) / At(per)));
    };
    switch (view) {
        case ActivityView::GroupBars:
            return pages(d.groups.size(), kGroupBarsPerPage);
        case ActivityView::WellBars:
            return pages(d.layout.wells.size(), kWellBarsPerPage);
        default:
            return 1;
    }
}

QColor HeatColour(double fraction) {
    // Pale yellow (nothing) through orange and red to dark red (the most active well).
    struct Stop {
        double at;
        int r, g, b;
    };
    static constexpr Stop kStops[] = {{0.0, 255, 255, 204},
                                      {0.25, 254, 217, 118},
                                      {0.5, 253, 141, 60},
                                      {0.75, 227, 26, 28},
                                      {1.0, 128, 0, 38}};
    const double f = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    for (std::size_t i = 1; i < std::size(kStops); ++i) {
        if (f > kStops[i].at) continue;
        const Stop& a = kStops[i - 1];
        const Stop& b = kStops[i];
        const double t = (f - a.at) / (b.at - a.at);
        auto mix = [t](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * t)); };
        return QColor(mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b));
    }
    return QColor(128, 0, 38);
}

double HeatScaleTop(const ActivityData& d) {
    double top = 1.0;
    for (double v : d.well_counts) {
        if (!std::isnan(v)) top = std::max(top, v);
    }
    return top;
}

std::optional<int> HeatmapWellAt(const QRect& area, const ActivityData& d, QPointF position) {
    if (d.plate == nullptr) return std::nullopt;
    return PlateGeometry(*d.plate, HeatPlateArea(area), true).WellAt(position);
}

QPointF HeatmapWellCentre(const QRect& area, const ActivityData& d, int well) {
    if (d.plate == nullptr) return {};
    const int rows = std::max(1, static_cast<int>(d.plate->PlateRows));
    return PlateGeometry(*d.plate, HeatPlateArea(area), true)
        .WellCentre({well / rows, well % rows});
}

void RenderActivityPlot(QPainter& p, const QRect& area, const ActivityData& data,
                        const ActivityPlotSettings& settings) {
    BeginPlotPainting(p, area);
    switch (settings.view) {
        case ActivityView::GroupBars:
            RenderGroupBars(p, area, data, settings.page);
            break;
        case ActivityView::WellBars:
            RenderWellBars(p, area, data, settings.page);
            break;
        case ActivityView::TimeCourse:
            RenderTimeCourse(p, area, data);
            break;
        case ActivityView::Heatmap:
            RenderHeatmap(p, area, data);
            break;
        case ActivityView::BendHistogram:
            RenderBendHistogram(p, area, data);
            break;
    }
    p.restore();
}

// ---- ActivityPlot ----

ActivityPlot::ActivityPlot(const ActivityData& shown, QWidget* parent)
    : QWidget(parent), data_(shown) {
    setMinimumSize(320, 180);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ActivityPlot::SetView(ActivityView view) {
    if (view != settings_.view) settings_.page = 0;
    settings_.view = view;
    update();
}

bool ActivityPlot::PageUp() {
    if (settings_.page <= 0) return false;
    --settings_.page;
    update();
    return true;
}

bool ActivityPlot::PageDown() {
    if (settings_.page + 1 >= pages()) return false;
    ++settings_.page;
    update();
    return true;
}

void ActivityPlot::DataChanged() {
    settings_.page = std::clamp(settings_.page, 0, pages() - 1);
    update();
}

void ActivityPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    RenderActivityPlot(p, rect(), data_, settings_);
}

bool ActivityPlot::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(e);
        std::optional<int> well;
        if (settings_.view == ActivityView::Heatmap)
            well = HeatmapWellAt(rect(), data_, QPointF(help->pos()));
        if (well) {
            QToolTip::showText(help->globalPos(), data_.WellText(*well), this);
        } else {
            QToolTip::hideText();
            e->ignore();
        }
        return true;
    }
    return QWidget::event(e);
}

}  // namespace lumivo::app
