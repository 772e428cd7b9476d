#include "grid/export.h"

#include <cstdio>

namespace tavo::grid {

namespace {

bool needsCsvQuotes(std::string_view field) {
    return field.find_first_of(",\"\r\n") != std::string_view::npos;
}

void appendCsvField(std::string& out, std::string_view field) {
    if (!needsCsvQuotes(field)) {
        out += field;
    } else {
        out += '"';
        for (char c : field) {
            if (c == '"') out += '"';
            out += c;
        }
        out += '"';
    }
    out += ',';
}

void appendEscaped(std::string& out, std::string_view text) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* ref = nullptr;
        switch (text[i]) {
            case '&':
                ref = "&amp;";
                break;
            case '<':
                ref = "&lt;";
                break;
            case '>':
                ref = "&gt;";
                break;
            case '"':
                ref = "&quot;";
                break;
            case '\'':
                ref = "&#39;";
                break;
            // Line breaks as references keep the document on one line.
            case '\r':
                ref = "&#13;";
                break;
            case '\n':
                ref = "&#10;";
                break;
            default:
                continue;
        }
        out.append(text, start, i - start);
        out += ref;
        start = i + 1;
    }
    out.append(text, start, std::string_view::npos);
}

// A guess at the size of the whole text from the first shown row, so a big
// grid is built with a few allocations instead of a doubling series.
std::size_t estimateSize(const Grid& grid, std::size_t perCellExtra) {
    const int rows = grid.itemsCount();
    const int columns = grid.columnsCount();
    if (rows == 0) return 256;
    std::size_t first = 0;
    const ListItem& item = grid.shownItem(1);
    for (int c = 0; c < std::max(columns, 1); ++c) first += item.cell(c).size() + perCellExtra;
    return (first + first / 8 + 16) * static_cast<std::size_t>(rows) + 256;
}

}  // namespace

std::string csvText(const Grid& grid) {
    std::string out;
    out.reserve(estimateSize(grid, 1));
    const int columns = grid.columnsCount();
    for (int i = 1; i <= columns; ++i) appendCsvField(out, grid.column(i).Text);
    out += "\r\n";
    for (const std::size_t row : grid.shownOrder()) {
        const ListItem& item = grid.item(static_cast<int>(row) + 1);
        appendCsvField(out, item.Text());
        for (int n = 1; n < columns; ++n) appendCsvField(out, item.cell(n));
        out += "\r\n";
    }
    return out;
}

std::string htmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    appendEscaped(out, text);
    return out;
}

std::string htmlText(const Grid& grid, std::string_view computer, std::string_view category) {
    std::string out;
    out.reserve(estimateSize(grid, 9) + 256);
    out += "<html><head><meta charset=\"utf-8\"><title>Tavo - ";
    appendEscaped(out, computer);
    out += " - ";
    appendEscaped(out, category);
    out += "</title></head><body><table border='1'><tr>";
    const int columns = grid.columnsCount();
    for (int i = 1; i <= columns; ++i) {
        out += "<th>";
        appendEscaped(out, grid.column(i).Text);
        out += "</th>";
    }
    out += "</tr>";
    for (const std::size_t row : grid.shownOrder()) {
        const ListItem& item = grid.item(static_cast<int>(row) + 1);
        out += "<tr>";
        switch (item.SmallIcon()) {
            case 1:
                out += "<td style='background-color:lightgreen;'>";
                break;
            case 2:
                out += "<td style='background-color:gold;'>";
                break;
            case 3:
                out += "<td style='background-color:red;'>";
                break;
            default:
                out += "<td>";
                break;
        }
        appendEscaped(out, item.Text());
        out += "</td>";
        for (int n = 1; n < columns; ++n) {
            out += "<td>";
            appendEscaped(out, item.cell(n));
            out += "</td>";
        }
        out += "</tr>";
    }
    out += "</table></body></html>";
    return out;
}

std::string exportTimeDigits(const std::tm& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

std::string fileNameSafe(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
#ifdef _WIN32
        const bool bad = static_cast<unsigned char>(c) < 0x20 ||
                         std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos;
#else
        const bool bad = c == '/' || c == '\0';
#endif
        if (bad) c = '_';
    }
    return out;
}

std::filesystem::path pathFromUtf8(std::string_view text) {
    std::u8string u8;
    u8.reserve(text.size());
    for (char c : text) u8.push_back(static_cast<char8_t>(c));
    return std::filesystem::path(u8);
}

std::string pathToUtf8(const std::filesystem::path& path) {
    const std::u8string u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

std::filesystem::path exportFileName(const std::filesystem::path& folder, std::string_view computer,
                                     std::string_view category, const std::tm& localTime,
                                     std::string_view extension) {
    std::string name = fileNameSafe(computer);
    name += '-';
    name += fileNameSafe(category);
    name += '_';
    name += exportTimeDigits(localTime);
    name += fileNameSafe(extension);
    return folder / pathFromUtf8(name);
}

}  // namespace tavo::grid
