#pragma once

// What the benchmarks that compare with ps share: starting a command, and
// counting (and making up) the processes a machine runs.

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
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

// Sleeping children until `wanted` processes run (at most `most` started);
// ~Crowd ends them.
struct Crowd {
    std::vector<pid_t> children;
    explicit Crowd(int wanted, std::size_t most = 1200) {
        while (countProcesses() < wanted && children.size() < most) {
            const pid_t pid = spawn({"sleep", "600"}, false);
            if (pid <= 0) break;
            children.push_back(pid);
        }
    }
    ~Crowd() {
        for (pid_t pid : children) kill(pid, SIGTERM);
        for (pid_t pid : children) waitpid(pid, nullptr, 0);
    }
    Crowd(const Crowd&) = delete;
    Crowd& operator=(const Crowd&) = delete;
};

}  // namespace tavo::bench
