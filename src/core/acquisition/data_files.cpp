#include "core/acquisition/data_files.h"

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "core/common/rounding.h"
#include "core/storage/project_setup.h"

namespace lumivo {
namespace {

// Little-endian serialisation, byte by byte.
void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v & 0xFFu);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void PutU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFFu);
}
void PutU64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFFu);
}
std::uint16_t GetU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t GetU32(const std::uint8_t* p) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
std::uint64_t GetU64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
void PutI16(std::uint8_t* p, std::int16_t v) {
    PutU16(p, static_cast<std::uint16_t>(v));
}
void PutI32(std::uint8_t* p, std::int32_t v) {
    PutU32(p, static_cast<std::uint32_t>(v));
}
void PutF64(std::uint8_t* p, double v) {
    PutU64(p, std::bit_cast<std::uint64_t>(v));
}
std::int16_t GetI16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(GetU16(p));
}
std::int32_t GetI32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(GetU32(p));
}
double GetF64(const std::uint8_t* p) {
    return std::bit_cast<double>(GetU64(p));
}

// Bulk conversions of raw pages: a copy of the bytes, swapped pairwise on a big-endian host,
// so the file stays little-endian everywhere while the common case runs at memory speed.
void DecodeLittleEndian16(const std::uint8_t* in, std::int16_t* out, std::size_t n) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, in, 2 * n);
    } else {
        for (std::size_t i = 0; i < n; ++i) out[i] = GetI16(in + 2 * i);
    }
}
void EncodeLittleEndian16(const std::int16_t* in, std::uint8_t* out, std::size_t n) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, in, 2 * n);
    } else {
        for (std::size_t i = 0; i < n; ++i) PutI16(out + 2 * i, in[i]);
    }
}

std::runtime_error FileError(const std::string& what, const std::filesystem::path& path) {
    return std::runtime_error(what + " " + path.string() + ": " + std::strerror(errno));
}

}  // namespace

std::int64_t MaxRecordableLapse(double window_minutes) {
    if (!(window_minutes >= 0.0) || window_minutes > kMaxRecordableMinutes) return -1;
    return kMaxRecordableMinutes - static_cast<std::int64_t>(std::ceil(window_minutes));
}

std::optional<std::string> CheckRecordingLapse(std::int64_t lapse_minutes, double window_minutes) {
    const std::int64_t max = MaxRecordableLapse(window_minutes);
    if (lapse_minutes >= kMinAqLapse && lapse_minutes <= max) return std::nullopt;
    if (lapse_minutes < kMinAqLapse)
        return "The acquisition lapse (" + std::to_string(lapse_minutes) +
               " min) is too short: a recording lasts " + std::to_string(kMinAqLapse) + " to " +
               std::to_string(kMaxAqLapse) + " minutes. Set the lapse in the project setup.";
    return "An acquisition of " + std::to_string(lapse_minutes) +
           " minutes is longer than a recording can be (at most " +
           std::to_string(max < 0 ? 0 : max) + " minutes with windows of this length).";
}

std::string RawPageFileName(int raw_file_index) {
    return std::to_string(raw_file_index) + ".bin";
}

std::string HistogramFileName(int raw_file_index) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "histo%04d.bin", raw_file_index);
    return buf;
}

std::string EventFileName(std::size_t channel) {
    return "ch" + std::to_string(channel) + ".raw";
}

RawPageLocation LocateRawWindow(std::size_t window_index) {
    return RawPageLocation{static_cast<int>(window_index / kWindowsPerRawPage),
                           window_index % kWindowsPerRawPage};
}

std::int16_t TemperatureTenths(double celsius) {
    return RoundToInt16(celsius * 10.0);
}

void EncodeCountsRecord(const CountsRecord& record,
                        std::span<std::uint8_t, kCountsRecordSize> out) {
    PutI32(out.data(), record.elapsed_minutes);
    for (std::size_t c = 0; c < kChannelTableSize; ++c)
        PutI16(out.data() + 4 + 2 * c, record.values[c]);
}

CountsRecord DecodeCountsRecord(std::span<const std::uint8_t, kCountsRecordSize> in) {
    CountsRecord r;
    r.elapsed_minutes = GetI32(in.data());
    for (std::size_t c = 0; c < kChannelTableSize; ++c) r.values[c] = GetI16(in.data() + 4 + 2 * c);
    return r;
}

void EncodeHistogramRecord(const HistogramRecord& record,
                           std::span<std::uint8_t, kHistogramRecordSize> out) {
    if (record.cells.size() != kHistogramCellCount) {
        throw std::invalid_argument("a histogram record holds " +
                                    std::to_string(kHistogramCellCount) + " cells, not " +
                                    std::to_string(record.cells.size()));
    }
    PutF64(out.data(), record.elapsed_minutes_exact);
    PutF64(out.data() + 8, record.sample_period);
    for (std::size_t i = 0; i < kHistogramCellCount; ++i)
        PutI32(out.data() + 16 + 4 * i, record.cells[i]);
}

