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
#include "tests/linux/wmi/private_cupsd.h"

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

// A scheduler with its own configuration, spool and one queue.
struct PrivateCups {
    tavo::linuxwmi::PrivateCupsd cupsd;
    int port = -1;

    bool start() {
        if (!cupsd.start("/tmp/tavo-cupsd-bench-XXXXXX").empty()) return false;
        port = cupsd.port;
        const std::string cmd = "timeout 20 lpadmin -h " + cupsd.server() +
                                " -p BenchQueue -E -v file:///dev/null -D 'Bench queue'"
                                " >/dev/null 2>&1";
        return std::system(cmd.c_str()) == 0;
    }
    ~PrivateCups() { cupsd.stop(); }
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
