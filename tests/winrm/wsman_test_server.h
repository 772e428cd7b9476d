#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/winrm/soap_transport.h"

// A WS-Management server on 127.0.0.1 for tests: HTTP/1.1 with kept-alive
// connections, optional TLS, and the authentication a WinRM listener asks
// for: none, Basic, or NTLM through gss-ntlmssp as the acceptor (users from
// NTLM_USER_FILE), sealing every reply on plain HTTP as Windows does. Each
// unsealed envelope is answered by a SoapResponder.
namespace tavo::winrm::testing {

enum class ServerAuth { None, Basic, Ntlm };

// What the server does wrong on purpose, for the client's defences.
enum class Tamper {
    None,
    DeclaredLength,  // a sealed reply declares one byte more than it holds
    Signature,       // a sealed reply's signature is damaged
    Unsealed,        // a reply to a sealed request comes back in plain text
};

struct ServerOptions {
    ServerAuth auth = ServerAuth::None;
    // DOMAIN:USER:PASSWORD lines: NTLM's users (set as NTLM_USER_FILE for
    // the process) and Basic's.
    std::string userFile;
    std::string certFile, keyFile;  // TLS when both are set
    std::shared_ptr<SoapResponder> responder;
};

class WsmanTestServer {
  public:
    explicit WsmanTestServer(ServerOptions options);
    ~WsmanTestServer();
    WsmanTestServer(const WsmanTestServer&) = delete;
    WsmanTestServer& operator=(const WsmanTestServer&) = delete;

    int port() const { return port_; }

    // Behaviour that tests change between requests.
    void setReplyDelay(std::chrono::milliseconds delay) { delayMs_ = delay.count(); }
    void setTamper(Tamper tamper) { tamper_ = tamper; }
    // Says "Connection: close" with each reply and closes, as HTTP/1.0 did.
    void setCloseAfterReply(bool close) { closeAfterReply_ = close; }
    // Closes every open connection, as a server does with idle ones.
    void dropConnections();

    int connectionsAccepted() const { return accepted_; }
    int handshakesCompleted() const { return handshakes_; }
    int envelopesAnswered() const { return answered_; }
    // The last authenticated user as the acceptor named it.
    std::string lastUser() const;

  private:
    void acceptLoop();
    void serve(int fd);

    ServerOptions o_;
    int listenFd_ = -1;
    int port_ = 0;
    std::shared_ptr<void> tls_;  // SSL_CTX
    std::atomic<bool> stopping_{false};
    std::atomic<long long> delayMs_{0};
    std::atomic<Tamper> tamper_{Tamper::None};
    std::atomic<bool> closeAfterReply_{false};
    std::atomic<int> accepted_{0}, handshakes_{0}, answered_{0};
    mutable std::mutex mutex_;
    std::vector<int> openFds_;
    std::vector<std::thread> workers_;
    std::string lastUser_;
    std::thread acceptor_;
};

}  // namespace tavo::winrm::testing
