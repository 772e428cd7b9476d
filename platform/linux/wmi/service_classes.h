#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/wmi/instance.h"
#include "platform/linux/wmi/system_context.h"

// Producers of Win32_Service, Win32_VideoController, Win32_Desktop,
// Win32_IP4RouteTable and Win32_TimeZone, and the parsers behind them that
// tests exercise on their own.
namespace tavo::linuxwmi {

// The system manager's unit directories, highest precedence first: a unit
// found in an earlier one hides files of the same name in later ones.
inline constexpr std::string_view kUnitDirs[] = {
    "/etc/systemd/system.control",   "/run/systemd/system.control",  "/run/systemd/transient",
    "/run/systemd/generator.early",  "/etc/systemd/system",          "/etc/systemd/system.attached",
    "/run/systemd/system",           "/run/systemd/system.attached", "/run/systemd/generator",
    "/usr/local/lib/systemd/system", "/usr/lib/systemd/system",      "/lib/systemd/system",
    "/run/systemd/generator.late",
};

// A unit file is small; a huge one is not a unit file and is cut short
// rather than read whole.
inline constexpr std::size_t kUnitFileLimit = 1024 * 1024;

std::vector<Instance> produceServices(const SystemContext& ctx);
std::vector<Instance> produceVideoControllers(const SystemContext& ctx);
std::vector<Instance> produceDesktops(const SystemContext& ctx);
std::vector<Instance> produceIp4Routes(const SystemContext& ctx);
std::vector<Instance> produceTimeZone(const SystemContext& ctx);

// The value of the property at `path` ("/saver/enabled") in an xfconf
// channel file, or nothing.
std::optional<std::string> xfconfValue(std::string_view xml, std::string_view path);
// xscreensaver's "H:MM:SS" timeout in seconds, or nothing when it is not
// such a time or does not fit the 32-bit property.
std::optional<std::int64_t> xscreensaverTimeout(std::string_view value);

// A service unit as the files on disk describe it.
struct ServiceUnitFile {
    std::string name;  // "ssh.service", or an instance such as "getty@tty1.service"
    std::string description;
    std::string execStart;  // first command line, without systemd's prefix characters
    std::optional<std::string> user;
    bool dynamicUser = false;
    bool installable = false;  // [Install] names something that would start it
    bool masked = false;
    bool enabled = false;  // pulled in, or aliased, by the administrator's configuration
};

// Every service unit under the system unit directories of `ctx`, by name.
std::vector<ServiceUnitFile> scanServiceUnits(const SystemContext& ctx);

// "Auto", "Manual" or "Disabled" for a unit's files.
std::string serviceStartMode(const ServiceUnitFile& unit);

// The rules of a zone as a POSIX TZ string states them ("CET-1CEST,M3.5.0,M10.5.0/3").
struct ZoneTransition {
    // Month 1-12, week of month 1-5 (5 = last), day of week 0-6 (Sunday = 0).
    // Missing when the rule names a day of the year, which has no such form.
    std::optional<int> month, week, dayOfWeek;
    int seconds = 7200;  // local time of day of the change, may lie outside 0..86399
};
struct PosixZone {
    std::string standardName;
    int standardOffset = 0;  // seconds to add to local standard time to get UTC
    std::optional<std::string> daylightName;
    int daylightOffset = 0;
    ZoneTransition toDaylight, toStandard;
};
std::optional<PosixZone> parsePosixTz(std::string_view tz);

// The footer of a TZif file (version 2 and later): its POSIX TZ string.
// For a version 1 file, the zone's last local time type as a rule without
// daylight saving. Nothing when the data is not a TZif file.
std::optional<std::string> tzifRule(std::string_view data);

}  // namespace tavo::linuxwmi
