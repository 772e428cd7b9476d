// The script that collects a pass's reads on another computer, and the
// reader of what it prints.
//
// Everything the script prints is framed (remote_frames.h): a frame's header
// names what follows and its body is the bytes, up to the next frame. Each
// kind of request has its fragment of script and its reader side by side
// below. Files are read in batches: one `head` reads thousands of files, with
// a small file holding a frame header ("F") passed between the real ones, so
// a file's value is the body of its "F" frame and the names come in a list
// before them, in the same order. A name holding a line break is skipped on
// the remote (its value stays null here), so a name can never forge a line.
//
// A read that hangs (the command line of a process in uninterruptible sleep,
// a file on a dead mount) is killed after a few seconds; the reader of the
// batch sees how many files had begun, says which one hung ("H") and goes on
// with the next, so the hang costs that one value only. Past a number of
// hangs, or past the pass's size budget, the rest of a batch is skipped
// ("Z"), and every value so lost is counted, never shown as an empty value.

#include <fnmatch.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <map>
#include <random>
#include <set>

#include "platform/linux/wmi/remote_frames.h"
#include "platform/linux/wmi/remote_snapshot.h"
#include "platform/linux/wmi/system_sources.h"
#include "support/text.h"

namespace tavo::linuxwmi::remote_view {

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

namespace {

// A request's path as a word of the script: a pattern stays a pattern (its
// text is the program's own), a literal path is quoted.
std::string word(const Request& r, const ScriptOptions& o) {
    if (r.glob) return quote(o.root) + r.path;
    return quote(o.root + r.path);
}

std::string words(const std::vector<const Request*>& items, const ScriptOptions& o) {
    std::string s;
    for (const Request* r : items) s += " " + word(*r, o);
    return s;
}

// A pattern over /proc or /sys: the kernel's own files, which are never
// FIFOs or devices and whose names never hold a line break.
bool isKernelPattern(const Request& r) {
    return r.glob && (r.path.starts_with("/proc/") || r.path.starts_with("/sys/"));
}

// A file of every process ("/proc/[0-9]*/<name>"): its name, or "". The
// script lists the processes once ($PP, one a line) and names each such
// file from that list; expanding each pattern again would read /proc and
// look up every process's file once more.
std::string perProcess(const Request& r) {
    constexpr std::string_view kPrefix = "/proc/[0-9]*/";
    if (!r.glob || !r.path.starts_with(kPrefix)) return {};
    const std::string name = r.path.substr(kPrefix.size());
    const bool plain = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
    });
    return plain ? name : std::string();
}

// Lines that print, NUL-terminated, the file `name` of every process in $PP
// for each of `items` that names one, with $PP split on line breaks alone;
// "" when none does.
std::string perProcessList(const std::vector<const Request*>& items) {
    std::string lines;
    for (const Request* r : items)
        if (const std::string name = perProcess(*r); !name.empty())
            lines += "printf '%s/" + name + "\\0' $PP\n";
    if (lines.empty()) return lines;
    return "set -f; o=$IFS; IFS=$NL\n" + lines + "IFS=$o; set +f\n";
}

// A pattern over the entries of one folder: "<folder>/<name pattern>".
bool folderPattern(const Request& r) {
    if (!r.glob) return false;
    const auto slash = r.path.rfind('/');
    return slash != std::string::npos && r.path.find_first_of("*?[") > slash;
}

// Files a batch's reader gives to one `head` (marker and file, so an even
// number), and the hangs a whole pass may meet before it skips the rest.
constexpr int kBatchArgs = 4096;
// Files this shell gathers for rs (a marker and the file each) before the
// rest of a pattern's files go to a list for xargs. They are gathered in one
// variable and split once: `set -- "$@" ...` for each would copy them all
// every time, and dash spends more on that than `head` on the files.
constexpr int kFewFiles = 256;
constexpr int kMaxHangs = 8;

// The script's fixed part: a scratch folder for the frame headers that
// `head` prints between files (its name is no secret; the boundary inside
// is, and only the shell's builtins ever write it), the timeout wrapper, and
// small functions the sections call: RB reads a batch of files that xargs
// hands to a shell of its own, rs a few files (those a pass names one by
// one, the first hundreds a pattern finds) in the shell already running:
// one `head` and its timeout, nothing more. Both go on after a file whose
// read hung. kn lists kernel files, thousands of them, for RB. Nothing of the program's own is
// exported: the remote's processes see the environment they would see anyway.
// TOOLS stands for what the remote's tools can do (XT timeout, XS stdbuf, XF
// GNU find, XL its -files0-from, XR realpath -z): tested by a session's first
// script, given to the later ones (toolsScript()).
constexpr std::string_view kPrelude = R"SH(
set -f
NL='
'
T=$(mktemp -d 2>/dev/null) || T=
if [ -n "$T" ]; then
  trap 'rm -rf "$T"' EXIT
  { printf '\n%s F\n' "$B" > "$T/b" && printf '%s F\n' "$B" > "$T/bl" &&
    printf '\n%s H\n' "$B" > "$T/bh" && printf '\n%s Z t\n' "$B" > "$T/bt" &&
    printf '\n%s Z s\n' "$B" > "$T/bs"; } || T=
fi
TOOLS
if [ -n "$XT" ]; then TO="timeout -k 1 $TS"; TN=$TS; else TO=; TN=0; fi
GF=; [ -n "$T" ] && GF=$XF
FF=; [ -n "$GF" ] && FF=$XL
SB=$XS
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
RB='T=$1 L=$2 S=$3 U=$4 M=$5 O=$6 N=$7; shift 7
TO=; [ "$S" -gt 0 ] && TO="timeout -k 1 $S"
SB=; [ -n "$U" ] && SB="stdbuf -o0"
full=$#
while [ $# -gt 0 ]; do
  h=0; for x in "$T"/h.*; do [ -e "$x" ] && h=$((h + 1)); done
  [ $h -lt HANGS ] || { cat "$T/bt"; exit 0; }
  [ -e "$T/s.$N" ] && { cat "$T/bs"; exit 0; }
  $TO $SB head -q -c "$L" -- "$@" > "$T/c$$" 2>/dev/null; r=$?
  cat "$T/c$$"
  case $r in 124|137) ;; *) break;; esac
  cat "$T/bh"; : > "$T/h.$$.$#"
  k=$(($(LC_ALL=C grep -c -x -F -f "$T/bl" "$T/c$$" 2>/dev/null) + 0))
  o=0; [ "$1" = "$T/b" ] || o=1
  n=$((2 * k + o)); [ "$n" -gt 0 ] || n=2
  [ $# -gt "$n" ] || break
  shift "$n"
done
if [ "$full" -ge BATCH ] && [ $(($(wc -c < "$O" 2>/dev/null) + 0)) -ge "$M" ]; then : > "$T/s.$N"; fi'
rs() {
  L=$1 X=; [ -n "$2" ] && X="stdbuf -o0"; O=$3; shift 3; k0=0
  while [ $# -gt 0 ]; do
    c=0; for x in "$T"/h.*; do [ -e "$x" ] && c=$((c + 1)); done
    [ $c -lt HANGS ] || { h 'Z t'; return 0; }
    $TO $X head -q -c "$L" -- "$@" 2>/dev/null
    case $? in 124|137) ;; *) return 0;; esac
    h H; : > "$T/h.${O##*/}.$#"
    k=$(($(LC_ALL=C grep -c -x -F -f "$T/bl" "$O" 2>/dev/null) + 0))
    n=$((2 * (k - k0))); k0=$k; [ "$n" -gt 0 ] || n=2
    [ $# -gt "$n" ] || return 0
    shift "$n"
  done
}
kn() { printf '%s\n' "$@"; [ -n "$T" ] && printf "$T/b\0%s\0" "$@" >&3; }
kq() {
  [ -n "$PP" ] || return 0
  o=$IFS; IFS=$NL
  for x; do printf "%s/$x\n" $PP; [ -n "$T" ] && printf "$T/b\0%s/$x\0" $PP >&3; done
  IFS=$o
}
)SH";

