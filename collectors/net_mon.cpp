#include <array>
#include <string>

#include "collectors/collector_support.h"
#include "collectors/collectors.h"

// The network adapter monitor: one row per IP-enabled adapter configuration,
// yellow when it has no name server, red when it has no default gateway.
// A periodic report: it never ends the cycle.
namespace tavo {

namespace {

using collect::test;
using wmi::Value;

// Entry 0 is missing: empty text, or (through test()) an entry that cannot
// be read because the array is null or empty.
bool isBlank(const Value& v) {
    return v.isEmpty() || (v.isText() && v.text().empty());
}

constexpr std::array<ColumnDefinition, 13> kColumns{{
    {"Mac", 1700, "MACAddress"},
    {"Description", 4000, "Description"},
    {"IP", 1350, "IPAddress", 0},
    {"Gateway", 1350, "DefaultIPGateway", 0},
    {"DNS", 1350, "DNSServerSearchOrder", 0},
    {"DHCP", 750, "DHCPEnabled"},
    {"Domain", 1350, "DNSDomain"},
    {"Adapter Type", 1440, "ServiceName"},
    {"MTU", 750, "MTU"},
    {"IP 2", 1350, "IPAddress", 1},
    {"IP 3", 1350, "IPAddress", 2},
    {"DNS 2", 1350, "DNSServerSearchOrder", 1},
    {"DNS 3", 1350, "DNSServerSearchOrder", 2},
}};

}  // namespace

namespace monitor {
std::span<const ColumnDefinition> adapterColumns() {
    return kColumns;
}

int adapterLamp(const wmi::Object& adapter) {
    int level = 1;
    if (test([&] { return isBlank(adapter.getAt("DNSServerSearchOrder", 0)); })) level = 2;
    // Second, so a missing gateway is red whatever the name servers are.
    if (test([&] { return isBlank(adapter.getAt("DefaultIPGateway", 0)); })) level = 3;
    return level;
}
}  // namespace monitor

void NetMon(ReportContext& ctx) {
    collect::runMonitor(ctx, *findReport("Network Adapters"));
}

}  // namespace tavo
