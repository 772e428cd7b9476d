#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <optional>
#include <string>

#include "remote/prompts.h"

// Whom an HTTPS connection trusts: the system's certificate authorities (or
// a CA file given instead), checked against the host's name; and otherwise
// only a certificate the user accepted by its SHA256 fingerprint, for the
// session or remembered in a file much like ssh's known_hosts.
namespace tavo::winrm {

using SslContextPtr = std::shared_ptr<SSL_CTX>;

// A client context over the system's CAs, or over `caFile` when not empty.
// Throws tavo::Error when the CA file cannot be read.
SslContextPtr makeClientTlsContext(const std::string& caFile);

// Asks the handshake to check the certificate against `host` (a name or an
// address). Call before the handshake.
void expectHost(SSL* ssl, const std::string& host);

// "SHA256:AB:CD:..." of a certificate, as `openssl x509 -fingerprint -sha256`
// shows it, so it can be compared with the server's own view.
std::string certificateFingerprint(X509* certificate);

// The channel binding of a TLS connection for authentication over it
// (RFC 5929 "tls-server-end-point"): the prefix and the hash of the
// server's certificate, made with its signature's hash (SHA-256 where that
// is MD5 or SHA-1, or where the signature names none).
std::string tlsServerEndPoint(X509* certificate);

// Certificates accepted by their fingerprint, one "host:port fingerprint"
// line each; written whole to a new file that then replaces the old one, so
// a crash never leaves it half written.
class KnownCertificates {
  public:
    explicit KnownCertificates(std::string path);
    // $XDG_CONFIG_HOME/tavo/known_certificates, or ~/.config/tavo/...
    static std::string defaultPath();

    std::optional<std::string> lookup(const std::string& hostPort) const;
    // Throws tavo::Error when the file cannot be written.
    void remember(const std::string& hostPort, const std::string& fingerprint);

  private:
    std::string path_;
};

// After the handshake: returns when the peer is trusted (it verified, or the
// user accepted its fingerprint now or before); otherwise throws tavo::Error
// 0x800706BA naming the host, why it failed verification and the fingerprint.
void checkPeerCertificate(SSL* ssl, const std::string& host, int port, remote::Prompter* prompter,
                          KnownCertificates& known);

}  // namespace tavo::winrm
