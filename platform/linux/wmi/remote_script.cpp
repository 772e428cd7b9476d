// The script that collects a pass's reads on another computer, and the
// parser of what it prints.
//
// Output framing: every section starts with "\n<boundary> <tag>\n" and file
// contents are separated by "\n<boundary>\n" (a small file holding exactly
// that, passed to `head` between the real files, so one `head` reads
// thousands of files without a process per file). The boundary is random
// per run and travels only on the script's standard input, so no file on
// the remote can hold it except by chance. Names are printed one a line;
// a name holding a line break is skipped on the remote (its value stays
// null here), so a name can never forge a line.

#include <fnmatch.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <random>

#include "platform/linux/wmi/remote_snapshot.h"
#include "platform/linux/wmi/system_sources.h"

namespace tavo::linuxwmi::remote_view {

namespace {

std::string quote(std::string_view s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

// A request's path as a word of the script: a pattern stays a pattern (its
// text is the program's own), a literal path is quoted.
std::string word(const Request& r, const ScriptOptions& o) {
    if (r.glob) return quote(o.root) + r.path;
    return quote(o.root + r.path);
}

char tag(Kind k) {
    switch (k) {
        case Kind::Read:
            return 'R';
        case Kind::UserRead:
            return 'U';
        case Kind::List:
            return 'L';
        case Kind::Link:
            return 'K';
        case Kind::Type:
            return 'T';
        case Kind::Canon:
            return 'C';
        case Kind::MTime:
            return 'M';
        case Kind::Birth:
            return 'W';
        case Kind::Count:
            return 'N';
        case Kind::StatFs:
            return 'S';
        case Kind::Command:
            return 'X';
    }
    return '?';
}

// The script's fixed part: the boundary, a scratch folder for the marker
// files, the timeout wrapper, and small functions the sections call.
constexpr std::string_view kPrelude = R"SH(
set -f
NL='
'
T=$(mktemp -d 2>/dev/null) || T=
if [ -n "$T" ]; then
  trap 'rm -rf "$T"' EXIT
  printf '\n%s\n' "$B" > "$T/b" || T=
fi
if command -v timeout >/dev/null 2>&1; then TO="timeout -k 1 $TS"; else TO=; fi
h() { printf '\n%s %s\n' "$B" "$1"; }
ok() { case $1 in *"$NL"*) return 1;; esac; return 0; }
ty() {
  if [ -L "$1" ]; then printf l; elif [ -d "$1" ]; then printf d; elif [ -f "$1" ]; then printf f
  elif [ -e "$1" ]; then printf o
  else
    p=${1%/*}; if [ -n "$p" ] && [ -d "$p" ] && ! [ -x "$p" ]; then printf u; else printf n; fi
  fi
}
ft() {
  if [ -d "$1" ]; then printf d; elif [ -f "$1" ]; then printf f; elif [ -e "$1" ]; then printf o
  else printf n; fi
}
)SH";

// A pattern over /proc or /sys: the kernel's own files, which are never
// FIFOs or devices and whose names never hold a line break.
bool isKernelPattern(const Request& r) {
    return r.glob && (r.path.starts_with("/proc/") || r.path.starts_with("/sys/"));
}

// One batch: `test` picks the items worth asking for (their names are
// printed, one a line), then `batch` runs once over all of them with a
// marker before each (xargs reads the NUL-separated list), or, without a
// scratch folder on the remote, `single` runs per item after a marker line.
void emitBatch(std::string& s, std::string_view header, const std::vector<const Request*>& items,
               const ScriptOptions& o, std::string_view test, std::string_view marker,
               std::string_view batch, std::string_view single) {
    std::string list, kernel, other;
    for (const Request* r : items) {
        list += " " + word(*r, o);
        (isKernelPattern(*r) ? kernel : other) += " " + word(*r, o);
    }
    s += "set +f\nh '" + std::string(header) + "'\nW=/dev/null; [ -n \"$T\" ] && W=\"$T/l\"\n{\n";
    if (!kernel.empty()) {
        // Kernel files, thousands of them: no test and no loop, one printf
        // for the names and one for the list (a name that is not there
        // gives an empty value, as a file gone meanwhile does).
        s += "set --" + kernel + "\nprintf '%s\\n' \"$@\"\n";
        s += "[ -n \"$T\" ] && printf \"$T/" + std::string(marker) + "\\0%s\\0\" \"$@\" >&3\n";
    }
    if (!other.empty()) {
        s += "for f in" + other + "; do\n  ok \"$f\" || continue\n  " + std::string(test) + "\n";
        s += "  printf '%s\\n' \"$f\"\n";
        s += "  [ -n \"$T\" ] && printf '%s\\0%s\\0' \"$T/" + std::string(marker) +
             "\" \"$f\" >&3\n";
        s += "done\n";
    }
    s += "} 3>\"$W\"\nset -f\nh D\n";
    s += "if [ -n \"$T\" ]; then [ -s \"$T/l\" ] && " + std::string(batch) + " < \"$T/l\"\n";
    // One at a time, each value under its own name: a second expansion of
    // a pattern may not give the same names as the first.
    s += "else set +f; for f in" + list + "; do ok \"$f\" || continue; " + std::string(test) +
         "; h \"F $f\"; " + std::string(single) + "; h \"E $?\"; done; set -f; fi\n";
    s += "h \"E $?\"\n";
}

void emitReads(std::string& s, std::vector<const Request*> items, bool user, std::size_t limit,
               const ScriptOptions& o) {
    // A process's command line is the read that can hang (the process is in
    // uninterruptible sleep holding its memory map): last, so a hang cuts
    // off nothing else.
    std::stable_partition(items.begin(), items.end(),
                          [](const Request* r) { return !r->path.ends_with("/cmdline"); });
    const std::string n = std::to_string(limit);
    const std::string test = user ? "[ -f \"$f\" ] && [ -r \"$f\" ] && ! [ -L \"$f\" ] || continue"
                                  : "[ -f \"$f\" ] && [ -r \"$f\" ] || continue";
    emitBatch(s, std::string(user ? "U " : "R ") + n, items, o, test, "b",
              "$TO xargs -0 head -q -c " + n, "$TO head -c " + n + " -- \"$f\"");
}

// A pattern over the entries of one folder: "<folder>/<name pattern>".
bool folderPattern(const Request& r) {
    if (!r.glob) return false;
    const auto slash = r.path.rfind('/');
    return slash != std::string::npos && r.path.find_first_of("*?[") > slash;
}

// Types, modification and birth times one path at a time, with the shell's
// own tests and stat.
void emitPlain(std::string& s, Kind kind, const std::vector<const Request*>& items,
               const ScriptOptions& options) {
    if (kind == Kind::Type) {
        s += "set +f\nh T\nfor f in";
        for (const Request* r : items) s += " " + word(*r, options);
        s += "; do\n  ok \"$f\" || continue\n";
        s += "  ty \"$f\"; ft \"$f\"; printf ' %s\\n' \"$f\"\ndone\nset -f\n";
        return;
    }
    const std::string fmt = kind == Kind::MTime ? "%.6Y %n" : "%.6W %n";
    std::string list;
    for (const Request* r : items) list += " " + word(*r, options);
    s += "set +f\nh " + std::string(1, tag(kind)) + "\n";
    s += "W=/dev/null; [ -n \"$T\" ] && W=\"$T/s\"\nfor f in" + list + "; do\n";
    s += "  ok \"$f\" && [ -e \"$f\" ] || continue\n";
    s += "  if [ -n \"$T\" ]; then printf '%s\\0' \"$f\" >&3; else stat -L -c '" + fmt +
         "' -- \"$f\"; fi\n";
    s += "done 3>\"$W\"\nset -f\n[ -n \"$T\" ] && [ -s \"$T/s\" ] && xargs -0 stat -L -c '" + fmt +
         "' -- < \"$T/s\"\n";
}

}  // namespace

std::string makeBoundary() {
    std::random_device rd;
    std::string b = "tavo-";
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) b += hex[rd() % 16];
    return b;
}

std::string buildScript(const Requests& requests, const std::string& boundary,
                        const ScriptOptions& options) {
    std::string s = "B=" + quote(boundary) +
                    "\nTS=" + std::to_string(std::max(1, options.commandTimeoutSeconds)) + "\n";
    s += kPrelude;
    // The marker link that readlink prints before each target, only when
    // links are asked for (one more process).
    for (const Request& r : requests) {
        if (r.kind == Kind::Link || r.kind == Kind::Canon) {
            s += "[ -n \"$T\" ] && { ln -s -- \"@$B\" \"$T/m\" || T=; }\n";
            break;
        }
    }

    // Group by kind (and limit, for reads).
    std::map<std::pair<Kind, std::size_t>, std::vector<const Request*>> groups;
    for (const Request& r : requests) {
        // Reads share one group up to the usual limit (each value is cut to
        // its own limit here): every group costs the remote three processes.
        const bool read = r.kind == Kind::Read || r.kind == Kind::UserRead;
        groups[{r.kind, read ? std::max(r.limit, kDefaultReadLimit) : 0}].push_back(&r);
    }
    int background = 0;
    for (const auto& [key, items] : groups) {
        const Kind kind = key.first;
        switch (kind) {
            case Kind::Read:
            case Kind::UserRead: {
                // The reads run beside the rest of the script, into a file
                // of their own that is printed at the end: the remote's
                // processors work on both at once. (The list file of this
                // group is its own too.)
                const std::string n = std::to_string(background++);
                std::string body;
                emitReads(body, items, kind == Kind::UserRead, key.second, options);
                std::string own = "$T/l" + n;
                for (std::size_t at = 0; (at = body.find("$T/l", at)) != std::string::npos;
                     at += own.size())
                    body.replace(at, 4, own);
                s += "rd" + n + "() {\n" + body + "}\n";
                s += "if [ -n \"$T\" ]; then rd" + n + " > \"$T/o" + n +
                     "\" 2>/dev/null & else rd" + n + "; fi\n";
                break;
            }
            case Kind::List:
                // With GNU find, every folder's entries in one process:
                // NUL-separated "folder, type, name" records, so any name
                // comes through. Otherwise a loop per folder.
                s += "set +f\n";
                s += "if [ -n \"$T\" ] && find / -maxdepth 0 -printf '' 2>/dev/null; then\nh "
                     "LF\nfor d in";
                for (const Request* r : items) s += " " + word(*r, options);
                s += "; do\n  ok \"$d\" && [ -d \"$d\" ] || continue\n";
                s += "  if ! [ -r \"$d\" ] || ! [ -x \"$d\" ]; then printf '!%s\\n' \"$d\"; "
                     "continue; fi\n";
                s += "  printf '%s\\n' \"$d\"; printf '%s\\0' \"$d\" >&3\ndone 3>\"$T/d\"\nh D\n";
                s += "[ -s \"$T/d\" ] && xargs -0 sh -c 'exec find \"$@\" -mindepth 1 -maxdepth 1 "
                     "-printf \"%H\\0%y\\0%f\\0\"' sh < \"$T/d\" 2>/dev/null\nh \"E $?\"\nelse\n";
                s += "for d in";
                for (const Request* r : items) s += " " + word(*r, options);
                s += "; do\n  ok \"$d\" || continue\n  [ -d \"$d\" ] || continue\n";
                s += "  if ! [ -r \"$d\" ] || ! [ -x \"$d\" ]; then h \"L! $d\"; continue; fi\n";
                s += "  h \"L $d\"\n";
                s += "  for e in \"$d\"/* \"$d\"/.[!.]* \"$d\"/..?*; do\n";
                s += "    [ -e \"$e\" ] || [ -L \"$e\" ] || continue\n";
                s += "    n=${e##*/}; ok \"$n\" || continue\n";
                s += "    ty \"$e\"; printf ' %s\\n' \"$n\"\n";
                s += "  done\ndone\nfi\nset -f\n";
                break;
            case Kind::Link:
                // The marker is a link to the boundary: readlink prints it on
                // a line of its own before each real target.
                emitBatch(s, "K", items, options, "[ -L \"$f\" ] || continue", "m",
                          "xargs -0 readlink", "readlink -- \"$f\"");
                break;
            case Kind::Canon:
                // readlink -f resolves the marker to <scratch>/<boundary>.
                emitBatch(s, "C", items, options, "[ -e \"$f\" ] || continue", "m",
                          "xargs -0 readlink -f", "readlink -f -- \"$f\"");
                break;
            case Kind::Type:
            case Kind::MTime: {
                // Patterns over one folder ("/etc/x/*.service") go to one
                // find with NUL-separated records when it is GNU's.
                std::vector<const Request*> fast, slow;
                for (const Request* r : items) (folderPattern(*r) ? fast : slow).push_back(r);
                if (!fast.empty()) {
                    const bool type = kind == Kind::Type;
                    s += "if [ -n \"$T\" ] && find / -maxdepth 0 -printf '' 2>/dev/null; then\n";
                    s += type ? "h TF\n" : "h MF\n";
                    // One find per name pattern, over all its folders.
                    std::map<std::string, std::string> folders;
                    for (const Request* r : fast) {
                        const auto slash = r->path.rfind('/');
                        folders[r->path.substr(slash + 1)] +=
                            " " +
                            quote(options.root + (slash == 0 ? "/" : r->path.substr(0, slash)));
                    }
                    for (const auto& [name, dirs] : folders) {
                        s += std::string("find ") + (type ? "" : "-L ") + dirs +
                             " -mindepth 1 -maxdepth 1 -name " + quote(name) +
                             (type ? " -printf '%y%Y %p\\0'" : " -printf '%T@ %p\\0'") +
                             " 2>/dev/null\n";
                    }
                    s += "h \"E $?\"\nelse\n";
                    emitPlain(s, kind, fast, options);
                    s += "fi\n";
                }
                if (!slow.empty()) emitPlain(s, kind, slow, options);
                break;
            }
            case Kind::Birth:
                emitPlain(s, kind, items, options);
                break;
            case Kind::Count:
                // With GNU find, one process for every folder: a record per
                // folder that may be listed and one per entry, NUL-separated.
                s += "set +f\nif [ -n \"$T\" ] && find / -maxdepth 0 -printf '' 2>/dev/null; "
                     "then\nh NF\n";
                s += "find";
                for (const Request* r : items) s += " " + word(*r, options);
                s += " -maxdepth 1 \\( -readable -executable -type d -printf '%d\\0%h\\0%f\\0R\\0' "
                     "\\) "
                     "-o -printf '%d\\0%h\\0%f\\0N\\0' 2>/dev/null\nh \"E $?\"\nelse\n";
                s += "h N\nfor d in";
                for (const Request* r : items) s += " " + word(*r, options);
                s += "; do\n  ok \"$d\" || continue\n";
                s += "  if [ -d \"$d\" ] && [ -r \"$d\" ] && [ -x \"$d\" ]; then set -- \"$d\"/*; "
                     "if [ -e \"$1\" ] || [ -L \"$1\" ]; then printf '%s %s\\n' $# \"$d\"; else "
                     "printf '0 %s\\n' \"$d\"; fi; fi\n";
                s += "done\nfi\nset -f\n";
                break;
            case Kind::StatFs:
                for (const Request* r : items) {
                    if (r->path.find('\n') != std::string::npos) continue;
                    s += "h " + quote("S " + r->path) + "\n$TO stat -f -c '%S %b %a %l' -- " +
                         word(*r, options) + " 2>/dev/null\nh \"E $?\"\n";
                }
                break;
            case Kind::Command:
                for (const Request* r : items) {
                    if (r->path == kFacts) {
                        // One process per fact source: now and the offsets of
                        // January and July (daylight saving) from one date.
                        s += "h 'X facts'\n"
                             "printf 'now\\nJan 1 12:00\\nJul 1 12:00\\n' | date -f - '+%s %z' "
                             "2>/dev/null || { date '+%s %z'; echo; echo; }\n"
                             // The zone the shell's programs use, when TZ names one.
                             "if [ \"${TZ+set}\" = set ]; then printf 'TZ=%s\\n' \"$TZ\"; else "
                             "echo; fi\n"
                             "h 'E 0'\n";
                    } else if (r->path == kMachine) {
                        s += "h 'X machine'\n"
                             "uname -nm 2>/dev/null || echo\n"
                             "getconf CLK_TCK 2>/dev/null || echo\n"
                             "getconf PAGESIZE 2>/dev/null || echo\n"
                             "h 'E 0'\n";
                    } else if (r->path == kSystemd) {
                        s += "if command -v systemctl >/dev/null 2>&1; then\n"
                             "h 'X systemd-list'\n"
                             "u=$($TO env LC_ALL=C SYSTEMD_COLORS=0 systemctl list-units --all "
                             "--plain --no-legend --full --no-pager 2>/dev/null); r=$?\n"
                             "printf '%s\\n' \"$u\"\nh \"E $r\"\n"
                             "if [ $r = 0 ]; then\n"
                             "set -- $(printf '%s\\n' \"$u\" | while read -r n rest; do case $n in "
                             "*.service) printf '%s\\n' \"$n\";; esac; done)\n"
                             "h 'X systemd-show'\n"
                             "[ $# -gt 0 ] && $TO env LC_ALL=C systemctl show --no-pager "
                             "-p Id,MainPID,ExecMainStatus,CanStop -- \"$@\" 2>/dev/null\n"
                             "h \"E $?\"\nfi\nfi\n";
                    } else if (r->path == kPrinters) {
                        s += "if command -v lpstat >/dev/null 2>&1; then\n";
                        for (const char* sub : {"p:-l -p", "d:-d", "v:-v", "a:-a", "o:-o"}) {
                            const std::string_view command = sub;
                            const auto colon = command.find(':');
                            s += "h 'X lpstat-" + std::string(command.substr(0, colon)) + "'\n";
                            s += "$TO env LC_ALL=C lpstat " +
                                 std::string(command.substr(colon + 1)) +
                                 " 2>/dev/null\nh \"E $?\"\n";
                        }
                        s += "fi\n";
                    } else if (r->path == kLaterStat) {
                        s += "h 'X stat-later'\nsleep 0.2 2>/dev/null || sleep 1\n"
                             "head -c " +
                             std::to_string(kDefaultReadLimit) + " " +
                             quote(options.root + "/proc/stat") + "\nh \"E $?\"\n";
                    } else if (r->path == kRoutes) {
                        s += "if command -v ip >/dev/null 2>&1; then\n"
                             "h 'X routes'\n$TO ip -4 route show table main 2>/dev/null\nh \"E "
                             "$?\"\n"
                             "fi\n";
                    } else if (r->path == kAddresses) {
                        s += "if command -v ip >/dev/null 2>&1; then\n"
                             "h 'X ip-link'\n$TO ip -o link show 2>/dev/null\nh \"E $?\"\n"
                             "h 'X ip-addr'\n$TO ip -o addr show 2>/dev/null\nh \"E $?\"\n"
                             "fi\n";
                    }
                }
                break;
        }
    }
    if (background > 0) {
        s += "wait\n[ -n \"$T\" ] && cat";
        for (int i = 0; i < background; ++i) s += " \"$T/o" + std::to_string(i) + "\"";
        s += " 2>/dev/null\n";
    }
    s += "h END\n";
    return s;
}

