#include "app/panels/scene_view.h"

#include <QFontMetricsF>
#include <QHeaderView>
#include <QPainter>
#include <QRegularExpression>
#include <QSplitter>
#include <algorithm>

#include "app/support/qt_dialogs.h"
#include "app/support/widget_helpers.h"

namespace lumivo::app {

using namespace lumivo::reporting;

namespace {

QColor SceneColour(const std::string& colour, double opacity = 1.0) {
    QColor c(QString::fromStdString(colour));
    c.setAlphaF(static_cast<float>(std::clamp(opacity, 0.0, 1.0)));
    return c;
}

void ApplyStyle(QPainter& p, const SceneStyle& s) {
    if (s.fill == "none")
        p.setBrush(Qt::NoBrush);
    else
        p.setBrush(SceneColour(s.fill, s.fill_opacity));
    if (s.stroke == "none") {
        p.setPen(Qt::NoPen);
        return;
    }
    QPen pen(SceneColour(s.stroke), s.stroke_width);
    if (!s.dash.empty()) {
        // An SVG dash array: lengths apart by spaces or commas.
        QList<qreal> pattern;
        for (const QString& part :
             QString::fromStdString(s.dash).split(QRegularExpression("[ ,]"), Qt::SkipEmptyParts))
            pattern.append(part.toDouble() / std::max(s.stroke_width, 0.1));
        pen.setDashPattern(pattern);
    }
    p.setPen(pen);
}

struct ScenePainter {
    QPainter& p;
    QFont base;

    void operator()(const SceneRect& r) const {
        ApplyStyle(p, r.style);
        p.drawRect(QRectF(r.x, r.y, r.width, r.height));
    }
    void operator()(const ScenePath& path) const {
        if (path.points.empty()) return;
        ApplyStyle(p, path.style);
        QPolygonF poly;
        for (const ScenePoint& pt : path.points) poly << QPointF(pt.x, pt.y);
        if (path.closed) {
            p.drawPolygon(poly);
        } else {
            p.setBrush(Qt::NoBrush);
            p.drawPolyline(poly);
        }
    }
    void operator()(const SceneText& t) const {
        QFont f = base;
        f.setPixelSize(std::max(1, static_cast<int>(t.size + 0.5)));
        f.setBold(t.bold);
        p.setFont(f);
        p.setPen(SceneColour(t.colour));
        const QString text = QString::fromStdString(t.text);
        const double width = QFontMetricsF(f).horizontalAdvance(text);
        const double dx = t.anchor == TextAnchor::Start    ? 0.0
                          : t.anchor == TextAnchor::Middle ? -width / 2
                                                           : -width;
        p.save();
        p.translate(t.x, t.y);
        if (t.rotate != 0.0) p.rotate(t.rotate);
        p.drawText(QPointF(dx, 0), text);
        p.restore();
    }
};

}  // namespace

SceneView::SceneView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(480, 280);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void SceneView::SetScene(ChartScene scene) {
    scene_ = std::move(scene);
    update();
}

QSize SceneView::sizeHint() const {
    return QSize(static_cast<int>(scene_.width), static_cast<int>(scene_.height));
}

void SceneView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (scene_.items.empty() || scene_.width <= 0 || scene_.height <= 0) return;
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    // The whole scene in the widget, its proportions kept, centred.
    const double scale = std::min(width() / scene_.width, height() / scene_.height);
    p.translate((width() - scene_.width * scale) / 2, (height() - scene_.height * scale) / 2);
    p.scale(scale, scale);
    const ScenePainter painter{p, font()};
    for (const SceneItem& item : scene_.items) std::visit(painter, item.shape);
}

CsvTableModel::CsvTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void CsvTableModel::SetCsv(const std::string& text) {
    beginResetModel();
    header_.clear();
    rows_.clear();
    std::vector<std::string> fields(1);
    bool quoted = false;
    auto end_line = [&] {
        if (!(fields.size() == 1 && fields[0].empty())) {
            if (header_.empty())
                header_ = std::move(fields);
            else
                rows_.push_back(std::move(fields));
        }
        fields.assign(1, std::string());
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c == '\n') {
            end_line();
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    end_line();
    endResetModel();
}

int CsvTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CsvTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(header_.size());
}

QVariant CsvTableModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    const auto& row = rows_[static_cast<std::size_t>(index.row())];
    const auto col = static_cast<std::size_t>(index.column());
    return col < row.size() ? QString::fromStdString(row[col]) : QString();
}

QVariant CsvTableModel::headerData(int section, Qt::Orientation o, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (o == Qt::Vertical) return section + 1;
    const auto col = static_cast<std::size_t>(section);
    return col < header_.size() ? QString::fromStdString(header_[col]) : QString();
}

ViewPane::ViewPane(QWidget* owner, QVBoxLayout* layout, const char* info_name,
                   const char* table_name) {
    info_ = Named(new QLabel(owner), info_name);
    info_->setWordWrap(true);
    info_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(info_);
    auto* split = new QSplitter(Qt::Vertical, owner);
    scene_view_ = Named(new SceneView(split), "scene_view");
    table_ = Named(new QTableView(split), table_name);
    model_ = new CsvTableModel(table_);
    table_->setModel(model_);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->verticalHeader()->setDefaultSectionSize(20);
    split->addWidget(scene_view_);
    split->addWidget(table_);
    // The picture takes most of the height: it can hold a dozen small charts.
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    layout->addWidget(split, 1);
}

void ViewPane::Show(ChartScene scene, const std::string& table, const std::string& info) {
    info_->setText(ToQ(info));
    scene_view_->SetScene(std::move(scene));
    model_->SetCsv(table);
}

void ViewPane::Clear(const std::string& info) {
    scene_view_->SetScene({});
    model_->SetCsv({});
    info_->setText(ToQ(info));
}

void ViewPane::SetInfo(const std::string& info) {
    info_->setText(ToQ(info));
}

void ViewPane::ShowWritten(bool written, const std::string& failure,
                           const std::filesystem::path& svg, const std::filesystem::path& csv,
                           bool opened) {
    if (!written) {
        SetInfo("Not written: " + failure);
        return;
    }
    SetInfo("Written: " + svg.string() + " and " + csv.filename().string() +
            (opened ? " (opened)" : " (no application could open it)"));
}

}  // namespace lumivo::app
