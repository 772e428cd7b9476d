#include "app/row_filter_model.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <QElapsedTimer>
#include <QTimer>

#include "app/results_model.h"
#include "grid/grid.h"
#include "grid/huge_pages.h"

namespace {

// Cells are joined with NUL in the folded text of a row; a NUL inside a
// cell stands as 0x01 there, so a hit can be placed in its column by
// counting separators. Nobody types a NUL into the filter field.
constexpr char kSeparator = '\0';
constexpr char kCellNul = '\x01';

// ASCII letters to lower case, NUL to kCellNul, every other byte as it is.
struct FoldTable {
    char to[256];
    FoldTable() {
        for (int c = 0; c < 256; ++c) to[c] = static_cast<char>(c);
        for (int c = 'A'; c <= 'Z'; ++c) to[c] = static_cast<char>(c - 'A' + 'a');
        to[0] = kCellNul;
    }
};
const FoldTable kFold;

// Copies `cell` folded to `dst` (as many bytes as the cell has); false
// when it holds bytes beyond ASCII, which need Unicode's folding instead.
bool foldAscii(char* dst, std::string_view cell) {
    unsigned char high = 0;
    for (std::size_t i = 0; i < cell.size(); ++i) {
        const auto c = static_cast<unsigned char>(cell[i]);
        high |= c;
        dst[i] = kFold.to[c];
    }
    return high < 0x80;
}

// Folds `size` bytes at `text` in place as foldAscii does; false when they
// hold bytes beyond ASCII. A whole row at once, sixteen bytes at a time:
// most cells are a few bytes long, too short to be worth it one by one.
bool foldAsciiInPlace(char* text, std::size_t size) {
    std::size_t i = 0;
    unsigned char high = 0;
#if defined(__SSE2__)
    const __m128i beforeA = _mm_set1_epi8('A' - 1);
    const __m128i afterZ = _mm_set1_epi8('Z' + 1);
    const __m128i toLower = _mm_set1_epi8('a' - 'A');
    const __m128i zero = _mm_setzero_si128();
    const __m128i cellNul = _mm_set1_epi8(kCellNul);
    __m128i seen = zero;
    for (; i + 16 <= size; i += 16) {
        auto* at = reinterpret_cast<__m128i*>(text + i);
        __m128i v = _mm_loadu_si128(at);
        seen = _mm_or_si128(seen, v);
        // Signed compares: bytes beyond ASCII are negative, never a letter.
        const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(v, beforeA), _mm_cmplt_epi8(v, afterZ));
        v = _mm_add_epi8(v, _mm_and_si128(upper, toLower));
        v = _mm_or_si128(v, _mm_and_si128(_mm_cmpeq_epi8(v, zero), cellNul));
        _mm_storeu_si128(at, v);
    }
    if (_mm_movemask_epi8(seen) != 0) high = 0x80;
#endif
    for (; i < size; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        high |= c;
        text[i] = kFold.to[c];
    }
    return high < 0x80;
}

// Beyond ASCII, Unicode's own folding (É as é, ß as ss).
void appendUnicodeFolded(std::string& out, std::string_view cell) {
    const QByteArray folded =
        QString::fromUtf8(cell.data(), static_cast<qsizetype>(cell.size())).toCaseFolded().toUtf8();
    for (char c : folded) out.push_back(c == kSeparator ? kCellNul : c);
}

// First place of `needle` in `text` at or after `from`, or npos. Cells are
// full of the same few bytes (digits, blanks), so looking for the needle's
// first byte alone stops nearly everywhere; looking for its first and last
// byte at once, sixteen places at a time, stops only where both fit.
std::size_t findIn(std::string_view text, std::string_view needle, std::size_t from) {
    const std::size_t n = needle.size();
#if defined(__SSE2__)
    if (n >= 2 && text.size() >= n && from <= text.size() - n) {
        const std::size_t end = text.size() - n + 1;  // places a hit may start
        const __m128i first = _mm_set1_epi8(needle[0]);
        const __m128i last = _mm_set1_epi8(needle[n - 1]);
        const char* s = text.data();
        std::size_t i = from;
        for (; i + 16 <= end; i += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + n - 1));
            auto mask = static_cast<unsigned>(_mm_movemask_epi8(
                _mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
            while (mask != 0) {
                const auto at = i + static_cast<std::size_t>(std::countr_zero(mask));
                if (std::memcmp(s + at + 1, needle.data() + 1, n - 2) == 0) return at;
                mask &= mask - 1;
            }
        }
        return text.find(needle, i);
    }
#endif
    return text.find(needle, from);
}

