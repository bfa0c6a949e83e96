// Re-analysis of recorded raw pages ("Analyze Raw Data", RUN and STOP): counts channel for
// channel against the step-by-step activity calculation, the event strings, "Replace old data"
// touching only the count fields and keeping counts.bak, STOP and failures leaving every file
// as it was, blocks without raw data, and the refusals.
#include "core/reporting/report/raw_reanalysis.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <limits>

#include "core/acquisition/data_files.h"
#include "core/acquisition/recording_mark.h"
#include "core/analysis/analysis_literal.h"
#include "core/analysis/window_generators.h"
#include "report_fixture.h"

namespace lumivo::reporting::testing {
namespace {

// The channels of the test plate that lie in a well, and the kind of signal each one gets.
constexpr std::array<std::size_t, 6> kWellChannels = {0, 1, 2, 16, 17, 33};
constexpr std::array<int, 6> kSignalKinds = {0, 9, 11, 0, 14, 10};
// What the recording wrote as counts for the channels in wells (the re-analysis replaces it).
constexpr std::int16_t kRecordedCount = 7;

// An acquisition of `blocks` one-minute windows (minutes 1..blocks) whose raw pages hold the
// first `raw_blocks` of them.
struct RawAcquisition {
    fs::path folder;
    std::size_t rt_buffer = 500;
    std::vector<std::vector<std::int16_t>> windows;  // per block, (RT_Buffer + 1) x 385
    std::string counts_bytes;                        // counts.bin as recorded
};

RawAcquisition MakeRawAcquisition(ReportRig& rig, const std::string& name, std::size_t blocks,
                                  std::size_t raw_blocks, int rt_buffer = 500,
                                  std::uint64_t seed = 1) {
    RawAcquisition a;
    a.rt_buffer = static_cast<std::size_t>(rt_buffer);
    ProjectPlan plan = GoldenProjectPlan();
    plan.rt_buffer = rt_buffer;
    std::vector<PlannedRecord> records;
    for (std::size_t m = 0; m < blocks; ++m) {
        PlannedRecord r;
        r.minute = static_cast<std::int32_t>(m + 1);
        for (std::size_t c : kWellChannels) r.values[c] = kRecordedCount;
        r.values[384] = static_cast<std::int16_t>(250 + m % 3);
        records.push_back(r);
    }
    a.folder = rig.Acquisition(name, plan, records);
    a.counts_bytes = ReadFile(a.folder / "counts.bin");

    lumivo::testing::WindowGenerator gen(seed);
    PosixFileOps ops;
    const std::size_t rows = a.rt_buffer + 1;
    for (std::size_t m = 0; m < raw_blocks; ++m) {
        std::vector<std::int16_t> w(rows * kChannelTableSize, 0);
        for (std::size_t c = 0; c < kBeamChannelCount; ++c)
            for (std::size_t r = 0; r < a.rt_buffer; ++r) w[r * kChannelTableSize + c] = 2000;
        for (std::size_t i = 0; i < kWellChannels.size(); ++i) {
            const auto x = gen.Make(kSignalKinds[i], a.rt_buffer);
            for (std::size_t r = 0; r < a.rt_buffer; ++r)
                w[r * kChannelTableSize + kWellChannels[i]] = x[r];
        }
        const auto page = a.folder / RawPageFileName(static_cast<int>(m / kWindowsPerRawPage));
        EXPECT_TRUE(AppendRawPageRecord(ops, page, ConstSampleWindow{w, rows}, a.rt_buffer, {}).ok);
        a.windows.push_back(std::move(w));
    }
    return a;
}

// The step-by-step calculation of one channel on a copy of a recorded window.
ChannelAnalysis Literal(const RawAcquisition& a, std::size_t block, std::size_t channel, double snr,
                        int method) {
    std::vector<std::int16_t> copy = a.windows[block];
    return literal::AnalyzeChannelWindowLiteral(SampleWindow{copy, a.rt_buffer + 1}, channel, snr,
                                                DspMethodFromNumber(method));
}

class ScriptedRawView final : public RawRunView {
  public:
    void ShowStatus(const std::string& text) override {
        statuses.push_back(text);
        if (on_status) on_status(text);
    }
    void ShowBinSize(const std::string& text) override { bin_sizes.push_back(text); }
    bool StopRequested() override { return ++asked_ == stop_after; }