// What stands for TOOLS in the prelude: the tests and a "tools" section
// that says what they found, or what an earlier script said.
std::string toolsScript(const std::optional<RemoteTools>& known) {
    if (known) {
        auto flag = [](const char* name, bool on) {
            return std::string(name) + (on ? "=1 " : "= ");
        };
        return flag("XT", known->timeout) + flag("XS", known->stdbuf) + flag("XF", known->gnuFind) +
               flag("XL", known->filesFrom) + flag("XR", known->realpathZ);
    }
    return R"SH(XT= XS= XF= XL= XR=
command -v timeout >/dev/null 2>&1 && XT=1
command -v stdbuf >/dev/null 2>&1 && XS=1
if find / -maxdepth 0 -printf '' 2>/dev/null; then
  XF=1; find -files0-from /dev/null -maxdepth 0 -printf '' 2>/dev/null && XL=1
fi
realpath -z -m / >/dev/null 2>&1 && XR=1
printf '\n%s X tools\ntimeout=%s stdbuf=%s find=%s files0=%s realpath=%s\n\n%s E 0\n' \
  "$B" "$XT" "$XS" "$XF" "$XL" "$XR" "$B")SH";
}

// ---------------------------------------------------------------------------
// Reading the frames back.

struct Reading {
    const std::vector<Frame>& frames;
    const ScriptOptions& options;
    Snapshot& snap;
    std::size_t at = 0;
    // The limit each file asked for by name was asked with (reads, then
    // user reads): a section of single files reads them all to the largest.
    std::map<std::string, std::size_t> named[2];

    // What of `name` a section read to `sectionLimit` is kept, and so the
    // limit its value stands for.
    std::size_t keptLimit(bool user, bool single, const std::string& name,
                          std::size_t sectionLimit) const {
        if (!single) return sectionLimit;
        const auto& m = named[user ? 1 : 0];
        const auto it = m.find(name);
        return it == m.end() ? sectionLimit : std::min(it->second, sectionLimit);
    }

    const Frame* peek(std::size_t k = 0) const {
        return at + k < frames.size() ? &frames[at + k] : nullptr;
    }
    // Strips the scratch prefix of a name the remote printed.
    std::string unrooted(std::string_view name) const {
        const std::string& root = options.root;
        if (!root.empty() && name.substr(0, root.size()) == root) name.remove_prefix(root.size());
        if (name.empty()) return "/";
        return std::string(name);
    }
    // The status of the "E n" frame that ends a section, if it is next; the
    // reading moves past it.
    std::optional<int> end() {
        const Frame* f = peek();
        if (!f || f->tag != "E") return std::nullopt;
        ++at;
        return text::wholeNumber<int>(f->arg);
    }
};

std::vector<std::string_view> nulFields(std::string_view rec) {
    std::vector<std::string_view> f;
    while (!rec.empty()) {
        const auto z = rec.find('\0');
        if (z == std::string_view::npos) break;
        f.push_back(rec.substr(0, z));
        rec.remove_prefix(z + 1);
    }
    return f;
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
    const auto sec = text::wholeNumber<std::int64_t>(s.substr(0, dot));
    if (!sec) return std::nullopt;
    Timestamp t{*sec, 0};
    if (dot != std::string_view::npos) {
        std::string frac(s.substr(dot + 1, 6));
        while (frac.size() < 6) frac += '0';
        t.microseconds = text::wholeNumber<long>(frac).value_or(0);
    }
    return t;
}

// ---------------------------------------------------------------------------
// Files: "R <r|u> <limit>" lists the names, one a line; then an "F" frame
// per file in that order (named in its argument where the remote reads one
// at a time), "H" after a file whose read hung, "Z t" or "Z s" when the rest
// was skipped (too many hangs, or the pass's size budget spent), and "E".

