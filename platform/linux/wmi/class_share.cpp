#include "platform/linux/wmi/inventory_classes.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "platform/linux/wmi/inventory_text.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace {

using text::trim;

// Samba matches parameter names ignoring case and white space.
std::string canonicalKey(std::string_view key) {
    std::string out;
    for (char c : key) {
        if (!text::isSpace(c)) out += text::toLower(c);
    }
    // Synonyms the manual lists for the parameters read here.
    if (out == "directory") return "path";
    if (out == "printok") return "printable";
    return out;
}

std::optional<bool> parseBool(std::string_view v) {
    const std::string s = text::toLower(text::trim(v));
    if (s == "yes" || s == "true" || s == "on" || s == "1") return true;
    if (s == "no" || s == "false" || s == "off" || s == "0") return false;
    return std::nullopt;
}

// IPC$ is an administrative share: WMI types it IPC with the admin bit set.
constexpr std::uint32_t kIpcAdmin = 0x80000003;

struct Section {
    std::string name;
    std::map<std::string, std::string> params;
};

struct SmbParser {
    const IncludeReader& readInclude;
    std::vector<Section> sections;              // [global] first, the shares in order of appearance
    std::map<std::string, std::size_t> byName;  // lower-case name -> index in sections
    std::size_t current = 0;
    // Files that include each other twice over would grow without end within
    // the nesting limit, so all the text read through includes shares one
    // budget, far above what any real configuration holds.
    std::size_t includedBytes = 0;
    std::size_t includes = 0;
    static constexpr std::size_t kIncludedBytes = 4 * 1024 * 1024;
    static constexpr std::size_t kIncludes = 256;

    SmbParser(const IncludeReader& r) : readInclude(r) {
        sections.push_back({"global", {}});
        byName["global"] = 0;
    }

    void parse(std::string_view text, int depth) {
        std::string logical;  // a line with its backslash continuations joined
        for (std::string_view raw : text::split(text, '\n')) {
            if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
            // A continued line goes on after its own indentation.
            if (!logical.empty()) raw = text::trim(raw);
            if (!raw.empty() && raw.back() == '\\') {
                raw.remove_suffix(1);
                logical += raw;
                continue;
            }
            logical += raw;
            line(text::trim(logical), depth);
            logical.clear();
        }
        if (!logical.empty()) line(text::trim(logical), depth);
    }

    void line(std::string_view l, int depth) {
        if (l.empty() || l.front() == '#' || l.front() == ';') return;
        if (l.front() == '[') {
            const std::size_t close = l.find(']');
            if (close == std::string_view::npos) return;
            const std::string name(text::trim(l.substr(1, close - 1)));
            // A section named again continues the first one, as Samba merges them.
            const auto [it, added] = byName.try_emplace(text::toLower(name), sections.size());
            if (added) sections.push_back({name, {}});
            current = it->second;
            return;
        }
        const std::size_t eq = l.find('=');
        if (eq == std::string_view::npos) return;
        const std::string key = canonicalKey(l.substr(0, eq));
        const std::string value(text::trim(l.substr(eq + 1)));
        if (key == "include") {
            // Included files are read in place. Names built from macros (%m,
            // %U) differ per client and name no one file here; nesting is
            // bounded so that a file including itself cannot loop.
            if (readInclude && depth < 8 && value.find('%') == std::string::npos &&
                includes < kIncludes && includedBytes < kIncludedBytes) {
                ++includes;
                if (const auto text = readInclude(value)) {
                    const std::size_t room = kIncludedBytes - includedBytes;
                    const std::string_view part =
                        std::string_view(*text).substr(0, std::min(room, text->size()));
                    includedBytes += part.size();
                    parse(part, depth + 1);
                }
            }
            return;
        }
        sections[current].params[key] = value;
    }

    std::optional<std::string> get(const Section& s, const std::string& key) const {
        if (auto it = s.params.find(key); it != s.params.end()) return it->second;
        // Share settings in [global] are the defaults of every share.
        if (auto it = sections[0].params.find(key); it != sections[0].params.end())
            return it->second;
        return std::nullopt;
    }
};

