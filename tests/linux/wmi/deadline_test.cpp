#include "platform/linux/wmi/deadline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <string>

namespace tavo::linuxwmi {
namespace {

using namespace std::chrono_literals;

TEST(Deadline, ReturnsTheValueOfACallInTime) {
    auto v = callWithDeadline(2000ms, [] { return std::string("ok"); });
    ASSERT_TRUE(v);
    EXPECT_EQ(*v, "ok");
}

TEST(Deadline, AHungCallLeavesTheValueEmptyAndReturnsOnTime) {
    auto release = std::make_shared<std::promise<void>>();
    std::shared_future<void> gate = release->get_future().share();
    const auto start = std::chrono::steady_clock::now();
    auto v = callWithDeadline(100ms, [gate] {
        gate.wait();  // stands in for statvfs on a hung mount
        return 1;
    });
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(v);
    EXPECT_GE(took, 100ms);
    EXPECT_LT(took, 1000ms);
    release->set_value();  // let the worker end before the test program does
}

TEST(Deadline, AThrowingCallGivesNothingOrItsError) {
    EXPECT_FALSE(callWithDeadline(1000ms, []() -> int { throw std::runtime_error("boom"); }));
    auto p = startOnWorker([]() -> int { throw std::runtime_error("boom"); });
    EXPECT_THROW(p.waitFor(1000ms, true), std::runtime_error);
}

}  // namespace
}  // namespace tavo::linuxwmi
