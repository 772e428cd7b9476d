#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string_view>

#include "platform/linux/wmi/system_classes.h"
#include "platform/linux/wmi/system_sources.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace {

constexpr int kOsTypeLinux = 36;

std::map<std::string, std::string> osRelease(const SystemContext& ctx) {
    // /etc/os-release is usually a link to this one; either may be missing.
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        if (auto text = ctx.readFile(path, 64 * 1024)) return parseShellAssignments(*text);
    }
    return {};
}

std::optional<std::string> osCaption(const SystemContext& ctx) {
    const auto rel = osRelease(ctx);
    if (auto it = rel.find("PRETTY_NAME"); it != rel.end() && !it->second.empty())
        return it->second;
    auto name = rel.find("NAME");
    if (name != rel.end() && !name->second.empty()) {
        if (auto v = rel.find("VERSION"); v != rel.end() && !v->second.empty()) {
            return name->second + " " + v->second;
        }
        return name->second;
    }
    return readAttribute(ctx, "/proc/sys/kernel/ostype");
}

int processCount(const SystemContext& ctx) {
    int n = 0;
    for (const std::string& name : ctx.names("/proc")) {
        if (!name.empty() && std::all_of(name.begin(), name.end(),
                                         [](unsigned char c) { return std::isdigit(c); })) {
            ++n;
        }
    }
    return n;
}

std::optional<std::string> utmpData(const SystemContext& ctx) {
    for (const char* path : {"/run/utmp", "/var/run/utmp"}) {
        if (auto data = ctx.readFile(path)) return data;
    }
    return std::nullopt;
}

// The language part of the system locale ("en_US" of "en_US.UTF-8"), and
// its character set.
std::pair<std::optional<std::string>, std::optional<std::string>> systemLocale(
    const SystemContext& ctx) {
    for (const char* path : {"/etc/locale.conf", "/etc/default/locale"}) {
        auto text = ctx.readFile(path, 64 * 1024);
        if (!text) continue;
        const auto vars = parseShellAssignments(*text);
        auto it = vars.find("LANG");
        if (it == vars.end() || it->second.empty()) continue;
        std::string lang = it->second;
        if (auto at = lang.find('@'); at != std::string::npos) lang.resize(at);
        std::optional<std::string> codeset;
        if (auto dot = lang.find('.'); dot != std::string::npos) {
            codeset = lang.substr(dot + 1);
            lang.resize(dot);
        }
        return {lang, codeset};
    }
    return {};
}

// The kernel's build count, the digits of "#1 SMP PREEMPT_DYNAMIC ...":
// like Windows' build number, a count and nothing else.
std::optional<std::string> kernelBuildNumber(std::string_view version) {
    if (version.empty() || version.front() != '#') return std::nullopt;
    const auto end = version.find_first_not_of("0123456789", 1);
    const std::string_view digits =
        version.substr(1, end == std::string_view::npos ? end : end - 1);
    if (digits.empty()) return std::nullopt;
    return std::string(digits);
}

// The Windows locale identifier (LCID, four hex digits as WMI writes it) of
// a language and country ("de_DE"), for the locales a system commonly runs in.
std::optional<std::string> windowsLocaleId(std::string_view locale) {
    static const std::map<std::string_view, std::string_view> kIds = {
        {"ar_SA", "0401"}, {"cs_CZ", "0405"}, {"da_DK", "0406"}, {"de_AT", "0c07"},
        {"de_CH", "0807"}, {"de_DE", "0407"}, {"el_GR", "0408"}, {"en_AU", "0c09"},
        {"en_CA", "1009"}, {"en_GB", "0809"}, {"en_IE", "1809"}, {"en_IN", "4009"},
        {"en_NZ", "1409"}, {"en_US", "0409"}, {"en_ZA", "1c09"}, {"es_ES", "0c0a"},
        {"es_MX", "080a"}, {"fi_FI", "040b"}, {"fr_BE", "080c"}, {"fr_CA", "0c0c"},
        {"fr_CH", "100c"}, {"fr_FR", "040c"}, {"he_IL", "040d"}, {"hu_HU", "040e"},
        {"it_IT", "0410"}, {"ja_JP", "0411"}, {"ko_KR", "0412"}, {"nb_NO", "0414"},
        {"nl_BE", "0813"}, {"nl_NL", "0413"}, {"pl_PL", "0415"}, {"pt_BR", "0416"},
        {"pt_PT", "0816"}, {"ro_RO", "0418"}, {"ru_RU", "0419"}, {"sk_SK", "041b"},
        {"sv_SE", "041d"}, {"th_TH", "041e"}, {"tr_TR", "041f"}, {"uk_UA", "0422"},
        {"vi_VN", "042a"}, {"zh_CN", "0804"}, {"zh_HK", "0c04"}, {"zh_TW", "0404"},
    };
    const auto it = kIds.find(locale);
    if (it == kIds.end()) return std::nullopt;
    return std::string(it->second);
}

