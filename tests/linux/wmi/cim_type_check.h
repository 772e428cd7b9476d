#pragma once

// Checks that every value the provider yields has the form its CIM type
// promises a script: uint64/sint64 as decimal text, datetime as DMTF text,
// other integers as integers within their range, booleans, reals, strings,
// arrays of the element type, or null. Never empty.

#include <gtest/gtest.h>

#include <cctype>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "collectors/management.h"
#include "platform/linux/wmi/provider.h"
#include "schema/schema.h"

namespace tavo::linuxwmi::testing {

inline bool isDmtfDateTime(std::string_view s) {
    // yyyymmddHHMMSS.mmmmmmsUUU
    if (s.size() != 25 || s[14] != '.' || (s[21] != '+' && s[21] != '-')) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (i == 14 || i == 21) continue;
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    }
    const int month = (s[4] - '0') * 10 + (s[5] - '0');
    const int day = (s[6] - '0') * 10 + (s[7] - '0');
    const int hour = (s[8] - '0') * 10 + (s[9] - '0');
    const int minute = (s[10] - '0') * 10 + (s[11] - '0');
    const int second = (s[12] - '0') * 10 + (s[13] - '0');
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour < 24 && minute < 60 &&
           second < 61;
}

template <class Int>
bool isDecimalText(const std::string& s) {
    Int v{};
    if (s.empty() || s[0] == '+' || (s.size() > 1 && s[0] == '0')) return false;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && p == s.data() + s.size();
}

// Why `v` does not fit `type` (element type when `isArray`), or "" when it does.
inline std::string cimTypeMismatch(const wmi::Value& v, schema::CimType type, bool isArray) {
    if (v.isNull()) return "";
    if (v.isEmpty()) return "empty (a missing value must be null)";
    if (isArray) {
        if (!v.isArray()) return "not an array";
        for (std::size_t i = 0; i < v.array().size(); ++i) {
            const wmi::Value& e = v.array()[i];
            if (e.isNull()) return "array entry " + std::to_string(i) + " is null";
            std::string why = cimTypeMismatch(e, type, false);
            if (!why.empty()) return "array entry " + std::to_string(i) + ": " + why;
        }
        return "";
    }
    auto inRange = [&](std::int64_t lo, std::int64_t hi) -> std::string {
        if (!v.isInteger()) return "not an integer";
        if (v.integer() < lo || v.integer() > hi) {
            return std::to_string(v.integer()) + " outside its range";
        }
        return "";
    };
    switch (type) {
        case schema::CimType::String:
            return v.isText() ? "" : "not text";
        case schema::CimType::Boolean:
            return v.isBool() ? "" : "not a boolean";
        case schema::CimType::Real32:
        case schema::CimType::Real64:
            return v.isReal() ? "" : "not a real";
        case schema::CimType::DateTime:
            if (!v.isText()) return "datetime not text";
            return isDmtfDateTime(v.text()) ? "" : "\"" + v.text() + "\" is not DMTF datetime";
        case schema::CimType::UInt64:
            if (!v.isText()) return "uint64 not text";
            return isDecimalText<std::uint64_t>(v.text())
                       ? ""
                       : "\"" + v.text() + "\" is not uint64 text";
        case schema::CimType::SInt64:
            if (!v.isText()) return "sint64 not text";
            return isDecimalText<std::int64_t>(v.text())
                       ? ""
                       : "\"" + v.text() + "\" is not sint64 text";
        case schema::CimType::UInt8:
            return inRange(0, 0xff);
        case schema::CimType::UInt16:
            return inRange(0, 0xffff);
        case schema::CimType::UInt32:
            return inRange(0, 0xffffffffLL);
        case schema::CimType::SInt8:
            return inRange(-128, 127);
        case schema::CimType::SInt16:
            return inRange(-32768, 32767);
        case schema::CimType::SInt32:
            return inRange(std::numeric_limits<std::int32_t>::min(),
                           std::numeric_limits<std::int32_t>::max());
    }
    return "unknown CIM type";
}

// Checks every property of one object against its own class (read through
// "__CLASS", so subclasses of an abstract class are checked as themselves).
inline void expectCimTypes(const wmi::Object& obj) {
    const std::string cls = obj.get("__CLASS").text();
    const schema::ClassDef* def = schema::findClass(cls);
    ASSERT_NE(def, nullptr) << cls;
    const auto names = obj.propertyNames();
    ASSERT_EQ(names.size(), def->properties.size()) << cls;
    for (const std::string& name : names) {
        const int i = def->indexOf(name);
        ASSERT_GE(i, 0) << cls << "." << name;
        const schema::PropertyDef& p = def->properties[static_cast<std::size_t>(i)];
        const std::string why = cimTypeMismatch(obj.get(name), p.type, p.isArray);
        EXPECT_EQ(why, "") << cls << "." << name;
    }
}

// Walks every instance of `className` through `backend` (this machine's
// provider by default) and checks each value. Returns the number of objects.
inline int expectMachineCimTypes(const std::string& className,
                                 std::shared_ptr<wmi::Backend> backend = nullptr) {
    if (!backend) backend = makeProvider();
    auto conn = backend->connect(".");
    auto rs = conn->execQuery("SELECT * FROM " + className);
    int count = 0;
    while (auto obj = rs->next()) {
        ++count;
        expectCimTypes(*obj);
    }
    return count;
}

}  // namespace tavo::linuxwmi::testing
