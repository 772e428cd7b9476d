#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>

#include "platform/linux/wmi/core_classes.h"
#include "support/cancellation.h"
#include "support/kernel_helper.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace {

// A /proc file of one process is small; a command line may be long, but
// beyond this it is not worth a row.

template <class T>
bool parseNumber(std::string_view s, T& out) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p != s.data();
}

// "VmHWM:\t  1234 kB" -> 1234
std::optional<unsigned long long> statusField(std::string_view status, std::string_view key) {
    std::size_t pos = 0;
    while (pos < status.size()) {
        const auto nl = status.find('\n', pos);
        std::string_view line =
            status.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        pos = nl == std::string_view::npos ? status.size() : nl + 1;
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            line[key.size()] == ':') {
            line.remove_prefix(key.size() + 1);
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
                line.remove_prefix(1);
            unsigned long long v = 0;
            if (parseNumber(line, v)) return v;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// What a row is made of: the files of /proc/<pid>, each read once through
// one descriptor of that folder (so a PID reused meanwhile cannot mix two
// processes in a row), stat first and status last. Both hold the program's
// name, so a process that ran another program between them shows it; the
// command line, the one read that can wait on the process itself for good,
// comes just before status.
enum ProcItem : std::size_t { kStat, kExe, kIo, kFd, kCmdline, kStatus, kProcItems };

const std::vector<kernelhelper::FolderItem>& procItems() {
    using Kind = kernelhelper::FolderItem::Kind;
    static const std::vector<kernelhelper::FolderItem> items{
        {"stat", Kind::KernelFile, kProcFileLimit, false},
        {"exe", Kind::Link, 0, false},
        {"io", Kind::KernelFile, kProcFileLimit, false},
        {"fd", Kind::Count, 0, false},
        {"cmdline", Kind::KernelFile, kCommandLineRead, true},
        {"status", Kind::KernelFile, kProcFileLimit, false},
    };
    return items;
}

// The "Name:" line of status (the first one), undoing the kernel's escapes
// of a line break and a backslash; nothing when there is no such line.
std::optional<std::string> statusName(std::string_view status) {
    std::size_t at = 0;
    while (status.substr(at, 5) != "Name:") {
        at = status.find('\n', at);
        if (at == std::string_view::npos) return std::nullopt;
        ++at;
    }
    std::string_view v = status.substr(at + 5);
    v = v.substr(0, v.find('\n'));
    if (!v.empty() && v.front() == '\t') v.remove_prefix(1);
    std::string out;
    out.reserve(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size() && (v[i + 1] == 'n' || v[i + 1] == '\\'))
            out += v[++i] == 'n' ? '\n' : '\\';
        else
            out += v[i];
    }
    return out;
}

}  // namespace

std::string commandLineOf(std::string raw, bool& cut) {
    cut = raw.size() > kCommandLineLimit;
    if (cut) {
        std::size_t end = kCommandLineLimit;
        // Not inside a character: back over its continuation bytes.
        while (end > 0 && (static_cast<unsigned char>(raw[end]) & 0xC0) == 0x80) --end;
        raw.resize(end);
    }
    while (!raw.empty() && raw.back() == '\0') raw.pop_back();
    std::replace(raw.begin(), raw.end(), '\0', ' ');
    return raw;
}

namespace {

std::string osName(const SystemContext& ctx) {
    for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
        auto text = ctx.readFile(file);
        if (!text) continue;
        std::string_view t = *text;
        while (!t.empty()) {
            const auto nl = t.find('\n');
            std::string_view line = t.substr(0, nl);
            t.remove_prefix(nl == std::string_view::npos ? t.size() : nl + 1);
            if (line.substr(0, 12) == "PRETTY_NAME=") {
                line.remove_prefix(12);
                if (line.size() >= 2 && (line.front() == '"' || line.front() == '\'') &&
                    line.back() == line.front()) {
                    line = line.substr(1, line.size() - 2);
                }
                return std::string(line);
            }
        }
    }
    return {};
}

