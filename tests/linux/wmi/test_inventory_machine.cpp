#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "cim_type_check.h"
#include "platform/linux/wmi/provider.h"

// Each inventory class asked of this computer through the provider, as the
// report asks it: whatever the machine holds, every value must have its
// property's CIM type.
namespace tavo::linuxwmi {
namespace {

class InventoryMachineWalk : public ::testing::TestWithParam<const char*> {};

TEST_P(InventoryMachineWalk, EveryValueHasItsCimType) {
    EXPECT_NO_THROW(testing::expectMachineCimTypes(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Classes, InventoryMachineWalk,
                         ::testing::Values("Win32_Battery", "Win32_PhysicalMemory", "Win32_Product",
                                           "Win32_Account", "Win32_UserAccount", "Win32_Group",
                                           "Win32_SystemAccount", "Win32_MotherboardDevice",
                                           "Win32_DiskDrive", "Win32_Share"));

// The classes seen from a query: which kinds each account class answers.
std::multiset<std::string> classesAnswering(const std::string& query) {
    auto rs = makeProvider()->connect(".")->execQuery(query);
    std::multiset<std::string> kinds;
    while (auto obj = rs->next()) kinds.insert(obj->get("__CLASS").text());
    return kinds;
}

TEST(InventoryMachine, AccountQueriesAnswerTheirOwnKinds) {
    const auto all = classesAnswering("SELECT * FROM Win32_Account");
    const auto users = classesAnswering("select * from win32_useraccount");
    const auto groups = classesAnswering("SELECT * FROM Win32_Group");
    const auto system = classesAnswering("SELECT * FROM Win32_SystemAccount");
    // This machine has root and its group at least.
    EXPECT_GE(users.count("Win32_UserAccount"), 1u);
    EXPECT_EQ(users.size(), users.count("Win32_UserAccount"));
    EXPECT_GE(groups.count("Win32_Group"), 1u);
    EXPECT_EQ(groups.size(), groups.count("Win32_Group"));
    EXPECT_EQ(system.size(), system.count("Win32_SystemAccount"));
    EXPECT_EQ(system.size(), 3u);
    EXPECT_EQ(all.size(), users.size() + groups.size() + system.size());
    // The board as a device is always there, once.
    EXPECT_EQ(classesAnswering("SELECT * FROM Win32_MotherboardDevice").size(), 1u);
}

TEST(InventoryMachine, RootIsFoundByItsSid) {
    auto rs = makeProvider()->connect(".")->execQuery(
        "SELECT * FROM Win32_UserAccount WHERE SID = 'S-1-22-1-0'");
    auto root = rs->next();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->get("Name").text(), "root");
    EXPECT_EQ(rs->next(), nullptr);
}

TEST(InventoryMachine, InstalledPackagesAreListed) {
    if (!std::filesystem::exists("/var/lib/dpkg/status")) GTEST_SKIP() << "no dpkg database here";
    EXPECT_GT(testing::expectMachineCimTypes("Win32_Product"), 0);
}

}  // namespace
}  // namespace tavo::linuxwmi
