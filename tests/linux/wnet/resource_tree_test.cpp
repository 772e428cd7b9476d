#include "platform/linux/wnet/resource_tree.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "container_resource.h"
#include "netenum/network_enum.h"
#ifdef TAVO_HAVE_AVAHI
#include "platform/linux/wnet/dnssd_provider.h"
#endif
#ifdef TAVO_HAVE_SMBCLIENT
#include "platform/linux/wnet/smb_provider.h"
#endif

namespace tavo::linuxwnet {
namespace {

using namespace std::chrono_literals;

Resource res(DWORD display, DWORD usage, std::string name, DWORD type = RESOURCETYPE_ANY) {
    Resource r;
    r.type = type;
    r.displayType = display;
    r.usage = usage;
    r.remoteName = std::move(name);
    return r;
}

// A back end told in advance: children by container name.
class FakeProvider : public Provider {
  public:
    FakeProvider(std::string name, bool up) : name_(std::move(name)), up_(up) {}
    std::map<std::string, Listing> tree;
    std::vector<std::string> asked;

    std::string name() const override { return name_; }
    bool available() override { return up_; }
    Listing children(const Resource& parent) override {
        asked.push_back(parent.remoteName);
        auto it = tree.find(parent.remoteName);
        if (it == tree.end()) return {ERROR_BAD_NETPATH, {}};
        return it->second;
    }

