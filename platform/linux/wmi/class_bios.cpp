#include "platform/linux/wmi/smbios.h"
#include "platform/linux/wmi/system_classes.h"
#include "platform/linux/wmi/system_sources.h"

namespace tavo::linuxwmi {

namespace {

// "major.minor" as the kernel writes firmware releases (bios_release,
// ec_firmware_release).
bool setRelease(Instance& inst, const std::optional<std::string>& text, const char* major,
                const char* minor) {
    if (!text) return false;
    const auto dot = text->find('.');
    if (dot == std::string::npos) return false;
    try {
        std::size_t used = 0;
        const int hi = std::stoi(text->substr(0, dot), &used);
        if (used != dot) return false;
        const int lo = std::stoi(text->substr(dot + 1), &used);
        if (used != text->size() - dot - 1 || hi < 0 || hi > 255 || lo < 0 || lo > 255) {
            return false;
        }
        inst.setInt(major, hi);
        inst.setInt(minor, lo);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// The firmware's feature bits as Windows lists them: bits 0-31 of the
// characteristics word by number, then the two extension bytes as 40-47
// and 48-55.
wmi::Value::Array biosCharacteristics(const SmbiosStructure& t) {
    wmi::Value::Array out;
    const auto bits = t.qwordAt(0x0A);
    if (!bits) return out;
    for (int i = 0; i < 32; ++i) {
        if (*bits & (std::uint64_t{1} << i)) out.emplace_back(i);
    }
    const std::size_t length = t.formatted.size();
    for (std::size_t ext = 0; ext < 2 && 0x12 + ext < length; ++ext) {
        const auto byte = t.byteAt(0x12 + ext).value_or(0);
        for (int i = 0; i < 8; ++i) {
            if (byte & (1u << i)) out.emplace_back(static_cast<int>(40 + 8 * ext) + i);
        }
    }
    return out;
}

}  // namespace

// The firmware as the kernel exports its SMBIOS tables under
// /sys/class/dmi/id. Machines without SMBIOS (most ARM boards, some
// containers) have no BIOS object rather than an empty one.
std::vector<Instance> biosInstances(const SystemContext& ctx) {
    const auto vendor = readAttribute(ctx, "/sys/class/dmi/id/bios_vendor");
    const auto version = readAttribute(ctx, "/sys/class/dmi/id/bios_version");
    const auto date = readAttribute(ctx, "/sys/class/dmi/id/bios_date");
    if (!vendor && !version && !date) return {};

    Instance bios("Win32_BIOS");
    if (vendor) bios.set("Manufacturer", *vendor);
    if (version) {
        // Windows names the BIOS by its version text too.
        bios.set("Name", *version);
        bios.set("Caption", *version);
        bios.set("Description", *version);
        bios.set("SoftwareElementID", *version);
        bios.set("SMBIOSBIOSVersion", *version);
        bios.set("Version", *version);
        bios.set("BIOSVersion", wmi::Value::Array{wmi::Value(*version)});
    }
    if (date) {
        if (auto dmtf = dmtfFromFirmwareDate(*date)) bios.set("ReleaseDate", *dmtf);
    }
    // The system's serial number; only root may read it.
    if (auto serial = readAttribute(ctx, "/sys/class/dmi/id/product_serial")) {
        bios.set("SerialNumber", *serial);
    }
    setRelease(bios, readAttribute(ctx, "/sys/class/dmi/id/bios_release"), "SystemBiosMajorVersion",
               "SystemBiosMinorVersion");
    setRelease(bios, readAttribute(ctx, "/sys/class/dmi/id/ec_firmware_release"),
               "EmbeddedControllerMajorVersion", "EmbeddedControllerMinorVersion");
    bios.set("SMBIOSPresent", true);
    if (auto ep = ctx.readFile("/sys/firmware/dmi/tables/smbios_entry_point", 4096)) {
        if (auto v = parseSmbiosVersion(*ep)) {
            bios.setInt("SMBIOSMajorVersion", v->first);
            bios.setInt("SMBIOSMinorVersion", v->second);
        }
    }
    for (const auto& t : readSmbiosTable(ctx)) {
        if (t.type != 0) continue;
        if (auto c = biosCharacteristics(t); !c.empty())
            bios.set("BiosCharacteristics", std::move(c));
        break;
    }
    bios.set("PrimaryBIOS", true);
    bios.set("Status", "OK");

    std::vector<Instance> out;
    out.push_back(std::move(bios));
    return out;
}

}  // namespace tavo::linuxwmi
