#include "support/local_shell.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "cycle/cancellation.h"
#include "grid/error.h"

extern char** environ;

namespace tavo::linuxwmi {

namespace {

using Clock = std::chrono::steady_clock;

// What a run's standard error keeps: enough for a message, never a flood.
constexpr std::size_t kErrLimit = 64 * 1024;

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::string systemMessage(int err) {
    return std::strerror(err);
}

}  // namespace

LocalShell::LocalShell(std::map<std::string, std::string> env) : env_(std::move(env)) {}

remote::ShellRun LocalShell::run(std::string_view script, std::chrono::milliseconds deadline) {
    ++runs_;
    const auto until = Clock::now() + deadline;
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
        const int e = errno;
        for (int* p : {in, out, err}) {
            closeFd(p[0]);
            closeFd(p[1]);
        }
        throw Error(errc::kFailed, "Could not start a shell on this computer: " + systemMessage(e));
    }

    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) {
        const std::string_view kv = *e;
        const auto eq = kv.find('=');
        if (eq != std::string_view::npos && env_.count(std::string(kv.substr(0, eq)))) continue;
        envText.emplace_back(kv);
    }
    for (const auto& [k, v] : env_) envText.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envText) envp.push_back(s.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own process group, so a timeout ends every command it started.
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t dflt;
    sigemptyset(&dflt);
    sigaddset(&dflt, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &dflt);
    posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char sh[] = "/bin/sh";
    char dashS[] = "-s";
    char* argv[] = {sh, dashS, nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, "/bin/sh", &actions, &attr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    closeFd(in[0]);
    closeFd(out[1]);
    closeFd(err[1]);
    if (spawned != 0) {
        closeFd(in[1]);
        closeFd(out[0]);
        closeFd(err[0]);
        throw Error(errc::kFailed,
                    "Could not start /bin/sh on this computer: " + systemMessage(spawned));
    }

    for (int fd : {in[1], out[0], err[0]}) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);

    remote::ShellRun result;
    std::size_t written = 0;
    bool timedOut = false, stopped = false;
    const std::stop_token stop = cycle::currentStopToken();
    char buf[65536];
    while (out[0] >= 0 || err[0] >= 0) {
        if (stop.stop_requested()) {
            stopped = true;
            break;
        }
        const auto now = Clock::now();
        if (now >= until) {
            timedOut = true;
            break;
        }
        pollfd fds[3];
        nfds_t n = 0;
        int outAt = -1, errAt = -1, inAt = -1;
        if (out[0] >= 0) fds[outAt = static_cast<int>(n++)] = {out[0], POLLIN, 0};
        if (err[0] >= 0) fds[errAt = static_cast<int>(n++)] = {err[0], POLLIN, 0};
        if (in[1] >= 0) fds[inAt = static_cast<int>(n++)] = {in[1], POLLOUT, 0};
        // Short slices, so a stop request is seen soon.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        const int wait = static_cast<int>(std::min<long long>(left.count() + 1, 50));
        if (::poll(fds, n, wait) < 0 && errno != EINTR) break;
        if (inAt >= 0 && (fds[inAt].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t w = ::write(in[1], script.data() + written, script.size() - written);
            if (w > 0) written += static_cast<std::size_t>(w);
            if ((w < 0 && errno != EAGAIN && errno != EINTR) || written == script.size())
                closeFd(in[1]);  // the end of the script is the end of its input
        }
        for (auto [at, fd, sink] :
             {std::tuple{outAt, &out[0], &result.out}, std::tuple{errAt, &err[0], &result.err}}) {
            if (at < 0 || !(fds[at].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t r = ::read(*fd, buf, sizeof buf);
            if (r > 0) {
                if (sink != &result.err || sink->size() < kErrLimit)
                    sink->append(buf, static_cast<std::size_t>(r));
            } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                closeFd(*fd);
            }
        }
    }
    closeFd(in[1]);
    closeFd(out[0]);
    closeFd(err[0]);
    if (timedOut || stopped) ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut) {
        throw Error(errc::kTimedOut, "Timed out: this computer's shell did not finish within " +
                                         std::to_string(deadline.count()) + " ms");
    }
    if (stopped) throw Error(errc::kTimedOut, "Stopped: the pass was stopped");
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::shared_ptr<LocalShell> makeLocalShell(std::map<std::string, std::string> env) {
    return std::make_shared<LocalShell>(std::move(env));
}

}  // namespace tavo::linuxwmi
