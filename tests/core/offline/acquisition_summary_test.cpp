// Choosing an acquisition: the summary byte for byte, the report caption, the raw pages counted
// from the listing, the acquisition's plate map, and the note when the acquisition's groups are
// no longer the project's.
#include "core/offline/acquisition_summary.h"

#include <gtest/gtest.h>

#include "offline_fixture.h"

namespace lumivo::offline::testing {
namespace {

// Remembers which files were read through the storage code.
class ReadRecorder final : public LocalFileSystem {
  public:
    std::string ReadFile(const fs::path& p) override {
        read.push_back(p);
        return LocalFileSystem::ReadFile(p);
    }
    std::vector<fs::path> read;
};

// Project 1 with two groups on the two beams of well A1; an acquisition of 90 one-minute
// windows (the second half warmer), an incomplete last record, two raw pages, a histogram and
// an events.log with one silence of the instrument.
struct Summarised : OfflineInstall {
    Summarised() {
        project.Setup.Name = "Dose response";
        project.Setup.Plate_format = "w96f";
        project.ChannelGroup.fill(kFreeGroup);
        project.ChannelGroup[0] = 0;
        project.ChannelGroup[16] = 3;
        project.GroupName[0] = "Control";
        project.GroupName[3] = "Dose 1 uM";
        WriteProject(ProjectFolderFor(install(), 1), 1, project);
        std::vector<std::int32_t> first, second;
        for (int m = 1; m <= 45; ++m) first.push_back(m);
        for (int m = 46; m <= 90; ++m) second.push_back(m);
        folder = Acquisition(1, "20260314_1000", "First run", first, 224);
        AppendCounts(folder, second, 236);
        std::ofstream(folder / kCountsFileName, std::ios::binary | std::ios::app) << "0123456789";
        for (const char* page : {"0.bin", "1.bin", "histo0000.bin", "notes.bin"})
            WriteText(folder / page, "x");
        // The plate map copied into the acquisition at its start.
        WriteText(folder / "wells.csv",
                  "well,treatment,concentration,unit,role,genotype\n"
                  "A1,vehicle,,,negative,wt\nA2,drug X,10,uM,sample,wt\n"
                  "A3,drug X,1,uM,sample,unc-13\nA4,,,,empty,\n");
        // A page of a week-long run is large: it must not be read to open the acquisition.
        fs::resize_file(folder / "1.bin", std::uintmax_t{1} << 32);
        WriteText(
            folder / "events.log",
            "2026-03-14 10:00:05  Recording \"First run\" started: project 1_Dose response\r\n"
            "2026-03-14 10:00:10  Sampling started\r\n"
            "2026-03-14 10:30:10  ALARM: NO VALID DATA from the instrument for 3 s (44 "
            "readings missed): check the cable and the power. Still trying...\r\n"
            "2026-03-14 10:32:10  Alarm ended: the instrument answers again after 123 s "
            "without valid data (1800 readings missed)\r\n"
            "2026-03-14 11:30:30  Acquisition finished (the programmed lapse was reached): "
            "90 windows recorded in 20260314_1000\r\n");
    }
    ProjectState project;
    fs::path folder;
};

TEST(AcquisitionSummary, SummaryAndCommandsOfAChosenAcquisition) {
    Summarised s;
    ReadRecorder recorder;
    StorageContext ctx{s.install(), s.dialogs, recorder, {}};
    const std::string entry = TreeAcquisitionEntry("20260314_1000", "First run");
    const auto a = OpenAcquisition(ctx, {s.install() / "p00001", "20260314_1000"}, entry);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->SummaryText(),
              "***** PROJECT ******\r\n"
              "+ 2026.0314\tp00001_Dose response\r\n"
              "***** CONFIG ******\r\n"
              "Microplate format: [w96f]\r\n"
              "Acquisition Lapse = 30min\r\n"
              "Groups: \r\n"
              "<0\t> Control\r\n"
              "<3\t> Dose 1 uM\r\n"
              "***** PLATE MAP ******\r\n"
              "wells.csv: 4 wells: 2 treatments (vehicle, drug X), 2 concentrations, 1 negative, "
              "1 empty\r\n"
              "vehicle (1 well)\r\n"
              "drug X: 1, 10 uM (2 wells)\r\n"
              "(no treatment) (1 well)\r\n"
              "Further columns: genotype\r\n"
              "***** RECORDING ******\r\n"
              // Sampling started after 10 s of calibration: the records count from then.
              "Start: 2026-03-14 10:00:10 (events.log)\r\n"
              "Duration: 90 min (1 h 30 min)\r\n"
              "Windows recorded: 90\r\n"
              "Temperature: 22.4 to 23.6 \xC2\xB0"
              "C\r\n"
              "Instrument silent (no valid data): 1 time, 2 min 03 s in all\r\n"
              "Incomplete last record: 10 bytes ignored\r\n"
              "Raw signal pages: 2\r\n");
    EXPECT_EQ(a->page_text, "1/2");
    EXPECT_EQ(a->report_caption, entry + " => REPORT");
    EXPECT_EQ(a->project.Setup.Name, "Dose response");
    EXPECT_TRUE(s.dialogs.shown().empty());
    for (const fs::path& p : recorder.read) EXPECT_NE(p.extension(), ".bin") << p;

