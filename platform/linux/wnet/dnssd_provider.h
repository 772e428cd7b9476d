#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/wnet/resource_tree.h"

namespace tavo::linuxwnet {

// Computers that announce themselves by DNS-SD, through the system's
// avahi-daemon: the domain "local", then every host that advertises one of
// the computer service types. Absent when the daemon cannot be reached.
class DnsSdProvider : public Provider {
  public:
    struct Timing {
        std::chrono::milliseconds probe{std::chrono::seconds(3)};
        // How long browsing may wait for the daemon to say it has told all.
        std::chrono::milliseconds browse{std::chrono::seconds(5)};
    };

    DnsSdProvider() = default;
    explicit DnsSdProvider(Timing timing) : timing_(timing) {}

    std::string name() const override { return "DNS-SD Network"; }
    bool available() override;
    Listing children(const Resource& parent) override;

    // The service types whose advertisers count as computers.
    static const std::vector<std::string>& computerServiceTypes();
    // "host.local" (or "host.local.") without the domain, as shown in lists.
    static std::string shortHostName(const std::string& hostName, const std::string& domain);

    // A name as Avahi hands it over, with its escapes undone: "\DDD" is the
    // byte of that decimal value and "\c" the character c ("x\038y" is
    // "x&y"). Bytes that do not form UTF-8 are replaced.
    static std::string unescapeName(std::string_view name);

  private:
    Timing timing_;
};

}  // namespace tavo::linuxwnet
