// The grid as people use it: the filter in the strip, the column chooser
// remembered per category, copying, exports of what is shown, the keys.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QSettings>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <array>
#include <atomic>
#include <cstdio>
#include <memory>

#include "app/column_layout.h"
#include "app/filter_bar.h"
#include "app/results_tools.h"
#include "app/row_filter_model.h"
#include "grid/copy_text.h"
#include "main_fixture.h"

namespace tavo::testing {
namespace {

using Table = std::vector<std::vector<std::string>>;

class GridTools : public MainTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        settings = std::make_shared<QSettings>(dir.filePath("tavo.ini"), QSettings::IniFormat);
        exporting = std::make_shared<ExportingDialogs>();
        exporting->folder = dir.path();
        open();
    }
    // A window over the test's settings file, as a fresh run of the program.
    void open() {
        window.reset();
        MainServices services;
        services.management = std::make_shared<FakeFactory>(backend);
        services.dialogs = exporting;
        services.settings = settings;
        window = std::make_unique<TestMain>(services);
        dialogs = exporting;
    }

    QTreeView* results() { return control<QTreeView>("Results"); }
    QHeaderView* header() { return results()->header(); }
    QLineEdit* filterField() { return field("txtFilter"); }
    QStringList shownFirstColumn() {
        QStringList out;
        auto* m = results()->model();
        for (int r = 0; r < m->rowCount(); ++r) out << m->index(r, 0).data().toString();
        return out;
    }

