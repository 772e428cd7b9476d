#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/linux/wmi/fs_probe.h"
#include "platform/linux/wmi/net_probe.h"
#include "platform/linux/wmi/print_system.h"
#include "platform/linux/wmi/service_manager.h"
#include "platform/linux/wmi/system_context.h"
#include "platform/linux/wmi/system_view.h"

// Another computer seen through its shell: what a pass wants to read is
// gathered into one POSIX script, its output comes back in framed sections,
// and the classes then read that snapshot as if it were the computer itself.
namespace tavo::linuxwmi::remote_view {

// One thing to fetch. `path` is a literal path, or a shell pattern when
// `glob` is set (patterns are the program's own, never taken from the remote).
enum class Kind {
    Read,      // a regular file's bytes, up to `limit`
    UserRead,  // the same, refusing a symbolic link
    List,      // a directory's entries with their types
    Link,      // a symbolic link's target
    Type,      // what the path is, with and without following a link
    Canon,     // the path with every link resolved
    MTime,     // when it was last changed
    Birth,     // when it was made
    Count,     // how many entries a directory has
    StatFs,    // the file system's sizes (may hang: under a timeout)
    Command,   // a named command's output: see commandScript()
};

struct Request {
    Kind kind = Kind::Read;
    std::string path;
    std::size_t limit = 0;  // reads only
    bool glob = false;
    auto operator<=>(const Request&) const = default;
};
using Requests = std::set<Request>;

// The commands a snapshot can hold, by name.
inline constexpr std::string_view kFacts = "facts";          // clock and zone
inline constexpr std::string_view kMachine = "machine";      // uname, getconf: fixed per computer
inline constexpr std::string_view kSystemd = "systemd";      // systemctl list-units + show
inline constexpr std::string_view kPrinters = "printers";    // lpstat
inline constexpr std::string_view kAddresses = "addresses";  // ip -o link / addr
// /proc/stat read again a moment after the files: a second sample of the
// processors' counters, for their load over that moment.
inline constexpr std::string_view kLaterStat = "stat-later";
inline constexpr std::string_view kRoutes = "routes";  // ip -4 route show table main

// What came back.
struct FileData {
    std::optional<std::string> data;  // nothing: absent, unreadable, not a regular file
    std::size_t fetchedLimit = 0;
};
struct CommandOutput {
    std::string out;
    int status = -1;
};

struct Snapshot {
    std::map<std::string, FileData> files, userFiles;
    std::map<std::string, std::optional<std::vector<DirEntry>>> lists;
    std::map<std::string, std::optional<std::string>> links, canon;
    std::map<std::string, std::pair<FileType, FileType>> types;  // without, with following
    std::map<std::string, std::optional<Timestamp>> mtimes, births;
    std::map<std::string, std::optional<std::size_t>> counts;
    std::map<std::string, std::optional<FsStats>> statfs;
    std::map<std::string, std::optional<CommandOutput>> commands;
    // Patterns already expanded, by kind (reads with their limit): a path
    // they match but that is not above was not there.
    std::vector<Request> patterns;
    // Items that have no value because they could not be read (a read that
    // hung, a batch skipped, a run cut off), and why: a class that asks for
    // one counts it as lost rather than as absent.
    std::map<Request, LostValues::Why> failed;

