// The acquisition browser's list: which folders are listed, the entry texts byte for byte and
// how they are read back, the sort, the filter, the double click, rename, archive and the
// watched folders, on installation folders built in a temporary directory.
#include <gtest/gtest.h>

#include "core/acquisition/event_log.h"
#include "core/acquisition/recording_mark.h"
#include "core/offline/acquisition_browser.h"
#include "offline_fixture.h"

namespace lumivo::offline::testing {
namespace {

using Strings = std::vector<std::string>;

const std::string kEmptyProject = "+         \tp00002_Empty";
const std::string kDoseProject = "+ 2026.0314\tp00001_Dose response";
const std::string kFirstRun = "  > 2026.0314\t ACQ10:00 \"First run\"";
const std::string kSecondRun = "  > 2026.0314\t ACQ12:30 \"Second run\"";

// p00001 with two acquisitions and three folders that are no acquisitions; p00002 without any;
// and three folders that are no projects.
struct Browsed : OfflineInstall {
    Browsed() {
        Project(1, "Dose response");
        Project(2, "Empty");
        WriteProject(install() / "p00001x", 1, ProjectState{});  // seven characters
        fs::create_directories(install() / "p00003");            // no setup.dat
        WriteProject(install() / "pabcde", 4, ProjectState{});   // not five digits
        first = Acquisition(1, "20260314_1000", "First run", {1, 2, 3});
        second = Acquisition(1, "20260314_1230", "Second run", {1, 2});
        fs::create_directories(install() / "p00001" / "20260315_0900");  // no counts.bin
        Acquisition(1, "20260316_0800removed202603160812", "archived", {1});
        Acquisition(1, "2026031x_0800", "not a date", {1});
        Acquisition(1, "20261301_1000", "month 13", {1});
        Acquisition(1, "20260230_0900", "30 February", {1});
        LoadBrowser(storage, s);
    }
    std::size_t Index(const std::string& entry) const {
        const auto at = std::find(s.entries.begin(), s.entries.end(), entry);
        EXPECT_NE(at, s.entries.end()) << entry;
        return static_cast<std::size_t>(at - s.entries.begin());
    }
    BrowserState s;
    fs::path first, second;
};

TEST(BrowserEntries, TextsAreExactAndReadBack) {
    EXPECT_EQ(ProjectEntry("2021.0421", "p00001", "Dose"), "+ 2021.0421\tp00001_Dose");
    EXPECT_EQ(ProjectEntry(kNoDateLabel, "p00002", "x"), "+         \tp00002_x");
    EXPECT_EQ(TreeAcquisitionEntry("20210421_1030", "Run 1"), "  > 2021.0421\t ACQ10:30 \"Run 1\"");
    EXPECT_EQ(DateViewEntry("20210421_1030", "Run 1"), "20210421_1030 Run 1");
    EXPECT_EQ(DateLabel("20210421_1030"), "2021.0421");
    EXPECT_EQ(TimeLabel("20210421_1030"), "10:30");
    EXPECT_EQ(ProjectNameOfTitle("<Project> p00007: a: b"), "a: b");
    // An acquisition folder is named by a real start.
    for (const char* name : {"20260314_1000", "20240229_2359"})
        EXPECT_TRUE(IsAcquisitionFolderName(name)) << name;
    for (const char* name : {"20261301_1000", "20260230_0900", "20250229_1000", "20260314_2460",
                             "20260314_1060", "2026031x_0800", "20260314_100"})
        EXPECT_FALSE(IsAcquisitionFolderName(name)) << name;

    struct Case {
        std::string entry, folder;
    };
    // Names holding "ACQ", ":", "." or "> " do not disturb the reading: the fixed part comes first.
    for (const Case& c : std::vector<Case>{
             {TreeAcquisitionEntry("20210421_1030", "ACQ99:77 > 1999.1231"), "20210421_1030"},
             {TreeAcquisitionEntry("19991231_2359", ""), "19991231_2359"},
             {"  > 2021.04", ""},
             {"", ""}}) {
        EXPECT_EQ(AcquisitionFolderOfTreeEntry(c.entry), c.folder) << c.entry;
    }
    EXPECT_EQ(AcquisitionFolderOfDateEntry("20210421_1030 ACQ 10:30"), "20210421_1030");
    EXPECT_EQ(AcquisitionFolderOfDateEntry("20210421_103 x"), "");

    const Strings tree = {"+ 2021.0421\tp00004_A", TreeAcquisitionEntry("20210421_1030", "x"), "",
                          "+         \tp00009_B: c"};
    const EntryTarget acq = ReadTreeEntry(tree, 1);
    EXPECT_EQ(acq.kind, EntryKind::Acquisition);
    EXPECT_EQ(acq.project_folder, "p00004");
    EXPECT_EQ(acq.acquisition_folder, "20210421_1030");
    EXPECT_EQ(ReadTreeEntry(tree, 2).kind, EntryKind::None);
    EXPECT_EQ(ReadTreeEntry(tree, 3).project_folder, "p00009");
    EXPECT_EQ(ReadTreeEntry(tree, 9).kind, EntryKind::None);
}

TEST(Browser, ListsOnlyProjectsWithSetupAndAcquisitionsWithCounts) {
    Browsed b;
    EXPECT_EQ(b.s.entries, (Strings{kEmptyProject, kDoseProject}));
    EXPECT_EQ(b.s.order_mark, "^");
    EXPECT_EQ(b.s.list_mode, 0);

    const DoubleClickResult r = DoubleClickEntry(b.storage, b.s, 1);
    EXPECT_FALSE(r.opened);
    EXPECT_EQ(r.selection, 1u);
    EXPECT_EQ(b.s.entries, (Strings{kEmptyProject, kDoseProject, kSecondRun, kFirstRun}));
    BrowserControls project_chosen;
    project_chosen.read_groups = true;
    EXPECT_EQ(b.s.controls, project_chosen);
    EXPECT_EQ(b.s.current_project, "p00001");
    EXPECT_TRUE(b.dialogs.shown().empty());

    // A double click closes it again; an empty entry does nothing.
    DoubleClickEntry(b.storage, b.s, 1);
    EXPECT_EQ(b.s.entries, (Strings{kEmptyProject, kDoseProject}));
    b.s.entries.push_back("");
    EXPECT_FALSE(DoubleClickEntry(b.storage, b.s, 2).selection);
}

TEST(Browser, DateClickedTwiceRestoresTheOrderAndTheMark) {
    Browsed b;
    DoubleClickEntry(b.storage, b.s, 1);
    const Strings before = b.s.entries;
    ClickDate(b.storage, b.s);
    EXPECT_EQ(b.s.order_mark, "v");
    EXPECT_EQ(b.s.entries, (Strings{kDoseProject, kFirstRun, kSecondRun, kEmptyProject}));
    ClickDate(b.storage, b.s);
    EXPECT_EQ(b.s.order_mark, "^");
    EXPECT_EQ(b.s.entries, before);
}

TEST(Browser, ChoosingAnAcquisitionEnablesItsCommandsAndTheDateView) {
    Browsed b;
    WriteText(b.first / "0.bin", "x");  // a raw page: its signal can be shown and re-analysed
    DoubleClickEntry(b.storage, b.s, 1);
    const DoubleClickResult r = DoubleClickEntry(b.storage, b.s, b.Index(kFirstRun));
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(r.opened->ref.path(), b.first);
    EXPECT_EQ(b.s.list_mode, 1);
    EXPECT_EQ(b.s.current_acquisition, b.first);
    EXPECT_EQ(b.s.controls, (BrowserControls{true, true, true, true, kFirstRun + " => REPORT"}));
    EXPECT_EQ(BasalChoicesOf(b.storage, b.s), (Strings{"-", "20260314_1230 Second run"}));

    // In mode 1 the date button shows the acquisitions of the project by date.
    ClickDate(b.storage, b.s);
    EXPECT_EQ(b.s.view, BrowserView::DateView);
    EXPECT_EQ(b.s.entries, (Strings{"20260314_1000 First run", "20260314_1230 Second run"}));
    const DoubleClickResult again = DoubleClickEntry(b.storage, b.s, 1);
    ASSERT_TRUE(again.opened);
    EXPECT_EQ(again.opened->ref.path(), b.second);
    EXPECT_EQ(BasalChoicesOf(b.storage, b.s), (Strings{"-", "20260314_1000 First run"}));
    // Without raw pages (a joined acquisition, a run recorded without them) there is no signal
    // to show and nothing to re-analyse; the report and the group view stay.
    EXPECT_EQ(b.s.controls,
              (BrowserControls{false, false, true, true, "20260314_1230 Second run => REPORT"}));

    // An acquisition that went away meanwhile is reported and drops out of the list.
    fs::remove(b.first / kCountsFileName);
    EXPECT_FALSE(DoubleClickEntry(b.storage, b.s, 0).opened);
    EXPECT_NE(b.dialogs.Messages().back().find("holds no counts.bin"), std::string::npos);
    EXPECT_EQ(b.s.entries, (Strings{"20260314_1230 Second run"}));
}

TEST(Browser, FilterKeepsMatchingEntriesAndBackClearsIt) {
    EXPECT_EQ(FilterWords(" dose+Run  a "), (Strings{"dose", "Run", "a"}));
    EXPECT_EQ(FilterWords("1 2 3 4 5 6 7 8 9 10 11 12").size(), kMaxFilterWords);

    Browsed b;
    DoubleClickEntry(b.storage, b.s, 1);
    struct Case {
        std::string text;
        Strings entries;
    };
    for (const Case& c :
         std::vector<Case>{{"EMPTY", {kEmptyProject}},
                           // The project matches itself: all its acquisitions stay.
                           {"dose", {kDoseProject, kSecondRun, kFirstRun}},
                           // Only an acquisition matches: its project stays, with only that one.
                           {"second", {kDoseProject, kSecondRun}},
                           {"nothing+empty", {kEmptyProject}},
                           {"zzz", {}},
                           {"", {kEmptyProject, kDoseProject, kSecondRun, kFirstRun}}}) {
        ApplyFilter(b.storage, b.s, c.text);
        EXPECT_EQ(b.s.entries, c.entries) << c.text;
        EXPECT_EQ(b.s.filter_on, !c.text.empty()) << c.text;
    }
    ApplyFilter(b.storage, b.s, "second");
    EXPECT_EQ(ClearFilter(b.storage, b.s, kSecondRun), 2u);
    EXPECT_FALSE(b.s.filter_on);
    EXPECT_EQ(b.s.search_text, "");
    EXPECT_EQ(b.s.entries.size(), 4u);
}

TEST(Browser, RenameStoresTheNameInSetupOrRegister) {
    Browsed b;
    DoubleClickEntry(b.storage, b.s, 1);
    b.dialogs.QueueInput("Dose curve");
    EXPECT_EQ(RenameEntry(b.storage, b.s, 1), 1u);
    EXPECT_EQ(b.s.entries[1], "+ 2026.0314\tp00001_Dose curve");
    EXPECT_EQ(GetProjectTitle(b.storage, b.install() / "p00001"), "<Project> p00001: Dose curve");

    b.dialogs.QueueInput("Run \"A\", 20 C");
    const auto at = RenameEntry(b.storage, b.s, b.Index(kFirstRun));
    ASSERT_TRUE(at);
    EXPECT_EQ(b.s.entries[*at], "  > 2026.0314\t ACQ10:00 \"Run \"A\", 20 C\"");
    const auto reg = ReadAcquisitionRegister(b.storage, b.first);
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->name, "Run \"A\", 20 C");
    EXPECT_EQ(reg->description, "test run");

