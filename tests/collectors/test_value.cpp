#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>

#include "collectors/value.h"
#include "grid/error.h"

namespace tavo::wmi {
namespace {

std::uint32_t errorNumber(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.number();
    }
    return 0;
}

TEST(ValueText, ScalarsConvertAsScriptsSeeThem) {
    EXPECT_EQ(toText(Value(), '.'), "");
    EXPECT_EQ(toText(Value("Local Disk"), '.'), "Local Disk");
    EXPECT_EQ(toText(Value("1.5"), ','), "1.5");  // text is never reformatted
    EXPECT_EQ(toText(Value(0), '.'), "0");
    EXPECT_EQ(toText(Value(-42), '.'), "-42");
    EXPECT_EQ(toText(Value(std::numeric_limits<std::int64_t>::max()), '.'), "9223372036854775807");
    EXPECT_EQ(toText(Value(true), '.'), "True");
    EXPECT_EQ(toText(Value(false), '.'), "False");
}

TEST(ValueText, RealsUseFifteenDigitsNoTrailingZerosAndTheSeparator) {
    struct Case {
        double value;
        const char* dot;
        const char* comma;
    } cases[] = {
        {75.0, "75", "75"},
        {45.13, "45.13", "45,13"},
        {0.08, "0.08", "0,08"},
        {116.44, "116.44", "116,44"},
        {0.1 + 0.2, "0.3", "0,3"},  // binary noise past 15 digits is not shown
        {1.0 / 3.0, "0.333333333333333", "0,333333333333333"},
        {-2.5, "-2.5", "-2,5"},
        {-0.0, "0", "0"},
        {123456789012345.0, "123456789012345", "123456789012345"},
        {1e20, "1E+20", "1E+20"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toText(Value(c.value), '.'), c.dot) << c.value;
        EXPECT_EQ(toText(Value(c.value), ','), c.comma) << c.value;
    }
}

TEST(ValueText, GlobalSeparatorDefaultsToDotAndFollowsTheSetting) {
    EXPECT_EQ(decimalSeparator(), '.');
    EXPECT_EQ(toText(Value(91.5)), "91.5");
    setDecimalSeparator(',');
    EXPECT_EQ(toText(Value(91.5)), "91,5");
    EXPECT_EQ(toText(Value(7)), "7");
    setDecimalSeparator('.');
    EXPECT_EQ(toText(Value(91.5)), "91.5");
}

TEST(ValueText, NullAndArraysCannotBecomeText) {
    EXPECT_EQ(errorNumber([] { toText(Value::null(), '.'); }), errc::kTypeMismatch);
    EXPECT_EQ(errorNumber([] { toText(Value(Value::Array{Value("a")}), '.'); }),
              errc::kTypeMismatch);
    EXPECT_EQ(errorNumber([] { toText(Value(Value::Array{}), '.'); }), errc::kTypeMismatch);
}

TEST(ValueAt, ReadsEntriesAndFailsOutsideOrOnNonArrays) {
    Value a(Value::Array{Value("10.0.0.5"), Value("fe80::1"), Value::null()});
    EXPECT_EQ(a.at(0), Value("10.0.0.5"));
    EXPECT_EQ(a.at(1), Value("fe80::1"));
    EXPECT_TRUE(a.at(2).isNull());
    // Out of range and on non-arrays the read fails, so a collector leaves
    // the cell empty rather than showing something else.
    EXPECT_NE(errorNumber([&] { a.at(3); }), 0u);
    EXPECT_NE(errorNumber([&] { a.at(-1); }), 0u);
    EXPECT_NE(errorNumber([] { Value(Value::Array{}).at(0); }), 0u);
    EXPECT_EQ(errorNumber([] { Value::null().at(0); }), errc::kTypeMismatch);
    EXPECT_EQ(errorNumber([] { Value("x").at(0); }), errc::kTypeMismatch);
    EXPECT_EQ(errorNumber([] { Value().at(0); }), errc::kTypeMismatch);
}

}  // namespace
}  // namespace tavo::wmi
