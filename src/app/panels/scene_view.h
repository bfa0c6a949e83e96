// What the report window's analysis tabs show: a chart scene (reporting/report/chart_scene.h)
// painted scaled to the widget, and a long-format CSV table as a read-only model.
#pragma once

#include <QAbstractTableModel>
#include <QLabel>
#include <QTableView>
#include <QVBoxLayout>
#include <QWidget>
#include <filesystem>
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

// The lower part of an analysis tab: an info line, and below it the picture over its table in
// a splitter that gives the picture most of the height. Its widgets are the owner's children.
class ViewPane final {
  public:
    ViewPane(QWidget* owner, QVBoxLayout* layout, const char* info_name, const char* table_name);

    void Show(reporting::ChartScene scene, const std::string& table, const std::string& info);
    // Nothing shown, the info line saying `info`.
    void Clear(const std::string& info = {});
    void SetInfo(const std::string& info);
    // What "Save" did: "Written: <picture> and <table> (opened)", or "Not written: <why>".
    void ShowWritten(bool written, const std::string& failure, const std::filesystem::path& svg,
                     const std::filesystem::path& csv, bool opened);

    const reporting::ChartScene& scene() const { return scene_view_->scene(); }
    const std::vector<std::string>& table_header() const { return model_->header(); }
    std::size_t table_rows() const { return static_cast<std::size_t>(model_->rowCount()); }
    std::string info() const { return info_->text().toStdString(); }

  private:
    QLabel* info_;
    SceneView* scene_view_;
    QTableView* table_;
    CsvTableModel* model_;
};

}  // namespace lumivo::app
