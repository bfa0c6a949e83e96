// The text boxes of the calibration, light and temperature panels and how their texts are
// checked when they lose the focus: what counts as a number, the valid ranges, the value kept
// in the project's tool settings, the text written back and the message of a refusal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumivo {

// A number as the user may type it: optional blanks around it, an optional sign, decimal
// digits with at most one "." and an optional exponent. Empty text, text with anything else in
// it, and values that are not finite are not numbers.
std::optional<double> ParseNumericText(std::string_view text);

// "0.0": one decimal, "." as decimal point, half to even on the exact binary value.
std::string FormatOneDecimal(double value);

// The outcome of checking one text box.
struct FieldCheck {
    bool valid = false;
    std::int16_t stored = 0;  // the value kept in the tool settings
    std::string text;         // the text the box shows afterwards
    std::string message;      // the refusal shown, "" when valid
};

inline constexpr const char* kInvalidHourMessage = "Invalid value: 0 to 23";
inline constexpr const char* kInvalidTemperatureMessage = "Invalid value: 5.0 to 50.0";
inline constexpr const char* kInvalidPulseTimeMessage = "Invalid value: 0.0 to 1440.0";
inline constexpr const char* kInvalidPulseCountMessage = "Invalid value: 0-99";

inline constexpr std::int16_t kDefaultLightOnHour = 9;
inline constexpr std::int16_t kDefaultLightOffHour = 21;
inline constexpr std::int16_t kDefaultTemperatureTenths = 200;

// txt_lon / txt_loff: an hour 0..23, stored as its whole value and shown as "00"; an invalid
// text gives `default_hour` (9 for light on, 21 for light off).
FieldCheck CheckHourText(std::string_view text, std::int16_t default_hour);
// txttemp: 5.0..50.0 degrees, stored in tenths and shown as "0.0"; invalid gives 200 and "20".
FieldCheck CheckTemperatureText(std::string_view text);
// txt_pulseon / txt_pulseoff: 0.0..1440.0 minutes, stored in tenths and shown as "0.0";
// invalid gives 0 and "0".
FieldCheck CheckPulseTimeText(std::string_view text);
// txt_pulsetimes: 0..99 pulses, stored as its whole value and shown as "0"; invalid gives 0.
FieldCheck CheckPulseCountText(std::string_view text);
// txt_snr_umbral: above 1.0 and at most 5.0, stored x 10 and shown as "0.0"; invalid gives 18
// and "1.8" with "Invalid value: 1.1 to 5.0".
FieldCheck CheckSnrText(std::string_view text);

}  // namespace lumivo
