#include "platform/linux/wmi/instance.h"

#include <cstdio>
#include <stdexcept>

namespace tavo::linuxwmi {

Instance::Instance(const schema::ClassDef& cls)
    : cls_(&cls), values_(cls.properties.size(), wmi::Value::null()) {}

static const schema::ClassDef& requireClass(std::string_view name) {
    const schema::ClassDef* c = schema::findClass(name);
    if (!c) throw std::logic_error("class not in schema: " + std::string(name));
    return *c;
}

Instance::Instance(std::string_view className) : Instance(requireClass(className)) {}

void Instance::set(std::string_view name, wmi::Value value) {
    const int i = cls_->indexOf(name);
    if (i < 0) {
        throw std::logic_error(std::string(cls_->name) + " has no property " + std::string(name));
    }
    values_[static_cast<std::size_t>(i)] = std::move(value);
}

void Instance::setInt(std::string_view name, std::int64_t value) {
    const int i = cls_->indexOf(name);
    if (i >= 0) {
        const schema::CimType t = cls_->properties[static_cast<std::size_t>(i)].type;
        if (t == schema::CimType::UInt64 || t == schema::CimType::SInt64) {
            set(name, wmi::Value(std::to_string(value)));
            return;
        }
    }
    set(name, wmi::Value(value));
}

void Instance::setUInt64(std::string_view name, std::uint64_t value) {
    set(name, wmi::Value(std::to_string(value)));
}

const wmi::Value* Instance::find(std::string_view name) const {
    const int i = cls_->indexOf(name);
    return i < 0 ? nullptr : &values_[static_cast<std::size_t>(i)];
}

std::string dmtfDateTimeUtcOffset(std::time_t seconds, long microseconds, int offsetMinutes) {
    const std::time_t local = seconds + static_cast<std::time_t>(offsetMinutes) * 60;
    std::tm tm{};
    gmtime_r(&local, &tm);
    // Room for any int the compiler can imagine; real dates take 25 characters.
    char buf[128];
    microseconds = microseconds < 0 ? 0 : microseconds % 1000000;
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d.%06ld%c%03d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, microseconds,
                  offsetMinutes < 0 ? '-' : '+',
                  offsetMinutes < 0 ? -offsetMinutes : offsetMinutes);
    return buf;
}

std::string dmtfDateTime(std::time_t seconds, long microseconds) {
    std::tm tm{};
    localtime_r(&seconds, &tm);
    return dmtfDateTimeUtcOffset(seconds, microseconds, static_cast<int>(tm.tm_gmtoff / 60));
}

}  // namespace tavo::linuxwmi
