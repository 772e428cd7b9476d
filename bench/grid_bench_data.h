#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "grid/grid.h"

// Cell text for the grid benchmarks: mostly short values such as a collector
// writes (numbers, states), every fifth column a longer description, so both
// short-string and heap-held texts are part of the measure.
namespace bench_data {

inline constexpr int kRows = 100000;
inline constexpr int kColumns = 60;

// Writes the text of cell (row, column) into buf (at least 64 bytes).
inline std::string_view cellText(char* buf, int row, int column) {
    char* p = buf;
    const auto put = [&p](std::string_view s) {
        for (char c : s) *p++ = c;
    };
    const auto putNumber = [&p](unsigned v) {
        char digits[12];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        while (n > 0) *p++ = digits[--n];
    };
    if (column % 5 == 4) put("Generic PnP device on bus ");
    // Scrambled so a sort has real work to do.
    putNumber(static_cast<unsigned>(row) * 2654435761u % 1000003u);
    put(" c");
    putNumber(static_cast<unsigned>(column));
    return std::string_view(buf, static_cast<std::size_t>(p - buf));
}

// The whole table into `grid`, in one update: kColumns columns, kRows rows,
// the three lamps in turn.
inline void fill(tavo::grid::Grid& grid) {
    char buf[64];
    grid.beginUpdate();
    grid.itemsClear();
    grid.columnsClear();
    for (int c = 0; c < bench_data::kColumns; ++c) grid.columnsAdd("Column " + std::to_string(c));
    for (int r = 0; r < bench_data::kRows; ++r) {
        auto& item = grid.itemsAdd("", bench_data::cellText(buf, r, 0), 1 + r % 3);
        for (int c = 1; c < bench_data::kColumns; ++c)
            item.setSubItems(c, bench_data::cellText(buf, r, c));
    }
    grid.endUpdate();
}

}  // namespace bench_data

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace bench_data {

// Wall time and this thread's CPU time (system time included: the kernel's
// share of a write or a page fault is part of the cost). On a machine shared
// with other builds the wall time also holds the waits for a CPU, so both
// are reported.
struct Stopwatch {
    std::chrono::steady_clock::time_point wall0 = std::chrono::steady_clock::now();
    double cpu0 = cpuMs();
    static double cpuMs() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
    }
    double wallMs() const {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall0)
            .count();
    }
    double cpuSpentMs() const { return cpuMs() - cpu0; }
};

struct Samples {
    std::vector<double> wall, cpu;
    void add(double w, double c) {
        wall.push_back(w);
        cpu.push_back(c);
    }
    static double median(std::vector<double> v) {
        if (v.empty()) return -1;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }
    double wallMedian() const { return median(wall); }
    double cpuMedian() const { return median(cpu); }
};

inline std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    in >> one;
    return one.empty() ? "unknown" : one;
}

// One verdict line for a time budget: the wall time decides; where it fails
// only because the machine is busy, the CPU time says so.
inline void verdict(const char* what, const Samples& s, double budgetMs) {
    const double w = s.wallMedian(), c = s.cpuMedian();
    const char* result = w < budgetMs   ? "within budget"
                         : c < budgetMs ? "OVER BUDGET in wall time, CPU time within it"
                                        : "OVER BUDGET";
    std::printf(
        "%s: median %.0f ms wall, %.0f ms CPU over %zu runs (budget %.0f ms; load "
        "average %s): %s\n",
        what, w, c, s.wall.size(), budgetMs, loadAverage().c_str(), result);
}

}  // namespace bench_data
