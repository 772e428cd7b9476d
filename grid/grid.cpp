#include "grid/grid.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "grid/error.h"
#include "grid/utf8.h"
#include "support/text.h"

namespace tavo::grid {

namespace {

[[noreturn]] void outOfBounds(const char* what) {
    throw Error(errc::kIndexOutOfBounds, std::string("Index out of bounds: ") + what);
}

// The first eight folded bytes as one big-endian number, zero padded. Two
// prefixes that differ order their texts the same way, so most comparisons
// of a sort never touch the texts themselves.
std::uint64_t sortPrefix(std::string_view s) {
    std::uint64_t p = 0;
    const std::size_t n = std::min<std::size_t>(s.size(), 8);
    for (std::size_t i = 0; i < 8; ++i) {
        p <<= 8;
        if (i < n) p |= static_cast<unsigned char>(text::toLower(s[i]));
    }
    return p;
}

// Plain ASCII, checked eight bytes at a time: nearly every cell is, and
// only the others need the full UTF-8 check.
bool plainAscii(std::string_view s) {
    std::size_t i = 0;
    std::uint64_t high = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, s.data() + i, 8);
        high |= w;
    }
    for (; i < s.size(); ++i) high |= static_cast<unsigned char>(s[i]);
    return (high & 0x8080808080808080ull) == 0;
}
}  // namespace

// ---------------- ListItem ----------------

void ListItem::setText(std::string_view text) {
    grid_->store(cells_[0], text);
    grid_->compactIfWasteful();
    grid_->changed(row_, grid_->SortKey() == 0);
}

void ListItem::setSmallIcon(int icon) {
    icon_ = icon;
    grid_->changed(row_, false);
}

void ListItem::setToolTipText(std::string_view text) {
    grid_->store(toolTip_, text);
    grid_->compactIfWasteful();
    grid_->changed(row_, false);
}

std::string_view ListItem::SubItems(int n) const {
    if (n < 1 || n >= grid_->columnsCount()) outOfBounds("SubItems");
    return cell(n);
}

void ListItem::setSubItems(int n, std::string_view text) {
    if (n < 1 || n >= grid_->columnsCount()) outOfBounds("SubItems");
    const auto at = static_cast<std::uint32_t>(n);
    if (at >= cellCount_) grid_->growCells(*this, at);
    grid_->store(cells_[at], text);
    grid_->compactIfWasteful();
    grid_->changed(row_, grid_->SortKey() == n);
}

// ---------------- Grid: text storage ----------------

void Grid::store(TextSlot& slot, std::string_view text) {
    if (plainAscii(text) || isValidUtf8(text)) {
        storeValid(slot, text);
    } else {
        const std::string valid = validUtf8(std::string(text));
        storeValid(slot, valid);
    }
}

void Grid::storeValid(TextSlot& slot, std::string_view text) {
    if (text.size() > UINT32_MAX) throw Error(errc::kFailed, "A cell's text is larger than 4 GiB");
    const auto size = static_cast<std::uint32_t>(text.size());
    if (size <= slot.room) {
        // memmove: the text may be a view of this very place.
        if (size > 0) std::memmove(slot.data, text.data(), size);
        slot.size = size;
        return;
    }
    char* place = arena_.allocate(size);
    std::memcpy(place, text.data(), size);
    wasted_ += slot.room;
    slot = TextSlot{place, size, size};
}

void Grid::growCells(ListItem& item, std::uint32_t n) {
    if (n < item.cellRoom_) {
        for (std::uint32_t c = item.cellCount_; c <= n; ++c) item.cells_[c] = TextSlot{};
        item.cellCount_ = n + 1;
        return;
    }
    // Room for every column at once: collectors fill a row left to right.
    const std::uint32_t room =
        std::max({n + 1, static_cast<std::uint32_t>(columns_.size()), item.cellRoom_ * 2});
    auto* cells =
        reinterpret_cast<TextSlot*>(arena_.allocate(room * sizeof(TextSlot), alignof(TextSlot)));
    // Only the slots up to n are written: the rest are read once a cell
    // count covers them, and are written then.
    std::uninitialized_copy_n(item.cells_, item.cellCount_, cells);
    std::uninitialized_fill(cells + item.cellCount_, cells + n + 1, TextSlot{});
    wasted_ += item.cellRoom_ * sizeof(TextSlot);
    item.cells_ = cells;
    item.cellRoom_ = room;
    item.cellCount_ = n + 1;
}

