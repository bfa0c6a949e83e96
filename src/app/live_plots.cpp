#include "app/live_plots.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "app/qt_dialogs.h"
#include "app/widget_helpers.h"

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

LiveView::LiveView(QWidget* parent) : QWidget(parent) {
    setObjectName("live_view");
    auto* left = new QVBoxLayout(this);
    left->setContentsMargins(0, 0, 0, 0);
    auto* plot_buttons = new QHBoxLayout;
    Cmd_barplot = Button(this, "Cmd_barplot", "Bar Plot", false);
    Cmd_gridplot = Button(this, "Cmd_gridplot", "Heatmap PLOT", false);
    Cmd_histoplot = Button(this, "Cmd_histoplot", "BodyBends Histogram PLOT", false);
    cmd_pgup = Button(this, "cmd_pgup", "<<", false);
    cmd_pgdown = Button(this, "cmd_pgdown", ">>", false);
    for (auto* b : {Cmd_barplot, Cmd_gridplot, Cmd_histoplot}) plot_buttons->addWidget(b);
    plot_buttons->addStretch();
    plot_buttons->addWidget(cmd_pgup);
    plot_buttons->addWidget(cmd_pgdown);
    cmd_pgup->hide();
    cmd_pgdown->hide();
    left->addLayout(plot_buttons);
    Picact = new PlotBox("Picact", "Activity", this);
    left->addWidget(Picact, 3);
    picturetime = new ProgressBox(this);
    picturetime->setObjectName("picturetime");
    picturetime->SetBackground(Qt::white);
    picturetime->SetScale(100, 10);
    left->addWidget(picturetime);

    auto* signal_controls = new QHBoxLayout;
    cmdbeam_minus = Button(this, "cmdbeam_minus", "previous channel", false);
    cmdbeam_plus = Button(this, "cmdbeam_plus", "next channel", false);
    Cmdzoom_minus = Button(this, "Cmdzoom_minus", "Zoom -", false);
    Cmdzoom_plus = Button(this, "Cmdzoom_plus", "Zoom +", false);
    Combofila = Named(new QComboBox(this), "Combofila");
    Combocol = Named(new QComboBox(this), "Combocol");
    combogrup = Named(new QComboBox(this), "combogrup");
    txtsub = Named(new QLineEdit(this), "txtsub");
    txtsub->setMaximumWidth(60);
    for (int r = 0; r < kBeamRows; ++r) Combofila->addItem(QString(QChar('A' + r)));
    for (int c = 1; c <= kBeamColumns; ++c) Combocol->addItem(QString::number(c));
    for (QWidget* w : {static_cast<QWidget*>(Combofila), static_cast<QWidget*>(Combocol),
                       static_cast<QWidget*>(combogrup), static_cast<QWidget*>(txtsub)})
        w->setEnabled(false);
    for (QWidget* w : {static_cast<QWidget*>(cmdbeam_minus), static_cast<QWidget*>(cmdbeam_plus),
                       static_cast<QWidget*>(Cmdzoom_minus), static_cast<QWidget*>(Cmdzoom_plus),
                       static_cast<QWidget*>(Combofila), static_cast<QWidget*>(Combocol),
                       static_cast<QWidget*>(combogrup), static_cast<QWidget*>(txtsub)})
        signal_controls->addWidget(w);
    signal_controls->addStretch();
    left->addLayout(signal_controls);
    auto* signal_row = new QHBoxLayout;
    Picreal = new PlotBox("Picreal", "Channel signal", this);
    signal_row->addWidget(Picreal, 1);
    lstgrup = Named(new QListWidget(this), "lstgrup");
    lstgrup->setMaximumWidth(170);
    signal_row->addWidget(lstgrup);
    left->addLayout(signal_row, 2);
}

namespace {

// The groups in use, in number order.
std::set<int> GroupsInUse(const ProjectState& project) {
    std::set<int> groups;
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        const int g = project.ChannelGroup[c];
        if (g >= 0 && g < static_cast<int>(kChannelTableSize)) groups.insert(g);
    }
    return groups;
}

}  // namespace

void LiveView::PrepareFor(const AppState& app) {
    live_buffer_rows_ = app.project.Setup.RT_Buffer;
    live_values_.assign(kChannelTableSize, 0.0);
    const std::set<int> groups = GroupsInUse(app.project);
    lstgrup->clear();
    combogrup->clear();
    for (int g : groups) {
        const QString entry =
            QString::number(g) + " " + ToQ(app.project.GroupName[static_cast<std::size_t>(g)]);
        lstgrup->addItem(entry);
        combogrup->addItem(entry);
    }
    const bool paging = groups.size() > 12;
    cmd_pgup->setVisible(paging);
    cmd_pgdown->setVisible(paging);
    Picact->ClearAndScale(static_cast<double>(std::max<std::size_t>(groups.size(), 1)), 100.0);
    Picreal->ClearAndScale(live_buffer_rows_ + 20.0, 2100.0);
}

void LiveView::PrepareActivity(const ProjectState& project) {
    const std::size_t groups = GroupsInUse(project).size();
    Picact->ClearAndScale(static_cast<double>(std::max<std::size_t>(groups, 1)), 100.0);
    Picact->SetCaption("Activity");
}

void LiveView::SetActivityCaption(const QString& caption) {
    Picact->SetCaption(caption);
}

void LiveView::ClearSignal(std::size_t rt_buffer) {
    Picreal->ClearAndScale(static_cast<double>(rt_buffer) + 20.0, 2100.0);
    picturetime->Clear();
}

void LiveView::RedrawSignal() {
    Picreal->update();
}

void LiveView::ShowElapsedBar(double percent) {
    const double bar = std::clamp(percent, 0.0, 100.0);
    if (picturetime->x_max() != 100.0) picturetime->SetScale(100.0, 10.0);
    if (picturetime->bar() != bar) picturetime->DrawBarTo(bar);
}

}  // namespace lumivo::app
