// The collectors over the built-in provider on this very machine: what the
// grid shows must agree with what the system itself says.

#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cmath>
#include <string>

#include "collectors/collectors.h"
#include "platform/linux/wmi/provider.h"
#include "support/fake_report_context.h"

namespace tavo {
namespace {

double gb(double bytes) {
    return std::nearbyint(bytes / 1073741824.0 * 100.0) / 100.0;
}

// "12.34 GB" -> 12.34
double cellGB(const std::string& cell) {
    EXPECT_GE(cell.size(), 4u) << cell;
    EXPECT_EQ(cell.substr(cell.size() - 3), " GB") << cell;
    return std::stod(cell.substr(0, cell.size() - 3));
}

TEST(CollectorsOnThisMachine, DriveMonAgreesWithStatvfs) {
    testing::FakeReportContext ctx(".", wmi::makeConnectionFactory(linuxwmi::makeProvider()));
    for (int i = 0; i < 9; ++i) ctx.grid.columnsAdd("c" + std::to_string(i));

    DriveMon(ctx);

    EXPECT_EQ(ctx.endOfPassCalls, 1);
    ASSERT_GT(ctx.grid.itemsCount(), 0) << "no logical disk on this machine";
    int compared = 0;
    for (int i = 1; i <= ctx.grid.itemsCount(); ++i) {
        const auto& row = ctx.grid.item(i);
        struct statvfs st {};
        if (statvfs(std::string(row.Text()).c_str(), &st) != 0 || st.f_blocks == 0) continue;
        const double total = static_cast<double>(st.f_blocks) * static_cast<double>(st.f_frsize);
        EXPECT_DOUBLE_EQ(cellGB(std::string(row.SubItems(4))), gb(total)) << row.Text();
        // Free space moves while others write; it must still be within a
        // hundredth of a GB of what statvfs says now.
        const double free = static_cast<double>(st.f_bavail) * static_cast<double>(st.f_frsize);
        EXPECT_NEAR(cellGB(std::string(row.SubItems(3))), gb(free), 0.015) << row.Text();
        ++compared;
    }
    EXPECT_GT(compared, 0);
}

TEST(CollectorsOnThisMachine, ProcessesListThisTestsOwnProcess) {
    testing::FakeReportContext ctx(".", wmi::makeConnectionFactory(linuxwmi::makeProvider()));
    std::int16_t periodic = 0;
    GetResults(ctx, "Win32_Process", periodic);

    int pidColumn = 0;
    for (int c = 1; c <= ctx.grid.columnsCount(); ++c)
        if (ctx.grid.column(c).Text == "ProcessId") pidColumn = c;
    ASSERT_GT(pidColumn, 1) << "no ProcessId column";
    const std::string me = std::to_string(getpid());
    int found = 0;
    for (int i = 1; i <= ctx.grid.itemsCount(); ++i) {
        const auto& row = ctx.grid.item(i);
        EXPECT_TRUE(row.ToolTipText().empty()) << row.ToolTipText();
        if (row.cell(pidColumn - 1) == me) ++found;
    }
    EXPECT_EQ(found, 1);
    EXPECT_GT(ctx.grid.itemsCount(), 1);
    EXPECT_EQ(ctx.endOfPassCalls, 0);
}

}  // namespace
}  // namespace tavo
