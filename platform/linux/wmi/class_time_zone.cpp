#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/linux/wmi/service_classes.h"

namespace tavo::linuxwmi {

namespace fs = std::filesystem;

namespace {

std::uint32_t be32(std::string_view d, std::size_t at) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(d[at])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(d[at + 1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(d[at + 2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(d[at + 3]));
}

struct TzifHeader {
    char version = 0;
    std::uint32_t isutcnt = 0, isstdcnt = 0, leapcnt = 0, timecnt = 0, typecnt = 0, charcnt = 0;
    // Size of the data block that follows the header, for `timeSize`-byte times.
    std::size_t dataSize(std::size_t timeSize) const {
        return timecnt * timeSize + timecnt + typecnt * 6 + charcnt + leapcnt * (timeSize + 4) +
               isstdcnt + isutcnt;
    }
};

std::optional<TzifHeader> readHeader(std::string_view d, std::size_t at) {
    if (d.size() < at + 44 || d.substr(at, 4) != "TZif") return std::nullopt;
    TzifHeader h;
    h.version = d[at + 4];
    h.isutcnt = be32(d, at + 20);
    h.isstdcnt = be32(d, at + 24);
    h.leapcnt = be32(d, at + 28);
    h.timecnt = be32(d, at + 32);
    h.typecnt = be32(d, at + 36);
    h.charcnt = be32(d, at + 40);
    // Counts from a damaged file must not send reads past its end.
    if (h.typecnt == 0 || h.timecnt > d.size() || h.typecnt > 256 || h.charcnt > d.size() ||
        h.leapcnt > d.size() || h.isstdcnt > 256 || h.isutcnt > 256) {
        return std::nullopt;
    }
    return h;
}

// "<+0330>" style quoting where an abbreviation is not all letters.
std::string posixName(std::string_view abbr) {
    for (char c : abbr) {
        if (!std::isalpha(static_cast<unsigned char>(c))) return "<" + std::string(abbr) + ">";
    }
    return std::string(abbr);
}

std::string posixOffset(int secondsToUtc) {
    std::string s = secondsToUtc < 0 ? "-" : "";
    const int a = secondsToUtc < 0 ? -secondsToUtc : secondsToUtc;
    s += std::to_string(a / 3600);
    if (a % 3600) {
        char buf[16];
        std::snprintf(buf, sizeof buf, ":%02d", a / 60 % 60);
        s += buf;
        if (a % 60) {
            std::snprintf(buf, sizeof buf, ":%02d", a % 60);
            s += buf;
        }
    }
    return s;
}

// --- POSIX TZ strings -------------------------------------------------------

struct Cursor {
    std::string_view s;
    std::size_t i = 0;
    bool done() const { return i >= s.size(); }
    char peek() const { return done() ? '\0' : s[i]; }
};

std::optional<std::string> readName(Cursor& c) {
    if (c.peek() == '<') {
        const auto close = c.s.find('>', c.i);
        if (close == std::string_view::npos) return std::nullopt;
        std::string n(c.s.substr(c.i + 1, close - c.i - 1));
        c.i = close + 1;
        return n;
    }
    const std::size_t start = c.i;
    while (std::isalpha(static_cast<unsigned char>(c.peek()))) ++c.i;
    if (c.i - start < 3) return std::nullopt;
    return std::string(c.s.substr(start, c.i - start));
}

std::optional<int> readNumber(Cursor& c) {
    if (!std::isdigit(static_cast<unsigned char>(c.peek()))) return std::nullopt;
    int v = 0;
    while (std::isdigit(static_cast<unsigned char>(c.peek()))) {
        v = v * 10 + (c.peek() - '0');
        if (v > 100000) return std::nullopt;
        ++c.i;
    }
    return v;
}

// [+-]hh[:mm[:ss]] as seconds.
std::optional<int> readTime(Cursor& c) {
    int sign = 1;
    if (c.peek() == '+' || c.peek() == '-') {
        sign = c.peek() == '-' ? -1 : 1;
        ++c.i;
    }
    auto h = readNumber(c);
    if (!h || *h > 167) return std::nullopt;
    int secs = *h * 3600;
    for (int mult : {60, 1}) {
        if (c.peek() != ':') break;
        ++c.i;
        auto part = readNumber(c);
        if (!part || *part > 59) return std::nullopt;
        secs += *part * mult;
    }
    return sign * secs;
}

std::optional<ZoneTransition> readRule(Cursor& c) {
    ZoneTransition t;
    if (c.peek() == 'M') {
        ++c.i;
        auto m = readNumber(c);
        if (!m || c.peek() != '.') return std::nullopt;
        ++c.i;
        auto w = readNumber(c);
        if (!w || c.peek() != '.') return std::nullopt;
        ++c.i;
        auto d = readNumber(c);
        if (!d || *m < 1 || *m > 12 || *w < 1 || *w > 5 || *d > 6) return std::nullopt;
        t.month = *m;
        t.week = *w;
        t.dayOfWeek = *d;
    } else {
        // "Jn" or "n": a day of the year, which the month/week form cannot state.
        if (c.peek() == 'J') ++c.i;
        auto n = readNumber(c);
        if (!n || *n > 365) return std::nullopt;
    }
    if (c.peek() == '/') {
        ++c.i;
        auto time = readTime(c);
        if (!time) return std::nullopt;
        t.seconds = *time;
    }
    return t;
}

}  // namespace

std::optional<PosixZone> parsePosixTz(std::string_view tz) {
    Cursor c{tz};
    PosixZone z;
    auto stdName = readName(c);
    if (!stdName) return std::nullopt;
    z.standardName = *stdName;
    auto off = readTime(c);
    if (!off) return std::nullopt;
    z.standardOffset = *off;
    if (c.done()) return z;
    auto dst = readName(c);
    if (!dst) return std::nullopt;
    z.daylightName = *dst;
    // Without its own offset, daylight time is one hour ahead of standard time.
    z.daylightOffset = z.standardOffset - 3600;
    if (c.peek() != ',' && !c.done()) {
        auto doff = readTime(c);
        if (!doff) return std::nullopt;
        z.daylightOffset = *doff;
    }
    if (c.done()) {
        // No rules stated: when the changes happen is not known.
        z.toDaylight = ZoneTransition{};
        z.toStandard = ZoneTransition{};
        return z;
    }
    if (c.peek() != ',') return std::nullopt;
    ++c.i;
    auto start = readRule(c);
    if (!start || c.peek() != ',') return std::nullopt;
    ++c.i;
    auto end = readRule(c);
    if (!end || !c.done()) return std::nullopt;
    z.toDaylight = *start;
    z.toStandard = *end;
    return z;
}

std::optional<std::string> tzifRule(std::string_view data) {
    auto h1 = readHeader(data, 0);
    if (!h1) return std::nullopt;
    const std::size_t v1End = 44 + h1->dataSize(4);
    if (data.size() < v1End) return std::nullopt;
    if (h1->version >= '2') {
        auto h2 = readHeader(data, v1End);
        if (!h2) return std::nullopt;
        const std::size_t v2End = v1End + 44 + h2->dataSize(8);
        if (data.size() < v2End + 1 || data[v2End] != '\n') return std::nullopt;
        const auto close = data.find('\n', v2End + 1);
        if (close == std::string_view::npos) return std::nullopt;
        std::string rule(data.substr(v2End + 1, close - v2End - 1));
        if (!rule.empty()) return rule;
        // An empty footer: the zone has no rule beyond its table, fall back
        // to the version 1 data below.
    }
    // Version 1: the local time type of the last transition (or the first
    // type when there is none) is what the zone keeps from then on.
    const TzifHeader& h = *h1;
    const std::size_t types = 44 + h.timecnt * 4;
    std::size_t typeIndex = 0;
    if (h.timecnt > 0) typeIndex = static_cast<unsigned char>(data[types + h.timecnt - 1]);
    if (typeIndex >= h.typecnt) return std::nullopt;
    const std::size_t info = types + h.timecnt + typeIndex * 6;
    const auto utoff = static_cast<std::int32_t>(be32(data, info));
    const std::size_t abbrIndex = static_cast<unsigned char>(data[info + 5]);
    const std::size_t chars = types + h.timecnt + h.typecnt * 6;
    if (abbrIndex >= h.charcnt) return std::nullopt;
    std::string_view abbr = data.substr(chars + abbrIndex, h.charcnt - abbrIndex);
    abbr = abbr.substr(0, abbr.find('\0'));
    return posixName(abbr) + posixOffset(-utoff);
}

namespace {

// The zone's name in the tz database, from where /etc/localtime points or
// from /etc/timezone, and the zone's TZif data.
struct SystemZone {
    std::string name;
    std::optional<std::string> data;
};

std::string zoneNameFromLink(const std::string& target) {
    const auto at = target.find("zoneinfo/");
    if (at == std::string::npos) return {};
    std::string name = target.substr(at + 9);
    // The "posix/" and "right/" trees hold the same zones.
    for (std::string_view prefix : {"posix/", "right/"}) {
        if (name.starts_with(prefix)) name.erase(0, prefix.size());
    }
    return name;
}

SystemZone findSystemZone(const SystemContext& ctx) {
    SystemZone zone;
    // Follow /etc/localtime inside the root, link by link, so a fixture tree
    // never reads this machine's own zone files.
    fs::path p = "/etc/localtime";
    for (int hops = 0; hops < 8 && ctx.type(p.string(), false) == FileType::Symlink; ++hops) {
        const auto link = ctx.readLink(p.string());
        if (!link) break;
        const fs::path target = *link;
        if (std::string n = zoneNameFromLink(target.string()); !n.empty()) zone.name = n;
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    zone.data = ctx.readFile(p.string(), 1024 * 1024);
    if (zone.name.empty()) {
        if (auto line = ctx.readLine("/etc/timezone")) {
            std::string n = *line;
            while (!n.empty() && std::isspace(static_cast<unsigned char>(n.back()))) n.pop_back();
            zone.name = n;
        }
    }
    if (!zone.data && !zone.name.empty() && zone.name.find("..") == std::string::npos) {
        zone.data = ctx.readFile("/usr/share/zoneinfo/" + zone.name, 1024 * 1024);
    }
    return zone;
}

std::string utcCaption(int biasMinutes, bool hasDaylight) {
    if (biasMinutes == 0 && !hasDaylight) return "(UTC)";
    const int east = -biasMinutes;
    char buf[32];
    std::snprintf(buf, sizeof buf, "(UTC%c%02d:%02d)", east < 0 ? '-' : '+',
                  (east < 0 ? -east : east) / 60, (east < 0 ? -east : east) % 60);
    return buf;
}

void setTransition(Instance& inst, const std::string& prefix, const ZoneTransition& t) {
    if (!t.month) return;
    inst.setInt(prefix + "Month", *t.month);
    inst.setInt(prefix + "Day", *t.week);
    inst.setInt(prefix + "DayOfWeek", *t.dayOfWeek);
    inst.setInt(prefix + "Year", 0);  // the same rule every year
    // A change stated past midnight or before it ("/25", "/-1") has no
    // hour of the named day to put it at.
    if (t.seconds < 0 || t.seconds >= 24 * 3600) return;
    inst.setInt(prefix + "Hour", t.seconds / 3600);
    inst.setInt(prefix + "Minute", t.seconds / 60 % 60);
    inst.setInt(prefix + "Second", t.seconds % 60);
    inst.setInt(prefix + "Millisecond", 0);
}

void setNoTransition(Instance& inst, const std::string& prefix) {
    // Month 0 is how the class says the zone has no such change.
    for (const char* field :
         {"Month", "Day", "DayOfWeek", "Year", "Hour", "Minute", "Second", "Millisecond"}) {
        inst.setInt(prefix + field, 0);
    }
}

}  // namespace

std::vector<Instance> produceTimeZone(const SystemContext& ctx) {
    SystemZone sys = findSystemZone(ctx);
    std::optional<PosixZone> zone;
    if (sys.data) {
        if (auto rule = tzifRule(*sys.data)) zone = parsePosixTz(*rule);
    } else if (sys.name.empty()) {
        // No zone configured at all: the C library keeps the clock in UTC.
        sys.name = "UTC";
        zone = parsePosixTz("UTC0");
    }
    if (!zone) return {};

    // Where "daylight" time lies behind standard time (Europe/Dublin's
    // winter GMT), the usual description has the roles the other way round.
    if (zone->daylightName && zone->daylightOffset > zone->standardOffset) {
        std::swap(zone->standardName, *zone->daylightName);
        std::swap(zone->standardOffset, zone->daylightOffset);
        std::swap(zone->toDaylight, zone->toStandard);
    }

    Instance inst("Win32_TimeZone");
    const int bias = zone->standardOffset / 60;
    const bool daylight = zone->daylightName.has_value();
    inst.setInt("Bias", bias);
    inst.setInt("StandardBias", 0);
    inst.set("StandardName", zone->standardName);
    if (daylight) {
        inst.set("DaylightName", *zone->daylightName);
        inst.setInt("DaylightBias", (zone->daylightOffset - zone->standardOffset) / 60);
        setTransition(inst, "Daylight", zone->toDaylight);
        setTransition(inst, "Standard", zone->toStandard);
    } else {
        inst.setInt("DaylightBias", 0);
        setNoTransition(inst, "Daylight");
        setNoTransition(inst, "Standard");
    }
    const std::string caption = utcCaption(bias, daylight) + " " + sys.name;
    inst.set("Caption", caption);
    inst.set("Description", caption);
    std::vector<Instance> out;
    out.push_back(std::move(inst));
    return out;
}

}  // namespace tavo::linuxwmi
