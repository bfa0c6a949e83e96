// The data files of a recorded acquisition: counts.bin (activity per channel and window), the
// raw-signal pages n.bin, the body-bends histograms histoNNNN.bin and the event strings
// chN.raw.
//
// All binary files are little-endian, headerless and grow by whole records; every value is
// serialised byte by byte, so the layout does not depend on the machine. Readers accept a file
// whose length is not a whole number of records: they read every whole record, ignore the
// incomplete tail and say how much they ignored. Writers append through AppendRecord
// (record_file_io.h): a failed append never leaves a partial record behind, and each record
// can be flushed to stable storage.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/acquisition/record_file_io.h"
#include "core/analysis/analysis_module.h"

namespace lumivo {

// ---- Layouts -------------------------------------------------------------------------------

// counts.bin: signed 32-bit ElapsedMinutes, then 385 signed 16-bit values (channels 0..383,
// entry 384 the temperature in tenths of a degree).
inline constexpr std::size_t kCountsRecordSize = 4 + 2 * kChannelTableSize;  // 774
// histoNNNN.bin: two doubles, then 51 bins x 385 channels of signed 32-bit, channel fastest.
inline constexpr std::size_t kHistogramBinCount = 51;
inline constexpr std::size_t kHistogramCellCount = kHistogramBinCount * kChannelTableSize;
inline constexpr std::size_t kHistogramRecordSize = 16 + 4 * kHistogramCellCount;  // 78,556
// A raw page holds this many consecutive windows; then RawFileIndex advances.
inline constexpr std::size_t kWindowsPerRawPage = 11;
// Bytes of one raw page record: (RT_Buffer + 1) rows of 385 signed 16-bit readings.
constexpr std::size_t RawPageRecordSize(std::size_t rt_buffer) {
    return 2 * kChannelTableSize * (rt_buffer + 1);
}

// ElapsedMinutes is a whole-minute count that the program has always converted through a
// 16-bit integer: a recording must end before it passes this value.
inline constexpr std::int32_t kMaxRecordableMinutes = 32767;

// The longest lapse (whole minutes) that can be recorded when one window lasts up to
// `window_minutes`: a run ends at the first window close at or after its lapse, so its last
// record may carry up to one window more than the lapse. Negative when even one window does
// not fit.
std::int64_t MaxRecordableLapse(double window_minutes);

// For the start of an acquisition: an empty optional when `lapse_minutes` is at least
// kMinAqLapse and can be recorded with windows of up to `window_minutes`, otherwise the reason
// to refuse the start.
std::optional<std::string> CheckRecordingLapse(std::int64_t lapse_minutes, double window_minutes);

// ---- File names ----------------------------------------------------------------------------

inline constexpr const char* kCountsFileName = "counts.bin";
// "n.bin": the raw page number in plain decimal.
std::string RawPageFileName(int raw_file_index);
// "histoNNNN.bin": the raw page number formatted "0000" (so it covers the same 11 windows).
std::string HistogramFileName(int raw_file_index);
// "chN.raw": the channel number in plain decimal.
std::string EventFileName(std::size_t channel);

// Where window m of an acquisition (m from 0) lives: record m mod 11 of raw page Int(m / 11).
struct RawPageLocation {
    int page = 0;
    std::size_t record = 0;
};
RawPageLocation LocateRawWindow(std::size_t window_index);

// ---- Records -------------------------------------------------------------------------------

struct CountsRecord {
    std::int32_t elapsed_minutes = 0;
    // ChannelCounts: entries 0..383 the channels' counts, entry 384 the temperature x 10.
    std::array<std::int16_t, kChannelTableSize> values{};

    std::int16_t temperature_tenths() const { return values[kBeamChannelCount]; }
};

// CurrentTemperature x 10 rounded (halves to even), saturated to 16 bits: 25.36 -> 254.
std::int16_t TemperatureTenths(double celsius);

struct HistogramRecord {
    double elapsed_minutes_exact = 0.0;  // ElapsedMinutesExact
    double sample_period = 0.0;          // SamplePeriod, seconds per sample
    // BendHistogram: kHistogramCellCount counts, cell (bin b, channel c) at 385 x b + c.
    std::vector<std::int32_t> cells = std::vector<std::int32_t>(kHistogramCellCount);

