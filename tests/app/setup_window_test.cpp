// The project setup window Frm_setup driven with Qt Test on the offscreen platform: a project is
// created, wells are assigned with the mouse on the plate picture, the project is saved and
// reloaded into a second window; the parameter boxes, lists, arrangement menu, plate-format
// change and the hand-overs to the other windows; the plate map (wells.csv) edited on the
// picture, with the dilution helper, imported and exported, saved with the project.
#include <gtest/gtest.h>

#include <QTest>

#include "app/support/qt_dialogs.h"
#include "app/windows/frm_setup.h"
#include "app_test_support.h"
#include "core/setup/plate_groups.h"
#include "core/storage/installation.h"

namespace lumivo::app {
namespace {

using namespace testing;

const std::filesystem::path kInst = "/inst";

// One program's worth of state around the window, on an in-memory installation folder.
struct SetupRig {
    explicit SetupRig(MemoryFileSystem& fs, lumivo::testing::ScriptedDialogs& d)
        : files(fs), dialogs(d) {
        LoadConfig(storage, state.config);
        window.ShowToolPanels = [this](bool c, bool l, bool t) { panels.push_back({c, l, t}); };
        window.ShowMainWindow = [this] { handed_over.push_back("main"); };
        window.ConnectInstrument = [this] { handed_over.push_back("connect"); };
        window.ShowLauncher = [this] { handed_over.push_back("launcher"); };
        window.Form_Load(true);
        window.show();
        QApplication::processEvents();
    }

    QApplication& app = TestApplication();  // before any widget
    MemoryFileSystem& files;
    lumivo::testing::ScriptedDialogs& dialogs;
    StorageContext storage{kInst, dialogs, files};
    AppState state;
    Frm_setup window{storage, state};
    std::vector<std::array<bool, 3>> panels;
    std::vector<std::string> handed_over;

