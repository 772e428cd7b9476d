#include "platform/linux/wmi/system_sources.h"
#include "support/text.h"

#include <utmp.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <ctime>
#include <set>

namespace tavo::linuxwmi {

namespace {

// Value of a shell assignment: quotes removed, backslash escapes inside
// double quotes honoured, nothing after an unquoted blank.
std::optional<std::string> unquote(std::string_view v) {
    std::string out;
    char quote = 0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        const char c = v[i];
        if (quote == 0) {
            if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '\\' && i + 1 < v.size()) {
                out += v[++i];
            } else if (c == ' ' || c == '\t') {
                break;
            } else {
                out += c;
            }
        } else if (c == quote) {
            quote = 0;
        } else if (quote == '"' && c == '\\' && i + 1 < v.size() &&
                   std::strchr("\"\\$`", v[i + 1]) != nullptr) {
            out += v[++i];
        } else {
            out += c;
        }
    }
    if (quote != 0) return std::nullopt;  // unterminated: not a value we can trust
    return out;
}

}  // namespace

std::map<std::string, std::string> parseShellAssignments(std::string_view text) {
    std::map<std::string, std::string> out;
    for (std::string_view line : text::splitLines(text)) {
        const std::string_view t = text::trim(line);
        if (t.empty() || t.front() == '#') continue;
        const auto eq = t.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        const std::string key(t.substr(0, eq));
        if (key.find_first_of(" \t") != std::string::npos) continue;
        if (auto v = unquote(std::string_view(t).substr(eq + 1))) out[key] = *v;
    }
    return out;
}

std::map<std::string, std::uint64_t> parseMemInfo(std::string_view text) {
    std::map<std::string, std::uint64_t> out;
    for (std::string_view line : text::splitLines(text)) {
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const auto w = text::splitWords(line.substr(colon + 1));
        if (w.empty()) continue;
        if (auto v = text::wholeNumber<std::uint64_t>(w[0]))
            out[std::string(text::trim(line.substr(0, colon)))] = *v;
    }
    return out;
}

