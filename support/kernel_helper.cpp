#include "support/kernel_helper.h"

#ifdef _WIN32

// Windows has no helper process: its back ends have no such calls.
namespace tavo::kernelhelper {
std::optional<FsNumbers> statFs(const std::string&, const std::string&, Clock::time_point,
                                Outcome* outcome) {
    if (outcome) *outcome = Outcome::Broken;
    return std::nullopt;
}
std::optional<std::string> readRegular(const std::string&, std::size_t, bool, const std::string&,
                                       Clock::time_point, Outcome* outcome) {
    if (outcome) *outcome = Outcome::Broken;
    return std::nullopt;
}
std::optional<std::vector<std::optional<std::string>>> readInDirectory(
    const std::string&, const std::vector<std::string>&, std::size_t, const std::string&,
    Clock::time_point, Outcome* outcome) {
    if (outcome) *outcome = Outcome::Broken;
    return std::nullopt;
}
int helpersStarted() {
    return 0;
}
int helpersHanging() {
    return 0;
}
}  // namespace tavo::kernelhelper

#else

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "support/cancellation.h"

namespace tavo::kernelhelper {

namespace {

// ---- The helper's side. It runs in a child forked from a process with
// many threads, so it calls only async-signal-safe functions: no memory is
// allocated, the buffers are static (each child has its own copy).

enum Op : std::uint32_t { kStat = 1, kRead = 2, kReadIn = 3 };
constexpr std::uint32_t kNoFollow = 1;

struct Request {
    std::uint32_t op = 0;
    std::uint32_t flags = 0;
    std::uint64_t limit = 0;
    std::uint32_t bytes = 0;  // the path, NUL, then each name and NUL
    std::uint32_t count = 0;  // how many names
};

constexpr std::size_t kMaxRequest = 64 * 1024;
char gRequest[kMaxRequest];
char gChunk[64 * 1024];

bool readExact(int fd, void* to, std::size_t n) {
    auto* p = static_cast<char*>(to);
    while (n > 0) {
        const ssize_t got = ::read(fd, p, n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

bool writeExact(int fd, const void* from, std::size_t n) {
    const auto* p = static_cast<const char*>(from);
    while (n > 0) {
        const ssize_t put = ::send(fd, p, n, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

// One file's bytes go as chunks (length, bytes), then a zero length and the
// read's errno (0 when it went well).
void endItem(int sock, std::int32_t status) {
    const std::uint32_t zero = 0;
    if (!writeExact(sock, &zero, sizeof zero) || !writeExact(sock, &status, sizeof status))
        _exit(0);
}

void streamFile(int sock, int fd, std::uint64_t limit) {
    std::uint64_t sent = 0;
    std::int32_t status = 0;
    while (sent < limit) {
        std::size_t want = sizeof gChunk;
        if (limit - sent < want) want = static_cast<std::size_t>(limit - sent);
        const ssize_t n = ::read(fd, gChunk, want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            status = errno;
            break;
        }
        if (n == 0) break;
        const auto len = static_cast<std::uint32_t>(n);
        if (!writeExact(sock, &len, sizeof len) || !writeExact(sock, gChunk, len)) _exit(0);
        sent += len;
    }
    endItem(sock, status);
}

[[noreturn]] void serve(int sock) {
    for (;;) {
        Request r;
        if (!readExact(sock, &r, sizeof r)) _exit(0);  // our program has gone
        if (r.bytes == 0 || r.bytes > kMaxRequest || !readExact(sock, gRequest, r.bytes) ||
            gRequest[r.bytes - 1] != '\0')
            _exit(1);
        const char* path = gRequest;
        if (r.op == kStat) {
            struct statvfs s {};
            std::int32_t status = ::statvfs(path, &s) == 0 ? 0 : errno;
            const std::uint64_t numbers[4] = {s.f_frsize ? s.f_frsize : s.f_bsize, s.f_blocks,
                                              s.f_bavail, s.f_namemax};
            if (!writeExact(sock, &status, sizeof status) ||
                !writeExact(sock, numbers, sizeof numbers))
                _exit(0);
        } else if (r.op == kRead) {
            const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY |
                                            ((r.flags & kNoFollow) ? O_NOFOLLOW : 0));
            struct stat st {};
            if (fd < 0) {
                endItem(sock, errno);
            } else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
                endItem(sock, EINVAL);
            } else {
                streamFile(sock, fd, r.limit);
            }
            if (fd >= 0) ::close(fd);
        } else if (r.op == kReadIn) {
            const int dir = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            const std::int32_t status = dir < 0 ? errno : 0;
            if (!writeExact(sock, &status, sizeof status)) _exit(0);
            if (dir >= 0) {
                const char* name = path + std::strlen(path) + 1;
                for (std::uint32_t i = 0; i < r.count && name < gRequest + r.bytes; ++i) {
                    const int fd = ::openat(dir, name, O_RDONLY | O_CLOEXEC);
                    if (fd < 0) {
                        endItem(sock, errno);
                    } else {
                        streamFile(sock, fd, r.limit);
                        ::close(fd);
                    }
                    name += std::strlen(name) + 1;
                }
                ::close(dir);
            }
        } else {
            _exit(1);
        }
    }
}

// ---- Our side.

struct Helper {
    pid_t pid = -1;
    int sock = -1;
};

struct Pool {
    std::mutex mutex;
    std::vector<Helper> idle;
    std::map<std::string, pid_t> hanging;  // resource -> the helper stuck on it
    std::set<std::string> inFlight;        // resources with a call out now
    std::vector<pid_t> ending;             // killed, not yet reaped
    int started = 0;
};

// Never destroyed: a call may still be leaving while the program ends.
Pool& pool() {
    static auto* p = new Pool;
    return *p;
}

// Idle helpers kept for the next calls; more are let go.
constexpr std::size_t kMaxIdle = 4;

bool ended(pid_t pid) {
    const pid_t r = ::waitpid(pid, nullptr, WNOHANG);
    return r == pid || (r < 0 && errno == ECHILD);
}

void reapLocked(Pool& p) {
    for (auto it = p.hanging.begin(); it != p.hanging.end();)
        it = ended(it->second) ? p.hanging.erase(it) : std::next(it);
    std::erase_if(p.ending, ended);
}

std::optional<Helper> spawnLocked(Pool& p) {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return std::nullopt;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(sv[0]);
        ::close(sv[1]);
        return std::nullopt;
    }
    if (pid == 0) {
        // Only the socket stays open: the helper must hold nothing of ours,
        // least of all our standard output, which someone may wait on.
        if (::dup2(sv[1], 0) != 0) _exit(1);
        ::close_range(1, ~0U, 0);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) ::sigaction(sig, &dfl, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        serve(0);
    }
    ::close(sv[1]);
    ++p.started;
    return Helper{pid, sv[0]};
}

// Reads exactly `n` bytes before `until`, giving up early when this
// thread's pass is stopped.
bool receive(int sock, void* to, std::size_t n, Clock::time_point until) {
    auto* p = static_cast<char*>(to);
    const std::stop_token stop = cycle::currentStopToken();
    while (n > 0) {
        const ssize_t got = ::recv(sock, p, n, MSG_DONTWAIT);
        if (got > 0) {
            p += got;
            n -= static_cast<std::size_t>(got);
            continue;
        }
        if (got == 0) return false;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
        const auto now = Clock::now();
        if (now >= until || stop.stop_requested()) return false;
        // Short slices, so a STOP is seen within one of them.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        const int slice = static_cast<int>(std::min<std::int64_t>(left.count() + 1, 50));
        pollfd pfd{sock, POLLIN, 0};
        ::poll(&pfd, 1, slice);
    }
    return true;
}

bool send(int sock, const std::string& request) {
    return writeExact(sock, request.data(), request.size());
}

// One file's chunks, at most `limit` bytes of them kept.
bool receiveItem(int sock, std::size_t limit, Clock::time_point until, std::string& data,
                 std::int32_t& status) {
    data.clear();
    for (;;) {
        std::uint32_t len = 0;
        if (!receive(sock, &len, sizeof len, until)) return false;
        if (len == 0) return receive(sock, &status, sizeof status, until);
        if (len > sizeof gChunk || data.size() + len > limit) return false;  // not our helper
        const std::size_t at = data.size();
        data.resize(at + len);
        if (!receive(sock, data.data() + at, len, until)) return false;
    }
}

std::string encode(Op op, std::uint32_t flags, std::uint64_t limit, const std::string& path,
                   const std::vector<std::string>& names) {
    std::string body = path;
    body.push_back('\0');
    for (const std::string& n : names) {
        body += n;
        body.push_back('\0');
    }
    Request r;
    r.op = op;
    r.flags = flags;
    r.limit = limit;
    r.bytes = static_cast<std::uint32_t>(body.size());
    r.count = static_cast<std::uint32_t>(names.size());
    std::string out(reinterpret_cast<const char*>(&r), sizeof r);
    return out + body;
}

// Sends `request` to a helper and lets `answer` read the reply. `answer`
// returns false when the reply did not come in time (or made no sense);
// the helper is then abandoned.
template <class Answer>
Outcome call(const std::string& resource, const std::string& request, Clock::time_point until,
             Answer&& answer) {
    if (request.size() > kMaxRequest + sizeof(Request)) return Outcome::Broken;
    Pool& p = pool();
    for (int attempt = 0; attempt < 2; ++attempt) {
        Helper h;
        bool fresh = false;
        {
            std::lock_guard lock(p.mutex);
            reapLocked(p);
            if (!resource.empty() && (p.hanging.count(resource) || p.inFlight.count(resource)))
                return Outcome::Busy;
            if (!p.idle.empty()) {
                h = p.idle.back();
                p.idle.pop_back();
            } else if (auto s = spawnLocked(p)) {
                h = *s;
                fresh = true;
            } else {
                return Outcome::Broken;
            }
            if (!resource.empty()) p.inFlight.insert(resource);
        }
        const bool sent = send(h.sock, request);
        const bool answered = sent && answer(h.sock);
        std::lock_guard lock(p.mutex);
        if (!resource.empty()) p.inFlight.erase(resource);
        if (answered) {
            if (p.idle.size() < kMaxIdle) {
                p.idle.push_back(h);
            } else {
                ::close(h.sock);  // it reads the end of its socket and leaves
                p.ending.push_back(h.pid);
            }
            return Outcome::Answered;
        }
        ::kill(h.pid, SIGKILL);
        ::close(h.sock);
        const bool dead = ended(h.pid);
        if (!dead) {
            if (!resource.empty())
                p.hanging[resource] = h.pid;
            else
                p.ending.push_back(h.pid);
        }
        if (!sent && !fresh) continue;  // an idle helper that died meanwhile
        return sent ? Outcome::Missed : Outcome::Broken;
    }
    return Outcome::Broken;
}

void tell(Outcome* out, Outcome o) {
    if (out) *out = o;
}

}  // namespace

std::optional<FsNumbers> statFs(const std::string& path, const std::string& resource,
                                Clock::time_point until, Outcome* outcome) {
    std::optional<FsNumbers> result;
    const Outcome o = call(resource, encode(kStat, 0, 0, path, {}), until, [&](int sock) {
        std::int32_t status = 0;
        std::uint64_t n[4];
        if (!receive(sock, &status, sizeof status, until) || !receive(sock, n, sizeof n, until))
            return false;
        if (status == 0) result = FsNumbers{n[0], n[1], n[2], n[3]};
        return true;
    });
    tell(outcome, o);
    return result;
}

std::optional<std::string> readRegular(const std::string& path, std::size_t limit, bool noFollow,
                                       const std::string& resource, Clock::time_point until,
                                       Outcome* outcome) {
    std::optional<std::string> result;
    const Outcome o = call(resource, encode(kRead, noFollow ? kNoFollow : 0, limit, path, {}),
                           until, [&](int sock) {
                               std::string data;
                               std::int32_t status = 0;
                               if (!receiveItem(sock, limit, until, data, status)) return false;
                               if (status == 0) result = std::move(data);
                               return true;
                           });
    tell(outcome, o);
    return result;
}

std::optional<std::vector<std::optional<std::string>>> readInDirectory(
    const std::string& dir, const std::vector<std::string>& names, std::size_t limit,
    const std::string& resource, Clock::time_point until, Outcome* outcome) {
    std::optional<std::vector<std::optional<std::string>>> result;
    const Outcome o = call(resource, encode(kReadIn, 0, limit, dir, names), until, [&](int sock) {
        std::int32_t status = 0;
        if (!receive(sock, &status, sizeof status, until)) return false;
        if (status != 0) return true;
        std::vector<std::optional<std::string>> files(names.size());
        for (auto& f : files) {
            std::string data;
            std::int32_t st = 0;
            if (!receiveItem(sock, limit, until, data, st)) return false;
            if (st == 0) f = std::move(data);
        }
        result = std::move(files);
        return true;
    });
    tell(outcome, o);
    return result;
}

int helpersStarted() {
    std::lock_guard lock(pool().mutex);
    return pool().started;
}

int helpersHanging() {
    std::lock_guard lock(pool().mutex);
    reapLocked(pool());
    return static_cast<int>(pool().hanging.size() + pool().ending.size());
}

}  // namespace tavo::kernelhelper

#endif
