#include "app/plots/signal_plot.h"

#include <pthread.h>
#include <sched.h>

#include <QPainter>
#include <QPainterPath>
#include <QThread>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "app/plots/plot_paint.h"

namespace lumivo::app {
namespace {

const QColor kSignalColour(20, 60, 150);
const QColor kThresholdColour(230, 130, 0);
const QColor kEventColour(210, 30, 30);
const QColor kGridColour(225, 228, 232);

}  // namespace

double NiceStep(double range, int ticks) {
    const double raw = std::max(range, 1e-9) / std::max(1, ticks);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * power >= raw) return m * power;
    }
    return 10.0 * power;
}

SignalFrame GatherSignalFrame(SignalSource& source, const SignalPlotSettings& s) {
    SignalFrame f;
    f.window_length = std::max<std::size_t>(source.WindowLength(), 1);
    f.reading_count = source.ReadingCount();
    const std::int64_t span = std::max<std::int64_t>(s.span, 2);
    f.first = s.first ? std::max<std::int64_t>(*s.first, 0)
                      : std::max<std::int64_t>(f.reading_count - span, 0);
    f.readings.assign(static_cast<std::size_t>(span), kNoReading);
    source.ChannelReadings(s.channel, f.first, f.readings);
    if (!s.show_threshold && !s.show_events) return f;
    const auto len = static_cast<std::int64_t>(f.window_length);
    const bool trace_in_readings = source.Settings().method != DspMethod::MotilityIndex;
    for (std::int64_t m = f.first / len;
         m <= (f.first + span - 1) / len && m < source.WindowCount(); ++m) {
        const ChannelWindowAnalysis a = source.AnalyseChannel(m, s.channel);
        if (!a.valid) continue;
        SignalFrame::Window w;
        w.index = m;
        w.first = m * len;
        w.trace = trace_in_readings;
        w.threshold = a.trace;
        w.events = a.events;
        w.count = a.count;
        f.windows.push_back(w);
    }
    return f;
}