    std::vector<std::string> Items(QListWidget* list) const {
        std::vector<std::string> out;
        for (int i = 0; i < list->count(); ++i) out.push_back(FromQ(list->item(i)->text()));
        return out;
    }
    std::vector<std::string> Items(QComboBox* combo) const {
        std::vector<std::string> out;
        for (int i = 0; i < combo->count(); ++i) out.push_back(FromQ(combo->itemText(i)));
        return out;
    }
    void Drag(Qt::MouseButton button, QPoint from, QPoint to) {
        PlateView* pic = window.Picwell;
        QTest::mousePress(pic, button, {}, from);
        QTest::mouseMove(pic, (from + to) / 2);
        QTest::mouseMove(pic, to);
        EXPECT_TRUE(pic->rubber_band_active());
        QTest::mouseRelease(pic, button, {}, to);
        EXPECT_FALSE(pic->rubber_band_active());
    }
    void TypeGroup(const char* text) {
        window.combogrup->lineEdit()->selectAll();
        QTest::keyClicks(window.combogrup->lineEdit(), text);
    }
    void Enter(QWidget* w) { QTest::keyClick(w, Qt::Key_Return); }
    void Type(QLineEdit* box, const char* text) {
        box->selectAll();
        box->del();
        QTest::keyClicks(box, text);
    }
    // The plate map's table as the user reads it: one line per row, cells joined by "|".
    std::vector<std::string> WellTable() const {
        std::vector<std::string> out;
        QTableWidget* t = window.tbl_wells;
        for (int r = 0; r < t->rowCount(); ++r) {
            std::string line;
            for (int c = 0; c < t->columnCount(); ++c)
                line += (c > 0 ? "|" : "") + t->item(r, c)->text().toStdString();
            out.push_back(line);
        }
        return out;
    }
};

struct Installation {
    Installation() {
        files.CreateFolders(kInst);
        EnsureInstallation(files, kInst);
    }
    MemoryFileSystem files;
    lumivo::testing::ScriptedDialogs dialogs;
};

TEST(SetupWindow, CreateAssignWithTheMouseSaveAndReload) {
    Installation inst;
    std::array<std::int16_t, kChannelTableSize> saved_groups{};
    {
        SetupRig r(inst.files, inst.dialogs);
        Frm_setup& w = r.window;
        EXPECT_EQ(FromQ(w.txtprj->text()), "0_Default");
        EXPECT_EQ(FromQ(w.Combowell->currentText()), "w96f");
        EXPECT_TRUE(r.Items(w.List_project).empty());

        // New project.
        inst.dialogs.QueueAnswer(MsgResult::Ok);
        inst.dialogs.QueueInput("Mouse plate");
        QTest::mouseClick(w.Cmdnewpj, Qt::LeftButton);
        EXPECT_EQ(FromQ(w.txtprj->text()), "1_Mouse plate");
        EXPECT_EQ(FromQ(w.Txtfolder->text()), "/inst/p00001");
        EXPECT_EQ(r.Items(w.List_project), (std::vector<std::string>{"p00001_Mouse plate"}));

        // Clear, then choose group 2 by typing it.
        inst.dialogs.QueueAnswer(MsgResult::Yes);
        QTest::mouseClick(w.Cmd_clear, Qt::LeftButton);
        EXPECT_EQ(inst.dialogs.Messages().back(), "Do you like to Clear Group lists?");
        EXPECT_EQ(w.combogrup->count(), 0);
        EXPECT_EQ(w.lstchgrup->count(), 96);
        r.TypeGroup("002");
        EXPECT_EQ(w.SelectedGroup(), 2);

        // Left drag from A1 to C4: twelve wells, two beams each.
        PlateView* pic = w.Picwell;
        r.Drag(Qt::LeftButton, pic->WellCentre({0, 0}), pic->WellCentre({3, 2}));
        EXPECT_EQ(FromQ(w.combogrup->currentText()), "002_Group2");
        EXPECT_EQ(r.Items(w.combogrup),
                  (std::vector<std::string>{"000_Free", "001_Free", "002_Group2"}));
        // The lists name wells: the beams of a well move together.
        EXPECT_EQ(w.lstgrup->count(), 12);
        EXPECT_EQ(FromQ(w.lstgrup->item(0)->text()), "A1");
        EXPECT_EQ(w.lstchgrup->count(), 96 - 12);

        // Right button frees B2 again.
        r.Drag(Qt::RightButton, pic->WellCentre({1, 1}), pic->WellCentre({1, 1}));
        EXPECT_EQ(w.lstgrup->count(), 11);

        // Released far beyond the plate (over the legend): the rectangle stops at H12.
        r.Drag(Qt::LeftButton, pic->WellCentre({10, 6}),
               QPoint(pic->width() - 2, pic->height() - 2));
        EXPECT_EQ(w.lstgrup->count(), 15);
        const auto labels = r.Items(w.lstgrup);
        EXPECT_EQ(labels.back(), "H12");

        // A press beside the plate starts nothing.
        QTest::mousePress(pic, Qt::LeftButton, {}, QPoint(pic->width() - 2, 2));
        EXPECT_FALSE(pic->rubber_band_active());
        QTest::mouseRelease(pic, Qt::LeftButton, {}, QPoint(pic->width() - 2, 2));
        EXPECT_EQ(w.lstgrup->count(), 15);

        inst.dialogs.QueueAnswer(MsgResult::Yes);
        QTest::mouseClick(w.Cmdsavepj, Qt::LeftButton);
        EXPECT_EQ(inst.dialogs.Messages().back(), "Do you like to Update <1_Mouse plate> values?");
        saved_groups = r.state.project.ChannelGroup;
        EXPECT_TRUE(inst.dialogs.AllAnswersUsed());
    }
    // A second window on a fresh program state loads the saved project.
    SetupRig again(inst.files, inst.dialogs);
    EXPECT_EQ(FromQ(again.window.txtprj->text()), "1_Mouse plate");
    EXPECT_EQ(again.state.project.ChannelGroup, saved_groups);
    again.TypeGroup("002");
    EXPECT_EQ(again.window.lstgrup->count(), 15);
    EXPECT_EQ(again.Items(again.window.combogrup),
              (std::vector<std::string>{"000_Free", "001_Free", "002_Group2"}));
}

TEST(SetupWindow, PlateMapChosenOnThePictureTypedAppliedFilledAndSaved) {
    Installation inst;
    const std::string wells_file = "/inst/p00001/wells.csv";
    {
        SetupRig r(inst.files, inst.dialogs);
        Frm_setup& w = r.window;
        inst.dialogs.QueueAnswer(MsgResult::Ok);
        inst.dialogs.QueueInput("Doses");
        QTest::mouseClick(w.Cmdnewpj, Qt::LeftButton);
        const auto groups = r.state.project.ChannelGroup;

        // In the plate-map tab the mouse chooses wells; the groups stay as they are.
        w.tab_plate->setCurrentWidget(w.frm_wells);
        EXPECT_TRUE(w.frm_plate->title().startsWith("Plate map"));
        PlateView* pic = w.Picwell;
        r.Drag(Qt::LeftButton, pic->WellCentre({0, 0}), pic->WellCentre({3, 0}));
        EXPECT_EQ(FromQ(w.lbl_chosen_wells->text()), "A1, A2, A3, A4");
        EXPECT_EQ(r.state.project.ChannelGroup, groups);

        r.Type(w.txt_treatment, "drug X");
        r.Type(w.txt_unit, "uM");
        r.Type(w.txt_concentration, "5 uM");  // the unit belongs in its own box
        QTest::mouseClick(w.cmd_apply_wells, Qt::LeftButton);
        EXPECT_NE(inst.dialogs.Messages().back().find("\"5 uM\" is not a number"),
                  std::string::npos);
        EXPECT_EQ(w.tbl_wells->rowCount(), 0);
        r.Type(w.txt_concentration, "10");
        QTest::mouseClick(w.cmd_apply_wells, Qt::LeftButton);
        EXPECT_EQ(r.WellTable(),
                  (std::vector<std::string>{"A1|drug X|10|uM|sample", "A2|drug X|10|uM|sample",
                                            "A3|drug X|10|uM|sample", "A4|drug X|10|uM|sample"}));

        // The dilution helper along the chosen row: 1:2 from 100.
        r.Type(w.txt_series_first, "100");
        r.Type(w.txt_series_factor, "0.5");
        w.cmb_series_direction->setCurrentIndex(0);  // left to right
        QTest::mouseClick(w.cmd_fill_series, Qt::LeftButton);
        EXPECT_EQ(r.WellTable(),
                  (std::vector<std::string>{"A1|drug X|100|uM|sample", "A2|drug X|50|uM|sample",
                                            "A3|drug X|25|uM|sample", "A4|drug X|12.5|uM|sample"}));

        // Ctrl adds H12 to the choice, the right button takes A1..A3 out of it.
        QTest::mousePress(pic, Qt::LeftButton, Qt::ControlModifier, pic->WellCentre({11, 7}));
        QTest::mouseRelease(pic, Qt::LeftButton, Qt::ControlModifier, pic->WellCentre({11, 7}));
        r.Drag(Qt::RightButton, pic->WellCentre({0, 0}), pic->WellCentre({2, 0}));
        EXPECT_EQ(FromQ(w.lbl_chosen_wells->text()), "A4, H12");
        // One well chosen shows its entry, ready to be changed.
        r.Drag(Qt::LeftButton, pic->WellCentre({1, 0}), pic->WellCentre({1, 0}));
        EXPECT_EQ(FromQ(w.txt_concentration->text()), "50");
        r.Drag(Qt::LeftButton, pic->WellCentre({11, 7}), pic->WellCentre({11, 7}));
        r.Type(w.txt_treatment, "vehicle");
        r.Type(w.txt_concentration, "");
        w.cmb_role->setCurrentText("negative");
        QTest::mouseClick(w.cmd_apply_wells, Qt::LeftButton);
        EXPECT_EQ(r.WellTable().back(), "H12|vehicle||uM|negative");

        inst.dialogs.QueueAnswer(MsgResult::Yes);
        QTest::mouseClick(w.Cmdsavepj, Qt::LeftButton);
        EXPECT_EQ(inst.files.ReadFile(wells_file),
                  "well,treatment,concentration,unit,role\n"
                  "A1,drug X,100,uM,sample\nA2,drug X,50,uM,sample\nA3,drug X,25,uM,sample\n"
                  "A4,drug X,12.5,uM,sample\nH12,vehicle,,uM,negative\n");
        EXPECT_TRUE(inst.dialogs.AllAnswersUsed());
    }
    // Loading the project loads its map.
    SetupRig again(inst.files, inst.dialogs);
    EXPECT_EQ(again.WellTable().size(), 5u);
    EXPECT_EQ(again.WellTable()[3], "A4|drug X|12.5|uM|sample");
}

TEST(SetupWindow, PlateMapImportRefusesAFaultyFileByItsLineAndExportsWhatIsShown) {
    Installation inst;
    SetupRig r(inst.files, inst.dialogs);
    Frm_setup& w = r.window;
    inst.dialogs.QueueAnswer(MsgResult::Ok);
    inst.dialogs.QueueInput("Imported");
    QTest::mouseClick(w.Cmdnewpj, Qt::LeftButton);
    w.tab_plate->setCurrentWidget(w.frm_wells);

    inst.files.WriteFile("/inst/bad.csv",
                         "well,treatment,concentration,unit,role\nA1,x,1,uM,sample\n"
                         "A2,x,1,uM,control\n");
    inst.dialogs.QueueFile("/inst/bad.csv");
    QTest::mouseClick(w.cmd_import_wells, Qt::LeftButton);
    EXPECT_EQ(inst.dialogs.Messages().back(),
              "Error [/inst/bad.csv] line 3: the role \"control\" of A2 is not one of sample, "
              "negative, positive, empty.\r\nThe plate map was not changed.");
    EXPECT_EQ(w.tbl_wells->rowCount(), 0);
    inst.dialogs.QueueAnswer(MsgResult::Yes);
    QTest::mouseClick(w.Cmdsavepj, Qt::LeftButton);
    EXPECT_FALSE(inst.files.IsFile("/inst/p00001/wells.csv"));

    // A good file, with the lab's own column, in UTF-8 with a byte-order mark.
    const std::string good =
        "\xEF\xBB\xBFWell,Role,Treatment,Concentration,Unit,genotype\n"
        "B1,sample,drug,0.5,\xC2\xB5M,unc-13\nB2,positive,levamisole,1,mM,wt\n";
    inst.files.WriteFile("/inst/good.csv", good);
    inst.dialogs.QueueFile("/inst/good.csv");
    QTest::mouseClick(w.cmd_import_wells, Qt::LeftButton);
    EXPECT_EQ(r.WellTable(), (std::vector<std::string>{"B1|drug|0.5|\xC2\xB5M|sample|unc-13",
                                                       "B2|levamisole|1|mM|positive|wt"}));
    EXPECT_EQ(FromQ(w.tbl_wells->horizontalHeaderItem(5)->text()), "genotype");
    // Rows clicked in the table choose their wells on the plate.
    w.tbl_wells->selectRow(1);
    EXPECT_EQ(FromQ(w.lbl_chosen_wells->text()), "B2");

    inst.dialogs.QueueFile("/inst/out.csv");
    QTest::mouseClick(w.cmd_export_wells, Qt::LeftButton);
    EXPECT_EQ(inst.files.ReadFile("/inst/out.csv"),
              "well,treatment,concentration,unit,role,genotype\n"
              "B1,drug,0.5,\xC2\xB5M,sample,unc-13\nB2,levamisole,1,mM,positive,wt\n");
    // A cancelled chooser does nothing.
    inst.dialogs.QueueFile(std::nullopt);
    QTest::mouseClick(w.cmd_import_wells, Qt::LeftButton);
    EXPECT_EQ(w.tbl_wells->rowCount(), 2);
    EXPECT_TRUE(inst.dialogs.AllAnswersUsed());
}

TEST(SetupWindow, AnUnreadablePlateMapIsToldAndKeptUntilReplaced) {
    Installation inst;
    const std::string bad = "well,treatment\nA1,x\nA1,y\n";
    inst.files.WriteFile("/inst/wells.csv", bad);
    SetupRig r(inst.files, inst.dialogs);
    Frm_setup& w = r.window;
    ASSERT_EQ(inst.dialogs.Messages().size(), 1u);
    EXPECT_EQ(inst.dialogs.Messages()[0].rfind("Error [/inst/wells.csv] line 3: the well A1 is "
                                               "named twice",
                                               0),
              0u);
    w.tab_plate->setCurrentWidget(w.frm_wells);
    EXPECT_TRUE(w.lbl_wells_note->isVisible());
    EXPECT_TRUE(w.lbl_wells_note->text().startsWith("Error [/inst/wells.csv] line 3"));
    inst.dialogs.QueueAnswer(MsgResult::Yes);
    QTest::mouseClick(w.Cmdsavepj, Qt::LeftButton);
    EXPECT_EQ(inst.files.ReadFile("/inst/wells.csv"), bad);

    // An edit makes the map the user's: the note goes and the next save writes it.
    r.Drag(Qt::LeftButton, w.Picwell->WellCentre({0, 0}), w.Picwell->WellCentre({0, 0}));
    r.Type(w.txt_treatment, "x");
    QTest::mouseClick(w.cmd_apply_wells, Qt::LeftButton);
    EXPECT_FALSE(w.lbl_wells_note->isVisible());
    inst.dialogs.QueueAnswer(MsgResult::Yes);
    QTest::mouseClick(w.Cmdsavepj, Qt::LeftButton);
    EXPECT_EQ(inst.files.ReadFile("/inst/wells.csv"),
              "well,treatment,concentration,unit,role\nA1,x,,,sample\n");
    EXPECT_TRUE(inst.dialogs.AllAnswersUsed());
}

TEST(SetupWindow, NumberBoxesApplyTheirChecks) {
    Installation inst;
    SetupRig r(inst.files, inst.dialogs);
    Frm_setup& w = r.window;
    struct Case {
        QLineEdit* box;
        const char* typed;
        const char* shown;
        std::int16_t ProjectSetup::*field;
        int value;
        const char* message = nullptr;  // text that is not a number: refused, value kept
    };
    const Case cases[] = {
        {w.Txtlapse, "0", "2", &ProjectSetup::Aq_lapse, 2},
        {w.Txtlapse, "40000", "32000", &ProjectSetup::Aq_lapse, 32000},
        {w.Txtlapse, "90", "90", &ProjectSetup::Aq_lapse, 90},
        {w.Txtlapse, "abc", "90", &ProjectSetup::Aq_lapse, 90,
         "Invalid value: \"abc\" is not a number. The acquisition lapse (minutes) stays 90."},
        {w.Txtbuffer, "150", "500", &ProjectSetup::RT_Buffer, 500},
        {w.Txtbuffer, "10000", "10000", &ProjectSetup::RT_Buffer, 10000},
        {w.Txtbuffer, "12x", "10000", &ProjectSetup::RT_Buffer, 10000,
         "Invalid value: \"12x\" is not a number. RT_Buffer stays 10000."},
        {w.Txtsample, "12.5", "12.5", &ProjectSetup::Sample_Rate, 12},
        {w.Txtsample, "fast", "12", &ProjectSetup::Sample_Rate, 12,
         "Invalid value: \"fast\" is not a number. The sample rate stays 12."},
        {w.Txt_dspinterval, "-4", "0", &ProjectSetup::DSP_Interval, 0},
    };
    w.cmd_advanced->click();  // the advanced boxes are visible now
    EXPECT_EQ(FromQ(w.cmd_advanced->text()), "[Advanced Tools]    <-");
    for (const auto& c : cases) {
        c.box->setFocus();
        c.box->selectAll();
        QTest::keyClicks(c.box, c.typed);
        r.Enter(c.box);
        EXPECT_EQ(FromQ(c.box->text()), c.shown) << c.typed;
        EXPECT_EQ(r.state.project.Setup.*c.field, c.value) << c.typed;
        if (c.message != nullptr) {
            EXPECT_EQ(inst.dialogs.Messages().back(), c.message);
        }
    }
    // While typing, a value the check keeps is taken at once.
    w.Txtlapse->selectAll();
    QTest::keyClicks(w.Txtlapse, "45");
    EXPECT_EQ(r.state.project.Setup.Aq_lapse, 45);
    w.cmd_advanced->click();
    EXPECT_EQ(FromQ(w.cmd_advanced->text()), "[Advanced Tools]    ->");
    EXPECT_TRUE(w.Frame_advanced->isHidden());

    // Lists and tool switches.
    w.Combo_aqmode->setCurrentIndex(4);
    w.Combosavereal->setCurrentIndex(0);
    EXPECT_EQ(r.state.project.Setup.Aq_mode, 4);
    EXPECT_EQ(r.state.project.Setup.Save_real, 0);
    const bool calib = w.chkcalib->isChecked();
    w.chklight->click();
    ASSERT_FALSE(r.panels.empty());
    EXPECT_EQ(r.panels.back(), (std::array<bool, 3>{calib, true, false}));
    EXPECT_EQ(r.state.project.ToolMenu[2], 1);
    // Nothing reached the disk.
    EXPECT_EQ(LineText(inst.files.ReadFile(kInst / "setup.dat"))[3], "1,30,99,500,1,30");
}

TEST(SetupWindow, ListsMovesRenamesAndArrangement) {
    Installation inst;
    SetupRig r(inst.files, inst.dialogs);
    Frm_setup& w = r.window;

    // The arrangement menu of a 96-well plate: 24 block sizes; 04x06 makes four groups.
    ASSERT_EQ(FromQ(w.mnopciongrup[18]->text()), "04x06 [RowsxColumn]");
    w.mnopciongrup[18]->trigger();
    EXPECT_EQ(r.Items(w.combogrup),
              (std::vector<std::string>{"000_Group0", "001_Group1", "002_Group2", "003_Group3"}));
    for (std::size_t i = 0; i < w.mnopciongrup.size(); ++i)
        EXPECT_EQ(w.mnopciongrup[i]->isChecked(), i == 18);
    EXPECT_EQ(w.lstgrup->count(), 24);
    EXPECT_EQ(w.lstchgrup->count(), 0);

    // Enter on a group's well frees it (both its beams); a double click on a free well puts it
    // in the group.
    w.lstgrup->setCurrentRow(0);
    r.Enter(w.lstgrup);
    EXPECT_EQ(r.Items(w.lstchgrup), (std::vector<std::string>{"A1"}));
    EXPECT_EQ(r.state.project.ChannelGroup[16], kFreeGroup);
    r.TypeGroup("007");
    w.lstchgrup->setCurrentRow(0);
    emit w.lstchgrup->itemDoubleClicked(w.lstchgrup->item(0));
    EXPECT_EQ(r.state.project.ChannelGroup[0], 7);
    EXPECT_EQ(r.state.project.ChannelGroup[16], 7);
    EXPECT_EQ(FromQ(w.combogrup->currentText()), "007_Group7");

    // Enter on the group renames it; an empty answer keeps the name.
    inst.dialogs.QueueInput("Dose, 5 \"mM\"");
    r.Enter(w.combogrup->lineEdit());
    EXPECT_EQ(inst.dialogs.shown().back().text, "Enter New Group (007) Name");
    EXPECT_EQ(FromQ(w.combogrup->currentText()), "007_Dose, 5 \"mM\"");
    inst.dialogs.QueueInput("");
    r.Enter(w.combogrup->lineEdit());
    EXPECT_EQ(r.state.project.GroupName[7], "Dose, 5 \"mM\"");

    // The Default project cannot be renamed.
    QTest::mouseDClick(w.txtprj, Qt::LeftButton);
    EXPECT_EQ(inst.dialogs.Messages().back(),
              "Not possible to rename the Default project. Save it with another Name");
    EXPECT_TRUE(inst.dialogs.AllAnswersUsed());
}

TEST(SetupWindow, PlateFormatChangeAsksAndRedrawsTheNewPlate) {
    Installation inst;
    SetupRig r(inst.files, inst.dialogs);
    Frm_setup& w = r.window;
    const int w384 = w.Combowell->findText("w384");
    ASSERT_GE(w384, 0);
    // The plate codes say what they are where they are chosen.
    const auto tip = [&](const char* code) {
        return FromQ(
            w.Combowell->itemData(w.Combowell->findText(code), Qt::ToolTipRole).toString());
    };
    EXPECT_EQ(tip("w96f"),
              "w96f: 96 Wells flat bottom [2microbeams/well]\nUSE 'W96F' plate Adapter");
    EXPECT_EQ(tip("w96u").rfind("w96u: 96 Wells U shape bottom", 0), 0u);
    EXPECT_NE(tip("w96flat").find("DISCONTINUED"), std::string::npos);
    EXPECT_EQ(FromQ(w.Combowell->toolTip()), tip("w96f"));
    // The spare switches say they switch nothing.
    EXPECT_EQ(FromQ(w.Chk_mn4->text()), "Spare switch 4 (no tool)");

    inst.dialogs.QueueAnswer(MsgResult::No);
    w.Combowell->setCurrentIndex(w384);
    emit w.Combowell->activated(w384);
    EXPECT_EQ(FromQ(w.Combowell->currentText()), "w96f");
    EXPECT_EQ(r.state.plate.PlateRows, 8);

    inst.dialogs.QueueAnswer(MsgResult::Yes);
    w.Combowell->setCurrentIndex(w384);
    emit w.Combowell->activated(w384);
    const auto messages = inst.dialogs.Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2], "Load New Plate configuration?");
    EXPECT_EQ(messages.back(),
              "384 Well microplate [1microbeams/well]\r\nUSE 'W384' plate Adapter");
    EXPECT_EQ(r.state.project.Setup.Plate_format, "w384");
    EXPECT_EQ(r.state.plate.PlateRows, 16);
    EXPECT_EQ(w.combogrup->count(), 0);
    EXPECT_EQ(w.lstchgrup->count(), 384);
    EXPECT_EQ(FromQ(w.mnopciongrup[0]->text()), "01x01 [RowsxColumn]");
    // The picture follows: the last well of a 384 plate is P24.
    r.TypeGroup("001");
    r.Drag(Qt::LeftButton, w.Picwell->WellCentre({23, 15}), w.Picwell->WellCentre({23, 15}));
    EXPECT_EQ(r.Items(w.lstgrup), (std::vector<std::string>{"P24"}));
}

