#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <utility>

#include "platform/linux/wmi/instance.h"
#include "platform/linux/wmi/system_view.h"

namespace tavo::linuxwmi {

namespace {

namespace fs = std::filesystem;

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_;
};

// Reads a regular file without ever waiting on whoever is at its other end:
// O_NONBLOCK keeps the open of a FIFO or a device from blocking, and fstat
// refuses anything that is not a plain file before the first read.
std::optional<std::string> readRegular(int dirfd, const char* file, std::size_t limit,
                                       int extraFlags) {
    Fd fd(::openat(dirfd, file, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | extraFlags));
    if (!fd) return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::string data;
    // /proc and /sys report a size of zero or one page whatever they hold,
    // so the size only sets the first guess.
    data.resize(std::min<std::size_t>(limit, st.st_size > 0 ? std::size_t(st.st_size) + 1 : 4096));
    std::size_t used = 0;
    while (used < limit) {
        if (used == data.size()) data.resize(std::min(limit, data.size() * 2));
        const ssize_t n = ::read(fd.get(), data.data() + used, data.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    data.resize(used);
    return data;
}

FileType typeOf(mode_t mode) {
    if (S_ISREG(mode)) return FileType::Regular;
    if (S_ISDIR(mode)) return FileType::Directory;
    if (S_ISLNK(mode)) return FileType::Symlink;
    return FileType::Other;
}

// A directory of /proc held open: reads go through openat, so they stay in
// the process the directory was opened for.
class LocalDir : public DirHandle {
  public:
    explicit LocalDir(int fd) : fd_(fd) {}

    bool read(const char* name, std::string& buf, std::size_t limit) override {
        Fd fd(::openat(fd_.get(), name, O_RDONLY | O_CLOEXEC));
        if (!fd) return false;
        buf.resize(std::min<std::size_t>(4096, limit));
        std::size_t used = 0;
        for (;;) {
            if (used == buf.size()) {
                if (buf.size() >= limit) break;
                buf.resize(std::min(buf.size() * 2, limit));
            }
            const ssize_t n = ::read(fd.get(), buf.data() + used, buf.size() - used);
            if (n < 0) return false;
            if (n == 0) break;
            used += static_cast<std::size_t>(n);
        }
        buf.resize(used);
        return true;
    }

    std::optional<std::string> readLink(const char* name) override {
        char link[4096];
        const ssize_t n = ::readlinkat(fd_.get(), name, link, sizeof link - 1);
        if (n <= 0) return std::nullopt;
        return std::string(link, static_cast<std::size_t>(n));
    }

    std::optional<std::size_t> countEntries(const char* name) override {
        Fd sub(::openat(fd_.get(), name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!sub) return std::nullopt;
        DIR* d = ::fdopendir(sub.get());
        if (!d) return std::nullopt;
        sub.release();  // the DIR owns it now
        std::size_t count = 0;
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] != '.') ++count;
        }
        ::closedir(d);
        return count;
    }

  private:
    Fd fd_;
};

class LocalView : public SystemView {
  public:
    explicit LocalView(std::string root) : root_(std::move(root)), running_(root_ == "/") {
        while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
    }

    std::optional<std::string> readFile(std::string_view path, std::size_t limit) const override {
        return readRegular(AT_FDCWD, under(path).c_str(), limit, 0);
    }
    std::optional<std::string> readUserFile(std::string_view path,
                                            std::size_t limit) const override {
        return readRegular(AT_FDCWD, under(path).c_str(), limit, O_NOFOLLOW);
    }