void emitReads(std::string& s, const std::vector<const Request*>& items, bool user,
               std::size_t limit, bool patterns, int n, const ScriptOptions& o) {
    std::string kernel, other, processes;
    for (const Request* r : items) {
        if (const std::string name = perProcess(*r); !name.empty())
            processes += " " + name;
        else
            (isKernelPattern(*r) ? kernel : other) += " " + word(*r, o);
    }
    const std::string lim = std::to_string(limit);
    // `head` reads the frame markers under the same limit: never below what
    // a marker holds, or the frames themselves would be cut. Values are cut
    // to the limit on this side.
    const std::string headLimit = std::to_string(std::max<std::size_t>(limit, 64));
    const std::string list = "\"$T/l" + std::to_string(n) + "\"";
    const std::string out = "\"$T/o" + std::to_string(n) + "\"";
    const std::string test = user ? "[ -f \"$f\" ] && [ -r \"$f\" ] && ! [ -L \"$f\" ] || continue"
                                  : "[ -f \"$f\" ] && [ -r \"$f\" ] || continue";
    // The names, one a line, in the order the files are read: the first
    // hundreds that are not the kernel's become this shell's arguments for
    // rs, the rest (and every kernel file) go to the list for xargs and RB.
    // Single files carry "n": each of them is kept to the limit it was asked with.
    s += "set +f\nh 'R " + std::string(user ? "u " : "r ") + lim + (patterns ? "" : " n") +
         "'\nset --\nA= c=0\n";
    s += "W=/dev/null; [ -n \"$T\" ] && W=" + list + "\n{\n";
    if (!other.empty()) {
        s += "for f in" + other + "; do\n  ok \"$f\" || continue\n  " + test + "\n";
        s += "  printf '%s\\n' \"$f\"\n  if [ $c -lt " + std::to_string(kFewFiles) +
             " ]; then c=$((c + 1)); A=\"$A$NL$T/b$NL$f\"\n"
             "  else [ -n \"$T\" ] && printf '%s\\0%s\\0' \"$T/b\" \"$f\" >&3; fi\ndone\n";
    }
    // Kernel files, thousands of them: no test and no loop (a name that is
    // not there gives an empty value, as a file gone meanwhile does).
    if (!processes.empty()) s += "set -f; kq" + processes + "; set +f\n";
    if (!kernel.empty()) s += "kn" + kernel + "\n";
    // No name holds a line break (ok), and patterns are off while splitting.
    s += "} 3>\"$W\"\nset -f\no=$IFS; IFS=$NL; set -- $A; IFS=$o\n";
    // Patterns' files are read with stdbuf so that what a killed `head` had
    // read is not lost in its buffer. Not single files: one of them is
    // /proc/self/environ, and stdbuf's variables would show.
    const std::string stdbuf = patterns ? "\"$SB\"" : "''";
    s += "if [ -n \"$T\" ]; then\n  [ $# -gt 0 ] && rs " + headLimit + " " + stdbuf + " " + out +
         " \"$@\"\n";
    s += "  [ -s " + list + " ] && xargs -0 -n " + std::to_string(kBatchArgs) +
         " sh -c \"$RB\" sh \"$T\" " + headLimit + " \"$TN\" " + stdbuf + " " +
         std::to_string(kPassBudget) + " " + out + " " + std::to_string(n) + " < " + list + "\n";
    // One at a time, each value under its own name: a second expansion of
    // a pattern may not give the same names as the first.
    std::string every = kernel + other;
    for (const Request* r : items)
        if (!perProcess(*r).empty()) every += " " + word(*r, o);
    s += "else\n  set +f\n  for f in" + every + "; do\n    ok \"$f\" || continue; " + test +
         "\n    h \"F $f\"; $TO head -c " + headLimit +
         " -- \"$f\" 2>/dev/null; case $? in 124|137) h H;; esac\n  done\n  set -f\nfi\n";
    s += "h \"E $?\"\n";
}

void takeReads(Reading& rd) {
    const Frame& head = rd.frames[rd.at++];
    const bool user = head.arg.starts_with("u ");
    const Kind kind = user ? Kind::UserRead : Kind::Read;
    const auto words = text::splitWords(head.arg);
    const std::size_t limit =
        words.size() > 1 ? text::wholeNumber<std::size_t>(words[1]).value_or(0) : 0;
    const bool single = words.size() > 2 && words[2] == "n";
    auto& map = user ? rd.snap.userFiles : rd.snap.files;
    std::vector<std::string> names;
    for (auto l : text::splitLines(head.body)) names.push_back(rd.unrooted(l));
    auto lose = [&](const std::string& name, LostValues::Why why) {
        const std::size_t own = rd.keptLimit(user, single, name, limit);
        map[name] = FileData{std::nullopt, own};
        rd.snap.failed[Request{kind, name, own, false}] = why;
    };
    std::size_t next = 0;  // the next name an unnamed "F" belongs to
    std::optional<std::string> last;
    bool skipped = false, ended = false;
    while (const Frame* f = rd.peek()) {
        if (f->tag == "F") {
            if (!skipped) {
                std::string name;
                if (!f->arg.empty())
                    name = rd.unrooted(f->arg);
                else if (next < names.size())
                    name = names[next++];
                if (!name.empty()) {
                    const std::size_t own = rd.keptLimit(user, single, name, limit);
                    map[name] = FileData{std::string(f->body.substr(0, own)), own};
                    last = name;
                }
            }
        } else if (f->tag == "H") {
            if (last) lose(*last, LostValues::Why::TimedOut);
        } else if (f->tag == "Z") {
            if (!skipped) {
                const auto why =
                    f->arg == "s" ? LostValues::Why::Refused : LostValues::Why::TimedOut;
                for (std::size_t k = next; k < names.size(); ++k) lose(names[k], why);
                next = names.size();
            }
            skipped = true;
        } else if (f->tag == "E") {
            ++rd.at;
            ended = true;
            break;
        } else {
            break;
        }
        ++rd.at;
    }
    // Named and not read: gone between the list and the read when the
    // batch ended, else cut off with the run.
    for (const std::string& name : names) {
        if (map.count(name)) continue;
        if (ended)
            map[name] = FileData{std::nullopt, rd.keptLimit(user, single, name, limit)};
        else
            lose(name, LostValues::Why::TimedOut);
    }
}

// A type as find's %y and %Y print it; followed, 'N' is a link that leads
// nowhere and 'L' one that loops.
FileType findType(char c) {
    return c == 'f'   ? FileType::Regular
           : c == 'd' ? FileType::Directory
           : c == 'l' ? FileType::Symlink
           : c == 'N' ? FileType::None
                      : FileType::Other;
}

FileType findFollowedType(char c) {
    return c == 'L' ? FileType::None : findType(c);
}

// ---------------------------------------------------------------------------
// Folders: with GNU find, "LF" lists the folders ("!" before one that may
// not be listed), "D" holds find's NUL-separated "folder, type, name"
// records, so any name comes through. Otherwise "L <folder>" (or "L! ...")
// per folder with "<type> <name>" lines.

// With `typed`, the records also carry each entry's type when followed and
// a link's target ("LT": "folder, type, type followed, target, name"), so
// the types and links asked for over these folders need no find of their own.
void emitLists(std::string& s, const std::vector<const Request*>& items, const ScriptOptions& o,
               bool typed) {
    const std::string dirs = words(items, o);
    const std::string format = typed ? "%H\\0%y\\0%Y\\0%l\\0%f\\0" : "%H\\0%y\\0%f\\0";
    s += "set +f\nif [ -n \"$GF\" ]; then\nh " + std::string(typed ? "LT" : "LF") + "\nfor d in" +
         dirs;
    s += "; do\n  ok \"$d\" && [ -d \"$d\" ] || continue\n";
    s += "  if ! [ -r \"$d\" ] || ! [ -x \"$d\" ]; then printf '!%s\\n' \"$d\"; continue; fi\n";
    s += "  printf '%s\\n' \"$d\"; printf '%s\\0' \"$d\" >&3\ndone 3>\"$T/d\"\nh D\n";
    // One find for every folder, given them by the list itself where it can.
    s += "if [ -n \"$FF\" ]; then [ -s \"$T/d\" ] && find -files0-from \"$T/d\" -mindepth 1 "
         "-maxdepth 1 -printf '" +
         format + "' 2>/dev/null\n";
    s += "else [ -s \"$T/d\" ] && xargs -0 sh -c 'exec find \"$@\" -mindepth 1 -maxdepth 1 "
         "-printf \"" +
         format + "\"' sh < \"$T/d\" 2>/dev/null; fi\nh \"E $?\"\nelse\n";
    s += "for d in" + dirs + "; do\n  ok \"$d\" || continue\n  [ -d \"$d\" ] || continue\n";
    s += "  if ! [ -r \"$d\" ] || ! [ -x \"$d\" ]; then h \"L! $d\"; continue; fi\n";
    s += "  h \"L $d\"\n";
    s += "  for e in \"$d\"/* \"$d\"/.[!.]* \"$d\"/..?*; do\n";
    s += "    [ -e \"$e\" ] || [ -L \"$e\" ] || continue\n";
    s += "    n=${e##*/}; ok \"$n\" || continue\n";
    s += "    ty \"$e\"; printf ' %s\\n' \"$n\"\n";
    s += "  done\ndone\nfi\nset -f\n";
}

