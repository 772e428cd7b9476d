#include "grid/utf8.h"

#include <cstddef>

namespace tavo {

namespace {

// The length of the well-formed sequence starting at `at`, or 0 when it is
// ill-formed; `bad` then receives how many bytes form its maximal ill-formed
// part (at least 1), which one U+FFFD replaces.
std::size_t sequenceAt(std::string_view s, std::size_t at, std::size_t& bad) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b0 = byte(at);
    bad = 1;
    if (b0 < 0x80) return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0) low = 0xA0;   // no overlong forms
        if (b0 == 0xED) high = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0) low = 0x90;   // no overlong forms
        if (b0 == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (at + k >= s.size()) return 0;
        const unsigned char b = byte(at + k);
        const bool fits = k == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
        if (!fits) return 0;
        bad = k + 1;  // a valid prefix so far belongs to the same bad part
    }
    return length;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    std::size_t bad = 0;
    for (std::size_t at = 0; at < text.size();) {
        // Plain ASCII runs are the common case.
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            ++at;
            continue;
        }
        const std::size_t n = sequenceAt(text, at, bad);
        if (n == 0) return false;
        at += n;
    }
    return true;
}

std::string validUtf8(std::string text) {
    if (isValidUtf8(text)) return text;
    std::string out;
    out.reserve(text.size() + 8);
    std::size_t bad = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = sequenceAt(text, at, bad);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            at += bad;
        } else {
            out.append(text, at, n);
            at += n;
        }
    }
    return out;
}

}  // namespace tavo