// One token of an exports line: a path, maybe in double quotes, with octal
// escapes such as \040 for a space.
std::string unescapeExportPath(std::string_view token) {
    if (token.size() >= 2 && token.front() == '"' && token.back() == '"') {
        token = token.substr(1, token.size() - 2);
    }
    std::string out;
    for (std::size_t i = 0; i < token.size(); ++i) {
        if (token[i] == '\\' && i + 3 < token.size() &&
            std::all_of(token.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                        token.begin() + static_cast<std::ptrdiff_t>(i) + 4,
                        [](char c) { return c >= '0' && c <= '7'; })) {
            out += static_cast<char>((token[i + 1] - '0') * 64 + (token[i + 2] - '0') * 8 +
                                     (token[i + 3] - '0'));
            i += 3;
        } else {
            out += token[i];
        }
    }
    return out;
}

// A [global] parameter of the main configuration file, by its canonical name.
std::optional<std::string> smbGlobal(std::string_view text, const std::string& key) {
    const IncludeReader none;
    SmbParser p(none);
    p.parse(text, 0);
    const auto it = p.sections[0].params.find(key);
    if (it == p.sections[0].params.end()) return std::nullopt;
    return it->second;
}

}  // namespace

std::vector<ShareEntry> parseSmbConf(std::string_view text, const IncludeReader& readInclude,
                                     std::string_view hostName) {
    SmbParser p(readInclude);
    p.parse(text, 0);

    std::vector<ShareEntry> out;
    bool hasIpc = false;
    for (std::size_t i = 1; i < p.sections.size(); ++i) {
        const Section& s = p.sections[i];
        // "available = no" switches a share off without removing it.
        if (parseBool(p.get(s, "available").value_or("yes")) == false) continue;
        ShareEntry e;
        e.name = s.name;
        e.path = p.get(s, "path").value_or("");
        e.description = p.get(s, "comment").value_or("");
        const bool printable = parseBool(p.get(s, "printable").value_or("no")).value_or(false);
        e.type = printable ? 1 : 0;
        if (text::equalsIgnoreCase(s.name, "IPC$")) {
            e.type = kIpcAdmin;
            hasIpc = true;
        }
        if (const auto max = p.get(s, "maxconnections")) {
            const auto n = text::parseUnsigned(*max);
            if (n && *n > 0 && *n <= 0xFFFFFFFFu) e.maximum = static_cast<std::uint32_t>(*n);
        }
        out.push_back(std::move(e));
    }
    if (!hasIpc) {
        // Samba serves IPC$ for its named pipes on every configuration, with
        // its server string in the description.
        ShareEntry ipc;
        ipc.name = "IPC$";
        ipc.type = kIpcAdmin;
        const auto it = p.sections[0].params.find("serverstring");
        std::string serverString = it == p.sections[0].params.end() ? "" : it->second;
        for (std::size_t at = 0; (at = serverString.find("%h", at)) != std::string::npos;
             at += hostName.size()) {
            serverString.replace(at, 2, hostName);
        }
        ipc.description =
            serverString.empty() ? "IPC Service" : "IPC Service (" + serverString + ")";
        out.push_back(std::move(ipc));
    }
    return out;
}

std::vector<ShareEntry> parseExports(std::string_view text) {
    std::vector<ShareEntry> out;
    std::string logical;
    const auto handle = [&](std::string_view l) {
        l = text::trim(l);
        if (l.empty() || l.front() == '#') return;
        // The path runs to the first white space outside double quotes.
        std::size_t end = 0;
        bool quoted = false;
        while (end < l.size() && (quoted || !std::isspace(static_cast<unsigned char>(l[end])))) {
            if (l[end] == '"') quoted = !quoted;
            ++end;
        }
        ShareEntry e;
        e.path = unescapeExportPath(l.substr(0, end));
        if (e.path.empty()) return;
        e.name = e.path;
        std::string_view clients = text::trim(l.substr(end));
        // A comment may follow the clients.
        if (const std::size_t hash = clients.find('#'); hash != std::string_view::npos) {
            clients = text::trim(clients.substr(0, hash));
        }
        e.description = std::string(clients);
        out.push_back(std::move(e));
    };
    for (std::string_view raw : text::split(text, '\n')) {
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        if (!raw.empty() && raw.back() == '\\') {
            raw.remove_suffix(1);
            logical += raw;
            logical += ' ';
            continue;
        }
        logical += raw;
        handle(logical);
        logical.clear();
    }
    if (!logical.empty()) handle(logical);
    return out;
}