    std::vector<std::string> statuses;
    std::vector<std::string> bin_sizes;
    int stop_after = -1;  // answers "stop" after this many blocks
    std::function<void(const std::string&)> on_status;

  private:
    int asked_ = 0;
};

RawRunRequest Request(const fs::path& folder, int method, const std::string& threshold) {
    RawRunRequest r;
    r.folder = folder;
    r.method = method;
    r.threshold_text = threshold;
    r.bin_size_text = "5";
    r.options.decimal_symbol = ".";
    return r;
}

std::vector<std::string> TemporaryFiles(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string n = e.path().filename().string();
        if (n.find(".tmp") != std::string::npos) names.push_back(n);
    }
    return names;
}

TEST(RawReanalysis, CountsAndEventStringsMatchTheCalculationChannelByChannel) {
    struct Case {
        int method;
        const char* threshold;
        int rt_buffer;
        unsigned threads;  // the channels split over this many threads
    };
    const Case cases[] = {
        {0, "1.8", 500, 1}, {1, "2,8", 500, 3}, {2, "1.3", 500, 2}, {1, "1.8", 620, 4}};
    for (const Case& k : cases) {
        SCOPED_TRACE("method " + std::to_string(k.method) + ", RT_Buffer " +
                     std::to_string(k.rt_buffer) + ", threads " + std::to_string(k.threads));
        ReportRig rig;
        const RawAcquisition a = MakeRawAcquisition(rig, "20260314_0930", 14, 14, k.rt_buffer,
                                                    7u + static_cast<std::uint64_t>(k.method));
        RawRunRequest request = Request(a.folder, k.method, k.threshold);
        request.raw_export = true;
        request.threads = k.threads;
        ScriptedRawView view;
        const RawRunOutcome out = ReanalyzeRawData(rig.env, request, view);
        ASSERT_TRUE(out.completed) << out.failure;
        EXPECT_EQ(out.blocks, 14u);
        EXPECT_EQ(out.analysed, 14u);
        EXPECT_EQ(out.missing, 0u);
        const double snr = k.threshold[1] == ',' ? 2.8 : std::stod(k.threshold);
        for (std::size_t m = 0; m < 14; ++m) {
            for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
                const std::int16_t expected =
                    std::find(kWellChannels.begin(), kWellChannels.end(), c) != kWellChannels.end()
                        ? Literal(a, m, c, snr, k.method).count
                        : std::int16_t{0};
                ASSERT_EQ(out.records.count(m, c), expected) << "block " << m << " channel " << c;
            }
        }
        // One event line per block in each analysed channel's file, labelled with the block's
        // record number; channels in no well get no file.
        EXPECT_EQ(out.event_files.size(), kWellChannels.size());
        for (std::size_t c : kWellChannels) {
            std::string expected;
            for (std::size_t m = 0; m < 14; ++m)
                expected += FormatEventLine(static_cast<std::int64_t>(m),
                                            Literal(a, m, c, snr, k.method).events);
            EXPECT_EQ(ReadFile(a.folder / EventFileName(c)), expected) << "channel " << c;
        }
        EXPECT_FALSE(fs::exists(a.folder / EventFileName(3)));
        // counts.bin is left alone without "Replace old data"; the report is written.
        EXPECT_EQ(ReadFile(a.folder / "counts.bin"), a.counts_bytes);
        EXPECT_FALSE(fs::exists(a.folder / kCountsBackupFileName));
        EXPECT_TRUE(out.report.written) << out.report.failure;
        EXPECT_TRUE(fs::exists(a.folder / "report.csv"));
        EXPECT_EQ(view.statuses.front(), "Block 0/14");
        EXPECT_EQ(view.statuses.back(), "Block 14/14");
        EXPECT_EQ(view.statuses.size(), 15u);
        EXPECT_TRUE(TemporaryFiles(a.folder).empty());
    }
}

