#pragma once

// One whole pass of a class, every property of every instance read as a
// collector would: what the benchmarks of every back end time.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

#include "collectors/management.h"

namespace tavo::bench {

inline std::size_t walk(wmi::Backend& backend, const std::string& cls,
                        const std::string& computer = ".") {
    std::size_t values = 0;
    auto rs = backend.connect(computer)->execQuery("SELECT * FROM " + cls);
    while (auto obj = rs->next()) {
        for (const auto& name : obj->propertyNames()) {
            wmi::Value v = obj->get(name);
            benchmark::DoNotOptimize(v);
            ++values;
        }
    }
    return values;
}

}  // namespace tavo::bench
