#include <gtest/gtest.h>

#include "cim_type_check.h"
#include "platform/linux/wmi/service_classes.h"

// Every class walked over this machine through the provider, each value
// checked against its CIM type. What the machine lacks gives no objects.
namespace tavo::linuxwmi {
namespace {

using testing::expectMachineCimTypes;

TEST(ServicesOnThisMachine, EveryValueHasItsCimType) {
    for (const char* cls : {"Win32_Service", "Win32_VideoController", "Win32_Desktop",
                            "Win32_IP4RouteTable", "Win32_TimeZone"}) {
        SCOPED_TRACE(cls);
        const int n = expectMachineCimTypes(cls);
        RecordProperty(cls, n);
        // Every Linux system has a zone (UTC when none is set).
        if (std::string_view(cls) == "Win32_TimeZone") {
            EXPECT_EQ(n, 1);
        }
    }
}

TEST(ServicesOnThisMachine, ServicesAgreeWithTheUnitFiles) {
    const SystemContext ctx = SystemContext::forThisMachine();
    const auto files = scanServiceUnits(ctx);
    const auto services = produceServices(ctx);
    // The manager may add units without files; it never removes one.
    EXPECT_GE(services.size(), files.size());
    for (const auto& s : services) {
        const wmi::Value& mode = *s.find("StartMode");
        ASSERT_TRUE(mode.isText());
        EXPECT_TRUE(mode.text() == "Auto" || mode.text() == "Manual" || mode.text() == "Disabled")
            << mode.text();
    }
}

}  // namespace
}  // namespace tavo::linuxwmi