TEST(SetupWindow, HandsOverToTheMainWindowAndTheLauncher) {
    Installation inst;
    SetupRig r(inst.files, inst.dialogs);
    QTest::mouseClick(r.window.Command_main, Qt::LeftButton);
    EXPECT_EQ(r.handed_over, (std::vector<std::string>{"main", "connect"}));
    EXPECT_FALSE(r.window.isVisible());

    r.window.show();
    r.state.connection.InstrumentConnected = true;
    QTest::mouseClick(r.window.Command_main, Qt::LeftButton);
    r.window.show();
    QTest::mouseClick(r.window.Cmdoffline, Qt::LeftButton);
    EXPECT_FALSE(r.window.isVisible());
    r.window.show();
    r.window.close();
    EXPECT_EQ(r.handed_over,
              (std::vector<std::string>{"main", "connect", "main", "launcher", "launcher"}));

    // Load: the list appears after the question; a double click loads the entry.
    inst.dialogs.QueueAnswer(MsgResult::Ok);
    inst.dialogs.QueueInput("Listed");
    r.window.Cmdnewpj_Click();
    r.state.project.Setup.Name = "Changed in memory";
    inst.dialogs.QueueAnswer(MsgResult::No);
    EXPECT_TRUE(r.window.frm_project->isHidden());
    QTest::mouseClick(r.window.cmdLoad, Qt::LeftButton);
    EXPECT_FALSE(r.window.frm_project->isHidden());
    r.window.List_project->setCurrentRow(0);
    emit r.window.List_project->itemDoubleClicked(r.window.List_project->item(0));
    EXPECT_EQ(FromQ(r.window.txtprj->text()), "1_Listed");
    EXPECT_FALSE(r.panels.empty());  // the tool panels follow the loaded project
}

