#include "app/main_window/device_test.h"

#include <QEvent>
#include <QPainter>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "app/support/qt_dialogs.h"

namespace lumivo::app {

namespace {

// A reading's cell: lit and passing (>= 1638.4) green, dark and passing (<= 1024) dark grey,
// between the two (neither lit nor dark enough) amber.
QColor CellColour(int reading) {
    if (reading >= kLitPassLevel) return {40, 170, 60};
    if (reading <= kDarkPassLevel) return {60, 60, 70};
    return {230, 160, 30};
}

}  // namespace

SelfTestGrid::SelfTestGrid(QWidget* plot) : QWidget(plot) {
    setObjectName("self_test_grid");
    lbl_autostart = new QLabel(this);
    lbl_autostart->setObjectName("lbl_autostart");
    lbl_autostart->setStyleSheet("QLabel { color: #a00000; font-weight: bold; }");
    lbl_autostart->hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->addWidget(lbl_autostart, 0, Qt::AlignHCenter | Qt::AlignTop);
    layout->addStretch();
    plot->installEventFilter(this);
    setGeometry(plot->rect());
    hide();
}

void SelfTestGrid::ShowReadings(std::span<const std::uint16_t> readings) {
    const std::size_t n = std::min(readings.size(), readings_.size());
    std::copy_n(readings.begin(), n, readings_.begin());
    update();
}

void SelfTestGrid::ShowDoorHint(bool shown, const QString& text) {
    lbl_autostart->setText(text);
    lbl_autostart->setVisible(shown);
}

void SelfTestGrid::SetCaption(const QString& caption) {
    caption_ = caption;
    update();
}

bool SelfTestGrid::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parent() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void SelfTestGrid::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const int top = 28;
    const int bottom_text = 20;
    const int left = 22;
    const QRect area(left, top, width() - left - 8, height() - top - bottom_text - 18);
    if (area.width() < kGridColumns || area.height() < kGridRows) return;
    const double cw = area.width() / static_cast<double>(kGridColumns);
    const double ch = area.height() / static_cast<double>(kGridRows);
    QFont small = font();
    small.setPointSizeF(std::max(6.0, std::min(cw, ch) / 2.6));
    p.setFont(small);
    for (int c = 0; c < kChannelCount; ++c) {
        const int row = c % kGridRows;
        const int column = c / kGridRows;
        const QRectF cell(area.left() + column * cw, area.top() + row * ch, cw - 1, ch - 1);
        const int r = readings_[static_cast<std::size_t>(c)];
        p.fillRect(cell, CellColour(r));
        if (cw >= 22 && ch >= 12) {
            p.setPen(Qt::white);
            p.drawText(cell, Qt::AlignCenter, QString::number(ReadingPercent(r)));
        }
    }
    p.setPen(Qt::black);
    for (int row = 0; row < kGridRows; ++row) {
        p.drawText(QRectF(0, area.top() + row * ch, left - 4, ch),
                   Qt::AlignRight | Qt::AlignVCenter, QString(QChar('A' + row)));
    }
    for (int column = 0; column < kGridColumns; ++column) {
        p.drawText(QRectF(area.left() + column * cw, area.bottom() + 2, cw, 16), Qt::AlignCenter,
                   QString::number(column + 1));
    }
    QFont bold = font();
    bold.setBold(true);
    p.setFont(bold);
    p.drawText(QRect(left, height() - bottom_text, width() - left, bottom_text),
               Qt::AlignLeft | Qt::AlignVCenter,
               "Device test " + caption_ + "   (% of 2048: green lit >= 80, grey dark <= 50)");
}

DeviceTest::DeviceTest(QObject* parent, AppContext& ctx, LogPanel& log, CommandLock& lock,
                       TemperatureDisplay& temperature, ParentWindow& opener, LiveView& live,
                       std::function<bool()> acquisition_stopped)
    : QObject(parent),
      ctx_(ctx),
      log_(log),
      lock_(lock),
      temperature_(temperature),
      opener_(opener),
      live_(live),
      acquisition_stopped_(std::move(acquisition_stopped)),
      Timer_test(new QTimer(this)),
      grid_(new SelfTestGrid(&live.activity_plot())) {
    setObjectName("device_test");
    Timer_test->setObjectName("Timer_test");
    Timer_test->setInterval(kTimerTestIntervalMs);
    Timer_test->setSingleShot(true);  // restarted after each tick: never re-entered
    connect(Timer_test, &QTimer::timeout, this, &DeviceTest::Timer_test_Timer);
}

