#include "platform/linux/wmi/inventory_classes.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "platform/linux/wmi/inventory_text.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace {

using inventory::readAttribute;
using inventory::readUnsignedAttribute;

bool allOf(std::string_view s, int (*pred)(int)) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [pred](char c) {
        return pred(static_cast<unsigned char>(c)) != 0;
    });
}

// Kinds of whole disks in the order Index numbers them.
enum class Kind { Scsi, Nvme, Virtio, Xen, Ide, Mmc, None };

Kind kindOf(std::string_view n) {
    const auto lettersAfter = [&](std::string_view prefix) {
        return n.starts_with(prefix) && allOf(n.substr(prefix.size()), std::islower);
    };
    if (lettersAfter("sd")) return Kind::Scsi;
    if (lettersAfter("vd")) return Kind::Virtio;
    if (lettersAfter("xvd")) return Kind::Xen;
    if (lettersAfter("hd")) return Kind::Ide;
    if (n.starts_with("nvme")) {
        // nvme<controller>n<namespace>; nvme0c1n1 is one path of a multipath
        // namespace, hidden behind nvme0n1.
        const std::string_view rest = n.substr(4);
        const std::size_t at = rest.find('n');
        if (at != std::string_view::npos && allOf(rest.substr(0, at), std::isdigit) &&
            allOf(rest.substr(at + 1), std::isdigit)) {
            return Kind::Nvme;
        }
    }
    if (n.starts_with("mmcblk") && allOf(n.substr(6), std::isdigit)) return Kind::Mmc;
    return Kind::None;
}

// The device's own state word (SCSI "running"/"offline", NVMe "live"/"dead").
const char* deviceStatus(const std::optional<std::string>& state) {
    if (!state || *state == "running" || *state == "live") return "OK";
    if (*state == "offline" || *state == "dead") return "Error";
    return "Degraded";
}

// The unit serial number VPD page (0x80) that SCSI and SATA disks answer:
// a four-byte header whose last two bytes give the length, then the text.
std::optional<std::string> vpdSerial(const SystemContext& ctx, const std::string& dir) {
    const auto page = ctx.readFile(dir + "/device/vpd_pg80", 4096);
    if (!page || page->size() < 4 || static_cast<unsigned char>((*page)[1]) != 0x80)
        return std::nullopt;
    const std::size_t len = static_cast<std::size_t>(static_cast<unsigned char>((*page)[2]) << 8 |
                                                     static_cast<unsigned char>((*page)[3]));
    const std::string_view serial =
        text::trim(std::string_view(*page).substr(4, std::min(len, page->size() - 4)));
    if (serial.empty()) return std::nullopt;
    return std::string(serial);
}

// "host:channel:target:lun" from the name of the SCSI device directory.
std::optional<std::array<std::uint64_t, 4>> scsiAddress(const SystemContext& ctx,
                                                        const std::string& device) {
    const auto target = ctx.readLink(device);
    if (!target) return std::nullopt;
    const std::string leaf = std::filesystem::path(*target).filename().string();
    const auto parts = text::split(leaf, ':');
    if (parts.size() != 4) return std::nullopt;
    std::array<std::uint64_t, 4> hctl{};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto v = text::parseUnsigned(parts[i]);
        if (!v) return std::nullopt;
        hctl[i] = *v;
    }
    return hctl;
}

std::optional<std::string> devicePath(std::string_view real, std::string_view name) {
    const std::string_view root = "/sys/devices/";
    const std::size_t at = real.rfind(root);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view rest = real.substr(at + root.size());
    const auto dropTail = [&rest](std::string_view tail) {
        if (rest.size() > tail.size() && rest.ends_with(tail) &&
            rest[rest.size() - tail.size() - 1] == '/') {
            rest.remove_suffix(tail.size() + 1);
            return true;
        }
        return false;
    };
    if (!dropTail(name)) return std::nullopt;
    dropTail("block");
    if (rest.empty() || rest.starts_with("virtual/")) return std::nullopt;
    return std::string(rest);
}

}  // namespace

bool isWholeDiskName(std::string_view name) {
    return kindOf(name) != Kind::None;
}

