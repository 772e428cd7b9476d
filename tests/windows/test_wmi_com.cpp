// The management query interface over Wine's own WMI service. Wine's classes
// carry fewer properties than Windows' (and spell a few differently), so
// these tests check what the interface promises, not one schema.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "collectors/management.h"
#include "grid/error.h"
#include "platform/windows/com_text.h"
#include "platform/windows/wmi_com.h"

using tavo::wmi::Value;

namespace {

std::string thisComputer() {
    char buf[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD len = sizeof buf;
    return GetComputerNameA(buf, &len) ? std::string(buf, len) : std::string();
}

bool isDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

struct Walk {
    int objects = 0;
    std::size_t properties = 0;
};

// Walks a query to the end, reading every property of every object and
// converting each scalar to text as the collectors do.
Walk walkAll(tavo::wmi::Connection& c, const std::string& query) {
    Walk w;
    auto rs = c.execQuery(query);
    while (auto obj = rs->next()) {
        ++w.objects;
        const auto names = obj->propertyNames();
        w.properties = std::max(w.properties, names.size());
        for (const auto& name : names) {
            const Value v = obj->get(name);
            if (v.isNull() || v.isArray()) continue;
            EXPECT_NO_THROW((void)tavo::wmi::toText(v, '.')) << query << " " << name;
        }
    }
    return w;
}

class WineWmi : public ::testing::Test {
  protected:
    std::shared_ptr<tavo::wmi::Backend> backend = tavo::winwmi::makeComBackend();
};

}  // namespace

TEST_F(WineWmi, ConnectsToThisComputerByEveryNameItGoesBy) {
    for (const std::string& name : {std::string("."), thisComputer(), std::string("localhost")}) {
        SCOPED_TRACE(name);
        auto factory = tavo::wmi::makeConnectionFactory(backend, backend);
        auto connection = factory->connect(tavo::wmi::monikerFor(name));
        EXPECT_GE(walkAll(*connection, "SELECT * FROM Win32_OperatingSystem").objects, 1);
    }
}

TEST_F(WineWmi, EveryClassWineProvidesWalksWithReadableValues) {
    auto connection = backend->connect(".");
    for (const char* cls :
         {"Win32_LogicalDisk", "Win32_Process", "Win32_BIOS", "Win32_ComputerSystem",
          "Win32_OperatingSystem", "Win32_Processor", "Win32_BaseBoard", "Win32_DiskDrive"}) {
        SCOPED_TRACE(cls);
        const Walk w = walkAll(*connection, std::string("SELECT * FROM ") + cls);
        EXPECT_GT(w.objects, 0);
        EXPECT_GT(w.properties, 0u);
        std::printf("[ wine     ] %-24s %3d objects, %3zu properties\n", cls, w.objects,
                    w.properties);
    }
}

TEST_F(WineWmi, AWhereClauseOnABooleanSelectsTheEnabledAdapters) {
    auto connection = backend->connect(".");
    auto rs = connection->execQuery(
        "SELECT * FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled = True");
    int n = 0;
    while (auto obj = rs->next()) {
        ++n;
        const Value enabled = obj->get("IPEnabled");
        ASSERT_TRUE(enabled.isBool());
        EXPECT_TRUE(enabled.boolean());
        const Value addresses = obj->get("IPAddress");
        EXPECT_TRUE(addresses.isNull() || addresses.isArray());
        if (addresses.isArray() && !addresses.array().empty()) {
            EXPECT_TRUE(obj->getAt("IPAddress", 0).isText());
        }
    }
    std::printf("[ wine     ] Win32_NetworkAdapterConfiguration IPEnabled: %d objects\n", n);
    EXPECT_GT(n, 0);
}

TEST_F(WineWmi, SixtyFourBitIntegersArriveAsDecimalText) {
    auto connection = backend->connect(".");
    int checked = 0;
    auto disks = connection->execQuery("SELECT * FROM Win32_LogicalDisk");
    while (auto disk = disks->next()) {
        for (const char* p : {"Size", "FreeSpace"}) {
            const Value v = disk->get(p);
            if (v.isNull()) continue;
            ASSERT_TRUE(v.isText()) << p;
            EXPECT_TRUE(isDigits(v.text())) << p << "=" << v.text();
            ++checked;
        }
    }
    auto systems = connection->execQuery("SELECT * FROM Win32_ComputerSystem");
    while (auto cs = systems->next()) {
        const Value v = cs->get("TotalPhysicalMemory");
        ASSERT_TRUE(v.isText());
        EXPECT_TRUE(isDigits(v.text())) << v.text();
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST_F(WineWmi, DatetimesConvertToTextEvenWhenMalformed) {
    // Wine writes some datetimes a character short or with "-000": they are
    // still plain text to the collectors.
    auto connection = backend->connect(".");
    auto rs = connection->execQuery("SELECT * FROM Win32_OperatingSystem");
    auto os = rs->next();
    ASSERT_TRUE(os);
    for (const char* p : {"LastBootUpTime", "LocalDateTime", "InstallDate"}) {
        const Value v = os->get(p);
        if (v.isNull()) continue;
        ASSERT_TRUE(v.isText()) << p;
        EXPECT_GE(v.text().size(), 14u) << p;
        EXPECT_EQ(tavo::wmi::toText(v, '.'), v.text());
    }
    auto bios = connection->execQuery("SELECT * FROM Win32_BIOS")->next();
    ASSERT_TRUE(bios);
    const Value release = bios->get("ReleaseDate");
    if (!release.isNull()) {
        EXPECT_NO_THROW((void)tavo::wmi::toText(release, '.'));
    }
}

TEST_F(WineWmi, AClassTheServiceLacksIsEmptyOrInvalid) {
    auto connection = backend->connect(".");
    try {
        auto rs = connection->execQuery("SELECT * FROM Win32_NoSuchClassAnywhere");
        EXPECT_EQ(rs->next(), nullptr);
    } catch (const tavo::Error& e) {
        EXPECT_EQ(e.number(), tavo::errc::kInvalidClass) << e.description();
    }
}

TEST_F(WineWmi, AnUnknownPropertyFailsWithTheServicesNumber) {
    auto connection = backend->connect(".");
    auto os = connection->execQuery("SELECT * FROM Win32_OperatingSystem")->next();
    ASSERT_TRUE(os);
    try {
        (void)os->get("NoSuchPropertyAtAll");
        FAIL() << "read of an unknown property succeeded";
    } catch (const tavo::Error& e) {
        EXPECT_EQ(e.number(), tavo::errc::kNotFound);
        EXPECT_NE(e.description().find("Not found"), std::string::npos) << e.description();
    }
}

TEST(ComText, DescribesTheServicesCodesAndTheSystems) {
    EXPECT_EQ(tavo::winwmi::describeHResult(static_cast<HRESULT>(0x80041010)), "Invalid class");
    EXPECT_EQ(tavo::winwmi::describeHResult(static_cast<HRESULT>(0x80041017)), "Invalid query");
    EXPECT_FALSE(tavo::winwmi::describeHResult(E_ACCESSDENIED).empty());
    EXPECT_EQ(tavo::winwmi::toUtf8(L"Gr\u00fc\u00dfe"),
              "Gr\xc3\xbc\xc3\x9f"
              "e");
    EXPECT_EQ(tavo::winwmi::namespacePath("SERVER1"), L"\\\\SERVER1\\root\\CIMV2");
    // Every name that means this computer connects as ".", the one WMI takes locally.
    for (const char* local : {".", "localhost", "127.0.0.1", "::1", "LOCALHOST."}) {
        EXPECT_EQ(tavo::winwmi::namespacePath(local), L"\\\\.\\root\\CIMV2") << local;
    }
    // The codes a user meets when a class or a remote service is not there.
    EXPECT_EQ(tavo::winwmi::describeHResult(static_cast<HRESULT>(0x80041015)), "Not available");
    EXPECT_EQ(tavo::winwmi::describeHResult(static_cast<HRESULT>(0x80041064)),
              "User credentials cannot be used for local connections");
    EXPECT_EQ(tavo::winwmi::describeHResult(static_cast<HRESULT>(0x80041069)), "Timed out");
}

TEST(ComText, FailuresNameTheQueryAndItsClass) {
    EXPECT_EQ(tavo::winwmi::queryInContext("SELECT * FROM Win32_Process"),
              "the query \"SELECT * FROM Win32_Process\" on the class Win32_Process");
    EXPECT_EQ(tavo::winwmi::queryInContext("select Name from  win32_share where Name = 'from x'"),
              "the query \"select Name from  win32_share where Name = 'from x'\" on the class "
              "win32_share");
    EXPECT_EQ(tavo::winwmi::queryInContext("ASSOCIATORS OF {x}"),
              "the query \"ASSOCIATORS OF {x}\"");
}
