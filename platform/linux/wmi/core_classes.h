#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/linux/wmi/instance.h"
#include "platform/linux/wmi/system_context.h"

// The producers of the core classes, each in its own class_*.cpp, and the
// small parsers they share (declared here so tests reach them directly).
namespace tavo::linuxwmi {

std::vector<Instance> produceLogicalDisks(const SystemContext& ctx);
std::vector<Instance> produceNetworkAdapterConfigurations(const SystemContext& ctx);
// What the process class reads of each /proc/<pid> file.
inline constexpr std::size_t kProcFileLimit = 1 << 20;
// The longest command line a row keeps, in bytes: Windows's own limit on a
// command line. Another user's process decides how long its line is, and
// hundreds of megabyte-long lines must not become hundreds of megabytes here.
inline constexpr std::size_t kCommandLineLimit = 32767;
// What is read of /proc/<pid>/cmdline: one byte more tells a line was cut.
inline constexpr std::size_t kCommandLineRead = kCommandLineLimit + 1;
// `raw` (the NUL-separated arguments) as one line of at most
// kCommandLineLimit bytes, cut before a UTF-8 sequence it would split;
// `cut` says whether anything was left out.
std::string commandLineOf(std::string raw, bool& cut);
std::vector<Instance> produceProcesses(const SystemContext& ctx);
std::vector<Instance> produceEnvironment(const SystemContext& ctx);

// /proc/PID/stat split into its fields; `comm` is cut at the last ')' so a
// name holding spaces or parentheses cannot shift the rest.
struct ProcStat {
    int pid = 0;
    std::string comm;
    char state = '?';
    int ppid = 0;
    int session = 0;
    unsigned long long minflt = 0, majflt = 0;
    unsigned long long utime = 0, stime = 0;  // clock ticks
    long long priority = 0, nice = 0;
    long long numThreads = 0;
    unsigned long long startTime = 0;  // clock ticks since boot
    unsigned long long vsize = 0;      // bytes
    long long rss = 0;                 // pages
};
bool parseProcStat(std::string_view text, ProcStat& out);

// resolv.conf: the servers, the domain and the search list, in file order.
struct ResolverConfig {
    std::vector<std::string> servers;
    std::string domain;
    std::vector<std::string> search;
};
ResolverConfig parseResolvConf(std::string_view text);

// KEY=VALUE lines as /etc/environment holds them: comments and blank lines
// skipped, an "export " prefix and one pair of surrounding quotes removed.
std::vector<std::pair<std::string, std::string>> parseEnvironmentFile(std::string_view text);

}  // namespace tavo::linuxwmi
