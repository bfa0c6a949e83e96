#include "app/plots/activity_chart.h"

#include <QAreaSeries>
#include <QChart>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>
#include <algorithm>

#include "app/support/qt_dialogs.h"

namespace lumivo::app {

using namespace lumivo::reporting;

namespace {

// Dash pattern of an SVG dash array ("6 3") for a Qt pen, in pen widths.
QList<qreal> DashPattern(const std::string& dash, qreal width) {
    QList<qreal> pattern;
    for (const QString& part : ToQ(dash).split(' ', Qt::SkipEmptyParts))
        pattern.append(part.toDouble() / width);
    return pattern;
}

}  // namespace

void ShowActivityChart(QChartView& view, const ChartData& plot) {
    auto* chart = new QChart;
    chart->setTitle(ToQ(plot.title));
    if (plot.series.empty() && !plot.basal_line) {
        // Nothing to draw: the title alone, no empty axes that look like a report of zeros.
        chart->legend()->hide();
        QChart* old = view.chart();
        view.setChart(chart);
        delete old;
        return;
    }
    // Time in the chart's unit (minutes, hours or days).
    const double unit = plot.time_axis.minutes_per_unit > 0 ? plot.time_axis.minutes_per_unit : 1;
    const double last = (plot.last_minute > 0 ? plot.last_minute : 1) / unit;
    // The last bin's point lies at the end of the recording: the axis goes on by half a bin so
    // that its marker (the only one of a one-bin report) is drawn whole, not cut at the edge.
    double step = last;
    for (const auto& s : plot.series)
        for (std::size_t k = 1; k < s.points.size(); ++k) {
            const double d = (s.points[k].minute - s.points[k - 1].minute) / unit;
            if (d > 0) step = std::min(step, d);
        }
    double right = last;
    for (const auto& s : plot.series)
        if (!s.points.empty()) right = std::max(right, s.points.back().minute / unit + step / 2);
    auto* x = new QValueAxis;
    x->setTitleText(ToQ(plot.time_axis.label));
    // Nice ticks of a short report fall on halves: "%g" writes 0.5 and 1.5 as they are
    // (whole-number labels read "0 1 1 2 2").
    x->setLabelFormat("%g");
    x->setRange(0, right);
    x->applyNiceNumbers();
    auto* y = new QValueAxis;
    y->setTitleText(ToQ(plot.y_label));
    y->setLabelFormat("%g");
    double lo = 0, hi = plot.basal_line ? 110 : 1;
    for (const auto& s : plot.series)
        for (const auto& p : s.points) {
            lo = std::min(lo, p.low);
            hi = std::max(hi, p.high);
        }
    y->setRange(lo, hi * 1.05);
    y->applyNiceNumbers();
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    auto attach = [&](QAbstractSeries* series) {
        chart->addSeries(series);
        series->attachAxis(x);
        series->attachAxis(y);
    };
    for (std::size_t i = 0; i < plot.series.size(); ++i) {
        const auto& s = plot.series[i];
        const QColor colour(ToQ(SeriesColour(i)));
        auto* upper = new QLineSeries;
        auto* lower = new QLineSeries;
        auto* mean = new QLineSeries;
        for (const auto& p : s.points) {
            upper->append(p.minute / unit, p.high);
            lower->append(p.minute / unit, p.low);
            mean->append(p.minute / unit, p.mean);
        }
        auto* band = new QAreaSeries(upper, lower);
        QColor fill = colour;
        fill.setAlpha(50);
        band->setBrush(fill);
        band->setPen(Qt::NoPen);
        attach(band);
        QPen pen(colour, 2);
        const std::string dash = SeriesDash(i);
        if (!dash.empty()) pen.setDashPattern(DashPattern(dash, 2));
        mean->setPen(pen);
        mean->setName(ToQ(s.label));
        mean->setPointsVisible(s.points.size() <= 60);
        attach(mean);
    }
    if (plot.basal_line) {
        auto* basal = new QLineSeries;
        basal->setName("Basal (100 %)");
        basal->append(0, 100);
        basal->append(right, 100);
        QPen pen(Qt::black, 1.5, Qt::DashLine);
        basal->setPen(pen);
        attach(basal);
    }
    // Only the means and the basal line are named in the legend.
    for (QAbstractSeries* series : chart->series())
        if (series->type() == QAbstractSeries::SeriesTypeArea)
            for (QLegendMarker* m : chart->legend()->markers(series)) m->setVisible(false);
    chart->legend()->setAlignment(Qt::AlignRight);
    QChart* old = view.chart();
    view.setChart(chart);
    delete old;
}

}  // namespace lumivo::app
