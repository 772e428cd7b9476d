#include <gtest/gtest.h>

#include "inventory_test_support.h"
#include "platform/linux/wmi/registry.h"

// Each inventory class walked over this computer: whatever it holds, every
// value must have its property's CIM type and no producer may throw.
namespace tavo::linuxwmi {
namespace {

class InventoryMachineWalk : public ::testing::TestWithParam<const char*> {};

TEST_P(InventoryMachineWalk, EveryValueHasItsCimType) {
    const Producer* producer = Registry::instance().find(GetParam());
    ASSERT_NE(producer, nullptr) << GetParam() << " is not registered";
    SystemContext ctx;  // this machine, from "/"
    std::vector<Instance> all;
    ASSERT_NO_THROW(all = (*producer)(ctx));
    for (const auto& i : all) inventory_test::expectCimTypes(i);
}

INSTANTIATE_TEST_SUITE_P(Classes, InventoryMachineWalk,
                         ::testing::Values("Win32_Battery", "Win32_PhysicalMemory", "Win32_Product",
                                           "Win32_Account", "Win32_UserAccount", "Win32_Group",
                                           "Win32_DiskDrive", "Win32_Share"));

TEST(InventoryMachine, ThisComputersPackagesAndAccountsAreThere) {
    SystemContext ctx;
    if (std::filesystem::exists("/var/lib/dpkg/status")) {
        const auto products = (*Registry::instance().find("win32_product"))(ctx);
        EXPECT_FALSE(products.empty());
    }
    const auto users = (*Registry::instance().find("Win32_UserAccount"))(ctx);
    bool root = false;
    for (const auto& u : users) {
        EXPECT_EQ(u.classDef().name, "Win32_UserAccount");
        root = root || inventory_test::prop(u, "SID") == wmi::Value("S-1-22-1-0");
    }
    EXPECT_TRUE(root);
    for (const auto& g : (*Registry::instance().find("Win32_Group"))(ctx)) {
        EXPECT_EQ(g.classDef().name, "Win32_Group");
    }
}

}  // namespace
}  // namespace tavo::linuxwmi
