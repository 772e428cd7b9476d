#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "grid/error.h"
#include "grid/grid.h"

using tavo::Error;
using tavo::grid::Grid;

namespace {

std::uint32_t errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.number();
    }
    return 0;
}

std::vector<std::string> shownTexts(const Grid& g, int column = 0) {
    std::vector<std::string> out;
    for (int i = 1; i <= g.itemsCount(); ++i) out.emplace_back(g.shownItem(i).cell(column));
    return out;
}

// Records what the grid tells a view.
struct Recorder : tavo::grid::GridObserver {
    std::vector<std::string> events;
    void gridReset() override { events.push_back("reset"); }
    void columnsChanged() override { events.push_back("columns"); }
    void rowsCleared() override { events.push_back("cleared"); }
    void rowAppended(std::size_t r) override { events.push_back("append " + std::to_string(r)); }
    void rowChanged(std::size_t r) override { events.push_back("change " + std::to_string(r)); }
    void orderChanged() override { events.push_back("order"); }
};

}  // namespace

TEST(Grid, ColumnsCountFromOneAndKnowTheirPosition) {
    Grid g;
    g.columnsAdd("Drive", 1200);
    g.columnsAdd("");  // an empty caption is a column like any other
    ASSERT_EQ(g.columnsCount(), 2);
    EXPECT_EQ(g.column(1).Text, "Drive");
    EXPECT_EQ(g.column(1).Width, 1200);
    EXPECT_EQ(g.column(2).Width, tavo::grid::kDefaultColumnWidth);
    EXPECT_EQ(g.column(2).SubItemIndex, 1);
    EXPECT_EQ(errorOf([&] { g.column(0); }), tavo::errc::kIndexOutOfBounds);
    EXPECT_EQ(errorOf([&] { g.column(3); }), tavo::errc::kIndexOutOfBounds);
    g.columnsClear();
    EXPECT_EQ(g.columnsCount(), 0);
    g.columnsAdd("Again");
    EXPECT_EQ(g.column(1).SubItemIndex, 0);
}

TEST(Grid, DuplicateKeysAndCellsPastTheLastColumnFailWithoutChangingAnything) {
    Grid g;
    g.columnsAdd("Name");
    g.columnsAdd("Value");
    auto& a = g.itemsAdd("k1", "a", 1);
    g.itemsAdd("", "no key");
    g.itemsAdd("", "no key either");  // rows without a key never clash
    EXPECT_EQ(errorOf([&] { g.itemsAdd("k1", "dup"); }), tavo::errc::kKeyNotUnique);
    EXPECT_EQ(g.itemsCount(), 3);

    a.setSubItems(1, "one");
    EXPECT_EQ(errorOf([&] { a.setSubItems(2, "past the end"); }), tavo::errc::kIndexOutOfBounds);
    EXPECT_EQ(errorOf([&] { a.setSubItems(0, "not a cell"); }), tavo::errc::kIndexOutOfBounds);
    EXPECT_EQ(errorOf([&] { (void)a.SubItems(2); }), tavo::errc::kIndexOutOfBounds);
    EXPECT_EQ(a.SubItems(1), "one");
    EXPECT_EQ(g.item(2).SubItems(1), "");  // never written
    EXPECT_EQ(errorOf([&] { g.item(4); }), tavo::errc::kIndexOutOfBounds);
    EXPECT_EQ(errorOf([&] { g.item(0); }), tavo::errc::kIndexOutOfBounds);

    // Clearing the rows frees their keys.
    g.itemsClear();
    EXPECT_EQ(g.itemsCount(), 0);
    EXPECT_NO_THROW(g.itemsAdd("k1", "again"));
}

