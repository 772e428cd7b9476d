// Runs the network computers report against a real avahi-daemon: the test
// starts a private system bus and a daemon limited to the loopback
// interface, publishes two hosts' services and looks for both in the grid.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "netenum/list_computers.h"
#include "peer_processes.h"
#include "platform/linux/wnet/dnssd_provider.h"
#include "platform/linux/wnet/linux_wnet.h"
#include "platform/linux/wnet/resource_tree.h"
#include "support/fake_report_context.h"

#ifdef TAVO_HAVE_AVAHI
namespace tavo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::onPath;
using test::Peers;
using test::slurp;
using test::waitFor;

const char* const kBusConfig =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=@DIR@/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)";

const char* const kAvahiConfig = R"([server]
host-name=tavo-test-daemon
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
[reflector]
[rlimits]
)";

std::string withDir(std::string text, const std::string& dir) {
    const std::string mark = "@DIR@";
    for (auto p = text.find(mark); p != std::string::npos; p = text.find(mark))
        text.replace(p, mark.size(), dir);
    return text;
}

TEST(DnsSdPeer, NetworkComputersListsHostsAnnouncedOnLoopback) {
    if (geteuid() != 0) GTEST_SKIP() << "avahi-daemon needs root to start";
    for (const char* p : {"dbus-daemon", "avahi-daemon", "avahi-publish"})
        if (!onPath(p)) GTEST_SKIP() << p << " is not installed (packages/netenum.txt)";
    // The daemon's pid file has a fixed place: a running system daemon
    // cannot be joined by a private one.
    if (const std::string pid = slurp("/run/avahi-daemon/pid"); !pid.empty()) {
        const int running = std::atoi(pid.c_str());
        if (running > 0 && kill(running, 0) == 0)
            GTEST_SKIP() << "an avahi-daemon already runs on this machine (pid " << running << ")";
    }

    const auto started = std::chrono::steady_clock::now();
    Peers peers("tavo-dnssd");
    if (!fs::exists("/run/avahi-daemon")) peers.removeAfterwards("/run/avahi-daemon");
    const fs::path dir = peers.dir();
    ASSERT_FALSE(dir.empty()) << "no temporary directory";
    std::ofstream(dir / "bus.conf") << withDir(kBusConfig, dir.string());
    std::ofstream(dir / "avahi.conf") << kAvahiConfig;

    ASSERT_TRUE(
        peers.start({"dbus-daemon", "--nofork", "--config-file=" + (dir / "bus.conf").string()},
                    dir / "bus.log"));
    ASSERT_TRUE(waitFor(5s, [&] { return fs::exists(dir / "bus"); }))
        << "private bus did not start: " << slurp(dir / "bus.log");
    const std::string busAddress = "unix:path=" + (dir / "bus").string();
    setenv("DBUS_SYSTEM_BUS_ADDRESS", busAddress.c_str(), 1);

    ASSERT_TRUE(peers.start({"avahi-daemon", "--no-drop-root", "--no-chroot", "--no-rlimits",
                             "--no-proc-title", "-f", (dir / "avahi.conf").string()},
                            dir / "avahi.log"));
    linuxwnet::DnsSdProvider probe;
    ASSERT_TRUE(waitFor(10s, [&] { return probe.available(); }))
        << "avahi-daemon did not come up: " << slurp(dir / "avahi.log");

    const std::vector<std::pair<std::string, std::string>> hosts = {
        {"tavo-peer-one", "_workstation._tcp"}, {"tavo-peer-two", "_smb._tcp"}};
    for (const auto& [host, type] : hosts) {
        ASSERT_TRUE(peers.start(
            {"avahi-publish", "-s", "-H", host + ".local", host + " service", type, "9"},
            dir / (host + ".log")));
    }
    for (const auto& [host, type] : hosts) {
        ASSERT_TRUE(waitFor(
            10s,
            [&] { return slurp(dir / (host + ".log")).find("Established") != std::string::npos; }))
            << host << " not published: " << slurp(dir / (host + ".log"));
    }

    auto api = linuxwnet::makeWNetApi();
    testing::FakeReportContext ctx;
    std::int16_t onepass = -1;
    ListComputers(ctx, *api, onepass);

    std::multiset<std::string> names;
    for (int i = 1; i <= ctx.grid.itemsCount(); ++i) {
        names.insert(ctx.grid.item(i).SubItems(1));
        EXPECT_EQ(ctx.grid.item(i).SmallIcon(), 1);
    }
    // One row each, however many services or interfaces announce a host.
    EXPECT_EQ(names.count("tavo-peer-one"), 1u);
    EXPECT_EQ(names.count("tavo-peer-two"), 1u);
    EXPECT_EQ(ctx.calls.back(), "endOfPass");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 60s);
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace
}  // namespace tavo
#endif  // TAVO_HAVE_AVAHI
