// Files any local user can plant for the desktop and share parsers, at the
// sizes the provider reads: a 1 MiB xfconf channel of nested elements, a
// 1 MiB dconf database whose items chain one behind the other, and smb.conf
// files that each include the next twice.
// Budget: each parser gets through its input in at most 50 ms (the pass as a
// whole has 2 s for every source, and these are three files of many).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/linux/wmi/gvdb.h"
#include "platform/linux/wmi/inventory_classes.h"
#include "platform/linux/wmi/service_classes.h"
#include "tests/support/hostile_inputs.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kBudgetMs = 50;

const std::string& nestedXml() {
    // Each opening and closing pair is 43 bytes: about 0.8 MiB in all.
    static const std::string xml = tavo::hostile::xfconfNested(20000);
    return xml;
}

const std::string& chainedDatabase() {
    // 24-byte items: about 1 MiB.
    static const std::string db = tavo::hostile::gvdbChain(43000);
    return db;
}

// Each included file is 64 KiB and includes the next level twice: without
// a budget, eight levels are 510 files, 32 MiB of text.
constexpr std::size_t kIncludedFile = 64 * 1024;

std::size_t parseIncludes() {
    const tavo::linuxwmi::IncludeReader twice =
        [](const std::string& path) -> std::optional<std::string> {
        return "[s]\npath = /p\n" + std::string(kIncludedFile, '#') + "\ninclude = " + path +
               "\ninclude = " + path + "\n";
    };
    return tavo::linuxwmi::parseSmbConf("include = /a.conf\n", twice).size();
}

void BM_XfconfNested(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(tavo::linuxwmi::xfconfValue(nestedXml(), "/saver/enabled"));
    }
}
BENCHMARK(BM_XfconfNested)->Unit(benchmark::kMillisecond);

void BM_GvdbChain(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(tavo::linuxwmi::readGvdb(chainedDatabase()));
}
BENCHMARK(BM_GvdbChain)->Unit(benchmark::kMillisecond);

void BM_SmbIncludes(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(parseIncludes());
}
BENCHMARK(BM_SmbIncludes)->Unit(benchmark::kMillisecond);

template <class F>
double medianMs(F f) {
    std::vector<double> runs;
    for (int i = 0; i < 7; ++i) {
        const auto t0 = Clock::now();
        f();
        runs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    struct Row {
        const char* what;
        std::size_t bytes;
        double ms;
    };
    const std::vector<Row> rows = {
        {"xfconf, nested elements", nestedXml().size(), medianMs([] {
             benchmark::DoNotOptimize(tavo::linuxwmi::xfconfValue(nestedXml(), "/x"));
         })},
        {"dconf, chained parents", chainedDatabase().size(),
         medianMs([] { benchmark::DoNotOptimize(tavo::linuxwmi::readGvdb(chainedDatabase())); })},
        {"smb.conf, includes doubling", kIncludedFile,
         medianMs([] { benchmark::DoNotOptimize(parseIncludes()); })},
    };
    bool within = true;
    std::printf("budget: each hostile input parsed in <= %.0f ms\n", kBudgetMs);
    for (const Row& r : rows) {
        const bool ok = r.ms <= kBudgetMs;
        within = within && ok;
        std::printf("measured: %-28s %8zu bytes a file %8.2f ms -> %s\n", r.what, r.bytes, r.ms,
                    ok ? "within budget" : "OVER BUDGET");
    }
    benchmark::Shutdown();
    return within ? 0 : 1;
}
