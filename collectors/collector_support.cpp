#include "collectors/collector_support.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace tavo::collect {

std::optional<double> asNumber(const wmi::Value& v) {
    if (v.isInteger()) return static_cast<double>(v.integer());
    if (v.isReal()) return v.real();
    if (v.isText()) {
        const std::string& t = v.text();
        // Large unsigned quantities (disk sizes) arrive as decimal text.
        std::size_t b = t.find_first_not_of(' ');
        std::size_t e = t.find_last_not_of(' ');
        if (b == std::string::npos) return std::nullopt;
        const char* first = t.data() + b;
        const char* last = t.data() + e + 1;
        if (*first == '+') ++first;
        double d = 0;
        auto [ptr, ec] = std::from_chars(first, last, d);
        if (ec != std::errc() || ptr != last || !std::isfinite(d)) return std::nullopt;
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
