#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tavo::linuxwmi {

struct NetAddress {
    int family = 0;       // AF_INET or AF_INET6
    std::string address;  // "192.168.1.5", "fe80::1"
    std::string subnet;   // IPv4: the mask "255.255.255.0"; IPv6: the prefix length "64"
};

struct NetInterfaceInfo {
    std::string name;
    unsigned index = 0;
    unsigned flags = 0;  // IFF_UP, IFF_LOOPBACK...
    std::vector<NetAddress> addresses;
};

// The interfaces and their addresses (getifaddrs), behind an interface so
// tests can stand in a known set.
class NetProbe {
  public:
    virtual ~NetProbe() = default;
    virtual std::vector<NetInterfaceInfo> interfaces() = 0;
};

std::shared_ptr<NetProbe> makeGetifaddrsProbe();

}  // namespace tavo::linuxwmi
