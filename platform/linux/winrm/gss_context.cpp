#include "platform/linux/winrm/gss_context.h"
#include "support/text.h"

#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>
#include <gssapi/gssapi_ntlmssp.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace tavo::winrm {

namespace {

gss_OID_desc kNtlmOid = {GSS_NTLMSSP_OID_LENGTH, const_cast<char*>(GSS_NTLMSSP_OID_STRING)};

std::string statusText(OM_uint32 code, int type, gss_OID mech) {
    std::string out;
    OM_uint32 context = 0;
    do {
        OM_uint32 minor = 0;
        gss_buffer_desc text{};
        if (gss_display_status(&minor, code, type, mech, &context, &text) != GSS_S_COMPLETE) break;
        if (!out.empty()) out += "; ";
        out.append(static_cast<const char*>(text.value), text.length);
        gss_release_buffer(&minor, &text);
    } while (context != 0);
    return out;
}

}  // namespace

void throwGssFailure(const char* call, OM_uint32 major, OM_uint32 minor, gss_OID mech) {
    std::string text = statusText(major, GSS_C_GSS_CODE, GSS_C_NO_OID);
    if (minor != 0) {
        std::string m = statusText(minor, GSS_C_MECH_CODE, mech);
        if (!m.empty()) text += " (" + m + ")";
    }
    throw GssFailure{std::string(call) + ": " + text};
}

namespace {

gss_buffer_desc bufferOf(std::string_view s) {
    return gss_buffer_desc{s.size(), const_cast<char*>(s.data())};
}

std::string take(gss_buffer_desc& b) {
    std::string out(static_cast<const char*>(b.value), b.length);
    OM_uint32 minor = 0;
    gss_release_buffer(&minor, &b);
    return out;
}

std::string displayName(gss_name_t name) {
    OM_uint32 minor = 0;
    gss_buffer_desc text{};
    if (gss_display_name(&minor, name, &text, nullptr) != GSS_S_COMPLETE) return {};
    return take(text);
}

}  // namespace

std::shared_ptr<GssCredential> GssCredential::fromPassword(const std::string& user,
                                                           const std::string& password) {
    OM_uint32 minor = 0;
    gss_name_t name = GSS_C_NO_NAME;
    gss_buffer_desc userBuf = bufferOf(user);
    OM_uint32 major = gss_import_name(&minor, &userBuf, GSS_C_NT_USER_NAME, &name);
    if (GSS_ERROR(major)) throwGssFailure("gss_import_name", major, minor);
    gss_OID_set_desc mechs{1, &kNtlmOid};
    gss_buffer_desc pw = bufferOf(password);
    gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;
    major = gss_acquire_cred_with_password(&minor, name, &pw, GSS_C_INDEFINITE, &mechs,
                                           GSS_C_INITIATE, &cred, nullptr, nullptr);
    OM_uint32 ignored = 0;
    gss_release_name(&ignored, &name);
    if (GSS_ERROR(major))
        throwGssFailure("gss_acquire_cred_with_password", major, minor, &kNtlmOid);
    return std::shared_ptr<GssCredential>(new GssCredential(cred, GssMech::Ntlm));
}

std::shared_ptr<GssCredential> GssCredential::fromTicketCache(const std::string& user) {
    OM_uint32 minor = 0;
    gss_OID_set_desc mechs{1, const_cast<gss_OID>(gss_mech_krb5)};
    gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;
    OM_uint32 major = gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &mechs,
                                       GSS_C_INITIATE, &cred, nullptr, nullptr);
    if (GSS_ERROR(major)) return nullptr;
    gss_name_t principal = GSS_C_NO_NAME;
    OM_uint32 lifetime = 0;
    major = gss_inquire_cred(&minor, cred, &principal, &lifetime, nullptr, nullptr);
    std::string name = GSS_ERROR(major) ? std::string() : displayName(principal);
    OM_uint32 ignored = 0;
    if (principal != GSS_C_NO_NAME) gss_release_name(&ignored, &principal);
    // A named user means that user: the cache must hold their tickets
    // (user@REALM as the principal, or the bare user of the same realm).
    bool matches = user.empty() || text::equalsIgnoreCase(name, user) ||
                   (user.find('@') == std::string::npos && user.find('\\') == std::string::npos &&
                    text::equalsIgnoreCase(name.substr(0, name.find('@')), user));
    if (GSS_ERROR(major) || lifetime == 0 || !matches) {
        gss_release_cred(&ignored, &cred);
        return nullptr;
    }
    return std::shared_ptr<GssCredential>(new GssCredential(cred, GssMech::Kerberos));
}