TEST(SetupWindow, OpensFromTheLauncherAndTheMainWindowAndSwitchesItsPanels) {
    testing::AppRig r(0);
    r.window->Form_Load("");
    QTest::mouseClick(r.launcher().Label_option(1), Qt::LeftButton);
    auto* setup = r.window->findChild<Frm_setup*>();
    ASSERT_NE(setup, nullptr);
    EXPECT_TRUE(setup->isVisible());
    EXPECT_FALSE(r.launcher().isVisible());
    EXPECT_EQ(FromQ(setup->txtprj->text()), "0_Default");

    // The tool switches show and hide the main window's panels.
    const bool light = !Control<LightPanel>(r.window.get(), "Frame_light")->isHidden();
    setup->chklight->click();
    EXPECT_EQ(Control<LightPanel>(r.window.get(), "Frame_light")->isHidden(), light);
    setup->chklight->click();
    EXPECT_EQ(Control<LightPanel>(r.window.get(), "Frame_light")->isHidden(), !light);

    QTest::mouseClick(setup->Cmdoffline, Qt::LeftButton);
    EXPECT_TRUE(r.launcher().isVisible());
    EXPECT_FALSE(setup->isVisible());

    // The main window's Setup button opens the same window, hiding the main window; with an
    // instrument connected "Acquisition >>" just brings the main window back.
    r.window->show();
    QTest::mouseClick(Control<QPushButton>(r.window.get(), "Cmdsetup"), Qt::LeftButton);
    EXPECT_EQ(r.window->findChildren<Frm_setup*>().size(), 1);
    EXPECT_TRUE(setup->isVisible());
    EXPECT_FALSE(r.window->isVisible());
    r.state().connection.InstrumentConnected = true;
    QTest::mouseClick(setup->Command_main, Qt::LeftButton);
    EXPECT_TRUE(r.window->isVisible());
    EXPECT_FALSE(setup->isVisible());
    EXPECT_TRUE(r.dialogs.shown().empty());
}

