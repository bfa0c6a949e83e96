// The group editor of the offline browser, `Framegrup`: the wells of a recorded acquisition
// regrouped after the fact on the plate picture the setup window uses. A group is chosen in
// `combogrup2`; `lstgrup2` lists its wells and `lstchgrup2` the free ones (a double click moves a
// well across); a left-button drag over the plate puts the wells into the group, a right-button
// drag frees them. `Combo_sets` with `cmd_goset` starts from the groups as recorded or from the
// project's current groups. "Save groups" writes the acquisition's own group files (which its
// reports use; the recorded files are kept), "Groups as recorded" puts those back, and
// `cmdcancelgrups` ("EXIT Group Edition") leaves, asking first about unsaved changes. The
// operations are the core's (offline/acquisition_groups.h, setup/plate_groups.h).
#pragma once

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <filesystem>
#include <optional>

#include "app/plots/plate_view.h"
#include "core/offline/acquisition_groups.h"
#include "core/storage/storage_context.h"

namespace lumivo::app {

class OfflineGroupEditor : public QGroupBox {
    Q_OBJECT
  public:
    OfflineGroupEditor(StorageContext& storage, QWidget* parent = nullptr);

    // Opens the editor on an acquisition folder; false (after a message) when it cannot.
    bool Open(const std::filesystem::path& folder);
    bool is_open() const { return open_; }
    const offline::AcquisitionGroupEditor& editor() const { return editor_; }

    // Handlers.
    void combogrup2_Click();
    void cmd_renamegroup_Click();
    void lstchgrup2_DblClick();
    void lstgrup2_DblClick();
    void Picwell2_Rectangle(WellCell from, WellCell to, Qt::MouseButton button);
    void cmd_goset_Click();
    void cmd_savegroups_Click();
    void cmd_recordedgroups_Click();
    // "EXIT Group Edition": true when the editor was left (the changes saved or discarded).
    bool cmdcancelgrups_Click();

    // The group chosen in `combogrup2`, if any.
    std::optional<int> SelectedGroup() const;

  signals:
    // The editor was left.
    void closed();

  private:
    // Rebuilds `combogrup2` (keeping the chosen group), both well lists, the picture and the
    // save state.
    void Refresh();

    StorageContext& storage_;
    offline::AcquisitionGroupEditor editor_;
    bool open_ = false;

    QLabel* lbl_groupfolder;
    QComboBox* combogrup2;
    QPushButton* cmd_renamegroup;
    QListWidget* lstgrup2;
    QListWidget* lstchgrup2;
    QComboBox* Combo_sets;
    QPushButton* cmd_goset;
    QPushButton* cmd_savegroups;
    QPushButton* cmd_recordedgroups;
    QPushButton* cmdcancelgrups;
    PlateView* Picwell2;
};

}  // namespace lumivo::app
