// Invariants over the report definitions: the dispatch, the category list,
// the layouts and the monitors' column writers all come from them, so these
// checks catch a category that would look different in two places.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

#include "collectors/collectors.h"
#include "collectors/report_definition.h"
#include "cycle/pass.h"
#include "support/answering_object.h"
#include "support/fake_report_context.h"

namespace tavo {
namespace {

std::string folded(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

TEST(ReportDefinitions, CategoriesAreUniqueListedAlphabeticallyAndFoundByExactText) {
    std::set<std::string_view> names;
    for (const auto& r : reportDefinitions())
        EXPECT_TRUE(names.insert(r.category).second) << r.category;
    EXPECT_EQ(names.size(), 23u);

    auto listed = reportCategories();
    EXPECT_EQ(std::set<std::string_view>(listed.begin(), listed.end()), names);
    for (std::size_t i = 1; i < listed.size(); ++i)
        EXPECT_LT(folded(listed[i - 1]), folded(listed[i])) << listed[i];

    for (auto category : listed) {
        const ReportDefinition* r = findReport(category);
        ASSERT_NE(r, nullptr) << category;
        EXPECT_EQ(r->category, category);
    }
    EXPECT_EQ(findReport("logical drives"), nullptr);
    EXPECT_EQ(findReport("BIOS "), nullptr);
    EXPECT_EQ(findReport(""), nullptr);
}

TEST(ReportDefinitions, TheMonitorsAreTestedFirstAndTheNeighbourhoodLast) {
    auto all = reportDefinitions();
    ASSERT_GE(all.size(), 4u);
    EXPECT_EQ(all[0].collector, CollectorKind::DriveMon);
    EXPECT_EQ(all[1].collector, CollectorKind::NetMon);
    EXPECT_EQ(all[2].collector, CollectorKind::PrintMon);
    EXPECT_EQ(all.back().collector, CollectorKind::ListComputers);
    for (std::size_t i = 3; i + 1 < all.size(); ++i) {
        EXPECT_EQ(all[i].collector, CollectorKind::GetResults) << all[i].category;
        EXPECT_EQ(queryFor(all[i]), "SELECT * FROM " + std::string(all[i].managementClass));
        EXPECT_EQ(all[i].layout, ColumnLayout::PerProperty);
    }
}

TEST(ReportDefinitions, EveryReportHasAClassAnIntervalAndColumnsFitForItsCollector) {
    for (const auto& r : reportDefinitions()) {
        SCOPED_TRACE(std::string(r.category));
        EXPECT_EQ(r.managementClass.empty(), r.collector == CollectorKind::ListComputers);
        EXPECT_TRUE(r.intervalSeconds == 20 || r.intervalSeconds == 30 || r.intervalSeconds == 60);
        EXPECT_FALSE(r.columns.empty());
        // Only the monitors have their columns at RUN, and only they need a
        // writer for every cell.
        const bool monitor = r.collector == CollectorKind::DriveMon ||
                             r.collector == CollectorKind::NetMon ||
                             r.collector == CollectorKind::PrintMon;
        EXPECT_EQ(r.layout == ColumnLayout::AtRun, monitor);
        if (monitor) {
            for (const auto& c : r.columns)
                EXPECT_TRUE(!c.property.empty() || c.format) << c.caption;
        }
        if (r.layout == ColumnLayout::PerProperty) {
            EXPECT_GT(r.propertyWidth, 0);
        }
        // The one-pass reports hide the interval only where RUN itself does.
        const RunLayout at = runLayout(r.category);
        EXPECT_EQ(at.intervalSeconds, r.intervalSeconds);
        EXPECT_EQ(at.columns.size(), monitor ? r.columns.size() : 0u);
    }
}

TEST(ReportDefinitions, RunLayoutOfATextOutsideTheListIsSixtySecondsShownAndNoColumns) {
    const RunLayout none = runLayout("printers");
    EXPECT_EQ(none.intervalSeconds, 60);
    EXPECT_TRUE(none.intervalShown);
    EXPECT_TRUE(none.columns.empty());
    const RunLayout drives = runLayout("Logical Drives");
    EXPECT_EQ(drives.intervalSeconds, 20);
    EXPECT_FALSE(drives.intervalShown);
}

// The monitors through the window's own dispatch.
void runMonitor(const ReportDefinition& r, ReportContext& ctx) {
    ASSERT_NE(r.collector, CollectorKind::GetResults) << "not a monitor";
    ASSERT_NE(r.collector, CollectorKind::ListComputers) << "not a monitor";
    cycle::runCollector(r, ctx, nullptr);
}

TEST(ReportDefinitions, EveryDeclaredColumnOfAMonitorIsWrittenByIt) {
    for (const auto& r : reportDefinitions()) {
        if (r.layout != ColumnLayout::AtRun) continue;
        SCOPED_TRACE(std::string(r.category));
        auto service = std::make_shared<testing::AnsweringBackend>();
        testing::FakeReportContext ctx(".", service);
        addColumns(ctx.grid, runLayout(r.category).columns);
        runMonitor(r, ctx);

        ASSERT_EQ(service->queries, std::vector<std::string>{queryFor(r)});
        ASSERT_EQ(ctx.grid.columnsCount(), static_cast<int>(r.columns.size()));
        ASSERT_EQ(ctx.grid.itemsCount(), 1);
        const auto& row = ctx.grid.item(1);
        EXPECT_EQ(row.Text(), "3");
        EXPECT_GE(row.SmallIcon(), 1);
        EXPECT_LE(row.SmallIcon(), 3);
        for (int n = 1; n < ctx.grid.columnsCount(); ++n)
            EXPECT_FALSE(row.SubItems(n).empty()) << ctx.grid.column(n + 1).Text;
    }
}

TEST(ReportDefinitions, ColumnsCarryTheirCaptionsAndWidthsIntoTheGrid) {
    const ReportDefinition* printers = findReport("Printers");
    ASSERT_NE(printers, nullptr);
    grid::Grid g;
    addColumns(g, printers->columns);
    ASSERT_EQ(g.columnsCount(), 18);
    EXPECT_EQ(g.column(1).Text, "DeviceID");
    EXPECT_EQ(g.column(7).Width, 750);
    // A width of 0 means the grid's own default, not a hidden column.
    EXPECT_EQ(g.column(8).Width, grid::kDefaultColumnWidth);
}

}  // namespace
}  // namespace tavo
