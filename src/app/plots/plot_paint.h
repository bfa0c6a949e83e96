// What every plot's drawing starts with: the painter's state saved (the caller restores it), a
// white background and the plots' 11-pixel text.
#pragma once

#include <QFont>
#include <QPainter>
#include <QRect>

namespace lumivo::app {

inline void BeginPlotPainting(QPainter& p, const QRect& area) {
    p.save();
    p.fillRect(area, Qt::white);
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);
}

}  // namespace lumivo::app
