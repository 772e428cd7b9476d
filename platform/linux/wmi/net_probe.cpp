#include "platform/linux/wmi/net_probe.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <bit>

namespace tavo::linuxwmi {

namespace {

int prefixLength(const in6_addr& mask) {
    int n = 0;
    for (unsigned char b : mask.s6_addr) n += std::popcount(static_cast<unsigned>(b));
    return n;
}

class GetifaddrsProbe : public NetProbe {
  public:
    std::vector<NetInterfaceInfo> interfaces() override {
        std::vector<NetInterfaceInfo> out;
        ifaddrs* list = nullptr;
        if (::getifaddrs(&list) != 0) return out;
        for (ifaddrs* a = list; a; a = a->ifa_next) {
            if (!a->ifa_name) continue;
            NetInterfaceInfo* info = nullptr;
            for (auto& i : out) {
                if (i.name == a->ifa_name) info = &i;
            }
            if (!info) {
                out.push_back({a->ifa_name, ::if_nametoindex(a->ifa_name), a->ifa_flags, {}});
                info = &out.back();
            }
            if (!a->ifa_addr) continue;
            char text[INET6_ADDRSTRLEN] = {};
            if (a->ifa_addr->sa_family == AF_INET) {
                const auto* sin = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
                NetAddress addr{AF_INET,
                                ::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) ? text : "",
                                ""};
                if (a->ifa_netmask) {
                    const auto* m = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask);
                    if (::inet_ntop(AF_INET, &m->sin_addr, text, sizeof text)) addr.subnet = text;
                }
                info->addresses.push_back(std::move(addr));
            } else if (a->ifa_addr->sa_family == AF_INET6) {
                const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(a->ifa_addr);
                NetAddress addr{
                    AF_INET6,
                    ::inet_ntop(AF_INET6, &sin6->sin6_addr, text, sizeof text) ? text : "", ""};
                if (a->ifa_netmask) {
                    addr.subnet = std::to_string(prefixLength(
                        reinterpret_cast<const sockaddr_in6*>(a->ifa_netmask)->sin6_addr));
                }
                info->addresses.push_back(std::move(addr));
            }
        }
        ::freeifaddrs(list);
        return out;
    }
};

}  // namespace

std::shared_ptr<NetProbe> makeGetifaddrsProbe() {
    return std::make_shared<GetifaddrsProbe>();
}

}  // namespace tavo::linuxwmi
