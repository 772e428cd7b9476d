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
    for (int i = 1; i <= g.itemsCount(); ++i) out.push_back(g.shownItem(i).cell(column));
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
