#include "platform/linux/winrm/dmtf.h"

#include <cstdio>

namespace tavo::winrm {

namespace {

// A cursor over the text; every read checks what it takes.
struct Scan {
    std::string_view s;
    std::size_t at = 0;

    bool done() const { return at == s.size(); }
    bool peek(char c) const { return at < s.size() && s[at] == c; }
    bool take(char c) {
        if (!peek(c)) return false;
        ++at;
        return true;
    }
    // Exactly `n` digits.
    bool digits(int n, long& out) {
        out = 0;
        for (int i = 0; i < n; ++i) {
            if (at >= s.size() || s[at] < '0' || s[at] > '9') return false;
            out = out * 10 + (s[at++] - '0');
        }
        return true;
    }
    // One or more digits, at most `max` of them.
    bool number(long long& out, int max = 12) {
        out = 0;
        int n = 0;
        while (at < s.size() && s[at] >= '0' && s[at] <= '9') {
            if (++n > max) return false;
            out = out * 10 + (s[at++] - '0');
        }
        return n > 0;
    }
    // ".ddd": the fraction as microseconds (digits past the sixth dropped).
    bool fraction(long& micros) {
        micros = 0;
        if (!take('.')) return true;
        int n = 0;
        while (at < s.size() && s[at] >= '0' && s[at] <= '9') {
            if (n < 6) micros = micros * 10 + (s[at] - '0');
            ++n;
            ++at;
        }
        if (n == 0) return false;
        for (; n < 6; ++n) micros *= 10;
        return true;
    }
    // "Z", "+hh:mm", "-hh:mm" or nothing, as DMTF's "+000", "-480", "+***".
    bool zone(std::string& out) {
        if (done()) {
            out = "+***";
            return true;
        }
        if (take('Z')) {
            out = "+000";
            return true;
        }
        const char sign = s[at];
        if (sign != '+' && sign != '-') return false;
        ++at;
        long hh = 0, mm = 0;
        if (!digits(2, hh) || !take(':') || !digits(2, mm) || hh > 14 || mm > 59) return false;
        char buf[16];
        std::snprintf(buf, sizeof buf, "%c%03ld", sign, hh * 60 + mm);
        out = buf;
        return true;
    }
};

bool date(Scan& c, long& y, long& mo, long& d) {
    return c.digits(4, y) && c.take('-') && c.digits(2, mo) && c.take('-') && c.digits(2, d) &&
           mo >= 1 && mo <= 12 && d >= 1 && d <= 31;
}

bool time(Scan& c, long& h, long& mi, long& se, long& micros) {
    // 24:00:00 is the end of the day in XML Schema; seconds up to 60 for a leap second.
    return c.digits(2, h) && c.take(':') && c.digits(2, mi) && c.take(':') && c.digits(2, se) &&
           c.fraction(micros) && h <= 24 && mi <= 59 && se <= 60;
}

}  // namespace

std::optional<std::string> dmtfFromXsDateTime(std::string_view text) {
    Scan c{text};
    long y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0, us = 0;
    std::string zone;
    if (!date(c, y, mo, d) || !c.take('T') || !time(c, h, mi, se, us) || !c.zone(zone) || !c.done())
        return std::nullopt;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04ld%02ld%02ld%02ld%02ld%02ld.%06ld%s", y, mo, d, h, mi, se,
                  us, zone.c_str());
    return std::string(buf);
}

std::optional<std::string> dmtfFromXsDate(std::string_view text) {
    Scan c{text};
    long y = 0, mo = 0, d = 0;
    std::string zone;
    if (!date(c, y, mo, d) || !c.zone(zone) || !c.done()) return std::nullopt;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04ld%02ld%02ld******.******%s", y, mo, d, zone.c_str());
    return std::string(buf);
}

std::optional<std::string> dmtfFromXsTime(std::string_view text) {
    Scan c{text};
    long h = 0, mi = 0, se = 0, us = 0;
    std::string zone;
    if (!time(c, h, mi, se, us) || !c.zone(zone) || !c.done()) return std::nullopt;
    char buf[96];
    std::snprintf(buf, sizeof buf, "********%02ld%02ld%02ld.%06ld%s", h, mi, se, us, zone.c_str());
    return std::string(buf);
}

std::optional<std::string> dmtfFromXsDuration(std::string_view text) {
    // A CIM interval has days, hours, minutes and seconds; years and months
    // have no fixed length, so a duration with them is not an interval.
    Scan c{text};
    if (c.peek('-')) return std::nullopt;  // intervals are never negative
    if (!c.take('P')) return std::nullopt;
    long long days = 0, hours = 0, minutes = 0, seconds = 0;
    long micros = 0;
    bool any = false;
    long long n = 0;
    if (!c.peek('T')) {
        if (!c.number(n) || !c.take('D')) return std::nullopt;
        days = n;
        any = true;
    }
    if (c.take('T')) {
        bool inTime = false;
        while (!c.done()) {
            if (!c.number(n)) return std::nullopt;
            if (c.take('H')) {
                hours += n;
            } else if (c.take('M')) {
                minutes += n;
            } else {
                long us = 0;
                if (!c.fraction(us) || !c.take('S')) return std::nullopt;
                seconds += n;
                micros = us;
            }
            inTime = true;
        }
        if (!inTime) return std::nullopt;
        any = true;
    }
    if (!any || !c.done()) return std::nullopt;
    // Carry into the fields DMTF gives: HH < 24, MM < 60, SS < 60.
    minutes += seconds / 60;
    seconds %= 60;
    hours += minutes / 60;
    minutes %= 60;
    days += hours / 24;
    hours %= 24;
    if (days > 99999999) return std::nullopt;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%08lld%02lld%02lld%02lld.%06ld:000", days, hours, minutes,
                  seconds, micros);
    return std::string(buf);
}

}  // namespace tavo::winrm