TEST(RawReanalysis, ReplaceChangesOnlyTheCountFieldsAndKeepsTheRecordedFile) {
    ReportRig rig;
    RawAcquisition a = MakeRawAcquisition(rig, "20260314_0930", 13, 13);
    // A recording killed while writing left an incomplete record: it is kept as it was.
    {
        std::ofstream(a.folder / "counts.bin", std::ios::binary | std::ios::app) << "xyz";
        a.counts_bytes += "xyz";
    }
    RawRunRequest request = Request(a.folder, 1, "1.8");
    request.replace_data = true;
    request.datalapse_text = "0.05";  // ignored: "Replace old data" covers the whole recording
    ScriptedRawView view;
    const RawRunOutcome out = ReanalyzeRawData(rig.env, request, view);
    ASSERT_TRUE(out.completed) << out.failure;
    ASSERT_TRUE(out.replaced);
    EXPECT_EQ(out.blocks, 13u);

    const std::string now = ReadFile(a.folder / "counts.bin");
    ASSERT_EQ(now.size(), a.counts_bytes.size());
    bool some_count_changed = false;
    for (std::size_t m = 0; m < 13; ++m) {
        const std::size_t at = m * kCountsRecordSize;
        EXPECT_EQ(now.substr(at, 4), a.counts_bytes.substr(at, 4)) << "minute of record " << m;
        EXPECT_EQ(now.substr(at + 772, 2), a.counts_bytes.substr(at + 772, 2))
            << "temperature of record " << m;
        for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
            const auto lo = static_cast<unsigned char>(now[at + 4 + 2 * c]);
            const auto hi = static_cast<unsigned char>(now[at + 5 + 2 * c]);
            EXPECT_EQ(static_cast<std::int16_t>(lo | hi << 8), out.records.count(m, c));
        }
        some_count_changed = some_count_changed || out.records.count(m, 0) != kRecordedCount;
    }
    EXPECT_TRUE(some_count_changed);
    EXPECT_EQ(now.substr(13 * kCountsRecordSize), "xyz");
    EXPECT_EQ(ReadFile(a.folder / kCountsBackupFileName), a.counts_bytes);
    EXPECT_EQ(std::count(view.statuses.begin(), view.statuses.end(), "Saving..."), 1);
    EXPECT_EQ(view.statuses.back(), "Block 13/13");

    // The report of the run is the report of the new counts.bin.
    ASSERT_TRUE(out.report.written);
    const std::string reanalysis_report = ReadFile(a.folder / "report.csv");
    ReportRequest again = rig.Request(a.folder, OutputFormat::Rows, ",");
    again.bin_size_text = "5";
    ASSERT_TRUE(GenerateReport(rig.env, again).written);
    EXPECT_EQ(ReadFile(a.folder / "report.csv"), reanalysis_report);

    // A second replacement keeps counts.bak: it still holds the counts of the recording.
    request.method = 0;
    ASSERT_TRUE(ReanalyzeRawData(rig.env, request, view).replaced);
    EXPECT_NE(ReadFile(a.folder / "counts.bin"), now);
    EXPECT_EQ(ReadFile(a.folder / kCountsBackupFileName), a.counts_bytes);
    EXPECT_TRUE(TemporaryFiles(a.folder).empty());
}

