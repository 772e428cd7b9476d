#include "target/target_computer.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstdlib>
#include <string>
#include <vector>

#include "grid/error.h"
#include "support/fake_management.h"

namespace {

using tavo::testing::FakeBackend;
using tavo::testing::FakeFactory;
using tavo::testing::FakeObject;
using tavo::wmi::Value;

class PrimaryDnsServer : public ::testing::Test {
  protected:
    tavo::testing::FakeScript& adapters() {
        return backend->script(tavo::target::kDnsAdapterQuery);
    }
    std::optional<std::string> ask(const std::string& computer = ".") {
        return tavo::target::primaryDnsServer(factory, computer);
    }
    std::shared_ptr<FakeBackend> backend = std::make_shared<FakeBackend>();
    FakeFactory factory{backend};
};

TEST_F(PrimaryDnsServer, FirstAdapterWithAListGivesItsFirstEntry) {
    adapters()
        .add(FakeObject().with("Description", "lo").withNull("DNSServerSearchOrder"))
        .add(FakeObject().withArray("DNSServerSearchOrder", {"192.0.2.53", "192.0.2.54"}))
        .add(FakeObject().withArray("DNSServerSearchOrder", {"198.51.100.1"}));
    EXPECT_EQ(ask("ALPHA"), "192.0.2.53");
    EXPECT_EQ(backend->log->monikers, std::vector<std::string>{"winmgmts:\\\\ALPHA\\root\\CIMV2"});
    EXPECT_EQ(backend->log->queries, std::vector<std::string>{tavo::target::kDnsAdapterQuery});
    // The result set goes back before the connection does.
    const auto& ev = backend->log->events;
    const auto results = std::find(ev.begin(), ev.end(), "release results");
    const auto connection = std::find(ev.begin(), ev.end(), "release connection");
    ASSERT_NE(results, ev.end());
    ASSERT_NE(connection, ev.end());
    EXPECT_LT(results, connection);
    EXPECT_EQ(backend->log->openConnections, 0);
    EXPECT_EQ(backend->log->openResultSets, 0);
}

TEST_F(PrimaryDnsServer, NothingWhenNoAdapterHasServers) {
    adapters();  // no IP-enabled adapter at all
    EXPECT_EQ(ask(), std::nullopt);
    adapters()
        .add(FakeObject().withNull("DNSServerSearchOrder"))
        .add(FakeObject().withArray("DNSServerSearchOrder", {}));
    EXPECT_EQ(ask(), std::nullopt);
}

TEST_F(PrimaryDnsServer, FailuresReachTheCaller) {
    backend->failConnect();
    try {
        ask();
        FAIL() << "a failed connection must not pass as no DNS server";
    } catch (const tavo::Error& e) {
        EXPECT_EQ(e.number(), tavo::errc::kServerUnavailable);
    }
    backend->connectError.reset();

    // The list cannot be read.
    adapters().add(
        FakeObject().with("DNSServerSearchOrder", Value::Array{}).failing("DNSServerSearchOrder"));
    EXPECT_THROW(ask(), tavo::Error);

    // Entry 0 is no text (a nested list), or the value is no list at all.
    backend->clearScripts();
    adapters().add(
        FakeObject().with("DNSServerSearchOrder", Value::Array{Value(Value::Array{"x"})}));
    EXPECT_THROW(ask(), tavo::Error);
    backend->clearScripts();
    adapters().add(FakeObject().with("DNSServerSearchOrder", "192.0.2.1"));
    EXPECT_THROW(ask(), tavo::Error);

    backend->clearScripts();  // the service does not know the class
    EXPECT_THROW(ask(), tavo::Error);
}

void setVariable(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

void unsetVariable(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");  // an empty value removes the variable on Windows
#else
    unsetenv(name);
#endif
}

std::string hostName() {
    char host[256] = {};
#ifdef _WIN32
    DWORD size = sizeof host;
    GetComputerNameA(host, &size);
#else
    gethostname(host, sizeof host - 1);
#endif
    return host;
}

TEST(LocalComputerName, VariableWinsElseHostName) {
    const char* saved = std::getenv("COMPUTERNAME");
    const std::string keep = saved ? saved : "";
    setVariable("COMPUTERNAME", "WORKSTATION7");
    EXPECT_EQ(tavo::target::localComputerName(), "WORKSTATION7");
    unsetVariable("COMPUTERNAME");
    const std::string host = hostName();
    ASSERT_FALSE(host.empty());
    EXPECT_EQ(tavo::target::localComputerName(), host);
    setVariable("COMPUTERNAME", "");
    EXPECT_EQ(tavo::target::localComputerName(), host);
    if (saved)
        setVariable("COMPUTERNAME", keep.c_str());
    else
        unsetVariable("COMPUTERNAME");
}

}  // namespace
