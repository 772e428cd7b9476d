#include <gtest/gtest.h>

#include "inventory_test_support.h"
#include "platform/linux/wmi/inventory_classes.h"

namespace tavo::linuxwmi {
namespace {

using inventory_test::byKey;
using inventory_test::fixture;
using inventory_test::prop;
using wmi::Value;

TEST(InventoryAccount, GecosFullNameTakesFirstFieldAndExpandsAmpersand) {
    EXPECT_EQ(fullNameFromGecos("Alice Martin,Room 12,555-1234", "alice"), "Alice Martin");
    EXPECT_EQ(fullNameFromGecos("& Builder,,,", "bob"), "Bob Builder");
    EXPECT_EQ(fullNameFromGecos("", "dave"), "");
    EXPECT_EQ(fullNameFromGecos(" , ,", "guest"), "");
    EXPECT_EQ(fullNameFromGecos("Ève Müller,,,", "eve"), "Ève Müller");
}

TEST(InventoryAccount, UsersFromPasswdSkipCommentsNetworkEntriesAndBadLines) {
    const auto users = produceUserAccounts(fixture("accounts"));
    std::vector<std::string> names;
    for (const auto& u : users) names.push_back(prop(u, "Name").text());
    EXPECT_EQ(names, (std::vector<std::string>{"root", "daemon", "alice", "bob", "carol", "dave",
                                               "eve", "guest"}));
    const Instance& alice = byKey(users, "Name", "alice");
    EXPECT_EQ(alice.classDef().name, "Win32_UserAccount");
    EXPECT_EQ(prop(alice, "FullName"), Value("Alice Martin"));
    EXPECT_EQ(prop(alice, "SID"), Value("S-1-22-1-1000"));
    EXPECT_EQ(prop(alice, "SIDType"), Value(1));
    EXPECT_EQ(prop(alice, "LocalAccount"), Value(true));
    const std::string domain = prop(alice, "Domain").text();
    EXPECT_FALSE(domain.empty());
    EXPECT_EQ(prop(alice, "Caption"), Value(domain + "\\alice"));
    EXPECT_EQ(prop(byKey(users, "Name", "carol"), "FullName"), Value("Carol \"CJ\" O'Neil"));
    for (const auto& u : users) inventory_test::expectCimTypes(u);
}

TEST(InventoryAccount, ShadowDecidesDisabledPasswordRulesAndStatus) {
    const auto users = produceUserAccounts(fixture("accounts"));
    const Instance& alice = byKey(users, "Name", "alice");
    EXPECT_EQ(prop(alice, "Disabled"), Value(false));
    EXPECT_EQ(prop(alice, "PasswordRequired"), Value(true));
    EXPECT_EQ(prop(alice, "PasswordExpires"), Value(true));
    EXPECT_EQ(prop(alice, "PasswordChangeable"), Value(true));
    EXPECT_EQ(prop(alice, "Status"), Value("OK"));
    // A locked password disables the account.
    const Instance& bob = byKey(users, "Name", "bob");
    EXPECT_EQ(prop(bob, "Disabled"), Value(true));
    EXPECT_EQ(prop(bob, "Status"), Value("Degraded"));
    EXPECT_EQ(prop(bob, "PasswordExpires"), Value(false));
    EXPECT_EQ(prop(byKey(users, "Name", "carol"), "PasswordRequired"), Value(false));
    // Minimum age above maximum: the user cannot change it.
    EXPECT_EQ(prop(byKey(users, "Name", "dave"), "PasswordChangeable"), Value(false));
    // An account that expired long ago.
    EXPECT_EQ(prop(byKey(users, "Name", "eve"), "Disabled"), Value(true));
    // "*" allows no password login but is not a disabled account.
    EXPECT_EQ(prop(byKey(users, "Name", "daemon"), "Disabled"), Value(false));
    // No shadow entry: nothing known about the password.
    const Instance& guest = byKey(users, "Name", "guest");
    EXPECT_TRUE(prop(guest, "Disabled").isNull());
    EXPECT_TRUE(prop(guest, "PasswordRequired").isNull());
    EXPECT_EQ(prop(guest, "Status"), Value("OK"));
}

TEST(InventoryAccount, WithoutReadableShadowPasswordFieldsStayNull) {
    const auto users = produceUserAccounts(fixture("accounts_no_shadow"));
    ASSERT_EQ(users.size(), 8u);
    for (const auto& u : users) {
        EXPECT_TRUE(prop(u, "Disabled").isNull());
        EXPECT_TRUE(prop(u, "PasswordExpires").isNull());
        EXPECT_TRUE(prop(u, "Lockout").isNull());
        EXPECT_EQ(prop(u, "Status"), Value("OK"));
    }
}

TEST(InventoryAccount, GroupsAndTheBaseClassQueryMixBothKinds) {
    const auto groups = produceGroups(fixture("accounts"));
    ASSERT_EQ(groups.size(), 4u);  // "bad" has no number, "+" is a network entry
    const Instance& sudo = byKey(groups, "Name", "sudo");
    EXPECT_EQ(sudo.classDef().name, "Win32_Group");
    EXPECT_EQ(prop(sudo, "SID"), Value("S-1-22-2-27"));
    EXPECT_EQ(prop(sudo, "SIDType"), Value(2));
    EXPECT_EQ(prop(sudo, "Status"), Value("OK"));
    EXPECT_EQ(prop(byKey(groups, "Name", "nogroup"), "SID"), Value("S-1-22-2-65534"));

    const auto all = produceAccounts(fixture("accounts"));
    ASSERT_EQ(all.size(), 12u);
    EXPECT_EQ(all.front().classDef().name, "Win32_UserAccount");
    EXPECT_EQ(all.back().classDef().name, "Win32_Group");
    for (const auto& g : groups) inventory_test::expectCimTypes(g);
}

}  // namespace
}  // namespace tavo::linuxwmi
