#include "support/smtp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace lumivo::testing {

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    const sockaddr_in a = Loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

int FreeTcpPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0) ::close(fd);
    return port;
}

SmtpServer::SmtpServer(const std::filesystem::path& folder) : port_(FreeTcpPort()) {
    child_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/python3", "-u", "-m", "aiosmtpd", "-n", "-c",
                                 "aiosmtpd.handlers.Debugging", "-l",
                                 "127.0.0.1:" + std::to_string(port_)},
        folder / "smtp.out", folder / "smtp.err");
    ready_ =
        WaitFor([&] { return Accepts(port_) || child_->Exited(); }, std::chrono::seconds(20)) &&
        Accepts(port_);
}

}  // namespace lumivo::testing
