// Fuzzes the readers of the acquisition data files (counts.bin, raw pages, histogram files,
// event strings) and the append logic that finds the last whole line of an event file.
// The first input byte picks the target; the rest is the file's content. Files are kept in
// memory (memfd) so no disk is touched.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/acquisition/data_files.h"

namespace {

using namespace lumivo;

void Check(bool ok) {
    if (!ok) std::abort();
}

// An in-memory file holding `bytes`, reachable by path.
class MemFile {
  public:
    explicit MemFile(std::span<const std::uint8_t> bytes) {
        fd_ = ::memfd_create("lumivo_fuzz", MFD_CLOEXEC);
        Check(fd_ >= 0);
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            Check(n > 0);
            done += static_cast<std::size_t>(n);
        }
    }
    ~MemFile() { ::close(fd_); }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

  private:
    int fd_ = -1;
};

void FuzzCounts(std::span<const std::uint8_t> data) {
    const auto c = ParseCountsFile(data);
    Check(c.records.size() == data.size() / kCountsRecordSize);
    Check(c.ignored_tail_bytes == data.size() % kCountsRecordSize);
    // Re-encoding gives back the whole records byte for byte.
    std::array<std::uint8_t, kCountsRecordSize> b{};
    for (std::size_t i = 0; i < c.records.size(); ++i) {
        EncodeCountsRecord(c.records[i], b);
        Check(std::equal(b.begin(), b.end(),
                         data.begin() + static_cast<std::ptrdiff_t>(i * kCountsRecordSize)));
    }
}

void FuzzHistogram(std::span<const std::uint8_t> data) {
    // Histogram records are large; repeat the input to reach one now and then.
    std::vector<std::uint8_t> bytes;
    if (!data.empty() && data[0] % 4 == 0) {
        while (bytes.size() < kHistogramRecordSize + data.size())
            bytes.insert(bytes.end(), data.begin(), data.end());
    } else {
        bytes.assign(data.begin(), data.end());
    }
    const auto h = ParseHistogramFile(bytes);
    Check(h.records.size() == bytes.size() / kHistogramRecordSize);
    Check(h.ignored_tail_bytes == bytes.size() % kHistogramRecordSize);
    for (const auto& r : h.records) Check(r.cells.size() == kHistogramCellCount);
}

void FuzzRawPage(std::span<const std::uint8_t> data) {
    if (data.size() < 2) return;
    // RT_Buffer from the first two bytes (small values keep records within reach).
    const std::size_t rt =
        1 + (static_cast<std::size_t>(data[0]) | (static_cast<std::size_t>(data[1]) << 8)) % 64;
    const auto content = data.subspan(2);
    MemFile file(content);
    const RawPageReader reader(file.path(), rt);
    Check(reader.record_count() == content.size() / RawPageRecordSize(rt));
    Check(reader.ignored_tail_bytes() == content.size() % RawPageRecordSize(rt));
    std::vector<std::int16_t> window((rt + 1) * kChannelTableSize);
    for (std::size_t i = 0; i < reader.record_count(); ++i) {
        reader.ReadRecord(i, window);
        const std::size_t off = i * RawPageRecordSize(rt);
        Check(static_cast<std::uint8_t>(window[0] & 0xFF) == content[off]);
    }
    bool threw = false;
    try {
        reader.ReadRecord(reader.record_count(), window);
    } catch (const std::out_of_range&) {
        threw = true;
    }
    Check(threw);
}

void FuzzEvents(std::span<const std::uint8_t> data) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    const auto e = ParseEventFile(text);
    for (const auto& line : e.lines) {
        // A parsed line formats back to a line of the same meaning.
        const auto again = ParseEventFile(FormatEventLine(line.label, line.events));
        Check(again.lines.size() == 1 && again.lines[0].label == line.label &&
              again.lines[0].events == line.events);
    }
    Check(e.ignored_tail_bytes <= data.size());
}

void FuzzEventAppend(std::span<const std::uint8_t> data) {
    // Whatever an event file holds, an append cuts it back to its last whole line and adds
    // exactly one line there.
    char folder_template[] = "/tmp/lumivo_fuzz_XXXXXX";
    const char* folder = ::mkdtemp(folder_template);
    Check(folder != nullptr);
    const std::filesystem::path dir(folder);
    const auto file = dir / EventFileName(3);
    {
        PosixFileOps ops;
        bool created = false;
        const int fd = ops.Open(file, &created);
        Check(fd >= 0);
        Check(ops.WriteAt(fd, data.data(), data.size(), 0) ==
              static_cast<std::int64_t>(data.size()));
        ops.Close(fd);
    }
    EventMarks marks;
    for (std::size_t i = 0; i < data.size() && i < marks.size(); ++i)
        marks.set(i, (data[i] & 1) != 0);
    PosixFileOps ops;
    const auto r = AppendEventLine(ops, dir, 3, 42, marks, {});
    Check(r.ok);
    const auto bytes = ReadWholeFile(file);
    const std::string line = FormatEventLine(42, marks);
    Check(bytes.size() == r.record_offset + line.size());
    Check(r.record_offset + r.dropped_tail_bytes == data.size());
    Check(std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(r.record_offset),
                     data.begin()));
    if (r.record_offset > 0)
        Check(bytes[r.record_offset - 2] == '\r' && bytes[r.record_offset - 1] == '\n');
    std::filesystem::remove_all(dir);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    switch (data[0] % 5) {
        case 0:
            FuzzCounts(rest);
            break;
        case 1:
            FuzzHistogram(rest);
            break;
        case 2:
            FuzzRawPage(rest);
            break;
        case 3:
            FuzzEvents(rest);
            break;
        default:
            FuzzEventAppend(rest);
            break;
    }
    return 0;
}