bool lampShown(LampChoice choice, int icon) {
    switch (choice) {
        case LampChoice::All:
            return true;
        case LampChoice::YellowAndRed:
            return icon == 2 || icon == 3;
        case LampChoice::RedOnly:
            return icon == 3;
        case LampChoice::ChangedOnly:
            return true;  // the marks decide
    }
    return true;
}

}  // namespace

RowFilterModel::RowFilterModel(ResultsModel& source, QObject* parent)
    : QAbstractProxyModel(parent), source_(source) {
    QAbstractProxyModel::setSourceModel(&source_);
    connect(&source_, &QAbstractItemModel::modelAboutToBeReset, this,
            &RowFilterModel::sourceAboutToReset);
    connect(&source_, &QAbstractItemModel::modelReset, this, &RowFilterModel::sourceReset);
    connect(&source_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (!parent.isValid()) sourceRowsInserted(first, last);
            });
    connect(&source_, &QAbstractItemModel::dataChanged, this, &RowFilterModel::sourceDataChanged);
    connect(&source_, &QAbstractItemModel::layoutAboutToBeChanged, this,
            &RowFilterModel::sourceLayoutAboutToChange);
    connect(&source_, &QAbstractItemModel::layoutChanged, this,
            &RowFilterModel::sourceLayoutChanged);
    connect(&source_, &QAbstractItemModel::headerDataChanged, this,
            &QAbstractItemModel::headerDataChanged);
    // The results model never removes or moves single rows or columns; if it
    // ever does, start over rather than follow it half-way.
    for (auto about :
         {&QAbstractItemModel::rowsAboutToBeRemoved, &QAbstractItemModel::columnsAboutToBeInserted,
          &QAbstractItemModel::columnsAboutToBeRemoved})
        connect(&source_, about, this, &RowFilterModel::sourceAboutToReset);
    for (auto done : {&QAbstractItemModel::rowsRemoved, &QAbstractItemModel::columnsInserted,
                      &QAbstractItemModel::columnsRemoved})
        connect(&source_, done, this, &RowFilterModel::sourceReset);
    prepareTimer_ = new QTimer(this);
    prepareTimer_->setInterval(0);
    connect(prepareTimer_, &QTimer::timeout, this, &RowFilterModel::prepareSlice);
    sourceReset();
}

void RowFilterModel::setPrepared(bool wanted) {
    prepareWanted_ = wanted;
    prepareNext_ = 0;
    if (wanted)
        prepareTimer_->start();
    else
        prepareTimer_->stop();
}

bool RowFilterModel::isPreparing() const {
    return prepareTimer_->isActive();
}

void RowFilterModel::prepareSlice() {
    // A few milliseconds each time, so the window stays responsive.
    constexpr qint64 kSliceMs = 8;
    ensureRowSlots();
    const int rows = source_.rowCount();
    QElapsedTimer clock;
    clock.start();
    while (prepareNext_ < rows && clock.elapsed() < kSliceMs) {
        for (int end = std::min(rows, prepareNext_ + 256); prepareNext_ < end; ++prepareNext_) {
            if (source_.itemAt(prepareNext_)) foldedRow(source_.gridRow(prepareNext_));
        }
    }
    if (prepareNext_ >= rows) prepareTimer_->stop();
}

int RowFilterModel::totalRows() const {
    return source_.rowCount();
}

std::size_t RowFilterModel::gridRow(int row) const {
    return source_.gridRow(shown_.at(static_cast<std::size_t>(row)));
}

// ---------------------------------------------------------------------------
// Structure

QModelIndex RowFilterModel::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || row < 0 || column < 0 || row >= rowCount() || column >= columnCount())
        return {};
    return createIndex(row, column);
}

QModelIndex RowFilterModel::parent(const QModelIndex&) const {
    return {};
}

