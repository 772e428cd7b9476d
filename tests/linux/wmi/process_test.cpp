#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "linux/wmi/cim_type_check.h"
#include "linux/wmi/zone_guard.h"
#include "platform/linux/wmi/core_classes.h"

namespace tavo::linuxwmi {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::map<std::int64_t, Instance> byPid(const std::vector<Instance>& procs) {
    std::map<std::int64_t, Instance> out;
    for (const auto& p : procs) out.emplace(p.find("ProcessId")->integer(), p);
    return out;
}

TEST(Process, ReadsEveryFieldFromProc) {
    testing::ZoneGuard zone("JST-9");
    SystemContext ctx;
    ctx.root = std::string(TAVO_TEST_DATA) + "/provider-core/processes";
    const auto procs = byPid(produceProcesses(ctx));
    // 300 ended mid-read: skipped, not an error and not a row of nulls.
    ASSERT_EQ(procs.size(), 3u);
    EXPECT_FALSE(procs.count(300));

    const Instance& p = procs.at(100);
    EXPECT_EQ(*p.find("Name"), wmi::Value("my (odd) app"));
    EXPECT_EQ(*p.find("Caption"), wmi::Value("my (odd) app"));
    EXPECT_EQ(*p.find("Handle"), wmi::Value("100"));
    EXPECT_EQ(*p.find("ParentProcessId"), wmi::Value(1));
    EXPECT_EQ(*p.find("ExecutablePath"), wmi::Value("/usr/bin/my app"));
    EXPECT_EQ(*p.find("CommandLine"), wmi::Value("/usr/bin/my app --flag two words"));
    const long ticks = sysconf(_SC_CLK_TCK);
    // Boot at 1700000000 (22:13:20 UTC), started 5000 ticks later.
    ASSERT_EQ(ticks, 100);
    EXPECT_EQ(*p.find("CreationDate"), wmi::Value("20231115071410.000000+540"));
    EXPECT_EQ(*p.find("ThreadCount"), wmi::Value(3));
    EXPECT_EQ(*p.find("HandleCount"), wmi::Value(4));
    EXPECT_EQ(*p.find("Priority"), wmi::Value(8));  // nice 0: normal, as WMI counts it
    EXPECT_EQ(*p.find("WorkingSetSize"),
              wmi::Value(std::to_string(2560LL * sysconf(_SC_PAGESIZE))));
    EXPECT_EQ(*p.find("VirtualSize"), wmi::Value("104857600"));
    EXPECT_EQ(*p.find("PeakVirtualSize"), wmi::Value(std::to_string(110000LL * 1024)));
    EXPECT_EQ(*p.find("PeakWorkingSetSize"), wmi::Value(12000));  // KB, as WMI counts it
    EXPECT_EQ(*p.find("PageFaults"), wmi::Value(155));
    EXPECT_EQ(*p.find("UserModeTime"), wmi::Value(std::to_string(250LL * 10000000 / ticks)));
    EXPECT_EQ(*p.find("KernelModeTime"), wmi::Value(std::to_string(120LL * 10000000 / ticks)));
    EXPECT_EQ(*p.find("SessionId"), wmi::Value(100));
    EXPECT_EQ(*p.find("ReadTransferCount"), wmi::Value("4096"));
    EXPECT_EQ(*p.find("WriteTransferCount"), wmi::Value("2048"));
    EXPECT_EQ(*p.find("CSName"), wmi::Value("FIXTUREBOX"));
    EXPECT_EQ(*p.find("OSName"), wmi::Value("Debian GNU/Linux 12 (bookworm)"));
    EXPECT_TRUE(p.find("Status")->isNull());

    // A kernel thread: no command line, no executable, no descriptors to read.
    const Instance& k = procs.at(200);
    EXPECT_EQ(*k.find("Name"), wmi::Value("kworker/0:1"));
    EXPECT_TRUE(k.find("CommandLine")->isNull());
    EXPECT_TRUE(k.find("ExecutablePath")->isNull());
    EXPECT_TRUE(k.find("HandleCount")->isNull());
    EXPECT_TRUE(k.find("ReadTransferCount")->isNull());

    // The kernel's 15-character name is completed from the executable;
    // a real-time process is in WMI's real-time class.
    const Instance& l = procs.at(400);
    EXPECT_EQ(*l.find("Name"), wmi::Value("averyveryverylongname"));
    EXPECT_EQ(*l.find("Priority"), wmi::Value(24));
}

// A command line whose read never returns (a FIFO with no writer stands in
// for a process stuck in uninterruptible sleep).
TEST(Process, AHungCommandLineStaysNullAndThePassGoesOn) {
    const fs::path root = fs::temp_directory_path() / ("tavo-proc-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "proc/500");
    fs::create_directories(root / "proc/501");
    for (int pid : {500, 501}) {
        std::ofstream(root / "proc" / std::to_string(pid) / "stat")
            << pid << " (sleeper) D 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 100 4096 1 0\n";
        std::ofstream(root / "proc" / std::to_string(pid) / "status") << "Name:\tsleeper\n";
    }
    std::ofstream(root / "proc/501/cmdline") << "ok";
    const fs::path fifo = root / "proc/500/cmdline";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    SystemContext ctx;
    ctx.root = root;
    ctx.deadline = 300ms;
    ctx.lost = std::make_shared<LostValues>();
    auto start = std::chrono::steady_clock::now();
    auto procs = byPid(produceProcesses(ctx));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    ASSERT_EQ(procs.size(), 2u);
    EXPECT_TRUE(procs.at(500).find("CommandLine")->isNull());
    EXPECT_EQ(*procs.at(500).find("Name"), wmi::Value("sleeper"));
    // The blocked read costs only its own line, even on the first pass,
    // and the line is said to be lost, not shown as empty.
    EXPECT_EQ(*procs.at(501).find("CommandLine"), wmi::Value("ok"));
    EXPECT_EQ(ctx.lost->summary(), "1 value could not be read in time (/proc/500/cmdline)");

    // The next pass passes the stuck one by and reads the rest.
    ctx.lost = std::make_shared<LostValues>();
    start = std::chrono::steady_clock::now();
    procs = byPid(produceProcesses(ctx));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 250ms);
    EXPECT_TRUE(procs.at(500).find("CommandLine")->isNull());
    EXPECT_EQ(*procs.at(501).find("CommandLine"), wmi::Value("ok"));
    EXPECT_EQ(ctx.lost->summary(), "1 value could not be read in time (/proc/500/cmdline)");

    // Release the stuck reader: a writer that opens and closes gives it EOF.
    const int w = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (w >= 0) close(w);
    std::this_thread::sleep_for(50ms);
    fs::remove_all(root);
}

// A process that exec's another program while its command line is read:
// the FIFO holds the read until the test has changed the process's stat and
// status, as an exec between the row's first reads and its last would. The
// row is then read again, and describes one program whole.
TEST(Process, AProgramThatExecsMidReadNeverGivesAMixedRow) {
    const fs::path root = fs::temp_directory_path() / ("tavo-exec-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "proc/600");
    const auto becomes = [&](const char* name) {
        std::ofstream(root / "proc/600/stat")
            << "600 (" << name << ") S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 100 4096 1 0\n";
        std::ofstream(root / "proc/600/status") << "Name:\t" << name << "\n";
    };
    becomes("launcher");
    const fs::path fifo = root / "proc/600/cmdline";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const char args[] = "payload\0--secret-mode";

    std::thread execs([&] {
        const int w = open(fifo.c_str(), O_WRONLY);  // waits for the reader
        // By now the row's stat has long been read as "launcher".
        std::this_thread::sleep_for(100ms);
        becomes("payload");
        // The new program's line is another file: the first read ends with
        // the old one.
        fs::remove(fifo);
        mkfifo(fifo.c_str(), 0600);
        if (w >= 0) {
            (void)!write(w, args, sizeof args - 1);
            close(w);
        }
        // The second read finds the payload's own line.
        for (int i = 0; i < 400; ++i) {
            const int again = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (again >= 0) {
                (void)!write(again, args, sizeof args - 1);
                close(again);
                return;
            }
            std::this_thread::sleep_for(5ms);
        }
    });
    SystemContext ctx;
    ctx.root = root;
    ctx.deadline = 2000ms;
    const auto lost = std::make_shared<LostValues>();
    ctx.lost = lost;
    const auto procs = byPid(produceProcesses(ctx));
    execs.join();
    fs::remove_all(root);
    ASSERT_EQ(procs.count(600), 1u);
    // The launcher's name never stands beside the payload's arguments.
    EXPECT_EQ(*procs.at(600).find("Name"), wmi::Value("payload"));
    EXPECT_EQ(*procs.at(600).find("CommandLine"), wmi::Value("payload --secret-mode"));
    EXPECT_EQ(lost->summary(), "");
}

TEST(Process, ThisMachineAgreesWithItself) {
    EXPECT_GE(testing::expectMachineCimTypes("Win32_Process"), 2);
    auto rs = makeProvider()->connect(".")->execQuery(
        "SELECT * FROM Win32_Process WHERE ProcessId = " + std::to_string(getpid()));
    auto me = rs->next();
    ASSERT_TRUE(me);
    EXPECT_EQ(me->get("ParentProcessId"), wmi::Value(static_cast<std::int64_t>(getppid())));
    EXPECT_EQ(me->get("ExecutablePath"), wmi::Value(fs::read_symlink("/proc/self/exe").string()));
    EXPECT_NE(me->get("CommandLine").text().find("tavo_linux_wmi_tests"), std::string::npos);
    EXPECT_GE(me->get("ThreadCount").integer(), 1);
    EXPECT_GE(me->get("HandleCount").integer(), 3);
    EXPECT_FALSE(rs->next());
}

}  // namespace
}  // namespace tavo::linuxwmi
