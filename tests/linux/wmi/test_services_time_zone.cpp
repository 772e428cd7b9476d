#include <gtest/gtest.h>

#include <filesystem>

#include "platform/linux/wmi/service_classes.h"

namespace tavo::linuxwmi {
namespace {

namespace fs = std::filesystem;

Instance zoneOf(const std::string& tree) {
    SystemContext ctx;
    ctx.root = fs::path(TAVO_TEST_DATA) / "services" / "tz" / tree;
    auto list = produceTimeZone(ctx);
    if (list.size() != 1) throw std::runtime_error("expected one zone in " + tree);
    return std::move(list.front());
}

wmi::Value v(const Instance& i, std::string_view p) {
    return *i.find(p);
}

TEST(TimeZone, ZoneWithDaylightSaving) {
    const Instance z = zoneOf("berlin");
    EXPECT_EQ(v(z, "Caption"), wmi::Value("(UTC+01:00) Europe/Berlin"));
    EXPECT_EQ(v(z, "Description"), v(z, "Caption"));
    // UTC = local + Bias.
    EXPECT_EQ(v(z, "Bias"), wmi::Value(-60));
    EXPECT_EQ(v(z, "StandardBias"), wmi::Value(0));
    EXPECT_EQ(v(z, "DaylightBias"), wmi::Value(-60));
    EXPECT_EQ(v(z, "StandardName"), wmi::Value("CET"));
    EXPECT_EQ(v(z, "DaylightName"), wmi::Value("CEST"));
    // Last Sunday of March at 02:00, last Sunday of October at 03:00.
    EXPECT_EQ(v(z, "DaylightMonth"), wmi::Value(3));
    EXPECT_EQ(v(z, "DaylightDay"), wmi::Value(5));
    EXPECT_EQ(v(z, "DaylightDayOfWeek"), wmi::Value(0));
    EXPECT_EQ(v(z, "DaylightHour"), wmi::Value(2));
    EXPECT_EQ(v(z, "StandardMonth"), wmi::Value(10));
    EXPECT_EQ(v(z, "StandardDay"), wmi::Value(5));
    EXPECT_EQ(v(z, "StandardHour"), wmi::Value(3));
    EXPECT_EQ(v(z, "StandardMinute"), wmi::Value(0));
    EXPECT_TRUE(z.find("SettingID")->isNull());
}

TEST(TimeZone, ZoneWithoutDaylightSavingNamedByEtcTimezone) {
    // No /etc/localtime: the name in /etc/timezone finds the zone file.
    const Instance z = zoneOf("tokyo");
    EXPECT_EQ(v(z, "Caption"), wmi::Value("(UTC+09:00) Asia/Tokyo"));
    EXPECT_EQ(v(z, "Bias"), wmi::Value(-540));
    EXPECT_EQ(v(z, "StandardName"), wmi::Value("JST"));
    EXPECT_TRUE(z.find("DaylightName")->isNull());
    EXPECT_EQ(v(z, "DaylightBias"), wmi::Value(0));
    EXPECT_EQ(v(z, "DaylightMonth"), wmi::Value(0));
    EXPECT_EQ(v(z, "StandardMonth"), wmi::Value(0));
}

TEST(TimeZone, WinterTimeBehindSummerTimeIsDescribedAsStandardTime) {
    // Dublin's rule names summer time (IST) as standard and winter GMT as
    // daylight time, one hour back; described the usual way round.
    const Instance z = zoneOf("dublin");
    EXPECT_EQ(v(z, "Caption"), wmi::Value("(UTC+00:00) Europe/Dublin"));
    EXPECT_EQ(v(z, "Bias"), wmi::Value(0));
    EXPECT_EQ(v(z, "StandardName"), wmi::Value("GMT"));
    EXPECT_EQ(v(z, "DaylightName"), wmi::Value("IST"));
    EXPECT_EQ(v(z, "DaylightBias"), wmi::Value(-60));
    EXPECT_EQ(v(z, "DaylightMonth"), wmi::Value(3));
    EXPECT_EQ(v(z, "DaylightHour"), wmi::Value(1));
    EXPECT_EQ(v(z, "StandardMonth"), wmi::Value(10));
    EXPECT_EQ(v(z, "StandardHour"), wmi::Value(2));
}

TEST(TimeZone, NoZoneConfiguredMeansUtc) {
    SystemContext ctx;
    ctx.root = fs::path(TAVO_TEST_DATA) / "services" / "nothing-here";
    auto list = produceTimeZone(ctx);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(*list[0].find("Caption"), wmi::Value("(UTC) UTC"));
    EXPECT_EQ(*list[0].find("Bias"), wmi::Value(0));
}

TEST(PosixTz, RulesOffsetsAndOddForms) {
    auto ny = parsePosixTz("EST5EDT,M3.2.0,M11.1.0");
    ASSERT_TRUE(ny);
    EXPECT_EQ(ny->standardOffset, 5 * 3600);
    EXPECT_EQ(ny->daylightOffset, 4 * 3600);
    EXPECT_EQ(ny->toDaylight.week, 2);
    EXPECT_EQ(ny->toStandard.month, 11);
    EXPECT_EQ(ny->toStandard.seconds, 7200);

    auto tehran = parsePosixTz("<+0330>-3:30");
    ASSERT_TRUE(tehran);
    EXPECT_EQ(tehran->standardName, "+0330");
    EXPECT_EQ(tehran->standardOffset, -(3 * 3600 + 30 * 60));
    EXPECT_FALSE(tehran->daylightName);

    // Lord Howe: a half-hour daylight shift with its own offset.
    auto lh = parsePosixTz("<+1030>-10:30<+11>-11,M10.1.0,M4.1.0");
    ASSERT_TRUE(lh);
    EXPECT_EQ(lh->daylightOffset - lh->standardOffset, -30 * 60);

    // Nuuk changes at "-1" o'clock; a Julian-day rule has no month form.
    auto nuuk = parsePosixTz("<-02>2<-01>,M3.5.0/-1,M10.5.0/0");
    ASSERT_TRUE(nuuk);
    EXPECT_EQ(nuuk->toDaylight.seconds, -3600);
    auto julian = parsePosixTz("XXX3YYY,J60/2,J300/2");
    ASSERT_TRUE(julian);
    EXPECT_FALSE(julian->toDaylight.month);

    for (const char* bad : {"", "C", "CET", "CET-1CEST,M13.5.0,M10.5.0", "CET-1CEST,M3.5.0",
                            "<CET-1", "CET-1CEST,M3.5.0,M10.5.0/3trailing", "CET999999"}) {
        EXPECT_FALSE(parsePosixTz(bad)) << bad;
    }
}

// A version 1 file: one local time type, "XYZ" at UTC+05:45, no footer.
std::string v1File() {
    std::string d = "TZif";
    d += '\0';
    d += std::string(15, '\0');
    auto be = [&](std::uint32_t n) {
        for (int s = 24; s >= 0; s -= 8) d += static_cast<char>((n >> s) & 0xff);
    };
    for (std::uint32_t n : {0u, 0u, 0u, 0u, 1u, 4u}) be(n);  // ...timecnt 0, typecnt 1, charcnt 4
    be(5 * 3600 + 45 * 60);
    d += '\0';  // isdst
    d += '\0';  // abbreviation index
    d += std::string("XYZ\0", 4);
    return d;
}

TEST(Tzif, FooterAndVersionOneFallback) {
    SystemContext ctx;
    ctx.root = fs::path(TAVO_TEST_DATA) / "services" / "tz" / "berlin";
    auto berlin = ctx.readFile("/usr/share/zoneinfo/Europe/Berlin");
    ASSERT_TRUE(berlin);
    EXPECT_EQ(tzifRule(*berlin), std::optional<std::string>("CET-1CEST,M3.5.0,M10.5.0/3"));

    EXPECT_EQ(tzifRule(v1File()), std::optional<std::string>("XYZ-5:45"));

    // Cut short, counts pointing past the end, or not a zone file at all.
    EXPECT_FALSE(tzifRule(berlin->substr(0, berlin->size() / 2)));
    std::string huge = v1File();
    huge[39] = '\x7f';  // typecnt far past the data
    EXPECT_FALSE(tzifRule(huge));
    EXPECT_FALSE(tzifRule("#!/bin/sh\n"));
    EXPECT_FALSE(tzifRule(""));
}

}  // namespace
}  // namespace tavo::linuxwmi
