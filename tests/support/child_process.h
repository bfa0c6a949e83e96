// Running the project's programs from tests: a child process with its output captured.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace lumivo::testing {

// The whole content of a file ("" when it cannot be read).
std::string ReadFile(const std::filesystem::path& p);

struct RunResult {
    int status = -1;  // exit status, 128 + signal when killed, -1 when it could not start
    std::string out;
    std::string err;
};

// Runs `argv` (argv[0] is a path) and waits for it, with stdin empty (/dev/null) and stdout
// and stderr captured in the files out.txt and err.txt of `dir`. With `timeout_ms` > 0 a child still running after that
// long is killed (SIGKILL) and the status is 128 + 9.
RunResult Run(const std::vector<std::string>& argv, const std::filesystem::path& dir,
              int timeout_ms = 0);

}  // namespace lumivo::testing