HistogramRecord DecodeHistogramRecord(std::span<const std::uint8_t, kHistogramRecordSize> in) {
    HistogramRecord r;
    r.elapsed_minutes_exact = GetF64(in.data());
    r.sample_period = GetF64(in.data() + 8);
    for (std::size_t i = 0; i < kHistogramCellCount; ++i)
        r.cells[i] = GetI32(in.data() + 16 + 4 * i);
    return r;
}

std::vector<std::uint8_t> EncodeRawPageRecord(const ConstSampleWindow& window,
                                              std::size_t rt_buffer) {
    if (window.row_stride != kChannelTableSize || window.rows < rt_buffer ||
        window.samples.size() < rt_buffer * kChannelTableSize) {
        throw std::invalid_argument("a raw page record needs " + std::to_string(rt_buffer) +
                                    " rows of " + std::to_string(kChannelTableSize) + " readings");
    }
    std::vector<std::uint8_t> out(RawPageRecordSize(rt_buffer), 0);  // the last row stays 0
    const std::size_t n = rt_buffer * kChannelTableSize;
    EncodeLittleEndian16(window.samples.data(), out.data(), n);
    return out;
}

void DecodeRawPageRecord(std::span<const std::uint8_t> in, std::span<std::int16_t> out) {
    if (in.size() != 2 * out.size()) {
        throw std::invalid_argument("raw record of " + std::to_string(in.size()) +
                                    " bytes does not fill " + std::to_string(out.size()) +
                                    " readings");
    }
    DecodeLittleEndian16(in.data(), out.data(), out.size());
}

std::string FormatEventLine(std::int64_t label, const EventMarks& events) {
    return std::to_string(label) + " " + EventString(events) + "\r\n";
}

CountsFileContents ParseCountsFile(std::span<const std::uint8_t> bytes) {
    CountsFileContents out;
    const std::size_t n = bytes.size() / kCountsRecordSize;
    out.records.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        out.records.push_back(
            DecodeCountsRecord(bytes.subspan(i * kCountsRecordSize).first<kCountsRecordSize>()));
    }
    out.ignored_tail_bytes = bytes.size() % kCountsRecordSize;
    return out;
}

CountsFileContents ReadCountsFile(const std::filesystem::path& path) {
    return ParseCountsFile(ReadWholeFile(path));
}

HistogramFileContents ParseHistogramFile(std::span<const std::uint8_t> bytes) {
    HistogramFileContents out;
    const std::size_t n = bytes.size() / kHistogramRecordSize;
    out.records.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        out.records.push_back(DecodeHistogramRecord(
            bytes.subspan(i * kHistogramRecordSize).first<kHistogramRecordSize>()));
    }
    out.ignored_tail_bytes = bytes.size() % kHistogramRecordSize;
    return out;
}

HistogramFileContents ReadHistogramFile(const std::filesystem::path& path) {
    return ParseHistogramFile(ReadWholeFile(path));
}

RawPageReader::RawPageReader(const std::filesystem::path& path, std::size_t rt_buffer)
    : path_(path), rt_buffer_(rt_buffer) {
    if (rt_buffer == 0) throw std::invalid_argument("RT_Buffer must be at least 1");
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) throw std::runtime_error("cannot open " + path.string() + ": " + ec.message());
    records_ = static_cast<std::size_t>(size / record_size());
    tail_ = size % record_size();
}

void RawPageReader::ReadRecord(std::size_t index, std::span<std::int16_t> out) const {
    if (index >= records_) {
        throw std::out_of_range("raw page " + path_.string() + " has " + std::to_string(records_) +
                                " whole records, no record " + std::to_string(index));
    }
    if (out.size() != (rt_buffer_ + 1) * kChannelTableSize) {
        throw std::invalid_argument("raw record buffer must hold (RT_Buffer + 1) x 385 readings");
    }
    std::ifstream in(path_, std::ios::binary);
    if (!in) throw FileError("cannot open", path_);
    std::vector<std::uint8_t> bytes(record_size());
    in.seekg(static_cast<std::streamoff>(index * record_size()));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::size_t>(in.gcount()) != bytes.size()) {
        throw std::runtime_error("raw page " + path_.string() + " ended inside record " +
                                 std::to_string(index));
    }
    DecodeRawPageRecord(bytes, out);
}

