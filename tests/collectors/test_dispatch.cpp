#include <gtest/gtest.h>

#include <set>
#include <string>

#include "collectors/dispatch.h"

namespace tavo {
namespace {

TEST(Dispatch, TableIsInTestingOrderWithItsClassesAndKinds) {
    using K = CollectorKind;
    struct Row {
        const char* category;
        K kind;
        const char* cls;
        bool onePass;
    } expected[] = {
        {"Logical Drives", K::DriveMon, "", true},
        {"Network Adapters", K::NetMon, "", false},
        {"Printers", K::PrintMon, "", false},
        {"Print Jobs", K::GetResults, "Win32_PrintJob", false},
        {"Battery", K::GetResults, "Win32_Battery", true},
        {"Physical Memory", K::GetResults, "Win32_PhysicalMemory", true},
        {"Programs", K::GetResults, "Win32_Product", true},
        {"User Accounts", K::GetResults, "Win32_Account", true},
        {"Physical Drives", K::GetResults, "Win32_DiskDrive", false},
        {"BIOS", K::GetResults, "Win32_BIOS", true},
        {"Computer", K::GetResults, "Win32_ComputerSystem", true},
        {"Operating System", K::GetResults, "Win32_OperatingSystem", true},
        {"Processes", K::GetResults, "Win32_Process", false},
        {"Services", K::GetResults, "Win32_Service", false},
        {"Video", K::GetResults, "Win32_VideoController", true},
        {"Shares", K::GetResults, "Win32_Share", false},
        {"Desktops", K::GetResults, "Win32_Desktop", true},
        {"Routing Table", K::GetResults, "Win32_IP4RouteTable", true},
        {"TimeZone", K::GetResults, "Win32_TimeZone", true},
        {"Processor", K::GetResults, "Win32_Processor", true},
        {"Motherboard", K::GetResults, "Win32_BaseBoard", true},
        {"Environ Variables", K::GetResults, "Win32_Environment", true},
        {"Network Computers", K::ListComputers, "", true},
    };
    auto table = dispatchTable();
    ASSERT_EQ(table.size(), std::size(expected));
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i].category, expected[i].category) << i;
        EXPECT_EQ(table[i].collector, expected[i].kind) << expected[i].category;
        EXPECT_EQ(table[i].managementClass, expected[i].cls) << expected[i].category;
        EXPECT_EQ(table[i].onePass, expected[i].onePass) << expected[i].category;
    }
}

TEST(Dispatch, EveryListedCategoryHasExactlyOneEntryFoundByExactText) {
    std::set<std::string_view> listed(reportCategories().begin(), reportCategories().end());
    EXPECT_EQ(listed.size(), 23u);
    for (const auto& entry : dispatchTable()) EXPECT_EQ(listed.count(entry.category), 1u);
    for (auto category : reportCategories()) {
        const DispatchEntry* e = findDispatch(category);
        ASSERT_NE(e, nullptr) << category;
        EXPECT_EQ(e->category, category);
    }
    EXPECT_EQ(findDispatch("logical drives"), nullptr);
    EXPECT_EQ(findDispatch("BIOS "), nullptr);
    EXPECT_EQ(findDispatch(""), nullptr);
    EXPECT_EQ(findDispatch("Motherboard")->managementClass, "Win32_BaseBoard");
}

}  // namespace
}  // namespace tavo
