#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <unordered_map>

#include "platform/linux/wmi/service_classes.h"
#include "platform/linux/wmi/service_manager.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace fs = std::filesystem;

namespace {

// Where the administrator's enablement lives (symlinks made by enabling a
// unit); links in the vendor directories only make a unit static.
bool isConfigDir(std::string_view dir) {
    return dir.starts_with("/etc/") || dir.starts_with("/run/systemd/system");
}

bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool isTemplate(std::string_view name) {
    return endsWith(name, "@.service");
}

// "getty@tty1.service" -> "getty@.service"; empty for a plain name.
std::string templateOf(std::string_view name) {
    const auto at = name.find('@');
    if (at == std::string_view::npos || isTemplate(name)) return {};
    return std::string(name.substr(0, at + 1)) + ".service";
}

bool parseBool(std::string_view v) {
    return v == "1" || v == "yes" || v == "true" || v == "on" || v == "y" || v == "t";
}

struct FoundFile {
    std::string path;  // the file itself, links resolved
    std::string dir;
    std::optional<std::string> text;  // when it was read while scanning
};

struct Scan {
    std::map<std::string, FoundFile> files;  // real unit files (including templates)
    std::set<std::string> masked;
    std::set<std::string> enabled;
    std::set<std::string> seen;  // every name decided by an earlier directory
    std::set<std::string> instances;
};

// The target of a symlink found in `dir`, in the system's namespace.
std::string resolveLink(std::string_view dir, const std::string& target) {
    if (!target.empty() && target.front() == '/') return target;
    return std::string(dir) + "/" + target;
}

void scanDir(const SystemContext& ctx, std::string_view dir, Scan& scan) {
    const auto entries = ctx.list(dir);
    if (!entries) return;
    for (const DirEntry& e : *entries) {
        const std::string& name = e.name;
        const std::string full = std::string(dir) + "/" + name;
        const bool isDir =
            e.type == FileType::Directory ||
            (e.type == FileType::Symlink && ctx.type(full, true) == FileType::Directory);
        if (isDir) {
            // foo.target.wants/bar.service: bar is enabled when an administrator put it there.
            if (isConfigDir(dir) && (endsWith(name, ".wants") || endsWith(name, ".requires") ||
                                     endsWith(name, ".upholds"))) {
                for (const std::string& unit : ctx.names(full)) {
                    if (!endsWith(unit, ".service")) continue;
                    scan.enabled.insert(unit);
                    if (!templateOf(unit).empty()) scan.instances.insert(unit);
                }
            }
            continue;
        }
        if (!endsWith(name, ".service") || scan.seen.count(name)) continue;
        if (e.type == FileType::Symlink) {
            const auto link = ctx.readLink(full);
            if (!link) continue;
            const fs::path target = *link;
            scan.seen.insert(name);
            if (target == "/dev/null") {
                scan.masked.insert(name);
                continue;
            }
            const std::string targetName = target.filename().string();
            if (targetName != name) {
                // An alias: the same unit under a second name. Made in the
                // configuration directories by enabling the unit it points to.
                if (isConfigDir(dir)) scan.enabled.insert(targetName);
                continue;
            }
            scan.files[name] = FoundFile{resolveLink(dir, *link), std::string(dir), std::nullopt};
            continue;
        }
        scan.seen.insert(name);
        auto text = e.type == FileType::Regular ? ctx.readFile(full, kUnitFileLimit) : std::nullopt;
        // An empty unit file masks the unit as a link to /dev/null does.
        if (text && text->empty()) {
            scan.masked.insert(name);
            continue;
        }
        scan.files[name] = FoundFile{full, std::string(dir), std::move(text)};
    }
}

// Applies one unit file (or drop-in) to `unit`. Only the keys this provider
// reports are read; an empty ExecStart= clears the ones before it as systemd does.
void applyUnitFile(std::string_view text, ServiceUnitFile& unit, std::vector<std::string>& exec) {
    std::string section;
    std::string pending;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) nl = text.size();
        std::string line(text::trim(text.substr(pos, nl - pos)));
        pos = nl + 1;
        if (pending.empty() && (line.empty() || line[0] == '#' || line[0] == ';')) {
            if (nl == text.size()) break;
            continue;
        }
        // A trailing backslash continues the value on the next line.
        if (!line.empty() && line.back() == '\\') {
            line.pop_back();
            pending += text::trim(line);
            pending += " ";
            if (nl == text.size()) break;
            continue;
        }
        line = pending + line;
        pending.clear();
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
        } else if (const auto eq = line.find('='); eq != std::string::npos) {
            const std::string key(text::trim(std::string_view(line).substr(0, eq)));
            const std::string value(text::trim(std::string_view(line).substr(eq + 1)));
            if (section == "Unit" && key == "Description") {
                unit.description = value;
            } else if (section == "Service" && key == "ExecStart") {
                if (value.empty()) {
                    exec.clear();
                } else {
                    exec.push_back(value);
                }
            } else if (section == "Service" && key == "User") {
                if (value.empty()) {
                    unit.user.reset();
                } else {
                    unit.user = value;
                }
            } else if (section == "Service" && key == "DynamicUser") {
                unit.dynamicUser = parseBool(value);
            } else if (section == "Install" &&
                       (key == "WantedBy" || key == "RequiredBy" || key == "UpheldBy" ||
                        key == "Alias") &&
                       !value.empty()) {
                unit.installable = true;
            }
        }
        if (nl == text.size()) break;
    }
}