std::optional<ShareEntry> parseUsershare(std::string_view fileName, std::string_view text) {
    ShareEntry e;
    e.name = std::string(fileName);
    bool hasPath = false;
    for (std::string_view line : text::split(text, '\n')) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::size_t eq = line.find('=');
        if (line.empty() || line.front() == '#' || eq == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, eq);
        const std::string_view value = line.substr(eq + 1);
        if (key == "path") {
            e.path = std::string(value);
            hasPath = !value.empty();
        } else if (key == "comment") {
            e.description = std::string(value);
        } else if (key == "sharename" && !value.empty()) {
            // The file is named in lower case; this is the name as given.
            e.name = std::string(value);
        }
    }
    if (!hasPath) return std::nullopt;
    return e;
}

std::vector<Instance> produceShares(const SystemContext& ctx) {
    std::vector<ShareEntry> shares;
    std::string usersharePath = "/var/lib/samba/usershares";
    if (const auto conf = ctx.readFile("/etc/samba/smb.conf")) {
        const IncludeReader include =
            [&ctx](const std::string& path) -> std::optional<std::string> {
            if (path.empty() || path.front() != '/') return std::nullopt;
            return ctx.readFile(path);
        };
        std::string host = text::toLower(ctx.computerName());
        shares = parseSmbConf(*conf, include, host);
        if (auto path = smbGlobal(*conf, "usersharepath"); path && !path->empty()) {
            usersharePath = *path;
        }
    }
    // Shares users made with `net usershare`: any member of the usershare
    // group writes these files, so each is read as a user's file, small.
    std::vector<ShareEntry> userShares;
    for (const auto& name : inventory::listDirectory(ctx, usersharePath)) {
        if (name.empty() || name.front() == '.') continue;
        const auto text = ctx.readUserFile(usersharePath + "/" + name, 64 * 1024);
        if (!text) continue;
        if (auto e = parseUsershare(name, *text)) userShares.push_back(std::move(*e));
    }
    std::sort(userShares.begin(), userShares.end(),
              [](const ShareEntry& a, const ShareEntry& b) { return a.name < b.name; });
    // They come after the configuration's own shares, before the IPC$ that
    // Samba serves on its own (last, when the configuration names none).
    const auto at =
        !shares.empty() && shares.back().type == kIpcAdmin ? shares.end() - 1 : shares.end();
    shares.insert(at, std::make_move_iterator(userShares.begin()),
                  std::make_move_iterator(userShares.end()));
    std::vector<std::string> exportFiles{"/etc/exports"};
    for (const auto& name : inventory::listDirectory(ctx, "/etc/exports.d")) {
        if (name.size() > 8 && name.ends_with(".exports"))
            exportFiles.push_back("/etc/exports.d/" + name);
    }
    for (const auto& file : exportFiles) {
        if (const auto text = ctx.readFile(file)) {
            for (auto& e : parseExports(*text)) shares.push_back(std::move(e));
        }
    }

    std::vector<Instance> out;
    for (const ShareEntry& e : shares) {
        Instance s("Win32_Share");
        s.set("Name", e.name);
        s.set("Path", e.path);
        s.set("Description", e.description);
        s.set("Caption", e.description);
        s.setInt("Type", e.type);
        s.set("AllowMaximum", !e.maximum.has_value());
        if (e.maximum) s.setInt("MaximumAllowed", *e.maximum);
        s.set("Status", "OK");
        out.push_back(std::move(s));
    }
    return out;
}

}  // namespace tavo::linuxwmi
