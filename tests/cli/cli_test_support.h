// What the command-line tests share: the programs under test, whose paths the build passes in.
// The test program is built after them, so a missing program fails the build; it is never a
// skipped test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace lumivo::testing {

inline const std::filesystem::path kCliProgram = LUMIVO_CLI_PROGRAM;
inline const std::filesystem::path kSimProgram = LUMIVO_SIM_PROGRAM;

// Runs lumivo-cli with `words`, its output in out.txt and err.txt of `dir`.
inline RunResult RunCli(const std::vector<std::string>& words, const std::filesystem::path& dir,
                        int timeout_ms = 0) {
    std::vector<std::string> argv = {kCliProgram.string()};
    argv.insert(argv.end(), words.begin(), words.end());
    return Run(argv, dir, timeout_ms);
}

// Runs lumivo-cli with `words` on the installation folder `install`.
inline RunResult RunCliOn(const std::filesystem::path& install,
                          const std::vector<std::string>& words, const std::filesystem::path& dir,
                          int timeout_ms = 0) {
    std::vector<std::string> all = {"--install", install.string()};
    all.insert(all.end(), words.begin(), words.end());
    return RunCli(all, dir, timeout_ms);
}

// A lumivo-sim serving COM1 of a new temporary installation folder for the life of the object.
struct SimulatedInstallation {
    explicit SimulatedInstallation(const std::vector<std::string>& sim_options = {})
        : sim(kSimProgram, folder.path(), sim_options) {}
    const std::filesystem::path& dir() const { return folder.path(); }
    bool ready() const { return sim.ready(); }
    int Stop() { return sim.Stop(); }
    RunResult Cli(const std::vector<std::string>& words) const {
        return RunCliOn(folder.path(), words, folder.path());
    }

    TempFolder folder{"lumivo-cli"};
    SimProcess sim;
};

// A test with a temporary folder and the installation folder inst inside it (which the first
// command creates and fills); lumivo-cli runs on that installation.
class CliTest : public ::testing::Test {
  protected:
    RunResult Run(const std::vector<std::string>& words) const {
        return RunCliOn(install_, words, dir_);
    }

    TempFolder folder_{"lumivo-cli"};
    const std::filesystem::path dir_ = folder_.path();
    const std::filesystem::path install_ = dir_ / "inst";
};

}  // namespace lumivo::testing
