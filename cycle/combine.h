#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "grid/error.h"
#include "grid/grid.h"

// The reports of many computers as one grid, as the window and tavo-report
// both show them.
namespace tavo::cycle {

struct TargetOutcome {
    std::string computer;
    std::unique_ptr<grid::Grid> grid;  // the pass's rows; empty when it never ended
    std::optional<Error> failure;      // why this computer gave no report
    std::string lostValues;            // the values it could not read, counted; "" when none
    bool unfinished = false;           // still running when the run ended
};

struct CombineOptions {
    bool computerColumn = true;  // a first column "Computer"
    bool includeFailed = true;   // a failed computer gives a red row
    // The "Error" column even when no computer failed, so the columns stay
    // put while computers come and go (the window keeps a layout over them).
    bool errorColumnAlways = false;
};

// One grid for every computer: the columns of the reports in the order
// first seen (the generic report's columns differ from computer to
// computer); a computer that failed gives one red row with its error in an
// "Error" column at the end. Returns the computer of each row, in row order.
std::vector<std::string> combine(const std::vector<const TargetOutcome*>& targets,
                                 const CombineOptions& options, grid::Grid& out);
std::vector<std::string> combine(const std::vector<TargetOutcome>& targets, bool computerColumn,
                                 bool includeFailed, grid::Grid& out);

// Adds one computer's rows to `out` (which has the columns already): its
// column c + 1 under `target[c]` (left out where that is negative), the
// computer in column 0 with `computerColumn`, a failure as one red row with
// its error under `errorColumn`. Rows keep their lamp and tool tip, and
// their key with the computer before it, so a row is known again from pass
// to pass (a computer named twice gives its second rows no key). Appends
// the computer of each row added to `computers`.
void appendOutcome(const TargetOutcome& t, const std::vector<int>& target, bool computerColumn,
                   int errorColumn, grid::Grid& out, std::vector<std::string>& computers);

}  // namespace tavo::cycle
