#include "app/panels/status_strip.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace lumivo::app {

using offline::StripKind;

namespace {

constexpr int kMargin = 4;
constexpr int kBarHeight = 18;

struct LegendItem {
    StripKind kind;
    const char* caption;
};
constexpr LegendItem kLegend[] = {
    {StripKind::Data, "recorded"},        {StripKind::Missing, "windows missing"},
    {StripKind::Paused, "paused"},        {StripKind::Silent, "instrument silent"},
    {StripKind::Lost, "instrument lost"}, {StripKind::Interrupted, "recorder interrupted"}};

QString ToolTipOf(const offline::RecordingStatus& s) {
    QString text = QString("%1 windows recorded").arg(s.windows_recorded);
    if (s.windows_missing > 0) text += QString(", about %1 missing").arg(s.windows_missing);
    if (!s.silences.empty()) text += QString(", instrument silent %1 times").arg(s.silences.size());
    if (!s.losses.empty()) text += QString(", instrument lost %1 times").arg(s.losses.size());
    if (!s.interruptions.empty())
        text += QString(", recorder interrupted %1 times").arg(s.interruptions.size());
    if (!s.pauses.empty() || s.frozen_pauses > 0)
        text += QString(", paused %1 times").arg(s.pauses.size() + s.frozen_pauses);
    if (!s.has_event_log) text += " (no events.log: silences and pauses are not known)";
    for (const offline::StripPeriod& period : s.periods)
        text += QString("\nminute %1: %2")
                    .arg(period.begin_minute, 0, 'f', 1)
                    .arg(QString::fromUtf8(period.caption.c_str()));
    return text;
}

}  // namespace

QRect PeriodRect(const offline::StripPeriod& period, double run_minutes, const QRect& bar) {
    const double scale = run_minutes > 0 ? bar.width() / run_minutes : 0.0;
    const double x0 = bar.left() + period.begin_minute * scale;
    const double x1 = bar.left() + period.end_minute * scale;
    const double width = std::max(x1 - x0, static_cast<double>(kPeriodMarkWidth));
    const double left = std::clamp(x0 + (x1 - x0) / 2 - width / 2, static_cast<double>(bar.left()),
                                   bar.right() + 1 - width);
    return QRect(static_cast<int>(std::lround(left)), bar.top(),
                 static_cast<int>(std::lround(width)), bar.height());
}

QRect StatusStrip::BarRect() const {
    return QRect(kMargin, 2, std::max(1, width() - 2 * kMargin), kBarHeight);
}

QColor StripColour(StripKind kind) {
    switch (kind) {
        case StripKind::Data:
            return {76, 166, 90};
        case StripKind::Missing:
            return {214, 54, 54};
        case StripKind::Paused:
            return {150, 150, 150};
        case StripKind::Silent:
            return {240, 160, 30};
        case StripKind::Lost:
            return {130, 30, 130};
        case StripKind::Interrupted:
            return {40, 40, 40};
        case StripKind::None:
            break;
    }
    return {238, 238, 238};
}

StatusStrip::StatusStrip(QWidget* parent) : QWidget(parent) {
    setObjectName("Pic_status");
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(46);
}

void StatusStrip::SetStatus(std::optional<offline::RecordingStatus> status) {
    status_ = std::move(status);
    setToolTip(status_ ? ToolTipOf(*status_) : QString());
    update();
}

void StatusStrip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    const QRect bar = BarRect();
    p.fillRect(bar, StripColour(StripKind::None));
    if (status_ && status_->run_minutes > 0) {
        const offline::RecordingStatus& s = *status_;
        // One cell per window while the bar has room for them, else one per pixel column.
        const std::size_t windows = s.windows_recorded + s.windows_missing;
        const auto columns = static_cast<std::size_t>(bar.width());
        const std::size_t cells = windows > 0 ? std::min(windows, columns) : columns;
        const std::vector<StripKind> kinds = offline::StripCells(s, cells);
        const double cell_width = static_cast<double>(bar.width()) / static_cast<double>(cells);
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            const int x0 =
                bar.left() + static_cast<int>(std::lround(static_cast<double>(i) * cell_width));
            const int x1 =
                bar.left() + static_cast<int>(std::lround(static_cast<double>(i + 1) * cell_width));
            p.fillRect(QRect(x0, bar.top(), std::max(1, x1 - x0), bar.height()),
                       StripColour(kinds[i]));
        }
        // The periods over the cells, each in its kind's colour and at least a mark wide, so a
        // pause of seconds in a week's run can still be seen.
        for (const offline::StripPeriod& period : s.periods)
            p.fillRect(PeriodRect(period, s.run_minutes, bar), StripColour(period.kind));
    }
    p.setPen(QColor(120, 120, 120));
    p.drawRect(bar.adjusted(0, 0, -1, -1));

    // The legend, and the run's start and length under the bar's ends.
    p.setPen(palette().windowText().color());
    const int text_y = bar.bottom() + 5;
    const QFontMetrics fm = p.fontMetrics();
    int x = bar.left() + fm.horizontalAdvance("0") + 16;
    p.drawText(QRect(bar.left(), text_y, 40, fm.height()), Qt::AlignLeft | Qt::AlignVCenter, "0");
    for (const LegendItem& item : kLegend) {
        p.fillRect(QRect(x, text_y + 3, 10, 10), StripColour(item.kind));
        x += 14;
        p.drawText(QRect(x, text_y, 200, fm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   item.caption);
        x += fm.horizontalAdvance(item.caption) + 14;
    }
    if (status_) {
        const auto seconds = static_cast<std::int64_t>(std::llround(status_->run_minutes * 60.0));
        p.drawText(QRect(bar.left(), text_y, bar.width(), fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter,
                   QString::fromUtf8(offline::DurationText(seconds).c_str()));
    } else {
        p.drawText(bar, Qt::AlignCenter, "no acquisition chosen");
    }
}

}  // namespace lumivo::app
