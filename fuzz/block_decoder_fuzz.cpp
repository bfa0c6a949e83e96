// Feeds arbitrary bytes to the channel-block decoder. The first input byte picks the block
// start (one of the four real ones, or any value from -128 to 123 to probe the bounds), the
// second the size of the channel table; the rest is the reply. The decoder must never write
// outside the table, must accept only whole 192-byte replies for real block starts, must store
// only 12-bit values, and must call a block bad exactly when a high byte was above 15.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "core/device/command_set.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

constexpr std::uint16_t kUntouched = 0xBEEF;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace lumivo;
    if (size < 2) return 0;
    const int selector = data[0];
    const int block_start =
        selector < 4 ? kBlockStarts[static_cast<std::size_t>(selector)] : selector - 132;
    const std::size_t table_size = data[1] < 8 ? static_cast<std::size_t>(data[1]) * 64
                                               : static_cast<std::size_t>(kChannelCount + 1);
    const std::span<const std::uint8_t> reply(data + 2, size - 2);

    std::vector<std::uint16_t> channels(table_size, kUntouched);
    const BlockDecode d = DecodeChannelBlock(reply, block_start, channels);

    bool real_start = false;
    for (int s : kBlockStarts) real_start = real_start || s == block_start;
    const bool fits = real_start && reply.size() == 192 && table_size >= 384;
    Check(d.accepted == fits);
    if (!d.accepted) {
        Check(d.bad);
        for (auto v : channels) Check(v == kUntouched);
        return 0;
    }
    bool high = false;
    for (std::size_t k = 0; k < 96; ++k) high = high || reply[2 * k] > 15;
    Check(d.bad == high);
    std::size_t touched = 0;
    for (std::size_t ch = 0; ch < channels.size(); ++ch) {
        if (channels[ch] == kUntouched) continue;
        ++touched;
        Check(channels[ch] <= 4095);
        // Only the block's own channels: nn + t, + 128, + 256 for t = 0..31.
        const int c = static_cast<int>(ch) % 128;
        Check(c >= block_start && c < block_start + 32 && ch < 384);
    }
    Check(touched == 96);
    return 0;
}
