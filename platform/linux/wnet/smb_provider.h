#pragma once

#include <chrono>
#include <string>

#include "platform/linux/wnet/resource_tree.h"

namespace tavo::linuxwnet {

// SMB browsing through libsmbclient: workgroups, their servers, each
// server's shares. Browsing is anonymous; a server that wants credentials
// shows no shares.
class SmbProvider : public Provider {
  public:
    explicit SmbProvider(std::chrono::milliseconds callLimit = std::chrono::seconds(8))
        : callLimit_(callLimit) {}

    std::string name() const override { return "SMB Network"; }
    bool available() override;
    Listing children(const Resource& parent) override;

    // The smb:// address of a workgroup, a server or a share, each name
    // percent-encoded so blanks, '%' and '/' in names survive.
    static std::string url(const std::string& workgroup, const std::string& server = {});

  private:
    std::chrono::milliseconds callLimit_;
};

}  // namespace tavo::linuxwnet
