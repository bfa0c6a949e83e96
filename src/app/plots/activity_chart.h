// The chart of group activity over time that the report window and the offline browser's group
// activity view draw with Qt Charts: each group's mean with its standard-error band, in the
// colours and dashes of the report's SVG image, and the basal line when the data are normalised.
#pragma once

#include <QChartView>

#include "core/reporting/report/report_chart.h"

namespace lumivo::app {

// Replaces the chart `view` shows with one drawn from `plot`.
void ShowActivityChart(QChartView& view, const reporting::ChartData& plot);

}  // namespace lumivo::app
