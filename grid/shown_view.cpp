#include "grid/shown_view.h"

namespace tavo::grid {

ShownView wholeGrid(const Grid& grid) {
    ShownView view;
    view.rows = grid.shownOrder();
    view.columns.reserve(static_cast<std::size_t>(grid.columnsCount()));
    for (int c = 0; c < grid.columnsCount(); ++c) view.columns.push_back(c);
    view.changes = grid.changesMarked();
    return view;
}

}  // namespace tavo::grid
