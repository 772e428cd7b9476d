#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>

#include "inventory_test_support.h"
#include "platform/linux/wmi/inventory_classes.h"

namespace tavo::linuxwmi {
namespace {

using inventory_test::byKey;
using inventory_test::prop;
using inventory_test::TempTree;
using wmi::Value;

TEST(InventoryProduct, StatusParserKeepsFirstDescriptionLineAndSkipsContinuations) {
    const std::string text =
        "Package: a\nStatus: install ok installed\nDepends: x,\n y\nDescription: short\n"
        " Long text.\n With: a colon that is no field.\n .\nVersion: 1\n\n\n"
        "Package: b\r\nStatus: deinstall ok config-files\r\nVersion: 2\r\n";
    const auto pkgs = parseDpkgStatus(text);
    ASSERT_EQ(pkgs.size(), 2u);
    EXPECT_EQ(pkgs[0].name, "a");
    EXPECT_EQ(pkgs[0].summary, "short");
    EXPECT_EQ(pkgs[0].version, "1");
    EXPECT_EQ(pkgs[0].state, "installed");
    // CR LF line ends and no final blank line.
    EXPECT_EQ(pkgs[1].name, "b");
    EXPECT_EQ(pkgs[1].state, "config-files");
    EXPECT_EQ(pkgs[1].version, "2");
    EXPECT_TRUE(parseDpkgStatus("").empty());
    EXPECT_TRUE(parseDpkgStatus("\n\n \n").empty());
}

// The fixture database copied into a scratch tree, with the file lists given
// a known install time (noon local time on 5 March 2024).
class ProductTree : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::copy(std::filesystem::path(TAVO_TEST_DATA) / "inventory/dpkg", tree.root(),
                              std::filesystem::copy_options::recursive);
        std::tm tm{};
        tm.tm_year = 124;
        tm.tm_mon = 2;
        tm.tm_mday = 5;
        tm.tm_hour = 12;
        tm.tm_isdst = -1;
        installed = std::mktime(&tm);
        for (const auto& e :
             std::filesystem::directory_iterator(tree.root() / "var/lib/dpkg/info")) {
            const timespec times[2] = {{installed, 0}, {installed, 250000000}};
            ASSERT_EQ(utimensat(AT_FDCWD, e.path().c_str(), times, 0), 0);
        }
    }
    TempTree tree;
    std::time_t installed = 0;
};

TEST_F(ProductTree, OnePerPackageOnDiskWithItsFields) {
    const auto all = produceProducts(tree.context());
    // The removed package (configuration only) is no installed program.
    ASSERT_EQ(all.size(), 4u);
    const Instance& a = byKey(all, "Name", "alpha");
    EXPECT_EQ(prop(a, "Version"), Value("1.2-3"));
    EXPECT_EQ(prop(a, "Vendor"), Value("Jane Doe <jane@example.org>"));
    EXPECT_EQ(prop(a, "Description"), Value("first tool of the set"));
    EXPECT_EQ(prop(a, "Caption"), Value("first tool of the set"));
    EXPECT_EQ(prop(a, "IdentifyingNumber"), Value("alpha:amd64"));
    EXPECT_EQ(prop(a, "PackageName"), Value("alpha"));
    EXPECT_EQ(prop(a, "InstallState"), Value(5));
    EXPECT_EQ(prop(a, "URLInfoAbout"), Value("https://example.org/alpha"));
    EXPECT_EQ(prop(a, "InstallDate"), Value("20240305"));
    ASSERT_TRUE(prop(a, "InstallDate2").isText());
    EXPECT_EQ(prop(a, "InstallDate2").text().substr(0, 21), "20240305120000.250000");
    EXPECT_TRUE(prop(a, "InstallSource").isNull());
    for (const auto& i : all) inventory_test::expectCimTypes(i);
}

TEST_F(ProductTree, MultiArchListNamesAndMissingFileListsAndBrokenPackages) {
    const auto all = produceProducts(tree.context());
    // A package that may be installed for several architectures names its
    // list "name:arch.list".
    EXPECT_EQ(prop(byKey(all, "Name", "libbeta1"), "InstallDate"), Value("20240305"));
    EXPECT_EQ(prop(byKey(all, "Name", "libbeta1"), "Version"), Value("2:0.9~rc1-1"));
    const Instance& doc = byKey(all, "Name", "gamma-doc");
    EXPECT_EQ(prop(doc, "IdentifyingNumber"), Value("gamma-doc:all"));
    EXPECT_TRUE(prop(doc, "InstallDate").isNull());
    EXPECT_TRUE(prop(doc, "InstallDate2").isNull());
    // Half-configured: on disk, in a bad state; the last record has no
    // blank line after it.
    const Instance& broken = byKey(all, "Name", "broken");
    EXPECT_EQ(prop(broken, "InstallState"), Value(-6));
    EXPECT_EQ(prop(broken, "Description"), Value("a package whose setup failed"));
}

TEST(InventoryProduct, NoDpkgDatabaseGivesNoInstances) {
    TempTree tree;
    EXPECT_TRUE(produceProducts(tree.context()).empty());
}

}  // namespace
}  // namespace tavo::linuxwmi
