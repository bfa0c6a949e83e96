// The acquisition data files: record layouts, names, readers that survive incomplete tails,
// and writers that never leave a misaligned file (failures injected through AppendFileOps).
#include "core/acquisition/data_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace lumivo {
namespace {

namespace fs = std::filesystem;

using lumivo::testing::TempFolder;

// Real file system with failures injected on the files whose name matches `target`.
class FaultyOps final : public AppendFileOps {
  public:
    std::string target;                 // file name to fail on ("" = every file)
    int fail_write_call = -1;           // 0-based index of the failing WriteAt on the target
    std::size_t bytes_before_fail = 0;  // written by that call before it fails (a short write)
    int write_errno = ENOSPC;
    int fail_sync_errno = 0;
    int fail_truncate_errno = 0;
    int syncs = 0;
    int dir_syncs = 0;

    int Open(const fs::path& path, bool* created) override {
        const int fd = real_.Open(path, created);
        if (fd >= 0) names_[fd] = path.filename().string();
        return fd;
    }
    std::int64_t Size(int h) override { return real_.Size(h); }
    std::int64_t ReadAt(int h, void* d, std::size_t n, std::uint64_t off) override {
        return real_.ReadAt(h, d, n, off);
    }
    std::int64_t WriteAt(int h, const void* d, std::size_t n, std::uint64_t off) override {
        if (Targeted(h) && writes_++ == fail_write_call) {
            if (bytes_before_fail > 0 && !short_done_) {
                short_done_ = true;
                --writes_;  // the error comes on the next call for the rest
                return real_.WriteAt(h, d, std::min(n, bytes_before_fail), off);
            }
            return -write_errno;
        }
        return real_.WriteAt(h, d, n, off);
    }
    int Truncate(int h, std::uint64_t size) override {
        if (Targeted(h) && fail_truncate_errno != 0) return -fail_truncate_errno;
        return real_.Truncate(h, size);
    }
    int Sync(int h) override {
        ++syncs;
        if (Targeted(h) && fail_sync_errno != 0) return -fail_sync_errno;
        return real_.Sync(h);
    }
    int Close(int h) override {
        names_.erase(h);
        return real_.Close(h);
    }
    int SyncDirectory(const fs::path& folder) override {
        ++dir_syncs;
        return real_.SyncDirectory(folder);
    }
    int Remove(const fs::path& path) override { return real_.Remove(path); }

  private:
    bool Targeted(int h) const {
        auto it = names_.find(h);
        return it != names_.end() && (target.empty() || it->second == target);
    }
    PosixFileOps real_;
    std::map<int, std::string> names_;
    int writes_ = 0;
    bool short_done_ = false;
};

CountsRecord MakeCounts(std::int32_t minutes, int seed) {
    CountsRecord r;
    r.elapsed_minutes = minutes;
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
        r.values[c] = static_cast<std::int16_t>((static_cast<int>(c) * 37 + seed * 11) % 700 - 50);
    }
    r.values[kBeamChannelCount] = TemperatureTenths(25.36);
    return r;
}

std::vector<std::int16_t> MakeMatrix(std::size_t rows, int seed) {
    std::vector<std::int16_t> m(rows * kChannelTableSize);
    for (std::size_t i = 0; i < m.size(); ++i) {
        m[i] = static_cast<std::int16_t>((static_cast<int>(i % 9973) * 7 + seed) % 4096 - 3);
    }
    return m;
}

std::uintmax_t SizeOf(const fs::path& p) {
    return fs::file_size(p);
}

TEST(DataFiles, ThreeWindowsMakeThreeCountsRecords) {
    TempFolder dir;
    PosixFileOps ops;
    const auto file = dir.path() / kCountsFileName;
    for (int w = 0; w < 3; ++w) {
        const auto r = AppendCountsRecord(ops, file, MakeCounts(7 * w + 1, w), {});
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.record_offset, static_cast<std::uint64_t>(w) * 774);
    }
    EXPECT_EQ(SizeOf(file), 3u * 774u);
    const auto contents = ReadCountsFile(file);
    ASSERT_EQ(contents.records.size(), 3u);
    EXPECT_EQ(contents.ignored_tail_bytes, 0u);
    EXPECT_EQ(contents.records[2].elapsed_minutes, 15);
    for (int w = 0; w < 3; ++w)
        EXPECT_EQ(contents.records[static_cast<std::size_t>(w)].values, MakeCounts(0, w).values);
    EXPECT_EQ(contents.records[0].temperature_tenths(), 254);
}

