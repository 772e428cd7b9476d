// Exports and copies of what the window shows: some rows, some columns, in
// the order the user arranged them.
#include <csv.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "grid/copy_text.h"
#include "grid/export.h"
#include "grid/grid.h"
#include "grid/shown_view.h"

using tavo::grid::Grid;
using tavo::grid::ShownView;

namespace {

using Table = std::vector<std::vector<std::string>>;

Table parseCsv(const std::string& text) {
    struct State {
        Table rows;
        std::vector<std::string> row;
    } st;
    csv_parser p;
    EXPECT_EQ(csv_init(&p, CSV_STRICT | CSV_APPEND_NULL), 0);
    csv_set_space_func(&p, [](unsigned char) { return 0; });
    const auto onField = [](void* data, size_t len, void* s) {
        static_cast<State*>(s)->row.emplace_back(static_cast<const char*>(data), len);
    };
    const auto onRow = [](int, void* s) {
        auto* state = static_cast<State*>(s);
        // Every line ends in ",": drop the empty field after it.
        if (!state->row.empty()) state->row.pop_back();
        state->rows.push_back(std::move(state->row));
        state->row.clear();
    };
    EXPECT_EQ(csv_parse(&p, text.data(), text.size(), onField, onRow, &st), text.size());
    csv_fini(&p, onField, onRow, &st);
    csv_free(&p);
    return st.rows;
}

// Drive, Free, Label; three rows with lamps 1, 2, 3 and awkward cells.
struct Drives : ::testing::Test {
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
