#include <array>
#include <string>
#include <unordered_map>

#include "collectors/collector_support.h"
#include "collectors/collectors.h"
#include "support/text.h"

// The generic class report: one row per instance of a management class, one
// column per property, a lamp from the instance's Status (and for services
// from whether they run and how they start). Every step traps its own
// failure, so this report never raises anything to the cycle.
namespace tavo {

namespace {

using collect::skip;
using wmi::Value;

constexpr std::array<ColumnDefinition, 1> kLampColumn{{{"", 300}}};
constexpr int kDefaultPropertyWidth = 1500;
constexpr int kErrorWidth = 9000;  // twips: room for a sentence

int levelFromStatus(const Value& status) {
    if (status.isText()) {
        const std::string& s = status.text();
        if (s == "Error" || s == "Pred Fail" || s == "Stopping") return 3;
        if (s == "OK" || s == "UNKNOWN") return 1;
        // A text never equals the number 1, but the text "1" is listed too.
        if (s == "1") return 1;
        return 2;
    }
    if ((status.isInteger() && status.integer() == 1) || (status.isReal() && status.real() == 1.0))
        return 1;
    return 2;
}

// Services: a running one is good; a stopped one is a warning unless it is
// disabled, which is bad. A null Started tells nothing and leaves the level.
template <class Read>
int levelForService(Read&& read, int level) {
    Value started;  // empty unless this instance's own read succeeds
    skip([&] { started = read("Started"); });
    if (started.isBool() && started.boolean()) return 1;
    if (started.isEmpty() || (started.isBool() && !started.boolean())) {
        Value mode;
        skip([&] { mode = read("StartMode"); });
        if (mode.isText()) {
            if (mode.text() == "Auto" || mode.text() == "Manual") return 2;
            if (mode.text() == "Disabled") return 3;
        }
    }
    return level;
}

}  // namespace

namespace monitor {
std::span<const ColumnDefinition> genericColumns() {
    return kLampColumn;
}

int statusLamp(const wmi::Object& instance) {
    Value status;  // each instance starts without a status of its own
    skip([&] { status = instance.get("Status"); });
    return levelFromStatus(status);
}

int serviceLamp(const wmi::Object& service) {
    int level = statusLamp(service);
    if (level == 3) return level;
    return levelForService([&](const std::string& name) { return service.get(name); }, level);
}
}  // namespace monitor

namespace {

// The class a WQL query asks for: the word after FROM, or "" where there is none.
std::string classOfQuery(const std::string& query) {
    const std::string low = text::toLower(query);
    std::size_t at = 0;
    while ((at = low.find("from", at)) != std::string::npos) {
        const bool wordStart = at == 0 || low[at - 1] == ' ' || low[at - 1] == '\t';
        const std::size_t after = at + 4;
        if (wordStart && after < low.size() && (low[after] == ' ' || low[after] == '\t')) {
            const std::size_t first = query.find_first_not_of(" \t", after);
            if (first == std::string::npos) return {};
            const std::size_t end = query.find_first_of(" \t\r\n", first);
            return query.substr(first, end == std::string::npos ? std::string::npos : end - first);
        }
        at = after;
    }
    return {};
}

// One row per instance that `query` returns, one column per property. With
// `onepass`, the report's flag: the interval field follows it and a
// one-pass report ends the cycle.
void genericPass(ReportContext& ctx, const std::string& query, LampRule lamp, int propertyWidth,
                 const std::int16_t* onepass) {
    grid::Grid& results = ctx.results();
    collect::GridUpdate update(results);

    skip([&] { results.itemsClear(); });
    skip([&] { results.columnsClear(); });
    if (onepass) skip([&] { ctx.setIntervalVisible(*onepass == 0); });

    collect::Session session;
    // The first failure that keeps the walk from starting, shown on the
    // warning row so the user can tell an unreachable computer from an
    // unknown class or a refused login.
    std::optional<Error> failure;
    auto note = [&](auto&& step) {
        try {
            step();
        } catch (const Error& e) {
            if (!failure) failure = e;
        } catch (const std::exception& e) {
            if (!failure) failure = Error(errc::kFailed, e.what());
        }
    };
    note([&] { session.connection = ctx.management().connect(wmi::monikerFor(ctx.computer())); });
    note([&] {
        if (!session.connection)
            throw Error(errc::kFailed, "The management service gave no connection");
        session.results = session.connection->execQuery(query);
    });

    skip([&] { addColumns(results, monitor::genericColumns()); });

    // Property columns by lower-cased name (the service matches names without
    // regard to case); the lamp column is column 1, the first property column 2.
    std::unordered_map<std::string, int> columnOf;
    auto columnFor = [&](const std::string& name) {
        auto key = text::toLower(name);
        if (auto it = columnOf.find(key); it != columnOf.end()) return it->second;
        results.columnsAdd(name, propertyWidth);
        int column = results.columnsCount();
        columnOf.emplace(std::move(key), column);
        return column;
    };

    std::vector<std::string> lastNames;  // the previous instance's property names
    std::vector<int> lastColumns;        // and their columns; 0 where none was found

    std::unique_ptr<wmi::Object> obj;
    bool started = false;  // the walk has fetched its first instance
    note([&] {
        if (!session.results)
            throw Error(errc::kFailed, "The management service gave no result set");
        obj = session.results->next();
        started = true;
    });

    // When the walk cannot start, its body still runs once without an
    // instance: every read fails and one warning row stands for the failure.
    // Without an instance every read of the lamp rules fails: the warning.
    bool once = !started;
    // A walk that started and found nothing: the service may know why.
    const bool none = started && !obj;
    const std::stop_token stop = ctx.stopToken();
    while ((obj || once) && !stop.stop_requested()) {
        const wmi::Object* o = obj.get();
        int level = 2;
        if (o) skip([&] { level = lamp(*o); });

        grid::ListItem* row = nullptr;
        skip([&] { row = &results.itemsAdd("", "*", level); });
        if (row && once && failure)
            skip([&] {
                // Where the eye goes, beside the lamp, and not only in a tool tip.
                const std::string text = failure->numberText() + ": " + failure->description();
                row->setToolTipText(text);
                results.columnsAdd("Error", kErrorWidth);
                row->setSubItems(1, text);
            });

        if (o && row) {
            std::vector<std::string> names;
            skip([&] { names = o->propertyNames(); });
            // Instances of one class list the same names in the same order:
            // their columns are looked up once, not once per cell.
            const bool sameNames = names == lastNames;
            if (!sameNames) lastColumns.assign(names.size(), 0);
            for (std::size_t i = 0; i < names.size(); ++i) {
                // Each value goes under the column named after it; a name the
                // earlier instances lacked gets a new column at the end.
                skip([&] {
                    if (!sameNames || lastColumns[i] == 0) lastColumns[i] = columnFor(names[i]);
                    // A null or an array has no text and its cell stays
                    // empty; told apart here rather than by the conversion's
                    // exception, which cost a Processes pass most of its time.
                    const wmi::Value value = o->get(names[i]);
                    if (value.isNull() || value.isArray()) return;
                    row->setSubItems(lastColumns[i] - 1, wmi::toText(value));
                });
            }
            if (!sameNames) lastNames = std::move(names);
        }

        if (once) break;
        obj.reset();
        // A failure while fetching the next instance ends the walk.
        skip([&] { obj = session.results->next(); });
    }

    // Said apart from the row too, for whoever shows more than a lamp.
    if (failure) skip([&] { ctx.passFailed(*failure); });
    if (none && !failure && session.results)
        skip([&] {
            if (std::string why = session.results->emptyReason(); !why.empty()) ctx.passEmpty(why);
        });
    if (session.results)
        skip([&] {
            if (std::string lost = session.results->lostValues(); !lost.empty())
                ctx.passIncomplete(lost);
        });
    skip([&] { ctx.resetPointer(); });
    session.release();
    if (onepass && *onepass == -1) skip([&] { ctx.endOfPass(); });
}

}  // namespace

void GetResults(ReportContext& ctx, const std::string& wmiclass, std::int16_t& onepass) {
    const ReportDefinition* report = nullptr;
    for (const auto& r : reportDefinitions())
        if (r.collector == CollectorKind::GetResults && r.managementClass == wmiclass) report = &r;
    genericPass(ctx, "SELECT * FROM " + wmiclass, lampForClass(wmiclass),
                report ? report->propertyWidth : kDefaultPropertyWidth, &onepass);
}

void GetQueryResults(ReportContext& ctx, const std::string& query) {
    genericPass(ctx, query, lampForClass(classOfQuery(query)), kDefaultPropertyWidth, nullptr);
}

}  // namespace tavo
