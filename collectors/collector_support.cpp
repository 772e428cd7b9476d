#include "collectors/collector_support.h"
#include "support/text.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace tavo::collect {

std::optional<double> asNumber(const wmi::Value& v) {
    if (v.isInteger()) return static_cast<double>(v.integer());
    if (v.isReal()) return v.real();
    if (v.isText()) {
        // Large unsigned quantities (disk sizes) arrive as decimal text.
        std::string_view t = text::trim(v.text());
        if (t.starts_with('+')) t.remove_prefix(1);
        const auto d = text::wholeNumber<double>(t);
        if (!d || !std::isfinite(*d)) return std::nullopt;
        return d;
    }
    return std::nullopt;
}

bool isNumber(const wmi::Value& v, double n) {
    auto d = asNumber(v);
    return d && *d == n;
}

double round2(double x) {
    // nearbyint follows the default rounding mode, to nearest with ties to even.
    double r = std::nearbyint(x * 100.0) / 100.0;
    return r == 0.0 ? 0.0 : r;
}

grid::ListItem& addRow(grid::Grid& grid, const std::string& keyText, int icon) {
    try {
        return grid.itemsAdd(keyText, keyText, icon);
    } catch (const Error& e) {
        if (e.number() != errc::kKeyNotUnique) throw;
    }
    return grid.itemsAdd(std::string(), keyText, icon);
}

}  // namespace tavo::collect

namespace tavo::collect {

void runMonitor(ReportContext& ctx, const ReportDefinition& report) {
    grid::Grid& results = ctx.results();
    GridUpdate update(results);
    Session session;
    std::unique_ptr<wmi::Object> obj;
    untrapped([&] {
        session.connection = ctx.management().connect(wmi::monikerFor(ctx.computer()));
        if (!session.connection)
            throw Error(errc::kFailed, "The management service gave no connection");
        session.results = session.connection->execQuery(queryFor(report));
        if (!session.results)
            throw Error(errc::kFailed, "The management service gave no result set");
        results.itemsClear();
        obj = session.results->next();
    });
    const auto columns = report.columns;
    const std::stop_token stop = ctx.stopToken();
    while (obj && !stop.stop_requested()) {
        const wmi::Object& o = *obj;
        int level = 1;
        if (report.lamp) skip([&] { level = report.lamp(o); });
        std::string key;
        grid::ListItem* row = nullptr;
        if (!columns.empty()) skip([&] { key = cellText(columns[0], o); });
        skip([&] { row = &addRow(results, key, level); });
        if (row) {
            for (std::size_t n = 1; n < columns.size(); ++n)
                skip([&] { row->setSubItems(static_cast<int>(n), cellText(columns[n], o)); });
        }
        obj.reset();
        skip([&] { obj = session.results->next(); });
    }
    if (session.results && !stop.stop_requested())
        skip([&] {
            if (std::string lost = session.results->lostValues(); !lost.empty())
                ctx.passIncomplete(lost);
        });
    session.release();
}

}  // namespace tavo::collect
