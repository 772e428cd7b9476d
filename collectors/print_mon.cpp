#include <array>
#include <string>

#include "collectors/collector_support.h"
#include "collectors/collectors.h"

// The printer monitor: one row per printer with its driver, port, sharing and
// spooling settings, the lamp from PrinterStatus. A periodic report.
namespace tavo {

namespace {

using collect::skip;
using wmi::Value;

// 3 reads "Paused", 1 and 2 "Ready"; any other code shows as it is; null
// leaves the cell empty.
std::string statusWord(const wmi::Object& printer) {
    Value code = printer.get("PrinterStatus");
    if (collect::isNumber(code, 3)) return "Paused";
    if (collect::isNumber(code, 2) || collect::isNumber(code, 1)) return "Ready";
    return wmi::toText(printer.get("PrinterStatus"));
}

// The captions are the property names the monitor reads.
constexpr std::array<ColumnDefinition, 18> kColumns{{
    {"DeviceID", 3000, "DeviceID"},
    {"Description", 1500, "Description"},
    {"Location", 1500, "Location"},
    {"DriverName", 3000, "DriverName"},
    {"PortName", 2000, "PortName"},
    {"PrintProcessor", 2000, "PrintProcessor"},
    {"SpoolEnabled", 750, "SpoolEnabled"},
    {"Queued", 0, "Queued"},
    {"Status", 0, "Status"},
    {"PrinterStatus", 0, {}, -1, statusWord},
    {"StatusInfo", 0, "StatusInfo"},
    {"Published", 0, "Published"},
    {"Shared", 0, "Shared"},
    {"ShareName", 0, "ShareName"},
    {"Direct", 0, "Direct"},
    {"WorkOffline", 0, "WorkOffline"},
    {"HorizontalResolution", 0, "HorizontalResolution"},
    {"VerticalResolution", 0, "VerticalResolution"},
}};

}  // namespace

namespace monitor {
std::span<const ColumnDefinition> printerColumns() {
    return kColumns;
}

int printerLamp(const wmi::Object& printer) {
    // A status that cannot be read counts as null: the printer is not known
    // to be well, so it is never shown green.
    Value status = Value::null();
    skip([&] { status = printer.get("PrinterStatus"); });
    if (collect::isNumber(status, 3)) return 1;
    if (collect::isNumber(status, 1)) return 2;
    return 3;
}
}  // namespace monitor

void PrintMon(ReportContext& ctx) {
    collect::runMonitor(ctx, *findReport("Printers"));
}

}  // namespace tavo
