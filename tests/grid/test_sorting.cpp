#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "grid/grid.h"
#include "grid/sorting.h"

using tavo::grid::columnClick;
using tavo::grid::Grid;

namespace {

void fill(Grid& g, const std::vector<std::vector<std::string>>& rows) {
    for (const auto& cells : rows) {
        auto& row = g.itemsAdd("", cells[0]);
        for (std::size_t n = 1; n < cells.size(); ++n)
            row.setSubItems(static_cast<int>(n), cells[n]);
    }
}

std::vector<std::string> column(const Grid& g, int c) {
    std::vector<std::string> out;
    for (int i = 1; i <= g.itemsCount(); ++i) out.emplace_back(g.shownItem(i).cell(c));
    return out;
}

using Texts = std::vector<std::string>;

struct ColumnClick : ::testing::Test {
    Grid g;
    std::int32_t sortdirection = 0;  // as the window holds it from start-up
    void SetUp() override {
        g.columnsAdd("Name");
        g.columnsAdd("Count");
        fill(g, {{"b", "9"}, {"c", "10"}, {"a", "100"}});
    }
};

}  // namespace

TEST_F(ColumnClick, DirectionAlternatesWhateverColumnIsClicked) {
    columnClick(g, 0, sortdirection);  // first click ever: descending
    EXPECT_TRUE(g.Sorted());
    EXPECT_EQ(g.SortKey(), 0);
    EXPECT_EQ(g.SortOrder(), 1);
    EXPECT_EQ(sortdirection, 1);
    EXPECT_EQ(column(g, 0), (Texts{"c", "b", "a"}));

    // Another column: the reverse of the last sort, not a fresh descending one.
    columnClick(g, 1, sortdirection);
    EXPECT_EQ(g.SortKey(), 1);
    EXPECT_EQ(sortdirection, 0);
    // Text order, not numbers: "10" and "100" come before "9".
    EXPECT_EQ(column(g, 1), (Texts{"10", "100", "9"}));

    columnClick(g, 1, sortdirection);
    EXPECT_EQ(sortdirection, 1);
    EXPECT_EQ(column(g, 1), (Texts{"9", "100", "10"}));
}

TEST_F(ColumnClick, TheLastColumnWithTheClickedCaptionIsTheKey) {
    Grid dup;
    dup.columnsAdd("Name");
    dup.columnsAdd("Size");
    dup.columnsAdd("Size");
    dup.columnsAdd("size");  // captions compare case-sensitively
    fill(dup, {{"x", "1", "b", "q"}, {"y", "2", "a", "p"}});
    columnClick(dup, 1, sortdirection);
    EXPECT_EQ(dup.SortKey(), 2);
    columnClick(dup, 2, sortdirection);
    EXPECT_EQ(dup.SortKey(), 2);
    EXPECT_EQ(column(dup, 0), (Texts{"y", "x"}));  // ascending by "a" < "b"
}

TEST_F(ColumnClick, AClickOutsideTheColumnsStillFlipsTheDirection) {
    columnClick(g, 1, sortdirection);
    columnClick(g, 7, sortdirection);  // no such column: the key stays
    EXPECT_EQ(g.SortKey(), 1);
    EXPECT_EQ(sortdirection, 0);
    EXPECT_TRUE(g.Sorted());
}

TEST_F(ColumnClick, TheSortOutlivesRefreshesAndLayoutChanges) {
    columnClick(g, 1, sortdirection);  // descending by the second column
    // A refresh: the collector clears the rows and adds them again.
    g.itemsClear();
    fill(g, {{"p", "1"}, {"q", "3"}, {"r", "2"}});
    EXPECT_EQ(column(g, 0), (Texts{"q", "r", "p"}));

    // Another category: new columns, the same position stays the key.
    g.beginUpdate();
    g.columnsClear();
    g.itemsClear();
    g.columnsAdd("Service");
    g.columnsAdd("State");
    fill(g, {{"cron", "Running"}, {"ssh", "Stopped"}, {"at", "Paused"}});
    g.endUpdate();
    EXPECT_EQ(g.SortKey(), 1);
    EXPECT_EQ(column(g, 1), (Texts{"Stopped", "Running", "Paused"}));
}

TEST(GridSort, IgnoresLetterCaseAndKeepsTiesInInsertionOrder) {
    Grid g;
    g.columnsAdd("Name");
    g.columnsAdd("Tag");
    fill(g, {{"Beta", "1"},
             {"alpha", "2"},
             {"beta", "3"},
             {"ALPHA", "4"},
             {"", "5"},
             {"alpha-longer-than-eight", "6"},
             {"alpha-longer-than-eighT", "7"}});
    g.setSort(0, 0, true);
    EXPECT_EQ(column(g, 1), (Texts{"5", "2", "4", "6", "7", "1", "3"}));
    g.setSortOrder(1);
    // Descending reverses the text order; equal texts still keep their order.
    EXPECT_EQ(column(g, 1), (Texts{"1", "3", "6", "7", "2", "4", "5"}));
}
