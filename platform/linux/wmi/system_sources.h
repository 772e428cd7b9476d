#pragma once

#include <charconv>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/wmi/system_context.h"

// Pure parsers for the text the system classes read (/etc/os-release,
// /proc/cpuinfo, /proc/meminfo, /proc/stat, utmp) plus the few lookups that
// several of those classes share. Parsers take the file's text so tests can
// feed them fixtures directly.
namespace tavo::linuxwmi {

// KEY=VALUE lines with shell-style quoting (os-release, machine-info,
// locale.conf). Comments and malformed lines are skipped.
std::map<std::string, std::string> parseShellAssignments(std::string_view text);

// "MemTotal:  16316412 kB" lines: name -> value in kB (or a plain count).
std::map<std::string, std::uint64_t> parseMemInfo(std::string_view text);

// One logical processor of /proc/cpuinfo: its "key : value" fields.
using CpuInfoBlock = std::map<std::string, std::string>;
std::vector<CpuInfoBlock> parseCpuInfo(std::string_view text);

// The logical processors of one physical package (socket).
struct CpuSocket {
    int packageId = 0;
    std::vector<int> cpus;                // logical processor numbers, ascending
    std::vector<std::string> coreIds;     // distinct core ids seen
    const CpuInfoBlock* first = nullptr;  // the socket's first processor block
};
// Groups processors by "physical id"; processors without one (most ARM
// systems) fall back to `packageOf(cpu)` and else to package 0.
std::vector<CpuSocket> groupSockets(const std::vector<CpuInfoBlock>& blocks,
                                    const std::map<int, int>& packageOf = {});

// Per-CPU jiffies from /proc/stat "cpuN" lines: busy and total.
struct CpuTimes {
    std::uint64_t busy = 0;
    std::uint64_t total = 0;
};
std::map<int, CpuTimes> parseProcStatCpus(std::string_view text);
// "btime" of /proc/stat: the boot moment in seconds since the epoch.
std::optional<std::int64_t> parseBootTime(std::string_view text);
// Busy share of `cpus` between two samples in percent, or nothing when no
// time passed between them.
std::optional<int> loadPercentage(const std::map<int, CpuTimes>& before,
                                  const std::map<int, CpuTimes>& after,
                                  const std::vector<int>& cpus);

// Logged-in sessions in a utmp file (the same count `uptime` reports).
int countUtmpSessions(std::string_view data);
// The user of the first session on a local display or console, or nothing.
std::optional<std::string> consoleUserFromUtmp(std::string_view data);

// "MM/DD/YYYY" as firmware writes dates -> DMTF datetime at midnight UTC.
std::optional<std::string> dmtfFromFirmwareDate(std::string_view text);

// "0-3,8,10-11" -> {0,1,2,3,8,10,11}.
std::vector<int> parseCpuList(std::string_view text);

// Trimmed text of a one-line file (sysfs attributes), nothing when absent
// or empty.
std::optional<std::string> readAttribute(const SystemContext& ctx, std::string_view absolute);

// The machine's architecture as uname reports it ("x86_64", "aarch64").
std::optional<std::string> machineArchitecture(const SystemContext& ctx);
// True for architectures whose kernel is 64-bit.
bool is64BitMachine(std::string_view machine);

// The user name for a uid from the root's /etc/passwd.
std::optional<std::string> userNameForUid(const SystemContext& ctx, unsigned uid);

}  // namespace tavo::linuxwmi