TEST(DataFiles, CountsRecordIsLittleEndianByteByByte) {
    CountsRecord r;
    r.elapsed_minutes = 0x01020304;
    r.values[0] = -2;
    r.values[1] = 0x1234;
    r.values[384] = 254;
    std::array<std::uint8_t, kCountsRecordSize> b{};
    EncodeCountsRecord(r, b);
    EXPECT_EQ((std::vector<int>{b[0], b[1], b[2], b[3]}), (std::vector<int>{4, 3, 2, 1}));
    EXPECT_EQ((std::vector<int>{b[4], b[5], b[6], b[7]}),
              (std::vector<int>{0xFE, 0xFF, 0x34, 0x12}));
    EXPECT_EQ((std::vector<int>{b[772], b[773]}), (std::vector<int>{254, 0}));
    const auto back = DecodeCountsRecord(b);
    EXPECT_EQ(back.elapsed_minutes, r.elapsed_minutes);
    EXPECT_EQ(back.values, r.values);
}

TEST(DataFiles, TemperatureIsStoredInTenthsRoundedHalfToEven) {
    struct Case {
        double celsius;
        std::int16_t tenths;
    };
    const Case cases[] = {
        {25.36, 254}, {25.34, 253},           {0.25, 2},       {0.35, 4},        {-0.05, 0},
        {37.0, 370},  {-1.0 * 0.7 + 2.0, 13}, {5000.0, 32767}, {-5000.0, -32768}};
    for (const auto& c : cases) EXPECT_EQ(TemperatureTenths(c.celsius), c.tenths) << c.celsius;
}

TEST(DataFiles, CountsReaderIgnoresAnIncompleteLastRecord) {
    TempFolder dir;
    PosixFileOps ops;
    const auto file = dir.path() / kCountsFileName;
    for (int w = 0; w < 4; ++w) ASSERT_TRUE(AppendCountsRecord(ops, file, MakeCounts(w, w), {}).ok);
    for (std::uintmax_t cut : {4u * 774u - 1u, 3u * 774u + 387u, 3u * 774u + 1u, 3u * 774u}) {
        fs::resize_file(file, cut);
        const auto contents = ReadCountsFile(file);
        ASSERT_EQ(contents.records.size(), 3u) << cut;
        EXPECT_EQ(contents.ignored_tail_bytes, cut - 3u * 774u);
        EXPECT_EQ(contents.records[2].elapsed_minutes, 2);
        EXPECT_EQ(contents.records[2].values, MakeCounts(2, 2).values);
    }
    EXPECT_THROW(ReadCountsFile(dir.path() / "missing.bin"), std::runtime_error);
}

TEST(DataFiles, AppendAfterACrashCutsTheIncompleteRecordOff) {
    TempFolder dir;
    PosixFileOps ops;
    const auto file = dir.path() / kCountsFileName;
    for (int w = 0; w < 2; ++w) ASSERT_TRUE(AppendCountsRecord(ops, file, MakeCounts(w, w), {}).ok);
    {
        std::ofstream tail(file, std::ios::binary | std::ios::app);
        tail << std::string(100, 'x');  // what an interrupted write leaves
    }
    const auto r = AppendCountsRecord(ops, file, MakeCounts(9, 9), {});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.dropped_tail_bytes, 100u);
    EXPECT_EQ(SizeOf(file), 3u * 774u);
    EXPECT_EQ(ReadCountsFile(file).records[2].elapsed_minutes, 9);
}

