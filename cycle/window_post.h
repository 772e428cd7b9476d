#pragma once

#include <functional>
#include <mutex>
#include <utility>

// How a pass on a worker reaches the window's thread. The window hands in a
// function that queues work onto its own thread and closes the post before
// it goes away; a worker that finishes later finds the post closed and its
// news is dropped, so nothing it sends can reach a window that is gone.
namespace tavo::cycle {

class WindowPost {
  public:
    using Queue = std::function<void(std::function<void()>)>;
    explicit WindowPost(Queue queue) : queue_(std::move(queue)) {}

    // Queues `work` for the window's thread; false once the post is closed.
    bool post(std::function<void()> work) {
        std::lock_guard lock(mutex_);
        if (!queue_) return false;
        queue_(std::move(work));
        return true;
    }

    // After this returns no further work is queued.
    void close() {
        std::lock_guard lock(mutex_);
        queue_ = nullptr;
    }

  private:
    std::mutex mutex_;
    Queue queue_;
};

}  // namespace tavo::cycle
