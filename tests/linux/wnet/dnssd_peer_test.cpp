// Runs the network computers report against a real avahi-daemon: the test
// starts a private system bus and a daemon limited to the loopback
// interface, publishes two hosts' services and looks for both in the grid.

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>

#include "netenum/list_computers.h"
#include "platform/linux/wnet/linux_wnet.h"
#include "support/fake_report_context.h"

#ifdef TAVO_HAVE_AVAHI
#include "dnssd_loopback.h"

namespace tavo {
namespace {

using namespace std::chrono_literals;

TEST(DnsSdPeer, NetworkComputersListsHostsAnnouncedOnLoopback) {
    if (const auto reason = test::DnsSdLoopback::skipReason()) GTEST_SKIP() << *reason;
    const auto started = std::chrono::steady_clock::now();
    test::DnsSdLoopback neighbourhood;
    const std::string failed = neighbourhood.start(
        {{"tavo-peer-one", "_workstation._tcp"}, {"tavo-peer-two", "_smb._tcp"}});
    ASSERT_EQ(failed, "");

    auto api = linuxwnet::makeWNetApi();
    testing::FakeReportContext ctx;
    std::int16_t onepass = -1;
    ListComputers(ctx, *api, onepass);

    std::multiset<std::string> names;
    for (int i = 1; i <= ctx.grid.itemsCount(); ++i) {
        names.emplace(ctx.grid.item(i).SubItems(1));
        EXPECT_EQ(ctx.grid.item(i).SmallIcon(), 1);
    }
    // One row each, however many services or interfaces announce a host.
    EXPECT_EQ(names.count("tavo-peer-one"), 1u);
    EXPECT_EQ(names.count("tavo-peer-two"), 1u);
    EXPECT_EQ(ctx.calls.back(), "endOfPass");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 60s);
}

}  // namespace
}  // namespace tavo
#endif  // TAVO_HAVE_AVAHI
