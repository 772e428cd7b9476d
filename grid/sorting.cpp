#include "grid/sorting.h"

#include <string>

namespace tavo::grid {

void columnClick(Grid& grid, int clickedColumn, std::int32_t& sortdirection) {
    int key = grid.SortKey();
    if (clickedColumn >= 0 && clickedColumn < grid.columnsCount()) {
        const std::string caption = grid.column(clickedColumn + 1).Text;
        // No early exit: where captions repeat, the last such column wins.
        for (int i = 1; i <= grid.columnsCount(); ++i) {
            if (grid.column(i).Text == caption) key = grid.column(i).SubItemIndex;
        }
    }
    const int order = sortdirection == 0 ? 1 : 0;
    // One change instead of three, so the rows are sorted (and the view told) once.
    grid.setSort(key, order, true);
    sortdirection = grid.SortOrder();
}

}  // namespace tavo::grid
