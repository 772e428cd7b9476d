#include "platform/linux/wmi/inventory_classes.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <unordered_map>

#include "platform/linux/wmi/inventory_text.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace {

using text::parseSigned;
using text::parseUnsigned;
using text::split;

// Calls `f` with the fields of every line that can name an account.
template <typename F>
void forEachRecord(std::string_view text, F&& f) {
    for (std::string_view line : split(text, '\n')) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        // "+name" and "-name" pull in or hide accounts of a network
        // directory; they are no local account.
        if (line.front() == '+' || line.front() == '-') continue;
        f(split(line, ':'));
    }
}

std::optional<std::uint32_t> parseId(std::string_view s) {
    const auto v = parseUnsigned(s);
    if (!v || *v > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<std::uint32_t>(*v);
}

std::optional<std::int64_t> optionalDays(std::string_view s) {
    return s.empty() ? std::nullopt : parseSigned(s);
}

// Days since the epoch, as the shadow file counts dates.
std::int64_t today(const SystemContext& ctx) {
    return ctx.system()->now() / 86400;
}

// a - b for values read from files, held at the ends of the range instead of
// overflowing.
std::int64_t minusSaturated(std::int64_t a, std::int64_t b) {
    std::int64_t r = 0;
    if (__builtin_sub_overflow(a, b, &r)) {
        return b > 0 ? std::numeric_limits<std::int64_t>::min()
                     : std::numeric_limits<std::int64_t>::max();
    }
    return r;
}

}  // namespace

FaillockRules parseFaillockConf(std::string_view text) {
    FaillockRules r;
    for (std::string_view line : split(text, '\n')) {
        line = text::trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        const std::size_t eq = line.find('=');
        const std::string_view key = text::trim(line.substr(0, eq));
        const std::string_view value =
            eq == std::string_view::npos ? std::string_view{} : text::trim(line.substr(eq + 1));
        const auto number = parseSigned(value);
        if (key == "dir" && !value.empty()) r.dir = std::string(value);
        if (key == "deny" && number) r.deny = *number;
        if (key == "fail_interval" && number) r.failInterval = *number;
        if (key == "unlock_time" && number) {
            r.unlockTime = *number;
            if (!r.rootUnlockTimeSet) r.rootUnlockTime = *number;
        }
        if (key == "root_unlock_time" && number) {
            r.rootUnlockTime = *number;
            r.rootUnlockTimeSet = true;
        }
        if (key == "even_deny_root") r.evenDenyRoot = true;
    }
    return r;
}

bool tallyLocksOut(std::string_view tally, const FaillockRules& rules, bool isRoot,
                   std::int64_t now) {
    if (rules.deny <= 0 || (isRoot && !rules.evenDenyRoot)) return false;
    // Each record: source[52], reserved u16, status u16, time u64, in the
    // machine's own byte order, as the module writes them.
    constexpr std::size_t kRecord = 64;
    constexpr std::uint16_t kValid = 0x1;
    std::int64_t failures = 0, latest = 0;
    const std::int64_t since = minusSaturated(now, rules.failInterval);
    for (std::size_t at = 0; at + kRecord <= tally.size(); at += kRecord) {
        std::uint16_t status = 0;
        std::uint64_t time = 0;
        std::memcpy(&status, tally.data() + at + 54, sizeof status);
        std::memcpy(&time, tally.data() + at + 56, sizeof time);
        if (!(status & kValid)) continue;
        const auto t = static_cast<std::int64_t>(time);
        latest = std::max(latest, t);
        if (t >= since) ++failures;
    }
    if (failures < rules.deny) return false;
    const std::int64_t unlock = isRoot ? rules.rootUnlockTime : rules.unlockTime;
    // unlock_time 0 keeps the account locked until an administrator resets it.
    return !(unlock > 0 && latest < minusSaturated(now, unlock));
}

