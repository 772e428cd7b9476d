#include <algorithm>
#include <filesystem>
#include <set>

#include "platform/linux/wmi/system_classes.h"
#include "platform/linux/wmi/system_sources.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace {

// "pc.example.org" gives "example.org"; a short host name is looked up in
// /etc/hosts, where the canonical (first) name of its line carries the
// domain, which is how the resolver answers `hostname -d` in most set-ups.
std::optional<std::string> dnsDomain(const SystemContext& ctx, const std::string& host) {
    if (auto dot = host.find('.'); dot != std::string::npos && dot + 1 < host.size()) {
        return host.substr(dot + 1);
    }
    auto hosts = ctx.readFile("/etc/hosts", 1024 * 1024);
    if (!hosts || host.empty()) return std::nullopt;
    std::string_view rest = *hosts;
    while (!rest.empty()) {
        const auto nl = rest.find('\n');
        std::string line(rest.substr(0, nl));
        rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
        if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        std::vector<std::string> names;
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
            const auto start = i;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
            if (i > start) names.push_back(line.substr(start, i - start));
        }
        if (names.size() < 2) continue;  // address and at least one name
        const std::string& canonical = names[1];
        if (std::find(names.begin() + 1, names.end(), host) == names.end()) continue;
        if (canonical.starts_with(host + ".") && canonical.size() > host.size() + 1) {
            return canonical.substr(host.size() + 1);
        }
    }
    return std::nullopt;
}

// The workgroup Samba announces this computer in, when it is configured.
// A parameter of smb.conf's [global] section, by its lower-case name.
std::optional<std::string> sambaGlobal(const SystemContext& ctx, std::string_view wanted) {
    auto conf = ctx.readFile("/etc/samba/smb.conf", 1024 * 1024);
    if (!conf) return std::nullopt;
    bool inGlobal = false;
    std::string_view rest = *conf;
    while (!rest.empty()) {
        const auto nl = rest.find('\n');
        const std::string_view line = text::trim(rest.substr(0, nl));
        rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            inGlobal = text::equalsIgnoreCase(line, "[global]");
            continue;
        }
        const auto eq = line.find('=');
        if (!inGlobal || eq == std::string::npos) continue;
        if (text::equalsIgnoreCase(text::trim(std::string_view(line).substr(0, eq)), wanted)) {
            std::string value(text::trim(std::string_view(line).substr(eq + 1)));
            if (!value.empty()) return value;
        }
    }
    return std::nullopt;
}

std::optional<std::string> sambaWorkgroup(const SystemContext& ctx) {
    return sambaGlobal(ctx, "workgroup");
}

// Whether the computer is a member of a Windows or FreeIPA domain: Samba in
// a domain's security mode, or SSSD taking its identities from AD or IPA.
// Nothing when SSSD's configuration exists but cannot be read (it is
// readable by root only), since it alone could tell.
std::optional<bool> domainMember(const SystemContext& ctx) {
    if (auto security = sambaGlobal(ctx, "security")) {
        if (text::equalsIgnoreCase(*security, "ads") || text::equalsIgnoreCase(*security, "domain"))
            return true;
    }
    const auto sssd = ctx.readFile("/etc/sssd/sssd.conf", 1024 * 1024);
    if (!sssd) {
        if (ctx.exists("/etc/sssd/sssd.conf")) return std::nullopt;
        return false;
    }
    std::string_view rest = *sssd;
    while (!rest.empty()) {
        const auto nl = rest.find('\n');
        const std::string_view line = text::trim(rest.substr(0, nl));
        rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
        const auto eq = line.find('=');
        if (eq == std::string_view::npos || text::trim(line.substr(0, eq)) != "id_provider")
            continue;
        const std::string_view provider = text::trim(line.substr(eq + 1));
        if (provider == "ad" || provider == "ipa") return true;
    }
    return false;
}

