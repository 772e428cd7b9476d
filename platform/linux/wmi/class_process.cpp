#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/linux/wmi/core_classes.h"
#include "platform/linux/wmi/deadline.h"
#include "platform/linux/wmi/each_with_deadline.h"
#include "support/cancellation.h"
#include "support/kernel_helper.h"

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

// Command line reads still in flight, by process folder, with when the
// oldest began. One that has run longer than a read may take is stuck (a
// process in uninterruptible sleep holding its memory map), and later passes
// pass that process by until the read returns, so no pass waits on it twice.
// Never destroyed: a reader still stuck when the program exits may touch it
// after static destructors would have run.
struct InFlight {
    int count = 0;
    std::chrono::steady_clock::time_point since;
};
std::mutex& gInFlightMutex = *new std::mutex;
std::map<std::string, InFlight>& gInFlight = *new std::map<std::string, InFlight>;

// A command line with the identity of the process it was read from.
struct CmdlineRead {
    std::optional<std::string> line;   // none for kernel threads and zombies
    unsigned long long startTime = 0;  // 0: the process changed or went; no line
    std::string comm;
    bool cut = false;
};

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

std::vector<Instance> produceProcesses(const SystemContext& ctx) {
    std::vector<Instance> out;
    const std::shared_ptr<const SystemView> view = ctx.system();
    const auto entries = view->list("/proc");
    if (!entries) return out;

    std::vector<int> pids;
    for (const DirEntry& e : *entries) {
        int pid = 0;
        const std::string_view name = e.name;
        auto [p, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (ec == std::errc() && p == name.data() + name.size() && pid > 0) pids.push_back(pid);
    }
    std::sort(pids.begin(), pids.end());
    // Reads still stuck from an earlier pass are known by this name: the
    // tree's own folder here, and another computer's view by its identity.
    const std::string inFlightPrefix =
        ctx.view ? "view@" + std::to_string(reinterpret_cast<std::uintptr_t>(ctx.view.get()))
                 : ctx.path("/proc").string();

    // Command lines are the one read that can block on the process itself,
    // so they are read on a worker while this thread reads the rest, each
    // with its own time so that one blocked process costs only its own line.
    const auto until = std::chrono::steady_clock::now() + ctx.deadline;
    const auto each = std::max(ctx.deadline / 8, std::chrono::milliseconds(50));
    auto readCmdline = [pids, view, inFlightPrefix,
                        each](std::size_t i) -> std::optional<CmdlineRead> {
        const std::string pidName = std::to_string(pids[i]);
        const std::string key = inFlightPrefix + "/" + pidName;
        const auto now = std::chrono::steady_clock::now();
        {
            std::lock_guard lock(gInFlightMutex);
            InFlight& f = gInFlight[key];
            if (f.count > 0 && now - f.since >= each) return std::nullopt;
            if (f.count++ == 0) f.since = now;
        }
        // An answer even when there is no line: only a read that did not
        // come back in time is left without one, and counted as lost.
        std::optional<CmdlineRead> read = CmdlineRead{};
        // The folder stays the same process while it is open; stat before
        // and after tells whether it exec'd another program in between.
        if (auto dir = view->openDirectory("/proc/" + pidName)) {
            std::string buf, stat;
            ProcStat before, after;
            if (dir->read("stat", stat, kProcFileLimit) && parseProcStat(stat, before) &&
                dir->read("cmdline", buf, kCommandLineRead)) {
                std::optional<std::string> line;
                bool cut = false;
                if (!buf.empty()) line = commandLineOf(std::move(buf), cut);
                if (dir->read("stat", stat, kProcFileLimit) && parseProcStat(stat, after) &&
                    after.startTime == before.startTime && after.comm == before.comm) {
                    read = CmdlineRead{std::move(line), before.startTime, before.comm, cut};
                }
            }
        }
        std::lock_guard lock(gInFlightMutex);
        if (auto it = gInFlight.find(key); it != gInFlight.end() && --it->second.count <= 0)
            gInFlight.erase(it);
        return read;
    };
    // This machine's (or a fixture tree's) command lines are read by the
    // helper process: a process waiting in the kernel holds its memory's
    // lock, and a read of its command line waits with it, for good. A
    // process whose earlier read still hangs is passed by at once.
    auto readLocal = [pids, procDir = ctx.path("/proc").string(), each,
                      until]() -> std::vector<std::optional<CmdlineRead>> {
        std::vector<std::string> folders;
        folders.reserve(pids.size());
        for (int pid : pids) folders.push_back(std::to_string(pid));
        // stat before and after tells whether the process exec'd another
        // program in between.
        auto files = kernelhelper::readInEachDirectory(
            procDir, folders, {"stat", "cmdline", "stat"}, kCommandLineRead,
            "cmdline " + procDir + "/", each, until);
        // Nothing only for a folder the helper did not answer in time; a
        // process that went or exec'd meanwhile has an answer without a line.
        std::vector<std::optional<CmdlineRead>> reads(pids.size());
        for (std::size_t i = 0; i < pids.size(); ++i) {
            auto& f = files[i];
            if (!f) continue;
            reads[i] = CmdlineRead{};
            if (!(*f)[0] || !(*f)[1] || !(*f)[2]) continue;
            ProcStat before, after;
            if (!parseProcStat(*(*f)[0], before) || !parseProcStat(*(*f)[2], after) ||
                after.startTime != before.startTime || after.comm != before.comm)
                continue;
            std::optional<std::string> line;
            bool cut = false;
            if (!(*f)[1]->empty()) line = commandLineOf(std::move(*(*f)[1]), cut);
            reads[i] = CmdlineRead{std::move(line), before.startTime, before.comm, cut};
        }
        return reads;
    };
    auto cmdlines = ctx.view ? startOnWorker([n = pids.size(), readCmdline, each, until] {
        return readEachWithDeadline<CmdlineRead>(n, readCmdline, each, until);
    })
                             : startOnWorker([readLocal, stop = cycle::currentStopToken()] {
                                   // The worker stops with the pass that started it.
                                   cycle::StopScope scope(stop);
                                   return readLocal();
                               });

    const long ticks = std::max(1L, view->clockTicks());
    const long pageSize = std::max(1L, view->pageSize());
    const auto boot = bootTime(ctx);
    const std::string computer = ctx.computerName();
    const std::string os = osName(ctx);

    std::vector<std::size_t> slot;   // instance -> index into pids
    std::vector<ProcStat> identity;  // instance -> the stat its row was read with
    bool retried = false;
    out.reserve(pids.size());
    std::string buf, status;
    for (std::size_t pi = 0; pi < pids.size(); ++pi) {
        const bool isRetry = std::exchange(retried, false);
        const int pid = pids[pi];
        const std::string pidName = std::to_string(pid);
        const auto dir = view->openDirectory("/proc/" + pidName);
        if (!dir) continue;  // gone since the listing
        ProcStat st;
        // stat and status are readable for every process; failing either
        // means the process ended mid-read, and it is skipped.
        if (!dir->read("stat", buf, kProcFileLimit) || !parseProcStat(buf, st)) continue;
        if (!dir->read("status", status, kProcFileLimit)) continue;

        Instance p("Win32_Process");
        p.setInt("ProcessId", pid);
        p.set("Handle", pidName);
        p.setInt("ParentProcessId", st.ppid);
        std::string name = st.comm;
        if (auto link = dir->readLink("exe")) {
            std::string exe = std::move(*link);
            p.set("ExecutablePath", exe);
            // The kernel keeps 15 characters of the name; the executable's
            // file name gives the rest when it starts the same way.
            const auto slash = exe.rfind('/');
            const std::string base = exe.substr(slash == std::string::npos ? 0 : slash + 1);
            if (name.size() == 15 && base.size() > 15 && base.compare(0, 15, name) == 0)
                name = base;
        }
        p.set("Name", name);
        p.set("Caption", name);
        p.set("Description", name);
        if (boot) {
            const auto startSeconds = *boot + st.startTime / static_cast<unsigned long long>(ticks);
            const long micros =
                static_cast<long>((st.startTime % static_cast<unsigned long long>(ticks)) *
                                  1000000 / static_cast<unsigned long long>(ticks));
            p.set("CreationDate", view->dmtfLocal(static_cast<std::int64_t>(startSeconds), micros));
        }
        p.setInt("ThreadCount", st.numThreads);
        p.setInt("Priority", windowsPriority(st));
        p.setUInt64("WorkingSetSize", static_cast<std::uint64_t>(std::max<long long>(0, st.rss)) *
                                          static_cast<std::uint64_t>(pageSize));
        p.setUInt64("VirtualSize", st.vsize);
        if (auto peak = statusField(status, "VmPeak")) p.setUInt64("PeakVirtualSize", *peak * 1024);
        if (auto hwm = statusField(status, "VmHWM"))
            p.setInt("PeakWorkingSetSize",
                     static_cast<std::int64_t>(std::min<unsigned long long>(*hwm, 0xffffffffULL)));
        p.setInt("PageFaults", static_cast<std::int64_t>(std::min<unsigned long long>(
                                   st.minflt + st.majflt, 0xffffffffULL)));
        // Clock ticks to the 100 ns units WMI counts in.
        p.setUInt64("KernelModeTime",
                    st.stime * 10000000ULL / static_cast<unsigned long long>(ticks));
        p.setUInt64("UserModeTime",
                    st.utime * 10000000ULL / static_cast<unsigned long long>(ticks));
        p.setInt("SessionId", std::max(0, st.session));

        // Open descriptors: only readable for our own processes (or as root).
        if (const auto count = dir->countEntries("fd"))
            p.setInt("HandleCount", static_cast<std::int64_t>(*count));
        if (dir->read("io", buf, kProcFileLimit)) {
            if (auto v = statusField(buf, "rchar")) p.setUInt64("ReadTransferCount", *v);
            if (auto v = statusField(buf, "wchar")) p.setUInt64("WriteTransferCount", *v);
            if (auto v = statusField(buf, "syscr")) p.setUInt64("ReadOperationCount", *v);
            if (auto v = statusField(buf, "syscw")) p.setUInt64("WriteOperationCount", *v);
        }
        p.set("CreationClassName", "Win32_Process");
        p.set("CSCreationClassName", "Win32_ComputerSystem");
        p.set("OSCreationClassName", "Win32_OperatingSystem");
        p.set("CSName", computer);
        if (!os.empty()) p.set("OSName", os);
        // A process that exec'd while its row was read would mix two
        // programs in one row: read it once more, and leave it out if it
        // changes again. (The open folder keeps a reused PID out.)
        ProcStat again;
        if (!dir->read("stat", buf, kProcFileLimit) || !parseProcStat(buf, again)) continue;
        if (again.startTime != st.startTime || again.comm != st.comm) {
            if (!isRetry) {
                retried = true;
                --pi;  // the loop's step brings it back to this PID
            }
            continue;
        }
        out.push_back(std::move(p));
        slot.push_back(pi);
        identity.push_back(std::move(st));
    }

    // The worker gives up on its own by `until`; the margin only covers
    // handing its values back.
    auto lines = cmdlines.waitUntil(until + std::chrono::milliseconds(100));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::string file = "/proc/" + std::to_string(pids[slot[i]]) + "/cmdline";
        if (!lines || !(*lines)[slot[i]]) {
            ctx.lose(LostValues::Why::TimedOut, file);
            continue;
        }
        auto& read = (*lines)[slot[i]];
        // Only a line read from the very program this row describes.
        if (read->line && read->startTime == identity[i].startTime &&
            read->comm == identity[i].comm) {
            // Moved, not copied: a crowd of long lines is held once.
            out[i].set("CommandLine", std::move(*read->line));
            if (read->cut) ctx.lose(LostValues::Why::Cut, file);
        }
    }
    return out;
}

}  // namespace tavo::linuxwmi
