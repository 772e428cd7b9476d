// The provider answering for another computer over a real SSH session (a
// private sshd on 127.0.0.1, started here as the tests start theirs), side
// by side with the provider answering for this machine in one run:
// Processes (with at least 1000 processes running), Programs and Services.
// Budget: each remote pass takes no more than 3 times the local pass; the
// round trips of each pass are printed beside it.
//
// The session's first run starts the remote user's login shell, which runs
// that user's start-up files (bash reads ~/.bashrc under sshd); later runs
// go through that same shell. An empty run is timed on its own, after the
// first, and the passes are measured for the user running the benchmark
// and, where the test script made one, for a user whose shell is plain
// /bin/sh.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "collectors/management.h"
#include "grid/error.h"
#include "platform/linux/ssh/ssh_shell.h"
#include "platform/linux/wmi/provider.h"
#include "platform/linux/wmi/remote_provider.h"
#include "process_bench_support.h"
#include "provider_bench_support.h"
#include "remote/prompts.h"
#include "remote/target_text.h"
#include "tests/ssh/sshd_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using tavo::bench::countProcesses;
using tavo::bench::median;
using tavo::bench::walk;

tavo::sshtest::Sshd& sshd() {
    static tavo::sshtest::Sshd server(TAVO_SSHD_SCRIPT);
    return server;
}

std::shared_ptr<tavo::remote::RemoteShell> shellAs(const std::string& who) {
    static const tavo::ssh::SshSettings settings = [] {
        auto s = sshd().client("bench");
        sshd().trust(s);
        return s;
    }();
    return tavo::ssh::SshShell::open(tavo::remote::parseTarget(sshd().target(who)), settings,
                                     tavo::remote::makeNoPrompter());
}

std::shared_ptr<tavo::wmi::Backend>& local() {
    static auto p = tavo::linuxwmi::makeProvider();
    return p;
}
std::shared_ptr<tavo::wmi::Backend>& remote() {
    static auto p = tavo::linuxwmi::makeRemoteProvider(shellAs(sshd().user()));
    return p;
}

void BM_LocalProcesses(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(walk(*local(), "Win32_Process"));
}
BENCHMARK(BM_LocalProcesses)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_SshProcesses(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(walk(*remote(), "Win32_Process"));
}
BENCHMARK(BM_SshProcesses)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!sshd().ready()) {
        std::printf("the private sshd did not start: nothing measured\n");
        return 1;
    }
    const int wanted = 1000;
    const tavo::bench::Crowd crowd(wanted + 20);
    const int running = countProcesses();
    std::printf("processes running: %d (started %zu)\n", running, crowd.children.size());

    benchmark::RunSpecifiedBenchmarks();

    bool ok = running >= wanted;
    std::printf("budget: each pass over SSH <= 3 x the local pass\n");
    std::vector<std::string> users{sshd().user()};
    if (!sshd().passwordUser().empty()) users.push_back(sshd().passwordUser());
    for (const std::string& user : users) {
        // A session lost midway costs this user's figures, not the run (the
        // crowd of processes must still be ended).
        try {
            auto shell = shellAs(user);
            std::vector<double> empty;
            shell->run("true\n", std::chrono::seconds(20));  // the login shell starts
            for (int i = 0; i < 5; ++i) {
                const auto t0 = Clock::now();
                shell->run("true\n", std::chrono::seconds(20));
                empty.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            }
            std::printf("as %s: an empty round trip takes %.1f ms\n", user.c_str(), median(empty));
            for (const char* cls : {"Win32_Process", "Win32_Product", "Win32_Service"}) {
                auto fresh = tavo::linuxwmi::makeRemoteProvider(shell);
                ok = tavo::bench::compareWithLocal(*local(), *fresh, cls, "as " + user + " ") && ok;
            }
        } catch (const tavo::Error& e) {
            std::printf("as %s: %s\n", user.c_str(), e.description().c_str());
            ok = false;
        }
    }
    benchmark::Shutdown();
    return ok ? 0 : 1;
}
