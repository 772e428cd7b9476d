// Several computers in one report: the target text, the rounds that ask
// them (the bound, stragglers kept as old) and their rows taken in together.
#include <gtest/gtest.h>

#include "cycle/computer_list.h"
#include "cycle/many_computers.h"

namespace tavo::cycle {
namespace {

using List = std::vector<std::string>;

TEST(ComputerList, SplitsAtCommasAndSpacesKeepingEachTargetWhole) {
    const struct {
        const char* text;
        List want;
    } cases[] = {
        {"web1", {"web1"}},
        {"web1, web2,web3  web4\tweb5", {"web1", "web2", "web3", "web4", "web5"}},
        {" ,, ", {}},
        // Ports, users, schemes and IPv6 literals hold neither separator.
        {"ssh://root@127.0.0.1:45927,[::1]:2222 winrm://DOM\\u@h:5985",
         {"ssh://root@127.0.0.1:45927", "[::1]:2222", "winrm://DOM\\u@h:5985"}},
    };
    for (const auto& c : cases) EXPECT_EQ(splitTargets(c.text), c.want) << c.text;
    EXPECT_EQ(joinTargets({"a", "b"}), "a, b");
    EXPECT_EQ(computersFromText("# web\n web1 \n\nweb2 # second\r\n#\n"), (List{"web1", "web2"}));
}

PassOutcome rowsOf(std::initializer_list<const char*> names) {
    PassOutcome out;
    out.grid = std::make_unique<grid::Grid>();
    out.grid->columnsAdd("Name");
    out.grid->columnsAdd("State");
    for (const char* n : names) out.grid->itemsAdd(n, n, 1).setSubItems(1, "Running");
    return out;
}

std::vector<std::string> column(const grid::Grid& g, int c) {
    std::vector<std::string> out;
    for (int i = 1; i <= g.itemsCount(); ++i) out.emplace_back(g.item(i).cell(c));
    return out;
}

TEST(ComputerRounds, AsksAtMostTheBoundAndKeepsAStragglersRowsAsOld) {
    ComputerRounds rounds({"a", "b", "c"}, 2);
    EXPECT_EQ(rounds.beginRound(), (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(rounds.passEnded(1, rowsOf({"b1", "b2"})), (std::vector<std::size_t>{2}));
    EXPECT_FALSE(rounds.roundEnded());
    EXPECT_TRUE(rounds.passEnded(2, rowsOf({"c1"})).empty());
    PassOutcome failed;
    failed.failure = Error(0x800706BA, "The RPC server is unavailable");
    rounds.passEnded(0, std::move(failed));
    EXPECT_TRUE(rounds.roundEnded());
    EXPECT_EQ(rounds.answered(), 2u);

    grid::Grid first;
    rounds.snapshot().combineInto(first);
    ASSERT_EQ(first.columnsCount(), 4);
    EXPECT_EQ(first.column(1).Text, "Computer");
    EXPECT_EQ(first.column(4).Text, "Error");
    // In the order asked, whatever order they answered in.
    EXPECT_EQ(column(first, 0), (List{"a", "b", "b", "c"}));
    EXPECT_EQ(first.item(1).SmallIcon(), 3);
    EXPECT_NE(first.item(1).cell(3).find("RPC server"), std::string_view::npos);
    for (std::size_t r = 0; r < 4; ++r) EXPECT_EQ(first.rowMarks(r), 0) << r;
    // Keys carry the computer, so the same row name on two computers stays two rows.
    EXPECT_NE(first.item(2).Key(), first.item(4).Key());

    // Second round: c does not come back before the next tick; a and b do.
    EXPECT_EQ(rounds.beginRound(), (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(rounds.passEnded(0, rowsOf({"a1"})), (std::vector<std::size_t>{2}));
    rounds.passEnded(1, rowsOf({"b1"}));
    EXPECT_FALSE(rounds.roundEnded());  // c is still out
    // Third tick: c is still busy, so it is not asked twice, and its pass
    // still holds one of the two places; its rows are old.
    EXPECT_EQ(rounds.beginRound(), (std::vector<std::size_t>{0}));
    EXPECT_EQ(rounds.passEnded(0, rowsOf({"a1"})), (std::vector<std::size_t>{1}));
    rounds.passEnded(1, rowsOf({"b1"}));
    grid::Grid third;
    rounds.snapshot().combineInto(third);
    EXPECT_EQ(column(third, 0), (List{"a", "b", "c"}));
    // The old rows carry the mark and say so in a cell every export writes.
    EXPECT_EQ(third.rowMarks(2), grid::kRowOld);
    EXPECT_EQ(third.rowMarks(0), 0);
    EXPECT_EQ(third.rowMarks(1), 0);
    EXPECT_EQ(third.item(3).cell(third.columnsCount() - 1), kOldRowText);
    EXPECT_TRUE(third.item(1).cell(third.columnsCount() - 1).empty());
    EXPECT_EQ(rounds.answered(), 2u);
    EXPECT_EQ(rounds.old(), 1u);
    EXPECT_TRUE(rounds.roundEnded());  // the round of those asked in it

    // A cancelled pass brings nothing: c keeps the rows it had.
    PassOutcome cancelled;
    cancelled.cancelled = true;
    rounds.passEnded(2, std::move(cancelled));
    grid::Grid fourth;
    rounds.snapshot().combineInto(fourth);
    EXPECT_EQ(column(fourth, 1), (List{"a1", "b1", "c1"}));
    EXPECT_EQ(rounds.running(), 0u);
}

}  // namespace
}  // namespace tavo::cycle
