#pragma once

#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The class catalogue: the Windows classes Tavo reports on, with their
// properties and CIM types as the public class reference gives them
// (classes.json). The Linux provider answers them, the reader of another
// Linux computer's output builds them, and WinRM replies are typed by them.
namespace tavo::schema {

enum class CimType {
    String,
    Boolean,
    UInt8,
    UInt16,
    UInt32,
    UInt64,
    SInt8,
    SInt16,
    SInt32,
    SInt64,
    Real32,
    Real64,
    DateTime
};

struct PropertyDef {
    std::string_view name;
    CimType type;
    bool isArray;
};

struct ClassDef {
    std::string_view name;
    std::string_view superclass;
    // Case-insensitive alphabetical order: the order Properties_ lists them.
    std::vector<PropertyDef> properties;

    // Index into `properties` by case-insensitive name, or -1.
    int indexOf(std::string_view property) const;

    // Lower-cased name -> index: every property read and write of every
    // instance looks a name up here.
    std::unordered_map<std::string, int> byLowerName;
};

// The class by case-insensitive name, or nullptr.
const ClassDef* findClass(std::string_view name);
std::span<const ClassDef> allClasses();

namespace generated {
struct RawProperty {
    std::string_view name;
    std::string_view type;  // "uint64", "string[]" ...
};
struct RawClass {
    std::string_view name;
    std::string_view superclass;
    std::span<const RawProperty> properties;
};
std::span<const RawClass> rawClasses();
}  // namespace generated

}  // namespace tavo::schema
