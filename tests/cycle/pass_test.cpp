// A pass on its own: the dispatch, cancellation between objects, failures and
// the end-of-pass call, and the post that outlives its window.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "collectors/report_definition.h"
#include "cycle/cancellation.h"
#include "cycle/pass.h"
#include "cycle/window_post.h"
#include "support/fake_management.h"

namespace tavo::cycle {
namespace {

using testing::FakeBackend;
using testing::FakeFactory;
using testing::FakeObject;

// A result set that hands out objects for ever, asking the pass to stop
// after `stopAfter` of them.
class EndlessResults : public wmi::ResultSet {
  public:
    EndlessResults(std::stop_source& stop, int stopAfter) : stop_(stop), stopAfter_(stopAfter) {}
    std::unique_ptr<wmi::Object> next() override {
        if (++given_ == stopAfter_) stop_.request_stop();
        auto o = std::make_unique<FakeObject>();
        o->with("Name", "p" + std::to_string(given_)).with("Status", "OK");
        return o;
    }
    int given() const { return given_; }

  private:
    std::stop_source& stop_;
    int stopAfter_;
    int given_ = 0;
};

class EndlessService : public wmi::ConnectionFactory {
  public:
    EndlessService(std::stop_source& stop, int stopAfter) : stop_(stop), stopAfter_(stopAfter) {}
    std::unique_ptr<wmi::Connection> connect(const std::string&) override {
        struct C : wmi::Connection {
            EndlessService& s;
            explicit C(EndlessService& s) : s(s) {}
            std::unique_ptr<wmi::ResultSet> execQuery(const std::string&) override {
                return std::make_unique<EndlessResults>(s.stop_, s.stopAfter_);
            }
        };
        return std::make_unique<C>(*this);
    }

