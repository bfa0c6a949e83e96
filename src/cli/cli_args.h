// Small option parser shared by the lumivo-cli subcommands.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumivo::cli {

// A usage or argument error: printed to stderr with the command's usage, exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Args {
public:
    Args(std::filesystem::path install_dir, std::vector<std::string> words)
        : install_dir_(std::move(install_dir)), words_(std::move(words)) {}

    const std::filesystem::path& install_dir() const { return install_dir_; }

    // Takes "--name VALUE" (or "--name=VALUE") out of the arguments.
    std::optional<std::string> TakeOption(const std::string& name);
    // Takes a bare "--name" flag.
    bool TakeFlag(const std::string& name);
    // Takes an integer option; throws UsageError when it is not a whole number in [lo, hi].
    std::optional<long long> TakeInt(const std::string& name, long long lo, long long hi);
    std::optional<double> TakeDouble(const std::string& name, double lo, double hi);
    // Takes "--com N", a port number kMinComPort..kMaxComPort.
    std::optional<int> TakeComPort();
    // The same for a command that cannot run without it: throws UsageError when it is missing.
    int RequireComPort();
    // Takes an option whose value must be a whole number (any size); returns its text.
    // Throws UsageError naming the option otherwise.
    std::optional<std::string> TakeWholeNumberText(const std::string& name);
    // Takes the next positional word.
    std::optional<std::string> TakePositional();
    // Throws UsageError when anything was left unconsumed.
    void ExpectEnd() const;

private:
    std::filesystem::path install_dir_;
    std::vector<std::string> words_;
};

// Parses a whole decimal integer; nullopt on anything else (no partial parses).
std::optional<long long> ParseInteger(const std::string& text);
std::optional<double> ParseNumber(const std::string& text);

}  // namespace lumivo::cli
