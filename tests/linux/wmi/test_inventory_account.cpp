#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <limits>

#include "inventory_test_support.h"
#include "platform/linux/wmi/inventory_classes.h"

namespace tavo::linuxwmi {
namespace {

using namespace inventory_test;
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
        // No failure tally on record: nobody is locked out.
        EXPECT_EQ(prop(u, "Lockout"), Value(false));
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
    ASSERT_EQ(all.size(), 15u);
    EXPECT_EQ(all.front().classDef().name, "Win32_UserAccount");
    EXPECT_EQ(all[11].classDef().name, "Win32_Group");
    EXPECT_EQ(all.back().classDef().name, "Win32_SystemAccount");

    // The well-known principals a file's permissions mean, under their SIDs.
    const auto system = produceSystemAccounts(fixture("accounts"));
    ASSERT_EQ(system.size(), 3u);
    const Instance& everyone = byKey(system, "Name", "Everyone");
    EXPECT_EQ(prop(everyone, "SID"), Value("S-1-1-0"));
    EXPECT_EQ(prop(everyone, "SIDType"), Value(5));
    EXPECT_EQ(prop(byKey(system, "Name", "CREATOR OWNER"), "SID"), Value("S-1-3-0"));
    EXPECT_EQ(prop(byKey(system, "Name", "CREATOR GROUP"), "SID"), Value("S-1-3-1"));
    for (const auto& a : system) inventory_test::expectCimTypes(a);
    for (const auto& g : groups) inventory_test::expectCimTypes(g);
}

// Tally records as pam_faillock writes them: source, reserved, status, time.
std::string tally(std::initializer_list<std::pair<std::uint16_t, std::int64_t>> records) {
    std::string out;
    for (const auto& [status, time] : records) {
        std::string r(64, '\0');
        const std::uint64_t t = static_cast<std::uint64_t>(time);
        std::memcpy(r.data() + 54, &status, sizeof status);
        std::memcpy(r.data() + 56, &t, sizeof t);
        out += r;
    }
    return out;
}

TEST(InventoryAccount, FailedLoginTallyLocksOutWithinItsRules) {
    const FaillockRules defaults;
    const std::int64_t now = 1'700'000'000;
    EXPECT_TRUE(
        tallyLocksOut(tally({{1, now - 10}, {1, now - 20}, {1, now - 30}}), defaults, false, now));
    // An entry not marked valid does not count.
    EXPECT_FALSE(
        tallyLocksOut(tally({{1, now - 10}, {0, now - 20}, {1, now - 30}}), defaults, false, now));
    // Failures older than the interval do not count.
    EXPECT_FALSE(tallyLocksOut(tally({{1, now - 10}, {1, now - 20}, {1, now - 1000}}), defaults,
                               false, now));
    // The lock ends unlock_time after the last failure...
    EXPECT_FALSE(tallyLocksOut(tally({{1, now - 700}, {1, now - 701}, {1, now - 702}}), defaults,
                               false, now));
    // ... unless it is 0, which waits for an administrator.
    const FaillockRules strict =
        parseFaillockConf("# site rules\ndeny = 2\nunlock_time = 0\neven_deny_root\n");
    EXPECT_EQ(strict.deny, 2);
    EXPECT_TRUE(tallyLocksOut(tally({{1, now - 700}, {1, now - 701}}), strict, false, now));
    // Root is spared unless the rules say otherwise.
    EXPECT_FALSE(tallyLocksOut(tally({{1, now}, {1, now}, {1, now}}), defaults, true, now));
    EXPECT_TRUE(tallyLocksOut(tally({{1, now}, {1, now}}), strict, true, now));
    // A torn last record is ignored rather than read past the end.
    EXPECT_FALSE(tallyLocksOut(tally({{1, now}, {1, now}}) + "\x01\x02", defaults, false, now));
}

TEST(InventoryAccount, TallyTimesAndRulesAtTheEndsOfTheRangeDoNotOverflow) {
    const std::int64_t now = 1'700'000'000;
    constexpr std::int64_t kMost = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kLeast = std::numeric_limits<std::int64_t>::min();
    const FaillockRules defaults;
    // A failure stamped at the end of time is recent: the account stays locked.
    EXPECT_TRUE(tallyLocksOut(tally({{1, kMost}, {1, kMost}, {1, kMost}}), defaults, false, now));
    // Times far before the epoch are long past.
    EXPECT_FALSE(
        tallyLocksOut(tally({{1, kLeast}, {1, kLeast}, {1, kLeast}}), defaults, false, now));
    // An interval or unlock time as long as the range holds.
    FaillockRules wide = parseFaillockConf(
        "fail_interval = 9223372036854775807\n"
        "unlock_time = 9223372036854775807\n");
    EXPECT_TRUE(tallyLocksOut(tally({{1, 0}, {1, 1}, {1, 2}}), wide, false, now));
    wide = parseFaillockConf("fail_interval = -9223372036854775808\n");
    EXPECT_FALSE(tallyLocksOut(tally({{1, now}, {1, now}, {1, now}}), wide, false, now));
}

TEST(InventoryAccount, LockoutComesFromTheTallyInTheConfiguredFolder) {
    inventory_test::TempTree tree;
    tree.write("/etc/passwd",
               "root:x:0:0:root:/root:/bin/bash\nalice:x:1000:1000::/home/alice:/bin/sh\n"
               "bob:x:1001:1001::/home/bob:/bin/sh\n");
    tree.write("/etc/security/faillock.conf", "dir = /run/tally\n");
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    tree.write("/run/tally/alice", tally({{1, now - 5}, {1, now - 4}, {1, now - 3}}));
    tree.write("/run/tally/bob", tally({{1, now - 5}}));
    const auto users = produceUserAccounts(tree.context());
    EXPECT_EQ(prop(byKey(users, "Name", "alice"), "Lockout"), Value(true));
    EXPECT_EQ(prop(byKey(users, "Name", "bob"), "Lockout"), Value(false));
    EXPECT_EQ(prop(byKey(users, "Name", "root"), "Lockout"), Value(false));
}

}  // namespace
}  // namespace tavo::linuxwmi
