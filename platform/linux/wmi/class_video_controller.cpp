#include <algorithm>
#include <cctype>
#include <filesystem>
#include <limits>
#include <system_error>

#include "platform/linux/wmi/service_classes.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace fs = std::filesystem;

namespace {

// "0x8086" -> "8086"; empty when the file is missing or not a hex id.
std::string hexId(const SystemContext& ctx, const std::string& file, std::size_t digits) {
    auto v = ctx.readLine(file);
    if (!v) return {};
    std::string s = *v;
    if (s.starts_with("0x")) s.erase(0, 2);
    if (s.size() != digits ||
        !std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isxdigit(c); })) {
        return {};
    }
    return text::toLower(s);
}

struct PciNames {
    std::string vendor;
    std::string device;
};

// Vendor and device names from the PCI ID database's text, which lists each
// vendor at the line start and its devices below it after one tab.
PciNames lookupPciIds(std::string_view db, std::string_view vendor, std::string_view device) {
    PciNames names;
    bool inVendor = false;
    std::size_t pos = 0;
    while (pos < db.size()) {
        std::size_t nl = db.find('\n', pos);
        if (nl == std::string_view::npos) nl = db.size();
        std::string_view line = db.substr(pos, nl - pos);
        pos = nl + 1;
        if (line.empty() || line[0] == '#') continue;
        if (line[0] != '\t') {
            if (inVendor) break;
            // The device class list at the end starts with "C ".
            if (line.starts_with("C ")) break;
            if (line.size() > 6 && text::toLower(std::string(line.substr(0, 4))) == vendor &&
                line.substr(4, 2) == "  ") {
                names.vendor = std::string(line.substr(6));
                inVendor = true;
            }
            continue;
        }
        if (inVendor && line.size() > 7 && line[1] != '\t' &&
            text::toLower(std::string(line.substr(1, 4))) == device && line.substr(5, 2) == "  ") {
            names.device = std::string(line.substr(7));
            break;
        }
    }
    return names;
}

struct Card {
    std::string name;     // "card0"
    std::string dir;      // /sys/class/drm/card0
    std::string pciSlot;  // "0000:00:02.0", empty for a device not on PCI
};

struct Mode {
    int width = 0, height = 0;
};

// The mode of the card's first connected, enabled output. The kernel lists
// an output's modes with the one in use for its console first.
std::optional<Mode> outputMode(const SystemContext& ctx, const std::string& drm,
                               const std::string& card) {
    std::vector<std::string> outputs;
    for (const std::string& n : ctx.names(drm)) {
        if (n.starts_with(card + "-")) outputs.push_back(drm + "/" + n);
    }
    std::sort(outputs.begin(), outputs.end());
    for (const std::string& o : outputs) {
        if (ctx.readLine(o + "/status") != std::optional<std::string>("connected")) continue;
        auto enabled = ctx.readLine(o + "/enabled");
        if (enabled && *enabled != "enabled") continue;
        auto first = ctx.readLine(o + "/modes");
        if (!first) continue;
        Mode m;
        if (std::sscanf(first->c_str(), "%dx%d", &m.width, &m.height) == 2 && m.width > 0 &&
            m.height > 0) {
            return m;
        }
    }
    return std::nullopt;
}

std::string linkName(const SystemContext& ctx, const std::string& link) {
    const auto target = ctx.readLink(link);
    return target ? fs::path(*target).filename().string() : std::string();
}

}  // namespace