// The Windows code page of a character set name as locales spell it.
std::optional<std::string> windowsCodePage(std::string_view codeset) {
    std::string name;
    for (char c : codeset) {
        if (c != '-' && c != '_') name += text::toLower(c);
    }
    static const std::map<std::string_view, std::string_view> kPages = {
        {"utf8", "65001"},     {"iso88591", "28591"}, {"iso88592", "28592"},
        {"iso88595", "28595"}, {"iso88597", "28597"}, {"iso885915", "28605"},
        {"koi8r", "20866"},    {"koi8u", "21866"},    {"eucjp", "20932"},
        {"gb2312", "936"},     {"gbk", "936"},        {"big5", "950"},
        {"cp1251", "1251"},    {"cp1252", "1252"},    {"ansix3.41968", "20127"},
    };
    const auto it = kPages.find(name);
    if (it == kPages.end()) return std::nullopt;
    return std::string(it->second);
}

// The device mounted at "/" (the last such mount wins: it is the one on top).
std::optional<std::string> rootDevice(const SystemContext& ctx) {
    auto text = ctx.readFile("/proc/self/mountinfo");
    if (!text) return std::nullopt;
    std::optional<std::string> device;
    std::string_view rest = *text;
    while (!rest.empty()) {
        const auto nl = rest.find('\n');
        const std::string_view line = rest.substr(0, nl);
        rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
        // id parent major:minor root mountpoint ... - fstype source options
        std::vector<std::string_view> f;
        std::size_t i = 0;
        while (i < line.size() && f.size() < 5) {
            const auto sp = line.find(' ', i);
            f.push_back(line.substr(i, sp - i));
            if (sp == std::string_view::npos) break;
            i = sp + 1;
        }
        if (f.size() < 5 || f[4] != "/") continue;
        const auto sep = line.find(" - ");
        if (sep == std::string_view::npos) continue;
        std::string_view tail = line.substr(sep + 3);
        const auto sp1 = tail.find(' ');
        if (sp1 == std::string_view::npos) continue;
        tail.remove_prefix(sp1 + 1);
        device = std::string(tail.substr(0, tail.find(' ')));
    }
    return device;
}

// When the root filesystem was made: the best record of the installation a
// Linux system keeps. Filesystems that do not record it give nothing.
std::optional<std::string> installDate(const SystemContext& ctx) {
    const auto view = ctx.system();
    const auto born = view->birthTime("/");
    if (!born) return std::nullopt;
    return view->dmtfLocal(born->seconds, born->microseconds);
}

bool hasCpuFlag(const std::vector<CpuInfoBlock>& cpus, std::string_view flag) {
    if (cpus.empty()) return false;
    auto it = cpus.front().find("flags");
    if (it == cpus.front().end()) return false;
    const std::string padded = " " + it->second + " ";
    return padded.find(" " + std::string(flag) + " ") != std::string::npos;
}

}  // namespace

