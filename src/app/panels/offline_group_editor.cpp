#include "app/panels/offline_group_editor.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/support/qt_dialogs.h"
#include "app/support/widget_helpers.h"
#include "core/setup/plate_groups.h"

namespace lumivo::app {

namespace fs = std::filesystem;
using namespace lumivo::offline;

namespace {

void FillList(QListWidget* list, const std::vector<std::string>& labels) {
    list->clear();
    for (const auto& label : labels) list->addItem(ToQ(label));
}

std::string CurrentLabel(const QListWidget* list) {
    const QListWidgetItem* item = list->currentItem();
    return item == nullptr ? std::string() : FromQ(item->text());
}

}  // namespace

OfflineGroupEditor::OfflineGroupEditor(StorageContext& storage, QWidget* parent)
    : QGroupBox("Group edition", parent), storage_(storage) {
    setObjectName("Framegrup");
    auto* root = new QHBoxLayout(this);
    Picwell2 = Named(new PlateView(editor_.plate, editor_.project, this), "Picwell2");
    Picwell2->setToolTip(
        "Left button: drag over wells to put them into the group; right button: free them");
    root->addWidget(Picwell2, 1);

    auto* side_widget = new QWidget(this);
    side_widget->setFixedWidth(300);
    auto* side = new QGridLayout(side_widget);
    side->setContentsMargins(0, 0, 0, 0);
    lbl_groupfolder = Named(new QLabel(side_widget), "lbl_groupfolder");
    lbl_groupfolder->setWordWrap(true);
    side->addWidget(lbl_groupfolder, 0, 0, 1, 2);
    Combo_sets = Named(new QComboBox(side_widget), "Combo_sets");
    cmd_goset = Button(side_widget, "cmd_goset", "Take");
    cmd_goset->setToolTip("Start from the grouping chosen beside (nothing is saved yet)");
    side->addWidget(Combo_sets, 1, 0);
    side->addWidget(cmd_goset, 1, 1);
    combogrup2 = Named(new QComboBox(side_widget), "combogrup2");
    combogrup2->setEditable(true);
    combogrup2->setInsertPolicy(QComboBox::NoInsert);
    combogrup2->lineEdit()->setPlaceholderText("group number 000..383");
    cmd_renamegroup = Button(side_widget, "cmd_renamegroup", "Rename...");
    side->addWidget(combogrup2, 2, 0);
    side->addWidget(cmd_renamegroup, 2, 1);
    side->addWidget(new QLabel("Wells of the group:", side_widget), 3, 0);
    side->addWidget(new QLabel("Free wells:", side_widget), 3, 1);
    lstgrup2 = Named(new QListWidget(side_widget), "lstgrup2");
    lstchgrup2 = Named(new QListWidget(side_widget), "lstchgrup2");
    lstgrup2->setToolTip("Double click frees the well");
    lstchgrup2->setToolTip("Double click puts the well into the group");
    side->addWidget(lstgrup2, 4, 0);
    side->addWidget(lstchgrup2, 4, 1);
    side->setRowStretch(4, 1);
    cmd_savegroups = Button(side_widget, "cmd_savegroups", "Save groups");
    cmd_savegroups->setToolTip(
        "Write these groups into the acquisition; its reports use them (the groups as recorded "
        "are kept)");
    cmd_recordedgroups = Button(side_widget, "cmd_recordedgroups", "Groups as recorded");
    cmd_recordedgroups->setToolTip("Put the groups the acquisition was recorded with back");
    cmdcancelgrups = Button(side_widget, "cmdcancelgrups", kExitGroupEditionCaption);
    side->addWidget(cmd_savegroups, 5, 0);
    side->addWidget(cmd_recordedgroups, 5, 1);
    side->addWidget(cmdcancelgrups, 6, 0, 1, 2);
    root->addWidget(side_widget);

    ConnectClicks(this, {{cmd_renamegroup, &OfflineGroupEditor::cmd_renamegroup_Click},
                         {cmd_goset, &OfflineGroupEditor::cmd_goset_Click},
                         {cmd_savegroups, &OfflineGroupEditor::cmd_savegroups_Click},
                         {cmd_recordedgroups, &OfflineGroupEditor::cmd_recordedgroups_Click}});
    connect(cmdcancelgrups, &QPushButton::clicked, this, [this] { cmdcancelgrups_Click(); });
    connect(combogrup2, &QComboBox::currentIndexChanged, this, [this] { combogrup2_Click(); });
    connect(combogrup2, &QComboBox::editTextChanged, this, [this] { combogrup2_Click(); });
    connect(lstchgrup2, &QListWidget::itemDoubleClicked, this, [this] { lstchgrup2_DblClick(); });
    connect(lstgrup2, &QListWidget::itemDoubleClicked, this, [this] { lstgrup2_DblClick(); });
    connect(Picwell2, &PlateView::rectangleChosen, this, &OfflineGroupEditor::Picwell2_Rectangle);
}

bool OfflineGroupEditor::Open(const fs::path& folder) {
    std::optional<AcquisitionGroupEditor> opened = OpenGroupEditor(storage_, folder);
    if (!opened) return false;
    editor_ = std::move(*opened);
    open_ = true;
    lbl_groupfolder->setText(ToQ("Groups of " + folder.parent_path().filename().string() + "/" +
                                 folder.filename().string() + " " +
                                 PlateLayoutCaption(editor_.plate)));
    {
        const QSignalBlocker quiet(Combo_sets);
        Combo_sets->clear();
        for (const auto& choice : GroupSetChoices(storage_, editor_))
            Combo_sets->addItem(ToQ(choice));
    }
    combogrup2->clear();
    Refresh();
    return true;
}

std::optional<int> OfflineGroupEditor::SelectedGroup() const {
    return GroupOfEntry(FromQ(combogrup2->currentText()));
}

void OfflineGroupEditor::Refresh() {
    const std::optional<int> chosen = SelectedGroup();
    const QString typed = combogrup2->currentText();
    {
        const QSignalBlocker quiet(combogrup2);
        combogrup2->clear();
        // The list names a group in use that is still called "Free" "Group<n>"; on a copy, so
        // that showing the groups is not an edit that asks to be saved.
        ProjectState shown = editor_.project;
        for (const auto& entry : RebuildGroupList(shown)) combogrup2->addItem(ToQ(entry));
        int at = -1;
        for (int i = 0; chosen && i < combogrup2->count(); ++i)
            if (GroupOfEntry(FromQ(combogrup2->itemText(i))) == chosen) at = i;
        if (at < 0 && chosen)
            combogrup2->setEditText(typed);  // a group typed in that has no wells yet
        else
            combogrup2->setCurrentIndex(at >= 0 ? at : (combogrup2->count() > 0 ? 0 : -1));
    }
    combogrup2_Click();
    cmd_savegroups->setEnabled(GroupsEdited(editor_));
    cmd_recordedgroups->setEnabled(HasRecordedGroups(storage_, editor_.folder));
}

void OfflineGroupEditor::combogrup2_Click() {
    const std::optional<int> group = SelectedGroup();
    FillList(lstgrup2, group ? WellEntriesOfGroup(editor_.project, editor_.plate, *group)
                             : std::vector<std::string>{});
    FillList(lstchgrup2, WellEntriesOfGroup(editor_.project, editor_.plate, kFreeGroup));
    Picwell2->SetSelectedGroup(group);
    Picwell2->update();
}

void OfflineGroupEditor::cmd_renamegroup_Click() {
    const std::optional<int> group = SelectedGroup();
    if (group && RenameGroup(storage_.dialogs, editor_.project, *group)) Refresh();
}

void OfflineGroupEditor::lstchgrup2_DblClick() {
    const std::optional<int> group = SelectedGroup();
    if (group && MoveWellEntry(editor_.project, editor_.plate, CurrentLabel(lstchgrup2), *group))
        Refresh();
}

void OfflineGroupEditor::lstgrup2_DblClick() {
    if (MoveWellEntry(editor_.project, editor_.plate, CurrentLabel(lstgrup2), kFreeGroup))
        Refresh();
}

void OfflineGroupEditor::Picwell2_Rectangle(WellCell from, WellCell to, Qt::MouseButton button) {
    const std::optional<int> chosen = SelectedGroup();
    if (button == Qt::LeftButton && !chosen) return;  // no group to put the wells into
    const int group = button == Qt::LeftButton ? *chosen : kFreeGroup;
    if (AssignRectangle(editor_.project, editor_.plate, from, to, group) > 0) Refresh();
}

void OfflineGroupEditor::cmd_goset_Click() {
    const int index = Combo_sets->currentIndex();
    if (index >= 0 && ApplyGroupSet(storage_, editor_, static_cast<std::size_t>(index))) Refresh();
}

void OfflineGroupEditor::cmd_savegroups_Click() {
    (void)RebuildGroupList(editor_.project);  // the saved names are the names the list shows
    if (SaveAcquisitionGroups(storage_, editor_)) Refresh();
}

void OfflineGroupEditor::cmd_recordedgroups_Click() {
    if (storage_.dialogs.MessageBox("Put the groups " + editor_.folder.filename().string() +
                                        " was recorded with back? The groups saved since are "
                                        "replaced.",
                                    MsgButtons::YesNo) != MsgResult::Yes)
        return;
    if (RestoreRecordedGroups(storage_, editor_)) Refresh();
}

bool OfflineGroupEditor::cmdcancelgrups_Click() {
    if (open_ && !CloseGroupEditor(storage_, editor_)) return false;
    open_ = false;
    emit closed();
    return true;
}

}  // namespace lumivo::app
