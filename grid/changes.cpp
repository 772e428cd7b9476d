#include "grid/changes.h"

#include <cstdint>
#include <cstring>
#include <unordered_map>

namespace tavo::grid {

namespace {

constexpr std::uint32_t kNone = UINT32_MAX;

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

int findCaption(const Grid& grid, std::string_view caption) {
    for (int c = 0; c < grid.columnsCount(); ++c) {
        if (sameIgnoringCase(grid.column(c + 1).Text, caption)) return c;
    }
    return -1;
}

void appendCell(std::string& out, std::string_view cell) {
    const auto size = static_cast<std::uint32_t>(cell.size());
    char bytes[sizeof size];
    std::memcpy(bytes, &size, sizeof size);
    out.append(bytes, sizeof size);
    out.append(cell);
}

// A row's key: each key cell's length, then its bytes, so no two
// different lists of cells give the same key, whatever bytes they hold.
// `columns` are this grid's declared key columns; without any (the
// fallback) the row's own key, else every cell under a column both grids
// share (`previousSide`: `item` is a row of the previous grid).
void appendKey(std::string& out, const ListItem& item, const ColumnMatch& m,
               const std::vector<int>& columns, bool previousSide) {
    if (m.computer) appendCell(out, item.cell(0));
    if (!m.fallback()) {
        for (int c : columns) appendCell(out, item.cell(c));
        return;
    }
    // The grid's own key where the row has one; a tag keeps it from ever
    // equalling a row known by its cells.
    if (!item.Key().empty()) {
        out += 'K';
        appendCell(out, item.Key());
        return;
    }
    out += 'R';
    for (std::size_t n = 0; n < m.previousOf.size(); ++n) {
        const int p = m.previousOf[n];
        if (p >= 0) appendCell(out, item.cell(previousSide ? p : static_cast<int>(n)));
    }
}

}  // namespace

ColumnMatch matchColumns(const Grid& previous, const Grid& next,
                         std::span<const std::string> keyCaptions) {
    ColumnMatch m;
    // Captions of `previous` to their columns, in order, each taken once.
    std::unordered_map<std::string_view, std::vector<int>> byCaption;
    for (int c = previous.columnsCount() - 1; c >= 0; --c)
        byCaption[previous.column(c + 1).Text].push_back(c);
    m.previousOf.assign(static_cast<std::size_t>(next.columnsCount()), -1);
    for (int c = 0; c < next.columnsCount(); ++c) {
        auto it = byCaption.find(next.column(c + 1).Text);
        if (it == byCaption.end() || it->second.empty()) continue;
        m.previousOf[static_cast<std::size_t>(c)] = it->second.back();
        it->second.pop_back();
    }

    m.computer = previous.columnsCount() > 0 && next.columnsCount() > 0 &&
                 previous.column(1).Text == kComputerCaption &&
                 next.column(1).Text == kComputerCaption;
    for (const std::string& caption : keyCaptions) {
        const int p = findCaption(previous, caption);
        const int n = findCaption(next, caption);
        if (p < 0 || n < 0 || (m.computer && n == 0)) continue;
        bool twice = false;
        for (int k : m.keyNext) twice = twice || k == n;
        if (twice) continue;
        m.keyPrevious.push_back(p);
        m.keyNext.push_back(n);
    }
    return m;
}

PassChanges comparePasses(const Grid& previous, const Grid& next,
                          std::span<const std::string> keyCaptions) {
    const ColumnMatch m = matchColumns(previous, next, keyCaptions);
    const auto before = static_cast<std::size_t>(previous.itemsCount());
    const auto after = static_cast<std::size_t>(next.itemsCount());
    PassChanges out;
    out.marks.assign(after, kRowNew);
    std::vector<bool> matched(before, false);

    {
        // Every key of the previous pass in one buffer, looked up by view;
        // rows with the same key chained in their order of appearance.
        std::vector<std::size_t> keyEnd(before, 0);
        std::string keys;
        for (std::size_t r = 0; r < before; ++r) {
            if ((previous.rowMarks(r) & kRowGone) == 0)
                appendKey(keys, previous.item(static_cast<int>(r) + 1), m, m.keyPrevious, true);
            keyEnd[r] = keys.size();
        }
        std::unordered_map<std::string_view, std::uint32_t> head;
        head.reserve(before);
        std::vector<std::uint32_t> sameKeyNext(before, kNone);
        for (std::size_t r = before; r-- > 0;) {
            if (previous.rowMarks(r) & kRowGone) continue;
            const std::size_t start = r == 0 ? 0 : keyEnd[r - 1];
            const std::string_view key(keys.data() + start, keyEnd[r] - start);
            auto [it, fresh] = head.try_emplace(key, static_cast<std::uint32_t>(r));
            if (!fresh) {
                sameKeyNext[r] = it->second;
                it->second = static_cast<std::uint32_t>(r);
            }
        }

        const auto columns = static_cast<std::size_t>(next.columnsCount());
        std::string key;
        for (std::size_t r = 0; r < after; ++r) {
            const ListItem& item = next.item(static_cast<int>(r) + 1);
            key.clear();
            appendKey(key, item, m, m.keyNext, false);
            auto it = head.find(key);
            if (it == head.end() || it->second == kNone) continue;
            const std::uint32_t p = it->second;
            it->second = sameKeyNext[p];
            matched[p] = true;
            const ListItem& was = previous.item(static_cast<int>(p) + 1);
            std::uint8_t mark = 0;
            for (std::size_t c = 0; c < columns; ++c) {
                const int from = m.previousOf[c];
                const std::string_view old = from >= 0 ? was.cell(from) : std::string_view();
                const bool lamp = c == 0 && was.SmallIcon() != item.SmallIcon();
                if (lamp || old != item.cell(static_cast<int>(c))) {
                    out.changedCells.emplace_back(r, static_cast<int>(c));
                    mark = kRowChanged;
                }
            }
            out.marks[r] = mark;
        }
    }
    for (std::size_t r = 0; r < before; ++r) {
        if (!matched[r] && (previous.rowMarks(r) & kRowGone) == 0) out.gone.push_back(r);
    }
    return out;
}

void markChanges(const Grid& previous, Grid& next, std::span<const std::string> keyCaptions,
                 bool keepGone) {
    applyChanges(previous, next, comparePasses(previous, next, keyCaptions), keyCaptions, keepGone);
}

void applyChanges(const Grid& previous, Grid& next, const PassChanges& changes,
                  std::span<const std::string> keyCaptions, bool keepGone) {
    // One notice to a view at the end; the gone rows sorted in once.
    next.beginUpdate();
    // Marks of another kind (a row kept old) stay beside the change marks.
    constexpr auto kChangeMarks = static_cast<std::uint8_t>(kRowNew | kRowChanged | kRowGone);
    for (std::size_t r = 0; r < changes.marks.size(); ++r) {
        const auto others = static_cast<std::uint8_t>(next.rowMarks(r) & ~kChangeMarks);
        next.setRowMarks(r, static_cast<std::uint8_t>(others | changes.marks[r]));
    }
    for (const auto& [row, column] : changes.changedCells) next.setCellChanged(row, column);

    if (keepGone && !changes.gone.empty()) {
        // A gone row keeps what it showed: a column only it has a text in
        // comes along (a property the new pass no longer reports).
        ColumnMatch m = matchColumns(previous, next, keyCaptions);
        std::vector<bool> held(static_cast<std::size_t>(previous.columnsCount()), false);
        for (int p : m.previousOf)
            if (p >= 0) held[static_cast<std::size_t>(p)] = true;
        for (int p = 0; p < previous.columnsCount(); ++p) {
            if (held[static_cast<std::size_t>(p)]) continue;
            bool used = false;
            for (std::size_t r : changes.gone)
                used = used || !previous.item(static_cast<int>(r) + 1).cell(p).empty();
            if (!used) continue;
            const ColumnHeader& header = previous.column(p + 1);
            next.columnsAdd(header.Text, header.Width);
            m.previousOf.push_back(p);
        }
        const int columns = next.columnsCount();
        for (std::size_t r : changes.gone) {
            const ListItem& was = previous.item(static_cast<int>(r) + 1);
            const int first = columns > 0 ? m.previousOf[0] : 0;
            // No key: the grid's keys are unique and a new row may hold it.
            ListItem& row = next.itemsAdd({}, first >= 0 ? was.cell(first) : std::string_view(),
                                          was.SmallIcon());
            for (int c = 1; c < columns; ++c) {
                const int from = m.previousOf[static_cast<std::size_t>(c)];
                if (from >= 0 && !was.cell(from).empty()) row.setSubItems(c, was.cell(from));
            }
            if (!was.ToolTipText().empty()) row.setToolTipText(was.ToolTipText());
            next.setRowMarks(static_cast<std::size_t>(next.itemsCount() - 1), kRowGone);
        }
    }
    next.setChangesMarked(true);
    next.endUpdate();
}

std::string_view changeText(std::uint8_t marks) {
    if (marks & kRowGone) return "gone";
    if (marks & kRowNew) return "new";
    if (marks & kRowChanged) return "changed";
    return {};
}

}  // namespace tavo::grid
