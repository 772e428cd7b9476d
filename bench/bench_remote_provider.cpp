// The provider answering for another computer through its shell, against
// the same provider answering for this one, side by side in one run:
// Processes (with at least 1000 processes running), Programs and Services.
// Budget: each remote pass takes no more than 3 times the local pass, in CPU
// time (this program, the helpers and the shell's whole run, which it
// reaps) and in wall time; the round trips each pass took are printed
// beside it.
//
// The shell is built by makeShell() below: this machine's own sh -s by
// default. A transport that reaches another computer (SSH to 127.0.0.1)
// plugs in there.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "collectors/management.h"
#include "platform/linux/wmi/provider.h"
#include "platform/linux/wmi/remote_provider.h"
#include "process_bench_support.h"
#include "provider_bench_support.h"
#include "support/local_shell.h"

namespace {

using tavo::bench::walk;

// Where the remote passes go.
std::function<std::shared_ptr<tavo::remote::RemoteShell>()> makeShell = [] {
    return tavo::linuxwmi::makeLocalShell();
};

std::shared_ptr<tavo::wmi::Backend>& local() {
    static auto p = tavo::linuxwmi::makeProvider();
    return p;
}
std::shared_ptr<tavo::wmi::Backend>& remote() {
    static auto p = tavo::linuxwmi::makeRemoteProvider(makeShell());
    return p;
}

void BM_LocalProcesses(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(walk(*local(), "Win32_Process"));
}
BENCHMARK(BM_LocalProcesses)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_RemoteProcesses(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(walk(*remote(), "Win32_Process"));
}
BENCHMARK(BM_RemoteProcesses)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const tavo::bench::ThousandProcesses processes;

    benchmark::RunSpecifiedBenchmarks();

    bool ok = processes.enough();
    std::printf("load average at start: %s\n", tavo::bench::loadAverage().c_str());
    std::printf("budget: each remote pass <= 3 x the local pass\n");
    for (const char* cls : {"Win32_Process", "Win32_Product", "Win32_Service"}) {
        auto fresh = tavo::linuxwmi::makeRemoteProvider(makeShell());
        ok = tavo::bench::compareWithLocal(*local(), *fresh, cls, "through a local shell: ") && ok;
    }
    std::printf("load average at end: %s\n", tavo::bench::loadAverage().c_str());
    benchmark::Shutdown();
    return ok ? 0 : 1;
}