  private:
    std::stop_source& stop_;
    int stopAfter_;
};

PassJob jobFor(const char* category, std::shared_ptr<wmi::ConnectionFactory> service) {
    PassJob job;
    job.report = findReport(category);
    job.computer = "PC1";
    job.services.management = std::move(service);
    job.grid = std::make_unique<grid::Grid>();
    return job;
}

TEST(Pass, StopBetweenObjectsEndsAnEndlessWalkOfEveryCollectorKind) {
    for (const char* category : {"Processes", "Printers"}) {
        SCOPED_TRACE(category);
        std::stop_source stop;
        PassJob job = jobFor(category, std::make_shared<EndlessService>(stop, 3));
        job.token = stop.get_token();
        if (findReport(category)->layout == ColumnLayout::AtRun)
            addColumns(*job.grid, runLayout(category).columns);
        PassOutcome out = runPass(job);
        EXPECT_TRUE(out.cancelled);
        EXPECT_FALSE(out.failure);
        ASSERT_TRUE(out.grid);
        // STOP came while the third object was fetched: it is not added.
        EXPECT_EQ(out.grid->itemsCount(), 2);
    }
}

TEST(Pass, TheTokenIsThisThreadsForTheLengthOfThePass) {
    std::stop_source stop;
    PassJob job = jobFor("BIOS", nullptr);
    job.token = stop.get_token();
    bool sawToken = false;
    job.collector = [&](const ReportDefinition&, ReportContext& ctx) {
        stop.request_stop();
        sawToken = currentStopToken().stop_requested() && ctx.stopToken().stop_requested();
    };
    runPass(job);
    EXPECT_TRUE(sawToken);
    EXPECT_FALSE(currentStopToken().stop_possible()) << "the thread's token is put back";
}

TEST(Pass, OnePassReportEndsTheCycleAndItsRowsComeBackSorted) {
    auto backend = std::make_shared<FakeBackend>();
    auto& script = backend->script("SELECT * FROM Win32_BIOS");
    for (const char* name : {"b", "c", "a"}) script.add(FakeObject().with("Name", name));
    PassJob job = jobFor("BIOS", std::make_shared<FakeFactory>(backend));
    job.grid->setSort(1, 0, true);  // sorted by the first property, as the window was
    bool hidden = false;
    job.intervalVisible = [&](bool visible) { hidden = !visible; };
    PassOutcome out = runPass(job);
    EXPECT_FALSE(out.failure);
    EXPECT_TRUE(out.endedCycle);
    EXPECT_TRUE(hidden) << "the one-pass report hides the interval field";
    ASSERT_EQ(out.grid->itemsCount(), 3);
    EXPECT_EQ(out.grid->shownItem(1).SubItems(1), "a");

    // The window takes the rows in one swap and keeps its own sort settings.
    grid::Grid shown;
    shown.columnsAdd("Before");
    shown.columnsAdd("Count");
    shown.itemsAdd("k", "old");
    shown.setSort(1, 0, true);
    shown.takeContents(*out.grid);
    // The previous rows go back to the pass's grid, to be freed elsewhere,
    // and still answer to it.
    ASSERT_EQ(out.grid->itemsCount(), 1);
    EXPECT_EQ(out.grid->columnsCount(), 2);
    out.grid->item(1).setSubItems(1, "9");
    EXPECT_EQ(out.grid->shownItem(1).SubItems(1), "9");
    EXPECT_EQ(shown.itemsCount(), 3);
    EXPECT_EQ(shown.shownItem(1).SubItems(1), "a");
    EXPECT_EQ(shown.shownItem(3).SubItems(1), "c");
    shown.item(1).setSubItems(1, "z");  // the rows now answer to the shown grid
    EXPECT_EQ(shown.shownItem(3).SubItems(1), "z");
}

TEST(Pass, AFailingMonitorReportsItsErrorAndAnyOtherExceptionToo) {
    auto backend = std::make_shared<FakeBackend>();
    backend->failConnect();
    PassJob job = jobFor("Printers", std::make_shared<FakeFactory>(backend));
    PassOutcome out = runPass(job);
    ASSERT_TRUE(out.failure);
    EXPECT_EQ(out.failure->number(), errc::kServerUnavailable);

    PassJob odd = jobFor("Services", nullptr);
    odd.collector = [](const ReportDefinition&, ReportContext&) {
        throw std::runtime_error("boom");
    };
    out = runPass(odd);
    ASSERT_TRUE(out.failure);
    EXPECT_EQ(out.failure->number(), kUnexpectedFailure);
    EXPECT_EQ(out.failure->description(), "boom");

    PassJob neighbourhood = jobFor("Network Computers", nullptr);
    out = runPass(neighbourhood);
    ASSERT_TRUE(out.failure) << "no enumeration service is an error, not an empty list";
    EXPECT_NE(out.failure->description().find("network"), std::string::npos);
}

TEST(Pass, FreshGridHasTheShownColumnsAndSortButNoRows) {
    grid::Grid shown;
    addColumns(shown, runLayout("Printers").columns);
    shown.itemsAdd("k", "row");
    shown.setSort(3, 1, true);
    auto g = freshGrid(shown);
    EXPECT_EQ(g->columnsCount(), 18);
    EXPECT_EQ(g->column(8).Width, grid::kDefaultColumnWidth);
    EXPECT_EQ(g->itemsCount(), 0);
    EXPECT_EQ(g->SortKey(), 3);
    EXPECT_EQ(g->SortOrder(), 1);
    EXPECT_TRUE(g->Sorted());
}

TEST(Pass, AClosedPostDropsWhatAPassSendsLate) {
    std::vector<std::function<void()>> queued;
    auto post = std::make_shared<WindowPost>(
        [&](std::function<void()> f) { queued.push_back(std::move(f)); });
    std::promise<void> release;
    std::promise<bool> posted;
    PassJob job = jobFor("BIOS", nullptr);
    auto gate = release.get_future().share();
    job.collector = [gate](const ReportDefinition&, ReportContext&) { gate.wait(); };
    startPass(std::move(job),
              [post, &posted](PassOutcome) { posted.set_value(post->post([] {})); });
    post->close();  // the window goes while the pass is stuck
    release.set_value();
    auto result = posted.get_future();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(result.get());
    EXPECT_TRUE(queued.empty());
}

TEST(Pass, ExitWaitsForAStoppedPassToLetGoOfItsJob) {
    // What the job holds (a remote session, say) must be gone before the
    // program tears its libraries down.
    struct Held {
        std::atomic<bool>& released;
        explicit Held(std::atomic<bool>& r) : released(r) {}
        ~Held() { released = true; }
    };
    std::atomic<bool> released{false};
    std::stop_source stop;
    PassJob job = jobFor("BIOS", nullptr);
    job.token = stop.get_token();
    auto held = std::make_shared<Held>(released);
    job.collector = [held](const ReportDefinition&, ReportContext&) {
        while (!currentStopToken().stop_requested())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    held.reset();
    startPass(std::move(job), [](PassOutcome) {});
    EXPECT_FALSE(waitForPasses(std::chrono::milliseconds(100)));
    EXPECT_FALSE(released);
    stop.request_stop();
    EXPECT_TRUE(waitForPasses(std::chrono::seconds(10)));
    EXPECT_TRUE(released);
}

}  // namespace
}  // namespace tavo::cycle
