#pragma once

#include <QAbstractProxyModel>
#include <QByteArray>
#include <QPersistentModelIndex>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class QTimer;
class ResultsModel;

// Which lamps a row must show to stay in view; or, for ChangedOnly, that
// the row is new, changed or gone since the last pass, whatever its lamp.
enum class LampChoice { All, YellowAndRed, RedOnly, ChangedOnly };

// The rows of the results model that the user asked to see: those holding
// the filter text in one of the shown cells (case-insensitive) and carrying
// a lamp of the chosen kind. Rows that fail are hidden here, never removed
// from the grid; the order is the results model's own, so a sort shows
// through unchanged. The filter is kept across a reset of the rows (a new
// pass) and a change of sort. Rows marked gone are hidden while the change
// marks are not shown: they are only there to be seen going.
class RowFilterModel : public QAbstractProxyModel {
    Q_OBJECT
  public:
    explicit RowFilterModel(ResultsModel& source, QObject* parent = nullptr);

    void setFilterText(const QString& text);
    QString filterText() const { return text_; }
    void setLampChoice(LampChoice choice);
    LampChoice lampChoice() const { return lamps_; }
    void setMarksShown(bool shown);
    // Cells of hidden columns do not count for the filter.
    void setColumnHidden(int column, bool hidden);
    bool isColumnHidden(int column) const;
    // All at once (element c is 1 where column c is hidden): one search.
    void setHiddenColumns(std::vector<std::uint8_t> hidden);

    // While wanted (the filter field has the focus), folds the rows for
    // searching when the program is idle, a few milliseconds at a time, and
    // again after each new pass, so the first character typed only searches.
    void setPrepared(bool wanted);
    bool isPreparing() const;

    int shownRows() const { return static_cast<int>(shown_.size()); }
    int totalRows() const;
    // Insertion index in the grid of the row shown at `row` (from 0).
    std::size_t gridRow(int row) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  signals:
    // After every change of the shown or the total number of rows.
    void countsChanged(int shown, int total);

  private:
    // How a change of the filter relates to the last one, so only the rows
    // whose answer can change are searched again.
    enum class Scope { All, Matching, NotMatching, None };

    void sourceAboutToReset();
    void sourceReset();
    void sourceRowsInserted(int first, int last);
    void sourceDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                           const QList<int>& roles);
    void sourceLayoutAboutToChange();
    void sourceLayoutChanged();

    void refilter(Scope scope, const std::vector<std::uint8_t>* newlyHidden = nullptr);
    std::vector<int> acceptedRows();
    void rebuildShown();
    void rebuildSourceToShown();
    bool accepts(int sourceRow);
    // kNoMatch, kMatchUnplaced, or the first shown column holding the text.
    std::int32_t textMatches(std::size_t gridRow);
    std::string_view foldedRow(std::size_t gridRow);
    void forgetFolded(std::size_t gridRow);
    void ensureRowSlots();
    void emitCounts();
    void prepareSlice();

    ResultsModel& source_;
    QString text_;
    std::string needle_;  // the filter text case-folded, as UTF-8
    LampChoice lamps_ = LampChoice::All;
    bool marksShown_ = false;
    std::vector<std::uint8_t> hiddenColumns_;  // by column, 1 hidden

    std::vector<int> shown_;          // proxy row -> source row, ascending
    std::vector<int> sourceToShown_;  // source row -> proxy row or -1

    // Per grid row (insertion index): does the text match (and in which
    // shown column, where that was worked out, so hiding another column
    // does not search the row again), and where in
    // arena_ its cells stand folded once and joined with NUL, searched on
    // every keystroke. One buffer rather than a string per row: a large
    // report is folded with a handful of allocations and searched in order.
    struct Span {
        std::size_t at = 0;
        std::size_t size = kNone;
    };
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    static constexpr std::int32_t kNoMatch = -1;
    static constexpr std::int32_t kMatchUnplaced = -2;  // matches, column not worked out
    std::vector<std::int32_t> textMatch_;
    std::vector<Span> folded_;
    std::string arena_;
    std::size_t arenaStale_ = 0;  // bytes of rows folded again since

    // Rows under the user's persistent indexes (selection, current row)
    // across a change of the source's layout.
    QModelIndexList layoutProxy_;
    QList<QPersistentModelIndex> layoutSource_;
    bool resetting_ = false;

    QTimer* prepareTimer_ = nullptr;
    int prepareNext_ = 0;  // the next source row to fold
    bool prepareWanted_ = false;
};
