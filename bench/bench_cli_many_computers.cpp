// tavo-report on many computers, with a stand-in management service that
// gives every computer the same 250 processes (20 properties each, the
// command line the longest).
// Budget: 1,000 computers x 250 rows, in CSV, JSON and table form, within a
// peak resident size of 64 MiB: the rows of a computer go out in their turn
// and only a bounded number of computers wait, so the peak must not grow
// with the number of computers. The peer is the same run over 64 computers,
// measured in the same run: its peak is what a bounded run costs anyway.
//
// Each run is a child process of its own (this program with --child), and
// its peak is the ru_maxrss that wait4 reports for it; its CPU time is user
// plus system time from the same report.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/report_command.h"
#include "collectors/report_context.h"
#include "collectors/report_definition.h"

namespace {

constexpr int kRows = 250;
constexpr long kBudgetKb = 64 * 1024;
constexpr int kTargets = 1000;
constexpr int kPeerTargets = 64;

const char* const kProperties[] = {
    "Name",        "ProcessId",  "ParentProcessId", "CommandLine",  "ExecutablePath",
    "Status",      "Priority",   "ThreadCount",     "HandleCount",  "WorkingSetSize",
    "VirtualSize", "PageFaults", "KernelModeTime",  "UserModeTime", "CreationDate",
    "SessionId",   "CSName",     "OSName",          "Description",  "Caption"};

// What a pass of the generic report leaves: a lamp column, then one column
// per property, one row per process.
void standIn(const tavo::ReportDefinition&, tavo::ReportContext& ctx) {
    tavo::grid::Grid& g = ctx.results();
    const std::string computer = ctx.computer();
    g.columnsAdd("");
    for (const char* p : kProperties) g.columnsAdd(p);
    char buf[256];
    for (int r = 0; r < kRows; ++r) {
        auto& row = g.itemsAdd("", "", 1 + (r % 7 == 0));
        const int pid = 1000 + r * 7;
        std::snprintf(buf, sizeof buf, "worker-%d", r);
        row.setSubItems(1, buf);
        row.setSubItems(2, std::to_string(pid));
        row.setSubItems(3, std::to_string(1 + r / 10));
        std::snprintf(buf, sizeof buf,
                      "/usr/lib/worker/worker-%d --config /etc/worker/%d.conf --log-level info "
                      "--listen 127.0.0.1:%d",
                      r, r % 9, 20000 + r);
        row.setSubItems(4, buf);
        std::snprintf(buf, sizeof buf, "/usr/lib/worker/worker-%d", r);
        row.setSubItems(5, buf);
        row.setSubItems(6, "OK");
        for (int c = 7; c <= 16; ++c) row.setSubItems(c, std::to_string(pid * c % 100003));
        row.setSubItems(17, computer);
        row.setSubItems(18, "Debian GNU/Linux 12 (bookworm)");
        row.setSubItems(19, "worker process");
        row.setSubItems(20, "worker");
    }
}

int child(const char* format, int targets) {
    std::vector<std::string> args = {"-f", format, "-j", "8"};
    for (int i = 0; i < targets; ++i) args.insert(args.end(), {"-c", "host" + std::to_string(i)});
    args.push_back("Processes");
    tavo::cli::Environment env;
    env.collector = standIn;
    env.makeServices = [] { return tavo::cycle::PassServices{}; };
    std::size_t bytes = 0;
    // Standard output as /dev/null takes it: counted and gone.
    env.writeOut = [&bytes](std::string_view text) {
        bytes += text.size();
        return true;
    };
    std::atomic<bool> interrupted{false};
    const tavo::cli::CommandResult r = tavo::cli::runCommand(args, env, interrupted);
    bytes += r.out.size();
    std::printf("%zu %d\n", bytes, r.status);
    return r.status == 0 ? 0 : 1;
}

struct Figures {
    long peakKb = -1;
    double cpuMs = -1, wallMs = -1;
    unsigned long long bytes = 0;
    bool ok = false;
};

Figures runChild(const char* format, int targets) {
    Figures f;
    int out[2];
    if (pipe(out) != 0) return f;
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        const std::string n = std::to_string(targets);
        execl("/proc/self/exe", "bench_cli_many_computers", "--child", format, n.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char text[128] = {};
    std::size_t got = 0;
    for (ssize_t n;
         got < sizeof text - 1 && (n = read(out[0], text + got, sizeof text - 1 - got)) > 0;)
        got += static_cast<std::size_t>(n);
    close(out[0]);
    int status = 0;
    rusage usage{};
    if (pid <= 0 || wait4(pid, &status, 0, &usage) != pid) return f;
    f.wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    f.peakKb = usage.ru_maxrss;
    f.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
              (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    int exitCode = -1;
    f.ok = std::sscanf(text, "%llu %d", &f.bytes, &exitCode) == 2 && exitCode == 0 &&
           WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return f;
}

std::string loadAverage() {
    char buf[64] = {};
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (!std::fgets(buf, sizeof buf, f)) buf[0] = '\0';
        std::fclose(f);
    }
    std::string s(buf);
    return s.substr(0, s.find(' '));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0)
        return child(argv[2], std::atoi(argv[3]));
    std::printf(
        "Budget: tavo-report over %d computers x %d rows (stand-in service, -j 8) peaks under "
        "%ld MiB in csv, json and table; peer: the same over %d computers, same run (load "
        "average %s)\n",
        kTargets, kRows, kBudgetKb / 1024, kPeerTargets, loadAverage().c_str());
    bool allMet = true;
    for (const char* format : {"csv", "json", "table"}) {
        const Figures peer = runChild(format, kPeerTargets);
        const Figures f = runChild(format, kTargets);
        const bool met = f.ok && peer.ok && f.peakKb > 0 && f.peakKb < kBudgetKb;
        allMet &= met;
        std::printf(
            "%-5s: %d computers peak %.1f MiB (%.0f ms CPU, %.0f ms wall, %.1f MiB written); "
            "%d computers peak %.1f MiB (%.0f ms CPU); budget < %ld MiB: %s\n",
            format, kTargets, f.peakKb / 1024.0, f.cpuMs, f.wallMs, f.bytes / 1048576.0,
            kPeerTargets, peer.peakKb / 1024.0, peer.cpuMs, kBudgetKb / 1024,
            met ? "met" : (f.ok && peer.ok ? "MISSED" : "MISSED (a run failed)"));
    }
    return allMet ? 0 : 1;
}
