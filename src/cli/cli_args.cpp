#include "cli/cli_args.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "core/common/com_ports.h"

namespace lumivo::cli {

std::optional<long long> ParseInteger(const std::string& text) {
    long long v = 0;
    const char* b = text.data();
    const char* e = b + text.size();
    if (b != e && *b == '+') ++b;
    auto [p, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || p != e || b == e) return std::nullopt;
    return v;
}

std::optional<double> ParseNumber(const std::string& text) {
    double v = 0;
    const char* b = text.data();
    const char* e = b + text.size();
    auto [p, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || p != e || b == e || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<std::string> Args::TakeOption(const std::string& name) {
    const std::string flag = "--" + name;
    for (std::size_t i = 0; i < words_.size(); ++i) {
        if (words_[i] == flag) {
            if (i + 1 >= words_.size()) throw UsageError(flag + " needs a value");
            std::string v = words_[i + 1];
            words_.erase(words_.begin() + static_cast<std::ptrdiff_t>(i),
                         words_.begin() + static_cast<std::ptrdiff_t>(i) + 2);
            return v;
        }
        if (words_[i].rfind(flag + "=", 0) == 0) {
            std::string v = words_[i].substr(flag.size() + 1);
            words_.erase(words_.begin() + static_cast<std::ptrdiff_t>(i));
            return v;
        }
    }
    return std::nullopt;
}

bool Args::TakeFlag(const std::string& name) {
    const std::string flag = "--" + name;
    for (std::size_t i = 0; i < words_.size(); ++i) {
        if (words_[i] == flag) {
            words_.erase(words_.begin() + static_cast<std::ptrdiff_t>(i));
            return true;
        }
    }
    return false;
}

std::optional<long long> Args::TakeInt(const std::string& name, long long lo, long long hi) {
    auto v = TakeOption(name);
    if (!v) return std::nullopt;
    auto n = ParseInteger(*v);
    if (!n || *n < lo || *n > hi)
        throw UsageError("--" + name + " must be a whole number from " + std::to_string(lo) +
                         " to " + std::to_string(hi) + ", not \"" + *v + "\"");
    return n;
}

std::optional<double> Args::TakeDouble(const std::string& name, double lo, double hi) {
    auto v = TakeOption(name);
    if (!v) return std::nullopt;
    auto n = ParseNumber(*v);
    if (!n || *n < lo || *n > hi)
        throw UsageError("--" + name + " must be a number from " + std::to_string(lo) + " to " +
                         std::to_string(hi) + ", not \"" + *v + "\"");
    return n;
}

std::optional<int> Args::TakeComPort() {
    const auto port = TakeInt("com", kMinComPort, kMaxComPort);
    if (!port) return std::nullopt;
    return static_cast<int>(*port);
}

int Args::RequireComPort() {
    const auto port = TakeComPort();
    if (!port)
        throw UsageError("--com N is missing (the port number, " + std::to_string(kMinComPort) +
                         " to " + std::to_string(kMaxComPort) + ")");
    return *port;
}

std::optional<std::string> Args::TakeWholeNumberText(const std::string& name) {
    auto v = TakeOption(name);
    if (!v) return std::nullopt;
    // Digits with an optional sign; too many of them for 64 bits is still a number (the
    // caller's range rules apply).
    std::string_view digits = *v;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-'))
        digits.remove_prefix(1);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
        throw UsageError("--" + name + " must be a whole number, not \"" + *v + "\"");
    return v;
}

std::optional<std::string> Args::TakePositional() {
    for (std::size_t i = 0; i < words_.size(); ++i) {
        if (words_[i].rfind("--", 0) != 0) {
            std::string v = words_[i];
            words_.erase(words_.begin() + static_cast<std::ptrdiff_t>(i));
            return v;
        }
    }
    return std::nullopt;
}

void Args::ExpectEnd() const {
    if (!words_.empty()) throw UsageError("unexpected argument \"" + words_.front() + "\"");
}

}  // namespace lumivo::cli
