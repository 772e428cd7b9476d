#include <filesystem>

#include "platform/linux/wmi/smbios.h"
#include "platform/linux/wmi/system_classes.h"
#include "platform/linux/wmi/system_sources.h"

namespace tavo::linuxwmi {

namespace {

// Windows names each of its one-of-a-kind board objects by a fixed text,
// which serves as its caption and description too.
void setFixedName(Instance& i, const char* text, const char* creationClass) {
    i.set("Name", text);
    i.set("Caption", text);
    i.set("Description", text);
    i.set("CreationClassName", creationClass);
}

}  // namespace

// The main board from the SMBIOS data the kernel exports; a machine without
// those entries has no board object.
std::vector<Instance> baseBoardInstances(const SystemContext& ctx) {
    const auto vendor = readAttribute(ctx, "/sys/class/dmi/id/board_vendor");
    const auto product = readAttribute(ctx, "/sys/class/dmi/id/board_name");
    const auto version = readAttribute(ctx, "/sys/class/dmi/id/board_version");
    if (!vendor && !product && !version) return {};

    Instance board("Win32_BaseBoard");
    setFixedName(board, "Base Board", "Win32_BaseBoard");
    board.set("Tag", "Base Board");
    if (vendor) board.set("Manufacturer", *vendor);
    if (product) board.set("Product", *product);
    if (version) board.set("Version", *version);
    // Readable by root only; null for everyone else.
    if (auto serial = readAttribute(ctx, "/sys/class/dmi/id/board_serial")) {
        board.set("SerialNumber", *serial);
    }
    board.set("HostingBoard", true);
    board.set("PoweredOn", true);
    // The board record's feature flags say how it sits in the machine.
    for (const auto& t : readSmbiosTable(ctx)) {
        if (t.type != 2) continue;
        if (auto flags = t.byteAt(0x09)) {
            board.set("HostingBoard", (*flags & 0x01) != 0);
            board.set("RequiresDaughterBoard", (*flags & 0x02) != 0);
            board.set("Removable", (*flags & 0x04) != 0);
            board.set("Replaceable", (*flags & 0x08) != 0);
            board.set("HotSwappable", (*flags & 0x10) != 0);
        }
        break;
    }
    board.set("Status", "OK");

    std::vector<Instance> out;
    out.push_back(std::move(board));
    return out;
}

}  // namespace tavo::linuxwmi

namespace tavo::linuxwmi {

// The board as a device, which Windows lists as one "Motherboard" with the
// buses it carries. Every computer has one; the buses are those the kernel
// has found.
std::vector<Instance> motherboardDeviceInstances(const SystemContext& ctx) {
    Instance d("Win32_MotherboardDevice");
    d.set("DeviceID", "Motherboard");
    setFixedName(d, "Motherboard", "Win32_MotherboardDevice");
    d.set("SystemCreationClassName", "Win32_ComputerSystem");
    d.set("SystemName", ctx.computerName());
    d.setInt("Availability", 3);  // running at full power
    d.set("Status", "OK");
    if (ctx.type("/sys/bus/pci/devices") == FileType::Directory) {
        d.set("PrimaryBusType", "PCI");
    }
    if (auto version = readAttribute(ctx, "/sys/class/dmi/id/board_version")) {
        d.set("RevisionNumber", *version);
    }
    return {std::move(d)};
}

}  // namespace tavo::linuxwmi
