#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/linux/winrm/gss_context.h"

// The server side of GSSAPI, for the test server only: Tavo never accepts a
// security context.
namespace tavo::winrm::testing {

class GssAcceptor final : public GssSession {
  public:
    // With the default acceptor credential (for NTLM, the users of
    // NTLM_USER_FILE); with a channel binding, a client must present the
    // same one.
    explicit GssAcceptor(std::string channelBinding = {}) : GssSession(std::move(channelBinding)) {}
    ~GssAcceptor() override;

    std::string step(std::string_view peerToken) override;
    // The authenticated peer as the mechanism names it.
    std::string peerName() const;

  private:
    gss_name_t peer_ = GSS_C_NO_NAME;
};

}  // namespace tavo::winrm::testing
