#include "target/target_computer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <map>
#include <vector>

#include "grid/error.h"
#include "target/scripted_management.h"

namespace {

using tavo::wmi::Value;
using namespace tavo::testing::scripted;

Value servers(std::vector<Value> list) { return Value(Value::Array(std::move(list))); }

TEST(PrimaryDnsServer, FirstAdapterWithAListGivesItsFirstEntry) {
    Script s;
    s.adapters = {{{"DNSServerSearchOrder", Value::null()}},
                  {{"DNSServerSearchOrder", servers({"192.0.2.53", "192.0.2.54"})}},
                  {{"DNSServerSearchOrder", servers({"198.51.100.1"})}}};
    ScriptedFactory f(s);
    EXPECT_EQ(tavo::target::primaryDnsServer(f, "ALPHA"), "192.0.2.53");
    ASSERT_EQ(s.monikers.size(), 1u);
    EXPECT_EQ(s.monikers[0], "winmgmts:\\\\ALPHA\\root\\CIMV2");
    EXPECT_EQ(s.queries, std::vector<std::string>{tavo::target::kDnsAdapterQuery});
    // The result set goes back before the connection does.
    EXPECT_EQ(s.releases, (std::vector<std::string>{"results", "connection"}));
}

TEST(PrimaryDnsServer, NothingWhenNoAdapterHasServers) {
    Script s;
    EXPECT_EQ(tavo::target::primaryDnsServer(*std::make_unique<ScriptedFactory>(s), "."),
              std::nullopt);
    s.adapters = {{{"DNSServerSearchOrder", Value::null()}},
                  {{"DNSServerSearchOrder", servers({})}}};
    ScriptedFactory f(s);
    EXPECT_EQ(tavo::target::primaryDnsServer(f, "."), std::nullopt);
}

TEST(PrimaryDnsServer, FailuresReachTheCaller) {
    Script s;
    s.failConnect = true;
    ScriptedFactory f(s);
    try {
        tavo::target::primaryDnsServer(f, ".");
        FAIL() << "a failed connection must not pass as no DNS server";
    } catch (const tavo::Error& e) {
        EXPECT_EQ(e.number(), tavo::errc::kServerUnavailable);
    }

    // A list whose first entry is not text-convertible (here a nested array).
    Script bad;
    bad.adapters = {{{"DNSServerSearchOrder", servers({servers({"x"})})}}};
    ScriptedFactory g(bad);
    EXPECT_THROW(tavo::target::primaryDnsServer(g, "."), tavo::Error);
    // A scalar where a list belongs cannot be indexed.
    Script scalar;
    scalar.adapters = {{{"DNSServerSearchOrder", Value("192.0.2.1")}}};
    ScriptedFactory h(scalar);
    EXPECT_THROW(tavo::target::primaryDnsServer(h, "."), tavo::Error);
}

TEST(LocalComputerName, VariableWinsElseHostName) {
    const char* saved = std::getenv("COMPUTERNAME");
    std::string keep = saved ? saved : "";
    setenv("COMPUTERNAME", "WORKSTATION7", 1);
    EXPECT_EQ(tavo::target::localComputerName(), "WORKSTATION7");
    unsetenv("COMPUTERNAME");
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(tavo::target::localComputerName(), host);
    setenv("COMPUTERNAME", "", 1);
    EXPECT_EQ(tavo::target::localComputerName(), host);
    if (saved)
        setenv("COMPUTERNAME", keep.c_str(), 1);
    else
        unsetenv("COMPUTERNAME");
}

}  // namespace
