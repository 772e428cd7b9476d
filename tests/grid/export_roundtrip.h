#pragma once

// Reads both export texts back with parsers that are not ours (libcsv, the
// HTML parser of libxml2) and compares what they find with the grid. Shared
// by the grid tests' bounded random driver and the libFuzzer target.

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "csv_read.h"
#include "grid/export.h"
#include "grid/grid.h"

namespace tavo::roundtrip {

using Table = std::vector<std::vector<std::string>>;

// The grid as the exports should show it: captions, then rows in shown order.
inline Table expected(const grid::Grid& g) {
    Table t;
    std::vector<std::string> head;
    for (int i = 1; i <= g.columnsCount(); ++i) head.push_back(g.column(i).Text);
    t.push_back(head);
    for (const std::size_t row : g.shownOrder()) {
        const grid::ListItem& item = g.item(static_cast<int>(row) + 1);
        std::vector<std::string> cells;
        for (int c = 0; c < g.columnsCount(); ++c) cells.emplace_back(item.cell(c));
        t.push_back(cells);
    }
    return t;
}

// Strict RFC 4180 reading; every line of the export ends its last field with
// "," so each row carries one empty field at its end, which is dropped.
inline bool parseCsv(const std::string& text, Table& rows, std::string& why) {
    Table read;
    if (!testing::readCsv(text, CSV_STRICT | CSV_STRICT_FINI | CSV_APPEND_NULL, read, why))
        return false;
    for (auto& row : read) {
        if (row.empty() || !row.back().empty()) {
            why = "a CSV line does not end with a comma";
            return false;
        }
        row.pop_back();
    }
    rows = std::move(read);
    return true;
}

inline std::string textOf(xmlNode* node) {
    xmlChar* content = xmlNodeGetContent(node);
    std::string s = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return s;
}

inline std::string attribute(xmlNode* node, const char* name) {
    xmlChar* v = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    std::string s = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    return s;
}

inline void collectRows(xmlNode* node, Table& rows, std::vector<std::string>& firstCellStyles) {
    for (xmlNode* n = node; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        const std::string_view name = reinterpret_cast<const char*>(n->name);
        if (name == "tr") {
            std::vector<std::string> cells;
            for (xmlNode* c = n->children; c; c = c->next) {
                if (c->type != XML_ELEMENT_NODE) continue;
                const std::string_view cn = reinterpret_cast<const char*>(c->name);
                if (cn != "td" && cn != "th") continue;
                if (cn == "td" && cells.empty()) firstCellStyles.push_back(attribute(c, "style"));
                cells.push_back(textOf(c));
            }
            rows.push_back(std::move(cells));
        } else {
            collectRows(n->children, rows, firstCellStyles);
        }
    }
}

// Only text that an HTML parser can carry unchanged is compared through it:
// valid UTF-8 without NUL or the control characters HTML forbids.
inline bool htmlSafe(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
        if (c == 0x7f) return false;
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len = c >= 0xf0 && c <= 0xf4 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 && c < 0xe0 ? 2 : 0;
        if (len == 0 || i + static_cast<std::size_t>(len) > s.size()) return false;
        std::uint32_t cp = c & (0x7f >> len);
        for (int k = 1; k < len; ++k) {
            const auto d = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
            if ((d & 0xc0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3f);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10ffff)) ||
            (cp >= 0xd800 && cp <= 0xdfff) || (cp >= 0x80 && cp <= 0x9f))
            return false;
        i += static_cast<std::size_t>(len);
    }
    return true;
}

inline const char* lampStyle(int icon) {
    switch (icon) {
        case 1:
            return "background-color:lightgreen;";
        case 2:
            return "background-color:gold;";
        case 3:
            return "background-color:red;";
        default:
            return "";
    }
}

// "" when both exports read back as the grid; otherwise what differs.
inline std::string check(const grid::Grid& g, std::string_view computer,
                         std::string_view category) {
    const Table want = expected(g);

    Table csv;
    std::string why;
    if (!parseCsv(grid::csvText(g, grid::CsvCells::raw), csv, why)) return why;
    if (csv != want) return "the CSV export reads back as another table";

    const std::string html = grid::htmlText(g, computer, category);
    bool comparable = htmlSafe(computer) && htmlSafe(category);
    for (const auto& row : want)
        for (const auto& cell : row) comparable = comparable && htmlSafe(cell);
    if (!comparable) return "";

    htmlDocPtr doc = htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8",
                                    HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    if (!doc) return "the HTML export does not parse";
    Table rows;
    std::vector<std::string> styles;
    collectRows(xmlDocGetRootElement(doc), rows, styles);
    std::string title;
    for (xmlNode* n = xmlDocGetRootElement(doc); n; n = n->children) {
        if (n->type == XML_ELEMENT_NODE &&
            std::string_view(reinterpret_cast<const char*>(n->name)) == "head") {
            for (xmlNode* c = n->children; c; c = c->next)
                if (c->type == XML_ELEMENT_NODE &&
                    std::string_view(reinterpret_cast<const char*>(c->name)) == "title")
                    title = textOf(c);
            break;
        }
    }
    xmlFreeDoc(doc);
    if (rows != want) return "the HTML export reads back as another table";
    if (title != "Tavo - " + std::string(computer) + " - " + std::string(category))
        return "the HTML title reads back as \"" + title + "\"";
    std::size_t k = 0;
    for (const std::size_t row : g.shownOrder()) {
        if (styles.at(k++) != lampStyle(g.item(static_cast<int>(row) + 1).SmallIcon()))
            return "a row's lamp colour reads back wrong";
    }
    return "";
}

// A grid built from arbitrary bytes: the first few choose the shape, the rest
// are cut into cells at each 0x1f. Used by both drivers so a finding of one
// replays in the other.
inline void gridFromBytes(const std::uint8_t* data, std::size_t size, grid::Grid& g,
                          std::string& computer) {
    std::size_t pos = 0;
    const auto next = [&]() -> std::uint8_t { return pos < size ? data[pos++] : 0; };
    const int columns = 1 + next() % 6;
    const std::uint8_t flags = next();
    std::vector<std::string> pieces;
    std::string piece;
    for (; pos < size; ++pos) {
        if (data[pos] == 0x1f) {
            pieces.push_back(std::move(piece));
            piece.clear();
        } else {
            piece.push_back(static_cast<char>(data[pos]));
        }
    }
    pieces.push_back(std::move(piece));
    std::size_t p = 0;
    const auto take = [&]() -> std::string {
        return p < pieces.size() ? pieces[p++] : std::string();
    };
    computer = take();
    for (int c = 0; c < columns; ++c) g.columnsAdd(take());
    int lamp = 0;
    while (p < pieces.size()) {
        grid::ListItem& item = g.itemsAdd("", take(), lamp);
        lamp = (lamp + 1) % 5;
        for (int n = 1; n < columns; ++n) item.setSubItems(n, take());
    }
    if (flags & 1) g.setSort((flags >> 1) % columns, (flags >> 4) & 1, true);
}

}  // namespace tavo::roundtrip
