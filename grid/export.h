#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

#include "grid/grid.h"
#include "grid/shown_view.h"

// The text of the two exports and the name of their files. Both texts are
// built from the grid in its shown order, in UTF-8 without a byte-order mark.
namespace tavo::grid {

// How cells go into a CSV text.
enum class CsvCells {
    // For a spreadsheet, which the window opens the file with: a cell that is
    // not a plain number and begins with = + - @ TAB or CR gets a leading
    // apostrophe, so a process or share name that any user chooses
    // ("=cmd|' /C calc'!A0") is shown as text and never run as a formula.
    // Plain numbers such as -60 or +1.5 stay as they are.
    spreadsheet,
    // Exactly as shown, for output that scripts read.
    raw,
};

// One line per row and one for the captions; every field is followed by ","
// and every line ends in CR LF. Fields holding a comma, a double quote, CR or
// LF are quoted (inner quotes doubled) so a spreadsheet reads the same grid
// back; all other fields are written as shown, guarded as `cells` says.
std::string csvText(const Grid& grid, CsvCells cells = CsvCells::spreadsheet);

// Whether a spreadsheet would read `field` as a formula: it begins with one
// of = + - @ TAB CR and is not a plain number.
bool csvFormulaLike(std::string_view field);

// One line of HTML: a bordered table whose first cell in each row is
// coloured by the row's lamp. Captions, cells, computer and category are
// escaped, so cell text never becomes markup.
std::string htmlText(const Grid& grid, std::string_view computer, std::string_view category);

// The same two texts for the part of the grid a window shows: the view's
// rows in its order, its columns in its order. The lamp colours the first
// cell written in each row. Rows and columns the grid does not hold are
// left out.
std::string csvText(const Grid& grid, const ShownView& view,
                    CsvCells cells = CsvCells::spreadsheet);
std::string htmlText(const Grid& grid, const ShownView& view, std::string_view computer,
                     std::string_view category);

// Text for HTML content and attribute values: & < > " ' and line breaks as
// character references.
std::string htmlEscape(std::string_view text);

// The local time as fourteen digits, yyyyMMddHHmmss: padded, so two moments
// never give the same digits.
std::string exportTimeDigits(const std::tm& localTime);

// `text` with every character a file name may not hold replaced by "_"
// (/ and NUL here; also \ : * ? " < > | and control characters on Windows),
// so a computer or category text cannot lead outside the chosen folder.
std::string fileNameSafe(std::string_view text);

// folder / (computer + "-" + category + "_" + digits + extension), with
// computer and category made safe. `extension` includes its dot (".csv").
// Leading dots of the computer become "_" so the file is not hidden, and the
// computer (then the category) is shortened on a UTF-8 boundary so the name,
// with room for a " (9999)" of a taken name, fits a file system's 255 bytes.
std::filesystem::path exportFileName(const std::filesystem::path& folder, std::string_view computer,
                                     std::string_view category, const std::tm& localTime,
                                     std::string_view extension);

// A path from UTF-8 text, and back, the same on every platform.
std::filesystem::path pathFromUtf8(std::string_view text);
std::string pathToUtf8(const std::filesystem::path& path);

}  // namespace tavo::grid
