// What changed from one pass to the next: rows matched by key, and what
// the marks do to the grid that is shown next.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "export_roundtrip.h"
#include "grid/changes.h"
#include "grid/copy_text.h"
#include "grid/export.h"
#include "grid/grid.h"
#include "grid/shown_view.h"

using tavo::grid::Grid;

namespace {

struct Row {
    std::vector<std::string> cells;
    int lamp = 1;
};

void fill(Grid& g, const std::vector<std::string>& captions, const std::vector<Row>& rows) {
    for (const auto& c : captions) g.columnsAdd(c);
    for (const Row& r : rows) {
        auto& item = g.itemsAdd("", r.cells.at(0), r.lamp);
        for (std::size_t c = 1; c < r.cells.size(); ++c)
            item.setSubItems(static_cast<int>(c), r.cells[c]);
    }
}

// Marks of the new rows as letters: . unchanged, N new, C changed.
std::string markLetters(const std::vector<std::uint8_t>& marks) {
    std::string out;
    for (auto m : marks)
        out += m == tavo::grid::kRowNew ? 'N' : m == tavo::grid::kRowChanged ? 'C' : '.';
    return out;
}

struct Case {
    const char* name;  // and the fault it catches
    std::vector<std::string> key;
    std::vector<std::string> previousCaptions;
    std::vector<Row> previous;
    std::vector<std::string> nextCaptions;
    std::vector<Row> next;
    std::string marks;
    std::vector<std::pair<std::size_t, int>> changed;
    std::vector<std::size_t> gone;
};

const std::vector<std::string> kSvc = {"Name", "State", "Path"};

}  // namespace

