#pragma once

// What the benchmarks that time a provider's pass share: one whole pass of a
// class, every property of every instance read as a collector would.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "collectors/management.h"
#include "platform/linux/wmi/remote_provider.h"
#include "process_bench_support.h"
#include "support/kernel_helper.h"
#include "walk.h"

namespace tavo::bench {

// The pass in milliseconds.
inline double timedWalk(wmi::Backend& backend, const std::string& cls) {
    const auto t0 = std::chrono::steady_clock::now();
    walk(backend, cls);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// CPU of this program, the children it has reaped (a local shell's whole
// run) and the helper processes alive now, in milliseconds.
inline double cpuWithHelpers() {
    double ms = ownCpuMs();
    for (int pid : kernelhelper::helperPids()) ms += liveCpuMs(pid);
    return ms;
}

// One class's pass here and through `remote`, a fresh remote provider whose
// first pass learns what the class reads (timed too), then seven of each
// interleaved so both see the same load. `remoteCpu` gives the CPU time the
// remote side has used so far where this program cannot count it (the
// processes of an SSH session), or 0. Prints the figures after `label`, in
// CPU time and in wall time each on a line of its own, and says whether the
// remote pass kept within 3 times the local one in both (its first pass
// within that and a second).
inline bool compareWithLocal(
    wmi::Backend& local, wmi::Backend& remote, const std::string& cls, const std::string& label,
    const std::function<double()>& remoteCpu = [] { return 0.0; }) {
    const double firstMs = timedWalk(remote, cls);
    const int firstTrips = linuxwmi::lastRoundTrips(remote).value_or(-1);
    std::vector<double> l, r, lc, rc;
    int trips = -1;
    for (int i = 0; i < 7; ++i) {
        double c0 = cpuWithHelpers();
        l.push_back(timedWalk(local, cls));
        lc.push_back(cpuWithHelpers() - c0);
        // The remote side's probe reads every process's stat here: it runs
        // before the start and after the end, so its own cost is no part of
        // the pass.
        c0 = remoteCpu();
        c0 += cpuWithHelpers();
        r.push_back(timedWalk(remote, cls));
        const double own = cpuWithHelpers();
        rc.push_back(own + remoteCpu() - c0);
        trips = linuxwmi::lastRoundTrips(remote).value_or(-1);
    }
    const double lm = median(l), rm = median(r), lcm = median(lc), rcm = median(rc);
    const bool cpuMet = rcm <= 3.0 * lcm;
    const bool wallMet = rm <= 3.0 * lm && firstMs <= 3.0 * lm + 1000.0;
    std::printf(
        "%s%-14s remote pass %7.1f ms CPU; peer the local pass %7.1f ms CPU; %.2fx, budget 3x: "
        "%s\n",
        label.c_str(), cls.c_str(), rcm, lcm, rcm / lcm, cpuMet ? "met" : "missed");
    std::printf(
        "%s%-14s remote pass %7.1f ms wall (first pass %.1f ms, %d round trips; later passes %d); "
        "peer the local pass %7.1f ms wall; %.2fx, budget 3x: %s\n",
        label.c_str(), cls.c_str(), rm, firstMs, firstTrips, trips, lm, rm / lm,
        wallMet ? "met" : "missed");
    std::fflush(stdout);
    return cpuMet && wallMet;
}

}  // namespace tavo::bench
