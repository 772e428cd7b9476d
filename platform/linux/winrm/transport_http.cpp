#include "platform/linux/winrm/transport_http.h"

#include <openssl/crypto.h>

#include <mutex>
#include <optional>

#include "grid/error.h"
#include "platform/linux/winrm/gss_context.h"
#include "platform/linux/winrm/http_connection.h"
#include "platform/linux/winrm/http_message.h"
#include "platform/linux/winrm/sealing_multipart.h"
#include "platform/linux/winrm/server_tokens.h"
#include "platform/linux/winrm/tls_trust.h"

namespace tavo::winrm {

namespace {

// A password is asked again after a refusal, but not without end.
constexpr int kPasswordTries = 3;
// A handshake that needs more legs than this is not one WinRM speaks.
constexpr int kMaxLegs = 6;

void wipe(std::string& secret) {
    if (!secret.empty()) OPENSSL_cleanse(secret.data(), secret.size());
    secret.clear();
}

std::string bracketed(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

class HttpTransport final : public SoapTransport {
  public:
    explicit HttpTransport(TransportOptions o)
        : o_(std::move(o)),
          label_(bracketed(o_.host) + ":" + std::to_string(o_.port)),
          known_(o_.knownCertificatesPath.empty() ? KnownCertificates::defaultPath()
                                                  : o_.knownCertificatesPath) {
        if (!o_.prompter) o_.prompter = remote::makeNoPrompter();
    }
    ~HttpTransport() override { wipe(secret_); }

    std::string endpoint() const override {
        return std::string(o_.https ? "https://" : "http://") + label_ + o_.path;
    }

    SoapReply post(const std::string& envelope, std::chrono::milliseconds deadline) override {
        std::lock_guard lock(mutex_);
        if (o_.auth == AuthMethod::Basic && !o_.https)
            throw Error(
                errc::kAccessDenied,
                "Basic authentication to " + label_ +
                    " was refused by Tavo: over plain HTTP it would send the password "
                    "readable by anyone on the network. Use HTTPS (https://, port 5986) for "
                    "Basic, or Negotiate (NTLM or Kerberos), which seals every message.");
        // The host goes into the request's header lines as it stands: a
        // name with spaces or line breaks in it would write others.
        for (unsigned char c : o_.host)
            if (c <= ' ' || c == 0x7f || c == '/' || c == '@')
                throw Error(errc::kInvalidSyntax,
                            "\"" + o_.host + "\" is not a computer name or address.");
        if (o_.host.empty()) throw Error(errc::kInvalidSyntax, "No computer was named.");
        // A deadline of "for ever" must not wrap round to the past.
        const Clock::time_point until =
            Clock::now() + std::min<std::chrono::milliseconds>(deadline, std::chrono::hours(24));
        // What the layers below throw besides tavo::Error becomes one, so
        // the caller sees the host and the reason, and no half-used
        // connection is kept.
        try {
            return exchange(envelope, until);
        } catch (const GssFailure& f) {
            drop();
            throw Error(errc::kFailed,
                        "Securing the connection to " + label_ + " failed: " + f.what);
        } catch (const ConnectionLost& lost) {
            drop();
            throw Error(errc::kServerUnavailable,
                        "The connection to " + label_ + " broke: " + lost.why);
        }
    }

  private:
    struct Retry {};

    SoapReply exchange(const std::string& envelope, Clock::time_point until) {
        int reconnects = 0;
        int basicTries = 0;
        std::string lastFailure;
        for (;;) {
            if (conn_ && conn_->closedByPeer()) drop();
            const bool reused = conn_ != nullptr;
            if (!conn_) open(until);

            std::string body = envelope;
            http::Headers headers = baseHeaders();
            const bool sealing = sealingOn();
            if (sealing) {
                Sealed s = gss_->sealing().wrap(envelope);
                body = sealing::frame(envelope.size(), s.signature(), s.data());
                headers.add("Content-Type", sealing::contentType());
            } else {
                headers.add("Content-Type", "application/soap+xml;charset=UTF-8");
            }
            if (o_.auth == AuthMethod::Basic)
                headers.add("Authorization", basicAuthorization(lastFailure));
            struct WipeHeaders {
                http::Headers& h;
                ~WipeHeaders() {
                    for (auto& field : h.fields) wipe(field.second);
                }
            } wipeHeaders{headers};

            http::Message reply;
            try {
                reply = roundTrip(headers, body, until);
            } catch (const Retry&) {
                // A kept-alive connection the server had closed (an idle
                // timeout, most likely, before it read the request): once
                // more on a new one.
                if (reused && reconnects++ == 0) continue;
                throw Error(errc::kServerUnavailable,
                            label_ + " closed the connection without answering.");
            }
            if (reply.status == 401) {
                drop();
                if (o_.auth == AuthMethod::Negotiate && reused && reconnects++ == 0)
                    continue;  // the server forgot the connection's authentication
                if (o_.auth == AuthMethod::Basic && ++basicTries < kPasswordTries) {
                    wipe(secret_);
                    lastFailure = "The server refused the user name or password.";
                    continue;
                }
                accessDenied("");
            }
            SoapReply out{reply.status, sealing ? unseal(reply) : std::move(reply.body)};
            if (reply.closes) drop();
            return out;
        }
    }

    bool sealingOn() const { return o_.auth == AuthMethod::Negotiate && !o_.https; }

    http::Headers baseHeaders() const {
        http::Headers h;
        h.add("Host", label_);
        h.add("User-Agent", "Tavo");
        return h;
    }

    void drop() {
        reader_.reset();
        gss_.reset();
        conn_.reset();
    }

    void open(Clock::time_point until) {
        connect(until);
        try {
            if (o_.auth == AuthMethod::Negotiate) authenticate(until);
        } catch (...) {
            drop();
            throw;
        }
    }

    // A new connection, with TLS and a trusted certificate for https.
    void connect(Clock::time_point until) {
        conn_ = Connection::open(o_.host, o_.port, o_.connectTimeout, until);
        reader_ = std::make_unique<http::MessageReader>(
            [this](char* buffer, std::size_t n) {
                std::size_t got = conn_->readSome(buffer, n, until_);
                bytesRead_ += got;
                return got;
            },
            o_.maxReplyBytes);
        try {
            if (o_.https) {
                if (!tls_) tls_ = makeClientTlsContext(o_.caFile);
                conn_->startTlsClient(tls_.get(), o_.host, until);
                checkPeerCertificate(conn_->ssl(), o_.host, o_.port, o_.prompter.get(), known_);
            }
        } catch (...) {
            drop();
            throw;
        }
    }

    // Sends one request and reads its reply on the open connection. Throws
    // Retry when the server had closed the connection before this request;
    // any other failure leaves no connection behind.
    http::Message roundTrip(const http::Headers& headers, const std::string& body,
                            Clock::time_point until) {
        until_ = until;
        bytesRead_ = 0;
        try {
            std::string head = http::formatRequestHead("POST", o_.path, headers, body.size());
            // Basic's header is the password in base64: it is not left
            // lying in freed memory.
            struct Wipe {
                std::string& s;
                ~Wipe() { wipe(s); }
            } wipeHead{head};
            conn_->writeAll(head, until);
            conn_->writeAll(body, until);
            http::Message reply = reader_->readResponse();
            return reply;
        } catch (const http::ClosedBeforeMessage&) {
            drop();
            throw Retry{};
        } catch (const ConnectionLost& lost) {
            const bool nothing = bytesRead_ == 0;
            drop();
            if (nothing) throw Retry{};
            throw Error(errc::kServerUnavailable,
                        "The connection to " + label_ + " broke during the reply: " + lost.why);
        } catch (const http::Malformed& m) {
            drop();
            throw Error(errc::kFailed, "The reply of " + label_ + " is not valid HTTP: " + m.what);
        } catch (...) {
            drop();  // a timeout or a stop leaves the connection mid-message
            throw;
        }
    }

    std::string userForMessages() const { return o_.user.empty() ? "(no user)" : o_.user; }

    [[noreturn]] void accessDenied(const std::string& detail) {
        throw Error(errc::kAccessDenied,
                    "Access is denied: " + label_ + " refused the credentials of " +
                        userForMessages() + (detail.empty() ? "" : " (" + detail + ")") +
                        ". Check the user name (DOMAIN\\user or user@REALM) and the password. "
                        "The user must be an administrator of that computer or a member of "
                        "Remote Management Users; a local account other than the built-in "
                        "Administrator is also refused unless LocalAccountTokenFilterPolicy is 1 "
                        "there.");
    }

    std::string askPassword(const std::string& lastFailure) {
        remote::SecretQuestion q;
        q.protocol = "WinRM";
        q.host = o_.host;
        q.user = o_.user;
        q.askUser = o_.user.empty();
        q.prompt = "Password";
        q.lastFailure = lastFailure;
        std::optional<remote::SecretAnswer> a = o_.prompter->askSecret(q);
        if (!a)
            throw Error(errc::kAccessDenied, "No password was given for " + userForMessages() +
                                                 " on " + label_ +
                                                 (lastFailure.empty() ? "." : ": " + lastFailure));
        if (!a->user.empty()) o_.user = a->user;
        if (o_.user.empty()) {
            wipe(a->secret);
            throw Error(errc::kAccessDenied, "No user was named for " + label_ + ".");
        }
        std::string secret = std::move(a->secret);
        wipe(a->secret);
        return secret;
    }

    std::string basicAuthorization(const std::string& lastFailure) {
        if (secret_.empty()) secret_ = askPassword(lastFailure);
        std::string pair = o_.user + ":" + secret_;
        std::string header = "Basic " + http::base64Encode(pair);
        wipe(pair);
        return header;
    }

    std::shared_ptr<GssCredential> credential(const std::string& lastFailure) {
        if (cred_) return cred_;
        if (!ticketTried_) {
            ticketTried_ = true;
            cred_ = GssCredential::fromTicketCache(o_.user);
            if (cred_) {
                credFromPassword_ = false;
                return cred_;
            }
        }
        std::string secret = askPassword(lastFailure);
        try {
            cred_ = GssCredential::fromPassword(o_.user, secret);
        } catch (const GssFailure& f) {
            wipe(secret);
            throw Error(errc::kAccessDenied,
                        "The user " + o_.user + " cannot sign in to " + label_ + ": " + f.what);
        }
        // The credential holds what NTLM needs for the session; the password
        // itself is not kept.
        wipe(secret);
        credFromPassword_ = true;
        return cred_;
    }

    // The Negotiate handshake on a new connection (empty POSTs carrying the
    // tokens), which also sets up the sealing of plain HTTP.
    void authenticate(Clock::time_point until) {
        std::string lastFailure;
        for (int tries = 0;; ++tries) {
            std::shared_ptr<GssCredential> cred = credential(lastFailure);
            std::optional<std::string> refused = handshake(cred, until);
            if (!refused) return;
            lastFailure = *refused;
            cred_.reset();
            if (!credFromPassword_) {
                // The tickets did not do; the password may.
                if (!conn_) connect(until);
                continue;
            }
            if (tries + 1 >= kPasswordTries) accessDenied(lastFailure);
            if (!conn_) connect(until);
        }
    }

    // Nothing when the connection is authenticated; why not otherwise.
    std::optional<std::string> handshake(const std::shared_ptr<GssCredential>& cred,
                                         Clock::time_point until) {
        std::string binding;
        if (o_.https) {
            if (X509* cert = SSL_get1_peer_certificate(conn_->ssl())) {
                binding = tlsServerEndPoint(cert);
                X509_free(cert);
            }
        }
        gss_ = GssContext::initiator(cred, o_.host, std::move(binding));
        std::string out;
        try {
            out = gss_->step({});
        } catch (const GssFailure& f) {
            gss_.reset();
            return f.what;
        }
        for (int leg = 0; leg < kMaxLegs; ++leg) {
            http::Headers headers = baseHeaders();
            headers.add("Authorization", "Negotiate " + http::base64Encode(out));
            http::Message reply;
            try {
                reply = roundTrip(headers, {}, until);
            } catch (const Retry&) {
                throw Error(errc::kServerUnavailable,
                            label_ + " closed the connection during authentication.");
            }
            std::optional<std::string> token = http::challengeToken(reply.headers, "Negotiate");
            std::optional<std::string> bytes;
            if (token && !token->empty()) bytes = http::base64Decode(*token);
            if (token && !token->empty() && !bytes)
                throw Error(errc::kFailed,
                            label_ + " sent an authentication token that is not base64.");
            if (reply.status == 401) {
                if (!token) {
                    std::string offered;
                    if (http::challengeToken(reply.headers, "Basic")) offered = "Basic";
                    if (reply.closes) drop();
                    if (!offered.empty())
                        throw Error(errc::kAccessDenied,
                                    label_ +
                                        " does not accept Negotiate (NTLM or Kerberos) "
                                        "authentication; it offers Basic only, which Tavo "
                                        "uses over HTTPS.");
                    return "the server does not offer Negotiate authentication";
                }
                if (!bytes || gss_->complete()) {
                    if (reply.closes) drop();
                    gss_.reset();
                    return std::string("the server refused the credentials");
                }
                checkServerToken(*bytes, cred->mech());
                try {
                    out = gss_->step(*bytes);
                } catch (const GssFailure& f) {
                    drop();
                    return f.what;
                }
                if (reply.closes) {
                    drop();
                    throw Error(errc::kServerUnavailable,
                                label_ + " closed the connection in the middle of authentication.");
                }
                continue;
            }
            if (reply.status / 100 == 2) {
                if (bytes && !gss_->complete()) {
                    checkServerToken(*bytes, cred->mech());
                    try {
                        gss_->step(*bytes);  // Kerberos' mutual authentication
                    } catch (const GssFailure& f) {
                        drop();
                        throw Error(errc::kAccessDenied,
                                    label_ + " could not prove who it is: " + f.what);
                    }
                }
                if (!gss_->complete()) {
                    drop();
                    throw Error(errc::kAccessDenied,
                                label_ +
                                    " accepted the connection before authentication "
                                    "finished; Tavo does not trust it.");
                }
                if (reply.closes) {
                    drop();
                    throw Error(errc::kServerUnavailable,
                                label_ + " closed the connection right after authentication.");
                }
                return std::nullopt;
            }
            const int status = reply.status;
            drop();
            throw Error(errc::kServerUnavailable,
                        label_ + " answered HTTP " + std::to_string(status) + " " + reply.reason +
                            " to authentication" +
                            (status == 404 ? ": no WinRM listener serves " + o_.path + " there"
                                           : std::string()) +
                            ".");
        }
        drop();
        throw Error(errc::kFailed, "Authentication with " + label_ + " did not finish.");
    }

    // The libraries below trust the lengths inside a server's token; a
    // forged one is refused here, before they read it.
    void checkServerToken(std::string_view bytes, GssMech mech) {
        const bool ntlm = mech == GssMech::Ntlm;
        std::optional<std::string> problem =
            ntlm ? ntlmChallengeProblem(bytes) : kerberosTokenProblem(bytes);
        if (!problem) return;
        drop();
        throw Error(errc::kAccessDenied,
                    "Tavo did not sign in to " + label_ + ": its " +
                        (ntlm ? "NTLM challenge" : "Kerberos answer") + " is malformed (" +
                        *problem +
                        "). Something other than a Windows WinRM service may be answering on "
                        "that address, or the connection is being tampered with.");
    }

    std::string unseal(http::Message& reply) {
        const std::string* type = reply.headers.find("Content-Type");
        if (!type || !sealing::isSealed(*type)) {
            // An error status may come back plain, but data must not: an
            // unsealed reply could come from anyone on the way.
            if (reply.status == 200 && !reply.body.empty()) {
                drop();
                throw Error(errc::kFailed, "The reply of " + label_ +
                                               " was not sealed, although the request was; "
                                               "Tavo does not use it.");
            }
            return std::move(reply.body);
        }
        auto rejected = [&](const std::string& why) {
            drop();  // the sealing sequence is out of step now
            return Error(errc::kFailed, "The reply of " + label_ + " was rejected: " + why);
        };
        std::vector<sealing::Part> parts;
        try {
            parts = sealing::parse(reply.body, sealing::boundaryOf(*type));
        } catch (const sealing::Malformed& m) {
            throw rejected("its sealed body is malformed (" + m.what + ")");
        }
        std::string plain;
        for (const sealing::Part& part : parts) {
            std::string piece;
            try {
                piece = gss_->sealing().unwrap(part.signature, part.sealed);
            } catch (const GssFailure& f) {
                throw rejected(
                    "its signature does not match its content; it may have been "
                    "tampered with (" +
                    f.what + ")");
            }
            if (piece.size() != part.declaredLength)
                throw rejected("it unseals to " + std::to_string(piece.size()) +
                               " bytes but declares " + std::to_string(part.declaredLength) +
                               "; it may have been tampered with");
            if (parts.size() == 1)
                plain = std::move(piece);
            else
                plain += piece;
        }
        return plain;
    }

    TransportOptions o_;
    const std::string label_;
    KnownCertificates known_;
    std::mutex mutex_;
    std::unique_ptr<Connection> conn_;
    std::unique_ptr<http::MessageReader> reader_;
    std::unique_ptr<GssContext> gss_;
    std::shared_ptr<GssCredential> cred_;
    bool credFromPassword_ = false;
    bool ticketTried_ = false;
    std::string secret_;  // Basic's password, for this session only
    SslContextPtr tls_;
    Clock::time_point until_{};
    std::size_t bytesRead_ = 0;
};

}  // namespace

std::shared_ptr<SoapTransport> makeHttpTransport(TransportOptions options) {
    return std::make_shared<HttpTransport>(std::move(options));
}

}  // namespace tavo::winrm
