#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>
#include <tuple>

#include "platform/linux/wmi/service_classes.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace {

constexpr unsigned kRtfUp = 0x0001;
constexpr unsigned kRtfGateway = 0x0002;
constexpr unsigned kRtfReject = 0x0200;

// /proc/net/route prints addresses as the 32-bit value in the kernel's byte
// order, so the bytes in memory are the address in network order.
std::optional<std::uint32_t> parseHex(const std::string& s) {
    if (s.empty() || s.size() > 8) return std::nullopt;
    char* end = nullptr;
    const unsigned long v = std::strtoul(s.c_str(), &end, 16);
    if (*end != '\0') return std::nullopt;
    return static_cast<std::uint32_t>(v);
}

std::string dotted(std::uint32_t networkOrder) {
    in_addr a{};
    a.s_addr = networkOrder;
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

int prefixLength(std::uint32_t maskNetworkOrder) {
    return __builtin_popcount(maskNetworkOrder);
}

// (destination, prefix length, gateway, interface index, metric) names one route.
using RouteKey = std::tuple<std::uint32_t, int, std::uint32_t, int, std::uint32_t>;

// The IP-MIB's ipRouteProto value for the kernel's record of who added a route.
int mibProtocol(unsigned char rtprot) {
    switch (rtprot) {
        case RTPROT_REDIRECT:
            return 4;  // icmp
        case RTPROT_KERNEL:
            return 2;  // local
        case RTPROT_BOOT:
        case RTPROT_STATIC:
        case RTPROT_DHCP:
            return 3;  // netmgmt: configured on this machine
        case 186:
            return 14;  // bgp
        case 187:
            return 9;  // is-is
        case 188:
            return 13;  // ospf
        case 189:
            return 8;  // rip
        case 192:
            return 11;  // eigrp
        default:
            return 1;  // other
    }
}

// Who added each route of the main table, asked of the kernel over
// rtnetlink: /proc/net/route does not say. Empty when the kernel does not answer.
std::map<RouteKey, int> routeProtocols(std::chrono::milliseconds deadline) {
    std::map<RouteKey, int> out;
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return out;
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(deadline.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>(deadline.count() % 1000 * 1000);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

    struct {
        nlmsghdr nh;
        rtmsg rt;
    } req{};
    req.nh.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    req.nh.nlmsg_type = RTM_GETROUTE;
    req.nh.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.nh.nlmsg_seq = 1;
    req.rt.rtm_family = AF_INET;
    if (send(fd, &req, req.nh.nlmsg_len, 0) < 0) {
        close(fd);
        return out;
    }
    alignas(nlmsghdr) char buf[32768];
    for (bool done = false; !done;) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        int len = static_cast<int>(n);
        for (auto* nh = reinterpret_cast<nlmsghdr*>(buf); NLMSG_OK(nh, len);
             nh = NLMSG_NEXT(nh, len)) {
            if (nh->nlmsg_type == NLMSG_DONE || nh->nlmsg_type == NLMSG_ERROR) {
                done = true;
                break;
            }
            if (nh->nlmsg_type != RTM_NEWROUTE) continue;
            auto* rt = static_cast<rtmsg*>(NLMSG_DATA(nh));
            if (rt->rtm_family != AF_INET || rt->rtm_table != RT_TABLE_MAIN) continue;
            std::uint32_t dst = 0, gw = 0, metric = 0;
            int oif = 0;
            int alen = static_cast<int>(RTM_PAYLOAD(nh));
            for (auto* a = RTM_RTA(rt); RTA_OK(a, alen); a = RTA_NEXT(a, alen)) {
                const auto* data = static_cast<const unsigned char*>(RTA_DATA(a));
                auto u32 = [&] {
                    std::uint32_t v = 0;
                    std::memcpy(&v, data, sizeof v);
                    return v;
                };
                if (RTA_PAYLOAD(a) < 4) continue;
                if (a->rta_type == RTA_DST) dst = u32();
                if (a->rta_type == RTA_GATEWAY) gw = u32();
                if (a->rta_type == RTA_OIF) oif = static_cast<int>(u32());
                if (a->rta_type == RTA_PRIORITY) metric = u32();
            }
            out[RouteKey{dst, rt->rtm_dst_len, gw, oif, metric}] = mibProtocol(rt->rtm_protocol);
        }
    }
    close(fd);
    return out;
}

// The kernel's numbers for the protocols `ip` names.
std::optional<unsigned char> protocolNumber(std::string_view name) {
    static const std::pair<std::string_view, unsigned char> kNames[] = {
        {"redirect", RTPROT_REDIRECT},
        {"kernel", RTPROT_KERNEL},
        {"boot", RTPROT_BOOT},
        {"static", RTPROT_STATIC},
        {"ra", 9},
        {"dhcp", RTPROT_DHCP},
        {"zebra", 11},
        {"bird", 12},
        {"bgp", 186},
        {"isis", 187},
        {"ospf", 188},
        {"rip", 189},
        {"eigrp", 192}};
    for (const auto& [n, v] : kNames) {
        if (n == name) return v;
    }
    if (auto v = text::wholeNumber<unsigned>(name); v && *v < 256)
        return static_cast<unsigned char>(*v);
    return std::nullopt;
}

// The same map from `ip -4 route show table main`: "default via 192.0.2.1
// dev eth0 proto dhcp metric 100". ip leaves out "proto boot".
std::map<RouteKey, int> routeProtocolsFromListing(const SystemContext& ctx, std::string_view text) {
    static const std::set<std::string_view> kTypes{
        "unicast", "unreachable", "prohibit",  "blackhole", "throw",
        "local",   "broadcast",   "multicast", "anycast",   "nat"};
    std::map<RouteKey, int> out;
    std::istringstream in{std::string(text)};
    for (std::string line; std::getline(in, line);) {
        std::istringstream ws(line);
        std::vector<std::string> w;
        for (std::string x; ws >> x;) w.push_back(x);
        std::size_t i = 0;
        if (i < w.size() && kTypes.count(w[i])) ++i;
        if (i >= w.size()) continue;
        std::uint32_t dst = 0;
        int len = 0;
        if (w[i] != "default") {
            const auto slash = w[i].find('/');
            in_addr a{};
            if (inet_pton(AF_INET, w[i].substr(0, slash).c_str(), &a) != 1) continue;
            dst = a.s_addr;
            len = slash == std::string::npos ? 32 : std::atoi(w[i].c_str() + slash + 1);
        }
        std::uint32_t gw = 0, metric = 0;
        std::optional<int> oif;
        unsigned char proto = RTPROT_BOOT;
        for (++i; i + 1 < w.size(); ++i) {
            if (w[i] == "via") {
                in_addr a{};
                if (inet_pton(AF_INET, w[i + 1].c_str(), &a) == 1) gw = a.s_addr;
            } else if (w[i] == "dev") {
                if (auto v = ctx.readLine("/sys/class/net/" + w[i + 1] + "/ifindex"))
                    oif = std::atoi(v->c_str());
            } else if (w[i] == "proto") {
                if (auto p = protocolNumber(w[i + 1])) proto = *p;
            } else if (w[i] == "metric") {
                metric = static_cast<std::uint32_t>(std::strtoul(w[i + 1].c_str(), nullptr, 10));
            } else {
                continue;
            }
            ++i;
        }
        if (oif) out[RouteKey{dst, len, gw, *oif, metric}] = mibProtocol(proto);
    }
    return out;
}

}  // namespace