TEST(DataFiles, ElapsedMinutesBeyond16BitsAreRefused) {
    TempFolder dir;
    PosixFileOps ops;
    const auto file = dir.path() / kCountsFileName;
    for (std::int32_t bad : {32768, -1, 100000}) {
        const auto r = AppendCountsRecord(ops, file, MakeCounts(bad, 0), {});
        EXPECT_FALSE(r.ok) << bad;
        EXPECT_NE(r.error.find("does not fit"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(file)) << "a refused record does not create the file";
    EXPECT_TRUE(AppendCountsRecord(ops, file, MakeCounts(kMaxRecordableMinutes, 0), {}).ok);

    // The start of an acquisition checks the lapse plus one window.
    EXPECT_EQ(MaxRecordableLapse(0.0), 32767);
    EXPECT_EQ(MaxRecordableLapse(1.5), 32765);
    EXPECT_FALSE(CheckRecordingLapse(32765, 1.5).has_value());
    EXPECT_TRUE(CheckRecordingLapse(32766, 1.5).has_value());
    EXPECT_TRUE(CheckRecordingLapse(40000, 0.5).has_value());
    EXPECT_TRUE(CheckRecordingLapse(-1, 0.5).has_value());
    EXPECT_TRUE(CheckRecordingLapse(1, 0.5).has_value());
    EXPECT_FALSE(CheckRecordingLapse(2, 0.5).has_value());
    EXPECT_FALSE(CheckRecordingLapse(1440 * 22, 10.0).has_value());
    EXPECT_LT(MaxRecordableLapse(-1.0), 0);
}

TEST(DataFiles, RawPageRecordsAreSampleMatrixRowsPlusAZeroRow) {
    TempFolder dir;
    PosixFileOps ops;
    EXPECT_EQ(RawPageRecordSize(500), 385770u);
    const auto file = dir.path() / RawPageFileName(0);
    constexpr std::size_t kRt = 500;
    std::vector<std::vector<std::int16_t>> written;
    for (int w = 0; w < 3; ++w) {
        auto m = MakeMatrix(kRt + 1, w);  // the last row holds junk; the file gets zeros
        ASSERT_TRUE(AppendRawPageRecord(ops, file, ConstSampleWindow{m, kRt + 1}, kRt, {}).ok);
        std::fill(m.end() - static_cast<std::ptrdiff_t>(kChannelTableSize), m.end(),
                  std::int16_t{0});
        written.push_back(m);
    }
    EXPECT_EQ(SizeOf(file), 3u * 385770u);
    fs::resize_file(file, 3u * 385770u - 5u);  // the third record is now incomplete
    RawPageReader reader(file, kRt);
    EXPECT_EQ(reader.record_count(), 2u);
    EXPECT_EQ(reader.ignored_tail_bytes(), 385770u - 5u);
    std::vector<std::int16_t> back((kRt + 1) * kChannelTableSize);
    for (std::size_t w = 0; w < 2; ++w) {
        reader.ReadRecord(w, back);
        EXPECT_EQ(back, written[w]) << w;
    }
    EXPECT_THROW(reader.ReadRecord(2, back), std::out_of_range);
    // Reading (channel c, row r) straight from the bytes: offset 2 x (385 r + c).
    const auto bytes = ReadWholeFile(file);
    const std::size_t r = 123, c = 45;
    const auto off = 385770u + 2u * (385u * r + c);
    EXPECT_EQ(static_cast<std::int16_t>(bytes[off] | (bytes[off + 1] << 8)),
              written[1][385 * r + c]);
    EXPECT_THROW(RawPageReader(dir.path() / "7.bin", kRt), std::runtime_error);
    EXPECT_THROW(EncodeRawPageRecord(ConstSampleWindow{written[0], 499}, 500),
                 std::invalid_argument);
}

TEST(DataFiles, HistogramRecordLayout) {
    EXPECT_EQ(kHistogramRecordSize, 78556u);
    HistogramRecord h;
    h.elapsed_minutes_exact = 12.34;
    h.sample_period = 0.071;
    for (std::size_t i = 0; i < h.cells.size(); ++i)
        h.cells[i] = static_cast<std::int32_t>(i * 3) - 1000;
    std::vector<std::uint8_t> b(kHistogramRecordSize);
    EncodeHistogramRecord(h, std::span<std::uint8_t, kHistogramRecordSize>(b.data(), b.size()));
    // Bin 2 of channel 5 at 16 + 4 x (385 x 2 + 5).
    const std::size_t off = 16 + 4 * (385 * 2 + 5);
    const auto v = static_cast<std::int32_t>(static_cast<std::uint32_t>(b[off]) |
                                             (static_cast<std::uint32_t>(b[off + 1]) << 8) |
                                             (static_cast<std::uint32_t>(b[off + 2]) << 16) |
                                             (static_cast<std::uint32_t>(b[off + 3]) << 24));
    EXPECT_EQ(v, h.at(2, 5));
    // 12.34 is 0x4028AE147AE147AE: the low byte first.
    EXPECT_EQ(b[0], 0xAE);
    EXPECT_EQ(b[7], 0x40);
    b.resize(b.size() + 1000);  // a partial second record
    const auto parsed = ParseHistogramFile(b);
    ASSERT_EQ(parsed.records.size(), 1u);
    EXPECT_EQ(parsed.ignored_tail_bytes, 1000u);
    EXPECT_EQ(parsed.records[0].elapsed_minutes_exact, 12.34);
    EXPECT_EQ(parsed.records[0].sample_period, 0.071);
    EXPECT_EQ(parsed.records[0].cells, h.cells);
    HistogramRecord wrong;
    wrong.cells.resize(10);
    EXPECT_THROW(EncodeHistogramRecord(wrong, std::span<std::uint8_t, kHistogramRecordSize>(
                                                  b.data(), kHistogramRecordSize)),
                 std::invalid_argument);
}

TEST(DataFiles, FileNamesFollowTheRawPageIndex) {
    EXPECT_EQ(RawPageFileName(0), "0.bin");
    EXPECT_EQ(RawPageFileName(12), "12.bin");
    EXPECT_EQ(HistogramFileName(0), "histo0000.bin");
    EXPECT_EQ(HistogramFileName(1), "histo0001.bin");
    EXPECT_EQ(HistogramFileName(12345), "histo12345.bin");
    EXPECT_EQ(EventFileName(383), "ch383.raw");
    struct Case {
        std::size_t window;
        int page;
        std::size_t record;
    };
    for (const Case& c :
         {Case{0, 0, 0}, Case{10, 0, 10}, Case{11, 1, 0}, Case{21, 1, 10}, Case{22, 2, 0}}) {
        const auto at = LocateRawWindow(c.window);
        EXPECT_EQ(at.page, c.page) << c.window;
        EXPECT_EQ(at.record, c.record) << c.window;
    }
}

TEST(DataFiles, WindowsFillPagesOfElevenAndHistogramsFollowThePage) {
    TempFolder dir;
    PosixFileOps ops;
    constexpr std::size_t kRt = 500;
    const auto m = MakeMatrix(kRt + 1, 1);
    HistogramRecord h;
    for (std::size_t w = 0; w < 13; ++w) {
        WindowRecords rec;
        rec.raw_file_index = LocateRawWindow(w).page;
        rec.raw = ConstSampleWindow{m, kRt + 1};
        rec.rt_buffer = kRt;
        rec.counts = MakeCounts(static_cast<std::int32_t>(w), 0);
        h.elapsed_minutes_exact = static_cast<double>(w);
        rec.histogram = &h;
        const auto r = AppendWindowRecords(ops, dir.path(), rec, {});
        ASSERT_TRUE(r.ok) << r.error;
    }
    EXPECT_EQ(SizeOf(dir.path() / "0.bin"), 11u * 385770u);
    EXPECT_EQ(SizeOf(dir.path() / "1.bin"), 2u * 385770u);
    EXPECT_EQ(SizeOf(dir.path() / "histo0000.bin"), 11u * 78556u);
    EXPECT_EQ(SizeOf(dir.path() / "histo0001.bin"), 2u * 78556u);
    EXPECT_EQ(SizeOf(dir.path() / "counts.bin"), 13u * 774u);
    EXPECT_EQ(ReadHistogramFile(dir.path() / "histo0001.bin").records[1].elapsed_minutes_exact,
              12.0);
}

// Each case makes one append fail in a different way; afterwards the file must hold exactly
// the records before it, and a healthy append must land aligned after them.
TEST(DataFiles, FailedAppendLeavesNoPartialRecord) {
    struct Case {
        const char* name;
        int fail_write_call;
        std::size_t bytes_before_fail;
        int sync_errno;
        int truncate_errno;
        bool partial_left;  // the undo itself failed: the next append must cut the rest off
    };
    const Case cases[] = {
        {"first write fails", 0, 0, 0, 0, false},
        {"short write, then disk full", 0, 300, 0, 0, false},
        {"flush fails", -1, 0, EIO, 0, false},
        {"short write and the undo fails", 0, 300, 0, EIO, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder dir;
        const auto file = dir.path() / kCountsFileName;
        PosixFileOps good;
        for (int w = 0; w < 2; ++w)
            ASSERT_TRUE(AppendCountsRecord(good, file, MakeCounts(w, w), {}).ok);

        FaultyOps bad;
        bad.target = kCountsFileName;
        bad.fail_write_call = c.fail_write_call;
        bad.bytes_before_fail = c.bytes_before_fail;
        bad.fail_sync_errno = c.sync_errno;
        bad.fail_truncate_errno = c.truncate_errno;
        const auto r = AppendCountsRecord(bad, file, MakeCounts(5, 5), AppendOptions{true});
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.error.empty());
        if (c.partial_left) {
            EXPECT_NE(r.error.find("could not remove"), std::string::npos) << r.error;
            EXPECT_EQ(SizeOf(file), 2u * 774u + 300u);
        } else {
            EXPECT_EQ(SizeOf(file), 2u * 774u) << r.error;
        }
        const auto next = AppendCountsRecord(good, file, MakeCounts(6, 6), {});
        ASSERT_TRUE(next.ok) << next.error;
        EXPECT_EQ(next.dropped_tail_bytes, c.partial_left ? 300u : 0u);
        const auto contents = ReadCountsFile(file);
        ASSERT_EQ(contents.records.size(), 3u);
        EXPECT_EQ(contents.ignored_tail_bytes, 0u);
        EXPECT_EQ(contents.records[2].elapsed_minutes, 6);
    }
}

TEST(DataFiles, WriteErrorsOfTheRealFileSystemAreReported) {
    // /dev/full accepts the open and fails every write with ENOSPC.
    ASSERT_TRUE(fs::exists("/dev/full")) << "the test writes to /dev/full, the full disk of Linux";
    PosixFileOps ops;
    const auto r = AppendCountsRecord(ops, "/dev/full", MakeCounts(1, 1), AppendOptions{true});
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("No space left"), std::string::npos) << r.error;
    const auto missing =
        AppendCountsRecord(ops, "/nonexistent-folder/counts.bin", MakeCounts(1, 1), {});
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("cannot open"), std::string::npos) << missing.error;
}

