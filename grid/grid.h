#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

// The results grid as a plain model. The operations are named as the design
// names the list view's (ColumnHeaders, ListItems, SubItems, SortKey ...), so
// collectors read like their procedures. Indexes of ColumnHeaders(i) and
// ListItems(i) count from 1, as the design counts; ListItems(i) is in
// insertion order, the shown (and exported) order is shownItem(i).
namespace tavo::grid {

inline constexpr int kDefaultColumnWidth = 1440;  // twips, when Add gets no width

struct ColumnHeader {
    std::string Text;
    int Width = kDefaultColumnWidth;  // twips
    int SubItemIndex = 0;             // position counted from 0
};

// Told about every change so a view can follow. Between beginUpdate() and
// the matching endUpdate() the grid tells nothing and sends one gridReset()
// at the end if anything changed, so a pass costs the view a bounded amount.
class GridObserver {
  public:
    virtual ~GridObserver() = default;
    virtual void gridReset() = 0;       // anything may have changed
    virtual void columnsChanged() = 0;  // columns cleared or added
    virtual void rowsCleared() = 0;
    virtual void rowAppended(std::size_t row) = 0;  // insertion index from 0
    virtual void rowChanged(std::size_t row) = 0;   // text, icon, cells or tool tip
    virtual void orderChanged() = 0;                // sort settings or sort keys changed
};

class Grid;

class ListItem {
  public:
    const std::string& Text() const { return text_; }
    void setText(std::string text);
    int SmallIcon() const { return icon_; }  // 0 none, 1 green, 2 yellow, 3 red
    void setSmallIcon(int icon);
    const std::string& Key() const { return key_; }
    const std::string& ToolTipText() const { return toolTip_; }
    void setToolTipText(std::string text);

    // Cell n (n >= 1) is shown in column n + 1. A cell never written reads "".
    // Reading or writing beyond the last column fails with errc::kIndexOutOfBounds
    // and changes nothing.
    const std::string& SubItems(int n) const;
    void setSubItems(int n, std::string text);

    // The cell under column c counted from 0 (0 = Text), "" where never written.
    const std::string& cell(int column) const;

  private:
    friend class Grid;
    Grid* grid_ = nullptr;
    std::size_t row_ = 0;
    std::string key_;
    std::string text_;
    int icon_ = 0;
    std::string toolTip_;
    std::vector<std::string> cells_;  // cells_[n-1] is SubItems(n)
};

class Grid {
  public:
    Grid() = default;
    Grid(const Grid&) = delete;
    Grid& operator=(const Grid&) = delete;

    // --- ColumnHeaders ---
    void columnsClear();
    ColumnHeader& columnsAdd(std::string caption, std::optional<int> widthTwips = std::nullopt);
    int columnsCount() const { return static_cast<int>(columns_.size()); }
    const ColumnHeader& column(int i) const;  // 1-based; kIndexOutOfBounds outside

    // --- ListItems ---
    void itemsClear();
    // Appends a row. An empty key means no key; a key already used fails
    // with errc::kKeyNotUnique and adds nothing.
    ListItem& itemsAdd(const std::string& key, std::string text, int smallIcon = 0);
    int itemsCount() const { return static_cast<int>(rows_.size()); }
    ListItem& item(int i);  // 1-based, insertion order; kIndexOutOfBounds outside
    const ListItem& item(int i) const;

    // --- Sorting (the list view's own text sort) ---
    // Text is compared byte by byte with ASCII letters folded to lower case,
    // whatever the process locale; rows with equal text keep insertion order.
    int SortKey() const { return sortKey_; }
    void setSortKey(int key);
    int SortOrder() const { return sortOrder_; }  // 0 ascending, 1 descending
    void setSortOrder(int order);
    bool Sorted() const { return sorted_; }
    void setSorted(bool sorted);
    // All three at once, so a view is told (and the rows sorted) only once.
    void setSort(int key, int order, bool sorted);

    // The i-th row as shown (1-based): the sorted order when Sorted, else insertion order.
    const ListItem& shownItem(int i) const;
    // Insertion index (from 0) of the row shown at position `shown` (from 0).
    std::size_t shownToRow(std::size_t shown) const;
    // Shown position (from 0) of the row with insertion index `row` (from 0).
    std::size_t rowToShown(std::size_t row) const;
    // The whole shown order: element k is the insertion index of the k-th shown row.
    const std::vector<std::size_t>& shownOrder() const;

    // --- Whole passes ---
    // Takes the columns and rows of `from` (a pass built apart from the
    // view), leaving it empty. This grid keeps its own sort settings; when
    // `from` was already in that order, its order is taken too, so the swap
    // costs no sort. Observers hear one gridReset.
    void takeContents(Grid& from);

    // --- Change notification ---
    void setObserver(GridObserver* observer) { observer_ = observer; }
    void beginUpdate();
    void endUpdate();

  private:
    friend class ListItem;
    void changed(std::size_t row, bool affectsOrder);
    void notify(void (GridObserver::*what)());
    void ensureOrder() const;
    bool rowBefore(std::size_t a, std::size_t b) const;  // strict shown order of two rows
    void placeRow(std::size_t row);                      // keeps a valid sorted order valid

    std::vector<ColumnHeader> columns_;
    std::vector<std::unique_ptr<ListItem>> rows_;  // stable addresses for callers
    std::unordered_set<std::string> keys_;
    int sortKey_ = 0;
    int sortOrder_ = 0;
    bool sorted_ = false;
    // order_[shown] = row and pos_[row] = shown, rebuilt lazily when dirty and
    // kept up to date row by row outside update batches.
    mutable std::vector<std::size_t> order_;
    mutable std::vector<std::size_t> pos_;
    mutable bool orderDirty_ = true;
    GridObserver* observer_ = nullptr;
    int updateDepth_ = 0;
    bool pendingReset_ = false;
};

}  // namespace tavo::grid
