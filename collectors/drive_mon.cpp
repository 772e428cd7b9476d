#include <array>
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

// The used share of the disk in percent, rounded to two places; nothing
// without both sizes (no medium) or when they are no numbers.
std::optional<double> usedPercent(const wmi::Object& disk) {
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
    return used;
}

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

std::string usedCell(const wmi::Object& disk) {
    auto used = usedPercent(disk);
    return (used ? wmi::toText(Value(*used)) : std::string()) + " %";
}
std::string freeCell(const wmi::Object& disk) {
    return gbText(disk.get("FreeSpace"));
}
std::string sizeCell(const wmi::Object& disk) {
    return gbText(disk.get("Size"));
}
std::string typeCell(const wmi::Object& disk) {
    Value code;  // a code that cannot be read is an unknown type
    skip([&] { code = disk.get("DriveType"); });
    return driveTypeText(code);
}

constexpr std::array<ColumnDefinition, 9> kColumns{{
    {"Drive", 750, "DeviceID"},
    {"Description", 3000, "Description"},
    {"% Used", 1000, {}, -1, usedCell},
    {"Free Space", 1200, {}, -1, freeCell},
    {"Total Size", 1200, {}, -1, sizeCell},
    {"Drive Type", 2000, {}, -1, typeCell},
    {"File System", 1000, "FileSystem"},
    {"Volume Name", 1500, "VolumeName"},
    {"Dirty Volume", 1200, "VolumeDirty"},
}};

}  // namespace

namespace monitor {
std::span<const ColumnDefinition> driveColumns() {
    return kColumns;
}

int driveLamp(const wmi::Object& disk) {
    // Nothing passes from one disk to the next: no percentage, no warning.
    auto used = usedPercent(disk);
    if (!used) return 1;
    double whole = std::floor(*used);
    return whole > 90 ? 3 : whole > 80 ? 2 : 1;
}
}  // namespace monitor

void DriveMon(ReportContext& ctx) {
    collect::runMonitor(ctx, *findReport("Logical Drives"));
    skip([&] { ctx.endOfPass(); });
}

}  // namespace tavo
