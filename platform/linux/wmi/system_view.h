#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavo::linuxwmi {

// What a path names, as lstat (or stat, when links are followed) tells:
// None when it surely does not exist, Unknown when it could not be looked at
// (a folder on the way that may not be searched).
enum class FileType { None, Regular, Directory, Symlink, Other, Unknown };

// A moment on the viewed computer's clock.
struct Timestamp {
    std::int64_t seconds = 0;
    long microseconds = 0;
};

struct DirEntry {
    std::string name;
    FileType type = FileType::Other;  // of the entry itself: a link is Symlink
};

// One directory held open for reads relative to it; /proc/<pid> is read
// this way, so a PID reused meanwhile cannot mix two processes in one row.
class DirHandle {
  public:
    virtual ~DirHandle() = default;
    // The file `name` in this directory, at most `limit` bytes, into `buf`;
    // false when it cannot be read.
    virtual bool read(const char* name, std::string& buf, std::size_t limit) = 0;
    virtual std::optional<std::string> readLink(const char* name) = 0;
    // Entries of the subdirectory `name` not starting with a dot, or nothing
    // when it cannot be listed.
    virtual std::optional<std::size_t> countEntries(const char* name) = 0;
};

// Everything the classes know of the computer they describe: its files and
// the few facts that are not files. Paths are absolute in that computer's
// own namespace ("/proc/meminfo"). This machine answers through its own
// calls; another computer through a snapshot its shell sent back.
class SystemView {
  public:
    virtual ~SystemView() = default;

    // Whole regular file (at most `limit` bytes), or nothing when it cannot
    // be read or is not a regular file; a FIFO or device is refused without
    // waiting on it.
    virtual std::optional<std::string> readFile(std::string_view path, std::size_t limit) const = 0;
    // The same for a file another user controls: a symbolic link is refused
    // too, so no one can point this program at a file only it may read.
    virtual std::optional<std::string> readUserFile(std::string_view path,
                                                    std::size_t limit) const = 0;
    // Entries sorted by name without "." and "..", or nothing when the
    // directory cannot be listed.
    virtual std::optional<std::vector<DirEntry>> list(std::string_view dir) const = 0;
    virtual std::optional<std::string> readLink(std::string_view path) const = 0;
    virtual FileType type(std::string_view path, bool followLinks) const = 0;
    // The path with every link resolved, in the same namespace.
    virtual std::optional<std::string> canonical(std::string_view path) const = 0;
    virtual std::optional<Timestamp> modifiedTime(std::string_view path) const = 0;
    virtual std::optional<Timestamp> birthTime(std::string_view path) const = 0;
    virtual std::unique_ptr<DirHandle> openDirectory(std::string_view dir) const = 0;

    // Seconds since the epoch on that computer's clock.
    virtual std::int64_t now() const = 0;
    // Its local time's offset from UTC in minutes, and whether daylight
    // saving time is in effect, now.
    virtual int utcOffsetMinutes() const = 0;
    virtual bool daylightSaving() const = 0;
    // A moment as a DMTF datetime in that computer's local time.
    virtual std::string dmtfLocal(std::int64_t seconds, long microseconds) const = 0;
    virtual long clockTicks() const = 0;
    virtual long pageSize() const = 0;
    // uname's machine ("x86_64") and node name, when known.
    virtual std::optional<std::string> machine() const = 0;
    virtual std::optional<std::string> hostName() const = 0;
    // True only for the running machine seen whole (not a fixture tree, not
    // another computer): the sources that are neither files nor probes, such
    // as the kernel's routing socket, are asked only then.
    virtual bool isRunningMachine() const = 0;
    // The main IPv4 route table as `ip -4 route show table main` prints it,
    // which says who added each route; for a computer whose kernel this
    // program cannot ask itself. Nothing when unknown.
    virtual std::optional<std::string> routeListing() const { return std::nullopt; }
};

// This machine's files under `root` ("/" normally, a fixture tree in tests)
// and its own clock and kernel.
std::shared_ptr<const SystemView> makeLocalView(std::string root = "/");

}  // namespace tavo::linuxwmi
