// Reading counts.bin for a report: the recording's length, the day roll-over of the minute
// field, the end of the continuous run, incomplete tails. Also defines the data-file writers of
// the report fixture (report_fixture.h).
#include "core/reporting/report/activity_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "core/acquisition/data_files.h"
#include "report_fixture.h"

namespace lumivo::reporting::testing {

void WriteCountsFile(const fs::path& file, const std::vector<PlannedRecord>& records) {
    PosixFileOps ops;
    for (const PlannedRecord& p : records) {
        CountsRecord r;
        r.elapsed_minutes = p.minute;
        r.values = p.values;
        const AppendOutcome out = AppendCountsRecord(ops, file, r, AppendOptions{});
        ASSERT_TRUE(out.ok) << out.error;
    }
}

void WriteRawBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good());
}

void WriteHistogramFile(const fs::path& file, const std::vector<PlannedHistogram>& records) {
    PosixFileOps ops;
    for (const PlannedHistogram& p : records) {
        HistogramRecord r;
        r.elapsed_minutes_exact = p.minute;
        r.sample_period = 0.03;
        r.cells = p.cells;
        const AppendOutcome out = AppendHistogramRecord(ops, file, r, AppendOptions{});
        ASSERT_TRUE(out.ok) << out.error;
    }
}

namespace {

// Records at the given minutes; channel 5 counts the record's index, the temperature is 200 +
// index.
std::vector<PlannedRecord> AtMinutes(const std::vector<std::int32_t>& minutes) {
    std::vector<PlannedRecord> out;
    for (std::size_t i = 0; i < minutes.size(); ++i) {
        PlannedRecord r;
        r.minute = minutes[i];
        r.values[5] = static_cast<std::int16_t>(i);
        r.values[384] = static_cast<std::int16_t>(200 + i);
        out.push_back(r);
    }
    return out;
}

// Raw bytes of records with any minute value (the writer refuses values outside 0..32767).
std::string RawRecords(const std::vector<std::int32_t>& minutes) {
    std::string bytes;
    for (std::int32_t m : minutes) {
        CountsRecord r;
        r.elapsed_minutes = m;
        std::array<std::uint8_t, kCountsRecordSize> buf{};
        EncodeCountsRecord(r, buf);
        bytes.append(reinterpret_cast<const char*>(buf.data()), buf.size());
    }
    return bytes;
}

TEST(ActivityFile, ScanFindsTheLongestDayAdjustedMinute) {
    struct Case {
        const char* name;
        std::vector<std::int32_t> minutes;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"steady", {1, 2, 3, 100}, 100},
        {"midnight wrap", {1430, 1439, 5, 10}, 1450},
        // The new day counts from the record after the one that dropped back.
        {"wrap on the last record", {1430, 1439, 5}, 1439},
        {"drop of 1000 is no new day", {1200, 1300, 300, 310}, 1300},
        {"two wraps", {1400, 10, 1400, 20}, 2840},
        {"single record", {42}, 42},
        {"empty", {}, 0},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const fs::path file = dir.path() / "counts.bin";
        WriteCountsFile(file, AtMinutes(c.minutes));
        if (c.minutes.empty()) WriteRawBytes(file, "");
        EXPECT_EQ(ScanActivityDuration(file), c.expected) << c.name;
    }
}

