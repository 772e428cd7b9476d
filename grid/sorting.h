#pragma once

#include <cstdint>

#include "grid/grid.h"

namespace tavo::grid {

// A click on the header of the column at `clickedColumn` (position from 0).
// The last column whose caption equals the clicked one (exact, case-sensitive)
// becomes the sort key, the direction is the reverse of `sortdirection` (0 or
// never set: descending), `sortdirection` keeps what the grid took, and the
// grid is sorted. A click outside the columns keeps the current key but still
// flips the direction, as every step of the click is tried on its own.
void columnClick(Grid& grid, int clickedColumn, std::int32_t& sortdirection);

}  // namespace tavo::grid