bool RowFilterModel::hasChildren(const QModelIndex& parent) const {
    return !parent.isValid() && !shown_.empty();
}

int RowFilterModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int RowFilterModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : source_.columnCount();
}

QModelIndex RowFilterModel::mapToSource(const QModelIndex& proxyIndex) const {
    if (!proxyIndex.isValid() || proxyIndex.model() != this) return {};
    const auto row = static_cast<std::size_t>(proxyIndex.row());
    if (row >= shown_.size()) return {};
    return source_.index(shown_[row], proxyIndex.column());
}

QModelIndex RowFilterModel::mapFromSource(const QModelIndex& sourceIndex) const {
    if (!sourceIndex.isValid() || sourceIndex.model() != &source_) return {};
    const auto row = static_cast<std::size_t>(sourceIndex.row());
    if (row >= sourceToShown_.size() || sourceToShown_[row] < 0) return {};
    return index(sourceToShown_[row], sourceIndex.column());
}

QVariant RowFilterModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal) return source_.headerData(section, orientation, role);
    return QAbstractProxyModel::headerData(section, orientation, role);
}

// ---------------------------------------------------------------------------
// What the user asks for

void RowFilterModel::setFilterText(const QString& text) {
    if (text == text_) return;
    QByteArray folded = text.toCaseFolded().toUtf8();
    folded.replace(kSeparator, QByteArray());
    std::string needle(folded.constData(), static_cast<std::size_t>(folded.size()));
    // A longer text can only narrow what a shorter one found, and the other
    // way round; anything else searches every row again.
    Scope scope = Scope::All;
    if (needle.find(needle_) != std::string::npos)
        scope = Scope::Matching;
    else if (needle_.find(needle) != std::string::npos)
        scope = Scope::NotMatching;
    text_ = text;
    needle_ = std::move(needle);
    refilter(scope);
}

void RowFilterModel::setLampChoice(LampChoice choice) {
    if (choice == lamps_) return;
    lamps_ = choice;
    refilter(Scope::None);  // the text answers stay; only the lamps are read afresh
}

void RowFilterModel::setMarksShown(bool shown) {
    if (shown == marksShown_) return;
    marksShown_ = shown;
    refilter(Scope::None);  // only gone rows come or go
}

void RowFilterModel::setColumnHidden(int column, bool hidden) {
    if (column < 0) return;
    std::vector<std::uint8_t> wanted = hiddenColumns_;
    const auto c = static_cast<std::size_t>(column);
    if (wanted.size() <= c) wanted.resize(c + 1, 0);
    wanted[c] = hidden ? 1 : 0;
    setHiddenColumns(std::move(wanted));
}

void RowFilterModel::setHiddenColumns(std::vector<std::uint8_t> hidden) {
    while (!hidden.empty() && hidden.back() == 0) hidden.pop_back();
    if (hidden == hiddenColumns_) return;
    // Hiding only can lose matches, showing only can add them.
    bool hides = false, shows = false;
    std::vector<std::uint8_t> newlyHidden(hidden.size(), 0);
    for (std::size_t c = 0; c < std::max(hidden.size(), hiddenColumns_.size()); ++c) {
        const bool was = c < hiddenColumns_.size() && hiddenColumns_[c];
        const bool now = c < hidden.size() && hidden[c];
        hides |= now && !was;
        shows |= was && !now;
        if (now && !was) newlyHidden[c] = 1;
    }
    hiddenColumns_ = std::move(hidden);
    if (needle_.empty()) return;  // nothing searched, nothing changes
    if (hides && !shows)
        refilter(Scope::Matching, &newlyHidden);
    else
        refilter(hides ? Scope::All : Scope::NotMatching);
}

bool RowFilterModel::isColumnHidden(int column) const {
    return column >= 0 && static_cast<std::size_t>(column) < hiddenColumns_.size() &&
           hiddenColumns_[static_cast<std::size_t>(column)] != 0;
}

// ---------------------------------------------------------------------------
// Matching

void RowFilterModel::ensureRowSlots() {
    const auto rows = static_cast<std::size_t>(std::max(source_.grid().itemsCount(), 0));
    if (textMatch_.size() < rows) {
        textMatch_.resize(rows, kMatchUnplaced);
        folded_.resize(rows);
    }
}

