// "Programs" (Win32_Product) on this machine, walked to the end with every
// property read, against dpkg-query listing the same database in the same run.
// Budget: no more than twice dpkg-query's time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <string>

#include "collectors/value.h"
#include "platform/linux/wmi/provider.h"

namespace {

const char* const kDpkgQuery =
    "dpkg-query -W -f '${Package}\\t${Version}\\t${Maintainer}\\t${binary:Summary}\\n'";

void BM_DpkgQuery(benchmark::State& state) {
    std::size_t bytes = 0;
    for (auto _ : state) {
        FILE* p = popen(kDpkgQuery, "r");
        if (!p) {
            state.SkipWithError("cannot start dpkg-query");
            return;
        }
        char buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) bytes += n;
        if (pclose(p) != 0) {
            state.SkipWithError("dpkg-query failed");
            return;
        }
    }
    benchmark::DoNotOptimize(bytes);
}

void BM_ProgramsQuery(benchmark::State& state) {
    auto provider = tavo::linuxwmi::makeProvider();
    std::size_t objects = 0, chars = 0;
    for (auto _ : state) {
        objects = 0;
        auto rs = provider->connect(".")->execQuery("SELECT * FROM Win32_Product");
        while (auto obj = rs->next()) {
            ++objects;
            for (const std::string& name : obj->propertyNames()) {
                const tavo::wmi::Value v = obj->get(name);
                // The report turns each value into its cell text.
                if (!v.isNull() && !v.isArray()) chars += tavo::wmi::toText(v).size();
            }
        }
    }
    state.counters["packages"] = static_cast<double>(objects);
    benchmark::DoNotOptimize(chars);
}

BENCHMARK(BM_DpkgQuery)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ProgramsQuery)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Keeps each benchmark's mean time per iteration for the budget check.
class BudgetReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            // Names carry their arguments ("BM_DpkgQuery/min_time:1.000").
            const std::string name = r.benchmark_name();
            if (!r.error_occurred) millis[name.substr(0, name.find('/'))] = r.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> millis;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    BudgetReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto dpkg = reporter.millis.find("BM_DpkgQuery");
    const auto ours = reporter.millis.find("BM_ProgramsQuery");
    if (dpkg == reporter.millis.end() || ours == reporter.millis.end()) {
        std::cout << "Programs budget: not checked (dpkg-query or the query did not run)\n";
        return 0;
    }
    const double budget = 2.0 * dpkg->second;
    const bool ok = ours->second <= budget;
    std::cout << "Programs budget: walk <= 2 x dpkg-query = " << budget << " ms; measured "
              << ours->second << " ms (dpkg-query " << dpkg->second
              << " ms): " << (ok ? "within budget" : "OVER BUDGET") << "\n";
    return ok ? 0 : 1;
}
