#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/wmi/instance.h"
#include "platform/linux/wmi/system_context.h"

// The producers of the inventory classes, each in its own class_*.cpp, and
// the parsers they are built on (declared here so tests reach them directly).
namespace tavo::linuxwmi {

// Win32_Battery: the system's batteries from /sys/class/power_supply
// (type "Battery"; peripheral batteries such as a mouse's are left out).
std::vector<Instance> produceBatteries(const SystemContext& ctx);

// One SMBIOS memory device record (type 17) as the firmware wrote it; a
// field the record is too short for, or marks unknown, is empty.
struct MemoryDevice {
    int index = 0;                           // position among the table's memory device records
    std::optional<std::uint64_t> sizeBytes;  // empty: size unknown
    bool populated = false;
    std::optional<std::uint16_t> totalWidth, dataWidth;
    std::uint8_t formFactor = 0;
    std::uint8_t memoryType = 0;
    std::uint16_t typeDetail = 0;
    std::optional<std::uint32_t> speed, configuredSpeed;
    std::optional<std::uint8_t> rank;
    std::optional<std::uint16_t> minVoltage, maxVoltage, configuredVoltage;
    std::optional<std::string> deviceLocator, bankLocator, manufacturer, serialNumber, partNumber;
};

// Every type 17 record of a raw SMBIOS structure table, populated or not.
// A truncated or malformed table yields the records before the fault.
std::vector<MemoryDevice> parseSmbiosMemoryDevices(std::string_view table);

// Win32_PhysicalMemory: one per populated slot, from the firmware's table
// at /sys/firmware/dmi/tables/DMI (readable by root only). No table, no instances.
std::vector<Instance> producePhysicalMemory(const SystemContext& ctx);

// One package record of the dpkg database, with the fields the programs
// list shows. Views point into the text that was parsed.
struct DpkgPackage {
    std::string_view name, version, architecture, maintainer, summary, homepage, origin;
    std::string_view state;  // third word of Status: "installed", "config-files"...
};

// Every record of a dpkg status file, in file order. Continuation lines of
// multi-line fields are skipped except that Description keeps its first line.
std::vector<DpkgPackage> parseDpkgStatus(std::string_view text);

// Win32_Product: one per package present on the system, from
// /var/lib/dpkg/status and the install time of its file list in
// /var/lib/dpkg/info.
std::vector<Instance> produceProducts(const SystemContext& ctx);

struct PasswdEntry {
    std::string name, password, gecos, home, shell;
    std::uint32_t uid = 0, gid = 0;
};

struct ShadowEntry {
    std::string name, password;
    std::optional<std::int64_t> minDays, maxDays, expireDay;
};

struct GroupEntry {
    std::string name;
    std::uint32_t gid = 0;
};

// The account files' lines that name an account; comments, NIS "+"/"-"
// lines and lines with missing or non-numeric fields are left out.
std::vector<PasswdEntry> parsePasswd(std::string_view text);
std::vector<ShadowEntry> parseShadow(std::string_view text);
std::vector<GroupEntry> parseGroup(std::string_view text);

// The person's name in a GECOS field: its first comma-separated part, with
// "&" standing for the login name capitalised, as finger reads it.
std::string fullNameFromGecos(std::string_view gecos, std::string_view login);

// pam_faillock's settings (/etc/security/faillock.conf), with its defaults.
struct FaillockRules {
    std::string dir = "/var/run/faillock";
    std::int64_t deny = 3;
    std::int64_t failInterval = 900;  // seconds
    std::int64_t unlockTime = 600;    // seconds; 0 never unlocks by itself
    std::int64_t rootUnlockTime = 600;
    bool rootUnlockTimeSet = false;
    bool evenDenyRoot = false;
};
FaillockRules parseFaillockConf(std::string_view text);
// Whether a user's failure tally (the raw records) locks the account at `now`.
bool tallyLocksOut(std::string_view tally, const FaillockRules& rules, bool isRoot,
                   std::int64_t now);

// Win32_UserAccount from /etc/passwd and, where readable, /etc/shadow.
std::vector<Instance> produceUserAccounts(const SystemContext& ctx);
// Win32_Group from /etc/group.
std::vector<Instance> produceGroups(const SystemContext& ctx);
// Win32_SystemAccount: the well-known principals that Linux permissions and
// Samba's ACLs mean here (everyone, a file's owner, its owning group).
std::vector<Instance> produceSystemAccounts(const SystemContext& ctx);
// Win32_Account: the users, the groups, then the system accounts, each of its own class.
std::vector<Instance> produceAccounts(const SystemContext& ctx);

// True for the /sys/block names of whole disks: sd*, nvme<c>n<ns>, vd*, xvd*,
// hd*, mmcblk<n>; false for loop, ram, zram, device-mapper and md devices,
// NVMe multipath paths and an MMC card's boot and RPMB areas.
bool isWholeDiskName(std::string_view name);

// Win32_DiskDrive: one per whole disk in /sys/block.
std::vector<Instance> produceDiskDrives(const SystemContext& ctx);

struct ShareEntry {
    std::string name, path, description;
    std::uint32_t type = 0;  // 0 disk, 1 print queue, 3 IPC; the high bit marks an admin share
    std::optional<std::uint32_t> maximum;  // empty: no limit
};

// The shares a Samba configuration defines, with [global]'s share settings
// as defaults, plus the IPC$ share Samba always serves. `readInclude` gives
// the text of an "include" file, or nothing; `hostName` stands for %h in the
// server string.
// One share that a user made with `net usershare` (a file in Samba's
// usershare folder): "path=", "comment=" and, from version 2, "sharename="
// with the name's own letter case. Nothing when the file holds no path.
std::optional<ShareEntry> parseUsershare(std::string_view fileName, std::string_view text);

using IncludeReader = std::function<std::optional<std::string>(const std::string& path)>;
std::vector<ShareEntry> parseSmbConf(std::string_view text, const IncludeReader& readInclude = {},
                                     std::string_view hostName = {});

// The directories an NFS exports file shares, each named by its path and
// described by its clients and options.
std::vector<ShareEntry> parseExports(std::string_view text);

// Win32_Share: Samba's shares (/etc/samba/smb.conf) and NFS exports
// (/etc/exports, /etc/exports.d/*.exports). Neither present: no instances.
std::vector<Instance> produceShares(const SystemContext& ctx);

}  // namespace tavo::linuxwmi
