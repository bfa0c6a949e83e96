#include "app/auto_action_frame.h"

#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

namespace lumivo::app {

ProgressBox::ProgressBox(QWidget* parent) : QWidget(parent) {
    setObjectName("picturecal");
    setMinimumHeight(18);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ProgressBox::SetScale(double x_max, double y_max) {
    x_max_ = x_max > 0 ? x_max : 1.0;
    y_max_ = y_max > 0 ? y_max : 1.0;
    update();
}

void ProgressBox::SetBackground(const QColor& colour) {
    background_ = colour;
    update();
}

void ProgressBox::Clear() {
    bar_ = 0.0;
    update();
}

void ProgressBox::DrawBarTo(double x) {
    bar_ = std::clamp(x, 0.0, x_max_);
    update();
}

void ProgressBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), background_);
    const int w = static_cast<int>(bar_ / x_max_ * width());
    p.fillRect(QRect(0, 0, w, height()), QColor(0, 0, 160));
    p.setPen(Qt::gray);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

AutoActionFrame::AutoActionFrame(QWidget* parent) : QFrame(parent) {
    setObjectName("frm_autotext");
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    lbl_autotext_ = new QLabel(this);
    lbl_autotext_->setObjectName("lbl_autotext");
    QFont f = lbl_autotext_->font();
    f.setBold(true);
    lbl_autotext_->setFont(f);
    layout->addWidget(lbl_autotext_);
}

}  // namespace lumivo::app