TEST(Grid, ListItemsKeepInsertionOrderWhileTheShownOrderIsSorted) {
    Grid g;
    g.columnsAdd("Name");
    g.columnsAdd("Size");
    g.setSort(0, 0, true);
    // A collector writes ListItems(ListItems.Count) right after each add; with
    // sorting on, that must still be the row it just added.
    for (const char* name : {"delta", "alpha", "charlie", "bravo"}) {
        g.itemsAdd("", name);
        g.item(g.itemsCount()).setSubItems(1, std::string(name) + " size");
    }
    EXPECT_EQ(g.item(1).Text(), "delta");
    EXPECT_EQ(g.item(4).SubItems(1), "bravo size");
    EXPECT_EQ(shownTexts(g), (std::vector<std::string>{"alpha", "bravo", "charlie", "delta"}));
    EXPECT_EQ(g.rowToShown(0), 3u);
    EXPECT_EQ(g.shownToRow(0), 1u);
    g.setSorted(false);
    EXPECT_EQ(shownTexts(g), (std::vector<std::string>{"delta", "alpha", "charlie", "bravo"}));
}

TEST(Grid, OrderKeptRowByRowMatchesAFreshSort) {
    // Rows placed one at a time outside a batch must end where a full sort
    // puts them, in both directions, with ties in insertion order.
    std::mt19937 rng(7);
    for (int order : {0, 1}) {
        Grid g;
        g.columnsAdd("Name");
        g.columnsAdd("Count");
        g.setSort(1, order, true);
        // Reading the order settles it, so every row below is placed one by
        // one rather than by the full sort on the next read.
        ASSERT_TRUE(g.shownOrder().empty());
        std::uniform_int_distribution<int> value(0, 30);
        for (int i = 0; i < 300; ++i) {
            auto& row = g.itemsAdd("", "r" + std::to_string(i));
            row.setSubItems(1, std::to_string(value(rng)) + (i % 3 ? "a" : "A"));
            if (i > 10 && i % 4 == 0) {
                g.item(1 + value(rng) % g.itemsCount()).setSubItems(1, std::to_string(value(rng)));
            }
        }
        const std::vector<std::size_t> incremental = g.shownOrder();
        g.setSorted(false);
        g.setSorted(true);  // forces the whole order to be sorted afresh
        EXPECT_EQ(incremental, g.shownOrder()) << "order " << order;
        for (std::size_t k = 0; k < incremental.size(); ++k) {
            EXPECT_EQ(g.rowToShown(incremental[k]), k);
        }
    }
}

TEST(Grid, TiesPlacedRowByRowKeepInsertionOrderInBothDirections) {
    for (int order : {0, 1}) {
        Grid g;
        g.columnsAdd("Name");
        g.columnsAdd("Size");
        g.setSort(1, order, true);
        ASSERT_TRUE(g.shownOrder().empty());  // settled: rows are placed one by one
        g.itemsAdd("", "first").setSubItems(1, "5");
        g.itemsAdd("", "second").setSubItems(1, "5");
        g.itemsAdd("", "small").setSubItems(1, "1");
        g.itemsAdd("", "third").setSubItems(1, "5");
        // A row whose cell changes to the tied value goes after the others.
        auto& moved = g.itemsAdd("", "moved");
        moved.setSubItems(1, "9");
        (void)g.shownOrder();
        moved.setSubItems(1, "5");
        if (order == 0) {
            EXPECT_EQ(shownTexts(g),
                      (std::vector<std::string>{"small", "first", "second", "third", "moved"}));
        } else {
            EXPECT_EQ(shownTexts(g),
                      (std::vector<std::string>{"first", "second", "third", "moved", "small"}));
        }
    }
}