std::vector<Instance> produceIp4Routes(const SystemContext& ctx) {
    std::vector<Instance> out;
    auto table = ctx.readFile("/proc/net/route");
    if (!table) return out;

    // The kernel's route table is not a file under the root; only this
    // machine's own routes can be asked who added them.
    std::map<RouteKey, int> protocols;
    const auto view = ctx.system();
    if (view->isRunningMachine()) {
        protocols = routeProtocols(ctx.deadline);
    } else if (auto listing = view->routeListing()) {
        protocols = routeProtocolsFromListing(ctx, *listing);
    }

    std::istringstream in(*table);
    std::string line;
    std::getline(in, line);
    // Columns by their heading, as the kernel names them.
    std::map<std::string, std::size_t> col;
    {
        std::istringstream head(line);
        std::string word;
        for (std::size_t i = 0; head >> word; ++i) col[word] = i;
    }
    for (const char* need : {"Iface", "Destination", "Gateway", "Flags", "Metric", "Mask"}) {
        if (!col.count(need)) return out;
    }
    std::map<std::string, std::optional<int>> ifindexOf;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream ls(line);
        for (std::string w; ls >> w;) f.push_back(w);
        if (f.size() < col.size()) continue;
        const std::string& iface = f[col["Iface"]];
        auto dest = parseHex(f[col["Destination"]]);
        auto gw = parseHex(f[col["Gateway"]]);
        auto flags = parseHex(f[col["Flags"]]);
        auto mask = parseHex(f[col["Mask"]]);
        char* end = nullptr;
        const long metric = std::strtol(f[col["Metric"]].c_str(), &end, 10);
        if (!dest || !gw || !flags || !mask || *end != '\0') continue;

        if (!ifindexOf.count(iface)) {
            std::optional<int> idx;
            if (iface.find('/') == std::string::npos) {
                if (auto v = ctx.readLine("/sys/class/net/" + iface + "/ifindex")) {
                    char* e = nullptr;
                    const long n = std::strtol(v->c_str(), &e, 10);
                    if (e != v->c_str() && *e == '\0' && n > 0) idx = static_cast<int>(n);
                }
            }
            ifindexOf[iface] = idx;
        }
        const std::optional<int> ifindex = ifindexOf[iface];

        Instance r("Win32_IP4RouteTable");
        const std::string destination = dotted(*dest);
        const std::string maskText = dotted(*mask);
        const std::string nextHop = dotted(*gw);
        r.set("Destination", destination);
        r.set("Mask", maskText);
        r.set("NextHop", nextHop);
        r.set("Name", destination);
        r.set("Caption", destination);
        r.set("Description", destination + " - " + maskText + " - " + nextHop);
        if (ifindex) r.setInt("InterfaceIndex", *ifindex);
        r.setInt("Metric1", metric);
        // Linux keeps one metric per route; -1 marks the others unused.
        for (const char* m : {"Metric2", "Metric3", "Metric4", "Metric5"}) r.setInt(m, -1);
        // ipRouteType: 2 invalid (a route that refuses traffic), 3 direct, 4 indirect.
        const int type = (*flags & kRtfReject) ? 2 : (*flags & kRtfGateway) ? 4 : 3;
        r.setInt("Type", type);
        // No MIB object describes the route further: the null object identifier.
        r.set("Information", "0.0");
        if (ifindex && (*flags & kRtfUp)) {
            const RouteKey key{*dest, prefixLength(*mask), *gw, *ifindex,
                               static_cast<std::uint32_t>(metric)};
            if (auto it = protocols.find(key); it != protocols.end()) {
                r.setInt("Protocol", it->second);
            }
        }
        out.push_back(std::move(r));
    }
    return out;
}

}  // namespace tavo::linuxwmi
