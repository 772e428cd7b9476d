#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <type_traits>
#include <utility>

#include "support/background.h"
#include "support/cancellation.h"

// The one deadline helper of the program. Calls that can block on the
// outside world (statvfs of a hung network mount, a process in
// uninterruptible sleep, CUPS, D-Bus, a name lookup, a remote host) run on a
// worker thread of the background owner; the caller waits only until its
// deadline or until its pass is stopped (the thread's stop token), whichever
// comes first. A call that misses it keeps running on its worker and its
// result is dropped. Calls that can hang inside the kernel for good (a
// stuck filesystem) do not come here: they go to the helper process
// (support/kernel_helper.h), since no thread of ours may outlive the program.
//
// A call may name the resource it waits on. While an earlier call on that
// resource is still out, a new one is not started and gives nothing at
// once: another thread would only hang beside the first.
namespace tavo {

namespace deadline {
// Marks `resource` as having a call out; false when one already is.
bool tryBegin(const std::string& resource);
// The call on `resource` has returned.
void end(const std::string& resource);
// True while a call on `resource` is out.
bool busy(const std::string& resource);
}  // namespace deadline

template <class T>
class Pending {
  public:
    Pending() = default;

    // The value once the call has returned, waiting no later than `until`
    // and no longer than this thread's pass runs. Nothing when the deadline
    // passed, the pass was stopped, the call was not started (its resource
    // was busy) or it threw (the exception is rethrown when `rethrow` is set).
    std::optional<T> waitUntil(std::chrono::steady_clock::time_point until, bool rethrow = false) {
        if (!state_) return std::nullopt;
        std::unique_lock lock(state_->mutex);
        std::stop_token stop = cycle::currentStopToken();
        if (!state_->done.wait_until(lock, stop, until, [&] { return state_->finished; }))
            return std::nullopt;
        if (state_->error) {
            if (rethrow) std::rethrow_exception(state_->error);
            return std::nullopt;
        }
        return std::move(state_->value);
    }

    std::optional<T> waitFor(std::chrono::milliseconds timeout, bool rethrow = false) {
        return waitUntil(std::chrono::steady_clock::now() + timeout, rethrow);
    }

    // True once the call has returned (or thrown), or when it never started.
    bool finished() const {
        if (!state_) return true;
        std::lock_guard lock(state_->mutex);
        return state_->finished;
    }

  private:
    template <class F>
    friend auto startOnWorker(std::string resource, F&& f)
        -> Pending<std::invoke_result_t<std::decay_t<F>>>;

    struct State {
        std::mutex mutex;
        std::condition_variable_any done;
        bool finished = false;
        std::optional<T> value;
        std::exception_ptr error;
    };
    std::shared_ptr<State> state_;
};

// Starts `f` on a worker thread of the background owner. `f` is moved onto the worker, so
// whatever it captures must be owned by it (capture by value or shared_ptr).
// With a `resource` name, nothing starts while a call on it is still out.
template <class F>
auto startOnWorker(std::string resource, F&& f) -> Pending<std::invoke_result_t<std::decay_t<F>>> {
    using T = std::invoke_result_t<std::decay_t<F>>;
    static_assert(!std::is_void_v<T>, "a call with a deadline must return its value");
    Pending<T> pending;
    if (!resource.empty() && !deadline::tryBegin(resource)) return pending;
    pending.state_ = std::make_shared<typename Pending<T>::State>();
    background::start([state = pending.state_, fn = std::forward<F>(f),
                       resource = std::move(resource)](std::stop_token) mutable {
        std::optional<T> value;
        std::exception_ptr error;
        try {
            value.emplace(fn());
        } catch (...) {
            error = std::current_exception();
        }
        if (!resource.empty()) deadline::end(resource);
        std::lock_guard lock(state->mutex);
        state->value = std::move(value);
        state->error = error;
        state->finished = true;
        state->done.notify_all();
    });
    return pending;
}

template <class F>
auto startOnWorker(F&& f) -> Pending<std::invoke_result_t<std::decay_t<F>>> {
    return startOnWorker(std::string(), std::forward<F>(f));
}

// Runs `f` with a deadline: its value, or nothing when it did not return in
// time, its pass was stopped, or it threw.
template <class F>
auto callWithDeadline(std::chrono::milliseconds limit, F&& f)
    -> std::optional<std::invoke_result_t<std::decay_t<F>>> {
    return startOnWorker(std::forward<F>(f)).waitFor(limit);
}

// The same for a call that waits on a named resource.
template <class F>
auto callWithDeadline(std::chrono::milliseconds limit, std::string resource, F&& f)
    -> std::optional<std::invoke_result_t<std::decay_t<F>>> {
    return startOnWorker(std::move(resource), std::forward<F>(f)).waitFor(limit);
}

}  // namespace tavo
