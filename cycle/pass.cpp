#include "cycle/pass.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "collectors/collectors.h"
#include "netenum/list_computers.h"
#include "support/background.h"
#include "support/cancellation.h"

namespace tavo::cycle {

namespace {

// What a collector sees of the window during a pass on a worker.
class PassContext : public ReportContext {
  public:
    PassContext(PassJob& job, PassOutcome& out) : job_(job), out_(out) {}

    std::string computer() const override { return job_.computer; }
    grid::Grid& results() override { return *job_.grid; }
    void setIntervalVisible(bool visible) override {
        if (job_.intervalVisible) job_.intervalVisible(visible);
    }
    void resetPointer() override {
        if (job_.resetPointer) job_.resetPointer();
    }
    void endOfPass() override { out_.endedCycle = true; }
    void passFailed(const Error& failure) override { out_.shownFailure = failure; }
    void passEmpty(const std::string& why) override { out_.emptyReason = why; }
    void passIncomplete(const std::string& lost) override { out_.lostValues = lost; }
    // The window's thread is never held by a pass, so it has nothing waiting.
    void processEvents() override {}
    wmi::ConnectionFactory& management() override {
        if (!job_.services.management)
            throw Error(errc::kFailed, "No management service is available");
        return *job_.services.management;
    }
    std::stop_token stopToken() const override { return job_.token; }

  private:
    PassJob& job_;
    PassOutcome& out_;
};

}  // namespace

void runCollector(const ReportDefinition& report, ReportContext& ctx, netenum::WNetApi* network) {
    std::int16_t onepass = report.onePass ? -1 : 0;
    switch (report.collector) {
        case CollectorKind::DriveMon:
            DriveMon(ctx);
            break;
        case CollectorKind::NetMon:
            NetMon(ctx);
            break;
        case CollectorKind::PrintMon:
            PrintMon(ctx);
            break;
        case CollectorKind::GetResults:
            GetResults(ctx, std::string(report.managementClass), onepass);
            break;
        case CollectorKind::ListComputers:
            if (!network)
                throw Error(errc::kFailed,
                            "The network neighbourhood cannot be listed: no enumeration service");
            ListComputers(ctx, *network, onepass);
            break;
    }
}

std::unique_ptr<grid::Grid> freshGrid(const grid::Grid& shown) {
    auto g = std::make_unique<grid::Grid>();
    for (int i = 1; i <= shown.columnsCount(); ++i)
        g->columnsAdd(shown.column(i).Text, shown.column(i).Width);
    g->setSort(shown.SortKey(), shown.SortOrder(), shown.Sorted());
    return g;
}

PassOutcome runPass(PassJob& job) {
    PassOutcome out;
    if (!job.grid) job.grid = std::make_unique<grid::Grid>();
    StopScope scope(job.token);
    try {
        PassContext ctx(job, out);
        // One batch for the whole pass: a sorted grid sorts once at the end
        // rather than placing every row as it comes.
        struct Batch {
            grid::Grid& g;
            explicit Batch(grid::Grid& g) : g(g) { g.beginUpdate(); }
            ~Batch() { g.endUpdate(); }
        } batch(*job.grid);
        if (job.report) {
            if (job.collector)
                job.collector(*job.report, ctx);
            else
                runCollector(*job.report, ctx, job.services.network.get());
        }
        // Sorted here, so the window's swap costs no sort.
        job.grid->shownOrder();
    } catch (const Error& e) {
        out.failure = e;
    } catch (const std::exception& e) {
        out.failure = Error(kUnexpectedFailure, e.what());
    } catch (...) {
        out.failure = Error(kUnexpectedFailure, "The pass failed for an unknown reason");
    }
    out.cancelled = job.token.stop_requested();
    out.grid = std::move(job.grid);
    return out;
}

namespace {

struct Running {
    std::mutex mutex;
    std::condition_variable ended;
    int count = 0;
};

// Never destroyed: a pass that outlives the wait at exit still counts down.
Running& running() {
    static auto* r = new Running;
    return *r;
}

}  // namespace

void startPass(PassJob job, std::function<void(PassOutcome)> done) {
    {
        std::lock_guard lock(running().mutex);
        ++running().count;
    }
    // On Windows the management back end joins COM on this thread for as
    // long as its connection lives.
    background::start([job = std::move(job), done = std::move(done)](std::stop_token) mutable {
        {
            PassJob mine = std::move(job);
            auto tell = std::move(done);
            PassOutcome out = runPass(mine);
            if (tell) tell(std::move(out));
        }  // the job and what it holds (a session, a connection) go here
        std::lock_guard lock(running().mutex);
        --running().count;
        running().ended.notify_all();
    });
}

bool waitForPasses(std::chrono::milliseconds limit) {
    std::unique_lock lock(running().mutex);
    return running().ended.wait_for(lock, limit, [] { return running().count == 0; });
}

}  // namespace tavo::cycle
