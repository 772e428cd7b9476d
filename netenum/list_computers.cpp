#include "netenum/list_computers.h"

#include <exception>
#include <string>
#include <string_view>

#include "collectors/report_definition.h"
#include "grid/error.h"
#include "netenum/network_enum.h"

namespace tavo {

namespace {

constexpr std::int16_t kTrue = -1;

// A server's remote name starts with \\, which is not part of the
// computer's name; a backslash anywhere else in the name is.
std::string_view withoutServerPrefix(std::string_view name) {
    if (name.starts_with("\\\\")) name.remove_prefix(2);
    return name;
}

void fillGrid(ReportContext& ctx, netenum::WNetApi& api) {
    grid::Grid& results = ctx.results();
    results.itemsClear();

    std::string names;
    {
        CNetworkEnum walker(api);
        walker.SetResourceType(0);
        walker.Reset();
        ctx.processEvents();
        names = walker.GetServerList();
    }
    ctx.processEvents();

    addColumns(results, findReport("Network Computers")->columns);
    // One green row per name; text after the last comma is not a name.
    std::size_t start = 0;
    for (std::size_t comma = names.find(','); comma != std::string::npos;
         comma = names.find(',', start)) {
        results.itemsAdd("", "", 1);
        const std::string_view name(names.data() + start, comma - start);
        results.item(results.itemsCount()).setSubItems(1, std::string(withoutServerPrefix(name)));
        start = comma + 1;
    }
}

}  // namespace

void ListComputers(ReportContext& ctx, netenum::WNetApi& api, std::int16_t& onepass) {
    ctx.setIntervalVisible(onepass == 0);
    try {
        fillGrid(ctx, api);
    } catch (...) {
        // The error goes to the cycle's error report, but the one-pass cycle
        // still ends here rather than rerunning a failing walk every interval.
        ctx.resetPointer();
        if (onepass == kTrue) ctx.endOfPass();
        try {
            throw;
        } catch (const Error&) {
            throw;
        } catch (const std::exception& e) {
            throw Error(errc::kFailed,
                        std::string("Listing the network computers failed: ") + e.what());
        }
    }
    ctx.resetPointer();
    if (onepass == kTrue) ctx.endOfPass();
}

}  // namespace tavo
