#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "app/column_layout.h"
#include "grid/shown_view.h"

class QAction;
class QMenu;
class QModelIndex;
class QPoint;
class QTreeView;
class ResultsModel;
class RowFilterModel;

// What the results grid offers beyond a plain list view: the column
// chooser on the header (show, hide, drag, reset), remembered per report
// category; copying rows or a cell; and the description of what is shown,
// for exports and copies.
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

  private:
    void columnsLaidOut();
    void userChangedColumns();
    void syncHiddenColumns();

    QTreeView& view_;
    ResultsModel& model_;
    RowFilterModel& filter_;
    std::function<QString()> category_;
    LayoutStore store_;
    QString layoutCategory_;  // the report whose columns the header holds
    bool applying_ = false;
    QAction* copyAction_ = nullptr;
};