EventFileContents ParseEventFile(std::string_view text) {
    EventFileContents out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find("\r\n", pos);
        if (end == std::string_view::npos) {
            out.ignored_tail_bytes = text.size() - pos;
            break;
        }
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 2;

        const std::size_t blank = line.find(' ');
        EventLine parsed;
        bool ok = blank != std::string_view::npos && blank > 0;
        if (ok) {
            const char* b = line.data();
            const auto [p, ec] = std::from_chars(b, b + blank, parsed.label);
            ok = ec == std::errc() && p == b + blank;
        }
        const std::string_view marks = ok ? line.substr(blank + 1) : std::string_view{};
        ok = ok &&
             (marks.size() == kAnalysisWindowLength || marks.size() == kAnalysisWindowLength - 1);
        for (std::size_t i = 0; ok && i < marks.size(); ++i) {
            if (marks[i] == '1') {
                parsed.events.set(i);
            } else if (marks[i] != '0') {
                ok = false;
            }
        }
        if (ok) {
            out.lines.push_back(parsed);
        } else {
            ++out.malformed_lines;
        }
    }
    return out;
}

EventFileContents ReadEventFile(const std::filesystem::path& path) {
    const auto bytes = ReadWholeFile(path);
    return ParseEventFile(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

AppendOutcome AppendCountsRecord(AppendFileOps& ops, const std::filesystem::path& file,
                                 const CountsRecord& record, const AppendOptions& options) {
    if (record.elapsed_minutes < 0 || record.elapsed_minutes > kMaxRecordableMinutes) {
        AppendOutcome out;
        out.error = "elapsed time of " + std::to_string(record.elapsed_minutes) +
                    " minutes does not fit the counts file (0.." +
                    std::to_string(kMaxRecordableMinutes) + ")";
        return out;
    }
    std::array<std::uint8_t, kCountsRecordSize> bytes{};
    EncodeCountsRecord(record, bytes);
    return AppendRecord(ops, file, bytes, RecordLayout::Fixed(kCountsRecordSize), options);
}

AppendOutcome AppendRawPageRecord(AppendFileOps& ops, const std::filesystem::path& file,
                                  const ConstSampleWindow& window, std::size_t rt_buffer,
                                  const AppendOptions& options) {
    const auto bytes = EncodeRawPageRecord(window, rt_buffer);
    return AppendRecord(ops, file, bytes, RecordLayout::Fixed(RawPageRecordSize(rt_buffer)),
                        options);
}

AppendOutcome AppendHistogramRecord(AppendFileOps& ops, const std::filesystem::path& file,
                                    const HistogramRecord& record, const AppendOptions& options) {
    std::vector<std::uint8_t> bytes(kHistogramRecordSize);
    EncodeHistogramRecord(
        record, std::span<std::uint8_t, kHistogramRecordSize>(bytes.data(), bytes.size()));
    return AppendRecord(ops, file, bytes, RecordLayout::Fixed(kHistogramRecordSize), options);
}

AppendOutcome AppendEventLine(AppendFileOps& ops, const std::filesystem::path& folder,
                              std::size_t channel, std::int64_t label, const EventMarks& events,
                              const AppendOptions& options) {
    const std::string line = FormatEventLine(label, events);
    return AppendRecord(ops, folder / EventFileName(channel),
                        std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()),
                        RecordLayout::Lines(), options);
}

WindowWriteOutcome AppendWindowRecords(AppendFileOps& ops, const std::filesystem::path& folder,
                                       const WindowRecords& records, const AppendOptions& options) {
    struct Done {
        std::filesystem::path path;
        std::uint64_t offset;
        bool created;
    };
    std::vector<Done> done;
    WindowWriteOutcome out;

    auto step = [&](const std::filesystem::path& path, const AppendOutcome& r) {
        if (r.ok) {
            done.push_back({path, r.record_offset, r.created});
            return true;
        }
        out.error = r.error;
        // Take this window's earlier records back out, newest first.
        for (auto it = done.rbegin(); it != done.rend(); ++it) {
            std::string undo;
            if (it->created) {
                const int rc = ops.Remove(it->path);
                if (rc < 0) undo = "cannot remove " + it->path.string() + ": " + std::strerror(-rc);
            } else {
                undo = TruncateFile(ops, it->path, it->offset, options.sync);
            }
            if (!undo.empty()) out.error += "; " + undo;
        }
        return false;
    };

    if (records.raw) {
        const auto path = folder / RawPageFileName(records.raw_file_index);
        if (!step(path, AppendRawPageRecord(ops, path, *records.raw, records.rt_buffer, options)))
            return out;
    }
    {
        const auto path = folder / kCountsFileName;
        if (!step(path, AppendCountsRecord(ops, path, records.counts, options))) return out;
    }
    if (records.histogram != nullptr) {
        const auto path = folder / HistogramFileName(records.raw_file_index);
        if (!step(path, AppendHistogramRecord(ops, path, *records.histogram, options))) return out;
    }
    out.ok = true;
    return out;
}

}  // namespace lumivo
