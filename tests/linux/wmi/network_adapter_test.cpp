#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <map>

#include "linux/wmi/cim_type_check.h"
#include "platform/linux/wmi/core_classes.h"
#include "platform/linux/wmi/net_probe.h"

namespace tavo::linuxwmi {
namespace {

class FakeNet : public NetProbe {
  public:
    std::vector<NetInterfaceInfo> list;
    std::vector<NetInterfaceInfo> interfaces() override { return list; }
};

wmi::Value texts(std::vector<std::string> v) {
    wmi::Value::Array a;
    for (auto& s : v) a.emplace_back(s);
    return wmi::Value(std::move(a));
}

TEST(NetworkAdapterConfiguration, BuildsEachAdapterFromItsSources) {
    auto net = std::make_shared<FakeNet>();
    net->list = {{"lo", 1, IFF_UP | IFF_LOOPBACK, {{AF_INET, "127.0.0.1", "255.0.0.0"}}},
                 {"eth0",
                  2,
                  IFF_UP | IFF_RUNNING,
                  {{AF_INET6, "fe80::a00:27ff:feab:cdef", "64"},
                   {AF_INET, "192.168.2.10", "255.255.255.0"}}},
                 {"docker0", 3, 0, {{AF_INET, "172.17.0.1", "255.255.0.0"}}}};
    SystemContext ctx;
    ctx.root = std::string(TAVO_TEST_DATA) + "/provider-core/network";
    ctx.net = net;
    const auto nics = produceNetworkAdapterConfigurations(ctx);
    ASSERT_EQ(nics.size(), 2u);  // no loopback

    const Instance& e = nics[0];
    EXPECT_EQ(*e.find("SettingID"), wmi::Value("eth0"));
    EXPECT_EQ(*e.find("Index"), wmi::Value(2));
    EXPECT_EQ(*e.find("InterfaceIndex"), wmi::Value(2));
    EXPECT_EQ(*e.find("Description"), wmi::Value("82540EM Gigabit Ethernet Controller"));
    EXPECT_EQ(*e.find("Caption"), wmi::Value("[00000002] 82540EM Gigabit Ethernet Controller"));
    EXPECT_EQ(*e.find("MACAddress"), wmi::Value("08:00:27:AB:CD:EF"));
    EXPECT_EQ(*e.find("MTU"), wmi::Value(1500));
    EXPECT_EQ(*e.find("ServiceName"), wmi::Value("e1000"));
    EXPECT_EQ(*e.find("IPEnabled"), wmi::Value(true));
    EXPECT_EQ(*e.find("DHCPEnabled"), wmi::Value(true));
    // IPv4 first, then IPv6, whatever order the system lists them in.
    EXPECT_EQ(*e.find("IPAddress"), texts({"192.168.2.10", "fe80::a00:27ff:feab:cdef"}));
    EXPECT_EQ(*e.find("IPSubnet"), texts({"255.255.255.0", "64"}));
    EXPECT_EQ(*e.find("DefaultIPGateway"), texts({"192.168.2.1", "fe80::1"}));
    EXPECT_EQ(*e.find("GatewayCostMetric"),
              wmi::Value(wmi::Value::Array{wmi::Value(100), wmi::Value(1024)}));
    // systemd-resolved's own servers for the link; routing-only "~corp" is not searched.
    EXPECT_EQ(*e.find("DNSServerSearchOrder"), texts({"192.168.2.1", "9.9.9.9"}));
    EXPECT_EQ(*e.find("DNSDomainSuffixSearchOrder"), texts({"lan.example.org"}));
    EXPECT_EQ(*e.find("DNSDomain"), wmi::Value("lan.example.org"));
    EXPECT_EQ(*e.find("DNSHostName"), wmi::Value("fixturebox"));

    // Down: not IP-enabled, so no addresses or resolver settings shown.
    const Instance& d = nics[1];
    EXPECT_EQ(*d.find("SettingID"), wmi::Value("docker0"));
    EXPECT_EQ(*d.find("Description"), wmi::Value("docker0"));
    EXPECT_EQ(*d.find("IPEnabled"), wmi::Value(false));
    EXPECT_TRUE(d.find("IPAddress")->isNull());
    EXPECT_TRUE(d.find("DNSServerSearchOrder")->isNull());
    EXPECT_TRUE(d.find("ServiceName")->isNull());
    // Its address was not leased by any DHCP client: static, as WMI says it.
    EXPECT_EQ(*d.find("DHCPEnabled"), wmi::Value(false));
}

TEST(NetworkAdapterConfiguration, FallsBackToTheResolversUpstreamServers) {
    auto net = std::make_shared<FakeNet>();
    net->list = {{"docker0", 3, IFF_UP, {{AF_INET, "172.17.0.1", "255.255.0.0"}}}};
    SystemContext ctx;
    ctx.root = std::string(TAVO_TEST_DATA) + "/provider-core/network";
    ctx.net = net;
    const auto nics = produceNetworkAdapterConfigurations(ctx);
    ASSERT_EQ(nics.size(), 2u);
    const Instance& d = nics[1];
    // Not the 127.0.0.53 stub: the servers behind it.
    EXPECT_EQ(*d.find("DNSServerSearchOrder"), texts({"192.168.2.1", "2001:db8::53"}));
    EXPECT_EQ(*d.find("DNSDomainSuffixSearchOrder"), texts({"example.org"}));
    // resolv.conf has no "domain" line: the first search domain is the local one.
    EXPECT_EQ(*d.find("DNSDomain"), wmi::Value("example.org"));
    EXPECT_EQ(*d.find("DHCPEnabled"), wmi::Value(false));
    EXPECT_TRUE(d.find("DefaultIPGateway")->isNull());
    // eth0 is known to /sys but has no address now.
    EXPECT_EQ(*nics[0].find("IPEnabled"), wmi::Value(false));
}

TEST(NetworkAdapterConfiguration, ThisMachineAgreesWithGetifaddrs) {
    testing::expectMachineCimTypes("Win32_NetworkAdapterConfiguration");
    std::map<std::string, std::vector<std::string>> v4;
    ifaddrs* list = nullptr;
    ASSERT_EQ(getifaddrs(&list), 0);
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || (a->ifa_flags & IFF_LOOPBACK))
            continue;
        char buf[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, buf, sizeof buf);
        if (a->ifa_flags & IFF_UP) v4[a->ifa_name].push_back(buf);
    }
    freeifaddrs(list);
    auto rs = makeProvider()->connect(".")->execQuery(
        "Select * from Win32_NetworkAdapterConfiguration Where IPEnabled = True");
    std::map<std::string, std::vector<std::string>> seen;
    while (auto o = rs->next()) {
        const wmi::Value ips = o->get("IPAddress");
        for (const auto& ip : ips.array()) {
            if (ip.text().find(':') == std::string::npos)
                seen[o->get("SettingID").text()].push_back(ip.text());
        }
    }
    EXPECT_EQ(seen, v4);
}

}  // namespace
}  // namespace tavo::linuxwmi
