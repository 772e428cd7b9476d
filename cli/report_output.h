#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "cli/run_targets.h"
#include "cycle/combine.h"
#include "grid/grid.h"

// The run's results as one grid, and that grid in each output format.
namespace tavo::cli {

using cycle::appendOutcome;
using cycle::combine;

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
