// The filter between the results model and the view: which rows it keeps,
// the counts, and that it holds across new passes, sorts and column changes.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <random>
#include <string>

#include "app/results_model.h"
#include "app/row_filter_model.h"
#include "grid/sorting.h"

using tavo::grid::Grid;

namespace {

struct RowFilter : ::testing::Test {
    Grid grid;
    ResultsModel model{grid, nullptr};
    RowFilterModel filter{model};
    QAbstractItemModelTester tester{&filter, QAbstractItemModelTester::FailureReportingMode::Fatal};

    void SetUp() override {
        grid.columnsAdd("Name");
        grid.columnsAdd("State");
        grid.columnsAdd("Path");
    }
    void add(const char* name, const char* state, const char* path, int lamp) {
        auto& row = grid.itemsAdd("", name, lamp);
        row.setSubItems(1, state);
        row.setSubItems(2, path);
    }
    void services() {
        grid.beginUpdate();
        add("sshd", "Running", "/usr/sbin/sshd", 1);
        add("cups", "Stopped", "/usr/sbin/cupsd", 3);
        add("Avahi", "Running", "/usr/sbin/avahi-daemon", 2);
        add("Über Dienst", "Degraded", "/opt/ÜBER/bin", 2);
        grid.endUpdate();
    }
    QStringList shown(int column = 0) const {
        QStringList out;
        for (int r = 0; r < filter.rowCount(); ++r)
            out << filter.index(r, column).data().toString();
        return out;
    }
};

}  // namespace

TEST_F(RowFilter, TextMatchesAnyShownCellIgnoringCase) {
    services();
    EXPECT_EQ(filter.rowCount(), 4);
    QSignalSpy counts(&filter, &RowFilterModel::countsChanged);

    filter.setFilterText("RUN");
    EXPECT_EQ(shown(), (QStringList{"sshd", "Avahi"}));
    ASSERT_FALSE(counts.isEmpty());
    EXPECT_EQ(counts.last(), (QList<QVariant>{2, 4}));

    filter.setFilterText("usr/SBIN/c");  // inside the path
    EXPECT_EQ(shown(), QStringList{"cups"});
    filter.setFilterText("über");  // letters beyond ASCII fold too
    EXPECT_EQ(shown(), QStringList{"Über Dienst"});
    filter.setFilterText("/opt/über");
    EXPECT_EQ(shown(), QStringList{"Über Dienst"});
    // A text only found across two cells matches nothing.
    filter.setFilterText("sshdRunning");
    EXPECT_TRUE(shown().isEmpty());
    EXPECT_EQ(counts.last(), (QList<QVariant>{0, 4}));
    filter.setFilterText("");
    EXPECT_EQ(filter.rowCount(), 4);
    EXPECT_EQ(filter.index(1, 2).data().toString(), "/usr/sbin/cupsd");
}

TEST_F(RowFilter, LampChoiceCombinesWithTheText) {
    services();
    grid.itemsAdd("", "no lamp");
    filter.setLampChoice(LampChoice::YellowAndRed);
    EXPECT_EQ(shown(), (QStringList{"cups", "Avahi", "Über Dienst"}));
    filter.setLampChoice(LampChoice::RedOnly);
    EXPECT_EQ(shown(), QStringList{"cups"});
    filter.setFilterText("running");
    EXPECT_TRUE(shown().isEmpty());
    filter.setLampChoice(LampChoice::YellowAndRed);
    EXPECT_EQ(shown(), QStringList{"Avahi"});
    filter.setLampChoice(LampChoice::All);
    EXPECT_EQ(shown(), (QStringList{"sshd", "Avahi"}));
    EXPECT_EQ(filter.totalRows(), 5);
}

TEST_F(RowFilter, HiddenColumnsDoNotCount) {
    services();
    filter.setFilterText("sbin");
    EXPECT_EQ(filter.rowCount(), 3);
    filter.setColumnHidden(2, true);
    EXPECT_EQ(filter.rowCount(), 0);
    // A hit in a hidden column does not hide a later hit in a shown one.
    filter.setColumnHidden(2, false);
    filter.setColumnHidden(0, true);
    filter.setFilterText("s");  // in sshd (hidden) and in /usr/sbin (shown)
    EXPECT_EQ(shown(), (QStringList{"sshd", "cups", "Avahi"}));
    filter.setHiddenColumns({1, 0, 1});
    filter.setFilterText("d");  // now only State counts: Stopped, Degraded
    EXPECT_EQ(shown(), (QStringList{"cups", "Über Dienst"}));
}