bool byName(const DirEntry& a, const DirEntry& b) {
    return a.name < b.name;
}

void takeListsFound(Reading& rd) {
    const Frame& head = rd.frames[rd.at++];
    std::vector<std::vector<DirEntry>*> filled;  // what this section lists
    for (auto l : text::splitLines(head.body)) {
        if (!l.empty() && l[0] == '!') {
            rd.snap.lists[rd.unrooted(l.substr(1))] = std::nullopt;
        } else {
            auto& entries = rd.snap.lists[rd.unrooted(l)];
            entries = std::vector<DirEntry>{};
            filled.push_back(&*entries);
        }
    }
    const bool typed = head.tag == "LT";
    const Frame* d = rd.peek();
    if (!d || d->tag != "D") return;  // cut off before the records
    ++rd.at;
    const auto f = nulFields(d->body);
    const std::size_t width = typed ? 5 : 3;
    for (std::size_t k = 0; k + width <= f.size(); k += width) {
        const std::string dir = rd.unrooted(f[k]);
        auto it = rd.snap.lists.find(dir);
        if (it == rd.snap.lists.end() || !it->second || f[k + 1].size() != 1) continue;
        const std::string_view name = f[k + width - 1];
        const FileType type = findType(f[k + 1][0]);
        it->second->push_back({std::string(name), type});
        if (!typed || f[k + 2].size() != 1) continue;
        const std::string path =
            dir == "/" ? "/" + std::string(name) : dir + "/" + std::string(name);
        rd.snap.types[path] = {type, findFollowedType(f[k + 2][0])};
        if (type == FileType::Symlink && !f[k + 3].empty())
            rd.snap.links[path] = std::string(f[k + 3]);
    }
    for (auto* entries : filled) std::sort(entries->begin(), entries->end(), byName);
    rd.end();
}

void takeList(Reading& rd) {
    const Frame& f = rd.frames[rd.at++];
    const bool denied = f.tag == "L!";
    const std::string dir = rd.unrooted(f.arg);
    if (denied) {
        rd.snap.lists[dir] = std::nullopt;
        return;
    }
    std::vector<DirEntry> entries;
    for (auto l : text::splitLines(f.body)) {
        if (l.size() < 3) continue;
        entries.push_back({std::string(l.substr(2)), typeFromChar(l[0])});
    }
    std::sort(entries.begin(), entries.end(), byName);
    rd.snap.lists[dir] = std::move(entries);
}

// ---------------------------------------------------------------------------
// Links: with GNU find, "KF" holds NUL-separated "path, target" pairs, each
// value under its own name. Otherwise "K <path>" per link with readlink's
// line. (A marker link between real ones would need its target, and so the
// boundary, in a process's arguments.)

// `listed`: the links are those a typed listing (LT) gives where GNU find
// is there; only the shell's way is written, for where it is not.
void emitLinks(std::string& s, const std::vector<const Request*>& items, const ScriptOptions& o,
               bool listed = false) {
    std::string kernel, other;
    for (const Request* r : items) (isKernelPattern(*r) ? kernel : other) += " " + word(*r, o);
    if (listed) {
        s += "if [ -z \"$GF\" ]; then\nset +f\nfor f in" + kernel + other +
             "; do\n  ok \"$f\" && [ -L \"$f\" ] || continue\n  h \"K $f\"; readlink -- \"$f\"\n"
             "done\nset -f\nfi\n";
        return;
    }
    std::string kernelGlobs;
    for (const Request* r : items)
        if (perProcess(*r).empty() && isKernelPattern(*r)) kernelGlobs += " " + word(*r, o);
    s += "set +f\nif [ -n \"$GF\" ]; then\n{\n";
    if (const std::string processes = perProcessList(items); !processes.empty())
        s += "if [ -n \"$PP\" ]; then\n{\n" + processes + "} >&3\nfi\n";
    if (!kernelGlobs.empty()) s += "set --" + kernelGlobs + "\nprintf '%s\\0' \"$@\" >&3\n";
    if (!other.empty())
        s += "for f in" + other +
             "; do ok \"$f\" && [ -L \"$f\" ] && printf '%s\\0' \"$f\" >&3; done\n";
    s += "} 3>\"$T/k\"\nset -f\nh KF\n";
    s += "if [ -n \"$FF\" ]; then [ -s \"$T/k\" ] && find -files0-from \"$T/k\" -maxdepth 0 "
         "-printf '%p\\0%l\\0' 2>/dev/null\n";
    s += "else [ -s \"$T/k\" ] && xargs -0 sh -c 'exec find \"$@\" -maxdepth 0 -printf "
         "\"%p\\0%l\\0\"' sh < \"$T/k\" 2>/dev/null; fi\nh \"E $?\"\nelse\n";
    s += "for f in" + kernel + other +
         "; do\n  ok \"$f\" && [ -L \"$f\" ] || continue\n  h \"K $f\"; readlink -- \"$f\"\ndone\n";
    s += "set -f\nfi\n";
}

std::optional<std::string> lineValue(std::string_view v) {
    if (!v.empty() && v.back() == '\n') v.remove_suffix(1);
    if (v.empty()) return std::nullopt;
    return std::string(v);
}

void takeLinksFound(Reading& rd) {
    const Frame& f = rd.frames[rd.at++];
    const auto fields = nulFields(f.body);
    for (std::size_t k = 0; k + 1 < fields.size(); k += 2) {
        std::optional<std::string> target;
        if (!fields[k + 1].empty()) target = std::string(fields[k + 1]);
        rd.snap.links[rd.unrooted(fields[k])] = std::move(target);
    }
    rd.end();
}

void takeLink(Reading& rd) {
    const Frame& f = rd.frames[rd.at++];
    rd.snap.links[rd.unrooted(f.arg)] = lineValue(f.body);
}

// ---------------------------------------------------------------------------
// Canonical paths: with realpath, "CF" lists the names and "D" holds one
// NUL-terminated result for each, in order (-m never leaves one out).
// Otherwise "C <path>" per path with readlink -f's line.

