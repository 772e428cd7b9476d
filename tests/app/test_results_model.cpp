#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTextDocument>
#include <QTreeView>

#include "app/results_model.h"
#include "grid/sorting.h"

using tavo::grid::Grid;

namespace {

QString shown(const ResultsModel& m, int row, int column = 0) {
    return m.data(m.index(row, column)).toString();
}

void addRows(Grid& g, std::initializer_list<const char*> texts) {
    for (const char* t : texts) {
        auto& row = g.itemsAdd("", t, 1);
        row.setSubItems(1, std::string(t) + "-cell");
    }
}

struct ResultsModelTest : ::testing::Test {
    Grid grid;
    ResultsModel model{grid, nullptr};
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

}  // namespace

TEST_F(ResultsModelTest, ShowsCaptionsCellsLampsAndToolTips) {
    grid.columnsAdd("Drive", 1500);
    grid.columnsAdd("Free");
    auto& c = grid.itemsAdd("", "C:", 2);
    c.setSubItems(1, "10 GB");
    c.setToolTipText("almost full");
    grid.itemsAdd("", "D:");

    ASSERT_EQ(model.rowCount(), 2);
    ASSERT_EQ(model.columnCount(), 2);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "Drive");
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "Free");
    EXPECT_EQ(model.columnWidthPixels(0), 100);
    EXPECT_EQ(model.columnWidthPixels(1), 96);  // the grid's default width
    EXPECT_EQ(shown(model, 0), "C:");
    EXPECT_EQ(shown(model, 0, 1), "10 GB");
    EXPECT_EQ(shown(model, 1, 1), "");  // never written
    EXPECT_EQ(model.data(model.index(0, 0), Qt::ToolTipRole).toString(), "almost full");
    EXPECT_FALSE(model.data(model.index(1, 0), Qt::ToolTipRole).isValid());

    // Text from the computer asked that looks like markup shows as typed.
    const std::string hostile = "<b>bold</b> & <img src=\"/etc/x.png\"> a<br>b";
    c.setToolTipText(hostile);
    const QString tip = model.data(model.index(0, 0), Qt::ToolTipRole).toString();
    QTextDocument shownTip;
    if (Qt::mightBeRichText(tip))
        shownTip.setHtml(tip);
    else
        shownTip.setPlainText(tip);
    EXPECT_EQ(shownTip.toPlainText().toStdString(), hostile);

    // The lamp sits in the first column only, and a row without one has none.
    const QIcon lamp = model.data(model.index(0, 0), Qt::DecorationRole).value<QIcon>();
    EXPECT_FALSE(lamp.isNull());
    EXPECT_FALSE(model.data(model.index(0, 1), Qt::DecorationRole).isValid());
    EXPECT_FALSE(model.data(model.index(1, 0), Qt::DecorationRole).isValid());
}

TEST(ResultsModelLamp, SelectedRowsShowTheSamePixmapAtBothSizes) {
    for (int level = 1; level <= 3; ++level) {
        const QIcon icon = ResultsModel::lampIcon(level);
        const QList<QSize> sizes = icon.availableSizes();
        EXPECT_TRUE(sizes.contains(QSize(16, 16)));
        EXPECT_TRUE(sizes.contains(QSize(32, 32)));
        for (int size : {16, 32}) {
            const QImage normal = icon.pixmap(size, QIcon::Normal).toImage();
            const QImage selected = icon.pixmap(size, QIcon::Selected).toImage();
            EXPECT_EQ(normal, selected) << "level " << level << " size " << size;
        }
    }
    // Three distinct lamps, and nothing for other levels.
    const QImage g = ResultsModel::lampIcon(1).pixmap(16).toImage();
    EXPECT_NE(g, ResultsModel::lampIcon(2).pixmap(16).toImage());
    EXPECT_NE(g, ResultsModel::lampIcon(3).pixmap(16).toImage());
    EXPECT_TRUE(ResultsModel::lampIcon(0).isNull());
    EXPECT_TRUE(ResultsModel::lampIcon(4).isNull());
}

