// What the helper process costs a normal pass: Logical Drives (statvfs of
// every mount) and Processes (every process's folder, command line and all)
// walked on this machine with the calls that can hang in the kernel sent to
// the helper process, side by side with the same walks doing those calls in
// this process (statvfs on threads, as the program did before; /proc read
// in line, as another computer's snapshot is). Medians of 21 walks, alternated.
// Budget: with the helper, each walk takes no more than 1.10 times as long.

#include <sys/statvfs.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "collectors/management.h"
#include "platform/linux/wmi/fs_probe.h"
#include "platform/linux/wmi/provider.h"
#include "platform/linux/wmi/system_context.h"
#include "platform/linux/wmi/system_view.h"
#include "support/kernel_helper.h"

namespace {

using Clock = std::chrono::steady_clock;

// statvfs on this process's own threads (probed on workers by statAll).
class ThreadProbe : public tavo::linuxwmi::FsProbe {
  public:
    std::optional<tavo::linuxwmi::FsStats> stat(const std::string& mountPoint) override {
        struct statvfs s {};
        if (::statvfs(mountPoint.c_str(), &s) != 0) return std::nullopt;
        return tavo::linuxwmi::FsStats{s.f_frsize ? s.f_frsize : s.f_bsize, s.f_blocks, s.f_bavail,
                                       s.f_namemax};
    }
};

double walk(tavo::wmi::Backend& provider, const char* query, std::size_t& values) {
    const auto t0 = Clock::now();
    values = 0;
    auto rs = provider.connect(".")->execQuery(query);
    while (auto obj = rs->next())
        for (const auto& name : obj->propertyNames()) {
            tavo::wmi::Value v = obj->get(name);
            values += v.isNull() ? 0 : 1;
        }
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool compare(const char* what, const char* query, tavo::wmi::Backend& helper,
             tavo::wmi::Backend& threads) {
    std::vector<double> a, b;
    std::size_t va = 0, vb = 0;
    walk(helper, query, va);  // the helper is forked on first use
    walk(threads, query, vb);
    for (int i = 0; i < 21; ++i) {
        a.push_back(walk(helper, query, va));
        b.push_back(walk(threads, query, vb));
    }
    const double ma = median(a), mb = median(b);
    const bool ok = ma <= mb * 1.10 + 0.5;  // half a millisecond of timer noise
    std::printf(
        "%-15s helper process %8.2f ms (%zu values)  threads %8.2f ms (%zu values)  "
        "ratio %.3f  %s\n",
        what, ma, va, mb, vb, ma / mb, ok ? "within budget" : "OVER BUDGET");
    return ok;
}

}  // namespace

int main() {
    using tavo::linuxwmi::SystemContext;
    auto helper = tavo::linuxwmi::makeProvider(SystemContext::forThisMachine());
    SystemContext old = SystemContext::forThisMachine();
    old.fs = std::make_shared<ThreadProbe>();
    // A view given explicitly is read in this process, as another computer's is.
    old.view = tavo::linuxwmi::makeLocalView("/");
    auto threads = tavo::linuxwmi::makeProvider(old);

    bool ok = compare("Logical Drives", "SELECT * FROM Win32_LogicalDisk", *helper, *threads);
    ok = compare("Processes", "SELECT * FROM Win32_Process", *helper, *threads) && ok;
    std::printf("helper processes started: %d\n", tavo::kernelhelper::helpersStarted());
    return ok ? 0 : 1;
}