// The user at the machine's own screen and keyboard: logind's active
// session on seat0, else a console or display session in utmp.
std::optional<std::string> consoleUser(const SystemContext& ctx) {
    if (auto seat = ctx.readFile("/run/systemd/seats/seat0", 64 * 1024)) {
        const auto vars = parseShellAssignments(*seat);
        if (auto it = vars.find("ACTIVE_UID"); it != vars.end()) {
            try {
                if (auto name =
                        userNameForUid(ctx, static_cast<unsigned>(std::stoul(it->second)))) {
                    return name;
                }
            } catch (const std::exception&) {
                // A malformed uid: fall through to utmp.
            }
        }
    }
    for (const char* path : {"/run/utmp", "/var/run/utmp"}) {
        if (auto data = ctx.readFile(path)) return consoleUserFromUtmp(*data);
    }
    return std::nullopt;
}

std::optional<std::string> systemType(const std::string& machine) {
    if (machine == "x86_64") return "x64-based PC";
    if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86")
        return "X86-based PC";
    if (machine == "aarch64" || machine == "arm64") return "ARM64-based PC";
    if (machine.starts_with("arm")) return "ARM-based PC";
    return machine;
}

}  // namespace

std::vector<Instance> computerSystemInstances(const SystemContext& ctx) {
    Instance cs("Win32_ComputerSystem");
    const std::string computer = ctx.computerName();
    cs.set("Name", computer);
    cs.set("Caption", computer);
    cs.set("CreationClassName", "Win32_ComputerSystem");
    cs.set("Status", "OK");

    const auto host = readAttribute(ctx, "/proc/sys/kernel/hostname");
    if (host) {
        cs.set("DNSHostName", host->substr(0, host->find('.')));
    }
    const auto domain = host ? dnsDomain(ctx, *host) : std::nullopt;
    const auto workgroup = sambaWorkgroup(ctx);
    // A computer outside a domain shows its workgroup here, as on Windows.
    if (domain) {
        cs.set("Domain", *domain);
    } else if (workgroup) {
        cs.set("Domain", *workgroup);
    }
    if (workgroup) cs.set("Workgroup", *workgroup);
    // 0 a stand-alone workstation, 1 a member workstation.
    if (auto member = domainMember(ctx)) {
        cs.set("PartOfDomain", *member);
        cs.setInt("DomainRole", *member ? 1 : 0);
    }

    if (auto v = readAttribute(ctx, "/sys/class/dmi/id/sys_vendor")) cs.set("Manufacturer", *v);
    if (auto v = readAttribute(ctx, "/sys/class/dmi/id/product_name")) cs.set("Model", *v);
    if (auto v = readAttribute(ctx, "/sys/class/dmi/id/product_family")) cs.set("SystemFamily", *v);
    if (auto v = readAttribute(ctx, "/sys/class/dmi/id/product_sku")) cs.set("SystemSKUNumber", *v);

    if (auto mem = ctx.readFile("/proc/meminfo")) {
        const auto m = parseMemInfo(*mem);
        if (auto it = m.find("MemTotal"); it != m.end()) {
            cs.setUInt64("TotalPhysicalMemory", it->second * 1024);
        }
    }

    const auto cpus = parseCpuInfo(ctx.readFile("/proc/cpuinfo").value_or(""));
    if (!cpus.empty()) {
        cs.setInt("NumberOfLogicalProcessors", static_cast<std::int64_t>(cpus.size()));
        cs.setInt("NumberOfProcessors", static_cast<std::int64_t>(groupSockets(cpus).size()));
        // x86 kernels list CPUID flags; "hypervisor" is set inside a VM.
        if (auto it = cpus.front().find("flags"); it != cpus.front().end()) {
            const std::string padded = " " + it->second + " ";
            cs.set("HypervisorPresent", padded.find(" hypervisor ") != std::string::npos);
        }
    }
    if (auto machine = machineArchitecture(ctx)) {
        if (auto type = systemType(*machine)) cs.set("SystemType", *type);
    }

    cs.setInt("CurrentTimeZone", ctx.system()->utcOffsetMinutes());
    cs.set("DaylightInEffect", ctx.system()->daylightSaving());
    if (auto user = consoleUser(ctx)) cs.set("UserName", computer + "\\" + *user);

    std::vector<Instance> out;
    out.push_back(std::move(cs));
    return out;
}

}  // namespace tavo::linuxwmi