void emitCanon(std::string& s, const std::vector<const Request*>& items, const ScriptOptions& o) {
    const std::string list = words(items, o);
    s += "set +f\nif [ -n \"$T\" ] && [ -n \"$XR\" ]; then\nh CF\n";
    s += "for f in" + list +
         "; do ok \"$f\" && [ -e \"$f\" ] || continue; printf '%s\\n' \"$f\"; printf '%s\\0' "
         "\"$f\" >&3; done 3>\"$T/cn\"\nset -f\nh D\n";
    s += "[ -s \"$T/cn\" ] && xargs -0 realpath -z -m -- < \"$T/cn\" 2>/dev/null\nh \"E $?\"\n";
    s += "else\nfor f in" + list +
         "; do\n  ok \"$f\" && [ -e \"$f\" ] || continue\n  h \"C $f\"; readlink -f -- \"$f\"\n"
         "done\nset -f\nfi\n";
}

void takeCanonFound(Reading& rd) {
    const Frame& head = rd.frames[rd.at++];
    const auto names = text::splitLines(head.body);
    const Frame* d = rd.peek();
    if (!d || d->tag != "D") return;
    ++rd.at;
    const auto values = nulFields(d->body);
    // One result a name, or the batch broke off: then none is trusted.
    const bool whole = values.size() == names.size();
    for (std::size_t k = 0; k < names.size(); ++k) {
        std::optional<std::string> v;
        if (whole && !values[k].empty()) v = rd.unrooted(values[k]);
        rd.snap.canon[rd.unrooted(names[k])] = std::move(v);
    }
    rd.end();
}

void takeCanon(Reading& rd) {
    const Frame& f = rd.frames[rd.at++];
    auto v = lineValue(f.body);
    rd.snap.canon[rd.unrooted(f.arg)] = v ? std::optional<std::string>(rd.unrooted(*v)) : v;
}

// ---------------------------------------------------------------------------
// Types, modification and birth times: "T" lines "<type><type followed>
// <path>", "M"/"W" lines "<seconds.fraction> <path>", one path at a time
// with the shell's own tests and stat; for patterns over one folder with
// GNU find, "TF"/"MF" with NUL-separated records.

void emitPlain(std::string& s, Kind kind, const std::vector<const Request*>& items,
               const ScriptOptions& options) {
    if (kind == Kind::Type) {
        s += "set +f\nh T\nfor f in" + words(items, options);
        s += "; do\n  ok \"$f\" || continue\n";
        s += "  ty \"$f\"; ft \"$f\"; printf ' %s\\n' \"$f\"\ndone\nset -f\n";
        return;
    }
    const std::string fmt = kind == Kind::MTime ? "%.6Y %n" : "%.6W %n";
    s += "set +f\nh " + std::string(kind == Kind::MTime ? "M" : "W") + "\n";
    s += "W=/dev/null; [ -n \"$T\" ] && W=\"$T/s\"\nfor f in" + words(items, options) + "; do\n";
    s += "  ok \"$f\" && [ -e \"$f\" ] || continue\n";
    s += "  if [ -n \"$T\" ]; then printf '%s\\0' \"$f\" >&3; else LC_ALL=C stat -L -c '" + fmt +
         "' -- \"$f\"; fi\n";
    s += "done 3>\"$W\"\nset -f\n[ -n \"$T\" ] && [ -s \"$T/s\" ] && LC_ALL=C xargs -0 stat -L -c "
         "'" +
         fmt + "' -- < \"$T/s\"\n";
}

void emitTimesAndTypes(std::string& s, Kind kind, const std::vector<const Request*>& items,
                       const ScriptOptions& options) {
    if (kind == Kind::Birth) {
        emitPlain(s, kind, items, options);
        return;
    }
    // Patterns over one folder ("/etc/x/*.service") go to one find with
    // NUL-separated records when it is GNU's.
    std::vector<const Request*> fast, slow;
    for (const Request* r : items) (folderPattern(*r) ? fast : slow).push_back(r);
    if (!fast.empty()) {
        const bool type = kind == Kind::Type;
        s += "if [ -n \"$GF\" ]; then\n";
        s += type ? "h TF\n" : "h MF\n";
        // One find per name pattern, over all its folders.
        std::map<std::string, std::string> folders;
        for (const Request* r : fast) {
            const auto slash = r->path.rfind('/');
            folders[r->path.substr(slash + 1)] +=
                " " + quote(options.root + (slash == 0 ? "/" : r->path.substr(0, slash)));
        }
        for (const auto& [name, dirs] : folders) {
            s += std::string("LC_ALL=C find ") + (type ? "" : "-L ") + dirs +
                 " -mindepth 1 -maxdepth 1 -name " + quote(name) +
                 (type ? " -printf '%y%Y %p\\0'" : " -printf '%T@ %p\\0'") + " 2>/dev/null\n";
        }
        s += "h \"E $?\"\nelse\n";
        emitPlain(s, kind, fast, options);
        s += "fi\n";
    }
    if (!slow.empty()) emitPlain(s, kind, slow, options);
}

void takeTypes(Reading& rd) {
    const Frame& f = rd.frames[rd.at++];
    for (auto l : text::splitLines(f.body)) {
        if (l.size() < 4 || l[2] != ' ') continue;
        rd.snap.types[rd.unrooted(l.substr(3))] = {typeFromChar(l[0]), typeFromChar(l[1])};
    }
}

void takeFoundTypesOrTimes(Reading& rd) {
    const Frame& f = rd.frames[rd.at++];
    const bool types = f.tag == "TF";
    for (std::string_view r : nulFields(f.body)) {
        const auto sp = r.find(' ');
        if (sp == std::string_view::npos) continue;
        const std::string path = rd.unrooted(r.substr(sp + 1));
        if (types) {
            if (sp != 2) continue;
            rd.snap.types[path] = {findType(r[0]), findFollowedType(r[1])};
        } else {
            rd.snap.mtimes[path] = timestamp(r.substr(0, sp));
        }
    }
    rd.end();
}

void takeTimes(Reading& rd) {
    const Frame& f = rd.frames[rd.at++];
    auto& map = f.tag == "M" ? rd.snap.mtimes : rd.snap.births;
    for (auto l : text::splitLines(f.body)) {
        const auto sp = l.find(' ');
        if (sp == std::string_view::npos) continue;
        auto ts = timestamp(l.substr(0, sp));
        // A birth time of zero: the file system does not keep one.
        if (ts && f.tag == "W" && ts->seconds <= 0) ts.reset();
        map[rd.unrooted(l.substr(sp + 1))] = ts;
    }
}

// ---------------------------------------------------------------------------
// Entry counts: with GNU find, one process for every folder, "NF" with a
// record per folder that may be listed and one per entry ("depth, folder,
// name, R(eadable folder) or N(ot)"). Otherwise "N" lines "<count> <folder>".

