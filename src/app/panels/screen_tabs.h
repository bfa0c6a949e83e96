// The report window's "Compare" and "Dose-response" tabs: the group comparisons and the
// dose-response curves of the acquisition's plate map (reporting/compare), on this plate and
// any replicate plates added to it, painted from the same shapes the core writes as SVG, with
// the long-format table below and what the data lack above. "Save" writes the picture and the
// table into the acquisition folder as `lumivo-cli stats` and `lumivo-cli dose` do.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/panels/scene_view.h"
#include "core/reporting/compare/compare_stats.h"
#include "core/reporting/compare/dose_response.h"
#include "core/storage/storage_context.h"

namespace lumivo::app {

// What both tabs share: the plates, the interval, the endpoint and the wells left out; the
// picture, the table and the info line; "Show" and "Save".
class ScreenTab : public QWidget {
    Q_OBJECT
  public:
    // `folder` gives the acquisition folder the window shows at the time of asking.
    ScreenTab(StorageContext& storage, std::function<std::filesystem::path()> folder,
              const char* object_name, QWidget* parent = nullptr);

    // "Show": reads the plates again and draws; false (the reason in the info line) when it
    // cannot.
    bool Cmd_show_Click();
    // "Save": the SVG and CSV into the acquisition folder, named in the info line; the picture
    // is opened with `open_file` when it can be.
    void Cmd_save_Click();
    // "Add plates...": replicate plates (acquisition folders) pooled with this one.
    void AddPlates(const std::vector<std::filesystem::path>& folders);
    void FolderChanged();

    std::function<bool(const std::filesystem::path&)> open_file;
    // Asks for the folders of further plates (the window's file dialog); empty when cancelled.
    std::function<std::vector<std::filesystem::path>()> choose_plates;

    reporting::ScreenRequest ScreenPart() const;
    const reporting::ChartScene& scene() const { return scene_view_->scene(); }
    const std::vector<std::string>& table_header() const { return model_->header(); }
    std::size_t table_rows() const { return static_cast<std::size_t>(model_->rowCount()); }
    std::string info() const { return lbl_info_->text().toStdString(); }

    QDoubleSpinBox* from_box() const { return Spin_from; }
    QDoubleSpinBox* to_box() const { return Spin_to; }
    QComboBox* measure_box() const { return Cmb_measure; }

  protected:
    struct Shown {
        reporting::ChartScene scene;
        std::string table;
        std::vector<std::string> notes;
        std::vector<std::string> groups;  // the groups the plates hold, for the control box
    };
    // The tab's own computation and writing.
    virtual std::optional<Shown> Compute(std::string* failure) = 0;
    virtual reporting::CompareOutcome Write() = 0;
    virtual void GroupsKnown(const std::vector<std::string>& /*groups*/) {}
    // The tab's own controls go into this grid's row 3 and on.
    QGridLayout* grid() const { return grid_; }
    void showEvent(QShowEvent* event) override;

    StorageContext& storage_;

  private:
    std::vector<std::filesystem::path> Folders() const;

    std::function<std::filesystem::path()> folder_;
    std::filesystem::path shown_folder_;
    std::vector<std::filesystem::path> more_plates_;

    QGridLayout* grid_;
    QDoubleSpinBox* Spin_from;
    QDoubleSpinBox* Spin_to;
    QSpinBox* Spin_afterpause;
    QComboBox* Cmb_measure;
    QDoubleSpinBox* Spin_basalfrom;
    QDoubleSpinBox* Spin_basalto;
    QDoubleSpinBox* Spin_paralysis;
    QSpinBox* Spin_bin;
    QDoubleSpinBox* Spin_deadhours;
    QCheckBox* Chk_keepdead;
    QLabel* lbl_plates_;
    QPushButton* Cmd_addplates;
    QPushButton* Cmd_show;
    QPushButton* Cmd_save;
    QLabel* lbl_info_;
    SceneView* scene_view_;
    QTableView* table_;
    CsvTableModel* model_;
};

class CompareTab final : public ScreenTab {
    Q_OBJECT
  public:
    CompareTab(StorageContext& storage, std::function<std::filesystem::path()> folder,
               QWidget* parent = nullptr);
    reporting::StatsRequest Request() const;
    QComboBox* test_box() const { return Cmb_test; }
    QComboBox* control_box() const { return Cmb_control; }
    QCheckBox* per_bin_box() const { return Chk_perbin; }

  private:
    std::optional<Shown> Compute(std::string* failure) override;
    reporting::CompareOutcome Write() override;
    void GroupsKnown(const std::vector<std::string>& groups) override;

    QComboBox* Cmb_grouping;
    QComboBox* Cmb_control;
    QComboBox* Cmb_test;
    QComboBox* Cmb_adjust;
    QCheckBox* Chk_perbin;
};

class DoseTab final : public ScreenTab {
    Q_OBJECT
  public:
    DoseTab(StorageContext& storage, std::function<std::filesystem::path()> folder,
            QWidget* parent = nullptr);
    reporting::DoseRequest Request() const;
    QComboBox* normalise_box() const { return Cmb_normalise; }
    QCheckBox* over_time_box() const { return Chk_overtime; }

  private:
    std::optional<Shown> Compute(std::string* failure) override;
    reporting::CompareOutcome Write() override;

    QComboBox* Cmb_normalise;
    QComboBox* Cmb_model;
    QCheckBox* Chk_overtime;
};

}  // namespace lumivo::app
