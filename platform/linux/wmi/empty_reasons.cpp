#include "platform/linux/wmi/empty_reasons.h"

#include <filesystem>
#include <system_error>

#include "schema/schema.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace {

bool present(const SystemContext& ctx, std::string_view absolute) {
    return ctx.exists(absolute);
}

// Classes read from the firmware's summary in /sys/class/dmi/id.
std::string firmwareSummary(const SystemContext& ctx) {
    if (!present(ctx, "/sys/class/dmi/id"))
        return "this computer's firmware tables are not available (no /sys/class/dmi/id: a "
               "machine without SMBIOS, such as most ARM boards or some virtual machines)";
    return "this computer's firmware tables are not readable (/sys/class/dmi/id)";
}

// Memory modules are only in the raw tables, which only root may read.
std::string firmwareTables(const SystemContext& ctx) {
    if (!present(ctx, "/sys/firmware/dmi/tables/DMI"))
        return "this computer's firmware tables are not available "
               "(no /sys/firmware/dmi/tables/DMI)";
    if (!ctx.readFile("/sys/firmware/dmi/tables/DMI", 1))
        return "this computer's firmware tables are readable only by root "
               "(/sys/firmware/dmi/tables/DMI)";
    return "the firmware tables list no memory modules";
}

}  // namespace

std::string whyNoInstances(std::string_view className, const SystemContext& ctx) {
    if (text::equalsIgnoreCase(className, "Win32_Battery"))
        return present(ctx, "/sys/class/power_supply")
                   ? "this computer has no battery (/sys/class/power_supply lists none)"
                   : "this computer reports no power supplies (no /sys/class/power_supply)";
    if (text::equalsIgnoreCase(className, "Win32_BIOS") ||
        text::equalsIgnoreCase(className, "Win32_BaseBoard") ||
        text::equalsIgnoreCase(className, "Win32_MotherboardDevice"))
        return firmwareSummary(ctx);
    if (text::equalsIgnoreCase(className, "Win32_PhysicalMemory")) return firmwareTables(ctx);
    return {};
}

}  // namespace tavo::linuxwmi
