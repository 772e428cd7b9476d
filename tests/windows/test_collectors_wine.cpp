// The collectors end to end against Wine's management service: rows, cells
// and lamps must agree with the objects the service hands out.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>

#include "collectors/collectors.h"
#include "collectors/management.h"
#include "platform/windows/wmi_com.h"
#include "support/fake_report_context.h"

using tavo::wmi::Value;

namespace {

std::shared_ptr<tavo::wmi::ConnectionFactory> wineFactory() {
    auto com = tavo::winwmi::makeComBackend();
    return tavo::wmi::makeConnectionFactory(com, com);
}

// The layouts the window gives these reports before their first pass.
void addColumns(tavo::grid::Grid& g, int count) {
    for (int i = 0; i < count; ++i) g.columnsAdd("c" + std::to_string(i));
}

double parseGb(const std::string& cell) {
    // "12.34 GB" with the collectors' default '.' separator.
    return std::strtod(cell.c_str(), nullptr);
}

}  // namespace

TEST(CollectorsUnderWine, DriveMonListsEveryDiskWithSizesAndAFullnessLamp) {
    auto factory = wineFactory();
    std::map<std::string, std::pair<Value, Value>> disks;  // DeviceID -> Size, FreeSpace
    {
        auto c = factory->connect(tavo::wmi::monikerFor("."));
        auto rs = c->execQuery("Select * from Win32_LogicalDisk");
        while (auto d = rs->next()) {
            disks[tavo::wmi::toText(d->get("DeviceID"))] = {d->get("Size"), d->get("FreeSpace")};
        }
    }
    ASSERT_FALSE(disks.empty());

    tavo::testing::FakeReportContext ctx(".", factory);
    addColumns(ctx.grid, 9);
    tavo::DriveMon(ctx);

    EXPECT_EQ(ctx.endOfPassCalls, 1);
    ASSERT_EQ(ctx.grid.itemsCount(), static_cast<int>(disks.size()));
    for (int i = 1; i <= ctx.grid.itemsCount(); ++i) {
        const auto& row = ctx.grid.item(i);
        SCOPED_TRACE(row.Text());
        ASSERT_TRUE(disks.count(std::string(row.Text())));
        const auto& [size, free] = disks[std::string(row.Text())];
        if (size.isNull() || free.isNull()) {
            EXPECT_EQ(row.SmallIcon(), 1);
            continue;
        }
        const double total = std::stod(size.text());
        const double avail = std::stod(free.text());
        EXPECT_NEAR(parseGb(std::string(row.SubItems(4))), total / (1 << 30), 0.006);
        EXPECT_NEAR(parseGb(std::string(row.SubItems(3))), avail / (1 << 30), 0.006);
        if (total > 0) {
            const double used = (total - avail) / total * 100;
            const int expected = std::floor(used) > 90 ? 3 : std::floor(used) > 80 ? 2 : 1;
            EXPECT_EQ(row.SmallIcon(), expected) << used;
            EXPECT_NE(row.SubItems(2).find(" %"), std::string::npos);
        }
    }
}

TEST(CollectorsUnderWine, NetMonShowsEachEnabledAdapterWithItsAddresses) {
    auto factory = wineFactory();
    std::map<std::string, std::string> firstAddress;  // MAC -> IPAddress(0)
    int adapters = 0;
    {
        auto c = factory->connect(tavo::wmi::monikerFor("."));
        auto rs =
            c->execQuery("Select * from Win32_NetworkAdapterConfiguration Where IPEnabled = True");
        while (auto a = rs->next()) {
            ++adapters;
            const Value mac = a->get("MACAddress");
            const Value ip = a->get("IPAddress");
            if (mac.isText() && ip.isArray() && !ip.array().empty()) {
                firstAddress[mac.text()] = tavo::wmi::toText(ip.at(0));
            }
        }
    }
    ASSERT_GT(adapters, 0);

    tavo::testing::FakeReportContext ctx(".", factory);
    addColumns(ctx.grid, 13);
    tavo::NetMon(ctx);

    EXPECT_EQ(ctx.endOfPassCalls, 0) << "a periodic report never ends the cycle";
    ASSERT_EQ(ctx.grid.itemsCount(), adapters);
    for (int i = 1; i <= ctx.grid.itemsCount(); ++i) {
        const auto& row = ctx.grid.item(i);
        EXPECT_GE(row.SmallIcon(), 1);
        EXPECT_LE(row.SmallIcon(), 3);
        // No gateway is red whatever else the adapter has.
        if (row.SubItems(3).empty()) {
            EXPECT_EQ(row.SmallIcon(), 3);
        }
        auto it = firstAddress.find(std::string(row.Text()));
        if (it != firstAddress.end()) {
            EXPECT_EQ(row.SubItems(2), it->second);
        }
    }
}

TEST(CollectorsUnderWine, GetResultsShowsTheBiosWithEveryPropertyAsAColumn) {
    auto factory = wineFactory();
    std::vector<std::string> names;
    {
        auto c = factory->connect(tavo::wmi::monikerFor("."));
        auto bios = c->execQuery("SELECT * FROM Win32_BIOS")->next();
        ASSERT_TRUE(bios);
        names = bios->propertyNames();
    }
    tavo::testing::FakeReportContext ctx(".", factory);
    std::int16_t onepass = -1;
    tavo::GetResults(ctx, "Win32_BIOS", onepass);

    EXPECT_EQ(ctx.endOfPassCalls, 1);
    ASSERT_EQ(ctx.grid.itemsCount(), 1);
    // The lamp column, then one column per property.
    ASSERT_EQ(ctx.grid.columnsCount(), static_cast<int>(names.size()) + 1);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(ctx.grid.column(static_cast<int>(i) + 2).Text, names[i]);
    }
    EXPECT_NE(ctx.grid.item(1).SmallIcon(), 0);
}

TEST(CollectorsUnderWine, AClassWineLacksGivesAnEmptyGrid) {
    tavo::testing::FakeReportContext ctx(".", wineFactory());
    std::int16_t onepass = -1;
    tavo::GetResults(ctx, "Win32_Share", onepass);
    EXPECT_EQ(ctx.endOfPassCalls, 1);
    // Either no rows (an empty answer) or the one "*" row of a failed query.
    if (ctx.grid.itemsCount() == 1) {
        EXPECT_EQ(ctx.grid.item(1).Text(), "*");
    } else {
        EXPECT_EQ(ctx.grid.itemsCount(), 0);
    }
}
