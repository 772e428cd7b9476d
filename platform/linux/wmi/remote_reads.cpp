// What each class reads on another computer, declared up front so that one
// script fetches it in the pass's first round trip. Anything a class reads
// beyond this is found when it runs over the snapshot and fetched in a
// later round (and remembered for the next pass).

#include "platform/linux/wmi/core_classes.h"
#include "platform/linux/wmi/remote_provider.h"
#include "platform/linux/wmi/service_classes.h"
#include "schema/schema.h"
#include "support/text.h"

namespace tavo::linuxwmi::remote_view {

namespace {

Request file(std::string path, std::size_t limit = kDefaultReadLimit) {
    return {Kind::Read, std::move(path), limit, false};
}
Request pattern(Kind kind, std::string glob, std::size_t limit = 0) {
    return {kind, std::move(glob), limit, true};
}

}  // namespace

Requests declaredReads(std::string_view className) {
    Requests r{
        {Kind::Command, std::string(kFacts), 0, false},
        {Kind::Command, std::string(kMachine), 0, false},
        file("/proc/sys/kernel/hostname"),
        // The zone's rules, for the local time of moments other than now.
        file("/etc/localtime", 1024 * 1024),
    };
    if (text::equalsIgnoreCase(className, "Win32_Process")) {
        r.insert({Kind::List, "/proc", 0, false});
        // Separate words, so every stat comes before the first command line:
        // a command line is the read that can hang (a process in D state).
        for (const char* f : {"stat", "status", "io"})
            r.insert(pattern(Kind::Read, std::string("/proc/[0-9]*/") + f, kProcFileLimit));
        // Command lines in a batch of their own, at their own limit: the
        // read that can hang, and the one another user can make huge.
        r.insert(pattern(Kind::Read, "/proc/[0-9]*/cmdline", kCommandLineRead));
        r.insert(pattern(Kind::Link, "/proc/[0-9]*/exe"));
        r.insert(pattern(Kind::Count, "/proc/[0-9]*/fd"));
        for (const char* f : {"/proc/stat", "/etc/os-release", "/usr/lib/os-release"})
            r.insert(file(f));
    } else if (text::equalsIgnoreCase(className, "Win32_LogicalDisk")) {
        r.insert(file("/proc/self/mountinfo"));
        r.insert(file("/proc/filesystems"));
        for (const char* d : {"/dev/disk/by-label", "/dev/disk/by-uuid"}) {
            r.insert({Kind::List, d, 0, false});
            r.insert(pattern(Kind::Link, std::string(d) + "/*"));
        }
        r.insert(pattern(Kind::Canon, "/sys/dev/block/*"));
    } else if (text::equalsIgnoreCase(className, "Win32_Service")) {
        r.insert({Kind::Command, std::string(kSystemd), 0, false});
        for (std::string_view dir : kUnitDirs) {
            const std::string d(dir);
            r.insert({Kind::List, d, 0, false});
            for (const char* w : {"/*.wants", "/*.requires", "/*.upholds", "/*.service.d"})
                r.insert(pattern(Kind::List, d + w));
            r.insert(pattern(Kind::Read, d + "/*.service", kUnitFileLimit));
            r.insert(pattern(Kind::Read, d + "/*.service.d/*.conf", kUnitFileLimit));
            r.insert(pattern(Kind::Link, d + "/*.service"));
            r.insert(pattern(Kind::Type, d + "/*"));
        }
    } else if (text::equalsIgnoreCase(className, "Win32_Product")) {
        r.insert(file("/var/lib/dpkg/status", std::size_t{1} << 30));
        r.insert(pattern(Kind::MTime, "/var/lib/dpkg/info/*.list"));
    } else if (text::equalsIgnoreCase(className, "Win32_Processor")) {
        r.insert(file("/proc/stat"));
        r.insert(file("/proc/cpuinfo"));
        r.insert({Kind::Command, std::string(kLaterStat), 0, false});
        // Caches, topology and clocks of every processor: small sysfs files.
        for (const char* g : {"/sys/devices/system/cpu/cpu[0-9]*/cache/index[0-9]*/*",
                              "/sys/devices/system/cpu/cpu[0-9]*/topology/*",
                              "/sys/devices/system/cpu/cpu[0-9]*/cpufreq/*"})
            r.insert(pattern(Kind::Read, g, 64 * 1024));
    } else if (text::equalsIgnoreCase(className, "Win32_IP4RouteTable")) {
        r.insert(file("/proc/net/route"));
        r.insert({Kind::Command, std::string(kRoutes), 0, false});
        r.insert(pattern(Kind::Read, "/sys/class/net/*/ifindex", 64 * 1024));
    } else if (text::equalsIgnoreCase(className, "Win32_TimeZone")) {
        r.insert({Kind::Type, "/etc/localtime", 0, false});
        r.insert({Kind::Link, "/etc/localtime", 0, false});
        r.insert(file("/etc/timezone"));
    } else if (text::equalsIgnoreCase(className, "Win32_Printer") ||
               text::equalsIgnoreCase(className, "Win32_PrintJob")) {
        r.insert({Kind::Command, std::string(kPrinters), 0, false});
    } else if (text::equalsIgnoreCase(className, "Win32_NetworkAdapterConfiguration")) {
        r.insert({Kind::Command, std::string(kAddresses), 0, false});
        r.insert({Kind::List, "/sys/class/net", 0, false});
    }
    return r;
}

}  // namespace tavo::linuxwmi::remote_view