TEST(RawReanalysis, StopOrAChangedCountsFileLeavesEveryFileAsItWas) {
    struct Case {
        const char* what;
        int stop_after;     // STOP after this block
        int append_at = 0;  // a record appended to counts.bin while this block is analysed
        const char* message;
    };
    const Case cases[] = {
        {"stop after block 5", 5, 0,
         "Raw data processing stopped at block 5 of 14: counts.bin was not changed and no "
         "report was written."},
        {"stop after the last block", 14, 0,
         "Raw data processing stopped at block 14 of 14: counts.bin was not changed and no "
         "report was written."},
        {"counts.bin grows during the run", -1, 3, "changed while it was re-analysed"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ReportRig rig;
        RawAcquisition a = MakeRawAcquisition(rig, "20260314_0930", 14, 14);
        std::ofstream(a.folder / "ch0.raw", std::ios::binary) << "0 earlier export\r\n";
        RawRunRequest request = Request(a.folder, 1, "1.8");
        request.replace_data = true;
        request.raw_export = true;
        ScriptedRawView view;
        view.stop_after = k.stop_after;
        std::string appended;
        if (k.append_at > 0) {
            view.on_status = [&](const std::string& s) {
                if (s != "Block " + std::to_string(k.append_at) + "/14") return;
                appended = std::string(kCountsRecordSize, '\0');
                std::ofstream(a.folder / "counts.bin", std::ios::binary | std::ios::app)
                    << appended;
            };
        }
        const RawRunOutcome out = ReanalyzeRawData(rig.env, request, view);
        EXPECT_FALSE(out.replaced);
        EXPECT_EQ(out.stopped, k.stop_after > 0);
        const auto messages = rig.dialogs.Messages();
        ASSERT_FALSE(messages.empty());
        EXPECT_NE(messages.back().find(k.message), std::string::npos) << messages.back();
        EXPECT_EQ(ReadFile(a.folder / "counts.bin"), a.counts_bytes + appended);
        EXPECT_FALSE(fs::exists(a.folder / "report.csv"));
        // Event strings are put in place once every block was analysed, before counts.bin.
        EXPECT_EQ(ReadFile(a.folder / "ch0.raw") == "0 earlier export\r\n", k.stop_after > 0);
        if (k.stop_after > 0) {
            EXPECT_EQ(out.analysed, static_cast<std::size_t>(k.stop_after));
            EXPECT_FALSE(fs::exists(a.folder / EventFileName(1)));
            EXPECT_FALSE(fs::exists(a.folder / kCountsBackupFileName));
        }
        EXPECT_TRUE(TemporaryFiles(a.folder).empty());
    }
}

TEST(RawReanalysis, BlocksWithoutRawDataKeepTheirRecordedCounts) {
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> damage;
        std::size_t analysed;
        std::size_t first_missing;
    };
    const Case cases[] = {
        {"last page ends early", [](const fs::path&) {}, 14, 14},
        {"last page cut inside a record",
         [](const fs::path& f) { fs::resize_file(f / "1.bin", fs::file_size(f / "1.bin") - 9); },
         13, 13},
        {"a page missing", [](const fs::path& f) { fs::remove(f / "1.bin"); }, 11, 11},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ReportRig rig;
        const RawAcquisition a = MakeRawAcquisition(rig, "20260314_0930", 16, 14);
        k.damage(a.folder);
        ScriptedRawView view;
        const RawRunOutcome out = ReanalyzeRawData(rig.env, Request(a.folder, 1, "1.8"), view);
        ASSERT_TRUE(out.completed) << out.failure;
        EXPECT_EQ(out.analysed, k.analysed);
        EXPECT_EQ(out.missing, 16 - k.analysed);
        for (std::size_t m = 0; m < 16; ++m) {
            const std::int16_t expected =
                m < k.analysed ? Literal(a, m, 0, 1.8, 1).count : kRecordedCount;
            EXPECT_EQ(out.records.count(m, 0), expected) << "block " << m;
        }
        EXPECT_TRUE(rig.dialogs.Showed(
            std::to_string(16 - k.analysed) +
            " of 16 blocks have no raw data (the raw pages end or are missing from block " +
            std::to_string(k.first_missing + 1) + " on): the counts recorded for them were kept."));
        EXPECT_TRUE(out.report.written);
    }
}

