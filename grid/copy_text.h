#pragma once

#include <string>
#include <vector>

#include "grid/grid.h"
#include "grid/shown_view.h"

namespace tavo::grid {

// Rows for the clipboard, as spreadsheets and editors paste them: a line
// of captions, then one line per row, fields separated by a tab, lines
// ended by LF. A field holding a tab, a line break or a double quote is
// quoted (inner quotes doubled), so a pasted cell stays one cell. Rows or
// columns of the view that the grid does not hold are left out.
std::string tabText(const Grid& grid, const ShownView& view);

// Splits text written by tabText back into fields; for tests and for
// anything that reads the clipboard back.
std::vector<std::vector<std::string>> parseTabText(const std::string& text);

}  // namespace tavo::grid