namespace {

// One framed piece of the output.
struct Piece {
    bool header = false;
    std::string_view text;  // a header's tag line, or a body
};

std::vector<Piece> split(std::string_view out, std::string_view boundary) {
    std::vector<Piece> pieces;
    const std::string mark = "\n" + std::string(boundary);
    std::size_t pos = out.find(mark);
    while (pos != std::string_view::npos) {
        const std::size_t after = pos + mark.size();
        const std::size_t next = out.find(mark, after);
        const std::size_t end = next == std::string_view::npos ? out.size() : next;
        if (after < out.size() && out[after] == ' ') {
            // A section header, then its body (maybe empty).
            const std::size_t nl = out.find('\n', after);
            const std::size_t lineEnd = nl == std::string_view::npos ? end : std::min(nl, end);
            pieces.push_back({true, out.substr(after + 1, lineEnd - after - 1)});
            // The header's own line break may also begin the next mark.
            pieces.push_back(
                {false, lineEnd + 1 < end ? out.substr(lineEnd + 1, end - lineEnd - 1) : ""});
        } else if (after < out.size() && out[after] == '\n') {
            // A file's content follows the marker.
            pieces.push_back({true, "+"});
            pieces.push_back(
                {false, after + 1 < end ? out.substr(after + 1, end - after - 1) : ""});
        }
        pos = next;
    }
    return pieces;
}

FileType typeFromChar(char c) {
    switch (c) {
        case 'f':
            return FileType::Regular;
        case 'd':
            return FileType::Directory;
        case 'l':
            return FileType::Symlink;
        case 'o':
            return FileType::Other;
        case 'u':
            return FileType::Unknown;
        default:
            return FileType::None;
    }
}

std::optional<Timestamp> timestamp(std::string_view s) {
    const auto dot = s.find('.');
    const auto sec = wholeNumber<std::int64_t>(s.substr(0, dot));
    if (!sec) return std::nullopt;
    Timestamp t{*sec, 0};
    if (dot != std::string_view::npos) {
        std::string frac(s.substr(dot + 1, 6));
        while (frac.size() < 6) frac += '0';
        t.microseconds = wholeNumber<long>(frac).value_or(0);
    }
    return t;
}

// Strips the scratch prefix of a name the remote printed.
std::string unrooted(std::string_view name, const ScriptOptions& o) {
    if (!o.root.empty() && name.substr(0, o.root.size()) == o.root)
        name.remove_prefix(o.root.size());
    if (name.empty()) return "/";
    return std::string(name);
}

}  // namespace

