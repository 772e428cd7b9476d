// Budget: 100,000 rows x 60 columns exported to CSV and to HTML, the text
// built and the file written, < 0.6 s each.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/grid_bench_data.h"
#include "grid/export.h"
#include "grid/export_file.h"
#include "grid/grid.h"

namespace fs = std::filesystem;

namespace {

constexpr double kBudgetMs = 600.0;
bench_data::Samples csvSamples, htmlSamples;
std::size_t csvBytes = 0, htmlBytes = 0;

tavo::grid::Grid& bigGrid() {
    static tavo::grid::Grid g;
    if (g.itemsCount() == 0) {
        char buf[64];
        g.beginUpdate();
        for (int c = 0; c < bench_data::kColumns; ++c) g.columnsAdd("Column " + std::to_string(c));
        for (int r = 0; r < bench_data::kRows; ++r) {
            auto& item = g.itemsAdd("", std::string(bench_data::cellText(buf, r, 0)), 1 + r % 3);
            for (int c = 1; c < bench_data::kColumns; ++c) {
                item.setSubItems(c, std::string(bench_data::cellText(buf, r, c)));
            }
        }
        g.setSort(2, 1, true);  // exported in a sorted order, as after a header click
        g.endUpdate();
        (void)g.shownOrder();  // the sort belongs to the click, not to the export
    }
    return g;
}

fs::path folder() {
    static fs::path dir = [] {
        std::string tmpl = (fs::temp_directory_path() / "tavo-bench-export-XXXXXX").string();
        return fs::path(mkdtemp(tmpl.data()));
    }();
    return dir;
}

template <bool Html>
void BM_Export(benchmark::State& state) {
    const tavo::grid::Grid& g = bigGrid();
    std::tm when{};
    when.tm_year = 126;
    when.tm_mday = 1;
    for (auto _ : state) {
        const bench_data::Stopwatch watch;
        const std::string text =
            Html ? tavo::grid::htmlText(g, "BENCH", "Processes") : tavo::grid::csvText(g);
        const fs::path written =
            tavo::grid::writeNewFile(tavo::grid::exportFileName(folder(), "BENCH", "Processes",
                                                                when, Html ? ".html" : ".csv"),
                                     text);
        const double ms = watch.wallMs();
        (Html ? htmlSamples : csvSamples).add(ms, watch.cpuSpentMs());
        state.SetIterationTime(ms / 1000.0);
        (Html ? htmlBytes : csvBytes) = text.size();
        fs::remove(written);
    }
}
BENCHMARK(BM_Export<false>)
    ->Name("BM_ExportCsv")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_Export<true>)
    ->Name("BM_ExportHtml")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    std::printf(
        "Budget: %d rows x %d columns to CSV and to HTML, built and written, < %.0f ms "
        "each (files in %s)\n",
        bench_data::kRows, bench_data::kColumns, kBudgetMs,
        fs::temp_directory_path().string().c_str());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("CSV text %.1f MB, HTML text %.1f MB\n", csvBytes / 1e6, htmlBytes / 1e6);
    bench_data::verdict("CSV export, built and written", csvSamples, kBudgetMs);
    bench_data::verdict("HTML export, built and written", htmlSamples, kBudgetMs);
    std::error_code ec;
    fs::remove_all(folder(), ec);
    return 0;
}
