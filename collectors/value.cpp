#include "collectors/value.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "grid/error.h"

namespace tavo::wmi {

namespace {

// The scripting host's "Subscript out of range": an array read past its end.
constexpr std::uint32_t kSubscriptOutOfRange = 9;

std::atomic<char> gDecimalSeparator{'.'};

const char* kindName(const Value& v) {
    if (v.isNull()) return "a null value";
    if (v.isArray()) return "an array";
    return "this value";
}

std::string realText(double d, char separator) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d < 0 ? "-Infinity" : "Infinity";
    // A rounded quantity such as round2(0.001) is a negative or positive zero;
    // either way the user should read "0", never "-0".
    if (d == 0.0) return "0";
    char buf[64];
    // General format with 15 significant digits drops trailing zeros, so 75.0
    // reads "75" and 45.130 reads "45.13"; to_chars ignores the C locale, so
    // the separator is ours to choose below.
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
    if (ec != std::errc()) return "NaN";
    std::string s(buf, end);
    for (char& c : s) {
        if (c == '.')
            c = separator;
        else if (c == 'e')
            c = 'E';
    }
    return s;
}

}  // namespace

const Value& Value::at(int index) const {
    if (!isArray()) {
        throw Error(errc::kTypeMismatch, std::string("Type mismatch: ") + kindName(*this) +
                                             " has no entry " + std::to_string(index));
    }
    const Array& a = array();
    // The index is a 16-bit integer counted from 0.
    if (index < 0 || index > std::numeric_limits<std::int16_t>::max() ||
        static_cast<std::size_t>(index) >= a.size()) {
        throw Error(kSubscriptOutOfRange, "Subscript out of range: entry " + std::to_string(index) +
                                              " of an array of " + std::to_string(a.size()));
    }
    return a[static_cast<std::size_t>(index)];
}

std::string toText(const Value& v, char decimalSeparator) {
    const auto& s = v.storage();
    if (std::holds_alternative<std::monostate>(s)) return {};
    if (auto* t = std::get_if<std::string>(&s)) return *t;
    if (auto* i = std::get_if<std::int64_t>(&s)) return std::to_string(*i);
    if (auto* d = std::get_if<double>(&s)) return realText(*d, decimalSeparator);
    if (auto* b = std::get_if<bool>(&s)) return *b ? "True" : "False";
    throw Error(errc::kTypeMismatch,
                std::string("Type mismatch: ") + kindName(v) + " cannot be shown as text");
}

std::string toText(const Value& v) {
    return toText(v, decimalSeparator());
}

void setDecimalSeparator(char separator) {
    gDecimalSeparator.store(separator);
}

char decimalSeparator() {
    return gDecimalSeparator.load();
}

}  // namespace tavo::wmi