    bool covers(Kind kind, std::string_view path, std::size_t limit = 0) const;
};

// What the remote's tools can do. A session's first script tests them and
// says so in a "tools" section; later scripts are told and test nothing.
struct RemoteTools {
    bool timeout = false;    // timeout(1)
    bool stdbuf = false;     // stdbuf(1)
    bool gnuFind = false;    // find -printf
    bool filesFrom = false;  // find -files0-from (GNU findutils 4.9)
    bool realpathZ = false;  // realpath -z -m
};
inline constexpr std::string_view kTools = "tools";
// The "tools" section's text, or nothing when it is not one.
std::optional<RemoteTools> parseTools(std::string_view text);

struct ScriptOptions {
    // Seconds each command that may hang gets on the remote before it is
    // killed (`timeout -k 1 N`); without `timeout` there, only the local
    // deadline bounds the run.
    int commandTimeoutSeconds = 2;
    // Files read from another computer are read under this prefix (fixture
    // trees); "" for the computer's own root.
    std::string root;
    // Known from an earlier script of the session; tested (and said) when not.
    std::optional<RemoteTools> tools;
};

// The most one batch of file reads may print before the rest of it is
// skipped (and counted as lost): the remote, not we, decides how big files
// are, and a report has no use for hundreds of megabytes.
inline constexpr std::size_t kPassBudget = std::size_t{32} << 20;

// A random marker no file can be expected to hold.
std::string makeBoundary();

// `s` as one word of a POSIX shell script, whatever bytes it holds.
std::string quote(std::string_view s);

// The script that fetches `requests`, its sections framed by `boundary`.
std::string buildScript(const Requests& requests, const std::string& boundary,
                        const ScriptOptions& options);

// Adds what one run printed to `snapshot`. Every request ends up answered,
// with its value or with none; one that could not be read (a hang, a run cut
// off, a batch over its budget) is also entered in `failed`.
void parseOutput(std::string_view output, const std::string& boundary, const Requests& requests,
                 const ScriptOptions& options, Snapshot& snapshot);

// Collects what a producer asked for that the snapshot did not hold.
class MissLog {
  public:
    void add(Request r);
    Requests take();
    bool empty() const;

  private:
    mutable std::mutex mutex_;
    Requests misses_;
};

// The classes' view of the snapshot. Anything not in it is recorded as a
// miss and answered as absent.
std::shared_ptr<const SystemView> makeSnapshotView(std::shared_ptr<const Snapshot> snapshot,
                                                   std::shared_ptr<MissLog> misses,
                                                   std::shared_ptr<LostValues> lost = nullptr);

// A context for one run of a producer over the snapshot: the view and
// probes that answer from it (file system sizes, addresses, services, printers).
// Values the classes ask for that the snapshot lost go to `lost`.
SystemContext makeSnapshotContext(std::shared_ptr<const Snapshot> snapshot,
                                  std::shared_ptr<MissLog> misses,
                                  std::chrono::milliseconds deadline,
                                  std::shared_ptr<LostValues> lost = nullptr);

// Parsers of the commands' C-locale output, exposed for tests.
// `systemctl list-units` and `systemctl show` of its services; nothing when
// the manager did not answer.
std::optional<std::vector<UnitStatus>> parseSystemd(const std::optional<CommandOutput>& list,
                                                    const std::optional<CommandOutput>& show);
// `ip -o link` and `ip -o addr`.
std::vector<NetInterfaceInfo> parseIp(std::string_view links, std::string_view addresses);
// `lpstat -l -p`, `-d`, `-v`, `-a` for the queues, `-o` for the jobs.
std::vector<PrinterRecord> parseLpstatPrinters(std::string_view queues, std::string_view dflt,
                                               std::string_view devices,
                                               std::string_view accepting);
// `lpstat -l -o` (the long form: a held job says so in its alerts).
std::vector<PrintJobRecord> parseLpstatJobs(std::string_view jobs, std::string_view queues);
// ipptool's CSV answers (-c) to CUPS-Get-Printers and Get-Jobs: every
// attribute the local print system reads, where the remote has ipptool.
std::vector<PrinterRecord> parseIppPrinters(std::string_view csv, std::string_view dflt);
std::vector<PrintJobRecord> parseIppJobs(std::string_view csv);
// The queues' "name<TAB>lpoptions -p output" lines: what lpstat does not say
// (shared, the driver, job defaults), added to `printers`.
void addQueueOptions(std::vector<PrinterRecord>& printers, std::string_view options);

}  // namespace tavo::linuxwmi::remote_view
