#pragma once

#include <cstddef>
#include <vector>

#include "grid/grid.h"

namespace tavo::grid {

// The part of a grid that a window shows, in the order it shows it: the
// rows a filter left (insertion indexes from 0, in shown order) and the
// columns not hidden (positions from 0, in the order the user arranged
// them). Exports and copies write exactly this.
struct ShownView {
    std::vector<std::size_t> rows;
    std::vector<int> columns;
    // The rows' change marks are shown: a last column captioned "Change"
    // says "new", "gone" or "changed" ("" for a row as it was).
    bool changes = false;
};

// Every row in the grid's shown order and every column in its own order:
// what the window shows with no filter and no column moved or hidden, with
// the change marks when the rows carry them.
ShownView wholeGrid(const Grid& grid);

}  // namespace tavo::grid