GssCredential::~GssCredential() {
    OM_uint32 minor = 0;
    if (handle_ != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &handle_);
}

namespace {

// NTLM's wrap token is its 16-byte signature followed by the sealed bytes,
// which WinRM carries split in exactly that place.
class NtlmSealing final : public MessageSealing {
  public:
    explicit NtlmSealing(gss_ctx_id_t context) : context_(context) {}

    Sealed wrap(std::string_view plain) override {
        OM_uint32 minor = 0;
        int conf = 0;
        gss_buffer_desc in = bufferOf(plain);
        gss_buffer_desc out{};
        OM_uint32 major = gss_wrap(&minor, context_, 1, GSS_C_QOP_DEFAULT, &in, &conf, &out);
        if (GSS_ERROR(major)) throwGssFailure("gss_wrap", major, minor, &kNtlmOid);
        std::string token = take(out);
        constexpr std::size_t kSignature = 16;
        if (!conf || token.size() < kSignature)
            throw GssFailure{"gss_wrap did not seal the message"};
        return Sealed{std::move(token), kSignature};
    }

    std::string unwrap(std::string_view signature, std::string_view data) override {
        // On the wire the signature sits right before the sealed bytes,
        // which is NTLM's own token: unwrapped where it lies, not copied.
        std::string joined;
        std::string_view token;
        if (signature.data() + signature.size() == data.data()) {
            token = std::string_view(signature.data(), signature.size() + data.size());
        } else {
            joined.reserve(signature.size() + data.size());
            joined.append(signature);
            joined.append(data);
            token = joined;
        }
        OM_uint32 minor = 0;
        int conf = 0;
        gss_qop_t qop = 0;
        gss_buffer_desc in = bufferOf(token);
        gss_buffer_desc out{};
        OM_uint32 major = gss_unwrap(&minor, context_, &in, &out, &conf, &qop);
        if (GSS_ERROR(major)) throwGssFailure("gss_unwrap", major, minor, &kNtlmOid);
        std::string plain = take(out);
        if (!conf) throw GssFailure{"the message was signed but not sealed"};
        return plain;
    }

  private:
    gss_ctx_id_t context_;
};

// Kerberos: the RFC 4121 header apart from the data, as gss_wrap_iov gives
// them.
class KerberosSealing final : public MessageSealing {
  public:
    explicit KerberosSealing(gss_ctx_id_t context) : context_(context) {}

    Sealed wrap(std::string_view plain) override {
        OM_uint32 minor = 0;
        int conf = 0;
        std::string data(plain);
        gss_iov_buffer_desc iov[3]{};
        iov[0].type = GSS_IOV_BUFFER_TYPE_HEADER | GSS_IOV_BUFFER_FLAG_ALLOCATE;
        iov[1].type = GSS_IOV_BUFFER_TYPE_DATA;
        iov[1].buffer = bufferOf(data);
        iov[2].type = GSS_IOV_BUFFER_TYPE_PADDING | GSS_IOV_BUFFER_FLAG_ALLOCATE;
        OM_uint32 major = gss_wrap_iov(&minor, context_, 1, GSS_C_QOP_DEFAULT, &conf, iov, 3);
        if (GSS_ERROR(major))
            throwGssFailure("gss_wrap_iov", major, minor, const_cast<gss_OID>(gss_mech_krb5));
        Sealed s;
        s.signatureLength = iov[0].buffer.length;
        s.token.reserve(iov[0].buffer.length + data.size() + iov[2].buffer.length);
        s.token.append(static_cast<const char*>(iov[0].buffer.value), iov[0].buffer.length);
        s.token.append(data);
        s.token.append(static_cast<const char*>(iov[2].buffer.value), iov[2].buffer.length);
        gss_release_iov_buffer(&minor, iov, 3);
        if (!conf) throw GssFailure{"gss_wrap_iov did not seal the message"};
        return s;
    }

