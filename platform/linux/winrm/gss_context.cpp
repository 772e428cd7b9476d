#include "platform/linux/winrm/gss_context.h"
#include "platform/linux/wmi/schema.h"

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

[[noreturn]] void fail(const char* call, OM_uint32 major, OM_uint32 minor,
                       gss_OID mech = GSS_C_NO_OID) {
    std::string text = statusText(major, GSS_C_GSS_CODE, GSS_C_NO_OID);
    if (minor != 0) {
        std::string m = statusText(minor, GSS_C_MECH_CODE, mech);
        if (!m.empty()) text += " (" + m + ")";
    }
    throw GssFailure{std::string(call) + ": " + text};
}

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

bool sameOid(gss_OID a, const gss_OID_desc* b) {
    return a && a->length == b->length && std::memcmp(a->elements, b->elements, a->length) == 0;
}

}  // namespace

std::shared_ptr<GssCredential> GssCredential::fromPassword(const std::string& user,
                                                           const std::string& password) {
    OM_uint32 minor = 0;
    gss_name_t name = GSS_C_NO_NAME;
    gss_buffer_desc userBuf = bufferOf(user);
    OM_uint32 major = gss_import_name(&minor, &userBuf, GSS_C_NT_USER_NAME, &name);
    if (GSS_ERROR(major)) fail("gss_import_name", major, minor);
    gss_OID_set_desc mechs{1, &kNtlmOid};
    gss_buffer_desc pw = bufferOf(password);
    gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;
    major = gss_acquire_cred_with_password(&minor, name, &pw, GSS_C_INDEFINITE, &mechs,
                                           GSS_C_INITIATE, &cred, nullptr, nullptr);
    OM_uint32 ignored = 0;
    gss_release_name(&ignored, &name);
    if (GSS_ERROR(major)) fail("gss_acquire_cred_with_password", major, minor, &kNtlmOid);
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
    bool matches = user.empty() || linuxwmi::equalsIgnoreCase(name, user) ||
                   (user.find('@') == std::string::npos && user.find('\\') == std::string::npos &&
                    linuxwmi::equalsIgnoreCase(name.substr(0, name.find('@')), user));
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

std::unique_ptr<GssContext> GssContext::initiator(std::shared_ptr<GssCredential> credential,
                                                  const std::string& host,
                                                  std::string channelBinding) {
    std::unique_ptr<GssContext> c(new GssContext());
    c->channelBinding_ = std::move(channelBinding);
    c->credential_ = std::move(credential);
    c->kerberos_ = c->credential_->mech() == GssMech::Kerberos;
    std::string service = "HTTP@" + host;
    gss_buffer_desc buf = bufferOf(service);
    OM_uint32 minor = 0;
    OM_uint32 major = gss_import_name(&minor, &buf, GSS_C_NT_HOSTBASED_SERVICE, &c->target_);
    if (GSS_ERROR(major)) fail("gss_import_name", major, minor);
    return c;
}

std::unique_ptr<GssContext> GssContext::acceptor(std::string channelBinding) {
    std::unique_ptr<GssContext> c(new GssContext());
    c->acceptor_ = true;
    c->channelBinding_ = std::move(channelBinding);
    return c;
}

GssContext::~GssContext() {
    OM_uint32 minor = 0;
    if (context_ != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &context_, GSS_C_NO_BUFFER);
    if (target_ != GSS_C_NO_NAME) gss_release_name(&minor, &target_);
    if (peer_ != GSS_C_NO_NAME) gss_release_name(&minor, &peer_);
}

std::string GssContext::step(std::string_view peerToken) {
    OM_uint32 minor = 0;
    OM_uint32 major = 0;
    gss_buffer_desc in = bufferOf(peerToken);
    gss_buffer_desc out{};
    gss_channel_bindings_struct binding{};
    binding.initiator_addrtype = GSS_C_AF_UNSPEC;
    binding.acceptor_addrtype = GSS_C_AF_UNSPEC;
    binding.application_data = bufferOf(channelBinding_);
    gss_channel_bindings_t bindings =
        channelBinding_.empty() ? GSS_C_NO_CHANNEL_BINDINGS : &binding;
    if (acceptor_) {
        major = gss_accept_sec_context(&minor, &context_, GSS_C_NO_CREDENTIAL, &in, bindings,
                                       &peer_, &mechUsed_, &out, nullptr, nullptr, nullptr);
    } else {
        // Confidentiality is what the sealing of plain HTTP needs; without it
        // NTLM would not negotiate a sealing key at all.
        OM_uint32 flags = GSS_C_MUTUAL_FLAG | GSS_C_CONF_FLAG | GSS_C_INTEG_FLAG |
                          GSS_C_REPLAY_FLAG | GSS_C_SEQUENCE_FLAG;
        gss_OID mech = kerberos_ ? const_cast<gss_OID>(gss_mech_krb5) : &kNtlmOid;
        major = gss_init_sec_context(&minor, credential_->handle(), &context_, target_, mech, flags,
                                     GSS_C_INDEFINITE, bindings,
                                     peerToken.empty() ? GSS_C_NO_BUFFER : &in, &mechUsed_, &out,
                                     nullptr, nullptr);
    }
    std::string token = out.length ? take(out) : std::string();
    if (out.value) gss_release_buffer(&minor, &out);
    if (GSS_ERROR(major))
        fail(acceptor_ ? "gss_accept_sec_context" : "gss_init_sec_context", major, minor,
             mechUsed_);
    complete_ = !(major & GSS_S_CONTINUE_NEEDED);
    if (complete_ && acceptor_) kerberos_ = sameOid(mechUsed_, gss_mech_krb5);
    return token;
}

GssContext::Sealed GssContext::seal(std::string_view plain) {
    OM_uint32 minor = 0;
    int conf = 0;
    if (!kerberos_) {
        // NTLM's wrap token is its 16-byte signature followed by the sealed
        // bytes, which WinRM carries split in exactly that place.
        gss_buffer_desc in = bufferOf(plain);
        gss_buffer_desc out{};
        OM_uint32 major = gss_wrap(&minor, context_, 1, GSS_C_QOP_DEFAULT, &in, &conf, &out);
        if (GSS_ERROR(major)) fail("gss_wrap", major, minor, mechUsed_);
        std::string token = take(out);
        constexpr std::size_t kSignature = 16;
        if (!conf || token.size() < kSignature)
            throw GssFailure{"gss_wrap did not seal the message"};
        return Sealed{std::move(token), kSignature};
    }
    // Kerberos: the RFC 4121 header apart from the data, as gss_wrap_iov
    // gives them.
    std::string data(plain);
    gss_iov_buffer_desc iov[3]{};
    iov[0].type = GSS_IOV_BUFFER_TYPE_HEADER | GSS_IOV_BUFFER_FLAG_ALLOCATE;
    iov[1].type = GSS_IOV_BUFFER_TYPE_DATA;
    iov[1].buffer = bufferOf(data);
    iov[2].type = GSS_IOV_BUFFER_TYPE_PADDING | GSS_IOV_BUFFER_FLAG_ALLOCATE;
    OM_uint32 major = gss_wrap_iov(&minor, context_, 1, GSS_C_QOP_DEFAULT, &conf, iov, 3);
    if (GSS_ERROR(major)) fail("gss_wrap_iov", major, minor, mechUsed_);
    Sealed s;
    s.signatureLength = iov[0].buffer.length;
    s.token.reserve(iov[0].buffer.length + data.size() + iov[2].buffer.length);
    s.token.append(static_cast<const char*>(iov[0].buffer.value), iov[0].buffer.length);
    s.token.append(data);
    s.token.append(static_cast<const char*>(iov[2].buffer.value), iov[2].buffer.length);
    gss_release_iov_buffer(&minor, iov, 3);
    return s;
}

std::string GssContext::unseal(std::string_view signature, std::string_view data) {
    OM_uint32 minor = 0;
    int conf = 0;
    gss_qop_t qop = 0;
    if (!kerberos_) {
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
        gss_buffer_desc in = bufferOf(token);
        gss_buffer_desc out{};
        OM_uint32 major = gss_unwrap(&minor, context_, &in, &out, &conf, &qop);
        if (GSS_ERROR(major)) fail("gss_unwrap", major, minor, mechUsed_);
        std::string plain = take(out);
        if (!conf) throw GssFailure{"the message was signed but not sealed"};
        return plain;
    }
    std::string header(signature);
    std::string plain(data);
    gss_iov_buffer_desc iov[3]{};
    iov[0].type = GSS_IOV_BUFFER_TYPE_HEADER;
    iov[0].buffer = bufferOf(header);
    iov[1].type = GSS_IOV_BUFFER_TYPE_DATA;
    iov[1].buffer = bufferOf(plain);
    iov[2].type = GSS_IOV_BUFFER_TYPE_DATA;  // an empty trailer
    OM_uint32 major = gss_unwrap_iov(&minor, context_, &conf, &qop, iov, 3);
    if (GSS_ERROR(major)) fail("gss_unwrap_iov", major, minor, mechUsed_);
    // As for NTLM above: a reply that was only signed was readable by anyone.
    if (!conf) throw GssFailure{"the message was signed but not sealed"};
    plain.resize(iov[1].buffer.length);
    return plain;
}

std::string GssContext::peerName() const {
    return peer_ == GSS_C_NO_NAME ? std::string() : displayName(peer_);
}

}  // namespace tavo::winrm
