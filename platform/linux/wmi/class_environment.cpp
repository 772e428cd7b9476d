#include <set>

#include "platform/linux/wmi/core_classes.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace {

// The name of the user this program runs as: /proc/self/status's real uid
// looked up in /etc/passwd.
std::optional<std::string> currentUser(const SystemContext& ctx) {
    auto status = ctx.readFile("/proc/self/status");
    if (!status) return std::nullopt;
    const auto pos = status->find("\nUid:");
    if (pos == std::string::npos) return std::nullopt;
    // "Uid:\t1000\t1000\t1000\t1000": the first is the real uid.
    std::string_view rest = text::trim(std::string_view(*status).substr(pos + 5));
    const std::string uid(rest.substr(0, rest.find_first_not_of("0123456789")));
    if (uid.empty()) return std::nullopt;
    auto passwd = ctx.readFile("/etc/passwd");
    if (!passwd) return std::nullopt;
    std::string_view t = *passwd;
    while (!t.empty()) {
        const auto nl = t.find('\n');
        const std::string_view line = t.substr(0, nl);
        t.remove_prefix(nl == std::string_view::npos ? t.size() : nl + 1);
        // name:password:uid:...
        const auto c1 = line.find(':');
        if (c1 == std::string_view::npos) continue;
        const auto c2 = line.find(':', c1 + 1);
        if (c2 == std::string_view::npos) continue;
        const auto c3 = line.find(':', c2 + 1);
        if (line.substr(c2 + 1, c3 == std::string_view::npos ? std::string_view::npos
                                                             : c3 - c2 - 1) == uid) {
            return std::string(line.substr(0, c1));
        }
    }
    return std::nullopt;
}

Instance variable(const std::string& user, const std::string& name, const std::string& value,
                  bool system) {
    Instance v("Win32_Environment");
    v.set("Name", name);
    v.set("VariableValue", value);
    v.set("UserName", user);
    v.set("SystemVariable", system);
    v.set("Caption", user + "\\" + name);
    v.set("Description", user + "\\" + name);
    v.set("Status", "OK");
    return v;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> parseEnvironmentFile(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> out;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        std::string_view line = text::trim(text.substr(0, nl));
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.substr(0, 7) == "export ") line = text::trim(line.substr(7));
        const auto eq = line.find('=');
        if (eq == std::string_view::npos || eq == 0) continue;
        const std::string_view name = text::trim(line.substr(0, eq));
        std::string_view value = text::trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        if (name.find_first_of(" \t") != std::string_view::npos) continue;
        out.emplace_back(name, value);
    }
    return out;
}

std::vector<Instance> produceEnvironment(const SystemContext& ctx) {
    std::vector<Instance> out;
    std::set<std::pair<std::string, std::string>> systemPairs;
    if (auto text = ctx.readFile("/etc/environment")) {
        for (auto& [name, value] : parseEnvironmentFile(*text)) {
            systemPairs.emplace(name, value);
            out.push_back(variable("<SYSTEM>", name, value, true));
        }
    }
    // The user's own: this program's environment, less what it inherited
    // unchanged from the system file above.
    auto environ = ctx.readFile("/proc/self/environ");
    auto user = currentUser(ctx);
    if (environ && user) {
        const std::string userName = ctx.computerName() + "\\" + *user;
        std::string_view t = *environ;
        while (!t.empty()) {
            const auto end = t.find('\0');
            const std::string_view entry = t.substr(0, end);
            t.remove_prefix(end == std::string_view::npos ? t.size() : end + 1);
            const auto eq = entry.find('=');
            if (eq == std::string_view::npos || eq == 0) continue;
            std::pair<std::string, std::string> kv{std::string(entry.substr(0, eq)),
                                                   std::string(entry.substr(eq + 1))};
            if (systemPairs.count(kv)) continue;
            out.push_back(variable(userName, kv.first, kv.second, false));
        }
    }
    return out;
}

}  // namespace tavo::linuxwmi
