#include "winrm/wsman_test_server.h"

#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "grid/error.h"
#include "platform/linux/winrm/gss_context.h"
#include "platform/linux/winrm/http_connection.h"
#include "platform/linux/winrm/http_message.h"
#include "platform/linux/winrm/sealing_multipart.h"
#include "platform/linux/winrm/tls_trust.h"
#include "winrm/gss_acceptor.h"
#include "winrm/http_server.h"

namespace tavo::winrm::testing {

namespace {

struct Stopping {};

constexpr std::size_t kMaxRequest = 64u * 1024 * 1024;

std::string fault(const std::string& text) {
    return "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Body><s:Fault>"
           "<s:Code><s:Value>s:Receiver</s:Value></s:Code><s:Reason><s:Text xml:lang=\"en-US\">" +
           text + "</s:Text></s:Reason></s:Fault></s:Body></s:Envelope>";
}

// Basic's users from the same DOMAIN:USER:PASSWORD file NTLM reads.
bool basicUserKnown(const std::string& file, const std::string& user, const std::string& password) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        std::size_t a = line.find(':');
        std::size_t b = line.find(':', a + 1);
        if (a == std::string::npos || b == std::string::npos) continue;
        std::string domain = line.substr(0, a), name = line.substr(a + 1, b - a - 1);
        std::string pw = line.substr(b + 1);
        if (pw == password && (user == name || user == domain + "\\" + name)) return true;
    }
    return false;
}

}  // namespace

WsmanTestServer::WsmanTestServer(ServerOptions options) : o_(std::move(options)) {
    if (o_.auth == ServerAuth::Ntlm && !o_.userFile.empty())
        setenv("NTLM_USER_FILE", o_.userFile.c_str(), 1);
    if (!o_.certFile.empty() && !o_.keyFile.empty()) {
        SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
        if (SSL_CTX_use_certificate_chain_file(ctx, o_.certFile.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, o_.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
            SSL_CTX_free(ctx);
            throw std::runtime_error("the test server cannot load " + o_.certFile);
        }
        tls_ = std::shared_ptr<void>(ctx, [](void* c) { SSL_CTX_free(static_cast<SSL_CTX*>(c)); });
    }
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listenFd_, 64) != 0) {
        ::close(listenFd_);
        throw std::runtime_error("the test server cannot listen on 127.0.0.1");
    }
    socklen_t len = sizeof addr;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

WsmanTestServer::~WsmanTestServer() {
    stopping_ = true;
    acceptor_.join();
    dropConnections();
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (auto& w : workers) w.join();
    ::close(listenFd_);
}

void WsmanTestServer::dropConnections() {
    std::lock_guard lock(mutex_);
    for (int fd : openFds_) shutdown(fd, SHUT_RDWR);
}

std::string WsmanTestServer::lastUser() const {
    std::lock_guard lock(mutex_);
    return lastUser_;
}

void WsmanTestServer::acceptLoop() {
    while (!stopping_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++accepted_;
        std::lock_guard lock(mutex_);
        openFds_.push_back(fd);
        workers_.emplace_back([this, fd] { serve(fd); });
    }
}

