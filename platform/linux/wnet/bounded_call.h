#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace tavo::linuxwnet {

// Runs `work` on a worker thread and waits at most `limit` for its result.
// The network libraries block in name lookups and D-Bus calls that no option
// of theirs fully bounds; a call that misses its time is left to finish on
// its own (it owns everything it touches) and counts as no answer.
template <class T>
std::optional<T> runBounded(std::chrono::milliseconds limit, std::function<T()> work) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<T> value;
        bool finished = false;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, work = std::move(work)] {
        std::optional<T> value;
        try {
            value = work();
        } catch (...) {
            // No answer, the same as a call that timed out.
        }
        std::lock_guard lock(shared->mutex);
        shared->value = std::move(value);
        shared->finished = true;
        shared->done.notify_all();
    }).detach();

    std::unique_lock lock(shared->mutex);
    if (!shared->done.wait_for(lock, limit, [&] { return shared->finished; })) return std::nullopt;
    return std::move(shared->value);
}

}  // namespace tavo::linuxwnet
