#pragma once

#include <gssapi/gssapi.h>

#include <memory>
#include <string>
#include <string_view>

// GSSAPI as WinRM needs it: a credential for the session, one security
// context per connection (authentication is per connection), and the
// context's sealing in the layout WinRM frames on plain HTTP: a signature
// (NTLM's 16-byte message signature, or Kerberos' RFC 4121 wrap header) kept
// apart from the sealed bytes.
namespace tavo::winrm {

// A GSSAPI call failed; `what` carries the mechanism's own words.
struct GssFailure {
    std::string what;
};

enum class GssMech { Ntlm, Kerberos };

// The initiator's credential, kept for the session so that a reconnect
// authenticates again without asking for the password again.
class GssCredential {
  public:
    // NTLM from a user name (DOMAIN\user or user@domain) and its password.
    // The caller wipes its copy of the password afterwards.
    static std::shared_ptr<GssCredential> fromPassword(const std::string& user,
                                                       const std::string& password);
    // Kerberos from the user's ticket cache; nothing when there is no cache
    // or its tickets have expired, or when `user` is named and is not the
    // cache's principal.
    static std::shared_ptr<GssCredential> fromTicketCache(const std::string& user);
    ~GssCredential();
    GssCredential(const GssCredential&) = delete;
    GssCredential& operator=(const GssCredential&) = delete;

    GssMech mech() const { return mech_; }
    gss_cred_id_t handle() const { return handle_; }

  private:
    GssCredential(gss_cred_id_t handle, GssMech mech) : handle_(handle), mech_(mech) {}
    gss_cred_id_t handle_;
    GssMech mech_;
};

class GssContext {
  public:
    // The client side towards HTTP@host. Over TLS, `channelBinding` ties
    // the authentication to that TLS connection ("tls-server-end-point:"
    // and the certificate's hash), so it cannot be relayed to another; a
    // listener hardened for it refuses authentication without.
    static std::unique_ptr<GssContext> initiator(std::shared_ptr<GssCredential> credential,
                                                 const std::string& host,
                                                 std::string channelBinding = {});
    // The server side (the test server), with the default acceptor
    // credential (for NTLM, the users of NTLM_USER_FILE); with a channel
    // binding, a client must present the same one.
    static std::unique_ptr<GssContext> acceptor(std::string channelBinding = {});
    ~GssContext();
    GssContext(const GssContext&) = delete;
    GssContext& operator=(const GssContext&) = delete;

    // One leg of the handshake: takes the peer's token (empty for the
    // initiator's first leg) and returns the token to send, possibly empty.
    // Throws GssFailure when the peer's token is refused.
    std::string step(std::string_view peerToken);
    bool complete() const { return complete_; }

    // The sealed message in one buffer: the signature, then the data.
    struct Sealed {
        std::string token;
        std::size_t signatureLength = 0;
        std::string_view signature() const {
            return std::string_view(token).substr(0, signatureLength);
        }
        std::string_view data() const { return std::string_view(token).substr(signatureLength); }
    };
    Sealed seal(std::string_view plain);
    // Throws GssFailure when the signature does not match the data.
    std::string unseal(std::string_view signature, std::string_view data);

    // The authenticated peer as the mechanism names it (acceptor side).
    std::string peerName() const;

  private:
    GssContext() = default;
    std::shared_ptr<GssCredential> credential_;
    gss_name_t target_ = GSS_C_NO_NAME;
    gss_ctx_id_t context_ = GSS_C_NO_CONTEXT;
    gss_OID mechUsed_ = GSS_C_NO_OID;
    bool acceptor_ = false;
    bool complete_ = false;
    bool kerberos_ = false;
    gss_name_t peer_ = GSS_C_NO_NAME;
    std::string channelBinding_;
};

}  // namespace tavo::winrm
