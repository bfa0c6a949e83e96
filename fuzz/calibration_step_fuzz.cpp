// Fuzzes the calibration stepping rule with arbitrary readings pass after pass: the setting
// must always fit the channel's register byte, change by at most one step per pass and stay
// put once the channel is done.
#include <cstddef>
#include <cstdint>

#include "core/control/channel_calibration.h"

using namespace lumivo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    ChannelStepState s;
    s.PinHole = static_cast<std::int16_t>(data[0] % 32);
    s.Gain = static_cast<std::int16_t>(data[1] % 8);
    for (std::size_t i = 2; i + 1 < size; i += 2) {
        const int reading = (data[i] << 8 | data[i + 1]) & 0x0FFF;
        const int before = s.PinHole * 8 + s.Gain;
        const bool was_done = s.done;
        if (!s.done) {
            ApplyCalibrationStep(reading, s);
        }
        const int after = s.PinHole * 8 + s.Gain;
        if (s.Gain < 0 || s.Gain > 7 || s.PinHole < 0 || s.PinHole > 31) __builtin_trap();
        if (s.Gain * 32 + s.PinHole > 255) __builtin_trap();
        if (after - before > 1 || before - after > 1) __builtin_trap();
        if (was_done && after != before) __builtin_trap();
        if (s.done && s.finish == ChannelFinish::Pending) __builtin_trap();
        if (s.direction < -1 || s.direction > 1) __builtin_trap();
    }
    return 0;
}