SelfTestContext DeviceTest::Context() {
    AppContext& app = ctx_;
    return SelfTestContext{app.link, app.storage, *this, offline_, acquisition_stopped_()};
}

void DeviceTest::mnstatustest_Click() {
    if (Running()) {
        // The entry reads "Stop device test" meanwhile. A tick waiting on a question ends
        // first: the test stops after it.
        stop_requested_ = true;
        if (!ticking_) Stop();
        return;
    }
    stop_requested_ = false;
    const ConnectionState& c = ctx_.state.connection;
    offline_ = c.OfflineMode || !c.InstrumentConnected;
    SelfTestContext ctx = Context();
    if (!StartSelfTest(ctx, state_)) return;
    locked_ = true;
    lock_.LockCommands(true);
    emit runningChanged(true);
    log_.AppendLog("Device test started; its report is " + state_.report_path.filename().string() +
                   " in the installation folder");
}

void DeviceTest::Timer_test_Timer() {
    if (ticking_ || !state_.Timer_test) return;
    ticking_ = true;
    Clock& clock = ctx_.clock;
    const std::int64_t started = clock.MonotonicMillis();
    SelfTestContext ctx = Context();
    SelfTestTick(ctx, state_);
    ticking_ = false;
    if (stop_requested_) {
        Stop();
        Ended();
    } else if (state_.Timer_test) {
        // A tick longer than the interval delays the next one; it then follows at once.
        const auto spent = static_cast<int>(clock.MonotonicMillis() - started);
        Timer_test->start(std::max(0, kTimerTestIntervalMs - spent));
    } else {
        Ended();
    }
}

void DeviceTest::Stop() {
    if (!Running()) return;
    SelfTestContext ctx = Context();
    StopSelfTest(ctx, state_);
    Ended();
}

void DeviceTest::Ended() {
    Timer_test->stop();
    // A test stopped part-way (No, COM Error) leaves its captions; the grid gives the plot back.
    grid_->hide();
    if (!locked_) return;
    locked_ = false;
    lock_.LockCommands(false);
    emit runningChanged(false);
}

void DeviceTest::ShowCaption(const std::string& text) {
    temperature_.ShowTemperature(text);
    grid_->SetCaption(QString::fromUtf8(text.c_str()));
}

void DeviceTest::ShowDoorHint(bool shown, const std::string& text) {
    grid_->ShowDoorHint(shown, ToQ(text));
}

void DeviceTest::DrawReadings(std::span<const std::uint16_t> readings) {
    grid_->ShowReadings(readings);
    if (!grid_->isVisible()) {
        grid_->setGeometry(live_.activity_plot().rect());
        grid_->show();
        grid_->raise();
    }
}

void DeviceTest::DrawProgress(double percent) {
    ProgressBox& bar = live_.time_bar();
    bar.SetScale(100.0, 10.0);
    bar.DrawBarTo(percent);
}

void DeviceTest::RestorePlot() {
    grid_->hide();
    live_.time_bar().Clear();
    live_.PrepareActivity(ctx_.state.project);
}

void DeviceTest::SetTestTimer(bool enabled) {
    if (!enabled) {
        Timer_test->stop();
    } else if (!ticking_) {
        Timer_test->start(kTimerTestIntervalMs);
    }
}

void DeviceTest::OpenReport(const std::filesystem::path& file) {
    if (!opener_.OpenDocument(QUrl::fromLocalFile(QString::fromStdString(file.string())))) {
        log_.AppendLog("The device test report could not be opened: " + file.string());
    }
}

void DeviceTest::ShowStatusLine(const std::string& text) {
    log_.ShowStatusLine(text);
    log_.AppendLog(text);
}

}  // namespace lumivo::app