    const auto& shown = b.dialogs.shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, kRenameProjectPrompt);
    EXPECT_EQ(shown[1].text, kRenameAcquisitionPrompt);
    EXPECT_EQ(shown[1].title, kRenameTitle);

    // Cancel, an empty answer and a line break change nothing.
    for (std::optional<std::string> answer :
         {std::optional<std::string>{}, std::optional<std::string>{""},
          std::optional<std::string>{"a\nb"}}) {
        b.dialogs.QueueInput(answer);
        EXPECT_FALSE(RenameEntry(b.storage, b.s, b.Index(kSecondRun)));
    }
    EXPECT_EQ(ReadAcquisitionTitle(b.storage, b.second), "Second run");

    // An acquisition without subproj.dat gets one: the name is not dropped.
    const fs::path bare = b.Acquisition(1, "20260317_0700", std::nullopt, {1});
    EXPECT_TRUE(RenameAcquisitionTitle(b.storage, bare, "Named later"));
    EXPECT_EQ(ReadAcquisitionTitle(b.storage, bare), "Named later");
}

TEST(Browser, ArchiveAsksTwiceRenamesTheFolderAndDropsItFromTheList) {
    Browsed b;
    DoubleClickEntry(b.storage, b.s, 1);
    EXPECT_FALSE(ArchiveEntry(b.storage, b.clock, b.s, 1));
    EXPECT_EQ(b.dialogs.Messages().back(), kArchiveProjectRefusal);

    const std::size_t first = b.Index(kFirstRun);
    DoubleClickEntry(b.storage, b.s, first);
    // No, then Yes and Cancel: nothing happens.
    b.dialogs.QueueAnswer(MsgResult::No);
    EXPECT_FALSE(ArchiveEntry(b.storage, b.clock, b.s, first));
    b.dialogs.QueueAnswer(MsgResult::Yes);
    b.dialogs.QueueAnswer(MsgResult::Cancel);
    EXPECT_FALSE(ArchiveEntry(b.storage, b.clock, b.s, first));
    EXPECT_TRUE(fs::is_directory(b.first));

    b.dialogs.QueueAnswer(MsgResult::Yes);
    b.dialogs.QueueAnswer(MsgResult::Ok);
    EXPECT_TRUE(ArchiveEntry(b.storage, b.clock, b.s, first));
    EXPECT_FALSE(fs::exists(b.first));
    // 2026-03-14 09:30:00: the stamp holds the hour and the seconds.
    EXPECT_TRUE(fs::is_directory(b.install() / "p00001" / "20260314_1000removed202603140900"));
    EXPECT_EQ(b.s.entries, (Strings{kEmptyProject, kDoseProject, kSecondRun}));
    EXPECT_EQ(b.s.controls.report_caption, kNoReportCaption);
    EXPECT_TRUE(b.s.current_acquisition.empty());
    const Strings asked = b.dialogs.Messages();
    EXPECT_EQ(Strings(asked.end() - 2, asked.end()), (Strings{kArchiveQuestion, kArchiveWarning}));
    EXPECT_TRUE(b.dialogs.AllAnswersUsed());

    // The same name archived again in the same second gets a suffix, never the old folder.
    b.Acquisition(1, "20260314_1000", "Again", {1});
    b.dialogs.QueueAnswer(MsgResult::Yes);
    b.dialogs.QueueAnswer(MsgResult::Ok);
    EXPECT_TRUE(ArchiveAcquisition(b.storage, b.clock, b.first));
    EXPECT_TRUE(fs::exists(b.install() / "p00001" / "20260314_1000removed202603140900_2" /
                           kCountsFileName));
}