TEST(DataFiles, SyncFlushesTheRecordAndANewFilesFolder) {
    TempFolder dir;
    FaultyOps ops;  // no faults configured: counts the flushes
    const auto file = dir.path() / kCountsFileName;
    ASSERT_TRUE(AppendCountsRecord(ops, file, MakeCounts(0, 0), AppendOptions{true}).ok);
    EXPECT_EQ(ops.syncs, 1);
    EXPECT_EQ(ops.dir_syncs, 1);
    ASSERT_TRUE(AppendCountsRecord(ops, file, MakeCounts(1, 0), AppendOptions{true}).ok);
    EXPECT_EQ(ops.syncs, 2);
    EXPECT_EQ(ops.dir_syncs, 1) << "an existing file's folder entry is already durable";
    ASSERT_TRUE(AppendCountsRecord(ops, file, MakeCounts(2, 0), AppendOptions{false}).ok);
    EXPECT_EQ(ops.syncs, 2);
}

TEST(DataFiles, AFailedWindowTakesItsEarlierRecordsBackOut) {
    constexpr std::size_t kRt = 500;
    const auto m = MakeMatrix(kRt + 1, 3);
    HistogramRecord h;
    auto window = [&](std::int32_t minute) {
        WindowRecords rec;
        rec.raw = ConstSampleWindow{m, kRt + 1};
        rec.rt_buffer = kRt;
        rec.counts = MakeCounts(minute, 0);
        rec.histogram = &h;
        return rec;
    };
    for (const char* failing : {"counts.bin", "histo0000.bin"}) {
        SCOPED_TRACE(failing);
        TempFolder dir;
        PosixFileOps good;
        ASSERT_TRUE(AppendWindowRecords(good, dir.path(), window(0), {}).ok);

        FaultyOps bad;
        bad.target = failing;
        bad.fail_write_call = 0;
        const auto r = AppendWindowRecords(bad, dir.path(), window(1), {});
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find(failing), std::string::npos) << r.error;
        EXPECT_EQ(SizeOf(dir.path() / "0.bin"), 385770u);
        EXPECT_EQ(SizeOf(dir.path() / "counts.bin"), 774u);
        EXPECT_EQ(SizeOf(dir.path() / "histo0000.bin"), 78556u);
    }
    // A window whose files did not exist yet leaves no empty files behind.
    TempFolder dir;
    FaultyOps bad;
    bad.target = "counts.bin";
    bad.fail_write_call = 0;
    EXPECT_FALSE(AppendWindowRecords(bad, dir.path(), window(0), {}).ok);
    EXPECT_FALSE(fs::exists(dir.path() / "0.bin"));
    EXPECT_FALSE(fs::exists(dir.path() / "counts.bin"));
}

