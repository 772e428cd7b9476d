#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "linux/wmi/cim_type_check.h"
#include "platform/linux/wmi/core_classes.h"

namespace tavo::linuxwmi {
namespace {

TEST(Environment, SystemThenUserVariables) {
    SystemContext ctx;
    ctx.root = std::string(TAVO_TEST_DATA) + "/provider-core/environment";
    const auto vars = produceEnvironment(ctx);
    std::vector<std::string> seen;
    for (const auto& v : vars) {
        seen.push_back(v.find("UserName")->text() + "|" + v.find("Name")->text() + "=" +
                       v.find("VariableValue")->text());
    }
    // PATH is inherited unchanged from the system file, so it is not the
    // user's own; LANG is overridden and is.
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "<SYSTEM>|PATH=/usr/local/bin:/usr/bin:/bin", "<SYSTEM>|LANG=en_GB.UTF-8",
                        "<SYSTEM>|EDITOR=vim", "FIXTUREBOX\\alice|HOME=/home/alice",
                        "FIXTUREBOX\\alice|LANG=de_DE.UTF-8", "FIXTUREBOX\\alice|EMPTY="}));
    EXPECT_EQ(*vars[0].find("SystemVariable"), wmi::Value(true));
    EXPECT_EQ(*vars[3].find("SystemVariable"), wmi::Value(false));
    EXPECT_EQ(*vars[0].find("Caption"), wmi::Value("<SYSTEM>\\PATH"));
    EXPECT_EQ(*vars[4].find("Description"), wmi::Value("FIXTUREBOX\\alice\\LANG"));
    EXPECT_EQ(*vars[0].find("Status"), wmi::Value("OK"));
}

TEST(Environment, ThisMachineShowsThisProcessesVariables) {
    testing::expectMachineCimTypes("Win32_Environment");
    ASSERT_EQ(setenv("TAVO_ENV_PROBE", "probe value", 1), 0);
    // /proc/self/environ holds what the process started with, so look for a
    // variable it certainly had.
    const char* path = std::getenv("PATH");
    ASSERT_NE(path, nullptr);
    auto rs = makeProvider()->connect(".")->execQuery(
        "SELECT * FROM Win32_Environment WHERE Name = 'PATH'");
    bool found = false;
    while (auto v = rs->next()) found = found || v->get("VariableValue") == wmi::Value(path);
    EXPECT_TRUE(found);
}

}  // namespace
}  // namespace tavo::linuxwmi