std::vector<Instance> operatingSystemInstances(const SystemContext& ctx) {
    Instance os("Win32_OperatingSystem");
    const std::string computer = ctx.computerName();

    const auto caption = osCaption(ctx);
    if (caption) {
        os.set("Caption", *caption);
        os.set("Name", *caption);
    }
    // The kernel is what moves with every update; the distribution's own
    // version is already part of the caption.
    if (auto release = readAttribute(ctx, "/proc/sys/kernel/osrelease"))
        os.set("Version", *release);
    if (auto version = readAttribute(ctx, "/proc/sys/kernel/version")) {
        if (auto build = kernelBuildNumber(*version)) os.set("BuildNumber", *build);
    }
    if (auto vendor = osRelease(ctx); vendor.contains("VENDOR_NAME")) {
        os.set("Manufacturer", vendor["VENDOR_NAME"]);
    }
    os.setInt("OSType", kOsTypeLinux);
    os.set("CreationClassName", "Win32_OperatingSystem");
    os.set("CSCreationClassName", "Win32_ComputerSystem");
    os.set("CSName", computer);
    os.set("Status", "OK");
    os.set("Primary", true);
    os.set("SystemDrive", "/");
    if (auto dev = rootDevice(ctx)) os.set("SystemDevice", *dev);

    if (auto machine = machineArchitecture(ctx)) {
        os.set("OSArchitecture", is64BitMachine(*machine) ? "64-bit" : "32-bit");
    }
    const auto cpus = parseCpuInfo(ctx.readFile("/proc/cpuinfo").value_or(""));
    if (!cpus.empty() && cpus.front().contains("flags")) {
        os.set("DataExecutionPrevention_Available", hasCpuFlag(cpus, "nx"));
    }

    if (auto stat = ctx.readFile("/proc/stat")) {
        if (auto boot = parseBootTime(*stat)) {
            os.set("LastBootUpTime", ctx.system()->dmtfLocal(*boot, 0));
        }
    }
    os.set("LocalDateTime", ctx.system()->dmtfLocal(ctx.system()->now(), 0));
    os.setInt("CurrentTimeZone", ctx.system()->utcOffsetMinutes());
    if (auto date = installDate(ctx)) os.set("InstallDate", *date);

    // WMI states these as a Windows locale identifier and code page; a
    // locale or character set without one stays null.
    if (auto [locale, codeset] = systemLocale(ctx); locale) {
        if (auto id = windowsLocaleId(*locale)) os.set("Locale", *id);
        if (codeset) {
            if (auto page = windowsCodePage(*codeset)) os.set("CodeSet", *page);
        }
    }
    if (auto info = ctx.readFile("/etc/machine-info", 64 * 1024)) {
        const auto vars = parseShellAssignments(*info);
        if (auto it = vars.find("PRETTY_HOSTNAME"); it != vars.end() && !it->second.empty()) {
            os.set("Description", it->second);
        }
    }
    if (auto id = readAttribute(ctx, "/etc/machine-id")) os.set("SerialNumber", *id);

    // Memory figures in kB, as Windows gives them.
    if (auto text = ctx.readFile("/proc/meminfo")) {
        const auto mem = parseMemInfo(*text);
        const auto get = [&](const char* k) -> std::optional<std::uint64_t> {
            auto it = mem.find(k);
            return it == mem.end() ? std::nullopt : std::optional(it->second);
        };
        const auto total = get("MemTotal");
        // "Available" counts the cache the kernel gives back on demand, as
        // Windows counts its standby list; old kernels only know MemFree.
        const auto free = get("MemAvailable") ? get("MemAvailable") : get("MemFree");
        const auto swapTotal = get("SwapTotal");
        const auto swapFree = get("SwapFree");
        if (total) os.setUInt64("TotalVisibleMemorySize", *total);
        if (free) os.setUInt64("FreePhysicalMemory", *free);
        if (swapTotal) {
            os.setUInt64("SizeStoredInPagingFiles", *swapTotal);
            os.setUInt64("TotalSwapSpaceSize", *swapTotal);
        }
        if (swapFree) os.setUInt64("FreeSpaceInPagingFiles", *swapFree);
        if (total && swapTotal) os.setUInt64("TotalVirtualMemorySize", *total + *swapTotal);
        if (free && swapFree) os.setUInt64("FreeVirtualMemory", *free + *swapFree);
    }

    os.setInt("NumberOfProcesses", processCount(ctx));
    if (auto utmp = utmpData(ctx)) os.setInt("NumberOfUsers", countUtmpSessions(*utmp));
    if (auto pidMax = readAttribute(ctx, "/proc/sys/kernel/pid_max")) {
        try {
            os.setInt("MaxNumberOfProcesses", std::stoll(*pidMax));
        } catch (const std::exception&) {
            // Not a number: leave it null rather than guess.
        }
    }

    std::vector<Instance> out;
    out.push_back(std::move(os));
    return out;
}

}  // namespace tavo::linuxwmi
