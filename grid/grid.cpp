#include "grid/grid.h"

#include <algorithm>
#include <cctype>

#include "grid/error.h"

namespace tavo::grid {

namespace {
const std::string kEmpty;

[[noreturn]] void outOfBounds(const char* what) {
    throw Error(errc::kIndexOutOfBounds, std::string("Index out of bounds: ") + what);
}

// The list view sorts text without regard to letter case; ties keep insertion order.
int compareText(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int ca = std::tolower(static_cast<unsigned char>(a[i]));
        const int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
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
    if (cells_.size() < static_cast<std::size_t>(n)) cells_.resize(n);
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
    c.Width = widthTwips.value_or(kDefaultColumnWidth);
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
    orderDirty_ = true;
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
    orderDirty_ = true;
    if (updateDepth_ > 0) {
        pendingReset_ = true;
    } else if (observer_) {
        observer_->rowAppended(rows_.size() - 1);
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
    if (key < 0) outOfBounds("SortKey");
    sortKey_ = key;
    orderDirty_ = true;
    notify(&GridObserver::orderChanged);
}

void Grid::setSortOrder(int order) {
    sortOrder_ = order == 0 ? 0 : 1;
    orderDirty_ = true;
    notify(&GridObserver::orderChanged);
}

void Grid::setSorted(bool sorted) {
    sorted_ = sorted;
    orderDirty_ = true;
    notify(&GridObserver::orderChanged);
}

void Grid::ensureOrder() const {
    if (!orderDirty_ && order_.size() == rows_.size()) return;
    order_.resize(rows_.size());
    for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = i;
    if (sorted_) {
        // Sort a permutation of row indices; the rows themselves never move.
        const int key = sortKey_;
        const bool descending = sortOrder_ == 1;
        std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
            const int c = compareText(rows_[a]->cell(key), rows_[b]->cell(key));
            return descending ? c > 0 : c < 0;
        });
    }
    orderDirty_ = false;
}

std::size_t Grid::shownToRow(std::size_t shown) const {
    ensureOrder();
    if (shown >= order_.size()) outOfBounds("shown row");
    return order_[shown];
}

const ListItem& Grid::shownItem(int i) const {
    if (i < 1 || i > itemsCount()) outOfBounds("ListItems");
    return *rows_[shownToRow(static_cast<std::size_t>(i - 1))];
}

// ---------------- Grid: notification ----------------

void Grid::changed(std::size_t row, bool affectsOrder) {
    if (affectsOrder && sorted_) orderDirty_ = true;
    if (updateDepth_ > 0) {
        pendingReset_ = true;
        return;
    }
    if (!observer_) return;
    if (affectsOrder && sorted_) {
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

void Grid::beginUpdate() { ++updateDepth_; }

void Grid::endUpdate() {
    if (updateDepth_ == 0) return;
    if (--updateDepth_ == 0 && pendingReset_) {
        pendingReset_ = false;
        if (observer_) observer_->gridReset();
    }
}

}  // namespace tavo::grid
