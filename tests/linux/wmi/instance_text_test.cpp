#include <gtest/gtest.h>

#include <string>

#include "linux/wmi/zone_guard.h"
#include "platform/linux/wmi/instance.h"

namespace tavo::linuxwmi {
namespace {

using testing::ZoneGuard;

// 1700000000 is 2023-11-14 22:13:20 UTC; 1689000000 is 2023-07-10 14:40:00 UTC.
TEST(DmtfTime, OffsetsMoveTheClockTheWayTheirSignSays) {
    EXPECT_EQ(dmtfDateTimeUtcOffset(1700000000, 0, 0), "20231114221320.000000+000");
    // East of UTC: later on the clock, a plus sign.
    EXPECT_EQ(dmtfDateTimeUtcOffset(1700000000, 123456, 540), "20231115071320.123456+540");
    EXPECT_EQ(dmtfDateTimeUtcOffset(1700000000, 0, 330), "20231115034320.000000+330");
    // West of UTC: earlier, a minus sign.
    EXPECT_EQ(dmtfDateTimeUtcOffset(1700000000, 0, -300), "20231114171320.000000-300");
    EXPECT_EQ(dmtfDateTimeUtcOffset(1700000000, 999999, -570), "20231114124320.999999-570");
}

TEST(DmtfTime, LocalTimeUsesTheZoneInForce) {
    {
        ZoneGuard east("JST-9");
        EXPECT_EQ(dmtfDateTime(1700000000), "20231115071320.000000+540");
        EXPECT_EQ(dmtfDateTime(1689000000, 42), "20230710234000.000042+540");
    }
    {
        ZoneGuard west("EST5EDT,M3.2.0,M11.1.0");
        EXPECT_EQ(dmtfDateTime(1700000000), "20231114171320.000000-300");
        // Summer time: the offset is that of the day, not of the standard zone.
        EXPECT_EQ(dmtfDateTime(1689000000), "20230710104000.000000-240");
    }
    {
        ZoneGuard utc("UTC0");
        EXPECT_EQ(dmtfDateTime(1700000000), "20231114221320.000000+000");
    }
}

TEST(InstanceText, SixtyFourBitValuesAreDecimalTextWithTheirOwnSign) {
    Instance p("Win32_Process");
    // Unsigned values at and past 2^63 must not come out negative.
    p.setUInt64("VirtualSize", 9223372036854775808ULL);
    EXPECT_EQ(*p.find("VirtualSize"), wmi::Value("9223372036854775808"));
    p.setUInt64("VirtualSize", 18446744073709551615ULL);
    EXPECT_EQ(*p.find("VirtualSize"), wmi::Value("18446744073709551615"));
    p.setUInt64("VirtualSize", 9223372036854775807ULL);
    EXPECT_EQ(*p.find("VirtualSize"), wmi::Value("9223372036854775807"));
    // A 32-bit property keeps its number.
    p.setInt("ThreadCount", 7);
    EXPECT_EQ(*p.find("ThreadCount"), wmi::Value(7));
}

}  // namespace
}  // namespace tavo::linuxwmi
