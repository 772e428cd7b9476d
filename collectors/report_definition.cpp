#include "collectors/report_definition.h"

#include <algorithm>
#include <array>
#include <vector>

#include "collectors/collectors.h"
#include "support/text.h"

namespace tavo {

namespace {

using K = CollectorKind;
using L = ColumnLayout;

constexpr int kDriveInterval = 20;
constexpr int kAdapterInterval = 30;
constexpr int kDefaultInterval = 60;
constexpr int kPropertyWidth = 1500;

constexpr std::array<ColumnDefinition, 2> kComputerColumns{{{"", 300}, {"Computer", 2000}}};

// The generic report of one class.
ReportDefinition generic(std::string_view category, std::string_view wmiclass, bool onePass) {
    return {
        category,       K::GetResults,
        wmiclass,       {},
        onePass,        kDefaultInterval,
        true,           wmiclass == "Win32_Service" ? monitor::serviceLamp : monitor::statusLamp,
        L::PerProperty, monitor::genericColumns(),
        kPropertyWidth};
}

std::vector<ReportDefinition> makeDefinitions() {
    return {
        {"Logical Drives", K::DriveMon, "Win32_LogicalDisk", "Select * from Win32_LogicalDisk",
         true, kDriveInterval, false, monitor::driveLamp, L::AtRun, monitor::driveColumns()},
        {"Network Adapters", K::NetMon, "Win32_NetworkAdapterConfiguration",
         "Select * from Win32_NetworkAdapterConfiguration Where IPEnabled = True", false,
         kAdapterInterval, true, monitor::adapterLamp, L::AtRun, monitor::adapterColumns()},
        {"Printers", K::PrintMon, "Win32_Printer", "SELECT * FROM Win32_Printer", false,
         kDefaultInterval, true, monitor::printerLamp, L::AtRun, monitor::printerColumns()},
        generic("Print Jobs", "Win32_PrintJob", false),
        generic("Battery", "Win32_Battery", true),
        generic("Physical Memory", "Win32_PhysicalMemory", true),
        generic("Programs", "Win32_Product", true),
        generic("User Accounts", "Win32_Account", true),
        generic("Physical Drives", "Win32_DiskDrive", false),
        generic("BIOS", "Win32_BIOS", true),
        generic("Computer", "Win32_ComputerSystem", true),
        generic("Operating System", "Win32_OperatingSystem", true),
        generic("Processes", "Win32_Process", false),
        generic("Services", "Win32_Service", false),
        generic("Video", "Win32_VideoController", true),
        generic("Shares", "Win32_Share", false),
        generic("Desktops", "Win32_Desktop", true),
        generic("Routing Table", "Win32_IP4RouteTable", true),
        generic("TimeZone", "Win32_TimeZone", true),
        generic("Processor", "Win32_Processor", true),
        // root\CIMV2 has no Win32_Motherboard class; the board is Win32_BaseBoard.
        generic("Motherboard", "Win32_BaseBoard", true),
        generic("Environ Variables", "Win32_Environment", true),
        {"Network Computers",
         K::ListComputers,
         {},
         {},
         true,
         kDefaultInterval,
         true,
         nullptr,
         L::EachPass,
         kComputerColumns},
    };
}

const std::vector<ReportDefinition>& definitions() {
    static const std::vector<ReportDefinition> all = makeDefinitions();
    return all;
}

std::vector<std::string_view> makeCategories() {
    std::vector<std::string_view> out;
    for (const auto& r : definitions()) out.push_back(r.category);
    std::stable_sort(out.begin(), out.end(), text::lessIgnoreCase);
    return out;
}

}  // namespace

std::span<const ReportDefinition> reportDefinitions() {
    return definitions();
}

const ReportDefinition* findReport(std::string_view category) {
    for (const auto& r : definitions()) {
        if (r.category == category) return &r;
    }
    return nullptr;
}

std::span<const std::string_view> reportCategories() {
    static const std::vector<std::string_view> categories = makeCategories();
    return categories;
}

std::string queryFor(const ReportDefinition& report) {
    if (!report.query.empty()) return std::string(report.query);
    return "SELECT * FROM " + std::string(report.managementClass);
}

RunLayout runLayout(std::string_view category) {
    RunLayout out;
    const ReportDefinition* r = findReport(category);
    if (!r) return out;
    out.intervalSeconds = r->intervalSeconds;
    out.intervalShown = r->intervalShown;
    if (r->layout == ColumnLayout::AtRun) out.columns = r->columns;
    return out;
}

void addColumns(grid::Grid& grid, std::span<const ColumnDefinition> columns) {
    for (const auto& c : columns) {
        if (c.width > 0)
            grid.columnsAdd(std::string(c.caption), c.width);
        else
            grid.columnsAdd(std::string(c.caption));
    }
}

std::string cellText(const ColumnDefinition& column, const wmi::Object& object) {
    if (column.format) return column.format(object);
    const std::string name(column.property);
    if (column.entry >= 0) return wmi::toText(object.getAt(name, column.entry));
    return wmi::toText(object.get(name));
}

LampRule lampForClass(std::string_view wmiclass) {
    return wmiclass == "Win32_Service" ? monitor::serviceLamp : monitor::statusLamp;
}

}  // namespace tavo
