#pragma once

// TCP on 127.0.0.1 for the tests and benchmarks that stand up a server of
// their own (sshd, cupsd, a WS-Management server) or need a port nobody
// answers on.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace tavo::testing {

inline sockaddr_in loopbackAddress(int port = 0) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A socket bound to 127.0.0.1 on a port the kernel chose, listening with
// `backlog` when one is given; closed with the object. port() is -1 when it
// could not be bound.
class LoopbackSocket {
  public:
    explicit LoopbackSocket(int backlog = -1) {
        sockaddr_in a = loopbackAddress();
        socklen_t len = sizeof a;
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            (backlog < 0 || listen(fd_, backlog) == 0) &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~LoopbackSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    int fd() const { return fd_; }
    int port() const { return port_; }

  private:
    int fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port_ = -1;
};

// A port of 127.0.0.1 that was free when asked (bound once, then let go).
inline int freeLoopbackPort() {
    return LoopbackSocket().port();
}

// Whether something accepts connections on `port` of 127.0.0.1.
inline bool loopbackPortOpen(int port) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = loopbackAddress(port);
    const bool up = connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return up;
}

}  // namespace tavo::testing