    // The project regrouped (and its lapse changed) after the recording: the report still uses
    // the recorded groups, and the summary shows the acquisition's own lapse.
    s.project.ChannelGroup[16] = 0;
    s.project.Setup.Aq_lapse = 600;
    s.WriteProject(ProjectFolderFor(s.install(), 1), 1, s.project);
    const auto regrouped = OpenAcquisition(ctx, {s.install() / "p00001", "20260314_1000"}, entry);
    ASSERT_TRUE(regrouped);
    EXPECT_TRUE(regrouped->groups_differ);
    EXPECT_EQ(regrouped->summary.back(), kGroupsDifferLine);
    EXPECT_EQ(regrouped->summary.at(4), "Acquisition Lapse = 30min");

    // A plate map that cannot be read is said so, with the file and line, and nothing else of
    // it is shown.
    WriteText(s.folder / "wells.csv", "well,role\nA1,sample\nA1,empty\n");
    const auto damaged = OpenAcquisition(ctx, {s.install() / "p00001", "20260314_1000"}, entry);
    ASSERT_TRUE(damaged);
    EXPECT_FALSE(damaged->wells);
    const auto& lines = damaged->summary;
    const auto at = std::find(lines.begin(), lines.end(), "***** PLATE MAP ******");
    ASSERT_NE(at, lines.end());
    EXPECT_EQ(*(at + 1), "Not read: Error [" + (s.folder / "wells.csv").string() +
                             "] line 3: the well A1 is named twice; keep one line for each well.");
    EXPECT_EQ(*(at + 2), "***** RECORDING ******");
}

TEST(AcquisitionSummary, AFolderWithoutCountsIsRefused) {
    OfflineInstall o;
    o.Project(1, "P");
    fs::create_directories(o.install() / "p00001" / "20260314_1000");
    EXPECT_FALSE(OpenAcquisition(o.storage, {o.install() / "p00001", "20260314_1000"}, "x"));
    EXPECT_NE(o.dialogs.Messages().at(0).find("holds no counts.bin"), std::string::npos);
}

TEST(AcquisitionSummary, ReportCaptionIsCutAfterFiftyCharacters) {
    const std::string fifty(50, 'a');
    struct Case {
        std::string entry, caption;
    };
    for (const Case& c :
         std::vector<Case>{{"", " => REPORT"},
                           {fifty, fifty + " => REPORT"},
                           {fifty + "b", fifty + ".. => REPORT"},
                           // "µ" is two bytes and one character; the cut does not split it.
                           {std::string(49, 'a') + "\xC2\xB5\xC2\xB5",
                            std::string(49, 'a') + "\xC2\xB5.. => REPORT"}}) {
        EXPECT_EQ(ReportCaption(c.entry), c.caption) << c.entry;
    }
}

}  // namespace
}  // namespace lumivo::offline::testing