TEST(RawReanalysis, RefusesWhatCannotBeAnalysedAndWritesNothing) {
    struct Case {
        const char* what;
        int rt_buffer;
        std::function<void(RawAcquisition&, RawRunRequest&)> prepare;
        const char* message;
    };
    const Case cases[] = {
        {"no raw page 0", 500,
         [](RawAcquisition& a, RawRunRequest&) { fs::remove(a.folder / "0.bin"); },
         "Real Time Data Not Found"},
        {"RT_Buffer below 500", 300, [](RawAcquisition&, RawRunRequest&) {},
         "cannot be re-analysed: they were recorded with RT_Buffer 300 (windows of 300 "
         "readings), and the activity calculation needs windows of at least 500 readings."},
        {"pages of another RT_Buffer", 500,
         [](RawAcquisition& a, RawRunRequest&) {
             // setup.dat says 620 readings per window, the pages hold 500.
             ProjectPlan plan = GoldenProjectPlan();
             plan.rt_buffer = 620;
             WriteAcquisitionProject(a.folder.parent_path().parent_path(), a.folder, plan);
         },
         "the raw pages do not match the setup and cannot be re-analysed."},
        {"threshold out of range", 500,
         [](RawAcquisition&, RawRunRequest& r) { r.threshold_text = "0.9"; },
         "The threshold must be a number from 1.1 to 6.0, not \"0.9\"."},
        {"no counts.bin", 500,
         [](RawAcquisition& a, RawRunRequest&) { fs::remove(a.folder / "counts.bin"); },
         "Activity file not Found"},
        // A recording still writes into the folder: its counts.bin would mix two thresholds.
        {"being recorded", 500,
         [](RawAcquisition& a, RawRunRequest&) {
             static RecordingMark recording;
             ASSERT_TRUE(recording.Take(a.folder));
         },
         "is in use (an acquisition is being recorded into it, or its raw data are being "
         "re-analysed): re-analyse it once that has ended."},
        // Every page random bytes: nothing can be re-analysed.
        {"damaged pages", 500,
         [](RawAcquisition& a, RawRunRequest&) {
             std::string bytes = ReadFile(a.folder / "0.bin");
             for (std::size_t i = 0; i < bytes.size(); ++i)
                 bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
             std::ofstream(a.folder / "0.bin", std::ios::binary) << bytes;
             bytes = ReadFile(a.folder / "1.bin");
             for (std::size_t i = 0; i < bytes.size(); ++i)
                 bytes[i] = static_cast<char>((i * 40503u) >> 7);
             std::ofstream(a.folder / "1.bin", std::ios::binary) << bytes;
         },
         "has usable raw data in the raw pages: nothing was re-analysed."},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ReportRig rig;
        RawAcquisition a = MakeRawAcquisition(rig, "20260314_0930", 14, 14, 500);
        const std::string log_before =
            fs::exists(a.folder / "events.log") ? ReadFile(a.folder / "events.log") : std::string();
        if (k.rt_buffer != 500) {
            ProjectPlan plan = GoldenProjectPlan();
            plan.rt_buffer = k.rt_buffer;
            WriteAcquisitionProject(rig.install, a.folder, plan);
        }
        RawRunRequest request = Request(a.folder, 1, "1.8");
        request.replace_data = true;
        request.raw_export = true;
        k.prepare(a, request);
        ScriptedRawView view;
        const RawRunOutcome out = ReanalyzeRawData(rig.env, request, view);
        EXPECT_FALSE(out.completed);
        ASSERT_FALSE(rig.dialogs.Messages().empty());
        EXPECT_NE(rig.dialogs.Messages().back().find(k.message), std::string::npos)
            << rig.dialogs.Messages().back();
        EXPECT_FALSE(fs::exists(a.folder / kCountsBackupFileName));
        EXPECT_FALSE(fs::exists(a.folder / "report.csv"));
        EXPECT_FALSE(fs::exists(a.folder / EventFileName(0)));
        if (fs::exists(a.folder / "counts.bin")) {
            EXPECT_EQ(ReadFile(a.folder / "counts.bin"), a.counts_bytes);
        }
        // Nothing was re-analysed: nothing is noted.
        EXPECT_EQ(
            fs::exists(a.folder / "events.log") ? ReadFile(a.folder / "events.log") : std::string(),
            log_before);
    }
    // The panel opens only on a folder with raw page 0.
    ReportRig rig;
    const RawAcquisition a = MakeRawAcquisition(rig, "20260314_0930", 2, 2);
    EXPECT_TRUE(RawDataPanelAvailable(rig.ctx, a.folder));
    fs::remove(a.folder / "0.bin");
    EXPECT_FALSE(RawDataPanelAvailable(rig.ctx, a.folder));
    ASSERT_EQ(rig.dialogs.Messages().size(), 1u);
    EXPECT_EQ(
        rig.dialogs.Messages()[0].rfind(
            "Real Time Data Not Found: " + (a.folder / "0.bin").string() + " does not exist: ", 0),
        0u)
        << rig.dialogs.Messages()[0];
    // A page 0 that is no file (here a folder) is there, but not readable as a page.
    fs::create_directories(a.folder / "0.bin");
    EXPECT_FALSE(RawDataPanelAvailable(rig.ctx, a.folder));
    ASSERT_EQ(rig.dialogs.Messages().size(), 2u);
    EXPECT_NE(
        rig.dialogs.Messages()[1].find((a.folder / "0.bin").string() + " is not a regular file"),
        std::string::npos)
        << rig.dialogs.Messages()[1];
}

