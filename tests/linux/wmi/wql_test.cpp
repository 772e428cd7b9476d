#include "platform/linux/wmi/wql.h"

#include <gtest/gtest.h>

#include "grid/error.h"

namespace tavo::linuxwmi {
namespace {

TEST(Wql, AcceptsTheQueriesTavoSends) {
    WqlQuery q = parseWql("Select * from Win32_LogicalDisk");
    EXPECT_EQ(q.className, "Win32_LogicalDisk");
    EXPECT_FALSE(q.where);

    q = parseWql("Select * from Win32_NetworkAdapterConfiguration Where IPEnabled = True");
    EXPECT_EQ(q.className, "Win32_NetworkAdapterConfiguration");
    ASSERT_TRUE(q.where);
    EXPECT_EQ(q.where->property, "IPEnabled");
    EXPECT_EQ(q.where->literal, wmi::Value(true));

    q = parseWql("  sElEcT   *FROM win32_process   WHERE processid=42  ");
    EXPECT_EQ(q.className, "win32_process");
    EXPECT_EQ(q.where->literal, wmi::Value(42));
}

TEST(Wql, ParsesLiterals) {
    EXPECT_EQ(parseWql("SELECT * FROM C WHERE P = false").where->literal, wmi::Value(false));
    EXPECT_EQ(parseWql("SELECT * FROM C WHERE P = -7").where->literal, wmi::Value(-7));
    EXPECT_EQ(parseWql("SELECT * FROM C WHERE P = 2.5").where->literal, wmi::Value(2.5));
    EXPECT_EQ(parseWql("SELECT * FROM C WHERE P = 18446744073709551615").where->literal,
              wmi::Value("18446744073709551615"));
    EXPECT_EQ(parseWql("SELECT * FROM C WHERE P = \"a b\"").where->literal, wmi::Value("a b"));
    // Backslash escapes, as in 'C:\\Windows'.
    EXPECT_EQ(parseWql(R"(SELECT * FROM C WHERE P = 'C:\\Temp\'s')").where->literal,
              wmi::Value(R"(C:\Temp's)"));
}

TEST(Wql, RejectsWhatItDoesNotAnswer) {
    for (const char* bad :
         {"", "SELECT", "SELECT Name FROM Win32_Process", "SELECT * Win32_Process", "SELECT * FROM",
          "SELECT * FROM Win32_Process WHERE", "SELECT * FROM Win32_Process WHERE Name",
          "SELECT * FROM Win32_Process WHERE Name = ",
          "SELECT * FROM Win32_Process WHERE Name = 'x",
          "SELECT * FROM Win32_Process WHERE Name <> 'x'",
          "SELECT * FROM Win32_Process WHERE Name = x",
          "SELECT * FROM Win32_Process WHERE Name = 'x' AND Handle = '1'",
          "SELECT * FROM Win32_Process; DROP", "SELECT * FROM Win32_Process extra",
          "SELECT * FROM C WHERE P = 1.2.3"}) {
        try {
            parseWql(bad);
            ADD_FAILURE() << "accepted: " << bad;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), errc::kInvalidQuery) << bad;
            EXPECT_NE(e.description().find("Invalid query"), std::string::npos);
        }
    }
}

TEST(Wql, ComparesAsWmiDoes) {
    EXPECT_TRUE(wqlEquals(wmi::Value("Running"), wmi::Value("running")));
    EXPECT_FALSE(wqlEquals(wmi::Value("Running"), wmi::Value("Run")));
    EXPECT_TRUE(wqlEquals(wmi::Value(true), wmi::Value(true)));
    EXPECT_FALSE(wqlEquals(wmi::Value(false), wmi::Value(true)));
    EXPECT_TRUE(wqlEquals(wmi::Value(true), wmi::Value(1)));
    EXPECT_TRUE(wqlEquals(wmi::Value(42), wmi::Value(42)));
    EXPECT_TRUE(wqlEquals(wmi::Value(42), wmi::Value("42")));
    // uint64 values arrive as digit text; compare exactly even beyond 2^53.
    EXPECT_TRUE(
        wqlEquals(wmi::Value("9007199254740993"), wmi::Value(std::int64_t{9007199254740993})));
    EXPECT_FALSE(
        wqlEquals(wmi::Value("9007199254740993"), wmi::Value(std::int64_t{9007199254740992})));
    EXPECT_TRUE(wqlEquals(wmi::Value("18446744073709551615"), wmi::Value("18446744073709551615")));
    EXPECT_FALSE(wqlEquals(wmi::Value::null(), wmi::Value("")));
    EXPECT_FALSE(wqlEquals(wmi::Value(wmi::Value::Array{wmi::Value(1)}), wmi::Value(1)));
    EXPECT_FALSE(wqlEquals(wmi::Value("abc"), wmi::Value(0)));
}

}  // namespace
}  // namespace tavo::linuxwmi