TEST(Grid, ABatchTellsTheViewOnceAndSingleChangesTellItPrecisely) {
    Grid g;
    Recorder r;
    g.setObserver(&r);
    g.beginUpdate();
    g.columnsAdd("Name");
    g.columnsAdd("Value");
    g.beginUpdate();  // nested batches end with the outermost
    for (int i = 0; i < 10; ++i) g.itemsAdd("", "x").setSubItems(1, "y");
    g.endUpdate();
    EXPECT_TRUE(r.events.empty());
    g.endUpdate();
    EXPECT_EQ(r.events, std::vector<std::string>{"reset"});

    r.events.clear();
    g.beginUpdate();
    g.endUpdate();  // an empty batch costs the view nothing
    g.itemsAdd("", "z");
    g.item(11).setSubItems(1, "w");
    g.item(11).setSmallIcon(3);
    g.setSort(1, 0, true);
    g.item(11).setSubItems(1, "a");  // the sort key: the row moves
    g.setSort(1, 0, true);           // no change, no news
    EXPECT_EQ(r.events,
              (std::vector<std::string>{"append 10", "change 10", "change 10", "order", "order"}));
    g.setObserver(nullptr);
}

// Cells live in the grid's own arena: texts of every length, written over
// with longer and shorter ones (and with a view of themselves), must read
// back whole after the arena is compacted and after a swap of passes. An
// empty text and a cell never written both read "": a value that could not
// be read is told by the pass's lost values, not by the cell.
TEST(Grid, CellsOfAnyLengthReadBackThroughOverwritesCompactionAndSwaps) {
    const std::string longText = [] {
        std::string s;
        for (int i = 0; s.size() < 40000; ++i) s += "arg" + std::to_string(i) + ' ';
        return s;
    }();
    const std::vector<std::string> texts = {
        "", "a", std::string(15, 's'), std::string(16, 'h'), longText, "caf\xC3\xA9"};
    Grid g;
    for (int c = 0; c < 4; ++c) g.columnsAdd("c" + std::to_string(c));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        auto& row = g.itemsAdd("key" + std::to_string(i), texts[i], 1);
        row.setSubItems(1, texts[texts.size() - 1 - i]);
        row.setSubItems(3, texts[i]);  // cell 2 is never written
        row.setToolTipText(texts[i]);
    }
    const auto check = [&](const Grid& grid, const char* when) {
        ASSERT_EQ(grid.itemsCount(), static_cast<int>(texts.size())) << when;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const auto& row = grid.item(static_cast<int>(i) + 1);
            EXPECT_EQ(row.Text(), texts[i]) << when << " row " << i;
            EXPECT_EQ(row.SubItems(1), texts[texts.size() - 1 - i]) << when << " row " << i;
            EXPECT_EQ(row.SubItems(2), "") << when;
            EXPECT_EQ(row.cell(3), texts[i]) << when << " row " << i;
            EXPECT_EQ(row.cell(4), "") << when;
            EXPECT_EQ(row.ToolTipText(), texts[i]) << when;
            EXPECT_EQ(row.Key(), "key" + std::to_string(i)) << when;
        }
    };
    check(g, "as written");

    // Longer, then shorter in place, then a part of itself.
    auto& first = g.item(1);
    first.setSubItems(2, "short");
    first.setSubItems(2, longText);
    first.setSubItems(2, "xy");
    EXPECT_EQ(first.SubItems(2), "xy");
    first.setSubItems(2, longText);
    first.setSubItems(2, first.SubItems(2).substr(3, 10));
    EXPECT_EQ(first.SubItems(2), longText.substr(3, 10));
    first.setSubItems(2, "");
    // Enough rewrites of a long text that most of the arena is left behind.
    for (int k = 0; k < 200; ++k) g.item(2).setToolTipText(longText + std::to_string(k));
    g.item(2).setToolTipText(texts[1]);
    check(g, "after rewrites");
    EXPECT_EQ(errorOf([&] { g.itemsAdd("key3", "again"); }), tavo::errc::kKeyNotUnique)
        << "keys are still known after the texts moved";

    Grid other;
    other.columnsAdd("only");
    other.itemsAdd("", "theirs");
    g.takeContents(other);
    check(other, "after the swap");
    EXPECT_EQ(g.item(1).Text(), "theirs");
    g.itemsAdd("key0", "no clash: the keys went with their rows");
}
