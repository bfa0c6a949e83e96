// The acquisition data of the report window tests: counts.bin written by the acquisition's
// counts writer (this file cannot share a translation unit with the windows, whose headers
// bring in the plate tables), checked once through the report's reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "core/acquisition/data_files.h"
#include "core/reporting/activity_file.h"

namespace lumivo::app::testing {

// Records at minutes 0..minutes; channel c counts 1 + c / 16 (its beam column), temperature
// 23.0 degrees.
void WriteReportTestCounts(const std::filesystem::path& file, int minutes) {
    PosixFileOps ops;
    for (int m = 0; m <= minutes; ++m) {
        CountsRecord r;
        r.elapsed_minutes = m;
        for (std::size_t c = 0; c < kBeamChannelCount; ++c)
            r.values[c] = static_cast<std::int16_t>(1 + c / 16);
        r.values[kBeamChannelCount] = 230;
        ASSERT_TRUE(AppendCountsRecord(ops, file, r, AppendOptions{}).ok);
    }
}

namespace {

TEST(ReportWindowData, CountsFileReadsBackThroughTheReportReader) {
    const auto file = std::filesystem::temp_directory_path() /
                      ("lumivo_report_window_counts_" + std::to_string(::getpid()) + ".bin");
    std::filesystem::remove(file);
    WriteReportTestCounts(file, 4);
    const reporting::RecordTable t = reporting::ReadCountsRecords(file);
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t.minutes.back(), 4);
    EXPECT_EQ(t.count(2, 33), 3);
    EXPECT_EQ(t.temperature[0], 230);
    std::filesystem::remove(file);
}

}  // namespace
}  // namespace lumivo::app::testing
