// lumivo-cli report: the report files written headless into the acquisition folder, the options
// for layout, format, separator and statistics, the basal questions answered from the options,
// and refusals. lumivo-cli reanalyze and export: the raw-data re-analysis and the exports of the
// same acquisitions. lumivo-cli plot: the circadian and sleep views written beside them.
//
// The acquisition folders hold the shipped Default project files (96-well plate, groups by beam
// column), subproj.dat written in the field-record format, and counts.bin written by the
// acquisition's counts writer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "core/acquisition/data_files.h"
#include "core/storage/field_record.h"
#include "core/storage/installation.h"

namespace {

namespace fs = std::filesystem;

using namespace lumivo::testing;

// An installation folder with project 1 and its acquisitions.
class Installation {
  public:
    Installation() {
        lumivo::LocalFileSystem files;
        EXPECT_TRUE(lumivo::EnsureInstallation(files, install_).ok());
        fs::create_directories(install_ / "p00001");
    }
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    // An acquisition of project 1: the Default project's files, the register, and one-minute
    // records (minutes 1..minutes; a single record at minute 0 for 0) in which channel c
    // counts count(c).
    template <typename Count>
    fs::path Acquisition(const std::string& name, const std::string& title, int minutes,
                         Count count) {
        const fs::path folder = install_ / "p00001" / name;
        fs::create_directories(folder);
        for (const char* f :
             {"setup.dat", "status.dat", "threshld.dat", "groups.dat", "chgroup.dat"})
            fs::copy_file(install_ / f, folder / f);
        lumivo::RecordWriter reg;
        reg.Text(title).EndLine().Text("cli test").EndLine();
        std::ofstream(folder / "subproj.dat", std::ios::binary) << reg.str();
        lumivo::PosixFileOps ops;
        for (int m = std::min(minutes, 1); m <= minutes; ++m) {
            lumivo::CountsRecord r;
            r.elapsed_minutes = m;
            for (std::size_t c = 0; c < lumivo::kBeamChannelCount; ++c)
                r.values[c] = static_cast<std::int16_t>(count(c));
            r.values[lumivo::kBeamChannelCount] = 231;
            EXPECT_TRUE(lumivo::AppendCountsRecord(ops, folder / "counts.bin", r, {}).ok);
        }
        return folder;
    }

    RunResult Cli(const std::vector<std::string>& words,
                  const std::string& command = "report") const {
        std::vector<std::string> all = {command};
        all.insert(all.end(), words.begin(), words.end());
        return RunCliOn(install_, all, dir_);
    }
    const fs::path& install() const { return install_; }

