// The provider answering for "another" computer through a shell (this
// machine's own sh -s): the same instances as the local provider, framing
// that survives hostile files, hangs that cost only their own values.

#include "platform/linux/wmi/remote_provider.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <stop_token>
#include <thread>

#include "collectors/value.h"
#include "cycle/cancellation.h"
#include "grid/error.h"
#include "linux/wmi/real_cups.h"
#include "platform/linux/wmi/core_classes.h"
#include "platform/linux/wmi/provider.h"
#include "platform/linux/wmi/remote_snapshot.h"
#include "support/local_shell.h"

extern char** environ;

namespace tavo::linuxwmi {
namespace {

namespace fs = std::filesystem;
using namespace remote_view;
using Clock = std::chrono::steady_clock;
using Row = std::map<std::string, std::string>;

std::string text(const wmi::Value& v) {
    if (!v.isArray()) return wmi::toText(v);
    std::string out = "{";
    for (const auto& e : v.array()) out += text(e) + ",";
    return out + "}";
}

std::vector<Row> rows(wmi::Backend& backend, const std::string& cls) {
    std::vector<Row> out;
    auto rs = backend.connect(".")->execQuery("SELECT * FROM " + cls);
    while (auto o = rs->next()) {
        Row r;
        for (const auto& n : o->propertyNames()) {
            const wmi::Value v = o->get(n);
            if (!v.isNull()) r[n] = text(v);
        }
        out.push_back(std::move(r));
    }
    return out;
}

// Each class's identity, to pair a local instance with its remote twin.
std::string keyOf(const std::string& cls, const Row& r) {
    static const std::map<std::string, std::vector<std::string>> kKeys = {
        {"Win32_Process", {"Handle", "CreationDate"}},
        {"Win32_Environment", {"Name", "UserName"}},
        {"Win32_Account", {"SID"}},
        {"Win32_IP4RouteTable", {"Destination", "Mask", "NextHop", "InterfaceIndex", "Metric1"}},
    };
    static const std::vector<std::string> kFirstOf{
        "DeviceID", "Name", "SID", "Tag", "Index", "IdentifyingNumber", "SettingID", "Caption"};
    const auto it = kKeys.find(cls);
    std::string key;
    for (const auto& k : it == kKeys.end() ? kFirstOf : it->second) {
        if (auto v = r.find(k); v != r.end()) key += k + "=" + v->second + ";";
        if (it == kKeys.end() && !key.empty()) break;
    }
    return key;
}

double number(const Row& r, const std::string& name) {
    auto it = r.find(name);
    return it == r.end() ? std::nan("") : std::strtod(it->second.c_str(), nullptr);
}

bool withinOnePercent(double a, double b) {
    return std::fabs(a - b) <= 0.01 * std::max(std::fabs(a), std::fabs(b)) + 1;
}

// Values that move between the local read and the remote one, a moment
// apart, and how they may differ. Everything else must be equal.
bool movesBetweenReads(const std::string& cls, const std::string& prop, const Row& local,
                       const Row& remote) {
    if (cls == "Win32_LogicalDisk" && prop == "FreeSpace")  // other programs write meanwhile
        return withinOnePercent(number(local, prop), number(remote, prop));
    if (cls == "Win32_OperatingSystem") {
        if (prop == "FreePhysicalMemory" || prop == "FreeVirtualMemory")  // likewise memory
            return withinOnePercent(number(local, prop), number(remote, prop));
        // The remote read runs a shell and its helpers: a few more processes.
        if (prop == "NumberOfProcesses")
            return std::fabs(number(local, prop) - number(remote, prop)) <= 20;
        if (prop == "LocalDateTime") return true;  // the clock, read a moment later
    }
    // The busy share over two different moments.
    if (cls == "Win32_Processor" && prop == "LoadPercentage") return true;
    if (cls == "Win32_Process") {
        // Activity counters: any process that runs between the two reads
        // (and on a shared machine many do) moves them.
        static const std::set<std::string> kCounters{
            "KernelModeTime",     "UserModeTime",      "WorkingSetSize",     "PeakWorkingSetSize",
            "VirtualSize",        "PeakVirtualSize",   "PageFaults",         "HandleCount",
            "ThreadCount",        "ReadTransferCount", "WriteTransferCount", "ReadOperationCount",
            "WriteOperationCount"};
        if (kCounters.count(prop)) return true;
        // A kernel worker's name says what work it does right now.
        if ((prop == "Name" || prop == "Caption" || prop == "Description") &&
            local.at("Name").starts_with("kworker/") && remote.at("Name").starts_with("kworker/"))
            return true;
        return false;
    }
    return false;
}

const std::vector<std::string> kClasses = {"Win32_LogicalDisk",
                                           "Win32_NetworkAdapterConfiguration",
                                           "Win32_Process",
                                           "Win32_Environment",
                                           "Win32_Battery",
                                           "Win32_PhysicalMemory",
                                           "Win32_Product",
                                           "Win32_Account",
                                           "Win32_UserAccount",
                                           "Win32_Group",
                                           "Win32_SystemAccount",
                                           "Win32_DiskDrive",
                                           "Win32_Share",
                                           "Win32_Service",
                                           "Win32_VideoController",
                                           "Win32_Desktop",
                                           "Win32_IP4RouteTable",
                                           "Win32_TimeZone",
                                           "Win32_OperatingSystem",
                                           "Win32_ComputerSystem",
                                           "Win32_BIOS",
                                           "Win32_BaseBoard",
                                           "Win32_MotherboardDevice",
                                           "Win32_Processor",
                                           "Win32_Printer",
                                           "Win32_PrintJob"};

// Variables this test program changed since it started (other tests set
// some): the local class reads the environment the kernel kept from the
// start, the shell inherits the current one.
std::set<std::string> changedSinceStart() {
    std::set<std::string> atStart, now, changed;
    std::ifstream in("/proc/self/environ", std::ios::binary);
    for (std::string kv; std::getline(in, kv, '\0');) atStart.insert(kv);
    for (char** e = environ; *e; ++e) now.insert(*e);
    for (const auto* side : {&atStart, &now}) {
        const auto* other = side == &atStart ? &now : &atStart;
        for (const auto& kv : *side) {
            if (!other->count(kv)) changed.insert(kv.substr(0, kv.find('=')));
        }
    }
    return changed;
}

// The variables a shell sets for itself when it starts: the remote's
// environment is its shell's, this program's is its own.
bool shellOwnVariable(const std::string& cls, const Row& r) {
    if (cls != "Win32_Environment") return false;
    static const std::set<std::string> changed = changedSinceStart();
    const auto name = r.find("Name");
    return name != r.end() &&
           (name->second == "PWD" || name->second == "OLDPWD" || name->second == "SHLVL" ||
            name->second == "_" || changed.count(name->second));
}

// Compares one class property by property; returns the failures.
std::vector<std::string> compare(const std::string& cls, std::vector<Row> local,
                                 std::vector<Row> remote) {
    for (auto* rows : {&local, &remote}) {
        std::erase_if(*rows, [&](const Row& r) { return shellOwnVariable(cls, r); });
    }
    std::vector<std::string> problems;
    std::map<std::string, Row> byKey;
    for (const auto& r : remote) byKey[keyOf(cls, r)] = r;
    std::size_t matched = 0;
    // Programs that rewrite their title (a listener counting its clients)
    // change their command line between reads; a few may.
    int titlesChanged = 0;
    for (const auto& l : local) {
        const std::string key = keyOf(cls, l);
        const auto it = byKey.find(key);
        if (it == byKey.end()) {
            // Processes come and go between two reads; nothing else may.
            if (cls != "Win32_Process") problems.push_back(cls + " " + key + " missing remotely");
            continue;
        }
        ++matched;
        std::set<std::string> names;
        for (const auto& [k, v] : l) names.insert(k);
        for (const auto& [k, v] : it->second) names.insert(k);
        for (const auto& n : names) {
            const auto a = l.find(n);
            const auto b = it->second.find(n);
            const std::string av = a == l.end() ? "<null>" : a->second;
            const std::string bv = b == it->second.end() ? "<null>" : b->second;
            if (av == bv || movesBetweenReads(cls, n, l, it->second)) continue;
            if (cls == "Win32_Process" && n == "CommandLine" && a != l.end() &&
                b != it->second.end() && ++titlesChanged <= 3)
                continue;
            problems.push_back(cls + " " + key + " " + n + ": local " + av + ", remote " + bv);
        }
    }
    if (cls == "Win32_Process") {
        if (matched < local.size() * 8 / 10)
            problems.push_back("only " + std::to_string(matched) + " of " +
                               std::to_string(local.size()) + " processes found remotely");
    } else if (local.size() != remote.size()) {
        std::string extra;
        std::set<std::string> localKeys;
        for (const auto& l : local) localKeys.insert(keyOf(cls, l));
        for (const auto& r : remote) {
            if (!localKeys.count(keyOf(cls, r))) extra += " " + keyOf(cls, r);
        }
        problems.push_back(cls + ": " + std::to_string(local.size()) + " local instances, " +
                           std::to_string(remote.size()) + " remote; only remote:" + extra);
    }
    return problems;
}

// The processes that look the same before and after the remote read. A
// process that exits meanwhile (other tests end theirs all the time) is
// reparented and loses its command line part-way: there is no one true
// answer to compare with.
std::vector<Row> steadyProcesses(const std::vector<Row>& before, const std::vector<Row>& after) {
    std::map<std::string, const Row*> later;
    for (const auto& r : after) later[keyOf("Win32_Process", r)] = &r;
    const auto same = [](const Row& a, const Row& b, const char* prop) {
        const auto x = a.find(prop);
        const auto y = b.find(prop);
        return (x == a.end()) == (y == b.end()) && (x == a.end() || x->second == y->second);
    };
    std::vector<Row> steady;
    for (const auto& r : before) {
        const auto it = later.find(keyOf("Win32_Process", r));
        if (it == later.end()) continue;
        if (same(r, *it->second, "ParentProcessId") && same(r, *it->second, "CommandLine") &&
            same(r, *it->second, "ExecutablePath") && same(r, *it->second, "Name"))
            steady.push_back(r);
    }
    return steady;
}

// A scratch folder removed at the end of the test.
struct Scratch {
    fs::path dir;
    Scratch() {
        char tmpl[] = "/tmp/tavo-remote-XXXXXX";
        dir = ::mkdtemp(tmpl);
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    void write(const std::string& rel, const std::string& bytes) const {
        fs::create_directories((dir / rel).parent_path());
        std::ofstream(dir / rel, std::ios::binary) << bytes;
    }
};

// One round trip of `requests` against this machine's shell.
Snapshot fetch(const Requests& requests, const ScriptOptions& options,
               std::map<std::string, std::string> env = {}) {
    auto shell = makeLocalShell(std::move(env));
    const std::string boundary = makeBoundary();
    const auto run =
        shell->run(buildScript(requests, boundary, options), std::chrono::milliseconds(20000));
    Snapshot s;
    parseOutput(run.out, boundary, requests, options, s);
    return s;
}

Request readOf(std::string path, std::size_t limit = 1 << 20) {
    return {Kind::Read, std::move(path), limit, false};
}

// A folder of stand-ins for commands, put first on the shell's PATH.
struct FakeCommands {
    Scratch scratch;
    void add(const std::string& name, const std::string& script) {
        scratch.write(name, "#!/bin/sh\n" + script);
        ::chmod((scratch.dir / name).c_str(), 0755);
    }
    std::map<std::string, std::string> env() const {
        const char* path = std::getenv("PATH");
        return {{"PATH", scratch.dir.string() + ":" + (path ? path : "/usr/bin:/bin")}};
    }
};

TEST(RemoteSnapshot, TheBoundaryStandsInNoRemoteProcesssArgumentsOrEnvironment) {
    // Every process's command line and environment, read while the script
    // runs its own helpers (xargs, head, find, realpath): none may show the
    // boundary, or any user there could forge frames with it.
    Scratch s;
    ::symlink("/", (s.dir / "link").c_str());
    const std::string d = s.dir.string();
    const Requests req{{Kind::Read, "/proc/[0-9]*/cmdline", 1 << 16, true},
                       {Kind::Read, "/proc/[0-9]*/environ", 1 << 16, true},
                       {Kind::Link, d + "/link", 0, false},
                       {Kind::Canon, d + "/link", 0, false},
                       {Kind::List, d, 0, false}};
    auto shell = makeLocalShell();
    const std::string boundary = makeBoundary();
    const auto run = shell->run(buildScript(req, boundary, {}), std::chrono::seconds(20));
    Snapshot snap;
    parseOutput(run.out, boundary, req, {}, snap);
    ASSERT_GT(snap.files.size(), 10u);
    for (const auto& [path, data] : snap.files) {
        if (data.data) {
            EXPECT_EQ(data.data->find(boundary), std::string::npos) << path;
        }
    }
    EXPECT_EQ(snap.links.at(d + "/link"), "/");
    EXPECT_EQ(snap.canon.at(d + "/link"), "/");
}

TEST(RemoteProvider, AStuckCommandLineCostsOnlyItsOwnValueAndIsCounted) {
    // A process tree whose one command line never answers (a FIFO nobody
    // writes: the read blocks as it would on a process in uninterruptible
    // sleep): every other value of the pass is still there, and the pass
    // says what it could not read.
    Scratch s;
    fs::copy(std::string(TAVO_TEST_DATA) + "/provider-core/processes", s.dir,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    fs::remove(s.dir / "proc/200/cmdline");
    ASSERT_EQ(::mkfifo((s.dir / "proc/200/cmdline").c_str(), 0600), 0);
    RemoteOptions o;
    o.root = s.dir.string();
    o.commandTimeout = std::chrono::milliseconds(1000);
    auto remote = makeRemoteProvider(makeLocalShell(), o);
    const auto start = Clock::now();
    auto rs = remote->connect(".")->execQuery("SELECT * FROM Win32_Process");
    std::map<std::int64_t, bool> hasLine;
    while (auto p = rs->next()) {
        // Values every row needs are read apart from the reads that can hang.
        EXPECT_FALSE(p->get("CreationDate").isNull());
        EXPECT_FALSE(p->get("OSName").isNull());
        hasLine[std::stoll(wmi::toText(p->get("ProcessId")))] = !p->get("CommandLine").isNull();
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    const std::map<std::int64_t, bool> expected{{100, true}, {200, false}, {400, true}};
    EXPECT_EQ(hasLine, expected);
    EXPECT_EQ(rs->lostValues(), "1 value could not be read in time (/proc/200/cmdline)");
}

TEST(RemoteProvider, ACommandLineLongerThanTheLimitIsCutAlikeAndCounted) {
    // Another user's process decides how long its command line is.
    const std::string arg(40000, 'x');
    const pid_t child = ::fork();
    if (child == 0) {
        // Not the last command, so the shell stays with its long line.
        ::execl("/bin/sh", "sh", "-c", "sleep 30; :", "sh", arg.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const wmi::Value pid(static_cast<std::int32_t>(child));
    for (auto backend : {makeProvider(), makeRemoteProvider(makeLocalShell())}) {
        auto rs = backend->connect(".")->execQuery("SELECT * FROM Win32_Process");
        std::optional<std::string> line;
        while (auto p = rs->next()) {
            if (p->get("ProcessId") == pid && !p->get("CommandLine").isNull())
                line = wmi::toText(p->get("CommandLine"));
        }
        ASSERT_TRUE(line);
        EXPECT_EQ(line->size(), kCommandLineLimit);
        EXPECT_EQ(line->substr(0, 30), "sh -c sleep 30; : sh xxxxxxxxx");
        // Its own line is named; another test run at the same time may add one.
        const std::string lost = rs->lostValues();
        EXPECT_NE(lost.find("longer than Tavo keeps"), std::string::npos) << lost;
        EXPECT_NE(lost.find("/proc/" + std::to_string(child) + "/cmdline"), std::string::npos)
            << lost;
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

TEST(RemoteSnapshot, QuotedPathsReachTheShellByteForByte) {
    // Requested paths become words of the script: any byte must come
    // through as itself and nothing in it may run.
    const std::vector<std::string> texts = {"",
                                            "plain",
                                            "with space",
                                            "it's",
                                            "'",
                                            "''",
                                            "$(touch /tmp/tavo-quote-ran)",
                                            "`id`",
                                            "a\\b",
                                            "new\nline",
                                            "*",
                                            "$HOME",
                                            "\"quoted\"",
                                            "-n",
                                            "tab\there"};
    for (const auto& t : texts) {
        LocalShell shell;
        const auto run = shell.run("printf '%s|' " + quote(t) + "\n", std::chrono::seconds(5));
        EXPECT_EQ(run.out, t + "|") << t;
    }
    EXPECT_FALSE(fs::exists("/tmp/tavo-quote-ran"));
}

// The same print server asked both ways: what the window shows of a printer
// or a job must not depend on whether Tavo asked it here or over a shell.
TEST_F(RealCups, RemotePrintersAndJobsEqualTheLocalOnes) {
    auto local = makeProvider();
    for (const bool ipp : {true, false}) {
        SCOPED_TRACE(ipp ? "through ipptool" : "through lpstat and lpoptions");
        FakeCommands fake;
        if (!ipp) fake.add("ipptool", "exit 1\n");  // one that fails: the plain tools remain
        if (ipp && ::access("/usr/bin/ipptool", X_OK) != 0)
            GTEST_SKIP() << "ipptool is not installed (packages/cups.txt)";
        auto remote = makeRemoteProvider(makeLocalShell(fake.env()));
        for (const char* cls : {"Win32_Printer", "Win32_PrintJob"}) {
            SCOPED_TRACE(cls);
            const auto l = rows(*local, cls);
            const auto r = rows(*remote, cls);
            ASSERT_EQ(l.size(), 2u);
            if (ipp) {
                for (const auto& p : compare(cls, l, r)) ADD_FAILURE() << p;
                continue;
            }
            // Without IPP, what lpstat and lpoptions can say must agree.
            ASSERT_EQ(r.size(), l.size());
            for (std::size_t i = 0; i < l.size(); ++i) {
                for (const char* prop : {"Name", "Shared", "ShareName", "DriverName", "PortName",
                                         "Location", "JobStatus", "Owner"}) {
                    const auto a = l[i].find(prop);
                    if (a == l[i].end()) continue;
                    const auto b = r[i].find(prop);
                    EXPECT_TRUE(b != r[i].end() && b->second == a->second)
                        << prop << ": local " << a->second << ", remote "
                        << (b == r[i].end() ? "<null>" : b->second);
                }
            }
        }
    }
}

}  // namespace

TEST(RemoteProvider, EveryClassEqualsTheLocalProviderPropertyByProperty) {
    auto local = makeProvider();
    auto remote = makeRemoteProvider(makeLocalShell());
    for (const auto& cls : kClasses) {
        SCOPED_TRACE(cls);
        // Other programs on this machine may add a user or a printer between
        // the two reads: a difference must still be there on a second pair.
        std::vector<std::string> problems;
        for (int attempt = 0; attempt < 2; ++attempt) {
            auto localRows = rows(*local, cls);
            const auto remoteRows = rows(*remote, cls);
            if (cls == "Win32_Process") localRows = steadyProcesses(localRows, rows(*local, cls));
            problems = compare(cls, localRows, remoteRows);
            if (problems.empty()) break;
        }
        for (const auto& p : problems) ADD_FAILURE() << p;
    }
}

TEST(RemoteProvider, FixtureTreesReadThroughTheShellEqualTheirLocalReads) {
    // The same trees the class tests use, read by the remote path under a root.
    const std::vector<std::pair<std::string, std::vector<std::string>>> trees = {
        {"/provider-core/environment", {"Win32_Environment"}},
        {"/inventory/accounts", {"Win32_UserAccount", "Win32_Group", "Win32_Account"}},
        {"/inventory/dpkg", {"Win32_Product"}},
        {"/services/units", {"Win32_Service"}},
        {"/services/tz", {"Win32_TimeZone"}},
        {"/system/twosocket", {"Win32_Processor", "Win32_ComputerSystem"}},
    };
    for (const auto& [tree, classes] : trees) {
        SystemContext ctx;
        ctx.root = std::string(TAVO_TEST_DATA) + tree;
        auto local = makeProvider(ctx);
        RemoteOptions o;
        o.root = ctx.root.string();
        auto remote = makeRemoteProvider(makeLocalShell(), o);
        for (const auto& cls : classes) {
            SCOPED_TRACE(tree + " " + cls);
            const auto l = rows(*local, cls);
            const auto r = rows(*remote, cls);
            EXPECT_FALSE(l.empty());
            // A fixture has no live manager, clock or load: those come from
            // this machine on one side and from nowhere on the other.
            for (const auto& p : compare(cls, l, r)) {
                if (p.find("State") == std::string::npos &&
                    p.find("Started") == std::string::npos &&
                    p.find("ProcessId") == std::string::npos &&
                    p.find("Status") == std::string::npos &&
                    p.find("ExitCode") == std::string::npos &&
                    p.find("AcceptStop") == std::string::npos &&
                    p.find("CurrentTimeZone") == std::string::npos &&
                    p.find("DaylightInEffect") == std::string::npos &&
                    p.find("LoadPercentage") == std::string::npos)
                    ADD_FAILURE() << p;
            }
        }
    }
}

TEST(RemoteProvider, FilePassesTakeAtMostThreeRoundTripsAndOneOnceLearned) {
    auto shell = makeLocalShell();
    auto remote = makeRemoteProvider(shell);
    for (const char* cls :
         {"Win32_Process", "Win32_LogicalDisk", "Win32_Service", "Win32_Product"}) {
        SCOPED_TRACE(cls);
        int before = shell->runs();
        rows(*remote, cls);
        EXPECT_LE(shell->runs() - before, 3);
        EXPECT_EQ(lastRoundTrips(*remote), shell->runs() - before);
        // The next pass asks for everything the last one read in its first trip.
        before = shell->runs();
        rows(*remote, cls);
        EXPECT_EQ(shell->runs() - before, 1);
    }
    EXPECT_FALSE(lastRoundTrips(*makeProvider()).has_value());
}

// What a session learned (its tools, its clock) is not asked again: later
// passes start neither the tools' tests nor `date`, and still tell the
// remote's time.
TEST(RemoteProvider, ASessionLearnsItsToolsAndClockOnce) {
    FakeCommands fake;
    for (const char* tool : {"date", "realpath"}) {
        fake.add(tool, std::string("echo >> ") + (fake.scratch.dir / tool).string() +
                           ".runs\nexec /usr/bin/" + tool + " \"$@\"\n");
    }
    const auto runs = [&](const char* tool) {
        std::ifstream in(fake.scratch.dir / (std::string(tool) + ".runs"));
        int n = 0;
        for (std::string line; std::getline(in, line);) ++n;
        return n;
    };
    auto remote = makeRemoteProvider(makeLocalShell(fake.env()));
    const auto first = rows(*remote, "Win32_OperatingSystem");
    EXPECT_EQ(runs("date"), 1);
    EXPECT_EQ(runs("realpath"), 1);  // the tools' test
    ASSERT_EQ(first.size(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    for (int pass = 0; pass < 2; ++pass) {
        const auto later = rows(*remote, "Win32_OperatingSystem");
        ASSERT_EQ(later.size(), 1u);
        EXPECT_EQ(later[0].at("CurrentTimeZone"), first[0].at("CurrentTimeZone"));
        // The remote's clock, told from ours: within a second or two of it.
        const auto seconds = [](const std::string& dmtf) {
            std::tm tm{};
            tm.tm_year = std::stoi(dmtf.substr(0, 4)) - 1900;
            tm.tm_mon = std::stoi(dmtf.substr(4, 2)) - 1;
            tm.tm_mday = std::stoi(dmtf.substr(6, 2));
            tm.tm_hour = std::stoi(dmtf.substr(8, 2));
            tm.tm_min = std::stoi(dmtf.substr(10, 2));
            tm.tm_sec = std::stoi(dmtf.substr(12, 2));
            return static_cast<long long>(timegm(&tm));
        };
        const auto local = rows(*makeProvider(), "Win32_OperatingSystem")[0].at("LocalDateTime");
        EXPECT_LE(std::llabs(seconds(later[0].at("LocalDateTime")) - seconds(local)), 2);
    }
    EXPECT_EQ(runs("date"), 1);
    EXPECT_EQ(runs("realpath"), 1);
    // The same session's other classes use what it learned.
    rows(*remote, "Win32_Product");
    EXPECT_EQ(runs("date"), 1);
}

TEST(RemoteSnapshot, HostileFilesKeepTheirBytesAndCannotForgeFrames) {
    Scratch s;
    const std::string binary("a\0b\xff\xfe\n\n", 7);
    s.write("bin", binary);
    // Framing-like text of every kind the parser knows.
    s.write("frames", "\ntavo-0123 E 0\n\ntavo-0123\n==> /etc/passwd <==\n@tavo\nh END\n");
    s.write("empty", "");
    constexpr std::size_t kMiB = 1024 * 1024;
    s.write("huge", std::string(17 * kMiB, 'x'));
    s.write("line\nbreak", "never read");
    s.write("after", "still here");
    ::mkfifo((s.dir / "fifo").c_str(), 0600);
    ::symlink((s.dir / "after").c_str(), (s.dir / "link").c_str());
    const std::string d = s.dir.string();

    Requests req{readOf(d + "/bin"),
                 readOf(d + "/frames"),
                 readOf(d + "/empty"),
                 readOf(d + "/huge", 1000),
                 readOf(d + "/fifo"),
                 readOf(d + "/missing"),
                 readOf(d + "/after"),
                 {Kind::UserRead, d + "/link", 4096, false},
                 {Kind::List, d, 0, false},
                 {Kind::Link, d + "/link", 0, false},
                 {Kind::Type, d + "/fifo", 0, false},
                 {Kind::Read, d + "/*", 64, true}};
    const auto start = Clock::now();
    // With a scratch folder (one head for every file) and without (one at a time).
    for (const auto& env : {std::map<std::string, std::string>{},
                            std::map<std::string, std::string>{{"TMPDIR", d + "/nowhere"}}}) {
        SCOPED_TRACE(env.empty() ? "batched" : "one at a time");
        const Snapshot snap = fetch(req, {}, env);
        auto file = [&](const std::string& name) { return snap.files.at(d + "/" + name).data; };
        EXPECT_EQ(file("bin"), binary);
        EXPECT_EQ(file("frames"),
                  "\ntavo-0123 E 0\n\ntavo-0123\n==> /etc/passwd <==\n@tavo\nh END\n");
        EXPECT_EQ(file("empty"), "");
        // Read no further than its own limit: the remote decides how big
        // files are, not how much of them we hold.
        EXPECT_EQ(file("huge")->size(), 1000u);
        auto misses = std::make_shared<MissLog>();
        const auto view = makeSnapshotView(std::make_shared<Snapshot>(snap), misses);
        EXPECT_EQ(view->readFile(d + "/huge", 1000)->size(), 1000u);
        EXPECT_FALSE(view->readFile(d + "/fifo", 1000));
        EXPECT_TRUE(misses->empty() || misses->take().size() == 2);  // the facts only
        EXPECT_FALSE(file("fifo"));  // refused without waiting on a writer
        EXPECT_FALSE(file("missing"));
        EXPECT_EQ(file("after"), "still here");
        EXPECT_FALSE(snap.userFiles.at(d + "/link").data);  // a link is no user file
        EXPECT_EQ(snap.links.at(d + "/link"), d + "/after");
        EXPECT_EQ(snap.types.at(d + "/fifo").first, FileType::Other);
        // A listing in NUL-separated records keeps the name with a line
        // break; one printed line by line leaves it out, and only it.
        std::set<std::string> names;
        for (const auto& e : *snap.lists.at(d)) names.insert(e.name);
        std::set<std::string> expected{"after", "bin", "empty", "fifo", "frames", "huge", "link"};
        if (env.empty()) expected.insert("line\nbreak");
        EXPECT_EQ(names, expected);
        EXPECT_FALSE(snap.files.count(d + "/line\nbreak"));
        // The pattern's reads under their own limit.
        EXPECT_TRUE(snap.covers(Kind::Read, d + "/anything", 64));
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    // A fresh boundary each run: nothing on disk can know the next one.
    EXPECT_NE(makeBoundary(), makeBoundary());
    EXPECT_GE(makeBoundary().size(), 32u);
}

TEST(RemoteSnapshot, EveryFileAPatternFindsIsReadUnderItsOwnNamePastTheFirstHundreds) {
    // More files than the shell gathers itself (the rest go to xargs), and
    // names that word splitting or pattern matching would break; beside
    // them a file asked for with a limit shorter than a frame marker.
    Scratch s;
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) names.push_back("f" + std::to_string(1000 + i));
    for (const char* n : {"two words", "tab\there", "star*", "-dash", "q'uote", "tail "})
        names.push_back(n);
    for (const auto& n : names) s.write("dir/" + n, "<" + n + ">");
    s.write("one/tiny", "abc");
    const std::string d = s.dir.string() + "/dir";
    const std::string tiny = s.dir.string() + "/one/tiny";
    const Snapshot snap = fetch({{Kind::Read, d + "/*", 64, true}, readOf(tiny, 1)}, {});
    for (const auto& n : names) {
        SCOPED_TRACE(n);
        const auto it = snap.files.find(d + "/" + n);
        ASSERT_NE(it, snap.files.end());
        EXPECT_EQ(it->second.data, "<" + n + ">");
    }
    EXPECT_EQ(snap.files.at(tiny).data, "a");
    EXPECT_EQ(snap.files.size(), names.size() + 1);
    EXPECT_TRUE(snap.failed.empty());
}

TEST(RemoteSnapshot, TypesAndLinksOverAListedFolderMatchWhatTheyAre) {
    Scratch s;
    s.write("d/file", "x");
    fs::create_directories(s.dir / "d/sub");
    const fs::path d = s.dir / "d";
    ::symlink("file", (d / "tofile").c_str());
    ::symlink("sub", (d / "todir").c_str());
    ::symlink("nowhere", (d / "dangling").c_str());
    ::symlink("loop", (d / "loop").c_str());
    const std::string ds = d.string();
    const Requests req{{Kind::List, ds, 0, false},
                       {Kind::Link, ds + "/*", 0, true},
                       {Kind::Type, ds + "/*", 0, true}};
    struct Want {
        const char* name;
        FileType own, followed;
        std::optional<std::string> target;
    };
    const Want wants[] = {{"file", FileType::Regular, FileType::Regular, std::nullopt},
                          {"sub", FileType::Directory, FileType::Directory, std::nullopt},
                          {"tofile", FileType::Symlink, FileType::Regular, "file"},
                          {"todir", FileType::Symlink, FileType::Directory, "sub"},
                          {"dangling", FileType::Symlink, FileType::None, "nowhere"},
                          {"loop", FileType::Symlink, FileType::None, "loop"}};
    // With GNU find (one listing carries all three) and with the shell alone.
    for (const auto& env : {std::map<std::string, std::string>{},
                            std::map<std::string, std::string>{{"TMPDIR", ds + "/nowhere"}}}) {
        SCOPED_TRACE(env.empty() ? "one find" : "the shell alone");
        const Snapshot snap = fetch(req, {}, env);
        ASSERT_TRUE(snap.lists.count(ds) && snap.lists.at(ds));
        EXPECT_EQ(snap.lists.at(ds)->size(), std::size(wants));
        for (const Want& w : wants) {
            SCOPED_TRACE(w.name);
            const std::string p = ds + "/" + w.name;
            ASSERT_TRUE(snap.types.count(p));
            EXPECT_EQ(snap.types.at(p).first, w.own);
            EXPECT_EQ(snap.types.at(p).second, w.followed);
            const auto link = snap.links.find(p);
            EXPECT_EQ(link == snap.links.end() ? std::nullopt : link->second, w.target);
        }
    }
}

TEST(RemoteSnapshot, AReadThatHangsCostsOnlyItsValueAndTheFilesAfterItAreStillRead) {
    Scratch s;
    for (const char* n : {"a", "c", "z"}) s.write(std::string("dir/") + n, n);
    s.write("dir/hang", "never");
    s.write("alone", "single file");
    FakeCommands fake;
    // head stands still when it meets the file "hang", like a read of a
    // process in uninterruptible sleep.
    fake.add("head",
             "c=; n=; for a; do\n"
             "  if [ -n \"$n\" ]; then c=$a; n=; continue; fi\n"
             "  case $a in -c) n=1;; -q|--) ;; */hang) sleep 30;; *) /usr/bin/head -c \"$c\" -- "
             "\"$a\";; esac\n"
             "done\n");
    const std::string d = s.dir.string() + "/dir";
    const Requests req{{Kind::Read, d + "/*", 4096, true}, readOf(s.dir.string() + "/alone")};
    ScriptOptions o;
    o.commandTimeoutSeconds = 1;
    const auto start = Clock::now();
    const Snapshot snap = fetch(req, o, fake.env());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(snap.files.at(d + "/a").data, "a");
    EXPECT_EQ(snap.files.at(d + "/c").data, "c");
    EXPECT_EQ(snap.files.at(d + "/z").data, "z");  // read after the hang, in the same run
    EXPECT_EQ(snap.files.at(s.dir.string() + "/alone").data, "single file");
    EXPECT_FALSE(snap.files.at(d + "/hang").data);
    // Known to be lost, not absent: a class that asks for it counts it.
    ASSERT_EQ(snap.failed.size(), 1u);
    EXPECT_EQ(snap.failed.begin()->first.path, d + "/hang");
    EXPECT_EQ(snap.failed.begin()->second, LostValues::Why::TimedOut);
    auto lost = std::make_shared<LostValues>();
    const auto view =
        makeSnapshotView(std::make_shared<Snapshot>(snap), std::make_shared<MissLog>(), lost);
    EXPECT_FALSE(view->readFile(d + "/hang", 4096));
    EXPECT_FALSE(view->readFile(d + "/hang", 4096));
    EXPECT_EQ(lost->summary(), "1 value could not be read in time (" + d + "/hang)");
}

TEST(RemoteProvider, AHungFileSystemLeavesItsSizeNullAndThePassFinishes) {
    FakeCommands fake;
    // statvfs of a dead network mount: stat -f never returns.
    fake.add("stat", "case $1 in -f) sleep 30;; esac\nexec /usr/bin/stat \"$@\"\n");
    RemoteOptions o;
    o.commandTimeout = std::chrono::milliseconds(1000);
    o.runDeadline = std::chrono::milliseconds(15000);
    auto remote = makeRemoteProvider(makeLocalShell(fake.env()), o);
    const auto start = Clock::now();
    const auto disks = rows(*remote, "Win32_LogicalDisk");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(12));
    ASSERT_FALSE(disks.empty());
    for (const auto& d : disks) {
        EXPECT_FALSE(d.count("Size"));
        EXPECT_FALSE(d.count("FreeSpace"));
        EXPECT_TRUE(d.count("FileSystem"));  // what the mount table says is still there
    }
}

TEST(RemoteProvider, AFirstRunPastItsDeadlineFailsThePassInsteadOfMakingUpARow) {
    FakeCommands fake;
    // A remote whose every helper hangs and that has no timeout command:
    // nothing of the computer comes back, not even its clock.
    for (const char* c : {"head", "xargs", "timeout"}) fake.add(c, "sleep 30\n");
    RemoteOptions o;
    o.runDeadline = std::chrono::milliseconds(1500);
    auto remote = makeRemoteProvider(makeLocalShell(fake.env()), o);
    const auto start = Clock::now();
    try {
        rows(*remote, "Win32_OperatingSystem");
        ADD_FAILURE() << "a row made of defaults";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::kTimedOut);
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(8));
}

TEST(RemoteProvider, WithoutSystemctlOrLpstatServiceStateAndPrintersStayNull) {
    FakeCommands fake;
    // Commands that are not there: the shell's command -v finds nothing executable.
    Scratch bin;
    for (const char* tool : {"sh", "head", "xargs", "readlink", "stat", "mktemp", "ln", "rm",
                             "date", "getconf", "uname", "env", "sleep", "timeout"}) {
        for (const char* dir : {"/usr/bin/", "/bin/"}) {
            if (::access((std::string(dir) + tool).c_str(), X_OK) == 0) {
                ::symlink((std::string(dir) + tool).c_str(), (bin.dir / tool).c_str());
                break;
            }
        }
    }
    auto remote = makeRemoteProvider(makeLocalShell({{"PATH", bin.dir.string()}}));
    const auto services = rows(*remote, "Win32_Service");
    const auto local = rows(*makeProvider(), "Win32_Service");
    EXPECT_EQ(services.size(), local.size());  // the unit files still speak
    for (const auto& s : services) {
        EXPECT_FALSE(s.count("State"));
        EXPECT_FALSE(s.count("ProcessId"));
    }
    EXPECT_TRUE(rows(*remote, "Win32_Printer").empty());
    EXPECT_TRUE(rows(*remote, "Win32_PrintJob").empty());
}

TEST(RemoteProvider, RoutesSayWhoAddedThemFromTheRemotesIpListing) {
    FakeCommands fake;
    // The routes of the fixture's table as ip prints them (it leaves out "proto boot").
    fake.add("ip",
             "echo 'default via 192.168.1.1 dev eth0 proto dhcp metric 100'\n"
             "echo '192.168.1.0/24 dev eth0 proto kernel scope link metric 100'\n"
             "echo '192.168.10.10 via 192.168.1.1 dev wlan0 metric 600'\n"
             "echo 'unreachable 10.0.0.0/8 proto static'\n");
    RemoteOptions o;
    o.root = std::string(TAVO_TEST_DATA) + "/services/routes";
    auto remote = makeRemoteProvider(makeLocalShell(fake.env()), o);
    std::map<std::string, std::string> protocol;
    for (const auto& r : rows(*remote, "Win32_IP4RouteTable")) {
        protocol[r.at("Destination") + "/" + r.at("Mask")] =
            r.count("Protocol") ? r.at("Protocol") : "<null>";
    }
    EXPECT_EQ(protocol["0.0.0.0/0.0.0.0"], "3");                // dhcp: configured here
    EXPECT_EQ(protocol["192.168.1.0/255.255.255.0"], "2");      // kernel: local
    EXPECT_EQ(protocol["192.168.10.10/255.255.255.255"], "3");  // boot
    // A route the kernel refuses traffic on has no protocol to tell.
    EXPECT_EQ(protocol["10.0.0.0/255.0.0.0"], "<null>");
}

TEST(RemoteParsers, CommandOutputsInTheCLocale) {
    const auto units =
        parseSystemd(CommandOutput{"ssh.service loaded active running OpenBSD Secure Shell server\n"
                                   "cron.service loaded inactive dead Regular background program\n"
                                   "short line\n",
                                   0},
                     CommandOutput{"MainPID=812\nExecMainStatus=0\nCanStop=yes\nId=ssh.service\n\n"
                                   "Id=cron.service\nMainPID=0\nExecMainStatus=1\nCanStop=no\n",
                                   0});
    ASSERT_TRUE(units);
    ASSERT_EQ(units->size(), 2u);
    EXPECT_EQ((*units)[0].description, "OpenBSD Secure Shell server");
    EXPECT_EQ((*units)[0].mainPid, 812u);
    EXPECT_EQ((*units)[0].canStop, true);
    EXPECT_EQ((*units)[1].activeState, "inactive");
    EXPECT_EQ((*units)[1].exitStatus, 1);
    EXPECT_FALSE(parseSystemd(CommandOutput{"", 1}, std::nullopt));
    EXPECT_FALSE(parseSystemd(std::nullopt, std::nullopt));

    const auto nics = parseIp(
        "1: lo: <LOOPBACK,UP,LOWER_UP> mtu 65536 qdisc noqueue\n"
        "4: eth0@if5: <BROADCAST,MULTICAST,UP,LOWER_UP> mtu 1500\n",
        "1: lo    inet 127.0.0.1/8 scope host lo\\       valid_lft forever\n"
        "4: eth0    inet 192.0.2.7/24 brd 192.0.2.255 scope global eth0\n"
        "4: eth0    inet6 fe80::1/64 scope link\n");
    ASSERT_EQ(nics.size(), 2u);
    EXPECT_TRUE(nics[0].flags & IFF_LOOPBACK);
    EXPECT_EQ(nics[1].name, "eth0");
    EXPECT_EQ(nics[1].index, 4u);
    ASSERT_EQ(nics[1].addresses.size(), 2u);
    EXPECT_EQ(nics[1].addresses[0].subnet, "255.255.255.0");
    EXPECT_EQ(nics[1].addresses[1].subnet, "64");

    const auto printers = parseLpstatPrinters(
        "printer office now printing office-7.  enabled since Tue 08 Dec 2026\n"
        "\tDescription: Office laser\n\tAlerts: media-low-warning\n\tLocation: Room 2\n"
        "printer lab disabled since Tue 08 Dec 2026 -\n\treason unknown\n",
        "system default destination: lab\n", "device for office: ipp://10.0.0.5/ipp/print\n",
        "office accepting requests since Tue\nlab not accepting requests since Tue\n");
    ASSERT_EQ(printers.size(), 2u);
    EXPECT_EQ(printers[0].state, PrinterState::Processing);
    EXPECT_EQ(printers[0].info, "Office laser");
    EXPECT_EQ(printers[0].location, "Room 2");
    EXPECT_EQ(printers[0].stateReasons, std::vector<std::string>{"media-low-warning"});
    EXPECT_EQ(printers[0].deviceUri, "ipp://10.0.0.5/ipp/print");
    EXPECT_EQ(printers[0].acceptingJobs, true);
    EXPECT_TRUE(printers[1].isDefault);
    EXPECT_EQ(printers[1].state, PrinterState::Stopped);
    EXPECT_EQ(printers[1].acceptingJobs, false);
    const auto jobs = parseLpstatJobs("office-7 alice 2048 Tue 08 Dec 2026\noffice-8 bob 10 Tue\n",
                                      "printer office now printing office-7.  enabled\n");
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].state, JobState::Processing);
    EXPECT_EQ(jobs[1].state, JobState::Pending);
    EXPECT_EQ(jobs[0].sizeKb, 2);
    EXPECT_EQ(jobs[1].queue, "office");
}

// A folder of links to the tools a remote shell may have, and no others.
std::map<std::string, std::string> onlyTools(const Scratch& bin, std::vector<const char*> tools) {
    for (const char* tool : tools) {
        for (const char* dir : {"/usr/bin/", "/bin/", "/usr/sbin/"}) {
            if (::access((std::string(dir) + tool).c_str(), X_OK) == 0) {
                ::symlink((std::string(dir) + tool).c_str(), (bin.dir / tool).c_str());
                break;
            }
        }
    }
    return {{"PATH", bin.dir.string()}};
}

TEST(RemoteProvider, ARemoteWithoutTimeoutOrGnuFindGivesTheSameInstances) {
    // A small remote: no timeout command, no find; every section takes its
    // plain shell path (loops, one stat per file).
    Scratch bin;
    const auto env = onlyTools(bin, {"sh", "head", "xargs", "readlink", "stat", "mktemp", "rm",
                                     "date", "getconf", "uname", "env", "sleep", "ip", "cat"});
    auto plain = makeRemoteProvider(makeLocalShell(env));
    auto full = makeRemoteProvider(makeLocalShell());
    for (const char* cls : {"Win32_Service", "Win32_Product", "Win32_TimeZone", "Win32_LogicalDisk",
                            "Win32_NetworkAdapterConfiguration", "Win32_Processor"}) {
        SCOPED_TRACE(cls);
        std::vector<std::string> problems;
        for (int attempt = 0; attempt < 2; ++attempt) {
            problems = compare(cls, rows(*full, cls), rows(*plain, cls));
            if (problems.empty()) break;
        }
        for (const auto& p : problems) ADD_FAILURE() << p;
    }
    // Processes: the same ones, by identity, through the loops.
    std::set<std::string> a, b;
    for (const auto& r : rows(*full, "Win32_Process")) a.insert(keyOf("Win32_Process", r));
    for (const auto& r : rows(*plain, "Win32_Process")) b.insert(keyOf("Win32_Process", r));
    std::size_t common = 0;
    for (const auto& k : a) common += b.count(k);
    EXPECT_GE(common, a.size() * 8 / 10);
}

TEST(LocalView, ATreeKeepsItsOwnNamespaceAndSaysWhatItCannotSee) {
    Scratch s;
    s.write("etc/file", "x");
    fs::create_directories(s.dir / "sys/devices/disk");
    ::symlink("devices/disk", (s.dir / "sys/link").c_str());
    ::symlink("/", (s.dir / "out").c_str());  // leads out of the tree
    fs::create_directories(s.dir / "locked/inner");
    const auto view = makeLocalView(s.dir.string());
    EXPECT_EQ(view->canonical("/sys/link"), "/sys/devices/disk");
    // A path that resolves outside the tree has no name inside it.
    EXPECT_FALSE(view->canonical("/out"));
    EXPECT_EQ(view->type("/sys/link", false), FileType::Symlink);
    EXPECT_EQ(view->type("/sys/link", true), FileType::Directory);
    EXPECT_EQ(view->type("/nothing", true), FileType::None);
    const auto entries = view->list("/sys");
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[0].name, "devices");  // sorted by name
    EXPECT_EQ((*entries)[1].type, FileType::Symlink);
    EXPECT_FALSE(view->list("/etc/file"));
    EXPECT_FALSE(view->isRunningMachine());
    EXPECT_FALSE(view->machine());  // a tree is not this machine
    if (::geteuid() != 0) {
        // Root may look anywhere; anyone else cannot tell what is behind.
        ::chmod((s.dir / "locked").c_str(), 0);
        EXPECT_EQ(view->type("/locked/inner", true), FileType::Unknown);
        ::chmod((s.dir / "locked").c_str(), 0700);
    }
}

TEST(LocalShell, AStoppedPassEndsItsRunAtOnce) {
    LocalShell shell;
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop.request_stop();
    });
    const auto start = Clock::now();
    {
        cycle::StopScope scope(stop.get_token());
        EXPECT_THROW(shell.run("sleep 30\n", std::chrono::seconds(20)), Error);
    }
    stopper.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

TEST(LocalShell, RunsAScriptAndEndsItsWholeGroupAtTheDeadline) {
    LocalShell shell;
    const auto run = shell.run("printf 'out'; printf 'err' >&2; exit 3\n", std::chrono::seconds(5));
    EXPECT_EQ(run.out, "out");
    EXPECT_EQ(run.err, "err");
    EXPECT_EQ(run.exitStatus, 3);
    Scratch s;
    const std::string marker = (s.dir / "survived").string();
    const auto start = Clock::now();
    try {
        shell.run("(sleep 3; touch '" + marker + "') & sleep 30\n", std::chrono::milliseconds(300));
        ADD_FAILURE() << "no timeout";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::kTimedOut);
        EXPECT_NE(e.description().find("300 ms"), std::string::npos);
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    ::sleep(4);
    EXPECT_FALSE(fs::exists(marker));  // the background child went with the group
    EXPECT_EQ(shell.runs(), 2);
}

}  // namespace tavo::linuxwmi
