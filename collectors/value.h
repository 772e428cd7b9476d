#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "grid/utf8.h"

namespace tavo::wmi {

struct Null {
    friend bool operator==(Null, Null) { return true; }
};

// A management property value: empty, null, text, integer, real, boolean or
// an array of these. 64-bit integers and datetimes arrive as text, exactly as
// a script sees them.
class Value {
  public:
    using Array = std::vector<Value>;
    using Storage =
        std::variant<std::monostate, Null, std::string, std::int64_t, double, bool, Array>;

    Value() = default;
    static Value null() { return Value(Storage{Null{}}); }
    // Text is made valid UTF-8 here, the one place every back end's values
    // pass, so nothing downstream meets stray bytes.
    Value(std::string s) : v_(validUtf8(std::move(s))) {}
    Value(const char* s) : v_(validUtf8(std::string(s))) {}
    Value(std::int64_t i) : v_(i) {}
    Value(int i) : v_(std::int64_t{i}) {}
    Value(double d) : v_(d) {}
    Value(bool b) : v_(b) {}
    Value(Array a) : v_(std::move(a)) {}

    bool isEmpty() const { return std::holds_alternative<std::monostate>(v_); }
    bool isNull() const { return std::holds_alternative<Null>(v_); }
    bool isText() const { return std::holds_alternative<std::string>(v_); }
    bool isInteger() const { return std::holds_alternative<std::int64_t>(v_); }
    bool isReal() const { return std::holds_alternative<double>(v_); }
    bool isBool() const { return std::holds_alternative<bool>(v_); }
    bool isArray() const { return std::holds_alternative<Array>(v_); }

    const std::string& text() const { return std::get<std::string>(v_); }
    std::int64_t integer() const { return std::get<std::int64_t>(v_); }
    double real() const { return std::get<double>(v_); }
    bool boolean() const { return std::get<bool>(v_); }
    const Array& array() const { return std::get<Array>(v_); }
    const Storage& storage() const { return v_; }

    // Array entry by 16-bit index (0 = first). Throws tavo::Error when the
    // value is not an array or the index is outside it.
    const Value& at(int index) const;

    friend bool operator==(const Value&, const Value&) = default;

  private:
    explicit Value(Storage s) : v_(std::move(s)) {}
    Storage v_;
};

// The conversion to text the collectors rely on: text unchanged, integers in
// decimal, reals with at most 15 significant digits and no trailing zeros
// using `decimalSeparator`, booleans "True"/"False", empty as "". Null and
// arrays cannot be converted: throws tavo::Error (errc::kTypeMismatch).
std::string toText(const Value& v, char decimalSeparator);
// Same, with the separator of setDecimalSeparator: '.' until the app sets
// it from the system locale at start-up.
std::string toText(const Value& v);
void setDecimalSeparator(char separator);
char decimalSeparator();

}  // namespace tavo::wmi
