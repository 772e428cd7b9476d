#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "app/column_layout.h"
#include "grid/changes.h"
#include "grid/shown_view.h"

class QAction;
class QMenu;
class QModelIndex;
class QPoint;
class QTreeView;
class ResultsModel;
class RowFilterModel;
namespace tavo::grid {
class Grid;
}

// What the results grid offers beyond a plain list view: the column
// chooser on the header (show, hide, drag, reset), remembered per report
// category; copying rows or a cell; the changes since the last pass of a
// periodic report, shown or not as remembered per category; and the
// description of what is shown, for exports and copies.
class ResultsTools : public QObject {
    Q_OBJECT
  public:
    // `category` names the report whose columns are laid out when they are.
    ResultsTools(QTreeView& view, ResultsModel& model, RowFilterModel& filter,
                 std::function<QString()> category, LayoutStore store, QObject* parent = nullptr);

    // The rows the filter shows and the columns not hidden, in shown order.
    tavo::grid::ShownView shownView() const;
    // The selected rows (in shown order) with the shown columns; all shown
    // rows when none is selected.
    tavo::grid::ShownView copyView() const;

    // Ctrl+C and the row menu's "Copy": the copy view as tab-separated text.
    void copyRows();
    // The row menu's "Copy cell": the text of one cell, as it stands.
    void copyCell(const QModelIndex& index);

    // The header's menu: one checkable entry per column, "Reset columns".
    // The caller shows it; its entries act when triggered.
    QMenu* makeHeaderMenu(QWidget* parent);
    // The menu of the row under `viewportPos`: "Copy" and "Copy cell".
    QMenu* makeRowMenu(const QPoint& viewportPos, QWidget* parent);

    void setColumnShown(int column, bool shown);
    void resetColumns();

    // RUN: a cycle of the chosen category begins. Its first pass is compared
    // with nothing; "Show changes" takes the category's remembered choice,
    // on by default for a periodic report (a report of one pass has no
    // second to compare, and the entry is disabled).
    void newCycle();
    // Takes a pass's rows into `shown`, the grid under the view, in one swap
    // (Grid::takeContents): `next` gets the rows shown until now. From the
    // second pass of a cycle on, the rows are first compared with those they
    // replace, by the report's key; while changes are shown the rows gone
    // since stay one more pass. A take-in that is not `whole` (the first
    // computers of several to answer) is shown unmarked and is not what the
    // next take-in is compared with.
    // `compared`: comparePasses(shown, next, rowKey()) made already, off
    // the window's thread, while `shown` did not change.
    void takePass(tavo::grid::Grid& shown, tavo::grid::Grid& next, bool whole = true,
                  const tavo::grid::PassChanges* compared = nullptr);
    // Whether takePass would compare these rows with those shown, and by what.
    bool compares(bool whole) const { return comparable_ && whole; }
    const std::vector<std::string>& rowKey() const { return rowKey_; }
    bool changesShown() const;
    // The row menu's checkable "Show changes"; remembered for the category.
    void setChangesShown(bool shown);
    QAction* showChangesAction() const { return showChanges_; }

  private:
    void columnsLaidOut();
    void userChangedColumns();
    void syncHiddenColumns();
    void applyChangesShown(bool shown);

    QTreeView& view_;
    ResultsModel& model_;
    RowFilterModel& filter_;
    std::function<QString()> category_;
    LayoutStore store_;
    QString layoutCategory_;  // the report whose columns the header holds
    bool applying_ = false;
    QAction* copyAction_ = nullptr;

    QAction* showChanges_ = nullptr;
    QString changesCategory_;          // the category of the cycle that fills the grid
    std::vector<std::string> rowKey_;  // its key columns' captions
    bool comparable_ = false;          // the grid holds a pass of this cycle
};
