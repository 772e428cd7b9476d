#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "grid/grid.h"

// What changed from one pass of a periodic report to the next: rows that
// are new, rows that are gone, and the cells of the other rows whose text
// changed. Rows are told apart by the texts under the report's key columns,
// so the comparison is one hash lookup per row, whatever the order or the
// sort of either pass.
namespace tavo::grid {

// The caption of the first column when the grid holds the rows of several
// computers: the computer is then part of every row's key.
inline constexpr std::string_view kComputerCaption = "Computer";

// The columns that make the key in both grids, by position, and how the
// columns of `next` stand in `previous` (by caption; -1 where `previous`
// has no such column). A caption used twice pairs in the order the columns
// come.
struct ColumnMatch {
    bool computer = false;         // both grids' first column is "Computer": part of the key
    std::vector<int> keyPrevious;  // the declared key columns of `previous`
    std::vector<int> keyNext;      // the same captions in `next`
    std::vector<int> previousOf;   // element c: the column of `previous` under caption c of `next`
    // No declared key column is in both grids (a test's stand-in rows, a
    // pass that only says why it failed): a row is then known by the key
    // the grid itself keeps for it where it has one, else by all its cells
    // under the columns both grids share, so a change shows as one row gone
    // and one new.
    bool fallback() const { return keyNext.empty(); }
};

// `keyCaptions` are matched without regard to ASCII case; only captions
// both grids have count.
ColumnMatch matchColumns(const Grid& previous, const Grid& next,
                         std::span<const std::string> keyCaptions);

struct PassChanges {
    // Per row of the new pass (insertion order): 0, kRowNew or kRowChanged.
    std::vector<std::uint8_t> marks;
    // (row of the new pass, its column) of every changed cell, rows
    // ascending. A changed lamp counts as a change of the first column.
    std::vector<std::pair<std::size_t, int>> changedCells;
    // Rows of the previous pass that no row of the new pass matched, in
    // insertion order. Rows the previous pass itself kept as gone are not
    // compared again: a row is gone for one pass only.
    std::vector<std::size_t> gone;
};

// Compares the rows of `next` with those of `previous`. Rows whose key
// repeats within a pass (two instances the key does not tell apart) pair
// in their order of appearance: the first with the first, and so on; the
// extra ones are new or gone. Treating them as unmatchable instead would
// show every one of them as gone and new again on every pass; pairing them
// keeps a quiet report quiet, and a pair that is not the same instance
// shows its differing cells as changed, never silently.
PassChanges comparePasses(const Grid& previous, const Grid& next,
                          std::span<const std::string> keyCaptions);

// comparePasses, then the marks written into `next` and, with `keepGone`,
// the gone rows appended to it with their texts, lamps and tool tips
// (marked kRowGone, under columns added to `next` where only `previous` had
// them). `next` is then marked as compared (changesMarked).
void markChanges(const Grid& previous, Grid& next, std::span<const std::string> keyCaptions,
                 bool keepGone = true);

// markChanges with `changes` already compared (comparePasses of the same
// two grids, as they are now): a big pass is compared off the window's thread.
void applyChanges(const Grid& previous, Grid& next, const PassChanges& changes,
                  std::span<const std::string> keyCaptions, bool keepGone = true);

// The text an export or copy writes for a row's marks in its "Change"
// column: "new", "gone", "changed", or "" for a row as it was.
std::string_view changeText(std::uint8_t marks);
inline constexpr std::string_view kChangeCaption = "Change";

}  // namespace tavo::grid
