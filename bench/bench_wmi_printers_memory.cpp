// "Printers" pass repeated 10,000 times against a private CUPS server on
// loopback, with the process's resident memory sampled as it goes. Each pass
// asks CUPS on a fresh worker thread, so memory that grows per pass would be
// a leak, while memory that grows a few times and then stays is a bounded
// cache (the C library's per-thread malloc arenas, CUPS's per-thread state).
// Budget: resident memory after pass 10,000 is at most 256 KiB above what it
// was after pass 1,000 (a leak of 32 bytes a pass would exceed it).

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/wmi/print_system.h"
#include "platform/linux/wmi/system_classes.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
constexpr long kBudgetKiB = 256;
constexpr int kPasses = 10000;

long residentKiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

int freeLoopbackPort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    const bool ok = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0;
    close(s);
    return ok ? ntohs(a.sin_port) : -1;
}

bool portOpen(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool up = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return up;
}

// A scheduler with its own configuration, spool and one queue.
struct PrivateCups {
    fs::path dir;
    pid_t pid = -1;
    int port = -1;

    bool start() {
        if (access("/usr/sbin/cupsd", X_OK) != 0) return false;
        char tmpl[] = "/tmp/tavo-cupsd-bench-XXXXXX";
        if (!mkdtemp(tmpl)) return false;
        dir = tmpl;
        chmod(dir.c_str(), 0755);
        for (const char* d : {"spool", "cache", "state", "tmp", "log"}) {
            fs::create_directories(dir / d);
        }
        port = freeLoopbackPort();
        std::ofstream(dir / "cupsd.conf")
            << "Listen 127.0.0.1:" << port << "\nBrowsing No\nWebInterface No\nLogLevel warn\n"
            << "DefaultAuthType None\n<Location />\n  Order allow,deny\n  Allow all\n"
               "</Location>\n";
        std::ofstream(dir / "cups-files.conf")
            << "ServerRoot " << dir.string() << "\nRequestRoot " << (dir / "spool").string()
            << "\nCacheDir " << (dir / "cache").string() << "\nStateDir "
            << (dir / "state").string() << "\nTempDir " << (dir / "tmp").string() << "\nErrorLog "
            << (dir / "log/error_log").string() << "\nAccessLog /dev/null\n"
            << "FileDevice Yes\nSandboxing Relaxed\n";
        pid = fork();
        if (pid == 0) {
            const int log = open((dir / "log/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (log >= 0) {
                dup2(log, 1);
                dup2(log, 2);
            }
            const std::string conf = (dir / "cupsd.conf").string();
            const std::string files = (dir / "cups-files.conf").string();
            execl("/usr/sbin/cupsd", "cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 150 && !portOpen(port); ++i) std::this_thread::sleep_for(100ms);
        if (!portOpen(port)) return false;
        const std::string cmd = "timeout 20 lpadmin -h 127.0.0.1:" + std::to_string(port) +
                                " -p BenchQueue -E -v file:///dev/null -D 'Bench queue'"
                                " >/dev/null 2>&1";
        return std::system(cmd.c_str()) == 0;
    }
    ~PrivateCups() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }
};

}  // namespace

int main() {
    PrivateCups cups;
    if (!cups.start()) {
        std::printf("budget: not measured: the private cupsd did not start (packages/cups.txt)\n");
        return 1;
    }
    tavo::linuxwmi::SystemContext ctx;
    ctx.root = "/";
    ctx.printing = tavo::linuxwmi::makeCupsPrintSystem("127.0.0.1:" + std::to_string(cups.port));

    std::vector<std::pair<int, long>> samples;
    long atThousand = 0;
    std::size_t rows = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (int pass = 1; pass <= kPasses; ++pass) {
        rows += tavo::linuxwmi::printerInstances(ctx).size();
        if (pass == 1 || pass == 10 || pass == 100 || pass % 1000 == 0) {
            samples.emplace_back(pass, residentKiB());
            if (pass == 1000) atThousand = samples.back().second;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("passes: %d in %.1f s, %zu printer rows in all\n", kPasses, seconds, rows);
    for (const auto& [pass, kib] : samples)
        std::printf("  after pass %5d: %6ld KiB resident\n", pass, kib);
    const struct mallinfo2 heap = mallinfo2();
    std::printf("  heap in use %zu KiB, arena bytes %zu KiB\n", heap.uordblks / 1024,
                heap.arena / 1024);
    const long growth = samples.back().second - atThousand;
    const bool within = rows == static_cast<std::size_t>(kPasses) && growth <= kBudgetKiB;
    std::printf("budget: resident growth from pass 1,000 to 10,000 <= %ld KiB\n", kBudgetKiB);
    std::printf("measured: %+ld KiB (%s)\n", growth,
                within ? "within budget: a bounded cache, not a leak"
                       : (rows != static_cast<std::size_t>(kPasses) ? "OVER BUDGET: passes failed"
                                                                    : "OVER BUDGET"));
    return within ? 0 : 1;
}