  private:
    TempFolder folder_{"lumivo-cli-report"};
    const fs::path dir_ = folder_.path();
    const fs::path install_ = dir_ / "install";
};

int ByColumn(std::size_t channel) {
    return static_cast<int>(channel / 16);
}

TEST(ReportCli, WritesTheReportFilesAndPrintsThePath) {
    Installation inst;
    const fs::path folder = inst.Acquisition("20260314_0930", "cli run one", 90, ByColumn);
    const RunResult r = inst.Cli({folder.string(), "--sep", ";"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, (folder / "report.csv").string() + "\n");
    const std::string text = ReadFile(folder / "report.csv");
    EXPECT_EQ(text.rfind("\xEF\xBB\xBF\"DATE:\";\"", 0), 0u);
    EXPECT_NE(text.find("\"SUBPROJECT:\";\"cli run one\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("Group/Time[m];30;60;90\r\n"), std::string::npos);
    EXPECT_NE(text.find("<<<<<< Group Activity: Standard Error >>>>>>"), std::string::npos);
    EXPECT_EQ(ReadFile(folder / "cli_run_one.csv"), text);
    EXPECT_NE(ReadFile(folder / "report.svg").find("<svg"), std::string::npos);
}

TEST(ReportCli, LayoutFormatSeparatorAndStatisticsComeFromTheOptions) {
    Installation inst;
    const fs::path folder = inst.Acquisition("20260314_0930", "opts", 120, ByColumn);
    RunResult r = inst.Cli(
        {folder.string(), "--layout", "list", "--format", "txt", "--bin", "60", "--stats", "sd"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string text = ReadFile(folder / "report.txt");
    EXPECT_NE(text.find("Time Group Value\r\n"), std::string::npos);
    EXPECT_NE(text.find("60 \"000_Group0\" "), std::string::npos);
    EXPECT_NE(text.find("Standard Deviation"), std::string::npos);
    EXPECT_EQ(text.find("Standard Error"), std::string::npos);
    EXPECT_EQ(text.find("Number of wells"), std::string::npos);

    r = inst.Cli({folder.string(), "--layout", "charray", "--sep", "tab", "--stats", "none"});
    ASSERT_EQ(r.status, 0) << r.err;
    text = ReadFile(folder / "report.csv");
    EXPECT_NE(text.find("<<<<<<CHANNEL ARRAY. Group Configuration>>>>>>"), std::string::npos);
    EXPECT_NE(text.find("ARRAY OUTPUT FORMAT\r\n"), std::string::npos);
    EXPECT_NE(text.find("Row/Column\t1\t2\t"), std::string::npos);

    // A bin longer than the recording is corrected and said on stderr.
    r = inst.Cli({folder.string(), "--bin", "1440"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "lumivo-cli report: the recording (120 min) is shorter than the bin of 1440 min: "
              "bin size corrected to 120 min\n");
}

TEST(ReportCli, BasalQuestionsAreAnsweredFromTheOptions) {
    Installation inst;
    const fs::path folder = inst.Acquisition("20260314_0930", "main", 90, ByColumn);
    // A 90-minute basal with 30-minute bins: the minutes are asked.
    const fs::path basal = inst.Acquisition("20260310_0900", "baseline", 90, ByColumn);
    RunResult r = inst.Cli({folder.string(), "--basal", basal.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--basal-minutes is needed: Basal acquisition is 90min long"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(folder / "report.csv"));

    r = inst.Cli({folder.string(), "--basal", basal.string(), "--basal-minutes", "200"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--basal-minutes is out of range: Enter a value between 30 and 90"),
              std::string::npos)
        << r.err;

    r = inst.Cli(
        {folder.string(), "--basal", basal.string(), "--basal-minutes", "60", "--sep", ","});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = ReadFile(folder / "report.csv");
    EXPECT_NE(text.find("\"TIME0(BASAL MEASSURE):\",\"20260310_0900 baseline\""),
              std::string::npos);
    EXPECT_NE(text.find("\"***DATA AS % OF BASAL ACTIVITY***\""), std::string::npos);
    // Basal and main acquisition count alike: every grouped well is at 100 %.
    EXPECT_NE(text.find("\"001_Group1\",100,100,100,100\r\n"), std::string::npos);
}

TEST(ReportCli, ZeroBasalWellsNeedAPolicyAndEachPolicyDoesWhatItSays) {
    Installation inst;
    // Group 0 is wells A1..H1 (first beams on channels 0, 2, .., 14, second beams 16, .., 30).
    // They have no basal activity; in the main run A1..D1 count 5 per record and E1..H1 are
    // empty wells. Every other channel counts its beam column in both runs (100 %).
    const fs::path folder = inst.Acquisition("20260314_0930", "main", 90, [](std::size_t c) {
        if (ByColumn(c) < 2) return c % 16 < 8 ? 5 : 0;
        return ByColumn(c);
    });
    const fs::path basal = inst.Acquisition("20260310_0900", "baseline", 30, [](std::size_t c) {
        return ByColumn(c) < 2 ? 0 : ByColumn(c);
    });
    RunResult r = inst.Cli({folder.string(), "--basal", basal.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("You have 8 BASAL WELLS with 0 activity"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--zero-basal max|average|discard is needed"), std::string::npos);

    std::map<std::string, std::string> reports;
    for (const char* policy : {"max", "average", "discard"}) {
        r = inst.Cli({folder.string(), "--basal", basal.string(), "--zero-basal", policy});
        ASSERT_EQ(r.status, 0) << policy << ": " << r.err;
        reports[policy] = ReadFile(folder / "report.csv");
        // The date line differs from run to run.
        reports[policy].erase(0, reports[policy].find("\r\n"));
        EXPECT_EQ(r.err.find("ERROR in") == std::string::npos, std::string(policy) != "discard")
            << policy << ": " << r.err;
    }
    // max: A1..D1 at their own peak (100 %), the empty wells kept at 0 %: 8 wells, mean 50.
    EXPECT_NE(reports["max"].find("\"000_Group0\",100,50,50,50\r\n"), std::string::npos);
    EXPECT_NE(reports["max"].find("\"000_Group0\",8,8,8,8\r\n"), std::string::npos);
    // discard: all eight wells leave the group, their 16 channels are reported.
    EXPECT_NE(reports["discard"].find("\"000_Group0\",100,0,0,0\r\n"), std::string::npos);
    EXPECT_NE(reports["discard"].find("\"000_Group0\",0,0,0,0\r\n"), std::string::npos);
    // average: the wells measured against the plate's mean basal, none discarded.
    EXPECT_NE(reports["average"].find("\"000_Group0\",8,8,8,8\r\n"), std::string::npos);
    EXPECT_NE(reports["max"], reports["average"]);
    EXPECT_NE(reports["max"], reports["discard"]);
    EXPECT_NE(reports["average"], reports["discard"]);
}

TEST(ReportCli, ImpossibleCountsAreLeftOutAndOversizedFilesRefused) {
    Installation inst;
    // Minute 45 holds -32768 on channel 3, as a damaged file does.
    const fs::path folder = inst.Acquisition("20260314_0930", "damaged", 90, ByColumn);
    std::fstream f(folder / "counts.bin", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(44 * 774 + 4 + 2 * 3);
    f.put('\x00').put('\x80');
    f.close();
    RunResult r = inst.Cli({folder.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string said =
        "1 of 90 records hold impossible counts (below 0 or above 500) and were left out";
    EXPECT_NE(r.err.find("lumivo-cli report: " + (folder / "counts.bin").string() + ": " + said +
                         " of the report.\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(ReadFile(folder / "report.csv").find("\"EXCLUDED RECORDS:\",\"" + said + "\""),
              std::string::npos);

    // 4 GB of counts: refused before anything is read, saying why.
    const fs::path big = inst.Acquisition("20260315_0930", "big", 1, ByColumn);
    fs::resize_file(big / "counts.bin", 4'000'000'000);
    r = inst.Cli({big.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("lumivo-cli report: Report not written: " + (big / "counts.bin").string() +
                         " holds 5167958 records: more than any recording can write"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(big / "report.csv"));
}

TEST(ReportCli, RefusalsAndUsageErrors) {
    Installation inst;
    const fs::path folder = inst.Acquisition("20260314_0930", "short", 0, ByColumn);
    RunResult r = inst.Cli({folder.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Not enough activity data for a report"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(folder / "report.csv"));
    EXPECT_TRUE(r.out.empty());

    const fs::path nothing = inst.install() / "p00001" / "nothing";
    r = inst.Cli({nothing.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "lumivo-cli report: Activity file not Found: " + (nothing / "counts.bin").string() +
                  " does not exist (no such folder): give the folder of a recorded "
                  "acquisition (yyyymmdd_hhmm in a project folder), which holds "
                  "counts.bin.\n");
    // A counts.bin that is a FIFO is there, but is no file a recording wrote.
    const fs::path piped = inst.Acquisition("20260314_1100", "fifo", 0, ByColumn);
    fs::remove(piped / "counts.bin");
    ASSERT_EQ(::mkfifo((piped / "counts.bin").c_str(), 0600), 0);
    r = inst.Cli({piped.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Activity file not Found: " + (piped / "counts.bin").string() +
                         " is not a regular file"),
              std::string::npos)
        << r.err;
    // Without its setup.dat the acquisition's plate is unknown: said so, not a plate file.
    const fs::path no_setup = inst.Acquisition("20260314_1200", "no setup", 60, ByColumn);
    fs::remove(no_setup / "setup.dat");
    r = inst.Cli({no_setup.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("setup.dat is missing: " + (no_setup / "setup.dat").string() +
                         " does not exist"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find(".dat not found"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(no_setup / "report.csv"));

    const std::vector<std::pair<std::vector<std::string>, std::string>> usage = {
        {{}, "the acquisition folder is missing"},
        {{folder.string(), "--layout", "pie"}, "--layout"},
        {{folder.string(), "--format", "xls"}, "--format"},
        {{folder.string(), "--stats", "mean"}, "--stats"},
        {{folder.string(), "--basal-minutes", "30"}, "--basal-minutes"},
        {{folder.string(), "--basal", "/tmp"}, "--basal"},
        {{folder.string(), "--basal", folder.string(), "--zero-basal", "some"}, "--zero-basal"},
        {{folder.string(), "--basal-minutes", "3o"}, "--basal-minutes must be a whole number"},
        // Separators that would merge the numbers, collide with the decimals or be a word.
        {{folder.string(), "--sep", ""}, "--sep must be \",\", \";\", \"|\" or \"tab\", not \"\""},
        {{folder.string(), "--sep", "."}, "--sep must be"},
        {{folder.string(), "--sep", "TAB"}, "--sep must be"},
        {{folder.string(), "--sep", ",;"}, "--sep must be"},
        {{folder.string(), "--bin", "0"}, "--bin must be a whole number from 1 to"},
        {{folder.string(), "--bin", "-30"}, "--bin must be a whole number from 1 to"},
        {{folder.string(), "--bin", "30min"}, "--bin must be a whole number from 1 to"},
    };
    for (const auto& [words, message] : usage) {
        r = inst.Cli(words);
        EXPECT_EQ(r.status, 2) << (words.size() > 1 ? words[1] : "") << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("lumivo-cli report: " + message, 0), 0u) << r.err;
    }
    // A separator that is accepted.
    r = inst.Cli({inst.Acquisition("20260314_1000", "pipe", 60, ByColumn).string(), "--sep", "|"});
    EXPECT_EQ(r.status, 0) << r.err;
}

// ---- reanalyze and export ------------------------------------------------------------------

// Raw pages of `blocks` windows of 500 readings: every channel at a level with a little noise
// and, in the windows of channel c, (c + m) % 5 dips of 20 readings.
void WriteRawPages(const fs::path& folder, int blocks) {
    lumivo::PosixFileOps ops;
    std::uint32_t noise = 12345;
    for (int m = 0; m < blocks; ++m) {
        std::vector<std::int16_t> w(501 * lumivo::kChannelTableSize, 0);
        for (std::size_t c = 0; c < lumivo::kBeamChannelCount; ++c) {
            const int dips = static_cast<int>((c + static_cast<std::size_t>(m)) % 5);
            for (std::size_t r = 0; r < 500; ++r) {
                noise = noise * 1103515245u + 12345u;
                const bool dip = static_cast<int>(r / 100) < dips && r % 100 < 20;
                w[r * lumivo::kChannelTableSize + c] =
                    static_cast<std::int16_t>((dip ? 1200 : 2000) + static_cast<int>(noise >> 28));
            }
        }
        const auto page = folder / lumivo::RawPageFileName(m / 11);
        EXPECT_TRUE(
            lumivo::AppendRawPageRecord(ops, page, lumivo::ConstSampleWindow{w, 501}, 500, {}).ok);
    }
}

std::vector<std::string> OutLines(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(ReanalyzeCli, WritesTheReportAndReplacesTheCountsKeepingABackup) {
    Installation inst;
    const fs::path folder = inst.Acquisition("20260314_0930", "raw run", 20, ByColumn);
    WriteRawPages(folder, 20);
    const std::string recorded = ReadFile(folder / "counts.bin");

    RunResult r = inst.Cli(
        {folder.string(), "--method", "1", "--snr", "1.8", "--bin", "5", "--lapse-hours", "0.2"},
        "reanalyze");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(OutLines(r.out).back(), (folder / "report.csv").string());
    EXPECT_NE(r.err.find("lumivo-cli reanalyze: re-analysed 11 of 11 blocks with method 1"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(ReadFile(folder / "counts.bin"), recorded);
    EXPECT_NE(ReadFile(folder / "report.csv").find("Group/Time[m],5,10"), std::string::npos);

    r = inst.Cli({folder.string(), "--method", "0", "--snr", "2.8", "--replace", "--export-raw"},
                 "reanalyze");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(OutLines(r.out).back(), (folder / "report.csv").string());
    EXPECT_NE(r.err.find("re-analysed 20 of 20 blocks"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Block 20/20"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(folder / "counts.bak"), recorded);
    const std::string replaced = ReadFile(folder / "counts.bin");
    ASSERT_EQ(replaced.size(), recorded.size());
    EXPECT_NE(replaced, recorded);
    const std::string events = ReadFile(folder / "ch0.raw");
    EXPECT_EQ(std::count(events.begin(), events.end(), '\n'), 20);
    EXPECT_EQ(events.rfind("0 ", 0), 0u);
}

TEST(ReanalyzeCli, AFifoInPlaceOfARawPageIsRefusedAtOnce) {
    // A page that is a FIFO would block the run until a writer comes, which never happens.
    Installation inst;
    const fs::path folder = inst.Acquisition("20260314_0930", "raw run", 20, ByColumn);
    WriteRawPages(folder, 11);
    ASSERT_EQ(::mkfifo((folder / "1.bin").c_str(), 0600), 0);
    const RunResult r =
        RunCliOn(inst.install(), {"reanalyze", folder.string(), "--method", "1", "--snr", "1.8"},
                 folder.parent_path(), 20000);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find((folder / "1.bin").string() + " is not a regular file"), std::string::npos)
        << r.err;
}

TEST(ReanalyzeCli, RefusalsAndUsageErrors) {
    Installation inst;
    const fs::path folder = inst.Acquisition("20260314_0930", "no raw", 20, ByColumn);
    RunResult r = inst.Cli({folder.string(), "--method", "1", "--snr", "1.8"}, "reanalyze");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "lumivo-cli reanalyze: Real Time Data Not Found: " + (folder / "0.bin").string() +
                  " does not exist: the acquisition holds no raw signal pages (it was "
                  "recorded without them, or it is a joined acquisition), and only raw "
                  "pages can be re-analysed.\n");
    EXPECT_TRUE(r.out.empty());

    const std::vector<std::pair<std::vector<std::string>, std::string>> usage = {
        {{"--method", "1", "--snr", "1.8"}, "the acquisition folder is missing"},
        {{folder.string(), "--snr", "1.8"}, "--method 0|1|2 is required"},
        {{folder.string(), "--method", "3", "--snr", "1.8"}, "--method must be"},
        {{folder.string(), "--method", "1"}, "--snr X"},
        {{folder.string(), "--method", "1", "--snr", "0.9"}, "--snr must be a number from 1.1"},
        {{folder.string(), "--method", "1", "--snr", "1,8"}, "--snr must be a number from 1.1"},
        {{folder.string(), "--method", "1", "--snr", "1.8", "--replace", "--lapse-hours", "2"},
         "--replace re-analyses the whole recording"},
        // No lapse is not a lapse of the shortest re-analysis.
        {{folder.string(), "--method", "1", "--snr", "1.8", "--lapse-hours", "0"},
         "--lapse-hours must be more than 0"},
        {{folder.string(), "--method", "1", "--snr", "1.8", "--lapse-hours", "-2"},
         "--lapse-hours must be"},
    };
    for (const auto& [words, message] : usage) {
        r = inst.Cli(words, "reanalyze");
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind("lumivo-cli reanalyze: " + message, 0), 0u) << r.err;
    }
}

TEST(ExportCli, FilesPerChannelPerWellAndTidyTables) {
    Installation inst;
    const fs::path folder = inst.Acquisition("20260314_0930", "export run", 90, ByColumn);

    RunResult r =
        inst.Cli({folder.string(), "--per", "channel", "--time", "--bin", "30"}, "export");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(OutLines(r.out),
              (std::vector<std::string>{(folder / "report2.txt").string(), folder.string()}));
    EXPECT_EQ(ReadFile(folder / "time.txt"), "0 30 60\r\n");
    EXPECT_EQ(ReadFile(folder / "ch000017.txt"), "0 30 60\r\n30 30 30\r\n");
    EXPECT_EQ(ReadFile(folder / "ch000383.txt"), "0 30 60\r\n690 690 690\r\n");

    // A1 holds channels 0 and 16 (0 and 1 a minute), H12 channels 359 and 375 (22 and 23).
    r = inst.Cli({folder.string(), "--per", "well", "--bin", "45"}, "export");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(OutLines(r.out).back(), folder.string());
    EXPECT_EQ(ReadFile(folder / "000_A1.txt"), "14/03/2026 09:30 22\r\n14/03/2026 10:15 22\r\n");
    EXPECT_EQ(ReadFile(folder / "095_H12.txt"),
              "14/03/2026 09:30 1012\r\n14/03/2026 10:15 1012\r\n");
    r = inst.Cli({folder.string(), "--per", "well", "--bin", "120"}, "export");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("the recording (90 min) is shorter than the bin of 120 min: bin size "
                         "corrected to 90 min"),
              std::string::npos)
        << r.err;

    // The recorder logged its zone: the tables carry its offset, whatever this computer's zone.
    std::ofstream(folder / "events.log", std::ios::binary)
        << "2026-03-14 09:30:00  Time zone: UTC+01:00 (CET)\r\n"
           "2026-03-14 09:30:00  Sampling started\r\n";
    r = inst.Cli({folder.string(), "--tidy", "--bin", "30"}, "export");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(OutLines(r.out), (std::vector<std::string>{(folder / "metadata.csv").string(),
                                                         (folder / "activity.csv").string()}));
    auto meta = OutLines(ReadFile(folder / "metadata.csv"));
    EXPECT_EQ(meta.size(), 97u);
    EXPECT_EQ(
        meta[1],
        "2026-03-14T09:30:00+01:00|p00001/20260314_0930|A1,0,2026-03-14T09:30:00+01:00,"
        "2026-03-14T11:00:00+01:00,Default,20260314_0930,w96f,A1,000_Group0,0 16,OK,"
        "UTC+01:00 (CET) as logged by the recorder,C elegans(>L4),no counts for at least 2 min");
    auto rows = OutLines(ReadFile(folder / "activity.csv"));
    EXPECT_EQ(rows.size(), 1u + 96u * 3u);
    EXPECT_EQ(rows.back(), "2026-03-14T09:30:00+01:00|p00001/20260314_0930|H12,3600,675");

    r = inst.Cli({folder.string(), "--tidy", "--per", "channel"}, "export");
    ASSERT_EQ(r.status, 0) << r.err;
    meta = OutLines(ReadFile(folder / "metadata.csv"));
    EXPECT_EQ(meta.size(), 1u + 192u);
    EXPECT_EQ(meta[2].substr(0, 52), "2026-03-14T09:30:00+01:00|p00001/20260314_0930|A1.1,");

    const std::vector<std::pair<std::vector<std::string>, std::string>> usage = {
        {{folder.string()}, "give --per channel|well, or --tidy"},
        {{folder.string(), "--per", "plate"}, "--per must be channel or well"},
        {{folder.string(), "--tidy", "--time"}, "--time belongs to --per channel"},
        {{folder.string(), "--per", "well", "--dead-hours", "3"}, "--dead-hours belongs to --tidy"},
        {{"--tidy"}, "the acquisition folder is missing"},
    };
    for (const auto& [words, message] : usage) {
        r = inst.Cli(words, "export");
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind("lumivo-cli export: " + message, 0), 0u) << r.err;
    }
    r = inst.Cli({(folder.parent_path() / "renamed").string(), "--tidy"}, "export");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "lumivo-cli export: Activity file not Found: " +
                         (folder.parent_path() / "renamed" / "counts.bin").string() +
                         " does not exist (no such folder): give the folder of a recorded "
                         "acquisition (yyyymmdd_hhmm in a project folder), which holds "
                         "counts.bin.\n");
}

// Two days in which channel c counts during the first half of each day (minutes of the day below
// 720) and, every seventh minute, nothing.
int HalfDays(int minute, std::size_t channel) {
    return minute % 1440 < 720 && minute % 7 != 0 ? static_cast<int>(channel % 5) + 1 : 0;
}

TEST(PlotCli, EachKindWritesItsPictureAndTableAndPrintsBothPaths) {
    Installation inst;
    const fs::path folder = inst.install() / "p00001" / "20260314_0930";
    int minute = 0;  // the records are filled minute by minute, channel 0 first
    inst.Acquisition("20260314_0930", "two days", 2880,
                     [&minute](std::size_t c) { return HalfDays(c == 0 ? ++minute : minute, c); });
    struct Case {
        std::vector<std::string> words;
        const char* stem;
    };
    const Case cases[] = {
        {{"--kind", "actogram", "--double", "--bin", "60"}, "actogram"},
        {{"--kind", "periodogram", "--method", "lomb-scargle", "--period-range", "20,28"},
         "periodogram"},
        {{"--kind", "periodogram", "--peak", "above-line", "--group", "0"}, "periodogram_group0"},
        {{"--kind", "profile", "--group", "1"}, "profile_group1"},
        {{"--kind", "sleep", "--well", "a1", "--bout-min", "3"}, "sleep_A1"},
        {{"--kind", "sleep", "--group", "1", "--sleep-rule", "zebrafish"}, "sleep_group1"},
        {{"--kind", "periodogram", "--method", "autocorrelation", "--well", "A2"},
         "periodogram_A2"},
        {{"--kind", "cosinor", "--period", "peak", "--method", "lomb-scargle"}, "cosinor"},
        {{"--kind", "indices", "--group", "0"}, "indices_group0"},
        {{"--kind", "onsets", "--double", "--smooth", "1"}, "onsets"},
        // The acquisition named inside the installation folder.
        {{"--kind", "actogram", "--well", "B2"}, "actogram_B2"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words = {c.stem == std::string("actogram_B2")
                                              ? std::string("1/20260314_0930")
                                              : folder.string()};
        words.insert(words.end(), c.words.begin(), c.words.end());
        const RunResult r = inst.Cli(words, "plot");
        ASSERT_EQ(r.status, 0) << c.stem << "\n" << r.err;
        const fs::path svg = folder / (std::string(c.stem) + ".svg");
        const fs::path csv = folder / (std::string(c.stem) + ".csv");
        EXPECT_EQ(r.out, svg.string() + "\n" + csv.string() + "\n");
        EXPECT_NE(ReadFile(svg).find("</svg>"), std::string::npos) << c.stem;
        EXPECT_EQ(ReadFile(csv).rfind("id,kind,group,", 0), 0u) << c.stem;
        // The Default project has no light cycle: the run's light is not known, dark assumed.
        EXPECT_EQ(r.err.rfind("lumivo-cli plot: light: constant dark (no light cycle", 0), 0u)
            << r.err;
        // A sleep view says the rule it counted by.
        EXPECT_EQ(r.err.find("\nlumivo-cli plot: sleep: ") != std::string::npos,
                  std::string(c.stem).rfind("sleep", 0) == 0)
            << r.err;
        for (std::size_t at = 0; at < r.err.size(); at = r.err.find('\n', at) + 1)
            EXPECT_EQ(r.err.compare(at, 17, "lumivo-cli plot: "), 0) << r.err;
    }
    // The sleep table of A1 at 1-minute bins: one 720-minute bout in the second half of each day
    // (the single silent minutes are no bouts, but minutes without a count: 1440 + 205);
    // all of it in the assumed dark, no lights-off.
    const std::string sleep = ReadFile(folder / "sleep_A1.csv");
    // A length apart from the worms' 2 minutes is a customised rule, and the table says so.
    EXPECT_NE(sleep.find("\r\nA1,well,000_Group0,OK,1,dark,2880,1440,50,1645,2,720,NA,0,3,"
                         "Customized,no counts for at least 3 min\r\n"),
              std::string::npos)
        << sleep;
    EXPECT_NE(ReadFile(folder / "sleep_group1.csv")
                  .find(",1,Zebrafish(Larvae),no counts for at least 1 min\r\n"),
              std::string::npos);
    // Two days of a square wave of half days: the cosinor at its periodogram peak near 24 h (two
    // days resolve it only roughly), the peak of the fit near the middle of the active half
    // (09:30-21:30).
    const std::string cosinor = ReadFile(folder / "cosinor.csv");
    const auto a1 = cosinor.find("\r\nA1,well,000_Group0,OK,1,");
    ASSERT_NE(a1, std::string::npos) << cosinor;
    std::vector<std::string> fields;
    std::stringstream line(cosinor.substr(a1 + 2, cosinor.find('\r', a1 + 2) - a1 - 2));
    for (std::string f; std::getline(line, f, ',');) fields.push_back(f);
    ASSERT_GE(fields.size(), 16u);
    EXPECT_NEAR(std::stod(fields[5]), 24.0, 1.5) << cosinor;
    EXPECT_EQ(fields[6], "periodogram peak");
    EXPECT_EQ(fields[7], "midnight");
    EXPECT_NEAR(std::stod(fields[15]), 15.5, 1.5) << cosinor;
    const std::string indices = ReadFile(folder / "indices_group0.csv");
    EXPECT_NE(indices.find("\r\n000_Group0,group,000_Group0,NA,"), std::string::npos) << indices;
}

TEST(PlotCli, RefusalsAndUsageErrors) {
    Installation inst;
    const fs::path folder = inst.Acquisition("20260314_0930", "short", 120, ByColumn);
    const std::vector<std::pair<std::vector<std::string>, std::string>> usage = {
        {{folder.string()},
         "--kind actogram|periodogram|profile|sleep|cosinor|indices|onsets is needed"},
        {{"--kind", "actogram"}, "the acquisition folder is missing"},
        {{folder.string(), "--kind", "heatmap"}, "--kind must be"},
        {{folder.string(), "--kind", "actogram", "--group", "1", "--well", "A1"},
         "--group and --well exclude each other"},
        {{folder.string(), "--kind", "periodogram", "--double"}, "--double applies"},
        {{folder.string(), "--kind", "profile", "--period", "24"}, "--period applies"},
        {{folder.string(), "--kind", "cosinor", "--period", "day"}, "--period takes hours"},
        {{folder.string(), "--kind", "cosinor", "--method", "chi-square"}, "--method, --period"},
        {{folder.string(), "--kind", "sleep", "--sleep-rule", "fly"}, "--sleep-rule must be"},
        {{folder.string(), "--kind", "cosinor", "--sleep-rule", "worm"}, "--bout-min and"},
        {{folder.string(), "--kind", "actogram", "--smooth", "2"}, "--smooth applies"},
        {{folder.string(), "--kind", "sleep", "--method", "chi-square"}, "--method, --period"},
        {{folder.string(), "--kind", "sleep", "--peak", "max-power"}, "--method, --period"},
        {{folder.string(), "--kind", "periodogram", "--peak", "highest"},
         "--peak must be max-power or above-line"},
        {{folder.string(), "--kind", "profile", "--bout-min", "5"}, "--bout-min and"},
        {{folder.string(), "--kind", "periodogram", "--method", "fourier"}, "--method must be"},
        {{folder.string(), "--kind", "periodogram", "--period-range", "32,16"}, "--period-range"},
        {{folder.string(), "--kind", "periodogram", "--period-range", "24"}, "--period-range"},
        {{folder.string(), "--kind", "actogram", "--bin", "0"}, "--bin must be"},
    };
    for (const auto& [words, message] : usage) {
        const RunResult r = inst.Cli(words, "plot");
        EXPECT_EQ(r.status, 2) << message << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("lumivo-cli plot: " + message, 0), 0u) << r.err;
    }
    const std::vector<std::pair<std::vector<std::string>, std::string>> failures = {
        {{(inst.install() / "p00001" / "nothing").string(), "--kind", "sleep"},
         "counts.bin does not exist"},
        {{folder.string(), "--kind", "sleep", "--well", "Z99"}, "no well \"Z99\""},
        {{folder.string(), "--kind", "sleep", "--group", "Dose"}, "no group \"Dose\""},
        {{folder.string(), "--kind", "profile", "--bin", "720"}, "choose a shorter bin"},
    };
    for (const auto& [words, message] : failures) {
        const RunResult r = inst.Cli(words, "plot");
        EXPECT_EQ(r.status, 1) << message << "\n" << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_FALSE(fs::exists(folder / "sleep.svg"));
}

}  // namespace