    // Four services in the grid, as a pass leaves them.
    void fill() { fill(window->results()); }
    static void fill(grid::Grid& grid) {
        grid.beginUpdate();
        grid.itemsClear();
        if (grid.columnsCount() == 0) {
            for (const char* c : {"Name", "State", "Path"}) grid.columnsAdd(c);
        }
        const char* rows[][3] = {{"sshd", "Running", "/usr/sbin/sshd"},
                                 {"cups", "Stopped", "/usr/sbin/cupsd"},
                                 {"avahi", "Running", "/usr/sbin/avahi-daemon"},
                                 {"cron", "Degraded", "/usr/sbin/cron"}};
        int lamp = 1;
        for (auto& r : rows) {
            auto& item = grid.itemsAdd("", r[0], lamp++);
            for (int c = 1; c < grid.columnsCount() && c < 3; ++c) item.setSubItems(c, r[c]);
        }
        grid.endUpdate();
    }
    // Lays out the columns of a category the way RUN does, with no rows.
    void layOut(const char* category) {
        chooseCategory(category);
        run();
        if (window->isRunning()) run();
    }
    void activate() {
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    Table clipboardTable() {
        return grid::parseTabText(QApplication::clipboard()->text().toStdString());
    }
    QString readExport() {
        const QStringList files = QDir(dir.path()).entryList({"*.csv", "*.html"}, QDir::Files);
        if (files.isEmpty()) return {};
        QFile f(dir.filePath(files.last()));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    QTemporaryDir dir;
    std::shared_ptr<QSettings> settings;
    std::shared_ptr<ExportingDialogs> exporting;
};

TEST_F(GridTools, TheFilterHidesRowsAndCountsThem) {
    fill();
    auto* rows = label("lblRows");
    EXPECT_EQ(rows->text(), "4 of 4 rows");
    filterField()->setText("RUNNING");
    EXPECT_EQ(shownFirstColumn(), (QStringList{"sshd", "avahi"}));
    EXPECT_EQ(rows->text(), "2 of 4 rows");
    EXPECT_EQ(window->results().itemsCount(), 4) << "hidden, not removed";

    auto* lamps = control<QComboBox>("cmbLamps");
    ASSERT_EQ(lamps->count(), 4);  // and "Changed only"
    lamps->setCurrentIndex(1);     // yellow and red
    EXPECT_EQ(shownFirstColumn(), QStringList{"avahi"});
    filterField()->setText("stopped");  // cups, a yellow lamp
    EXPECT_EQ(shownFirstColumn(), QStringList{"cups"});
    lamps->setCurrentIndex(2);  // red only
    EXPECT_TRUE(shownFirstColumn().isEmpty());
    EXPECT_EQ(rows->text(), "0 of 4 rows");
    filterField()->clear();
    EXPECT_EQ(shownFirstColumn(), QStringList{"avahi"});
    lamps->setCurrentIndex(0);
    EXPECT_EQ(rows->text(), "4 of 4 rows");
}

TEST_F(GridTools, TheFilterHoldsAcrossPassesAndSorts) {
    chooseCategory("Services");
    window->pass = [](ReportContext& ctx, const TestMain::Call&) { fill(ctx.results()); };
    run();
    filterField()->setText("usr/sbin/c");
    EXPECT_EQ(shownFirstColumn(), (QStringList{"cups", "cron"}));
    window->resultsTools().setColumnShown(1, false);
    header()->moveSection(2, 1);
    tick();  // the next pass replaces every row
    EXPECT_EQ(shownFirstColumn(), (QStringList{"cups", "cron"}));
    // The columns as the user left them.
    EXPECT_TRUE(header()->isSectionHidden(1));
    EXPECT_EQ(header()->logicalIndex(1), 2);
    EXPECT_EQ(filterField()->text(), "usr/sbin/c");
    window->Results_ColumnClick(0);  // descending by name
    EXPECT_EQ(shownFirstColumn(), (QStringList{"cups", "cron"}));
    window->Results_ColumnClick(0);
    EXPECT_EQ(shownFirstColumn(), (QStringList{"cron", "cups"}));
    tick();
    EXPECT_EQ(shownFirstColumn(), (QStringList{"cron", "cups"}));
    EXPECT_EQ(label("lblRows")->text(), "2 of 4 rows");
    run();  // stop
}

TEST_F(GridTools, ExportsWriteTheFilteredRowsInTheShownColumns) {
    fill();
    window->Results_ColumnClick(0);                      // descending: sshd, cups, cron, avahi
    filterField()->setText("sbin/c");                    // cups and cron
    header()->moveSection(header()->visualIndex(2), 0);  // Path first
    window->resultsTools().setColumnShown(1, false);     // State hidden
    window->cmdExport_Click();
    const QString csv = readExport();
    EXPECT_EQ(csv, "Path,Name,\r\n/usr/sbin/cupsd,cups,\r\n/usr/sbin/cron,cron,\r\n");
    ASSERT_FALSE(exporting->messages.empty());
    EXPECT_TRUE(
        exporting->messages[0].text.endsWith("\n\n2 of 4 rows will be written (those shown)."))
        << exporting->messages[0].text.toStdString();

    QFile::remove(dir.filePath(QDir(dir.path()).entryList({"*.csv"}).first()));
    window->cmdExportHTM_Click();
    const QString html = readExport();
    EXPECT_TRUE(
        html.contains("<tr><th>Path</th><th>Name</th></tr>"
                      "<tr><td style='background-color:gold;'>/usr/sbin/cupsd</td>"
                      "<td>cups</td></tr>"))
        << html.toStdString();
    EXPECT_FALSE(html.contains("Running"));
}

TEST_F(GridTools, CopyWritesTheSelectedOrAllShownRowsWithACaptionLine) {
    fill();
    activate();
    window->resultsTools().setColumnShown(2, false);
    filterField()->setText("r");  // Running, Running, cron; cups is Stopped
    const Table shownRows = {
        {"Name", "State"}, {"sshd", "Running"}, {"avahi", "Running"}, {"cron", "Degraded"}};
    results()->setFocus();
    QTest::keyClick(results(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboardTable(), shownRows);

    results()->selectionModel()->select(
        results()->model()->index(2, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    results()->selectionModel()->select(results()->model()->index(0, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(results(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboardTable(),
              (Table{{"Name", "State"}, {"sshd", "Running"}, {"cron", "Degraded"}}));

    // In a text field Ctrl+C stays the field's own copy.
    filterField()->setFocus();
    filterField()->selectAll();
    QTest::keyClick(filterField(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "r");

    // The row menu: Copy as Ctrl+C, Copy cell the one cell under the pointer.
    const QRect cell = results()->visualRect(results()->model()->index(1, 1));
    std::unique_ptr<QMenu> menu(window->resultsTools().makeRowMenu(cell.center(), window.get()));
    auto* copyCell = menu->findChild<QAction*>("mnuCopyCell");
    ASSERT_NE(copyCell, nullptr);
    copyCell->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "Running");
    menu->findChild<QAction*>("mnuCopy")->trigger();
    EXPECT_EQ(clipboardTable().size(), 3u);
}

TEST_F(GridTools, TheHeaderMenuHidesShowsAndResetsColumns) {
    fill();
    std::unique_ptr<QMenu> menu(window->resultsTools().makeHeaderMenu(window.get()));
    QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 5);  // three columns, a separator, Reset
    EXPECT_EQ(actions[1]->text(), "State");
    EXPECT_TRUE(actions[1]->isChecked());
    actions[1]->toggle();
    EXPECT_TRUE(header()->isSectionHidden(1));
    actions[0]->toggle();
    // Only Path is left, and it cannot go.
    menu.reset(window->resultsTools().makeHeaderMenu(window.get()));
    actions = menu->actions();
    EXPECT_FALSE(actions[2]->isEnabled());
    window->resultsTools().setColumnShown(2, false);
    EXPECT_FALSE(header()->isSectionHidden(2));

    header()->moveSection(2, 0);
    actions.last()->trigger();  // Reset columns
    for (int c = 0; c < 3; ++c) {
        EXPECT_FALSE(header()->isSectionHidden(c));
        EXPECT_EQ(header()->visualIndex(c), c);
        EXPECT_GT(header()->sectionSize(c), 0);
    }
}

TEST_F(GridTools, ColumnLayoutsAreRememberedPerCategoryAcrossRuns) {
    layOut("Logical Drives");
    ASSERT_EQ(header()->count(), 9);
    EXPECT_TRUE(settings->allKeys().isEmpty()) << "nothing saved until the user changes something";
    window->resultsTools().setColumnShown(1, false);     // Description
    header()->moveSection(header()->visualIndex(8), 0);  // Dirty Volume first
    layOut("Network Adapters");
    EXPECT_EQ(header()->count(), 13);
    EXPECT_EQ(header()->hiddenSectionCount(), 0);
    EXPECT_EQ(header()->logicalIndex(0), 0);

    settings->sync();
    open();  // the next run of the program
    layOut("Logical Drives");
    EXPECT_TRUE(header()->isSectionHidden(1));
    EXPECT_EQ(header()->logicalIndex(0), 8);
    EXPECT_EQ(header()->logicalIndex(1), 0);
    EXPECT_EQ(header()->hiddenSectionCount(), 1);

    // Back to the design: nothing is kept for the category any more.
    window->resultsTools().resetColumns();
    open();
    layOut("Logical Drives");
    EXPECT_EQ(header()->hiddenSectionCount(), 0);
    EXPECT_EQ(header()->logicalIndex(0), 0);
    EXPECT_FALSE(settings->contains("columns/Logical Drives"));
}

// A pass's grid emptied under the columns of a stand-in Services report:
// a lamp, "Name" (the report's key) and "State".
tavo::grid::Grid& servicesGrid(ReportContext& ctx) {
    auto& g = ctx.results();
    g.itemsClear();
    g.columnsClear();
    for (const char* caption : {"", "Name", "State"}) g.columnsAdd(caption);
    return g;
}

// Two passes of a periodic report through the window: what changed is
// marked (not every row, not none), "Changed only" keeps just those rows,
// copies carry the marks, a gone row stays one pass only, "Show changes"
// off hides every mark and is remembered, and a new RUN starts unmarked.
TEST_F(GridTools, ChangesSinceTheLastPassAreMarkedFilteredCopiedAndRemembered) {
    using Services = std::vector<std::array<const char*, 2>>;
    auto passes = std::make_shared<std::vector<Services>>(
        std::vector<Services>{{{"sshd", "Running"}, {"cups", "Stopped"}, {"avahi", "Running"}},
                              {{"sshd", "Running"}, {"cron", "Running"}, {"cups", "Running"}},
                              {{"sshd", "Running"}, {"cron", "Running"}, {"cups", "Running"}}});
    auto next = std::make_shared<std::atomic<std::size_t>>(0);
    const TestMain::Pass pass = [passes, next](ReportContext& ctx, const TestMain::Call&) {
        auto& g = servicesGrid(ctx);
        const auto& rows = (*passes)[std::min(next->fetch_add(1), passes->size() - 1)];
        for (const auto& r : rows) {
            auto& item = g.itemsAdd("", "*", 1);
            item.setSubItems(1, r[0]);
            item.setSubItems(2, r[1]);
        }
    };
    window->pass = pass;
    auto* model = results()->model();
    const auto names = [&] {
        QStringList out;
        for (int r = 0; r < model->rowCount(); ++r) out << model->index(r, 1).data().toString();
        return out;
    };
    const auto row = [&](const QString& name) {
        for (int r = 0; r < model->rowCount(); ++r)
            if (model->index(r, 1).data().toString() == name) return r;
        return -1;
    };
    const auto tinted = [&](const QString& name, int column) {
        return model->index(row(name), column).data(Qt::BackgroundRole).isValid();
    };
    const auto greyed = [&](const QString& name) {
        return model->index(row(name), 1).data(Qt::ForegroundRole).isValid();
    };

    chooseCategory("Services");  // keyed by Name
    run();
    QAction* show = window->resultsTools().showChangesAction();
    EXPECT_TRUE(show->isEnabled() && show->isChecked()) << "on by default for a periodic report";
    EXPECT_FALSE(tinted("cups", 2)) << "a first pass has nothing to compare with";

    tick();
    EXPECT_EQ(names(), (QStringList{"sshd", "cron", "cups", "avahi"}));
    EXPECT_FALSE(tinted("sshd", 1) || tinted("sshd", 2) || greyed("sshd"));
    EXPECT_TRUE(tinted("cron", 1) && tinted("cron", 2)) << "new: the whole row";
    EXPECT_TRUE(tinted("cups", 2)) << "changed: its State";
    EXPECT_FALSE(tinted("cups", 1)) << "but not its Name";
    EXPECT_TRUE(greyed("avahi"));
    EXPECT_TRUE(model->index(row("cron"), 0).data(Qt::ToolTipRole).toString().contains("New"));

    auto* lamps = control<QComboBox>("cmbLamps");
    lamps->setCurrentIndex(lamps->findData(int(LampChoice::ChangedOnly)));
    EXPECT_EQ(names(), (QStringList{"cron", "cups", "avahi"}));
    window->resultsTools().copyRows();
    EXPECT_EQ(clipboardTable(), (Table{{"", "Name", "State", "Change"},
                                       {"*", "cron", "Running", "new"},
                                       {"*", "cups", "Running", "changed"},
                                       {"*", "avahi", "Running", "gone"}}));
    lamps->setCurrentIndex(0);

    tick();  // nothing changed: no marks, and avahi has gone for good
    EXPECT_EQ(names(), (QStringList{"sshd", "cron", "cups"}));
    EXPECT_FALSE(tinted("cron", 1) || tinted("cups", 2));

    // Off: the marks and the gone row go at once, and the copy has no Change.
    next->store(0);
    tick();
    ASSERT_EQ(names(), (QStringList{"sshd", "cups", "avahi", "cron"}));
    show->trigger();
    EXPECT_EQ(names(), (QStringList{"sshd", "cups", "avahi"}));
    EXPECT_FALSE(tinted("avahi", 1));
    window->resultsTools().copyRows();
    EXPECT_EQ(clipboardTable().at(0), (std::vector<std::string>{"", "Name", "State"}));
    run();  // stop

    // Remembered for the category in the next run of the program.
    settings->sync();
    open();
    window->pass = pass;
    model = results()->model();
    chooseCategory("Services");
    next->store(1);
    run();
    EXPECT_FALSE(window->resultsTools().showChangesAction()->isChecked());
    window->resultsTools().showChangesAction()->trigger();
    // A new RUN starts without marks, whatever the last cycle showed.
    run();
    next->store(0);
    run();
    EXPECT_FALSE(tinted("avahi", 1)) << "the first pass of a new RUN";
    run();
    chooseCategory("BIOS");
    run();
    EXPECT_FALSE(window->resultsTools().showChangesAction()->isEnabled()) << "one pass only";
}

// A pass too big to compare on the window's thread is compared beside it and
// taken in when that is done: the same marks, and settle() waits for them.
TEST_F(GridTools, ABigPassIsMarkedAsASmallOneIs) {
    constexpr int kRows = 170000;  // three columns: past the cells compared aside
    auto passes = std::make_shared<std::atomic<int>>(0);
    window->pass = [passes](ReportContext& ctx, const TestMain::Call&) {
        auto& g = servicesGrid(ctx);
        const bool second = passes->fetch_add(1) > 0;
        char name[32];
        // The second pass: the first row gone, the eighth stopped, one new.
        for (int r = second ? 1 : 0; r < kRows; ++r) {
            std::snprintf(name, sizeof name, "svc%06d", r);
            auto& item = g.itemsAdd("", "*", 1);
            item.setSubItems(1, name);
            item.setSubItems(2, second && r == 7 ? "Stopped" : "Running");
        }
        if (second) g.itemsAdd("", "*", 1).setSubItems(1, "new");
    };
    chooseCategory("Services");
    run();
    tick();
    const tavo::grid::Grid& g = window->results();
    ASSERT_EQ(g.itemsCount(), kRows + 1);  // the gone row stays this pass
    auto rowOf = [&](std::string_view name) {
        for (int r = 0; r < g.itemsCount(); ++r)
            if (g.item(r + 1).SubItems(1) == name) return static_cast<std::size_t>(r);
        return std::size_t(-1);
    };
    const std::size_t stopped = rowOf("svc000007"), fresh = rowOf("new"), gone = rowOf("svc000000"),
                      same = rowOf("svc000008");
    EXPECT_EQ(g.rowMarks(stopped), tavo::grid::kRowChanged);
    EXPECT_TRUE(g.cellChanged(stopped, 2));
    EXPECT_FALSE(g.cellChanged(stopped, 1));
    EXPECT_EQ(g.rowMarks(fresh), tavo::grid::kRowNew);
    EXPECT_EQ(g.rowMarks(gone), tavo::grid::kRowGone);
    EXPECT_EQ(g.rowMarks(same), 0);
    run();  // stop
}

TEST(LayoutStore, LayoutsReadBackWithAwkwardCaptionsAndBadEntriesReadAsNone) {
    QTemporaryDir dir;
    QSettings settings(dir.filePath("t.ini"), QSettings::IniFormat);
    LayoutStore store(&settings);
    const ColumnArrangement layout{{"", "a,b", "\"q\"", "", "x/y"}, {"", "a,b"}};
    store.setColumns("Environ Variables", layout);
    EXPECT_EQ(store.columns("Environ Variables"), layout);
    EXPECT_FALSE(store.columns("BIOS").has_value());
    settings.setValue("columns/BIOS", "not a layout");
    EXPECT_FALSE(store.columns("BIOS").has_value());
    LayoutStore none(nullptr);
    none.setColumns("BIOS", layout);
    EXPECT_FALSE(none.columns("BIOS").has_value());
}

TEST_F(GridTools, TheWindowComesBackWhereItWasLeft) {
    window->show();
    window->setGeometry(40, 30, 700, 400);
    window->close();
    open();
    window->show();
    EXPECT_EQ(window->size(), QSize(700, 400));
    EXPECT_EQ(window->pos(), QPoint(40, 30));
}

TEST_F(GridTools, KeysFindRunAndStop) {
    activate();
    QTest::keyClick(window.get(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(filterField()->hasFocus());
    QTest::keyClicks(filterField(), "abc");
    EXPECT_EQ(filterField()->text(), "abc");
    QTest::keyClick(filterField(), Qt::Key_Escape);
    EXPECT_TRUE(filterField()->text().isEmpty());

    chooseCategory("Services");
    field("txtComputer")->setFocus();
    QTest::keyClick(field("txtComputer"), Qt::Key_Return);
    EXPECT_TRUE(window->isRunning());
    ASSERT_TRUE(settle(*window));
    ASSERT_EQ(window->calls.size(), 1u);
    QTest::keyClick(window.get(), Qt::Key_F5);
    EXPECT_FALSE(window->isRunning());
    QTest::keyClick(window.get(), Qt::Key_F5);
    EXPECT_TRUE(window->isRunning());
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(window->calls.size(), 2u);
    QTest::keyClick(window.get(), Qt::Key_F5);
    EXPECT_FALSE(window->isRunning());
}

TEST_F(GridTools, TheNewControlsComeAfterTheDesignsInTabOrderAndCoverNothing) {
    window->show();
    QWidget* last = button("cmdExportHTM");
    QWidget* next = last->nextInFocusChain();
    while (next && next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
    EXPECT_EQ(next, filterField());
    next = filterField()->nextInFocusChain();
    while (next && next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
    EXPECT_EQ(next, control<QComboBox>("cmbLamps"));

    for (QSize size : {QSize(607, 234), QSize(1000, 700), QSize(400, 200)}) {
        window->resize(size);
        const QRect bar = control<QWidget>("filterBar")->geometry();
        EXPECT_TRUE(QRect(QPoint(0, 0), size).contains(bar)) << size.width();
        auto* website = label("website");
        const QRect link(
            website->pos(),
            QSize(website->fontMetrics().horizontalAdvance(website->text()), website->height()));
        EXPECT_FALSE(bar.intersects(link)) << size.width();
        EXPECT_EQ(bar.top(), website->y());
        for (const char* name : {"Results", "sizeGrip", "txtComputer", "cmdSwitch", "cmdExport",
                                 "cmdExportHTM", "cmbFunction", "lblTime"})
            EXPECT_FALSE(bar.intersects(control<QWidget>(name)->geometry())) << name;
        // Where room is short the count gives way, and stays so at the same size.
        const bool counted = label("lblRows")->isVisible();
        EXPECT_EQ(counted, size.width() >= 607) << size.width();
        window->Form_Resize();
        EXPECT_EQ(label("lblRows")->isVisible(), counted) << size.width();
    }
}

}  // namespace
}  // namespace tavo::testing

namespace tavo::testing {
namespace {

// A layout kept for one computer meets the columns of several: the Computer
// column must stay first and Error last, not both be pushed to the end.
TEST(ColumnLayout, ColumnsTheLayoutDoesNotKnowStayBesideTheirNeighbours) {
    QStandardItemModel model(0, 4);
    model.setHorizontalHeaderLabels({"Computer", "Name", "State", "Error"});
    QHeaderView header(Qt::Horizontal);
    header.setModel(&model);
    applyLayout(header, ColumnArrangement{{"State", "Name"}, {"Name"}});
    QStringList visual;
    for (int v = 0; v < header.count(); ++v)
        visual << model.headerData(header.logicalIndex(v), Qt::Horizontal).toString();
    EXPECT_EQ(visual, QStringList({"Computer", "State", "Name", "Error"}));
    EXPECT_TRUE(header.isSectionHidden(1));
}

}  // namespace
}  // namespace tavo::testing