std::vector<CpuInfoBlock> parseCpuInfo(std::string_view text) {
    std::vector<CpuInfoBlock> out;
    CpuInfoBlock current;
    for (std::string_view line : text::splitLines(text)) {
        const std::string_view t = text::trim(line);
        if (t.empty()) {
            if (!current.empty()) out.push_back(std::move(current));
            current.clear();
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        current[std::string(text::trim(line.substr(0, colon)))] =
            text::trim(line.substr(colon + 1));
    }
    if (!current.empty()) out.push_back(std::move(current));
    // ARM kernels end the file with a machine-wide block ("Hardware",
    // "Revision") that is not a processor; keep only processor blocks.
    std::erase_if(out, [](const CpuInfoBlock& b) { return !b.contains("processor"); });
    return out;
}

std::vector<CpuSocket> groupSockets(const std::vector<CpuInfoBlock>& blocks,
                                    const std::map<int, int>& packageOf) {
    std::map<int, CpuSocket> sockets;
    for (const auto& b : blocks) {
        const auto cpu = text::wholeNumber<int>(b.at("processor"));
        if (!cpu) continue;
        int package = 0;
        if (auto it = b.find("physical id"); it != b.end() && text::wholeNumber<int>(it->second)) {
            package = *text::wholeNumber<int>(it->second);
        } else if (auto p = packageOf.find(*cpu); p != packageOf.end() && p->second >= 0) {
            package = p->second;
        }
        CpuSocket& s = sockets[package];
        s.packageId = package;
        s.cpus.push_back(*cpu);
        if (!s.first) s.first = &b;
        if (auto it = b.find("core id"); it != b.end()) {
            if (std::find(s.coreIds.begin(), s.coreIds.end(), it->second) == s.coreIds.end()) {
                s.coreIds.push_back(it->second);
            }
        }
    }
    std::vector<CpuSocket> out;
    for (auto& [id, s] : sockets) {
        std::sort(s.cpus.begin(), s.cpus.end());
        out.push_back(std::move(s));
    }
    return out;
}

std::map<int, CpuTimes> parseProcStatCpus(std::string_view text) {
    std::map<int, CpuTimes> out;
    for (std::string_view line : text::splitLines(text)) {
        if (line.size() < 4 || line.substr(0, 3) != "cpu" || line[3] == ' ') continue;
        const auto w = text::splitWords(line);
        const auto cpu = text::wholeNumber<int>(w[0].substr(3));
        if (!cpu) continue;
        // user nice system idle iowait irq softirq steal (guest time is
        // already counted in user and nice).
        CpuTimes t;
        for (std::size_t i = 1; i < w.size() && i <= 8; ++i) {
            const auto v = text::wholeNumber<std::uint64_t>(w[i]).value_or(0);
            t.total += v;
            if (i != 4 && i != 5) t.busy += v;  // idle and iowait are not work
        }
        out[*cpu] = t;
    }
    return out;
}

std::optional<std::int64_t> parseBootTime(std::string_view text) {
    for (std::string_view line : text::splitLines(text)) {
        const auto w = text::splitWords(line);
        if (w.size() == 2 && w[0] == "btime") return text::wholeNumber<std::int64_t>(w[1]);
    }
    return std::nullopt;
}

std::optional<int> loadPercentage(const std::map<int, CpuTimes>& before,
                                  const std::map<int, CpuTimes>& after,
                                  const std::vector<int>& cpus) {
    std::uint64_t busy = 0;
    std::uint64_t total = 0;
    for (int cpu : cpus) {
        const auto b = before.find(cpu);
        const auto a = after.find(cpu);
        if (b == before.end() || a == after.end()) continue;
        // Counters only grow; a smaller one means the CPU went offline and back.
        if (a->second.total < b->second.total || a->second.busy < b->second.busy) continue;
        busy += a->second.busy - b->second.busy;
        total += a->second.total - b->second.total;
    }
    if (total == 0) return std::nullopt;
    return static_cast<int>((busy * 100 + total / 2) / total);
}

namespace {
template <typename F>
void forEachUtmp(std::string_view data, F&& f) {
    for (std::size_t off = 0; off + sizeof(struct utmp) <= data.size();
         off += sizeof(struct utmp)) {
        struct utmp u;
        std::memcpy(&u, data.data() + off, sizeof u);
        if (u.ut_type == USER_PROCESS && u.ut_user[0] != '\0') {
            if (!f(u)) return;
        }
    }
}
std::string fixedField(const char* p, std::size_t n) {
    return std::string(p, strnlen(p, n));
}
}  // namespace

int countUtmpSessions(std::string_view data) {
    int n = 0;
    forEachUtmp(data, [&](const struct utmp&) {
        ++n;
        return true;
    });
    return n;
}

std::optional<std::string> consoleUserFromUtmp(std::string_view data) {
    std::optional<std::string> user;
    forEachUtmp(data, [&](const struct utmp& u) {
        const std::string line = fixedField(u.ut_line, sizeof u.ut_line);
        // ":0" is a graphical display, "ttyN" a text console; pseudo
        // terminals (pts/N) are remote or nested sessions.
        if (line.starts_with(":") || (line.starts_with("tty") && line.size() > 3)) {
            user = fixedField(u.ut_user, sizeof u.ut_user);
            return false;
        }
        return true;
    });
    return user;
}

std::optional<std::string> dmtfFromFirmwareDate(std::string_view text) {
    const std::string_view t = text::trim(text);
    if (t.size() != 10 || t[2] != '/' || t[5] != '/') return std::nullopt;
    const auto month = text::wholeNumber<int>(std::string_view(t).substr(0, 2));
    const auto day = text::wholeNumber<int>(std::string_view(t).substr(3, 2));
    const auto year = text::wholeNumber<int>(std::string_view(t).substr(6, 4));
    if (!month || !day || !year || *month < 1 || *month > 12 || *day < 1 || *day > 31) {
        return std::nullopt;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d000000.000000+000", *year, *month, *day);
    return std::string(buf);
}

std::vector<int> parseCpuList(std::string_view text) {
    std::vector<int> out;
    const std::string_view t = text::trim(text);
    std::string_view rest = t;
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        const std::string_view part = rest.substr(0, comma);
        const auto dash = part.find('-');
        const auto lo = text::wholeNumber<int>(part.substr(0, dash));
        const auto hi =
            dash == std::string_view::npos ? lo : text::wholeNumber<int>(part.substr(dash + 1));
        if (lo && hi && *lo <= *hi && *hi - *lo < 65536) {
            for (int i = *lo; i <= *hi; ++i) out.push_back(i);
        }
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return out;
}

std::optional<std::string> readAttribute(const SystemContext& ctx, std::string_view absolute) {
    auto text = ctx.readFile(absolute, 64 * 1024);
    if (!text) return std::nullopt;
    const std::string_view t = text::trim(*text);
    if (t.empty()) return std::nullopt;
    return std::string(t);
}

std::optional<std::string> machineArchitecture(const SystemContext& ctx) {
    if (auto arch = readAttribute(ctx, "/proc/sys/kernel/arch")) return arch;
    // Kernels before 6.1 lack that file; uname answers for a running machine only.
    return ctx.system()->machine();
}

bool is64BitMachine(std::string_view m) {
    return m == "x86_64" || m == "aarch64" || m == "arm64" || m == "ppc64" || m == "ppc64le" ||
           m == "s390x" || m == "riscv64" || m == "mips64" || m == "loongarch64" || m == "ia64" ||
           m == "sparc64" || m == "alpha";
}

std::optional<std::string> userNameForUid(const SystemContext& ctx, unsigned uid) {
    auto passwd = ctx.readFile("/etc/passwd");
    if (!passwd) return std::nullopt;
    for (std::string_view line : text::splitLines(*passwd)) {
        // name:password:uid:...
        const auto c1 = line.find(':');
        if (c1 == std::string_view::npos) continue;
        const auto c2 = line.find(':', c1 + 1);
        if (c2 == std::string_view::npos) continue;
        const auto c3 = line.find(':', c2 + 1);
        const auto id = text::wholeNumber<unsigned>(line.substr(c2 + 1, c3 - c2 - 1));
        if (id && *id == uid) return std::string(line.substr(0, c1));
    }
    return std::nullopt;
}

}  // namespace tavo::linuxwmi
