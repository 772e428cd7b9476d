// The RUN/STOP cycle: its states, the tick, the layouts and the error report.
#include <QComboBox>
#include <QCursor>
#include <QHeaderView>
#include <QRegularExpression>
#include <QTreeView>
#include <algorithm>
#include <atomic>

#include "app/switch_button.h"
#include "collectors/report_definition.h"
#include "grid/export.h"
#include "main_fixture.h"

namespace tavo::testing {
namespace {

using Calls = std::vector<std::string>;

Calls names(const TestMain& m) {
    Calls out;
    for (const auto& c : m.calls)
        out.push_back(c.collector + (c.wmiclass.empty() ? "" : ":") + c.wmiclass);
    return out;
}

class CycleTest : public MainTest {
  protected:
    QColor switchColour() {
        return dynamic_cast<SwitchButton&>(*button("cmdSwitch"))
            .shownPalette()
            .color(QPalette::Button);
    }
    void expectStopped() {
        EXPECT_EQ(button("cmdSwitch")->text(), "RUN");
        EXPECT_EQ(switchColour(), QColor("#C0FFC0"));
        EXPECT_FALSE(timer()->isActive());
        EXPECT_TRUE(control<QWidget>("cmbFunction")->isEnabled());
        EXPECT_TRUE(field("txtComputer")->isEnabled());
        EXPECT_TRUE(button("cmdExport")->isEnabled());
        EXPECT_TRUE(button("cmdExportHTM")->isEnabled());
    }
    void expectRunning(int intervalMs) {
        EXPECT_EQ(button("cmdSwitch")->text(), "STOP");
        EXPECT_EQ(switchColour(), QColor("#FFC0C0"));
        EXPECT_TRUE(timer()->isActive());
        EXPECT_EQ(timer()->interval(), intervalMs);
        for (const char* off :
             {"cmbFunction", "txtComputer", "txtFreq", "cmdExport", "cmdExportHTM"})
            EXPECT_FALSE(control<QWidget>(off)->isEnabled()) << off;
    }
    QStringList captions() {
        QStringList out;
        auto& g = window->results();
        for (int i = 1; i <= g.columnsCount(); ++i) out << QString::fromStdString(g.column(i).Text);
        return out;
    }
};

TEST_F(CycleTest, RunWithAnEmptyComputerOnlyAppliesTheStoppedState) {
    field("txtComputer")->setText("");
    run();
    expectStopped();
    EXPECT_TRUE(window->calls.empty());
    EXPECT_TRUE(label("lblTime")->text().isEmpty());
    EXPECT_EQ(label("lblCaption")->text(), " Tavo from tavo.example.org");
}

TEST_F(CycleTest, PeriodicReportRunsUntilStop) {
    chooseCategory("Processes");
    field("txtFreq")->setText("5");
    run();
    expectRunning(60000);
    EXPECT_EQ(names(*window), Calls{"GetResults:Win32_Process"});
    EXPECT_EQ(window->calls[0].onepass, 0);
    EXPECT_EQ(field("txtFreq")->text(), "60");
    EXPECT_FALSE(field("txtFreq")->isHidden());
    EXPECT_EQ(label("lblCaption")->text(), " Tavo from tavo.example.org - TESTPC");
    EXPECT_TRUE(label("lblTime")->text().startsWith("Updated "));
    EXPECT_TRUE(label("lblTime")->text().contains(QRegularExpression("\\d")));

    // A timer tick collects again and re-arms the timer for a full interval.
    tick();
    EXPECT_EQ(window->calls.size(), 2u);
    expectRunning(60000);

    run();  // STOP
    expectStopped();
    EXPECT_FALSE(field("txtFreq")->isEnabled()) << "STOP leaves the interval field disabled";
    EXPECT_EQ(label("lblCaption")->text(), " Tavo from tavo.example.org - TESTPC");
}

TEST_F(CycleTest, OnePassReportStopsByItself) {
    chooseCategory("BIOS");
    run();
    EXPECT_EQ(names(*window), Calls{"GetResults:Win32_BIOS"});
    EXPECT_EQ(window->calls[0].onepass, -1);
    expectStopped();
    EXPECT_TRUE(label("lblTime")->text().startsWith("Updated "));
    EXPECT_EQ(window->results().columnsCount(), 0);
}

TEST_F(CycleTest, DispatchByExactCategoryText) {
    struct Case {
        const char* category;
        const char* call;
        int onepass;
    };
    const Case cases[] = {{"Logical Drives", "DriveMon", -1},
                          {"Network Adapters", "NetMon", 0},
                          {"Printers", "PrintMon", 0},
                          {"Network Computers", "ListComputers", -1},
                          {"Motherboard", "GetResults:Win32_BaseBoard", -1},
                          {"Services", "GetResults:Win32_Service", 0}};
    for (const auto& c : cases) {
        window->calls.clear();
        chooseCategory(c.category);
        run();
        ASSERT_EQ(names(*window), Calls{c.call}) << c.category;
        EXPECT_EQ(window->calls[0].onepass, c.onepass) << c.category;
        if (button("cmdSwitch")->text() == "STOP") run();
    }
}

TEST_F(CycleTest, LayoutsAndIntervalsByCategory) {
    window->pass = nullptr;  // nothing ends the cycle
    chooseCategory("Logical Drives");
    run();
    expectRunning(20000);
    EXPECT_EQ(field("txtFreq")->text(), "20");
    EXPECT_TRUE(field("txtFreq")->isHidden());
    EXPECT_TRUE(label("lblFreq")->isHidden());
    EXPECT_EQ(captions(),
              QStringList({"Drive", "Description", "% Used", "Free Space", "Total Size",
                           "Drive Type", "File System", "Volume Name", "Dirty Volume"}));
    EXPECT_EQ(window->results().column(2).Width, 3000);
    run();

    field("txtFreq")->setText("7");
    chooseCategory("Network Adapters");
    run();
    expectRunning(30000);
    EXPECT_EQ(field("txtFreq")->text(), "30");
    EXPECT_FALSE(field("txtFreq")->isHidden()) << "a later RUN shows the field again";
    EXPECT_FALSE(label("lblFreq")->isHidden());
    EXPECT_EQ(captions().size(), 13);
    EXPECT_EQ(captions().value(12), "DNS 3");
    EXPECT_EQ(window->results().column(8).Width, 1440);
    run();

    chooseCategory("Printers");
    run();
    expectRunning(60000);
    EXPECT_EQ(captions().size(), 18);
    EXPECT_EQ(captions().value(0), "DeviceID");
    EXPECT_EQ(captions().value(17), "VerticalResolution");
    EXPECT_EQ(window->results().column(7).Width, 750);
    EXPECT_EQ(window->results().column(8).Width, tavo::grid::kDefaultColumnWidth);
    run();

    // Case matters: no layout, no collector, but the time is written and
    // the cycle goes on.
    chooseCategory("printers");
    window->calls.clear();
    label("lblTime")->clear();
    run();
    expectRunning(60000);
    EXPECT_EQ(window->results().columnsCount(), 0);
    EXPECT_TRUE(window->calls.empty());
    EXPECT_TRUE(label("lblTime")->text().startsWith("Updated "));
    tick();
    expectRunning(60000);
}

TEST_F(CycleTest, WaitPointerOnlyWhileAPassIsOut) {
    Gate gate;
    window->pass = [&](ReportContext&, const TestMain::Call&) { gate.wait(); };
    chooseCategory("Services");
    window->cmdSwitch_Click();
    ASSERT_TRUE(gate.waiting(1));
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EXPECT_FALSE(timer()->isActive()) << "no tick is due while the pass is out";
    gate.open();
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    expectRunning(60000);
    run();
}

TEST_F(CycleTest, ATickWhileAPassIsOutIsSkippedNotQueued) {
    Gate gate;
    window->pass = [&](ReportContext&, const TestMain::Call&) { gate.wait(); };
    chooseCategory("Processes");
    window->cmdSwitch_Click();
    ASSERT_TRUE(gate.waiting(1));
    window->tmrPing_Timer();
    window->tmrPing_Timer();
    gate.open();
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(window->calls.size(), 1u);
    expectRunning(60000);
    // The next tick after the pass collects again.
    tick();
    EXPECT_EQ(window->calls.size(), 2u);
    run();
}

TEST_F(CycleTest, StopAnswersAtOnceWhileThePassIsStuckAndItsEndOfPassChangesNothing) {
    chooseCategory("Network Computers");
    Gate gate;
    std::atomic<bool> returned{false};
    window->pass = [&](ReportContext& ctx, const TestMain::Call&) {
        ctx.results().columnsAdd("Stale");
        ctx.results().itemsAdd("", "stale", 1);
        gate.wait();  // stuck in a call
        ctx.endOfPass();
        returned = true;
    };
    label("lblTime")->setText("before");
    window->cmdSwitch_Click();
    ASSERT_TRUE(gate.waiting(1));
    const auto pressed = std::chrono::steady_clock::now();
    window->cmdSwitch_Click();  // STOP
    const auto answered = std::chrono::steady_clock::now() - pressed;
    expectStopped();
    EXPECT_LT(answered, std::chrono::milliseconds(250));
    EXPECT_EQ(window->cycle().state(), cycle::State::Stopping);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    gate.open();
    ASSERT_TRUE(runEventsUntil([&] { return returned.load(); }));
    ASSERT_TRUE(runEventsUntil([&] { return window->cycle().state() == cycle::State::Stopped; }));
    expectStopped();
    EXPECT_EQ(window->calls.size(), 1u) << "the end-of-pass call must not start a new cycle";
    EXPECT_EQ(window->results().itemsCount(), 0) << "a stopped pass's rows are dropped";
    EXPECT_EQ(label("lblTime")->text(), "before") << "nothing was updated";
}

// RUN set the new columns over the old rows: a STOP before the first pass
// ended showed the old count over blank cells and exported empty lines.
TEST_F(CycleTest, AStopBeforeTheFirstPassEndsLeavesAnEmptyGridWithItsColumns) {
    chooseCategory("Processes");
    window->pass = [](ReportContext& ctx, const TestMain::Call&) {
        for (int i = 0; i < 10; ++i) ctx.results().itemsAdd("", "row " + std::to_string(i), 1);
    };
    run();
    ASSERT_EQ(window->results().itemsCount(), 10);
    if (button("cmdSwitch")->text() == "STOP") window->cmdSwitch_Click();  // a periodic report
    ASSERT_TRUE(runEventsUntil([&] { return window->cycle().state() == cycle::State::Stopped; }));
    ASSERT_EQ(window->results().itemsCount(), 10);

    chooseCategory("Services");
    Gate gate;
    window->pass = [&](ReportContext&, const TestMain::Call&) { gate.wait(); };
    window->cmdSwitch_Click();
    ASSERT_TRUE(gate.waiting(1));
    window->cmdSwitch_Click();  // STOP
    gate.open();
    ASSERT_TRUE(runEventsUntil([&] { return window->cycle().state() == cycle::State::Stopped; }));

    const grid::Grid& g = window->results();
    EXPECT_EQ(g.itemsCount(), 0);
    EXPECT_EQ(g.columnsCount(), static_cast<int>(runLayout("Services").columns.size()));
    EXPECT_EQ(label("lblRows")->text(), "0 of 0 rows");
    const std::string csv = grid::csvText(g, grid::CsvCells::raw);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1) << "the header alone: " << csv;
}

TEST_F(CycleTest, StopThenRunWithAStuckPassStartsANewPassWhoseRowsWin) {
    chooseCategory("Services");
    Gate stuck;
    std::atomic<int> finished{0};
    std::atomic<int> number{0};
    window->pass = [&](ReportContext& ctx, const TestMain::Call&) {
        const int n = ++number;
        auto& g = ctx.results();
        g.columnsAdd("Pass");
        g.itemsAdd("", n == 1 ? "first" : "second", 1);
        if (n == 1) stuck.wait();
        ++finished;
    };
    window->cmdSwitch_Click();
    ASSERT_TRUE(stuck.waiting(1));
    window->cmdSwitch_Click();  // STOP
    window->cmdSwitch_Click();  // RUN at once: it does not wait for the stuck pass
    EXPECT_EQ(button("cmdSwitch")->text(), "STOP");
    ASSERT_TRUE(runEventsUntil([&] { return finished.load() == 1; }));
    ASSERT_TRUE(settle(*window));
    expectRunning(60000);
    ASSERT_EQ(window->results().itemsCount(), 1);
    EXPECT_EQ(window->results().item(1).Text(), "second");

    // The stuck pass comes back late: its rows are dropped, the new cycle runs on.
    stuck.open();
    ASSERT_TRUE(runEventsUntil([&] { return finished.load() == 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(window->results().item(1).Text(), "second");
    EXPECT_TRUE(dialogs->messages.empty());
    expectRunning(60000);
    run();
}

TEST_F(CycleTest, AStuckPassOutlivesItsWindowWithoutTouchingIt) {
    chooseCategory("Processes");
    auto gate = std::make_shared<Gate>();
    std::atomic<bool> returned{false};
    window->pass = [gate, &returned](ReportContext& ctx, const TestMain::Call&) {
        gate->wait();
        // The window is gone by now; the pass writes into its own grid.
        ctx.results().columnsAdd("Late");
        ctx.results().itemsAdd("", "late", 1);
        ctx.setIntervalVisible(false);
        ctx.resetPointer();
        returned = true;
    };
    window->cmdSwitch_Click();
    ASSERT_TRUE(gate->waiting(1));
    window.reset();
    gate->open();
    ASSERT_TRUE(runEventsUntil([&] { return returned.load(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(CycleTest, CollectorFailureIsReportedAndStopsTheCycle) {
    chooseCategory("Processes");
    window->pass = [](ReportContext& ctx, const TestMain::Call&) {
        auto& g = ctx.results();
        g.itemsClear();
        g.columnsAdd("Name");
        g.itemsAdd("", "init");
        g.itemsAdd("", "bash");
    };
    run();
    const QString goodTime = label("lblTime")->text();
    ASSERT_TRUE(goodTime.startsWith("Updated "));

    std::optional<Qt::CursorShape> pointerAtMessage;
    dialogs->onMessage = [&] {
        pointerAtMessage = QGuiApplication::overrideCursor()
                               ? QGuiApplication::overrideCursor()->shape()
                               : Qt::ArrowCursor;
    };
    window->pass = [](ReportContext& ctx, const TestMain::Call&) {
        ctx.results().itemsAdd("", "half a pass");
        throw tavo::Error(tavo::errc::kServerUnavailable, "The computer TESTPC is unavailable");
    };
    label("lblTime")->setText(goodTime);
    tick();

    ASSERT_EQ(dialogs->messages.size(), 1u);
    const auto& m = dialogs->messages[0];
    EXPECT_EQ(m.caption, "Tavo");
    EXPECT_TRUE(m.text.contains("0x800706BA")) << m.text.toStdString();
    EXPECT_TRUE(m.text.contains("The computer TESTPC is unavailable"));
    EXPECT_EQ(m.icon, Dialogs::Icon::Critical);
    EXPECT_EQ(pointerAtMessage, Qt::ArrowCursor);
    expectStopped();
    EXPECT_EQ(window->results().itemsCount(), 2) << "rows of the last good pass stay";
    EXPECT_EQ(label("lblTime")->text(), goodTime);

    // Other exceptions too, and on the first tick inside RUN.
    window->pass = [](ReportContext&, const TestMain::Call&) { throw std::runtime_error("boom"); };
    run();
    ASSERT_EQ(dialogs->messages.size(), 2u);
    EXPECT_TRUE(dialogs->messages[1].text.contains("boom"));
    expectStopped();
}

TEST_F(CycleTest, APassReachesTheViewInOneSwap) {
    auto* model = control<QTreeView>("Results")->model();
    ASSERT_NE(model, nullptr);
    int updates = 0;
    const auto count = [&] { ++updates; };
    QObject::connect(model, &QAbstractItemModel::modelReset, window.get(), count);
    QObject::connect(model, &QAbstractItemModel::rowsInserted, window.get(), count);
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, window.get(), count);
    QObject::connect(model, &QAbstractItemModel::layoutChanged, window.get(), count);
    QObject::connect(model, &QAbstractItemModel::dataChanged, window.get(), count);

    window->pass = [&](ReportContext& ctx, const TestMain::Call& c) {
        auto& g = ctx.results();
        g.itemsClear();
        g.columnsAdd("Name");
        g.columnsAdd("State");
        for (int i = 0; i < 1000; ++i) {
            g.itemsAdd("", "row " + std::to_string(i), 1);
            g.item(g.itemsCount()).setSubItems(1, "OK");
        }
        if (c.onepass) ctx.endOfPass();
    };
    chooseCategory("Network Computers");
    window->cmdSwitch_Click();
    updates = 0;  // SetGrid's layout came before the pass
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(updates, 1) << "1000 rows reach the view in one reset";
    EXPECT_EQ(model->rowCount(), 1000);
    EXPECT_EQ(model->columnCount(), 2);
    expectStopped();
}

TEST_F(CycleTest, SortAndSelectionAreKeptAcrossPasses) {
    // Each pass lists the same processes in another order, with new counts.
    std::atomic<int> passes{0};
    window->pass = [&](ReportContext& ctx, const TestMain::Call&) {
        const int n = ++passes;
        auto& g = ctx.results();
        g.itemsClear();
        g.columnsClear();
        g.columnsAdd("Name");
        g.columnsAdd("Count");
        std::vector<std::string> names{"bash", "init", "cron", "sshd"};
        if (n % 2 == 0) std::reverse(names.begin(), names.end());
        for (const auto& name : names) {
            g.itemsAdd(name, name, 1);
            g.item(g.itemsCount()).setSubItems(1, std::to_string(n));
        }
    };
    chooseCategory("Processes");
    run();
    auto* view = control<QTreeView>("Results");
    const auto shown = [&](int row) { return view->model()->index(row, 0).data().toString(); };
    emit view->header()->sectionClicked(0);  // descending by name
    ASSERT_EQ(shown(0), "sshd");
    view->selectionModel()->select(
        view->model()->index(2, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);  // "cron"
    ASSERT_EQ(view->selectionModel()->selectedRows().value(0).data().toString(), "cron");

    tick();
    EXPECT_EQ(window->results().SortKey(), 0);
    EXPECT_EQ(window->results().SortOrder(), 1);
    EXPECT_TRUE(window->results().Sorted());
    EXPECT_EQ(shown(0), "sshd");
    EXPECT_EQ(shown(3), "bash");
    EXPECT_EQ(view->model()->index(0, 1).data().toString(), "2") << "the new pass's rows";
    const auto selected = view->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected[0].data().toString(), "cron");
    run();
}

TEST_F(CycleTest, HeaderClicksSortAndExportButtonsExport) {
    window->pass = [](ReportContext& ctx, const TestMain::Call& c) {
        auto& g = ctx.results();
        g.itemsClear();
        g.columnsAdd("Name");
        g.columnsAdd("Count");
        for (auto [name, count] : {std::pair{"b", "9"}, {"a", "10"}, {"c", "1"}}) {
            g.itemsAdd("", name);
            g.item(g.itemsCount()).setSubItems(1, count);
        }
        if (c.onepass) ctx.endOfPass();
    };
    chooseCategory("BIOS");
    run();
    auto* view = control<QTreeView>("Results");
    const auto shownFirst = [&] { return view->model()->index(0, 0).data().toString(); };
    EXPECT_EQ(shownFirst(), "b");
    // First click sorts descending, the next one ascending, as text.
    emit view->header()->sectionClicked(1);
    EXPECT_EQ(shownFirst(), "b");  // "9" > "10" > "1"
    emit view->header()->sectionClicked(0);
    EXPECT_EQ(shownFirst(), "a");

    // The export buttons hand the grid to the export, which asks for a folder.
    button("cmdExport")->click();
    button("cmdExportHTM")->click();
    EXPECT_EQ(dialogs->folderChoices, 2);
}

}  // namespace
}  // namespace tavo::testing

namespace tavo::testing {
namespace {

// A report that shows its failure as a row also says why where "Updated"
// stands, and the next good pass puts "Updated" back.
TEST_F(CycleTest, AFailureShownAsARowIsNamedBesideTheInterval) {
    chooseCategory("Processes");
    window->pass = [](ReportContext& ctx, const TestMain::Call&) {
        ctx.results().itemsAdd("", "*", 2);
        ctx.passFailed(Error(errc::kServerUnavailable, "The computer TESTPC cannot be reached"));
    };
    run();
    EXPECT_EQ(label("lblTime")->toolTip(), "0x800706BA: The computer TESTPC cannot be reached");
    EXPECT_TRUE(label("lblTime")->text().startsWith("The computer"))
        << label("lblTime")->text().toStdString();
    EXPECT_TRUE(window->isRunning()) << "a failure row does not stop a periodic report";
    window->pass = [](ReportContext& ctx, const TestMain::Call&) {
        ctx.results().itemsAdd("", "ok");
    };
    tick();
    EXPECT_TRUE(label("lblTime")->text().startsWith("Updated "));
    EXPECT_TRUE(label("lblTime")->toolTip().isEmpty());
    run();  // stop
}

}  // namespace
}  // namespace tavo::testing

namespace tavo::testing {
namespace {

TEST_F(CycleTest, AnEmptyReportSaysWhyBesideTheInterval) {
    chooseCategory("Battery");
    window->pass = [](ReportContext& ctx, const TestMain::Call&) {
        ctx.passEmpty("this computer has no battery");
        ctx.endOfPass();
    };
    run();
    EXPECT_EQ(label("lblTime")->toolTip(), "No instances: this computer has no battery");
    // The label marks the pass's time, so a second pass with the same answer is seen ...
    EXPECT_TRUE(label("lblTime")->text().startsWith("No instances at "));
    EXPECT_TRUE(label("lblTime")->text().contains(QRegularExpression("\\d:\\d\\d")));
    // ... and the whole reason stands in the grid's empty area, until rows come.
    auto* note = control<QLabel>("emptyNote");
    EXPECT_TRUE(note->isVisibleTo(window.get()));
    EXPECT_EQ(note->text(), "No instances: this computer has no battery");
    chooseCategory("Processes");
    window->pass = [](ReportContext& ctx, const TestMain::Call&) {
        ctx.results().itemsAdd("", "ok");
    };
    run();
    EXPECT_FALSE(note->isVisibleTo(window.get()));
    run();  // stop
}

}  // namespace
}  // namespace tavo::testing
