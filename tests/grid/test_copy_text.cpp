// Rows copied for the clipboard, and read back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drives_fixture.h"
#include "grid/copy_text.h"
#include "grid/grid.h"
#include "grid/shown_view.h"

using tavo::grid::Grid;
using tavo::grid::ShownView;

namespace {

using Table = std::vector<std::vector<std::string>>;

struct CopiedDrives : tavo::testing::DrivesGrid {};

}  // namespace

TEST_F(CopiedDrives, TabTextReadsBackCellForCell) {
    const ShownView view{{1, 0, 2}, {0, 2, 1}};
    const std::string text = tavo::grid::tabText(grid, view);
    // Plain fields are written bare, one line each, with the captions first.
    EXPECT_EQ(text.substr(0, text.find('\n') + 1), "Drive\tLabel\tFree\n");
    const Table expected = {{"Drive", "Label", "Free"},
                            {"D:", "Data\tand\nmore", "2 GB"},
                            {"C:", "System, \"main\"", "10 GB"},
                            {"E:", "<Backup & co>", "0 GB"}};
    EXPECT_EQ(tavo::grid::parseTabText(text), expected);
    // Rows or columns the grid does not hold are left out.
    EXPECT_EQ(tavo::grid::tabText(grid, ShownView{{}, {1}}), "Free\n");
    EXPECT_EQ(tavo::grid::tabText(grid, ShownView{{5, 2}, {1, 4}}), "Free\n0 GB\n");
}

TEST(TabText, EmptyCellsAndCellsNeverWrittenKeepTheirPlaces) {
    Grid grid;
    grid.columnsAdd("A");
    grid.columnsAdd("");
    grid.columnsAdd("C");
    grid.itemsAdd("", "");
    grid.itemsAdd("", "x").setSubItems(2, "\"quoted\"");
    const std::string text = tavo::grid::tabText(grid, tavo::grid::wholeGrid(grid));
    EXPECT_EQ(text, "A\t\tC\n\t\t\nx\t\t\"\"\"quoted\"\"\"\n");
    EXPECT_EQ(tavo::grid::parseTabText(text),
              (Table{{"A", "", "C"}, {"", "", ""}, {"x", "", "\"quoted\""}}));
}
