#include "support/text.h"

#include <random>

namespace tavo::text {

std::string_view trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> out;
    for (;;) {
        const std::size_t at = s.find(sep);
        out.push_back(s.substr(0, at));
        if (at == std::string_view::npos) return out;
        s.remove_prefix(at + 1);
    }
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        out.push_back(text.substr(0, nl));
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
    return out;
}

std::vector<std::string_view> splitWords(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isSpace(line[i])) ++i;
        const std::size_t start = i;
        while (i < line.size() && !isSpace(line[i])) ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

std::string toLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = toLower(c);
    return out;
}

std::string toUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = toUpper(c);
    return out;
}

bool startsWithIgnoreCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && equalsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

std::optional<std::uint64_t> parseUnsigned(std::string_view s) {
    s = trim(s);
    if (s.empty() || s.front() == '-' || s.front() == '+') return std::nullopt;
    return wholeNumber<std::uint64_t>(s);
}

std::optional<std::int64_t> parseSigned(std::string_view s) {
    s = trim(s);
    if (s.empty() || s.front() == '+') return std::nullopt;
    return wholeNumber<std::int64_t>(s);
}

std::string randomHex(std::size_t digits) {
    static constexpr char kHex[] = "0123456789abcdef";
    // A device per call: a thread_local one would need a destructor at
    // thread exit, which MinGW-w64 runs in no fixed order with freeing the
    // thread's storage.
    std::random_device rd;
    std::string out;
    out.reserve(digits);
    while (out.size() < digits) {
        auto bits = static_cast<std::uint32_t>(rd());
        for (int i = 0; i < 8 && out.size() < digits; ++i, bits >>= 4) out += kHex[bits & 0xf];
    }
    return out;
}

}  // namespace tavo::text
