// Fuzzes the text boxes of the calibration, light and temperature panels: any text must give
// either a valid entry inside its range whose shown text reads back as a number in range, or
// the box's default with its message.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/control/control_fields.h"

using namespace lumivo;

namespace {

void CheckField(const FieldCheck& c, double lo, double hi, double scale, std::int16_t fallback) {
    if (c.valid) {
        if (!c.message.empty()) __builtin_trap();
        if (c.stored < lo * scale - 0.5 || c.stored > hi * scale + 0.5) __builtin_trap();
        const auto shown = ParseNumericText(c.text);
        if (!shown || *shown < lo - 0.05 || *shown > hi + 0.05) __builtin_trap();
    } else {
        if (c.message.empty() || c.stored != fallback) __builtin_trap();
        if (!ParseNumericText(c.text)) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto v = ParseNumericText(text)) {
        if (*v != *v) __builtin_trap();  // never NaN
        (void)FormatOneDecimal(*v);
    }
    CheckField(CheckHourText(text, kDefaultLightOnHour), 0, 23, 1, kDefaultLightOnHour);
    CheckField(CheckHourText(text, kDefaultLightOffHour), 0, 23, 1, kDefaultLightOffHour);
    CheckField(CheckTemperatureText(text), 5, 50, 10, kDefaultTemperatureTenths);
    CheckField(CheckPulseTimeText(text), 0, 1440, 10, 0);
    CheckField(CheckPulseCountText(text), 0, 99, 1, 0);
    CheckField(CheckSnrText(text), 1.0, 5.0, 10, 18);
    return 0;
}
