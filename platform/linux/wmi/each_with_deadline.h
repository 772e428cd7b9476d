#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/linux/wmi/deadline.h"
#include "support/cancellation.h"

namespace tavo::linuxwmi {

// Runs `read(i)` for i = 0 .. count-1, one after another on a worker thread,
// and gives each call its own time `each`: a call that misses it is left to
// finish on its own thread (its result is dropped) and a fresh worker goes on
// with the next index, so one blocked read costs only its own value. Nothing
// is started after `until` or once this thread's pass is stopped; the values
// not read by then stay empty. Reads that can hang in the kernel do not come
// here but go to the helper process (support/kernel_helper.h).
// `read` is copied onto each worker, so what it captures must be owned by it.
template <class T, class Read>
std::vector<std::optional<T>> readEachWithDeadline(std::size_t count, Read read,
                                                   std::chrono::milliseconds each,
                                                   std::chrono::steady_clock::time_point until) {
    using Clock = std::chrono::steady_clock;
    struct State {
        std::mutex mutex;
        std::condition_variable_any changed;
        std::vector<std::optional<T>> values;
        std::size_t next = 0;  // the next index to claim
        std::size_t count = 0;
        unsigned active = 0;          // the worker allowed to go on; others stop
        bool busy = false;            // the active worker is inside a read
        Clock::time_point started{};  // when that read began
        bool finished = false;
        std::uint64_t version = 0;  // counts the changes the caller is told of
    };
    auto state = std::make_shared<State>();
    state->values.resize(count);
    state->count = count;
    if (count == 0) return {};

    auto launch = [&state, &read](unsigned id) {
        startOnWorker([state, read, id]() mutable {
            for (;;) {
                std::size_t i;
                {
                    std::lock_guard lock(state->mutex);
                    if (state->active != id) return false;
                    if (state->next >= state->count) {
                        state->finished = true;
                        ++state->version;
                        state->changed.notify_all();
                        return true;
                    }
                    i = state->next++;
                    state->busy = true;
                    state->started = Clock::now();
                    ++state->version;
                    state->changed.notify_all();  // the caller times this read
                }
                std::optional<T> value;
                try {
                    value = read(i);
                } catch (...) {
                    // No value, like a read that failed.
                }
                std::lock_guard lock(state->mutex);
                if (state->active != id) return false;  // abandoned meanwhile
                state->values[i] = std::move(value);
                state->busy = false;
                ++state->version;
                state->changed.notify_all();
            }
        });
    };

    std::unique_lock lock(state->mutex);
    const std::stop_token stop = cycle::currentStopToken();
    launch(state->active);
    while (!state->finished) {
        const auto now = Clock::now();
        if (now >= until || stop.stop_requested()) break;
        if (state->busy && now - state->started >= each) {
            // Stuck in this read: leave it and go on with the next index.
            state->busy = false;
            ++state->active;
            launch(state->active);
            continue;
        }
        const auto wake = state->busy ? std::min(until, state->started + each) : until;
        const std::uint64_t seen = state->version;
        state->changed.wait_until(lock, stop, wake, [&] { return state->version != seen; });
    }
    ++state->active;  // whatever still runs stops at its next step
    return std::move(state->values);
}

}  // namespace tavo::linuxwmi
