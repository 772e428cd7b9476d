#include "platform/linux/wmi/inventory_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <system_error>

namespace tavo::linuxwmi::inventory {

std::string_view trim(std::string_view s) {
    const auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = s.find(sep, start);
        if (at == std::string_view::npos) {
            out.push_back(s.substr(start));
            return out;
        }
        out.push_back(s.substr(start, at - start));
        start = at + 1;
    }
}

std::optional<std::uint64_t> parseUnsigned(std::string_view s) {
    s = trim(s);
    if (s.empty() || s.front() == '-' || s.front() == '+') return std::nullopt;
    std::uint64_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc{} || end != s.data() + s.size()) return std::nullopt;
    return v;
}

std::optional<std::int64_t> parseSigned(std::string_view s) {
    s = trim(s);
    if (s.empty() || s.front() == '+') return std::nullopt;
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc{} || end != s.data() + s.size()) return std::nullopt;
    return v;
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::string toLower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::optional<std::string> readAttribute(const SystemContext& ctx, const std::string& path) {
    auto line = ctx.readLine(path);
    if (!line) return std::nullopt;
    const std::string_view t = trim(*line);
    if (t.empty()) return std::nullopt;
    return std::string(t);
}

std::optional<std::uint64_t> readUnsignedAttribute(const SystemContext& ctx,
                                                   const std::string& path) {
    auto text = readAttribute(ctx, path);
    return text ? parseUnsigned(*text) : std::nullopt;
}

std::optional<std::int64_t> readSignedAttribute(const SystemContext& ctx, const std::string& path) {
    auto text = readAttribute(ctx, path);
    return text ? parseSigned(*text) : std::nullopt;
}

std::vector<std::string> listDirectory(const SystemContext& ctx, std::string_view absolute) {
    return ctx.names(absolute);
}

}  // namespace tavo::linuxwmi::inventory
