#include "netenum/network_enum.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stop_token>
#include <string>
#include <thread>

#include "cycle/cancellation.h"

#include "scripted_network.h"

namespace tavo {
namespace {

using test::container;
using test::leaf;
using test::ScriptedNetwork;
using test::server;

constexpr DWORD kAll = 0xFFFFFFFFu;

// Two providers; one workgroup with two servers that have shares.
ScriptedNetwork officeNetwork() {
    ScriptedNetwork net;
    net.containers[""].children = {container(RESOURCEDISPLAYTYPE_NETWORK, "Windows Network"),
                                   container(RESOURCEDISPLAYTYPE_NETWORK, "Web Client")};
    net.containers["Windows Network"].children = {container(RESOURCEDISPLAYTYPE_DOMAIN, "WG"),
                                                  container(RESOURCEDISPLAYTYPE_DOMAIN, "LAB")};
    net.containers["Web Client"].children = {};
    net.containers["WG"].children = {server("ALPHA"), server("BETA")};
    net.containers["LAB"].openResult = ERROR_NO_NETWORK;
    net.containers["\\\\ALPHA"].children = {leaf(RESOURCEDISPLAYTYPE_SHARE, "\\\\ALPHA\\docs")};
    net.containers["\\\\BETA"].children = {leaf(RESOURCEDISPLAYTYPE_SHARE, "\\\\BETA\\print"),
                                           leaf(RESOURCEDISPLAYTYPE_SHAREADMIN, "\\\\BETA\\C$")};
    return net;
}

TEST(NetworkEnum, WalksTheTreeBreadthFirstAndSortsNamesByDisplayType) {
    ScriptedNetwork net = officeNetwork();
    CNetworkEnum e(net);
    EXPECT_EQ(e.GetResourceType(), 1);
    e.SetResourceType(0);
    e.Reset();

    // Providers first, then what they hold, in table order; the failed
    // workgroup is skipped and the walk goes on.
    EXPECT_EQ(net.opened, (std::vector<std::string>{"", "Windows Network", "Web Client", "WG",
                                                    "LAB", "\\\\ALPHA", "\\\\BETA"}));
    for (std::size_t k = 0; k < net.opened.size(); ++k) {
        EXPECT_EQ(net.scopes[k], RESOURCE_GLOBALNET);
        EXPECT_EQ(net.types[k], 0u);
        EXPECT_EQ(net.usages[k], 0u);
    }
    // Only handles whose open succeeded are closed, each once.
    EXPECT_EQ(net.closes, 6);
    EXPECT_EQ(net.openHandles, 0);
    for (const auto& call : net.enumCalls) EXPECT_EQ(call.size, CNetworkEnum::kRequestSize);
    EXPECT_EQ(net.enumCalls.front().requested, kAll);

    EXPECT_EQ(e.GetServerList(), "\\\\ALPHA,\\\\BETA,");
    EXPECT_EQ(e.GetDomainList(), "WG, LAB, ");
    EXPECT_EQ(e.GetNetworkList(), "Windows Network|Web Client|");
    EXPECT_EQ(e.GetShareList(), "\\\\ALPHA\\docs|\\\\BETA\\print|");
    EXPECT_EQ(e.GetShareAdminList(), "\\\\BETA\\C$|");
    EXPECT_EQ(e.GetPrinterList(), "");
    EXPECT_EQ(e.GetLocalUserName(), "alice");
    EXPECT_EQ(e.GetLocalMachineName(), "HOST");
}

TEST(NetworkEnum, EveryDisplayTypeHasItsListAndUnknownTypesStillGetOpened) {
    ScriptedNetwork net;
    auto& top = net.containers[""].children;
    for (DWORD t = 0; t <= 9; ++t) top.push_back(leaf(t, "n" + std::to_string(t)));
    top.push_back(container(RESOURCEDISPLAYTYPE_TREE, "tree"));
    top.push_back(container(RESOURCEDISPLAYTYPE_NDSCONTAINER, "nds"));
    top.push_back(leaf(0xFFFFFFF0u, "odd"));
    net.containers["tree"].children = {server("UNDERTREE", 0)};
    net.containers["nds"].children = {leaf(RESOURCEDISPLAYTYPE_DOMAIN, "UNDERNDS")};
    top.push_back({RESOURCEDISPLAYTYPE_FILE, 0, std::nullopt, std::nullopt, {}, {}});

    CNetworkEnum e(net);
    e.Reset();
    EXPECT_EQ(e.GetGenericList(), "n0|");
    EXPECT_EQ(e.GetDomainList(), "n1, UNDERNDS, ");
    EXPECT_EQ(e.GetServerList(), "n2,\\\\UNDERTREE,");
    EXPECT_EQ(e.GetShareList(), "n3|");
    // A record without a remote name still takes its place: a bare separator.
    EXPECT_EQ(e.GetFileList(), "n4||");
    EXPECT_EQ(e.GetGroupList(), "n5|");
    EXPECT_EQ(e.GetNetworkList(), "n6|");
    EXPECT_EQ(e.GetRootList(), "n7|");
    EXPECT_EQ(e.GetShareAdminList(), "n8|");
    EXPECT_EQ(e.GetDirectoryList(), "n9|");
    EXPECT_EQ(e.GetPrinterList(), "");
    EXPECT_EQ(net.opened, (std::vector<std::string>{"", "tree", "nds"}));
}

TEST(NetworkEnum, NoNetworkAndSingleRecordLeaveEverythingEmpty) {
    ScriptedNetwork none;
    none.containers[""].openResult = ERROR_NO_NETWORK;
    CNetworkEnum a(none);
    a.Reset();
    EXPECT_EQ(none.closes, 0);
    EXPECT_EQ(a.GetServerList(), "");
    EXPECT_EQ(a.GetNetworkList(), "");
    EXPECT_EQ(a.GetLocalUserName(), "");
    EXPECT_EQ(a.GetLocalMachineName(), "");

    // One record is below the threshold: not sorted, names not read.
    ScriptedNetwork one;
    one.containers[""].children = {container(RESOURCEDISPLAYTYPE_NETWORK, "Only")};
    one.containers["Only"].children = {};
    CNetworkEnum b(one);
    b.Reset();
    EXPECT_EQ(one.opened.size(), 2u);
    EXPECT_EQ(b.GetNetworkList(), "");
    EXPECT_EQ(b.GetLocalUserName(), "");
}

TEST(NetworkEnum, MoreDataRepeatsKeepTheReportedCountAndReadEverything) {
    ScriptedNetwork net;
    net.containers[""].children = {container(RESOURCEDISPLAYTYPE_DOMAIN, "WG")};
    auto& wg = net.containers["WG"];
    wg.batch = 2;
    for (const char* n : {"A", "B", "C", "D", "E"}) wg.children.push_back(server(n, 0));
    CNetworkEnum e(net);
    e.Reset();
    EXPECT_EQ(e.GetServerList(), "\\\\A,\\\\B,\\\\C,\\\\D,\\\\E,");
    // Top level once, then WG: -1, then the count of 2 the first call reported.
    ASSERT_EQ(net.enumCalls.size(), 4u);
    EXPECT_EQ(net.enumCalls[1].requested, kAll);
    EXPECT_EQ(net.enumCalls[2].requested, 2u);
    EXPECT_EQ(net.enumCalls[3].requested, 2u);
}

TEST(NetworkEnum, RecordsUseThePlatformRecordSize) {
    static_assert(CNetworkEnum::kRequestSize == 256 * sizeof(NETRESOURCEA) / 2);
    // Hundreds of servers come through many calls, each record read at the
    // platform's own stride: a shorter stride would turn names into garbage.
    ScriptedNetwork net;
    net.containers[""].children = {container(RESOURCEDISPLAYTYPE_DOMAIN, "WG")};
    std::string expected;
    for (int k = 0; k < 300; ++k) {
        const std::string name = "SRV" + std::to_string(k);
        net.containers["WG"].children.push_back(server(name, 0));
        expected += "\\\\" + name + ",";
    }
    CNetworkEnum e(net);
    e.Reset();
    EXPECT_EQ(e.GetServerList(), expected);
    EXPECT_GT(net.enumCalls.size(), 3u);
}

TEST(NetworkEnum, ACountBeyondWhatTheToldSizeHoldsIsNotBelieved) {
    // The back end fills the told size with records (no strings, so exactly
    // as many as fit) and claims thousands more: believing it would read far
    // past the area.
    ScriptedNetwork net;
    net.containers[""].children = {container(RESOURCEDISPLAYTYPE_DOMAIN, "WG")};
    auto& wg = net.containers["WG"];
    wg.overReport = 5000;
    const std::size_t fit = CNetworkEnum::kRequestSize / sizeof(NETRESOURCEA);
    test::Entry nameless;
    nameless.displayType = RESOURCEDISPLAYTYPE_SERVER;
    wg.children.assign(fit, nameless);
    wg.children.push_back(server("LAST", 0));
    CNetworkEnum e(net);
    e.Reset();
    // Each nameless server is an empty name in the list; then the next call's.
    EXPECT_EQ(e.GetServerList(), std::string(fit, ',') + "\\\\LAST,");
}

TEST(NetworkEnum, ARecordThatExactlyFillsTheToldSizeIsReadWhole) {
    ScriptedNetwork net;
    net.containers[""].children = {container(RESOURCEDISPLAYTYPE_DOMAIN, "WG")};
    // One record and its one string take every byte of the told size.
    const std::size_t nameLength = CNetworkEnum::kRequestSize - sizeof(NETRESOURCEA) - 1;
    test::Entry big;
    big.displayType = RESOURCEDISPLAYTYPE_SERVER;
    big.remote = "\\\\" + std::string(nameLength - 3, 'N') + "Z";
    ASSERT_EQ(sizeof(NETRESOURCEA) + big.remote->size() + 1, CNetworkEnum::kRequestSize);
    net.containers["WG"].children = {big, server("SMALL", 0)};
    CNetworkEnum e(net);
    e.Reset();
    EXPECT_EQ(e.GetServerList(), *big.remote + ",\\\\SMALL,");
    // It came alone in its call; the small one followed in the next.
    ASSERT_EQ(net.enumCalls.size(), 3u);
}

TEST(NetworkEnum, AFailedReadAfterABatchDoesNotTakeTheOldRecordsAgain) {
    ScriptedNetwork net;
    net.containers[""].children = {container(RESOURCEDISPLAYTYPE_DOMAIN, "WG")};
    auto& wg = net.containers["WG"];
    wg.batch = 2;
    wg.failAfterFirst = ERROR_NO_MORE_ITEMS;  // leaves the count at 2
    for (const char* n : {"A", "B", "C"}) wg.children.push_back(server(n, 0));
    CNetworkEnum e(net);
    e.Reset();
    EXPECT_EQ(e.GetServerList(), "\\\\A,\\\\B,");
}

TEST(NetworkEnum, ContainerReportedTwiceIsOpenedTwiceAndNullTextsStayNull) {
    ScriptedNetwork net;
    net.containers[""].children = {container(RESOURCEDISPLAYTYPE_NETWORK, "P1"),
                                   container(RESOURCEDISPLAYTYPE_NETWORK, "P2")};
    net.containers["P1"].children = {container(RESOURCEDISPLAYTYPE_DOMAIN, "WG")};
    test::Entry local = container(RESOURCEDISPLAYTYPE_DOMAIN, "WG");
    local.local = "W:";
    net.containers["P2"].children = {local};
    net.containers["WG"].children = {server("SHARED", 0)};
    CNetworkEnum e(net);
    e.Reset();
    EXPECT_EQ(e.GetServerList(), "\\\\SHARED,\\\\SHARED,");
    EXPECT_EQ(e.GetDomainList(), "WG, WG, ");
    // Parents go back as reported: a local name only where one was given.
    ASSERT_EQ(net.parentLocalNames.size(), 4u);
    EXPECT_FALSE(net.parentLocalNames[0].has_value());
    EXPECT_FALSE(net.parentLocalNames[2].has_value());
    EXPECT_EQ(net.parentLocalNames[3], "W:");
}

TEST(NetworkEnum, SecondResetAppendsOnlyWhatItFindsItself) {
    ScriptedNetwork net = officeNetwork();
    CNetworkEnum e(net);
    e.SetResourceType(0);
    e.Reset();
    e.Reset();
    EXPECT_EQ(e.GetServerList(), "\\\\ALPHA,\\\\BETA,\\\\ALPHA,\\\\BETA,");

    // The network gone: the earlier walk's records are not listed again.
    net.containers[""].openResult = ERROR_NO_NETWORK;
    e.Reset();
    EXPECT_EQ(e.GetServerList(), "\\\\ALPHA,\\\\BETA,\\\\ALPHA,\\\\BETA,");
}

TEST(NetworkEnum, WalkEndsOnOversizedEntriesSelfListingContainersAndItsDeadline) {
    // An entry that never fits is given up after a few empty repeats; the
    // walk goes on with the next container.
    ScriptedNetwork big;
    big.containers[""].children = {container(RESOURCEDISPLAYTYPE_DOMAIN, "HUGE"),
                                   container(RESOURCEDISPLAYTYPE_DOMAIN, "WG")};
    big.containers["HUGE"].children = {server(std::string(8000, 'x'), 0)};
    big.containers["WG"].children = {server("OK", 0)};
    CNetworkEnum a(big);
    a.Reset();
    EXPECT_EQ(a.GetServerList(), "\\\\OK,");
    EXPECT_EQ(big.closes, 3);

    // A container that lists itself (twice, so the queue grows) stops at the
    // table cap, and what was found is listed.
    ScriptedNetwork loop;
    loop.containers[""].children = {container(RESOURCEDISPLAYTYPE_DOMAIN, "LOOP")};
    loop.containers["LOOP"].children = {container(RESOURCEDISPLAYTYPE_DOMAIN, "LOOP"),
                                        container(RESOURCEDISPLAYTYPE_DOMAIN, "LOOP")};
    netenum::WalkLimits capped;
    capped.maxRecords = 500;
    CNetworkEnum b(loop, capped);
    b.Reset();
    std::string domains = b.GetDomainList();
    std::size_t names = 0;
    for (std::size_t p = 0; (p = domains.find("LOOP, ", p)) != std::string::npos; p += 6) ++names;
    EXPECT_EQ(names, 500u);
    EXPECT_EQ(loop.openHandles, 0);

    // The same loop with a slow network ends at the deadline.
    ScriptedNetwork slow = loop;
    slow.openDelay = std::chrono::milliseconds(5);
    netenum::WalkLimits timed;
    timed.deadline = std::chrono::milliseconds(200);
    CNetworkEnum c(slow, timed);
    const auto start = std::chrono::steady_clock::now();
    c.Reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(c.GetDomainList().empty());
    EXPECT_EQ(slow.openHandles, 0);
}

TEST(NetworkEnum, StopEndsTheWalkLongBeforeItsDeadlineAndClosesWhatItOpened) {
    // A network that keeps the walk busy for ever: a container that lists
    // itself, each open slow.
    ScriptedNetwork loop;
    loop.containers[""].children = {container(RESOURCEDISPLAYTYPE_DOMAIN, "LOOP")};
    loop.containers["LOOP"].children = {container(RESOURCEDISPLAYTYPE_DOMAIN, "LOOP"),
                                        container(RESOURCEDISPLAYTYPE_DOMAIN, "LOOP")};
    loop.openDelay = std::chrono::milliseconds(5);
    netenum::WalkLimits limits;
    limits.deadline = std::chrono::seconds(60);
    CNetworkEnum walker(loop, limits);

    std::stop_source stop;
    cycle::StopScope scope(stop.get_token());
    std::thread user([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop.request_stop();
    });
    const auto start = std::chrono::steady_clock::now();
    walker.Reset();
    const auto took = std::chrono::steady_clock::now() - start;
    user.join();
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_FALSE(walker.GetDomainList().empty()) << "what was found before STOP is kept";
    EXPECT_EQ(loop.openHandles, 0);
}

}  // namespace
}  // namespace tavo