TEST(RawReanalysis, BlocksOfADamagedPageKeepTheirRecordedCountsAndAreNamed) {
    // Page 0 (blocks 1..11) overwritten with random bytes, page 1 (blocks 12..14) intact: the
    // random readings go far beyond the 12-bit range and would count about 120 a window.
    ReportRig rig;
    const RawAcquisition a = MakeRawAcquisition(rig, "20260314_0930", 14, 14);
    std::string bytes = ReadFile(a.folder / "0.bin");
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    std::ofstream(a.folder / "0.bin", std::ios::binary) << bytes;
    ScriptedRawView view;
    const RawRunOutcome out = ReanalyzeRawData(rig.env, Request(a.folder, 1, "1.8"), view);
    ASSERT_TRUE(out.completed) << out.failure;
    EXPECT_EQ(out.damaged, 11u);
    EXPECT_EQ(out.first_damaged, 0u);
    EXPECT_EQ(out.analysed, 3u);
    for (std::size_t m = 0; m < 11; ++m) EXPECT_EQ(out.records.count(m, 0), kRecordedCount) << m;
    EXPECT_EQ(out.records.count(12, 0), Literal(a, 12, 0, 1.8, 1).count);
    EXPECT_TRUE(rig.dialogs.Showed(
        "11 of 14 blocks hold readings outside 0..4095, which the instrument cannot give "
        "(damaged raw data, from block 1 in " +
        (a.folder / "0.bin").string() +
        " on): they were not re-analysed and kept their recorded counts."));
    EXPECT_NE(ReadFile(a.folder / "events.log")
                  .find("11 windows kept the recorded counts (0 without raw data, 11 with damaged "
                        "raw data)"),
              std::string::npos);
}

TEST(RawReanalysis, TheRunIsNotedInEventsLogAndLaterReportsSayTheCountsAreReanalysed) {
    ReportRig rig;
    const RawAcquisition a = MakeRawAcquisition(rig, "20260314_0930", 13, 13);
    ScriptedRawView view;
    // A report-only run: noted, and counts.bin's reports stay those of the recorded counts.
    ASSERT_TRUE(ReanalyzeRawData(rig.env, Request(a.folder, 2, "1.3"), view).completed);
    std::string log = ReadFile(a.folder / "events.log");
    EXPECT_NE(
        log.find("2026-03-14 09:30:00  Counts re-analysed: method 2, threshold 1.3, windows 1 "
                 "to 13 (the whole recording); report only, counts.bin unchanged\r\n"),
        std::string::npos)
        << log;
    ReportRequest later = rig.Request(a.folder, OutputFormat::Rows, ",");
    ASSERT_TRUE(GenerateReport(rig.env, later).written);
    EXPECT_EQ(ReadFile(a.folder / "report.csv").find("RE-ANALYSED COUNTS:"), std::string::npos);

    // "Replace old data": every later report of counts.bin says how its counts were made.
    RawRunRequest replace = Request(a.folder, 1, "1.8");
    replace.replace_data = true;
    ASSERT_TRUE(ReanalyzeRawData(rig.env, replace, view).replaced);
    log = ReadFile(a.folder / "events.log");
    const std::string line =
        "method 1, threshold 1.8, windows 1 to 13 (the whole recording); counts.bin replaced, "
        "the recorded counts kept in counts.bak";
    EXPECT_NE(log.find("  Counts re-analysed: " + line + "\r\n"), std::string::npos) << log;
    ASSERT_TRUE(GenerateReport(rig.env, later).written);
    EXPECT_NE(ReadFile(a.folder / "report.csv")
                  .find("\"RE-ANALYSED COUNTS:\",\"2026-03-14 09:30:00: " + line + "\"\r\n"),
              std::string::npos);
    EXPECT_EQ(LastCountsReplacement(log), "2026-03-14 09:30:00: " + line);
}