void emitCounts(std::string& s, const std::vector<const Request*>& items, const ScriptOptions& o) {
    const std::string dirs = words(items, o);
    const std::string test =
        " -maxdepth 1 \\( -readable -executable -type d -printf '%d\\0%h\\0%f\\0R\\0' \\) "
        "-o -printf '%d\\0%h\\0%f\\0N\\0' 2>/dev/null\nh \"E $?\"\n";
    // Folders of every process go to find as a list named from $PP.
    std::string others;
    for (const Request* r : items)
        if (perProcess(*r).empty()) others += " " + word(*r, o);
    s += "set +f\n";
    if (const std::string processes = perProcessList(items); !processes.empty()) {
        s += "if [ -n \"$FF\" ] && [ -n \"$PP\" ]; then\n{\n" + processes;
        if (!others.empty())
            s += "for d in" + others + "; do ok \"$d\" && printf '%s\\0' \"$d\"; done\n";
        s += "} > \"$T/n\"\nh NF\nfind -files0-from \"$T/n\"" + test + "el";
    }
    s += "if [ -n \"$GF\" ]; then\nh NF\nfind" + dirs + test + "else\n";
    s += "h N\nfor d in" + dirs + "; do\n  ok \"$d\" || continue\n";
    s += "  if [ -d \"$d\" ] && [ -r \"$d\" ] && [ -x \"$d\" ]; then set -- \"$d\"/*; "
         "if [ -e \"$1\" ] || [ -L \"$1\" ]; then printf '%s %s\\n' $# \"$d\"; else "
         "printf '0 %s\\n' \"$d\"; fi; fi\n";
    s += "done\nfi\nset -f\n";
}

void takeCountsFound(Reading& rd) {
    const Frame& fr = rd.frames[rd.at++];
    const auto f = nulFields(fr.body);
    std::map<std::string, std::size_t> counts;
    for (std::size_t k = 0; k + 3 < f.size(); k += 4) {
        const std::string parent = rd.unrooted(f[k + 1]);
        if (f[k] == "0") {
            const std::string self =
                parent == "/" ? "/" + std::string(f[k + 2]) : parent + "/" + std::string(f[k + 2]);
            if (f[k + 3] == "R") counts.emplace(self, 0);
        } else if (f[k] == "1" && !f[k + 2].starts_with(".")) {
            ++counts[parent];
        }
    }
    for (const auto& [dir, n] : counts) rd.snap.counts[dir] = n;
    rd.end();
}

void takeCounts(Reading& rd) {
    const Frame& f = rd.frames[rd.at++];
    for (auto l : text::splitLines(f.body)) {
        const auto sp = l.find(' ');
        if (sp == std::string_view::npos) continue;
        rd.snap.counts[rd.unrooted(l.substr(sp + 1))] =
            text::wholeNumber<std::size_t>(l.substr(0, sp));
    }
}

// ---------------------------------------------------------------------------
// File system sizes: "S <mount>" with stat -f's line, then "E"; each under
// the timeout, as a dead mount never answers.

void emitStatFs(std::string& s, const std::vector<const Request*>& items, const ScriptOptions& o) {
    for (const Request* r : items) {
        if (r->path.find('\n') != std::string::npos) continue;
        s += "h " + quote("S " + r->path) + "\n$TO stat -f -c '%S %b %a %l' -- " + word(*r, o) +
             " 2>/dev/null\nh \"E $?\"\n";
    }
}

void takeStatFs(Reading& rd) {
    const Frame& f = rd.frames[rd.at++];
    const std::string mount(f.arg);
    const auto rc = rd.end();
    std::optional<FsStats> st;
    const auto lines = text::splitLines(f.body);
    if (rc && *rc == 0 && !lines.empty()) {
        const auto w = text::splitWords(lines.front());
        if (w.size() == 4) {
            auto a = text::wholeNumber<std::uint64_t>(w[0]),
                 b = text::wholeNumber<std::uint64_t>(w[1]),
                 c = text::wholeNumber<std::uint64_t>(w[2]),
                 d = text::wholeNumber<std::uint64_t>(w[3]);
            if (a && b && c && d) st = FsStats{*a, *b, *c, *d};
        }
    }
    // Killed by the timeout: a hung mount, not one without sizes.
    if (!rc || *rc == 124 || *rc == 137)
        rd.snap.failed[Request{Kind::StatFs, mount, 0, false}] = LostValues::Why::TimedOut;
    rd.snap.statfs[mount] = st;
}

// ---------------------------------------------------------------------------
// Commands: "X <name>" with the command's output, then "E <status>". A
// command the remote lacks prints no section at all. Each runs in the C
// locale on its own (nothing is exported to the remote's processes).

// The names of the sections each command request prints.
std::vector<std::string_view> commandSections(std::string_view command) {
    if (command == kSystemd) return {"systemd-list", "systemd-show"};
    if (command == kPrinters)
        return {"lpstat-p", "lpstat-d",  "lpstat-v",     "lpstat-a",
                "lpstat-o", "lpoptions", "ipp-printers", "ipp-jobs"};
    if (command == kAddresses) return {"ip-link", "ip-addr"};
    return {command};
}

