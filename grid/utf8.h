#pragma once

#include <string>
#include <string_view>

namespace tavo {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing past U+10FFFF).
bool isValidUtf8(std::string_view text);

// `text` with every ill-formed sequence replaced by U+FFFD, one replacement
// per maximal ill-formed part as Unicode recommends, so a value read from a
// file name or a process's arguments can go into any export or JSON. Valid
// text comes back unchanged (and without a copy when moved in).
std::string validUtf8(std::string text);

}  // namespace tavo