// ExecStart= may begin with characters that change how systemd runs the
// command ("-" ignore failure, "@" argv[0], "+", "!", ":"); the command line
// itself follows them.
std::string commandLine(std::string_view exec) {
    while (!exec.empty() && std::string_view("-@+!:").find(exec.front()) != std::string_view::npos)
        exec.remove_prefix(1);
    return std::string(text::trim(exec));
}

// %i and %I in a template's text stand for the instance name.
std::string expandInstance(std::string text, std::string_view instance) {
    for (std::size_t p = 0; (p = text.find('%', p)) != std::string::npos;) {
        if (p + 1 < text.size() && (text[p + 1] == 'i' || text[p + 1] == 'I')) {
            text.replace(p, 2, instance);
            p += instance.size();
        } else {
            p += 2;
        }
    }
    return text;
}

void loadUnit(const SystemContext& ctx, const FoundFile& file, std::string_view fileName,
              ServiceUnitFile& unit) {
    std::vector<std::string> exec;
    if (auto text = file.text ? file.text : ctx.readFile(file.path, kUnitFileLimit))
        applyUnitFile(*text, unit, exec);
    // Drop-ins of the unit (and of its template) in every unit directory,
    // applied in file name order as systemd does.
    std::map<std::string, std::string> dropIns;
    std::vector<std::string> names{std::string(fileName)};
    if (unit.name != fileName) names.push_back(unit.name);
    for (std::string_view dir : kUnitDirs) {
        for (const std::string& n : names) {
            const std::string d = std::string(dir) + "/" + n + ".d";
            for (const std::string& conf : ctx.names(d)) {
                if (endsWith(conf, ".conf") && !dropIns.count(conf)) dropIns[conf] = d + "/" + conf;
            }
        }
    }
    for (const auto& [conf, path] : dropIns) {
        if (auto text = ctx.readFile(path, kUnitFileLimit)) applyUnitFile(*text, unit, exec);
    }
    if (!exec.empty()) unit.execStart = commandLine(exec.front());
}

}  // namespace

std::vector<ServiceUnitFile> scanServiceUnits(const SystemContext& ctx) {
    Scan scan;
    for (std::string_view dir : kUnitDirs) scanDir(ctx, dir, scan);

    std::vector<ServiceUnitFile> units;
    for (const auto& [name, file] : scan.files) {
        if (isTemplate(name)) continue;
        ServiceUnitFile unit;
        unit.name = name;
        loadUnit(ctx, file, name, unit);
        unit.enabled = scan.enabled.count(name) > 0;
        units.push_back(std::move(unit));
    }
    for (const std::string& name : scan.masked) {
        ServiceUnitFile unit;
        unit.name = name;
        unit.masked = true;
        units.push_back(std::move(unit));
    }
    // Instances of templates that the configuration starts (getty@tty1.service).
    for (const std::string& name : scan.instances) {
        if (scan.seen.count(name)) continue;
        const auto tmpl = scan.files.find(templateOf(name));
        if (tmpl == scan.files.end()) continue;
        ServiceUnitFile unit;
        unit.name = name;
        loadUnit(ctx, tmpl->second, tmpl->first, unit);
        const std::string instance =
            name.substr(name.find('@') + 1, name.size() - name.find('@') - 1 - 8);
        unit.description = expandInstance(unit.description, instance);
        unit.execStart = expandInstance(unit.execStart, instance);
        unit.enabled = true;
        units.push_back(std::move(unit));
    }
    std::sort(units.begin(), units.end(),
              [](const ServiceUnitFile& a, const ServiceUnitFile& b) { return a.name < b.name; });
    return units;
}

