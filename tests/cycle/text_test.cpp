#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/text.h"

namespace tavo::text {
namespace {

using Parts = std::vector<std::string_view>;

TEST(Text, Trim) {
    const struct {
        std::string_view in, out;
    } rows[] = {
        {"", ""},
        {"   ", ""},
        {"a", "a"},
        {" a b ", "a b"},
        {"\t\r\na\v\f", "a"},
        {"x\r", "x"},
        {"\xc2\xa0x", "\xc2\xa0x"},  // no-break space is not ASCII white space
    };
    for (const auto& r : rows) EXPECT_EQ(trim(r.in), r.out) << '"' << r.in << '"';
}

TEST(Text, Splitting) {
    const struct {
        std::string_view in;
        Parts fields, lines, words;
    } rows[] = {
        {"", {""}, {}, {}},
        {"a:b", {"a:b"}, {"a:b"}, {"a:b"}},
        {"a b\n", {"a b\n"}, {"a b"}, {"a", "b"}},
        {"x\n\ny", {"x\n\ny"}, {"x", "", "y"}, {"x", "y"}},
        {" \ta  b\r", {" \ta  b\r"}, {" \ta  b\r"}, {"a", "b"}},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(split(r.in, '\x01'), r.fields) << r.in;
        EXPECT_EQ(splitLines(r.in), r.lines) << r.in;
        EXPECT_EQ(splitWords(r.in), r.words) << r.in;
    }
    EXPECT_EQ(split("a::b", ':'), (Parts{"a", "", "b"}));
    EXPECT_EQ(split(":", ':'), (Parts{"", ""}));
}

TEST(Text, CaseFoldingIsAsciiOnly) {
    const struct {
        std::string_view a, b;
        int order;
    } rows[] = {
        {"", "", 0},
        {"Win32_BIOS", "win32_bios", 0},
        {"a", "B", -1},
        {"b", "A", 1},
        {"ab", "AB_", -1},
        {"_", "a", -1},
        {"Z", "\xc3\x84", -1},  // beyond ASCII after it, and not folded
        {"\xc3\x84", "\xc3\xa4", -1},
    };
    for (const auto& r : rows) {
        const int c = compareIgnoreCase(r.a, r.b);
        EXPECT_EQ((c > 0) - (c < 0), r.order) << r.a << " ~ " << r.b;
        EXPECT_EQ(equalsIgnoreCase(r.a, r.b), r.order == 0) << r.a << " ~ " << r.b;
        EXPECT_EQ(lessIgnoreCase(r.a, r.b), r.order < 0) << r.a << " ~ " << r.b;
    }
    EXPECT_EQ(toLower("MiXed 1-Z\xc3\x84"), "mixed 1-z\xc3\x84");
    EXPECT_EQ(toUpper("mixed 1-z\xc3\xa4"), "MIXED 1-Z\xc3\xa4");
    EXPECT_TRUE(startsWithIgnoreCase("SSH://host", "ssh://"));
    EXPECT_FALSE(startsWithIgnoreCase("ss", "ssh"));
}

TEST(Text, Numbers) {
    const struct {
        std::string_view in;
        std::optional<std::uint64_t> whole, unsignedValue;
        std::optional<std::int64_t> signedValue;
    } rows[] = {
        {"0", 0, 0, 0},
        {"42", 42, 42, 42},
        {" 42\n", std::nullopt, 42, 42},
        {"-7", std::nullopt, std::nullopt, -7},
        {"+7", std::nullopt, std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt, std::nullopt},
        {"4 2", std::nullopt, std::nullopt, std::nullopt},
        {"0x10", std::nullopt, std::nullopt, std::nullopt},
        {"18446744073709551615", 18446744073709551615ull, 18446744073709551615ull, std::nullopt},
        {"18446744073709551616", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(wholeNumber<std::uint64_t>(r.in), r.whole) << '"' << r.in << '"';
        EXPECT_EQ(parseUnsigned(r.in), r.unsignedValue) << '"' << r.in << '"';
        EXPECT_EQ(parseSigned(r.in), r.signedValue) << '"' << r.in << '"';
    }
    EXPECT_EQ(wholeNumber<double>("1.5"), 1.5);
    EXPECT_EQ(wholeNumber<double>("1,5"), std::nullopt);
}

TEST(Text, RandomHex) {
    for (std::size_t digits : {0u, 1u, 7u, 8u, 9u, 32u}) {
        const std::string t = randomHex(digits);
        EXPECT_EQ(t.size(), digits);
        EXPECT_EQ(t.find_first_not_of("0123456789abcdef"), std::string::npos) << t;
    }
    EXPECT_NE(randomHex(32), randomHex(32));
}

}  // namespace
}  // namespace tavo::text
