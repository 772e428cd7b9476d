#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

// Calls that can block on the outside world (statvfs of a hung network
// mount, a process in uninterruptible sleep, CUPS, D-Bus) run on a worker
// thread; the caller waits only until its deadline. A call that misses it
// keeps running on its own detached thread and its result is dropped: a
// blocked system call cannot be cancelled, but the pass goes on.
namespace tavo::linuxwmi {

template <class T>
class Pending {
  public:
    Pending() = default;

    // The value once the call has returned, waiting no later than `until`.
    // Nothing when the deadline passed or the call threw (the exception is
    // rethrown when `rethrow` is set).
    std::optional<T> waitUntil(std::chrono::steady_clock::time_point until, bool rethrow = false) {
        if (!state_) return std::nullopt;
        std::unique_lock lock(state_->mutex);
        if (!state_->done.wait_until(lock, until, [&] { return state_->finished; })) {
            return std::nullopt;
        }
        if (state_->error) {
            if (rethrow) std::rethrow_exception(state_->error);
            return std::nullopt;
        }
        return std::move(state_->value);
    }

    std::optional<T> waitFor(std::chrono::milliseconds timeout, bool rethrow = false) {
        return waitUntil(std::chrono::steady_clock::now() + timeout, rethrow);
    }

    // True once the call has returned (or thrown).
    bool finished() const {
        if (!state_) return true;
        std::lock_guard lock(state_->mutex);
        return state_->finished;
    }

  private:
    template <class F>
    friend auto startOnWorker(F&& f) -> Pending<std::invoke_result_t<std::decay_t<F>>>;

    struct State {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::optional<T> value;
        std::exception_ptr error;
    };
    std::shared_ptr<State> state_;
};

// Starts `f` on a detached worker thread. `f` is moved onto the worker, so
// whatever it captures must be owned by it (capture by value or shared_ptr).
template <class F>
auto startOnWorker(F&& f) -> Pending<std::invoke_result_t<std::decay_t<F>>> {
    using T = std::invoke_result_t<std::decay_t<F>>;
    static_assert(!std::is_void_v<T>, "a call with a deadline must return its value");
    Pending<T> pending;
    pending.state_ = std::make_shared<typename Pending<T>::State>();
    std::thread([state = pending.state_, fn = std::forward<F>(f)]() mutable {
        std::optional<T> value;
        std::exception_ptr error;
        try {
            value.emplace(fn());
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(state->mutex);
        state->value = std::move(value);
        state->error = error;
        state->finished = true;
        state->done.notify_all();
    }).detach();
    return pending;
}

// Runs `f` with a deadline: its value, or nothing when it did not return in
// time or threw.
template <class F>
auto callWithDeadline(std::chrono::milliseconds deadline, F&& f)
    -> std::optional<std::invoke_result_t<std::decay_t<F>>> {
    return startOnWorker(std::forward<F>(f)).waitFor(deadline);
}

}  // namespace tavo::linuxwmi
