#include <gtest/gtest.h>

#include "inventory_test_support.h"
#include "platform/linux/wmi/inventory_classes.h"

namespace tavo::linuxwmi {
namespace {

using namespace inventory_test;
using wmi::Value;

TEST(InventoryShare, SambaSectionsWithIncludesGlobalsSynonymsAndContinuations) {
    const auto all = produceShares(fixture("shares"));
    std::vector<std::string> names;
    for (const auto& s : all) names.push_back(prop(s, "Name").text());
    // The included file's [media] comes where the include line stands; the
    // switched-off share is left out; Samba's IPC$ follows its shares.
    // Shares users made with `net usershare` follow the configuration's own.
    EXPECT_EQ(names,
              (std::vector<std::string>{"media", "homes", "printers", "Public Files", "Kim Photos",
                                        "music", "IPC$", "/srv/nfs/projects", "/srv/nfs/with space",
                                        "/srv/nfs/octal name", "/srv/backup"}));

    const Instance& pub = byKey(all, "Name", "Public Files");
    EXPECT_EQ(prop(pub, "Path"), Value("/srv/public files"));
    EXPECT_EQ(prop(pub, "Description"), Value("Shared with everyone"));
    EXPECT_EQ(prop(pub, "Caption"), Value("Shared with everyone"));
    EXPECT_EQ(prop(pub, "Type"), Value(0));
    EXPECT_EQ(prop(pub, "AllowMaximum"), Value(false));
    EXPECT_EQ(prop(pub, "MaximumAllowed"), Value(10));
    EXPECT_EQ(prop(pub, "Status"), Value("OK"));

    const Instance& printers = byKey(all, "Name", "printers");
    EXPECT_EQ(prop(printers, "Type"), Value(1));
    EXPECT_EQ(prop(printers, "Path"), Value("/var/spool/samba"));
    // [global]'s "max connections = 0" means no limit.
    EXPECT_EQ(prop(printers, "AllowMaximum"), Value(true));
    EXPECT_TRUE(prop(printers, "MaximumAllowed").isNull());

    const Instance& media = byKey(all, "Name", "media");
    EXPECT_EQ(prop(media, "Path"), Value("/srv/media"));
    EXPECT_EQ(prop(media, "Type"), Value(0));

    const Instance& photos = byKey(all, "Name", "Kim Photos");
    EXPECT_EQ(prop(photos, "Path"), Value("/home/kim/Photos"));
    EXPECT_EQ(prop(photos, "Description"), Value("Holiday photos"));
    EXPECT_EQ(prop(photos, "Type"), Value(0));
    EXPECT_EQ(prop(byKey(all, "Name", "music"), "Path"), Value("/home/lee/music"));

    // IPC$ is an administrative share: IPC with the admin bit, as WMI types it.
    const Instance& ipc = byKey(all, "Name", "IPC$");
    EXPECT_EQ(prop(ipc, "Type"), Value(std::int64_t{2147483651}));
    const std::string description = prop(ipc, "Description").text();
    EXPECT_TRUE(description.starts_with("IPC Service (")) << description;
    EXPECT_EQ(description.find("%h"), std::string::npos) << description;
    for (const auto& s : all) inventory_test::expectCimTypes(s);
}

TEST(InventoryShare, NfsExportsWithQuotesEscapesCommentsAndExtraFiles) {
    const auto all = produceShares(fixture("shares"));
    const Instance& projects = byKey(all, "Name", "/srv/nfs/projects");
    EXPECT_EQ(prop(projects, "Path"), Value("/srv/nfs/projects"));
    EXPECT_EQ(prop(projects, "Description"),
              Value("192.168.1.0/24(rw,sync,no_subtree_check) *.example.org(ro)"));
    EXPECT_EQ(prop(projects, "Type"), Value(0));
    EXPECT_EQ(prop(byKey(all, "Name", "/srv/nfs/with space"), "Description"), Value("*(ro)"));
    EXPECT_EQ(prop(byKey(all, "Name", "/srv/nfs/octal name"), "Description"),
              Value("10.0.0.1(rw)"));
    EXPECT_EQ(prop(byKey(all, "Name", "/srv/backup"), "Description"),
              Value("backuphost(rw,no_root_squash)"));
}

TEST(InventoryShare, ConfigurationEdgeCases) {
    // A share defined twice is one share; IPC$ written out is not doubled;
    // an include that names itself ends.
    int reads = 0;
    const IncludeReader selfInclude = [&](const std::string&) -> std::optional<std::string> {
        ++reads;
        return std::string("[loop]\npath = /l\ninclude = /again.conf\n");
    };
    const auto shares = parseSmbConf(
        "[a]\npath=/x\n[IPC$]\ncomment = pipes\n[A]\ncomment=second half\ninclude = /again.conf\n",
        selfInclude);
    ASSERT_EQ(shares.size(), 3u);
    EXPECT_EQ(shares[0].name, "a");
    EXPECT_EQ(shares[0].path, "/x");
    EXPECT_EQ(shares[0].description, "second half");
    EXPECT_EQ(shares[1].type, 2147483651u);
    EXPECT_EQ(shares[2].name, "loop");
    EXPECT_EQ(reads, 8);
    EXPECT_TRUE(parseExports("# only comments\n\n   \n").empty());
}

TEST(InventoryShare, NoSambaAndNoExportsGivesNoInstances) {
    EXPECT_TRUE(produceShares(fixture("no_samba")).empty());
}

}  // namespace
}  // namespace tavo::linuxwmi