void Grid::compactIfWasteful() {
    // Rows rewritten in place (a monitor's updates) leave their old texts
    // behind; once those are most of the arena, the live ones move to a
    // fresh one, so memory follows what the grid holds.
    if (wasted_ < (std::size_t{1} << 20) || wasted_ < arena_.heldBytes() / 2) return;
    TextArena fresh;
    const auto copy = [&fresh](TextSlot& slot) {
        char* place = slot.size > 0 ? fresh.allocate(slot.size) : nullptr;
        if (place) std::memcpy(place, slot.data, slot.size);
        slot = TextSlot{place, slot.size, slot.size};
    };
    keys_.clear();
    for (std::size_t r = 0; r < rowCount_; ++r) {
        ListItem& item = row(r);
        auto* cells = reinterpret_cast<TextSlot*>(
            fresh.allocate(item.cellCount_ * sizeof(TextSlot), alignof(TextSlot)));
        std::uninitialized_copy_n(item.cells_, item.cellCount_, cells);
        item.cells_ = cells;
        item.cellRoom_ = item.cellCount_;
        for (std::uint32_t c = 0; c < item.cellCount_; ++c) copy(cells[c]);
        copy(item.key_);
        if (item.key_.size > 0) keys_.insert(item.key_.view());
        copy(item.toolTip_);
    }
    arena_.swap(fresh);
    wasted_ = 0;
}

// ---------------- Grid: columns ----------------

void Grid::columnsClear() {
    columns_.clear();
    notify(&GridObserver::columnsChanged);
}

ColumnHeader& Grid::columnsAdd(std::string caption, std::optional<int> widthTwips) {
    ColumnHeader c;
    c.Text = validUtf8(std::move(caption));
    c.Width = std::max(0, widthTwips.value_or(kDefaultColumnWidth));
    c.SubItemIndex = static_cast<int>(columns_.size());
    columns_.push_back(std::move(c));
    notify(&GridObserver::columnsChanged);
    return columns_.back();
}

const ColumnHeader& Grid::column(int i) const {
    if (i < 1 || i > columnsCount()) outOfBounds("ColumnHeaders");
    return columns_[i - 1];
}

// ---------------- Grid: rows ----------------

void Grid::itemsClear() {
    rowBlocks_.clear();
    rowCount_ = 0;
    arena_.clear();
    wasted_ = 0;
    keys_.clear();
    order_.clear();
    pos_.clear();
    orderDirty_ = false;  // an empty order is a valid one
    marks_.clear();
    changedCells_.clear();
    changesMarked_ = false;
    notify(&GridObserver::rowsCleared);
}

ListItem& Grid::itemsAdd(std::string_view key, std::string_view text, int smallIcon) {
    if (!key.empty() && keys_.count(key) > 0)
        throw Error(errc::kKeyNotUnique, "Key is not unique in collection: " + std::string(key));
    if (rowCount_ > UINT32_MAX - 1) throw Error(errc::kFailed, "The grid holds too many rows");
    if (rowCount_ % kRowBlock == 0) {
        rowBlocks_.push_back(std::unique_ptr<ListItem[]>(new ListItem[kRowBlock]));
    }
    const std::size_t index = rowCount_;
    ListItem& item = row(index);
    item = ListItem();
    item.grid_ = this;
    item.row_ = static_cast<std::uint32_t>(index);
    item.icon_ = smallIcon;
    growCells(item, 0);
    store(item.cells_[0], text);
    if (!key.empty()) {
        storeValid(item.key_, key);
        keys_.insert(item.key_.view());
    }
    ++rowCount_;
    if (!sorted_) {
        if (!orderDirty_) {
            order_.push_back(index);
            pos_.push_back(index);
        }
    } else if (updateDepth_ == 0 && !orderDirty_) {
        placeRow(index);
    } else {
        // Inside a batch one sort at the end beats a placement per row.
        orderDirty_ = true;
    }
    if (updateDepth_ > 0) {
        pendingReset_ = true;
    } else if (observer_) {
        observer_->rowAppended(index);
    }
    return item;
}

