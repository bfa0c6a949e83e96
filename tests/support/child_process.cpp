#include "support/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace lumivo::testing {

namespace {

int StatusOf(int wait_status) {
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

}  // namespace

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

TempFolder::TempFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, std::filesystem::path out,
                           std::filesystem::path err)
    : out_(std::move(out)), err_(std::move(err)) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // A program under test never waits for the terminal: its questions see the end of input.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err_ == out_) {
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        Wait();
    }
}

void ChildProcess::Signal(int sig) const {
    if (pid_ > 0) kill(pid_, sig);
}

int ChildProcess::Wait() {
    if (pid_ <= 0) return status_;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    status_ = StatusOf(status);
    return status_;
}

bool ChildProcess::Exited() {
    if (pid_ <= 0) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    pid_ = -1;
    status_ = StatusOf(status);
    return true;
}

RunResult Run(const std::vector<std::string>& argv, const std::filesystem::path& dir,
              int timeout_ms) {
    ChildProcess child(argv, dir / "out.txt", dir / "err.txt");
    if (timeout_ms > 0 &&
        !WaitFor([&] { return child.Exited(); }, std::chrono::milliseconds(timeout_ms)))
        child.Signal(SIGKILL);
    RunResult r;
    r.status = child.Wait();
    r.out = child.out();
    r.err = child.err();
    return r;
}

SimProcess::SimProcess(const std::filesystem::path& program, std::filesystem::path install,
                       const std::vector<std::string>& options)
    : install_(std::move(install)),
      child_(
          [&] {
              std::vector<std::string> argv = {program.string(), "--install", install_.string(),
                                               "--com", "1"};
              argv.insert(argv.end(), options.begin(), options.end());
              std::filesystem::create_directories(install_);
              return argv;
          }(),
          install_ / "sim.log", install_ / "sim.log") {
    WaitFor([&] { return ready() || child_.Exited(); }, std::chrono::seconds(10));
}

bool SimProcess::ready() const {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(link(), ec));
}

int SimProcess::Stop() {
    if (stopped_) return -1;
    stopped_ = true;
    child_.Signal(SIGTERM);
    if (WaitFor([&] { return child_.Exited(); }, std::chrono::seconds(5))) {
        const int status = child_.Wait();
        return status < 128 ? status : -1;
    }
    child_.Signal(SIGKILL);
    child_.Wait();
    return -1;
}

}  // namespace lumivo::testing
