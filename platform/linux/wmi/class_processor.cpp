#include <chrono>
#include <cmath>
#include <cstdio>
#include <set>
#include <thread>
#include <tuple>

#include "platform/linux/wmi/smbios.h"
#include "platform/linux/wmi/system_classes.h"
#include "platform/linux/wmi/system_sources.h"

namespace tavo::linuxwmi {

namespace {

// Windows averages the load over a short window too; one sample of
// /proc/stat would only give the average since boot.
constexpr auto kLoadSampleInterval = std::chrono::milliseconds(200);

// Architecture codes of the class.
std::optional<int> architectureCode(const std::string& m) {
    if (m == "x86_64") return 9;
    if (m.size() == 4 && m[0] == 'i' && m.substr(2) == "86") return 0;
    if (m == "aarch64" || m == "arm64") return 12;
    if (m.starts_with("arm")) return 5;
    if (m.starts_with("ppc")) return 3;
    if (m.starts_with("mips")) return 1;
    if (m == "ia64") return 6;
    if (m == "alpha") return 2;
    return std::nullopt;
}

std::optional<long long> toLong(const std::string& s) {
    try {
        std::size_t used = 0;
        const long long v = std::stoll(s, &used);
        if (used != s.size()) return std::nullopt;
        return v;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<std::string> field(const CpuInfoBlock* b, const char* key) {
    if (!b) return std::nullopt;
    auto it = b->find(key);
    if (it == b->end() || it->second.empty()) return std::nullopt;
    return it->second;
}

bool hasFlag(const CpuInfoBlock* b, std::initializer_list<const char*> flags) {
    auto f = field(b, "flags");
    if (!f) return false;
    const std::string padded = " " + *f + " ";
    for (const char* flag : flags) {
        if (padded.find(" " + std::string(flag) + " ") != std::string::npos) return true;
    }
    return false;
}

std::string cpuDir(int cpu) {
    return "/sys/devices/system/cpu/cpu" + std::to_string(cpu);
}

// Sysfs writes cache sizes as "512K" or "32M"; the class counts in KB.
std::optional<std::uint64_t> cacheSizeKb(const std::string& text) {
    if (text.empty()) return std::nullopt;
    std::uint64_t mult = 1;
    std::string digits = text;
    const char unit = digits.back();
    if (unit == 'K' || unit == 'k') {
        digits.pop_back();
    } else if (unit == 'M' || unit == 'm') {
        mult = 1024;
        digits.pop_back();
    } else if (unit == 'G' || unit == 'g') {
        mult = 1024 * 1024;
        digits.pop_back();
    } else {
        // Plain bytes.
        auto v = toLong(digits);
        if (!v || *v < 0) return std::nullopt;
        return static_cast<std::uint64_t>(*v) / 1024;
    }
    auto v = toLong(digits);
    if (!v || *v < 0) return std::nullopt;
    return static_cast<std::uint64_t>(*v) * mult;
}

// Total size of the level-`level` caches the socket's processors use: each
// cache counted once however many processors share it.
std::optional<std::uint64_t> socketCacheKb(const SystemContext& ctx, const CpuSocket& s,
                                           int level) {
    std::set<std::tuple<std::string, std::string>> seen;  // (type, shared_cpu_list)
    std::uint64_t total = 0;
    bool found = false;
    for (int cpu : s.cpus) {
        for (int index = 0; index < 16; ++index) {
            const std::string dir = cpuDir(cpu) + "/cache/index" + std::to_string(index);
            const auto lvl = readAttribute(ctx, dir + "/level");
            if (!lvl) break;
            if (toLong(*lvl) != level) continue;
            const auto type = readAttribute(ctx, dir + "/type").value_or("Unified");
            if (type == "Instruction") continue;
            const auto shared =
                readAttribute(ctx, dir + "/shared_cpu_list").value_or("cpu" + std::to_string(cpu));
            const auto size = readAttribute(ctx, dir + "/size");
            if (!size) continue;
            const auto kb = cacheSizeKb(*size);
            if (!kb || !seen.insert({type, shared}).second) continue;
            total += *kb;
            found = true;
        }
    }
    if (!found) return std::nullopt;
    return total;
}

std::optional<long long> frequencyMhz(const SystemContext& ctx, int cpu, const char* file) {
    const auto khz = readAttribute(ctx, cpuDir(cpu) + "/cpufreq/" + file);
    if (!khz) return std::nullopt;
    auto v = toLong(*khz);
    if (!v || *v <= 0) return std::nullopt;
    return (*v + 500) / 1000;
}

// What the firmware's processor record (SMBIOS type 4) adds: the family
// code Windows reports (not the CPUID family), the CPUID signature, the
// socket's name, bus clock, voltage and the part's own labels.
void setFromSmbios(Instance& p, const SmbiosStructure& t) {
    if (auto name = t.stringAt(0x04)) p.set("SocketDesignation", *name);
    if (auto family = t.byteAt(0x06)) {
        // 0xFE: the code is in the wider "Processor Family 2" field.
        if (*family == 0xFE) {
            if (auto wide = t.wordAt(0x28)) p.setInt("Family", *wide);
        } else {
            p.setInt("Family", *family);
        }
    }
    if (auto id = t.qwordAt(0x08); id && *id != 0) {
        // Windows writes EDX before EAX of CPUID leaf 1.
        char buf[17];
        std::snprintf(buf, sizeof buf, "%08X%08X", static_cast<unsigned>(*id >> 32),
                      static_cast<unsigned>(*id & 0xffffffffu));
        p.set("ProcessorId", std::string(buf));
    }
    if (auto volt = t.byteAt(0x11)) {
        if (*volt & 0x80) {
            p.setInt("CurrentVoltage", *volt & 0x7f);  // tenths of a volt
        } else if (*volt & 0x0f) {
            p.setInt("VoltageCaps", *volt & 0x0f);
        }
    }
    if (auto clock = t.wordAt(0x12); clock && *clock != 0) p.setInt("ExtClock", *clock);
    if (auto status = t.byteAt(0x18)) p.setInt("CpuStatus", *status & 0x07);
    if (auto upgrade = t.byteAt(0x19)) p.setInt("UpgradeMethod", *upgrade);
    if (auto v = t.stringAt(0x20)) p.set("SerialNumber", *v);
    if (auto v = t.stringAt(0x21)) p.set("AssetTag", *v);
    if (auto v = t.stringAt(0x22)) p.set("PartNumber", *v);
    if (auto c = t.wordAt(0x26)) p.setInt("Characteristics", *c);
}

}  // namespace

std::vector<Instance> processorInstances(const SystemContext& ctx) {
    const auto blocks = parseCpuInfo(ctx.readFile("/proc/cpuinfo").value_or(""));
    if (blocks.empty()) return {};

    std::map<int, int> packageOf;
    std::map<int, std::string> sysCoreId;
    for (const auto& b : blocks) {
        const auto cpu = toLong(b.at("processor"));
        if (!cpu) continue;
        const int n = static_cast<int>(*cpu);
        if (auto p = readAttribute(ctx, cpuDir(n) + "/topology/physical_package_id")) {
            if (auto v = toLong(*p)) packageOf[n] = static_cast<int>(*v);
        }
        if (auto c = readAttribute(ctx, cpuDir(n) + "/topology/core_id")) sysCoreId[n] = *c;
    }
    const auto sockets = groupSockets(blocks, packageOf);

    const auto machine = machineArchitecture(ctx);
    const bool x86 = field(blocks.data(), "vendor_id").has_value();

    // Two samples of the counters, shared by every socket.
    std::optional<std::map<int, CpuTimes>> before;
    std::optional<std::map<int, CpuTimes>> after;
    if (auto first = ctx.readFile("/proc/stat")) {
        before = parseProcStatCpus(*first);
        // Another computer's second sample was taken there, a moment after
        // its first; waiting here would only add to the pass.
        if (ctx.system()->isRunningMachine()) std::this_thread::sleep_for(kLoadSampleInterval);
        if (auto second = ctx.readFile("/proc/stat")) after = parseProcStatCpus(*second);
    }

    // Firmware lists one record per socket, empty sockets included; the
    // populated ones follow the kernel's package order.
    std::vector<SmbiosStructure> firmware;
    for (auto& t : readSmbiosTable(ctx)) {
        if (t.type == 4 && t.byteAt(0x18).value_or(0) & 0x40) firmware.push_back(std::move(t));
    }

    std::vector<Instance> out;
    const std::string computer = ctx.computerName();
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        const CpuSocket& s = sockets[i];
        const CpuInfoBlock* b = s.first;
        Instance p("Win32_Processor");
        p.set("DeviceID", "CPU" + std::to_string(i));
        p.set("CreationClassName", "Win32_Processor");
        p.set("SystemCreationClassName", "Win32_ComputerSystem");
        p.set("SystemName", computer);
        p.set("Role", "CPU");
        p.setInt("ProcessorType", 3);  // central processor
        p.set("Status", "OK");
        // Only online processors are listed, so the package is enabled and running.
        p.setInt("CpuStatus", 1);
        p.setInt("Availability", 3);
        p.setInt("StatusInfo", 3);

        const auto name = field(b, "model name");
        if (name) p.set("Name", *name);
        const auto vendor = field(b, "vendor_id");
        if (vendor) p.set("Manufacturer", *vendor);

        const auto family = field(b, "cpu family");
        const auto model = field(b, "model");
        const auto stepping = field(b, "stepping");
        const bool longMode = hasFlag(b, {"lm"});
        if (x86 && family && model && stepping) {
            std::string arch = "x86";
            if (longMode && vendor == "GenuineIntel") arch = "Intel64";
            if (longMode && vendor == "AuthenticAMD") arch = "AMD64";
            const std::string caption =
                arch + " Family " + *family + " Model " + *model + " Stepping " + *stepping;
            p.set("Caption", caption);
            p.set("Description", caption);
            auto m = toLong(*model);
            auto st = toLong(*stepping);
            if (m && st && *m >= 0 && *m < 256 && *st >= 0 && *st < 256) {
                p.setInt("Revision", *m * 256 + *st);
            }
        } else if (name) {
            p.set("Caption", *name);
            p.set("Description", *name);
        }
        if (family) {
            if (auto f = toLong(*family); f && *f >= 0 && *f < 65536) p.setInt("Level", *f);
        }
        if (stepping) p.set("Stepping", *stepping);

        // Cores: distinct core ids, from cpuinfo or else from sysfs topology.
        std::set<std::string> cores(s.coreIds.begin(), s.coreIds.end());
        if (cores.empty()) {
            for (int cpu : s.cpus) {
                if (auto it = sysCoreId.find(cpu); it != sysCoreId.end()) cores.insert(it->second);
            }
        }
        if (!cores.empty()) {
            p.setInt("NumberOfCores", static_cast<std::int64_t>(cores.size()));
            p.setInt("NumberOfEnabledCore", static_cast<std::int64_t>(cores.size()));
        }
        p.setInt("NumberOfLogicalProcessors", static_cast<std::int64_t>(s.cpus.size()));
        p.setInt("ThreadCount", static_cast<std::int64_t>(s.cpus.size()));

        const int firstCpu = s.cpus.front();
        if (auto mhz = frequencyMhz(ctx, firstCpu, "cpuinfo_max_freq")) {
            p.setInt("MaxClockSpeed", *mhz);
        }
        if (auto mhz = frequencyMhz(ctx, firstCpu, "scaling_cur_freq")) {
            p.setInt("CurrentClockSpeed", *mhz);
        } else if (auto text = field(b, "cpu MHz")) {
            try {
                p.setInt("CurrentClockSpeed", std::llround(std::stod(*text)));
            } catch (const std::exception&) {
                // Unreadable figure: stays null.
            }
        }
        if (auto kb = socketCacheKb(ctx, s, 2))
            p.setInt("L2CacheSize", static_cast<std::int64_t>(*kb));
        if (auto kb = socketCacheKb(ctx, s, 3))
            p.setInt("L3CacheSize", static_cast<std::int64_t>(*kb));

        if (machine) {
            if (auto code = architectureCode(*machine)) p.setInt("Architecture", *code);
            p.setInt("AddressWidth", is64BitMachine(*machine) ? 64 : 32);
            if (x86) {
                p.setInt("DataWidth", longMode ? 64 : 32);
            } else {
                p.setInt("DataWidth", is64BitMachine(*machine) ? 64 : 32);
            }
        }
        if (field(b, "flags")) {
            p.set("VMMonitorModeExtensions", hasFlag(b, {"vmx", "svm"}));
            p.set("SecondLevelAddressTranslationExtensions", hasFlag(b, {"ept", "npt"}));
        }
        if (firmware.size() == sockets.size()) setFromSmbios(p, firmware[i]);
        if (before && after) {
            if (auto load = loadPercentage(*before, *after, s.cpus))
                p.setInt("LoadPercentage", *load);
        }
        out.push_back(std::move(p));
    }
    return out;
}

}  // namespace tavo::linuxwmi
