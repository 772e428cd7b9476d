#include "collectors/dispatch.h"

#include <array>

namespace tavo {

namespace {
using K = CollectorKind;
// "Motherboard" asks Win32_BaseBoard: root\CIMV2 has no Win32_Motherboard class.
constexpr std::array<DispatchEntry, 23> kTable{{
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
}};

constexpr std::array<std::string_view, 23> kCategories{"Battery",
                                                       "BIOS",
                                                       "Computer",
                                                       "Desktops",
                                                       "Environ Variables",
                                                       "Logical Drives",
                                                       "Motherboard",
                                                       "Network Adapters",
                                                       "Network Computers",
                                                       "Operating System",
                                                       "Physical Drives",
                                                       "Physical Memory",
                                                       "Print Jobs",
                                                       "Printers",
                                                       "Processes",
                                                       "Processor",
                                                       "Programs",
                                                       "Routing Table",
                                                       "Services",
                                                       "Shares",
                                                       "TimeZone",
                                                       "User Accounts",
                                                       "Video"};
}  // namespace

std::span<const DispatchEntry> dispatchTable() {
    return kTable;
}

const DispatchEntry* findDispatch(std::string_view category) {
    for (const auto& e : kTable) {
        if (e.category == category) return &e;
    }
    return nullptr;
}

std::span<const std::string_view> reportCategories() {
    return kCategories;
}

}  // namespace tavo