    std::int32_t at(std::size_t bin, std::size_t channel) const {
        return cells[kChannelTableSize * bin + channel];
    }
};

void EncodeCountsRecord(const CountsRecord& record, std::span<std::uint8_t, kCountsRecordSize> out);
CountsRecord DecodeCountsRecord(std::span<const std::uint8_t, kCountsRecordSize> in);

// Throws std::invalid_argument unless cells holds kHistogramCellCount entries.
void EncodeHistogramRecord(const HistogramRecord& record,
                           std::span<std::uint8_t, kHistogramRecordSize> out);
HistogramRecord DecodeHistogramRecord(std::span<const std::uint8_t, kHistogramRecordSize> in);

// Rows 0..rt_buffer - 1 of `window` (stride 385) followed by a row of zeros.
std::vector<std::uint8_t> EncodeRawPageRecord(const ConstSampleWindow& window,
                                              std::size_t rt_buffer);
// One raw record into `out` ((rt_buffer + 1) x 385 readings).
void DecodeRawPageRecord(std::span<const std::uint8_t> in, std::span<std::int16_t> out);

// One event-file line: the label, a blank, the event string, CR LF.
std::string FormatEventLine(std::int64_t label, const EventMarks& events);

// ---- Readers -------------------------------------------------------------------------------

struct CountsFileContents {
    std::vector<CountsRecord> records;
    std::uint64_t ignored_tail_bytes = 0;  // an incomplete last record
};
CountsFileContents ParseCountsFile(std::span<const std::uint8_t> bytes);
// Throws std::runtime_error when the file cannot be read.
CountsFileContents ReadCountsFile(const std::filesystem::path& path);

struct HistogramFileContents {
    std::vector<HistogramRecord> records;
    std::uint64_t ignored_tail_bytes = 0;
};
HistogramFileContents ParseHistogramFile(std::span<const std::uint8_t> bytes);
HistogramFileContents ReadHistogramFile(const std::filesystem::path& path);

// Reads the windows of one raw page record by record (a page of 11 windows with a large
// RT_Buffer is tens of megabytes).
class RawPageReader {
  public:
    // Throws std::invalid_argument for rt_buffer 0, std::runtime_error when the file cannot
    // be opened.
    RawPageReader(const std::filesystem::path& path, std::size_t rt_buffer);

    std::size_t rt_buffer() const { return rt_buffer_; }
    std::size_t record_size() const { return RawPageRecordSize(rt_buffer_); }
    // Whole records in the file, and the bytes of an incomplete last one.
    std::size_t record_count() const { return records_; }
    std::uint64_t ignored_tail_bytes() const { return tail_; }
    // Reads record `index` into `out`, which must hold (rt_buffer + 1) x 385 readings: a
    // SampleMatrix-shaped window. Throws std::out_of_range / std::runtime_error.
    void ReadRecord(std::size_t index, std::span<std::int16_t> out) const;

  private:
    std::filesystem::path path_;
    std::size_t rt_buffer_;
    std::size_t records_ = 0;
    std::uint64_t tail_ = 0;
};

struct EventLine {
    std::int64_t label = 0;
    EventMarks events;
};
struct EventFileContents {
    std::vector<EventLine> lines;
    std::size_t malformed_lines = 0;       // complete lines that are not label + 499/500 marks
    std::uint64_t ignored_tail_bytes = 0;  // a last line without CR LF
};
EventFileContents ParseEventFile(std::string_view text);
EventFileContents ReadEventFile(const std::filesystem::path& path);

// ---- Writers -------------------------------------------------------------------------------
// Each appends one record and returns the outcome of AppendRecord. `ops` is the file system
// (PosixFileOps in the program).

// Refuses (without touching the file) an elapsed-minute value outside 0..kMaxRecordableMinutes.
AppendOutcome AppendCountsRecord(AppendFileOps& ops, const std::filesystem::path& file,
                                 const CountsRecord& record, const AppendOptions& options);
// Rows 0..rt_buffer - 1 of the SampleMatrix-shaped `window`, then the unused zero row.
// Throws std::invalid_argument when the window is not 385 wide or has fewer than rt_buffer rows.
AppendOutcome AppendRawPageRecord(AppendFileOps& ops, const std::filesystem::path& file,
                                  const ConstSampleWindow& window, std::size_t rt_buffer,
                                  const AppendOptions& options);
AppendOutcome AppendHistogramRecord(AppendFileOps& ops, const std::filesystem::path& file,
                                    const HistogramRecord& record, const AppendOptions& options);
// Appends FormatEventLine(label, events) to folder / EventFileName(channel).
AppendOutcome AppendEventLine(AppendFileOps& ops, const std::filesystem::path& folder,
                              std::size_t channel, std::int64_t label, const EventMarks& events,
                              const AppendOptions& options);

// Everything one closed window records, in the order it is written: the raw page (when
// real-time saving is on), counts.bin, the histogram (in body-bends mode).
struct WindowRecords {
    int raw_file_index = 0;                // RawFileIndex: names the page and histogram
    std::optional<ConstSampleWindow> raw;  // SampleMatrix, when raw signals are saved
    std::size_t rt_buffer = 500;
    CountsRecord counts;
    const HistogramRecord* histogram = nullptr;  // in BodyBendsMode
};

struct WindowWriteOutcome {
    bool ok = false;
    std::string error;
};

// Appends the window's records to `folder`. All or nothing: when one append fails, the
// records already appended for this window are taken back out, so raw page m, counts record m
// and histogram record m keep describing the same window, and the caller leaves its window
// counters where they were.
WindowWriteOutcome AppendWindowRecords(AppendFileOps& ops, const std::filesystem::path& folder,
                                       const WindowRecords& records, const AppendOptions& options);

}  // namespace lumivo
