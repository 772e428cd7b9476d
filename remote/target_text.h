#pragma once

#include <string>
#include <string_view>

// The computer text the user types into the target field: a host name or
// address, optionally with a user, a port and a scheme that picks the
// protocol. Shared by the moniker check, the routing to a back end and the
// remote connections, so all three read the text the same way.
namespace tavo::remote {

enum class Scheme {
    None,   // chosen by what the computer answers
    Ssh,    // ssh://
    WinRm,  // winrm:// (HTTP 5985 unless a port says otherwise)
    Https   // https:// (WinRM over TLS, 5986 unless a port says otherwise)
};

struct Target {
    Scheme scheme = Scheme::None;
    std::string user;  // "" when the text names none
    std::string host;  // IPv6 addresses without their brackets
    int port = 0;      // 0 when the text names none

    // A user, a port or a scheme means another computer's service even when
    // the host is this computer (a loopback sshd, for one).
    bool explicitRemote() const { return scheme != Scheme::None || !user.empty() || port != 0; }
    // "user@host:port" for messages; IPv6 hosts get their brackets back
    // where a port follows.
    std::string display() const;
};

// A loopback address (127.0.0.0/8, ::1, in brackets or not).
bool isLoopbackHost(std::string_view host);

// Why `text` is not a target ("" when it is).
std::string whyNotTarget(std::string_view text);

// The parts of `text`; throws tavo::Error (errc::kInvalidSyntax) naming the
// text and saying what is wrong with it.
Target parseTarget(std::string_view text);

}  // namespace tavo::remote