std::vector<PasswdEntry> parsePasswd(std::string_view text) {
    std::vector<PasswdEntry> out;
    forEachRecord(text, [&](const std::vector<std::string_view>& f) {
        if (f.size() < 7 || f[0].empty()) return;
        const auto uid = parseId(f[2]);
        const auto gid = parseId(f[3]);
        if (!uid || !gid) return;
        out.push_back({std::string(f[0]), std::string(f[1]), std::string(f[4]), std::string(f[5]),
                       std::string(f[6]), *uid, *gid});
    });
    return out;
}

std::vector<ShadowEntry> parseShadow(std::string_view text) {
    std::vector<ShadowEntry> out;
    forEachRecord(text, [&](const std::vector<std::string_view>& f) {
        if (f.size() < 2 || f[0].empty()) return;
        ShadowEntry e{std::string(f[0]), std::string(f[1]), {}, {}, {}};
        if (f.size() > 3) e.minDays = optionalDays(f[3]);
        if (f.size() > 4) e.maxDays = optionalDays(f[4]);
        if (f.size() > 7) e.expireDay = optionalDays(f[7]);
        out.push_back(std::move(e));
    });
    return out;
}

std::vector<GroupEntry> parseGroup(std::string_view text) {
    std::vector<GroupEntry> out;
    forEachRecord(text, [&](const std::vector<std::string_view>& f) {
        if (f.size() < 3 || f[0].empty()) return;
        const auto gid = parseId(f[2]);
        if (!gid) return;
        out.push_back({std::string(f[0]), *gid});
    });
    return out;
}

std::string fullNameFromGecos(std::string_view gecos, std::string_view login) {
    const std::string_view first = gecos.substr(0, gecos.find(','));
    std::string name;
    for (char c : first) {
        if (c == '&') {
            std::string cap(login);
            if (!cap.empty()) cap[0] = text::toUpper(cap[0]);
            name += cap;
        } else {
            name += c;
        }
    }
    return std::string(text::trim(name));
}

namespace {

FaillockRules readFaillockRules(const SystemContext& ctx) {
    const auto conf = ctx.readFile("/etc/security/faillock.conf");
    return conf ? parseFaillockConf(*conf) : FaillockRules{};
}

// Whether repeated failed logins have locked the user out, from the tally
// pam_faillock keeps (Debian's only lockout module). No tally file means no
// recent failures; a tally that exists but cannot be read says nothing.
std::optional<bool> isLockedOut(const SystemContext& ctx, const FaillockRules& rules,
                                const std::string& user, bool isRoot, std::time_t now) {
    if (user.find('/') != std::string::npos) return std::nullopt;
    const std::string file = rules.dir + "/" + user;
    // Only a name that is surely absent means no tally; one that cannot be
    // looked at says nothing.
    switch (ctx.type(file, true)) {
        case FileType::None:
            return false;
        case FileType::Unknown:
            return std::nullopt;
        default:
            break;
    }
    const auto tally = ctx.readFile(file, 1 << 20);
    if (!tally) return std::nullopt;
    return tallyLocksOut(*tally, rules, isRoot, static_cast<std::int64_t>(now));
}

}  // namespace

