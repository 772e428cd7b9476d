#pragma once

#include <optional>
#include <string>
#include <string_view>

// What a server sends during the Negotiate handshake is checked here before
// gss-ntlmssp or MIT krb5 sees a byte of it: those libraries trust the
// lengths inside a token, and a forged length made them read past its end.
namespace tavo::winrm {

// Nothing when `token` is a well-formed NTLM CHALLENGE message (signature,
// message type, every payload field inside the message and apart from the
// others, AV pairs inside the target information and ended by MsvAvEOL);
// otherwise what is wrong with it.
std::optional<std::string> ntlmChallengeProblem(std::string_view token);

// The same for a Kerberos or SPNEGO token, as far as its DER framing goes:
// every length inside its container, nothing left over.
std::optional<std::string> kerberosTokenProblem(std::string_view token);

}  // namespace tavo::winrm