    std::optional<std::vector<DirEntry>> list(std::string_view dir) const override {
        const std::string p = under(dir);
        DIR* d = ::opendir(p.c_str());
        if (!d) return std::nullopt;
        std::vector<DirEntry> out;
        while (const dirent* e = ::readdir(d)) {
            const std::string_view name = e->d_name;
            if (name == "." || name == "..") continue;
            FileType t = FileType::Other;
            switch (e->d_type) {
                case DT_REG:
                    t = FileType::Regular;
                    break;
                case DT_DIR:
                    t = FileType::Directory;
                    break;
                case DT_LNK:
                    t = FileType::Symlink;
                    break;
                case DT_UNKNOWN: {
                    struct stat st {};
                    if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                        t = typeOf(st.st_mode);
                    break;
                }
                default:
                    break;
            }
            out.push_back({std::string(name), t});
        }
        ::closedir(d);
        std::sort(out.begin(), out.end(),
                  [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
        return out;
    }

    std::optional<std::string> readLink(std::string_view path) const override {
        std::error_code ec;
        auto target = fs::read_symlink(under(path), ec);
        if (ec) return std::nullopt;
        return target.string();
    }

    FileType type(std::string_view path, bool followLinks) const override {
        struct stat st {};
        const std::string p = under(path);
        const int rc = followLinks ? ::stat(p.c_str(), &st) : ::lstat(p.c_str(), &st);
        if (rc == 0) return typeOf(st.st_mode);
        return errno == ENOENT || errno == ENOTDIR ? FileType::None : FileType::Unknown;
    }

    std::optional<std::string> canonical(std::string_view path) const override {
        std::error_code ec;
        std::string real = fs::canonical(under(path), ec).string();
        if (ec) return std::nullopt;
        if (running_) return real;
        // Back into the tree's own namespace; a link that leads out of the
        // tree has no name there.
        if (real.compare(0, root_.size(), root_) != 0) return std::nullopt;
        real.erase(0, root_.size());
        if (real.empty()) real = "/";
        return real[0] == '/' ? std::optional<std::string>(real) : std::nullopt;
    }

    std::optional<Timestamp> modifiedTime(std::string_view path) const override {
        struct stat st {};
        if (::stat(under(path).c_str(), &st) != 0) return std::nullopt;
        return Timestamp{static_cast<std::int64_t>(st.st_mtim.tv_sec),
                         static_cast<long>(st.st_mtim.tv_nsec / 1000)};
    }

    std::optional<Timestamp> birthTime(std::string_view path) const override {
        struct statx sx {};
        if (statx(AT_FDCWD, under(path).c_str(), 0, STATX_BTIME, &sx) != 0) return std::nullopt;
        if (!(sx.stx_mask & STATX_BTIME) || sx.stx_btime.tv_sec <= 0) return std::nullopt;
        return Timestamp{static_cast<std::int64_t>(sx.stx_btime.tv_sec),
                         static_cast<long>(sx.stx_btime.tv_nsec / 1000)};
    }

    std::unique_ptr<DirHandle> openDirectory(std::string_view dir) const override {
        const int fd = ::open(under(dir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return nullptr;
        return std::make_unique<LocalDir>(fd);
    }

    std::int64_t now() const override { return static_cast<std::int64_t>(std::time(nullptr)); }
    int utcOffsetMinutes() const override {
        const std::time_t t = std::time(nullptr);
        std::tm tm{};
        localtime_r(&t, &tm);
        return static_cast<int>(tm.tm_gmtoff / 60);
    }
    bool daylightSaving() const override {
        const std::time_t t = std::time(nullptr);
        std::tm tm{};
        localtime_r(&t, &tm);
        return tm.tm_isdst > 0;
    }
    std::string dmtfLocal(std::int64_t seconds, long microseconds) const override {
        return dmtfDateTime(static_cast<std::time_t>(seconds), microseconds);
    }
    long clockTicks() const override { return std::max(1L, ::sysconf(_SC_CLK_TCK)); }
    long pageSize() const override { return std::max(1L, ::sysconf(_SC_PAGESIZE)); }
    std::optional<std::string> machine() const override {
        // A fixture tree is not this machine: only its files speak for it.
        if (!running_) return std::nullopt;
        struct utsname u {};
        if (uname(&u) != 0) return std::nullopt;
        return std::string(u.machine);
    }
    std::optional<std::string> hostName() const override {
        char buf[256] = {};
        if (gethostname(buf, sizeof buf - 1) != 0) return std::nullopt;
        return std::string(buf);
    }
    bool isRunningMachine() const override { return running_; }

  private:
    std::string under(std::string_view absolute) const {
        while (!absolute.empty() && absolute.front() == '/') absolute.remove_prefix(1);
        if (running_) return "/" + std::string(absolute);
        return root_ + "/" + std::string(absolute);
    }

    std::string root_;
    bool running_;
};

}  // namespace

std::shared_ptr<const SystemView> makeLocalView(std::string root) {
    return std::make_shared<LocalView>(std::move(root));
}

}  // namespace tavo::linuxwmi
