#include "platform/linux/winrm/tls_trust.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

#include "grid/error.h"
#include "support/text.h"

namespace tavo::winrm {

namespace {

// Certificates accepted for this session only ("host:port fingerprint").
std::mutex sessionMutex;
std::set<std::string>& sessionTrusted() {
    static std::set<std::string> trusted;
    return trusted;
}

std::string hostPort(const std::string& host, int port) {
    bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool isAddress(const std::string& host) {
    in6_addr scratch{};
    return inet_pton(AF_INET, host.c_str(), &scratch) == 1 ||
           inet_pton(AF_INET6, host.c_str(), &scratch) == 1;
}

}  // namespace

SslContextPtr makeClientTlsContext(const std::string& caFile) {
    SslContextPtr ctx(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    if (!ctx) throw Error(errc::kFailed, "OpenSSL could not create a TLS context.");
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    // A peer that drops the connection without a TLS goodbye is treated as an
    // ordinary end of stream; the HTTP framing tells whether a reply is whole.
    SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    // The handshake always completes; the result of the verification is
    // looked at afterwards, so an untrusted certificate can be shown to the
    // user with its fingerprint rather than as a bare handshake failure.
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
    int ok = caFile.empty() ? SSL_CTX_set_default_verify_paths(ctx.get())
                            : SSL_CTX_load_verify_locations(ctx.get(), caFile.c_str(), nullptr);
    if (ok != 1) {
        ERR_clear_error();
        throw Error(errc::kFailed, caFile.empty()
                                       ? "The system's certificate authorities cannot be read."
                                       : "The CA file " + caFile + " cannot be read.");
    }
    return ctx;
}

void expectHost(SSL* ssl, const std::string& host) {
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    if (isAddress(host))
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    else
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
}

std::string certificateFingerprint(X509* certificate) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (X509_digest(certificate, EVP_sha256(), md, &n) != 1) return "SHA256:?";
    std::string out = "SHA256:";
    static const char* hex = "0123456789ABCDEF";
    for (unsigned int i = 0; i < n; ++i) {
        if (i) out += ':';
        out += hex[md[i] >> 4];
        out += hex[md[i] & 15];
    }
    return out;
}

std::string tlsServerEndPoint(X509* certificate) {
    int mdNid = NID_undef, pkNid = NID_undef;
    const EVP_MD* md = nullptr;
    if (OBJ_find_sigid_algs(X509_get_signature_nid(certificate), &mdNid, &pkNid) &&
        mdNid != NID_md5 && mdNid != NID_sha1 && mdNid != NID_undef)
        md = EVP_get_digestbynid(mdNid);
    if (!md) md = EVP_sha256();
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (X509_digest(certificate, md, hash, &n) != 1) return {};
    return "tls-server-end-point:" + std::string(reinterpret_cast<const char*>(hash), n);
}

KnownCertificates::KnownCertificates(std::string path) : path_(std::move(path)) {}

std::string KnownCertificates::defaultPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && *xdg) {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : ".") + "/.config";
    }
    return base + "/tavo/known_certificates";
}

std::optional<std::string> KnownCertificates::lookup(const std::string& key) const {
    std::ifstream in(path_);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string who, fingerprint;
        if (fields >> who >> fingerprint && who == key) return fingerprint;
    }
    return std::nullopt;
}

void KnownCertificates::remember(const std::string& key, const std::string& fingerprint) {
    namespace fs = std::filesystem;
    auto failed = [&](const std::string& why) {
        return Error(errc::kFileAccess,
                     "The accepted certificate could not be remembered in " + path_ + ": " + why);
    };
    std::vector<std::string> lines;
    {
        std::ifstream in(path_);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string who;
            fields >> who;
            if (who != key) lines.push_back(line);  // a renewed certificate replaces the old
        }
    }
    lines.push_back(key + " " + fingerprint);

    fs::path target(path_);
    std::error_code ec;
    if (target.has_parent_path()) {
        fs::create_directories(target.parent_path(), ec);
        if (ec) throw failed(ec.message());
    }
    std::string tmpl = path_ + ".XXXXXX";
    int fd = mkstemp(tmpl.data());
    if (fd < 0) throw failed(std::strerror(errno));
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    const char* p = text.data();
    std::size_t left = text.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    int savedErrno = errno;
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        savedErrno = errno;
    }
    ::close(fd);
    if (!ok || std::rename(tmpl.c_str(), path_.c_str()) != 0) {
        if (ok) savedErrno = errno;
        ::unlink(tmpl.c_str());
        throw failed(std::strerror(savedErrno));
    }
}

void checkPeerCertificate(SSL* ssl, const std::string& host, int port, remote::Prompter* prompter,
                          KnownCertificates& known) {
    const std::string key = hostPort(host, port);
    X509* cert = SSL_get1_peer_certificate(ssl);
    if (!cert)
        throw Error(errc::kServerUnavailable,
                    key + " sent no certificate; Tavo does not connect to it.");
    const std::string fingerprint = certificateFingerprint(cert);
    X509_free(cert);
    long verdict = SSL_get_verify_result(ssl);
    if (verdict == X509_V_OK) return;

    {
        std::lock_guard lock(sessionMutex);
        if (sessionTrusted().count(key + " " + fingerprint)) return;
    }
    std::optional<std::string> remembered = known.lookup(key);
    if (remembered && *remembered == fingerprint) return;

    std::string why = X509_verify_cert_error_string(verdict);
    if (!why.empty()) why[0] = text::toUpper(why[0]);
    if (remembered)
        why += ". It is not the certificate accepted before for this computer (" + *remembered +
               "): it may have been renewed, or someone may be in between";
    why += ".";

    remote::TrustQuestion q;
    q.protocol = "HTTPS";
    q.host = host;
    q.port = port;
    q.keyType = "X.509 certificate";
    q.fingerprint = fingerprint;
    q.why = why;
    remote::TrustAnswer answer = prompter ? prompter->askTrust(q) : remote::TrustAnswer::Cancel;
    if (answer == remote::TrustAnswer::ConnectOnce) {
        std::lock_guard lock(sessionMutex);
        sessionTrusted().insert(key + " " + fingerprint);
        return;
    }
    if (answer == remote::TrustAnswer::ConnectAndRemember) {
        known.remember(key, fingerprint);
        return;
    }
    throw Error(errc::kServerUnavailable,
                "The certificate of " + key + " is not trusted: " + why + " Its fingerprint is " +
                    fingerprint +
                    ". Compare it with the certificate of the computer's HTTPS listener before "
                    "accepting it.");
}

}  // namespace tavo::winrm