void RowFilterModel::forgetFolded(std::size_t gridRow) {
    Span& span = folded_[gridRow];
    if (span.size == kNone) return;
    arenaStale_ += span.size;
    span = Span{};
}

std::string_view RowFilterModel::foldedRow(std::size_t gridRow) {
    Span& span = folded_[gridRow];
    if (span.size != kNone) return std::string_view(arena_).substr(span.at, span.size);
    // Rows folded again leave their old text behind; once that is most of
    // the buffer, start it afresh (the rows fold again as they are searched).
    if (arenaStale_ > (std::size_t{1} << 20) && arenaStale_ > arena_.size() / 2) {
        arena_.clear();
        arenaStale_ = 0;
        for (Span& s : folded_) s = Span{};
    }
    const tavo::grid::ListItem& item = source_.grid().item(static_cast<int>(gridRow) + 1);
    const int columns = source_.columnCount();
    const std::size_t at = arena_.size();
    std::size_t row = 0;
    for (int c = 0; c < columns; ++c) row += item.cell(c).size() + 1;
    if (at == 0) {
        // Room for every row, guessed from the first, so a big report is
        // not copied over and over as the buffer grows.
        arena_.reserve(row * folded_.size() + row * folded_.size() / 8 + 4096);
        tavo::grid::adviseHugePages(arena_.data(), arena_.capacity());
    }
    // One resize for the row, the cells copied into place, the row folded
    // in one sweep, then the separators between the cells.
    const std::size_t size = row > 0 ? row - 1 : 0;
    arena_.resize(at + size);
    char* const begin = arena_.data() + at;
    char* dst = begin;
    for (int c = 0; c < columns; ++c) {
        const std::string_view cell = item.cell(c);
        if (!cell.empty()) std::memcpy(dst, cell.data(), cell.size());
        dst += cell.size();
        if (c + 1 < columns) ++dst;
    }
    const bool ascii = foldAsciiInPlace(begin, size);
    if (ascii) {
        dst = begin;
        for (int c = 0; c + 1 < columns; ++c) {
            dst += item.cell(c).size();
            *dst++ = kSeparator;
        }
    } else {
        // Rare: write the row again, cell by cell, folding those beyond ASCII
        // with Unicode's rules (their folded length may differ).
        arena_.resize(at);
        for (int c = 0; c < columns; ++c) {
            if (c > 0) arena_.push_back(kSeparator);
            const std::string_view cell = item.cell(c);
            const std::size_t start = arena_.size();
            arena_.resize(start + cell.size());
            if (!foldAscii(arena_.data() + start, cell)) {
                arena_.resize(start);
                appendUnicodeFolded(arena_, cell);
            }
        }
    }
    span = Span{at, arena_.size() - at};
    return std::string_view(arena_).substr(span.at, span.size);
}

std::int32_t RowFilterModel::textMatches(std::size_t gridRow) {
    if (needle_.empty()) return kMatchUnplaced;
    const std::string_view row = foldedRow(gridRow);
    std::size_t from = 0;
    std::size_t column = 0;
    std::size_t counted = 0;  // separators counted up to here
    while (true) {
        const std::size_t hit = findIn(row, needle_, from);
        if (hit == std::string_view::npos) return kNoMatch;
        // With every cell counting, where the hit lies is not worth a count.
        if (hiddenColumns_.empty()) return kMatchUnplaced;
        column += static_cast<std::size_t>(
            std::count(row.begin() + static_cast<std::ptrdiff_t>(counted),
                       row.begin() + static_cast<std::ptrdiff_t>(hit), kSeparator));
        counted = hit;
        if (!isColumnHidden(static_cast<int>(column))) return static_cast<std::int32_t>(column);
        // In a hidden column: go on from the next cell.
        const std::size_t next = row.find(kSeparator, hit);
        if (next == std::string_view::npos) return kNoMatch;
        from = next + 1;
        counted = from;
        ++column;
    }
}

