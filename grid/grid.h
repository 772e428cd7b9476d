#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "grid/text_arena.h"

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

// What a view marks on a row beside its texts, as bits of one small value
// per row kept apart from the cells. The change marks come from comparing a
// pass with the one before it (grid/changes.h).
enum RowMark : std::uint8_t {
    kRowNew = 1,      // not in the previous pass
    kRowChanged = 2,  // in it, with cells that changed (Grid::cellChanged says which)
    kRowGone = 4,     // in the previous pass only: kept for one pass, to be seen going
    kRowOld = 8,      // kept from an earlier pass: its computer did not answer in time
};

// Where one text of a row stands in its grid's arena. `room` is what the
// place can hold, so a shorter text written over it needs no new place.
struct TextSlot {
    char* data = nullptr;
    std::uint32_t size = 0;
    std::uint32_t room = 0;
    std::string_view view() const { return {data, size}; }
};

// One row. Its texts live in the grid's arena, not in strings of their own:
// a view returned here stays valid until the grid is next written to (a
// write may move every text once overwritten ones fill most of the arena),
// its rows are cleared, or it takes other contents.
class ListItem {
  public:
    std::string_view Text() const { return cells_[0].view(); }
    void setText(std::string_view text);
    int SmallIcon() const { return icon_; }  // 0 none, 1 green, 2 yellow, 3 red
    void setSmallIcon(int icon);
    std::string_view Key() const { return key_.view(); }
    std::string_view ToolTipText() const { return toolTip_.view(); }
    void setToolTipText(std::string_view text);

    // Cell n (n >= 1) is shown in column n + 1. A cell never written reads "".
    // Reading or writing beyond the last column fails with errc::kIndexOutOfBounds
    // and changes nothing.
    std::string_view SubItems(int n) const;
    void setSubItems(int n, std::string_view text);

    // The cell under column c counted from 0 (0 = Text), "" where never written.
    std::string_view cell(int column) const {
        return column >= 0 && static_cast<std::uint32_t>(column) < cellCount_
                   ? cells_[column].view()
                   : std::string_view();
    }

  private:
    friend class Grid;
    ListItem() = default;
    Grid* grid_ = nullptr;
    std::uint32_t row_ = 0;
    int icon_ = 0;
    TextSlot key_;
    TextSlot toolTip_;
    TextSlot* cells_ = nullptr;  // cells_[0] is Text, cells_[n] SubItems(n)
    std::uint32_t cellCount_ = 0;
    std::uint32_t cellRoom_ = 0;
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
    ListItem& itemsAdd(std::string_view key, std::string_view text, int smallIcon = 0);
    int itemsCount() const { return static_cast<int>(rowCount_); }
    bool hasKey(std::string_view key) const { return keys_.count(key) != 0; }
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
    // Swaps in the columns and rows of `from` (a pass built apart from the
    // view); `from` gets this grid's previous columns and rows, so the caller
    // chooses where they are freed. This grid keeps its own sort settings;
    // when `from` was already in that order, its order is taken too, so the
    // swap costs no sort. Observers hear one gridReset.
    void takeContents(Grid& from);

    // --- Row marks (RowMark bits), by insertion index from 0 ---
    // Rows never marked read 0; marks go with the rows (itemsClear drops
    // them, takeContents swaps them). Setting them tells the observer the
    // row changed. A row outside the grid fails with kIndexOutOfBounds.
    std::uint8_t rowMarks(std::size_t row) const {
        return row < marks_.size() ? marks_[row] : std::uint8_t{0};
    }
    void setRowMarks(std::size_t row, std::uint8_t marks);
    // The cell under `column` (from 0) changed since the previous pass.
    bool cellChanged(std::size_t row, int column) const;
    void setCellChanged(std::size_t row, int column);
    // True once the rows were compared with a previous pass (even when
    // nothing changed): what is shown then carries the change marks.
    bool changesMarked() const { return changesMarked_; }
    void setChangesMarked(bool marked) { changesMarked_ = marked; }

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
    ListItem& row(std::size_t r) const { return rowBlocks_[r / kRowBlock][r % kRowBlock]; }
    // Writes `text` (made valid UTF-8) into `slot`, in place when it fits.
    void store(TextSlot& slot, std::string_view text);
    void storeValid(TextSlot& slot, std::string_view text);
    // Gives `item` room for cells 0..n.
    void growCells(ListItem& item, std::uint32_t n);
    // Copies the live texts into a fresh arena once most of it is overwritten text.
    void compactIfWasteful();

    static constexpr std::size_t kRowBlock = 256;

    std::vector<ColumnHeader> columns_;
    // Rows in blocks, so their addresses stay put for callers as rows are added.
    std::vector<std::unique_ptr<ListItem[]>> rowBlocks_;
    std::size_t rowCount_ = 0;
    TextArena arena_;
    std::size_t wasted_ = 0;                     // arena bytes left behind by texts written again
    std::unordered_set<std::string_view> keys_;  // views of the rows' keys in arena_
    int sortKey_ = 0;
    int sortOrder_ = 0;
    bool sorted_ = false;
    // order_[shown] = row and pos_[row] = shown, rebuilt lazily when dirty and
    // kept up to date row by row outside update batches.
    mutable std::vector<std::size_t> order_;
    mutable std::vector<std::size_t> pos_;
    mutable bool orderDirty_ = true;
    // Empty until a row is marked, so filling a grid costs nothing here.
    std::vector<std::uint8_t> marks_;
    // (row << 32 | column) of each changed cell, ascending.
    std::vector<std::uint64_t> changedCells_;
    bool changesMarked_ = false;
    GridObserver* observer_ = nullptr;
    int updateDepth_ = 0;
    bool pendingReset_ = false;
};

}  // namespace tavo::grid
