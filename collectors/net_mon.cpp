#include <string>

#include "collectors/collector_support.h"
#include "collectors/collectors.h"

// The network adapter monitor: one row per IP-enabled adapter configuration,
// yellow when it has no name server, red when it has no default gateway.
// A periodic report: it never ends the cycle.
namespace tavo {

namespace {

using collect::skip;
using collect::test;
using wmi::Value;

// Entry 0 is missing: empty text, or (through test()) an entry that cannot
// be read because the array is null or empty.
bool isBlank(const Value& v) {
    return v.isEmpty() || (v.isText() && v.text().empty());
}

void addAdapter(const wmi::Object& adapter, grid::Grid& results) {
    int level = 1;
    if (test([&] { return isBlank(adapter.getAt("DNSServerSearchOrder", 0)); })) level = 2;
    // Second, so a missing gateway is red whatever the name servers are.
    if (test([&] { return isBlank(adapter.getAt("DefaultIPGateway", 0)); })) level = 3;

    grid::ListItem* row = nullptr;
    std::string mac;
    skip([&] { mac = wmi::toText(adapter.get("MACAddress")); });
    skip([&] { row = &collect::addRow(results, mac, level); });
    if (!row) return;

    auto cell = [&](int n, const char* name) {
        skip([&] { row->setSubItems(n, wmi::toText(adapter.get(name))); });
    };
    auto entry = [&](int n, const char* name, int index) {
        skip([&] { row->setSubItems(n, wmi::toText(adapter.getAt(name, index))); });
    };
    cell(1, "Description");
    entry(2, "IPAddress", 0);
    entry(3, "DefaultIPGateway", 0);
    entry(4, "DNSServerSearchOrder", 0);
    cell(5, "DHCPEnabled");
    cell(6, "DNSDomain");
    cell(7, "ServiceName");
    cell(8, "MTU");
    entry(9, "IPAddress", 1);
    entry(10, "IPAddress", 2);
    entry(11, "DNSServerSearchOrder", 1);
    entry(12, "DNSServerSearchOrder", 2);
}

}  // namespace

void NetMon(ReportContext& ctx) {
    collect::runMonitor(
        ctx, "Select * from Win32_NetworkAdapterConfiguration Where IPEnabled = True", addAdapter);
}

}  // namespace tavo