std::optional<unsigned long long> bootTime(const SystemContext& ctx) {
    auto text = ctx.readFile("/proc/stat");
    if (!text) return std::nullopt;
    const auto pos = text->find("\nbtime ");
    if (pos == std::string::npos) return std::nullopt;
    unsigned long long v = 0;
    if (!parseNumber(std::string_view(*text).substr(pos + 7), v)) return std::nullopt;
    return v;
}

// WMI states a process's base priority on Windows' scale, where a normal
// process is 8: the nice value falls into the priority class that means the
// same (high, above normal, normal, below normal, idle), and a real-time
// process (a negative kernel priority) is in the real-time class.
std::int64_t windowsPriority(const ProcStat& st) {
    if (st.priority < 0) return 24;
    if (st.nice <= -11) return 13;
    if (st.nice < 0) return 10;
    if (st.nice == 0) return 8;
    if (st.nice < 10) return 6;
    return 4;
}

}  // namespace

bool parseProcStat(std::string_view text, ProcStat& out) {
    const auto open = text.find('(');
    const auto close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return false;
    if (!parseNumber(text.substr(0, open), out.pid)) return false;
    out.comm = std::string(text.substr(open + 1, close - open - 1));
    // Fields after the name, counted from 3 (state) as proc(5) numbers them.
    std::string_view rest = text.substr(close + 1);
    std::string_view f[50];
    std::size_t n = 0;
    std::size_t i = 0;
    while (i < rest.size() && n < 50) {
        while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\n')) ++i;
        const std::size_t start = i;
        while (i < rest.size() && rest[i] != ' ' && rest[i] != '\n') ++i;
        if (i > start) f[n++] = rest.substr(start, i - start);
    }
    if (n < 22) return false;
    auto field = [&](int number) { return f[number - 3]; };
    out.state = field(3).front();
    return parseNumber(field(4), out.ppid) && parseNumber(field(6), out.session) &&
           parseNumber(field(10), out.minflt) && parseNumber(field(12), out.majflt) &&
           parseNumber(field(14), out.utime) && parseNumber(field(15), out.stime) &&
           parseNumber(field(18), out.priority) && parseNumber(field(19), out.nice) &&
           parseNumber(field(20), out.numThreads) && parseNumber(field(22), out.startTime) &&
           parseNumber(field(23), out.vsize) && parseNumber(field(24), out.rss);
}