TEST_F(ResultsModelTest, ABatchResetsTheModelOnceAndCellWritesNever) {
    grid.columnsAdd("Name");
    grid.columnsAdd("Value");
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);

    grid.beginUpdate();
    grid.itemsClear();
    for (int i = 0; i < 50; ++i) {
        auto& row = grid.itemsAdd("", "r" + std::to_string(i));
        row.setSubItems(1, std::to_string(i));
    }
    EXPECT_EQ(resets.count(), 0);
    grid.endUpdate();
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(inserts.count(), 0);
    EXPECT_EQ(model.rowCount(), 50);

    // Outside a batch a cell write is one dataChanged of its row, no reset.
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    grid.item(8).setSubItems(1, "seven");  // ListItems(8): the eighth row, model row 7
    EXPECT_EQ(resets.count(), 1);
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.at(0).at(0).value<QModelIndex>().row(), 7);
    EXPECT_EQ(shown(model, 7, 1), "seven");
}

TEST_F(ResultsModelTest, RowsFollowTheSortedOrderAndKeepSelection) {
    grid.columnsAdd("Name");
    grid.columnsAdd("Count");
    addRows(grid, {"b", "c", "a"});
    QTreeView view;
    bindResultsView(view, model);
    view.selectionModel()->select(model.index(2, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);

    std::int32_t direction = 0;
    tavo::grid::columnClick(grid, 0, direction);  // first click: descending
    EXPECT_EQ(shown(model, 0), "c");
    EXPECT_EQ(shown(model, 1), "b");
    EXPECT_EQ(shown(model, 2), "a");
    // The selected row ("a") moved with the sort.
    const QModelIndexList selected = view.selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.first().data().toString(), "a");

    // Rows added later, one at a time, land at their sorted place.
    grid.itemsAdd("", "bb");
    EXPECT_EQ(shown(model, 1), "bb");
    grid.itemsAdd("", "z");
    EXPECT_EQ(shown(model, 0), "z");
    // Changing the key text of a row moves it.
    grid.item(3).setText("0");  // "a" becomes "0": the last place descending
    ASSERT_EQ(model.rowCount(), 5);
    EXPECT_EQ(shown(model, 4), "0");
    EXPECT_EQ(shown(model, 3), "b");
}

TEST_F(ResultsModelTest, ColumnWidthsAreAppliedToTheViewAfterEachLayout) {
    QTreeView view;
    bindResultsView(view, model);
    EXPECT_FALSE(view.rootIsDecorated());
    EXPECT_TRUE(view.uniformRowHeights());
    EXPECT_FALSE(view.isSortingEnabled());

    grid.beginUpdate();
    grid.columnsClear();
    grid.columnsAdd("Drive", 900);
    grid.columnsAdd("Used", 3000);
    grid.endUpdate();
    EXPECT_EQ(view.header()->sectionSize(0), 60);
    EXPECT_EQ(view.header()->sectionSize(1), 200);

    // A column added outside a batch is laid out too.
    grid.columnsAdd("Type", 1500);
    EXPECT_EQ(view.header()->sectionSize(2), 100);
    EXPECT_EQ(view.header()->sectionSize(0), 60);
}

TEST_F(ResultsModelTest, StaleRowsInsideABatchReadAsEmptyNotPastTheGrid) {
    grid.columnsAdd("Name");
    grid.columnsAdd("Value");
    addRows(grid, {"a", "b", "c"});
    grid.beginUpdate();
    grid.itemsClear();
    grid.itemsAdd("", "x");
    // The view may still paint the last state it was told of; rows the grid
    // no longer has must read as nothing, never out of bounds.
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(shown(model, 0), "x");
    EXPECT_FALSE(model.data(model.index(2, 0)).isValid());
    grid.endUpdate();
    EXPECT_EQ(model.rowCount(), 1);
}

TEST(ResultsModelLifetime, TheGridOutlivesItsModelWithoutDanglingObserver) {
    Grid grid;
    grid.columnsAdd("Name");
    {
        ResultsModel model(grid, nullptr);
        grid.itemsAdd("", "a");
        EXPECT_EQ(model.rowCount(), 1);
    }
    // After the model is gone, grid changes tell nobody.
    grid.itemsAdd("", "b");
    grid.item(1).setText("c");
    EXPECT_EQ(grid.itemsCount(), 2);
}
