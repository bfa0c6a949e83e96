// An SMTP server on 127.0.0.1 for the notification tests: Debian's aiosmtpd, run by the
// system's Python, printing every message it receives. A machine without it fails the tests
// that need it (scripts/deps.sh installs python3-aiosmtpd).
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "support/child_process.h"

namespace lumivo::testing {

// A TCP port of 127.0.0.1 that nothing listens on (it was free a moment ago).
int FreeTcpPort();

class SmtpServer {
  public:
    explicit SmtpServer(const std::filesystem::path& folder);
    bool ready() const { return ready_; }
    int port() const { return port_; }
    // Everything the server printed: the messages it received, headers and bodies.
    std::string received() const { return child_->out(); }
    std::string log() const { return child_->err(); }

  private:
    int port_;
    std::unique_ptr<ChildProcess> child_;
    bool ready_ = false;
};

}  // namespace lumivo::testing
