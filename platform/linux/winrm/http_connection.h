#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// One TCP connection, plain or TLS, whose every wait is bounded: by the
// caller's deadline and by the stop token of the pass on this thread. Waits
// happen in poll() slices, so STOP ends them within a slice.
namespace tavo::winrm {

using Clock = std::chrono::steady_clock;

// The peer reset the connection or it broke under a write: on a kept-alive
// connection this is how a server's idle close shows, so the caller may
// reconnect when nothing of the reply had arrived.
struct ConnectionLost {
    std::string why;
};

class Connection {
  public:
    // Resolves and connects, giving up after `connectTimeout` or at `until`,
    // whichever is first: tavo::Error 0x800706BA naming host and port (or
    // 0x80041032 when the pass is stopped).
    static std::unique_ptr<Connection> open(const std::string& host, int port,
                                            std::chrono::milliseconds connectTimeout,
                                            Clock::time_point until);
    // Takes over a connected socket.
    Connection(int fd, std::string label);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The TLS handshake; the caller checks the peer's certificate after it.
    // `serverName` goes out as SNI when it is a name, not an address.
    void startTlsClient(SSL_CTX* context, const std::string& serverName, Clock::time_point until);
    // Runs `step` (SSL_connect, or a peer's own) on `ssl`, which the
    // connection owns from here on, to the end of the handshake; false when
    // it fails.
    bool runTlsHandshake(SSL* ssl, int (*step)(SSL*), Clock::time_point until);
    SSL* ssl() const { return ssl_; }
    int fd() const { return fd_; }

    // Up to n bytes, 0 at the end of the stream. Throws tavo::Error
    // 0x80043001 at `until`, 0x80041032 on STOP, ConnectionLost on a reset.
    std::size_t readSome(char* buffer, std::size_t n, Clock::time_point until);
    void writeAll(std::string_view bytes, Clock::time_point until);

    // True when the peer has already closed or reset a connection that sits
    // idle between requests (it reads as end of stream at once).
    bool closedByPeer();

    // "host:port", for messages.

  private:
    enum class Want { Read, Write };
    void waitFor(Want want, Clock::time_point until, const char* doing);

    int fd_ = -1;
    SSL* ssl_ = nullptr;
    std::string label_;
};

}  // namespace tavo::winrm
