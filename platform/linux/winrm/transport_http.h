#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "platform/linux/winrm/reply_parser.h"
#include "platform/linux/winrm/soap_transport.h"
#include "remote/prompts.h"

// The WS-Management transport over HTTP/1.1: one kept-alive connection per
// target, TLS for https, and the authentication WinRM listeners accept.
namespace tavo::winrm {

enum class AuthMethod {
    // NTLM or Kerberos through GSSAPI. Kerberos when the user's ticket cache
    // holds tickets for that user, NTLM from the password otherwise. On plain
    // HTTP every message is then sealed, as a default WinRM listener demands.
    Negotiate,
    // User and password with every request; over HTTPS only.
    Basic,
    // No authentication at all, for a server that asks for none.
    None,
};

struct TransportOptions {
    std::string user;  // DOMAIN\user or user@REALM; empty: asked with the password
    std::string host;
    int port = 5985;
    bool https = false;
    AuthMethod auth = AuthMethod::Negotiate;
    // Asked for the password and about certificates that do not verify.
    std::shared_ptr<remote::Prompter> prompter;
    std::string caFile;                 // trusted instead of the system's CAs (tests)
    std::string knownCertificatesPath;  // empty: KnownCertificates::defaultPath()
    std::chrono::milliseconds connectTimeout{5000};
    // The parser refuses more than kMaxReplyBytes anyway; a sealed reply
    // carries a few bytes of framing besides.
    std::size_t maxReplyBytes = kMaxReplyBytes + 64 * 1024;
    std::string path = "/wsman";
};

std::shared_ptr<SoapTransport> makeHttpTransport(TransportOptions options);

}  // namespace tavo::winrm
