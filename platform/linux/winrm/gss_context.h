#pragma once

#include <gssapi/gssapi.h>

#include <memory>
#include <string>
#include <string_view>

// GSSAPI as WinRM needs it: a credential for the session, one security
// context per connection (authentication is per connection), and the
// context's sealing in the layout WinRM frames on plain HTTP: a signature
// (NTLM's 16-byte message signature, or Kerberos' RFC 4121 wrap header) kept
// apart from the sealed bytes. Only the initiator is here; the acceptor is
// the tests' own.
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

// A message sealed for WinRM's framing of plain HTTP: the signature, then
// the sealed bytes, in one buffer.
struct Sealed {
    std::string token;
    std::size_t signatureLength = 0;
    std::string_view signature() const {
        return std::string_view(token).substr(0, signatureLength);
    }
    std::string_view data() const { return std::string_view(token).substr(signatureLength); }
};

// The sealing of one authenticated connection. NTLM and Kerberos lay their
// signatures out differently; the transport sees only this.
class MessageSealing {
  public:
    virtual ~MessageSealing() = default;
    virtual Sealed wrap(std::string_view plain) = 0;
    // Throws GssFailure when the signature does not match the data, or the
    // message was only signed.
    virtual std::string unwrap(std::string_view signature, std::string_view data) = 0;
};

// The sealing of a complete context, which must outlive it.
std::unique_ptr<MessageSealing> makeSealing(gss_ctx_id_t context, GssMech mech);

// GSSAPI's failure as GssFailure, with the mechanism's own words.
[[noreturn]] void throwGssFailure(const char* call, OM_uint32 major, OM_uint32 minor,
                                  gss_OID mech = GSS_C_NO_OID);

// The security context of one connection (authentication is per
// connection), whichever side it is.
class GssSession {
  public:
    virtual ~GssSession();
    GssSession(const GssSession&) = delete;
    GssSession& operator=(const GssSession&) = delete;

    // One leg of the handshake: takes the peer's token (empty for the
    // initiator's first leg) and returns the token to send, possibly empty.
    // Throws GssFailure when the peer's token is refused.
    virtual std::string step(std::string_view peerToken) = 0;
    bool complete() const { return complete_; }

    // The connection's sealing; throws GssFailure before the handshake is
    // complete.
    MessageSealing& sealing();

  protected:
    // With a channel binding, the two sides must present the same one.
    explicit GssSession(std::string channelBinding);
    gss_channel_bindings_t bindings();
    // Takes a handshake call's result: throws on failure, returns the token
    // to send, and sets up the sealing once the context is complete.
    std::string finish(const char* call, OM_uint32 major, OM_uint32 minor, gss_buffer_desc& out,
                       GssMech mech);

    gss_ctx_id_t context_ = GSS_C_NO_CONTEXT;
    gss_OID mechUsed_ = GSS_C_NO_OID;

  private:
    std::string channelBinding_;
    gss_channel_bindings_struct binding_{};
    bool complete_ = false;
    std::unique_ptr<MessageSealing> sealing_;
};

// The client side towards HTTP@host, which is all Tavo itself plays.
class GssContext final : public GssSession {
  public:
    // Over TLS, `channelBinding` ties the authentication to that TLS
    // connection ("tls-server-end-point:" and the certificate's hash), so it
    // cannot be relayed to another; a listener hardened for it refuses
    // authentication without.
    static std::unique_ptr<GssContext> initiator(std::shared_ptr<GssCredential> credential,
                                                 const std::string& host,
                                                 std::string channelBinding = {});
    ~GssContext() override;
    std::string step(std::string_view peerToken) override;

  private:
    GssContext(std::shared_ptr<GssCredential> credential, std::string channelBinding);
    std::shared_ptr<GssCredential> credential_;
    gss_name_t target_ = GSS_C_NO_NAME;
};

}  // namespace tavo::winrm
