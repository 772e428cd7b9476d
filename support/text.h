#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

// The text helpers every folder shares. All of them work on bytes and know
// only ASCII: what they read (files under /proc and /sys, HTTP headers, WQL,
// class and property names, host names) is ASCII where it matters, and
// std::tolower and std::isspace follow the process's locale, which Qt sets
// from the environment, so the same input could fold or trim differently on
// another desktop.
namespace tavo::text {

// White space: blank, tab, line feed, carriage return, vertical tab and form
// feed (what isspace gives in the "C" locale, whatever the locale is).
constexpr bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
constexpr bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
constexpr char toLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char toUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// `s` without white space at either end.
std::string_view trim(std::string_view s);

// Splits on every `sep`, keeping empty fields ("a::b" gives three).
std::vector<std::string_view> split(std::string_view s, char sep);
// The lines of `text`, without their line feeds (no empty last line).
std::vector<std::string_view> splitLines(std::string_view text);
// The words of `line`, split on runs of white space.
std::vector<std::string_view> splitWords(std::string_view line);

std::string toLower(std::string_view s);
std::string toUpper(std::string_view s);
// <0, 0 or >0 as `a` sorts before, with or after `b`, case folded; bytes
// beyond ASCII sort after it. Inline: sorting a grid and looking up every
// property of every instance by name call it in their inner loops.
inline int compareIgnoreCase(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(toLower(a[i]));
        const auto cb = static_cast<unsigned char>(toLower(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}
inline bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && compareIgnoreCase(a, b) == 0;
}
inline bool lessIgnoreCase(std::string_view a, std::string_view b) {
    return compareIgnoreCase(a, b) < 0;
}
bool startsWithIgnoreCase(std::string_view s, std::string_view prefix);

// `s` as a number when it is one whole, with nothing around it.
template <typename T>
std::optional<T> wholeNumber(std::string_view s) {
    T v{};
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
    return v;
}
// A whole decimal number with nothing around it but white space, no sign.
std::optional<std::uint64_t> parseUnsigned(std::string_view s);
// The same, with an optional '-'.
std::optional<std::int64_t> parseSigned(std::string_view s);

// `digits` random lower-case hex digits, new on every call: markers and
// boundaries that no text read from elsewhere can be expected to hold.
std::string randomHex(std::size_t digits);

}  // namespace tavo::text
