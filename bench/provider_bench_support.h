#pragma once

// What the benchmarks that time a provider's pass share: one whole pass of a
// class, every property of every instance read as a collector would.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "collectors/management.h"
#include "platform/linux/wmi/remote_provider.h"
#include "process_bench_support.h"

namespace tavo::bench {

inline std::size_t walk(wmi::Backend& backend, const std::string& cls) {
    std::size_t values = 0;
    auto rs = backend.connect(".")->execQuery("SELECT * FROM " + cls);
    while (auto obj = rs->next()) {
        for (const auto& name : obj->propertyNames()) {
            wmi::Value v = obj->get(name);
            benchmark::DoNotOptimize(v);
            ++values;
        }
    }
    return values;
}

// The pass in milliseconds.
inline double timedWalk(wmi::Backend& backend, const std::string& cls) {
    const auto t0 = std::chrono::steady_clock::now();
    walk(backend, cls);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// One class's pass here and through `remote`, a fresh remote provider whose
// first pass learns what the class reads (timed too), then seven of each
// interleaved so both see the same load. Prints the figures after `label`
// and says whether the remote pass kept within 3 times the local one (its
// first pass within that and a second).
inline bool compareWithLocal(wmi::Backend& local, wmi::Backend& remote, const std::string& cls,
                             const std::string& label) {
    const double firstMs = timedWalk(remote, cls);
    const int firstTrips = linuxwmi::lastRoundTrips(remote).value_or(-1);
    std::vector<double> l, r;
    int trips = -1;
    for (int i = 0; i < 7; ++i) {
        l.push_back(timedWalk(local, cls));
        r.push_back(timedWalk(remote, cls));
        trips = linuxwmi::lastRoundTrips(remote).value_or(-1);
    }
    const double lm = median(l), rm = median(r);
    const double ratio = rm / lm;
    const bool within = ratio <= 3.0 && firstMs <= 3.0 * lm + 1000.0;
    std::printf(
        "measured %s%-14s local %7.1f ms, remote %7.1f ms (first pass %7.1f ms, %d round "
        "trips; later passes %d), ratio %.2f -> %s\n",
        label.c_str(), cls.c_str(), lm, rm, firstMs, firstTrips, trips, ratio,
        within ? "within budget" : "OVER BUDGET");
    std::fflush(stdout);
    return within;
}

}  // namespace tavo::bench
