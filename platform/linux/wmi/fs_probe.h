#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/wmi/lost_values.h"

namespace tavo::linuxwmi {

// What statvfs says of one mounted filesystem.
struct FsStats {
    std::uint64_t fragmentSize = 0;     // f_frsize: the unit of the counts below
    std::uint64_t blocks = 0;           // f_blocks
    std::uint64_t blocksAvailable = 0;  // f_bavail: free to an ordinary user, as df shows
    std::uint64_t maxNameLength = 0;    // f_namemax
};

// statvfs behind an interface, so tests can stand in a hung or a known
// filesystem. stat() may block for as long as the filesystem does: callers
// go through statAll(), never call it on the pass's own thread.
class FsProbe {
  public:
    virtual ~FsProbe() = default;
    virtual std::optional<FsStats> stat(const std::string& mountPoint) = 0;
    // A probe whose calls bound their own time (the real one: each runs in
    // the helper process) answers every mount on the caller's thread, no
    // later than `until`. Others say nothing here and are probed on workers.
    // Mounts that did not answer in time are counted in `lost` where given.
    virtual std::optional<std::vector<std::optional<FsStats>>> statEach(
        const std::vector<std::string>& mountPoints, std::chrono::steady_clock::time_point until,
        LostValues* lost) {
        (void)mountPoints;
        (void)until;
        (void)lost;
        return std::nullopt;
    }
};

// The real one: statvfs(2).
std::shared_ptr<FsProbe> makeStatvfsProbe();

// Probes every mount point at once on worker threads and waits no longer
// than `deadline` for all of them together, or until the pass is stopped. A
// mount that misses it, or whose earlier probe through the same probe still
// hangs (it is not probed again until that returns), gets nothing. Without a
// probe every entry is nothing. Mounts that did not answer in time are
// counted in `lost` where one is given.
std::vector<std::optional<FsStats>> statAll(const std::shared_ptr<FsProbe>& probe,
                                            const std::vector<std::string>& mountPoints,
                                            std::chrono::milliseconds deadline,
                                            LostValues* lost = nullptr);

}  // namespace tavo::linuxwmi
