#include <string>

#include "collectors/collector_support.h"
#include "collectors/collectors.h"

// The printer monitor: one row per printer with its driver, port, sharing and
// spooling settings, the lamp from PrinterStatus. A periodic report.
namespace tavo {

namespace {

using collect::skip;
using wmi::Value;

void addPrinter(const wmi::Object& printer, grid::Grid& results) {
    // A status that cannot be read counts as null: the printer is not known
    // to be well, so it is never shown green.
    Value status = Value::null();
    skip([&] { status = printer.get("PrinterStatus"); });
    int level = 3;
    if (collect::isNumber(status, 1)) level = 2;
    if (collect::isNumber(status, 3)) level = 1;

    grid::ListItem* row = nullptr;
    std::string name;
    skip([&] { name = wmi::toText(printer.get("DeviceID")); });
    skip([&] { row = &collect::addRow(results, name, level); });
    if (!row) return;

    int n = 1;
    for (const char* property : {"Description", "Location", "DriverName", "PortName",
                                 "PrintProcessor", "SpoolEnabled", "Queued", "Status"}) {
        skip([&] { row->setSubItems(n, wmi::toText(printer.get(property))); });
        ++n;
    }
    skip([&] {
        // 3 reads "Paused", 1 and 2 "Ready"; any other code shows as it is;
        // null leaves the cell empty.
        Value code = printer.get("PrinterStatus");
        std::string text;
        if (collect::isNumber(code, 3))
            text = "Paused";
        else if (collect::isNumber(code, 2) || collect::isNumber(code, 1))
            text = "Ready";
        else
            text = wmi::toText(printer.get("PrinterStatus"));
        row->setSubItems(9, text);
    });
    n = 10;
    for (const char* property : {"StatusInfo", "Published", "Shared", "ShareName", "Direct",
                                 "WorkOffline", "HorizontalResolution", "VerticalResolution"}) {
        skip([&] { row->setSubItems(n, wmi::toText(printer.get(property))); });
        ++n;
    }
}

}  // namespace

void PrintMon(ReportContext& ctx) {
    collect::runMonitor(ctx, "SELECT * FROM Win32_Printer", addPrinter);
}

}  // namespace tavo
