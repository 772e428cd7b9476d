#include <cmath>
#include <optional>
#include <string>

#include "collectors/collector_support.h"
#include "collectors/collectors.h"

// The logical drive monitor: one row per disk with how full it is, a lamp by
// fullness, sizes in GB (2^30 bytes). A one-pass report: the pass always ends
// the cycle once the disks have been walked.
namespace tavo {

namespace {

using collect::skip;
using wmi::Value;

constexpr double kBytesPerGB = 1073741824.0;

std::string driveTypeText(const Value& code) {
    auto n = collect::asNumber(code);
    if (!n) return "Unknown";
    if (*n == 2) return "Removable Disk";
    if (*n == 3) return "Local Disk";
    if (*n == 4) return "Network Drive";
    if (*n == 5) return "Optical Disk";
    if (*n == 6) return "RAM Disk";
    return "Unknown";
}

// Bytes as rounded GB followed by " GB"; a null size (no medium) shows the
// unit alone, and text that is no number fails, leaving the cell empty.
std::string gbText(const Value& bytes) {
    if (bytes.isNull()) return " GB";
    auto n = collect::asNumber(bytes);
    if (!n) throw Error(errc::kTypeMismatch, "Type mismatch: the size is not a number");
    return wmi::toText(Value(collect::round2(*n / kBytesPerGB))) + " GB";
}

void addDisk(const wmi::Object& disk, grid::Grid& results) {
    // Nothing passes from one disk to the next: no percentage until this
    // disk's own sizes give one.
    std::optional<double> used;
    skip([&] {
        Value size = disk.get("Size");
        Value free = disk.get("FreeSpace");
        if (size.isNull() || free.isNull()) return;
        auto s = collect::asNumber(size);
        auto f = collect::asNumber(free);
        if (!s || !f || *s == 0) return;
        // Subtract, divide, then multiply, in this order: the rounding of the
        // result depends on it.
        used = collect::round2((*s - *f) / *s * 100.0);
    });

    int level = 1;
    if (used) {
        double whole = std::floor(*used);
        level = whole > 90 ? 3 : whole > 80 ? 2 : 1;
    }

    grid::ListItem* row = nullptr;
    std::string id;
    skip([&] { id = wmi::toText(disk.get("DeviceID")); });
    skip([&] { row = &collect::addRow(results, id, level); });
    if (!row) return;

    auto text = [&](const char* name) { return wmi::toText(disk.get(name)); };
    skip([&] { row->setSubItems(1, text("Description")); });
    skip([&] { row->setSubItems(2, (used ? wmi::toText(Value(*used)) : std::string()) + " %"); });
    skip([&] { row->setSubItems(3, gbText(disk.get("FreeSpace"))); });
    skip([&] { row->setSubItems(4, gbText(disk.get("Size"))); });
    skip([&] {
        Value code;  // a code that cannot be read is an unknown type
        skip([&] { code = disk.get("DriveType"); });
        row->setSubItems(5, driveTypeText(code));
    });
    skip([&] { row->setSubItems(6, text("FileSystem")); });
    skip([&] { row->setSubItems(7, text("VolumeName")); });
    skip([&] { row->setSubItems(8, text("VolumeDirty")); });
}

}  // namespace

void DriveMon(ReportContext& ctx) {
    collect::runMonitor(ctx, "Select * from Win32_LogicalDisk", addDisk);
    skip([&] { ctx.endOfPass(); });
}

}  // namespace tavo
