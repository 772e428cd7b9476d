#include "grid/copy_text.h"

#include <string_view>

#include "grid/changes.h"

namespace tavo::grid {

namespace {

void putField(std::string& out, std::string_view field) {
    if (field.find_first_of("\t\r\n\"") == std::string_view::npos) {
        out.append(field);
        return;
    }
    out.push_back('"');
    for (char c : field) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

}  // namespace

std::string tabText(const Grid& grid, const ShownView& view) {
    std::vector<int> columns;
    columns.reserve(view.columns.size());
    for (int c : view.columns) {
        if (c >= 0 && c < grid.columnsCount()) columns.push_back(c);
    }
    std::string out;
    const auto putLine = [&](auto&& fieldOf, std::string_view change) {
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (i > 0) out.push_back('\t');
            putField(out, fieldOf(columns[i]));
        }
        if (view.changes) {
            if (!columns.empty()) out.push_back('\t');
            putField(out, change);
        }
        out.push_back('\n');
    };
    putLine([&](int c) -> std::string_view { return grid.column(c + 1).Text; }, kChangeCaption);
    const auto rows = static_cast<std::size_t>(grid.itemsCount());
    for (std::size_t row : view.rows) {
        if (row >= rows) continue;
        const ListItem& item = grid.item(static_cast<int>(row) + 1);
        putLine([&](int c) -> std::string_view { return item.cell(c); },
                changeText(grid.rowMarks(row)));
    }
    return out;
}

std::vector<std::vector<std::string>> parseTabText(const std::string& text) {
    std::vector<std::vector<std::string>> lines;
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    bool lineOpen = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        lineOpen = true;
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field.push_back('"');
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field.push_back(c);
            }
        } else if (c == '"' && field.empty()) {
            quoted = true;
        } else if (c == '\t') {
            fields.push_back(std::move(field));
            field.clear();
        } else if (c == '\n') {
            fields.push_back(std::move(field));
            field.clear();
            lines.push_back(std::move(fields));
            fields.clear();
            lineOpen = false;
        } else {
            field.push_back(c);
        }
    }
    if (lineOpen) {
        fields.push_back(std::move(field));
        lines.push_back(std::move(fields));
    }
    return lines;
}

}  // namespace tavo::grid