void RenderSignalPlot(QPainter& p, const QRect& area, const SignalFrame& f,
                      const SignalPlotSettings& s) {
    BeginPlotPainting(p, area);
    const QRectF plot(area.left() + 46.0, area.top() + 20.0, std::max(20, area.width() - 56),
                      std::max(20, area.height() - 42));
    const auto span = static_cast<std::int64_t>(f.readings.size());
    if (span < 2) {
        p.restore();
        return;
    }

    // The y range: the 12-bit range, or the readings (and thresholds) in view.
    double y_min = 0.0, y_max = 4095.0;
    if (s.zoom_y) {
        double lo = 1e9, hi = -1e9;
        for (std::int16_t v : f.readings) {
            if (v == kNoReading) continue;
            lo = std::min(lo, static_cast<double>(v));
            hi = std::max(hi, static_cast<double>(v));
        }
        if (s.show_threshold) {
            for (const auto& w : f.windows) {
                if (!w.trace) continue;
                for (std::size_t i = 0; i < kAnalysisWindowLength; ++i) {
                    const std::int64_t r = w.first + static_cast<std::int64_t>(i);
                    if (r < f.first || r >= f.first + span) continue;
                    lo = std::min(lo, static_cast<double>(w.threshold[i]));
                    hi = std::max(hi, static_cast<double>(w.threshold[i]));
                }
            }
        }
        if (hi >= lo) {
            const double pad = std::max(10.0, 0.08 * (hi - lo));
            y_min = lo - pad;
            y_max = hi + pad;
        }
    }
    const double x_scale = plot.width() / static_cast<double>(span);
    const double y_scale = plot.height() / (y_max - y_min);
    auto X = [&](std::int64_t reading) {
        return plot.left() + (static_cast<double>(reading - f.first) + 0.5) * x_scale;
    };
    auto Y = [&](double v) {
        return plot.bottom() - (std::clamp(v, y_min, y_max) - y_min) * y_scale;
    };

    // Grid and y labels.
    const double step = NiceStep(y_max - y_min, std::max(3, static_cast<int>(plot.height() / 30)));
    p.setPen(kGridColour);
    for (double v = std::ceil(y_min / step) * step; v <= y_max; v += step) {
        p.drawLine(QPointF(plot.left(), Y(v)), QPointF(plot.right(), Y(v)));
    }
    p.setPen(QColor(90, 90, 90));
    for (double v = std::ceil(y_min / step) * step; v <= y_max; v += step) {
        p.drawText(QRectF(area.left(), Y(v) - 8, 42, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(v, 'f', 0));
    }

    // Window boundaries, labelled with the window's number and, when analysed, its count.
    const auto len = static_cast<std::int64_t>(f.window_length);
    p.setPen(QPen(QColor(150, 150, 150), 1, Qt::DashLine));
    for (std::int64_t b = (f.first + len - 1) / len * len; b < f.first + span; b += len) {
        const double x = X(b) - 0.5 * x_scale;
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.drawText(QRectF(x + 3, plot.bottom() - 15, 120, 14), Qt::AlignLeft | Qt::AlignBottom,
                   QString("window %1").arg(b / len + 1));
    }

    // The readings: a line through them, or the range of each pixel column when there are
    // more readings than columns. A reading the source does not hold breaks the line.
    const bool as_line = span <= 2 * static_cast<std::int64_t>(plot.width());
    p.setRenderHint(QPainter::Antialiasing, as_line);
    p.setPen(QPen(kSignalColour, 1.2));
    if (as_line) {
        QPolygonF line;
        line.reserve(static_cast<qsizetype>(span));
        for (std::int64_t i = 0; i < span; ++i) {
            const std::int16_t v = f.readings[static_cast<std::size_t>(i)];
            if (v == kNoReading) {
                if (line.size() > 1) p.drawPolyline(line);
                line.clear();
                continue;
            }
            line.append(QPointF(X(f.first + i), Y(v)));
        }
        if (line.size() > 1) p.drawPolyline(line);
    } else {
        const int columns = static_cast<int>(plot.width());
        for (int col = 0; col < columns; ++col) {
            const auto a = static_cast<std::int64_t>(col) * span / columns;
            const auto b = static_cast<std::int64_t>(col + 1) * span / columns;
            int lo = 1 << 20, hi = -(1 << 20);
            for (std::int64_t i = a; i < b; ++i) {
                const std::int16_t v = f.readings[static_cast<std::size_t>(i)];
                if (v == kNoReading) continue;
                lo = std::min<int>(lo, v);
                hi = std::max<int>(hi, v);
            }
            if (hi < lo) continue;
            const double x = plot.left() + col + 0.5;
            p.drawLine(QPointF(x, Y(lo)), QPointF(x, Y(hi) - 0.5));
        }
    }

    // Threshold traces and events of the analysed windows.
    int events_in_view = 0;
    p.setRenderHint(QPainter::Antialiasing, true);
    for (const auto& w : f.windows) {
        const std::int64_t from = std::max(w.first, f.first);
        const std::int64_t to =
            std::min(w.first + static_cast<std::int64_t>(kAnalysisWindowLength), f.first + span);
        if (s.show_threshold && w.trace && to - from > 1) {
            QPolygonF line;
            line.reserve(static_cast<qsizetype>(to - from));
            for (std::int64_t r = from; r < to; ++r)
                line.append(QPointF(X(r), Y(w.threshold[static_cast<std::size_t>(r - w.first)])));
            p.setPen(QPen(kThresholdColour, 1.2));
            p.drawPolyline(line);
        }
        if (!s.show_events) continue;
        p.setPen(Qt::NoPen);
        p.setBrush(kEventColour);
        for (std::int64_t r = from; r < to; ++r) {
            if (!w.events.test(static_cast<std::size_t>(r - w.first))) continue;
            ++events_in_view;
            const double x = X(r);
            const QPointF tri[3] = {QPointF(x, plot.top() + 9), QPointF(x - 4, plot.top() + 2),
                                    QPointF(x + 4, plot.top() + 2)};
            p.drawPolygon(tri, 3);
            const std::int16_t v = f.readings[static_cast<std::size_t>(r - f.first)];
            if (v != kNoReading) p.drawEllipse(QPointF(x, Y(v)), 2.5, 2.5);
        }
        p.setBrush(Qt::NoBrush);
    }

    // Frame, x labels (reading numbers), caption and legend.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(60, 60, 60));
    p.drawRect(plot);
    p.setPen(QColor(90, 90, 90));
    p.drawText(QRectF(plot.left(), plot.bottom() + 3, 120, 16), Qt::AlignLeft | Qt::AlignTop,
               QString::number(f.first + 1));
    p.drawText(QRectF(plot.right() - 120, plot.bottom() + 3, 120, 16),
               Qt::AlignRight | Qt::AlignTop, QString::number(f.first + span));
    p.drawText(QRectF(plot.left(), plot.bottom() + 3, plot.width(), 16),
               Qt::AlignHCenter | Qt::AlignTop, QString("reading (%1 in view)").arg(span));
    const QFont font = p.font();
    QFont bold = font;
    bold.setBold(true);
    p.setFont(bold);
    p.setPen(QColor(30, 30, 30));
    p.drawText(QRectF(plot.left(), area.top() + 2, plot.width(), 16),
               Qt::AlignLeft | Qt::AlignVCenter, s.caption);
    p.setFont(font);
    const QFontMetrics fm(font);
    std::vector<std::pair<QColor, QString>> keys = {{kSignalColour, "signal"}};
    if (s.show_threshold) keys.emplace_back(kThresholdColour, "threshold");
    if (s.show_events) keys.emplace_back(kEventColour, QString("%1 events").arg(events_in_view));
    double lw = 0;
    for (const auto& k : keys) lw += 15 + fm.horizontalAdvance(k.second) + 12;
    double x = plot.right() - lw + 12;
    for (const auto& [colour, text] : keys) {
        p.fillRect(QRectF(x, area.top() + 8, 12, 3), colour);
        x += 15;
        p.setPen(QColor(60, 60, 60));
        p.drawText(QRectF(x, area.top() + 2, 200, 16), Qt::AlignLeft | Qt::AlignVCenter, text);
        x += fm.horizontalAdvance(text) + 12;
    }
    p.restore();
}

SignalPlot::SignalPlot(QWidget* parent) : QWidget(parent) {
    setMinimumSize(320, 160);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

SignalPlot::~SignalPlot() {
    RenderInBackground(false);
}

void SignalPlot::RenderInBackground(bool on) {
    if (on == (render_thread_ != nullptr)) return;
    if (on) {
        render_thread_ = new QThread;
        render_thread_->setObjectName("signal_plot_render");
        renderer_ = new QObject;
        renderer_->moveToThread(render_thread_);
        render_thread_->start();
        // The thread was made by the window's thread and took its priority: drawing must
        // never compete with the sampling, so it runs at the normal priority.
        QMetaObject::invokeMethod(
            renderer_,
            [] {
                sched_param normal{};
                pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
            },
            Qt::QueuedConnection);
        RequestImage();
    } else {
        render_thread_->quit();
        render_thread_->wait();
        delete renderer_;
        delete render_thread_;
        renderer_ = nullptr;
        render_thread_ = nullptr;
        render_busy_ = false;
        render_again_ = false;
        image_ = QImage();
        update();
    }
}

void SignalPlot::RequestImage() {
    if (render_thread_ == nullptr) return;
    if (render_busy_) {
        render_again_ = true;
        return;
    }
    render_busy_ = true;
    const QSize size = this->size().expandedTo(QSize(1, 1));
    QMetaObject::invokeMethod(
        renderer_,
        [this, frame = frame_, settings = settings_, size] {
            QImage image(size, QImage::Format_ARGB32_Premultiplied);
            {
                QPainter p(&image);
                RenderSignalPlot(p, image.rect(), frame, settings);
            }
            // Back on the window's thread (dropped there when the plot is gone).
            QMetaObject::invokeMethod(
                this,
                [this, image = std::move(image)] {
                    image_ = image;
                    render_busy_ = false;
                    update();
                    if (render_again_) {
                        render_again_ = false;
                        RequestImage();
                    }
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void SignalPlot::SetSource(SignalSource* source) {
    source_ = source;
    Refresh();
}

void SignalPlot::SetChannel(std::size_t channel) {
    settings_.channel = std::min<std::size_t>(channel, kBeamChannelCount - 1);
    Refresh();
}

void SignalPlot::SetCaption(const QString& caption) {
    settings_.caption = caption;
    Refresh();
}

void SignalPlot::SetSpan(std::int64_t readings) {
    settings_.span =
        std::clamp<std::int64_t>(readings, kSignalSpans[0], std::end(kSignalSpans)[-1]);
    Refresh();
}

bool SignalPlot::ZoomIn() {
    for (auto it = std::rbegin(kSignalSpans); it != std::rend(kSignalSpans); ++it) {
        if (*it < settings_.span) {
            SetSpan(*it);
            return true;
        }
    }
    return false;
}

bool SignalPlot::ZoomOut() {
    for (std::int64_t s : kSignalSpans) {
        if (s > settings_.span) {
            SetSpan(s);
            return true;
        }
    }
    return false;
}

void SignalPlot::SetFirstReading(std::optional<std::int64_t> first) {
    settings_.first = first;
    Refresh();
}

void SignalPlot::SetZoomY(bool zoomed) {
    settings_.zoom_y = zoomed;
    Refresh();
}

void SignalPlot::Refresh() {
    if (source_ != nullptr) {
        frame_ = GatherSignalFrame(*source_, settings_);
    } else {
        frame_ = SignalFrame{};
    }
    if (render_thread_ != nullptr) {
        RequestImage();
    } else {
        update();
    }
}

void SignalPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (render_thread_ == nullptr) {
        RenderSignalPlot(p, rect(), frame_, settings_);
        return;
    }
    // The last picture drawn in the background; a new one follows when the size changed.
    if (image_.size() != size()) {
        p.fillRect(rect(), Qt::white);
        RequestImage();
    }
    p.drawImage(0, 0, image_);
}

void SignalPlot::wheelEvent(QWheelEvent* event) {
    // Ctrl + wheel zooms in time; the wheel alone scrolls a fifth of the span.
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0 || source_ == nullptr) return;
    if (event->modifiers() & Qt::ControlModifier) {
        if (steps > 0)
            ZoomIn();
        else
            ZoomOut();
    } else {
        const std::int64_t first =
            settings_.first.value_or(std::max<std::int64_t>(source_->ReadingCount() - span(), 0));
        const std::int64_t last_first = std::max<std::int64_t>(source_->ReadingCount() - span(), 0);
        const std::int64_t next =
            std::clamp<std::int64_t>(first - steps * span() / 5, 0, last_first);
        // Scrolling to the end of a live source follows the newest reading again.
        SetFirstReading(source_->Live() && next >= last_first ? std::nullopt : std::optional(next));
    }
    event->accept();
}

}  // namespace lumivo::app
