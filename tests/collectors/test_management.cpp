#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <memory>
#include <string>

#include "collectors/management.h"
#include "grid/error.h"
#include "support/fake_management.h"

namespace tavo::wmi {
namespace {

using testing::FakeBackend;

std::string hostName() {
    char buf[256] = {};
#ifdef _WIN32
    DWORD size = sizeof buf;
    GetComputerNameExA(ComputerNameDnsHostname, buf, &size);
#else
    gethostname(buf, sizeof buf - 1);
#endif
    return buf;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

TEST(Moniker, RoundTripsTheComputerOfEveryAcceptedForm) {
    for (const std::string& computer : std::vector<std::string>{
             ".", "localhost", "SERVER01", "web-01.corp.example", "host_name", "fqdn.example.",
             "10.0.0.5", "255.255.255.255", "::1", "fe80::1%eth0", "[2001:db8::7]",
             "2001:db8:0:0:0:0:2:1", "::ffff:192.168.0.1", std::string(63, 'a'),
             std::string(63, 'a') + "." + std::string(63, 'b') + "." + std::string(63, 'c') + "." +
                 std::string(61, 'd')}) {
        std::string moniker = monikerFor(computer);
        EXPECT_EQ(moniker, "winmgmts:\\\\" + computer + "\\root\\CIMV2");
        EXPECT_EQ(parseMoniker(moniker), computer);
    }
}

TEST(Moniker, NamespaceAndPrefixMatchWithoutRegardToCase) {
    EXPECT_EQ(parseMoniker("winmgmts:\\\\PC1\\root\\cimv2"), "PC1");
    EXPECT_EQ(parseMoniker("WINMGMTS:\\\\PC1\\ROOT\\CimV2"), "PC1");
}

TEST(Moniker, RejectsMalformedTextWithAnErrorNamingIt) {
    const std::string bad[] = {
        "",
        "winmgmts:",
        "winmgmts:\\\\",
        "winmgmts:\\\\PC1",                      // no namespace
        "winmgmts:\\\\PC1\\root",                // half a namespace
        "winmgmts:\\\\PC1\\root\\default",       // another namespace
        "winmgmts:\\\\PC1\\root\\CIMV2\\extra",  // trailing part
        "winmgmts://PC1/root/CIMV2",             // forward slashes
        "winmgmts:\\PC1\\root\\CIMV2",           // one backslash
        "PC1\\root\\CIMV2",                      // no prefix
        "winmgmts:\\\\\\root\\CIMV2",            // empty computer
        "winmgmts:\\\\my pc\\root\\CIMV2",       // space
        "winmgmts:\\\\ PC1\\root\\CIMV2",        // leading space
        "winmgmts:\\\\PC1 \\root\\CIMV2",        // trailing space
        "winmgmts:\\\\PC\\1\\root\\CIMV2",       // backslash inside the name
        "winmgmts:\\\\PC/1\\root\\CIMV2",        // slash inside the name
        "winmgmts:\\\\" + std::string(300, 'a') + "\\root\\CIMV2",
        "winmgmts:\\\\" + std::string(64, 'a') + "\\root\\CIMV2",  // label too long
        "winmgmts:\\\\Rechner-M\xc3\xbcller\\root\\CIMV2",         // non-ASCII
        "winmgmts:\\\\PC\t1\\root\\CIMV2",
        "winmgmts:\\\\pc$\\root\\CIMV2",
        "winmgmts:\\\\a..b\\root\\CIMV2",
        "winmgmts:\\\\-pc\\root\\CIMV2",
        "winmgmts:\\\\10.0.0.300\\root\\CIMV2",
        "winmgmts:\\\\10.0.0\\root\\CIMV2",
        "winmgmts:\\\\010.0.0.1\\root\\CIMV2",
        "winmgmts:\\\\1:2:3\\root\\CIMV2",
        "winmgmts:\\\\fe80:::1\\root\\CIMV2",
        "winmgmts:\\\\1:2:3:4:5:6:7:8:9\\root\\CIMV2",
        "winmgmts:\\\\12345::1\\root\\CIMV2",
        "winmgmts:\\\\[PC1]\\root\\CIMV2",
    };
    for (const auto& moniker : bad) {
        try {
            parseMoniker(moniker);
            ADD_FAILURE() << "accepted " << moniker;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), errc::kInvalidSyntax) << moniker;
            EXPECT_NE(e.description().find("\"" + moniker + "\""), std::string::npos)
                << e.description();
        }
    }
}

TEST(LocalComputer, KnowsThisComputerByEveryName) {
    std::string host = hostName();
    ASSERT_FALSE(host.empty());
    for (const std::string& name :
         {std::string("."), std::string("localhost"), std::string("LocalHost"),
          std::string("127.0.0.1"), std::string("127.4.5.6"), std::string("::1"),
          std::string("[::1]"), host, upper(host), host + "."}) {
        EXPECT_TRUE(isLocalComputer(name)) << name;
    }
    for (const std::string& name :
         std::vector<std::string>{"", "..", "192.0.2.1", "localhost2", "some-other-computer",
                                  "128.0.0.1", "::2", "local"}) {
        EXPECT_FALSE(isLocalComputer(name)) << name;
    }
    EXPECT_FALSE(isLocalComputer(host + "-other"));
}

TEST(ConnectionFactory, SendsThisComputerToTheLocalBackend) {
    auto local = std::make_shared<FakeBackend>();
    auto factory = makeConnectionFactory(local);
    for (const std::string& computer :
         std::vector<std::string>{".", "LOCALHOST", "127.0.0.1", hostName()}) {
        EXPECT_NE(factory->connect(monikerFor(computer)), nullptr);
    }
    ASSERT_EQ(local->log->computers.size(), 4u);
    EXPECT_EQ(local->log->computers[1], "LOCALHOST");  // handed on as written
}

TEST(ConnectionFactory, OtherComputersFailWithoutARemoteBackend) {
    auto local = std::make_shared<FakeBackend>();
    auto factory = makeConnectionFactory(local);
    try {
        factory->connect(monikerFor("far-away-server"));
        FAIL() << "connected to a remote computer";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::kServerUnavailable);
        EXPECT_NE(e.description().find("far-away-server"), std::string::npos);
        EXPECT_NE(e.description().find("reports only on this computer"), std::string::npos);
    }
    EXPECT_TRUE(local->log->computers.empty());
}

TEST(ConnectionFactory, RoutesOtherComputersToTheRemoteBackend) {
    auto local = std::make_shared<FakeBackend>();
    auto remote = std::make_shared<FakeBackend>();
    auto factory = makeConnectionFactory(local, remote);
    factory->connect(monikerFor("server7"));
    factory->connect(monikerFor("."));
    EXPECT_EQ(remote->log->computers, std::vector<std::string>{"server7"});
    EXPECT_EQ(local->log->computers, std::vector<std::string>{"."});
}

TEST(ConnectionFactory, MalformedMonikerReachesNoBackend) {
    auto local = std::make_shared<FakeBackend>();
    auto remote = std::make_shared<FakeBackend>();
    auto factory = makeConnectionFactory(local, remote);
    try {
        factory->connect("winmgmts:\\\\.\\root\\default");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::kInvalidSyntax);
    }
    EXPECT_TRUE(local->log->computers.empty());
    EXPECT_TRUE(remote->log->computers.empty());
}

TEST(ConnectionFactory, MissingLocalProviderIsAClearFailure) {
    auto factory = makeConnectionFactory(nullptr);
    try {
        factory->connect(monikerFor("."));
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(e.description().find("provider"), std::string::npos);
    }
}

}  // namespace
}  // namespace tavo::wmi
