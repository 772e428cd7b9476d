#include "platform/linux/wmi/provider.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "grid/error.h"
#include "platform/linux/wmi/instance.h"

namespace tavo::linuxwmi {
namespace {

Instance envVar(const std::string& name, const std::string& value, bool system) {
    Instance i("Win32_Environment");
    i.set("Name", name);
    i.set("VariableValue", value);
    i.set("SystemVariable", system);
    return i;
}

std::shared_ptr<wmi::Backend> testProvider() {
    auto r = std::make_shared<Registry>();
    r->add("Win32_Environment", [](const SystemContext&) {
        return std::vector<Instance>{envVar("PATH", "/usr/bin", true), envVar("LANG", "C", true),
                                     envVar("EDITOR", "vi", false)};
    });
    r->add("Win32_Account", [](const SystemContext&) {
        Instance user("Win32_UserAccount");
        user.set("Name", "alice");
        Instance group("Win32_Group");
        group.set("Name", "staff");
        return std::vector<Instance>{std::move(user), std::move(group)};
    });
    r->add("Win32_Process", [](const SystemContext&) -> std::vector<Instance> {
        throw std::runtime_error("proc is not mounted");
    });
    return makeProvider(SystemContext{}, r);
}

std::vector<std::unique_ptr<wmi::Object>> walk(const std::string& query) {
    auto rs = testProvider()->connect(".")->execQuery(query);
    std::vector<std::unique_ptr<wmi::Object>> out;
    while (auto o = rs->next()) out.push_back(std::move(o));
    return out;
}

std::uint32_t walkError(const std::string& query, bool* failedAtExec = nullptr) {
    std::unique_ptr<wmi::ResultSet> rs;
    try {
        rs = testProvider()->connect(".")->execQuery(query);
    } catch (const Error& e) {
        if (failedAtExec) *failedAtExec = true;
        return e.number();
    }
    try {
        while (rs->next()) {
        }
    } catch (const Error& e) {
        EXPECT_FALSE(e.description().empty());
        return e.number();
    }
    return 0;
}

TEST(Provider, WalksObjectsAndReadsPropertiesByAnyCase) {
    auto objs = walk("select * from WIN32_ENVIRONMENT");
    ASSERT_EQ(objs.size(), 3u);
    EXPECT_EQ(objs[0]->get("name"), wmi::Value("PATH"));
    EXPECT_EQ(objs[0]->get("VARIABLEVALUE"), wmi::Value("/usr/bin"));
    EXPECT_TRUE(objs[0]->get("Caption").isNull());  // never filled: null, not empty
    EXPECT_EQ(objs[2]->get("SystemVariable"), wmi::Value(false));
    EXPECT_EQ(objs[0]->get("__CLASS"), wmi::Value("Win32_Environment"));

    // Properties_ order: case-insensitive alphabetical, every property once.
    const auto names = objs[0]->propertyNames();
    ASSERT_EQ(names.size(), 8u);
    EXPECT_EQ(names.front(), "Caption");
    EXPECT_EQ(names.back(), "VariableValue");

    try {
        objs[0]->get("NoSuchProperty");
        ADD_FAILURE() << "unknown property read";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::kNotFound);
        EXPECT_NE(e.description().find("NoSuchProperty"), std::string::npos);
    }
}

TEST(Provider, WhereFilters) {
    EXPECT_EQ(walk("SELECT * FROM Win32_Environment WHERE SystemVariable = True").size(), 2u);
    EXPECT_EQ(walk("SELECT * FROM Win32_Environment WHERE SystemVariable = FALSE").size(), 1u);
    auto objs = walk("SELECT * FROM Win32_Environment WHERE name = 'lang'");
    ASSERT_EQ(objs.size(), 1u);
    EXPECT_EQ(objs[0]->get("VariableValue"), wmi::Value("C"));
    // A null property matches no literal.
    EXPECT_EQ(walk("SELECT * FROM Win32_Environment WHERE Caption = ''").size(), 0u);
}

TEST(Provider, FailsAsAScriptSeesIt) {
    bool atExec = false;
    // Errors surface when the walk starts, not at ExecQuery.
    EXPECT_EQ(walkError("SELECT * FROM Win32_NoSuchThing", &atExec), errc::kInvalidClass);
    EXPECT_FALSE(atExec);
    // In the schema but with no producer on this system.
    EXPECT_EQ(walkError("SELECT * FROM Win32_Battery"), errc::kInvalidClass);
    EXPECT_EQ(walkError("SELECT Name FROM Win32_Environment", &atExec), errc::kInvalidQuery);
    EXPECT_FALSE(atExec);
    EXPECT_EQ(walkError("SELECT * FROM Win32_Environment WHERE Bogus = 1"), errc::kInvalidQuery);
    EXPECT_EQ(walkError("SELECT * FROM Win32_Process"), errc::kFailed);
}

TEST(Provider, AbstractClassYieldsSubclassObjects) {
    auto objs = walk("SELECT * FROM Win32_Account");
    ASSERT_EQ(objs.size(), 2u);
    EXPECT_EQ(objs[0]->get("__CLASS"), wmi::Value("Win32_UserAccount"));
    EXPECT_EQ(objs[1]->get("__CLASS"), wmi::Value("Win32_Group"));
    // Each lists its own class's properties.
    EXPECT_EQ(objs[0]->propertyNames().size(),
              schema::findClass("Win32_UserAccount")->properties.size());
    EXPECT_EQ(objs[1]->propertyNames().size(), schema::findClass("Win32_Group")->properties.size());
    EXPECT_EQ(walk("SELECT * FROM Win32_Account WHERE Name = 'staff'").size(), 1u);
}

}  // namespace
}  // namespace tavo::linuxwmi

#include <unistd.h>

#include <filesystem>

namespace tavo::linuxwmi {
namespace {

// A class with nothing to show says why, from what the provider could not
// read; a class that had instances says nothing of the kind.
TEST(ProviderEmptyReasons, NoBatteryAndNoFirmwareTablesAreNamed) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("tavo-empty-" + std::to_string(getpid()));
    fs::create_directories(root / "proc");
    SystemContext ctx;
    ctx.root = root;
    auto provider = makeProvider(ctx);
    const auto reasonAfterWalk = [&](const std::string& wmiclass) {
        auto rs = provider->connect(".")->execQuery("SELECT * FROM " + wmiclass);
        while (rs->next()) {
        }
        return rs->emptyReason();
    };
    EXPECT_NE(reasonAfterWalk("Win32_Battery").find("no /sys/class/power_supply"),
              std::string::npos);
    fs::create_directories(root / "sys/class/power_supply/AC");
    EXPECT_EQ(reasonAfterWalk("Win32_Battery"),
              "this computer has no battery (/sys/class/power_supply lists none)");
    EXPECT_NE(reasonAfterWalk("Win32_BIOS").find("no /sys/class/dmi/id"), std::string::npos);
    EXPECT_NE(reasonAfterWalk("Win32_PhysicalMemory").find("/sys/firmware/dmi/tables/DMI"),
              std::string::npos);
    // Nothing to explain where having none is ordinary.
    EXPECT_EQ(reasonAfterWalk("Win32_PrintJob"), "");
    fs::remove_all(root);
}

}  // namespace
}  // namespace tavo::linuxwmi
