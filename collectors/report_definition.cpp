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

// The key properties of the classes, as the class reference declares them;
// CreationClassName, the same for every instance, is left out.
using Key = std::span<const std::string_view>;
constexpr std::string_view kName[] = {"Name"};
constexpr std::string_view kDeviceId[] = {"DeviceID"};
constexpr std::string_view kTag[] = {"Tag"};
constexpr std::string_view kHandle[] = {"Handle"};
constexpr std::string_view kDomainName[] = {"Domain", "Name"};
constexpr std::string_view kProduct[] = {"IdentifyingNumber", "Name", "Version"};
constexpr std::string_view kBios[] = {"Name", "SoftwareElementID", "SoftwareElementState",
                                      "TargetOperatingSystem", "Version"};
constexpr std::string_view kRoute[] = {"Destination", "InterfaceIndex", "Mask", "NextHop"};
constexpr std::string_view kStandardName[] = {"StandardName"};
constexpr std::string_view kVariable[] = {"Name", "UserName"};

// The generic report of one class.
ReportDefinition generic(std::string_view category, std::string_view wmiclass, bool onePass,
                         Key key) {
    return {
        category,       K::GetResults,
        wmiclass,       {},
        onePass,        kDefaultInterval,
        true,           wmiclass == "Win32_Service" ? monitor::serviceLamp : monitor::statusLamp,
        L::PerProperty, monitor::genericColumns(),
        kPropertyWidth, key};
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
        generic("Print Jobs", "Win32_PrintJob", false, kName),
        generic("Battery", "Win32_Battery", true, kDeviceId),
        generic("Physical Memory", "Win32_PhysicalMemory", true, kTag),
        generic("Programs", "Win32_Product", true, kProduct),
        generic("User Accounts", "Win32_Account", true, kDomainName),
        generic("Physical Drives", "Win32_DiskDrive", false, kDeviceId),
        generic("BIOS", "Win32_BIOS", true, kBios),
        generic("Computer", "Win32_ComputerSystem", true, kName),
        generic("Operating System", "Win32_OperatingSystem", true, kName),
        generic("Processes", "Win32_Process", false, kHandle),
        generic("Services", "Win32_Service", false, kName),
        generic("Video", "Win32_VideoController", true, kDeviceId),
        generic("Shares", "Win32_Share", false, kName),
        generic("Desktops", "Win32_Desktop", true, kName),
        generic("Routing Table", "Win32_IP4RouteTable", true, kRoute),
        generic("TimeZone", "Win32_TimeZone", true, kStandardName),
        generic("Processor", "Win32_Processor", true, kDeviceId),
        // root\CIMV2 has no Win32_Motherboard class; the board is Win32_BaseBoard.
        generic("Motherboard", "Win32_BaseBoard", true, kTag),
        generic("Environ Variables", "Win32_Environment", true, kVariable),
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

std::vector<std::string> rowKeyCaptions(const ReportDefinition& report) {
    std::vector<std::string> out;
    for (std::string_view caption : report.rowKey) out.emplace_back(caption);
    if (out.empty()) {
        for (const auto& c : report.columns) {
            if (c.caption.empty()) continue;
            out.emplace_back(c.caption);
            break;
        }
    }
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
