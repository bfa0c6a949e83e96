// Running the project's programs from tests: child processes with their output captured in
// files, a simulated instrument served by lumivo-sim, and the temporary folders they work in.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace lumivo::testing {

// The whole content of a file ("" when it cannot be read).
std::string ReadFile(const std::filesystem::path& p);

// The lines of a text (LF or CR LF).
std::vector<std::string> Lines(const std::string& text);

// Polls `done` every 20 ms until it holds or `limit` has passed; returns its last answer.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);

// A new folder below the system's temporary folder, removed with everything in it at the end.
class TempFolder {
  public:
    explicit TempFolder(const std::string& prefix = "lumivo-test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// A program started with its stdout and stderr in the files `out` and `err`. Killed (SIGKILL)
// and reaped when destroyed while it still runs.
class ChildProcess {
  public:
    ChildProcess(const std::vector<std::string>& argv, std::filesystem::path out,
                 std::filesystem::path err);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0 || status_ != -1; }
    void Signal(int sig) const;
    // Waits for the end; the exit status, 128 + signal when killed by one, -1 when it never
    // started.
    int Wait();
    // Whether it has ended (reaping it then), without waiting.
    bool Exited();
    std::string out() const { return ReadFile(out_); }
    std::string err() const { return ReadFile(err_); }

  private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::filesystem::path out_, err_;
};

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

// The simulated instrument of lumivo-sim (`program`) serving port COM1 of the installation
// folder `install` for the life of the object, with `options` added to its command line and
// its output in sim.log of that folder. Waits up to 10 s for the port's link.
class SimProcess {
  public:
    SimProcess(const std::filesystem::path& program, std::filesystem::path install,
               const std::vector<std::string>& options = {});
    ~SimProcess() { Stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The port's link exists.
    bool ready() const;
    std::filesystem::path link() const { return install_ / "ports" / "COM1"; }
    std::string log() const { return child_.out(); }
    void Signal(int sig) const { child_.Signal(sig); }
    // SIGTERM, then waits up to 5 s; its exit status, or -1 when it had to be killed.
    int Stop();

  private:
    std::filesystem::path install_;
    ChildProcess child_;
    bool stopped_ = false;
};

}  // namespace lumivo::testing