bool Snapshot::covers(Kind kind, std::string_view path, std::size_t limit) const {
    const std::string p(path);
    for (const Request& r : patterns) {
        if (r.kind != kind) continue;
        if ((kind == Kind::Read || kind == Kind::UserRead) && r.limit < limit) continue;
        if (::fnmatch(r.path.c_str(), p.c_str(), FNM_PATHNAME | FNM_PERIOD) == 0) return true;
    }
    return false;
}

void parseOutput(std::string_view output, const std::string& boundary, const Requests& requests,
                 const ScriptOptions& options, Snapshot& snap) {
    const auto pieces = split(output, boundary);
    bool finished = false;
    std::size_t i = 0;
    auto body = [&](std::size_t at) -> std::string_view {
        return at < pieces.size() && !pieces[at].header ? pieces[at].text : std::string_view();
    };
    // The rc of the "E n" header at or after `at`, and where it is.
    auto endStatus = [&](std::size_t& at) -> std::optional<int> {
        while (at < pieces.size()) {
            if (pieces[at].header && pieces[at].text.substr(0, 2) == "E ")
                return wholeNumber<int>(pieces[at].text.substr(2));
            if (pieces[at].header && pieces[at].text != "+") return std::nullopt;
            ++at;
        }
        return std::nullopt;
    };
    std::set<std::string> readsTimedOut;  // limit groups cut by a hang
    while (i < pieces.size()) {
        const Piece& p = pieces[i];
        if (!p.header) {
            ++i;
            continue;
        }
        const std::string_view t = p.text;
        if (t == "END") {
            finished = true;
            ++i;
            continue;
        }
        if ((t[0] == 'R' || t[0] == 'U') && t.size() > 2) {
            const bool user = t[0] == 'U';
            const std::size_t limit = wholeNumber<std::size_t>(t.substr(2)).value_or(0);
            std::vector<std::string> names;
            for (auto l : splitLines(body(i + 1))) names.push_back(unrooted(l, options));
            std::size_t at = i + 1;
            while (at < pieces.size() && !(pieces[at].header && pieces[at].text == "D")) ++at;
            at += 2;  // the header and its empty body
            auto& map = user ? snap.userFiles : snap.files;
            if (at < pieces.size() && pieces[at].header && pieces[at].text.starts_with("F ")) {
                // One file at a time, each under its name and with its own status.
                while (at < pieces.size() && pieces[at].header &&
                       pieces[at].text.starts_with("F ")) {
                    const std::string name = unrooted(pieces[at].text.substr(2), options);
                    const std::string_view content = body(at + 1);
                    std::size_t e = at + 2;
                    const auto rc = endStatus(e);
                    if (rc && (*rc == 124 || *rc == 137)) {
                        map[name] = FileData{std::nullopt, limit};
                        snap.failed.insert(
                            Request{user ? Kind::UserRead : Kind::Read, name, limit, false});
                    } else {
                        map[name] = FileData{std::string(content), limit};
                    }
                    at = e + 2;
                }
                for (const auto& n : names) {
                    if (!map.count(n)) map[n] = FileData{std::nullopt, limit};
                }
                i = at;
                continue;
            }
            std::vector<std::string_view> contents;
            while (at < pieces.size() && pieces[at].header && pieces[at].text == "+") {
                contents.push_back(body(at + 1));
                at += 2;
            }
            const auto rc = endStatus(at);
            // A timeout (124, or 137 when it had to kill) cut the last file
            // short: that one has no value, and those after it are left for
            // another round.
            const bool cut = !rc || *rc == 124 || *rc == 137;
            for (std::size_t k = 0; k < names.size(); ++k) {
                if (k < contents.size() && !(cut && k + 1 == contents.size())) {
                    map[names[k]] = FileData{std::string(contents[k]), limit};
                } else if (cut && k + 1 == contents.size()) {
                    map[names[k]] = FileData{std::nullopt, limit};
                    snap.failed.insert(
                        Request{user ? Kind::UserRead : Kind::Read, names[k], limit, false});
                } else if (!cut) {
                    // Named but not read: it went away in between.
                    map[names[k]] = FileData{std::nullopt, limit};
                }
            }
            if (cut) readsTimedOut.insert(std::string(1, t[0]) + std::to_string(limit));
            i = at + 1;
            continue;
        }
        if (t == "LF") {
            // Folders one a line ("!" before one that may not be listed),
            // then find's records.
            std::vector<std::vector<DirEntry>*> filled;  // what this section lists
            for (auto l : splitLines(body(i + 1))) {
                if (!l.empty() && l[0] == '!') {
                    snap.lists[unrooted(l.substr(1), options)] = std::nullopt;
                } else {
                    auto& entries = snap.lists[unrooted(l, options)];
                    entries = std::vector<DirEntry>{};
                    filled.push_back(&*entries);
                }
            }
            // Its records follow at once under "D"; a run cut before has none.
            const std::size_t at = i + 2;
            if (at < pieces.size() && pieces[at].header && pieces[at].text == "D") {
                std::string_view rec = body(at + 1);
                std::vector<std::string_view> f;
                while (!rec.empty()) {
                    const auto z = rec.find('\0');
                    if (z == std::string_view::npos) break;
                    f.push_back(rec.substr(0, z));
                    rec.remove_prefix(z + 1);
                }
                for (std::size_t k = 0; k + 2 < f.size(); k += 3) {
                    auto it = snap.lists.find(unrooted(f[k], options));
                    if (it == snap.lists.end() || !it->second || f[k + 1].size() != 1) continue;
                    const char y = f[k + 1][0];
                    const FileType type = y == 'f'   ? FileType::Regular
                                          : y == 'd' ? FileType::Directory
                                          : y == 'l' ? FileType::Symlink
                                                     : FileType::Other;
                    it->second->push_back({std::string(f[k + 2]), type});
                }
                for (auto* entries : filled)
                    std::sort(entries->begin(), entries->end(),
                              [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
                std::size_t e = at + 1;
                endStatus(e);
                i = e + 1;
            } else {
                i = at;
            }
            continue;
        }
        if (t.substr(0, 2) == "L " || t.substr(0, 3) == "L! ") {
            const bool denied = t[1] == '!';
            const std::string dir = unrooted(t.substr(denied ? 3 : 2), options);
            if (denied) {
                snap.lists[dir] = std::nullopt;
            } else {
                std::vector<DirEntry> entries;
                for (auto l : splitLines(body(i + 1))) {
                    if (l.size() < 3) continue;
                    entries.push_back({std::string(l.substr(2)), typeFromChar(l[0])});
                }
                std::sort(entries.begin(), entries.end(),
                          [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
                snap.lists[dir] = std::move(entries);
            }
            i += 2;
            continue;
        }
        if (t == "K" || t == "C") {
            std::vector<std::string> names;
            for (auto l : splitLines(body(i + 1))) names.push_back(unrooted(l, options));
            std::size_t at = i + 1;
            while (at < pieces.size() && !(pieces[at].header && pieces[at].text == "D")) ++at;
            auto& map = t == "K" ? snap.links : snap.canon;
            if (at + 2 < pieces.size() && pieces[at + 2].header &&
                pieces[at + 2].text.starts_with("F ")) {
                std::size_t f = at + 2;
                while (f < pieces.size() && pieces[f].header && pieces[f].text.starts_with("F ")) {
                    const std::string name = unrooted(pieces[f].text.substr(2), options);
                    std::string v(body(f + 1));
                    if (!v.empty() && v.back() == '\n') v.pop_back();
                    if (v.empty())
                        map[name] = std::nullopt;
                    else
                        map[name] = t == "C" ? unrooted(v, options) : v;
                    std::size_t e = f + 2;
                    endStatus(e);
                    f = e + 2;
                }
                for (const auto& n : names) {
                    if (!map.count(n)) map[n] = std::nullopt;
                }
                i = f;
                continue;
            }
            // Batched, readlink printed a marker line (ending in "@" and the
            // boundary: the marker link's target) before each real target.
            const std::string out(body(at + 1));
            const std::string boundaryMark = "@" + boundary;
            std::vector<std::pair<std::size_t, std::size_t>> markers;  // line start, line end
            for (std::size_t pos = 0; (pos = out.find(boundaryMark, pos)) != std::string::npos;) {
                const std::size_t lineEnd = pos + boundaryMark.size();
                if (lineEnd == out.size() || out[lineEnd] == '\n') {
                    const std::size_t nl = pos == 0 ? std::string::npos : out.rfind('\n', pos - 1);
                    markers.push_back({nl == std::string::npos ? 0 : nl + 1, lineEnd});
                }
                pos = lineEnd;
            }
            for (std::size_t k = 0; k < names.size(); ++k) {
                std::optional<std::string> value;
                if (k < markers.size()) {
                    const std::size_t from = std::min(out.size(), markers[k].second + 1);
                    const std::size_t to =
                        k + 1 < markers.size() ? markers[k + 1].first : out.size();
                    std::string v = to > from ? out.substr(from, to - from) : std::string();
                    if (!v.empty() && v.back() == '\n') v.pop_back();
                    if (!v.empty()) value = t == "C" ? unrooted(v, options) : v;
                }
                map[names[k]] = std::move(value);
            }
            std::size_t e = at + 1;
            endStatus(e);
            i = e + 1;
            continue;
        }
        if (t == "T") {
            for (auto l : splitLines(body(i + 1))) {
                if (l.size() < 4 || l[2] != ' ') continue;
                snap.types[unrooted(l.substr(3), options)] = {typeFromChar(l[0]),
                                                              typeFromChar(l[1])};
            }
            i += 2;
            continue;
        }
        if (t == "TF" || t == "MF") {
            // find's NUL-separated records: "<type><type followed> <path>"
            // or "<seconds.fraction> <path>".
            std::string_view rec = body(i + 1);
            while (!rec.empty()) {
                const auto z = rec.find('\0');
                if (z == std::string_view::npos) break;
                const std::string_view r = rec.substr(0, z);
                rec.remove_prefix(z + 1);
                const auto sp = r.find(' ');
                if (sp == std::string_view::npos) continue;
                const std::string path = unrooted(r.substr(sp + 1), options);
                if (t == "TF") {
                    if (sp != 2) continue;
                    auto conv = [](char c) {
                        return c == 'f'   ? FileType::Regular
                               : c == 'd' ? FileType::Directory
                               : c == 'l' ? FileType::Symlink
                               : c == 'N' ? FileType::None
                                          : FileType::Other;
                    };
                    // A link's own type; the type it leads to ('N': nowhere).
                    const FileType followed = r[1] == 'L' ? FileType::None : conv(r[1]);
                    snap.types[path] = {conv(r[0]), followed};
                } else {
                    snap.mtimes[path] = timestamp(r.substr(0, sp));
                }
            }
            std::size_t e = i + 2;
            endStatus(e);
            i = e + 1;
            continue;
        }
        if (t == "M" || t == "W") {
            auto& map = t == "M" ? snap.mtimes : snap.births;
            for (auto l : splitLines(body(i + 1))) {
                const auto sp = l.find(' ');
                if (sp == std::string_view::npos) continue;
                auto ts = timestamp(l.substr(0, sp));
                // A birth time of zero: the file system does not keep one.
                if (ts && t == "W" && ts->seconds <= 0) ts.reset();
                map[unrooted(l.substr(sp + 1), options)] = ts;
            }
            i += 2;
            continue;
        }
        if (t == "NF") {
            // "depth, folder, name, R(eadable folder) or N(ot)" records.
            std::string_view rec = body(i + 1);
            std::vector<std::string_view> f;
            while (!rec.empty()) {
                const auto z = rec.find('\0');
                if (z == std::string_view::npos) break;
                f.push_back(rec.substr(0, z));
                rec.remove_prefix(z + 1);
            }
            std::map<std::string, std::size_t> counts;
            for (std::size_t k = 0; k + 3 < f.size(); k += 4) {
                const std::string parent = unrooted(f[k + 1], options);
                if (f[k] == "0") {
                    const std::string self = parent == "/" ? "/" + std::string(f[k + 2])
                                                           : parent + "/" + std::string(f[k + 2]);
                    if (f[k + 3] == "R") counts.emplace(self, 0);
                } else if (f[k] == "1" && !f[k + 2].starts_with(".")) {
                    ++counts[parent];
                }
            }
            for (const auto& [dir, n] : counts) snap.counts[dir] = n;
            std::size_t e = i + 2;
            endStatus(e);
            i = e + 1;
            continue;
        }
        if (t == "N") {
            for (auto l : splitLines(body(i + 1))) {
                const auto sp = l.find(' ');
                if (sp == std::string_view::npos) continue;
                snap.counts[unrooted(l.substr(sp + 1), options)] =
                    wholeNumber<std::size_t>(l.substr(0, sp));
            }
            i += 2;
            continue;
        }
        if (t.substr(0, 2) == "S ") {
            const std::string mount(t.substr(2));
            std::size_t at = i + 1;
            const auto rc = endStatus(at);
            std::optional<FsStats> st;
            const auto f = splitLines(body(i + 1));
            if (rc && *rc == 0 && !f.empty()) {
                std::vector<std::string_view> w;
                std::string_view line = f.front();
                while (!line.empty()) {
                    const auto sp = line.find(' ');
                    if (sp != 0) w.push_back(line.substr(0, sp));
                    if (sp == std::string_view::npos) break;
                    line.remove_prefix(sp + 1);
                }
                if (w.size() == 4) {
                    auto a = wholeNumber<std::uint64_t>(w[0]), b = wholeNumber<std::uint64_t>(w[1]),
                         c = wholeNumber<std::uint64_t>(w[2]), d = wholeNumber<std::uint64_t>(w[3]);
                    if (a && b && c && d) st = FsStats{*a, *b, *c, *d};
                }
            }
            snap.statfs[mount] = st;
            i = at + 1;
            continue;
        }
        if (t.substr(0, 2) == "X ") {
            const std::string name(t.substr(2));
            std::size_t at = i + 1;
            const auto rc = endStatus(at);
            if (rc) {
                snap.commands[name] = CommandOutput{std::string(body(i + 1)), *rc};
            } else {
                snap.commands[name] = std::nullopt;
            }
            i = at + 1;
            continue;
        }
        ++i;
    }

    // Whatever was asked and did not come back has no value, unless the run
    // was cut short (then a later round may ask again).
    for (const Request& r : requests) {
        if (r.glob) {
            // A pattern whose reads a hang cut short covers nothing: the
            // names after the cut are asked for again by name.
            const bool cut =
                (r.kind == Kind::Read || r.kind == Kind::UserRead) &&
                readsTimedOut.count(std::string(1, tag(r.kind)) +
                                    std::to_string(std::max(r.limit, kDefaultReadLimit)));
            if (finished && !cut) snap.patterns.push_back(r);
            continue;
        }
        const std::string& path = r.path;
        switch (r.kind) {
            case Kind::Read:
            case Kind::UserRead: {
                auto& map = r.kind == Kind::Read ? snap.files : snap.userFiles;
                const bool timedOut =
                    readsTimedOut.count(std::string(1, tag(r.kind)) +
                                        std::to_string(std::max(r.limit, kDefaultReadLimit))) > 0;
                if (!map.count(path) && finished && !timedOut)
                    map[path] = FileData{std::nullopt, r.limit};
                break;
            }
            case Kind::List:
                if (finished && !snap.lists.count(path)) snap.lists[path] = std::nullopt;
                break;
            case Kind::Link:
                if (finished && !snap.links.count(path)) snap.links[path] = std::nullopt;
                break;
            case Kind::Canon:
                if (finished && !snap.canon.count(path)) snap.canon[path] = std::nullopt;
                break;
            case Kind::Type:
                if (finished && !snap.types.count(path))
                    snap.types[path] = {FileType::None, FileType::None};
                break;
            case Kind::MTime:
                if (finished && !snap.mtimes.count(path)) snap.mtimes[path] = std::nullopt;
                break;
            case Kind::Birth:
                if (finished && !snap.births.count(path)) snap.births[path] = std::nullopt;
                break;
            case Kind::Count:
                if (finished && !snap.counts.count(path)) snap.counts[path] = std::nullopt;
                break;
            case Kind::StatFs:
                if (finished && !snap.statfs.count(path)) snap.statfs[path] = std::nullopt;
                break;
            case Kind::Command:
                if (finished) {
                    // Commands absent on the remote print no section at all.
                    for (const char* sub :
                         {"facts", "machine", "stat-later", "routes", "systemd-list",
                          "systemd-show", "lpstat-p", "lpstat-d", "lpstat-v", "lpstat-a",
                          "lpstat-o", "ip-link", "ip-addr"}) {
                        const std::string_view s = sub;
                        if (s.substr(0, path.size()) == path ||
                            (path == kPrinters && s.starts_with("lpstat")) ||
                            (path == kAddresses && s.starts_with("ip-"))) {
                            if (!snap.commands.count(std::string(s)))
                                snap.commands[std::string(s)] = std::nullopt;
                        }
                    }
                }
                break;
        }
    }
}

}  // namespace tavo::linuxwmi::remote_view
