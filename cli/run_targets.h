#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "collectors/report_definition.h"
#include "cycle/combine.h"
#include "cycle/pass.h"
#include "grid/error.h"
#include "grid/grid.h"

// One pass of one report on many computers at once, with a bound on how
// many are asked together, a deadline for the whole run and Ctrl+C.
namespace tavo::cli {

using cycle::TargetOutcome;

enum class RunEnd { Complete, TimedOut, Interrupted };

struct RunRequest {
    const ReportDefinition* report = nullptr;  // a category ...
    std::string query;                         // ... or any query (the generic report)
    std::vector<std::string> computers;
    int jobs = 8;
    std::optional<std::chrono::milliseconds> timeout;
    cycle::PassServices services;
    // Stands in for the real dispatch in tests.
    cycle::Collector collector;
    // Told on the calling thread after each computer, while the run goes on.
    std::function<void(std::size_t finished, std::size_t total)> progress;
    // Where given, each computer's outcome is handed over on the calling
    // thread as soon as every computer asked before it has been: a computer
    // that ends early waits, and no worker starts a computer more than
    // `buffered` places ahead of the last one handed over, so the rows held
    // at any moment do not grow with the number of computers.
    std::function<void(TargetOutcome&)> deliver;
    std::size_t buffered = 0;  // 0: twice the jobs
};

struct RunResult {
    // In the order asked; with `deliver`, the grids have gone to it.
    std::vector<TargetOutcome> targets;
    RunEnd end = RunEnd::Complete;
};

// Runs the passes on worker threads and returns when all have ended, when
// the timeout passes or when `interrupted` becomes true; then passes still
// running are asked to stop and reported as not answered at once (their
// threads belong to the background owner, which waits for them at exit).
RunResult runTargets(const RunRequest& request, const std::atomic<bool>& interrupted);

// True while runTargets waits for its passes: a signal then only raises
// `interrupted`; at any other moment it ends the program at once. Read
// from a signal handler, so it is a lock-free atomic.
std::atomic<bool>& collecting();

// The most passes that ran at the same moment during the last runTargets
// call of this process (for tests of the bound).
int peakConcurrency();

}  // namespace tavo::cli
