#include "grid/grid.h"

#include <algorithm>
#include <cstdint>

#include "grid/error.h"

namespace tavo::grid {

namespace {
const std::string kEmpty;

[[noreturn]] void outOfBounds(const char* what) {
    throw Error(errc::kIndexOutOfBounds, std::string("Index out of bounds: ") + what);
}

// Our own ASCII folding: std::tolower follows the process locale, which Qt
// sets from the environment, and the order must not depend on it.
inline unsigned char fold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

int compareText(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char ca = fold(static_cast<unsigned char>(a[i]));
        const unsigned char cb = fold(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

// The first eight folded bytes as one big-endian number, zero padded. Two
// prefixes that differ order their texts the same way, so most comparisons
// of a sort never touch the strings themselves.
std::uint64_t sortPrefix(const std::string& s) {
    std::uint64_t p = 0;
    const std::size_t n = std::min<std::size_t>(s.size(), 8);
    for (std::size_t i = 0; i < 8; ++i) {
        p <<= 8;
        if (i < n) p |= fold(static_cast<unsigned char>(s[i]));
    }
    return p;
}
}  // namespace

// ---------------- ListItem ----------------

void ListItem::setText(std::string text) {
    text_ = std::move(text);
    if (grid_) grid_->changed(row_, grid_->SortKey() == 0);
}

void ListItem::setSmallIcon(int icon) {
    icon_ = icon;
    if (grid_) grid_->changed(row_, false);
}

void ListItem::setToolTipText(std::string text) {
    toolTip_ = std::move(text);
    if (grid_) grid_->changed(row_, false);
}

const std::string& ListItem::SubItems(int n) const {
    if (n < 1 || !grid_ || n >= grid_->columnsCount()) outOfBounds("SubItems");
    return static_cast<std::size_t>(n) <= cells_.size() ? cells_[n - 1] : kEmpty;
}

void ListItem::setSubItems(int n, std::string text) {
    if (n < 1 || !grid_ || n >= grid_->columnsCount()) outOfBounds("SubItems");
    if (cells_.size() < static_cast<std::size_t>(n)) {
        // Collectors fill a row left to right; one allocation for the whole row.
        cells_.reserve(static_cast<std::size_t>(grid_->columnsCount() - 1));
        cells_.resize(n);
    }
    cells_[n - 1] = std::move(text);
    grid_->changed(row_, grid_->SortKey() == n);
}

const std::string& ListItem::cell(int column) const {
    if (column == 0) return text_;
    if (column < 0 || static_cast<std::size_t>(column) > cells_.size()) return kEmpty;
    return cells_[column - 1];
}

// ---------------- Grid: columns ----------------

void Grid::columnsClear() {
    columns_.clear();
    notify(&GridObserver::columnsChanged);
}

ColumnHeader& Grid::columnsAdd(std::string caption, std::optional<int> widthTwips) {
    ColumnHeader c;
    c.Text = std::move(caption);
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
    rows_.clear();
    keys_.clear();
    order_.clear();
    pos_.clear();
    orderDirty_ = false;  // an empty order is a valid one
    notify(&GridObserver::rowsCleared);
}

ListItem& Grid::itemsAdd(const std::string& key, std::string text, int smallIcon) {
    if (!key.empty()) {
        if (!keys_.insert(key).second) {
            throw Error(errc::kKeyNotUnique, "Key is not unique in collection: " + key);
        }
    }
    auto row = std::make_unique<ListItem>();
    row->grid_ = this;
    row->row_ = rows_.size();
    row->key_ = key;
    row->text_ = std::move(text);
    row->icon_ = smallIcon;
    rows_.push_back(std::move(row));
    const std::size_t index = rows_.size() - 1;
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
    return *rows_.back();
}

ListItem& Grid::item(int i) {
    if (i < 1 || i > itemsCount()) outOfBounds("ListItems");
    return *rows_[i - 1];
}

const ListItem& Grid::item(int i) const {
    if (i < 1 || i > itemsCount()) outOfBounds("ListItems");
    return *rows_[i - 1];
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
    const int c = compareText(rows_[a]->cell(sortKey_), rows_[b]->cell(sortKey_));
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
    if (!orderDirty_ && order_.size() == rows_.size()) return;
    const std::size_t n = rows_.size();
    order_.resize(n);
    if (!sorted_) {
        for (std::size_t i = 0; i < n; ++i) order_[i] = i;
    } else {
        // Sort a permutation of row indices, never the rows. Each entry carries
        // a folded prefix of its text so the sort stays in one flat array;
        // the row index breaks ties, which makes the result the stable order.
        struct Entry {
            std::uint64_t prefix;
            const std::string* text;
            std::size_t row;
        };
        std::vector<Entry> entries(n);
        for (std::size_t i = 0; i < n; ++i) {
            const std::string& t = rows_[i]->cell(sortKey_);
            entries[i] = Entry{sortPrefix(t), &t, i};
        }
        const bool descending = sortOrder_ == 1;
        std::sort(entries.begin(), entries.end(), [descending](const Entry& a, const Entry& b) {
            if (a.prefix != b.prefix) return descending ? a.prefix > b.prefix : a.prefix < b.prefix;
            const int c = compareText(*a.text, *b.text);
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
    return *rows_[shownToRow(static_cast<std::size_t>(i - 1))];
}

// ---------------- Grid: whole passes ----------------

void Grid::takeContents(Grid& from) {
    if (&from == this) return;
    const bool sameOrder =
        !from.orderDirty_ && from.order_.size() == from.rows_.size() && from.sorted_ == sorted_ &&
        (!sorted_ || (from.sortKey_ == sortKey_ && from.sortOrder_ == sortOrder_));
    columns_ = std::move(from.columns_);
    rows_ = std::move(from.rows_);
    keys_ = std::move(from.keys_);
    for (auto& row : rows_) row->grid_ = this;
    if (sameOrder) {
        order_ = std::move(from.order_);
        pos_ = std::move(from.pos_);
        orderDirty_ = false;
    } else {
        order_.clear();
        pos_.clear();
        orderDirty_ = true;
    }
    from.columns_.clear();
    from.rows_.clear();
    from.keys_.clear();
    from.order_.clear();
    from.pos_.clear();
    from.orderDirty_ = false;
    if (updateDepth_ > 0) {
        pendingReset_ = true;
    } else if (observer_) {
        observer_->gridReset();
    }
}

// ---------------- Grid: notification ----------------

void Grid::changed(std::size_t row, bool affectsOrder) {
    const bool moves = affectsOrder && sorted_;
    if (moves) {
        if (updateDepth_ == 0 && !orderDirty_ && order_.size() == rows_.size()) {
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
