#include "grid/export.h"

#include "grid/changes.h"
#include "grid/huge_pages.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavo::grid {

namespace {

// Characters that make a CSV field need quotes, and those HTML writes as
// references; looked up in a table because every byte of a big export passes
// through here.
struct ByteClasses {
    bool csv[256] = {};
    const char* html[256] = {};
    // The most bytes one input byte can become: what an escaped text claims
    // per byte. Taken from the table so a longer reference added later cannot
    // outgrow the claim.
    std::size_t longestReference = 1;
    constexpr ByteClasses() {
        for (unsigned char c : {',', '"', '\r', '\n'}) csv[c] = true;
        html[static_cast<unsigned char>('&')] = "&amp;";
        html[static_cast<unsigned char>('<')] = "&lt;";
        html[static_cast<unsigned char>('>')] = "&gt;";
        html[static_cast<unsigned char>('"')] = "&quot;";
        html[static_cast<unsigned char>('\'')] = "&#39;";
        // Line breaks as references keep the document on one line.
        html[static_cast<unsigned char>('\r')] = "&#13;";
        html[static_cast<unsigned char>('\n')] = "&#10;";
        for (const char* ref : html) {
            if (ref)
                longestReference = std::max(longestReference, std::char_traits<char>::length(ref));
        }
    }
};
constexpr ByteClasses kClasses;

// An append-only text buffer writing straight into a std::string's storage:
// a few hundred megabytes of small appends cost a capacity check each, not
// a call into the library each. Invariant: used_ <= out_.size().
class Writer {
  public:
    explicit Writer(std::size_t estimate) { growTo(std::max<std::size_t>(estimate, 64)); }
    void put(std::string_view s) {
        if (s.empty()) return;  // an empty view may carry no pointer at all
        reserve(s.size());
        std::memcpy(out_.data() + used_, s.data(), s.size());
        used_ += s.size();
    }
    void put(char c) {
        reserve(1);
        out_[used_++] = c;
    }
    // Room for n bytes at the end; commit() says how many were written, at
    // most n. Anything else (a put, another claim) ends the claim.
    char* claim(std::size_t n) {
        reserve(n);
        claimed_ = n;
        return out_.data() + used_;
    }
    void commit(std::size_t n) {
        // Writing past a claim has already written past what is ours; stop
        // here rather than let the next append build on a corrupted length.
        assert(n <= claimed_ && "export text overran its claimed room");
        if (n > claimed_) std::abort();
        claimed_ = 0;
        used_ += n;
    }
    std::string take() {
        out_.resize(used_);
        return std::move(out_);
    }

  private:
    void reserve(std::size_t n) {
        claimed_ = 0;
        if (n <= out_.size() - used_) return;
        if (n > out_.max_size() - used_) throw std::length_error("export text too long");
        growTo(std::max(out_.size() * 2, used_ + n));
    }
    void growTo(std::size_t size) {
        out_.reserve(size);
        adviseHugePages(out_.data(), out_.capacity());
        out_.resize(size);
    }
    std::string out_;
    std::size_t used_ = 0;
    std::size_t claimed_ = 0;
};

void putCsvField(Writer& out, std::string_view field);

// The field, with the apostrophe a spreadsheet needs in front when asked to.
void putCsvCell(Writer& out, std::string_view field, CsvCells cells) {
    if (cells == CsvCells::spreadsheet && csvFormulaLike(field)) {
        std::string guarded;
        guarded.reserve(field.size() + 1);
        guarded += '\'';
        guarded += field;
        putCsvField(out, guarded);
        return;
    }
    putCsvField(out, field);
}

void putCsvField(Writer& out, std::string_view field) {
    // One pass copying and classifying; the rare field that needs quotes is
    // written again over the same place.
    char* dst = out.claim(field.size() + 1);
    bool quote = false;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        quote |= kClasses.csv[static_cast<unsigned char>(c)];
        dst[i] = c;
    }
    if (!quote) {
        dst[field.size()] = ',';
        out.commit(field.size() + 1);
        return;
    }
    out.put('"');
    std::size_t start = 0;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '"') continue;
        out.put(field.substr(start, i + 1 - start));  // up to and with the quote, then once more
        out.put('"');
        start = i + 1;
    }
    out.put(field.substr(start));
    out.put("\",");
}

void putEscaped(Writer& out, std::string_view text) {
    if (text.size() > std::numeric_limits<std::size_t>::max() / kClasses.longestReference) {
        throw std::length_error("export text too long");
    }
    char* const begin = out.claim(text.size() * kClasses.longestReference);
    char* dst = begin;
    for (const char c : text) {
        const char* ref = kClasses.html[static_cast<unsigned char>(c)];
        if (!ref) {
            *dst++ = c;
        } else {
            while (*ref) *dst++ = *ref++;
        }
    }
    out.commit(static_cast<std::size_t>(dst - begin));
}

