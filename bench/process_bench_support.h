#pragma once

// What the benchmarks that compare with ps share: starting a command, and
// counting (and making up) the processes a machine runs.

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace tavo::bench {

// Starts argv[0] from PATH; with `quiet`, its output goes to /dev/null.
// -1 when it could not be started.
inline pid_t spawn(std::vector<const char*> argv, bool quiet) {
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char* const*>(argv.data()),
                     environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

inline int countProcesses() {
    int n = 0;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) n += e->d_name[0] >= '1' && e->d_name[0] <= '9';
        closedir(d);
    }
    return n;
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// CPU time in milliseconds.
inline double cpuMs(const rusage& u) {
    return (static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e6 +
            static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec)) /
           1e3;
}

// Every thread of this process, and the children it has reaped.
inline double ownCpuMs() {
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    return cpuMs(self) + cpuMs(children);
}

// The CPU time a running (single-threaded) process has had, in milliseconds,
// from the scheduler's nanosecond count; 0 when it has gone.
inline double liveCpuMs(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    unsigned long long ns = 0;
    in >> ns;
    return static_cast<double>(ns) / 1e6;
}

// Runs argv to its end with its output thrown away; its CPU and wall time in
// milliseconds, or false when it did not run or failed.
inline bool runTimed(std::vector<const char*> argv, double& cpu, double& wall);

// The machine's load averages, as the kernel gives them.
inline std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// Sleeping children until `wanted` processes run (at most `most` started);
// ~Crowd ends them.
struct Crowd {
    std::vector<pid_t> children;
    explicit Crowd(int wanted, std::size_t most = 1200) {
        // Counted once a round, not once a child: /proc is long by then.
        for (int round = 0; round < 3; ++round) {
            const int missing = wanted - countProcesses();
            for (int i = 0; i < missing && children.size() < most; ++i) {
                const pid_t pid = spawn({"sleep", "600"}, false);
                if (pid <= 0) return;
                children.push_back(pid);
            }
        }
    }
    ~Crowd() {
        for (pid_t pid : children) kill(pid, SIGTERM);
        for (pid_t pid : children) waitpid(pid, nullptr, 0);
    }
    Crowd(const Crowd&) = delete;
    Crowd& operator=(const Crowd&) = delete;
};

// The thousand processes or more that the process benchmarks' budgets are
// stated for: a crowd started beside what already runs, and the count then.
struct ThousandProcesses {
    static constexpr int kWanted = 1000;
    const Crowd crowd{kWanted + 20};
    const int running = countProcesses();

    ThousandProcesses() {
        std::printf("processes running: %d (started %zu)\n", running, crowd.children.size());
    }
    bool enough() const { return running >= kWanted; }
};

inline bool runTimed(std::vector<const char*> argv, double& cpu, double& wall) {
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = spawn(std::move(argv), true);
    rusage u{};
    int status = 0;
    if (pid <= 0 || wait4(pid, &status, 0, &u) != pid || status != 0) return false;
    wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    cpu = cpuMs(u);
    return true;
}

}  // namespace tavo::bench
