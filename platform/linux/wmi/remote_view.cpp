// The classes' view of another computer: what its shell sent back, and
// the probes (file system sizes, addresses, services, printers) that answer
// from the same snapshot.

#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <mutex>
#include <set>

#include "platform/linux/wmi/instance.h"
#include "platform/linux/wmi/inventory_text.h"
#include "platform/linux/wmi/remote_snapshot.h"
#include "platform/linux/wmi/service_classes.h"
#include "platform/linux/wmi/system_sources.h"
#include "support/text.h"

namespace tavo::linuxwmi::remote_view {

void MissLog::add(Request r) {
    std::lock_guard lock(mutex_);
    misses_.insert(std::move(r));
}

Requests MissLog::take() {
    std::lock_guard lock(mutex_);
    return std::exchange(misses_, {});
}

bool MissLog::empty() const {
    std::lock_guard lock(mutex_);
    return misses_.empty();
}

namespace {

std::string normal(std::string_view path) {
    std::string p(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    // "a//b" as a script prints it is "a/b".
    std::string out;
    for (char c : p) {
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out += c;
    }
    return out;
}

// The facts section: "seconds offset year", ticks, page size, machine,
// node name, the offsets on the 1st of January and of July.
struct Facts {
    std::optional<std::int64_t> now;
    std::optional<int> offsetMinutes;
    std::optional<bool> dst;
    std::optional<long> ticks, pageSize;
    std::optional<std::string> machine, node;
    std::optional<std::string> tz;  // TZ as the remote's shell has it
};

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// The moment (UTC seconds) a "month.week.day" rule changes the clock in
// `year`, the clock then being `offset` seconds behind UTC.
std::optional<std::int64_t> transitionAt(int year, const ZoneTransition& t, int offset) {
    if (!t.month || !t.week || !t.dayOfWeek) return std::nullopt;
    const std::int64_t first = daysFromCivil(year, static_cast<unsigned>(*t.month), 1);
    const int firstDow = static_cast<int>(((first % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    int day = 1 + (*t.dayOfWeek - firstDow + 7) % 7 + (*t.week - 1) * 7;
    const int nextMonthFirst = static_cast<int>(
        (*t.month == 12 ? daysFromCivil(year + 1, 1, 1)
                        : daysFromCivil(year, static_cast<unsigned>(*t.month + 1), 1)) -
        first);
    while (day > nextMonthFirst) day -= 7;  // week 5: the last such day
    return (first + day - 1) * 86400 + t.seconds + offset;
}

// The zone's offset from UTC in minutes at `t`, by its current rule.
int offsetAt(const PosixZone& z, std::int64_t t) {
    if (!z.daylightName) return -z.standardOffset / 60;
    const std::int64_t days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
    // The civil year of `t` (good to a day, which the rules never need closer).
    int year = 1970 + static_cast<int>(days / 365);
    while (daysFromCivil(year, 1, 1) > days) --year;
    while (daysFromCivil(year + 1, 1, 1) <= days) ++year;
    const auto start = transitionAt(year, z.toDaylight, z.standardOffset);
    const auto end = transitionAt(year, z.toStandard, z.daylightOffset);
    if (!start || !end) return -z.standardOffset / 60;
    const bool daylight = *start < *end ? (t >= *start && t < *end) : !(t >= *end && t < *start);
    return -(daylight ? z.daylightOffset : z.standardOffset) / 60;
}

std::optional<int> zoneOffset(std::string_view z) {
    // "+0130" -> 90
    if (z.size() != 5 || (z[0] != '+' && z[0] != '-')) return std::nullopt;
    int hh = 0, mm = 0;
    if (std::from_chars(z.data() + 1, z.data() + 3, hh).ec != std::errc() ||
        std::from_chars(z.data() + 3, z.data() + 5, mm).ec != std::errc())
        return std::nullopt;
    const int v = hh * 60 + mm;
    return z[0] == '-' ? -v : v;
}

Facts parseFacts(const std::optional<CommandOutput>& c, const std::optional<CommandOutput>& m) {
    Facts f;
    std::vector<std::string_view> l =
        c ? text::splitLines(c->out) : std::vector<std::string_view>{};
    l.resize(4);
    if (m) {
        for (auto line : text::splitLines(m->out)) l.push_back(line);
    }
    auto at = [&](std::size_t i) { return i < l.size() ? l[i] : std::string_view(); };
    // "seconds offset" now, on the 1st of January and of July; "TZ=..." or
    // nothing; then "node machine", clock ticks, page size.
    auto offsetAt = [&](std::size_t i) -> std::optional<int> {
        const auto w = text::splitWords(at(i));
        return w.size() >= 2 ? zoneOffset(w[1]) : std::nullopt;
    };
    if (const auto now = text::splitWords(at(0)); now.size() >= 2)
        f.now = text::wholeNumber<std::int64_t>(now[0]);
    f.offsetMinutes = offsetAt(0);
    if (at(3).starts_with("TZ=")) f.tz = std::string(at(3).substr(3));
    if (const auto u = text::splitWords(at(4)); u.size() >= 2) {
        f.node = std::string(u[0]);
        f.machine = std::string(u[1]);
    }
    f.ticks = text::wholeNumber<long>(at(5));
    f.pageSize = text::wholeNumber<long>(at(6));
    const auto jan = offsetAt(1), jul = offsetAt(2);
    if (f.offsetMinutes && jan && jul)
        f.dst = *jan != *jul && *f.offsetMinutes == std::max(*jan, *jul);
    return f;
}

class SnapshotView;

const std::optional<CommandOutput>* command(const Snapshot& s, std::string_view name) {
    auto it = s.commands.find(std::string(name));
    return it == s.commands.end() ? nullptr : &it->second;
}

class SnapshotDir : public DirHandle {
  public:
    SnapshotDir(const SnapshotView& view, std::string dir) : view_(view), dir_(std::move(dir)) {}
    bool read(const char* name, std::string& buf, std::size_t limit) override;
    std::optional<std::string> readLink(const char* name) override;
    std::optional<std::size_t> countEntries(const char* name) override;

  private:
    const SnapshotView& view_;
    std::string dir_;
};

class SnapshotView : public SystemView {
  public:
    SnapshotView(std::shared_ptr<const Snapshot> snap, std::shared_ptr<MissLog> misses,
                 std::shared_ptr<LostValues> lost)
        : snap_(std::move(snap)), misses_(std::move(misses)), lost_(std::move(lost)) {
        const auto* facts = command(*snap_, kFacts);
        const auto* machine = command(*snap_, kMachine);
        facts_ = parseFacts(facts ? *facts : std::nullopt, machine ? *machine : std::nullopt);
        if (!facts) miss(Kind::Command, std::string(kFacts));
        if (!machine) miss(Kind::Command, std::string(kMachine));
    }

    std::optional<std::string> readFile(std::string_view path, std::size_t limit) const override {
        // The processors' counters are sampled twice: the second read of
        // /proc/stat gets the sample taken a moment after the first.
        if (path == "/proc/stat" && statReads_++ > 0) {
            if (const auto* later = command(*snap_, kLaterStat)) {
                if (*later && (*later)->status == 0) return (*later)->out.substr(0, limit);
            } else {
                miss(Kind::Command, std::string(kLaterStat));
            }
        }
        return read(Kind::Read, snap_->files, path, limit);
    }
    std::optional<std::string> readUserFile(std::string_view path,
                                            std::size_t limit) const override {
        return read(Kind::UserRead, snap_->userFiles, path, limit);
    }
    std::optional<std::vector<DirEntry>> list(std::string_view dir) const override {
        return lookup(Kind::List, snap_->lists, dir);
    }
    std::optional<std::string> readLink(std::string_view path) const override {
        return lookup(Kind::Link, snap_->links, path);
    }
    FileType type(std::string_view path, bool followLinks) const override {
        const std::string p = normal(path);
        if (auto it = snap_->types.find(p); it != snap_->types.end())
            return followLinks ? it->second.second : it->second.first;
        if (!snap_->covers(Kind::Type, p)) miss(Kind::Type, p);
        return FileType::None;
    }
    std::optional<std::string> canonical(std::string_view path) const override {
        return lookup(Kind::Canon, snap_->canon, path);
    }
    std::optional<Timestamp> modifiedTime(std::string_view path) const override {
        return lookup(Kind::MTime, snap_->mtimes, path);
    }
    std::optional<Timestamp> birthTime(std::string_view path) const override {
        return lookup(Kind::Birth, snap_->births, path);
    }
    std::unique_ptr<DirHandle> openDirectory(std::string_view dir) const override {
        // The folder's files answer for it; a process gone since the
        // listing has none and is passed by.
        return std::make_unique<SnapshotDir>(*this, normal(dir));
    }

    std::int64_t now() const override { return facts_.now.value_or(0); }
    int utcOffsetMinutes() const override { return facts_.offsetMinutes.value_or(0); }
    bool daylightSaving() const override { return facts_.dst.value_or(false); }
    std::string dmtfLocal(std::int64_t seconds, long microseconds) const override {
        return dmtfDateTimeUtcOffset(static_cast<std::time_t>(seconds), microseconds,
                                     offsetMinutesAt(seconds));
    }
    long clockTicks() const override { return facts_.ticks.value_or(100); }
    long pageSize() const override { return facts_.pageSize.value_or(4096); }
    std::optional<std::string> machine() const override { return facts_.machine; }
    std::optional<std::string> hostName() const override { return facts_.node; }
    bool isRunningMachine() const override { return false; }
    std::optional<std::string> routeListing() const override {
        const auto* c = command(*snap_, kRoutes);
        if (!c) {
            miss(Kind::Command, std::string(kRoutes));
            return std::nullopt;
        }
        if (!*c || (*c)->status != 0) return std::nullopt;
        return (*c)->out;
    }

    // The offset at `t` by the zone's rule, which must agree with the
    // remote's own clock now; without a rule, the offset now.
    int offsetMinutesAt(std::int64_t t) const {
        std::call_once(zoneOnce_, [this] {
            std::optional<std::string> rule;
            if (facts_.tz) {
                std::string tz = *facts_.tz;
                if (!tz.empty() && tz.front() == ':') tz.erase(0, 1);
                if (parsePosixTz(tz)) {
                    rule = tz;
                } else if (!tz.empty() && tz.find("..") == std::string::npos) {
                    const std::string file = tz.front() == '/' ? tz : "/usr/share/zoneinfo/" + tz;
                    if (auto data = readFile(file, 1024 * 1024)) rule = tzifRule(*data);
                }
            } else if (auto data = readFile("/etc/localtime", 1024 * 1024)) {
                rule = tzifRule(*data);
            }
            if (rule) zone_ = parsePosixTz(*rule);
            if (zone_ && facts_.now && facts_.offsetMinutes &&
                offsetAt(*zone_, *facts_.now) != *facts_.offsetMinutes)
                zone_.reset();
        });
        return zone_ ? offsetAt(*zone_, t) : utcOffsetMinutes();
    }

    std::optional<std::size_t> count(const std::string& dir) const {
        return lookup(Kind::Count, snap_->counts, dir);
    }

    void miss(Kind kind, std::string path, std::size_t limit = 0) const {
        misses_->add(Request{kind, std::move(path), limit, false});
    }

    // A value the snapshot has no answer for because it could not be read:
    // counted once, however often the classes ask for it.
    void noteIfLost(const Request& r) const {
        const auto it = snap_->failed.find(r);
        if (it == snap_->failed.end() || !lost_) return;
        std::lock_guard lock(lostMutex_);
        if (!reported_.insert(r).second) return;
        lost_->add(it->second, r.kind == Kind::Command ? "the output of " + r.path : r.path);
    }

    const Snapshot& snapshot() const { return *snap_; }

    // A command's section, counted as lost when the run could not finish it.
    const std::optional<CommandOutput>* commandOf(std::string_view name) const {
        const auto* c = command(*snap_, name);
        if (c && !*c) noteIfLost(Request{Kind::Command, std::string(name), 0, false});
        return c;
    }

  private:
    template <class Map>
    auto lookup(Kind kind, const Map& map, std::string_view path) const ->
        typename Map::mapped_type {
        const std::string p = normal(path);
        if (auto it = map.find(p); it != map.end()) {
            noteIfLost(Request{kind, p, 0, false});
            return it->second;
        }
        if (!snap_->covers(kind, p)) miss(kind, p);
        return {};
    }

    std::optional<std::string> read(Kind kind, const std::map<std::string, FileData>& map,
                                    std::string_view path, std::size_t limit) const {
        const std::string p = normal(path);
        if (auto it = map.find(p); it != map.end()) {
            const FileData& f = it->second;
            if (!f.data) {
                const Request fetched{kind, p, f.fetchedLimit, false};
                if (snap_->failed.count(fetched))
                    noteIfLost(fetched);
                else if (f.fetchedLimit < limit)
                    miss(kind, p, limit);
                return std::nullopt;
            }
            // Cut at the fetched limit while more was wanted: ask again.
            if (f.data->size() >= f.fetchedLimit && f.fetchedLimit < limit) miss(kind, p, limit);
            return f.data->size() > limit ? f.data->substr(0, limit) : *f.data;
        }
        if (!snap_->covers(kind, p, limit)) miss(kind, p, limit);
        return std::nullopt;
    }

    std::shared_ptr<const Snapshot> snap_;
    std::shared_ptr<MissLog> misses_;
    std::shared_ptr<LostValues> lost_;
    mutable std::mutex lostMutex_;
    mutable std::set<Request> reported_;
    Facts facts_;
    mutable std::atomic<int> statReads_{0};
    mutable std::once_flag zoneOnce_;
    mutable std::optional<PosixZone> zone_;
};

bool SnapshotDir::read(const char* name, std::string& buf, std::size_t limit) {
    auto v = view_.readFile(dir_ + "/" + name, limit);
    if (!v) return false;
    buf = std::move(*v);
    return true;
}

std::optional<std::string> SnapshotDir::readLink(const char* name) {
    return view_.readLink(dir_ + "/" + name);
}

std::optional<std::size_t> SnapshotDir::countEntries(const char* name) {
    return view_.count(dir_ + "/" + name);
}

class SnapshotFs : public FsProbe {
  public:
    explicit SnapshotFs(std::shared_ptr<const SnapshotView> view) : view_(std::move(view)) {}
    std::optional<FsStats> stat(const std::string& mountPoint) override {
        const auto& m = view_->snapshot().statfs;
        if (auto it = m.find(mountPoint); it != m.end()) {
            view_->noteIfLost(Request{Kind::StatFs, mountPoint, 0, false});
            return it->second;
        }
        view_->miss(Kind::StatFs, mountPoint);
        return std::nullopt;
    }

  private:
    std::shared_ptr<const SnapshotView> view_;
};

class SnapshotNet : public NetProbe {
  public:
    explicit SnapshotNet(std::shared_ptr<const SnapshotView> view) : view_(std::move(view)) {}
    std::vector<NetInterfaceInfo> interfaces() override {
        const auto* link = view_->commandOf("ip-link");
        const auto* addr = view_->commandOf("ip-addr");
        if (!link || !addr) {
            view_->miss(Kind::Command, std::string(kAddresses));
            return {};
        }
        if (!*link || !*addr || (*link)->status != 0) return {};
        return parseIp((*link)->out, (*addr)->out);
    }

  private:
    std::shared_ptr<const SnapshotView> view_;
};

class SnapshotServices : public ServiceManager {
  public:
    explicit SnapshotServices(std::shared_ptr<const SnapshotView> view) : view_(std::move(view)) {}
    std::optional<std::vector<UnitStatus>> listUnits(std::chrono::milliseconds) override {
        const auto* list = view_->commandOf("systemd-list");
        if (!list) {
            view_->miss(Kind::Command, std::string(kSystemd));
            return std::nullopt;
        }
        const auto* show = view_->commandOf("systemd-show");
        return parseSystemd(*list, show ? *show : std::nullopt);
    }

  private:
    std::shared_ptr<const SnapshotView> view_;
};

class SnapshotPrinting : public PrintSystem {
  public:
    explicit SnapshotPrinting(std::shared_ptr<const SnapshotView> view) : view_(std::move(view)) {}
    std::optional<std::vector<PrinterRecord>> printers(std::chrono::milliseconds) override {
        // IPP where the remote has ipptool: the same attributes as here.
        if (const auto ipp = answered("ipp-printers")) {
            const auto* d = view_->commandOf("lpstat-d");
            return parseIppPrinters(*ipp, d && *d ? std::string_view((*d)->out) : "");
        }
        const auto parts = get();
        if (!parts) return std::nullopt;
        auto out = parseLpstatPrinters((*parts)[0], (*parts)[1], (*parts)[2], (*parts)[3]);
        if (const auto options = answered("lpoptions")) addQueueOptions(out, *options);
        return out;
    }
    std::optional<std::vector<PrintJobRecord>> jobs(std::chrono::milliseconds) override {
        if (const auto ipp = answered("ipp-jobs")) return parseIppJobs(*ipp);
        const auto parts = get();
        if (!parts) return std::nullopt;
        return parseLpstatJobs((*parts)[4], (*parts)[0]);
    }

  private:
    // A section's output when the command ran and succeeded.
    std::optional<std::string_view> answered(std::string_view name) const {
        const auto* c = view_->commandOf(name);
        if (!c || !*c || (*c)->status != 0) return std::nullopt;
        return std::string_view((*c)->out);
    }

    // The five outputs, or nothing when lpstat is missing or its scheduler
    // did not answer.
    std::optional<std::array<std::string, 5>> get() const {
        std::array<std::string, 5> out;
        int i = 0;
        for (const char* name : {"lpstat-p", "lpstat-d", "lpstat-v", "lpstat-a", "lpstat-o"}) {
            const auto* c = view_->commandOf(name);
            if (!c) {
                view_->miss(Kind::Command, std::string(kPrinters));
                return std::nullopt;
            }
            if (!*c) return std::nullopt;
            // The queue list must have come: without a scheduler lpstat fails.
            if (i == 0 && (*c)->status != 0) return std::nullopt;
            out[static_cast<std::size_t>(i++)] = (*c)->out;
        }
        return out;
    }

    std::shared_ptr<const SnapshotView> view_;
};

// One record of ipptool's CSV: fields split at commas outside quotes. Inside
// quotes ipptool escapes with a backslash, and the values themselves carry
// IPP's own escapes, so a quoted field is unescaped twice.
std::vector<std::string> csvFields(std::string_view line) {
    std::vector<std::string> out;
    std::size_t i = 0;
    auto unescape = [](std::string_view v) {
        std::string r;
        for (std::size_t k = 0; k < v.size(); ++k) {
            if (v[k] == '\\' && k + 1 < v.size()) ++k;
            r += v[k];
        }
        return r;
    };
    while (i <= line.size()) {
        if (i < line.size() && line[i] == '"') {
            std::string raw;
            ++i;
            while (i < line.size() && line[i] != '"') {
                if (line[i] == '\\' && i + 1 < line.size()) ++i;
                raw += line[i++];
            }
            out.push_back(unescape(raw));
            i = line.find(',', i);
            if (i == std::string_view::npos) break;
            ++i;
        } else {
            const auto comma = line.find(',', i);
            out.push_back(unescape(line.substr(i, comma - i)));
            if (comma == std::string_view::npos) break;
            i = comma + 1;
        }
    }
    return out;
}

// The CSV as one map per record, by attribute name; absent values left out.
std::vector<std::map<std::string, std::string>> csvRecords(std::string_view csv) {
    std::vector<std::map<std::string, std::string>> out;
    const auto lines = text::splitLines(csv);
    if (lines.empty()) return out;
    const auto names = csvFields(lines[0]);
    for (std::size_t l = 1; l < lines.size(); ++l) {
        if (lines[l].empty()) continue;
        const auto fields = csvFields(lines[l]);
        std::map<std::string, std::string> r;
        for (std::size_t k = 0; k < names.size() && k < fields.size(); ++k) {
            if (!fields[k].empty() && fields[k] != "no-value") r[names[k]] = fields[k];
        }
        out.push_back(std::move(r));
    }
    return out;
}

std::optional<std::string> field(const std::map<std::string, std::string>& r,
                                 const std::string& name) {
    const auto it = r.find(name);
    return it == r.end() ? std::nullopt : std::optional<std::string>(it->second);
}

std::optional<bool> truth(const std::map<std::string, std::string>& r, const std::string& name) {
    const auto v = field(r, name);
    if (v == "true") return true;
    if (v == "false") return false;
    return std::nullopt;
}

std::optional<int> integer(const std::map<std::string, std::string>& r, const std::string& name) {
    const auto v = field(r, name);
    return v ? text::wholeNumber<int>(*v) : std::nullopt;
}

// A multi-valued attribute: its values joined by commas (never empty here).
std::vector<std::string> listOf(const std::optional<std::string>& v) {
    std::vector<std::string> out;
    if (!v) return out;
    for (std::string_view part : text::split(*v, ',')) out.emplace_back(part);
    return out;
}

std::string defaultQueue(std::string_view dflt) {
    for (auto line : text::splitLines(dflt)) {
        constexpr std::string_view k = "system default destination: ";
        if (line.starts_with(k)) return std::string(line.substr(k.size()));
    }
    return {};
}

// CUPS's printer-type bit for a queue of another server.
constexpr int kRemoteQueue = 0x0002;

unsigned flagsFromIp(std::string_view text) {
    static const std::pair<std::string_view, unsigned> kFlags[] = {
        {"UP", IFF_UP},
        {"BROADCAST", IFF_BROADCAST},
        {"DEBUG", IFF_DEBUG},
        {"LOOPBACK", IFF_LOOPBACK},
        {"POINTOPOINT", IFF_POINTOPOINT},
        {"NOTRAILERS", IFF_NOTRAILERS},
        {"NOARP", IFF_NOARP},
        {"PROMISC", IFF_PROMISC},
        {"ALLMULTI", IFF_ALLMULTI},
        {"MASTER", IFF_MASTER},
        {"SLAVE", IFF_SLAVE},
        {"MULTICAST", IFF_MULTICAST},
        {"PORTSEL", IFF_PORTSEL},
        {"AUTOMEDIA", IFF_AUTOMEDIA},
        {"DYNAMIC", IFF_DYNAMIC},
        {"LOWER_UP", 0x10000},
        {"DORMANT", 0x20000},
        {"ECHO", 0x40000},
    };
    unsigned flags = 0;
    while (!text.empty()) {
        const auto comma = text.find(',');
        const auto name = text.substr(0, comma);
        for (const auto& [n, bit] : kFlags) {
            if (n == name) flags |= bit;
        }
        // The kernel reports an interface whose carrier is up as running.
        if (name == "LOWER_UP") flags |= IFF_RUNNING;
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return flags;
}

std::string maskFromPrefix(int bits) {
    const std::uint32_t m = bits <= 0 ? 0 : bits >= 32 ? 0xffffffffU : ~((1U << (32 - bits)) - 1);
    return std::to_string(m >> 24) + "." + std::to_string((m >> 16) & 255) + "." +
           std::to_string((m >> 8) & 255) + "." + std::to_string(m & 255);
}

}  // namespace

std::vector<NetInterfaceInfo> parseIp(std::string_view links, std::string_view addresses) {
    std::vector<NetInterfaceInfo> out;
    for (auto line : text::splitLines(links)) {
        // "2: eth0@if5: <BROADCAST,MULTICAST,UP,LOWER_UP> mtu 1500 ..."
        const auto w = text::splitWords(line);
        if (w.size() < 3 || w[0].back() != ':') continue;
        const auto index = text::wholeNumber<unsigned>(w[0].substr(0, w[0].size() - 1));
        std::string_view name = w[1];
        if (!index || name.empty() || name.back() != ':') continue;
        name.remove_suffix(1);
        name = name.substr(0, name.find('@'));
        std::string_view f = w[2];
        if (f.size() < 2 || f.front() != '<' || f.back() != '>') continue;
        out.push_back({std::string(name), *index, flagsFromIp(f.substr(1, f.size() - 2)), {}});
    }
    for (auto line : text::splitLines(addresses)) {
        // "2: eth0    inet 172.17.0.2/16 brd 172.17.255.255 scope global eth0\..."
        const auto w = text::splitWords(line);
        if (w.size() < 4) continue;
        const int family = w[2] == "inet" ? AF_INET : w[2] == "inet6" ? AF_INET6 : 0;
        if (!family) continue;
        std::string_view name = w[1];
        name = name.substr(0, name.find('@'));
        const auto slash = w[3].find('/');
        const std::string address(w[3].substr(0, slash));
        const int bits = slash == std::string_view::npos
                             ? (family == AF_INET ? 32 : 128)
                             : text::wholeNumber<int>(w[3].substr(slash + 1)).value_or(0);
        for (auto& i : out) {
            if (i.name != name) continue;
            i.addresses.push_back(
                {family, address, family == AF_INET ? maskFromPrefix(bits) : std::to_string(bits)});
        }
    }
    return out;
}

std::optional<std::vector<UnitStatus>> parseSystemd(const std::optional<CommandOutput>& list,
                                                    const std::optional<CommandOutput>& show) {
    if (!list || list->status != 0) return std::nullopt;
    std::vector<UnitStatus> units;
    for (auto line : text::splitLines(list->out)) {
        // "ssh.service loaded active running OpenBSD Secure Shell server"
        const auto w = text::splitWords(line);
        if (w.size() < 4) continue;
        UnitStatus u;
        u.name = std::string(w[0]);
        u.loadState = std::string(w[1]);
        u.activeState = std::string(w[2]);
        u.subState = std::string(w[3]);
        if (w.size() > 4) {
            const auto at = static_cast<std::size_t>(w[4].data() - line.data());
            u.description = std::string(line.substr(at));
        }
        units.push_back(std::move(u));
    }
    if (show && show->status == 0) {
        // Blocks of Key=Value lines, one per unit, in any order of keys.
        std::map<std::string, std::map<std::string, std::string>> props;
        std::map<std::string, std::string> cur;
        auto flush = [&] {
            if (auto it = cur.find("Id"); it != cur.end()) props[it->second] = cur;
            cur.clear();
        };
        for (auto line : text::splitLines(show->out)) {
            if (line.empty()) {
                flush();
                continue;
            }
            const auto eq = line.find('=');
            if (eq != std::string_view::npos)
                cur[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
        }
        flush();
        for (UnitStatus& u : units) {
            auto it = props.find(u.name);
            if (it == props.end()) continue;
            const auto& p = it->second;
            if (auto v = p.find("MainPID"); v != p.end())
                u.mainPid = text::wholeNumber<std::uint32_t>(v->second);
            if (auto v = p.find("ExecMainStatus"); v != p.end())
                u.exitStatus = text::wholeNumber<std::int32_t>(v->second);
            if (auto v = p.find("CanStop");
                v != p.end() && (v->second == "yes" || v->second == "no"))
                u.canStop = v->second == "yes";
        }
    }
    return units;
}

std::vector<PrinterRecord> parseIppPrinters(std::string_view csv, std::string_view dflt) {
    std::vector<PrinterRecord> out;
    const std::string defaultName = defaultQueue(dflt);
    for (const auto& r : csvRecords(csv)) {
        PrinterRecord p;
        p.name = field(r, "printer-name").value_or("");
        if (p.name.empty()) continue;
        p.isDefault = p.name == defaultName;
        // The scheduler sends these two for every queue, empty or not; the
        // CSV cannot tell empty from absent.
        p.info = field(r, "printer-info").value_or("");
        p.location = field(r, "printer-location").value_or("");
        p.makeAndModel = field(r, "printer-make-and-model");
        p.deviceUri = field(r, "device-uri");
        p.stateMessage = field(r, "printer-state-message");
        const auto state = field(r, "printer-state");
        p.state = state == "idle"         ? PrinterState::Idle
                  : state == "processing" ? PrinterState::Processing
                  : state == "stopped"    ? PrinterState::Stopped
                                          : PrinterState::Unknown;
        for (auto& reason : listOf(field(r, "printer-state-reasons"))) {
            if (reason != "none") p.stateReasons.push_back(std::move(reason));
        }
        p.shared = truth(r, "printer-is-shared");
        p.acceptingJobs = truth(r, "printer-is-accepting-jobs");
        if (const auto type = integer(r, "printer-type")) p.remote = (*type & kRemoteQueue) != 0;
        if (const auto res = field(r, "printer-resolution-default")) {
            // "600dpi", "300x600dpi" or the same in dots per centimetre.
            const bool cm = res->ends_with("dpcm");
            const std::string_view v(res->data(), res->size() - (cm ? 4 : 3));
            const auto x = v.find('x');
            const auto rx = text::wholeNumber<int>(v.substr(0, x));
            const auto ry =
                x == std::string_view::npos ? rx : text::wholeNumber<int>(v.substr(x + 1));
            if (rx && ry && (cm || res->ends_with("dpi"))) {
                p.resolutionX = cm ? static_cast<int>(*rx * 2.54 + 0.5) : *rx;
                p.resolutionY = cm ? static_cast<int>(*ry * 2.54 + 0.5) : *ry;
            }
        }
        p.copiesDefault = integer(r, "copies-default");
        p.priorityDefault = integer(r, "job-priority-default");
        p.formatDefault = field(r, "document-format-default");
        p.formatsSupported = listOf(field(r, "document-format-supported"));
        out.push_back(std::move(p));
    }
    return out;
}

std::vector<PrintJobRecord> parseIppJobs(std::string_view csv) {
    static const std::map<std::string, JobState, std::less<>> kStates = {
        {"pending", JobState::Pending},       {"pending-held", JobState::Held},
        {"processing", JobState::Processing}, {"processing-stopped", JobState::Stopped},
        {"canceled", JobState::Canceled},     {"aborted", JobState::Aborted},
        {"completed", JobState::Completed}};
    std::vector<PrintJobRecord> out;
    for (const auto& r : csvRecords(csv)) {
        PrintJobRecord j;
        const auto id = integer(r, "job-id");
        if (!id) continue;
        j.id = *id;
        if (const auto uri = field(r, "job-printer-uri"))
            j.queue = uri->substr(uri->rfind('/') + 1);
        if (const auto st = field(r, "job-state")) {
            if (const auto it = kStates.find(*st); it != kStates.end()) j.state = it->second;
        }
        j.title = field(r, "job-name");
        j.owner = field(r, "job-originating-user-name");
        j.format = field(r, "document-format");
        if (const auto kb = field(r, "job-k-octets"))
            j.sizeKb = text::wholeNumber<std::int64_t>(*kb);
        j.priority = integer(r, "job-priority");
        j.pages = integer(r, "job-impressions");
        j.pagesCompleted = integer(r, "job-impressions-completed");
        if (const auto t = field(r, "time-at-creation")) {
            if (const auto v = text::wholeNumber<std::int64_t>(*t); v && *v > 0) j.created = *v;
        }
        if (const auto t = field(r, "time-at-processing")) {
            if (const auto v = text::wholeNumber<std::int64_t>(*t); v && *v > 0) j.processing = *v;
        }
        out.push_back(std::move(j));
    }
    return out;
}

void addQueueOptions(std::vector<PrinterRecord>& printers, std::string_view options) {
    for (auto line : text::splitLines(options)) {
        const auto tab = line.find('\t');
        if (tab == std::string_view::npos) continue;
        const std::string_view name = line.substr(0, tab);
        // "key=value key='quoted value' key=with\ escapes", as lpoptions prints.
        std::map<std::string, std::string> opts;
        std::string_view t = line.substr(tab + 1);
        while (!t.empty()) {
            while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
            if (t.empty()) break;
            // An empty value is printed as the bare name.
            const auto end = t.find_first_of("= ");
            const std::string key(t.substr(0, end));
            if (end == std::string_view::npos || t[end] == ' ') {
                opts[key] = "";
                t.remove_prefix(end == std::string_view::npos ? t.size() : end);
                continue;
            }
            t.remove_prefix(end + 1);
            std::string value;
            char quote = 0;
            while (!t.empty() && (quote || t.front() != ' ')) {
                const char c = t.front();
                t.remove_prefix(1);
                if (quote && c == quote) {
                    quote = 0;
                } else if (!quote && (c == '\'' || c == '"')) {
                    quote = c;
                } else if (c == '\\' && !t.empty()) {
                    value += t.front();
                    t.remove_prefix(1);
                } else {
                    value += c;
                }
            }
            opts[key] = std::move(value);
        }
        for (auto& p : printers) {
            if (p.name != name) continue;
            if (auto v = field(opts, "printer-is-shared")) p.shared = *v == "true";
            if (auto v = field(opts, "printer-make-and-model")) p.makeAndModel = *v;
            // lpstat prints a file: URI without its scheme; this one is whole.
            if (auto v = field(opts, "device-uri")) p.deviceUri = *v;
            if (auto v = integer(opts, "printer-type")) p.remote = (*v & kRemoteQueue) != 0;
            if (auto v = integer(opts, "copies")) p.copiesDefault = *v;
            if (auto v = integer(opts, "job-priority")) p.priorityDefault = *v;
        }
    }
}

std::vector<PrinterRecord> parseLpstatPrinters(std::string_view queues, std::string_view dflt,
                                               std::string_view devices,
                                               std::string_view accepting) {
    std::vector<PrinterRecord> out;
    const std::string defaultName = defaultQueue(dflt);
    for (auto line : text::splitLines(queues)) {
        if (line.starts_with("printer ")) {
            const auto w = text::splitWords(line);
            if (w.size() < 3) continue;
            PrinterRecord p;
            p.name = std::string(w[1]);
            p.isDefault = p.name == defaultName;
            if (w[2] == "is" && w.size() > 3 && w[3].starts_with("idle"))
                p.state = PrinterState::Idle;
            else if (w[2] == "now")
                p.state = PrinterState::Processing;
            else if (w[2] == "disabled")
                p.state = PrinterState::Stopped;
            out.push_back(std::move(p));
            continue;
        }
        if (out.empty()) continue;
        PrinterRecord& p = out.back();
        std::string_view l = line;
        while (!l.empty() && (l.front() == ' ' || l.front() == '\t')) l.remove_prefix(1);
        auto value = [&](std::string_view key) -> std::optional<std::string> {
            if (!l.starts_with(key)) return std::nullopt;
            std::string_view v = l.substr(key.size());
            while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
            return std::string(v);
        };
        // Empty where the scheduler has an empty one, as the local read shows.
        if (auto v = value("Description:")) {
            p.info = *v;
        } else if (auto v = value("Location:")) {
            p.location = *v;
        } else if (auto v = value("Alerts:")) {
            for (auto r : text::splitWords(*v)) {
                if (r != "none") p.stateReasons.emplace_back(r);
            }
        }
    }
    for (auto line : text::splitLines(devices)) {
        // "device for NAME: URI"
        constexpr std::string_view k = "device for ";
        if (!line.starts_with(k)) continue;
        const auto colon = line.find(": ", k.size());
        if (colon == std::string_view::npos) continue;
        const auto name = line.substr(k.size(), colon - k.size());
        for (auto& p : out) {
            if (p.name == name) p.deviceUri = std::string(line.substr(colon + 2));
        }
    }
    for (auto line : text::splitLines(accepting)) {
        const auto w = text::splitWords(line);
        if (w.size() < 2) continue;
        for (auto& p : out) {
            if (p.name == w[0]) p.acceptingJobs = w[1] == "accepting";
        }
    }
    return out;
}

std::vector<PrintJobRecord> parseLpstatJobs(std::string_view jobs, std::string_view queues) {
    std::vector<PrintJobRecord> out;
    for (auto line : text::splitLines(jobs)) {
        // The long form's "\tAlerts: job-hold-until-specified" under a job.
        if (!line.empty() && (line[0] == '\t' || line[0] == ' ')) {
            const auto w = text::splitWords(line);
            if (!out.empty() && !w.empty() && w[0] == "Alerts:") {
                for (std::size_t k = 1; k < w.size(); ++k)
                    if (w[k].starts_with("job-hold-until")) out.back().state = JobState::Held;
            }
            continue;
        }
        // "NAME-ID USER SIZE DATE..."
        const auto w = text::splitWords(line);
        if (w.size() < 3) continue;
        const auto dash = w[0].rfind('-');
        if (dash == std::string_view::npos) continue;
        const auto id = text::wholeNumber<int>(w[0].substr(dash + 1));
        if (!id) continue;
        PrintJobRecord j;
        j.id = *id;
        j.queue = std::string(w[0].substr(0, dash));
        j.owner = std::string(w[1]);
        if (auto bytes = text::wholeNumber<std::int64_t>(w[2])) j.sizeKb = (*bytes + 1023) / 1024;
        // "printer NAME now printing NAME-ID." names the one in progress.
        j.state = JobState::Pending;
        const std::string printing = "now printing " + std::string(w[0]) + ".";
        if (queues.find(printing) != std::string_view::npos) j.state = JobState::Processing;
        out.push_back(std::move(j));
    }
    return out;
}

std::shared_ptr<const SystemView> makeSnapshotView(std::shared_ptr<const Snapshot> snapshot,
                                                   std::shared_ptr<MissLog> misses,
                                                   std::shared_ptr<LostValues> lost) {
    return std::make_shared<SnapshotView>(std::move(snapshot), std::move(misses), std::move(lost));
}

SystemContext makeSnapshotContext(std::shared_ptr<const Snapshot> snapshot,
                                  std::shared_ptr<MissLog> misses,
                                  std::chrono::milliseconds deadline,
                                  std::shared_ptr<LostValues> lost) {
    auto view = std::make_shared<SnapshotView>(std::move(snapshot), std::move(misses), lost);
    SystemContext ctx;
    ctx.lost = std::move(lost);
    ctx.view = view;
    ctx.deadline = deadline;
    ctx.fs = std::make_shared<SnapshotFs>(view);
    ctx.net = std::make_shared<SnapshotNet>(view);
    ctx.services = std::make_shared<SnapshotServices>(view);
    ctx.printing = std::make_shared<SnapshotPrinting>(view);
    return ctx;
}

}  // namespace tavo::linuxwmi::remote_view
