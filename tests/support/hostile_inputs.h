#pragma once

// Inputs that a local user can plant for the provider's parsers, made in
// code so the tests and the benchmark feed the same shapes.

#include <cstdint>
#include <string>

namespace tavo::hostile {

inline void putWord(std::string& f, std::size_t at, std::uint32_t v) {
    for (int b = 0; b < 4; ++b) f[at + b] = static_cast<char>((v >> (8 * b)) & 0xFF);
}

// A GVariant database whose `count` items each name the one before as their
// parent, so item i's full key is i + 1 parts deep. Every item holds the
// boolean true. Each key is `keyBytes` long (the same bytes, shared).
inline std::string gvdbChain(std::uint32_t count, std::uint16_t keyBytes = 1) {
    constexpr std::size_t kHeader = 24, kItem = 24;
    const std::size_t tableAt = kHeader;
    const std::size_t itemsAt = tableAt + 8;  // no bloom words, no buckets
    const std::size_t tableEnd = itemsAt + kItem * count;
    const std::size_t keyAt = tableEnd;
    const std::size_t valueAt = keyAt + keyBytes;
    std::string f(valueAt + 3, '\0');
    putWord(f, 0, 1918981703);
    putWord(f, 4, 1953390953);
    putWord(f, 16, static_cast<std::uint32_t>(tableAt));
    putWord(f, 20, static_cast<std::uint32_t>(tableEnd));
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t at = itemsAt + i * kItem;
        putWord(f, at + 4, i == 0 ? 0xFFFFFFFF : i - 1);
        putWord(f, at + 8, static_cast<std::uint32_t>(keyAt));
        putWord(f, at + 12, keyBytes);  // size in the low half, type above
        f[at + 14] = 'v';
        putWord(f, at + 16, static_cast<std::uint32_t>(valueAt));
        putWord(f, at + 20, static_cast<std::uint32_t>(valueAt + 3));
    }
    for (std::size_t i = 0; i < keyBytes; ++i) f[keyAt + i] = static_cast<char>('a' + i % 26);
    f[valueAt] = 1;  // true, its end, its type "b"
    f[valueAt + 1] = 0;
    f[valueAt + 2] = 'b';
    return f;
}

// An xfconf channel file of `depth` nested properties, then the value that
// is asked for, outside them.
inline std::string xfconfNested(std::size_t depth) {
    std::string xml = "<?xml version=\"1.0\"?>\n<channel name=\"xfce4-screensaver\">\n";
    for (std::size_t i = 0; i < depth; ++i) xml += "<property name=\"n\" type=\"empty\">";
    for (std::size_t i = 0; i < depth; ++i) xml += "</property>";
    xml +=
        "\n<property name=\"saver\" type=\"empty\">"
        "<property name=\"enabled\" type=\"bool\" value=\"true\"/></property>\n</channel>\n";
    return xml;
}

}  // namespace tavo::hostile
