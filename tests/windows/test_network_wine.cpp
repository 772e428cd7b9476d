// mpr's enumeration under Wine, over the test network provider that the test
// script registers in the prefix (Wine ships no provider of its own).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/windows/mpr_wnet.h"

namespace {

struct Found {
    DWORD displayType;
    DWORD usage;
    std::string remoteName;
};

// One level of the tree below `parent` (the top level when null), read the
// way the enumerator reads it: a fixed buffer, all entries that fit, repeated
// while mpr says there is more.
std::vector<Found> children(tavo::netenum::WNetApi& api, NETRESOURCEA* parent, DWORD* openResult) {
    std::vector<Found> out;
    HANDLE h = nullptr;
    *openResult = api.openEnum(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, parent, &h);
    if (*openResult != NO_ERROR) return out;
    alignas(NETRESOURCEA) char buffer[16384];
    for (;;) {
        DWORD count = 0xFFFFFFFF;
        DWORD size = sizeof buffer;
        const DWORD r = api.enumResource(h, &count, buffer, &size);
        if (r != NO_ERROR && r != ERROR_MORE_DATA) break;
        const auto* records = reinterpret_cast<const NETRESOURCEA*>(buffer);
        for (DWORD i = 0; i < count; ++i) {
            out.push_back({records[i].dwDisplayType, records[i].dwUsage,
                           records[i].lpRemoteName ? records[i].lpRemoteName : ""});
        }
        if (r == NO_ERROR && count == 0) break;
    }
    api.closeEnum(h);
    return out;
}

}  // namespace

TEST(MprUnderWine, TheWalkReachesTheRegisteredProvidersServersAndShares) {
    auto api = tavo::winwnet::makeMprWNetApi();
    DWORD r = 0;
    const auto top = children(*api, nullptr, &r);
    ASSERT_EQ(r, static_cast<DWORD>(NO_ERROR))
        << "mpr found no network provider: run the tests through `make test-windows`, which "
           "registers the test provider in the Wine prefix";
    const Found* provider = nullptr;
    for (const auto& f : top) {
        if (f.remoteName == "Tavo Test Network") provider = &f;
    }
    ASSERT_NE(provider, nullptr);
    EXPECT_TRUE(provider->usage & RESOURCEUSAGE_CONTAINER);

    NETRESOURCEA parent{};
    parent.dwScope = RESOURCE_GLOBALNET;
    parent.dwDisplayType = provider->displayType;
    parent.dwUsage = provider->usage;
    std::string providerName = provider->remoteName;
    parent.lpRemoteName = providerName.data();
    parent.lpProvider = providerName.data();
    const auto servers = children(*api, &parent, &r);
    ASSERT_EQ(r, static_cast<DWORD>(NO_ERROR));
    ASSERT_EQ(servers.size(), 2u);
    EXPECT_EQ(servers[0].remoteName, "\\\\TAVOSRV1");
    EXPECT_EQ(servers[0].displayType, static_cast<DWORD>(RESOURCEDISPLAYTYPE_SERVER));

    std::string server = servers[1].remoteName;
    NETRESOURCEA serverRes{};
    serverRes.dwScope = RESOURCE_GLOBALNET;
    serverRes.dwDisplayType = RESOURCEDISPLAYTYPE_SERVER;
    serverRes.dwUsage = RESOURCEUSAGE_CONTAINER;
    serverRes.lpRemoteName = server.data();
    serverRes.lpProvider = providerName.data();
    const auto shares = children(*api, &serverRes, &r);
    ASSERT_EQ(r, static_cast<DWORD>(NO_ERROR));
    ASSERT_EQ(shares.size(), 2u);
    EXPECT_EQ(shares[0].remoteName, "\\\\TAVOSRV2\\public");
    EXPECT_EQ(shares[0].displayType, static_cast<DWORD>(RESOURCEDISPLAYTYPE_SHARE));
}

TEST(MprUnderWine, LocalNamesComeFromTheSystem) {
    auto api = tavo::winwnet::makeMprWNetApi();
    EXPECT_FALSE(api->computerName().empty());
    EXPECT_FALSE(api->userName().empty());
}

#include "netenum/list_computers.h"
#include "netenum/network_enum.h"
#include "support/fake_report_context.h"

TEST(MprUnderWine, TheEnumeratorSortsTheWalkIntoItsLists) {
    auto api = tavo::winwnet::makeMprWNetApi();
    tavo::CNetworkEnum e(*api);
    e.SetResourceType(RESOURCETYPE_ANY);
    e.Reset();
    const std::string servers = e.GetServerList();
    EXPECT_NE(servers.find("\\\\TAVOSRV1"), std::string::npos) << servers;
    EXPECT_NE(servers.find("\\\\TAVOSRV2"), std::string::npos) << servers;
    const std::string shares = e.GetShareList();
    EXPECT_NE(shares.find("\\\\TAVOSRV1\\public"), std::string::npos) << shares;
    EXPECT_NE(shares.find("\\\\TAVOSRV2\\print$"), std::string::npos) << shares;
    EXPECT_EQ(servers.find("public"), std::string::npos) << "a share landed in the server list";
    EXPECT_FALSE(e.GetLocalMachineName().empty());
}

TEST(MprUnderWine, TheNetworkComputersReportListsEachServerByName) {
    auto api = tavo::winwnet::makeMprWNetApi();
    tavo::testing::FakeReportContext ctx;
    std::int16_t onepass = -1;
    tavo::ListComputers(ctx, *api, onepass);
    std::vector<std::string> rows;
    for (int i = 1; i <= ctx.grid.itemsCount(); ++i) {
        const auto& item = ctx.grid.item(i);
        rows.push_back(std::string(item.Text()) + "|" + std::string(item.SubItems(1)));
        EXPECT_EQ(item.SmallIcon(), 1);
    }
    EXPECT_NE(std::find(rows.begin(), rows.end(), "|TAVOSRV1"), rows.end());
    EXPECT_NE(std::find(rows.begin(), rows.end(), "|TAVOSRV2"), rows.end());
    EXPECT_EQ(ctx.endOfPassCalls, 1);
}
