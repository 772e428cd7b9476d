#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "platform/linux/wmi/core_classes.h"
#include "platform/linux/wmi/net_probe.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace {

constexpr unsigned kArphrdLoopback = 772;

std::vector<std::string_view> lines(std::string_view t) {
    std::vector<std::string_view> out;
    while (!t.empty()) {
        const auto nl = t.find('\n');
        out.push_back(t.substr(0, nl));
        t.remove_prefix(nl == std::string_view::npos ? t.size() : nl + 1);
    }
    return out;
}

std::vector<std::string> words(std::string_view s) {
    std::vector<std::string> out;
    std::istringstream in{std::string(s)};
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// KEY=VALUE files of systemd's runtime state.
std::map<std::string, std::string> keyValues(const std::optional<std::string>& text) {
    std::map<std::string, std::string> out;
    if (!text) return out;
    for (auto line : lines(*text)) {
        if (line.empty() || line.front() == '#') continue;
        const auto eq = line.find('=');
        if (eq != std::string_view::npos) out.emplace(line.substr(0, eq), line.substr(eq + 1));
    }
    return out;
}

struct Gateway {
    std::string address;
    unsigned metric;
};

// Default routes (destination 0/0 through a gateway) per interface, IPv4 first.
std::map<std::string, std::vector<Gateway>> defaultGateways(const SystemContext& ctx) {
    std::map<std::string, std::vector<Gateway>> out;
    if (auto text = ctx.readFile("/proc/net/route")) {
        for (auto line : lines(*text)) {
            const auto f = words(line);
            // Iface Destination Gateway Flags RefCnt Use Metric Mask ...
            if (f.size() < 8 || f[1] != "00000000" || f[7] != "00000000") continue;
            const unsigned long flags = std::strtoul(f[3].c_str(), nullptr, 16);
            if (!(flags & 0x1) || !(flags & 0x2)) continue;  // RTF_UP, RTF_GATEWAY
            in_addr a{};
            // The kernel prints the address as the host's integer.
            a.s_addr = static_cast<in_addr_t>(std::strtoul(f[2].c_str(), nullptr, 16));
            char buf[INET_ADDRSTRLEN];
            if (!::inet_ntop(AF_INET, &a, buf, sizeof buf)) continue;
            out[f[0]].push_back(
                {buf, static_cast<unsigned>(std::strtoul(f[6].c_str(), nullptr, 10))});
        }
    }
    if (auto text = ctx.readFile("/proc/net/ipv6_route")) {
        for (auto line : lines(*text)) {
            const auto f = words(line);
            // dest plen src splen nexthop metric refcnt use flags device
            if (f.size() < 10 || f[1] != "00" || f[0] != std::string(32, '0') ||
                f[4] == std::string(32, '0')) {
                continue;
            }
            const unsigned long flags = std::strtoul(f[8].c_str(), nullptr, 16);
            if (!(flags & 0x1) || (flags & 0x200)) continue;  // RTF_UP; not RTF_REJECT
            in6_addr a{};
            for (int i = 0; i < 16; ++i) {
                a.s6_addr[i] = static_cast<unsigned char>(std::strtoul(
                    f[4].substr(static_cast<std::size_t>(i) * 2, 2).c_str(), nullptr, 16));
            }
            char buf[INET6_ADDRSTRLEN];
            if (!::inet_ntop(AF_INET6, &a, buf, sizeof buf)) continue;
            out[f[9]].push_back(
                {buf, static_cast<unsigned>(std::strtoul(f[5].c_str(), nullptr, 16))});
        }
    }
    return out;
}

bool isStubResolver(const std::string& server) {
    return server.rfind("127.0.0.53", 0) == 0;
}

wmi::Value textArray(const std::vector<std::string>& items) {
    wmi::Value::Array a;
    for (const auto& s : items) a.emplace_back(s);
    return wmi::Value(std::move(a));
}

// Whether the interface's addresses come from DHCP, as the network manager
// in charge records it; nothing when no manager says.
std::optional<bool> dhcpEnabled(const SystemContext& ctx, const std::string& name, unsigned index) {
    const std::string idx = std::to_string(index);
    // systemd-networkd keeps a lease file per link while DHCP runs.
    if (ctx.exists("/run/systemd/netif/leases/" + idx)) return true;
    const auto link = keyValues(ctx.readFile("/run/systemd/netif/links/" + idx));
    if (auto it = link.find("NETWORK_FILE"); it != link.end() && !it->second.empty()) {
        if (auto net = ctx.readFile(it->second)) {
            for (auto line : lines(*net)) {
                if (line.rfind("DHCP=", 0) == 0)
                    return line.substr(5) != "no" && line.substr(5) != "false";
            }
            return false;
        }
    }
    // NetworkManager's per-device state holds its DHCP options while it leases.
    if (auto nm = ctx.readFile("/run/NetworkManager/devices/" + idx)) {
        return nm->find("[dhcp4]") != std::string::npos || nm->find("[dhcp6]") != std::string::npos;
    }
    // ifupdown: "iface eth0 inet dhcp".
    if (auto ifs = ctx.readFile("/etc/network/interfaces")) {
        for (auto line : lines(*ifs)) {
            const auto f = words(line);
            if (f.size() >= 4 && f[0] == "iface" && f[1] == name && f[2] == "inet")
                return f[3] == "dhcp";
        }
    }
    return std::nullopt;
}

}  // namespace

