// The report window's "Rhythm and sleep" tab: the circadian and sleep views of the acquisition
// (actogram, periodogram, activity profile, inactivity bouts, cosinor, rest-activity indices,
// onsets and offsets) painted from the same shapes the
// core writes as SVG (reporting/rhythm/rhythm_chart.h), with the view's long-format table below and
// the light schedule and notes of the data above it. "Save" writes the picture and table into the
// acquisition folder as `lumivo-cli plot` does.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/panels/scene_view.h"
#include "core/reporting/rhythm/rhythm_run.h"
#include "core/storage/storage_context.h"

namespace lumivo::app {

class RhythmTab : public QWidget {
    Q_OBJECT
  public:
    // `folder` gives the acquisition folder the window shows at the time of asking.
    RhythmTab(StorageContext& storage, std::function<std::filesystem::path()> folder,
              QWidget* parent = nullptr);

    // "Show": reads the folder again and draws the chosen view; false (the reason in the info
    // line) when it cannot.
    bool Cmd_show_Click();
    // "Save": the view's SVG and CSV into the acquisition folder, named in the info line; the
    // picture is opened with `open_file` when it can be.
    void Cmd_save_Click();
    // Enables the controls the chosen view uses.
    void Cmb_view_Click();
    // Another organism's sleep rule: the bout length becomes that organism's.
    void Cmb_sleeprule_Click();
    // The window was opened for another acquisition (or again): the view and table of the one
    // before go, and the tab draws the new one when it is looked at.
    void FolderChanged();

    // Opens a written file with the desktop's application; false when nothing could.
    std::function<bool(const std::filesystem::path&)> open_file;

    // The request the controls make.
    reporting::PlotRequest Request() const;
    // What is shown: the scene, the table's header and row count, the info line.
    const reporting::ChartScene& scene() const { return pane_->scene(); }
    const std::vector<std::string>& table_header() const { return pane_->table_header(); }
    std::size_t table_rows() const { return pane_->table_rows(); }
    std::string info() const { return pane_->info(); }

    // Controls, for the window's tests.
    QComboBox* view_box() const { return Cmb_view; }
    QComboBox* series_box() const { return Cmb_series; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void FillSeries(const reporting::RhythmData& rhythm);
    // Request(), without the choices that belong to another acquisition than the one shown.
    reporting::PlotRequest RequestForFolder() const;
    void SetSleepRule(reporting::Organism organism);

    StorageContext& storage_;
    std::function<std::filesystem::path()> folder_;
    std::filesystem::path series_folder_;  // the folder whose groups and wells Cmb_series lists

    QComboBox* Cmb_view;
    QComboBox* Cmb_series;
    QSpinBox* Spin_bin;
    QCheckBox* Chk_double;
    QDoubleSpinBox* Spin_rowperiod;
    QComboBox* Cmb_method;
    QComboBox* Cmb_peak;
    QDoubleSpinBox* Spin_periodmin;
    QDoubleSpinBox* Spin_periodmax;
    QDoubleSpinBox* Spin_cosperiod;
    QCheckBox* Chk_cospeak;
    QDoubleSpinBox* Spin_smooth;
    QComboBox* Cmb_sleeprule;
    QDoubleSpinBox* Spin_boutmin;
    QDoubleSpinBox* Spin_deadhours;
    QCheckBox* Chk_keepdead;
    QPushButton* Cmd_show;
    QPushButton* Cmd_save;
    std::unique_ptr<ViewPane> pane_;
};

}  // namespace lumivo::app