std::vector<Instance> produceVideoControllers(const SystemContext& ctx) {
    const std::string drm = "/sys/class/drm";
    std::vector<Card> cards;
    for (const std::string& n : ctx.names(drm)) {
        if (!n.starts_with("card") || n.size() == 4 ||
            !std::all_of(n.begin() + 4, n.end(), [](unsigned char c) { return std::isdigit(c); })) {
            continue;
        }
        Card c{n, drm + "/" + n, {}};
        const std::string slot = linkName(ctx, c.dir + "/device");
        if (!slot.empty() && ctx.exists("/sys/bus/pci/devices/" + slot)) {
            c.pciSlot = slot;
        }
        cards.push_back(c);
    }
    // card2 before card10: by number, the digits compared as text of equal length.
    std::sort(cards.begin(), cards.end(), [](const Card& a, const Card& b) {
        return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
    });

    // Display controllers on PCI (class 03xxxx), including those no driver
    // has taken, which have no DRM card.
    std::vector<std::string> slots;
    for (const std::string& slot : ctx.names("/sys/bus/pci/devices")) {
        auto cls = ctx.readLine("/sys/bus/pci/devices/" + slot + "/class");
        if (cls && cls->starts_with("0x03")) slots.push_back(slot);
    }
    std::sort(slots.begin(), slots.end());
    for (const Card& c : cards) {
        if (!c.pciSlot.empty() && std::find(slots.begin(), slots.end(), c.pciSlot) == slots.end()) {
            slots.push_back(c.pciSlot);
        }
    }

    std::optional<std::string> pciIds;
    auto names = [&](const std::string& ven, const std::string& dev) {
        if (!pciIds) {
            pciIds = ctx.readFile("/usr/share/misc/pci.ids");
            if (!pciIds) pciIds = ctx.readFile("/usr/share/hwdata/pci.ids");
            if (!pciIds) pciIds = std::string();
        }
        return lookupPciIds(*pciIds, ven, dev);
    };
    const std::string systemName = ctx.computerName();
    const auto kernelRelease = ctx.readLine("/proc/sys/kernel/osrelease");

    std::vector<Instance> out;
    auto addController = [&](const std::string& slot, const Card* card) {
        Instance v("Win32_VideoController");
        v.set("DeviceID", "VideoController" + std::to_string(out.size() + 1));
        v.set("CreationClassName", "Win32_VideoController");
        v.set("SystemCreationClassName", "Win32_ComputerSystem");
        v.set("SystemName", systemName);

        std::string driver;
        std::string devDir;
        if (!slot.empty()) {
            devDir = "/sys/bus/pci/devices/" + slot;
            driver = linkName(ctx, devDir + "/driver");
            const std::string ven = hexId(ctx, devDir + "/vendor", 4);
            const std::string dev = hexId(ctx, devDir + "/device", 4);
            if (!ven.empty() && !dev.empty()) {
                std::string pnp = "PCI\\VEN_" + text::toUpper(ven) + "&DEV_" + text::toUpper(dev);
                const std::string sven = hexId(ctx, devDir + "/subsystem_vendor", 4);
                const std::string sdev = hexId(ctx, devDir + "/subsystem_device", 4);
                if (!sven.empty() && !sdev.empty()) pnp += "&SUBSYS_" + text::toUpper(sdev + sven);
                const std::string rev = hexId(ctx, devDir + "/revision", 2);
                if (!rev.empty()) pnp += "&REV_" + text::toUpper(rev);
                v.set("PNPDeviceID", pnp);
                const PciNames n = names(ven, dev);
                if (!n.vendor.empty()) v.set("AdapterCompatibility", n.vendor);
                if (!n.device.empty()) {
                    v.set("Name", n.device);
                    v.set("Caption", n.device);
                    v.set("Description", n.device);
                    v.set("VideoProcessor", n.device);
                }
            }
            // amdgpu states its memory; others do not say how much is theirs.
            if (auto vram = ctx.readLine(devDir + "/mem_info_vram_total")) {
                char* e = nullptr;
                const unsigned long long bytes = std::strtoull(vram->c_str(), &e, 10);
                if (e != vram->c_str() && *e == '\0' && bytes > 0) {
                    v.setInt("AdapterRAM", static_cast<std::int64_t>(std::min<unsigned long long>(
                                               bytes, std::numeric_limits<std::uint32_t>::max())));
                }
            }
        } else if (card) {
            driver = linkName(ctx, card->dir + "/device/driver");
        }
        if (v.find("Name")->isNull() && !driver.empty()) {
            v.set("Name", driver);
            v.set("Caption", driver);
            v.set("Description", driver);
        }
        if (!driver.empty()) {
            v.set("InstalledDisplayDrivers", driver);
            // Drivers built with the kernel carry its release as their version.
            auto version = ctx.readLine("/sys/module/" + driver + "/version");
            if (!version) version = kernelRelease;
            if (version) v.set("DriverVersion", *version);
            v.set("Status", "OK");
            v.setInt("ConfigManagerErrorCode", 0);
        } else {
            // No driver has taken the device: it cannot work.
            v.set("Status", "Error");
            v.setInt("ConfigManagerErrorCode", 28);
        }
        if (card) {
            if (auto m = outputMode(ctx, drm, card->name)) {
                v.setInt("CurrentHorizontalResolution", m->width);
                v.setInt("CurrentVerticalResolution", m->height);
                v.set("VideoModeDescription",
                      std::to_string(m->width) + " x " + std::to_string(m->height));
            }
        }
        out.push_back(std::move(v));
    };

    for (const std::string& slot : slots) {
        const Card* card = nullptr;
        for (const Card& c : cards) {
            if (c.pciSlot == slot) {
                card = &c;
                break;
            }
        }
        addController(slot, card);
    }
    for (const Card& c : cards) {
        if (c.pciSlot.empty()) addController({}, &c);
    }
    return out;
}

}  // namespace tavo::linuxwmi
