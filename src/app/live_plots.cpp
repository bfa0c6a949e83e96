#include "app/live_plots.h"

#include <QPainter>

namespace lumivo::app {

PlotBox::PlotBox(const char* name, QString caption, QWidget* parent)
    : QFrame(parent), caption_(std::move(caption)) {
    setObjectName(name);
    setFrameShape(QFrame::Box);
    setMinimumSize(320, 160);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PlotBox::ClearAndScale(double x_max, double y_max) {
    x_max_ = x_max;
    y_max_ = y_max;
    update();
}

void PlotBox::SetCaption(const QString& caption) {
    caption_ = caption;
    update();
}

void PlotBox::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter p(this);
    const QRect area = contentsRect().adjusted(1, 1, -1, -1);
    p.fillRect(area, Qt::white);
    const int left = area.left() + 40;
    const int bottom = area.bottom() - 24;
    p.setPen(Qt::black);
    p.drawLine(left, area.top() + 10, left, bottom);
    p.drawLine(left, bottom, area.right() - 10, bottom);
    p.setPen(Qt::darkGray);
    p.drawText(QRect(area.left(), bottom + 4, 36, 18), Qt::AlignRight, "0");
    p.drawText(QRect(area.left(), area.top() + 4, 36, 18), Qt::AlignRight,
               QString::number(y_max_, 'g', 5));
    p.drawText(QRect(area.right() - 80, bottom + 4, 70, 18), Qt::AlignRight,
               QString::number(x_max_, 'g', 5));
    p.drawText(QRect(left, area.top(), area.right() - left, bottom - area.top()), Qt::AlignCenter,
               caption_);
}

}  // namespace lumivo::app