TEST(ComparePasses, MatchesRowsByKeyAndFindsWhatChanged) {
    const std::vector<Case> cases = {
        {"same rows in another order: matching by position would mark them all",
         {"Name"},
         kSvc,
         {{{"a", "Up", "/a"}}, {{"b", "Up", "/b"}}},
         kSvc,
         {{{"b", "Up", "/b"}}, {{"a", "Up", "/a"}}},
         "..",
         {},
         {}},
        {"one added, one removed, one changed cell",
         {"Name"},
         kSvc,
         {{{"a", "Up", "/a"}}, {{"b", "Up", "/b"}}, {{"c", "Up", "/c"}}},
         kSvc,
         {{{"a", "Up", "/a"}}, {{"c", "Down", "/c"}}, {{"d", "Up", "/d"}}},
         ".CN",
         {{1, 1}},
         {1}},
        {"a repeated key pairs in order: a map keeping only the last would mis-pair",
         {"Name"},
         kSvc,
         {{{"x", "1", ""}}, {{"x", "2", ""}}},
         kSvc,
         {{{"x", "1", ""}}, {{"x", "2", ""}}, {{"x", "3", ""}}},
         "..N",
         {},
         {}},
        {"a repeated key one fewer: the extra previous one is gone, not dropped",
         {"Name"},
         kSvc,
         {{{"x", "1", ""}}, {{"x", "2", ""}}},
         kSvc,
         {{{"x", "1", ""}}},
         ".",
         {},
         {1}},
        {"the Computer column is part of the key: without it pc1's row pairs with pc2's",
         {"Name"},
         {"Computer", "Name", "State"},
         {{{"pc1", "sshd", "Up"}}, {{"pc2", "sshd", "Up"}}},
         {"Computer", "Name", "State"},
         {{{"pc2", "sshd", "Down"}}, {{"pc1", "sshd", "Up"}}},
         "C.",
         {{0, 2}},
         {}},
        {"key parts are delimited: (ab, c) is not (a, bc)",
         {"Name", "State"},
         kSvc,
         {{{"ab", "c", "/1"}}},
         kSvc,
         {{{"a", "bc", "/1"}}},
         "N",
         {},
         {0}},
        {"captions matched ignoring case for the key, by caption for cells, a new column",
         {"HANDLE"},
         {"", "handle", "Name"},
         {{{"*", "4", "init"}}, {{"*", "9", "sh"}}},
         {"", "Name", "handle", "Extra"},
         {{{"*", "bash", "9", ""}}, {{"*", "init", "4", "x"}}},
         "CC",
         {{0, 1}, {1, 3}},
         {}},
        {"no key column in both: the whole row is the key",
         {"Handle"},
         kSvc,
         {{{"a", "Up", "/a"}}, {{"b", "Up", "/b"}}},
         kSvc,
         {{{"a", "Up", "/a"}}, {{"b", "Down", "/b"}}},
         ".N",
         {},
         {1}},
        {"a lamp that changed is a change of the first column",
         {"Name"},
         kSvc,
         {{{"a", "Up", "/a"}, 1}},
         kSvc,
         {{{"a", "Up", "/a"}, 3}},
         "C",
         {{0, 0}},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Grid before, after;
        fill(before, c.previousCaptions, c.previous);
        fill(after, c.nextCaptions, c.next);
        const auto changes = tavo::grid::comparePasses(before, after, c.key);
        EXPECT_EQ(markLetters(changes.marks), c.marks);
        EXPECT_EQ(changes.changedCells, c.changed);
        EXPECT_EQ(changes.gone, c.gone);
    }
}

TEST(MarkChanges, GoneRowsStayOnePassWithTheirTextsAndTheMarksTravelWithTheRows) {
    Grid shown, pass;
    fill(shown, {"Name", "State", "Path"},
         {{{"a", "Up", "/a"}, 1}, {{"b", "Up", "/b"}, 3}, {{"c", "Up", "/c"}, 1}});
    shown.item(2).setToolTipText("b's tip");
    shown.setSort(0, 0, true);
    fill(pass, {"Name", "State"}, {{{"c", "Down"}}, {{"d", "Up"}}});
    pass.setSort(0, 0, true);
    pass.setRowMarks(1, tavo::grid::kRowOld);  // d: kept from an earlier pass
    const std::vector<std::string> key = {"Name"};
    tavo::grid::markChanges(shown, pass, key);
    shown.takeContents(pass);

    // Gone rows come after the new ones with their lamp, tip and a column
    // only they still have; sorted in with the rest.
    ASSERT_EQ(shown.itemsCount(), 4);
    ASSERT_EQ(shown.columnsCount(), 3);
    EXPECT_EQ(shown.column(3).Text, "Path");
    std::vector<std::string> order;
    for (int i = 1; i <= 4; ++i) order.emplace_back(shown.shownItem(i).Text());
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c", "d"}));
    const auto& b = shown.item(4);
    EXPECT_EQ(b.Text(), "b");
    EXPECT_EQ(b.SmallIcon(), 3);
    EXPECT_EQ(b.ToolTipText(), "b's tip");
    EXPECT_EQ(b.cell(2), "/b");
    EXPECT_EQ(shown.rowMarks(3), tavo::grid::kRowGone);
    EXPECT_EQ(shown.rowMarks(0), tavo::grid::kRowChanged);
    EXPECT_TRUE(shown.cellChanged(0, 1));
    EXPECT_FALSE(shown.cellChanged(0, 0));
    EXPECT_EQ(shown.rowMarks(1), tavo::grid::kRowNew | tavo::grid::kRowOld) << "both kinds kept";
    EXPECT_TRUE(shown.changesMarked());
    EXPECT_FALSE(pass.changesMarked()) << "the swap gives the previous rows their own state";

    // The next pass: a gone row is not gone again, and it is not found again
    // as if it were still there (a row coming back is new).
    Grid third;
    fill(third, {"Name", "State"}, {{{"c", "Down"}}, {{"d", "Up"}}, {{"b", "Up"}}});
    tavo::grid::markChanges(shown, third, key);
    EXPECT_EQ(third.itemsCount(), 3);
    EXPECT_EQ(third.rowMarks(0), 0);
    EXPECT_EQ(third.rowMarks(2), tavo::grid::kRowNew);

    // A new set of rows carries no marks from the last.
    shown.itemsClear();
    shown.itemsAdd("", "z");
    EXPECT_EQ(shown.rowMarks(0), 0);
    EXPECT_FALSE(shown.cellChanged(0, 1));
    EXPECT_FALSE(shown.changesMarked());
}

// The marks are part of what is shown: copies and exports carry them in a
// last "Change" column, read back here by parsers that are not ours. The
// grid is sorted, so a mark read by shown position instead of by row would
// land on the wrong line.
TEST(MarkChanges, CopiesAndExportsCarryAChangeColumnThatReadsBack) {
    Grid shown, pass;
    fill(shown, kSvc, {{{"a", "Up", "/a"}}, {{"b", "Up", "/b, \"x\""}}, {{"c", "Up", "/c"}}});
    fill(pass, kSvc, {{{"d", "Up", "/d"}}, {{"c", "Down", "/c"}}, {{"a", "Up", "/a"}}});
    pass.setSort(0, 1, true);  // descending: d c b a once b is back as gone
    const std::vector<std::string> key = {"Name"};
    tavo::grid::markChanges(shown, pass, key);
    shown.takeContents(pass);
    shown.setSort(0, 1, true);

    const tavo::roundtrip::Table want = {{"Name", "State", "Path", "Change"},
                                         {"d", "Up", "/d", "new"},
                                         {"c", "Down", "/c", "changed"},
                                         {"b", "Up", "/b, \"x\"", "gone"},
                                         {"a", "Up", "/a", ""}};
    tavo::grid::ShownView view = tavo::grid::wholeGrid(shown);
    ASSERT_TRUE(view.changes);

    tavo::roundtrip::Table csv;
    std::string why;
    ASSERT_TRUE(tavo::roundtrip::parseCsv(tavo::grid::csvText(shown, view), csv, why)) << why;
    EXPECT_EQ(csv, want);

    EXPECT_EQ(tavo::grid::parseTabText(tavo::grid::tabText(shown, view)), want);

    const std::string html = tavo::grid::htmlText(shown, view, "pc", "Services");
    htmlDocPtr doc = htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8",
                                    HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    ASSERT_NE(doc, nullptr);
    tavo::roundtrip::Table rows;
    std::vector<std::string> styles;
    tavo::roundtrip::collectRows(xmlDocGetRootElement(doc), rows, styles);
    xmlFreeDoc(doc);
    EXPECT_EQ(rows, want);

    // With the marks not shown, nothing of them is written.
    view.changes = false;
    ASSERT_TRUE(tavo::roundtrip::parseCsv(tavo::grid::csvText(shown, view), csv, why)) << why;
    EXPECT_EQ(csv.at(0), (std::vector<std::string>{"Name", "State", "Path"}));
}
