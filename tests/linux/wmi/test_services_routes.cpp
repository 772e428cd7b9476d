#include <gtest/gtest.h>

#include <filesystem>

#include "inventory_test_support.h"
#include "platform/linux/wmi/service_classes.h"

namespace tavo::linuxwmi {
namespace {

namespace fs = std::filesystem;

wmi::Value v(const Instance& i, std::string_view p) {
    return *i.find(p);
}

TEST(Ip4Routes, KernelTableInItsOrder) {
    SystemContext ctx;
    ctx.root = fs::path(TAVO_TEST_DATA) / "services" / "routes";
    auto routes = produceIp4Routes(ctx);
    ASSERT_EQ(routes.size(), 4u);

    const Instance& def = routes[0];
    EXPECT_EQ(v(def, "Destination"), wmi::Value("0.0.0.0"));
    EXPECT_EQ(v(def, "Mask"), wmi::Value("0.0.0.0"));
    EXPECT_EQ(v(def, "NextHop"), wmi::Value("192.168.1.1"));
    EXPECT_EQ(v(def, "Type"), wmi::Value(4));  // through a gateway
    EXPECT_EQ(v(def, "InterfaceIndex"), wmi::Value(2));
    EXPECT_EQ(v(def, "Metric1"), wmi::Value(100));
    EXPECT_EQ(v(def, "Metric2"), wmi::Value(-1));
    EXPECT_EQ(v(def, "Name"), wmi::Value("0.0.0.0"));
    EXPECT_EQ(v(def, "Description"), wmi::Value("0.0.0.0 - 0.0.0.0 - 192.168.1.1"));
    EXPECT_EQ(v(def, "Information"), wmi::Value("0.0"));
    // Neither the age nor who added the route is in a file under the root.
    EXPECT_TRUE(def.find("Age")->isNull());
    EXPECT_TRUE(def.find("Protocol")->isNull());

    const Instance& lan = routes[1];
    EXPECT_EQ(v(lan, "Destination"), wmi::Value("192.168.1.0"));
    EXPECT_EQ(v(lan, "Mask"), wmi::Value("255.255.255.0"));
    EXPECT_EQ(v(lan, "NextHop"), wmi::Value("0.0.0.0"));
    EXPECT_EQ(v(lan, "Type"), wmi::Value(3));  // on the link

    const Instance& host = routes[2];
    EXPECT_EQ(v(host, "Destination"), wmi::Value("192.168.10.10"));
    EXPECT_EQ(v(host, "Mask"), wmi::Value("255.255.255.255"));
    EXPECT_EQ(v(host, "InterfaceIndex"), wmi::Value(3));
    EXPECT_EQ(v(host, "Metric1"), wmi::Value(600));

    EXPECT_EQ(v(routes[3], "Destination"), wmi::Value("10.0.0.0"));
    EXPECT_EQ(v(routes[3], "Type"), wmi::Value(2));  // refuses traffic
}

TEST(Ip4Routes, AbsentOrDamagedTable) {
    SystemContext ctx;
    ctx.root = fs::path(TAVO_TEST_DATA) / "services" / "nothing-here";
    EXPECT_TRUE(produceIp4Routes(ctx).empty());

    inventory_test::TempTree tmp;  // its own folder: other runs of this binary go on at once
    const fs::path& root = tmp.root();
    fs::create_directories(root / "proc/net");
    {
        std::FILE* f = std::fopen((root / "proc/net/route").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(
            "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n"
            "eth0\tZZZZ\t00000000\t0001\t0\t0\t0\t00FFFFFF\n"       // not hex
            "eth0\t0001A8C0\t00000000\n"                            // cut short
            "../x\t0002A8C0\t00000000\t0001\t0\t0\t5\t00FFFFFF\n",  // odd interface name
            f);
        std::fclose(f);
    }
    ctx.root = root;
    auto routes = produceIp4Routes(ctx);
    ASSERT_EQ(routes.size(), 1u);
    EXPECT_EQ(v(routes[0], "Destination"), wmi::Value("192.168.2.0"));
    EXPECT_TRUE(routes[0].find("InterfaceIndex")->isNull());
}

}  // namespace
}  // namespace tavo::linuxwmi