std::vector<Instance> produceUserAccounts(const SystemContext& ctx) {
    std::vector<Instance> out;
    const auto passwd = ctx.readFile("/etc/passwd");
    if (!passwd) return out;
    std::unordered_map<std::string, ShadowEntry> shadow;
    if (const auto text = ctx.readFile("/etc/shadow")) {
        for (auto& e : parseShadow(*text)) shadow.emplace(e.name, std::move(e));
    }
    const std::string computer = ctx.computerName();
    const std::int64_t now = today(ctx);
    const FaillockRules rules = readFaillockRules(ctx);

    for (const PasswdEntry& u : parsePasswd(*passwd)) {
        Instance a("Win32_UserAccount");
        a.set("Name", u.name);
        a.set("FullName", fullNameFromGecos(u.gecos, u.name));
        a.set("Domain", computer);
        a.set("Caption", computer + "\\" + u.name);
        a.set("SID", "S-1-22-1-" + std::to_string(u.uid));
        a.setInt("SIDType", 1);
        a.set("LocalAccount", true);
        a.setInt("AccountType", 512);  // a normal account

        // Where the passwords live: the shadow entry when readable, else the
        // passwd field itself unless it only points at the shadow file.
        std::optional<std::string> password;
        const ShadowEntry* sh = nullptr;
        if (auto it = shadow.find(u.name); it != shadow.end()) {
            sh = &it->second;
            password = sh->password;
        } else if (u.password != "x") {
            password = u.password;
        }

        std::optional<bool> disabled;
        if (password) {
            // "!" in front is a locked password (passwd -l, usermod -L).
            disabled = !password->empty() && password->front() == '!';
            a.set("PasswordRequired", !password->empty());
        }
        if (sh) {
            if (sh->expireDay && *sh->expireDay <= now) disabled = true;
            // With a minimum age above the maximum, the user can never change it.
            a.set("PasswordChangeable",
                  !(sh->minDays && sh->maxDays && *sh->minDays > *sh->maxDays));
            // 99999 days is the conventional "never".
            a.set("PasswordExpires",
                  sh->maxDays.has_value() && *sh->maxDays >= 0 && *sh->maxDays < 99999);
        }
        if (disabled) a.set("Disabled", *disabled);
        if (const auto locked = isLockedOut(ctx, rules, u.name, u.uid == 0, ctx.system()->now())) {
            a.set("Lockout", *locked);
        }
        a.set("Status", disabled.value_or(false) ? "Degraded" : "OK");
        out.push_back(std::move(a));
    }
    return out;
}

std::vector<Instance> produceGroups(const SystemContext& ctx) {
    std::vector<Instance> out;
    const auto group = ctx.readFile("/etc/group");
    if (!group) return out;
    const std::string computer = ctx.computerName();
    for (const GroupEntry& g : parseGroup(*group)) {
        Instance a("Win32_Group");
        a.set("Name", g.name);
        a.set("Domain", computer);
        a.set("Caption", computer + "\\" + g.name);
        a.set("SID", "S-1-22-2-" + std::to_string(g.gid));
        a.setInt("SIDType", 2);
        a.set("LocalAccount", true);
        a.set("Status", "OK");
        out.push_back(std::move(a));
    }
    return out;
}

std::vector<Instance> produceSystemAccounts(const SystemContext& ctx) {
    // Windows lists its well-known principals here. The ones a Linux file's
    // permissions and Samba's ACLs mean on this computer are the owner, the
    // owning group and everyone else, under the same well-known SIDs.
    struct Principal {
        const char* name;
        const char* sid;
        const char* description;
    };
    static constexpr Principal kPrincipals[] = {
        {"Everyone", "S-1-1-0", "Every user: the \"other\" of a file's permissions"},
        {"CREATOR OWNER", "S-1-3-0", "The owner of a file"},
        {"CREATOR GROUP", "S-1-3-1", "The owning group of a file"},
    };
    std::vector<Instance> out;
    const std::string computer = ctx.computerName();
    for (const Principal& p : kPrincipals) {
        Instance a("Win32_SystemAccount");
        a.set("Name", p.name);
        a.set("Domain", computer);
        a.set("Caption", computer + "\\" + p.name);
        a.set("Description", p.description);
        a.set("SID", p.sid);
        a.setInt("SIDType", 5);  // a well-known group
        a.set("LocalAccount", true);
        a.set("Status", "OK");
        out.push_back(std::move(a));
    }
    return out;
}

std::vector<Instance> produceAccounts(const SystemContext& ctx) {
    std::vector<Instance> out = produceUserAccounts(ctx);
    for (auto& g : produceGroups(ctx)) out.push_back(std::move(g));
    for (auto& a : produceSystemAccounts(ctx)) out.push_back(std::move(a));
    return out;
}

}  // namespace tavo::linuxwmi