// A guess at the size of the whole text from a few rows spread over the
// grid, so a big grid is built with one allocation instead of a doubling series.
std::size_t estimateSize(const Grid& grid, std::size_t perCellExtra) {
    const std::size_t rows = static_cast<std::size_t>(grid.itemsCount());
    const int columns = std::max(grid.columnsCount(), 1);
    if (rows == 0) return 256;
    const std::size_t samples = std::min<std::size_t>(rows, 16);
    std::size_t sampled = 0;
    for (std::size_t k = 0; k < samples; ++k) {
        const ListItem& item = grid.item(static_cast<int>(k * rows / samples) + 1);
        for (int c = 0; c < columns; ++c) sampled += item.cell(c).size() + perCellExtra;
    }
    const std::size_t perRow = sampled / samples + 16;
    return (perRow + perRow / 8) * rows + 256;
}

}  // namespace

bool csvFormulaLike(std::string_view field) {
    if (field.empty()) return false;
    const char first = field.front();
    if (first != '=' && first != '+' && first != '-' && first != '@' && first != '\t' &&
        first != '\r') {
        return false;
    }
    // A plain number: a sign, digits, at most one decimal separator (a point
    // or a comma, as the grid shows decimals) with digits after it, and an
    // optional exponent.
    if (first != '+' && first != '-') return true;
    std::size_t i = 1;
    auto digits = [&] {
        const std::size_t start = i;
        while (i < field.size() && field[i] >= '0' && field[i] <= '9') ++i;
        return i > start;
    };
    if (!digits()) return true;
    if (i < field.size() && (field[i] == '.' || field[i] == ',')) {
        ++i;
        if (!digits()) return true;
    }
    if (i < field.size() && (field[i] == 'e' || field[i] == 'E')) {
        ++i;
        if (i < field.size() && (field[i] == '+' || field[i] == '-')) ++i;
        if (!digits()) return true;
    }
    return i != field.size();
}

std::string csvText(const Grid& grid, CsvCells cells) {
    Writer out(estimateSize(grid, 1));
    const int columns = grid.columnsCount();
    for (int i = 1; i <= columns; ++i) putCsvCell(out, grid.column(i).Text, cells);
    out.put("\r\n");
    for (const std::size_t row : grid.shownOrder()) {
        const ListItem& item = grid.item(static_cast<int>(row) + 1);
        putCsvCell(out, item.Text(), cells);
        for (int n = 1; n < columns; ++n) putCsvCell(out, item.cell(n), cells);
        out.put("\r\n");
    }
    return out.take();
}

std::string htmlEscape(std::string_view text) {
    Writer out(text.size() + 16);
    putEscaped(out, text);
    return out.take();
}

std::string htmlText(const Grid& grid, std::string_view computer, std::string_view category) {
    Writer out(estimateSize(grid, 9) + 256);
    out.put("<html><head><meta charset=\"utf-8\"><title>Tavo - ");
    putEscaped(out, computer);
    out.put(" - ");
    putEscaped(out, category);
    out.put("</title></head><body><table border='1'><tr>");
    const int columns = grid.columnsCount();
    for (int i = 1; i <= columns; ++i) {
        out.put("<th>");
        putEscaped(out, grid.column(i).Text);
        out.put("</th>");
    }
    out.put("</tr>");
    for (const std::size_t row : grid.shownOrder()) {
        const ListItem& item = grid.item(static_cast<int>(row) + 1);
        out.put("<tr>");
        switch (item.SmallIcon()) {
            case 1:
                out.put("<td style='background-color:lightgreen;'>");
                break;
            case 2:
                out.put("<td style='background-color:gold;'>");
                break;
            case 3:
                out.put("<td style='background-color:red;'>");
                break;
            default:
                out.put("<td>");
                break;
        }
        putEscaped(out, item.Text());
        out.put("</td>");
        for (int n = 1; n < columns; ++n) {
            out.put("<td>");
            putEscaped(out, item.cell(n));
            out.put("</td>");
        }
        out.put("</tr>");
    }
    out.put("</table></body></html>");
    return out.take();
}