ListItem& Grid::item(int i) {
    if (i < 1 || i > itemsCount()) outOfBounds("ListItems");
    return row(static_cast<std::size_t>(i - 1));
}

const ListItem& Grid::item(int i) const {
    if (i < 1 || i > itemsCount()) outOfBounds("ListItems");
    return row(static_cast<std::size_t>(i - 1));
}

// ---------------- Grid: sorting ----------------

void Grid::setSortKey(int key) {
    setSort(key, sortOrder_, sorted_);
}

void Grid::setSortOrder(int order) {
    setSort(sortKey_, order, sorted_);
}

void Grid::setSorted(bool sorted) {
    setSort(sortKey_, sortOrder_, sorted);
}

void Grid::setSort(int key, int order, bool sorted) {
    if (key < 0) outOfBounds("SortKey");
    order = order == 0 ? 0 : 1;
    if (key == sortKey_ && order == sortOrder_ && sorted == sorted_) return;
    const bool orderMoves = sorted || sorted_;
    sortKey_ = key;
    sortOrder_ = order;
    sorted_ = sorted;
    if (!orderMoves) return;  // settings of an unsorted grid change nothing shown
    orderDirty_ = true;
    notify(&GridObserver::orderChanged);
}

bool Grid::rowBefore(std::size_t a, std::size_t b) const {
    const int c = text::compareIgnoreCase(row(a).cell(sortKey_), row(b).cell(sortKey_));
    if (c != 0) return sortOrder_ == 1 ? c > 0 : c < 0;
    return a < b;  // equal text: insertion order, in either direction
}

void Grid::placeRow(std::size_t row) {
    // Take the row out of the order (when it is in it), then put it back where
    // it belongs; everything between the two places shifts by one.
    std::size_t from = order_.size();
    if (row < pos_.size()) {
        from = pos_[row];
        order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(from));
    } else {
        pos_.resize(row + 1);
    }
    const auto at =
        std::lower_bound(order_.begin(), order_.end(), row,
                         [this](std::size_t a, std::size_t b) { return rowBefore(a, b); });
    const std::size_t to = static_cast<std::size_t>(at - order_.begin());
    order_.insert(at, row);
    const std::size_t lo = std::min(from, to);
    const std::size_t hi = std::min(std::max(from, to), order_.size() - 1);
    for (std::size_t k = lo; k <= hi; ++k) pos_[order_[k]] = k;
}

void Grid::ensureOrder() const {
    if (!orderDirty_ && order_.size() == rowCount_) return;
    const std::size_t n = rowCount_;
    order_.resize(n);
    if (!sorted_) {
        for (std::size_t i = 0; i < n; ++i) order_[i] = i;
    } else {
        // Sort a permutation of row indices, never the rows. Each entry carries
        // a folded prefix of its text so the sort stays in one flat array;
        // the row index breaks ties, which makes the result the stable order.
        struct Entry {
            std::uint64_t prefix;
            std::string_view text;
            std::size_t row;
        };
        std::vector<Entry> entries(n);
        for (std::size_t i = 0; i < n; ++i) {
            const std::string_view t = row(i).cell(sortKey_);
            entries[i] = Entry{sortPrefix(t), t, i};
        }
        const bool descending = sortOrder_ == 1;
        std::sort(entries.begin(), entries.end(), [descending](const Entry& a, const Entry& b) {
            if (a.prefix != b.prefix) return descending ? a.prefix > b.prefix : a.prefix < b.prefix;
            const int c = text::compareIgnoreCase(a.text, b.text);
            if (c != 0) return descending ? c > 0 : c < 0;
            return a.row < b.row;
        });
        for (std::size_t i = 0; i < n; ++i) order_[i] = entries[i].row;
    }
    pos_.resize(n);
    for (std::size_t i = 0; i < n; ++i) pos_[order_[i]] = i;
    orderDirty_ = false;
}

std::size_t Grid::shownToRow(std::size_t shown) const {
    ensureOrder();
    if (shown >= order_.size()) outOfBounds("shown row");
    return order_[shown];
}

std::size_t Grid::rowToShown(std::size_t row) const {
    ensureOrder();
    if (row >= pos_.size()) outOfBounds("row");
    return pos_[row];
}