std::string serviceStartMode(const ServiceUnitFile& unit) {
    if (unit.masked) return "Disabled";
    if (unit.enabled) return "Auto";
    // A unit that could be enabled but is not: systemd calls it disabled.
    if (unit.installable) return "Disabled";
    // Static: started only when something else asks for it.
    return "Manual";
}

namespace {

std::string stateOf(const UnitStatus& s) {
    if (s.activeState == "active" || s.activeState == "reloading") return "Running";
    if (s.activeState == "activating") return "Start Pending";
    if (s.activeState == "deactivating") return "Stop Pending";
    if (s.activeState == "inactive" || s.activeState == "failed") return "Stopped";
    return "Unknown";
}

void fillCommon(Instance& inst, const std::string& name, const std::string& systemName) {
    inst.set("Name", name);
    inst.set("CreationClassName", "Win32_Service");
    inst.set("SystemCreationClassName", "Win32_ComputerSystem");
    inst.set("SystemName", systemName);
    // systemd has no way to pause a service, and every unit runs in its own processes.
    inst.set("AcceptPause", false);
    inst.set("ServiceType", "Own Process");
}

}  // namespace

std::vector<Instance> produceServices(const SystemContext& ctx) {
    std::vector<ServiceUnitFile> files = scanServiceUnits(ctx);
    std::optional<std::vector<UnitStatus>> live;
    if (ctx.services) live = ctx.services->listUnits(ctx.deadline);

    std::unordered_map<std::string, const UnitStatus*> byName;
    if (live) {
        for (const UnitStatus& u : *live) {
            if (endsWith(u.name, ".service")) byName.emplace(u.name, &u);
        }
        // Units the manager runs without a file of their own on disk
        // (transient units, generated ones, instances started by hand).
        std::set<std::string> onDisk;
        for (const auto& f : files) onDisk.insert(f.name);
        for (const auto& [name, u] : byName) {
            if (onDisk.count(name) || u->loadState == "not-found") continue;
            ServiceUnitFile unit;
            unit.name = name;
            unit.description = u->description;
            unit.masked = u->loadState == "masked";
            files.push_back(std::move(unit));
        }
        std::sort(files.begin(), files.end(),
                  [](const auto& a, const auto& b) { return a.name < b.name; });
    }

    const std::string systemName = ctx.computerName();
    std::vector<Instance> out;
    out.reserve(files.size());
    for (const ServiceUnitFile& f : files) {
        Instance inst("Win32_Service");
        fillCommon(inst, f.name, systemName);
        const UnitStatus* u = nullptr;
        if (live) {
            if (auto it = byName.find(f.name); it != byName.end()) u = it->second;
        }
        std::string description = f.description;
        if (description.empty() && u) description = u->description;
        // systemd itself shows the unit's name where it has no description.
        const std::string displayName = description.empty() ? f.name : description;
        inst.set("DisplayName", displayName);
        inst.set("Caption", displayName);
        if (!description.empty()) inst.set("Description", description);
        if (!f.execStart.empty()) inst.set("PathName", f.execStart);
        if (f.user) {
            inst.set("StartName", *f.user);
        } else if (!f.dynamicUser && !f.masked) {
            inst.set("StartName", "root");
        }
        const bool maskedLive = u && u->loadState == "masked";
        inst.set("StartMode", maskedLive ? std::string("Disabled") : serviceStartMode(f));

        if (!live) {
            // No manager to ask: whether it runs is unknown, not "Stopped".
            out.push_back(std::move(inst));
            continue;
        }
        if (u) {
            const std::string state = stateOf(*u);
            const bool started = u->activeState == "active" || u->activeState == "reloading" ||
                                 u->activeState == "deactivating";
            inst.set("State", state);
            inst.set("Started", started);
            inst.set("Status", u->activeState == "failed" ? "Degraded" : "OK");
            if (u->mainPid) inst.setInt("ProcessId", *u->mainPid);
            if (u->exitStatus && *u->exitStatus >= 0) inst.setInt("ExitCode", *u->exitStatus);
            if (u->canStop) inst.set("AcceptStop", *u->canStop && started);
        } else {
            // Not loaded: the manager holds nothing for it, so it is not running.
            inst.set("State", "Stopped");
            inst.set("Started", false);
            inst.set("Status", "OK");
            inst.setInt("ProcessId", 0);
            inst.set("AcceptStop", false);
        }
        out.push_back(std::move(inst));
    }
    return out;
}

}  // namespace tavo::linuxwmi
