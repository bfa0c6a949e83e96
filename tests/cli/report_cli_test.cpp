// lumivo-cli report: the report files written headless into the acquisition folder, the options
// for layout, format, separator and statistics, the basal questions answered from the options,
// and refusals.
//
// The acquisition folders hold the shipped Default project files (96-well plate, groups by beam
// column), subproj.dat written in the field-record format, and counts.bin written by the
// acquisition's counts writer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/acquisition/data_files.h"
#include "core/storage/field_record.h"
#include "core/storage/installation.h"
#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;

const fs::path kCliBinary = fs::path(LUMIVO_BINARY_DIR) / "src" / "cli" / "lumivo-cli";

using lumivo::testing::ReadFile;
using lumivo::testing::Run;
using lumivo::testing::RunResult;

// An installation folder with project 1 and its acquisitions.
class Installation {
  public:
    Installation() {
        char tmpl[] = "/tmp/lumivo-cli-report-XXXXXX";
        dir_ = mkdtemp(tmpl);
        install_ = dir_ / "install";
        lumivo::LocalFileSystem files;
        EXPECT_TRUE(lumivo::EnsureInstallation(files, install_).ok());
        fs::create_directories(install_ / "p00001");
    }
    ~Installation() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    // An acquisition of project 1: the Default project's files, the register, and `minutes`
    // records (minutes 0..minutes) in which channel c counts count(c).
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
        for (int m = 0; m <= minutes; ++m) {
            lumivo::CountsRecord r;
            r.elapsed_minutes = m;
            for (std::size_t c = 0; c < lumivo::kBeamChannelCount; ++c)
                r.values[c] = static_cast<std::int16_t>(count(c));
            r.values[lumivo::kBeamChannelCount] = 231;
            EXPECT_TRUE(lumivo::AppendCountsRecord(ops, folder / "counts.bin", r, {}).ok);
        }
        return folder;
    }

    RunResult Cli(const std::vector<std::string>& words) const {
        std::vector<std::string> argv = {kCliBinary.string(), "--install", install_.string(),
                                         "report"};
        argv.insert(argv.end(), words.begin(), words.end());
        return Run(argv, dir_);
    }
    const fs::path& install() const { return install_; }

  private:
    fs::path dir_;
    fs::path install_;
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
    EXPECT_EQ(text.rfind("\"DATE:\";\"", 0), 0u);
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
              "lumivo-cli report: the recording is shorter than the bin of 1440 min: bin size "
              "corrected to 120 min\n");
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

TEST(ReportCli, ZeroBasalWellsNeedAPolicy) {
    Installation inst;
    const fs::path folder =
        inst.Acquisition("20260314_0930", "main", 90, [](std::size_t) { return 5; });
    // The wells of beam columns 0 and 1 (group 0, eight wells) have no basal activity.
    const fs::path basal = inst.Acquisition("20260310_0900", "baseline", 30, [](std::size_t c) {
        return ByColumn(c) < 2 ? 0 : ByColumn(c);
    });
    RunResult r = inst.Cli({folder.string(), "--basal", basal.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("You have 8 BASAL WELLS with 0 activity"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--zero-basal max|average|discard is needed"), std::string::npos);

    r = inst.Cli({folder.string(), "--basal", basal.string(), "--zero-basal", "discard"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("ERROR in 16 BASAL channels."), std::string::npos) << r.err;

    r = inst.Cli({folder.string(), "--basal", basal.string(), "--zero-basal", "max"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("ERROR in"), std::string::npos);
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
    EXPECT_EQ(r.err.rfind("lumivo-cli report: Activity file not Found\nlumivo-cli report: " +
                              (nothing / "counts.bin").string() + " does not exist",
                          0),
              0u)
        << r.err;

    const std::vector<std::pair<std::vector<std::string>, std::string>> usage = {
        {{}, ""},
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

}  // namespace
