#include "cli/report_output.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <unordered_map>

namespace tavo::cli {

namespace {

// Code points a cell takes on a terminal; every character counts one, which
// holds for the text reports carry (wide East Asian characters count two
// columns but are rare in these reports).
std::size_t displayWidth(std::string_view s) {
    std::size_t n = 0;
    for (const char c : s)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

// The cell as one line: a line break or tab would break the table's rows.
std::string oneLine(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    return out;
}

std::string cut(const std::string& s, std::size_t width) {
    if (width == 0 || displayWidth(s) <= width) return s;
    std::size_t seen = 0;
    std::size_t i = 0;
    for (; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (seen == width - 1) break;
            ++seen;
        }
    }
    return s.substr(0, i) + "\xE2\x80\xA6";
}

}  // namespace

std::string visibleText(std::string_view s) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        // C0 controls and DEL, and the C1 controls (U+0080..U+009F, which
        // some terminals obey as ESC sequences) in their UTF-8 form.
        const bool c1 = b == 0xC2 && i + 1 < s.size() &&
                        static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(s[i + 1]) <= 0x9F;
        if (b >= 0x20 && b != 0x7F && !c1) {
            out += static_cast<char>(b);
            continue;
        }
        const unsigned code = c1 ? static_cast<unsigned char>(s[++i]) : b;
        out += "\\x";
        out += kHex[code >> 4];
        out += kHex[code & 0xF];
    }
    return out;
}

const char* lampWord(int icon) {
    switch (icon) {
        case 1:
            return "green";
        case 2:
            return "yellow";
        case 3:
            return "red";
        default:
            return "";
    }
}

std::string jsonText(const grid::Grid& g, const std::vector<std::string>& rowComputers) {
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    std::size_t index = 0;
    for (const std::size_t shown : g.shownOrder()) {
        const grid::ListItem& item = g.item(static_cast<int>(shown) + 1);
        nlohmann::ordered_json row = nlohmann::ordered_json::object();
        row["computer"] = index < rowComputers.size() ? rowComputers[index] : std::string();
        const char* lamp = lampWord(item.SmallIcon());
        row["status"] = *lamp ? nlohmann::ordered_json(lamp) : nlohmann::ordered_json(nullptr);
        for (int c = 0; c < g.columnsCount(); ++c)
            row[g.column(c + 1).Text] = std::string(item.cell(c));
        rows.push_back(std::move(row));
        ++index;
    }
    return rows.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

TableCells tableCells(const grid::Grid& g, int maxWidth, bool withHeader) {
    const int columns = g.columnsCount();
    const std::size_t limit = maxWidth > 0 ? static_cast<std::size_t>(maxWidth) : 0;
    TableCells t;
    if (withHeader) {
        std::vector<std::string> head;
        for (int c = 1; c <= columns; ++c)
            head.push_back(cut(visibleText(oneLine(g.column(c).Text)), limit));
        t.rows.push_back(std::move(head));
        t.lamps.push_back(-1);
    }
    for (const std::size_t shown : g.shownOrder()) {
        const grid::ListItem& item = g.item(static_cast<int>(shown) + 1);
        std::vector<std::string> row;
        for (int c = 0; c < columns; ++c)
            row.push_back(cut(visibleText(oneLine(item.cell(c))), limit));
        t.rows.push_back(std::move(row));
        t.lamps.push_back(item.SmallIcon());
    }
    return t;
}

void widenColumns(std::vector<std::size_t>& width, const TableCells& t) {
    for (const auto& row : t.rows) {
        if (width.size() < row.size()) width.resize(row.size(), 0);
        for (std::size_t c = 0; c < row.size(); ++c)
            width[c] = std::max(width[c], displayWidth(row[c]));
    }
}

std::string tableLines(const TableCells& t, const std::vector<std::size_t>& width, bool colour) {
    // The lamp column: a mark, or the lamp's word where colour is off.
    const std::size_t lampWidth = colour ? 1 : 6;
    std::string out;
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
        std::string line;
        const int icon = t.lamps[r];
        if (icon < 0) {
            line.append(lampWidth, ' ');
        } else if (colour) {
            static const char* const kColour[] = {"", "\x1b[32m", "\x1b[33m", "\x1b[31m"};
            line += icon >= 1 && icon <= 3 ? std::string(kColour[icon]) + "\xE2\x97\x8F\x1b[0m"
                                           : std::string(" ");
        } else {
            const std::string word = lampWord(icon);
            line += word + std::string(lampWidth - word.size(), ' ');
        }
        const auto& row = t.rows[r];
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::string& cell = row[c];
            line += "  ";
            line += cell;
            // A cell wider than its column (met after the widths were set)
            // pushes the rest of its line along rather than being cut.
            const std::size_t w = displayWidth(cell);
            if (c + 1 < row.size() && c < width.size() && w < width[c])
                line.append(width[c] - w, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line;
        out += '\n';
    }
    return out;
}

std::string tableText(const grid::Grid& g, bool colour, int maxWidth) {
    const TableCells t = tableCells(g, maxWidth, true);
    std::vector<std::size_t> width(static_cast<std::size_t>(g.columnsCount()), 0);
    widenColumns(width, t);
    return tableLines(t, width, colour);
}

}  // namespace tavo::cli