void emitCommand(std::string& s, const Request& r, const ScriptOptions& options) {
    const std::string& c = r.path;
    if (c == kFacts) {
        // One process per fact source: now and the offsets of January and
        // July (daylight saving) from one date.
        s += "h 'X facts'\n"
             "printf 'now\\nJan 1 12:00\\nJul 1 12:00\\n' | LC_ALL=C date -f - '+%s %z' "
             "2>/dev/null || { LC_ALL=C date '+%s %z'; echo; echo; }\n"
             // The zone the shell's programs use, when TZ names one.
             "if [ \"${TZ+set}\" = set ]; then printf 'TZ=%s\\n' \"$TZ\"; else echo; fi\n"
             "h 'E 0'\n";
    } else if (c == kMachine) {
        s += "h 'X machine'\n"
             "uname -nm 2>/dev/null || echo\n"
             "getconf CLK_TCK 2>/dev/null || echo\n"
             "getconf PAGESIZE 2>/dev/null || echo\n"
             "h 'E 0'\n";
    } else if (c == kSystemd) {
        // Only where systemd runs (the test sd_booted() makes): elsewhere
        // systemctl has no manager to ask and costs a process for nothing.
        s += "if [ -d /run/systemd/system ] && command -v systemctl >/dev/null 2>&1; then\n"
             "h 'X systemd-list'\n"
             "u=$(LC_ALL=C SYSTEMD_COLORS=0 $TO systemctl list-units --all "
             "--plain --no-legend --full --no-pager 2>/dev/null); r=$?\n"
             "printf '%s\\n' \"$u\"\nh \"E $r\"\n"
             "if [ $r = 0 ]; then\n"
             // The services' names, picked out by the shell itself.
             "s=; o=$IFS; IFS=$NL\n"
             "for l in $u; do n=${l%% *}; case $n in *.service) s=\"$s$NL$n\";; esac; done\n"
             "set -- $s; IFS=$o\n"
             "h 'X systemd-show'\n"
             "[ $# -gt 0 ] && LC_ALL=C $TO systemctl show --no-pager "
             "-p Id,MainPID,ExecMainStatus,CanStop -- \"$@\" 2>/dev/null\n"
             "h \"E $?\"\nfi\nfi\n";
    } else if (c == kPrinters) {
        s += "if command -v lpstat >/dev/null 2>&1; then\n";
        for (const char* sub : {"p:-l -p", "d:-d", "v:-v", "a:-a", "o:-l -o"}) {
            const std::string_view command = sub;
            const auto colon = command.find(':');
            s += "h 'X lpstat-" + std::string(command.substr(0, colon)) + "'\n";
            s += "LC_ALL=C $TO lpstat " + std::string(command.substr(colon + 1)) +
                 " 2>/dev/null\nh \"E $?\"\n";
        }
        // Where ipptool is there, the scheduler's own attributes over IPP:
        // every one the local print system reads.
        auto ippTest = [](std::string_view operation, const auto& attributes, bool jobs) {
            std::string t = "printf '%s\\n' '{' 'OPERATION " + std::string(operation) +
                            "' 'GROUP operation-attributes-tag'"
                            " 'ATTR charset attributes-charset utf-8'"
                            " 'ATTR naturalLanguage attributes-natural-language en'";
            if (jobs)
                t += " 'ATTR uri printer-uri $uri' 'ATTR name requesting-user-name $user'"
                     " 'ATTR keyword which-jobs not-completed'";
            std::string list;
            for (const char* a : attributes) list += std::string(list.empty() ? "" : ",") + a;
            t += " 'ATTR keyword requested-attributes " + list + "'";
            for (const char* a : attributes) t += std::string(" 'DISPLAY ") + a + "'";
            t += " '}'";
            return t;
        };
        s += "IP=\nif [ -n \"$T\" ] && command -v ipptool >/dev/null 2>&1; then\n"
             "S=$(LC_ALL=C lpstat -H 2>/dev/null); case $S in ''|/*) S=localhost;; esac\n";
        s += ippTest("CUPS-Get-Printers", kPrinterAttributes, false) + " > \"$T/gp\"\n";
        s += ippTest("Get-Jobs", kJobAttributes, true) + " > \"$T/gj\"\n";
        s += "h 'X ipp-printers'\n$TO ipptool -c \"ipp://$S/\" \"$T/gp\" 2>/dev/null; r=$?\n"
             "h \"E $r\"\n[ $r = 0 ] && IP=1\n"
             "h 'X ipp-jobs'\n$TO ipptool -c \"ipp://$S/\" \"$T/gj\" 2>/dev/null\nh \"E $?\"\n"
             "fi\n";
        // Each queue's attributes as the scheduler keeps them (shared,
        // driver, device), one "name<TAB>options" line per queue.
        s += "if [ -z \"$IP\" ] && command -v lpoptions >/dev/null 2>&1; then\nh 'X lpoptions'\n"
             "for q in $(LC_ALL=C $TO lpstat -e 2>/dev/null); do\n"
             "  case $q in *[!A-Za-z0-9_.@-]*) continue;; esac\n"
             "  printf '%s\\t' \"$q\"; LC_ALL=C $TO lpoptions -p \"$q\" 2>/dev/null || echo\n"
             "done\nh 'E 0'\nfi\nfi\n";
    } else if (c == kLaterStat) {
        s += "h 'X stat-later'\nsleep 0.2 2>/dev/null || sleep 1\n"
             "head -c " +
             std::to_string(kDefaultReadLimit) + " " + quote(options.root + "/proc/stat") +
             "\nh \"E $?\"\n";
    } else if (c == kRoutes) {
        s += "if command -v ip >/dev/null 2>&1; then\n"
             "h 'X routes'\n$TO ip -4 route show table main 2>/dev/null\nh \"E $?\"\nfi\n";
    } else if (c == kAddresses) {
        s += "if command -v ip >/dev/null 2>&1; then\n"
             "h 'X ip-link'\n$TO ip -o link show 2>/dev/null\nh \"E $?\"\n"
             "h 'X ip-addr'\n$TO ip -o addr show 2>/dev/null\nh \"E $?\"\nfi\n";
    }
}

