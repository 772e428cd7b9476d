#include "schema/schema.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "support/text.h"

namespace tavo::schema {

namespace {
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
                             return text::lessIgnoreCase(a.name, b.name);
                         });
        for (std::size_t i = 0; i < c.properties.size(); ++i) {
            std::string key = text::toLower(c.properties[i].name);
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

int ClassDef::indexOf(std::string_view property) const {
    // Names are short: the folded copy stays in the string's own buffer.
    const std::string key = text::toLower(property);
    const auto it = byLowerName.find(key);
    return it == byLowerName.end() ? -1 : it->second;
}

const ClassDef* findClass(std::string_view name) {
    for (const auto& c : table()) {
        if (text::equalsIgnoreCase(c.name, name)) return &c;
    }
    return nullptr;
}

std::span<const ClassDef> allClasses() {
    return table();
}

}  // namespace tavo::schema
