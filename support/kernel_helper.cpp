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
Files readInDirectory(const std::string&, const std::vector<std::string>&, std::size_t,
                      const std::string&, Clock::time_point, Outcome* outcome) {
    if (outcome) *outcome = Outcome::Broken;
    return std::nullopt;
}
void readInEachDirectory(const std::string&, const std::vector<std::string>& folders,
                         const std::vector<FolderItem>&, const std::string&,
                         std::chrono::milliseconds, Clock::time_point,
                         const std::function<void(std::size_t, FolderRead&)>& take) {
    for (std::size_t i = 0; i < folders.size(); ++i) {
        FolderRead missed;
        take(i, missed);
    }
}
int helpersStarted() {
    return 0;
}
int helpersHanging() {
    return 0;
}
std::vector<int> helperPids() {
    return {};
}
}  // namespace tavo::kernelhelper

#else

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "support/cancellation.h"

namespace tavo::kernelhelper {

namespace {

// ---- The helper's side. It runs in a child forked from a process with
// many threads, so it calls only async-signal-safe functions: no memory is
// allocated, the buffers are static (each child has its own copy).

enum Op : std::uint32_t { kStat = 1, kRead = 2, kReadIn = 3, kReadEachIn = 4 };
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
alignas(8) char gChunk[64 * 1024];

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

// What goes back is gathered in one buffer and sent once an answer (or the
// buffer) is full: one send per file, not one per field.
char gOut[256 * 1024];
std::size_t gOutUsed = 0;

void flush(int sock) {
    if (gOutUsed > 0 && !writeExact(sock, gOut, gOutUsed)) _exit(0);
    gOutUsed = 0;
}

void put(int sock, const void* from, std::size_t n) {
    if (gOutUsed + n > sizeof gOut) flush(sock);
    if (n > sizeof gOut) {
        if (!writeExact(sock, from, n)) _exit(0);
        return;
    }
    std::memcpy(gOut + gOutUsed, from, n);
    gOutUsed += n;
}

// One file's bytes go as chunks (length, bytes), then a zero length and the
// read's errno (0 when it went well).
void endItem(int sock, std::int32_t status) {
    const std::uint32_t zero = 0;
    put(sock, &zero, sizeof zero);
    put(sock, &status, sizeof status);
}

// With `oneRead` (a file the kernel makes up as it is read), a read that
// gives less than was asked for has given the rest of the file.
void streamFile(int sock, int fd, std::uint64_t limit, bool oneRead = false) {
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
        put(sock, &len, sizeof len);
        put(sock, gChunk, len);
        sent += len;
        if (oneRead && len < want) break;
    }
    endItem(sock, status);
}

void streamLink(int sock, int dir, const char* name) {
    const ssize_t n = ::readlinkat(dir, name, gChunk, sizeof gChunk);
    if (n < 0) return endItem(sock, errno);
    const auto len = static_cast<std::uint32_t>(n);
    put(sock, &len, sizeof len);
    put(sock, gChunk, len);
    endItem(sock, 0);
}

// How many entries not starting with a dot the subfolder holds, as text.
// In /proc, a folder listing that leaves the buffer short of full (with room
// for the longest entry) has listed everything: no read is spent on the end.
void streamCount(int sock, int dir, const char* name, bool onProc) {
    const int fd = ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return endItem(sock, errno);
    std::uint64_t count = 0;
    std::int32_t status = 0;
    for (;;) {
        const ssize_t n = ::getdents64(fd, gChunk, sizeof gChunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) status = errno;
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const dirent64*>(gChunk + at);
            count += e->d_name[0] != '.';
            at += e->d_reclen;
        }
        if (onProc && static_cast<std::size_t>(n) + 2 * sizeof(dirent64) < sizeof gChunk) break;
    }
    ::close(fd);
    if (status != 0) return endItem(sock, status);
    char text[24];
    std::uint32_t len = 0;
    do {
        text[sizeof text - 1 - len++] = static_cast<char>('0' + count % 10);
        count /= 10;
    } while (count > 0);
    put(sock, &len, sizeof len);
    put(sock, text + sizeof text - len, len);
    endItem(sock, 0);
}

