// Exports and copies of what the window shows: some rows, some columns, in
// the order the user arranged them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "csv_read.h"
#include "drives_fixture.h"
#include "grid/copy_text.h"
#include "grid/export.h"
#include "grid/grid.h"
#include "grid/shown_view.h"

using tavo::grid::Grid;
using tavo::grid::ShownView;

namespace {

using Table = std::vector<std::vector<std::string>>;

// Every line ends in ",": the empty field after it is dropped.
Table parseCsv(const std::string& text) {
    Table rows;
    std::string why;
    EXPECT_TRUE(tavo::testing::readCsv(text, CSV_STRICT | CSV_APPEND_NULL, rows, why)) << why;
    for (auto& row : rows)
        if (!row.empty()) row.pop_back();
    return rows;
}

struct Drives : tavo::testing::DrivesGrid {};

}  // namespace

TEST_F(Drives, TheWholeGridViewWritesWhatTheGridExportWrites) {
    const ShownView all = tavo::grid::wholeGrid(grid);
    EXPECT_EQ(tavo::grid::csvText(grid, all), tavo::grid::csvText(grid));
    EXPECT_EQ(tavo::grid::htmlText(grid, all, "PC", "Logical Drives"),
              tavo::grid::htmlText(grid, "PC", "Logical Drives"));
    // Sorted, the view follows the grid's shown order.
    grid.setSort(0, 1, true);
    const ShownView sorted = tavo::grid::wholeGrid(grid);
    EXPECT_EQ(sorted.rows, (std::vector<std::size_t>{2, 1, 0}));
    EXPECT_EQ(tavo::grid::csvText(grid, sorted), tavo::grid::csvText(grid));
}

TEST_F(Drives, CsvOfAViewHasItsRowsAndColumnsInTheirShownOrder) {
    // Rows E: and C: (a filter left them, a sort put E: first); Label moved
    // before Drive and Free hidden.
    const ShownView view{{2, 0}, {2, 0}};
    const Table expected = {
        {"Label", "Drive"}, {"<Backup & co>", "E:"}, {"System, \"main\"", "C:"}};
    EXPECT_EQ(parseCsv(tavo::grid::csvText(grid, view)), expected);

    // No rows: the header line alone; rows or columns the grid does not hold are skipped.
    EXPECT_EQ(tavo::grid::csvText(grid, ShownView{{}, {1}}), "Free,\r\n");
    EXPECT_EQ(parseCsv(tavo::grid::csvText(grid, ShownView{{7, 1}, {1, 9, -1}})),
              (Table{{"Free"}, {"2 GB"}}));
}

TEST_F(Drives, HtmlOfAViewColoursTheFirstShownCellByTheLamp) {
    const std::string html = tavo::grid::htmlText(grid, ShownView{{2, 1}, {1, 0}}, "PC", "Drives");
    EXPECT_NE(html.find("<tr><th>Free</th><th>Drive</th></tr>"), std::string::npos) << html;
    EXPECT_NE(html.find("<tr><td style='background-color:red;'>0 GB</td><td>E:</td></tr>"
                        "<tr><td style='background-color:gold;'>2 GB</td><td>D:</td></tr>"
                        "</table>"),
              std::string::npos)
        << html;
    EXPECT_EQ(html.find("C:"), std::string::npos);
    // Still escaped.
    const std::string label = tavo::grid::htmlText(grid, ShownView{{2}, {2}}, "PC", "Drives");
    EXPECT_NE(label.find("&lt;Backup &amp; co&gt;"), std::string::npos) << label;
}