void takeCommand(Reading& rd) {
    const Frame& f = rd.frames[rd.at++];
    const std::string name(f.arg);
    const auto rc = rd.end();
    if (rc)
        rd.snap.commands[name] = CommandOutput{std::string(f.body), *rc};
    else
        rd.snap.commands[name] = std::nullopt;
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

std::optional<RemoteTools> parseTools(std::string_view text) {
    RemoteTools t;
    int seen = 0;
    for (std::string_view w : text::splitWords(text)) {
        const auto eq = w.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = w.substr(0, eq);
        const bool on = w.substr(eq + 1) == "1";
        bool* flag = key == "timeout"    ? &t.timeout
                     : key == "stdbuf"   ? &t.stdbuf
                     : key == "find"     ? &t.gnuFind
                     : key == "files0"   ? &t.filesFrom
                     : key == "realpath" ? &t.realpathZ
                                         : nullptr;
        if (flag) {
            *flag = on;
            ++seen;
        }
    }
    if (seen != 5) return std::nullopt;
    return t;
}

std::string makeBoundary() {
    return "tavo-" + text::randomHex(32);
}

std::string buildScript(const Requests& requests, const std::string& boundary,
                        const ScriptOptions& options) {
    std::string s = "B=" + quote(boundary) +
                    "\nTS=" + std::to_string(std::max(1, options.commandTimeoutSeconds)) + "\n";
    std::string prelude(kPrelude);
    for (auto at = prelude.find("HANGS"); at != std::string::npos; at = prelude.find("HANGS"))
        prelude.replace(at, 5, std::to_string(kMaxHangs));
    prelude.replace(prelude.find("BATCH"), 5, std::to_string(kBatchArgs));
    prelude.replace(prelude.find("TOOLS"), 5, toolsScript(options.tools));
    s += prelude;
    if (std::any_of(requests.begin(), requests.end(),
                    [](const Request& r) { return !perProcess(r).empty(); }))
        s += "set +f; set -- " + quote(options.root) +
             "/proc/[0-9]*; set -f\n[ -e \"$1\" ] || set --\no=$IFS; IFS=$NL; PP=\"$*\"; "
             "IFS=$o; set --\n";

    // Grouped by kind; reads also by their limit and by whether they are
    // patterns, so single files (/proc/stat, os-release, the account files,
    // which every row may need) never wait behind a batch that can hang.
    struct Key {
        Kind kind;
        std::size_t limit;
        bool patterns;
        auto operator<=>(const Key&) const = default;
    };
    // The system's single files up to the usual limit share one `head` at
    // the largest of their limits, as each section costs a timeout and a head
    // of its own; each value is cut to the limit its class asked for. Not
    // the users' files: a user could make one as large as that limit, and
    // have every pass carry it.
    std::map<Key, std::vector<const Request*>> groups;
    for (const Request& r : requests) {
        const bool read = r.kind == Kind::Read || r.kind == Kind::UserRead;
        const bool shared = r.kind == Kind::Read && !r.glob && r.limit <= kDefaultReadLimit;
        groups[{r.kind,
                !read    ? 0
                : shared ? kDefaultReadLimit
                         : r.limit,
                read && r.glob}]
            .push_back(&r);
    }
    // Links and types asked for over the entries of folders that are listed
    // anyway come with the listing: one find instead of three.
    std::set<std::string> listedFolders;
    for (const Request& r : requests)
        if (r.kind == Kind::List && !r.glob) listedFolders.insert(r.path);
    auto byListing = [&](const Request& r) {
        if (!folderPattern(r)) return false;
        const std::string folder = r.path.substr(0, r.path.rfind('/'));
        return folder.find_first_of("*?[") == std::string::npos && listedFolders.count(folder) > 0;
    };
    std::vector<const Request*> listedLinks, listedTypes;
    for (auto& [key, items] : groups) {
        if (key.kind != Kind::Link && key.kind != Kind::Type) continue;
        auto& to = key.kind == Kind::Link ? listedLinks : listedTypes;
        std::erase_if(items, [&](const Request* r) {
            if (!byListing(*r)) return false;
            to.push_back(r);
            return true;
        });
    }
    if (!listedLinks.empty()) emitLinks(s, listedLinks, options, true);
    if (!listedTypes.empty()) {
        s += "if [ -z \"$GF\" ]; then\n";
        emitPlain(s, Kind::Type, listedTypes, options);
        s += "fi\n";
    }
    const bool typedListing = !listedLinks.empty() || !listedTypes.empty();

    int background = 0;
    for (const auto& [key, items] : groups) {
        if (items.empty()) continue;
        switch (key.kind) {
            case Kind::Read:
            case Kind::UserRead: {
                // The reads run beside the rest of the script, into a file
                // of their own that is printed at the end: the remote's
                // processors work on both at once.
                const int n = background++;
                std::size_t limit = 0;
                for (const Request* r : items) limit = std::max(limit, r->limit);
                std::string body;
                emitReads(body, items, key.kind == Kind::UserRead, limit, key.patterns, n, options);
                const std::string name = std::to_string(n);
                s += "rd" + name + "() {\n" + body + "}\n";
                s += "if [ -n \"$T\" ]; then : > \"$T/o" + name + "\"; rd" + name + " > \"$T/o" +
                     name + "\" 2>/dev/null & else rd" + name + "; fi\n";
                break;
            }
            case Kind::List:
                emitLists(s, items, options, typedListing);
                break;
            case Kind::Link:
                emitLinks(s, items, options);
                break;
            case Kind::Canon:
                emitCanon(s, items, options);
                break;
            case Kind::Type:
            case Kind::MTime:
            case Kind::Birth:
                emitTimesAndTypes(s, key.kind, items, options);
                break;
            case Kind::Count:
                emitCounts(s, items, options);
                break;
            case Kind::StatFs:
                emitStatFs(s, items, options);
                break;
            case Kind::Command:
                for (const Request* r : items) emitCommand(s, *r, options);
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

void parseOutput(std::string_view output, const std::string& boundary, const Requests& requests,
                 const ScriptOptions& options, Snapshot& snap) {
    const auto frames = readFrames(output, boundary);
    Reading rd{frames, options, snap, 0, {}};
    for (const Request& r : requests) {
        if (r.glob || (r.kind != Kind::Read && r.kind != Kind::UserRead)) continue;
        auto& own = rd.named[r.kind == Kind::UserRead ? 1 : 0][r.path];
        own = std::max(own, r.limit);
    }
    bool finished = false;
    using Take = void (*)(Reading&);
    static const std::map<std::string_view, Take> kTakers = {
        {"R", takeReads},
        {"LF", takeListsFound},
        {"LT", takeListsFound},
        {"L", takeList},
        {"L!", takeList},
        {"KF", takeLinksFound},
        {"K", takeLink},
        {"CF", takeCanonFound},
        {"C", takeCanon},
        {"T", takeTypes},
        {"TF", takeFoundTypesOrTimes},
        {"MF", takeFoundTypesOrTimes},
        {"M", takeTimes},
        {"W", takeTimes},
        {"NF", takeCountsFound},
        {"N", takeCounts},
        {"S", takeStatFs},
        {"X", takeCommand},
    };
    while (const Frame* f = rd.peek()) {
        if (f->tag == "END") {
            finished = true;
            ++rd.at;
            continue;
        }
        const auto it = kTakers.find(f->tag);
        if (it == kTakers.end()) {
            ++rd.at;  // a stray frame (a section's end read already)
            continue;
        }
        it->second(rd);
    }

    // Whatever was asked and did not come back has no value. When the run
    // finished, it was not there; when it was cut off, it could not be read.
    for (const Request& r : requests) {
        if (r.glob) {
            // A pattern vouches for what it did not list only when the run
            // finished; otherwise its names are asked for again by name.
            if (finished) snap.patterns.push_back(r);
            continue;
        }
        const std::string& path = r.path;
        auto answer = [&](auto& map, auto none) {
            if (map.count(path)) return;
            map[path] = none;
            if (!finished) snap.failed[r] = LostValues::Why::TimedOut;
        };
        switch (r.kind) {
            case Kind::Read:
                answer(snap.files, FileData{std::nullopt, r.limit});
                break;
            case Kind::UserRead:
                answer(snap.userFiles, FileData{std::nullopt, r.limit});
                break;
            case Kind::List:
                answer(snap.lists, std::nullopt);
                break;
            case Kind::Link:
                answer(snap.links, std::nullopt);
                break;
            case Kind::Canon:
                answer(snap.canon, std::nullopt);
                break;
            case Kind::Type:
                answer(snap.types, std::pair{FileType::None, FileType::None});
                break;
            case Kind::MTime:
                answer(snap.mtimes, std::nullopt);
                break;
            case Kind::Birth:
                answer(snap.births, std::nullopt);
                break;
            case Kind::Count:
                answer(snap.counts, std::nullopt);
                break;
            case Kind::StatFs:
                answer(snap.statfs, std::nullopt);
                break;
            case Kind::Command:
                for (std::string_view section : commandSections(path)) {
                    const std::string name(section);
                    if (snap.commands.count(name)) continue;
                    snap.commands[name] = std::nullopt;
                    if (!finished)
                        snap.failed[Request{Kind::Command, name, 0, false}] =
                            LostValues::Why::TimedOut;
                }
                break;
        }
    }
}

}  // namespace tavo::linuxwmi::remote_view
