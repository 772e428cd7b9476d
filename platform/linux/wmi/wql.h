#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "collectors/value.h"

namespace tavo::linuxwmi {

// The WQL this provider answers: SELECT * FROM <class> with at most one
// WHERE <property> = <literal>. Keywords and names are case-insensitive.
struct WqlQuery {
    std::string className;
    struct Condition {
        std::string property;
        wmi::Value literal;  // text, integer, real or boolean
    };
    std::optional<Condition> where;
};

// Throws tavo::Error (errc::kInvalidQuery) naming what is wrong with the text.
WqlQuery parseWql(std::string_view text);

// Whether a property value satisfies `property = literal` as WMI compares:
// strings case-insensitively, numbers by value (64-bit integers arrive as
// digit text), booleans against True/False or a number. Null never matches.
bool wqlEquals(const wmi::Value& value, const wmi::Value& literal);

}  // namespace tavo::linuxwmi
