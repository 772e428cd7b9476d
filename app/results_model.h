#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>
#include <array>
#include <cstddef>
#include <vector>

#include "grid/grid.h"

class QTreeView;

// `text` as a tool tip shows it, letter for letter, even when it looks like
// markup.
QString plainToolTip(const QString& text);

// The Qt face of the results grid: rows in the grid's shown order, the row's
// lamp as the decoration of the first column, its tool tip, the column
// captions; while change marks are shown, a badge on the lamp for rows new,
// changed or gone, new rows and changed cells tinted, gone rows greyed. The model keeps its own
// copy of the shown order, so what it reports stays consistent while it tells the view about a
// change; the grid's rows never move, so that copy only holds row numbers.
class ResultsModel : public QAbstractTableModel, public tavo::grid::GridObserver {
    Q_OBJECT
  public:
    explicit ResultsModel(tavo::grid::Grid& grid, QObject* parent = nullptr);
    ~ResultsModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The width a report gives a column (twips) in device-independent pixels.
    int columnWidthPixels(int section) const;
    // Insertion index in the grid of the row the model shows at `modelRow`.
    std::size_t gridRow(int modelRow) const;
    // The grid row shown at `modelRow`, or null where the grid no longer
    // holds it (inside an update batch).
    const tavo::grid::ListItem* itemAt(int modelRow) const { return rowAt(modelRow); }
    const tavo::grid::Grid& grid() const { return grid_; }

    // Whether the rows' change marks are shown (the grid keeps them either way).
    void setMarksShown(bool shown);
    bool marksShown() const { return marksShown_; }

    // The status lamp of a level (1 green, 2 yellow, 3 red): 16 px with a
    // 32 px variant, the same pixmap for selected rows so the selection does
    // not tint it. Any other level gives a null icon.
    static QIcon lampIcon(int level);

  signals:
    // The columns were replaced; a view applies the report's widths again.
    void columnsLaidOut();

  private:
    void gridReset() override;
    void columnsChanged() override;
    void rowsCleared() override;
    void rowAppended(std::size_t row) override;
    void rowChanged(std::size_t row) override;
    void orderChanged() override;

    void resetFromGrid();
    const tavo::grid::ListItem* rowAt(int modelRow) const;

    struct Column {
        QString caption;
        int widthTwips = 0;
        bool operator==(const Column&) const = default;
    };

    tavo::grid::Grid& grid_;
    std::vector<std::size_t> shown_;  // model row -> grid insertion index
    std::vector<Column> columns_;
    std::array<QIcon, 3> lamps_;
    // By lamp level (0 none, 1..3) and mark (new, changed, gone).
    std::array<std::array<QIcon, 3>, 4> markedLamps_;
    bool marksShown_ = false;
};

// Sets a tree view up as the results grid: flat report look, uniform rows,
// whole-row selection, the report's column widths (again after each column
// layout), and no sorting of its own (the header click goes to the grid).
// The view shows `shown` where given (a filter over `model`), else `model`.
void bindResultsView(QTreeView& view, ResultsModel& model, QAbstractItemModel* shown = nullptr);
