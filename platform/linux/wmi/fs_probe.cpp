#include "platform/linux/wmi/fs_probe.h"

#include <sys/statvfs.h>

#include <cstdint>

#include "cycle/deadline.h"

namespace tavo::linuxwmi {

namespace {
class StatvfsProbe : public FsProbe {
  public:
    std::optional<FsStats> stat(const std::string& mountPoint) override {
        struct statvfs s {};
        if (::statvfs(mountPoint.c_str(), &s) != 0) return std::nullopt;
        FsStats out;
        out.fragmentSize = s.f_frsize ? s.f_frsize : s.f_bsize;
        out.blocks = s.f_blocks;
        out.blocksAvailable = s.f_bavail;
        out.maxNameLength = s.f_namemax;
        return out;
    }
};
}  // namespace

std::shared_ptr<FsProbe> makeStatvfsProbe() {
    // One for the whole program, so a mount still stuck from an earlier
    // provider's pass is remembered however often contexts are made.
    static const std::shared_ptr<FsProbe> probe = std::make_shared<StatvfsProbe>();
    return probe;
}

std::vector<std::optional<FsStats>> statAll(const std::shared_ptr<FsProbe>& probe,
                                            const std::vector<std::string>& mountPoints,
                                            std::chrono::milliseconds deadline, LostValues* lost) {
    std::vector<std::optional<FsStats>> out(mountPoints.size());
    if (!probe) return out;
    const auto until = std::chrono::steady_clock::now() + deadline;
    std::vector<Pending<std::optional<FsStats>>> pending(mountPoints.size());
    // One mount of one probe is one resource: a mount still stuck from an
    // earlier pass is passed by, another thread would only hang beside it.
    const std::string prefix =
        "statvfs " + std::to_string(reinterpret_cast<std::uintptr_t>(probe.get())) + " ";
    for (std::size_t i = 0; i < mountPoints.size(); ++i) {
        pending[i] = startOnWorker(prefix + mountPoints[i], [probe, mp = mountPoints[i]] {
            std::optional<FsStats> s;
            try {
                s = probe->stat(mp);
            } catch (...) {
            }
            return s;
        });
    }
    for (std::size_t i = 0; i < mountPoints.size(); ++i) {
        if (auto r = pending[i].waitUntil(until))
            out[i] = std::move(*r);
        else if (lost)
            lost->add(LostValues::Why::TimedOut, "the size of " + mountPoints[i]);
    }
    return out;
}

}  // namespace tavo::linuxwmi