std::vector<Instance> produceDiskDrives(const SystemContext& ctx) {
    std::vector<std::pair<Kind, std::string>> disks;
    for (auto& name : inventory::listDirectory(ctx, "/sys/block")) {
        const Kind k = kindOf(name);
        if (k != Kind::None) disks.emplace_back(k, std::move(name));
    }
    // sdb before sdaa, nvme2n1 before nvme10n1.
    std::sort(disks.begin(), disks.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first < b.first;
        if (a.second.size() != b.second.size()) return a.second.size() < b.second.size();
        return a.second < b.second;
    });

    std::vector<Instance> out;
    const std::string computer = ctx.computerName();
    std::int64_t index = 0;
    for (const auto& [kind, name] : disks) {
        const std::string dir = "/sys/block/" + name;
        // Hidden disks are paths the kernel keeps for itself.
        if (readAttribute(ctx, dir + "/hidden") == "1") continue;

        Instance d("Win32_DiskDrive");
        const std::string dev = "/dev/" + name;
        d.set("DeviceID", dev);
        d.set("Name", dev);
        d.setInt("Index", index++);
        d.set("Description", "Disk drive");
        d.set("CreationClassName", "Win32_DiskDrive");
        d.set("SystemCreationClassName", "Win32_ComputerSystem");
        d.set("SystemName", computer);
        d.set("Status", deviceStatus(readAttribute(ctx, dir + "/device/state")));

        // Model, vendor, serial and firmware live in different attributes
        // per bus; each is read where that bus puts it.
        std::optional<std::string> model = readAttribute(ctx, dir + "/device/model");
        if (kind == Kind::Mmc) model = readAttribute(ctx, dir + "/device/name");
        if (kind == Kind::Scsi) {
            // SATA disks behind libata all say "ATA", which names no maker.
            const auto vendor = readAttribute(ctx, dir + "/device/vendor");
            if (vendor && *vendor != "ATA") {
                d.set("Manufacturer", *vendor);
                model = model ? *vendor + " " + *model : *vendor;
            }
        }
        if (model) d.set("Model", *model);
        d.set("Caption", model.value_or(dev));

        std::optional<std::string> serial = readAttribute(ctx, dir + "/device/serial");
        if (!serial) serial = readAttribute(ctx, dir + "/serial");
        if (!serial && kind == Kind::Scsi) serial = vpdSerial(ctx, dir);
        if (serial) d.set("SerialNumber", *serial);

        std::optional<std::string> firmware = readAttribute(ctx, dir + "/device/firmware_rev");
        if (!firmware) firmware = readAttribute(ctx, dir + "/device/rev");
        if (!firmware) firmware = readAttribute(ctx, dir + "/device/fwrev");
        if (firmware) d.set("FirmwareRevision", *firmware);

        // /sys/block counts 512-byte units whatever the disk's sector size.
        const auto sectors512 = readUnsignedAttribute(ctx, dir + "/size");
        const auto sectorSize = readUnsignedAttribute(ctx, dir + "/queue/logical_block_size");
        if (sectorSize) d.setInt("BytesPerSector", static_cast<std::int64_t>(*sectorSize));
        if (sectors512) {
            d.set("MediaLoaded", *sectors512 > 0);
            if (*sectors512 > 0) {
                d.setUInt64("Size", *sectors512 * 512);
                if (sectorSize && *sectorSize > 0)
                    d.setUInt64("TotalSectors", *sectors512 * 512 / *sectorSize);
            }
        }

        std::int64_t partitions = 0;
        for (const auto& entry : inventory::listDirectory(ctx, dir)) {
            if (entry.starts_with(name) && ctx.exists(dir + "/" + entry + "/partition")) {
                ++partitions;
            }
        }
        d.setInt("Partitions", partitions);

        const bool removable = readAttribute(ctx, dir + "/removable") == "1";
        const bool readOnly = readAttribute(ctx, dir + "/ro") == "1";
        d.set("MediaType", removable ? "Removable Media" : "Fixed hard disk media");
        wmi::Value::Array caps{wmi::Value(3)};
        wmi::Value::Array capNames{wmi::Value("Random Access")};
        if (!readOnly) {
            caps.emplace_back(4);
            capNames.emplace_back("Supports Writing");
        }
        if (removable) {
            caps.emplace_back(7);
            capNames.emplace_back("Supports Removable Media");
        }
        d.set("Capabilities", std::move(caps));
        d.set("CapabilityDescriptions", std::move(capNames));

        // The bus shows in the device's place in the sysfs tree.
        const auto canonical = ctx.canonical(dir);
        const bool ec = !canonical;
        const std::string real = canonical.value_or("");
        const bool usb = !ec && real.find("/usb") != std::string::npos;
        if (usb) {
            d.set("InterfaceType", "USB");
        } else if (kind == Kind::Scsi) {
            d.set("InterfaceType", !ec && real.find("/ata") != std::string::npos ? "IDE" : "SCSI");
        } else if (kind == Kind::Ide) {
            d.set("InterfaceType", "IDE");
        } else if (kind == Kind::Nvme || kind == Kind::Virtio || kind == Kind::Xen) {
            // How Windows presents NVMe and paravirtual disks to its own tools.
            d.set("InterfaceType", "SCSI");
        }
        // The device's path in the kernel's device tree identifies it the way
        // a Plug and Play instance path does: the disk's parent device, as
        // sda sits in .../0:0:0:0/block/sda and nvme0n1 in .../nvme0/nvme0n1.
        if (!ec) {
            if (auto id = devicePath(real, name)) d.set("PNPDeviceID", *id);
        }
        if (kind == Kind::Scsi) {
            if (const auto hctl = scsiAddress(ctx, dir + "/device")) {
                d.setInt("SCSIPort", static_cast<std::int64_t>((*hctl)[0]));
                d.setInt("SCSIBus", static_cast<std::int64_t>((*hctl)[1]));
                d.setInt("SCSITargetId", static_cast<std::int64_t>((*hctl)[2]));
                d.setInt("SCSILogicalUnit", static_cast<std::int64_t>((*hctl)[3]));
            }
        }
        out.push_back(std::move(d));
    }
    return out;
}

}  // namespace tavo::linuxwmi