namespace {

using kernelhelper::FolderRead;

// A process's files read here, through `view`: another computer's snapshot
// (nothing there can wait), or this machine's folder without the command line
// when the helper process could not read it.
FolderRead readHere(const SystemView& view, const std::string& pidName, bool commandLine) {
    FolderRead r;
    const auto dir = view.openDirectory("/proc/" + pidName);
    if (!dir) {
        r.state = FolderRead::State::Gone;
        return r;
    }
    r.items.resize(kProcItems);
    std::string buf;
    const auto& items = procItems();
    for (std::size_t i = 0; i < kProcItems; ++i) {
        const auto& item = items[i];
        if (i == kCmdline && !commandLine) continue;
        if (item.kind == kernelhelper::FolderItem::Kind::Link) {
            r.items[i] = dir->readLink(item.name.c_str());
        } else if (item.kind == kernelhelper::FolderItem::Kind::Count) {
            if (const auto n = dir->countEntries(item.name.c_str()))
                r.items[i] = std::to_string(*n);
        } else if (dir->read(item.name.c_str(), buf, item.limit)) {
            r.items[i] = std::move(buf);
        }
    }
    r.state = FolderRead::State::Read;
    return r;
}

// What every row of a pass shares.
struct PassFacts {
    long ticks = 100;
    long pageSize = 4096;
    std::optional<unsigned long long> boot;
    std::string computer;
    std::string os;
};

enum class RowOutcome { Made, Gone, Changed };

// One process's row from its files; Gone when it ended mid-read, Changed
// when it ran another program between stat and status (its row would mix
// two programs). `lineLost` says its command line could not be read in time.
RowOutcome makeRow(const SystemContext& ctx, const SystemView& view, const PassFacts& facts,
                   int pid, const std::string& pidName, FolderRead& r, bool lineLost,
                   std::optional<Instance>& row) {
    if (r.state != FolderRead::State::Read || r.items.size() < kProcItems) return RowOutcome::Gone;
    auto& f = r.items;
    ProcStat st;
    // stat and status are readable for every process; failing either
    // means the process ended mid-read, and it is skipped.
    if (!f[kStat] || !parseProcStat(*f[kStat], st) || !f[kStatus]) return RowOutcome::Gone;
    const std::string& status = *f[kStatus];
    if (const auto name = statusName(status); name && *name != st.comm) return RowOutcome::Changed;

    const auto ticks = static_cast<unsigned long long>(facts.ticks);
    Instance& p = row.emplace("Win32_Process");
    p.setInt("ProcessId", pid);
    p.set("Handle", pidName);
    p.setInt("ParentProcessId", st.ppid);
    std::string name = st.comm;
    if (f[kExe] && !f[kExe]->empty()) {
        const std::string& exe = *f[kExe];
        p.set("ExecutablePath", exe);
        // The kernel keeps 15 characters of the name; the executable's
        // file name gives the rest when it starts the same way.
        const auto slash = exe.rfind('/');
        const std::string_view base =
            std::string_view(exe).substr(slash == std::string::npos ? 0 : slash + 1);
        if (name.size() == 15 && base.size() > 15 && base.compare(0, 15, name) == 0)
            name = std::string(base);
    }
    p.set("Name", name);
    p.set("Caption", name);
    p.set("Description", std::move(name));
    if (facts.boot) {
        const auto startSeconds = *facts.boot + st.startTime / ticks;
        const long micros = static_cast<long>((st.startTime % ticks) * 1000000 / ticks);
        p.set("CreationDate", view.dmtfLocal(static_cast<std::int64_t>(startSeconds), micros));
    }
    p.setInt("ThreadCount", st.numThreads);
    p.setInt("Priority", windowsPriority(st));
    p.setUInt64("WorkingSetSize", static_cast<std::uint64_t>(std::max<long long>(0, st.rss)) *
                                      static_cast<std::uint64_t>(facts.pageSize));
    p.setUInt64("VirtualSize", st.vsize);
    if (auto peak = statusField(status, "VmPeak")) p.setUInt64("PeakVirtualSize", *peak * 1024);
    if (auto hwm = statusField(status, "VmHWM"))
        p.setInt("PeakWorkingSetSize",
                 static_cast<std::int64_t>(std::min<unsigned long long>(*hwm, 0xffffffffULL)));
    p.setInt("PageFaults", static_cast<std::int64_t>(
                               std::min<unsigned long long>(st.minflt + st.majflt, 0xffffffffULL)));
    // Clock ticks to the 100 ns units WMI counts in.
    p.setUInt64("KernelModeTime", st.stime * 10000000ULL / ticks);
    p.setUInt64("UserModeTime", st.utime * 10000000ULL / ticks);
    p.setInt("SessionId", std::max(0, st.session));

    // Open descriptors: only readable for our own processes (or as root).
    std::size_t handles = 0;
    if (f[kFd] && parseNumber(*f[kFd], handles))
        p.setInt("HandleCount", static_cast<std::int64_t>(handles));
    if (f[kIo]) {
        const std::string& io = *f[kIo];
        if (auto v = statusField(io, "rchar")) p.setUInt64("ReadTransferCount", *v);
        if (auto v = statusField(io, "wchar")) p.setUInt64("WriteTransferCount", *v);
        if (auto v = statusField(io, "syscr")) p.setUInt64("ReadOperationCount", *v);
        if (auto v = statusField(io, "syscw")) p.setUInt64("WriteOperationCount", *v);
    }
    p.set("CreationClassName", "Win32_Process");
    p.set("CSCreationClassName", "Win32_ComputerSystem");
    p.set("OSCreationClassName", "Win32_OperatingSystem");
    p.set("CSName", facts.computer);
    if (!facts.os.empty()) p.set("OSName", facts.os);

    // None for kernel threads and zombies; one that did not come back in
    // time is said to be lost, never shown as empty.
    if (lineLost) {
        ctx.lose(LostValues::Why::TimedOut, "/proc/" + pidName + "/cmdline");
    } else if (f[kCmdline] && !f[kCmdline]->empty()) {
        bool cut = false;
        // Moved, not copied: a crowd of long lines is held once.
        p.set("CommandLine", commandLineOf(std::move(*f[kCmdline]), cut));
        if (cut) ctx.lose(LostValues::Why::Cut, "/proc/" + pidName + "/cmdline");
    }
    return RowOutcome::Made;
}

}  // namespace

