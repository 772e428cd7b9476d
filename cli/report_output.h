#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "cli/run_targets.h"
#include "grid/grid.h"

// The run's results as one grid, and that grid in each output format.
namespace tavo::cli {

// One grid for every computer: with `computerColumn`, a first column
// "Computer"; then the columns of the reports in the order first seen (the
// generic report's columns differ from computer to computer); a computer
// that failed gives one red row with its error in an "Error" column at the
// end. `includeFailed` false leaves failed computers out (an interrupted run
// prints what finished). Returns the computer of each row, in row order.
std::vector<std::string> combine(const std::vector<TargetOutcome>& targets, bool computerColumn,
                                 bool includeFailed, grid::Grid& out);

// Adds one computer's rows to `out` (which has the columns already): its
// column c + 1 under `target[c]` (left out where that is negative), the computer in column 0 with
// `computerColumn`, a failure as one red row with its error under
// `errorColumn`. Appends the computer of each row added to `computers`.
void appendOutcome(const TargetOutcome& t, const std::vector<int>& target, bool computerColumn,
                   int errorColumn, grid::Grid& out, std::vector<std::string>& computers);

// Both texts follow the grid's shown order.
// An array of row objects keyed by column caption, each with "computer" and
// "status" ("green", "yellow", "red", or null for a row without a lamp).
// Invalid UTF-8 becomes U+FFFD.
std::string jsonText(const grid::Grid& g, const std::vector<std::string>& rowComputers);

// Aligned columns for a terminal, two spaces apart, with a first column for
// the lamp: a coloured mark when `colour`, else the lamp's word. With
// `maxWidth` > 0, longer cells are cut to it with "…".
std::string tableText(const grid::Grid& g, bool colour, int maxWidth);

// The same table in parts, for one written as its rows arrive: the cells of
// each row as printed (the captions first, with lamp -1, when
// `withHeader`), the widths they need, and their lines at given widths.
struct TableCells {
    std::vector<std::vector<std::string>> rows;
    std::vector<int> lamps;
};
TableCells tableCells(const grid::Grid& g, int maxWidth, bool withHeader);
void widenColumns(std::vector<std::size_t>& width, const TableCells& cells);
std::string tableLines(const TableCells& cells, const std::vector<std::size_t>& width, bool colour);

const char* lampWord(int icon);

// `s` with every control character (C0, DEL, C1) shown as a visible escape
// ("\x1b"), as ls and systemctl show them: text from another computer must
// not move a terminal's cursor, retitle its window or clear its screen.
std::string visibleText(std::string_view s);

}  // namespace tavo::cli
