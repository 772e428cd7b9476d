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
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using tavo::bench::countProcesses;
using tavo::bench::median;
using tavo::bench::timedWalk;
using tavo::bench::walk;

int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

// The private sshd and a client folder of its own.
struct Sshd {
    fs::path dir;
    int port = 0;
    bool ready = false;
    Sshd() {
        unsetenv("SSH_AUTH_SOCK");
        char templ[] = "/tmp/tavo-bench-sshd-XXXXXX";
        if (!mkdtemp(templ)) return;
        dir = templ;
        // The throw-away user's login reads the authorised keys inside.
        fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
        port = freePort();
        const std::string cmd = std::string(TAVO_SSHD_SCRIPT) + " start " +
                                (dir / "server").string() + " " + std::to_string(port) + " " +
                                std::to_string(getpid()) + " >/dev/null";
        ready = std::system(cmd.c_str()) == 0;
        if (!ready) return;
        fs::create_directories(dir / "client");
        fs::copy_file(dir / "server" / "client_key", dir / "client" / "id_ed25519");
        fs::permissions(dir / "client" / "id_ed25519",
                        fs::perms::owner_read | fs::perms::owner_write);
        const std::string known = "echo \"[127.0.0.1]:" + std::to_string(port) + " $(cat " +
                                  (dir / "server" / "host_ed25519.pub").string() + ")\" > " +
                                  (dir / "client" / "known_hosts").string();
        ready = std::system(known.c_str()) == 0;
    }
    ~Sshd() {
        if (dir.empty()) return;
        const std::string cmd =
            std::string(TAVO_SSHD_SCRIPT) + " stop " + (dir / "server").string();
        if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "sshd did not stop\n");
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    // The throw-away user the script makes when run as root, or "".
    std::string plainUser() const {
        std::ifstream in(dir / "server" / "password_user");
        std::string user;
        std::getline(in, user);
        return user;
    }
    static std::string currentUser() {
        const char* user = std::getenv("USER");
        return user && *user ? user : "root";
    }
    std::shared_ptr<tavo::remote::RemoteShell> shell(const std::string& who) const {
        tavo::ssh::SshSettings s;
        s.sshDir = (dir / "client").string();
        s.globalKnownHostsFile = "/dev/null";
        s.readSystemConfig = false;
        return tavo::ssh::SshShell::open(
            tavo::remote::parseTarget(who + "@127.0.0.1:" + std::to_string(port)), s,
            tavo::remote::makeNoPrompter());
    }
};

Sshd& sshd() {
    static Sshd server;
    return server;
}

std::shared_ptr<tavo::wmi::Backend>& local() {
    static auto p = tavo::linuxwmi::makeProvider();
    return p;
}
std::shared_ptr<tavo::wmi::Backend>& remote() {
    static auto p = tavo::linuxwmi::makeRemoteProvider(sshd().shell(Sshd::currentUser()));
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
    if (!sshd().ready) {
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
    std::vector<std::string> users{Sshd::currentUser()};
    if (!sshd().plainUser().empty()) users.push_back(sshd().plainUser());
    for (const std::string& user : users) {
        std::shared_ptr<tavo::remote::RemoteShell> shell;
        try {
            shell = sshd().shell(user);
        } catch (const tavo::Error& e) {
            std::printf("as %s: no session (%s)\n", user.c_str(), e.description().c_str());
            ok = false;
            continue;
        }
        std::vector<double> empty;
        shell->run("true\n", std::chrono::seconds(20));  // the login shell starts
        for (int i = 0; i < 5; ++i) {
            const auto t0 = Clock::now();
            shell->run("true\n", std::chrono::seconds(20));
            empty.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        std::printf("as %s: an empty round trip takes %.1f ms\n", user.c_str(), median(empty));
        for (const char* cls : {"Win32_Process", "Win32_Product", "Win32_Service"}) {
            // A fresh provider: its first pass learns what the class reads,
            // and is timed too.
            auto fresh = tavo::linuxwmi::makeRemoteProvider(shell);
            const double firstMs = timedWalk(*fresh, cls);
            const int firstTrips = tavo::linuxwmi::lastRoundTrips(*fresh).value_or(-1);
            // Interleaved, so both see the same machine load.
            std::vector<double> l, r;
            int trips = -1;
            for (int i = 0; i < 7; ++i) {
                l.push_back(timedWalk(*local(), cls));
                r.push_back(timedWalk(*fresh, cls));
                trips = tavo::linuxwmi::lastRoundTrips(*fresh).value_or(-1);
            }
            const double lm = median(l), rm = median(r);
            const double ratio = rm / lm;
            const bool within = ratio <= 3.0;
            ok = ok && within;
            std::printf(
                "measured as %-10s %-14s local %7.1f ms, over SSH %7.1f ms (first pass %7.1f ms, "
                "%d round trips; later passes %d), ratio %.2f -> %s\n",
                user.c_str(), cls, lm, rm, firstMs, firstTrips, trips, ratio,
                within ? "within budget" : "OVER BUDGET");
            std::fflush(stdout);
        }
    }
    benchmark::Shutdown();
    return ok ? 0 : 1;
}
