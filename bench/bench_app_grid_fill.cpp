// Budget: 100,000 rows x 60 columns added through the grid operations and
// painted once offscreen (QTreeView over ResultsModel) at least 10 times
// faster than the same fill through QTreeWidget items in the same run, with
// a peak memory no more than half of the QTreeWidget fill's.
//
// Time: both variants run in this process under Google Benchmark, the fill
// and one paint timed, the tear-down not. Memory: each variant runs once
// more in a child process of its own (this program with --child=model or
// --child=widget), which reports its peak resident size (VmHWM of
// /proc/self/status) at the end; both children carry the same Qt start-up,
// so the figures compare whole processes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QHeaderView>
#include <QPixmap>
#include <QStringList>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/results_model.h"
#include "bench/grid_bench_data.h"
#include "grid/grid.h"

namespace {

constexpr double kSpeedBudget = 10.0;
constexpr double kMemoryBudget = 0.5;
bench_data::Samples modelSamples, widgetSamples;

struct Figures {
    double wallMs, cpuMs;
};

// What a collector's pass does: one batch, columns, then each row and its cells.
Figures fillModel() {
    tavo::grid::Grid grid;
    ResultsModel model(grid);
    QTreeView view;
    bindResultsView(view, model);
    view.resize(1000, 700);
    view.show();
    const bench_data::Stopwatch watch;
    bench_data::fill(grid);
    const QPixmap shot = view.grab();  // one paint, after the layout it needs
    benchmark::DoNotOptimize(shot.cacheKey());
    return {watch.wallMs(), watch.cpuSpentMs()};
}

// The same rows as QTreeWidget items, given the widget's fastest path:
// items built detached and handed over in one call.
Figures fillWidget() {
    QTreeWidget tree;
    tree.setRootIsDecorated(false);
    tree.setUniformRowHeights(true);
    tree.resize(1000, 700);
    tree.show();
    const QIcon lamps[3] = {ResultsModel::lampIcon(1), ResultsModel::lampIcon(2),
                            ResultsModel::lampIcon(3)};
    char buf[64];
    const bench_data::Stopwatch watch;
    QStringList captions;
    for (int c = 0; c < bench_data::kColumns; ++c) captions << "Column " + QString::number(c);
    tree.setColumnCount(bench_data::kColumns);
    tree.setHeaderLabels(captions);
    QList<QTreeWidgetItem*> items;
    items.reserve(bench_data::kRows);
    for (int r = 0; r < bench_data::kRows; ++r) {
        auto* item = new QTreeWidgetItem;
        for (int c = 0; c < bench_data::kColumns; ++c) {
            const std::string_view t = bench_data::cellText(buf, r, c);
            item->setText(c, QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size())));
        }
        item->setIcon(0, lamps[r % 3]);
        items.append(item);
    }
    tree.addTopLevelItems(items);
    const QPixmap shot = tree.grab();
    benchmark::DoNotOptimize(shot.cacheKey());
    return {watch.wallMs(), watch.cpuSpentMs()};
}

