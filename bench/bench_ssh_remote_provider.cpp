// The provider answering for another computer over a real SSH session (a
// private sshd on 127.0.0.1, started here as the tests start theirs), side
// by side with the provider answering for this machine in one run:
// Processes (with at least 1000 processes running), Programs and Services.
// Budget: each remote pass takes no more than 3 times the local pass, in CPU
// time (this program, the helpers and, for the remote pass, everything the
// session runs on the "remote") and in wall time; the round trips of each
// pass are printed beside it.
//
// Then, with 10,000 processes running, Processes over SSH against the
// command people type instead, `ssh host ps -eo pid,ppid,user,comm,args`, in
// CPU time of both sides together: this program (or the ssh client) and
// everything the session ran on the remote (sshd, its shell, what the shell
// started), counted when the session has ended from the CPU time the sshd
// listener's finished children left it. Budget: at most 2 x the peer.
//
// The session's first run starts the remote user's login shell, which runs
// that user's start-up files (bash reads ~/.bashrc under sshd); later runs
// go through that same shell. An empty run is timed on its own, after the
// first, and the passes are measured for the user running the benchmark
// and, where the test script made one, for a user whose shell is plain
// /bin/sh.

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
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

// CPU seconds the sshd listener's finished children have left it: every
// session that ended, with everything it ran on the "remote".
double reapedCpu(int listener) {
    std::ifstream in("/proc/" + std::to_string(listener) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    const auto paren = stat.rfind(')');
    if (paren == std::string::npos) return 0;
    std::istringstream fields(stat.substr(paren + 2));
    std::vector<std::string> f{std::istream_iterator<std::string>(fields), {}};
    // Fields 3 onwards; cutime and cstime are the 16th and 17th.
    if (f.size() < 15) return 0;
    return (std::stod(f[13]) + std::stod(f[14])) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// CPU milliseconds of every session still open under the sshd listener: its
// processes' own and what they have reaped (a run's shell and all it
// started), at the kernel's tick.
double openSessionsCpu(int listener) {
    std::map<int, int> parentOf;
    std::map<int, double> ticks;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
            std::ifstream in(std::string("/proc/") + e->d_name + "/stat");
            std::string stat((std::istreambuf_iterator<char>(in)), {});
            const auto paren = stat.rfind(')');
            if (paren == std::string::npos) continue;
            std::istringstream fields(stat.substr(paren + 2));
            std::vector<std::string> f{std::istream_iterator<std::string>(fields), {}};
            if (f.size() < 15) continue;
            const int pid = std::atoi(e->d_name);
            parentOf[pid] = std::stoi(f[1]);
            ticks[pid] = std::stod(f[11]) + std::stod(f[12]) + std::stod(f[13]) + std::stod(f[14]);
        }
        closedir(d);
    }
    double sum = 0;
    for (const auto& [pid, t] : ticks) {
        for (int p = parentOf[pid], hops = 0; p > 1 && hops < 16; p = parentOf[p], ++hops) {
            if (p == listener) {
                sum += t;
                break;
            }
        }
    }
    return sum * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ownCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The listener's sessions still open, from the kernel's own list of its
// children (reading every process's stat would cost more than what is measured).
int childrenOf(int parent) {
    std::ifstream in("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) +
                     "/children");
    int n = 0;
    for (int pid = 0; in >> pid;) ++n;
    return n;
}

// Waits until the listener has no session left (at most 20 s).
void sessionsEnded(int listener) {
    for (int i = 0; i < 400 && childrenOf(listener) > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// Processes over SSH against `ssh host ps`, CPU of both sides, each through
// a session of its own; the medians of three interleaved runs.
bool compareWithPs(const std::string& user) {
    const int listener = std::stoi(tavo::sshtest::readFile(sshd().serverDir() / "sshd.pid"));
    const auto dir = sshd().serverDir().parent_path() / "bench";
    std::vector<double> tavo, ps;
    std::size_t values = 0;
    for (int round = 0; round < 3; ++round) {
        sessionsEnded(listener);
        double before = reapedCpu(listener);
        const double ownBefore = ownCpu();
        {
            auto provider = tavo::linuxwmi::makeRemoteProvider(shellAs(user));
            values = walk(*provider, "Win32_Process");
        }
        const double own = ownCpu() - ownBefore;
        sessionsEnded(listener);
        tavo.push_back(reapedCpu(listener) - before + own);

        before = reapedCpu(listener);
        const std::string port = std::to_string(sshd().port());
        const std::string key = (dir / "id_ed25519").string();
        const std::string known = (dir / "known_hosts").string();
        const std::string who = user + "@127.0.0.1";
        const pid_t pid = tavo::bench::spawn(
            {"ssh", "-q", "-p", port.c_str(), "-i", key.c_str(), "-o", "BatchMode=yes", "-o",
             ("UserKnownHostsFile=" + known).c_str(), "-o", "StrictHostKeyChecking=yes",
             who.c_str(), "ps -eo pid,ppid,user,comm,args"},
            true);
        rusage u{};
        int status = 0;
        if (pid <= 0 || wait4(pid, &status, 0, &u) != pid || status != 0) {
            std::printf("ssh host ps did not run (status %d): nothing to compare with\n", status);
            return false;
        }
        sessionsEnded(listener);
        ps.push_back(reapedCpu(listener) - before + static_cast<double>(u.ru_utime.tv_sec) +
                     static_cast<double>(u.ru_stime.tv_sec) +
                     static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6);
    }
    const double t = median(tavo), p = median(ps);
    const bool ok = t <= 2 * p;
    std::printf(
        "Processes over SSH, %zu values: %.0f ms CPU (both sides), ssh host ps: %.0f ms "
        "(%.2fx; budget 2x) %s\n",
        values, t * 1000, p * 1000, t / p, ok ? "met" : "MISSED");
    return ok;
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
    const tavo::bench::ThousandProcesses processes;

    benchmark::RunSpecifiedBenchmarks();

    bool ok = processes.enough();
    std::printf("load average at start: %s\n", tavo::bench::loadAverage().c_str());
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
            const int listener =
                std::stoi(tavo::sshtest::readFile(sshd().serverDir() / "sshd.pid"));
            for (const char* cls : {"Win32_Process", "Win32_Product", "Win32_Service"}) {
                auto fresh = tavo::linuxwmi::makeRemoteProvider(shell);
                ok = tavo::bench::compareWithLocal(*local(), *fresh, cls,
                                                   "over SSH as " + user + ": ",
                                                   [&] { return openSessionsCpu(listener); }) &&
                     ok;
            }
        } catch (const tavo::Error& e) {
            std::printf("as %s: %s\n", user.c_str(), e.description().c_str());
            ok = false;
        }
    }
    {
        // A normal server's count of processes.
        const tavo::bench::Crowd many(10000, 12000);
        std::printf("processes running: %d\n", countProcesses());
        try {
            ok = compareWithPs(sshd().user()) && ok;
        } catch (const tavo::Error& e) {
            std::printf("10,000 processes: %s\n", e.description().c_str());
            ok = false;
        }
    }
    std::printf("load average at end: %s\n", tavo::bench::loadAverage().c_str());
    benchmark::Shutdown();
    return ok ? 0 : 1;
}