    std::string unwrap(std::string_view signature, std::string_view data) override {
        OM_uint32 minor = 0;
        int conf = 0;
        gss_qop_t qop = 0;
        std::string header(signature);
        std::string plain(data);
        gss_iov_buffer_desc iov[3]{};
        iov[0].type = GSS_IOV_BUFFER_TYPE_HEADER;
        iov[0].buffer = bufferOf(header);
        iov[1].type = GSS_IOV_BUFFER_TYPE_DATA;
        iov[1].buffer = bufferOf(plain);
        iov[2].type = GSS_IOV_BUFFER_TYPE_DATA;  // an empty trailer
        OM_uint32 major = gss_unwrap_iov(&minor, context_, &conf, &qop, iov, 3);
        if (GSS_ERROR(major))
            throwGssFailure("gss_unwrap_iov", major, minor, const_cast<gss_OID>(gss_mech_krb5));
        // As for NTLM: a reply that was only signed was readable by anyone.
        if (!conf) throw GssFailure{"the message was signed but not sealed"};
        plain.resize(iov[1].buffer.length);
        return plain;
    }

  private:
    gss_ctx_id_t context_;
};

}  // namespace

std::unique_ptr<MessageSealing> makeSealing(gss_ctx_id_t context, GssMech mech) {
    if (mech == GssMech::Kerberos) return std::make_unique<KerberosSealing>(context);
    return std::make_unique<NtlmSealing>(context);
}

GssSession::GssSession(std::string channelBinding) : channelBinding_(std::move(channelBinding)) {
    binding_.initiator_addrtype = GSS_C_AF_UNSPEC;
    binding_.acceptor_addrtype = GSS_C_AF_UNSPEC;
    binding_.application_data = bufferOf(channelBinding_);
}

GssSession::~GssSession() {
    sealing_.reset();
    OM_uint32 minor = 0;
    if (context_ != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &context_, GSS_C_NO_BUFFER);
}

gss_channel_bindings_t GssSession::bindings() {
    return channelBinding_.empty() ? GSS_C_NO_CHANNEL_BINDINGS : &binding_;
}

std::string GssSession::finish(const char* call, OM_uint32 major, OM_uint32 minor,
                               gss_buffer_desc& out, GssMech mech) {
    std::string token = out.length ? take(out) : std::string();
    OM_uint32 ignored = 0;
    if (out.value) gss_release_buffer(&ignored, &out);
    if (GSS_ERROR(major)) throwGssFailure(call, major, minor, mechUsed_);
    complete_ = !(major & GSS_S_CONTINUE_NEEDED);
    if (complete_ && !sealing_) sealing_ = makeSealing(context_, mech);
    return token;
}

MessageSealing& GssSession::sealing() {
    if (!sealing_) throw GssFailure{"the connection is not authenticated yet"};
    return *sealing_;
}

GssContext::GssContext(std::shared_ptr<GssCredential> credential, std::string channelBinding)
    : GssSession(std::move(channelBinding)), credential_(std::move(credential)) {}

std::unique_ptr<GssContext> GssContext::initiator(std::shared_ptr<GssCredential> credential,
                                                  const std::string& host,
                                                  std::string channelBinding) {
    std::unique_ptr<GssContext> c(new GssContext(std::move(credential), std::move(channelBinding)));
    std::string service = "HTTP@" + host;
    gss_buffer_desc buf = bufferOf(service);
    OM_uint32 minor = 0;
    OM_uint32 major = gss_import_name(&minor, &buf, GSS_C_NT_HOSTBASED_SERVICE, &c->target_);
    if (GSS_ERROR(major)) throwGssFailure("gss_import_name", major, minor);
    return c;
}

GssContext::~GssContext() {
    OM_uint32 minor = 0;
    if (target_ != GSS_C_NO_NAME) gss_release_name(&minor, &target_);
}

std::string GssContext::step(std::string_view peerToken) {
    OM_uint32 minor = 0;
    gss_buffer_desc in = bufferOf(peerToken);
    gss_buffer_desc out{};
    // Confidentiality is what the sealing of plain HTTP needs; without it
    // NTLM would not negotiate a sealing key at all.
    const OM_uint32 flags = GSS_C_MUTUAL_FLAG | GSS_C_CONF_FLAG | GSS_C_INTEG_FLAG |
                            GSS_C_REPLAY_FLAG | GSS_C_SEQUENCE_FLAG;
    const GssMech mech = credential_->mech();
    gss_OID oid = mech == GssMech::Kerberos ? const_cast<gss_OID>(gss_mech_krb5) : &kNtlmOid;
    const OM_uint32 major = gss_init_sec_context(
        &minor, credential_->handle(), &context_, target_, oid, flags, GSS_C_INDEFINITE, bindings(),
        peerToken.empty() ? GSS_C_NO_BUFFER : &in, &mechUsed_, &out, nullptr, nullptr);
    return finish("gss_init_sec_context", major, minor, out, mech);
}

}  // namespace tavo::winrm
