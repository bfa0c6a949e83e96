#include "core/control/control_fields.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/common/rounding.h"

namespace lumivo {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Accepts [sign] (digits [. [digits]] | . digits) [(e|E) [sign] digits] exactly.
bool WellFormedNumber(std::string_view s) {
    std::size_t i = 0;
    auto digits = [&] {
        const std::size_t start = i;
        while (i < s.size() && IsDigit(s[i])) ++i;
        return i - start;
    };
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t mantissa = digits();
    if (i < s.size() && s[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (digits() == 0) return false;
    }
    return i == s.size();
}

FieldCheck Invalid(const char* message, std::int16_t stored, std::string text) {
    FieldCheck c;
    c.valid = false;
    c.stored = stored;
    c.text = std::move(text);
    c.message = message;
    return c;
}

FieldCheck Valid(std::int16_t stored, std::string text) {
    FieldCheck c;
    c.valid = true;
    c.stored = stored;
    c.text = std::move(text);
    return c;
}

std::string TwoDigits(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

}  // namespace

std::optional<double> ParseNumericText(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    if (!WellFormedNumber(text)) return std::nullopt;
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::string FormatOneDecimal(double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.1f", value);
    return buf;
}

FieldCheck CheckHourText(std::string_view text, std::int16_t default_hour) {
    const auto v = ParseNumericText(text);
    if (!v || *v < 0.0 || *v > 23.0) {
        return Invalid(kInvalidHourMessage, default_hour, TwoDigits(default_hour));
    }
    const std::int16_t hour = RoundToInt16(*v);
    return Valid(hour, TwoDigits(hour));
}

FieldCheck CheckTemperatureText(std::string_view text) {
    const auto v = ParseNumericText(text);
    if (!v || *v < 5.0 || *v > 50.0) {
        return Invalid(kInvalidTemperatureMessage, kDefaultTemperatureTenths, "20");
    }
    return Valid(RoundToInt16(*v * 10.0), FormatOneDecimal(*v));
}

FieldCheck CheckPulseTimeText(std::string_view text) {
    const auto v = ParseNumericText(text);
    if (!v || *v < 0.0 || *v > 1440.0) return Invalid(kInvalidPulseTimeMessage, 0, "0");
    return Valid(RoundToInt16(*v * 10.0), FormatOneDecimal(*v));
}

FieldCheck CheckPulseCountText(std::string_view text) {
    const auto v = ParseNumericText(text);
    if (!v || *v < 0.0 || *v > 99.0) return Invalid(kInvalidPulseCountMessage, 0, "0");
    const std::int16_t n = RoundToInt16(*v);
    return Valid(n, std::to_string(n));
}

FieldCheck CheckSnrText(std::string_view text) {
    const auto v = ParseNumericText(text);
    if (!v || *v <= 1.0 || *v > 5.0) return Invalid("Invalid value: 1.1 to 5.0", 18, "1.8");
    return Valid(RoundToInt16(*v * 10.0), FormatOneDecimal(*v));
}

}  // namespace lumivo
