#include "inventory_test_support.h"

#include <cstdlib>
#include <fstream>
#include <limits>
#include <regex>

namespace tavo::linuxwmi::inventory_test {

std::filesystem::path TempTree::write(std::string_view absolute, std::string_view content) const {
    while (!absolute.empty() && absolute.front() == '/') absolute.remove_prefix(1);
    const auto p = root_ / absolute;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p;
}

const wmi::Value& prop(const Instance& i, std::string_view name) {
    const wmi::Value* v = i.find(name);
    if (!v) {
        ADD_FAILURE() << i.classDef().name << " has no property " << name;
        static const wmi::Value kNull = wmi::Value::null();
        return kNull;
    }
    return *v;
}

const Instance& byKey(const std::vector<Instance>& all, std::string_view key,
                      std::string_view value) {
    for (const auto& i : all) {
        const wmi::Value& v = prop(i, key);
        if (v.isText() && v.text() == value) return i;
    }
    throw std::runtime_error("no instance with " + std::string(key) + " = " + std::string(value));
}

namespace {

bool integerFits(const wmi::Value& v, CimType t) {
    if (!v.isInteger()) return false;
    const std::int64_t n = v.integer();
    switch (t) {
        case CimType::UInt8:
            return n >= 0 && n <= 0xFF;
        case CimType::UInt16:
            return n >= 0 && n <= 0xFFFF;
        case CimType::UInt32:
            return n >= 0 && n <= 0xFFFFFFFFLL;
        case CimType::SInt8:
            return n >= -128 && n <= 127;
        case CimType::SInt16:
            return n >= -32768 && n <= 32767;
        case CimType::SInt32:
            return n >= std::numeric_limits<std::int32_t>::min() &&
                   n <= std::numeric_limits<std::int32_t>::max();
        default:
            return false;
    }
}

bool fits(const wmi::Value& v, CimType t) {
    static const std::regex kDmtf(R"(\d{14}\.\d{6}[+-]\d{3})");
    static const std::regex kUnsigned(R"(0|[1-9]\d*)");
    static const std::regex kSigned(R"(0|-?[1-9]\d*)");
    switch (t) {
        case CimType::String:
            return v.isText();
        case CimType::Boolean:
            return v.isBool();
        case CimType::UInt64:
            return v.isText() && std::regex_match(v.text(), kUnsigned);
        case CimType::SInt64:
            return v.isText() && std::regex_match(v.text(), kSigned);
        case CimType::DateTime:
            return v.isText() && std::regex_match(v.text(), kDmtf);
        case CimType::Real32:
        case CimType::Real64:
            return v.isReal();
        default:
            return integerFits(v, t);
    }
}

}  // namespace

void expectCimTypes(const Instance& i) {
    const ClassDef& cls = i.classDef();
    for (std::size_t k = 0; k < cls.properties.size(); ++k) {
        const PropertyDef& p = cls.properties[k];
        const wmi::Value& v = i.at(k);
        if (v.isNull()) continue;
        EXPECT_FALSE(v.isEmpty()) << cls.name << "." << p.name << " is empty rather than null";
        if (p.isArray) {
            ASSERT_TRUE(v.isArray()) << cls.name << "." << p.name << " should be an array";
            for (const auto& e : v.array()) {
                EXPECT_TRUE(fits(e, p.type))
                    << cls.name << "." << p.name << " has an entry of the wrong type";
            }
        } else {
            EXPECT_TRUE(fits(v, p.type))
                << cls.name << "." << p.name << " does not fit its CIM type";
        }
    }
}

}  // namespace tavo::linuxwmi::inventory_test