std::vector<Instance> produceProcesses(const SystemContext& ctx) {
    std::vector<Instance> out;
    const std::shared_ptr<const SystemView> view = ctx.system();
    const auto entries = view->list("/proc");
    if (!entries) return out;

    std::vector<int> pids;
    std::vector<std::string> names;
    for (const DirEntry& e : *entries) {
        if (auto pid = text::wholeNumber<int>(e.name); pid && *pid > 0) pids.push_back(*pid);
    }
    std::sort(pids.begin(), pids.end());
    names.reserve(pids.size());
    for (int pid : pids) names.push_back(std::to_string(pid));

    PassFacts facts;
    facts.ticks = std::max(1L, view->clockTicks());
    facts.pageSize = std::max(1L, view->pageSize());
    facts.boot = bootTime(ctx);
    facts.computer = ctx.computerName();
    facts.os = osName(ctx);

    // Rows in the order of their PIDs, whichever way they were read.
    std::vector<std::optional<Instance>> rows(pids.size());
    auto make = [&](std::size_t i, FolderRead& r, bool lineLost) {
        return makeRow(ctx, *view, facts, pids[i], names[i], r, lineLost, rows[i]);
    };

    if (ctx.view) {
        // Another computer's snapshot: its reads are answers already taken.
        for (std::size_t i = 0; i < pids.size(); ++i) {
            FolderRead r = readHere(*view, names[i], true);
            make(i, r, false);
        }
    } else {
        // This machine's (or a fixture tree's) folders are read by the helper
        // process: a process waiting in the kernel holds its memory's lock,
        // and a read of its command line waits with it, for good. Each
        // folder has its own time, so one blocked process costs only its own
        // line; a process whose earlier read still hangs is passed by at once.
        const auto until = std::chrono::steady_clock::now() + ctx.deadline;
        const auto each = std::max(ctx.deadline / 8, std::chrono::milliseconds(50));
        const std::string procDir = ctx.path("/proc").string();
        std::vector<std::size_t> again;  // ran another program mid-read: once more
        auto take = [&](std::size_t i, FolderRead& r) {
            bool lineLost = false;
            if (r.state == FolderRead::State::Missed) {
                // A pass being stopped is thrown away: nothing more is read.
                if (cycle::currentStopToken().stop_requested()) return RowOutcome::Gone;
                // What the helper did not give is read here, all but the line.
                r = readHere(*view, names[i], false);
                lineLost = true;
            }
            return make(i, r, lineLost);
        };
        kernelhelper::readInEachDirectory(procDir, names, procItems(), "cmdline " + procDir + "/",
                                          each, until, [&](std::size_t i, FolderRead& r) {
                                              if (take(i, r) == RowOutcome::Changed)
                                                  again.push_back(i);
                                          });
        if (!again.empty()) {
            // A program that changes again is left out of this pass.
            std::vector<std::string> folders;
            for (std::size_t i : again) folders.push_back(names[i]);
            kernelhelper::readInEachDirectory(
                procDir, folders, procItems(), "cmdline " + procDir + "/", each, until,
                [&](std::size_t k, FolderRead& r) { take(again[k], r); });
        }
    }
    out.reserve(pids.size());
    for (auto& row : rows)
        if (row) out.push_back(std::move(*row));
    return out;
}

}  // namespace tavo::linuxwmi
