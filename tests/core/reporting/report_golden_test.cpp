// Report files compared byte for byte (CR LF included) with golden files written from the
// report layouts: every layout, separators ";", "," and " ", with and without basal
// normalisation, each statistics box, a plate with groups that have no wells.
//
// The acquisition (report_fixture.h, GoldenRecords) and the basal acquisition are written by
// the program's own writers; the golden files hold "@FOLDER@" where the folder path goes.
#include <gtest/gtest.h>

#include <fstream>

#include "core/reporting/report/report_run.h"
#include "report_fixture.h"

namespace lumivo::reporting::testing {
namespace {

fs::path GoldenDir() {
    return fs::path(LUMIVO_SOURCE_DIR) / "tests/core/reporting/golden";
}

// The basal acquisition: 30 minutes whose channels give the basal values
// 150 (A1), 60 and 120 (B1, mean 90), 90 (A2), 30 (B2), 210 (B3), 30 (channel 100).
std::vector<PlannedRecord> BasalRecords() {
    return ConstantRecords(30, {{0, 5}, {1, 2}, {2, 4}, {16, 3}, {17, 1}, {33, 7}, {100, 1}});
}

// Accumulated body-bend histograms every 10 minutes: per record channel 0 adds 2 to interval 5,
// channel 1 adds 1 and channel 2 adds 3 to interval 5 (well B1: mean 2), channel 16 adds 4 to
// interval 7, channel 17 adds 1 to interval 5, channel 33 adds 5 to interval 9. A 30-minute
// bin holds three records.
std::vector<PlannedHistogram> HistogramRecords() {
    const std::pair<int, std::pair<int, int>> steps[] = {{0, {5, 2}},  {1, {5, 1}},  {2, {5, 3}},
                                                         {16, {7, 4}}, {17, {5, 1}}, {33, {9, 5}}};
    std::vector<PlannedHistogram> records;
    for (int i = 1; i <= 9; ++i) {
        PlannedHistogram h;
        h.minute = 10.0 * i;
        h.cells.assign(51 * 385, 0);
        for (const auto& [channel, step] : steps)
            h.cells[static_cast<std::size_t>(step.first * 385 + channel)] = step.second * i;
        records.push_back(h);
    }
    return records;
}

struct GoldenCase {
    const char* golden;
    OutputFormat output;
    ReportFileType type;
    const char* sep;
    bool std_error, std_dev, wells;
    bool basal;
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The first line where two texts differ, for a readable failure.
std::string FirstDifference(const std::string& a, const std::string& b) {
    std::size_t line = 1, start = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        if (a[i] != b[i]) {
            const auto end_a = a.find('\n', start);
            const auto end_b = b.find('\n', start);
            return "line " + std::to_string(line) +
                   ":\n  got:    " + a.substr(start, end_a - start) +
                   "\n  golden: " + b.substr(start, end_b - start);
        }
        if (a[i] == '\n') {
            ++line;
            start = i + 1;
        }
    }
    return "lengths " + std::to_string(a.size()) + " and " + std::to_string(b.size());
}

TEST(ReportGolden, EveryLayoutMatchesItsGoldenFile) {
    const GoldenCase cases[] = {
        {"rows_semicolon.csv", OutputFormat::Rows, ReportFileType::Csv, ";", true, true, true,
         false},
        {"list_comma.csv", OutputFormat::List, ReportFileType::Csv, ",", true, true, true, false},
        {"rows_basal.csv", OutputFormat::Rows, ReportFileType::Csv, ";", true, false, true, true},
        {"list_basal.csv", OutputFormat::List, ReportFileType::Csv, ",", true, true, true, true},
        {"warray.csv", OutputFormat::WellArray, ReportFileType::Csv, ",", true, true, true, false},
        {"charray.txt", OutputFormat::ChannelArray, ReportFileType::Text, " ", true, false, true,
         false},
        {"rows_no_stats.csv", OutputFormat::Rows, ReportFileType::Csv, ",", false, false, false,
         false},
        {"histogram.csv", OutputFormat::Histogram, ReportFileType::Csv, ",", true, true, true,
         false},
    };
    for (const GoldenCase& c : cases) {
        SCOPED_TRACE(c.golden);
        ReportRig rig;
        const fs::path folder =
            rig.Acquisition("20260314_0930", GoldenProjectPlan(), GoldenRecords());
        ProjectPlan basal_plan = GoldenProjectPlan();
        basal_plan.experiment_name = "Baseline";
        rig.Acquisition("20260310_0900", basal_plan, BasalRecords());
        if (c.output == OutputFormat::Histogram)
            WriteHistogramFile(folder / "histo0000.bin", HistogramRecords());

        ReportRequest r = rig.Request(folder, c.output, c.sep);
        r.options.file_type = c.type;
        r.options.std_error = c.std_error;
        r.options.std_dev = c.std_dev;
        r.options.wells = c.wells;
        if (c.basal) r.basal_text = "20260310_0900 Baseline";
        const ReportOutcome out = GenerateReport(rig.env, r);
        ASSERT_TRUE(out.written) << out.failure;
        EXPECT_EQ(out.basal_applied, c.basal);
        // A 30-minute basal with 30-minute bins asks nothing.
        EXPECT_TRUE(rig.dialogs.AllAnswersUsed());
        if (c.basal)
            EXPECT_EQ(rig.dialogs.Messages(),
                      std::vector<std::string>{
                          "Using Groups Selected in Experiment: 260310_0900 Baseline"});
        else
            EXPECT_TRUE(rig.dialogs.Messages().empty());

        const std::string got = Replace(ReadFile(out.report_file), folder.string(), "@FOLDER@");
        const std::string golden = ReadFile(GoldenDir() / c.golden);
        ASSERT_FALSE(golden.empty());
        EXPECT_TRUE(got == golden) << FirstDifference(got, golden);
    }
}

TEST(ReportGolden, EachStatisticBoxWritesItsTableForEveryOutputThatOffersIt) {
    // One box ticked at a time: its table is in the file exactly when the windows offer the box
    // for that output ("Std Dev" with "Rows" used to write nothing, and with the histogram a
    // table of the activity's deviation instead of the histograms').
    struct Box {
        StatisticBox box;
        const char* title;
    };
    const Box boxes[] = {
        {StatisticBox::StdError, "Standard Error >>>>>>"},
        {StatisticBox::StdDev, "Standard Deviation >>>>>>"},
        {StatisticBox::Wells, "Number of wells/group >>>>>>"},
    };
    const bool offered[5][3] = {{true, true, true},
                                {true, true, true},
                                {false, false, false},
                                {false, false, false},
                                {false, true, false}};
    ReportRig rig;
    const fs::path folder = rig.Acquisition("20260314_0930", GoldenProjectPlan(), GoldenRecords());
    WriteHistogramFile(folder / "histo0000.bin", HistogramRecords());
    for (int o = 0; o <= 4; ++o) {
        const auto output = static_cast<OutputFormat>(o);
        for (std::size_t b = 0; b < 3; ++b) {
            SCOPED_TRACE("output " + std::to_string(o) + ", box " + boxes[b].title);
            EXPECT_EQ(StatisticOffered(output, boxes[b].box), offered[o][b]);
            ReportRequest r = rig.Request(folder, output, ",");
            r.options.std_error = boxes[b].box == StatisticBox::StdError;
            r.options.std_dev = boxes[b].box == StatisticBox::StdDev;
            r.options.wells = boxes[b].box == StatisticBox::Wells;
            const ReportOutcome out = GenerateReport(rig.env, r);
            ASSERT_TRUE(out.written) << out.failure;
            const std::string text = ReadFile(out.report_file);
            EXPECT_EQ(text.find(boxes[b].title) != std::string::npos, offered[o][b]);
            if (output == OutputFormat::Rows && offered[o][b]) {
                EXPECT_NE(text.find(std::string(boxes[b].title) + "\"\r\nGroup/Time[m],30,60,90"),
                          std::string::npos);
            }
            if (output == OutputFormat::Histogram && r.options.std_dev) {
                EXPECT_NE(text.find("Group Histogram: Standard Deviation"), std::string::npos);
            }
        }
    }
}

TEST(ReportGolden, HistogramFilesAreCheckedAndWhatIsLeftOutIsSaid) {
    const std::vector<PlannedHistogram> all = HistogramRecords();  // minutes 10, 20, ... 90
    // Random bytes: accumulated histograms cannot hold them (they gave frequencies of about
    // -2e8). Nothing valid is left: no report, the message says why.
    {
        ReportRig rig;
        const fs::path folder =
            rig.Acquisition("20260314_0930", GoldenProjectPlan(), GoldenRecords());
        std::string bytes(9 * 78556, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>((i * 2654435761u) >> 11);
        WriteRawBytes(folder / "histo0000.bin", bytes);
        const ReportOutcome out =
            GenerateReport(rig.env, rig.Request(folder, OutputFormat::Histogram, ","));
        EXPECT_FALSE(out.written);
        EXPECT_EQ(out.failure,
                  "Error getting Histogram.bin data: no valid body-bends histogram in " +
                      folder.string() +
                      ": histo0000.bin: 9 of 9 records hold impossible values (a "
                      "negative count, a time that is not one, or less than an "
                      "earlier record of the same accumulated histogram) and were "
                      "left out");
        EXPECT_FALSE(fs::exists(folder / "report.csv"));
    }
    // Page 1 missing, page 0 cut short: the bins they leave without a record, and the bin after
    // them, have no histogram lines (not lines of zeros); the header and a message say why.
    {
        ReportRig rig;
        const fs::path folder =
            rig.Acquisition("20260314_0930", GoldenProjectPlan(), GoldenRecords());
        WriteHistogramFile(folder / "histo0000.bin", {all[0], all[1], all[2]});
        WriteHistogramFile(folder / "histo0002.bin", {all[6], all[7], all[8]});
        std::ofstream(folder / "histo0002.bin", std::ios::binary | std::ios::app) << "cut";
        const ReportOutcome out =
            GenerateReport(rig.env, rig.Request(folder, OutputFormat::Histogram, ","));
        ASSERT_TRUE(out.written) << out.failure;
        const std::string text = ReadFile(out.report_file);
        const std::string said =
            "histo0000.bin holds 3 of 11 windows; histo0001.bin is missing (windows 12 to 22); "
            "histo0002.bin ends in an incomplete record (3 bytes left out); 2 bins have no "
            "histogram (no valid record in it or in the bin before) and are left out";
        EXPECT_NE(text.find("\"HISTOGRAMS:\",\"" + said + "\"\r\n"), std::string::npos) << text;
        EXPECT_TRUE(
            rig.dialogs.Showed("Body-bends histograms of " + folder.string() + ": " + said + "."));
        // Bin 30 has its increase (channel 0 adds 2 at interval 5 three times); 60 and 90 none.
        EXPECT_NE(text.find("\r\n30,\"000_Control\","), std::string::npos);
        EXPECT_EQ(text.find("\r\n60,\"000_Control\","), std::string::npos);
        EXPECT_EQ(text.find("\r\n90,\"000_Control\","), std::string::npos);
    }
}

TEST(ReportGolden, TheLastColumnNeverExceedsTheRecording) {
    // 115 minutes in 30-minute bins: the scaled fourth bin ends at 120, the length the report
    // then covers; 110 minutes: the partial bin is not reported and the last column is 90.
    for (const auto& [minutes, last_column] : {std::pair{115, 120}, std::pair{110, 90}}) {
        ReportRig rig;
        const fs::path folder = rig.Acquisition("20260314_0930", GoldenProjectPlan(),
                                                ConstantRecords(minutes, {{0, 1}}));
        const ReportOutcome out =
            GenerateReport(rig.env, rig.Request(folder, OutputFormat::Rows, ","));
        ASSERT_TRUE(out.written);
        const std::string text = ReadFile(out.report_file);
        const std::string header =
            "Group/Time[m],30,60,90" + std::string(last_column == 120 ? ",120" : "") + "\r\n";
        EXPECT_NE(text.find(header), std::string::npos) << minutes;
        EXPECT_EQ(text.find(",150"), std::string::npos) << minutes;
    }
}

}  // namespace
}  // namespace lumivo::reporting::testing
