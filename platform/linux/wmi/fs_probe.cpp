#include "platform/linux/wmi/fs_probe.h"

#include <algorithm>
#include <cstdint>

#include "support/cancellation.h"
#include "support/deadline.h"
#include "support/kernel_helper.h"

namespace tavo::linuxwmi {

namespace {
FsStats fromNumbers(const kernelhelper::FsNumbers& n) {
    return FsStats{n.fragmentSize, n.blocks, n.blocksAvailable, n.maxNameLength};
}

// statvfs of a stuck mount waits in the kernel for good, so it runs in the
// helper process; a mount still hung from an earlier probe is passed by.
class StatvfsProbe : public FsProbe {
  public:
    std::optional<FsStats> stat(const std::string& mountPoint) override {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        if (auto n = kernelhelper::statFs(mountPoint, "statvfs " + mountPoint, until))
            return fromNumbers(*n);
        return std::nullopt;
    }

    std::optional<std::vector<std::optional<FsStats>>> statEach(
        const std::vector<std::string>& mountPoints, std::chrono::steady_clock::time_point until,
        LostValues* lost) override {
        // One after another: an answering mount takes microseconds, and a
        // hung one may cost only a part of the time, so the mounts after it
        // are still probed.
        const auto total = until - std::chrono::steady_clock::now();
        const auto each = std::max<std::chrono::steady_clock::duration>(
            total / 4, std::chrono::milliseconds(100));
        std::vector<std::optional<FsStats>> out(mountPoints.size());
        for (std::size_t i = 0; i < mountPoints.size(); ++i) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= until || cycle::currentStopToken().stop_requested()) break;
            kernelhelper::Outcome outcome = kernelhelper::Outcome::Answered;
            if (auto n = kernelhelper::statFs(mountPoints[i], "statvfs " + mountPoints[i],
                                              std::min(until, now + each), &outcome))
                out[i] = fromNumbers(*n);
            else if (lost && (outcome == kernelhelper::Outcome::Missed ||
                              outcome == kernelhelper::Outcome::Busy))
                lost->add(LostValues::Why::TimedOut, "the size of " + mountPoints[i]);
        }
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
    if (auto each = probe->statEach(mountPoints, until, lost)) return std::move(*each);
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
