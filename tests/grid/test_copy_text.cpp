// Rows copied for the clipboard, and read back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "grid/copy_text.h"
#include "grid/grid.h"
#include "grid/shown_view.h"

using tavo::grid::Grid;
using tavo::grid::ShownView;

namespace {

using Table = std::vector<std::vector<std::string>>;

// Drive, Free, Label; three rows with lamps 1, 2, 3 and awkward cells.
struct CopiedDrives : ::testing::Test {
    Grid grid;
    void SetUp() override {
        grid.columnsAdd("Drive");
        grid.columnsAdd("Free");
        grid.columnsAdd("Label");
        auto add = [&](const char* drive, int lamp, const char* free, const char* label) {
            auto& row = grid.itemsAdd("", drive, lamp);
            row.setSubItems(1, free);
            row.setSubItems(2, label);
        };
        add("C:", 1, "10 GB", "System, \"main\"");
        add("D:", 2, "2 GB", "Data\tand\nmore");
        add("E:", 3, "0 GB", "<Backup & co>");
    }
};

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