  private:
    std::string name_;
    bool up_;
};

struct Area {
    std::vector<NETRESOURCEA> records = std::vector<NETRESOURCEA>(64);
    char* begin() { return reinterpret_cast<char*>(records.data()); }
    bool holds(const char* p) { return p >= begin() && p < begin() + size(); }
    DWORD size() const { return static_cast<DWORD>(records.size() * sizeof(NETRESOURCEA)); }
};

TEST(ResourceTree, TopLevelListsOnlyTheBackEndsThatAnswer) {
    auto up = std::make_shared<FakeProvider>("DNS-SD Network", true);
    auto down = std::make_shared<FakeProvider>("SMB Network", false);
    ResourceTree tree({up, down});
    HANDLE h = nullptr;
    ASSERT_EQ(tree.openEnum(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, nullptr, &h), NO_ERROR);
    Area area;
    DWORD count = 0xFFFFFFFFu;
    DWORD size = area.size();
    ASSERT_EQ(tree.enumResource(h, &count, area.records.data(), &size), NO_ERROR);
    ASSERT_EQ(count, 1u);
    const NETRESOURCEA& r = area.records[0];
    EXPECT_EQ(r.dwDisplayType, RESOURCEDISPLAYTYPE_NETWORK);
    EXPECT_TRUE(r.dwUsage & RESOURCEUSAGE_CONTAINER);
    EXPECT_STREQ(r.lpRemoteName, "DNS-SD Network");
    EXPECT_STREQ(r.lpProvider, "DNS-SD Network");
    EXPECT_EQ(r.lpLocalName, nullptr);
    EXPECT_EQ(r.lpComment, nullptr);
    EXPECT_TRUE(area.holds(r.lpRemoteName));
    EXPECT_EQ(tree.enumResource(h, &count, area.records.data(), &size), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(tree.closeEnum(h), NO_ERROR);
    // A handle is good for one close only.
    EXPECT_EQ(tree.closeEnum(h), ERROR_INVALID_HANDLE);
    EXPECT_EQ(tree.enumResource(h, &count, area.records.data(), &size), ERROR_INVALID_HANDLE);

    // Nothing answers: no network at all.
    ResourceTree empty({down});
    EXPECT_EQ(empty.openEnum(RESOURCE_GLOBALNET, 0, 0, nullptr, &h), ERROR_NO_NETWORK);
    EXPECT_EQ(tree.openEnum(RESOURCE_CONNECTED, 0, 0, nullptr, &h), ERROR_NOT_SUPPORTED);
}

TEST(ResourceTree, HandsEntriesOutInBatchesThatFitTheCallersArea) {
    auto p = std::make_shared<FakeProvider>("P", true);
    for (int k = 0; k < 40; ++k)
        p->tree["WG"].children.push_back(
            res(RESOURCEDISPLAYTYPE_SERVER, RESOURCEUSAGE_CONTAINER, "\\\\S" + std::to_string(k)));
    p->tree["WG"].children[3].comment = "third";
    ResourceTree tree({p});
    NETRESOURCEA parent = tavo::testing::containerResource(RESOURCEDISPLAYTYPE_DOMAIN, "WG", "P");
    HANDLE h = nullptr;
    ASSERT_EQ(tree.openEnum(RESOURCE_GLOBALNET, 0, 0, &parent, &h), NO_ERROR);

    Area area;
    std::vector<std::string> seen;
    DWORD count = 0xFFFFFFFFu;
    DWORD rc = ERROR_MORE_DATA;
    while (rc == ERROR_MORE_DATA) {
        DWORD size = 600;  // a few records with their strings
        rc = tree.enumResource(h, &count, area.records.data(), &size);
        ASSERT_TRUE(rc == ERROR_MORE_DATA || rc == NO_ERROR) << rc;
        ASSERT_GT(count, 0u);
        for (DWORD k = 0; k < count; ++k) {
            const NETRESOURCEA& r = area.records[k];
            // Strings live after the records and inside the size given.
            EXPECT_GE(r.lpRemoteName, area.begin() + count * sizeof(NETRESOURCEA));
            EXPECT_LT(r.lpRemoteName, area.begin() + 600);
            seen.push_back(r.lpRemoteName);
            if (seen.size() == 4) {
                EXPECT_STREQ(r.lpComment, "third");
            }
        }
    }
    ASSERT_EQ(seen.size(), 40u);
    EXPECT_EQ(seen[39], "\\\\S39");
    tree.closeEnum(h);

    // An entry larger than the area: nothing handed out, the size it needs told.
    p->tree["BIG"].children = {res(RESOURCEDISPLAYTYPE_SERVER, 0, std::string(1000, 'x'))};
    parent.lpRemoteName = const_cast<LPSTR>("BIG");
    ASSERT_EQ(tree.openEnum(RESOURCE_GLOBALNET, 0, 0, &parent, &h), NO_ERROR);
    DWORD size = 600;
    count = 0xFFFFFFFFu;
    EXPECT_EQ(tree.enumResource(h, &count, area.records.data(), &size), ERROR_MORE_DATA);
    EXPECT_EQ(count, 0u);
    EXPECT_GT(size, 1000u);
    tree.closeEnum(h);
}

TEST(ResourceTree, OpenChecksTheParentAndFiltersByTypeAndUsage) {
    auto p = std::make_shared<FakeProvider>("P", true);
    p->tree["\\\\SRV"].children = {res(RESOURCEDISPLAYTYPE_SHARE, RESOURCEUSAGE_CONNECTABLE,
                                       "\\\\SRV\\docs", RESOURCETYPE_DISK),
                                   res(RESOURCEDISPLAYTYPE_SHARE, RESOURCEUSAGE_CONNECTABLE,
                                       "\\\\SRV\\laser", RESOURCETYPE_PRINT)};
    p->tree["DOWN"] = {ERROR_NO_NETWORK, {}};
    ResourceTree tree({p});
    NETRESOURCEA parent =
        tavo::testing::containerResource(RESOURCEDISPLAYTYPE_SERVER, "\\\\SRV", "P");

    auto names = [&](DWORD type, DWORD usage) {
        std::vector<std::string> out;
        HANDLE h = nullptr;
        if (tree.openEnum(RESOURCE_GLOBALNET, type, usage, &parent, &h) != NO_ERROR) return out;
        Area area;
        DWORD count = 0xFFFFFFFFu;
        DWORD size = area.size();
        if (tree.enumResource(h, &count, area.records.data(), &size) == NO_ERROR)
            for (DWORD k = 0; k < count; ++k) out.push_back(area.records[k].lpRemoteName);
        tree.closeEnum(h);
        return out;
    };
    EXPECT_EQ(names(RESOURCETYPE_ANY, 0).size(), 2u);
    EXPECT_EQ(names(RESOURCETYPE_PRINT, 0), std::vector<std::string>{"\\\\SRV\\laser"});
    EXPECT_TRUE(names(RESOURCETYPE_ANY, RESOURCEUSAGE_CONTAINER).empty());

    HANDLE h = nullptr;
    parent.dwUsage = RESOURCEUSAGE_CONNECTABLE;
    EXPECT_EQ(tree.openEnum(RESOURCE_GLOBALNET, 0, 0, &parent, &h), ERROR_NOT_CONTAINER);
    parent.dwUsage = RESOURCEUSAGE_CONTAINER;
    parent.lpProvider = const_cast<LPSTR>("Unknown Network");
    EXPECT_EQ(tree.openEnum(RESOURCE_GLOBALNET, 0, 0, &parent, &h), ERROR_BAD_NETPATH);
    parent.lpProvider = const_cast<LPSTR>("P");
    parent.lpRemoteName = const_cast<LPSTR>("DOWN");
    EXPECT_EQ(tree.openEnum(RESOURCE_GLOBALNET, 0, 0, &parent, &h), ERROR_NO_NETWORK);
}

TEST(ResourceTree, TheEnumeratorWalksItToTheServerList) {
    auto dnssd = std::make_shared<FakeProvider>("DNS-SD Network", true);
    dnssd->tree["DNS-SD Network"].children = {
        res(RESOURCEDISPLAYTYPE_DOMAIN, RESOURCEUSAGE_CONTAINER, "local")};
    dnssd->tree["local"].children = {res(RESOURCEDISPLAYTYPE_SERVER, 0, "\\\\kitchen"),
                                     res(RESOURCEDISPLAYTYPE_SERVER, 0, "\\\\study")};
    auto smb = std::make_shared<FakeProvider>("SMB Network", true);
    smb->tree["SMB Network"].children = {
        res(RESOURCEDISPLAYTYPE_DOMAIN, RESOURCEUSAGE_CONTAINER, "WORKGROUP")};
    smb->tree["WORKGROUP"].children = {
        res(RESOURCEDISPLAYTYPE_SERVER, RESOURCEUSAGE_CONTAINER, "\\\\NAS")};
    smb->tree["\\\\NAS"].children = {res(RESOURCEDISPLAYTYPE_SHARE, RESOURCEUSAGE_CONNECTABLE,
                                         "\\\\NAS\\media", RESOURCETYPE_DISK)};
    ResourceTree tree({dnssd, smb});
    CNetworkEnum e(tree);
    e.SetResourceType(0);
    e.Reset();
    EXPECT_EQ(e.GetServerList(), "\\\\kitchen,\\\\study,\\\\NAS,");
    EXPECT_EQ(e.GetDomainList(), "local, WORKGROUP, ");
    EXPECT_EQ(e.GetShareList(), "\\\\NAS\\media|");
    EXPECT_EQ(e.GetNetworkList(), "DNS-SD Network|SMB Network|");
    EXPECT_FALSE(e.GetLocalMachineName().empty());
    EXPECT_EQ(smb->asked, (std::vector<std::string>{"SMB Network", "WORKGROUP", "\\\\NAS"}));
}

TEST(LinuxWnetHelpers, NamesAndAddresses) {
#ifdef TAVO_HAVE_AVAHI
    EXPECT_EQ(DnsSdProvider::shortHostName("kitchen.local", "local"), "kitchen");
    EXPECT_EQ(DnsSdProvider::shortHostName("Kitchen.LOCAL.", "local"), "Kitchen");
    EXPECT_EQ(DnsSdProvider::shortHostName("host.example.org", "local"), "host.example.org");
    EXPECT_EQ(DnsSdProvider::shortHostName("local", "local"), "local");
    // Names arrive with Avahi's escapes: shown as their owners wrote them.
    EXPECT_EQ(DnsSdProvider::unescapeName("x\\038y"), "x&y");
    EXPECT_EQ(DnsSdProvider::unescapeName("Kim\\226\\128\\153s NAS"), "Kim\xE2\x80\x99s NAS");
    EXPECT_EQ(DnsSdProvider::unescapeName("a\\.b\\\\c"), "a.b\\c");
    EXPECT_EQ(DnsSdProvider::unescapeName("Office\\032Printer"), "Office Printer");
    // What is not an escape stays; bytes that are not UTF-8 are replaced.
    EXPECT_EQ(DnsSdProvider::unescapeName("x\\999 tail\\"), "x\\999 tail\\");
    EXPECT_EQ(DnsSdProvider::unescapeName("caf\\233"), "caf\xEF\xBF\xBD");
#endif
#ifdef TAVO_HAVE_SMBCLIENT
    EXPECT_EQ(SmbProvider::url({}), "smb://");
    EXPECT_EQ(SmbProvider::url("WORKGROUP"), "smb://WORKGROUP/");
    EXPECT_EQ(SmbProvider::url({}, "my nas/1%"), "smb://my%20nas%2F1%25/");
#endif
}

}  // namespace
}  // namespace tavo::linuxwnet
