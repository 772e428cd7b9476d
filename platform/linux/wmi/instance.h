#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "collectors/value.h"
#include "schema/schema.h"

namespace tavo::linuxwmi {

// One object of a class: every property of the class, null until a source
// gives it a true value.
class Instance {
  public:
    explicit Instance(const schema::ClassDef& cls);
    // By class name; throws std::logic_error for a class the schema lacks.
    explicit Instance(std::string_view className);

    const schema::ClassDef& classDef() const { return *cls_; }

    // Sets a property; a name the class lacks is a programming error
    // (std::logic_error), so a typo cannot silently drop a value.
    void set(std::string_view name, wmi::Value value);
    // Typed setters that write the value as a script sees it for the
    // property's CIM type (uint64/sint64 as decimal text).
    void setInt(std::string_view name, std::int64_t value);
    void setUInt64(std::string_view name, std::uint64_t value);

    // By case-insensitive name; nullptr when the class lacks it.
    const wmi::Value* find(std::string_view name) const;
    const wmi::Value& at(std::size_t index) const { return values_[index]; }

  private:
    const schema::ClassDef* cls_;
    std::vector<wmi::Value> values_;
};

// DMTF datetime text "yyyymmddHHMMSS.mmmmmmsUUU" for a moment, in the
// system's local time with its offset from UTC in minutes.
std::string dmtfDateTime(std::time_t seconds, long microseconds = 0);
// The same for a moment given in UTC with an explicit offset in minutes.
std::string dmtfDateTimeUtcOffset(std::time_t seconds, long microseconds, int offsetMinutes);

}  // namespace tavo::linuxwmi
