#pragma once

// What every category shows for the Windows computer the WinRM fixtures
// make: one table for the reports run through the pass and through the window.

#include <map>
#include <string>
#include <vector>

namespace tavo::testing {

struct FixtureCategory {
    int rows;
    // Plain texts the CSV export carries, and the HTML export carries
    // escaped; none for an empty report.
    std::vector<std::string> texts;
};

inline const std::map<std::string, FixtureCategory>& fixtureCategories() {
    static const std::map<std::string, FixtureCategory> m{
        {"Logical Drives", {3, {"Data & Logs <archive>"}}},
        {"Network Adapters", {2, {"10.30.40.64"}}},
        {"Printers", {2, {"HP LaserJet 4th floor"}}},
        {"Print Jobs", {0, {}}},
        {"Battery", {0, {}}},
        {"Physical Memory", {2, {"DIMM 1"}}},
        {"Programs", {2, {"7-Zip 23.01 (x64 edition)"}}},
        {"User Accounts", {4, {"Remote Management Users"}}},
        {"Physical Drives", {1, {"VMware Virtual NVMe Disk"}}},
        {"BIOS", {1, {"20230522000000.000000+000"}}},
        {"Computer", {1, {"corp.example"}}},
        {"Operating System",
         {1, {"Microsoft Windows Server 2022 Standard", "20261208061000.500000+000"}}},
        {"Processes", {6, {"powershell.exe"}}},
        {"Services", {6, {"Print Spooler"}}},
        {"Video", {1, {"VMware SVGA 3D"}}},
        {"Shares", {4, {"ADMIN$"}}},
        {"Desktops", {2, {".DEFAULT"}}},
        {"Routing Table", {2, {"10.30.40.0"}}},
        {"TimeZone", {1, {"Pacific Standard Time"}}},
        {"Processor", {1, {"GenuineIntel"}}},
        {"Motherboard", {1, {"440BX Desktop Reference Platform"}}},
        {"Environ Variables", {3, {"ComSpec"}}},
    };
    return m;
}

}  // namespace tavo::testing
