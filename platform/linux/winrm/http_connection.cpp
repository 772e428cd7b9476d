#include "platform/linux/winrm/http_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "cycle/cancellation.h"
#include "grid/error.h"
#include "platform/linux/net/tcp_connect.h"
#include "platform/linux/winrm/tls_trust.h"

namespace tavo::winrm {

namespace {

// How often a wait looks at the stop token.
constexpr auto kSlice = std::chrono::milliseconds(50);

// OpenSSL writes to the socket with write(), which raises SIGPIPE when the
// peer has gone; that must fail the request, not end the program. Only a
// program that left the signal at its default is changed.
void ignoreSigpipeOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigemptyset(&ignore.sa_mask);
            sigaction(SIGPIPE, &ignore, nullptr);
        }
    });
}

std::string portLabel(const std::string& host, int port) {
    bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

[[noreturn]] void throwStopped(const std::string& label) {
    throw Error(errc::kCallCancelled, "The request to " + label + " was stopped.");
}

std::string sslErrorText() {
    unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (e == 0) return "the connection closed during the TLS handshake";
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return buf;
}

}  // namespace

std::unique_ptr<Connection> Connection::open(const std::string& host, int port,
                                             std::chrono::milliseconds connectTimeout,
                                             Clock::time_point until) {
    ignoreSigpipeOnce();
    const std::string label = portLabel(host, port);
    const Clock::time_point giveUp = std::min(until, Clock::now() + connectTimeout);
    auto unreachable = [&](const std::string& why) {
        return Error(errc::kServerUnavailable,
                     "Cannot reach " + label + ": " + why +
                         ". Check the name, that the computer is on, and that its WinRM "
                         "listener runs on that port (winrm quickconfig).");
    };

    const linuxnet::TcpConnect c = linuxnet::connectTcp(host, port, giveUp);
    switch (c.result) {
        case linuxnet::TcpConnect::Result::Connected:
            return std::make_unique<Connection>(c.fd, label);
        case linuxnet::TcpConnect::Result::Stopped:
            throwStopped(label);
        case linuxnet::TcpConnect::Result::NameTimedOut:
            throw unreachable("the name lookup did not finish in time");
        case linuxnet::TcpConnect::Result::NameUnknown:
            throw unreachable("the name is not known (" + c.why + ")");
        case linuxnet::TcpConnect::Result::NoAnswer: {
            if (giveUp == until)
                throw Error(errc::kTimedOut,
                            label +
                                " did not accept the connection in the time allowed for the "
                                "request.");
            const long long ms = connectTimeout.count();
            throw unreachable("no answer within " + (ms % 1000 == 0
                                                         ? std::to_string(ms / 1000) + " s"
                                                         : std::to_string(ms) + " ms"));
        }
        case linuxnet::TcpConnect::Result::Failed:
            break;
    }
    throw unreachable(c.why);
}