ResolverConfig parseResolvConf(std::string_view text) {
    ResolverConfig c;
    for (auto line : lines(text)) {
        const auto f = words(line);
        if (f.empty() || f[0][0] == '#' || f[0][0] == ';') continue;
        if (f[0] == "nameserver" && f.size() >= 2) {
            c.servers.push_back(f[1]);
        } else if (f[0] == "domain" && f.size() >= 2) {
            c.domain = f[1];
        } else if (f[0] == "search") {
            // The last search line wins, as in the resolver.
            c.search.assign(f.begin() + 1, f.end());
        }
    }
    return c;
}

std::vector<Instance> produceNetworkAdapterConfigurations(const SystemContext& ctx) {
    std::vector<Instance> out;
    std::vector<NetInterfaceInfo> probed;
    if (ctx.net) probed = ctx.net->interfaces();

    // Every interface the kernel knows, with or without an address.
    std::vector<NetInterfaceInfo> all;
    std::set<std::string> names;
    for (std::string& n : ctx.names("/sys/class/net")) names.insert(std::move(n));
    for (const auto& p : probed) names.insert(p.name);
    for (const auto& name : names) {
        NetInterfaceInfo info{name, 0, 0, {}};
        bool fromProbe = false;
        for (const auto& p : probed) {
            if (p.name == name) {
                info = p;
                fromProbe = true;
            }
        }
        const std::string sys = "/sys/class/net/" + name + "/";
        if (info.index == 0) {
            if (auto l = ctx.readLine(sys + "ifindex"))
                info.index = static_cast<unsigned>(std::strtoul(l->c_str(), nullptr, 10));
        }
        if (!fromProbe) {
            if (auto l = ctx.readLine(sys + "flags"))
                info.flags = static_cast<unsigned>(std::strtoul(l->c_str(), nullptr, 16));
        }
        const auto type = ctx.readLine(sys + "type");
        if ((info.flags & IFF_LOOPBACK) ||
            (type && std::strtoul(type->c_str(), nullptr, 10) == kArphrdLoopback))
            continue;
        all.push_back(std::move(info));
    }
    std::sort(all.begin(), all.end(),
              [](const auto& a, const auto& b) { return a.index < b.index; });

    const auto gateways = defaultGateways(ctx);
    ResolverConfig global;
    if (auto text = ctx.readFile("/etc/resolv.conf")) global = parseResolvConf(*text);
    // Behind systemd-resolved's stub the real servers are in its own copy.
    if (std::any_of(global.servers.begin(), global.servers.end(), isStubResolver)) {
        if (auto text = ctx.readFile("/run/systemd/resolve/resolv.conf")) {
            ResolverConfig upstream = parseResolvConf(*text);
            global.servers = upstream.servers;
            if (global.domain.empty()) global.domain = upstream.domain;
        } else {
            global.servers.clear();
        }
    }
    std::string hostName = ctx.readLine("/proc/sys/kernel/hostname").value_or("");
    hostName = hostName.substr(0, hostName.find('.'));

    for (const auto& nic : all) {
        const std::string sys = "/sys/class/net/" + nic.name + "/";
        Instance a("Win32_NetworkAdapterConfiguration");
        a.setInt("Index", nic.index);
        a.setInt("InterfaceIndex", nic.index);
        a.set("SettingID", nic.name);

        std::string description = nic.name;
        const auto udev = keyValues(ctx.readFile("/run/udev/data/n" + std::to_string(nic.index)));
        if (auto it = udev.find("E:ID_MODEL_FROM_DATABASE");
            it != udev.end() && !it->second.empty()) {
            description = it->second;
        }
        a.set("Description", description);
        char caption[32];
        std::snprintf(caption, sizeof caption, "[%08u] ", nic.index);
        a.set("Caption", caption + description);

        if (auto mac = ctx.readLine(sys + "address");
            mac && !mac->empty() && *mac != "00:00:00:00:00:00") {
            a.set("MACAddress", text::toUpper(*mac));
        }
        if (auto mtu = ctx.readLine(sys + "mtu")) {
            char* end = nullptr;
            const unsigned long v = std::strtoul(mtu->c_str(), &end, 10);
            if (end != mtu->c_str()) a.setInt("MTU", static_cast<std::int64_t>(v));
        }
        if (const auto driver = ctx.readLink(sys + "device/driver"))
            a.set("ServiceName", std::filesystem::path(*driver).filename().string());

        std::vector<std::string> ips, subnets;
        for (int family : {AF_INET, AF_INET6}) {
            for (const auto& addr : nic.addresses) {
                if (addr.family != family || addr.address.empty()) continue;
                ips.push_back(addr.address);
                subnets.push_back(addr.subnet);
            }
        }
        const bool enabled = (nic.flags & IFF_UP) && !ips.empty();
        a.set("IPEnabled", enabled);
        // Addresses that no DHCP client leased were set by hand (or by a
        // tool that is not DHCP): WMI calls that static, not unknown.
        if (auto dhcp = dhcpEnabled(ctx, nic.name, nic.index)) {
            a.set("DHCPEnabled", *dhcp);
        } else if (!ips.empty()) {
            a.set("DHCPEnabled", false);
        }
        if (!enabled) {
            out.push_back(std::move(a));
            continue;
        }
        a.set("IPAddress", textArray(ips));
        a.set("IPSubnet", textArray(subnets));
        if (auto it = gateways.find(nic.name); it != gateways.end()) {
            std::vector<std::string> gw;
            wmi::Value::Array metrics;
            for (const auto& g : it->second) {
                gw.push_back(g.address);
                metrics.emplace_back(static_cast<std::int64_t>(std::min(g.metric, 0xffffu)));
            }
            a.set("DefaultIPGateway", textArray(gw));
            a.set("GatewayCostMetric", wmi::Value(std::move(metrics)));
        }

        // The link's own servers where systemd-resolved or -networkd keep
        // them, else the system resolver's.
        std::vector<std::string> servers = global.servers;
        // Without a "domain" line the resolver takes the first search
        // domain as the local one (systemd-resolved writes only "search").
        const std::string globalDomain =
            global.domain.empty() && !global.search.empty() ? global.search.front() : global.domain;
        std::string domain = globalDomain;
        std::vector<std::string> search = global.search;
        const std::string idx = std::to_string(nic.index);
        for (const char* file : {"/run/systemd/resolve/netif/", "/run/systemd/netif/links/"}) {
            const auto link = keyValues(ctx.readFile(file + idx));
            auto s = link.find("SERVERS");
            if (s == link.end()) s = link.find("DNS");
            if (s == link.end() || words(s->second).empty()) continue;
            servers = words(s->second);
            search.clear();
            if (auto d = link.find("DOMAINS"); d != link.end()) {
                // "~example" domains only route queries; they are not searched.
                for (auto& w : words(d->second)) {
                    if (w.front() != '~') search.push_back(w);
                }
            }
            // A link without domains of its own still resolves in the system's.
            domain = search.empty() ? globalDomain : search.front();
            break;
        }
        if (!servers.empty()) a.set("DNSServerSearchOrder", textArray(servers));
        if (!domain.empty()) a.set("DNSDomain", domain);
        if (!search.empty()) a.set("DNSDomainSuffixSearchOrder", textArray(search));
        if (!hostName.empty()) a.set("DNSHostName", hostName);
        out.push_back(std::move(a));
    }
    return out;
}

}  // namespace tavo::linuxwmi
