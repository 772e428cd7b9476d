#include "platform/linux/net/tcp_connect.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "cycle/cancellation.h"
#include "cycle/deadline.h"

namespace tavo::linuxnet {

int pollSliceMs(Clock::time_point until, std::chrono::milliseconds slice) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, slice.count()));
}

std::optional<Addresses> resolveUntil(const std::string& host, int port, Clock::time_point until) {
    auto lookup = startOnWorker([host, port] {
        Addresses r;
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        const std::string service = std::to_string(port);
        const int rc =
            getaddrinfo(host.c_str(), port != 0 ? service.c_str() : nullptr, &hints, &list);
        if (rc != 0) {
            r.error = gai_strerror(rc);
            return r;
        }
        for (addrinfo* a = list; a; a = a->ai_next) {
            if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
            sockaddr_storage s{};
            std::memcpy(&s, a->ai_addr, a->ai_addrlen);
            r.addresses.push_back(s);
            r.lengths.push_back(a->ai_addrlen);
        }
        freeaddrinfo(list);
        if (r.addresses.empty()) r.error = "no address";
        return r;
    });
    return lookup.waitUntil(until);
}

TcpConnect connectTcp(const std::string& host, int port, Clock::time_point until) {
    const auto resolved = resolveUntil(host, port, until);
    if (!resolved) {
        TcpConnect out;
        out.result = cycle::currentStopToken().stop_requested() ? TcpConnect::Result::Stopped
                                                                : TcpConnect::Result::NameTimedOut;
        return out;
    }
    if (!resolved->error.empty()) {
        TcpConnect out;
        out.result = TcpConnect::Result::NameUnknown;
        out.why = resolved->error;
        return out;
    }
    return connectAddresses(*resolved, port, until);
}

TcpConnect connectAddresses(const Addresses& addresses, int port, Clock::time_point until) {
    TcpConnect out;
    const std::stop_token stop = cycle::currentStopToken();
    out.why = "no address";
    for (std::size_t i = 0; i < addresses.addresses.size(); ++i) {
        sockaddr_storage storage = addresses.addresses[i];
        const auto p = htons(static_cast<std::uint16_t>(port));
        if (storage.ss_family == AF_INET)
            reinterpret_cast<sockaddr_in*>(&storage)->sin_port = p;
        else if (storage.ss_family == AF_INET6)
            reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = p;
        const auto* addr = reinterpret_cast<const sockaddr*>(&storage);
        const int fd = socket(addr->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            out.why = std::strerror(errno);
            continue;
        }
        bool connected = connect(fd, addr, addresses.lengths[i]) == 0;
        if (!connected && errno != EINPROGRESS) {
            out.why = std::strerror(errno);
            ::close(fd);
            continue;
        }
        bool failed = false;
        while (!connected && !failed) {
            if (stop.stop_requested() || Clock::now() >= until) {
                ::close(fd);
                out.result = stop.stop_requested() ? TcpConnect::Result::Stopped
                                                   : TcpConnect::Result::NoAnswer;
                return out;
            }
            pollfd pfd{fd, POLLOUT, 0};
            if (poll(&pfd, 1, pollSliceMs(until)) <= 0) continue;
            int err = 0;
            socklen_t len = sizeof err;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            if (err != 0) {
                out.why = std::strerror(err);
                failed = true;
            } else {
                connected = true;
            }
        }
        if (failed) {
            ::close(fd);
            continue;
        }
        const int flags = fcntl(fd, F_GETFL, 0);
        if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        out.result = TcpConnect::Result::Connected;
        out.fd = fd;
        out.why.clear();
        return out;
    }
    out.result = TcpConnect::Result::Failed;
    return out;
}

}  // namespace tavo::linuxnet