TEST(Browser, AnAcquisitionBeingRecordedIsNotArchived) {
    Browsed b;
    PosixFileOps ops;
    EventLog log(ops);
    log.Open(b.second);  // what a recording run holds open
    EXPECT_TRUE(IsBeingRecorded(b.second));
    EXPECT_FALSE(ArchiveAcquisition(b.storage, b.clock, b.second));
    EXPECT_NE(b.dialogs.Messages().back().find("is being recorded"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(b.second));

    log.Close();
    EXPECT_FALSE(IsBeingRecorded(b.second));
    b.dialogs.QueueAnswer(MsgResult::Yes);
    b.dialogs.QueueAnswer(MsgResult::Ok);
    EXPECT_TRUE(ArchiveAcquisition(b.storage, b.clock, b.second));
}

TEST(Browser, WatchedFoldersComeFromAndGoToFoldview) {
    OfflineInstall o;
    const fs::path other = o.root() / "other";
    fs::create_directories(other);
    WriteText(o.install() / kWatchFileName,
              o.root().string() + "\r\n/no/such/folder\r\n" + o.install().string() + "\n");
    BrowserState s;
    LoadBrowser(o.storage, s);
    EXPECT_EQ(s.watched_folders,
              (std::array<std::string, 5>{o.root().string(), "", o.install().string(), "", ""}));

    o.dialogs.QueueInput("/no/such/folder");
    o.dialogs.QueueInput("");
    o.dialogs.QueueInput(std::nullopt);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(EditWatchedFolder(o.storage, s, 1));
    o.dialogs.QueueInput(other.string());
    EXPECT_TRUE(EditWatchedFolder(o.storage, s, 1));
    EXPECT_EQ(ReadFile(o.install() / kWatchFileName), o.root().string() + "\r\n" + other.string() +
                                                          "\r\n" + o.install().string() +
                                                          "\r\n\r\n\r\n");
    EXPECT_EQ(o.dialogs.shown().back().text, kWatchPrompt);
    EXPECT_EQ(o.dialogs.shown().back().title, kWatchTitle);
}

}  // namespace
}  // namespace lumivo::offline::testing