TEST(ActivityFile, LoadRollsTheDayAndStopsAtTheLastRecordOfTheRun) {
    struct Case {
        const char* name;
        std::vector<std::int32_t> minutes;
        int last;
        std::vector<std::int32_t> loaded;
    };
    const Case cases[] = {
        {"steady", {1, 2, 3}, 2, {1, 2, 3}},
        {"midnight wrap", {1430, 1439, 5, 10}, 3, {1430, 1439, 1445, 1450}},
        // A second run appended after a restart belongs to no continuous record.
        {"restart", {1, 2, 3, 4, 5, 1, 2}, 4, {1, 2, 3, 4, 5}},
        // A record that goes back ends the run, even when a later one is back above every
        // earlier one: two runs written into one file, or a damaged record.
        {"dip", {1, 2, 3, 1, 4}, 2, {1, 2, 3}},
        {"second run after a long first one", {1200, 1201, 1202, 0, 1}, 2, {1200, 1201, 1202}},
        // A drop of more than 1000 minutes that is no midnight of an older file's day.
        {"drop from beyond the first day", {3000, 3001, 5, 6}, 1, {3000, 3001}},
        {"single", {7}, 0, {7}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const fs::path file = dir.path() / "counts.bin";
        WriteCountsFile(file, AtMinutes(c.minutes));
        RecordTable t;
        EXPECT_EQ(LoadActivityFile(file, t), c.last) << c.name;
        EXPECT_EQ(t.minutes, c.loaded) << c.name;
        ASSERT_EQ(t.size(), c.loaded.size());
        for (std::size_t j = 0; j < t.size(); ++j) {
            EXPECT_EQ(t.count(j, 5), static_cast<std::int16_t>(j)) << c.name;
            EXPECT_EQ(t.temperature[j], 200 + static_cast<int>(j)) << c.name;
        }
        EXPECT_EQ(LargestMinute(t, c.last), *std::max_element(c.loaded.begin(), c.loaded.end()))
            << c.name;
    }
}

TEST(ActivityFile, TheFirstStepBackIsFoundAndSaid) {
    RecordTable stored;
    stored.minutes = {1, 2, 3, 4, 2, 3, 5, 6};
    stored.counts.assign(stored.minutes.size() * kChannelTableSize, 0);
    stored.temperature.assign(stored.minutes.size(), 0);
    const auto step = FirstBackwardStep(stored);
    ASSERT_TRUE(step);
    EXPECT_EQ(step->record, 4u);
    EXPECT_EQ(step->from_minute, 4);
    EXPECT_EQ(step->to_minute, 2);
    EXPECT_EQ(BackwardStepText("/a/counts.bin", *step, stored.size()),
              "/a/counts.bin goes back in time at record 4 (from minute 4 to minute 2): records "
              "0 to 3 are read, the 4 records from there on are left out (a damaged file, or two "
              "runs written into one)");
    // The duration ends there too: the minutes after the step are no part of the run.
    EXPECT_EQ(ScanActivityDuration(stored), 4);
    RecordTable out;
    std::optional<BackwardStep> said;
    EXPECT_EQ(LoadActivityFile(stored, out, &said), 3);
    EXPECT_TRUE(said);
    stored.minutes = {1430, 1439, 5, 6};  // an older file's midnight
    EXPECT_FALSE(FirstBackwardStep(stored));
}

TEST(ActivityFile, IncompleteTailAndEmptyFilesAreHandled) {
    TempDir dir;
    const fs::path file = dir.path() / "counts.bin";
    std::string bytes = RawRecords({1, 2});
    bytes += std::string(300, '\x01');  // half a record left by a crash
    WriteRawBytes(file, bytes);
    RecordTable t;
    EXPECT_EQ(LoadActivityFile(file, t), 1);
    EXPECT_EQ(t.size(), 2u);

    WriteRawBytes(file, "");
    EXPECT_EQ(LoadActivityFile(file, t), -1);
    EXPECT_EQ(t.size(), 0u);
    EXPECT_EQ(ScanActivityDuration(file), 0);

    EXPECT_THROW(ReadCountsRecords(dir.path() / "missing.bin"), std::runtime_error);
}

TEST(ActivityFile, FilesNoRecordingCanWriteAreRefusedBeforeReading) {
    TempDir dir;
    // One record more than any recording can hold, as a sparse file: nothing is read (reading
    // it would cost hundreds of megabytes), and the message says why.
    const fs::path big = dir.path() / "counts.bin";
    { std::ofstream(big, std::ios::binary).put('\0'); }
    fs::resize_file(big, (kMaxCountsRecords + 1) * kCountsRecordSize);
    try {
        ReadCountsRecords(big);
        ADD_FAILURE() << "read";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  big.string() + " holds " + std::to_string(kMaxCountsRecords + 1) +
                      " records: more than any recording can write (at most 262140, four windows "
                      "a minute for 65534 minutes). It was not read; check that it is an "
                      "acquisition's activity file.");
    }
    EXPECT_EQ(CountsFileTooLarge(big, kMaxCountsRecords * kCountsRecordSize + 773), std::nullopt);

    // A FIFO is not a file a recording wrote; the open must not wait for a writer.
    const fs::path fifo = dir.path() / "fifo.bin";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(ReadCountsRecords(fifo), std::runtime_error);
    EXPECT_THROW(ReadCountsRecords(dir.path()), std::runtime_error);
}

TEST(ActivityFile, RecordsWithImpossibleCountsAreLeftOut) {
    struct Case {
        const char* name;
        std::size_t channel;
        std::int16_t value;
        bool dropped;
    };
    const Case cases[] = {
        {"damaged", 3, -32768, true},
        {"negative", 383, -1, true},
        {"above a window", 0, 501, true},
        {"a full window", 0, 500, false},
        {"nothing", 7, 0, false},
        // The temperature column is not a count.
        {"temperature below zero", 384, -50, false},
    };
    for (const Case& c : cases) {
        std::vector<PlannedRecord> planned = AtMinutes({1, 2, 3, 4});
        planned[1].values[c.channel] = c.value;
        planned[2].values[c.channel] = c.value;
        TempDir dir;
        WriteCountsFile(dir.path() / "counts.bin", planned);
        RecordTable t = ReadCountsRecords(dir.path() / "counts.bin");
        EXPECT_EQ(DropImpossibleRecords(t), c.dropped ? 2u : 0u) << c.name;
        const std::vector<std::int32_t> kept =
            c.dropped ? std::vector<std::int32_t>{1, 4} : std::vector<std::int32_t>{1, 2, 3, 4};
        EXPECT_EQ(t.minutes, kept) << c.name;
        ASSERT_EQ(t.counts.size(), t.size() * kChannelTableSize);
        // The kept records keep their own counts and temperatures.
        EXPECT_EQ(t.count(t.size() - 1, 5), 3) << c.name;
        EXPECT_EQ(t.temperature.back(), 203) << c.name;
    }
    EXPECT_EQ(ImpossibleRecordsText(2, 4),
              "2 of 4 records hold impossible counts (below 0 or above 500) and were left out");
}

TEST(ActivityFile, AbsurdMinutesSaturateInsteadOfWrapping) {
    // A damaged file: huge and negative minutes must not overflow the day arithmetic.
    const std::string bytes = RawRecords({2147483000, -2147483000, 2147483000, -5});
    const RecordTable stored = ParseCountsRecords(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    RecordTable t;
    const int last = LoadActivityFile(stored, t);
    EXPECT_GE(last, 0);
    EXPECT_LE(LargestMinute(t, last), INT32_MAX);
    EXPECT_GT(ScanActivityDuration(stored), 0);
}

}  // namespace
}  // namespace lumivo::reporting::testing