void WsmanTestServer::serve(int fd) {
    Connection conn(fd, "client");
    // Forgets the descriptor before the connection closes it, so that
    // dropConnections() never touches a number the system has given out again.
    struct Forget {
        WsmanTestServer* self;
        int fd;
        ~Forget() {
            std::lock_guard lock(self->mutex_);
            auto& v = self->openFds_;
            v.erase(std::remove(v.begin(), v.end(), fd), v.end());
        }
    } forget{this, fd};

    const bool tls = tls_ != nullptr;
    auto soon = [] { return Clock::now() + std::chrono::seconds(10); };
    try {
        if (tls) startTlsServer(conn, static_cast<SSL_CTX*>(tls_.get()), soon());
    } catch (...) {
        return;  // a client that refused our certificate
    }
    // Over TLS a client must bind its authentication to this connection,
    // as a listener with CbtHardeningLevel Strict demands.
    std::string binding;
    if (tls) binding = tlsServerEndPoint(SSL_get_certificate(conn.ssl()));
    RequestReader reader(
        [&](char* buffer, std::size_t n) -> std::size_t {
            for (;;) {
                if (stopping_) throw Stopping{};
                try {
                    return conn.readSome(buffer, n, Clock::now() + std::chrono::milliseconds(100));
                } catch (const Error& e) {
                    if (e.number() != errc::kTimedOut) throw;
                }
            }
        },
        kMaxRequest);

    std::unique_ptr<GssAcceptor> gss;
    bool authenticated = o_.auth == ServerAuth::None;
    auto send = [&](int status, http::Headers headers, const std::string& body) {
        conn.writeAll(formatResponseHead(status, reasonPhrase(status), headers, body.size()),
                      soon());
        conn.writeAll(body, soon());
    };
    auto challenge = [&](const std::string& value) {
        http::Headers h;
        h.add("WWW-Authenticate", value);
        send(401, h, {});
    };

    try {
        for (;;) {
            http::Message req = reader.readRequest();
            if (req.method != "POST" || req.target != "/wsman") {
                send(404, {}, {});
                continue;
            }
            http::Headers replyHeaders;
            const std::string* auth = req.headers.find("Authorization");

            if (o_.auth == ServerAuth::Basic) {
                std::optional<std::string> pair;
                if (auth && auth->rfind("Basic ", 0) == 0)
                    pair = http::base64Decode(auth->substr(6));
                std::size_t colon = pair ? pair->find(':') : std::string::npos;
                if (colon == std::string::npos ||
                    !basicUserKnown(o_.userFile, pair->substr(0, colon), pair->substr(colon + 1))) {
                    challenge("Basic realm=\"WSMAN\"");
                    continue;
                }
                std::lock_guard lock(mutex_);
                lastUser_ = pair->substr(0, colon);
            } else if (o_.auth == ServerAuth::Ntlm) {
                if (auth) {
                    std::size_t space = auth->find(' ');
                    std::string scheme = auth->substr(0, space);
                    std::optional<std::string> token =
                        space == std::string::npos ? std::nullopt
                                                   : http::base64Decode(auth->substr(space + 1));
                    if (!token) {
                        challenge("Negotiate");
                        continue;
                    }
                    if (!gss || gss->complete()) gss = std::make_unique<GssAcceptor>(binding);
                    authenticated = false;
                    std::string out;
                    try {
                        out = gss->step(*token);
                    } catch (const GssFailure&) {
                        gss.reset();
                        challenge("Negotiate");
                        continue;
                    }
                    if (!gss->complete()) {
                        challenge(scheme + " " + http::base64Encode(out));
                        continue;
                    }
                    authenticated = true;
                    ++handshakes_;
                    {
                        std::lock_guard lock(mutex_);
                        lastUser_ = gss->peerName();
                    }
                    if (!out.empty())
                        replyHeaders.add("WWW-Authenticate",
                                         scheme + " " + http::base64Encode(out));
                    if (req.body.empty()) {
                        send(200, replyHeaders, {});
                        continue;
                    }
                } else if (!authenticated) {
                    challenge("Negotiate");
                    continue;
                }
            }

            // The envelope, unsealed where the connection seals.
            const std::string* type = req.headers.find("Content-Type");
            const bool sealed = type && sealing::isSealed(*type);
            const bool mustSeal = o_.auth == ServerAuth::Ntlm && !tls;
            if (sealed != mustSeal || (sealed && !gss)) {
                send(400, {}, {});
                continue;
            }
            std::string envelope;
            if (sealed) {
                bool ok = true;
                try {
                    for (const auto& part : sealing::parse(req.body, sealing::boundaryOf(*type))) {
                        std::string piece = gss->sealing().unwrap(part.signature, part.sealed);
                        if (piece.size() != part.declaredLength) ok = false;
                        envelope += piece;
                    }
                } catch (...) {
                    ok = false;
                }
                if (!ok) {
                    send(400, {}, {});
                    continue;
                }
            } else {
                envelope = std::move(req.body);
            }

            SoapReply answer = o_.responder ? o_.responder->answer(envelope)
                                            : SoapReply{500, fault("No responder is set.")};
            ++answered_;
            for (auto until = Clock::now() + std::chrono::milliseconds(delayMs_.load());
                 Clock::now() < until && !stopping_;)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));

            const bool closing = closeAfterReply_ || req.closes;
            if (closing) replyHeaders.add("Connection", "close");
            const Tamper tamper = tamper_;
            if (sealed && tamper != Tamper::Unsealed) {
                Sealed s = gss->sealing().wrap(answer.body);
                std::size_t declared = answer.body.size();
                if (tamper == Tamper::DeclaredLength) ++declared;
                if (tamper == Tamper::Signature && s.signatureLength > 6) s.token[6] ^= 0x5a;
                replyHeaders.add("Content-Type", sealing::contentType());
                // Written in pieces: a large reply is not copied once more.
                const std::string head = sealing::frameHead(declared, s.signatureLength);
                const std::string_view tail = sealing::frameTail();
                conn.writeAll(
                    formatResponseHead(answer.httpStatus, reasonPhrase(answer.httpStatus),
                                       replyHeaders, head.size() + s.token.size() + tail.size()) +
                        head,
                    soon());
                conn.writeAll(s.token, soon());
                conn.writeAll(tail, soon());
            } else {
                replyHeaders.add("Content-Type", "application/soap+xml;charset=UTF-8");
                send(answer.httpStatus, replyHeaders, answer.body);
            }
            if (closing) return;
        }
    } catch (...) {
        // The client went away, the connection was dropped, or the server stops.
    }
}

}  // namespace tavo::winrm::testing
