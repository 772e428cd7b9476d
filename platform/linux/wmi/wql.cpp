#include "platform/linux/wmi/wql.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <vector>

#include "grid/error.h"
#include "schema/schema.h"
#include "support/text.h"

namespace tavo::linuxwmi {

namespace {

enum class Tok { Word, Star, Equals, String, Number, End };

struct Token {
    Tok kind;
    std::string text;
};

[[noreturn]] void invalid(std::string_view query, const std::string& why) {
    throw Error(errc::kInvalidQuery, "Invalid query \"" + std::string(query) + "\": " + why);
}

bool isWordStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool isWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}
bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

std::vector<Token> tokenize(std::string_view q) {
    std::vector<Token> out;
    std::size_t i = 0;
    while (i < q.size()) {
        const char c = q[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '*') {
            out.push_back({Tok::Star, "*"});
            ++i;
        } else if (c == '=') {
            out.push_back({Tok::Equals, "="});
            ++i;
        } else if (c == '\'' || c == '"') {
            // WQL escapes with a backslash inside quoted strings ('C:\\Temp').
            std::string s;
            std::size_t j = i + 1;
            bool closed = false;
            while (j < q.size()) {
                if (q[j] == '\\' && j + 1 < q.size()) {
                    s += q[j + 1];
                    j += 2;
                } else if (q[j] == c) {
                    closed = true;
                    ++j;
                    break;
                } else {
                    s += q[j++];
                }
            }
            if (!closed) invalid(q, "unterminated string");
            out.push_back({Tok::String, std::move(s)});
            i = j;
        } else if (isDigit(c) ||
                   ((c == '-' || c == '+') && i + 1 < q.size() && isDigit(q[i + 1]))) {
            std::size_t j = i + 1;
            while (j < q.size() && (isDigit(q[j]) || q[j] == '.')) ++j;
            out.push_back({Tok::Number, std::string(q.substr(i, j - i))});
            i = j;
        } else if (isWordStart(c)) {
            std::size_t j = i + 1;
            while (j < q.size() && isWordChar(q[j])) ++j;
            out.push_back({Tok::Word, std::string(q.substr(i, j - i))});
            i = j;
        } else {
            invalid(q, std::string("unexpected character '") + c + "'");
        }
    }
    out.push_back({Tok::End, ""});
    return out;
}

wmi::Value numberLiteral(std::string_view query, const std::string& text) {
    if (text.find('.') == std::string::npos) {
        std::int64_t v = 0;
        const char* first = text.data() + (text.front() == '+' ? 1 : 0);
        auto [p, ec] = std::from_chars(first, text.data() + text.size(), v);
        if (ec == std::errc() && p == text.data() + text.size()) return wmi::Value(v);
        // Beyond 64 bits signed: keep the digits, compared as text of a uint64.
        if (ec == std::errc::result_out_of_range && text.front() != '-') {
            return wmi::Value(std::string(text.front() == '+' ? text.substr(1) : text));
        }
        invalid(query, "bad number " + text);
    }
    char* end = nullptr;
    const double d = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) invalid(query, "bad number " + text);
    return wmi::Value(d);
}

// A decimal integer in text (how uint64/sint64 values arrive), or nothing.
std::optional<long double> asNumber(const wmi::Value& v) {
    if (v.isInteger()) return static_cast<long double>(v.integer());
    if (v.isReal()) return static_cast<long double>(v.real());
    if (v.isBool()) return v.boolean() ? 1.0L : 0.0L;
    if (v.isText()) {
        const std::string& s = v.text();
        if (s.empty()) return std::nullopt;
        std::size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
        if (i == s.size()) return std::nullopt;
        bool dot = false;
        for (; i < s.size(); ++i) {
            if (s[i] == '.' && !dot) {
                dot = true;
            } else if (!isDigit(s[i])) {
                return std::nullopt;
            }
        }
        return std::strtold(s.c_str(), nullptr);
    }
    return std::nullopt;
}

}  // namespace

WqlQuery parseWql(std::string_view text) {
    const std::vector<Token> t = tokenize(text);
    auto word = [&](std::size_t i, std::string_view kw) {
        return t[i].kind == Tok::Word && text::equalsIgnoreCase(t[i].text, kw);
    };
    if (!word(0, "SELECT")) invalid(text, "expected SELECT");
    if (t[1].kind != Tok::Star) invalid(text, "only SELECT * is supported");
    if (!word(2, "FROM")) invalid(text, "expected FROM after SELECT *");
    if (t[3].kind != Tok::Word) invalid(text, "expected a class name after FROM");
    WqlQuery q;
    q.className = t[3].text;
    if (t[4].kind == Tok::End) return q;
    if (!word(4, "WHERE")) invalid(text, "unexpected '" + t[4].text + "' after the class name");
    if (t[5].kind != Tok::Word) invalid(text, "expected a property name after WHERE");
    if (t[6].kind != Tok::Equals)
        invalid(text, "only '<property> = <literal>' conditions are supported");
    WqlQuery::Condition cond{t[5].text, wmi::Value::null()};
    const Token& lit = t[7];
    if (lit.kind == Tok::String) {
        cond.literal = wmi::Value(lit.text);
    } else if (lit.kind == Tok::Number) {
        cond.literal = numberLiteral(text, lit.text);
    } else if (lit.kind == Tok::Word && text::equalsIgnoreCase(lit.text, "TRUE")) {
        cond.literal = wmi::Value(true);
    } else if (lit.kind == Tok::Word && text::equalsIgnoreCase(lit.text, "FALSE")) {
        cond.literal = wmi::Value(false);
    } else {
        invalid(text, "expected True, False, a number or a quoted string after '='");
    }
    if (t[8].kind != Tok::End) invalid(text, "unexpected '" + t[8].text + "' after the condition");
    q.where = std::move(cond);
    return q;
}

bool wqlEquals(const wmi::Value& value, const wmi::Value& literal) {
    if (value.isNull() || value.isEmpty()) return false;
    if (value.isArray()) return false;  // WMI refuses array properties in WHERE
    if (value.isBool()) {
        if (literal.isBool()) return value.boolean() == literal.boolean();
        const auto n = asNumber(literal);
        return n && ((*n != 0) == value.boolean());
    }
    if (value.isText() && literal.isText()) {
        // Both texts: WQL compares strings without regard to case.
        return text::equalsIgnoreCase(value.text(), literal.text());
    }
    const auto a = asNumber(value);
    const auto b = asNumber(literal);
    if (a && b) {
        // 64-bit values beyond a double's precision compare as digit text.
        if (value.isText() && literal.isText()) return value.text() == literal.text();
        if (value.isText() && literal.isInteger())
            return value.text() == std::to_string(literal.integer());
        return *a == *b;
    }
    return false;
}

}  // namespace tavo::linuxwmi