const std::vector<std::size_t>& Grid::shownOrder() const {
    ensureOrder();
    return order_;
}

const ListItem& Grid::shownItem(int i) const {
    if (i < 1 || i > itemsCount()) outOfBounds("ListItems");
    return row(shownToRow(static_cast<std::size_t>(i - 1)));
}

// ---------------- Grid: whole passes ----------------

void Grid::takeContents(Grid& from) {
    if (&from == this) return;
    const bool sameOrder =
        !from.orderDirty_ && from.order_.size() == from.rowCount_ && from.sorted_ == sorted_ &&
        (!sorted_ || (from.sortKey_ == sortKey_ && from.sortOrder_ == sortOrder_));
    columns_.swap(from.columns_);
    rowBlocks_.swap(from.rowBlocks_);
    std::swap(rowCount_, from.rowCount_);
    arena_.swap(from.arena_);
    std::swap(wasted_, from.wasted_);
    keys_.swap(from.keys_);
    marks_.swap(from.marks_);
    changedCells_.swap(from.changedCells_);
    std::swap(changesMarked_, from.changesMarked_);
    for (std::size_t r = 0; r < rowCount_; ++r) row(r).grid_ = this;
    for (std::size_t r = 0; r < from.rowCount_; ++r) from.row(r).grid_ = &from;
    if (sameOrder) {
        order_.swap(from.order_);
        pos_.swap(from.pos_);
        orderDirty_ = false;
    } else {
        orderDirty_ = true;
    }
    // What `from` now holds is in no order it knows of.
    from.order_.clear();
    from.pos_.clear();
    from.orderDirty_ = true;
    if (updateDepth_ > 0) {
        pendingReset_ = true;
    } else if (observer_) {
        observer_->gridReset();
    }
}

// ---------------- Grid: row marks ----------------

void Grid::setRowMarks(std::size_t r, std::uint8_t marks) {
    if (r >= rowCount_) outOfBounds("row");
    if (rowMarks(r) == marks) return;
    if (marks_.size() <= r) marks_.resize(rowCount_, 0);
    marks_[r] = marks;
    changed(r, false);
}

bool Grid::cellChanged(std::size_t r, int column) const {
    if (changedCells_.empty() || column < 0) return false;
    const std::uint64_t at =
        (static_cast<std::uint64_t>(r) << 32) | static_cast<std::uint32_t>(column);
    return std::binary_search(changedCells_.begin(), changedCells_.end(), at);
}

void Grid::setCellChanged(std::size_t r, int column) {
    if (r >= rowCount_) outOfBounds("row");
    if (column < 0 || column >= columnsCount()) outOfBounds("column");
    const std::uint64_t at =
        (static_cast<std::uint64_t>(r) << 32) | static_cast<std::uint32_t>(column);
    // Marked row by row, left to right: nearly always an append.
    if (changedCells_.empty() || changedCells_.back() < at) {
        changedCells_.push_back(at);
    } else {
        const auto place = std::lower_bound(changedCells_.begin(), changedCells_.end(), at);
        if (place != changedCells_.end() && *place == at) return;
        changedCells_.insert(place, at);
    }
    changed(r, false);
}

// ---------------- Grid: notification ----------------

void Grid::changed(std::size_t row, bool affectsOrder) {
    const bool moves = affectsOrder && sorted_;
    if (moves) {
        if (updateDepth_ == 0 && !orderDirty_ && order_.size() == rowCount_) {
            placeRow(row);
        } else {
            orderDirty_ = true;
        }
    }
    if (updateDepth_ > 0) {
        pendingReset_ = true;
        return;
    }
    if (!observer_) return;
    if (moves) {
        observer_->orderChanged();
    } else {
        observer_->rowChanged(row);
    }
}

void Grid::notify(void (GridObserver::*what)()) {
    if (updateDepth_ > 0) {
        pendingReset_ = true;
        return;
    }
    if (observer_) (observer_->*what)();
}

void Grid::beginUpdate() {
    ++updateDepth_;
}

void Grid::endUpdate() {
    if (updateDepth_ == 0) return;
    if (--updateDepth_ == 0 && pendingReset_) {
        pendingReset_ = false;
        if (observer_) observer_->gridReset();
    }
}

}  // namespace tavo::grid
