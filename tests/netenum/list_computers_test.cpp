#include "netenum/list_computers.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "grid/error.h"
#include "scripted_network.h"
#include "support/fake_report_context.h"

namespace tavo {
namespace {

using test::container;

using test::ScriptedNetwork;
using test::server;

ScriptedNetwork threeServers() {
    ScriptedNetwork net;
    net.containers[""].children = {container(RESOURCEDISPLAYTYPE_NETWORK, "Net")};
    net.containers["Net"].children = {container(RESOURCEDISPLAYTYPE_DOMAIN, "WG")};
    net.containers["WG"].children = {server("CHARLIE", 0), server("ALPHA", 0), server("", 0),
                                     server("BRAVO", 0)};
    return net;
}

TEST(ListComputers, OneGreenRowPerServerInTheOrderFound) {
    ScriptedNetwork net = threeServers();
    testing::FakeReportContext ctx;
    ctx.grid.itemsAdd("", "row of the last report");
    std::int16_t onepass = -1;
    ListComputers(ctx, net, onepass);

    ASSERT_EQ(ctx.grid.columnsCount(), 2);
    EXPECT_EQ(ctx.grid.column(1).Text, "");
    EXPECT_EQ(ctx.grid.column(1).Width, 300);
    EXPECT_EQ(ctx.grid.column(2).Text, "Computer");
    EXPECT_EQ(ctx.grid.column(2).Width, 2000);
    // An empty server name still makes its (empty) row.
    const std::vector<std::string> names = {"CHARLIE", "ALPHA", "", "BRAVO"};
    ASSERT_EQ(ctx.grid.itemsCount(), 4);
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(ctx.grid.item(i).Text(), "");
        EXPECT_EQ(ctx.grid.item(i).SmallIcon(), 1);
        EXPECT_EQ(ctx.grid.item(i).Key(), "");
        EXPECT_EQ(ctx.grid.item(i).SubItems(1), names[i - 1]);
    }
    EXPECT_EQ(ctx.calls, (std::vector<std::string>{"setIntervalVisible(false)", "processEvents",
                                                   "processEvents", "resetPointer", "endOfPass"}));
}

// Only the leading \\ of a server's remote name is a prefix; backslashes
// inside a name (a DNS-SD instance may hold them) stay.
TEST(ListComputers, BackslashesInsideANameAreKept) {
    ScriptedNetwork net;
    net.containers[""].children = {server("back\\slash", 0), server("two\\\\in", 0),
                                   server("\\\\lead", 0)};
    testing::FakeReportContext ctx;
    std::int16_t onepass = -1;
    ListComputers(ctx, net, onepass);
    ASSERT_EQ(ctx.grid.itemsCount(), 3);
    EXPECT_EQ(ctx.grid.item(1).SubItems(1), "back\\slash");
    EXPECT_EQ(ctx.grid.item(2).SubItems(1), "two\\\\in");
    EXPECT_EQ(ctx.grid.item(3).SubItems(1), "\\\\lead");
}

TEST(ListComputers, FlagDecidesIntervalFieldAndEndOfPass) {
    ScriptedNetwork net = threeServers();
    testing::FakeReportContext periodic;
    std::int16_t zero = 0;
    ListComputers(periodic, net, zero);
    EXPECT_EQ(periodic.calls.front(), "setIntervalVisible(true)");
    EXPECT_EQ(periodic.calls.back(), "resetPointer");

    // Any nonzero flag hides the field; only -1 ends the pass.
    testing::FakeReportContext other;
    std::int16_t one = 1;
    ListComputers(other, net, one);
    EXPECT_EQ(other.calls.front(), "setIntervalVisible(false)");
    EXPECT_EQ(other.calls.back(), "resetPointer");
}

TEST(ListComputers, NoNetworkGivesColumnsAndNoRows) {
    ScriptedNetwork none;
    none.containers[""].openResult = ERROR_NO_NETWORK;
    testing::FakeReportContext ctx;
    std::int16_t onepass = -1;
    ListComputers(ctx, none, onepass);
    EXPECT_EQ(ctx.grid.columnsCount(), 2);
    EXPECT_EQ(ctx.grid.itemsCount(), 0);
    EXPECT_EQ(ctx.calls.back(), "endOfPass");
}

TEST(ListComputers, FailuresReachTheCycleAsErrorsAndStillEndThePass) {
    // The enumeration layer throwing something that is not the core's error.
    struct Throwing : ScriptedNetwork {
        DWORD openEnum(DWORD, DWORD, DWORD, NETRESOURCEA*, HANDLE*) override {
            throw std::runtime_error("provider crashed");
        }
    } net;
    testing::FakeReportContext ctx;
    std::int16_t onepass = -1;
    try {
        ListComputers(ctx, net, onepass);
        FAIL() << "no error reported";
    } catch (const Error& e) {
        EXPECT_NE(e.description().find("provider crashed"), std::string::npos);
    }
    EXPECT_EQ(ctx.calls.back(), "endOfPass");

    // The core's own errors pass unchanged, number and all.
    ScriptedNetwork fine = threeServers();
    testing::FakeReportContext busy;
    busy.onProcessEvents = [] { throw Error(errc::kIndexOutOfBounds, "Index out of bounds"); };
    std::int16_t flag = -1;
    try {
        ListComputers(busy, fine, flag);
        FAIL() << "no error reported";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::kIndexOutOfBounds);
    }
    EXPECT_EQ(busy.calls.back(), "endOfPass");
}

}  // namespace
}  // namespace tavo