bool RowFilterModel::accepts(int sourceRow) {
    const tavo::grid::ListItem* item = source_.itemAt(sourceRow);
    if (!item) return false;
    const std::size_t g = source_.gridRow(sourceRow);
    const std::uint8_t marks = source_.grid().rowMarks(g);
    if ((marks & tavo::grid::kRowGone) && !marksShown_) return false;
    if (lamps_ == LampChoice::ChangedOnly &&
        (marks & (tavo::grid::kRowNew | tavo::grid::kRowChanged | tavo::grid::kRowGone)) == 0)
        return false;
    return textMatch_[g] != kNoMatch && lampShown(lamps_, item->SmallIcon());
}

void RowFilterModel::refilter(Scope scope, const std::vector<std::uint8_t>* newlyHidden) {
    ensureRowSlots();
    const int rows = source_.rowCount();
    for (int r = 0; scope != Scope::None && r < rows; ++r) {
        if (!source_.itemAt(r)) continue;
        const std::size_t g = source_.gridRow(r);
        const std::int32_t at = textMatch_[g];
        bool check =
            scope == Scope::All || (scope == Scope::Matching ? at != kNoMatch : at == kNoMatch);
        // Columns just hidden only matter to rows whose hit lies in one of
        // them (or whose hit was never placed).
        if (check && newlyHidden && at >= 0)
            check = static_cast<std::size_t>(at) < newlyHidden->size() &&
                    (*newlyHidden)[static_cast<std::size_t>(at)] != 0;
        if (check) textMatch_[g] = textMatches(g);
    }

    // Nothing in or out of view: the view need not lay out a single row.
    std::vector<int> next = acceptedRows();
    if (next == shown_) return;
    // The rows move in or out of view in one layout change, so selection
    // and current row stay on the rows that remain.
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList from = persistentIndexList();
    std::vector<int> sourceRows;
    sourceRows.reserve(static_cast<std::size_t>(from.size()));
    for (const QModelIndex& idx : from)
        sourceRows.push_back(shown_[static_cast<std::size_t>(idx.row())]);
    shown_ = std::move(next);
    rebuildSourceToShown();
    QModelIndexList to;
    to.reserve(from.size());
    for (qsizetype i = 0; i < from.size(); ++i) {
        const int s = sourceRows[static_cast<std::size_t>(i)];
        const int p = sourceToShown_[static_cast<std::size_t>(s)];
        to.append(p < 0 ? QModelIndex() : createIndex(p, from[i].column()));
    }
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    emitCounts();
}

std::vector<int> RowFilterModel::acceptedRows() {
    const int rows = source_.rowCount();
    std::vector<int> accepted;
    accepted.reserve(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        if (accepts(r)) accepted.push_back(r);
    }
    return accepted;
}

void RowFilterModel::rebuildShown() {
    shown_ = acceptedRows();
    rebuildSourceToShown();
}

void RowFilterModel::rebuildSourceToShown() {
    sourceToShown_.assign(static_cast<std::size_t>(source_.rowCount()), -1);
    for (std::size_t p = 0; p < shown_.size(); ++p)
        sourceToShown_[static_cast<std::size_t>(shown_[p])] = static_cast<int>(p);
}

void RowFilterModel::emitCounts() {
    emit countsChanged(shownRows(), totalRows());
}

// ---------------------------------------------------------------------------
// Following the results model

void RowFilterModel::sourceAboutToReset() {
    if (resetting_) return;
    resetting_ = true;
    beginResetModel();
}

void RowFilterModel::sourceReset() {
    const bool began = resetting_;
    if (!began) beginResetModel();
    // New rows (or new columns): every folded text and answer is stale.
    // The rows of the next pass are folded into the same memory: fresh
    // memory costs more in page faults than the folding itself. Where the
    // new rows are far fewer, most of it goes.
    const std::size_t oldRows = folded_.size();
    const std::size_t used = arena_.size() - arenaStale_;
    textMatch_.clear();
    folded_.clear();
    arena_.clear();
    arenaStale_ = 0;
    const auto newRows = static_cast<std::size_t>(std::max(source_.grid().itemsCount(), 0));
    const std::size_t need = oldRows > 0 ? used / oldRows * newRows : 0;
    if (arena_.capacity() > 4 * need + (std::size_t{1} << 20)) arena_.shrink_to_fit();
    ensureRowSlots();
    const int rows = source_.rowCount();
    for (int r = 0; r < rows; ++r) {
        if (!source_.itemAt(r)) continue;
        const std::size_t g = source_.gridRow(r);
        textMatch_[g] = textMatches(g);
    }
    rebuildShown();
    resetting_ = false;
    // Rows folded for the last pass are gone; fold the new ones instead.
    if (prepareTimer_ && prepareWanted_) setPrepared(true);
    endResetModel();
    emitCounts();
}

