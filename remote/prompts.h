#pragma once

#include <memory>
#include <optional>
#include <string>

// What a remote connection asks the person in front of the screen: whether to
// trust a host's key or certificate, and a password or passphrase. The window
// answers with dialogs, tavo-report on its terminal, tests with scripted
// answers. Calls come from a pass's own thread and may block until answered.
namespace tavo::remote {

enum class TrustAnswer {
    Cancel,             // do not connect
    ConnectOnce,        // trust for this session only
    ConnectAndRemember  // trust and write it down (known_hosts, the certificate store)
};

struct TrustQuestion {
    std::string protocol;  // "SSH" or "HTTPS"
    std::string host;      // as the user named it
    int port = 0;
    std::string keyType;      // "ssh-ed25519", "X.509 certificate"
    std::string fingerprint;  // "SHA256:..." as ssh-keygen -l prints it
    std::string why;          // "The host's key is not known." / the TLS verification error

    // The computer as a person reads it: the host, and the port unless it
    // is SSH's own (an IPv6 address in brackets then).
    std::string where() const;
};

struct SecretQuestion {
    std::string protocol;  // "SSH" or "WinRM"
    std::string host;
    std::string user;         // may be empty when the user still has to be named
    bool askUser = false;     // let the person name or change the user
    std::string prompt;       // "Password", "Passphrase for /home/u/.ssh/id_ed25519"
    std::string lastFailure;  // the reason the previous try failed, or ""
};

struct SecretAnswer {
    std::string user;
    std::string secret;  // kept in memory only; never logged, never written to disk
};

class Prompter {
  public:
    virtual ~Prompter() = default;
    virtual TrustAnswer askTrust(const TrustQuestion& question) = 0;
    // Nothing when the person cancels.
    virtual std::optional<SecretAnswer> askSecret(const SecretQuestion& question) = 0;
};

// A prompter for contexts without a person: trusts nothing new and knows no
// secret, so connections fall back to keys, agents and known hosts only.
std::shared_ptr<Prompter> makeNoPrompter();

}  // namespace tavo::remote