// The directory's status, then each named file of it.
void readFilesIn(int sock, int at, const char* dirName, const char* names, std::uint32_t count,
                 std::uint64_t limit) {
    const int dir = ::openat(at, dirName, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::int32_t status = dir < 0 ? errno : 0;
    put(sock, &status, sizeof status);
    if (dir < 0) return;
    const char* name = names;
    for (std::uint32_t i = 0; i < count && name < gRequest + kMaxRequest; ++i) {
        const int fd = ::openat(dir, name, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            endItem(sock, errno);
        } else {
            streamFile(sock, fd, limit);
            ::close(fd);
        }
        name += std::strlen(name) + 1;
    }
    ::close(dir);
}

// An item of kReadEachIn as the request spells it: its kind ('f', 'k', 'l'
// or 'n'), 'h' when it may hang or '-', its limit in decimal, ':', its name.
struct EachItem {
    char kind = 'f';
    bool mayHang = false;
    std::uint64_t limit = 0;
    const char* name = "";
};
constexpr std::uint32_t kMaxItems = 32;
EachItem gItems[kMaxItems];

// Parses `count` items from `at`; false when they make no sense.
bool parseItems(const char* at, const char* end, std::uint32_t count) {
    if (count > kMaxItems) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (at + 3 > end) return false;
        EachItem& it = gItems[i];
        it.kind = at[0];
        it.mayHang = at[1] == 'h';
        it.limit = 0;
        at += 2;
        while (at < end && *at >= '0' && *at <= '9') it.limit = it.limit * 10 + (*at++ - '0');
        if (at >= end || *at != ':') return false;
        it.name = ++at;
        at += std::strlen(at) + 1;
    }
    return true;
}