TEST(RawReanalysis, TemporaryFilesOfAKilledRunAreRemovedAndALiveWritersKept) {
    ReportRig rig;
    const RawAcquisition a = MakeRawAcquisition(rig, "20260314_0930", 3, 3);
    // A process that has ended: its pid names the leftovers of a run killed before it could put
    // its files in place.
    const pid_t ended = ::fork();
    if (ended == 0) ::_exit(0);
    ASSERT_GT(ended, 0);
    ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
    const std::string dead = std::to_string(ended);
    for (const std::string& name : {".ch0.raw.tmp" + dead + "_0", ".counts.bin.tmp" + dead + "_3"})
        std::ofstream(a.folder / name) << std::string(1000, 'x');
    // A writer that still runs (this process) keeps its file.
    const std::string live = ".report.csv.tmp" + std::to_string(::getpid()) + "_9";
    std::ofstream(a.folder / live) << "y";
    ScriptedRawView view;
    const RawRunOutcome out = ReanalyzeRawData(rig.env, Request(a.folder, 1, "1.8"), view);
    ASSERT_TRUE(out.completed) << out.failure;
    EXPECT_EQ(out.leftovers_removed, 2u);
    EXPECT_EQ(out.leftover_bytes, 2000u);
    EXPECT_EQ(TemporaryFiles(a.folder), std::vector<std::string>{live});
}

TEST(RawReanalysis, LapseAndBinSizeOfTheRun) {
    struct Case {
        bool replace;
        const char* lapse;
        std::int32_t minutes;
        const char* shown;  // what the lapse box shows afterwards
    };
    constexpr std::int32_t kAll = std::numeric_limits<std::int32_t>::max();
    const Case cases[] = {
        {true, "2", kAll, "2"},     {false, "", kAll, ""},        {false, "2", 120, "2"},
        {false, "0,5", 30, "0,5"},  {false, "0.125", 8, "0.125"}, {false, "0.01", 5, "0.08"},
        {false, "0.08", 5, "0.08"}, {false, "abc", 5, "0.08"},    {false, "533", 31980, "533"}};
    for (const Case& k : cases) {
        std::string shown = k.lapse;
        EXPECT_EQ(ReanalysisLimitMinutes(k.replace, k.lapse, &shown), k.minutes) << k.lapse;
        EXPECT_EQ(shown, k.shown) << k.lapse;
    }

    // Records 1..14 minutes; a lapse of 0.1 h (6 minutes) re-analyses minutes 1..5, and a bin
    // size below 2 becomes 2.
    ReportRig rig;
    const RawAcquisition a = MakeRawAcquisition(rig, "20260314_0930", 14, 14);
    RawRunRequest request = Request(a.folder, 1, "1.8");
    request.datalapse_text = "0.1";
    request.bin_size_text = "1";
    ScriptedRawView view;
    const RawRunOutcome out = ReanalyzeRawData(rig.env, request, view);
    ASSERT_TRUE(out.completed) << out.failure;
    EXPECT_EQ(out.blocks, 5u);
    EXPECT_EQ(out.bin_size, 2);
    EXPECT_EQ(view.bin_sizes, std::vector<std::string>{"2"});
    EXPECT_EQ(view.statuses.back(), "Block 5/5");
    EXPECT_EQ(out.report.bin_size, 2);
}

}  // namespace
}  // namespace lumivo::reporting::testing
