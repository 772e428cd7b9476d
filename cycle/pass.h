#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "collectors/management.h"
#include "collectors/report_context.h"
#include "collectors/report_definition.h"
#include "grid/error.h"
#include "grid/grid.h"
#include "netenum/wnet_api.h"

// One pass of a report, run apart from the window: its own connection, its
// own grid, its own thread. The window takes the finished grid in one swap.
namespace tavo::cycle {

// Anything that is not a management failure (a bad allocation, a library
// exception) is reported under the system's generic failure code.
inline constexpr std::uint32_t kUnexpectedFailure = 0x80004005;

struct PassServices {
    std::shared_ptr<wmi::ConnectionFactory> management;
    std::shared_ptr<netenum::WNetApi> network;
};

// Fills a pass's context for a report: the dispatch, or a stand-in in tests.
using Collector = std::function<void(const ReportDefinition&, ReportContext&)>;

// The dispatch: the report's collector over `ctx`. "Network Computers"
// without an enumeration service fails with an error saying so.
void runCollector(const ReportDefinition& report, ReportContext& ctx, netenum::WNetApi* network);

struct PassJob {
    const ReportDefinition* report = nullptr;  // a definition lives for the whole program
    std::string computer;
    PassServices services;
    std::unique_ptr<grid::Grid> grid;  // see freshGrid()
    std::stop_token token;
    Collector collector;  // empty: runCollector
    // Told on the pass's thread, as the collector asks; the window queues
    // them to its own thread.
    std::function<void(bool visible)> intervalVisible;
    std::function<void()> resetPointer;
};

struct PassOutcome {
    std::unique_ptr<grid::Grid> grid;   // the rows, already in the shown order
    std::optional<Error> failure;       // what the collector raised
    std::optional<Error> shownFailure;  // what a report showed as its failure row
    std::string emptyReason;            // why a report found nothing, where known
    std::string lostValues;             // the values the service could not read, counted
    bool endedCycle = false;            // a one-pass report made its end-of-pass call
    bool cancelled = false;             // the token was set before the pass ended
};

// A grid for a new pass: the columns and the sort settings of `shown`, no rows.
std::unique_ptr<grid::Grid> freshGrid(const grid::Grid& shown);

// Runs the pass on this thread, with the job's token as this thread's stop
// token, and returns what it brought.
PassOutcome runPass(PassJob& job);

// Runs the pass on a thread of its own that owns the job, and hands the
// outcome to `done` on that thread. The thread is never waited for: one
// stuck in a call that no token reaches finishes on its own later, touching
// only what it owns (the job, shared services, static definitions).
void startPass(PassJob job, std::function<void(PassOutcome)> done);

// Waits until every pass startPass began has ended and let go of its job,
// or until `limit`; true when none is left. At exit, a pass still inside a
// library (libssh, OpenSSL) must not meet that library's teardown.
bool waitForPasses(std::chrono::milliseconds limit);

}  // namespace tavo::cycle
