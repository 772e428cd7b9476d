#include "platform/linux/wmi/schema.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace tavo::linuxwmi {

namespace {
// Property and class names are ASCII. Folded inline: std::tolower is a call
// into the C library per character, and every property read of every
// instance searches the schema by name.
inline int foldAscii(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
}

int compareIgnoreCase(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int ca = foldAscii(a[i]);
        const int cb = foldAscii(b[i]);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

CimType parseType(std::string_view t) {
    static const std::pair<std::string_view, CimType> kTypes[] = {
        {"string", CimType::String},    {"boolean", CimType::Boolean}, {"uint8", CimType::UInt8},
        {"uint16", CimType::UInt16},    {"uint32", CimType::UInt32},   {"uint64", CimType::UInt64},
        {"sint8", CimType::SInt8},      {"sint16", CimType::SInt16},   {"sint32", CimType::SInt32},
        {"sint64", CimType::SInt64},    {"real32", CimType::Real32},   {"real64", CimType::Real64},
        {"datetime", CimType::DateTime}};
    for (const auto& [name, type] : kTypes) {
        if (name == t) return type;
    }
    throw std::logic_error("unknown CIM type in schema: " + std::string(t));
}

std::vector<ClassDef> build() {
    std::vector<ClassDef> classes;
    for (const auto& raw : generated::rawClasses()) {
        ClassDef c{raw.name, raw.superclass, {}, {}};
        for (const auto& p : raw.properties) {
            std::string_view t = p.type;
            const bool isArray = t.size() > 2 && t.substr(t.size() - 2) == "[]";
            if (isArray) t.remove_suffix(2);
            c.properties.push_back({p.name, parseType(t), isArray});
        }
        std::stable_sort(c.properties.begin(), c.properties.end(),
                         [](const PropertyDef& a, const PropertyDef& b) {
                             return compareIgnoreCase(a.name, b.name) < 0;
                         });
        for (std::size_t i = 0; i < c.properties.size(); ++i) {
            std::string key(c.properties[i].name);
            for (char& ch : key) ch = static_cast<char>(foldAscii(ch));
            // The first of two names that differ only in case wins, as the
            // sorted search found it.
            c.byLowerName.emplace(std::move(key), static_cast<int>(i));
        }
        classes.push_back(std::move(c));
    }
    return classes;
}

const std::vector<ClassDef>& table() {
    static const std::vector<ClassDef> classes = build();
    return classes;
}
}  // namespace

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && compareIgnoreCase(a, b) == 0;
}

int ClassDef::indexOf(std::string_view property) const {
    // Names are short: the folded copy stays in the string's own buffer.
    std::string key(property);
    for (char& c : key) c = static_cast<char>(foldAscii(c));
    const auto it = byLowerName.find(key);
    return it == byLowerName.end() ? -1 : it->second;
}

const ClassDef* findClass(std::string_view name) {
    for (const auto& c : table()) {
        if (equalsIgnoreCase(c.name, name)) return &c;
    }
    return nullptr;
}

std::span<const ClassDef> allClasses() {
    return table();
}

}  // namespace tavo::linuxwmi
