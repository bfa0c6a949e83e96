#include "app/panels/auto_action_frame.h"

#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

#include "app/support/qt_dialogs.h"
#include "app/support/widget_helpers.h"

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

AutoActionStrip::AutoActionStrip(QWidget* parent) : QWidget(parent) {
    setObjectName("auto_action_strip");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    frm_autotext = new AutoActionFrame(this);
    layout->addWidget(frm_autotext);
    picturecal = new ProgressBox(this);
    layout->addWidget(picturecal);
    lbl_autochannel = Named(new QLabel(this), "lbl_autochannel");
    lbl_autochannel->setWordWrap(true);
    layout->addWidget(lbl_autochannel);
    lblcalibrando = Named(new QLabel(this), "lblcalibrando");
    lblcalibrando->hide();
    layout->addWidget(lblcalibrando);
}

void AutoActionStrip::SetTitle(const std::string& text) {
    frm_autotext->lbl_autotext()->setText(ToQ(text));
}

void AutoActionStrip::SetStatus(const std::string& text) {
    lbl_autochannel->setText(ToQ(text));
}

void AutoActionStrip::ShowFrame(bool shown) {
    frm_autotext->setVisible(shown);
}

void AutoActionStrip::ShowProgress(bool shown) {
    picturecal->setVisible(shown);
}

void AutoActionStrip::ShowCalibrating(bool shown) {
    lblcalibrando->setVisible(shown);
}

void AutoActionStrip::SetCalibratingText(const std::string& text) {
    lblcalibrando->setText(ToQ(text));
}

}  // namespace lumivo::app
