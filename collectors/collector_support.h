#pragma once

// What the collectors share: the "skip this statement if it fails" rule,
// number tests on property values, rounding, and adding a row that is never
// lost to a repeated key.

#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "collectors/management.h"
#include "collectors/report_context.h"
#include "collectors/report_definition.h"
#include "collectors/value.h"
#include "grid/error.h"
#include "grid/grid.h"

namespace tavo::collect {

// Runs one statement of a pass; if it fails, the statement is skipped and the
// pass goes on. Returns whether it ran to the end. Any exception counts: a
// back end that throws something other than tavo::Error still only spoils
// the one value it was asked for.
template <class F>
bool skip(F&& statement) {
    try {
        statement();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// A test under the skipping rule: if its operand cannot be read, the test
// counts as met (the statement under it runs).
template <class F>
bool test(F&& condition) {
    try {
        return static_cast<bool>(condition());
    } catch (const std::exception&) {
        return true;
    }
}

// Runs the part of a monitor that traps nothing. Whatever escapes reaches the
// cycle as a tavo::Error, the one failure type the window reports, so a
// foreign exception from a back end cannot end the program.
template <class F>
void untrapped(F&& steps) {
    try {
        steps();
    } catch (const Error&) {
        throw;
    } catch (const std::exception& e) {
        throw Error(errc::kFailed, std::string("Management query failed: ") + e.what());
    }
}

// The value as a number, for the tests that compare a code "as a number":
// integers, reals and decimal text; nothing for null, empty, booleans,
// arrays and text that is not a number.
std::optional<double> asNumber(const wmi::Value& v);

// True when `v` is the number `n` (an integer, a real or decimal text).
bool isNumber(const wmi::Value& v, double n);

// Rounds to two decimal places, a tie going to the even digit.
double round2(double x);

// Appends a row keyed and titled by `keyText`. A key that is already taken
// would lose the object's row, so such a row is added without a key.
grid::ListItem& addRow(grid::Grid& grid, const std::string& keyText, int icon);

// Holds the grid's change notification for the length of a pass, so a view
// repaints once per pass rather than once per cell.
class GridUpdate {
  public:
    explicit GridUpdate(grid::Grid& g) : grid_(g) { grid_.beginUpdate(); }
    ~GridUpdate() { grid_.endUpdate(); }
    GridUpdate(const GridUpdate&) = delete;
    GridUpdate& operator=(const GridUpdate&) = delete;

  private:
    grid::Grid& grid_;
};

// The connection and result set of one pass, released result set first.
struct Session {
    std::unique_ptr<wmi::Connection> connection;
    std::unique_ptr<wmi::ResultSet> results;
    ~Session() { release(); }
    void release() {
        results.reset();
        connection.reset();
    }
};

}  // namespace tavo::collect

namespace tavo::collect {

// The frame the three monitors share. Connecting, querying, clearing the rows
// and fetching the first object trap nothing, so a computer that cannot be
// reached leaves the previous pass's rows and the error goes to the cycle.
// From the first object on, each object becomes one row under the skipping
// rule: its lamp by the report's rule, its key and text from the first
// column, a cell for every further column. A failure to fetch the next object
// ends the walk, and so does a request to stop, checked between objects.
void runMonitor(ReportContext& ctx, const ReportDefinition& report);

}  // namespace tavo::collect