// One folder of kReadEachIn: its status, then each item. What came before
// an item that may hang is sent before it starts; a folder without such an
// item is sent when it ends.
void readEachItemIn(int sock, int base, const char* dirName, std::uint32_t count, bool onProc) {
    const int dir = base < 0 ? -1 : ::openat(base, dirName, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::int32_t status = base < 0 ? ENOENT : dir < 0 ? errno : 0;
    put(sock, &status, sizeof status);
    bool sent = false;
    for (std::uint32_t i = 0; dir >= 0 && i < count; ++i) {
        const EachItem& it = gItems[i];
        if (it.mayHang) {
            flush(sock);
            sent = true;
        }
        if (it.kind == 'l') {
            streamLink(sock, dir, it.name);
        } else if (it.kind == 'n') {
            streamCount(sock, dir, it.name, onProc);
        } else {
            const int fd = ::openat(dir, it.name, O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                endItem(sock, errno);
            } else {
                streamFile(sock, fd, it.limit, it.kind == 'k');
                ::close(fd);
            }
        }
    }
    if (dir >= 0) ::close(dir);
    if (!sent) flush(sock);
}

[[noreturn]] void serve(int sock) {
    for (;;) {
        Request r;
        if (!readExact(sock, &r, sizeof r)) _exit(0);  // our program has gone
        if (r.bytes == 0 || r.bytes > kMaxRequest || !readExact(sock, gRequest, r.bytes) ||
            gRequest[r.bytes - 1] != '\0')
            _exit(1);
        const char* path = gRequest;
        const char* names = path + std::strlen(path) + 1;
        if (r.op == kStat) {
            struct statvfs s {};
            std::int32_t status = ::statvfs(path, &s) == 0 ? 0 : errno;
            const std::uint64_t numbers[4] = {s.f_frsize ? s.f_frsize : s.f_bsize, s.f_blocks,
                                              s.f_bavail, s.f_namemax};
            put(sock, &status, sizeof status);
            put(sock, numbers, sizeof numbers);
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
            readFilesIn(sock, AT_FDCWD, path, names, r.count, r.limit);
        } else if (r.op == kReadEachIn) {
            // `flags` subfolders of `path` come first, then the `count` items
            // read in each.
            const int base = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            const char* items = names;
            for (std::uint32_t i = 0; i < r.flags && items < gRequest + r.bytes; ++i)
                items += std::strlen(items) + 1;
            if (!parseItems(items, gRequest + r.bytes, r.count)) _exit(1);
            struct statfs fs {};
            const bool onProc =
                base >= 0 && ::fstatfs(base, &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
            const char* sub = names;
            for (std::uint32_t i = 0; i < r.flags; ++i) {
                readEachItemIn(sock, base, sub, r.count, onProc);
                sub += std::strlen(sub) + 1;
            }
            if (base >= 0) ::close(base);
        } else {
            _exit(1);
        }
        flush(sock);
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

// Reads the helper's answers through a buffer of its own, so a file's
// fields cost one recv between them, not one each.
class Reader {
  public:
    // With `gather`, a reader that finds nothing waiting sleeps that long
    // before it waits for the next bytes: a helper answering folder after
    // folder then wakes it once for many of them, not once for each.
    explicit Reader(int sock, std::chrono::microseconds gather = {})
        : sock_(sock), gather_(gather) {}

    // Exactly `n` bytes before `until`; false when they did not come in
    // time, the helper went away or this thread's pass was stopped.
    bool read(void* to, std::size_t n, Clock::time_point until) {
        auto* p = static_cast<char*>(to);
        while (n > 0) {
            if (used_ < filled_) {
                const std::size_t take = std::min(n, filled_ - used_);
                std::memcpy(p, buf_ + used_, take);
                used_ += take;
                p += take;
                n -= take;
                continue;
            }
            if (!fill(until)) return false;
        }
        return true;
    }

    // One file's chunks, at most `limit` bytes of them kept.
    bool item(std::size_t limit, Clock::time_point until, std::string& data, std::int32_t& status) {
        data.clear();
        for (;;) {
            std::uint32_t len = 0;
            if (!read(&len, sizeof len, until)) return false;
            if (len == 0) return read(&status, sizeof status, until);
            if (len > sizeof gChunk || data.size() + len > limit) return false;  // not our helper
            const std::size_t at = data.size();
            data.resize(at + len);
            if (!read(data.data() + at, len, until)) return false;
        }
    }

  private:
    bool fill(Clock::time_point until) {
        used_ = filled_ = 0;
        bool gathered = gather_.count() <= 0;
        for (;;) {
            const ssize_t got = ::recv(sock_, buf_, sizeof buf_, MSG_DONTWAIT);
            if (got > 0) {
                filled_ = static_cast<std::size_t>(got);
                return true;
            }
            if (got == 0) return false;
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
            const auto now = Clock::now();
            if (now >= until || stop_.stop_requested()) return false;
            if (!std::exchange(gathered, true)) {
                std::this_thread::sleep_for(std::min<Clock::duration>(gather_, until - now));
                continue;
            }
            // Short slices, so a STOP is seen within one of them.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
            const int slice = static_cast<int>(std::min<std::int64_t>(left.count() + 1, 50));
            pollfd pfd{sock_, POLLIN, 0};
            ::poll(&pfd, 1, slice);
        }
    }

    int sock_;
    std::chrono::microseconds gather_;
    std::stop_token stop_ = cycle::currentStopToken();
    char buf_[64 * 1024];
    std::size_t used_ = 0, filled_ = 0;
};

std::string encode(Op op, std::uint32_t flags, std::uint64_t limit, const std::string& path,
                   const std::vector<std::string>& names, std::uint32_t count) {
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
    r.count = count;
    std::string out(reinterpret_cast<const char*>(&r), sizeof r);
    return out + body;
}

std::string encode(Op op, std::uint32_t flags, std::uint64_t limit, const std::string& path,
                   const std::vector<std::string>& names) {
    return encode(op, flags, limit, path, names, static_cast<std::uint32_t>(names.size()));
}

bool busyLocked(Pool& p, const std::string& resource) {
    return !resource.empty() && (p.hanging.count(resource) || p.inFlight.count(resource));
}

// An idle helper, or a fresh one; nothing when none can be started.
std::optional<Helper> acquireLocked(Pool& p, bool& fresh) {
    fresh = false;
    if (!p.idle.empty()) {
        Helper h = p.idle.back();
        p.idle.pop_back();
        return h;
    }
    fresh = true;
    return spawnLocked(p);
}

void releaseLocked(Pool& p, Helper h) {
    if (p.idle.size() < kMaxIdle) {
        p.idle.push_back(h);
    } else {
        ::close(h.sock);  // it reads the end of its socket and leaves
        p.ending.push_back(h.pid);
    }
}

// Kills a helper that did not answer; while it has not ended, `resource`
// (when named) stays busy. Returns whether it had already ended.
bool abandonLocked(Pool& p, Helper h, const std::string& resource) {
    ::kill(h.pid, SIGKILL);
    ::close(h.sock);
    if (ended(h.pid)) return true;
    if (!resource.empty())
        p.hanging[resource] = h.pid;
    else
        p.ending.push_back(h.pid);
    return false;
}

// Sends `request` to a helper and lets `answer` read the reply. `answer`
// returns false when the reply did not come in time (or made no sense);
// the helper is then abandoned.
template <class Answer>
Outcome call(const std::string& resource, const std::string& request, Answer&& answer) {
    if (request.size() > kMaxRequest + sizeof(Request)) return Outcome::Broken;
    Pool& p = pool();
    for (int attempt = 0; attempt < 2; ++attempt) {
        Helper h;
        bool fresh = false;
        {
            std::lock_guard lock(p.mutex);
            reapLocked(p);
            if (busyLocked(p, resource)) return Outcome::Busy;
            auto got = acquireLocked(p, fresh);
            if (!got) return Outcome::Broken;
            h = *got;
            if (!resource.empty()) p.inFlight.insert(resource);
        }
        const bool sent = writeExact(h.sock, request.data(), request.size());
        Reader in(h.sock);
        const bool answered = sent && answer(in);
        std::lock_guard lock(p.mutex);
        if (!resource.empty()) p.inFlight.erase(resource);
        if (answered) {
            releaseLocked(p, h);
            return Outcome::Answered;
        }
        abandonLocked(p, h, resource);
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
    const Outcome o = call(resource, encode(kStat, 0, 0, path, {}), [&](Reader& in) {
        std::int32_t status = 0;
        std::uint64_t n[4];
        if (!in.read(&status, sizeof status, until) || !in.read(n, sizeof n, until)) return false;
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
    const Outcome o =
        call(resource, encode(kRead, noFollow ? kNoFollow : 0, limit, path, {}), [&](Reader& in) {
            std::string data;
            std::int32_t status = 0;
            if (!in.item(limit, until, data, status)) return false;
            if (status == 0) result = std::move(data);
            return true;
        });
    tell(outcome, o);
    return result;
}

namespace {

// One folder's answer: its status, then each file. False when it did not
// come in time; `files` is nothing when the folder could not be opened.
bool readFolderAnswer(Reader& in, std::size_t count, std::size_t limit, Clock::time_point until,
                      Files& files) {
    std::int32_t status = 0;
    if (!in.read(&status, sizeof status, until)) return false;
    files.reset();
    if (status != 0) return true;
    std::vector<std::optional<std::string> > read(count);
    for (auto& f : read) {
        std::string data;
        std::int32_t st = 0;
        if (!in.item(limit, until, data, st)) return false;
        if (st == 0) f = std::move(data);
    }
    files = std::move(read);
    return true;
}

}  // namespace

Files readInDirectory(const std::string& dir, const std::vector<std::string>& names,
                      std::size_t limit, const std::string& resource, Clock::time_point until,
                      Outcome* outcome) {
    Files result;
    const Outcome o = call(resource, encode(kReadIn, 0, limit, dir, names), [&](Reader& in) {
        return readFolderAnswer(in, names.size(), limit, until, result);
    });
    tell(outcome, o);
    return result;
}

namespace {

std::string encodeItem(const FolderItem& item) {
    return std::string(1, static_cast<char>(item.kind)) + (item.mayHang ? "h" : "-") +
           std::to_string(item.isFile() ? item.limit : 0) + ":" + item.name;
}

// One folder's answer to kReadEachIn into `read`. False when it did not come
// in time; `read` then holds the items that did.
bool readEachAnswer(Reader& in, const std::vector<FolderItem>& items, Clock::time_point until,
                    FolderRead& read) {
    read = FolderRead{};
    std::int32_t status = 0;
    if (!in.read(&status, sizeof status, until)) return false;
    if (status != 0) {
        read.state = FolderRead::State::Gone;
        return true;
    }
    read.items.reserve(items.size());
    std::string data;
    for (const FolderItem& item : items) {
        const std::size_t limit = item.isFile() ? item.limit : sizeof gChunk;
        std::int32_t st = 0;
        if (!in.item(limit, until, data, st)) return false;
        read.items.emplace_back();
        if (st == 0) read.items.back() = std::move(data);
    }
    read.state = FolderRead::State::Read;
    return true;
}

}  // namespace

void readInEachDirectory(const std::string& base, const std::vector<std::string>& folders,
                         const std::vector<FolderItem>& items, const std::string& resourcePrefix,
                         std::chrono::milliseconds each, Clock::time_point until,
                         const std::function<void(std::size_t, FolderRead&)>& take) {
    Pool& p = pool();
    std::vector<std::string> itemText;
    std::size_t fixedBytes = base.size() + 1;
    for (const FolderItem& item : items) {
        itemText.push_back(encodeItem(item));
        fixedBytes += itemText.back().size() + 1;
    }
    // A batch at most this long, so a request stays within what a helper reads.
    constexpr std::size_t kBatch = 1024;
    FolderRead read;
    std::size_t next = 0;
    while (next < folders.size()) {
        if (Clock::now() >= until || cycle::currentStopToken().stop_requested()) break;
        std::vector<std::size_t> batch;  // indexes into `folders`, busy ones too
        std::vector<bool> busy;
        std::vector<std::string> request;
        Helper h;
        bool got = false;
        {
            std::lock_guard lock(p.mutex);
            reapLocked(p);
            std::size_t bytes = fixedBytes;
            for (; next < folders.size() && batch.size() < kBatch; ++next) {
                // A folder whose earlier read still hangs is passed by.
                const bool passed = busyLocked(p, resourcePrefix + folders[next]);
                if (!passed && bytes + folders[next].size() + 1 > kMaxRequest) break;
                batch.push_back(next);
                busy.push_back(passed);
                if (passed) continue;
                bytes += folders[next].size() + 1;
                request.push_back(folders[next]);
            }
            if (!request.empty()) {
                bool fresh = false;
                if (auto helper = acquireLocked(p, fresh)) {
                    h = *helper;
                    got = true;
                }
            }
        }
        if (!request.empty() && !got) {
            next = batch.front();  // no helper: the rest are missed below
            break;
        }
        bool ok = true;
        std::size_t k = 0;
        if (got) {
            const auto folderCount = static_cast<std::uint32_t>(request.size());
            request.insert(request.end(), itemText.begin(), itemText.end());
            const std::string message = encode(kReadEachIn, folderCount, 0, base, request,
                                               static_cast<std::uint32_t>(items.size()));
            ok = writeExact(h.sock, message.data(), message.size());
        }
        Reader in(got ? h.sock : -1, std::chrono::milliseconds(1));
        auto itemUntil = std::min(until, Clock::now() + each);
        // A caller's `take` that throws leaves the helper behind, killed.
        struct Leave {
            Pool& p;
            Helper& h;
            bool armed;
            ~Leave() {
                if (!armed) return;
                std::lock_guard lock(p.mutex);
                abandonLocked(p, h, "");
            }
        } leave{p, h, got};
        for (; k < batch.size(); ++k) {
            if (busy[k]) {
                read = FolderRead{};
                take(batch[k], read);
                continue;
            }
            // Each folder has its own time from when the one before it ended.
            if (ok)
                ok = readEachAnswer(in, items, itemUntil, read);
            else
                read = FolderRead{};
            if (!ok) break;
            take(batch[k], read);
            itemUntil = std::min(until, Clock::now() + each);
        }
        leave.armed = false;
        if (!got) continue;
        std::unique_lock lock(p.mutex);
        if (ok) {
            releaseLocked(p, h);
            continue;
        }
        // The folder it hung in stays busy while that helper lives; the next
        // batch starts after it on a fresh helper.
        const std::size_t stuck = std::min(k, batch.size() - 1);
        abandonLocked(p, h, resourcePrefix + folders[batch[stuck]]);
        lock.unlock();
        if (k < batch.size()) {
            read.state = FolderRead::State::Missed;  // keeps what did come
            take(batch[k], read);
        }
        next = batch[stuck] + 1;
    }
    // What the time or a STOP left unread.
    for (; next < folders.size(); ++next) {
        read = FolderRead{};
        take(next, read);
    }
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

std::vector<int> helperPids() {
    Pool& p = pool();
    std::lock_guard lock(p.mutex);
    reapLocked(p);
    std::vector<int> out;
    for (const Helper& h : p.idle) out.push_back(h.pid);
    for (const auto& [resource, pid] : p.hanging) out.push_back(pid);
    out.insert(out.end(), p.ending.begin(), p.ending.end());
    return out;
}

}  // namespace tavo::kernelhelper

#endif
