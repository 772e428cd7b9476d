#pragma once

// Starting and stopping the real daemons a test talks to: each runs from a
// private temporary directory and is stopped by its own process id.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace tavo::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline bool onPath(const std::string& program) {
    for (const char* dir : {"/usr/sbin", "/usr/bin", "/sbin", "/bin"})
        if (access((std::string(dir) + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

inline bool waitFor(std::chrono::milliseconds limit, const std::function<bool()>& ready) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (ready()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return ready();
}

inline std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The daemons and publishers this test started, stopped by their own ids.
class Peers {
  public:
    explicit Peers(std::string prefix) : prefix_(std::move(prefix)) {}
    Peers(const Peers&) = delete;
    Peers& operator=(const Peers&) = delete;
    ~Peers() {
        for (auto it = pids_.rbegin(); it != pids_.rend(); ++it) stop(*it);
        if (!dir_.empty()) fs::remove_all(dir_);
        std::error_code ignored;
        for (const auto& d : leftovers_) fs::remove(d, ignored);  // only if empty
    }

    // A directory the daemons create and leave behind, removed if it is empty.
    void removeAfterwards(const fs::path& d) { leftovers_.push_back(d); }

    fs::path dir() {
        if (dir_.empty()) {
            std::string tmpl = (fs::temp_directory_path() / (prefix_ + "-XXXXXX")).string();
            if (mkdtemp(tmpl.data())) dir_ = tmpl;
        }
        return dir_;
    }

    // Starts `argv` with output into `log`; returns false if it could not start.
    bool start(const std::vector<std::string>& argv, const fs::path& log) {
        const pid_t pid = fork();
        if (pid < 0) return false;
        if (pid == 0) {
            // A group of its own: a daemon that signals its whole process
            // group on the way out must not take the test with it.
            setsid();
            const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd >= 0) {
                dup2(fd, 1);
                dup2(fd, 2);
            }
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        pids_.push_back(pid);
        return true;
    }

  private:
    static void stop(pid_t pid) {
        kill(pid, SIGTERM);
        for (int k = 0; k < 30; ++k) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) return;
            std::this_thread::sleep_for(100ms);
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }

    std::string prefix_;
    fs::path dir_;
    std::vector<pid_t> pids_;
    std::vector<fs::path> leftovers_;
};

}  // namespace tavo::test