void RowFilterModel::sourceRowsInserted(int first, int last) {
    if (resetting_) return;
    ensureRowSlots();
    const int count = last - first + 1;
    for (int& s : shown_) {
        if (s >= first) s += count;
    }
    std::vector<int> added;
    for (int r = first; r <= last; ++r) {
        if (!source_.itemAt(r)) continue;
        const std::size_t g = source_.gridRow(r);
        forgetFolded(g);
        textMatch_[g] = textMatches(g);
        if (accepts(r)) added.push_back(r);
    }
    if (!added.empty()) {
        const auto at = std::lower_bound(shown_.begin(), shown_.end(), first);
        const int p = static_cast<int>(at - shown_.begin());
        beginInsertRows({}, p, p + static_cast<int>(added.size()) - 1);
        shown_.insert(at, added.begin(), added.end());
        rebuildSourceToShown();
        endInsertRows();
    } else {
        rebuildSourceToShown();
    }
    emitCounts();
}

void RowFilterModel::sourceDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                       const QList<int>& roles) {
    if (resetting_ || !topLeft.isValid() || !bottomRight.isValid()) return;
    if (!roles.isEmpty() && !roles.contains(Qt::DisplayRole)) {
        // Only how rows look (the marks shown or not): nothing to search
        // again, and which rows are in view is setMarksShown's business.
        if (!shown_.empty())
            emit dataChanged(index(0, topLeft.column()),
                             index(rowCount() - 1, bottomRight.column()), roles);
        return;
    }
    ensureRowSlots();
    bool countsMoved = false;
    for (int r = topLeft.row(); r <= bottomRight.row(); ++r) {
        if (!source_.itemAt(r)) continue;
        const std::size_t g = source_.gridRow(r);
        forgetFolded(g);
        textMatch_[g] = textMatches(g);
        const bool want = accepts(r);
        const int p = static_cast<std::size_t>(r) < sourceToShown_.size()
                          ? sourceToShown_[static_cast<std::size_t>(r)]
                          : -1;
        if (want && p >= 0) {
            emit dataChanged(index(p, topLeft.column()), index(p, bottomRight.column()));
        } else if (want) {
            const auto at = std::lower_bound(shown_.begin(), shown_.end(), r);
            const int q = static_cast<int>(at - shown_.begin());
            beginInsertRows({}, q, q);
            shown_.insert(at, r);
            rebuildSourceToShown();
            endInsertRows();
            countsMoved = true;
        } else if (p >= 0) {
            beginRemoveRows({}, p, p);
            shown_.erase(shown_.begin() + p);
            rebuildSourceToShown();
            endRemoveRows();
            countsMoved = true;
        }
    }
    if (countsMoved) emitCounts();
}

void RowFilterModel::sourceLayoutAboutToChange() {
    if (resetting_) return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    layoutProxy_ = persistentIndexList();
    layoutSource_.clear();
    layoutSource_.reserve(layoutProxy_.size());
    for (const QModelIndex& idx : layoutProxy_) layoutSource_.append(mapToSource(idx));
}

void RowFilterModel::sourceLayoutChanged() {
    if (resetting_) return;
    // The answers belong to grid rows, which a sort does not change.
    if (static_cast<std::size_t>(source_.rowCount()) != sourceToShown_.size()) ensureRowSlots();
    rebuildShown();
    QModelIndexList to;
    to.reserve(layoutProxy_.size());
    for (const QPersistentModelIndex& s : layoutSource_) to.append(mapFromSource(s));
    changePersistentIndexList(layoutProxy_, to);
    layoutProxy_.clear();
    layoutSource_.clear();
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    emitCounts();
}
