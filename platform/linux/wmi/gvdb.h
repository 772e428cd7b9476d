#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <variant>

namespace tavo::linuxwmi {

// One setting of a GVariant database: the scalar kinds desktop settings use.
using GvdbValue = std::variant<std::string, bool, std::int64_t>;

// Every scalar value of a GVariant database file (GLib's GVDB format, which
// dconf keeps each user's settings in: ~/.config/dconf/user), by its full
// key ("/org/gnome/desktop/background/picture-uri"). GLib keeps its reader
// private, so this one reads the format itself; it trusts nothing in the
// file, and a damaged or foreign file gives what could be read safely,
// possibly nothing. Values of other kinds (arrays, tuples) are left out.
std::map<std::string, GvdbValue> readGvdb(std::string_view file);

}  // namespace tavo::linuxwmi
