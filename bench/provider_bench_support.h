#pragma once

// What the benchmarks that time a provider's pass share: one whole pass of a
// class, every property of every instance read as a collector would.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <string>

#include "collectors/management.h"

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

}  // namespace tavo::bench