TEST_F(RowFilter, TheFilterHoldsAcrossANewPassAndASort) {
    services();
    filter.setFilterText("running");
    // A new pass: the rows are replaced in one batch.
    grid.beginUpdate();
    grid.itemsClear();
    add("ntpd", "Running", "/usr/sbin/ntpd", 1);
    add("cron", "Stopped", "/usr/sbin/cron", 3);
    add("atd", "Running", "/usr/sbin/atd", 1);
    grid.endUpdate();
    EXPECT_EQ(filter.filterText(), "running");
    EXPECT_EQ(shown(), (QStringList{"ntpd", "atd"}));

    std::int32_t direction = 0;
    tavo::grid::columnClick(grid, 0, direction);  // descending by name
    EXPECT_EQ(shown(), (QStringList{"ntpd", "atd"}));
    tavo::grid::columnClick(grid, 0, direction);
    EXPECT_EQ(shown(), (QStringList{"atd", "ntpd"}));

    // Rows added and changed one by one, outside a batch, follow too.
    add("rsyslogd", "Running", "/usr/sbin/rsyslogd", 1);
    EXPECT_EQ(shown(), (QStringList{"atd", "ntpd", "rsyslogd"}));
    grid.item(2).setSubItems(1, "Running");  // cron starts
    EXPECT_EQ(shown(), (QStringList{"atd", "cron", "ntpd", "rsyslogd"}));
    grid.item(1).setSubItems(1, "Stopped");  // ntpd stops
    EXPECT_EQ(shown(), (QStringList{"atd", "cron", "rsyslogd"}));
    EXPECT_EQ(filter.totalRows(), 4);
}

TEST_F(RowFilter, SelectionStaysOnTheRowsThatRemain) {
    services();
    QItemSelectionModel selection(&filter);
    selection.select(filter.index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection.setCurrentIndex(filter.index(2, 0), QItemSelectionModel::NoUpdate);
    filter.setFilterText("avahi");
    ASSERT_EQ(filter.rowCount(), 1);
    EXPECT_TRUE(selection.isRowSelected(0, {}));
    EXPECT_EQ(selection.currentIndex().row(), 0);
    filter.setFilterText("cups");
    EXPECT_FALSE(selection.hasSelection());
    filter.setFilterText("");
    EXPECT_EQ(filter.gridRow(1), 1u);
}

// Narrowing and widening search only part of the rows; whatever the order
// of the texts typed, the rows shown are those a fresh search finds.
TEST_F(RowFilter, TypingAndErasingAgreeWithAFreshSearch) {
    std::mt19937 random(7);
    const char* words[] = {"alpha", "beta", "gamma", "delta", "Alpha Beta", "ALPHABET"};
    grid.beginUpdate();
    for (int i = 0; i < 300; ++i) {
        add(words[random() % 6], words[random() % 6], words[random() % 6],
            static_cast<int>(random() % 4));
    }
    grid.endUpdate();
    const auto fresh = [&](const QString& text) {
        QStringList out;
        for (int r = 1; r <= grid.itemsCount(); ++r) {
            const auto& item = grid.item(r);
            bool hit = false;
            for (int c = 0; c < 3; ++c) {
                if (filter.isColumnHidden(c)) continue;
                hit |= QString::fromStdString(std::string(item.cell(c)))
                           .contains(text, Qt::CaseInsensitive);
            }
            if (hit) out << QString::fromStdString(std::string(item.Text()));
        }
        return out;
    };
    const QString typed[] = {"a",   "al", "alp", "alph", "alpha",  "alpha ", "alpha b", "alpha",
                             "lph", "l",  "",    "bet",  "ALPHAB", "et",     "mm",      ""};
    for (const QString& text : typed) {
        filter.setFilterText(text);
        EXPECT_EQ(shown(), fresh(text)) << text.toStdString();
        // Columns hidden and shown one at a time, as the header menu does,
        // and several at once, as a saved layout does.
        for (int k = 0; k < 3; ++k) {
            const int c = static_cast<int>(random() % 3);
            filter.setColumnHidden(c, !filter.isColumnHidden(c));
            EXPECT_EQ(shown(), fresh(text)) << text.toStdString() << " column " << c;
        }
        filter.setHiddenColumns(
            {static_cast<std::uint8_t>(random() % 2), static_cast<std::uint8_t>(random() % 2), 0});
        EXPECT_EQ(shown(), fresh(text)) << text.toStdString() << " after a layout";
    }
}

TEST_F(RowFilter, RowsFoldedWhileIdleSearchTheSame) {
    services();
    const auto waitPrepared = [&] {
        QElapsedTimer clock;
        clock.start();
        while (filter.isPreparing() && clock.elapsed() < 5000) QCoreApplication::processEvents();
        return !filter.isPreparing();
    };
    filter.setPrepared(true);
    ASSERT_TRUE(waitPrepared());
    grid.item(1).setSubItems(1, "Restarting");  // changed after it was folded
    filter.setFilterText("restart");
    EXPECT_EQ(shown(), QStringList{"sshd"});

    // A new pass while the field has the focus folds the new rows.
    grid.beginUpdate();
    grid.itemsClear();
    add("ntpd", "Restarting", "/usr/sbin/ntpd", 1);
    grid.endUpdate();
    EXPECT_TRUE(filter.isPreparing());
    ASSERT_TRUE(waitPrepared());
    filter.setFilterText("ntp");
    EXPECT_EQ(shown(), QStringList{"ntpd"});
    filter.setPrepared(false);
    EXPECT_FALSE(filter.isPreparing());
}
