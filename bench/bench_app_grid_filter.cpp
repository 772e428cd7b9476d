// Budgets, over 100,000 rows x 60 columns shown in the results grid:
// - typing one character in the filter updates the view (rows searched,
//   view laid out and painted once offscreen) in under 50 ms;
// - hiding a column, view painted, in under 10 ms.
//
// A keystroke's cost depends on what it does, so several are timed: the
// first character typed (every row searched, and each row's text folded
// once for the search, which later keystrokes reuse), further characters
// (only the rows still shown are searched), a character matching nothing
// (every row searched to its end) and erasing (the rows out of view
// searched again). The budget is held against the slowest of the typed
// characters after the first; the first is reported on its own, cold and
// with the field focused beforehand (the rows are then folded while the
// program is idle), as is the first search after a new pass replaced
// every row. Columns are hidden and
// shown again with the filter empty (the budget) and with a filter set.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QHeaderView>
#include <QPixmap>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <string>

#include "app/column_layout.h"
#include "app/results_model.h"
#include "app/results_tools.h"
#include "app/row_filter_model.h"
#include "bench/grid_bench_data.h"
#include "grid/grid.h"

namespace {

constexpr double kKeystrokeBudgetMs = 50;
constexpr double kHideBudgetMs = 10;

void fill(tavo::grid::Grid& grid) {
    bench_data::fill(grid);
}

struct Bench {
    tavo::grid::Grid grid;
    ResultsModel model{grid};
    RowFilterModel filter{model};
    QTreeView view;
    ResultsTools tools{view, model, filter, [] { return QStringLiteral("Bench"); },
                       LayoutStore(nullptr)};
    Bench() {
        bindResultsView(view, model, &filter);
        view.resize(1000, 700);
        view.show();
        fill(grid);
        paint();
    }
    void paint() {
        const QPixmap shot = view.grab();
        benchmark::DoNotOptimize(shot.cacheKey());
    }
    // One change and the paint that shows it.
    template <class F>
    void timed(bench_data::Samples& into, F&& change) {
        const bench_data::Stopwatch watch;
        change();
        paint();
        into.add(watch.wallMs(), watch.cpuSpentMs());
    }
    void type(bench_data::Samples& into, const char* text) {
        timed(into, [&] { filter.setFilterText(QString::fromLatin1(text)); });
    }
};

void line(const char* what, const bench_data::Samples& s) {
    std::printf("  %-58s median %6.1f ms wall, %6.1f ms CPU; slowest %6.1f ms wall (%zu runs)\n",
                what, s.wallMedian(), s.cpuMedian(),
                *std::max_element(s.wall.begin(), s.wall.end()), s.wall.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf(
        "Budget: over %d rows x %d columns, one character typed in the filter updates the "
        "view in < %.0f ms; hiding a column < %.0f ms (load average %s)\n",
        bench_data::kRows, bench_data::kColumns, kKeystrokeBudgetMs, kHideBudgetMs,
        bench_data::loadAverage().c_str());

    Bench b;
    bench_data::Samples first, firstPrepared, narrowing, nothing, erasing, afterPass, typedAll;
    bench_data::Samples hideEmpty, showEmpty, hideFiltered, showFiltered;
    constexpr int kRounds = 5;
    for (int round = 0; round < kRounds; ++round) {
        // A new pass: every row replaced, every folded text gone.
        fill(b.grid);
        b.type(first, "7");  // in about half the rows
        for (const char* t : {"77", "773", "7731"}) b.type(narrowing, t);
        b.type(nothing, "7731x");  // no row holds an x: every shown row searched through
        for (const char* t : {"7731", "773", "77", "7"}) b.type(erasing, t);
        b.type(erasing, "");
        // With the filter set when the pass ends, the rows are searched again there.
        b.type(narrowing, "c5");
        b.timed(afterPass, [&] { fill(b.grid); });
        b.type(narrowing, "c59");
        b.type(erasing, "");
        // The field focused before typing: the rows are folded while idle.
        fill(b.grid);
        b.filter.setPrepared(true);
        while (b.filter.isPreparing()) QCoreApplication::processEvents();
        b.type(firstPrepared, "7");
        b.filter.setPrepared(false);
        b.type(erasing, "");
    }
    for (const auto* s : {&narrowing, &nothing, &erasing}) {
        for (std::size_t i = 0; i < s->wall.size(); ++i) typedAll.add(s->wall[i], s->cpu[i]);
    }
    // What the paint alone costs, and the change alone, to tell them apart.
    bench_data::Samples paintOnly, hideNoPaint;
    for (int i = 0; i < 15; ++i) {
        b.timed(paintOnly, [] {});
        const bench_data::Stopwatch watch;
        b.tools.setColumnShown(5, false);
        hideNoPaint.add(watch.wallMs(), watch.cpuSpentMs());
        b.paint();
        b.tools.setColumnShown(5, true);
        b.paint();
    }
    for (int round = 0; round < kRounds; ++round) {
        for (int c : {3, 17, 41}) {
            b.timed(hideEmpty, [&] { b.tools.setColumnShown(c, false); });
            b.timed(showEmpty, [&] { b.tools.setColumnShown(c, true); });
        }
        b.filter.setFilterText(QStringLiteral("c4"));
        b.paint();
        for (int c : {3, 17, 41}) {
            b.timed(hideFiltered, [&] { b.tools.setColumnShown(c, false); });
            b.timed(showFiltered, [&] { b.tools.setColumnShown(c, true); });
        }
        b.filter.setFilterText(QString());
        b.paint();
    }

    std::printf("Keystrokes (search, layout and one paint of a 1000 x 700 view):\n");
    line("first character after a new pass (rows folded once)", first);
    line("first character, the field focused before (rows folded idle)", firstPrepared);
    line("further characters (narrowing)", narrowing);
    line("a character no row holds", nothing);
    line("erasing (widening)", erasing);
    line("a new pass with the filter set (fill, search, paint)", afterPass);
    std::printf("Columns (hide or show, filter kept in step, one paint):\n");
    line("one paint of the unchanged view, for comparison", paintOnly);
    line("hide, filter empty, without the paint", hideNoPaint);
    line("hide, filter empty", hideEmpty);
    line("show, filter empty", showEmpty);
    line("hide, filter set", hideFiltered);
    line("show, filter set", showFiltered);

    const double slowest = *std::max_element(typedAll.wall.begin(), typedAll.wall.end());
    const double slowestCpu = *std::max_element(typedAll.cpu.begin(), typedAll.cpu.end());
    std::printf(
        "One character typed (slowest of %zu, first character aside): %.1f ms CPU (%.1f ms "
        "wall; budget %.0f ms CPU): %s\n",
        typedAll.wall.size(), slowestCpu, slowest, kKeystrokeBudgetMs,
        slowestCpu < kKeystrokeBudgetMs ? "met" : "MISSED");
    // The budgets are judged in CPU time, which holds on a shared machine;
    // the wall time is given beside it.
    std::printf(
        "First character after a new pass, field not focused before: median %.1f ms CPU "
        "(%.1f ms wall; load average %s; budget %.0f ms CPU): %s\n",
        first.cpuMedian(), first.wallMedian(), bench_data::loadAverage().c_str(),
        kKeystrokeBudgetMs, first.cpuMedian() < kKeystrokeBudgetMs ? "met" : "MISSED");
    std::printf(
        "First character after a new pass, field focused before: median %.1f ms CPU (%.1f ms "
        "wall; budget %.0f ms CPU): %s\n",
        firstPrepared.cpuMedian(), firstPrepared.wallMedian(), kKeystrokeBudgetMs,
        firstPrepared.cpuMedian() < kKeystrokeBudgetMs ? "met" : "MISSED");
    std::printf(
        "Hiding a column, filter set: median %.1f ms CPU (%.1f ms wall; budget %.0f ms CPU): "
        "%s\n",
        hideFiltered.cpuMedian(), hideFiltered.wallMedian(), kHideBudgetMs,
        hideFiltered.cpuMedian() < kHideBudgetMs ? "met" : "MISSED");
    bench_data::verdict("Hiding a column, filter empty, with the paint", hideEmpty, kHideBudgetMs);
    bench_data::verdict("Hiding a column, filter empty, without the paint", hideNoPaint,
                        kHideBudgetMs);
    bench_data::verdict("Hiding a column, filter set", hideFiltered, kHideBudgetMs);
    return 0;
}
