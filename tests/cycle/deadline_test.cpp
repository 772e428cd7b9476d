#include "cycle/deadline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>

namespace tavo {
namespace {

using namespace std::chrono_literals;

// A call that stands in for statvfs on a hung mount: it waits until let go.
struct Hang {
    std::shared_ptr<std::promise<void>> release = std::make_shared<std::promise<void>>();
    std::shared_future<void> gate = release->get_future().share();
    auto call(int value = 1) {
        return [gate = gate, value] {
            gate.wait();
            return value;
        };
    }
    // Lets the worker end before the test program does.
    ~Hang() { release->set_value(); }
};

TEST(Deadline, ReturnsTheValueOfACallInTime) {
    auto v = callWithDeadline(2000ms, [] { return std::string("ok"); });
    ASSERT_TRUE(v);
    EXPECT_EQ(*v, "ok");
}

TEST(Deadline, AHungCallLeavesTheValueEmptyAndReturnsOnTime) {
    Hang hang;
    const auto start = std::chrono::steady_clock::now();
    auto v = callWithDeadline(100ms, hang.call());
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(v);
    EXPECT_GE(took, 100ms);
    EXPECT_LT(took, 1000ms);
}

TEST(Deadline, AThrowingCallGivesNothingOrItsError) {
    EXPECT_FALSE(callWithDeadline(1000ms, []() -> int { throw std::runtime_error("boom"); }));
    auto p = startOnWorker([]() -> int { throw std::runtime_error("boom"); });
    EXPECT_THROW(p.waitFor(1000ms, true), std::runtime_error);
}

TEST(Deadline, StoppingThePassEndsTheWaitLongBeforeTheDeadline) {
    Hang hang;
    std::stop_source stop;
    std::promise<std::chrono::steady_clock::duration> took;
    std::thread pass([&] {
        cycle::StopScope scope(stop.get_token());
        const auto start = std::chrono::steady_clock::now();
        auto v = callWithDeadline(30s, hang.call());
        took.set_value(std::chrono::steady_clock::now() - start);
        EXPECT_FALSE(v);
    });
    std::this_thread::sleep_for(50ms);
    stop.request_stop();
    auto f = took.get_future();
    ASSERT_EQ(f.wait_for(5s), std::future_status::ready) << "STOP did not reach the wait";
    EXPECT_LT(f.get(), 1s);
    pass.join();
}

TEST(Deadline, AResourceStillStuckIsNotCalledAgainUntilItReturns) {
    Hang hang;
    std::atomic<int> calls{0};
    auto counted = [&calls, gate = hang.gate] {
        ++calls;
        gate.wait();
        return 1;
    };
    EXPECT_FALSE(callWithDeadline(50ms, "mount /mnt/hung", counted));
    EXPECT_TRUE(deadline::busy("mount /mnt/hung"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(callWithDeadline(5s, "mount /mnt/hung", counted));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "a busy resource costs no wait";
    EXPECT_EQ(calls.load(), 1);
    // Another resource is not held up by it.
    EXPECT_EQ(callWithDeadline(5s, "mount /mnt/other", [] { return 2; }), 2);

    hang.release->set_value();
    hang.release = std::make_shared<std::promise<void>>();  // for the destructor
    for (int i = 0; i < 500 && deadline::busy("mount /mnt/hung"); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(deadline::busy("mount /mnt/hung"));
    EXPECT_EQ(callWithDeadline(5s, "mount /mnt/hung", [] { return 3; }), 3);
}

}  // namespace
}  // namespace tavo