Connection::Connection(int fd, std::string label) : fd_(fd), label_(std::move(label)) {
    ignoreSigpipeOnce();
    int flags = fcntl(fd_, F_GETFL, 0);
    if (flags >= 0) fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    // A request or reply goes out in one write; waiting to fill a segment
    // would only hold back its last bytes for a round trip.
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

Connection::~Connection() {
    if (ssl_) {
        SSL_set_quiet_shutdown(ssl_, 1);  // no waiting on a peer to say goodbye
        SSL_free(ssl_);
    }
    if (fd_ >= 0) ::close(fd_);
}

void Connection::waitFor(Want want, Clock::time_point until, const char* doing) {
    const std::stop_token stop = cycle::currentStopToken();
    for (;;) {
        if (stop.stop_requested()) throwStopped(label_);
        if (Clock::now() >= until)
            throw Error(errc::kTimedOut, label_ + " did not answer in the time allowed (" +
                                             std::string(doing) + ").");
        pollfd p{fd_, static_cast<short>(want == Want::Read ? POLLIN : POLLOUT), 0};
        int rc = poll(&p, 1, linuxnet::pollSliceMs(until, kSlice));
        if (rc > 0) return;  // ready, or an error the next call reports
        if (rc < 0 && errno != EINTR) throw ConnectionLost{std::strerror(errno)};
    }
}

void Connection::startTlsClient(SSL_CTX* context, const std::string& serverName,
                                Clock::time_point until) {
    ssl_ = SSL_new(context);
    if (!ssl_) throw Error(errc::kServerUnavailable, "TLS with " + label_ + ": " + sslErrorText());
    SSL_set_fd(ssl_, fd_);
    in6_addr scratch{};
    bool isAddress = inet_pton(AF_INET, serverName.c_str(), &scratch) == 1 ||
                     inet_pton(AF_INET6, serverName.c_str(), &scratch) == 1;
    if (!isAddress) SSL_set_tlsext_host_name(ssl_, serverName.c_str());
    expectHost(ssl_, serverName);
    if (!runTlsHandshake(ssl_, SSL_connect, until))
        throw Error(errc::kServerUnavailable,
                    "The TLS handshake with " + label_ + " failed: " + sslErrorText() +
                        ". Is this the HTTPS listener (usually port 5986)?");
}

bool Connection::runTlsHandshake(SSL* ssl, int (*step)(SSL*), Clock::time_point until) {
    ssl_ = ssl;
    // The socket does not block: each step goes as far as the peer lets it,
    // and we wait (bounded) for whichever way it needs next.
    for (;;) {
        ERR_clear_error();
        const int rc = step(ssl_);
        if (rc == 1) return true;
        const int err = SSL_get_error(ssl_, rc);
        if (err == SSL_ERROR_WANT_READ)
            waitFor(Want::Read, until, "TLS handshake");
        else if (err == SSL_ERROR_WANT_WRITE)
            waitFor(Want::Write, until, "TLS handshake");
        else
            return false;
    }
}

std::size_t Connection::readSome(char* buffer, std::size_t n, Clock::time_point until) {
    for (;;) {
        if (ssl_) {
            ERR_clear_error();
            int rc = SSL_read(ssl_, buffer, static_cast<int>(std::min<std::size_t>(n, 1 << 30)));
            if (rc > 0) return static_cast<std::size_t>(rc);
            int err = SSL_get_error(ssl_, rc);
            if (err == SSL_ERROR_ZERO_RETURN) return 0;
            if (err == SSL_ERROR_WANT_READ) {
                waitFor(Want::Read, until, "reading the reply");
            } else if (err == SSL_ERROR_WANT_WRITE) {
                waitFor(Want::Write, until, "reading the reply");
            } else {
                throw ConnectionLost{sslErrorText()};
            }
            continue;
        }
        ssize_t rc = ::recv(fd_, buffer, n, 0);
        if (rc >= 0) return static_cast<std::size_t>(rc);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            waitFor(Want::Read, until, "reading the reply");
            continue;
        }
        throw ConnectionLost{std::strerror(errno)};
    }
}

void Connection::writeAll(std::string_view bytes, Clock::time_point until) {
    while (!bytes.empty()) {
        if (ssl_) {
            ERR_clear_error();
            int rc = SSL_write(ssl_, bytes.data(),
                               static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 30)));
            if (rc > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(rc));
                continue;
            }
            int err = SSL_get_error(ssl_, rc);
            if (err == SSL_ERROR_WANT_WRITE)
                waitFor(Want::Write, until, "sending the request");
            else if (err == SSL_ERROR_WANT_READ)
                waitFor(Want::Read, until, "sending the request");
            else
                throw ConnectionLost{sslErrorText()};
            continue;
        }
        ssize_t rc = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (rc >= 0) {
            bytes.remove_prefix(static_cast<std::size_t>(rc));
            continue;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            waitFor(Want::Write, until, "sending the request");
            continue;
        }
        throw ConnectionLost{std::strerror(errno)};
    }
}

bool Connection::closedByPeer() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) return false;
    // Nothing is due between requests, so readable means the end of the
    // stream, a reset, or bytes no request asked for: either way the
    // connection is of no further use. TLS 1.3 is the exception: a server
    // may send session tickets after the handshake, which are not data.
    if (ssl_) {
        ERR_clear_error();
        char byte;
        int rc = SSL_peek(ssl_, &byte, 1);
        return !(rc <= 0 && SSL_get_error(ssl_, rc) == SSL_ERROR_WANT_READ);
    }
    return true;
}

}  // namespace tavo::winrm