void BM_ResultsModelFillAndPaint(benchmark::State& state) {
    for (auto _ : state) {
        const Figures f = fillModel();
        state.SetIterationTime(f.wallMs / 1000.0);
        modelSamples.add(f.wallMs, f.cpuMs);
    }
}
BENCHMARK(BM_ResultsModelFillAndPaint)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void BM_TreeWidgetFillAndPaint(benchmark::State& state) {
    for (auto _ : state) {
        const Figures f = fillWidget();
        state.SetIterationTime(f.wallMs / 1000.0);
        widgetSamples.add(f.wallMs, f.cpuMs);
    }
}
BENCHMARK(BM_TreeWidgetFillAndPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

long peakKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

struct ChildFigures {
    double ms = -1;
    double cpuMs = -1;
    long peakKb = -1;
};

ChildFigures runChild(const char* variant) {
    // Resolved here: inside the shell of popen, /proc/self/exe is the shell.
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    self[n] = '\0';
    char cmd[4200];
    std::snprintf(cmd, sizeof cmd, "'%s' --child=%s", self, variant);
    ChildFigures f;
    if (FILE* p = popen(cmd, "r")) {
        if (std::fscanf(p, "%lf %lf %ld", &f.ms, &f.cpuMs, &f.peakKb) != 3) f = {};
        pclose(p);
    }
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    for (int i = 1; i < argc; ++i) {
        const bool model = std::strcmp(argv[i], "--child=model") == 0;
        if (model || std::strcmp(argv[i], "--child=widget") == 0) {
            QApplication app(argc, argv);
            const Figures f = model ? fillModel() : fillWidget();
            std::printf("%.1f %.1f %ld\n", f.wallMs, f.cpuMs, peakKb());
            return 0;
        }
    }
    std::printf(
        "Budget: %d rows x %d columns filled and painted once offscreen: QTreeView over "
        "ResultsModel >= %.0fx faster than QTreeWidget items, peak memory <= %.0f%% of "
        "theirs\n",
        bench_data::kRows, bench_data::kColumns, kSpeedBudget, kMemoryBudget * 100);
    // Memory first, in fresh processes, before this one has grown.
    const ChildFigures modelChild = runChild("model");
    const ChildFigures widgetChild = runChild("widget");

    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double m = modelSamples.wallMedian(), w = widgetSamples.wallMedian();
    const double mc = modelSamples.cpuMedian(), wc = widgetSamples.cpuMedian();
    const double ratio = m > 0 ? w / m : 0;
    const double cpuRatio = mc > 0 ? wc / mc : 0;
    // CPU time is the figure that holds on a shared machine; wall time is
    // given beside it and judged too.
    std::printf(
        "Fill speed, CPU time (median, same run; load average %s): ResultsModel %.0f ms, "
        "QTreeWidget %.0f ms: %.1fx faster (budget >= %.0fx): %s\n",
        bench_data::loadAverage().c_str(), mc, wc, cpuRatio, kSpeedBudget,
        cpuRatio >= kSpeedBudget ? "met" : "MISSED");
    std::printf(
        "Fill speed, wall time (median, same run): ResultsModel %.0f ms, QTreeWidget %.0f ms: "
        "%.1fx faster (budget >= %.0fx): %s\n",
        m, w, ratio, kSpeedBudget, ratio >= kSpeedBudget ? "met" : "MISSED");
    // The runs above after the first reuse the blocks the grid before gave
    // back, as a periodic report's passes do; a process's first fill takes
    // all its memory fresh from the kernel, which costs a fault and a
    // zeroing per page. Told here, not judged.
    std::printf(
        "Fresh processes (first fill, memory new from the kernel): ResultsModel %.0f ms wall / "
        "%.0f ms CPU, QTreeWidget %.0f ms wall / %.0f ms CPU: %.1fx faster in CPU time\n",
        modelChild.ms, modelChild.cpuMs, widgetChild.ms, widgetChild.cpuMs,
        modelChild.cpuMs > 0 ? widgetChild.cpuMs / modelChild.cpuMs : 0.0);
    if (modelChild.peakKb > 0 && widgetChild.peakKb > 0) {
        const double share = double(modelChild.peakKb) / double(widgetChild.peakKb);
        std::printf(
            "Peak memory (VmHWM of each child): ResultsModel %.1f MB, QTreeWidget %.1f "
            "MB: %.0f%% (budget <= %.0f%%): %s\n",
            modelChild.peakKb / 1024.0, widgetChild.peakKb / 1024.0, share * 100,
            kMemoryBudget * 100, share <= kMemoryBudget ? "met" : "MISSED");
    } else {
        std::printf("Peak memory: the child runs gave no figures: MISSED\n");
    }
    return 0;
}
