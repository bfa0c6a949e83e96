// What the report window's analysis tabs show: a chart scene (reporting/report/chart_scene.h)
// painted scaled to the widget, and a long-format CSV table as a read-only model.
#pragma once

#include <QAbstractTableModel>
#include <QWidget>
#include <string>
#include <vector>

#include "core/reporting/report/chart_scene.h"

namespace lumivo::app {

// Paints a chart scene scaled to the widget, keeping its proportions.
class SceneView : public QWidget {
    Q_OBJECT
  public:
    explicit SceneView(QWidget* parent = nullptr);
    void SetScene(reporting::ChartScene scene);
    const reporting::ChartScene& scene() const { return scene_; }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    reporting::ChartScene scene_;
};

// A long-format CSV table (a header line, CR LF lines, RFC 4180 quoting) as a read-only model.
class CsvTableModel final : public QAbstractTableModel {
  public:
    explicit CsvTableModel(QObject* parent = nullptr);
    void SetCsv(const std::string& text);
    const std::vector<std::string>& header() const { return header_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

  private:
    std::vector<std::string> header_;
    std::vector<std::vector<std::string>> rows_;
};

}  // namespace lumivo::app
