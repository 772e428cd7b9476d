// tavo-report as a whole process, as a script runs it.
// Budgets: `tavo-report -f csv Processes > /dev/null` within 1.5 x
// `ps -eo pid,ppid,user,comm,args` with at least 1000 processes running,
// measured side by side in one run; `tavo-report --list` from start to exit
// under 20 ms.

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include "process_bench_support.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <vector>

namespace {

using tavo::bench::median;
using tavo::bench::spawn;

using Clock = std::chrono::steady_clock;

// Wall time of one run of a command, in milliseconds; negative when it failed.
double timed(std::vector<const char*> argv) {
    const auto t0 = Clock::now();
    const pid_t pid = spawn(std::move(argv), true);
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

const std::vector<const char*> kReport = {TAVO_REPORT_BIN, "-f", "csv", "Processes"};
const std::vector<const char*> kPs = {"ps", "-eo", "pid,ppid,user,comm,args"};
const std::vector<const char*> kList = {TAVO_REPORT_BIN, "--list"};

void BM_ReportProcesses(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(timed(kReport));
}
BENCHMARK(BM_ReportProcesses)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Ps(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(timed(kPs));
}
BENCHMARK(BM_Ps)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const tavo::bench::ThousandProcesses processes;
    benchmark::RunSpecifiedBenchmarks();

    // Interleaved, so both see the same load.
    std::vector<double> report, ps, list;
    bool failed = false;
    for (int i = 0; i < 9; ++i) {
        report.push_back(timed(kReport));
        ps.push_back(timed(kPs));
        list.push_back(timed(kList));
    }
    for (const auto* v : {&report, &ps, &list})
        failed |= std::any_of(v->begin(), v->end(), [](double ms) { return ms < 0; });
    const double reportMs = median(report), psMs = median(ps), listMs = median(list);
    const double ratio = reportMs / psMs;
    const bool processesOk = !failed && processes.enough() && ratio <= 1.5;
    const bool listOk = !failed && listMs < 20;
    std::printf(
        "budget: tavo-report -f csv Processes <= 1.5 x ps -eo pid,ppid,user,comm,args "
        "(>= 1000 processes)\n");
    std::printf("measured: tavo-report %.1f ms, ps %.1f ms, ratio %.2f -> %s\n", reportMs, psMs,
                ratio, processesOk ? "within budget" : "OVER BUDGET");
    std::printf("budget: tavo-report --list, start to exit < 20 ms\n");
    std::printf("measured: %.1f ms -> %s\n", listMs, listOk ? "within budget" : "OVER BUDGET");
    if (failed) std::printf("a command failed to run\n");

    benchmark::Shutdown();
    return processesOk && listOk ? 0 : 1;
}