TEST(SetupWindow, ClosingWithUnsavedChangesAsksAndCancelStays) {
    Installation inst;
    SetupRig r(inst.files, inst.dialogs);
    Frm_setup& w = r.window;
    const int menu = r.state.project.ToolMenu[2];
    w.chklight->click();  // a change of the project, not saved
    ASSERT_NE(r.state.project.ToolMenu[2], menu);
    // Cancel: the window stays, the change too.
    inst.dialogs.QueueAnswer(MsgResult::Cancel);
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(inst.dialogs.Messages().back(),
              "The project 0_Default has changes that are not saved.\r\nSave them before "
              "closing?");
    EXPECT_TRUE(r.handed_over.empty());
    // No: the change is discarded, the main window's panels follow, the launcher comes back.
    inst.dialogs.QueueAnswer(MsgResult::No);
    EXPECT_TRUE(w.close());
    EXPECT_EQ(r.state.project.ToolMenu[2], menu);
    EXPECT_EQ(r.panels.back()[1], menu == 1);
    EXPECT_EQ(r.handed_over, std::vector<std::string>{"launcher"});
    // Unchanged: no question.
    w.show();
    EXPECT_TRUE(w.close());
    EXPECT_TRUE(inst.dialogs.AllAnswersUsed());

    // Ctrl+S is the Save button.
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    inst.dialogs.QueueAnswer(MsgResult::Cancel);
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(inst.dialogs.Messages().back(), "Do you like to Update <0_Default> values?");
}

