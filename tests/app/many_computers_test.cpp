// Several computers in one window: one grid under a Computer column, a
// failing computer as its red row, a slow one keeping its last rows, and the
// target lists from a file and from the menu.
#include <sys/stat.h>

#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <atomic>

#include "main_fixture.h"

namespace tavo::testing {
namespace {

std::vector<std::string> cells(const grid::Grid& g, int column) {
    std::vector<std::string> out;
    for (int i = 1; i <= g.itemsCount(); ++i) out.emplace_back(g.shownItem(i).cell(column));
    return out;
}

TEST_F(MainTest, SeveralComputersShareOneGridAndASlowOneDoesNotHoldTheOthersBack) {
    chooseCategory("Processes");
    auto slow = std::make_shared<Gate>();
    auto holdSlow = std::make_shared<std::atomic<bool>>(false);
    auto round = std::make_shared<std::atomic<int>>(0);
    window->pass = [slow, holdSlow, round](ReportContext& ctx, const TestMain::Call&) {
        const std::string computer = ctx.computer();
        if (computer == "down") throw Error(0x800706BA, "The RPC server is unavailable");
        if (computer == "slow" && *holdSlow) slow->wait();
        grid::Grid& g = ctx.results();
        while (g.columnsCount() < 2) g.columnsAdd(g.columnsCount() == 0 ? "Status" : "Name");
        g.itemsAdd("p", "", 1).setSubItems(1, "init-" + std::to_string(round->load()));
    };
    field("txtComputer")->setText("up, down slow up");
    run();
    const grid::Grid& g = window->results();
    ASSERT_GE(g.columnsCount(), 3);
    EXPECT_EQ(g.column(1).Text, "Computer");
    EXPECT_EQ(g.column(g.columnsCount()).Text, "Error");
    // In the order typed, each once; the failure is a red row of its own.
    EXPECT_EQ(cells(g, 0), (std::vector<std::string>{"up", "down", "slow"}));
    EXPECT_EQ(g.shownItem(2).SmallIcon(), 3);
    EXPECT_NE(g.shownItem(2).cell(g.columnsCount() - 1).find("RPC server"), std::string::npos);
    EXPECT_TRUE(label("lblTime")->toolTip().contains("2 of 3 computers answered"))
        << label("lblTime")->toolTip().toStdString();
    EXPECT_TRUE(window->isRunning());

    // The next pass: "slow" has not answered by the tick after it, so the
    // others' new rows are shown with its last ones.
    *holdSlow = true;
    *round = 1;
    window->tmrPing_Timer();
    ASSERT_TRUE(slow->waiting(1));
    ASSERT_TRUE(runEventsUntil([&] { return window->computerRounds()->running() == 1; }));
    *round = 2;
    window->tmrPing_Timer();
    ASSERT_TRUE(runEventsUntil([&] { return cells(g, 2).front() == "init-2"; }));
    EXPECT_EQ(window->computerRounds()->running(), 1u);
    EXPECT_EQ(cells(g, 2), (std::vector<std::string>{"init-2", "", "init-0"}));
    EXPECT_NE(g.shownItem(3).cell(g.columnsCount() - 1).find("Not answered in time"),
              std::string::npos);
    EXPECT_EQ(g.rowMarks(2) & grid::kRowOld, grid::kRowOld);
    EXPECT_EQ(g.rowMarks(0) & grid::kRowOld, 0);
    EXPECT_TRUE(label("lblTime")->toolTip().contains("1 of 3 computers answered"))
        << label("lblTime")->toolTip().toStdString();

    // STOP lets the slow pass go without waiting for it; what it brings is dropped.
    run();
    slow->open();
    ASSERT_TRUE(slow->passed(1));
    EXPECT_TRUE(settle(*window));
    EXPECT_EQ(cells(g, 2), (std::vector<std::string>{"init-2", "", "init-0"}));
}

TEST_F(MainTest, AOnePassReportAsksEachComputerOnceAndEndsWithTheLast) {
    chooseCategory("BIOS");
    auto slow = std::make_shared<Gate>();
    window->pass = [slow](ReportContext& ctx, const TestMain::Call&) {
        if (ctx.computer() == "slow") slow->wait();
        ctx.results().itemsAdd("", ctx.computer());
        ctx.endOfPass();
    };
    field("txtComputer")->setText("quick slow");
    window->cmdSwitch_Click();
    ASSERT_TRUE(slow->waiting(1));
    ASSERT_TRUE(runEventsUntil([&] { return window->computerRounds()->running() == 1; }));
    // The interval passing while "slow" is still out asks nobody again.
    window->tmrPing_Timer();
    EXPECT_EQ(window->calls.size(), 2u);
    EXPECT_TRUE(window->isRunning());
    slow->open();
    ASSERT_TRUE(runEventsUntil([&] { return !window->isRunning(); }));
    EXPECT_EQ(window->calls.size(), 2u);
    EXPECT_EQ(cells(window->results(), 0), (std::vector<std::string>{"quick", "slow"}));
}

TEST_F(MainTest, ComputerListsComeFromAFileWithoutWaitingOnAFifo) {
    QTemporaryDir dir;
    const QString list = dir.filePath("hosts.txt");
    {
        QFile f(list);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        // Longer than a line edit keeps by default (32767), so a cut shows.
        QByteArray text = "# web servers\n";
        for (int i = 0; i < 3000; ++i) text += "web" + QByteArray::number(i) + ".example.org\n";
        f.write(text);
    }
    dialogs->file = list;
    window->mnuComputersFromFile_Click();
    const QString typed = field("txtComputer")->text();
    EXPECT_TRUE(typed.startsWith("web0.example.org, web1.example.org, "));
    EXPECT_TRUE(typed.endsWith(", web2999.example.org")) << typed.right(40).toStdString();

    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    dialogs->file = fifo;
    window->mnuComputersFromFile_Click();  // would block for good if it opened the FIFO to read
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_TRUE(dialogs->messages[0].text.contains("not a regular file"));
    EXPECT_EQ(field("txtComputer")->text(), typed);
}

}  // namespace
}  // namespace tavo::testing
