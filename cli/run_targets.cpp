#include "cli/run_targets.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <stop_token>

#include "collectors/collectors.h"
#include "support/background.h"

namespace tavo::cli {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> gPeak{0};
std::atomic<bool> gCollecting{false};

// What the workers and the caller share. Held by shared_ptr: a worker still
// leaving a remote call when the run ends finds it intact; the background
// owner waits for it at exit.
struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<TargetOutcome> outcomes;
    std::vector<bool> ended;
    std::size_t next = 0;
    std::size_t finished = 0;
    std::size_t delivered = 0;  // outcomes handed to the request's deliver
    std::size_t window = 0;     // how far ahead of `delivered` a computer may start
    bool closed = false;        // the caller has taken the results; late ones are dropped
    std::stop_source stop;
    std::atomic<int> running{0};
};

void work(const std::shared_ptr<Shared>& shared, const RunRequest& request) {
    for (;;) {
        std::size_t index = 0;
        {
            std::unique_lock lock(shared->mutex);
            // Wait while the outcomes not yet handed over fill the window.
            shared->changed.wait(lock, [&] {
                return shared->closed || shared->stop.stop_requested() ||
                       shared->next >= request.computers.size() ||
                       shared->next < shared->delivered + shared->window;
            });
            if (shared->closed || shared->stop.stop_requested() ||
                shared->next >= request.computers.size())
                return;
            index = shared->next++;
        }
        const int now = ++shared->running;
        for (int peak = gPeak.load(); now > peak && !gPeak.compare_exchange_weak(peak, now);) {
        }

        cycle::PassJob job;
        job.report = request.report;
        job.computer = request.computers[index];
        job.services = request.services;
        job.token = shared->stop.get_token();
        job.grid = std::make_unique<grid::Grid>();
        if (request.report) {
            // The columns the window lays out at RUN, before the first pass.
            addColumns(*job.grid, runLayout(request.report->category).columns);
            job.collector = request.collector;
        } else {
            const std::string query = request.query;
            job.collector =
                request.collector
                    ? request.collector
                    : cycle::Collector([query](const ReportDefinition&, ReportContext& ctx) {
                          GetQueryResults(ctx, query);
                      });
            static const ReportDefinition kQuery{
                "Query", CollectorKind::GetResults, {}, {}, false, 0, false,
                nullptr, ColumnLayout::PerProperty, {}, 0};
            job.report = &kQuery;
        }
        cycle::PassOutcome out = cycle::runPass(job);
        --shared->running;

        std::lock_guard lock(shared->mutex);
        shared->changed.notify_all();
        if (shared->closed) return;
        // A pass cut short by the stop is reported by the caller, which knows why.
        if (out.cancelled) continue;
        TargetOutcome& t = shared->outcomes[index];
        t.grid = std::move(out.grid);
        t.lostValues = std::move(out.lostValues);
        if (out.failure)
            t.failure = out.failure;
        else if (out.shownFailure)
            t.failure = out.shownFailure;
        shared->ended[index] = true;
        ++shared->finished;
    }
}

}  // namespace

std::atomic<bool>& collecting() {
    return gCollecting;
}

int peakConcurrency() {
    return gPeak.load();
}

RunResult runTargets(const RunRequest& request, const std::atomic<bool>& interrupted) {
    gPeak = 0;
    auto shared = std::make_shared<Shared>();
    const std::size_t total = request.computers.size();
    shared->outcomes.resize(total);
    shared->ended.assign(total, false);
    for (std::size_t i = 0; i < total; ++i) shared->outcomes[i].computer = request.computers[i];
    const std::size_t jobs = static_cast<std::size_t>(std::max(1, request.jobs));
    shared->window = !request.deliver ? total : request.buffered > 0 ? request.buffered : 2 * jobs;
    shared->window = std::max(shared->window, jobs);

    // The request is copied into each worker's keeping for the same reason
    // as the shared state.
    auto kept = std::make_shared<const RunRequest>(request);
    const std::size_t workers =
        std::min<std::size_t>(total, static_cast<std::size_t>(std::max(1, request.jobs)));
    for (std::size_t w = 0; w < workers; ++w)
        background::start([shared, kept](std::stop_token) { work(shared, *kept); });

    RunResult result;
    const auto deadline =
        request.timeout ? Clock::now() + *request.timeout : Clock::time_point::max();
    std::size_t told = 0;
    std::unique_lock lock(shared->mutex);
    // Hands over the outcome at the front while it has ended (or, at the
    // end of a cut-short run, whatever it is).
    const auto deliverReady = [&](bool all) {
        if (!request.deliver) return;
        while (shared->delivered < total && (all || shared->ended[shared->delivered])) {
            TargetOutcome& t = shared->outcomes[shared->delivered];
            lock.unlock();
            request.deliver(t);
            lock.lock();
            t.grid.reset();
            ++shared->delivered;
            shared->changed.notify_all();
        }
    };
    collecting().store(true);
    for (;;) {
        deliverReady(false);
        if (shared->finished == total) break;
        if (interrupted.load()) {
            result.end = RunEnd::Interrupted;
            break;
        }
        if (Clock::now() >= deadline) {
            result.end = RunEnd::TimedOut;
            break;
        }
        // Ctrl+C arrives as a flag, so the wait is short.
        shared->changed.wait_for(lock, std::chrono::milliseconds(50));
        if (request.progress && shared->finished != told) {
            told = shared->finished;
            lock.unlock();
            request.progress(told, total);
            lock.lock();
        }
    }
    collecting().store(false);
    if (result.end != RunEnd::Complete) {
        // Passes still out are told to stop and reported as not answered at
        // once; the program waits for their threads once, at exit.
        shared->stop.request_stop();
        const std::string why = result.end == RunEnd::TimedOut
                                    ? "no answer within the time the run was given (--timeout)"
                                    : "interrupted before it answered";
        for (std::size_t i = 0; i < total; ++i) {
            if (shared->ended[i]) continue;
            shared->outcomes[i].failure = Error(errc::kTimedOut, why);
            shared->outcomes[i].unfinished = true;
        }
    }
    // Workers still out no longer touch what is handed over: closed, their
    // late results are dropped.
    shared->closed = true;
    shared->changed.notify_all();
    deliverReady(true);
    result.targets = std::move(shared->outcomes);
    return result;
}

}  // namespace tavo::cli
