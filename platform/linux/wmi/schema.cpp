#include "platform/linux/wmi/schema.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>

namespace tavo::linuxwmi {

namespace {
int compareIgnoreCase(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int ca = std::tolower(static_cast<unsigned char>(a[i]));
        const int cb = std::tolower(static_cast<unsigned char>(b[i]));
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
        ClassDef c{raw.name, raw.superclass, {}};
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
    // Sorted case-insensitively, so a binary search finds it.
    auto it = std::lower_bound(
        properties.begin(), properties.end(), property,
        [](const PropertyDef& p, std::string_view n) { return compareIgnoreCase(p.name, n) < 0; });
    if (it == properties.end() || compareIgnoreCase(it->name, property) != 0) return -1;
    return static_cast<int>(it - properties.begin());
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