namespace {

// The view's columns that the grid holds, in the view's order.
std::vector<int> heldColumns(const Grid& grid, const ShownView& view) {
    std::vector<int> columns;
    columns.reserve(view.columns.size());
    for (int c : view.columns) {
        if (c >= 0 && c < grid.columnsCount()) columns.push_back(c);
    }
    return columns;
}

// The whole grid's estimate scaled to the share of rows and columns shown.
std::size_t estimateViewSize(const Grid& grid, const ShownView& view, std::size_t columns,
                             std::size_t perCellExtra) {
    const std::size_t whole = estimateSize(grid, perCellExtra);
    const auto rows = static_cast<std::size_t>(std::max(grid.itemsCount(), 1));
    const auto all = static_cast<std::size_t>(std::max(grid.columnsCount(), 1));
    const long double share = static_cast<long double>(std::min(view.rows.size(), rows)) / rows *
                              static_cast<long double>(std::min(columns, all)) / all;
    return static_cast<std::size_t>(static_cast<long double>(whole) * share) + 256;
}

// The opening tag of a row's first cell, coloured by its lamp.
std::string_view lampCell(int icon) {
    switch (icon) {
        case 1:
            return "<td style='background-color:lightgreen;'>";
        case 2:
            return "<td style='background-color:gold;'>";
        case 3:
            return "<td style='background-color:red;'>";
        default:
            return "<td>";
    }
}

}  // namespace

std::string csvText(const Grid& grid, const ShownView& view, CsvCells cells) {
    const std::vector<int> columns = heldColumns(grid, view);
    Writer out(estimateViewSize(grid, view, columns.size(), 1));
    for (int c : columns) putCsvCell(out, grid.column(c + 1).Text, cells);
    if (view.changes) putCsvField(out, kChangeCaption);
    out.put("\r\n");
    const auto rows = static_cast<std::size_t>(grid.itemsCount());
    for (const std::size_t row : view.rows) {
        if (row >= rows) continue;
        const ListItem& item = grid.item(static_cast<int>(row) + 1);
        for (int c : columns) putCsvCell(out, item.cell(c), cells);
        if (view.changes) putCsvField(out, changeText(grid.rowMarks(row)));
        out.put("\r\n");
    }
    return out.take();
}

std::string htmlText(const Grid& grid, const ShownView& view, std::string_view computer,
                     std::string_view category) {
    const std::vector<int> columns = heldColumns(grid, view);
    Writer out(estimateViewSize(grid, view, columns.size(), 9) + 256);
    out.put("<html><head><meta charset=\"utf-8\"><title>Tavo - ");
    putEscaped(out, computer);
    out.put(" - ");
    putEscaped(out, category);
    out.put("</title></head><body><table border='1'><tr>");
    for (int c : columns) {
        out.put("<th>");
        putEscaped(out, grid.column(c + 1).Text);
        out.put("</th>");
    }
    if (view.changes) {
        out.put("<th>");
        putEscaped(out, kChangeCaption);
        out.put("</th>");
    }
    out.put("</tr>");
    const auto rows = static_cast<std::size_t>(grid.itemsCount());
    for (const std::size_t row : view.rows) {
        if (row >= rows) continue;
        const ListItem& item = grid.item(static_cast<int>(row) + 1);
        out.put("<tr>");
        // The lamp belongs to the row: it colours the first cell written,
        // whichever column the user put first.
        bool first = true;
        for (int c : columns) {
            out.put(first ? lampCell(item.SmallIcon()) : std::string_view("<td>"));
            first = false;
            putEscaped(out, item.cell(c));
            out.put("</td>");
        }
        if (view.changes) {
            out.put(first ? lampCell(item.SmallIcon()) : std::string_view("<td>"));
            putEscaped(out, changeText(grid.rowMarks(row)));
            out.put("</td>");
        }
        out.put("</tr>");
    }
    out.put("</table></body></html>");
    return out.take();
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

namespace {

// The most bytes a file name may have (the file systems Tavo writes to count
// bytes, or UTF-16 units, which UTF-8 never has fewer of), less the room
// writeNewFile needs for its " (9999)" when the name is taken.
constexpr std::size_t kNameBytes = 255;
constexpr std::size_t kSuffixRoom = 7;

// `text` cut to at most `bytes` bytes, never inside a UTF-8 sequence.
std::string_view utf8Prefix(std::string_view text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

std::filesystem::path exportFileName(const std::filesystem::path& folder, std::string_view computer,
                                     std::string_view category, const std::tm& localTime,
                                     std::string_view extension) {
    std::string host = fileNameSafe(computer);
    // A name that starts with a dot is hidden from the user who just made it.
    for (char& c : host) {
        if (c != '.') break;
        c = '_';
    }
    const std::string what = fileNameSafe(category);
    const std::string tail = "_" + exportTimeDigits(localTime) + fileNameSafe(extension);
    // A long computer text (a DNS name may have 253 bytes) gives way first, so
    // the time and the extension always survive.
    const std::size_t room = kNameBytes - kSuffixRoom;
    const std::size_t fixed = std::min(what.size(), room / 2) + 1 + tail.size();
    std::string name(utf8Prefix(host, room > fixed ? room - fixed : 0));
    name += '-';
    name += utf8Prefix(what, room - std::min(room, name.size() + tail.size()));
    name += tail;
    return folder / pathFromUtf8(name);
}

}  // namespace tavo::grid
