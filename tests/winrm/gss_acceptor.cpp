#include "winrm/gss_acceptor.h"

#include <gssapi/gssapi_krb5.h>

#include <cstring>

namespace tavo::winrm::testing {

GssAcceptor::~GssAcceptor() {
    OM_uint32 minor = 0;
    if (peer_ != GSS_C_NO_NAME) gss_release_name(&minor, &peer_);
}

std::string GssAcceptor::step(std::string_view peerToken) {
    OM_uint32 minor = 0;
    gss_buffer_desc in{peerToken.size(), const_cast<char*>(peerToken.data())};
    gss_buffer_desc out{};
    const OM_uint32 major =
        gss_accept_sec_context(&minor, &context_, GSS_C_NO_CREDENTIAL, &in, bindings(), &peer_,
                               &mechUsed_, &out, nullptr, nullptr, nullptr);
    // The acceptor takes either mechanism and learns which from the client.
    const bool kerberos =
        !GSS_ERROR(major) && mechUsed_ && mechUsed_->length == gss_mech_krb5->length &&
        std::memcmp(mechUsed_->elements, gss_mech_krb5->elements, mechUsed_->length) == 0;
    return finish("gss_accept_sec_context", major, minor, out,
                  kerberos ? GssMech::Kerberos : GssMech::Ntlm);
}

std::string GssAcceptor::peerName() const {
    if (peer_ == GSS_C_NO_NAME) return {};
    OM_uint32 minor = 0;
    gss_buffer_desc text{};
    if (gss_display_name(&minor, peer_, &text, nullptr) != GSS_S_COMPLETE) return {};
    std::string out(static_cast<const char*>(text.value), text.length);
    gss_release_buffer(&minor, &text);
    return out;
}

}  // namespace tavo::winrm::testing
