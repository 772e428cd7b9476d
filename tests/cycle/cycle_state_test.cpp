// The cycle's states and its passes: which pass's results belong on screen.
#include <gtest/gtest.h>

#include "cycle/cycle_state.h"

namespace tavo::cycle {
namespace {

TEST(CycleState, RunTickPassAndStopWithNothingOut) {
    CycleState c;
    EXPECT_EQ(c.state(), State::Stopped);
    EXPECT_FALSE(c.beginPass()) << "no pass while stopped";
    c.start();
    EXPECT_EQ(c.state(), State::Running);
    auto p = c.beginPass();
    ASSERT_TRUE(p);
    EXPECT_TRUE(c.passOut());
    EXPECT_TRUE(c.isCurrentPass(p->id));
    EXPECT_FALSE(c.beginPass()) << "a tick during a pass is skipped";
    EXPECT_TRUE(c.finishPass(p->id));
    EXPECT_FALSE(c.passOut());
    auto q = c.beginPass();
    ASSERT_TRUE(q);
    EXPECT_NE(q->id, p->id);
    EXPECT_TRUE(c.finishPass(q->id));
    c.stop();
    EXPECT_EQ(c.state(), State::Stopped);
    c.stop();
    EXPECT_EQ(c.state(), State::Stopped);
}

TEST(CycleState, StopDuringAPassCancelsItAndDropsItsResults) {
    CycleState c;
    c.start();
    auto p = c.beginPass();
    ASSERT_TRUE(p);
    c.stop();
    EXPECT_EQ(c.state(), State::Stopping);
    EXPECT_TRUE(p->token.stop_requested());
    EXPECT_FALSE(c.passOut());
    EXPECT_FALSE(c.finishPass(p->id));
    EXPECT_EQ(c.state(), State::Stopped);
}

TEST(CycleState, RunWhileAStoppedPassIsStuckStartsAtOnceAndTheOldPassStaysDropped) {
    CycleState c;
    c.start();
    auto stuck = c.beginPass();
    c.stop();
    c.start();
    EXPECT_EQ(c.state(), State::Running);
    auto fresh = c.beginPass();
    ASSERT_TRUE(fresh) << "the new cycle does not wait for the stuck pass";
    EXPECT_FALSE(fresh->token.stop_requested());
    EXPECT_FALSE(c.finishPass(stuck->id));
    EXPECT_EQ(c.state(), State::Running) << "the late pass does not stop the new cycle";
    EXPECT_TRUE(c.isCurrentPass(fresh->id));
    EXPECT_TRUE(c.finishPass(fresh->id));
}

TEST(CycleState, RunAgainWhilePassOutAbandonsIt) {
    CycleState c;
    c.start();
    auto first = c.beginPass();
    c.start();  // RUN from a state that already runs: the pass out is left behind
    EXPECT_TRUE(first->token.stop_requested());
    auto second = c.beginPass();
    ASSERT_TRUE(second);
    EXPECT_FALSE(c.finishPass(first->id));
    EXPECT_TRUE(c.finishPass(second->id));
}

}  // namespace
}  // namespace tavo::cycle
