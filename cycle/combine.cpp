#include "cycle/combine.h"

#include <algorithm>
#include <unordered_map>

namespace tavo::cycle {

namespace {

// The key of a combined row: the computer, a unit separator, the row's own key.
std::string combinedKey(std::string_view computer, std::string_view key) {
    std::string out;
    out.reserve(computer.size() + 1 + key.size());
    out += computer;
    out += '\x1f';
    out += key;
    return out;
}

}  // namespace

std::vector<std::string> combine(const std::vector<const TargetOutcome*>& targets,
                                 const CombineOptions& options, grid::Grid& out) {
    // Columns by caption in the order first seen; a caption repeated within
    // one report keeps its own column.
    std::unordered_map<std::string, std::vector<int>> byCaption;
    if (options.computerColumn) out.columnsAdd("Computer");
    bool anyFailed = false;
    for (const TargetOutcome* t : targets) {
        if (t->failure) {
            anyFailed = true;
            continue;
        }
        if (!t->grid) continue;
        std::unordered_map<std::string, int> used;
        for (int c = 1; c <= t->grid->columnsCount(); ++c) {
            const grid::ColumnHeader& h = t->grid->column(c);
            auto& slots = byCaption[h.Text];
            const int k = used[h.Text]++;
            if (k < static_cast<int>(slots.size())) continue;
            out.columnsAdd(h.Text, h.Width);
            slots.push_back(out.columnsCount() - 1);
        }
    }
    int errorColumn = -1;
    if (options.includeFailed && (anyFailed || options.errorColumnAlways)) {
        out.columnsAdd("Error", 4000);
        errorColumn = out.columnsCount() - 1;
    }

    std::vector<std::string> computers;
    for (const TargetOutcome* t : targets) {
        if (t->failure && !options.includeFailed) continue;
        // Where each of this report's columns lands in the combined grid.
        std::vector<int> target;
        if (!t->failure && t->grid) {
            std::unordered_map<std::string, int> used;
            for (int c = 1; c <= t->grid->columnsCount(); ++c) {
                const std::string& caption = t->grid->column(c).Text;
                target.push_back(byCaption[caption][static_cast<std::size_t>(used[caption]++)]);
            }
        }
        appendOutcome(*t, target, options.computerColumn, errorColumn, out, computers);
    }
    return computers;
}

std::vector<std::string> combine(const std::vector<TargetOutcome>& targets, bool computerColumn,
                                 bool includeFailed, grid::Grid& out) {
    std::vector<const TargetOutcome*> all;
    all.reserve(targets.size());
    for (const auto& t : targets) all.push_back(&t);
    return combine(all, CombineOptions{computerColumn, includeFailed, false}, out);
}

void appendOutcome(const TargetOutcome& t, const std::vector<int>& target, bool computerColumn,
                   int errorColumn, grid::Grid& out, std::vector<std::string>& computers) {
    const auto put = [&](grid::ListItem& item, int column, std::string_view text) {
        if (column == 0)
            item.setText(text);
        else
            item.setSubItems(column, text);
    };
    if (t.failure) {
        grid::ListItem& item = out.itemsAdd("", "", 3);
        if (computerColumn) put(item, 0, t.computer);
        const std::string text = t.failure->description() + " (" + t.failure->numberText() + ")";
        if (errorColumn >= 0) put(item, errorColumn, text);
        item.setToolTipText(text);
        computers.push_back(t.computer);
        return;
    }
    if (!t.grid) return;
    const int columns = std::min(t.grid->columnsCount(), static_cast<int>(target.size()));
    std::string key;
    for (const std::size_t row : t.grid->shownOrder()) {
        const grid::ListItem& from = t.grid->item(static_cast<int>(row) + 1);
        key.clear();
        if (!from.Key().empty()) {
            key = computerColumn ? combinedKey(t.computer, from.Key()) : std::string(from.Key());
            if (out.hasKey(key)) key.clear();
        }
        grid::ListItem& item = out.itemsAdd(key, "", from.SmallIcon());
        if (computerColumn) put(item, 0, t.computer);
        for (int c = 0; c < columns; ++c)
            if (const int to = target[static_cast<std::size_t>(c)]; to >= 0)
                put(item, to, from.cell(c));
        if (!from.ToolTipText().empty()) item.setToolTipText(from.ToolTipText());
        computers.push_back(t.computer);
    }
}

}  // namespace tavo::cycle
