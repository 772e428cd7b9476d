// Budget: marking what changed in a pass of 50 computers x 300 processes
// (15,000 rows) against the pass before it, and taking it in sorted,
// < 20 ms of CPU on the window's thread.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/grid_bench_data.h"
#include "grid/changes.h"
#include "grid/grid.h"

namespace {

constexpr double kBudgetMs = 20.0;
constexpr int kComputers = 50;
constexpr int kRowsEach = 300;
constexpr int kProperties = 30;  // a process has about as many
bench_data::Samples samples;

// One pass: "Computer", the lamp column, Handle (the key), then properties.
// From pass to pass one row in a hundred ends and another starts, and half
// the rows have three cells that moved (times, memory), as a busy
// computer's processes do.
std::unique_ptr<tavo::grid::Grid> makePass(int pass) {
    auto g = std::make_unique<tavo::grid::Grid>();
    char buf[64];
    g->beginUpdate();
    g->columnsAdd(std::string(tavo::grid::kComputerCaption));
    g->columnsAdd("");
    g->columnsAdd("Handle");
    for (int c = 0; c < kProperties; ++c) g->columnsAdd("Property " + std::to_string(c));
    for (int pc = 0; pc < kComputers; ++pc) {
        const std::string computer = "computer-" + std::to_string(pc) + ".example.org";
        for (int r = 0; r < kRowsEach; ++r) {
            // Every hundredth process is replaced by one with a new handle.
            const int handle = r % 100 == pass % 100 ? 100000 + pass * 1000 + r : r * 4;
            auto& item = g->itemsAdd("", computer, 1);
            item.setSubItems(1, "*");
            item.setSubItems(2, std::to_string(handle));
            for (int c = 0; c < kProperties; ++c) {
                const bool moves = c < 3 && r % 2 == 0;
                item.setSubItems(3 + c,
                                 std::string(bench_data::cellText(buf, r + (moves ? pass : 0), c)));
            }
        }
    }
    g->endUpdate();
    g->setSort(2, 0, true);  // sorted by Handle, as a user might
    g->shownOrder();         // a pass arrives in its shown order
    return g;
}

void BM_MarkChangesOfAPass(benchmark::State& state) {
    const std::vector<std::string> key = {"Handle"};
    auto shown = makePass(0);
    int pass = 1;
    std::size_t marked = 0;
    for (auto _ : state) {
        auto next = makePass(pass++);
        const bench_data::Stopwatch watch;
        tavo::grid::markChanges(*shown, *next, key);
        shown->takeContents(*next);
        benchmark::DoNotOptimize(shown->shownOrder().data());
        const double ms = watch.wallMs();
        samples.add(ms, watch.cpuSpentMs());
        state.SetIterationTime(ms / 1000.0);
        marked = 0;
        for (std::size_t r = 0; r < static_cast<std::size_t>(shown->itemsCount()); ++r)
            marked += shown->rowMarks(r) != 0;
    }
    state.counters["rows"] = kComputers * kRowsEach;
    state.counters["marked"] = static_cast<double>(marked);
}
BENCHMARK(BM_MarkChangesOfAPass)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);

}  // namespace

int main(int argc, char** argv) {
    std::printf("Budget: marking the changes of %d rows against the last pass < %.0f ms CPU\n",
                kComputers * kRowsEach, kBudgetMs);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The budget is CPU time: the window's thread may wait for a core on a
    // busy machine, which is no cost of ours. The wall time is reported too.
    const double cpu = samples.cpuMedian();
    std::printf(
        "Change marking of %d rows: median %.1f ms CPU, %.1f ms wall over %zu runs (budget "
        "%.0f ms CPU; load average %s): %s\n",
        kComputers * kRowsEach, cpu, samples.wallMedian(), samples.cpu.size(), kBudgetMs,
        bench_data::loadAverage().c_str(), cpu < kBudgetMs ? "within budget" : "OVER BUDGET");
    return 0;
}