TEST(SetupWindow, LeavingForTheAcquisitionChecksTheBoxesAndAsksAsClosingDoes) {
    Installation inst;
    SetupRig r(inst.files, inst.dialogs);
    Frm_setup& w = r.window;
    ASSERT_EQ(r.state.project.Setup.Aq_lapse, 30);
    // "1" typed and not yet confirmed: the box's check still runs before the window is left.
    w.Txtlapse->selectAll();
    QTest::keyClicks(w.Txtlapse, "1");
    EXPECT_EQ(r.state.project.Setup.Aq_lapse, 30);  // 1 is not taken while typing either

    const std::string question =
        "The project 0_Default has changes that are not saved.\r\nSave them before going to the "
        "acquisition?";
    // Cancel: the window stays, nothing is handed over.
    inst.dialogs.QueueAnswer(MsgResult::Cancel);
    w.Command_main_Click();
    EXPECT_EQ(FromQ(w.Txtlapse->text()), "2");
    EXPECT_EQ(r.state.project.Setup.Aq_lapse, 2);
    EXPECT_EQ(inst.dialogs.Messages().back(), question);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(r.handed_over.empty());
    // No: the change is discarded, so the recording uses the project as stored.
    inst.dialogs.QueueAnswer(MsgResult::No);
    w.Command_main_Click();
    EXPECT_EQ(r.state.project.Setup.Aq_lapse, 30);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(r.handed_over, (std::vector<std::string>{"main", "connect"}));
    EXPECT_EQ(LineText(inst.files.ReadFile(kInst / "setup.dat"))[3], "1,30,99,500,1,30");
    // Yes: saved first, with the checked value.
    w.show();
    w.Txtlapse->selectAll();
    QTest::keyClicks(w.Txtlapse, "1");
    inst.dialogs.QueueAnswer(MsgResult::Yes);
    w.Command_main_Click();
    EXPECT_EQ(LineText(inst.files.ReadFile(kInst / "setup.dat"))[3], "1,2,99,500,1,30");
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(inst.dialogs.AllAnswersUsed());
}

TEST(SetupWindow, LeavingForTheLauncherKeepsTheConnectionNews) {
    testing::AppRig r(1);
    r.window->Form_Load("");
    r.window->cmd_connect_Click();
    ASSERT_TRUE(r.state().connection.InstrumentConnected);
    r.window->Cmdsetup_Click();
    auto* setup = r.window->findChild<Frm_setup*>();
    ASSERT_NE(setup, nullptr);
    setup->close();
    EXPECT_TRUE(r.launcher().isVisible());
    EXPECT_EQ(FromQ(r.launcher().LblNews()->text()), "status: Connected in COM1");
}

}  // namespace
}  // namespace lumivo::app