TEST(DataFiles, EventLinesRoundTripAndSurviveATornLastLine) {
    TempFolder dir;
    PosixFileOps ops;
    EventMarks a;
    a.set(30);
    a.set(60);
    EventMarks b;
    b.set(0);
    b.set(499);
    ASSERT_TRUE(AppendEventLine(ops, dir.path(), 17, 0, a, {}).ok);
    ASSERT_TRUE(AppendEventLine(ops, dir.path(), 17, 1234567, b, {}).ok);
    const auto file = dir.path() / "ch17.raw";
    EXPECT_EQ(SizeOf(file), (2u + 499u + 2u) + (8u + 500u + 2u));
    const std::string first = FormatEventLine(0, a);
    EXPECT_EQ(first.substr(0, 2), "0 ");
    EXPECT_EQ(first.substr(first.size() - 2), "\r\n");

    {
        std::ofstream torn(file, std::ios::binary | std::ios::app);
        torn << "2 0001";  // a line cut short by a crash
    }
    auto contents = ReadEventFile(file);
    ASSERT_EQ(contents.lines.size(), 2u);
    EXPECT_EQ(contents.ignored_tail_bytes, 6u);
    EXPECT_EQ(contents.lines[0].label, 0);
    EXPECT_EQ(contents.lines[0].events, a);
    EXPECT_EQ(contents.lines[1].label, 1234567);
    EXPECT_EQ(contents.lines[1].events, b);

    const auto r = AppendEventLine(ops, dir.path(), 17, 2, a, {});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.dropped_tail_bytes, 6u);
    contents = ReadEventFile(file);
    ASSERT_EQ(contents.lines.size(), 3u);
    EXPECT_EQ(contents.lines[2].label, 2);
    EXPECT_EQ(contents.ignored_tail_bytes, 0u);
}

TEST(DataFiles, MalformedEventLinesAreCountedNotParsed) {
    const std::string ok = FormatEventLine(5, EventMarks{});
    const std::string cases[] = {
        "x " + std::string(499, '0') + "\r\n",   // label not a number
        "5 " + std::string(498, '0') + "\r\n",   // too short
        "5 " + std::string(501, '0') + "\r\n",   // too long
        "5 " + std::string(498, '0') + "2\r\n",  // not a mark
        " " + std::string(499, '0') + "\r\n",    // no label
        "\r\n",
    };
    for (const auto& bad : cases) {
        const auto parsed = ParseEventFile(ok + bad + ok);
        EXPECT_EQ(parsed.lines.size(), 2u) << bad.substr(0, 8);
        EXPECT_EQ(parsed.malformed_lines, 1u);
    }
}

}  // namespace
}  // namespace lumivo
